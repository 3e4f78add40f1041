// SPDX-License-Identifier: GPL-3.0-or-later
#include "paperbookpages.h"

#include "clock.h"
#include "companystore.h"
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

// A cell's text within its column: a figure kept clear of the text in the next column.
QRectF cellRect(const ColumnSpec &column, qreal x, qreal y, qreal height)
{
    return QRectF(x + 2, y, column.width - (column.right ? 14 : 4), height);
}

// No., 去向, 日期, 金额, 说明: 499 points, the page's width within its margins.
constexpr ColumnSpec numberColumns[] = {
    {u"No.", 84}, {u"去向", 46}, {u"日期", 76}, {u"金额", 76, true}, {u"说明", 217},
};

QString money(qint64 fen)
{
    return u"¥"_s + Money::format(fen);
}

QString kindText(ReceiptBook::NumberUse::Kind kind)
{
    switch (kind) {
    case ReceiptBook::NumberUse::Kind::Issued:
        return u"开出"_s;
    case ReceiptBook::NumberUse::Kind::Voided:
        return u"作废"_s;
    case ReceiptBook::NumberUse::Kind::Deleted:
        return u"删除"_s;
    case ReceiptBook::NumberUse::Kind::Spoiled:
        return u"废票"_s;
    }
    return {};
}

QString seriesName(const PaperBooks::Account &account)
{
    return account.book.series.isEmpty() ? SeriesNumber::defaultName() : account.book.series;
}

} // namespace

std::optional<PaperBookPages::Report>
PaperBookPages::read(QString *error, const QList<std::pair<QString, qint64>> &only)
{
    Report report;
    report.title = CompanyStore::shared().company().title;
    report.made = Clock::now();
    report.desk = ReceiptBook::deskName();
    if (!PaperBooks::accounts(&report.accounts, error))
        return std::nullopt;
    if (!only.isEmpty()) {
        report.accounts.removeIf([&only](const PaperBooks::Account &account) {
            return !only.contains(std::pair(account.book.series, account.book.first));
        });
    }
    return report;
}

QString PaperBookPages::runsText(const QList<qint64> &values, const ReceiptSeries &series)
{
    QStringList runs;
    for (qsizetype i = 0; i < values.size();) {
        qsizetype end = i;
        while (end + 1 < values.size() && values.at(end + 1) == values.at(end) + 1)
            ++end;
        const QString first = SeriesNumber::text(series, 0, values.at(i));
        runs << (end == i ? first : first + u"–"_s + SeriesNumber::text(series, 0, values.at(end)));
        i = end + 1;
    }
    return runs.join(u"、"_s);
}

