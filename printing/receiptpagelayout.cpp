// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptpagelayout.h"

#include "amountincapitals.h"
#include "clock.h"
#include "datetext.h"
#include "money.h"
#include "receiptcode.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <numeric>

using namespace Qt::StringLiterals;

namespace {

// Text sizes of the three styles the page uses, in points (= pixels of the layout).
constexpr int captionSize = 10;
constexpr int subheadlineSize = 12;
constexpr int titleSize = 17;
// A text too long for its cell is drawn smaller down to this share of its size before it
// is broken or cut: smaller still, it no longer reads as part of the same form.
constexpr int shrinkPercent = 60;
// The smallest size anything is drawn at, still legible on paper. Only the amounts and
// the number go below their 60 % (shortened, they would print another amount or another
// receipt), and so does a character too wide for the vertical label's column.
constexpr int smallestSize = 6;

constexpr qreal sideColumnWidth = 15;
constexpr qreal sideColumnTrailing = 50;
constexpr qreal headerLeading = 20;
constexpr qreal headerTrailing = 10;
constexpr qreal tableLeading = 60;
constexpr qreal tableTrailing = 10;
constexpr qreal tableRowSpacing = 15;
// Between the border and the first and last row, so that no glyph touches the line.
constexpr qreal tablePadding = 6;
constexpr qreal rowPadding = 30;
constexpr qreal rowSpacing = 10;
constexpr qreal valueInset = 10;
constexpr qreal figuresWidth = 100;
constexpr qreal figuresInset = 10;
constexpr qreal figuresLift = 1;
// Between "¥" and the first digit: less than any digit's width, so none fits in.
constexpr qreal yuanSpacing = 0.5;
constexpr qreal footerLeading = 90;
constexpr qreal footerTrailing = 100;
constexpr qreal footerSpacing = 2;
constexpr qreal borderWidth = 1;
constexpr qreal ruleHeight = 1;
constexpr qreal ruleWidth = 0.5;
// The stamp on a voided receipt: red like stamp ink, turned like a stamp set down by hand,
// framed, and see-through, so that every value under it still reads and the page still
// shows what was voided. It stays text, so that a search of the PDF finds 作废 too.
constexpr int stampSize = 84;
// Rising to the right. Turned further than about 10°, poppler (pdftotext, and the viewers
// built on it) reads the two characters as two lines, and 作废 is no longer found.
constexpr qreal stampAngle = -6;
constexpr qreal stampOpacity = 0.45;
constexpr QRgb stampInk = 0xd0121b;
constexpr qreal stampFrameWidth = 3;
// Between the glyphs and the frame, and the frame's corner radius, in ems.
constexpr qreal stampMargin = 0.2;
constexpr qreal stampCorner = 0.12;
// 补打 beside the number: small enough to read as a note, apart from the digits.
constexpr int reprintMarkSize = 8;
constexpr qreal reprintMarkSpacing = 4;

using Item = ReceiptPageLayout::Item;

// Each text is one line on the page: line breaks, tabs and other control characters
// would otherwise be drawn as boxes or make QPainter start a second line.
QString singleLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            c = u' ';
    }
    return line;
}

// What the user sees as characters: an emoji with its modifiers, or a letter with its
// accents, stays on one line of the vertical label.
QStringList graphemes(const QString &text)
{
    QStringList result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        result.append(text.mid(start, finder.position() - start));
        start = finder.position();
    }
    return result;
}

using Fitting = ReceiptPageLayout::Fitting;

// The frame around the stamp's text as it stands upright in `line`: the same room on all
// four sides of the glyphs, where the line box of a CJK font has far more above and below.
QRectF stampFrame(const QString &text, const QFont &font, const QRectF &line)
{
    const QFontMetricsF metrics(font);
    const qreal margin = stampMargin * font.pixelSize();
    return metrics.tightBoundingRect(text)
        .translated(line.left(), line.top() + metrics.ascent())
        .adjusted(-margin, -margin, margin, margin);
}

QTransform turnedAbout(const QPointF &centre, qreal angle)
{
    return QTransform::fromTranslate(centre.x(), centre.y())
        .rotate(angle)
        .translate(-centre.x(), -centre.y());
}

QFont sized(const QFont &font, int pixelSize)
{
    QFont result = font;
    result.setPixelSize(pixelSize);
    return result;
}

int shrunkSize(const QFont &font)
{
    return std::max(smallestSize, (font.pixelSize() * shrinkPercent + 99) / 100);
}

// `line` broken where a line may break (between any two Chinese characters, or inside a
// word longer than the line) into lines of at most `width`, trailing spaces dropped.
QStringList brokenLines(const QString &line, const QFont &font, qreal width)
{
    QTextLayout layout(line, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine textLine = layout.createLine(); textLine.isValid();
         textLine = layout.createLine()) {
        textLine.setLineWidth(width);
        lines.append(line.mid(textLine.textStart(), textLine.textLength()));
    }
    layout.endLayout();
    return lines;
}

