// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

// How receipts are put on paper, as the user set it on 打印设置. Kept in the preferences
// file; every print, the preview and the alignment test page read it at the moment they
// draw, so a change reaches the next page without a restart.
struct PrintOptions
{
    // What goes on the paper: the whole form, or only the values, for paper that has the
    // form printed on it already.
    enum class Content { FullReceipt, ValuesOnly };

    static constexpr double minOffset = -30.0;
    static constexpr double maxOffset = 30.0;
    static constexpr double offsetStep = 0.1;

    // Millimetres; positive moves the page's contents right and down. Printers feed
    // slightly off, and each one differently: this is how the user makes up for it.
    double offsetX = 0;
    double offsetY = 0;
    Content content = Content::FullReceipt;
    bool sideLabel = true;
    // A receipt printed before gets a small 补打 beside its number, so that a second copy
    // cannot pass for the original.
    bool reprintMark = false;
    bool fixedRemark = true;

    // Out-of-range and non-finite offsets are brought inside the range, in 0.1 mm steps.
    PrintOptions normalized() const;
    friend bool operator==(const PrintOptions &, const PrintOptions &) = default;
};

class PrintSettings : public QObject
{
    Q_OBJECT

public:
    static PrintSettings &shared();

    // Read from the preferences file on every call: a test or a second window that wrote
    // it is seen at once.
    PrintOptions options() const;
    void setOptions(const PrintOptions &options);

    // The form's remembered choices (收款方式, 收款人, 核准, 会计): the keys under which
    // the entry form keeps the last values it saved.
    static QString paytypeKey();
    static QString payeeKey();
    static QString approveKey();
    static QString accountantKey();

Q_SIGNALS:
    void changed();

private:
    PrintSettings() = default;
};
