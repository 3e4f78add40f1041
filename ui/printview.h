// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptpagelayout.h"

#include <QWidget>

#include <optional>

// The printed receipt as a widget: the receipt held in AppStore::receiptPrint under the
// header of CompanyStore::company, one point of paper per pixel, redrawn whenever
// either store or the print settings change. The drawing is the print job's: whether the
// receipt is voided and whether it was printed before (the 补打 mark) are read from the
// book when the view is made and when another receipt is loaded, not taken from the
// store's copy, which a void or its undoing does not reload. So is its code; where the
// receipt shown has none (the blank form, a receipt not stored yet), a sample code stands
// in for it, as the field names stand in for the blank form's values, so that its place
// can be set.
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
    void readReceipt();

    std::optional<PrintOptions> m_options;
    std::optional<Receipt> m_receipt;
    bool m_printedBefore = false;
    QString m_code;
};
