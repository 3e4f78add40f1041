// SPDX-License-Identifier: GPL-3.0-or-later
#include "alignmentpage.h"
#include "appstore.h"
#include "printjob.h"
#include "printsettings.h"
#include "receiptpagelayout.h"
#include "receiptprinter.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QGuiApplication>
#include <QPrinter>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;

namespace {

constexpr qreal pointsPerMm = 72 / 25.4;
const QRectF page(0, 0, ReceiptPrinter::paperWidth, ReceiptPrinter::paperHeight);
const Company company {u"C1"_s, u"收款收据"_s, u"第二联 交财务"_s, u"开户行：工商银行"_s};

ReceiptPageLayout layout(const ReceiptPageOptions &options = {})
{
    return ReceiptPageLayout(page, printableReceipt(), company, options);
}

// A PDF printer aimed at `path`.
std::unique_ptr<QPrinter> pdfPrinter(const QString &path)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    return printer;
}

// A printer aimed at a PDF file that handles the paper as a print queue may: it takes the
// paper it is given, keeps its own A4 or A3, or turns the paper on its side.
class QueuePrinter : public QPrinter
{
public:
    enum class Paper { Takes, KeepsA4, KeepsA3, TurnsIt };

    QueuePrinter(Paper paper, const QString &path)
        : QPrinter(QPrinter::HighResolution)
        , m_paper(paper)
    {
        setOutputFormat(QPrinter::PdfFormat);
        setOutputFileName(path);
        QPrinter::setPageSize(QPageSize(paper == Paper::KeepsA3 ? QPageSize::A3 : QPageSize::A4));
        if (paper == Paper::TurnsIt)
            QPrinter::setPageOrientation(QPageLayout::Landscape);
    }
    bool setPageSize(const QPageSize &size) override
    {
        return (m_paper == Paper::Takes || m_paper == Paper::TurnsIt)
            && QPrinter::setPageSize(size);
    }
    bool setPageOrientation(QPageLayout::Orientation orientation) override
    {
        return m_paper == Paper::Takes && QPrinter::setPageOrientation(orientation);
    }

private:
    Paper m_paper;
};

} // namespace

Q_DECLARE_METATYPE(QueuePrinter::Paper)