// The lines a text is drawn as, and their font.
struct Fit
{
    QFont font;
    QStringList lines;
    bool elided = false;
};

// The largest size from `largest` down to `smallest` at which the whole text fits: on one
// line at any of them first, then on two where the room holds two lines of that size.
std::optional<Fit> fitUncut(const QString &line, const QFont &font, int largest, int smallest,
                            const QSizeF &room, bool twoLines)
{
    for (int size = largest; size >= smallest; --size) {
        const QFont candidate = sized(font, size);
        if (QFontMetricsF(candidate).horizontalAdvance(line) <= room.width())
            return Fit {candidate, {line}};
    }
    if (!twoLines)
        return std::nullopt;
    for (int size = largest; size >= smallest; --size) {
        const QFont candidate = sized(font, size);
        const QFontMetricsF metrics(candidate);
        if (2 * metrics.height() > room.height())
            continue;
        QStringList lines = brokenLines(line, candidate, room.width());
        for (QString &each : lines)
            each = each.trimmed();
        // The layout measures as the metrics do; the check keeps the two from ever
        // disagreeing by a rounding.
        if (lines.size() == 2
            && std::all_of(lines.cbegin(), lines.cend(), [&](const QString &each) {
                   return metrics.horizontalAdvance(each) <= room.width();
               }))
            return Fit {candidate, lines};
    }
    return std::nullopt;
}

// Smaller first, then two lines, and "…" only when nothing else is left: a receipt that
// lost part of a name, a reason or an amount no longer says what was paid, by whom.
Fit fitText(const QString &text, const QFont &font, const QSizeF &room, Fitting fitting)
{
    const QString line = singleLine(text);
    const int size = font.pixelSize();
    const int shrunk = fitting == Fitting::Fixed ? size : std::min(size, shrunkSize(font));
    const bool twoLines = fitting == Fitting::TwoLines || fitting == Fitting::Whole;
    if (auto fit = fitUncut(line, font, size, shrunk, room, twoLines))
        return *fit;
    QFont smallest = sized(font, shrunk);
    if (fitting == Fitting::Whole) {
        const int wholeSmallest = std::min(shrunk, smallestSize);
        if (auto fit = fitUncut(line, font, shrunk - 1, wholeSmallest, room, true))
            return *fit;
        smallest = sized(font, wholeSmallest);
    }

    // Cut short: the first line as it breaks, the rest on the second up to the "…".
    const QFontMetricsF metrics(smallest);
    QStringList lines;
    QString rest = line;
    const QString first = brokenLines(line, smallest, room.width()).value(0);
    // A cell narrower than one character gets the "…" alone.
    if (twoLines && 2 * metrics.height() <= room.height()
        && metrics.horizontalAdvance(first.trimmed()) <= room.width()) {
        lines.append(first.trimmed());
        rest = line.mid(first.size()).trimmed();
    }
    lines.append(metrics.elidedText(rest, Qt::ElideRight, room.width()));
    return {smallest, lines, lines.last() != rest};
}

struct PageTexts
{
    QString number;
    QString date;
    QString payer;
    QString reason1;
    QString reason2;
    QString remark;
    QString capitals;
    QString figures;
    QString paytype;
    QString payee;
    QString approve;
    QString accountant;
};

// A value longer than any cell can show, even shrunk and on two lines, is cut here: the
// fitting below measures what it lays out, and a text of megabytes (pasted into a field
// by mistake) would hold the print up for minutes. What is left is elided as any long
// value is.
QString bounded(const QString &text)
{
    constexpr qsizetype limit = 400;
    if (text.size() <= limit)
        return text;
    return text.left(text.at(limit - 1).isHighSurrogate() ? limit - 1 : limit) + u'…';
}

PageTexts pageTexts(const std::optional<Receipt> &receipt)
{
    if (!receipt) {
        // The form as it looks before a receipt is loaded: the field names stand in for
        // the values, and the capitals are those the entry form shows for no amount.
        const QString zero = amountInCapitals(amountText(0));
        return {u"No.1234567"_s,
                formatDateText(Clock::now(), DateText::date),
                u"[交款单位]"_s,
                u"[收款事由]"_s,
                u"[其它说明]"_s,
                u"[备注信息]"_s,
                zero,
                ReceiptPageLayout::figuresText(0),
                u"收款方式"_s,
                u"收款人"_s,
                u"核准"_s,
                u"会计"_s};
    }
    const Receipt &r = *receipt;
    return {u"No."_s + r.receiptNo, formatDateText(r.receiptDate, DateText::date),
            bounded(r.payer),       bounded(r.reason1),
            bounded(r.reason2),     bounded(r.remark),
            bounded(r.totalBig),    ReceiptPageLayout::figuresText(r.total),
            bounded(r.paytype),     bounded(r.payee),
            bounded(r.approve),     bounded(r.accountant)};
}

