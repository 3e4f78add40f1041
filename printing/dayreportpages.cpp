// SPDX-License-Identifier: GPL-3.0-or-later
#include "dayreportpages.h"

#include "bookproof.h"
#include "datetext.h"
#include "money.h"
#include "outputfile.h"
#include "receiptpagelayout.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <span>

using namespace Qt::StringLiterals;

namespace {

using A4Report::ColumnSpec;
using A4Report::footerHeight;
using A4Report::margin;
using A4Report::reportFont;

// No., 交款单位, 收款事由, 收款方式, 金额, 状态: 499 points, the page's width within its margins.
constexpr ColumnSpec dayColumns[] = {
    {u"No.", 72}, {u"交款单位", 140}, {u"收款事由", 122}, {u"收款方式", 60},
    {u"金额", 70, true}, {u"状态", 35},
};
constexpr ColumnSpec spoiledColumns[] = {
    {u"No.", 90}, {u"登记时间", 110}, {u"原收据改开", 100}, {u"原因", 199},
};

constexpr ColumnSpec laterColumns[] = {
    {u"No.", 72}, {u"收款日期", 70}, {u"交款单位", 140}, {u"作废原因", 147},
    {u"金额", 70, true},
};

QString money(qint64 fen)
{
    return u"¥"_s + Money::format(fen);
}

} // namespace

