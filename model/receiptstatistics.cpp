// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptstatistics.h"

#include "database.h"
#include "money.h"
#include "receiptbook.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "storedamount.h"

#include <QHash>

#include <algorithm>

using namespace Qt::StringLiterals;

std::optional<QList<ReceiptStatistics::Row>>
ReceiptStatistics::compute(const QString &beginDate, const QString &endDate, Grouping grouping)
{
    // Amounts are read in the program, not summed by SQLite: a stored text such as
    // "1,234.50" must not count as 1, and sums are made in whole fen.
    QString key;
    switch (grouping) {
    case Grouping::Month:
        key = u"substr(receiptDate, 1, 7)"_s;
        break;
    case Grouping::Payer:
        key = u"payer"_s;
        break;
    case Grouping::Reason:
        key = u"reason1"_s;
        break;
    case Grouping::Paytype:
        key = u"paytype"_s;
        break;
    }
    // A book from before voids were kept (only read, not brought up to date) has none.
    const std::optional<bool> keepsVoids = ReceiptBook::shared().keepsVoids();
    if (!keepsVoids)
        return std::nullopt;
    const QString sql = u"select %1, total from tb_receipt where %2 and receiptDate "
                        u"between %3 and %4"_s.arg(key, ReceiptBook::liveCondition(),
                                                   sqlQuote(beginDate), sqlQuote(endDate))
        + (*keepsVoids ? u" and id not in (select receiptId from tb_void)"_s : QString());
    std::unique_ptr<ResultSet> rows = SQLiteHelper::shared().query(sql);
    if (!rows)
        return std::nullopt;
    QHash<QString, Row> groups;
    while (rows->next()) {
        const QString name = rows->stringForColumnIndex(0).value_or(QString());
        Row &group = groups[name];
        group.key = name;
        ++group.count;
        const std::optional<QByteArrayView> total = rows->bytesForColumnIndex(1);
        const std::optional<double> yuan = readStoredAmount(total.value_or(""));
        const std::optional<qint64> fen = yuan ? Money::fenFromYuan(*yuan) : std::nullopt;
        if (fen)
            group.fen += *fen;
        else
            ++group.unreadable;
    }
    if (rows->hasError())
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
    const std::optional<bool> keepsVoids = ReceiptBook::shared().keepsVoids();
    if (!keepsVoids || !*keepsVoids)
        return keepsVoids ? std::optional<qint64>(0) : std::nullopt;
    return SQLiteHelper::shared().count(
        u"select count(*) from tb_receipt where %1 and receiptDate between %2 and %3 "
        u"and id in (select receiptId from tb_void)"_s.arg(ReceiptBook::liveCondition(),
                                                           sqlQuote(beginDate), sqlQuote(endDate)));
}