// Shares `room` out among groups wanting `wanted` each: a group within an even share
// keeps its width and the rest split what is left, so one long name shortens only
// itself and cannot push the other groups off the page.
QList<qreal> shareOut(const QList<qreal> &wanted, qreal room)
{
    const qreal total = std::accumulate(wanted.cbegin(), wanted.cend(), qreal(0));
    if (total <= room)
        return wanted;
    QList<qsizetype> order(wanted.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](qsizetype a, qsizetype b) { return wanted[a] < wanted[b]; });
    QList<qreal> given(wanted.size());
    qreal left = room;
    for (qsizetype i = 0; i < order.size(); ++i) {
        const qreal share = left / qreal(order.size() - i);
        given[order[i]] = std::min(wanted[order[i]], share);
        left -= given[order[i]];
    }
    return given;
}

} // namespace

ReceiptPageLayout::ReceiptPageLayout(const QRectF &pageRect, const std::optional<Receipt> &receipt,
                                     const Company &company, const Options &options)
    : m_pageRect(pageRect)
{
    const PageTexts t = pageTexts(receipt);
    const QFont caption = font(FontRole::Caption);
    const QFont subheadline = font(FontRole::Subheadline);
    const QFont title = font(FontRole::Title);
    const QFontMetricsF captionMetrics(caption);
    const QFontMetricsF subheadlineMetrics(subheadline);
    const qreal lineHeight = captionMetrics.height();
    const qreal subheadlineHeight = subheadlineMetrics.height();
    const qreal titleHeight = QFontMetricsF(title).height();
    // A value cell holds two lines of its text shrunk as far as it goes.
    const qreal valueCellHeight
        = std::max(lineHeight, 2 * QFontMetricsF(sized(caption, shrunkSize(caption))).height());
    constexpr qreal s = defaultSpace;

    // The framed container fills the page less the default space on every side; inside
    // it, the receipt body and the vertical label stand side by side, centred vertically.
    const QRectF content = pageRect.adjusted(s, s, -s, -s);
    const qreal bodyWidth = content.width() - s - sideColumnWidth - sideColumnTrailing;
    const qreal bodyLeft = content.left();

    const qreal numberColumnHeight = subheadlineHeight + lineHeight;
    const qreal bandHeight = std::max(titleHeight, numberColumnHeight);
    const qreal valueRowHeight = lineHeight + ruleHeight;
    const qreal amountRowHeight = std::max(valueRowHeight, subheadlineHeight + ruleHeight);
    const qreal tableHeight
        = 2 * tablePadding + 4 * valueRowHeight + amountRowHeight + 4 * tableRowSpacing;
    const qreal bodyHeight = s + bandHeight + s + tableHeight + s + lineHeight + s;
    const qreal bodyTop = std::max(content.top(), content.center().y() - bodyHeight / 2);

    // Header: the title centred on the band, and at the band's right end the number over
    // the date, layered on the same band rather than beside the title. The number, which
    // finds the receipt again, takes up to half the band and is never cut (its last digits
    // tell one receipt from the next; up to 64 of them fit, smaller). A title that comes
    // closer to it than the default space gives way: off centre first, then smaller. One
    // that keeps clear stays centred, where the form has it.
    const QRectF band(bodyLeft + headerLeading, bodyTop + s,
                      bodyWidth - headerLeading - headerTrailing, bandHeight);
    const qreal columnWidth = std::min(std::max(subheadlineMetrics.horizontalAdvance(t.number),
                                                captionMetrics.horizontalAdvance(t.date)),
                                       band.width() / 2);
    const qreal columnTop = band.center().y() - numberColumnHeight / 2;
    addText(Item::Number, t.number, subheadline,
            QRectF(band.right() - columnWidth, columnTop, columnWidth, subheadlineHeight),
            Qt::AlignRight, Fitting::Whole);
    addText(
        Item::Date, t.date, caption,
        QRectF(band.right() - columnWidth, columnTop + subheadlineHeight, columnWidth, lineHeight),
        Qt::AlignRight, Fitting::OneLine);
    const QRectF titleCell(band.left(), band.center().y() - titleHeight / 2,
                           band.width() - columnWidth - s, titleHeight);
    addText(Item::Title, bounded(company.title), title, titleCell, Qt::AlignLeft, Fitting::OneLine);
    QRectF &titleRect = m_texts.last().rect;
    titleRect.moveLeft(
        std::min(band.center().x() - titleRect.width() / 2, titleCell.right() - titleRect.width()));

    // Table: four value rows and the amount row inside the border.
    m_tableRect = QRectF(bodyLeft + tableLeading, band.bottom() + s,
                         bodyWidth - tableLeading - tableTrailing, tableHeight);
    const qreal rowLeft = m_tableRect.left() + rowPadding;
    const qreal rowRight = m_tableRect.right() - rowPadding;
    const auto addLabel = [&](Item item, const QString &text, qreal rowTop, qreal rowHeight) {
        const qreal width = captionMetrics.horizontalAdvance(text);
        addText(item, text, caption,
                QRectF(rowLeft, rowTop + (rowHeight - lineHeight) / 2, width, lineHeight),
                Qt::AlignLeft);
        return rowLeft + width;
    };
    // A value cell: the text, inset from the cell's left edge, standing on the rule right
    // under it. A second line goes above the first, into the space between the rows.
    const auto addValueCell
        = [&](Item item, const QString &text, qreal left, qreal right, qreal top, Fitting fitting) {
              const qreal ruleTop = top + lineHeight;
              addText(item, text, caption,
                      QRectF(left + valueInset, ruleTop - valueCellHeight,
                             right - left - valueInset, valueCellHeight),
                      Qt::AlignLeft | Qt::AlignBottom, fitting);
              const qreal ruleY = ruleTop + ruleHeight / 2;
              m_rules.append(QLineF(left, ruleY, right, ruleY));
          };

    const struct
    {
        Item label;
        QString labelText;
        Item value;
        QString valueText;
    } rows[] = {
        {Item::PayerLabel, u"交款单位"_s, Item::Payer, t.payer},
        {Item::Reason1Label, u"收款事由"_s, Item::Reason1, t.reason1},
        {Item::Reason2Label, u"其它说明"_s, Item::Reason2, t.reason2},
        {Item::RemarkLabel, u"备注信息"_s, Item::Remark, t.remark},
    };
    qreal rowTop = m_tableRect.top() + tablePadding;
    for (const auto &row : rows) {
        const qreal labelRight = addLabel(row.label, row.labelText, rowTop, valueRowHeight);
        addValueCell(row.value, row.valueText, labelRight + rowSpacing, rowRight, rowTop,
                     Fitting::TwoLines);
        rowTop += valueRowHeight + tableRowSpacing;
    }

    // Amount row: capitals, then the figures in a cell of their own, one point higher, with
    // "¥" right before their first digit. A ¥ at a fixed place left a gap before a short
    // amount that a digit could be written into. The capitals end where that ¥ began, and
    // the figures stay where they always were, so forms aligned to either still fit.
    const qreal capitalsLeft
        = addLabel(Item::CapitalsLabel, u"金额（大写）"_s, rowTop, amountRowHeight) + rowSpacing;
    const QRectF figuresCell(rowRight - figuresWidth,
                             rowTop + (amountRowHeight - subheadlineHeight - ruleHeight) / 2
                                 - figuresLift,
                             figuresWidth, subheadlineHeight + ruleHeight);
    const QString yuan = u"¥"_s;
    const qreal capitalsRight
        = figuresCell.left() - rowSpacing - captionMetrics.horizontalAdvance(yuan) - rowSpacing;
    addValueCell(Item::Capitals, t.capitals, capitalsLeft, capitalsRight,
                 rowTop + (amountRowHeight - valueRowHeight) / 2, Fitting::Whole);

    const qreal figuresRuleY = figuresCell.bottom() - ruleHeight / 2;
    const qsizetype figuresAt = m_texts.size();
    addText(Item::Figures, t.figures, subheadline,
            QRectF(figuresCell.left(), figuresCell.top(), figuresWidth - figuresInset,
                   subheadlineHeight),
            Qt::AlignRight | Qt::AlignBottom, Fitting::Whole);
    m_rules.append(QLineF(figuresCell.left(), figuresRuleY, figuresCell.right(), figuresRuleY));
    // In the figures' own font, shrunk with them, on the first line's baseline: the sign
    // and the digits read as one amount. Placed before the figures in the list, as it is
    // read.
    const TextItem firstLine = m_texts.at(figuresAt);
    const QFontMetricsF figuresMetrics(firstLine.font);
    const qreal yuanWidth = figuresMetrics.horizontalAdvance(yuan);
    addText(Item::YuanSign, yuan, firstLine.font,
            QRectF(firstLine.rect.left() - yuanSpacing - yuanWidth, firstLine.rect.top(), yuanWidth,
                   firstLine.rect.height()),
            Qt::AlignLeft);
    m_texts.move(m_texts.size() - 1, figuresAt);

    // Footer: four "label : value" groups, the first at the left end, the last at the right
    // end, the free room split evenly between them. Groups that leave at least the default
    // space between each other keep their size; otherwise only what is too long gives way,
    // down to that space between them, so that "王丽" and "核准" never read as one word.
    const QRectF footer(bodyLeft + footerLeading, m_tableRect.bottom() + s,
                        bodyWidth - footerLeading - footerTrailing, lineHeight);
    const struct
    {
        Item label;
        QString labelText;
        Item value;
        QString valueText;
    } groups[] = {
        {Item::PaytypeLabel, u"收款方式"_s, Item::Paytype, t.paytype},
        {Item::PayeeLabel, u"收款人"_s, Item::Payee, t.payee},
        {Item::ApproveLabel, u"核准"_s, Item::Approve, t.approve},
        {Item::AccountantLabel, u"会计"_s, Item::Accountant, t.accountant},
    };
    const QString colon = u":"_s;
    const qreal colonWidth = captionMetrics.horizontalAdvance(colon);
    QList<qreal> fixedWidths;
    QList<qreal> wanted;
    for (const auto &group : groups) {
        fixedWidths.append(captionMetrics.horizontalAdvance(group.labelText) + footerSpacing
                           + colonWidth + footerSpacing);
        wanted.append(fixedWidths.last()
                      + captionMetrics.horizontalAdvance(singleLine(group.valueText)));
    }
    const qreal gaps = qreal(std::size(groups) - 1);
    const QList<qreal> given = shareOut(wanted, footer.width() - gaps * s);
    const qreal gap
        = (footer.width() - std::accumulate(given.cbegin(), given.cend(), qreal(0))) / gaps;
    qreal x = footer.left();
    for (qsizetype i = 0; i < qsizetype(std::size(groups)); ++i) {
        const auto &group = groups[i];
        const qreal labelWidth = captionMetrics.horizontalAdvance(group.labelText);
        addText(group.label, group.labelText, caption,
                QRectF(x, footer.top(), labelWidth, lineHeight), Qt::AlignLeft);
        addText(Item::Colon, colon, caption,
                QRectF(x + labelWidth + footerSpacing, footer.top(), colonWidth, lineHeight),
                Qt::AlignLeft);
        addText(group.value, group.valueText, caption,
                QRectF(x + fixedWidths[i], footer.center().y() - valueCellHeight / 2,
                       std::max<qreal>(0, given[i] - fixedWidths[i]), valueCellHeight),
                Qt::AlignLeft, Fitting::TwoLines);
        x += given[i] + gap;
    }

    // The fixed remark of the header, under the footer as its own line: what the company
    // wants on every receipt (an account, a telephone), not part of any one receipt.
    const QString fixedRemark = singleLine(bounded(company.remark)).trimmed();
    if (options.fixedRemark && !fixedRemark.isEmpty()) {
        const qreal top = footer.bottom() + footerSpacing;
        addText(Item::FixedRemark, fixedRemark, caption,
                QRectF(footer.left(), top, footer.width(),
                       std::min(lineHeight, std::max<qreal>(0, pageRect.bottom() - top))),
                Qt::AlignLeft, Fitting::OneLine);
    }

    // 补打 left of the number as drawn, smaller, so that it reads as a note on the number
    // and not as part of it.
    if (options.reprintMark) {
        if (const TextItem *number = find(Item::Number)) {
            const QFont markFont = sized(caption, reprintMarkSize);
            const QString mark = u"补打"_s;
            const QFontMetricsF markMetrics(markFont);
            const qreal width = markMetrics.horizontalAdvance(mark);
            const QRectF cell(number->rect.left() - reprintMarkSpacing - width,
                              number->rect.center().y() - markMetrics.height() / 2, width,
                              markMetrics.height());
            addText(Item::ReprintMark, mark, markFont, cell, Qt::AlignLeft);
        }
    }

    // The vertical label: one character per line in its narrow column, centred beside the
    // body. What does not fit the page's height ends in a vertical ellipsis.
    QStringList characters = options.sideLabel && !options.valuesOnly
        ? verticalLabelLines(bounded(company.label))
        : QStringList();
    const auto fitting = qsizetype(std::floor((content.height() - s) / lineHeight));
    if (characters.size() > fitting) {
        characters.resize(std::max<qsizetype>(fitting - 1, 0));
        if (fitting > 0)
            characters.append(u"︙"_s);
    }
    const qreal columnLeft = bodyLeft + bodyWidth + s;
    const qreal sideHeight = qreal(characters.size()) * lineHeight + s;
    const qreal sideTop = content.center().y() - sideHeight / 2;
    for (qsizetype i = 0; i < characters.size(); ++i) {
        // A character wider than the column (an emoji from a colour font) is drawn smaller
        // rather than replaced by an ellipsis.
        QFont characterFont = caption;
        for (int size = captionSize; size >= smallestSize; --size) {
            characterFont.setPixelSize(size);
            if (QFontMetricsF(characterFont).horizontalAdvance(characters[i]) <= sideColumnWidth)
                break;
        }
        addText(Item::SideLabel, characters[i], characterFont,
                QRectF(columnLeft, sideTop + qreal(i) * lineHeight, sideColumnWidth, lineHeight),
                Qt::AlignHCenter);
    }

    if (receipt && receipt->voidReason)
        addVoidStamp(content);

    // Values only: the paper has the form printed on it already. Every value keeps the
    // place it has on the full page, so that one alignment serves both.
    // Its ¥ goes too unless asked for: a form whose own ¥ stands before a gap wants the
    // figures closed off by one of their own. On forms that carry their number, the number
    // goes as well; 补打 keeps its place beside the form's own.
    if (options.valuesOnly) {
        m_texts.removeIf([&options](const TextItem &text) {
            const bool kept
                = text.item == Item::VoidStamp || (text.item == Item::YuanSign && options.yuanSign);
            return (!isValue(text.item) && !kept) || (text.item == Item::Number && !options.number);
        });
        m_rules.clear();
        m_border = false;
    }
    applyOffset(options.offset);
    addCode(options);
}

