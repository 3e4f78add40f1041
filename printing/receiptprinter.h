// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "printsettings.h"

#include <QString>
#include <QStringList>

#include <optional>

class QPrinter;

// Prints stored receipts and the alignment test page on a printer someone else has chosen
// and aimed (a print queue by name, or a PDF file): no dialog, no window, only a
// QGuiApplication. The command line prints through it, the window's print dialog through
// the same PrintJob underneath.
class ReceiptPrinter
{
public:
    ReceiptPrinter() = delete;

    // The receipt paper, 241 mm by 93 mm, in points (mm ÷ 25.4 × 72).
    static constexpr double paperWidth = 683.1496062992127;
    static constexpr double paperHeight = 263.6220472440945;
    // The paper as the messages name it.
    static QString paperName();

    // Prints the receipts of ids (read from the book) on an already set-up printer
    // (printerName or PDF file), one page each in ascending number order on receipt paper
    // 241 × 93 mm, with the saved PrintSettings unless options are given; records one print
    // per receipt in the history. False with the reason (Chinese) in *error: a receipt that
    // cannot be read, or whose amount cannot be, a file that cannot be written (nothing is
    // left of it). A printer without the receipt paper gets the pages fitted onto its own,
    // and *notice tells the user so (PrintJob::fittedNotice).
    static bool printReceipts(QPrinter &printer, const QStringList &ids, QString *error = nullptr,
                              std::optional<PrintOptions> options = std::nullopt,
                              QString *notice = nullptr);
    // The alignment test page (AlignmentPage) for options, under the header in the book.
    // Not a receipt: nothing is recorded.
    static bool printAlignmentPage(QPrinter &printer, const PrintOptions &options,
                                   QString *error = nullptr, QString *notice = nullptr);
    // AppStore::receiptPrint as the window's 打印 prints it, the blank form when the store
    // holds none; recorded like printReceipts.
    static bool printCurrentReceipt(QPrinter &printer, QString *error = nullptr,
                                    QString *notice = nullptr);
};
