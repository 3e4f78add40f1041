// SPDX-License-Identifier: GPL-3.0-or-later
#include "printjob.h"

#include "alignmentpage.h"
#include "appstore.h"
#include "clock.h"
#include "outputfile.h"
#include "pdfcheck.h"
#include "pdftextlayer.h"
#include "receiptbook.h"
#include "receipthistory.h"
#include "receiptpagelayout.h"
#include "receiptprinter.h"
#include "receiptproof.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QSizeF paper(ReceiptPrinter::paperWidth, ReceiptPrinter::paperHeight);
// How far the paper a printer reports may be off the receipt's, each way.
constexpr qreal paperToleranceMm = 1;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// Whether the history has a print of the receipt: a next one is a reprint.
bool printedBefore(const QString &receiptId)
{
    const auto history = ReceiptBook::shared().history({}, {}, {}, receiptId);
    return history
        && std::any_of(history->cbegin(), history->cend(), [](const HistoryEntry &entry) {
               return entry.action == HistoryAction::Print;
           });
}

// Whether a print queue can be given the receipt paper: a size of its driver's list, or
// any size where the driver takes custom ones. Qt hands CUPS whatever size it is asked
// for; where the driver has no such paper, CUPS prints on the queue's default paper, the
// page turned and scaled to fill it, and nobody is told.
bool hasReceiptPaper(const QPrinterInfo &queue)
{
    if (queue.supportsCustomPageSizes())
        return true;
    const QSizeF wanted = paper / 72 * 25.4;
    const QList<QPageSize> sizes = queue.supportedPageSizes();
    return std::any_of(sizes.cbegin(), sizes.cend(), [&](const QPageSize &size) {
        const QSizeF mm = size.size(QPageSize::Millimeter);
        return std::abs(mm.width() - wanted.width()) <= paperToleranceMm
            && std::abs(mm.height() - wanted.height()) <= paperToleranceMm;
    });
}

bool toPdfFile(const QPrinter &printer)
{
    return printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
}

} // namespace

PrintJob PrintJob::currentReceipt(std::optional<PrintOptions> options)
{
    return forReceipt(AppStore::shared().receiptPrint(), options);
}

PrintJob PrintJob::forReceipt(const std::optional<Receipt> &receipt,
                              std::optional<PrintOptions> options)
{
    PrintJob job;
    job.m_receipts = {receipt};
    job.m_company = CompanyStore::shared().company();
    job.m_options = options.value_or(PrintSettings::shared().options()).normalized();
    job.takeFromBook();
    return job;
}

PrintJob PrintJob::formPreview(const Receipt &receipt, std::optional<PrintOptions> options)
{
    PrintJob job = forReceipt(receipt, options);
    job.m_previewOnly = true;
    if (job.m_options.receiptCode && job.m_codes.value(0).isEmpty())
        job.m_codes = {standInCode(receipt)};
    return job;
}

QString PrintJob::standInCode(const std::optional<Receipt> &receipt)
{
    Receipt sample = receipt.value_or(Receipt());
    if (!receipt) {
        sample.receiptNo = u"1234567"_s;
        sample.receiptDate = Clock::now();
    }
    return ReceiptProof::codeText(sample, QString(16, u'0'));
}

std::optional<PrintJob> PrintJob::forIds(const QStringList &ids, QString *error,
                                         std::optional<PrintOptions> options)
{
    QStringList unique = ids;
    unique.removeDuplicates();
    if (unique.isEmpty()) {
        setError(error, u"没有要打印的收据"_s);
        return std::nullopt;
    }
    QList<Receipt> read;
    for (const QString &id : std::as_const(unique)) {
        std::optional<Receipt> receipt;
        QString reason;
        if (!AppStore::shared().readReceipt(id, &receipt, &reason)) {
            setError(error, u"读取要打印的收据失败：%1"_s.arg(reason));
            return std::nullopt;
        }
        if (!receipt) {
            setError(error, u"要打印的收据已不在账本中（也许已在其他电脑上删除）"_s);
            return std::nullopt;
        }
        if (receipt->unreadableTotal) {
            setError(error, u"No.%1 的金额无法识别，请先修改金额再打印"_s.arg(receipt->receiptNo));
            return std::nullopt;
        }
        read.append(*receipt);
    }
    // Numbers have the same width in one book; a shorter one (an older book's) goes first.
    std::sort(read.begin(), read.end(), [](const Receipt &a, const Receipt &b) {
        return std::pair(a.receiptNo.size(), a.receiptNo)
            < std::pair(b.receiptNo.size(), b.receiptNo);
    });
    PrintJob job;
    for (const Receipt &receipt : std::as_const(read))
        job.m_receipts.append(receipt);
    job.m_company = CompanyStore::shared().company();
    job.m_options = options.value_or(PrintSettings::shared().options()).normalized();
    job.takeFromBook();
    return job;
}

