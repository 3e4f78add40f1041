// SPDX-License-Identifier: GPL-3.0-or-later
#include "printhelper.h"

#include "alignmentpage.h"
#include "appstore.h"
#include "companystore.h"
#include "pdftextlayer.h"
#include "preferences.h"
#include "printsettings.h"
#include "receiptactions.h"
#include "receipthistory.h"
#include "receiptpagelayout.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Whether the history has a print of the receipt: a next one is a reprint.
bool printedBefore(const QString &receiptId)
{
    const auto history = ReceiptHistory::load({}, {}, {}, receiptId);
    return history
        && std::any_of(history->cbegin(), history->cend(), [](const HistoryEntry &entry) {
               return entry.action == HistoryAction::Print;
           });
}

// One print job: what to print, copied from the stores when the job was asked for, the
// print settings of that moment, and the paper it is laid out on. One page per receipt.
struct PrintJob
{
    QList<std::optional<Receipt>> receipts;
    Company company;
    QSizeF paper;
    PrintOptions settings = PrintSettings::shared().options();
    QList<bool> reprints;

    static PrintJob fromStores(double width, double height)
    {
        return forReceipts({AppStore::shared().receiptPrint()}, width, height);
    }

    static PrintJob forReceipts(const QList<std::optional<Receipt>> &receipts, double width,
                                double height)
    {
        PrintJob job;
        job.receipts = receipts;
        job.company = CompanyStore::shared().company();
        job.paper = QSizeF(width, height);
        for (std::optional<Receipt> &receipt : job.receipts) {
            // Whether the receipt is voided is read from the book as the job starts, not
            // taken from the copy in the store, which was loaded before a void (or its
            // undoing) and is not reloaded by it: a voided receipt never goes out on paper
            // unstamped, whichever way it is printed.
            if (receipt)
                receipt->voidReason = ReceiptActions::voidReasonOf(receipt->id);
            // The history is only read when the mark is wanted.
            job.reprints.append(receipt && job.settings.reprintMark && printedBefore(receipt->id));
        }
        return job;
    }

    // Called once the pages are out. Recording cannot take the print back, so a failure
    // only leaves a warning: the receipt's history then lacks that print.
    void recordPrint() const
    {
        for (const std::optional<Receipt> &receipt : receipts) {
            if (!receipt)
                continue; // the blank form
            QString error;
            if (!ReceiptActions::recordPrint(receipt->id, &error))
                qWarning("Receipt No.%s was printed, but the print could not be recorded: %s",
                         qUtf8Printable(receipt->receiptNo), qUtf8Printable(error));
        }
    }

    bool hasPaper() const
    {
        return std::isfinite(paper.width()) && std::isfinite(paper.height()) && paper.width() > 0
            && paper.height() > 0 && !receipts.isEmpty();
    }

    // No "." in it: the print dialog makes its default file name from the document
    // name and would take ".0000042" for an extension and drop the number.
    QString documentName() const
    {
        if (receipts.size() > 1)
            return u"收据 %1 张"_s.arg(receipts.size());
        const std::optional<Receipt> &receipt = receipts.constFirst();
        return receipt ? u"收据 "_s + receipt->receiptNo : u"收据"_s;
    }

    // A page in points, laid out once per drawing: the PDF's text layer is made from the
    // very texts that were drawn.
    ReceiptPageLayout pageLayout(qsizetype page = 0) const
    {
        return ReceiptPageLayout(QRectF(QPointF(0, 0), paper), receipts.value(page), company,
                                 ReceiptPageLayout::Options::from(settings, reprints.value(page)));
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
    void preparePrinter(QPrinter &printer) const { preparePaper(printer, paper, documentName()); }

    static void preparePaper(QPrinter &printer, const QSizeF &paper, const QString &name)
    {
        printer.setDocName(name);
        printer.setCreator(QCoreApplication::applicationName());
        const QPageSize pageSize(paper, QPageSize::Point, u"收据 241 × 93 mm"_s,
                                 QPageSize::ExactMatch);
        printer.setPageLayout(
            QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(), QPageLayout::Point));
        printer.setFullPage(true);
        printer.setFromTo(1, 1);
    }