class tst_PrintOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_environment = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_environment.reset(); }

    void settingsKeepWhatWasSet_data()
    {
        QTest::addColumn<double>("offset");
        QTest::addColumn<double>("kept");
        QTest::newRow("in range") << -12.34 << -12.3;
        QTest::newRow("too far right") << 45.0 << 30.0;
        QTest::newRow("too far left") << -30.05 << -30.0;
        QTest::newRow("not a number") << qQNaN() << 0.0;
    }
    void settingsKeepWhatWasSet()
    {
        QFETCH(double, offset);
        QFETCH(double, kept);
        PrintSettings &settings = PrintSettings::shared();
        QCOMPARE(settings.options(), PrintOptions()); // defaults on a fresh profile
        QSignalSpy changed(&settings, &PrintSettings::changed);
        PrintOptions options {.offsetX = offset,
                              .offsetY = -offset,
                              .content = PrintOptions::Content::ValuesOnly,
                              .sideLabel = false,
                              .reprintMark = true,
                              .fixedRemark = false,
                              .yuanSign = false};
        settings.setOptions(options);
        settings.setOptions(options); // no change, no signal
        QCOMPARE(changed.count(), 1);
        options.offsetX = kept;
        options.offsetY = kept == 0 ? 0 : -kept;
        QCOMPARE(settings.options(), options);
    }

    // The code's square stays whole on the paper, at a tenth of a millimetre, and is kept
    // with its switch; a position that is no number is its default.
    void codePlaceIsKeptOnThePaper_data()
    {
        QTest::addColumn<QPointF>("given");
        QTest::addColumn<QPointF>("kept");
        QTest::newRow("on the paper") << QPointF(12.34, 45.67) << QPointF(12.3, 45.7);
        QTest::newRow("past the right and lower edges") << QPointF(300, 80) << QPointF(219, 71);
        QTest::newRow("before the left and upper edges") << QPointF(-5, -0.1) << QPointF(0, 0);
        QTest::newRow("not a number") << QPointF(qQNaN(), qInf()) << QPointF(1, 38.5);
    }
    void codePlaceIsKeptOnThePaper()
    {
        QFETCH(QPointF, given);
        QFETCH(QPointF, kept);
        PrintSettings &settings = PrintSettings::shared();
        QVERIFY(settings.options().receiptCode); // on by default
        PrintOptions options;
        options.receiptCode = false;
        options.codeX = given.x();
        options.codeY = given.y();
        settings.setOptions(options);
        const PrintOptions read = settings.options();
        QVERIFY(!read.receiptCode);
        QCOMPARE(QPointF(read.codeX, read.codeY), kept);
    }

    // Every text, rule and the border move by the offset, exactly, in points; what would
    // leave the paper is put back on its edge and named.
    void offsetMovesEverything_data()
    {
        QTest::addColumn<QPointF>("mm");
        QTest::addColumn<QList<Item>>("displaced");
        // The fixed remark is the lowest line: a few millimetres down take it to the edge.
        QTest::newRow("right and down") << QPointF(10, 3) << QList<Item> {Item::FixedRemark};
        QTest::newRow("left and up") << QPointF(-3.2, -2.1) << QList<Item>();
        QTest::newRow("off the right edge") << QPointF(30, 0) << QList<Item> {Item::SideLabel};
        QTest::newRow("off the bottom")
            << QPointF(0, 30)
            << QList<Item> {Item::CapitalsLabel, Item::Capitals,     Item::YuanSign,
                            Item::Figures,       Item::PaytypeLabel, Item::Colon,
                            Item::Paytype,       Item::PayeeLabel,   Item::Payee,
                            Item::ApproveLabel,  Item::Approve,      Item::AccountantLabel,
                            Item::Accountant,    Item::FixedRemark};
    }
    void offsetMovesEverything()
    {
        QFETCH(QPointF, mm);
        QFETCH(QList<Item>, displaced);
        const ReceiptPageLayout plain = layout(ReceiptPageOptions::from({}));
        PrintOptions settings;
        settings.offsetX = mm.x();
        settings.offsetY = mm.y();
        const ReceiptPageLayout moved = layout(ReceiptPageOptions::from(settings));
        const QPointF shift = mm * pointsPerMm;
        QStringList names;
        for (Item item : moved.displacedItems())
            names.append(ReceiptPageLayout::itemName(item));
        QVERIFY2(moved.displacedItems() == displaced, qPrintable(names.join(u' ')));
        QCOMPARE(moved.tableRect(), plain.tableRect().translated(shift));
        QCOMPARE(moved.rules().size(), plain.rules().size());
        for (qsizetype i = 0; i < plain.rules().size(); ++i)
            QCOMPARE(moved.rules()[i], plain.rules()[i].translated(shift));
        QCOMPARE(moved.textItems().size(), plain.textItems().size());
        for (qsizetype i = 0; i < plain.textItems().size(); ++i) {
            const auto &before = plain.textItems()[i];
            const auto &after = moved.textItems()[i];
            QCOMPARE(after.text, before.text); // nothing cut
            if (displaced.contains(after.item))
                QVERIFY2(page.contains(after.rect), qPrintable(after.text));
            else
                QCOMPARE(after.rect, before.rect.translated(shift));
        }
    }

    // Values only: no caption, rule or border, each value where the full page has it, and
    // the ¥ before the figures unless the form's own is to serve.
    void valuesOnlyKeepsPlaces_data()
    {
        QTest::addColumn<bool>("yuanSign");
        QTest::newRow("with ¥") << true;
        QTest::newRow("the form's ¥") << false;
    }
    void valuesOnlyKeepsPlaces()
    {
        QFETCH(bool, yuanSign);
        const ReceiptPageLayout full = layout({.offset = {}, .fixedRemark = true});
        const ReceiptPageLayout values
            = layout({.offset = {}, .valuesOnly = true, .fixedRemark = true, .yuanSign = yuanSign});
        QVERIFY(values.rules().isEmpty());
        QVERIFY(!values.hasBorder() && full.hasBorder());
        QList<Item> expected;
        for (const auto &text : full.textItems()) {
            if (ReceiptPageLayout::isValue(text.item) || (yuanSign && text.item == Item::YuanSign))
                expected.append(text.item);
        }
        QList<Item> drawn;
        for (const auto &text : values.textItems()) {
            drawn.append(text.item);
            QCOMPARE(text.rect, full.find(text.item)->rect);
        }
        QCOMPARE(drawn, expected);
        // The twelve values and the fixed remark, and the ¥ when asked for.
        QCOMPARE(drawn.size(), yuanSign ? 14 : 13);

        // A voided receipt keeps its stamp on a form printed values only, where the full
        // page has it.
        Receipt voided = printableReceipt();
        voided.voidReason = u"写错"_s;
        const ReceiptPageLayout stamped(page, voided, company,
                                        {.offset = {}, .valuesOnly = true, .fixedRemark = true});
        const ReceiptPageLayout stampedFull(page, voided, company,
                                            {.offset = {}, .fixedRemark = true});
        QVERIFY(stamped.find(Item::VoidStamp) && stampedFull.find(Item::VoidStamp));
        QCOMPARE(stamped.find(Item::VoidStamp)->rect, stampedFull.find(Item::VoidStamp)->rect);
    }

    void fixedRemark_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("remark");
        QTest::addColumn<bool>("printed");
        QTest::newRow("on") << true << u"开户行：工商银行"_s << true;
        QTest::newRow("off") << false << u"开户行：工商银行"_s << false;
        QTest::newRow("on, empty") << true << u"  "_s << false;
    }
    void fixedRemark()
    {
        QFETCH(bool, on);
        QFETCH(QString, remark);
        QFETCH(bool, printed);
        Company header = company;
        header.remark = remark;
        const ReceiptPageLayout layout(page, printableReceipt(), header,
                                       {.offset = {}, .fixedRemark = on});
        const auto *line = layout.find(Item::FixedRemark);
        QCOMPARE(line != nullptr, printed);
        if (!line)
            return;
        QCOMPARE(line->text, remark);
        QVERIFY(page.contains(line->rect));
        QVERIFY(line->rect.top() >= layout.find(Item::Payee)->rect.bottom());
    }

    // Through the printed file: the history decides, the setting allows.
    void reprintMark_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("enabled") << true;
        QTest::newRow("disabled") << false;
    }
    void reprintMark()
    {
        QFETCH(bool, enabled);
        const Receipt r = storePrintable();
        PrintSettings::shared().setOptions({.reprintMark = enabled});
        QTemporaryDir dir;
        QList<bool> marked;
        for (const QString &name : {u"first.pdf"_s, u"second.pdf"_s}) {
            const QString path = dir.filePath(name);
            QVERIFY(ReceiptPrinter::printReceipts(*pdfPrinter(path), {r.id}));
            const auto words = pdfWords(path);
            if (words.isEmpty())
                QSKIP("pdftotext (poppler-utils) is not installed");
            marked.append(wordBox(words, u"补打"_s).has_value());
        }
        QCOMPARE(marked, (QList<bool> {false, enabled}));
    }

    // The PDF shows the offset too: each word lies exactly that far from where it lies
    // on an unmoved page. The saved settings print unless the job is given its own.
    void pdfMovesByOffset()
    {
        const Receipt r = storePrintable();
        QTemporaryDir dir;
        const QString saved = dir.filePath(u"saved.pdf"_s);
        const QString given = dir.filePath(u"given.pdf"_s);
        PrintSettings::shared().setOptions({.offsetX = 7.5, .offsetY = -4.2});
        QVERIFY(ReceiptPrinter::printReceipts(*pdfPrinter(saved), {r.id}));
        QVERIFY(ReceiptPrinter::printReceipts(*pdfPrinter(given), {r.id}, nullptr, PrintOptions()));
        const auto moved = pdfWords(saved);
        const auto unmoved = pdfWords(given);
        if (unmoved.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QCOMPARE(moved.size(), unmoved.size());
        const QPointF shift = QPointF(7.5, -4.2) * pointsPerMm;
        for (qsizetype i = 0; i < unmoved.size(); ++i) {
            QCOMPARE(moved[i].text, unmoved[i].text);
            const QPointF by = moved[i].box.topLeft() - unmoved[i].box.topLeft();
            QVERIFY2(qAbs(by.x() - shift.x()) < 0.05 && qAbs(by.y() - shift.y()) < 0.05,
                     qPrintable(unmoved[i].text));
        }
    }

    // A job that cannot go out whole does not go out: no page, no file, no history row,
    // and the reason for the user.
    void refusedJobs_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unknown receipt") << u"ID-nowhere"_s << u"r.pdf"_s << u"已不在账本中"_s;
        QTest::newRow("amount cannot be read")
            << u"ID-unreadable"_s << u"r.pdf"_s << u"No.0000002 的金额无法识别"_s;
        QTest::newRow("file cannot be written")
            << u"ID-0000042"_s << u"missing/r.pdf"_s << u"无法写入文件"_s;
        // The print dialog's file, chosen as a link: never written through.
        QTest::newRow("file is a link to the book")
            << u"ID-0000042"_s << u"book.pdf"_s << u"正在使用的数据库"_s;
    }
    void refusedJobs()
    {
        QFETCH(QString, id);
        QFETCH(QString, file);
        QFETCH(QString, reason);
        m_environment->createDatabase();
        QVERIFY(
            m_environment->storeReceipt(u"ID-0000042"_s, u"0000042"_s, u"2024-05-01 00:00:00"_s));
        QVERIFY(m_environment->execRaw(
            receiptInsertSql(u"ID-unreadable"_s, u"0000002"_s, u"2024-05-01 00:00:00"_s)
            + u"update tb_receipt set total = '12,3x' where id = 'ID-unreadable';"_s));
        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        const QString book = m_environment->databasePath();
        const bool link = file == u"book.pdf"_s;
        QVERIFY(!link || QFile::link(book, path));
        const QByteArray bookBefore = fileHash(book);
        QString error;
        QVERIFY(!ReceiptPrinter::printReceipts(*pdfPrinter(path), {u"ID-0000042"_s, id}, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(QFileInfo(path).isSymLink(), link);
        QVERIFY(link || !QFile::exists(path));
        QCOMPARE(fileHash(book), bookBefore);
        QCOMPARE(m_environment->countRaw(u"select count(*) from tb_history"_s), 0);
    }

    // Whether a receipt is voided cannot be read (the book held by another program past the
    // wait): nothing goes out, since a voided one would lack its stamp. A book from before
    // voids were kept, which could not be brought up to date, has none: it prints.
    void voidStateUnknown()
    {
        m_environment->createDatabase();
        QVERIFY(
            m_environment->storeReceipt(u"ID-0000042"_s, u"0000042"_s, u"2024-05-01 00:00:00"_s));
        const std::optional<Receipt> receipt = storedReceipt(u"ID-0000042"_s);
        QVERIFY(receipt);
        AppStore::shared().setReceiptPrint(receipt);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"r.pdf"_s);
        QString error;
        SQLiteHelper::shared().db().setMaxBusyRetryTimeInterval(0.2);
        {
            const HeldLock lock(m_environment->databasePath());
            QVERIFY(lock.isHeld());
            QVERIFY(!ReceiptPrinter::printCurrentReceipt(*pdfPrinter(path), &error));
            QVERIFY2(error.contains(u"作废"_s), qPrintable(error));
            QVERIFY(!ReceiptPrinter::printReceipts(*pdfPrinter(path), {u"ID-0000042"_s}, &error));
            QVERIFY(!storedReceipt(u"ID-0000042"_s));
            QVERIFY(!QFile::exists(path));
        }
        QCOMPARE(m_environment->countRaw(u"select count(*) from tb_history"_s), 0);

        QVERIFY(m_environment->execRaw(u"drop table tb_void;"_s));
        QVERIFY2(ReceiptPrinter::printCurrentReceipt(*pdfPrinter(path), &error), qPrintable(error));
        QVERIFY(QFileInfo(path).size() > 0);
    }

    // A printer that does not put the receipt on 241 × 93 mm paper still prints: each
    // receipt on a page of its own paper, as large as fits both ways from the top-left
    // corner, and the user is told once for the job, with how to add the receipt paper.
    void paperFitted_data()
    {
        QTest::addColumn<QueuePrinter::Paper>("paper");
        QTest::addColumn<QString>("pageSize"); // as pdfPages names it: Qt keeps whole points
        QTest::addColumn<QString>("notice"); // empty: nothing to tell
        QTest::newRow("takes the receipt paper")
            << QueuePrinter::Paper::Takes << u"241.0 × 93.0 mm"_s << QString();
        QTest::newRow("keeps its A4") << QueuePrinter::Paper::KeepsA4 << u"209.9 × 297.0 mm"_s
                                      << u"缩小到 87% 打印在打印机的 210 × 297 mm 纸上"_s;
        // Larger both ways: the receipt keeps its size.
        QTest::newRow("keeps its A3") << QueuePrinter::Paper::KeepsA3 << u"297.0 × 420.2 mm"_s
                                      << u"按原大小打印在打印机的 297 × 420 mm 纸上"_s;
        QTest::newRow("turns the paper") << QueuePrinter::Paper::TurnsIt << u"93.1 × 240.9 mm"_s
                                         << u"缩小到 39% 打印在打印机的 93 × 241 mm 纸上"_s;
    }
    void paperFitted()
    {
        QFETCH(QueuePrinter::Paper, paper);
        QFETCH(QString, pageSize);
        QFETCH(QString, notice);
        m_environment->createDatabase();
        const QStringList ids {u"ID-1"_s, u"ID-2"_s};
        QVERIFY(m_environment->storeReceipt(ids[0], u"0000001"_s, u"2024-05-01 00:00:00"_s));
        QVERIFY(m_environment->storeReceipt(ids[1], u"0000002"_s, u"2024-05-01 00:00:00"_s));
        QTemporaryDir dir;
        const QString path = dir.filePath(u"r.pdf"_s);
        QueuePrinter printer(paper, path);
        QString error;
        QString told = u"left from before"_s;
        QVERIFY2(ReceiptPrinter::printReceipts(printer, ids, &error, std::nullopt, &told),
                 qPrintable(error));
        QCOMPARE(m_environment->countRaw(u"select count(*) from tb_history"_s), 2);
        QCOMPARE(pdfPages(path), QStringList(2, pageSize) + QStringList(2, u"page"_s));
        QVERIFY2(notice.isEmpty()
                     ? told.isEmpty()
                     : told.contains(notice) && told.contains(u"241 × 93 mm 的收据纸"_s)
                         && told.contains(u"添加 241 × 93 mm 的自定义尺寸"_s),
                 qPrintable(told));

        // The page scaled as a whole about the paper's corner: a label where the layout puts
        // it, times the scale.
        const QString text = pdfToText(path);
        if (text.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QCOMPARE(text.count(u'\f'), 2); // never split over more sheets
        const qreal scale = PrintJob::fittedScale(printer.paperRect(QPrinter::Point).size());
        const ReceiptPageLayout first(page, storedReceipt(ids[0]),
                                      CompanyStore::shared().company());
        const QRectF label = first.find(Item::PayerLabel)->rect;
        const auto found = wordBox(pdfWords(path), u"交款单位"_s).value_or(QRectF());
        QVERIFY2(qAbs(found.left() - label.left() * scale) < 1
                     && qAbs(found.right() - label.right() * scale) < 1,
                 qPrintable(u"%1 .. %2"_s.arg(found.left()).arg(found.right())));

        // The test page likewise.
        told.clear();
        QVERIFY(ReceiptPrinter::printAlignmentPage(printer, {}, &error, &told));
        QCOMPARE(told.isEmpty(), notice.isEmpty());
    }

    // A line every 5 mm from the paper's top-left corner, a figure every 10 mm, and the
    // fields where the receipt puts them at the offset.
    void alignmentGrid_data()
    {
        QTest::addColumn<QPointF>("mm");
        QTest::newRow("no offset") << QPointF(0, 0);
        QTest::newRow("offset") << QPointF(4.5, -2.3);
    }
    void alignmentGrid()
    {
        QFETCH(QPointF, mm);
        const PrintOptions options {.offsetX = mm.x(), .offsetY = mm.y()};
        const AlignmentPage alignment(page, options, company);
        QList<qreal> xs;
        QList<qreal> ys;
        for (const QLineF &line : alignment.gridLines()) {
            if (line.x1() == line.x2())
                xs.append(line.x1());
            else
                ys.append(line.y1());
        }
        QCOMPARE(xs.size(), 48); // 241 mm
        QCOMPARE(ys.size(), 18); // 93 mm
        for (qsizetype i = 0; i < xs.size(); ++i)
            QVERIFY(qAbs(xs[i] - (i + 1) * 5 * pointsPerMm) < 1e-9);
        for (qsizetype i = 0; i < ys.size(); ++i)
            QVERIFY(qAbs(ys[i] - (i + 1) * 5 * pointsPerMm) < 1e-9);
        QStringList labels;
        for (const auto &label : alignment.labels())
            labels.append(label.text);
        QCOMPARE(labels.size(), 24 + 9); // 10 to 240 across, 10 to 90 down

        const ReceiptPageLayout plain(page, std::nullopt, company, ReceiptPageOptions::from({}));
        QCOMPARE_GE(alignment.fields().size(), 8); // 编号, 日期, 交款单位 … 右侧标签
        for (const auto &field : alignment.fields()) {
            const auto *text = plain.find(field.item);
            QVERIFY2(text && !field.name.isEmpty(), qPrintable(field.name));
            QCOMPARE(field.rect.topLeft(),
                     text->cell.united(text->rect).topLeft() + mm * pointsPerMm);
        }
    }

    // One page, its field names where the receipt's fields go, and nothing in the history.
    void alignmentPdf()
    {
        m_environment->createDatabase();
        QTemporaryDir dir;
        const QString path = dir.filePath(u"grid.pdf"_s);
        const PrintOptions moved {.offsetX = 10};
        QVERIFY(ReceiptPrinter::printAlignmentPage(*pdfPrinter(path), moved));
        QCOMPARE(m_environment->countRaw(u"select count(*) from tb_history"_s), 0);
        const QString text = pdfToText(path);
        if (text.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QVERIFY(text.contains(u"交款单位"_s) && text.contains(u"240"_s));
        QCOMPARE(text.count(u'\f'), 1); // one page
        const AlignmentPage alignment(page, moved, CompanyStore::shared().company());
        const auto payer = wordBox(pdfWords(path), u"交款单位"_s);
        QVERIFY(payer);
        const QRectF field = std::find_if(alignment.fields().cbegin(), alignment.fields().cend(),
                                          [](const auto &f) { return f.item == Item::Payer; })
                                 ->rect;
        // The name sits a point inside the outline's corner.
        QVERIFY2(qAbs(payer->left() - field.left() - 1) < 0.5,
                 qPrintable(u"%1"_s.arg(payer->left())));
    }

private:
    // The sample receipt, stored.
    Receipt storePrintable()
    {
        m_environment->createDatabase();
        const Receipt r = printableReceipt();
        [&] {
            QVERIFY(m_environment->storeReceipt(r.id, r.receiptNo, u"2024-05-01 00:00:00"_s));
        }();
        return r;
    }

    std::unique_ptr<TestEnvironment> m_environment;
};

QUENTA_GUI_TEST_MAIN(tst_PrintOptions)
#include "tst_printoptions.moc"
