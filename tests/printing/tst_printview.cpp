// SPDX-License-Identifier: GPL-3.0-or-later
#include "alignmentpage.h"
#include "appstore.h"
#include "clock.h"
#include "companystore.h"
#include "pdftextlayer.h"
#include "receiptbook.h"
#include "receiptpagelayout.h"
#include "receiptprinter.h"
#include "testsupport.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;
Q_DECLARE_METATYPE(Receipt)
Q_DECLARE_METATYPE(Company)
Q_DECLARE_METATYPE(QList<ReceiptPageLayout::Item>)

namespace {

constexpr qreal epsilon = 0.01;
const QRectF page(0, 0, ReceiptPrinter::paperWidth, ReceiptPrinter::paperHeight);
// One page of 241 × 93 mm, to 0.1 mm: the receipt paper, with nothing added around it.
const QStringList onePaperPage = {u"241.0 × 93.0 mm"_s, u"page"_s};

bool contains(const QRectF &outer, const QRectF &inner)
{
    return inner.left() >= outer.left() - epsilon && inner.top() >= outer.top() - epsilon
        && inner.right() <= outer.right() + epsilon && inner.bottom() <= outer.bottom() + epsilon;
}

// AppStore::receiptPrint to a PDF file, as the window's 打印 prints it.
bool printToFile(const QString &path)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    QString error;
    const bool printed = ReceiptPrinter::printCurrentReceipt(printer, &error);
    if (!error.isEmpty())
        qWarning("%s", qUtf8Printable(error));
    return printed;
}

// The document's title as viewers show it (pdfinfo, beside pdftotext in poppler-utils).
QString pdfTitle(const QString &path)
{
    QProcess process;
    process.start(u"pdfinfo"_s, {u"-enc"_s, u"UTF-8"_s, path});
    process.waitForFinished(60000);
    static const QRegularExpression title(u"^Title:\\s*(.*)$"_s,
                                          QRegularExpression::MultilineOption);
    return title.match(QString::fromUtf8(process.readAllStandardOutput())).captured(1);
}

// The Kangxi radicals and the CJK radicals, which Qt's own text layer gives for characters
// that share their glyphs (⾦ for 金).
bool hasRadical(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() >= 0x2e80 && c.unicode() <= 0x2fdf; });
}

// A text where the form puts it: its line's box (advance by line height) and size.
struct Placed
{
    Item item;
    QString text;
    QRectF rect;
    int pixelSize;
};