PaperBookPages::PaperBookPages(const Report &report)
    : A4Pages(u"收据本核销表"_s)
{
    const QSizeF size = pageSize();
    const qreal width = size.width() - 2 * margin;
    const qreal bottom = size.height() - margin - footerHeight;
    const QFont body = reportFont(10);
    const QFont small = reportFont(8.5);
    const QFont heading = reportFont(10, true);
    const QFont title = reportFont(17, true);
    const QFontMetricsF bodyMetrics(body);
    const auto lineHeight = [](const QFont &font) { return QFontMetricsF(font).height() * 1.35; };
    const qreal bodyHeight = lineHeight(body);
    const qreal headingHeight = lineHeight(heading);
    const qreal smallHeight = lineHeight(small);
    qreal y = margin;

    const auto add = [&](const QRectF &rect, const QString &text, const QFont &font, int flags) {
        m_pages.last().texts.append({rect, text, font, flags});
    };
    // What heads a page the book's table runs on to: the book, then the table's heading.
    QString continued;
    bool inTable = false;
    const auto tableHeading = [&] {
        qreal x = margin;
        for (const ColumnSpec &column : numberColumns) {
            add(cellRect(column, x, y, headingHeight), QString::fromUtf16(column.title),
                heading, (column.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
            x += column.width;
        }
        m_pages.last().lines.append(QLineF(margin, y, margin + width, y));
        m_pages.last().lines.append(QLineF(margin, y + headingHeight, margin + width, y + headingHeight));
        y += headingHeight;
    };
    const auto newPage = [&] {
        m_pages.append(Page());
        y = margin;
    };
    // A new page when `needed` points do not fit below y.
    const auto room = [&](qreal needed) {
        if (y + needed <= bottom)
            return;
        if (inTable)
            m_pages.last().lines.append(QLineF(margin, y, margin + width, y));
        newPage();
        if (!continued.isEmpty()) {
            add(QRectF(margin, y, width, smallHeight), continued, small,
                Qt::AlignLeft | Qt::AlignVCenter);
            y += smallHeight + 4;
        }
        if (inTable)
            tableHeading();
    };
    // A text across the page, broken where it is too long (the unused numbers of a book
    // may run to thousands of characters).
    const auto paragraph = [&](const QString &text, const QFont &font) {
        const QFontMetricsF metrics(font);
        const qreal h = lineHeight(font);
        QString rest = text;
        while (!rest.isEmpty()) {
            qsizetype fits = rest.size();
            if (metrics.horizontalAdvance(rest) > width) {
                qsizetype low = 1, high = rest.size();
                while (low + 1 < high) {
                    const qsizetype middle = (low + high) / 2;
                    (metrics.horizontalAdvance(rest.left(middle)) <= width ? low : high) = middle;
                }
                fits = low;
            }
            room(h);
            add(QRectF(margin, y, width, h), rest.left(fits), font, Qt::AlignLeft | Qt::AlignVCenter);
            y += h;
            rest = rest.mid(fits);
        }
    };
    const auto tableRow = [&](const QStringList &cells) {
        room(bodyHeight);
        qreal x = margin;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const ColumnSpec &column = numberColumns[size_t(i)];
            const QRectF rect = cellRect(column, x, y, bodyHeight);
            const QString &cell = cells.at(i);
            const QString shown = cell.size() * body.pixelSize() <= rect.width()
                ? cell
                : bodyMetrics.elidedText(cell, Qt::ElideRight, rect.width());
            add(rect, shown, body,
                (column.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
            x += column.width;
        }
        y += bodyHeight;
    };
    const auto header = [&] {
        const QString name = report.title.isEmpty() ? u"收据本核销表"_s
                                                    : report.title + u" 收据本核销表"_s;
        add(QRectF(margin, y, width, lineHeight(title)), name, title, Qt::AlignCenter);
        y += lineHeight(title) + 4;
        add(QRectF(margin, y, width, bodyHeight),
            u"制表日期：%1　　收款台：%2"_s.arg(formatDateText(report.made, u"yyyy-MM-dd HH:mm"),
                                              report.desk.isEmpty() ? u"—"_s : report.desk),
            body, Qt::AlignLeft | Qt::AlignVCenter);
        y += bodyHeight + 8;
    };

    newPage();
    if (report.accounts.isEmpty()) {
        header();
        paragraph(u"没有登记收据本。"_s, body);
    }
    for (qsizetype index = 0; index < report.accounts.size(); ++index) {
        const PaperBooks::Account &account = report.accounts.at(index);
        const PaperBook &book = account.book;
        // Each book on sheets of its own, to be filed with the book it reconciles.
        if (index > 0)
            newPage();
        header();
        const QString range = SeriesTables::rangeText(book, account.series);
        continued = u"（续）收据本 %1 %2"_s.arg(seriesName(account), range);
        paragraph(u"收据本：%1　%2（%3 张）"_s.arg(seriesName(account), range).arg(book.size()),
                  heading);
        QString said = u"领用人：%1　　登记：%2%3　　状态：%4"_s.arg(
            book.holder.isEmpty() ? u"—"_s : book.holder,
            formatDateText(book.registered, u"yyyy-MM-dd"),
            book.desk.isEmpty() ? QString() : u"（%1）"_s.arg(book.desk),
            SeriesTables::stateText(book.state));
        if (book.returned)
            said += u"　　缴销：%1"_s.arg(formatDateText(*book.returned, u"yyyy-MM-dd"));
        paragraph(said, body);
        QString counts = u"已开 %1（合计 %2）　作废 %3　废票 %4　未用 %5"_s
                             .arg(account.issued)
                             .arg(money(account.issuedFen))
                             .arg(account.voided + account.deleted)
                             .arg(account.spoiled)
                             .arg(account.unused);
        if (account.deleted > 0)
            counts += u"（作废含删除 %1）"_s.arg(account.deleted);
        paragraph(counts, heading);
        y += 6;

        if (!account.uses.isEmpty()) {
            room(headingHeight + bodyHeight);
            tableHeading();
            inTable = true;
            // A spoiled form's receipt went on to another number, which the sheet names.
            QHash<QString, QString> numberOf;
            for (const ReceiptBook::NumberUse &use : account.uses) {
                if (use.kind != ReceiptBook::NumberUse::Kind::Spoiled && !use.receiptId.isEmpty())
                    numberOf.insert(use.receiptId, use.receiptNo);
            }
            for (const ReceiptBook::NumberUse &use : account.uses) {
                const bool withAmount = use.kind == ReceiptBook::NumberUse::Kind::Issued
                    || use.kind == ReceiptBook::NumberUse::Kind::Voided;
                QString note;
                if (use.kind == ReceiptBook::NumberUse::Kind::Voided)
                    note = u"作废原因：%1"_s.arg(use.reason);
                else if (use.kind == ReceiptBook::NumberUse::Kind::Spoiled)
                    note = u"废票原因：%1"_s.arg(use.reason)
                        + (numberOf.contains(use.receiptId)
                               ? u"，收据改为 No.%1"_s.arg(numberOf.value(use.receiptId))
                               : QString());
                tableRow({use.receiptNo.isEmpty() ? SeriesNumber::text(account.series, 0, use.value)
                                                  : use.receiptNo,
                          kindText(use.kind),
                          use.date.isValid() ? formatDateText(use.date, u"yyyy-MM-dd") : QString(),
                          withAmount ? money(Money::fenFromYuan(use.total).value_or(0)) : QString(),
                          note});
            }
            inTable = false;
            m_pages.last().lines.append(QLineF(margin, y, margin + width, y));
            y += 8;
        }
        paragraph(account.unusedNumbers.isEmpty()
                      ? u"未用单号：无"_s
                      : u"未用单号（%1 个）：%2"_s.arg(account.unused).arg(
                            runsText(account.unusedNumbers, account.series)),
                  body);

        // The lines to sign, kept together on one page.
        room(bodyHeight * 3 + 20);
        y += 28;
        const qreal third = width / 3;
        const QString signers[] = {u"领用人："_s, u"核销人："_s, u"会计："_s};
        for (int i = 0; i < 3; ++i) {
            const qreal x = margin + i * third;
            const qreal labelWidth = bodyMetrics.horizontalAdvance(signers[i]) + 2;
            add(QRectF(x, y, labelWidth, bodyHeight), signers[i], body, Qt::AlignLeft | Qt::AlignBottom);
            m_pages.last().lines.append(
                QLineF(x + labelWidth, y + bodyHeight, x + third - 12, y + bodyHeight));
        }
        y += bodyHeight;
    }

    const int count = int(m_pages.size());
    for (int page = 0; page < count; ++page) {
        m_pages[page].texts.append({QRectF(margin, size.height() - margin - footerHeight + 6, width,
                                           footerHeight - 6),
                                    u"第 %1 页 / 共 %2 页"_s.arg(page + 1).arg(count), small,
                                    Qt::AlignCenter});
    }
}
