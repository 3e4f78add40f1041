#include "appstore.h"
#include "clock.h"
#include "companystore.h"
#include "printhelper.h"
#include "printview.h"
#include "receiptpagelayout.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPrintDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;
using ExpectedTexts = QList<std::pair<Item, QString>>;
Q_DECLARE_METATYPE(ExpectedTexts)
Q_DECLARE_METATYPE(Receipt)
Q_DECLARE_METATYPE(Company)
Q_DECLARE_METATYPE(ReceiptPageLayout::Item)

namespace {

constexpr qreal epsilon = 0.01;
const QRectF page(0, 0, PrintView::paperWidth, PrintView::paperHeight);

Receipt sampleReceipt(const QString &receiptNo = u"0000042"_s, const QString &payer = u"甲公司"_s)
{
    Receipt r;
    r.id = u"0B7D7C4E-5D0C-4E59-9F0B-6A1B2C3D4E5F"_s;
    r.receiptNo = receiptNo;
    r.receiptDate = QDateTime(QDate(2024, 5, 1), QTime(0, 0));
    r.payer = payer;
    r.reason1 = u"场地租金"_s;
    r.reason2 = u"五月份"_s;
    r.remark = u"已开发票"_s;
    r.paytype = u"现金"_s;
    r.payee = u"王丽"_s;
    r.approve = u"陈建国"_s;
    r.accountant = u"李敏"_s;
    r.total = 1234.5;
    // Not the capitals of 1234.5 on purpose: the page prints what is stored.
    r.totalBig = u"叁元整"_s;
    return r;
}

bool contains(const QRectF &outer, const QRectF &inner)
{
    return inner.left() >= outer.left() - epsilon && inner.top() >= outer.top() - epsilon
        && inner.right() <= outer.right() + epsilon && inner.bottom() <= outer.bottom() + epsilon;
}

QString describe(const QRectF &r)
{
    return u"(%1, %2 %3×%4)"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The page dictionaries of Qt's PDF output are plain text; only content streams are
// compressed.
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int pdfPageCount(const QByteArray &pdf)
{
    static const QRegularExpression pageObject(u"/Type\\s*/Page(?![a-zA-Z])"_s);
    int count = 0;
    for (auto it = pageObject.globalMatch(QString::fromLatin1(pdf)); it.hasNext(); it.next())
        ++count;
    return count;
}

QList<QRectF> pdfMediaBoxes(const QByteArray &pdf)
{
    static const QRegularExpression mediaBox(
        u"/MediaBox\\s*\\[\\s*([-\\d.]+)\\s+([-\\d.]+)\\s+([-\\d.]+)\\s+([-\\d.]+)\\s*\\]"_s);
    QList<QRectF> boxes;
    auto it = mediaBox.globalMatch(QString::fromLatin1(pdf));
    while (it.hasNext()) {
        const auto m = it.next();
        const QPointF a(m.captured(1).toDouble(), m.captured(2).toDouble());
        const QPointF b(m.captured(3).toDouble(), m.captured(4).toDouble());
        boxes.append(QRectF(a, b).normalized());
    }
    return boxes;
}

constexpr qreal millimetres(qreal points)
{
    return points / 72 * 25.4;
}

// Text of a PDF as poppler reads it back, with word boxes; empty without pdftotext
// (scripts/setup.sh installs poppler-utils).
QString pdfToText(const QString &pdfPath, bool withBoxes = false)
{
    const QString tool = QStandardPaths::findExecutable(u"pdftotext"_s);
    if (tool.isEmpty())
        return {};
    QProcess process;
    QStringList args;
    if (withBoxes)
        args << u"-bbox"_s;
    args << pdfPath << u"-"_s;
    process.start(tool, args);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput())
        .normalized(QString::NormalizationForm_KC);
}

} // namespace

class tst_PrintView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void texts_data();
    void texts();
    void figures_data();
    void figures();
    void arrangement();
    void staysInside_data();
    void staysInside();
    void sideLabel_data();
    void sideLabel();
    void viewDrawsTheLayout();

    void pdfPage_data();
    void pdfPage();
    void pdfTextsAtTheirPlaces();
    void twoPrintsInARow();
    void unwritableFile();
    void dialogCancel();
    void dialogPrintsTheReceiptOfTheCall();

