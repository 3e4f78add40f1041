#include "printhelper.h"

#include "appstore.h"
#include "companystore.h"
#include "pdftextlayer.h"
#include "preferences.h"
#include "receiptactions.h"
#include "receiptpagelayout.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// One print job: what to print, copied from the stores when the job was asked for, and
// the paper it is laid out on.
struct PrintJob
{
    std::optional<Receipt> receipt;
    Company company;
    QSizeF paper;

    static PrintJob fromStores(double width, double height)
    {
        PrintJob job {AppStore::shared().receiptPrint(), CompanyStore::shared().company(),
                      QSizeF(width, height)};
        // Whether the receipt is voided is read from the book as the job starts, not taken
        // from the copy in the store, which was loaded before a void (or its undoing) and
        // is not reloaded by it: a voided receipt never goes out on paper unstamped,
        // whichever way it is printed.
        if (job.receipt)
            job.receipt->voidReason = ReceiptActions::voidReasonOf(job.receipt->id);
        return job;
    }

    // Called once the page is out. Recording cannot take the print back, so a failure only
    // leaves a warning: the receipt's history then lacks that print.
    void recordPrint() const
    {
        if (!receipt)
            return; // the blank form
        QString error;
        if (!ReceiptActions::recordPrint(receipt->id, &error))
            qWarning("Receipt No.%s was printed, but the print could not be recorded: %s",
                     qUtf8Printable(receipt->receiptNo), qUtf8Printable(error));
    }

    bool hasPaper() const
    {
        return std::isfinite(paper.width()) && std::isfinite(paper.height()) && paper.width() > 0
            && paper.height() > 0;
    }

    // No "." in it: the print dialog makes its default file name from the document
    // name and would take ".0000042" for an extension and drop the number.
    QString documentName() const { return receipt ? u"收据 "_s + receipt->receiptNo : u"收据"_s; }

    // The page in points, laid out once per drawing: the PDF's text layer is made from the
    // very texts that were drawn.
    ReceiptPageLayout pageLayout() const
    {
        return ReceiptPageLayout(QRectF(QPointF(0, 0), paper), receipt, company);
    }

    // Draws the page scaled to fit `target` (device coordinates) in both directions, from
    // its top-left corner. The painter draws vectors at the device's own resolution: the
    // page is never made a bitmap first, which would print coarse on a 241 mm sheet.
    void draw(QPainter &painter, const QRectF &target, const ReceiptPageLayout &layout) const
    {
        const qreal scale
            = std::min(target.width() / paper.width(), target.height() / paper.height());
        painter.translate(target.topLeft());
        painter.scale(scale, scale);
        layout.paint(painter);
    }

    // Paper of exactly the receipt's size, no margins, the painter's origin at the
    // paper's corner and one page. Called after the target is chosen, since switching a
    // QPrinter between PDF and a print queue replaces its engine.
    void preparePrinter(QPrinter &printer) const
    {
        printer.setDocName(documentName());
        printer.setCreator(QCoreApplication::applicationName());
        const QPageSize pageSize(paper, QPageSize::Point, u"收据 241 × 93 mm"_s,
                                 QPageSize::ExactMatch);
        printer.setPageLayout(
            QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(), QPageLayout::Point));
        printer.setFullPage(true);
        printer.setFromTo(1, 1);
    }

    // The one path both the dialog and the file take once the target is set.
    bool printOn(QPrinter &printer) const
    {
        const ReceiptPageLayout layout = pageLayout();
        QPainter painter;
        if (!painter.begin(&printer))
            return false;
        draw(painter, printer.paperRect(QPrinter::DevicePixel), layout);
        if (!painter.end())
            return false;
        if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
            correctMediaBox(printer.outputFileName());
            correctTextLayer(printer.outputFileName(), layout);
        }
        return true;
    }

    // Qt's PDF reads back wrong where its fonts share glyphs between characters or draw
    // alternates (see PdfTextLayer); a saved receipt must be found by its number and payer.
    static void correctTextLayer(const QString &path, const ReceiptPageLayout &layout)
    {
        QList<PdfTextLayer::Text> drawn;
        for (const ReceiptPageLayout::TextItem &text : layout.textItems())
            drawn.append({text.text, text.font});
        PdfTextLayer::rewriteFile(path, drawn);
    }

    // Qt keeps page sizes in whole points, so its PDF says 683 × 264 (93.13 mm) for the
    // 683.15 × 263.62 receipt. The page box is rewritten to the true size in text of the
    // same length, which keeps the file's cross-reference offsets valid; its lower edge
    // moves up, since the page is drawn from the top. A file not in the expected form
    // keeps Qt's box, a fraction of a millimetre off.
    void correctMediaBox(const QString &path) const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite))
            return;
        QByteArray pdf = file.readAll();
        const QSizeF rounded = QSizeF(QPageSize(paper, QPageSize::Point).sizePoints());
        const QByteArray written = "/MediaBox [0 0 " + QByteArray::number(rounded.width(), 'f')
            + ' ' + QByteArray::number(rounded.height(), 'f') + ']';
        const qsizetype at = pdf.indexOf(written);
        if (at < 0 || pdf.indexOf(written, at + 1) >= 0)
            return;
        QByteArray exact = "/MediaBox [0 "
            + QByteArray::number(rounded.height() - paper.height(), 'f', 4) + " "
            + QByteArray::number(paper.width(), 'f', 4) + ' '
            + QByteArray::number(rounded.height(), 'f', 0) + ']';
        if (exact.size() > written.size())
            return;
        exact.insert(exact.size() - 1, QByteArray(written.size() - exact.size(), ' '));
        pdf.replace(at, written.size(), exact);
        file.seek(0);
        file.write(pdf);
    }
};

