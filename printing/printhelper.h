#pragma once

#include <QImage>
#include <QString>

// Prints the receipt held in AppStore::receiptPrint, under the header of
// CompanyStore::company, as one page of paper exactly as large as the receipt. Every
// call takes its own copy of both when it starts, so a later change of the stores does
// not reach a job already under way. Called by the receipt list and the entry form.
class PrintHelper
{
public:
    PrintHelper() = delete;

    // Shows the print dialog for a page of width by height points without margins and,
    // unless the user cancels, prints it. Blocks until the job has been handed over; true
    // when it was. The dialog offers the printer (or the file folder) used last.
    static bool printReceipt(double width, double height);
    // The same job sent to a PDF file without asking. True when the file was written.
    static bool printReceiptToFile(const QString &pdfPath, double width, double height);
    // The page as an image at dpi dots per inch, for previews and the documentation.
    // A null image when the size is not a page.
    static QImage renderReceiptImage(double width, double height, qreal dpi);
};