// The page of a receipt whose values all fit, worked out from the form's own measures (in
// points) and the fonts' metrics alone: the body and the side label centred in the page
// less the default space; the header band with the title centred and the number over the
// date at its right end; four value rows and the amount row 15 apart inside the border;
// the footer's four groups spread from its left end to its right end.
QList<Placed> designedPage(const Receipt &r, const Company &company)
{
    const QFont caption = ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Caption);
    const QFont subheadline = ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Subheadline);
    const QFont title = ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Title);
    QList<Placed> placed;
    const auto place = [&](Item item, const QString &text, const QFont &font, qreal x, qreal y) {
        const QFontMetricsF metrics(font);
        placed.append({item, text, QRectF(x, y, metrics.horizontalAdvance(text), metrics.height()),
                       font.pixelSize()});
        return placed.last().rect;
    };
    const auto advance = [](const QFont &font, const QString &text) {
        return QFontMetricsF(font).horizontalAdvance(text);
    };
    const qreal s = ReceiptPageLayout::defaultSpace;
    const qreal line = QFontMetricsF(caption).height();
    const qreal sub = QFontMetricsF(subheadline).height();
    const qreal rule = 1;
    // Besides the form's measures, the page keeps 6 between the border and the first and
    // last row: room for a value's second line.
    const qreal tablePadding = 6;

    const QRectF content = page.adjusted(s, s, -s, -s);
    const qreal bodyWidth = content.width() - s - 15 - 50;
    const qreal bandHeight = std::max(QFontMetricsF(title).height(), sub + line);
    const qreal amountRow = std::max(line, sub) + rule;
    const qreal tableHeight = 2 * tablePadding + 4 * (line + rule) + amountRow + 4 * 15;
    const qreal bodyHeight = s + bandHeight + s + tableHeight + s + line + s;
    const qreal top = content.center().y() - bodyHeight / 2;

    const QRectF band(content.left() + 20, top + s, bodyWidth - 30, bandHeight);
    place(Item::Title, company.title, title, band.center().x() - advance(title, company.title) / 2,
          band.center().y() - QFontMetricsF(title).height() / 2);
    const QString number = u"No."_s + r.receiptNo;
    const QString date = r.receiptDate.toString(u"yyyy-MM-dd"_s);
    const qreal numberTop = band.center().y() - (sub + line) / 2;
    place(Item::Number, number, subheadline, band.right() - advance(subheadline, number),
          numberTop);
    place(Item::Date, date, caption, band.right() - advance(caption, date), numberTop + sub);

    const QRectF table(content.left() + 60, band.bottom() + s, bodyWidth - 70, tableHeight);
    const qreal rowLeft = table.left() + 30;
    const std::tuple<Item, QString, Item, QString> rows[] = {
        {Item::PayerLabel, u"交款单位"_s, Item::Payer, r.payer},
        {Item::Reason1Label, u"收款事由"_s, Item::Reason1, r.reason1},
        {Item::Reason2Label, u"其它说明"_s, Item::Reason2, r.reason2},
        {Item::RemarkLabel, u"备注信息"_s, Item::Remark, r.remark},
    };
    qreal rowTop = table.top() + tablePadding;
    for (const auto &[label, labelText, value, valueText] : rows) {
        const QRectF shown = place(label, labelText, caption, rowLeft, rowTop + rule / 2);
        place(value, valueText, caption, shown.right() + 10 + 10, rowTop);
        rowTop += line + rule + 15;
    }
    const QRectF capitalsLabel = place(Item::CapitalsLabel, u"金额（大写）"_s, caption, rowLeft,
                                       rowTop + (amountRow - line) / 2);
    place(Item::Capitals, r.totalBig, caption, capitalsLabel.right() + 10 + 10,
          rowTop + (amountRow - line - rule) / 2);
    // The figures end 10 short of the row's end, whatever their length; their ¥, in their
    // font, half a point before the first digit.
    const qreal figuresRight = table.right() - 30 - 10;
    const QString figures = QString::asprintf("%.2f", r.total);
    const qreal figuresTop = rowTop + (amountRow - sub - rule) / 2 - 1;
    const qreal figuresLeft = figuresRight - advance(subheadline, figures);
    place(Item::YuanSign, u"¥"_s, subheadline, figuresLeft - 0.5 - advance(subheadline, u"¥"_s),
          figuresTop);
    place(Item::Figures, figures, subheadline, figuresLeft, figuresTop);

    const QRectF footer(content.left() + 90, table.bottom() + s, bodyWidth - 190, line);
    const std::tuple<Item, QString, Item, QString> groups[] = {
        {Item::PaytypeLabel, u"收款方式"_s, Item::Paytype, r.paytype},
        {Item::PayeeLabel, u"收款人"_s, Item::Payee, r.payee},
        {Item::ApproveLabel, u"核准"_s, Item::Approve, r.approve},
        {Item::AccountantLabel, u"会计"_s, Item::Accountant, r.accountant},
    };
    qreal groupsWidth = 0;
    for (const auto &[label, labelText, value, valueText] : groups)
        groupsWidth += advance(caption, labelText + u":"_s + valueText) + 2 * 2;
    const qreal gap = (footer.width() - groupsWidth) / 3;
    qreal x = footer.left();
    for (const auto &[label, labelText, value, valueText] : groups) {
        x = place(label, labelText, caption, x, footer.top()).right() + 2;
        x = place(Item::Colon, u":"_s, caption, x, footer.top()).right() + 2;
        x = place(value, valueText, caption, x, footer.top()).right() + gap;
    }

    const qreal columnLeft = content.left() + bodyWidth + s;
    const QStringList characters = ReceiptPageLayout::verticalLabelLines(company.label);
    const qreal sideTop = content.center().y() - (qreal(characters.size()) * line + s) / 2;
    for (qsizetype i = 0; i < characters.size(); ++i)
        place(Item::SideLabel, characters[i], caption,
              columnLeft + (15 - advance(caption, characters[i])) / 2, sideTop + qreal(i) * line);
    return placed;
}

} // namespace

class tst_PrintView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_output = std::make_unique<QTemporaryDir>();
        Clock::pin(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)));
    }
    void cleanup()
    {
        Clock::unpin();
        m_output.reset();
        m_environment.reset();
    }

    void fittingValuesAsDesigned_data();
    void fittingValuesAsDesigned();
    void staysInside_data();
    void staysInside();
    void yuanSignBeforeTheFirstDigit_data();
    void yuanSignBeforeTheFirstDigit();
    void pdfGivesBackText_data();
    void pdfGivesBackText();
    void everyPageGivesBackText_data();
    void everyPageGivesBackText();
    void unreadablePdfLeftAlone_data();
    void unreadablePdfLeftAlone();

private:
    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<QTemporaryDir> m_output;
};

