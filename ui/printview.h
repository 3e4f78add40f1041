// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptpagelayout.h"

#include <QWidget>

#include <optional>

// The printed receipt as a widget: the receipt held in AppStore::receiptPrint under the
// header of CompanyStore::company, one point of paper per pixel, redrawn whenever
// either store or the print settings change. The drawing is ReceiptPageLayout's, which
// the print job uses too. The 补打 mark is not shown: it depends on the moment of printing.
// Shown by 打印设置 beside its choices.
class PrintView : public QWidget
{
    Q_OBJECT

public:
    explicit PrintView(QWidget *parent = nullptr);

    // The page as it would be drawn now, at the paper size, with the saved print settings
    // or, once set, with `options` (the settings screen shows its unsaved choices so).
    ReceiptPageLayout pageLayout() const;
    void setOptions(const PrintOptions &options);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<PrintOptions> m_options;
};