private:
    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<QTemporaryDir> m_output;
};

void tst_PrintView::init()
{
    m_environment = std::make_unique<TestEnvironment>();
    m_output = std::make_unique<QTemporaryDir>();
    Clock::pin(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)));
}

void tst_PrintView::cleanup()
{
    Clock::unpin();
    m_output.reset();
    m_environment.reset();
}

void tst_PrintView::texts_data()
{
    QTest::addColumn<bool>("withReceipt");
    QTest::addColumn<QString>("remark");
    QTest::addColumn<ExpectedTexts>("expected");

    const ExpectedTexts fixed = {
        {Item::Title, u"收款收据"_s},
        {Item::PayerLabel, u"交款单位"_s},
        {Item::Reason1Label, u"收款事由"_s},
        {Item::Reason2Label, u"其它说明"_s},
        {Item::RemarkLabel, u"备注信息"_s},
        {Item::CapitalsLabel, u"金额（大写）"_s},
        {Item::YuanSign, u"¥"_s},
        {Item::PaytypeLabel, u"收款方式"_s},
        {Item::PayeeLabel, u"收款人"_s},
        {Item::ApproveLabel, u"核准"_s},
        {Item::AccountantLabel, u"会计"_s},
        {Item::Colon, u":"_s},
    };
    QTest::newRow("receipt") << true << u"已开发票"_s
                             << (fixed
                                 + ExpectedTexts {{Item::Number, u"No.0000042"_s},
                                                  {Item::Date, u"2024-05-01"_s},
                                                  {Item::Payer, u"甲公司"_s},
                                                  {Item::Reason1, u"场地租金"_s},
                                                  {Item::Reason2, u"五月份"_s},
                                                  {Item::Remark, u"已开发票"_s},
                                                  {Item::Capitals, u"叁元整"_s},
                                                  {Item::Figures, u"1234.50"_s},
                                                  {Item::Paytype, u"现金"_s},
                                                  {Item::Payee, u"王丽"_s},
                                                  {Item::Approve, u"陈建国"_s},
                                                  {Item::Accountant, u"李敏"_s}});
    QTest::newRow("empty remark is empty, not the placeholder")
        << true << QString() << ExpectedTexts {{Item::Remark, QString()}};
    QTest::newRow("no receipt: placeholders and today")
        << false << QString()
        << (fixed
            + ExpectedTexts {{Item::Number, u"No.1234567"_s},
                             {Item::Date, u"2024-02-29"_s},
                             {Item::Payer, u"[交款单位]"_s},
                             {Item::Reason1, u"[收款事由]"_s},
                             {Item::Reason2, u"[其它说明]"_s},
                             {Item::Remark, u"[备注信息]"_s},
                             {Item::Capitals, u"零"_s},
                             {Item::Paytype, u"收款方式"_s},
                             {Item::Payee, u"收款人"_s},
                             {Item::Approve, u"核准"_s},
                             {Item::Accountant, u"会计"_s}});
}

void tst_PrintView::texts()
{
    QFETCH(bool, withReceipt);
    QFETCH(QString, remark);
    QFETCH(ExpectedTexts, expected);

    std::optional<Receipt> receipt;
    if (withReceipt) {
        receipt = sampleReceipt();
        receipt->remark = remark;
    }
    const ReceiptPageLayout layout(page, receipt, CompanyStore::shared().company());
    for (const auto &[item, text] : expected)
        QCOMPARE(layout.text(item), text);
    QCOMPARE(layout.findAll(Item::Colon).size(), 4);
    QStringList side;
    for (const auto &character : layout.findAll(Item::SideLabel))
        side.append(character.text);
    QCOMPARE(side, QStringList({u"交"_s, u"款"_s, u"人"_s, u"收"_s, u"执"_s}));
    // Every value cell keeps its rule, an empty one too: four rows, capitals, figures.
    QCOMPARE(layout.rules().size(), 6);
}