void ReceiptPageLayout::addCode(const Options &options)
{
    if (options.code.isEmpty() || !(options.codeSide > 0))
        return;
    QRectF square(options.codeAt + options.offset, QSizeF(options.codeSide, options.codeSide));
    // Like a text, a code the offset pushed off the paper goes back onto its edge: cut, it
    // would not read.
    square.moveLeft(std::clamp(square.left(), m_pageRect.left(),
                               std::max(m_pageRect.left(), m_pageRect.right() - square.width())));
    square.moveTop(std::clamp(square.top(), m_pageRect.top(),
                              std::max(m_pageRect.top(), m_pageRect.bottom() - square.height())));
    m_codeModules = ReceiptCode::modules(options.code, square);
    if (!m_codeModules.isEmpty())
        m_codeRect = square;
}

QStringList ReceiptPageLayout::partsUnderCode() const
{
    QStringList parts;
    if (m_codeRect.isEmpty())
        return parts;
    for (const TextItem &text : m_texts) {
        const QString name = itemName(text.item);
        if (!text.text.isEmpty() && text.rect.intersects(m_codeRect) && !parts.contains(name))
            parts.append(name);
    }
    // The table is the form's on a page of values only too: the paper has it printed.
    if (m_tableRect.intersects(m_codeRect))
        parts.append(u"表格"_s);
    return parts;
}