void tst_PrintView::fittingValuesAsDesigned_data()
{
    QTest::addColumn<Receipt>("receipt");
    QTest::addColumn<Company>("company");

    const Company header {u"id"_s, u"收款收据"_s, u"交款人收执"_s, QString()};
    QTest::newRow("sample") << printableReceipt() << header;
    // The footer's groups leave less than 20 between each other, more than the default space.
    Receipt bank = printableReceipt(u"0001234"_s, u"杭州青禾文化传播有限公司"_s);
    bank.paytype = u"银行转账（中国工商银行）"_s;
    bank.payee = u"王丽华"_s;
    bank.approve = u"陈建国"_s;
    bank.accountant = u"李敏慧"_s;
    QTest::newRow("bank transfer, names of three") << bank << header;
    // Centred, the title ends less than 20 short of the number, more than the default space.
    QTest::newRow("24-character title, 7-digit number")
        << printableReceipt(u"1234567"_s)
        << Company {u"id"_s, u"北京市海淀区启明教育培训中心二〇二四年度收款收据"_s, u"存根"_s, {}};
    Receipt full = printableReceipt(u"0000042"_s, u"杭州青禾文化传播有限公司"_s.repeated(3));
    full.reason1 = u"2024年第二季度场地租金及设备使用费"_s;
    full.total = -999999.99;
    full.totalBig = u"负玖拾玖万玖仟玖佰玖拾玖元玖角玖分"_s;
    QTest::newRow("36-character payer, six-figure amount") << full << header;
}

// Values that fit are where the form puts them, at the size it gives them: only what does
// not fit is made smaller, broken or moved.
void tst_PrintView::fittingValuesAsDesigned()
{
    QFETCH(Receipt, receipt);
    QFETCH(Company, company);
    const ReceiptPageLayout layout(page, receipt, company);
    QMap<Item, qsizetype> seen;
    for (const Placed &designed : designedPage(receipt, company)) {
        const QList<ReceiptPageLayout::TextItem> all = layout.findAll(designed.item);
        const qsizetype index = seen[designed.item]++;
        QVERIFY2(index < all.size(), qPrintable(designed.text));
        const ReceiptPageLayout::TextItem &drawn = all[index];
        const auto describe = [](const QRectF &r, int size) {
            return u"(%1, %2) %3 × %4 at %5 px"_s.arg(r.x())
                .arg(r.y())
                .arg(r.width())
                .arg(r.height())
                .arg(size);
        };
        QVERIFY2(drawn.text == designed.text && drawn.lineCount == 1
                     && qAbs(drawn.rect.left() - designed.rect.left()) < epsilon
                     && qAbs(drawn.rect.top() - designed.rect.top()) < epsilon
                     && qAbs(drawn.rect.width() - designed.rect.width()) < epsilon
                     && qAbs(drawn.rect.height() - designed.rect.height()) < epsilon
                     && drawn.font.pixelSize() == designed.pixelSize,
                 qPrintable(u"%1 %2: drawn %3, designed %4"_s.arg(
                     ReceiptPageLayout::itemName(designed.item), designed.text,
                     describe(drawn.rect, drawn.font.pixelSize()),
                     describe(designed.rect, designed.pixelSize))));
    }
}

