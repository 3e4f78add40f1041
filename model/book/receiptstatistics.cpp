// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptstatistics.h"

#include "money.h"
#include "receiptbook.h"
#include "storedamount.h"

#include <QHash>

#include <algorithm>

using namespace Qt::StringLiterals;

std::optional<QList<ReceiptStatistics::Row>>
ReceiptStatistics::compute(const QString &beginDate, const QString &endDate, Grouping grouping)
{
    // Amounts are read in the program, not summed by the book: a stored text such as
    // "1,234.50" must not count as 1, and sums are made in whole fen.
    const ReceiptBook::Group group = grouping == Grouping::Month ? ReceiptBook::Group::Month
        : grouping == Grouping::Payer                            ? ReceiptBook::Group::Payer
        : grouping == Grouping::Reason                           ? ReceiptBook::Group::Reason
                                                                 : ReceiptBook::Group::Paytype;
    QHash<QString, Row> groups;
    const bool read = ReceiptBook::shared().readCounted(
        group, beginDate, endDate, [&groups](const QString &name, QByteArrayView total) {
            Row &row = groups[name];
            row.key = name;
            ++row.count;
            const std::optional<double> yuan = readStoredAmount(total);
            const std::optional<qint64> fen = yuan ? Money::fenFromYuan(*yuan) : std::nullopt;
            if (fen)
                row.fen += *fen;
            else
                ++row.unreadable;
        });
    if (!read)
        return std::nullopt;
    QList<Row> result = groups.values();
    std::sort(result.begin(), result.end(), [](const Row &a, const Row &b) {
        return a.fen != b.fen ? a.fen > b.fen : a.key < b.key;
    });
    return result;
}

std::optional<qint64> ReceiptStatistics::voidedCount(const QString &beginDate,
                                                     const QString &endDate)
{
    return ReceiptBook::shared().voidedCount(beginDate, endDate);
}
