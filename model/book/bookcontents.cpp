// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookcontents.h"

#include "clock.h"
#include "database.h"
#include "databaseerror.h"
#include "datetext.h"
#include "money.h"
#include "receiptbook.h"
#include "storedamount.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

std::optional<qint64> firstInteger(Database &book, const QString &sql)
{
    std::unique_ptr<ResultSet> rows = book.executeQuery(sql);
    if (!rows || !rows->next())
        return std::nullopt;
    return rows->int64ForColumnIndex(0);
}

// Runs a statement that returns no rows; false when it failed.
bool run(Database &book, const QString &sql, const QStringList &values)
{
    std::unique_ptr<ResultSet> rows = book.executeQuery(sql, values);
    if (!rows)
        return false;
    rows->next();
    return !rows->hasError();
}

} // namespace

QString BookContents::firstReceiptStatement(const SqlDialect &dialect)
{
    return u"select count(*) from (select 1 from tb_receipt limit 1)"_s
        + dialect.subqueryAlias(u"first"_s);
}

std::optional<QSet<QString>> BookContents::shownNumbers(Database &book)
{
    std::unique_ptr<ResultSet> rows = book.executeQuery(
        u"select cast(receiptNo as text) from tb_receipt where "_s + ReceiptBook::liveCondition());
    if (!rows)
        return std::nullopt;
    QSet<QString> numbers;
    while (rows->next())
        numbers.insert(rows->stringForColumnIndex(0).value_or(QString()));
    if (rows->hasError())
        return std::nullopt;
    return numbers;
}

std::optional<QString> BookContents::closedThrough(Database &book)
{
    std::unique_ptr<ResultSet> rows = book.executeQuery(u"select max(closedTo) from tb_closing"_s);
    if (!rows)
        return book.lastError().kind() == DatabaseError::Kind::MissingTable
            ? std::optional<QString>(QString())
            : std::nullopt;
    if (!rows->next())
        return rows->hasError() ? std::nullopt : std::optional<QString>(QString());
    return rows->stringForColumnIndex(0).value_or(QString());
}

QString BookContents::reopenedDays(const QString &current, const QString &restored)
{
    if (current.isEmpty() || restored >= current)
        return {};
    return (restored.isEmpty() ? u"备份中没有日结"_s : u"备份只日结到 %1"_s.arg(restored))
        + u"，账本已日结到 %1：恢复它会让已日结的日子又能修改，没有恢复"_s.arg(current);
}

bool BookContents::summarize(Database &book, Summary *summary, QString *error)
{
    std::unique_ptr<ResultSet> rows = book.executeQuery(
        u"select count(*), min(nullif(receiptDate, '')), max(nullif(receiptDate, '')) "
        u"from tb_receipt where "_s + ReceiptBook::liveCondition());
    if (!rows || !rows->next()) {
        *error = rows && rows->hasError()
            ? rows->error().message()
            : book.lastError().message();
        return false;
    }
    summary->receipts = rows->int64ForColumnIndex(0);
    summary->earliestDate = rows->stringForColumnIndex(1).value_or(QString());
    summary->latestDate = rows->stringForColumnIndex(2).value_or(QString());
    return true;
}

BookContents::Issued BookContents::issuedBy(Database &book)
{
    Issued issued;
    const SqlDialect &dialect = book.dialect();
    if (std::unique_ptr<ResultSet> rows = book.executeQuery(dialect.inDialect(
            u"select receiptNo from tb_receipt where receiptNo <> '' and "
            u"receiptNo not glob '*[^0-9]*' order by cast(receiptNo as integer) desc limit 1"_s,
            u"select receiptNo from tb_receipt where receiptNo ~ '^[0-9]+$' "
            u"order by receiptNo::numeric desc limit 1"_s));
        rows && rows->next())
        issued.highestNumber = rows->stringForColumnIndex(0).value_or(QString());
    if (const std::optional<qint64> count
        = firstInteger(book, u"select count(*) from tb_receipt where "_s
                                 + ReceiptBook::liveCondition()))
        issued.receipts = *count;
    if (const std::optional<qint64> counter = firstInteger(
            book, dialect.inDialect(
                      u"select max(cast(currNum as integer)) from tb_receiptNo"_s,
                      u"select max(currNum::numeric) from tb_receiptNo where currNum ~ '^[0-9]+$'"_s)))
        issued.counter = *counter;
    return issued;
}