void tst_PrintView::staysInside_data()
{
    QTest::addColumn<Receipt>("receipt");
    QTest::addColumn<Company>("company");
    QTest::addColumn<QList<Item>>("elided"); // exactly these end in "…", the rest print whole
    QTest::addColumn<QList<Item>>("smaller"); // drawn smaller or on two lines, yet whole
    QTest::addColumn<QStringList>("side");
    QTest::addColumn<QString>("figures"); // as "%.2f": shrunk to fit, never cut

    const Company header {u"id"_s, u"收款收据"_s, u"交款人收执"_s, QString()};
    const QStringList headerSide {u"交"_s, u"款"_s, u"人"_s, u"收"_s, u"执"_s};
    QTest::newRow("sample") << printableReceipt() << header << QList<Item>() << QList<Item>()
                            << headerSide << u"1234.50"_s;
    Receipt largest = printableReceipt();
    largest.total = -999999999999.99;
    largest.totalBig = u"负玖仟玖佰玖拾玖亿玖仟玖佰玖拾玖万玖仟玖佰玖拾玖元玖角玖分"_s;
    QTest::newRow("largest negative amount")
        << largest << header << QList<Item>() << QList<Item> {Item::Capitals, Item::Figures}
        << headerSide << u"-999999999999.99"_s;
    const Receipt longPayer
        = printableReceipt(u"0000042"_s, u"杭州青禾文化传播有限公司"_s.repeated(5));
    QTest::newRow("60-character payer") << longPayer << header << QList<Item>()
                                        << QList<Item> {Item::Payer} << headerSide << u"1234.50"_s;
    Receipt longRemark = printableReceipt();
    longRemark.reason1 = u"2024年第二季度场地租金及设备使用费"_s.repeated(4); // two lines
    longRemark.remark = u"银行转账已到账，发票随后寄出。"_s.repeated(20);
    QTest::newRow("two-line reason, 300-character remark")
        << longRemark << header << QList<Item> {Item::Remark}
        << QList<Item> {Item::Reason1, Item::Remark} << headerSide << u"1234.50"_s;
    QTest::newRow("long title, 19-digit number")
        << printableReceipt(u"9223372036854775807"_s)
        << Company {u"id"_s, u"北京市海淀区启明教育培训中心收款收据"_s, u"交款人收执"_s, {}}
        << QList<Item>() << QList<Item>() << headerSide << u"1234.50"_s;
    Receipt cjk = printableReceipt(QString(64, u'9'), QString(200, u'款')); // the longest number
    for (QString Receipt::*name :
         {&Receipt::paytype, &Receipt::payee, &Receipt::approve, &Receipt::accountant})
        cjk.*name = QString(50, u'陈');
    cjk.totalBig = u"壹佰贰拾叁万肆仟伍佰陆拾柒亿捌仟玖佰零壹万贰仟叁佰肆拾伍元陆角柒分"_s;
    cjk.total = -5;
    QTest::newRow("long Chinese texts, 30-character label")
        << cjk << Company {u"id"_s, QString(60, u'题'), QString(30, u'签'), QString()}
        << QList<Item> {Item::Title, Item::Payer,   Item::Paytype,
                        Item::Payee, Item::Approve, Item::Accountant}
        << QList<Item> {Item::Number, Item::Capitals}
        << QStringList(15, u"签"_s) + QStringList {u"︙"_s} << u"-5.00"_s;
    // Pasted by mistake: a megabyte of payer and of title still makes a page at once.
    Receipt huge = printableReceipt(u"0000042"_s, QString(1024 * 1024, u'款'));
    QTest::newRow("megabyte payer and title")
        << huge << Company {u"id"_s, QString(1024 * 1024, u'题'), u"交款人收执"_s, QString()}
        << QList<Item> {Item::Title, Item::Payer} << QList<Item> {Item::Payer} << headerSide
        << u"1234.50"_s;
    Receipt latin = printableReceipt();
    latin.reason1 = QString(300, u'W');
    latin.remark = u"第一行\n第二行\t'); --\0 👍🏽 "_s.repeated(30);
    latin.total = 1e15;
    QTest::newRow("one long word; line breaks, NUL, emoji; emoji label")
        << latin << Company {u"id"_s, u"收款收据"_s, u"存👍🏽根"_s, QString()}
        << QList<Item> {Item::Reason1, Item::Remark} << QList<Item> {Item::Figures}
        << QStringList {u"存"_s, u"👍🏽"_s, u"根"_s} << u"1000000000000000.00"_s;
    Receipt rounded = printableReceipt();
    rounded.total = 99.999;
    rounded.remark.clear(); // empty, not the placeholder
    QTest::newRow("empty label and remark, rounded amount")
        << rounded << Company {u"id"_s, u"收据"_s, {}, {}} << QList<Item>() << QList<Item>()
        << QStringList() << u"100.00"_s;
    // Stored as 2.675 by another program: 2.68, as the totals count it (below half as a
    // double, so "%.2f" would print 2.67).
    rounded.total = 2.675;
    QTest::newRow("three decimals, rounded as the totals round")
        << rounded << Company {u"id"_s, u"收据"_s, {}, {}} << QList<Item>() << QList<Item>()
        << QStringList() << u"2.68"_s;
    longRemark.voidReason = u"填错金额"_s;
    QTest::newRow("voided: the stamp over two-line texts")
        << longRemark << header << QList<Item> {Item::Remark}
        << QList<Item> {Item::Reason1, Item::Remark} << headerSide << u"1234.50"_s;
}