    // The one path the dialog, the file and the preview take once the target is set.
    bool printOn(QPrinter &printer) const
    {
        QPainter painter;
        if (!painter.begin(&printer))
            return false;
        paintPages(painter, printer);
        if (!painter.end())
            return false;
        correctFile(printer);
        return true;
    }

    void paintPages(QPainter &painter, QPrinter &printer) const
    {
        for (qsizetype page = 0; page < receipts.size(); ++page) {
            if (page > 0)
                printer.newPage();
            painter.save();
            draw(painter, printer.paperRect(QPrinter::DevicePixel), pageLayout(page));
            painter.restore();
        }
    }

    void correctFile(const QPrinter &printer) const
    {
        if (printer.outputFormat() != QPrinter::PdfFormat || printer.outputFileName().isEmpty())
            return;
        correctMediaBox(printer.outputFileName(), paper);
        // PdfTextLayer reads one page; a job of several keeps the text layer Qt wrote.
        if (receipts.size() == 1)
            correctTextLayer(printer.outputFileName(), pageLayout());
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
    static void correctMediaBox(const QString &path, const QSizeF &paper)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite))
            return;
        QByteArray pdf = file.readAll();
        const QSizeF rounded = QSizeF(QPageSize(paper, QPageSize::Point).sizePoints());
        const QByteArray written = "/MediaBox [0 0 " + QByteArray::number(rounded.width(), 'f')
            + ' ' + QByteArray::number(rounded.height(), 'f') + ']';
        // Every page of the job has the same box.
        if (!pdf.contains(written))
            return;
        QByteArray exact = "/MediaBox [0 "
            + QByteArray::number(rounded.height() - paper.height(), 'f', 4) + " "
            + QByteArray::number(paper.width(), 'f', 4) + ' '
            + QByteArray::number(rounded.height(), 'f', 0) + ']';
        if (exact.size() > written.size())
            return;
        exact.insert(exact.size() - 1, QByteArray(written.size() - exact.size(), ' '));
        pdf.replace(written, exact);
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

namespace {

// The printer the dialog offers first: the one used last, or a file in the same folder
// as the last one.
void offerLastTarget(QPrinter &printer, const QString &documentName)
{
    const QString lastPrinter = Preferences::value(u"lastPrinter"_s);
    const QString lastFolder = Preferences::value(u"lastPrintFolder"_s);
    if (!lastFolder.isEmpty() && lastPrinter.isEmpty() && QFileInfo(lastFolder).isDir())
        printer.setOutputFileName(QDir(lastFolder).filePath(documentName + u".pdf"_s));
    else if (!lastPrinter.isEmpty())
        printer.setPrinterName(lastPrinter);
}

void rememberTarget(const QPrinter &printer)
{
    const bool toFile = !printer.outputFileName().isEmpty();
    Preferences::setValue(u"lastPrinter"_s, toFile ? QString() : printer.printerName());
    if (toFile)
        Preferences::setValue(u"lastPrintFolder"_s,
                              QFileInfo(printer.outputFileName()).absolutePath());
}

// Asks for the printer; false when the user cancels. With no printer installed the
// dialog still offers "Print to File (PDF)".
bool askPrinter(QPrinter &printer, const QString &title, int pages,
                const std::function<void()> &preparePaper)
{
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    dialog.setWindowTitle(title);
    dialog.setOption(QAbstractPrintDialog::PrintToFile);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setMinMax(1, pages);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // Choosing another printer, "Print to File" among them, resets the paper to that
    // printer's default; the receipt always goes on its own paper.
    preparePaper();
    rememberTarget(printer);
    return true;
}

bool printJobWithDialog(const PrintJob &job)
{
    if (!job.hasPaper())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    job.preparePrinter(printer);
    offerLastTarget(printer, job.documentName());
    job.preparePrinter(printer);
    const QString title
        = job.receipts.size() > 1 ? u"打印 %1 张收据"_s.arg(job.receipts.size()) : u"打印收据"_s;
    if (!askPrinter(printer, title, int(job.receipts.size()), [&] { job.preparePrinter(printer); }))
        return false;
    printer.setFromTo(1, int(job.receipts.size()));
    const ProgressIndication progress;
    if (!job.printOn(printer)) {
        qWarning("Printing the receipt failed: the printer could not be opened");
        return false;
    }
    job.recordPrint();
    return true;
}

// The receipts of `ids` read from the book in ascending number order, or nothing when
// one of them cannot be read: a job never goes out short of a receipt the user chose.
std::optional<QList<std::optional<Receipt>>> receiptsInNumberOrder(const QStringList &ids)
{
    QList<Receipt> read;
    for (const QString &id : ids) {
        std::optional<Receipt> receipt = AppStore::shared().readReceipt(id);
        if (!receipt)
            return std::nullopt;
        read.append(*receipt);
    }
    // Numbers have the same width in one book; a shorter one (an older book's) goes first.
    std::sort(read.begin(), read.end(), [](const Receipt &a, const Receipt &b) {
        return std::pair(a.receiptNo.size(), a.receiptNo)
            < std::pair(b.receiptNo.size(), b.receiptNo);
    });
    QList<std::optional<Receipt>> result;
    for (const Receipt &receipt : read)
        result.append(receipt);
    return result;
}

} // namespace