PrintJob PrintJob::alignmentPage(const PrintOptions &options)
{
    PrintJob job;
    job.m_kind = Kind::AlignmentPage;
    job.m_company = CompanyStore::shared().company();
    job.m_options = options.normalized();
    return job;
}

void PrintJob::takeFromBook()
{
    m_reprints.clear();
    m_codes.clear();
    m_voidUnknown = false;
    for (std::optional<Receipt> &receipt : m_receipts) {
        // Whether the receipt is voided is read from the book as the job is made, not
        // taken from a copy in a store, which was loaded before a void (or its undoing)
        // and is not reloaded by it: a voided receipt never goes out on paper unstamped,
        // whichever way it is printed.
        if (receipt && !receipt->id.isEmpty()
            && !ReceiptBook::shared().readVoidReason(receipt->id, &receipt->voidReason))
            m_voidUnknown = true;
        // The history is only read when the mark is wanted.
        m_reprints.append(receipt && !receipt->id.isEmpty() && m_options.reprintMark
                          && printedBefore(receipt->id));
        // The code names the newest record of the receipt as it is printed: read now, the
        // print's own row comes after the pages. A receipt whose code cannot be read goes
        // out without one rather than not at all.
        QString code;
        QString error;
        if (receipt && m_options.receiptCode
            && !ReceiptBook::shared().readPrintCode(*receipt, &code, &error))
            qWarning("%s",
                     qUtf8Printable(u"收据 No.%1 的二维码无法读取，打印时不带二维码：%2"_s.arg(
                         receipt->receiptNo, error)));
        m_codes.append(code);
    }
}

int PrintJob::pageCount() const
{
    return m_kind == Kind::AlignmentPage ? 1 : int(m_receipts.size());
}

// No "." in it: the print dialog makes its default file name from the document name and
// would take ".0000042" for an extension and drop the number.
QString PrintJob::documentName() const
{
    if (m_kind == Kind::AlignmentPage)
        return u"打印对齐测试页"_s;
    if (m_receipts.size() > 1)
        return u"收据 %1 张"_s.arg(m_receipts.size());
    const std::optional<Receipt> receipt = m_receipts.value(0);
    return receipt ? u"收据 "_s + receipt->receiptNo : u"收据"_s;
}

qreal PrintJob::fittedScale(const QSizeF &paperSize)
{
    if (!(paperSize.width() > 0 && paperSize.height() > 0))
        return 0;
    return std::min(
        {qreal(1), paperSize.width() / paper.width(), paperSize.height() / paper.height()});
}

QString PrintJob::fittedNotice(const QPageLayout &layout)
{
    const QSizeF mm = layout.fullRect(QPageLayout::Millimeter).size();
    const QSizeF wanted = paper / 72 * 25.4;
    if (layout.isValid() && std::abs(mm.width() - wanted.width()) <= paperToleranceMm
        && std::abs(mm.height() - wanted.height()) <= paperToleranceMm)
        return {};
    const QString size = u"%1 × %2 mm"_s.arg(qRound(mm.width())).arg(qRound(mm.height()));
    const int percent = qRound(100 * fittedScale(layout.fullRect(QPageLayout::Point).size()));
    const QString how = percent < 100
        ? u"缩小到 %1% 打印在打印机的 %2 纸上"_s.arg(percent).arg(size)
        : u"按原大小打印在打印机的 %1 纸上"_s.arg(size);
    return u"打印机没有 %1 的收据纸，收据已%2。要在收据纸上按原大小打印，请在打印机的纸张设置中"
           u"添加 %1 的自定义尺寸（CUPS 打印机的做法见使用说明“在 CUPS 中添加收据纸”）。"_s.arg(
               ReceiptPrinter::paperName(), how);
}