// The busy cursor and a small modal progress window while the page is produced and
// handed to the print system. Produce is quick for one page, but handing a job to a
// slow queue is not.
class ProgressIndication
{
public:
    ProgressIndication()
    {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return;
        m_dialog = std::make_unique<QProgressDialog>(u"正在打印收据…"_s, QString(), 0, 0,
                                                     QApplication::activeWindow());
        m_dialog->setWindowTitle(u"打印"_s);
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->show();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~ProgressIndication() { QGuiApplication::restoreOverrideCursor(); }

private:
    std::unique_ptr<QProgressDialog> m_dialog;
};

} // namespace

bool PrintHelper::printReceipt(double width, double height)
{
    const PrintJob job = PrintJob::fromStores(width, height);
    if (!job.hasPaper())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    job.preparePrinter(printer);
    // The dialog offers what was used last: the same printer, or a file in the same
    // folder as the last one.
    const QString lastPrinter = Preferences::value(u"lastPrinter"_s);
    const QString lastFolder = Preferences::value(u"lastPrintFolder"_s);
    if (!lastFolder.isEmpty() && lastPrinter.isEmpty() && QFileInfo(lastFolder).isDir()) {
        printer.setOutputFileName(QDir(lastFolder).filePath(job.documentName() + u".pdf"_s));
        job.preparePrinter(printer);
    } else if (!lastPrinter.isEmpty()) {
        printer.setPrinterName(lastPrinter);
    }

    // With no printer installed the dialog still offers "Print to File (PDF)".
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    dialog.setWindowTitle(u"打印收据"_s);
    dialog.setOption(QAbstractPrintDialog::PrintToFile);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setMinMax(1, 1);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // Choosing another printer, "Print to File" among them, resets the paper to that
    // printer's default; the receipt always goes on its own paper.
    job.preparePrinter(printer);
    const bool toFile = !printer.outputFileName().isEmpty();
    Preferences::setValue(u"lastPrinter"_s, toFile ? QString() : printer.printerName());
    if (toFile)
        Preferences::setValue(u"lastPrintFolder"_s,
                              QFileInfo(printer.outputFileName()).absolutePath());

    const ProgressIndication progress;
    if (!job.printOn(printer)) {
        qWarning("Printing the receipt failed: the printer could not be opened");
        return false;
    }
    job.recordPrint();
    return true;
}

bool PrintHelper::printReceiptToFile(const QString &pdfPath, double width, double height)
{
    const PrintJob job = PrintJob::fromStores(width, height);
    if (!job.hasPaper() || pdfPath.isEmpty())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    job.preparePrinter(printer);
    if (!job.printOn(printer) || QFileInfo(pdfPath).size() <= 0)
        return false;
    job.recordPrint();
    return true;
}

QImage PrintHelper::renderReceiptImage(double width, double height, qreal dpi)
{
    const PrintJob job = PrintJob::fromStores(width, height);
    if (!job.hasPaper() || !(dpi > 0))
        return {};
    const qreal scale = dpi / 72;
    QImage image(int(std::ceil(width * scale)), int(std::ceil(height * scale)),
                 QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const int dotsPerMeter = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    QPainter painter(&image);
    job.draw(painter, QRectF(0, 0, width * scale, height * scale), job.pageLayout());
    return image;
}