void tst_PrintView::staysInside()
{
    QFETCH(Receipt, receipt);
    QFETCH(Company, company);
    QFETCH(QList<Item>, elided);
    QFETCH(QList<Item>, smaller);
    QFETCH(QStringList, side);
    QFETCH(QString, figures);

    const ReceiptPageLayout layout(page, receipt, company);
    QVERIFY(!receipt.remark.isEmpty() || layout.text(Item::Remark).isEmpty());
    // Every value whole, lines joined, unless it had to be cut; at its size on the sample
    // page unless it had to give way.
    const ReceiptPageLayout normal(page, printableReceipt(), Company {{}, u"收据"_s, {}, {}});
    const std::pair<Item, QString> values[] = {{Item::Title, company.title},
                                               {Item::Number, u"No."_s + receipt.receiptNo},
                                               {Item::Date, u"2024-05-01"_s},
                                               {Item::Payer, receipt.payer},
                                               {Item::Reason1, receipt.reason1},
                                               {Item::Reason2, receipt.reason2},
                                               {Item::Remark, receipt.remark},
                                               {Item::Capitals, receipt.totalBig},
                                               {Item::Figures, figures},
                                               {Item::Paytype, receipt.paytype},
                                               {Item::Payee, receipt.payee},
                                               {Item::Approve, receipt.approve},
                                               {Item::Accountant, receipt.accountant}};
    for (const auto &[item, value] : values) {
        const auto *shown = layout.find(item);
        const QString text = layout.text(item);
        const bool cut = layout.findAll(item).constLast().elided;
        const bool gaveWay
            = shown->lineCount > 1 || shown->font.pixelSize() < normal.find(item)->font.pixelSize();
        QVERIFY2(cut == elided.contains(item) && gaveWay == (cut || smaller.contains(item)),
                 qPrintable(text));
        QVERIFY2(cut ? text.endsWith(u'…') && text.size() > 1
                     : QString(text).remove(u'\n') == value,
                 qPrintable(text));
    }
    const QRectF table = layout.tableRect();
    QVERIFY(contains(page, table));
    const auto &texts = layout.textItems();
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const auto &text = texts[i];
        const bool fits
            = QFontMetricsF(text.font).horizontalAdvance(text.text) <= text.cell.width() + epsilon
            || text.item == Item::SideLabel;
        QVERIFY2(fits && contains(text.cell, text.rect) && contains(page, text.cell)
                     && !text.text.contains(u'\n') && !text.text.contains(QChar(0))
                     && text.font.pixelSize() >= 6,
                 qPrintable(text.text));
        // The stamp lies over the others on purpose: they read through it.
        for (qsizetype j = i + 1; j < texts.size() && texts[j].item != Item::VoidStamp; ++j) {
            // The lines of one text share their cell; no two texts share any room.
            const bool sameText = texts[j].item == text.item && texts[j].cell == text.cell;
            // The ¥ stands in the figures' cell, right before their first digit.
            const bool oneAmount = (text.item == Item::YuanSign && texts[j].item == Item::Figures)
                || (text.item == Item::Figures && texts[j].item == Item::YuanSign);
            const QRectF overlap = text.rect.intersected(texts[j].rect);
            const QRectF cells
                = sameText || oneAmount ? QRectF() : text.cell.intersected(texts[j].cell);
            QVERIFY2((overlap.width() < epsilon || overlap.height() < epsilon)
                         && (cells.width() < epsilon || cells.height() < epsilon),
                     qPrintable(u"%1 and %2"_s.arg(int(text.item)).arg(int(texts[j].item))));
        }
    }
    // A voided receipt, and only that, carries the stamp: whole, large, over the table's
    // middle, drawn last (its cell, as drawn turned, is on the page: checked above).
    const auto *stamp = layout.find(Item::VoidStamp);
    QCOMPARE(stamp != nullptr, receipt.voidReason.has_value());
    QVERIFY(!stamp
            || (stamp->text == u"作废"_s && stamp == &texts.constLast() && stamp->angle != 0
                && stamp->cell.contains(table.center())
                && stamp->font.pixelSize() > 3 * layout.find(Item::Title)->font.pixelSize()));
    // Header above the table, footer below; the table's texts and rules off its border.
    QCOMPARE_LT(layout.find(Item::Date)->rect.bottom(), table.top());
    QCOMPARE_GT(layout.find(Item::PaytypeLabel)->rect.top(), table.bottom());
    const QRectF insideBorder = table.adjusted(1, 1, -1, -1);
    for (Item item : {Item::Payer, Item::Reason1, Item::Reason2, Item::Remark, Item::Capitals,
                      Item::Figures, Item::YuanSign})
        QVERIFY(contains(insideBorder, layout.find(item)->rect));
    // Every value cell keeps its rule, an empty one too: four rows, capitals, figures.
    QCOMPARE(layout.rules().size(), 6);
    for (const QLineF &rule : layout.rules())
        QVERIFY(contains(insideBorder, QRectF(rule.p1(), rule.p2()).normalized()));

    // The side label a character a line (an emoji with its skin tone is one), stacked. Its
    // fit depends on the font's line height: it is cut only when it has to be, visibly.
    const auto characters = layout.findAll(Item::SideLabel);
    QStringList shown;
    for (qsizetype i = 0; i < characters.size(); ++i) {
        shown.append(characters[i].text);
        QVERIFY(i == 0 || characters[i].rect.top() >= characters[i - 1].rect.bottom() - epsilon);
    }
    const bool cut
        = shown.size() < company.label.size() && shown.value(shown.size() - 1) == u"︙"_s;
    QVERIFY2(shown == side || (side.size() > 5 && cut), qPrintable(shown.join(u' ')));
}