void ReceiptPageLayout::applyOffset(const QPointF &offset)
{
    m_tableRect.translate(offset);
    for (QLineF &rule : m_rules)
        rule.translate(offset);
    for (TextItem &text : m_texts) {
        text.rect.translate(offset);
        text.cell.translate(offset);
    }
    // A text moved (partly) off the paper goes back onto its edge, all its lines together
    // (the side label's characters together, the ¥ with the figures it stands before),
    // rather than print cut or not at all. The stamp is left as it is: it covers the
    // table, and a table moved off the page is the user's own choice of offset.
    for (qsizetype i = 0; i < m_texts.size();) {
        qsizetype end = i + std::max(1, m_texts[i].lineCount - m_texts[i].line);
        if (m_texts[i].item == Item::SideLabel) {
            while (end < m_texts.size() && m_texts[end].item == Item::SideLabel)
                ++end;
        } else if (m_texts[i].item == Item::YuanSign && end < m_texts.size()
                   && m_texts[end].item == Item::Figures) {
            end += m_texts[end].lineCount;
        }
        end = std::min(end, m_texts.size());
        QRectF bounds;
        for (qsizetype j = i; j < end; ++j)
            bounds = bounds.united(m_texts[j].rect);
        qreal dx = 0;
        qreal dy = 0;
        if (bounds.left() < m_pageRect.left())
            dx = m_pageRect.left() - bounds.left();
        else if (bounds.right() > m_pageRect.right())
            dx = std::max(m_pageRect.right() - bounds.right(), m_pageRect.left() - bounds.left());
        if (bounds.top() < m_pageRect.top())
            dy = m_pageRect.top() - bounds.top();
        else if (bounds.bottom() > m_pageRect.bottom())
            dy = std::max(m_pageRect.bottom() - bounds.bottom(), m_pageRect.top() - bounds.top());
        const Item item = m_texts[i].item;
        if ((dx != 0 || dy != 0) && item != Item::VoidStamp && !m_texts[i].text.isEmpty()) {
            for (qsizetype j = i; j < end; ++j) {
                m_texts[j].rect.translate(dx, dy);
                m_texts[j].cell.translate(dx, dy);
                if (!m_displaced.contains(m_texts[j].item))
                    m_displaced.append(m_texts[j].item);
            }
        }
        i = end;
    }
}