DayReportPages::DayReportPages(const DayReport &report)
    : A4Pages(u"收款日报"_s)
{
    const QSizeF size = pageSize();
    const qreal width = size.width() - 2 * margin;
    const qreal bottom = size.height() - margin - footerHeight;
    const QFont body = reportFont(10);
    const QFont small = reportFont(8.5);
    const QFont heading = reportFont(10, true);
    const QFont title = reportFont(17, true);
    qreal y = margin;
    m_pages.append(Page());
    // Measured once: a day of thousands of receipts lays out tens of thousands of cells.
    const QFontMetricsF bodyMetrics(body);
    const QFontMetricsF smallMetrics(small);
    const QHash<const QFont *, qreal> heights {
        {&body, bodyMetrics.height() * 1.35},
        {&small, smallMetrics.height() * 1.35},
        {&heading, QFontMetricsF(heading).height() * 1.35},
        {&title, QFontMetricsF(title).height() * 1.35},
    };
    // A text no wider than one em per character fits without being measured.
    const auto fitted = [](const QFontMetricsF &metrics, const QFont &font, const QString &text,
                           qreal room) {
        if (text.size() * font.pixelSize() <= room)
            return text;
        return metrics.elidedText(text, Qt::ElideRight, room);
    };

    const auto add = [&](const QRectF &rect, const QString &text, const QFont &font, int flags) {
        m_pages.last().texts.append({rect, text, font, flags});
    };
    const auto lineHeight = [&heights](const QFont &font) { return heights.value(&font); };
    // A new page when `needed` points do not fit below y; true when one was begun.
    const auto room = [&](qreal needed) {
        if (y + needed <= bottom)
            return false;
        m_pages.append(Page());
        y = margin;
        return true;
    };
    // One line of text across the page, broken where it is too long.
    const auto paragraph = [&](const QString &text, const QFont &font) {
        const QFontMetricsF metrics(font);
        QString rest = text;
        while (!rest.isEmpty()) {
            // The longest start of the rest that fits, found by halves: a line of the
            // missing numbers may run to thousands of characters.
            qsizetype fits = rest.size();
            if (metrics.horizontalAdvance(rest) > width) {
                qsizetype low = 1, high = rest.size();
                while (low + 1 < high) {
                    const qsizetype middle = (low + high) / 2;
                    (metrics.horizontalAdvance(rest.left(middle)) <= width ? low : high) = middle;
                }
                fits = low;
            }
            room(lineHeight(font));
            add(QRectF(margin, y, width, lineHeight(font)), rest.left(fits), font,
                Qt::AlignLeft | Qt::AlignVCenter);
            y += lineHeight(font);
            rest = rest.mid(fits);
        }
    };
    // A table's heading row, with its rules.
    const auto tableHeading = [&](std::span<const ColumnSpec> columns) {
        const qreal h = lineHeight(heading);
        qreal x = margin;
        for (const ColumnSpec &column : columns) {
            add(QRectF(x + 2, y, column.width - 4, h), QString::fromUtf16(column.title), heading,
                (column.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
            x += column.width;
        }
        m_pages.last().lines.append(QLineF(margin, y, margin + width, y));
        m_pages.last().lines.append(QLineF(margin, y + h, margin + width, y + h));
        y += h;
    };
    const auto tableRow = [&](std::span<const ColumnSpec> columns, const QStringList &cells,
                              const QString &note) {
        const qreal h = lineHeight(body);
        const qreal noteHeight = note.isEmpty() ? 0 : lineHeight(small);
        if (room(h + noteHeight))
            tableHeading(columns);
        qreal x = margin;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const ColumnSpec &column = columns[size_t(i)];
            const QString shown = fitted(bodyMetrics, body, cells.at(i), column.width - 4);
            add(QRectF(x + 2, y, column.width - 4, h), shown, body,
                (column.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
            x += column.width;
        }
        y += h;
        if (!note.isEmpty()) {
            add(QRectF(margin + columns[0].width + 2, y, width - columns[0].width - 4, noteHeight),
                fitted(smallMetrics, small, note, width - columns[0].width - 4),
                small, Qt::AlignLeft | Qt::AlignVCenter);
            y += noteHeight;
        }
    };

    // The heading of the report.
    const QString name = report.title.isEmpty() ? u"收款日报"_s : report.title + u" 收款日报"_s;
    add(QRectF(margin, y, width, lineHeight(title)), name, title, Qt::AlignCenter);
    y += lineHeight(title) + 4;
    add(QRectF(margin, y, width, lineHeight(body)),
        u"日期：%1　　收款台：%2"_s.arg(report.day.toString(u"yyyy-MM-dd"_s), report.desk), body,
        Qt::AlignLeft | Qt::AlignVCenter);
    y += lineHeight(body) + 6;

    if (report.receipts.isEmpty()) {
        paragraph(u"当日没有收据。"_s, body);
    } else {
        tableHeading(dayColumns);
        for (const Receipt &receipt : report.receipts) {
            tableRow(dayColumns,
                     {receipt.receiptNo, receipt.payer, receipt.reason1, receipt.paytype,
                      Money::shownOf(receipt), DayReport::statusOf(receipt)},
                     receipt.voidReason ? u"作废原因：%1"_s.arg(*receipt.voidReason) : QString());
        }
        m_pages.last().lines.append(QLineF(margin, y, margin + width, y));
    }
    y += 10;

    if (!report.voidedLater.isEmpty()) {
        room(lineHeight(heading) * 3);
        paragraph(u"跨日作废（以前日期的收据，于本日作废，%1 张）"_s.arg(report.voidedLater.size()),
                  heading);
        tableHeading(laterColumns);
        for (const Receipt &receipt : report.voidedLater) {
            tableRow(laterColumns,
                     {receipt.receiptNo, receipt.receiptDate.date().toString(u"yyyy-MM-dd"_s),
                      receipt.payer, receipt.voidReason.value_or(QString()),
                      Money::shownOf(receipt)},
                     {});
        }
        m_pages.last().lines.append(QLineF(margin, y, margin + width, y));
        y += 10;
    }

    if (!report.spoiled.isEmpty()) {
        room(lineHeight(heading) * 3);
        paragraph(u"废票（本日登记的损坏收据纸，%1 张，单号已用，不计金额）"_s.arg(report.spoiled.size()),
                  heading);
        tableHeading(spoiledColumns);
        for (const ReceiptBook::NumberUse &use : report.spoiled) {
            tableRow(spoiledColumns,
                     {use.receiptNo, formatDateText(use.date, DateText::dateTime),
                      use.renumbered.isEmpty() ? u"—"_s : u"No."_s + use.renumbered, use.reason},
                     {});
        }
        m_pages.last().lines.append(QLineF(margin, y, margin + width, y));
        y += 10;
    }

    room(lineHeight(heading) * (3 + report.byPaytype.size()));
    paragraph(u"合计"_s, heading);
    for (const DayReport::Total &total : report.byPaytype) {
        paragraph(u"%1：%2 张，%3"_s.arg(total.paytype.isEmpty() ? u"（未填收款方式）"_s
                                                                : total.paytype)
                      .arg(total.count)
                      .arg(money(total.fen)),
                  body);
    }
    paragraph(u"合计：%1 张，%2（作废 %3 张不计）"_s.arg(report.total.count)
                  .arg(money(report.total.fen))
                  .arg(report.voided),
              heading);
    if (report.unreadable > 0)
        paragraph(u"另有 %1 张收据的金额无法识别，没有计入合计"_s.arg(report.unreadable), body);
    y += 6;
    paragraph(report.receipts.isEmpty()
                  ? u"收据张数：0"_s
                  : u"收据张数：%1（正常 %2，作废 %3）；首号 No.%4，末号 No.%5"_s
                        .arg(report.receipts.size())
                        .arg(report.receipts.size() - report.voided)
                        .arg(report.voided)
                        .arg(report.firstNumber, report.lastNumber),
              body);
    if (report.missingCount == 0) {
        paragraph(u"缺号：无"_s, body);
    } else {
        QString missing = u"缺号（%1 个）：No."_s.arg(report.missingCount)
            + report.missing.join(u"、No."_s);
        if (report.missingCount > report.missing.size())
            missing += u" 等"_s;
        paragraph(missing, body);
    }
    if (report.closing) {
        paragraph(u"日结：已日结（%1 日结到 %2，收款台 %3），当时链尾 %4"_s.arg(
                      formatDateText(report.closing->time, DateText::dateTime),
                      report.closing->closedTo.toString(u"yyyy-MM-dd"_s),
                      report.closing->desk.isEmpty() ? u"—"_s : report.closing->desk,
                      report.closing->head.isEmpty() ? u"（无）"_s
                                                     : BookProof::shortHead(report.closing->head)),
                  body);
    } else {
        paragraph(u"日结：本日尚未日结"_s, body);
    }

    // The lines to sign, kept together on one page.
    const qreal signHeight = lineHeight(body) * 3;
    room(signHeight + 20);
    y += 28;
    const qreal third = width / 3;
    const QString signers[] = {u"收款人："_s, u"复核："_s, u"会计："_s};
    for (int i = 0; i < 3; ++i) {
        const qreal x = margin + i * third;
        const qreal labelWidth = QFontMetricsF(body).horizontalAdvance(signers[i]) + 2;
        add(QRectF(x, y, labelWidth, lineHeight(body)), signers[i], body,
            Qt::AlignLeft | Qt::AlignBottom);
        m_pages.last().lines.append(
            QLineF(x + labelWidth, y + lineHeight(body), x + third - 12, y + lineHeight(body)));
    }

    const int count = int(m_pages.size());
    for (int page = 0; page < count; ++page) {
        m_pages[page].texts.append({QRectF(margin, size.height() - margin - footerHeight + 6, width,
                                           footerHeight - 6),
                                    u"第 %1 页 / 共 %2 页"_s.arg(page + 1).arg(count), small,
                                    Qt::AlignCenter});
    }
}
