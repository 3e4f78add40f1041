#pragma once

#include <QImage>
#include <QString>

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
    // The page as an image at dpi dots per inch, for previews and the documentation: not a
    // print, so nothing is recorded. A null image when the size is not a page.
    static QImage renderReceiptImage(double width, double height, qreal dpi);
};