void PrintJob::preparePrinter(QPrinter &printer) const
{
    printer.setDocName(documentName());
    printer.setCreator(QCoreApplication::applicationName());
    printer.setFullPage(true);
    printer.setPageOrientation(QPageLayout::Portrait);
    // A printer without the size keeps its own paper (and says false), and a print queue
    // without it is given its default paper: the pages are fitted onto that by the job
    // itself, and the user told, rather than not printed, since a cashier with an ordinary
    // office printer must still be able to hand out a receipt.
    const QPrinterInfo queue
        = printer.outputFormat() == QPrinter::NativeFormat ? QPrinterInfo(printer) : QPrinterInfo();
    if (!queue.isNull() && !hasReceiptPaper(queue) && queue.defaultPageSize().isValid())
        printer.setPageSize(queue.defaultPageSize());
    else
        printer.setPageSize(QPageSize(paper, QPageSize::Point,
                                      u"收据 "_s + ReceiptPrinter::paperName(),
                                      QPageSize::ExactMatch));
    // A printer that cannot print to the edge keeps its margins (and says false): the full
    // page puts the origin at the paper's corner all the same.
    printer.setPageMargins(QMarginsF(), QPageLayout::Point);
}

bool PrintJob::print(QPrinter &printer, QString *error, QString *notice) const
{
    if (pageCount() == 0) {
        setError(error, u"没有要打印的收据"_s);
        return false;
    }
    // Its code stands in for one the book has not made yet: the paper is printed from the
    // book once the receipt is saved.
    if (m_previewOnly) {
        setError(error, u"这是预览，请保存收据后再打印"_s);
        return false;
    }
    if (m_voidUnknown) {
        setError(error, u"无法读取收据是否已作废（数据库可能正被其他程序占用），没有打印。"
                        u"请稍后再试。"_s);
        return false;
    }
    if (toPdfFile(printer)) {
        // Written beside the file and put in its place only once whole and readable: a
        // full disk leaves neither a cut file nor prints recorded that never came out.
        const QString target = printer.outputFileName();
        QString reason;
        const bool written = OutputFile::writeReplacing(
            target,
            [&](const QString &scratch, QString *why) {
                printer.setOutputFileName(scratch);
                return printToFile(printer, why);
            },
            &reason);
        printer.setOutputFileName(target);
        if (!written) {
            setError(error, u"无法写入文件 %1：%2"_s.arg(QDir::toNativeSeparators(target), reason));
            return false;
        }
    } else {
        preparePrinter(printer);
        if (fittedScale(printer.paperRect(QPrinter::Point).size()) <= 0) {
            setError(error, u"打印机没有给出纸张大小，没有打印。请选择其他打印机。"_s);
            return false;
        }
        QPainter painter;
        if (!painter.begin(&printer)) {
            setError(error, u"无法打开打印机 %1"_s.arg(printer.printerName()));
            return false;
        }
        paintPages(painter, printer);
        if (!painter.end()) {
            setError(error, u"打印机 %1 没有接收打印任务"_s.arg(printer.printerName()));
            return false;
        }
    }
    if (notice)
        *notice = fittedNotice(printer.pageLayout());
    // Recording cannot take the print back, so a failure only leaves a warning: the
    // receipt's history then lacks that print.
    for (const std::optional<Receipt> &receipt : m_receipts) {
        if (!receipt || receipt->id.isEmpty())
            continue; // the blank form, a receipt not stored
        QString failure;
        if (!ReceiptBook::shared().recordPrint(receipt->id, &failure))
            qWarning("%s", qUtf8Printable(u"收据 No.%1 已打印，但这次打印没有记入收据的历史：%2"_s.arg(
                               receipt->receiptNo, failure)));
    }
    return true;
}

bool PrintJob::printToFile(QPrinter &printer, QString *error) const
{
    preparePrinter(printer);
    if (fittedScale(printer.paperRect(QPrinter::Point).size()) <= 0) {
        setError(error, u"没有纸张大小"_s);
        return false;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        setError(error, u"无法建立 PDF 文件"_s);
        return false;
    }
    paintPages(painter, printer);
    if (!painter.end()) {
        setError(error, u"PDF 文件没有写完"_s);
        return false;
    }
    correctFile(printer);
    // Qt's PDF writer says nothing of writes that failed.
    const QString problem = PdfCheck::problem(printer.outputFileName(), pageCount());
    if (!problem.isEmpty()) {
        setError(error, u"%1（磁盘可能已满），没有打印"_s.arg(problem));
        return false;
    }
    return true;
}

