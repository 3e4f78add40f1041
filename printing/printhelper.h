// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "printsettings.h"

#include <QImage>
#include <QString>
#include <QStringList>

// Prints the receipt held in AppStore::receiptPrint, under the header of
// CompanyStore::company, as one page of paper exactly as large as the receipt. Every
// call takes its own copy of both when it starts, so a later change of the stores does
// not reach a job already under way. Whether the receipt is voided is read from the book
// at that moment too, and a voided one carries the 作废 stamp. Called by the receipt list
// and the entry form.
class PrintHelper
{
public:
    PrintHelper() = delete;

    // Shows the print dialog for a page of width by height points without margins and,
    // unless the user cancels, prints it. Blocks until the job has been handed over; true
    // when it was, and then the print is written to the receipt's history. The dialog offers
    // the printer (or the file folder) used last.
    static bool printReceipt(double width, double height);
    // The same job sent to a PDF file without asking. True when the file was written; the
    // print is then in the receipt's history too.
    static bool printReceiptToFile(const QString &pdfPath, double width, double height);
    // The receipts of `ids`, read from the book, as one job of one page each in ascending
    // number order, after the print dialog; one history row per receipt. False when the
    // user cancels or a receipt cannot be read.
    static bool printReceipts(const QStringList &ids, double width, double height);
    static bool printReceiptsToFile(const QStringList &ids, const QString &pdfPath, double width,
                                    double height);
    // The print preview of AppStore::receiptPrint, from which the user may print: true
    // when that happened (and then the print is in the history).
    static bool previewReceipt(double width, double height);
    // The alignment test page (AlignmentPage) for `options` on the receipt paper, after
    // the print dialog; not a receipt, so nothing is recorded.
    static bool printAlignmentPage(const PrintOptions &options, double width, double height);
    static bool printAlignmentPageToFile(const PrintOptions &options, const QString &pdfPath,
                                         double width, double height);
    // The page as an image at dpi dots per inch, for previews and the documentation: not a
    // print, so nothing is recorded. A null image when the size is not a page.
    static QImage renderReceiptImage(double width, double height, qreal dpi);
};
