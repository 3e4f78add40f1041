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
    // With values only: "¥" printed right before the figures. The form's own ¥ stands at
    // a fixed place, and before a short amount the gap to the digits takes another digit.
    bool yuanSign = true;
    // With values only: the forms carry their numbers already (a bound book of numbered
    // forms, 收据本), so the number is left off; the full form still prints it.
    bool numberOnForm = false;
    // The code (二维码) on a stored receipt, which tells whether the book still holds the
    // receipt as it was printed (ReceiptProof). It stands where the form leaves room, left
    // of the table, and the user moves it where the paper has its own.
    bool receiptCode = true;
    // The top-left corner of the code's square, its quiet zone included, in millimetres
    // from the paper's top-left corner; the offsets move it with everything else.
    double codeX = 1.0;
    double codeY = 38.5;

    // The side of the code's square, and how far it may go: the whole square stays on the
    // 241 × 93 mm paper.
    static constexpr double codeSide = 22.0;
    static constexpr double maxCodeX = 241.0 - codeSide;
    static constexpr double maxCodeY = 93.0 - codeSide;

    // Out-of-range and non-finite offsets and code positions are brought inside their
    // range, in 0.1 mm steps (a position that is no number goes back to its default).
    PrintOptions normalized() const;
    // Whether pages printed so leave the receipt's number to the form.
    bool leavesNumberToForm() const
    {
        return content == Content::ValuesOnly && numberOnForm;
    }
    friend bool operator==(const PrintOptions &, const PrintOptions &) = default;
};

// The user's preferences for printing and for the entry form, each with its key and default
// here and nowhere else: the print options of 打印设置, the printer (or PDF folder) the print
// dialog used last, and the form's remembered choices. Kept in the preferences file under
// the key names older versions wrote, which stay as they are.
class PrintSettings : public QObject
{
    Q_OBJECT

public:
    // The form's remembered choices, the last value saved for each.
    enum class FormChoice { Paytype, Payee, Approve, Accountant };

    static PrintSettings &shared();

    // Read from the preferences file on every call: a test or a second window that wrote
    // it is seen at once.
    PrintOptions options() const;
    // Emits changed() when the stored options differ afterwards.
    void setOptions(const PrintOptions &options);

    // 收款方式, 收款人, 核准 and 会计 as last saved on the entry form; empty at first.
    QString formChoice(FormChoice choice) const;
    void setFormChoice(FormChoice choice, const QString &value);

    // The printer the print dialog printed on last; empty when that was a PDF file, whose
    // folder lastPrintFolder() then gives. Both empty before the first print.
    QString lastPrinter() const;
    QString lastPrintFolder() const;
    // A print went to `printer`, or to the PDF file `pdfPath` when it is not empty.
    void setLastTarget(const QString &printer, const QString &pdfPath);

Q_SIGNALS:
    // The print options changed (not the other preferences, which nothing draws from).
    void changed();

private:
    PrintSettings() = default;
};