void PrintJob::paintPages(QPainter &painter, QPrinter &printer) const
{
    for (int page = 0; page < pageCount(); ++page) {
        if (page > 0)
            printer.newPage();
        painter.save();
        const QRectF paperRect = printer.paperRect(QPrinter::DevicePixel);
        const qreal points = printer.paperRect(QPrinter::Point).width();
        paintPage(painter, paperRect, points > 0 ? paperRect.width() / points : 0, page);
        painter.restore();
    }
}

// Draws the page on `target` (device coordinates, `pixelsPerPoint` of them to a point)
// from its top-left corner: at its own size on the receipt paper, fitted in both
// directions onto smaller paper. The painter draws vectors at the device's own resolution:
// the page is never made a bitmap first, which would print coarse on a 241 mm sheet.
void PrintJob::paintPage(QPainter &painter, const QRectF &target, qreal pixelsPerPoint,
                         int page) const
{
    if (!(pixelsPerPoint > 0))
        return;
    const qreal scale = pixelsPerPoint * fittedScale(target.size() / pixelsPerPoint);
    painter.translate(target.topLeft());
    painter.scale(scale, scale);
    const QRectF pageRect(QPointF(0, 0), paper);
    if (m_kind == Kind::AlignmentPage) {
        AlignmentPage(pageRect, m_options, m_company).paint(painter);
        return;
    }
    ReceiptPageLayout(
        pageRect, m_receipts.value(page), m_company,
        ReceiptPageLayout::Options::from(m_options, m_reprints.value(page), m_codes.value(page)))
        .paint(painter);
}

void PrintJob::correctFile(const QPrinter &printer) const
{
    // Qt keeps page sizes in whole points, so its PDF says 683 × 264 (93.13 mm) for the
    // 683.15 × 263.62 receipt: the pages get their true box, its lower edge moved up since
    // the page is drawn from the top.
    const QSizeF rounded = QSizeF(QPageSize(paper, QPageSize::Point).sizePoints());
    const QRectF pageBox(QPointF(0, rounded.height() - paper.height()),
                         QPointF(paper.width(), rounded.height()));
    // Qt's PDF reads back wrong where its fonts share glyphs between characters or draw
    // alternates (see PdfTextLayer); a saved receipt must be found by its number and payer.
    // The pages are laid out again exactly as drawn: the layer is made from the very texts
    // on them, in drawing order.
    QList<PdfTextLayer::Text> drawn;
    const QRectF pageRect(QPointF(0, 0), paper);
    if (m_kind == Kind::AlignmentPage) {
        drawn = AlignmentPage(pageRect, m_options, m_company).texts();
    } else {
        for (int page = 0; page < pageCount(); ++page) {
            const ReceiptPageLayout layout(pageRect, m_receipts.value(page), m_company,
                                           ReceiptPageLayout::Options::from(m_options,
                                                                            m_reprints.value(page),
                                                                            m_codes.value(page)));
            for (const ReceiptPageLayout::TextItem &text : layout.textItems())
                drawn.append({text.text, text.font});
        }
    }
    // A file that cannot be read back stays as Qt wrote it: only a search in it may miss a
    // word. One cut short by a failed write is found by the check of the finished file.
    QString error;
    if (!PdfTextLayer::rewriteFile(printer.outputFileName(), drawn, &error, pageBox))
        qWarning("The text of the printed PDF could not be corrected: %s", qUtf8Printable(error));
}

QImage PrintJob::image(qreal dpi, int page) const
{
    if (!(dpi > 0) || page < 0 || page >= pageCount())
        return {};
    const qreal scale = dpi / 72;
    QImage image(int(std::ceil(paper.width() * scale)), int(std::ceil(paper.height() * scale)),
                 QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const int dotsPerMeter = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintPage(painter, QRectF(0, 0, paper.width() * scale, paper.height() * scale), scale, page);
    return image;
}