void tst_PrintView::figures_data()
{
    QTest::addColumn<double>("total");
    QTest::addColumn<QString>("expected");

    QTest::newRow("two decimals") << 1234.5 << u"1234.50"_s;
    QTest::newRow("no grouping") << 1e6 << u"1000000.00"_s;
    QTest::newRow("leading minus") << -5.0 << u"-5.00"_s;
    QTest::newRow("rounded") << 99.999 << u"100.00"_s;
    QTest::newRow("zero") << 0.0 << u"0.00"_s;
    QTest::newRow("1e15 fits whole") << 1e15 << u"1000000000000000.00"_s;
}

void tst_PrintView::figures()
{
    QFETCH(double, total);
    QFETCH(QString, expected);

    Receipt receipt = sampleReceipt();
    receipt.total = total;
    const ReceiptPageLayout layout(page, receipt, Company());
    const auto *figures = layout.find(Item::Figures);
    QVERIFY(figures);
    // A cut-off amount would print a different amount: it must shrink, never elide.
    QCOMPARE(figures->text, expected);
    QVERIFY(QFontMetricsF(figures->font).horizontalAdvance(figures->text)
            <= figures->cell.width() + epsilon);
    QCOMPARE_LE(figures->rect.right(), figures->cell.right() + epsilon);
    QCOMPARE_GE(figures->rect.right(), figures->cell.right() - epsilon);
}

void tst_PrintView::arrangement()
{
    const ReceiptPageLayout layout(page, sampleReceipt(), CompanyStore::shared().company());
    const QRectF table = layout.tableRect();
    const auto rect = [&](Item item) {
        return layout.find(item)->rect;
    };
    const auto fuzzy = [](qreal a, qreal b) {
        return qAbs(a - b) < epsilon;
    };

    // Header: number over date at the right end (which lines up with the table's right
    // edge), the title centred on the band between 20 left and 10 right of the body.
    QVERIFY(fuzzy(rect(Item::Number).right(), table.right()));
    QVERIFY(fuzzy(rect(Item::Date).right(), table.right()));
    QCOMPARE_GE(rect(Item::Date).top(), rect(Item::Number).bottom() - epsilon);
    const qreal bandCentre = (table.left() - 60 + 20 + table.right()) / 2;
    QVERIFY(fuzzy(rect(Item::Title).center().x(), bandCentre));
    QVERIFY(qAbs(rect(Item::Title).center().y()
                 - (rect(Item::Number).top() + rect(Item::Date).bottom()) / 2)
            < 1);
    QCOMPARE_LT(rect(Item::Date).bottom(), table.top());
    QCOMPARE_LT(rect(Item::Title).bottom(), table.top());

    // Rows: labels 30 inside the border, value texts 10 into their cells, rules 30 short
    // of the right side of the border, rows evenly spaced.
    const Item labels[] = {Item::PayerLabel, Item::Reason1Label, Item::Reason2Label,
                           Item::RemarkLabel, Item::CapitalsLabel};
    const Item values[] = {Item::Payer, Item::Reason1, Item::Reason2, Item::Remark, Item::Capitals};
    for (int i = 0; i < 5; ++i) {
        QVERIFY(fuzzy(rect(labels[i]).left(), table.left() + 30));
        QVERIFY(fuzzy(rect(values[i]).left(), layout.rules()[i].x1() + 10));
        QVERIFY(fuzzy(layout.rules()[i].x1(), rect(labels[i]).right() + 10));
        QVERIFY(contains(table, rect(labels[i])));
        // The rule lies directly under its text.
        QVERIFY(qAbs(layout.rules()[i].y1() - rect(values[i]).bottom()) <= 0.5 + epsilon);
    }
    for (int i = 0; i < 4; ++i)
        QVERIFY(fuzzy(layout.rules()[i].x2(), table.right() - 30));
    const qreal pitch = rect(Item::Reason1Label).top() - rect(Item::PayerLabel).top();
    QVERIFY(fuzzy(rect(Item::RemarkLabel).top() - rect(Item::Reason2Label).top(), pitch));
    QVERIFY(fuzzy(pitch, layout.rules()[0].y1() + 0.5 - rect(Item::Payer).top() + 15));

    // Amount row: capitals cell, 10, "¥", 10, a 100-wide figures cell at the row's end,
    // figures 10 in from its right.
    const QLineF figuresRule = layout.rules()[5];
    QVERIFY(fuzzy(figuresRule.length(), 100));
    QVERIFY(fuzzy(figuresRule.x2(), table.right() - 30));
    QVERIFY(fuzzy(rect(Item::Figures).right(), figuresRule.x2() - 10));
    QVERIFY(fuzzy(rect(Item::YuanSign).right() + 10, figuresRule.x1()));
    QVERIFY(fuzzy(layout.rules()[4].x2() + 10, rect(Item::YuanSign).left()));
    QVERIFY(contains(table, rect(Item::Figures)));

    // Footer: four groups from 90 right of the body's left to 100 short of its right,
    // evenly spaced, "label", 2, ":", 2, "value" inside each.
    const Item groups[][2] = {{Item::PaytypeLabel, Item::Paytype},
                              {Item::PayeeLabel, Item::Payee},
                              {Item::ApproveLabel, Item::Approve},
                              {Item::AccountantLabel, Item::Accountant}};
    QVERIFY(fuzzy(rect(Item::PaytypeLabel).left(), table.left() - 60 + 90));
    QVERIFY(fuzzy(rect(Item::Accountant).right(), table.right() + 10 - 100));
    const auto colons = layout.findAll(Item::Colon);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE_GT(rect(groups[i][0]).top(), table.bottom());
        QVERIFY(fuzzy(colons[i].rect.left() - rect(groups[i][0]).right(), 2));
        QVERIFY(fuzzy(rect(groups[i][1]).left() - colons[i].rect.right(), 2));
    }
    const qreal gap = rect(Item::PayeeLabel).left() - rect(Item::Paytype).right();
    QCOMPARE_GT(gap, 0);
    QVERIFY(fuzzy(rect(Item::ApproveLabel).left() - rect(Item::Payee).right(), gap));
    QVERIFY(fuzzy(rect(Item::AccountantLabel).left() - rect(Item::Approve).right(), gap));

    // The label column, 15 wide, 50 and the page's own space from the right edge.
    for (const auto &character : layout.findAll(Item::SideLabel)) {
        QVERIFY(fuzzy(character.cell.width(), 15));
        QVERIFY(fuzzy(character.cell.right(), page.right() - 50 - ReceiptPageLayout::defaultSpace));
        QCOMPARE_GT(character.cell.left(), table.right() + 10);
    }
}