void tst_PrintView::yuanSignBeforeTheFirstDigit_data()
{
    QTest::addColumn<double>("total");
    QTest::addColumn<QString>("figures");
    QTest::newRow("zero") << 0.0 << u"0.00"_s;
    QTest::newRow("one digit") << 5.0 << u"5.00"_s;
    QTest::newRow("short amount") << 3000.05 << u"3000.05"_s;
    QTest::newRow("negative") << -12.5 << u"-12.50"_s;
    QTest::newRow("largest, drawn smaller") << -999999999999.99 << u"-999999999999.99"_s;
}

// "¥" stands right before the first digit, in the figures' font and on their line, too
// close for a digit to be written in between; the figures end where they always have,
// whatever their length, so paper aligned to them still fits. A page of values only keeps
// the ¥ where the full page has it, unless the setting leaves it to the form.
void tst_PrintView::yuanSignBeforeTheFirstDigit()
{
    QFETCH(double, total);
    QFETCH(QString, figures);
    Receipt receipt = printableReceipt();
    receipt.total = total;
    const Company header {u"id"_s, u"收款收据"_s, u"交款人收执"_s, QString()};
    const ReceiptPageLayout full(page, receipt, header);
    const ReceiptPageLayout sample(page, printableReceipt(), header);
    const auto *yuan = full.find(Item::YuanSign);
    const auto *digits = full.find(Item::Figures);
    QVERIFY(yuan && digits);
    QCOMPARE(digits->text, figures);
    QCOMPARE(yuan->text, u"¥"_s);
    QCOMPARE(yuan->font.pixelSize(), digits->font.pixelSize());
    QCOMPARE(yuan->rect.top(), digits->rect.top());
    QCOMPARE(yuan->rect.height(), digits->rect.height());
    const qreal gap = digits->rect.left() - yuan->rect.right();
    const QFontMetricsF metrics(digits->font);
    for (const QChar digit : u"0123456789"_s)
        QVERIFY2(gap >= 0 && gap < metrics.horizontalAdvance(digit) / 2,
                 qPrintable(u"%1 before %2"_s.arg(gap).arg(digit)));
    QVERIFY(qAbs(digits->rect.right() - sample.find(Item::Figures)->rect.right()) < epsilon);

    for (const bool yuanSign : {true, false}) {
        const ReceiptPageLayout values(page, receipt, header,
                                       {.offset = {}, .valuesOnly = true, .yuanSign = yuanSign});
        QCOMPARE(values.find(Item::Figures)->rect, digits->rect);
        const auto *kept = values.find(Item::YuanSign);
        QCOMPARE(kept != nullptr, yuanSign);
        if (kept)
            QCOMPARE(kept->rect, yuan->rect);
    }
    // The setting is for paper that has its own ¥: the full page always has one.
    QVERIFY(ReceiptPageLayout(page, receipt, header, {.offset = {}, .yuanSign = false})
                .find(Item::YuanSign));
}

void tst_PrintView::pdfGivesBackText_data()
{
    QTest::addColumn<bool>("withReceipt");
    QTest::addColumn<Receipt>("receipt");

    QTest::newRow("receipt") << true << printableReceipt();
    QTest::newRow("200-character payer")
        << true << printableReceipt(u"0000042"_s, QString(200, u'款'));
    // 金, 角, 二, 人 and 行 share their glyphs with radicals, which come first in the font's
    // character map; the digits after a letter are alternate glyphs the map does not reach.
    Receipt chinese = printableReceipt(u"0001234"_s, u"金角银行"_s);
    chinese.reason1 = u"2024年第二季度场地租金"_s;
    chinese.paytype = u"银行转账"_s;
    chinese.payee = u"王二"_s;
    chinese.totalBig = u"壹仟贰佰叁拾肆元伍角"_s;
    QTest::newRow("Chinese payer, number after No.") << true << chinese;
    // One glyph for several letters, and a letter with a combining accent drawn as one.
    Receipt latin = printableReceipt(u"A0009"_s, u"Officina Caffè"_s);
    latin.reason2 = u"office flowers, Q3 rent"_s;
    latin.remark = u"Cafe\u0301 de\u0301ja\u0300"_s;
    QTest::newRow("ligatures, combining accents") << true << latin;
    // Drawn smaller, and a text on two lines: each line comes back as a word of its own.
    Receipt longer
        = printableReceipt(u"9223372036854775807"_s, u"杭州青禾文化传播有限公司"_s.repeated(5));
    longer.reason1 = u"2024年第二季度场地租金及设备使用费"_s.repeated(4);
    longer.total = -999999999999.99;
    longer.totalBig = u"负玖仟玖佰玖拾玖亿玖仟玖佰玖拾玖万玖仟玖佰玖拾玖元玖角玖分"_s;
    QTest::newRow("shrunk and wrapped, largest amount") << true << longer;
    QTest::newRow("no receipt: placeholders") << false << Receipt();
    Receipt voided = printableReceipt();
    voided.voidReason = u"填错金额"_s;
    QTest::newRow("voided") << true << voided;
}