ReceiptPageOptions ReceiptPageOptions::from(const PrintOptions &settings, bool printedBefore,
                                            const QString &code)
{
    const PrintOptions checked = settings.normalized();
    constexpr qreal pointsPerMillimetre = 72 / 25.4;
    ReceiptPageOptions options;
    options.offset
        = QPointF(checked.offsetX * pointsPerMillimetre, checked.offsetY * pointsPerMillimetre);
    options.valuesOnly = checked.content == PrintOptions::Content::ValuesOnly;
    options.sideLabel = checked.sideLabel;
    options.fixedRemark = checked.fixedRemark;
    options.yuanSign = checked.yuanSign;
    options.number = !checked.leavesNumberToForm();
    options.reprintMark = checked.reprintMark && printedBefore;
    if (checked.receiptCode)
        options.code = code;
    options.codeAt
        = QPointF(checked.codeX * pointsPerMillimetre, checked.codeY * pointsPerMillimetre);
    options.codeSide = PrintOptions::codeSide * pointsPerMillimetre;
    return options;
}

bool ReceiptPageLayout::isValue(Item item)
{
    switch (item) {
    case Item::Number:
    case Item::Date:
    case Item::Payer:
    case Item::Reason1:
    case Item::Reason2:
    case Item::Remark:
    case Item::Capitals:
    case Item::Figures:
    case Item::Paytype:
    case Item::Payee:
    case Item::Approve:
    case Item::Accountant:
    case Item::FixedRemark:
    case Item::ReprintMark:
        return true;
    default:
        return false;
    }
}