void tst_PrintView::staysInside_data()
{
    QTest::addColumn<Receipt>("receipt");
    QTest::addColumn<Company>("company");
    QTest::addColumn<Item>("elided");

    const Company company {u"id"_s, u"收款收据"_s, u"交款人收执"_s, QString()};
    Receipt longPayer = sampleReceipt();
    longPayer.payer = QString(200, u'款');
    QTest::newRow("200-character payer") << longPayer << company << Item::Payer;

    Receipt latin = sampleReceipt();
    latin.reason1 = QString(300, u'W');
    QTest::newRow("one long word") << latin << company << Item::Reason1;

    Receipt hostile = sampleReceipt();
    hostile.remark = u"第一行\n第二行\t'); --\0 👍🏽 "_s.repeated(30);
    QTest::newRow("line breaks, NUL, emoji") << hostile << company << Item::Remark;

    Receipt footer = sampleReceipt();
    footer.paytype = QString(50, u'转');
    footer.payee = QString(50, u'王');
    footer.approve = QString(50, u'陈');
    footer.accountant = QString(50, u'李');
    QTest::newRow("long footer names") << footer << company << Item::Accountant;

    Receipt capitals = sampleReceipt();
    capitals.totalBig = u"壹佰贰拾叁万肆仟伍佰陆拾柒亿捌仟玖佰零壹万贰仟叁佰肆拾伍元陆角柒分"_s;
    capitals.total = -1e300;
    QTest::newRow("huge amount") << capitals << company << Item::Capitals;

    Receipt number = sampleReceipt(QString(80, u'9'));
    QTest::newRow("long number") << number << company << Item::Number;

    const Company longHeader {u"id"_s, QString(60, u'题'), QString(30, u'签'), QString()};
    QTest::newRow("60-character title, 30-character label")
        << sampleReceipt() << longHeader << Item::Title;
}