bool PrintHelper::printReceipt(double width, double height)
{
    return printJobWithDialog(PrintJob::fromStores(width, height));
}

bool PrintHelper::printReceipts(const QStringList &ids, double width, double height)
{
    const auto receipts = receiptsInNumberOrder(ids);
    return receipts && printJobWithDialog(PrintJob::forReceipts(*receipts, width, height));
}

bool PrintHelper::printReceiptsToFile(const QStringList &ids, const QString &pdfPath, double width,
                                      double height)
{
    const auto receipts = receiptsInNumberOrder(ids);
    if (!receipts || pdfPath.isEmpty())
        return false;
    const PrintJob job = PrintJob::forReceipts(*receipts, width, height);
    if (!job.hasPaper())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    job.preparePrinter(printer);
    printer.setFromTo(1, int(job.receipts.size()));
    if (!job.printOn(printer) || QFileInfo(pdfPath).size() <= 0)
        return false;
    job.recordPrint();
    return true;
}

bool PrintHelper::previewReceipt(double width, double height)
{
    const PrintJob job = PrintJob::fromStores(width, height);
    if (!job.hasPaper())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    job.preparePrinter(printer);
    offerLastTarget(printer, job.documentName());
    job.preparePrinter(printer);
    QPrintPreviewDialog dialog(&printer, QApplication::activeWindow());
    dialog.setWindowTitle(u"打印预览"_s);
    // The same drawing for the preview and for the print the preview's button starts;
    // the paper is set again because the print dialog in between may have changed it.
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&job](QPrinter *target) {
                         job.preparePrinter(*target);
                         QPainter painter(target);
                         job.paintPages(painter, *target);
                     });
    // Accepted only when the preview's print button printed.
    if (dialog.exec() != QDialog::Accepted)
        return false;
    rememberTarget(printer);
    job.correctFile(printer);
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

namespace {

bool printAlignmentOn(QPrinter &printer, const PrintOptions &options, const QSizeF &paper)
{
    const AlignmentPage alignment(QRectF(QPointF(0, 0), paper), options,
                                  CompanyStore::shared().company());
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QRectF target = printer.paperRect(QPrinter::DevicePixel);
    const qreal scale = std::min(target.width() / paper.width(), target.height() / paper.height());
    painter.translate(target.topLeft());
    painter.scale(scale, scale);
    alignment.paint(painter);
    if (!painter.end())
        return false;
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
        PrintJob::correctMediaBox(printer.outputFileName(), paper);
    return true;
}

} // namespace

bool PrintHelper::printAlignmentPage(const PrintOptions &options, double width, double height)
{
    const QSizeF paper(width, height);
    const QString name = u"打印对齐测试页"_s;
    QPrinter printer(QPrinter::HighResolution);
    PrintJob::preparePaper(printer, paper, name);
    offerLastTarget(printer, name);
    PrintJob::preparePaper(printer, paper, name);
    if (!askPrinter(printer, name, 1, [&] { PrintJob::preparePaper(printer, paper, name); }))
        return false;
    const ProgressIndication progress;
    return printAlignmentOn(printer, options, paper);
}

bool PrintHelper::printAlignmentPageToFile(const PrintOptions &options, const QString &pdfPath,
                                           double width, double height)
{
    const QSizeF paper(width, height);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    PrintJob::preparePaper(printer, paper, u"打印对齐测试页"_s);
    return !pdfPath.isEmpty() && printAlignmentOn(printer, options, paper);
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