QString ReceiptPageLayout::itemName(Item item)
{
    switch (item) {
    case Item::Title:
        return u"标题"_s;
    case Item::Number:
        return u"编号"_s;
    case Item::Date:
        return u"日期"_s;
    case Item::PayerLabel:
    case Item::Payer:
        return u"交款单位"_s;
    case Item::Reason1Label:
    case Item::Reason1:
        return u"收款事由"_s;
    case Item::Reason2Label:
    case Item::Reason2:
        return u"其它说明"_s;
    case Item::RemarkLabel:
    case Item::Remark:
        return u"备注信息"_s;
    case Item::CapitalsLabel:
    case Item::Capitals:
        return u"金额（大写）"_s;
    case Item::YuanSign:
    case Item::Figures:
        return u"金额（小写）"_s;
    case Item::PaytypeLabel:
    case Item::Paytype:
        return u"收款方式"_s;
    case Item::PayeeLabel:
    case Item::Payee:
        return u"收款人"_s;
    case Item::ApproveLabel:
    case Item::Approve:
        return u"核准"_s;
    case Item::AccountantLabel:
    case Item::Accountant:
        return u"会计"_s;
    case Item::Colon:
        return u"冒号"_s;
    case Item::SideLabel:
        return u"右侧标签"_s;
    case Item::VoidStamp:
        return u"作废印章"_s;
    case Item::FixedRemark:
        return u"固定备注"_s;
    case Item::ReprintMark:
        return u"补打标记"_s;
    }
    return {};
}

void ReceiptPageLayout::addVoidStamp(const QRectF &room)
{
    const QString text = u"作废"_s;
    QFont stampFont = font(FontRole::Title);
    stampFont.setWeight(QFont::Bold);
    // Smaller only on a page too small for it: the stamp must not run off the paper.
    for (int size = stampSize; size >= smallestSize; --size) {
        stampFont.setPixelSize(size);
        const QFontMetricsF metrics(stampFont);
        QRectF line(0, 0, metrics.horizontalAdvance(text), metrics.height());
        line.moveCenter(m_tableRect.center());
        const QTransform turn = turnedAbout(line.center(), stampAngle);
        const QRectF drawn
            = turn.mapRect(stampFrame(text, stampFont, line)).united(turn.mapRect(line));
        if (room.contains(drawn) || size == smallestSize) {
            m_texts.append(
                {Item::VoidStamp, text, stampFont, line, drawn, 0, 1, false, stampAngle});
            return;
        }
    }
}

void ReceiptPageLayout::addText(Item item, const QString &text, const QFont &font,
                                const QRectF &cell, Qt::Alignment alignment, Fitting fitting)
{
    const Fit fit = fitText(text, font, cell.size(), fitting);
    const QFontMetricsF metrics(fit.font);
    const QFontMetricsF normal(font);
    const qreal lineHeight = metrics.height();
    const bool onRule = alignment & Qt::AlignBottom;
    qreal top = 0;
    if (fit.lines.size() == 1) {
        const qreal normalTop
            = onRule ? cell.bottom() - normal.height() : cell.center().y() - normal.height() / 2;
        top = normalTop + normal.ascent() - metrics.ascent();
    } else {
        const qreal height = lineHeight * qreal(fit.lines.size());
        top = onRule ? cell.bottom() - height : cell.center().y() - height / 2;
    }
    for (qsizetype i = 0; i < fit.lines.size(); ++i) {
        const QString &line = fit.lines[i];
        const qreal width = std::min(metrics.horizontalAdvance(line), cell.width());
        qreal x = cell.left();
        if (alignment & Qt::AlignRight)
            x = cell.right() - width;
        else if (alignment & Qt::AlignHCenter)
            x = cell.center().x() - width / 2;
        m_texts.append({item, line, fit.font,
                        QRectF(x, top + qreal(i) * lineHeight, width, lineHeight), cell, int(i),
                        int(fit.lines.size()), fit.elided && i == fit.lines.size() - 1});
    }
}