void tst_PrintView::staysInside()
{
    QFETCH(Receipt, receipt);
    QFETCH(Company, company);
    QFETCH(Item, elided);

    const ReceiptPageLayout layout(page, receipt, company);
    const QRectF table = layout.tableRect();
    QVERIFY(contains(page, table));
    const auto &texts = layout.textItems();
    for (const auto &text : texts) {
        const QString where
            = u"%1 %2 in %3"_s.arg(int(text.item)).arg(describe(text.rect), describe(text.cell));
        QVERIFY2(contains(text.cell, text.rect), qPrintable(where));
        QVERIFY2(contains(page, text.cell), qPrintable(where));
        QVERIFY2(QFontMetricsF(text.font).horizontalAdvance(text.text)
                         <= text.cell.width() + epsilon
                     || text.item == Item::SideLabel,
                 qPrintable(where));
        QVERIFY2(!text.text.contains(u'\n') && !text.text.contains(QChar(0)), qPrintable(where));
    }
    // No text runs into another, and the table's texts stay off the border line.
    for (qsizetype i = 0; i < texts.size(); ++i) {
        for (qsizetype j = i + 1; j < texts.size(); ++j) {
            const QRectF overlap = texts[i].rect.intersected(texts[j].rect);
            QVERIFY2(overlap.width() < epsilon || overlap.height() < epsilon,
                     qPrintable(u"%1 and %2"_s.arg(int(texts[i].item)).arg(int(texts[j].item))));
        }
    }
    const QRectF insideBorder = table.adjusted(1, 1, -1, -1);
    for (Item item : {Item::Payer, Item::Reason1, Item::Reason2, Item::Remark, Item::Capitals,
                      Item::Figures, Item::YuanSign}) {
        QVERIFY(contains(insideBorder, layout.find(item)->rect));
    }
    for (const QLineF &rule : layout.rules())
        QVERIFY(contains(insideBorder, QRectF(rule.p1(), rule.p2()).normalized()));

    const QString shown = layout.text(elided);
    QVERIFY2(shown.endsWith(u'…'), qPrintable(shown));
    QVERIFY(shown.size() > 1);
}

void tst_PrintView::sideLabel_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("five characters, five lines")
        << u"交款人收执"_s << QStringList {u"交"_s, u"款"_s, u"人"_s, u"收"_s, u"执"_s};
    QTest::newRow("an emoji with its skin tone is one character")
        << u"存👍🏽根"_s << QStringList {u"存"_s, u"👍🏽"_s, u"根"_s};
    QTest::newRow("empty") << QString() << QStringList();
    QStringList cut(15, u"签"_s);
    cut.append(u"︙"_s);
    QTest::newRow("30 characters end in an ellipsis") << QString(30, u'签') << cut;
}

void tst_PrintView::sideLabel()
{
    QFETCH(QString, label);
    QFETCH(QStringList, lines);

    const ReceiptPageLayout layout(page, std::nullopt, Company {QString(), u"收据"_s, label, {}});
    const auto characters = layout.findAll(Item::SideLabel);
    QStringList shown;
    for (const auto &character : characters)
        shown.append(character.text);
    // The fit depends on the font's line height; what matters is that the label is cut
    // only when it has to be, and then shows it.
    if (lines.size() > 5 && shown.size() != lines.size()) {
        QCOMPARE_LT(shown.size(), label.size());
        QCOMPARE(shown.last(), u"︙"_s);
    } else {
        QCOMPARE(shown, lines);
    }
    for (qsizetype i = 1; i < characters.size(); ++i) {
        QCOMPARE_GE(characters[i].rect.top(), characters[i - 1].rect.bottom() - epsilon);
        QVERIFY(qAbs(characters[i].cell.center().x() - characters[0].cell.center().x()) < epsilon);
    }
    if (!characters.isEmpty()) {
        QVERIFY(contains(
            page.adjusted(ReceiptPageLayout::defaultSpace, ReceiptPageLayout::defaultSpace,
                          -ReceiptPageLayout::defaultSpace, -ReceiptPageLayout::defaultSpace),
            characters.first().rect.united(characters.last().rect)));
    }
}