bool BookContents::recordRestore(Database &book, const QString &file,
                                 const std::optional<Issued> &replaced)
{
    QJsonObject detail {{u"file"_s, QFileInfo(file).absoluteFilePath()}};
    if (replaced) {
        detail.insert(u"replacedHighestNo"_s, replaced->highestNumber);
        detail.insert(u"replacedReceiptCount"_s, replaced->receipts);
        // A number too long for an integer is past every counter already.
        bool ok = false;
        const qint64 highest = replaced->highestNumber.toLongLong(&ok);
        const qint64 after = !ok ? 0
            : highest < std::numeric_limits<qint64>::max() ? highest + 1
                                                           : highest;
        const QString next = QString::number(std::max(replaced->counter, after));
        const QString counter = book.dialect().inDialect(
            u"update tb_receiptNo set currNum = $1 "
            u"where coalesce(cast(currNum as integer), 0) < cast($1 as integer)"_s,
            u"update tb_receiptNo set currNum = $1 where coalesce(case when currNum ~ '^[0-9]+$' "
            u"then currNum::numeric end, 0) < $1::numeric"_s);
        if (!run(book, counter, {next}))
            return false;
    }
    return run(book,
               u"insert into tb_history (time, action, receiptId, receiptNo, detail) "
               u"values ($1, 'restore', NULL, NULL, $2)"_s,
               {formatDateText(Clock::now(), DateText::dateTime),
                QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact))});
}

void BookContents::Amounts::add(QByteArrayView stored)
{
    const std::optional<double> yuan = readStoredAmount(stored);
    const std::optional<qint64> amount = yuan ? Money::fenFromYuan(*yuan) : std::nullopt;
    if (amount)
        fen += quint64(*amount);
    else
        ++unreadable;
}

QString BookContents::Amounts::text() const
{
    QString result = Money::format(qint64(fen));
    if (unreadable > 0)
        result += u"，另有 %1 张金额无法识别"_s.arg(unreadable);
    return result;
}

bool BookContents::addUp(Database &book, Amounts *amounts, QString *error)
{
    std::unique_ptr<ResultSet> rows = book.executeQuery(u"select total from tb_receipt"_s);
    while (rows && rows->next())
        amounts->add(rows->bytesForColumnIndex(0).value_or(""));
    if (rows && !rows->hasError())
        return true;
    *error = rows ? rows->error().detail() : book.lastError().detail();
    return false;
}

QString BookContents::continueIdsStatement()
{
    return u"select setval(pg_get_serial_sequence('tb_history', 'id'), "
           u"coalesce(max(id), 0) + 1, false) from tb_history;\n"
           u"select setval(pg_get_serial_sequence('tb_receipt', 'rowid'), "
           u"coalesce(max(rowid), 0) + 1, false) from tb_receipt"_s;
}

std::optional<QString> BookContents::unrecordedReceipts(Database &book)
{
    std::unique_ptr<ResultSet> rows = book.executeQuery(
        u"select count(*) over (), receiptNo from tb_receipt r where not exists (select 1 from "
        u"tb_history h where h.receiptId = r.id and h.action in ('insert', 'import')) and "
        u"coalesce(r.createDate, '') >= (select min(time) from tb_history) "
        u"order by r.rowid limit 10"_s);
    QStringList numbers;
    qint64 count = 0;
    while (rows && rows->next()) {
        numbers.append(u"No."_s + rows->stringForColumnIndex(1).value_or(QString()));
        count = rows->int64ForColumnIndex(0);
    }
    if (!rows || rows->hasError())
        return std::nullopt;
    if (numbers.isEmpty())
        return QString();
    return u"%1 张收据没有开单或导入的历史记录：%2%3"_s.arg(count).arg(
        numbers.join(u"、"_s), count > numbers.size() ? u" 等"_s : QString());
}