const ReceiptPageLayout::TextItem *ReceiptPageLayout::find(Item item) const
{
    const auto it = std::find_if(m_texts.cbegin(), m_texts.cend(),
                                 [item](const TextItem &text) { return text.item == item; });
    return it == m_texts.cend() ? nullptr : &*it;
}

QList<ReceiptPageLayout::TextItem> ReceiptPageLayout::findAll(Item item) const
{
    QList<TextItem> result;
    std::copy_if(m_texts.cbegin(), m_texts.cend(), std::back_inserter(result),
                 [item](const TextItem &text) { return text.item == item; });
    return result;
}

QString ReceiptPageLayout::text(Item item) const
{
    const TextItem *found = find(item);
    if (!found)
        return {};
    QStringList lines;
    for (const TextItem *line = found; lines.size() < found->lineCount; ++line)
        lines.append(line->text);
    return lines.join(u'\n');
}

void ReceiptPageLayout::paint(QPainter &painter) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.fillRect(m_pageRect, Qt::white);

    painter.setBrush(Qt::NoBrush);
    if (m_border) {
        painter.setPen(QPen(Qt::black, borderWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        const qreal inset = borderWidth / 2;
        painter.drawRect(m_tableRect.adjusted(inset, inset, -inset, -inset));
    }

    painter.setPen(QPen(Qt::black, ruleWidth, Qt::SolidLine, Qt::FlatCap));
    for (const QLineF &rule : m_rules)
        painter.drawLine(rule);

    painter.setPen(Qt::black);
    for (const TextItem &text : m_texts) {
        if (text.text.isEmpty())
            continue;
        const QFontMetricsF metrics(text.font);
        // Only a single character wider than its column (the vertical label) can overrun
        // its cell after eliding; it is cut rather than drawn over its neighbours.
        const bool overruns = metrics.horizontalAdvance(text.text) > text.cell.width() + 0.01;
        const bool stamp = text.item == Item::VoidStamp;
        if (overruns || stamp)
            painter.save();
        if (overruns)
            painter.setClipRect(text.cell, Qt::IntersectClip);
        if (stamp) {
            painter.setTransform(turnedAbout(text.rect.center(), text.angle), true);
            painter.setOpacity(stampOpacity);
            const QColor ink = QColor::fromRgb(stampInk);
            painter.setPen(QPen(ink, stampFrameWidth));
            const qreal corner = stampCorner * text.font.pixelSize();
            painter.drawRoundedRect(stampFrame(text.text, text.font, text.rect), corner, corner);
            painter.setPen(ink);
        }
        painter.setFont(text.font);
        painter.drawText(QPointF(text.rect.left(), text.rect.top() + metrics.ascent()), text.text);
        if (overruns || stamp)
            painter.restore();
    }
    // Black on the page's white, the quiet zone left as the paper is.
    if (!m_codeModules.isEmpty())
        painter.fillPath(m_codeModules, Qt::black);
    painter.restore();
}

QFont ReceiptPageLayout::font(FontRole role)
{
    QFont font = QGuiApplication::font();
    // The Chinese family first; the system family after it covers what it lacks.
    font.setFamilies({u"Noto Sans CJK SC"_s, QGuiApplication::font().family()});
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    // Advances as designed, not snapped to whole pixels at 10 px: the page is drawn
    // scaled up to the printer's resolution, where snapped spacing looks uneven.
    font.setHintingPreference(QFont::PreferNoHinting);
    switch (role) {
    case FontRole::Caption:
        font.setPixelSize(captionSize);
        break;
    case FontRole::Subheadline:
        font.setPixelSize(subheadlineSize);
        break;
    case FontRole::Title:
        font.setPixelSize(titleSize);
        break;
    }
    return font;
}

QStringList ReceiptPageLayout::verticalLabelLines(const QString &label)
{
    return graphemes(singleLine(label));
}

QString ReceiptPageLayout::figuresText(double total)
{
    // The same fen as the totals and the exports count, two decimals, no grouping.
    if (const std::optional<qint64> fen = Money::fenFromYuan(total))
        return Money::format(*fen, false);
    return QString::asprintf("%.2f", total);
}

void paintReceiptPage(QPainter &painter, const QRectF &pageRect,
                      const std::optional<Receipt> &receipt, const Company &company,
                      const ReceiptPageLayout::Options &options)
{
    ReceiptPageLayout(pageRect, receipt, company, options).paint(painter);
}