void tst_PrintView::viewDrawsTheLayout()
{
    AppStore::shared().setReceiptPrint(sampleReceipt());
    PrintView view;
    QCOMPARE(view.size(), QSize(684, 264));
    QCOMPARE(view.pageLayout().text(Item::Payer), u"甲公司"_s);
    const QImage picture = view.grab().toImage();
    const QRectF table = view.pageLayout().tableRect();
    QCOMPARE(picture.pixelColor(1, 1), QColor(Qt::white));
    const QPoint onBorder(int(table.center().x()), int(table.top()));
    QCOMPARE_LT(picture.pixelColor(onBorder).lightness(), 128);

    // Loading another receipt shows it at once.
    AppStore::shared().setReceiptPrint(sampleReceipt(u"7"_s, u"乙方"_s));
    QCOMPARE(view.pageLayout().text(Item::Number), u"No.7"_s);
}

void tst_PrintView::pdfPage_data()
{
    QTest::addColumn<bool>("withReceipt");
    QTest::addColumn<QString>("payer");

    QTest::newRow("receipt") << true << u"甲公司"_s;
    QTest::newRow("no receipt") << false << QString();
    QTest::newRow("200-character payer") << true << QString(200, u'款');
}

void tst_PrintView::pdfPage()
{
    QFETCH(bool, withReceipt);
    QFETCH(QString, payer);

    if (withReceipt)
        AppStore::shared().setReceiptPrint(sampleReceipt(u"0000042"_s, payer));
    const QString path = m_output->filePath(u"receipt.pdf"_s);
    QVERIFY(PrintHelper::printReceiptToFile(path, PrintView::paperWidth, PrintView::paperHeight));
    const QByteArray pdf = readFile(path);
    QCOMPARE(pdfPageCount(pdf), 1);
    const QList<QRectF> boxes = pdfMediaBoxes(pdf);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(qAbs(millimetres(boxes.first().width()) - 241) < 0.1, qPrintable(describe(boxes[0])));
    QVERIFY2(qAbs(millimetres(boxes.first().height()) - 93) < 0.1, qPrintable(describe(boxes[0])));
}

void tst_PrintView::pdfTextsAtTheirPlaces()
{
    AppStore::shared().setReceiptPrint(sampleReceipt());
    const QString path = m_output->filePath(u"receipt.pdf"_s);
    QVERIFY(PrintHelper::printReceiptToFile(path, PrintView::paperWidth, PrintView::paperHeight));
    const QString boxes = pdfToText(path, true);
    if (boxes.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");

    // Read back from the printed file: each text at the place the layout gave it, which
    // holds only with no margins and no scaling between the layout and the paper.
    const ReceiptPageLayout layout(page, sampleReceipt(), CompanyStore::shared().company());
    static const QRegularExpression word(
        uR"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"_s);
    QHash<QString, QRectF> words;
    for (auto it = word.globalMatch(boxes); it.hasNext();) {
        const auto m = it.next();
        words.insert(m.captured(5),
                     QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                            QPointF(m.captured(3).toDouble(), m.captured(4).toDouble())));
    }
    // Qt's PDF maps the digit glyphs that follow "No." to no character, so the number
    // line cannot be read back; the document title carries the number instead.
    QStringEncoder utf16(QStringEncoder::Utf16BE);
    const QByteArray title = utf16.encode(u"No.0000042"_s);
    QVERIFY(readFile(path).contains(title));
    for (Item item :
         {Item::Title, Item::Date, Item::Payer, Item::Reason1, Item::Reason2, Item::Remark,
          Item::Capitals, Item::Figures, Item::CapitalsLabel, Item::YuanSign}) {
        const auto *text = layout.find(item);
        const QString readBack = text->text.normalized(QString::NormalizationForm_KC);
        QVERIFY2(words.contains(readBack), qPrintable(text->text));
        const QRectF printed = words.value(readBack);
        QVERIFY2(qAbs(printed.left() - text->rect.left()) < 1, qPrintable(text->text));
        QVERIFY2(qAbs(printed.right() - text->rect.right()) < 1, qPrintable(text->text));
        QVERIFY2(contains(text->rect.adjusted(-1, -1, 1, 1), printed), qPrintable(text->text));
    }
    const QString plain = pdfToText(path);
    for (const QString &expected :
         {u"收款方式"_s, u"现金"_s, u"收款人"_s, u"王丽"_s, u"核准"_s, u"陈建国"_s, u"会计"_s,
          u"李敏"_s, u"交款单位"_s, u"收款事由"_s, u"其它说明"_s, u"备注信息"_s}) {
        QVERIFY2(plain.contains(expected), qPrintable(expected));
    }
    for (const QString &character : {u"交"_s, u"款"_s, u"人"_s, u"收"_s, u"执"_s})
        QVERIFY(words.contains(character));
}

