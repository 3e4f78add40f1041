// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "printhelper.h"
#include "printsettings.h"
#include "printview.h"
#include "receiptpagelayout.h"
#include "testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;

namespace {

constexpr qreal pointsPerMm = 72 / 25.4;
const QRectF page(0, 0, PrintView::paperWidth, PrintView::paperHeight);
const Company company {u"C1"_s, u"收款收据"_s, u"第二联 交财务"_s, u"开户行：工商银行"_s};

Receipt receipt(const QString &no = u"0000042"_s)
{
    return {.id = u"ID-"_s + no,
            .receiptNo = no,
            .receiptDate = QDateTime(QDate(2024, 5, 1), QTime(0, 0)),
            .payer = u"甲公司"_s,
            .reason1 = u"场地租金"_s,
            .reason2 = u"五月份"_s,
            .remark = u"已开发票"_s,
            .paytype = u"现金"_s,
            .payee = u"王丽"_s,
            .approve = u"陈建国"_s,
            .accountant = u"李敏"_s,
            .total = 3,
            .totalBig = u"叁元整"_s};
}

ReceiptPageLayout layout(const ReceiptPageOptions &options = {})
{
    return ReceiptPageLayout(page, receipt(), company, options);
}

// pdftotext -bbox: each word and its left and top edge, in reading order.
QList<std::pair<QString, QPointF>> pdfWords(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(u"pdftotext"_s);
    if (tool.isEmpty())
        return {};
    QProcess process;
    process.start(tool, {u"-bbox"_s, path, u"-"_s});
    process.waitForFinished(60000);
    static const QRegularExpression word(
        uR"re(<word xMin="([\d.]+)" yMin="([\d.]+)"[^>]*>([^<]*)</word>)re"_s);
    QList<std::pair<QString, QPointF>> words;
    for (auto it = word.globalMatch(QString::fromUtf8(process.readAllStandardOutput()));
         it.hasNext();) {
        const auto m = it.next();
        words.append({m.captured(3), QPointF(m.captured(1).toDouble(), m.captured(2).toDouble())});
    }
    return words;
}

} // namespace

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
        QVERIFY(settings.options().sideLabel && settings.options().fixedRemark);
        QVERIFY(!settings.options().reprintMark);
        QSignalSpy changed(&settings, &PrintSettings::changed);
        PrintOptions options {.offsetX = offset,
                              .offsetY = -offset,
                              .content = PrintOptions::Content::ValuesOnly,
                              .sideLabel = false,
                              .reprintMark = true,
                              .fixedRemark = false};
        settings.setOptions(options);
        settings.setOptions(options); // no change, no signal
        QCOMPARE(changed.count(), 1);
        options.offsetX = kept;
        options.offsetY = kept == 0 ? 0 : -kept;
        QCOMPARE(settings.options(), options);
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
            << QList<Item> {Item::CapitalsLabel, Item::YuanSign,     Item::Capitals,
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

    // Values only: no caption, rule or border, each value where the full page has it.
    void valuesOnlyKeepsPlaces()
    {
        const ReceiptPageLayout full = layout({.fixedRemark = true});
        const ReceiptPageLayout values = layout({.valuesOnly = true, .fixedRemark = true});
        QVERIFY(values.rules().isEmpty());
        QVERIFY(!values.hasBorder() && full.hasBorder());
        QList<Item> expected;
        for (const auto &text : full.textItems()) {
            if (ReceiptPageLayout::isValue(text.item))
                expected.append(text.item);
        }
        QList<Item> drawn;
        for (const auto &text : values.textItems()) {
            drawn.append(text.item);
            QCOMPARE(text.rect, full.find(text.item)->rect);
        }
        QCOMPARE(drawn, expected);
        QCOMPARE(drawn.size(), 13); // the twelve values and the fixed remark
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
        const ReceiptPageLayout layout(page, receipt(), header, {.fixedRemark = on});
        const auto *line = layout.find(Item::FixedRemark);
        QCOMPARE(line != nullptr, printed);
        if (!line)
            return;
        QCOMPARE(line->text, remark);
        QCOMPARE(line->font.pixelSize(),
                 ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Caption).pixelSize());
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
        m_environment->createDatabase();
        const Receipt r = receipt();
        QVERIFY(
            m_environment->execRaw(receiptInsertSql(r.id, r.receiptNo, u"2024-05-01 00:00:00"_s)));
        PrintSettings::shared().setOptions({.reprintMark = enabled});
        AppStore::shared().setReceiptPrint(r);
        QTemporaryDir dir;
        QList<bool> marked;
        for (const QString &name : {u"first.pdf"_s, u"second.pdf"_s}) {
            const QString path = dir.filePath(name);
            QVERIFY(PrintHelper::printReceiptToFile(path, page.width(), page.height()));
            const auto words = pdfWords(path);
            if (words.isEmpty())
                QSKIP("pdftotext (poppler-utils) is not installed");
            marked.append(std::any_of(words.cbegin(), words.cend(),
                                      [](const auto &w) { return w.first == u"补打"_s; }));
        }
        QCOMPARE(marked, (QList<bool> {false, enabled}));
    }

    // The PDF shows the offset too: each word lies exactly that far from where it lies
    // on an unmoved page.
    void pdfMovesByOffset()
    {
        m_environment->createDatabase();
        AppStore::shared().setReceiptPrint(receipt());
        QTemporaryDir dir;
        QList<QList<std::pair<QString, QPointF>>> pages;
        for (const QPointF mm : {QPointF(0, 0), QPointF(7.5, -4.2)}) {
            PrintSettings::shared().setOptions({.offsetX = mm.x(), .offsetY = mm.y()});
            const QString path = dir.filePath(u"page.pdf"_s);
            QVERIFY(PrintHelper::printReceiptToFile(path, page.width(), page.height()));
            pages.append(pdfWords(path));
        }
        if (pages.first().isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QCOMPARE(pages[1].size(), pages[0].size());
        const QPointF shift = QPointF(7.5, -4.2) * pointsPerMm;
        for (qsizetype i = 0; i < pages[0].size(); ++i) {
            QCOMPARE(pages[1][i].first, pages[0][i].first);
            const QPointF moved = pages[1][i].second - pages[0][i].second;
            QVERIFY2(qAbs(moved.x() - shift.x()) < 0.05 && qAbs(moved.y() - shift.y()) < 0.05,
                     qPrintable(pages[0][i].first));
        }
    }

    // Several receipts: one job, a page each in ascending number order, a history row each.
    void severalInOneJob()
    {
        m_environment->createDatabase();
        // Latin letters: the text layer of a PDF of several pages is Qt's own, which reads
        // some Chinese characters back as radicals.
        const QStringList payers {u"C"_s, u"A"_s, u"B"_s};
        const QStringList numbers {u"0000003"_s, u"0000001"_s, u"0000002"_s};
        QStringList ids;
        for (qsizetype i = 0; i < 3; ++i) {
            ids.append(u"ID-"_s + numbers[i]);
            QVERIFY(m_environment->execRaw(receiptInsertSql(
                ids.last(), numbers[i], u"2024-05-01 00:00:00"_s, payers[i] + u"公司"_s)));
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(u"three.pdf"_s);
        QVERIFY(PrintHelper::printReceiptsToFile(ids, path, page.width(), page.height()));
        QCOMPARE(m_environment->queryRaw(u"select group_concat(receiptNo) from (select receiptNo "
                                         u"from tb_history where action = 'print' order by id)"_s),
                 u"0000001,0000002,0000003"_s);
        const auto words = pdfWords(path);
        if (words.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QStringList order;
        for (const auto &[text, at] : words) {
            if (text.endsWith(u"公司"_s))
                order.append(text);
        }
        QCOMPARE(order, (QStringList {u"A公司"_s, u"B公司"_s, u"C公司"_s}));
        QCOMPARE(QString::fromLatin1([&] {
                     QFile file(path);
                     return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                 }())
                     .count(QRegularExpression(u"/Type\\s*/Page(?![a-zA-Z])"_s)),
                 3);
    }

private:
    std::unique_ptr<TestEnvironment> m_environment;
};

QTEST_MAIN(tst_PrintOptions)
#include "tst_printoptions.moc"