// What a search or a copy gets from a saved receipt: every text as drawn, unnormalised,
// where the layout put it (so no margins, no scaling), on one page of paper size, in a file
// that reads back whole; each print in the history. A second print right after
// shows the receipt held at its own call.
void tst_PrintView::pdfGivesBackText()
{
    QFETCH(bool, withReceipt);
    QFETCH(Receipt, receipt);
    receipt.id = printableReceipt().id; // the one row stored below

    const std::optional<Receipt> printed
        = withReceipt ? std::optional(receipt) : std::optional<Receipt>();
    m_environment->createDatabase();
    QVERIFY(
        m_environment->storeReceipt(printableReceipt().id, u"0000042"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(!receipt.voidReason || ReceiptBook::shared().voidReceipts({receipt.id}, *receipt.voidReason));
    // The store's copy says the opposite, as one loaded before a void or its undoing would:
    // the page shows the book's state as it prints.
    Receipt stale = receipt;
    stale.voidReason = receipt.voidReason ? std::nullopt : std::optional(u"已撤销"_s);
    AppStore::shared().setReceiptPrint(printed ? std::optional(stale) : printed);
    const QString path = m_output->filePath(u"text.pdf"_s);
    const QString second = m_output->filePath(u"second.pdf"_s);
    QVERIFY(printToFile(path));
    QCOMPARE(m_environment->queryRaw(
                 u"select group_concat(receiptId) from tb_history where action = 'print'"_s),
             printed ? receipt.id : u"<null>"_s);
    AppStore::shared().setReceiptPrint(printableReceipt(u"0000002"_s, u"乙公司"_s));
    QVERIFY(printToFile(second));
    QByteArray errors;
    const QString text = pdfToText(path, &errors);
    if (text.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QVERIFY2(errors.isEmpty(), errors.constData());
    QCOMPARE(pdfPages(path), onePaperPage);
    QVERIFY(!text.contains(u"乙公司"_s) && pdfToText(second).contains(u"乙公司"_s));
    QCOMPARE(text.contains(u"作废"_s), receipt.voidReason.has_value());
    // The document's title names the receipt too, for viewers that list files by it.
    QCOMPARE(pdfTitle(path), printed ? u"收据 "_s + receipt.receiptNo : u"收据"_s);

    QHash<QString, QRectF> words;
    for (const PdfWord &word : pdfWords(path))
        words.insert(word.text, word.box);
    // The footer groups may come back as one word, texts with spaces as several.
    const QList<Item> placed = {Item::Title,   Item::Date,     Item::Payer,
                                Item::Reason1, Item::Reason2,  Item::Remark,
                                Item::Capitals, Item::CapitalsLabel, Item::SideLabel};
    const ReceiptPageLayout layout(page, printed, CompanyStore::shared().company());
    // The ¥ and the figures read back as one word: no room between them for a digit.
    const auto *yuan = layout.find(Item::YuanSign);
    const auto *figures = layout.find(Item::Figures);
    QVERIFY(yuan && figures);
    const QString amount = yuan->text + figures->text;
    QVERIFY2(words.contains(amount), qPrintable(QStringList(words.keys()).join(u' ')));
    QVERIFY(qAbs(words.value(amount).left() - yuan->rect.left()) < 1);
    QVERIFY(qAbs(words.value(amount).right() - figures->rect.right()) < 1);
    // A blank form is dated today.
    QCOMPARE(layout.text(Item::Date), printed ? u"2024-05-01"_s : u"2024-02-29"_s);
    for (const auto &item : layout.textItems()) {
        QVERIFY2(text.contains(item.text), qPrintable(item.text));
        const QRectF at = words.value(item.text);
        if (placed.contains(item.item) && !item.text.contains(u' '))
            QVERIFY2(words.contains(item.text) && qAbs(at.left() - item.rect.left()) < 1
                         && qAbs(at.right() - item.rect.right()) < 1
                         && contains(item.rect.adjusted(-1, -1, 1, 1), at),
                     qPrintable(item.text));
    }
}

enum class PdfSource { Receipts, AlignmentPage, DrawnTexts };
Q_DECLARE_METATYPE(PdfSource)

void tst_PrintView::everyPageGivesBackText_data()
{
    QTest::addColumn<PdfSource>("source");
    // The fonts are embedded once for the whole file and number their glyphs as they are
    // first drawn, on whichever page.
    QTest::newRow("several receipts in one file, in number order") << PdfSource::Receipts;
    QTest::newRow("alignment page") << PdfSource::AlignmentPage;
    // Qt maps a run of ten or more codes showing consecutive characters as one range.
    QTest::newRow("ten consecutive codes") << PdfSource::DrawnTexts;
}

// Every page of every PDF the program writes reads back as drawn: the Chinese characters
// themselves rather than the radicals sharing their glyphs, the receipt's number with its
// digits.
void tst_PrintView::everyPageGivesBackText()
{
    QFETCH(PdfSource, source);
    m_environment->createDatabase();
    const QString path = m_output->filePath(u"pages.pdf"_s);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    QList<QStringList> pages;
    if (source == PdfSource::Receipts) {
        // Asked for out of order: one job, a page each in number order, a history row each.
        const QStringList payers {u"金角银行"_s, u"大行支部"_s, u"金大行支"_s};
        QStringList ids;
        for (qsizetype i = 0; i < payers.size(); ++i) {
            const QString number = u"000000"_s + QString::number((i + 2) % 3 + 1);
            ids.append(u"ID-"_s + number);
            QVERIFY(m_environment->storeReceipt(ids.last(), number, u"2024-05-01 00:00:00"_s,
                                                payers[i]));
        }
        QVERIFY(ReceiptPrinter::printReceipts(printer, ids));
        QCOMPARE(m_environment->queryRaw(u"select group_concat(receiptNo) from (select receiptNo "
                                         u"from tb_history where action = 'print' order by id)"_s),
                 u"0000001,0000002,0000003"_s);
        QCOMPARE(pdfPages(path), QStringList(3, u"241.0 × 93.0 mm"_s) + QStringList(3, u"page"_s));
        ids.sort();
        for (const QString &id : std::as_const(ids)) {
            const ReceiptPageLayout layout(page, storedReceipt(id),
                                           CompanyStore::shared().company());
            QStringList texts;
            for (const auto &item : layout.textItems())
                texts.append(item.text);
            QVERIFY(texts.contains(u"No."_s + id.mid(3)));
            pages.append(texts);
        }
    } else {
        QList<PdfTextLayer::Text> drawn;
        if (source == PdfSource::AlignmentPage) {
            QVERIFY(ReceiptPrinter::printAlignmentPage(printer, {}));
            drawn = AlignmentPage(page, {}, CompanyStore::shared().company()).texts();
        } else {
            const QFont font = ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Title);
            drawn = {{u"abcdefghij"_s, font}, {u"金大行支"_s, font}};
            QPdfWriter writer(path);
            QPainter painter(&writer);
            painter.setFont(font);
            for (qsizetype i = 0; i < drawn.size(); ++i)
                painter.drawText(QPointF(100, 500 * (i + 1)), drawn[i].text);
            painter.end();
            QString error;
            QVERIFY2(PdfTextLayer::rewriteFile(path, drawn, &error), qPrintable(error));
        }
        QStringList texts;
        for (const PdfTextLayer::Text &text : std::as_const(drawn))
            texts.append(text.text);
        QVERIFY(texts.join(QString()).contains(u"金"_s));
        pages.append(texts);
    }

    QByteArray errors;
    const QString text = pdfToText(path, &errors);
    if (text.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QVERIFY2(errors.isEmpty(), errors.constData());
    QVERIFY2(!hasRadical(text), qPrintable(text));
    QStringList shown = text.split(u'\f');
    QCOMPARE(shown.takeLast(), QString()); // after the last page
    QCOMPARE(shown.size(), pages.size());
    for (qsizetype i = 0; i < pages.size(); ++i) {
        for (const QString &drawnText : std::as_const(pages[i]))
            QVERIFY2(shown[i].contains(drawnText), qPrintable(u"%1: %2"_s.arg(i).arg(drawnText)));
    }
}

void tst_PrintView::unreadablePdfLeftAlone_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("not a PDF") << QByteArray("%PDF-1.4\n1 0 obj << /Type /Catalog");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("a folder") << QByteArray("folder");
}

// What cannot be read as a PDF file fails with the reason and is left as it is.
void tst_PrintView::unreadablePdfLeftAlone()
{
    QFETCH(QByteArray, contents);
    const QString path = m_output->filePath(u"bad.pdf"_s);
    if (contents == "folder") {
        QVERIFY(QDir(m_output->path()).mkdir(u"bad.pdf"_s));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    }
    QString error;
    QVERIFY(!PdfTextLayer::rewriteFile(
        path, {{u"金"_s, ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Title)}}, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    if (contents != "folder")
        QCOMPARE(fileBytes(path), contents);
    QCOMPARE(filesBelow(m_output->path()), QStringList {u"bad.pdf"_s});
}

QUENTA_GUI_TEST_MAIN(tst_PrintView)
#include "tst_printview.moc"