void tst_PrintView::twoPrintsInARow()
{
    const QString first = m_output->filePath(u"first.pdf"_s);
    const QString second = m_output->filePath(u"second.pdf"_s);
    AppStore::shared().setReceiptPrint(sampleReceipt(u"0000001"_s, u"甲公司"_s));
    QVERIFY(PrintHelper::printReceiptToFile(first, PrintView::paperWidth, PrintView::paperHeight));
    AppStore::shared().setReceiptPrint(sampleReceipt(u"0000002"_s, u"乙公司"_s));
    QVERIFY(PrintHelper::printReceiptToFile(second, PrintView::paperWidth, PrintView::paperHeight));

    const QString firstText = pdfToText(first);
    const QString secondText = pdfToText(second);
    if (firstText.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QVERIFY(firstText.contains(u"甲公司"_s));
    QVERIFY(!firstText.contains(u"乙公司"_s));
    QVERIFY(secondText.contains(u"乙公司"_s));
    QVERIFY(!secondText.contains(u"甲公司"_s));
}

void tst_PrintView::unwritableFile()
{
    AppStore::shared().setReceiptPrint(sampleReceipt());
    const QString path = m_output->filePath(u"missing/folder/receipt.pdf"_s);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".*"_s));
    QVERIFY(!PrintHelper::printReceiptToFile(path, PrintView::paperWidth, PrintView::paperHeight));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!PrintHelper::printReceiptToFile(m_output->filePath(u"a.pdf"_s), 0,
                                             PrintView::paperHeight));
}

void tst_PrintView::dialogCancel()
{
    AppStore::shared().setReceiptPrint(sampleReceipt());
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
        seen = dialog != nullptr;
        if (dialog)
            dialog->reject();
    });
    PrintHelper::printReceipt(PrintView::paperWidth, PrintView::paperHeight);
    QVERIFY(seen);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!QApplication::activeModalWidget());
}

void tst_PrintView::dialogPrintsTheReceiptOfTheCall()
{
    AppStore::shared().setReceiptPrint(sampleReceipt(u"0000001"_s, u"甲公司"_s));
    const QString path = m_output->filePath(u"dialog.pdf"_s);
    QString problem = u"no print dialog"_s;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        // A change while the dialog is open does not reach the job already asked for.
        AppStore::shared().setReceiptPrint(sampleReceipt(u"0000002"_s, u"乙公司"_s));
        auto *printers = dialog->findChild<QComboBox *>(u"printers"_s);
        auto *fileName = dialog->findChild<QLineEdit *>(u"filename"_s);
        const int pdfEntry = printers ? printers->findText(u"PDF"_s, Qt::MatchContains) : -1;
        if (pdfEntry < 0 || !fileName) {
            problem = u"the dialog has no print-to-file entry"_s;
            dialog->reject();
            return;
        }
        problem.clear();
        printers->setCurrentIndex(pdfEntry);
        fileName->setText(path);
        dialog->accept();
    });
    PrintHelper::printReceipt(PrintView::paperWidth, PrintView::paperHeight);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QByteArray pdf = readFile(path);
    QCOMPARE(pdfPageCount(pdf), 1);
    const QList<QRectF> boxes = pdfMediaBoxes(pdf);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(qAbs(millimetres(boxes.first().width()) - 241) < 0.1, qPrintable(describe(boxes[0])));
    QVERIFY2(qAbs(millimetres(boxes.first().height()) - 93) < 0.1, qPrintable(describe(boxes[0])));
    const QString text = pdfToText(path);
    if (text.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QVERIFY(text.contains(u"甲公司"_s));
    QVERIFY(!text.contains(u"乙公司"_s));
}

QTEST_MAIN(tst_PrintView)
#include "tst_printview.moc"
