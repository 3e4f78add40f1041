// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptbook.h"

#include "amountincapitals.h"
#include "clock.h"
#include "database.h"
#include "databaseerror.h"
#include "datetext.h"
#include "failure.h"
#include "money.h"
#include "receiptnumber.h"
#include "receiptnumbering.h"
#include "receiptproof.h"
#include "receiptrow.h"
#include "receiptsearchindex.h"
#include "recordid.h"
#include "sharedinstance.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"
#include "writescope.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

#include <algorithm>
#include <array>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// The fields of a receipt the cashier typed: two saves of one form compare equal.
QJsonObject typedFields(const Receipt &receipt)
{
    QJsonObject fields = ReceiptHistory::toJson(receipt);
    for (const QString &key : {u"id"_s, u"receiptNo"_s, u"createDate"_s, u"creator"_s})
        fields.remove(key);
    // Stored at the start of its day: the form keeps the time it was opened at.
    fields.insert(u"receiptDate"_s, receipt.receiptDate.date().toString(Qt::ISODate));
    return fields;
}

} // namespace

ReceiptBook &ReceiptBook::shared()
{
    return SharedInstance<ReceiptBook>::get();
}

ReceiptBook::ReceiptBook(SQLiteHelper *connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    qRegisterMetaType<BookChange>();
}

const SqlDialect &ReceiptBook::dialect() const
{
    return connection().db().dialect();
}

SQLiteHelper &ReceiptBook::connection() const
{
    return m_connection ? *m_connection : SQLiteHelper::shared();
}

QString ReceiptBook::lastError() const
{
    return connection().lastError();
}

QString ReceiptBook::liveCondition(const QString &table)
{
    return (table.isEmpty() ? QString() : table + u'.') + u"isDeleted <> 1"_s;
}

QString ReceiptBook::deskChannel()
{
    return u"quenta_book"_s;
}

QString ReceiptBook::payloadOf(const BookChange &change)
{
    QStringList rows;
    for (qint64 row : change.rows)
        rows.append(QString::number(row));
    QString payload
        = u"%1;%2;%3"_s.arg(int(change.kind)).arg(change.ids.join(u','), rows.join(u','));
    // A notification carries at most 8,000 bytes: a larger change is told as a change of
    // the whole book, which the other desks read again. A change without ids is one too.
    if (change.ids.isEmpty() || payload.toUtf8().size() > 7900)
        payload = u"*"_s;
    return payload;
}

std::optional<BookChange> ReceiptBook::changeOfPayload(const QString &payload)
{
    const QStringList parts = payload.split(u';');
    if (parts.size() != 3)
        return std::nullopt;
    bool ok = false;
    const int kind = parts.at(0).toInt(&ok);
    if (!ok || kind < int(BookChange::Kind::Issued) || kind > int(BookChange::Kind::Restored))
        return std::nullopt;
    BookChange change;
    change.kind = BookChange::Kind(kind);
    change.ids = parts.at(1).split(u',', Qt::SkipEmptyParts);
    for (const QString &row : parts.at(2).split(u',', Qt::SkipEmptyParts)) {
        change.rows.append(row.toLongLong(&ok));
        if (!ok)
            return std::nullopt;
    }
    if (change.ids.isEmpty() || change.ids.size() != change.rows.size())
        return std::nullopt;
    return change;
}

void ReceiptBook::tellFromElsewhere(const QString &payload)
{
    // Another desk may have spoiled a form.
    bookFacts().spoiledForms.reset();
    const std::optional<BookChange> change = changeOfPayload(payload);
    if (!change) {
        // The whole book, or a change this program cannot read: everything is read again.
        Q_EMIT changedElsewhere(BookChange {BookChange::Kind::Restored, {}, {}});
        tellReplaced();
        return;
    }
    Q_EMIT changedElsewhere(*change);
    tell(change->kind, change->ids, change->rows, true);
}

std::optional<QString> ReceiptBook::historyDesk()
{
    if (!m_historyKeepsDesk) {
        const std::optional<QStringList> columns = connection().columnNames(u"tb_history"_s);
        if (!columns)
            return std::nullopt;
        m_historyKeepsDesk = columns->contains(u"desk"_s, Qt::CaseInsensitive);
    }
    if (!*m_historyKeepsDesk)
        return std::nullopt;
    return deskName();
}

QString ReceiptBook::deskName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    return (user.isEmpty() ? u"?"_s : user) + u'@' + QSysInfo::machineHostName();
}

ReceiptBook::BookFacts &ReceiptBook::bookFacts()
{
    const QString book = connection().dbURL();
    if (m_bookFacts.book != book) {
        m_bookFacts = BookFacts();
        m_bookFacts.book = book;
    }
    return m_bookFacts;
}

void ReceiptBook::tellReplaced()
{
    m_historyKeepsDesk.reset();
    m_bookFacts = {};
    Q_EMIT replaced();
}

void ReceiptBook::tell(BookChange::Kind kind, const QStringList &ids, const QList<qint64> &rows,
                       bool elsewhere)
{
    if (ids.isEmpty())
        return;
    // Every list holding the rows asks for them as they are now, and for the rows beside
    // where a new one goes: nothing is written meanwhile, so one read serves them all. A
    // change told from a listener starts afresh, and the rest of this one reads anew.
    m_telling = true;
    m_toldReads.clear();
    Q_EMIT changed(BookChange {kind, ids, rows, elsewhere});
    m_telling = false;
    m_toldReads.clear();
}

// --- reads -----------------------------------------------------------------------------

QString ReceiptBook::rangeStatement(const QString &begin, const QString &end)
{
    return u"select *\nfrom  tb_Receipt\nwhere "_s + liveCondition() + u"\nand   ReceiptDate between "_s
        + sqlQuote(begin) + u" and "_s + sqlQuote(end) + u"\norder by ReceiptNo desc"_s;
}

QString ReceiptBook::rangeStatementByNumber(const QString &begin, const QString &end)
{
    // The unary plus keeps the date condition off the date index (it compares the same).
    return u"select *\nfrom  tb_Receipt\nwhere "_s + liveCondition() + u"\nand   +ReceiptDate between "_s
        + sqlQuote(begin) + u" and "_s + sqlQuote(end) + u"\norder by ReceiptNo desc"_s;
}

QString ReceiptBook::dateSpanStatement()
{
    // Each on its own: SQLite reads one end of the index for a lone min() or max().
    return u"select (select min(receiptDate) from tb_receipt), "
           u"(select max(receiptDate) from tb_receipt)"_s;
}

bool ReceiptBook::readRange(const QString &begin, const QString &end, RangeRead *range,
                            QString *failure)
{
    RangeRead &read = *range;
    read = {};
    QString error;
    if (std::unique_ptr<ResultSet> resultSet = connection().query(rangeStatement(begin, end))) {
        // Columns are looked up after the first step: a statement prepared before another
        // program changed the table is prepared again by that step, with other columns.
        std::optional<ReceiptRowMapper> mapper;
        while (resultSet->next()) {
            if (!mapper) {
                mapper.emplace(*resultSet, u"ReceiptNo"_s);
                if (!mapper->missingColumn().isEmpty()) {
                    error = u"数据库缺少列 %1"_s.arg(mapper->missingColumn());
                    break;
                }
            }
            if (std::optional<Receipt> receipt = mapper->map())
                read.receipts.append(std::move(*receipt));
            else
                ++read.skipped;
        }
        if (error.isEmpty() && resultSet->hasError())
            error = connection().noteFailure(resultSet->error());
    } else {
        error = connection().lastError();
    }
    if (!error.isEmpty()) {
        read = {};
        if (failure)
            *failure = u"读取收据失败："_s + error;
        return false;
    }
    const QHash<QString, QString> voided = voidReasons();
    if (!voided.isEmpty()) {
        for (Receipt &receipt : read.receipts) {
            const auto found = voided.constFind(receipt.id);
            if (found != voided.constEnd())
                receipt.voidReason = found.value();
        }
    }
    return true;
}

bool ReceiptBook::read(const QString &receiptId, std::optional<Receipt> *receipt, QString *error)
{
    // The id may be the receipt's own, about to be replaced.
    const QString id = receiptId;
    *receipt = std::nullopt;
    const auto failed = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const QString sql = u"select *\nfrom tb_receipt\nwhere id = "_s + sqlQuote(id) + u";"_s;
    std::unique_ptr<ResultSet> resultSet = connection().query(sql);
    if (!resultSet)
        return failed(lastError());
    std::optional<ReceiptRowMapper> mapper; // after the first step, as in readRange()
    std::optional<Receipt> found;
    while (resultSet->next()) {
        if (!mapper)
            mapper.emplace(*resultSet, u"receiptNo"_s);
        if (!mapper->missingColumn().isEmpty())
            return failed(u"数据库缺少列 %1"_s.arg(mapper->missingColumn()));
        if (std::optional<Receipt> row = mapper->map())
            found = std::move(row);
    }
    if (resultSet->hasError())
        return failed(connection().noteFailure(resultSet->error()));
    if (found && !readVoidReason(id, &found->voidReason))
        return failed(lastError());
    *receipt = std::move(found);
    return true;
}

bool ReceiptBook::readPrintCode(const Receipt &receipt, QString *code, QString *error)
{
    code->clear();
    if (receipt.id.isEmpty())
        return true;
    std::unique_ptr<ResultSet> rows
        = connection().query(ReceiptProof::newestRecordStatement(), {receipt.id});
    if (!rows) {
        const QString reason = lastError();
        // A book from before the record chain (or its history), only read, has no link
        // to print.
        const std::optional<qint64> tables
            = connection().tableCount({u"tb_chain"_s, u"tb_history"_s});
        if (tables && *tables < 2)
            return true;
        return fail(error, reason);
    }
    if (rows->next()) {
        const QString link
            = ReceiptProof::linkToPrint(receipt, rows->bytesForColumnIndex(0).value_or(""),
                                        rows->bytesForColumnIndex(1).value_or(""));
        if (!link.isEmpty())
            *code = ReceiptProof::codeText(receipt, link);
    }
    if (rows->hasError())
        return fail(error, connection().noteFailure(rows->error()));
    return true;
}

std::optional<Receipt> ReceiptBook::readNow(const QString &id)
{
    std::optional<Receipt> receipt;
    return read(id, &receipt) ? receipt : std::nullopt;
}

QString ReceiptBook::rowsStatement(const QList<qint64> &rows)
{
    QStringList numbers;
    numbers.reserve(rows.size());
    for (const qint64 row : rows)
        numbers.append(QString::number(row));
    return u"select rowid as quenta_row, * from tb_receipt where rowid in (%1)"_s.arg(
        numbers.join(u','));
}

std::optional<QList<Receipt>> ReceiptBook::readRows(const QList<qint64> &rows)
{
    if (rows.isEmpty())
        return QList<Receipt>();
    if (m_telling) {
        for (const auto &[read, receipts] : std::as_const(m_toldReads)) {
            if (read == rows)
                return receipts;
        }
    }
    std::optional<QList<Receipt>> receipts = readRowsNow(rows);
    if (m_telling && receipts)
        m_toldReads.append({rows, *receipts});
    return receipts;
}

std::optional<QList<Receipt>> ReceiptBook::readRowsNow(const QList<qint64> &rows)
{
    // A book known to keep voids gives each row's with it, in the same read.
    const bool withVoids = bookFacts().keepsVoids;
    QString sql = rowsStatement(rows);
    if (withVoids) {
        QStringList numbers;
        numbers.reserve(rows.size());
        for (const qint64 row : rows)
            numbers.append(QString::number(row));
        sql = u"select r.rowid as quenta_row, r.*, v.reason as quenta_void from tb_receipt r "
              u"left join tb_void v on v.receiptId = r.id where r.rowid in (%1)"_s.arg(
                  numbers.join(u','));
    }
    std::unique_ptr<ResultSet> resultSet = connection().query(sql);
    if (!resultSet)
        return std::nullopt;
    std::optional<QList<std::pair<qint64, Receipt>>> read = receiptsOf(*resultSet, withVoids);
    if (!read)
        return std::nullopt;
    QHash<qint64, Receipt> byRow;
    byRow.reserve(read->size());
    for (auto &[row, receipt] : *read)
        byRow.insert(row, std::move(receipt));
    // The voids of just these rows: a page asks for a few dozen.
    // Unknown whether the book keeps voids: asked all the same, so that a failure shows
    // rather than voided receipts shown as valid.
    if (!withVoids && keepsVoids() != false && !byRow.isEmpty()) {
        QStringList ids;
        for (const Receipt &receipt : std::as_const(byRow))
            ids.append(receipt.id);
        const std::optional<QHash<QString, QString>> reasons = voidReasons(ids);
        if (!reasons)
            return std::nullopt;
        for (Receipt &receipt : byRow) {
            const auto found = reasons->constFind(receipt.id);
            if (found != reasons->constEnd())
                receipt.voidReason = found.value();
        }
    }
    QList<Receipt> receipts;
    receipts.reserve(rows.size());
    for (const qint64 row : rows) {
        const auto found = byRow.constFind(row);
        if (found != byRow.constEnd())
            receipts.append(found.value());
    }
    return receipts;
}

QString ReceiptBook::firstRowsStatement(const QString &where, qsizetype limit)
{
    return u"select rowid as quenta_row, *, (select v.reason from tb_void v where v.receiptId "
           u"= tb_receipt.id limit 1) as quenta_void from tb_receipt where (%1) order by "
           u"receiptNo desc, rowid desc limit %2"_s.arg(where)
        .arg(limit);
}

std::optional<QList<std::pair<qint64, Receipt>>> ReceiptBook::receiptsOf(ResultSet &rows,
                                                                         bool withVoids)
{
    const int voidColumn = withVoids ? rows.columnIndexForName(u"quenta_void"_s) : -1;
    QList<std::pair<qint64, Receipt>> read;
    std::optional<ReceiptRowMapper> mapper;
    while (rows.next()) {
        if (!mapper) {
            mapper.emplace(rows, u"receiptNo"_s);
            if (!mapper->missingColumn().isEmpty())
                return std::nullopt;
        }
        if (std::optional<Receipt> receipt = mapper->map()) {
            if (withVoids)
                receipt->voidReason = rows.stringForColumnIndex(voidColumn);
            read.append({rows.int64ForColumnIndex(0), std::move(*receipt)});
        }
    }
    if (rows.hasError()) {
        connection().noteFailure(rows.error());
        return std::nullopt;
    }
    return read;
}

std::optional<QDate> ReceiptBook::firstReceiptDay(const QString &begin, const QString &end)
{
    // Along the dates' index from its low end: the first row answers, unless another
    // program stored a date the lists cannot read.
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select receiptDate from tb_receipt where %1 and receiptDate between %2 "
        u"and %3 order by receiptDate limit 100"_s.arg(liveCondition(), sqlQuote(begin),
                                                       sqlQuote(end)));
    while (rows && rows->next()) {
        const QDateTime day
            = parseDateText(rows->stringForColumnIndex(0).value_or(QString()), DateText::dateTime);
        if (day.isValid())
            return day.date();
    }
    return std::nullopt;
}

std::optional<qint64> ReceiptBook::rowOf(const QString &id)
{
    std::unique_ptr<ResultSet> resultSet
        = connection().query(u"select rowid from tb_receipt where id = %1"_s.arg(sqlQuote(id)));
    if (!resultSet || !resultSet->next())
        return std::nullopt;
    return resultSet->int64ForColumnIndex(0);
}

bool ReceiptBook::readIdOfNumber(const QString &receiptNo, std::optional<QString> *id,
                                 QString *error)
{
    *id = std::nullopt;
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select id from tb_receipt where receiptNo = %1 and %2"_s.arg(sqlQuote(receiptNo),
                                                                        liveCondition()));
    if (rows && rows->next()) {
        *id = rows->stringForColumnIndex(0).value_or(QString());
        return true;
    }
    if (rows && !rows->hasError())
        return true;
    if (error)
        *error = rows ? connection().noteFailure(rows->error())
                      : lastError();
    return false;
}

std::optional<bool> ReceiptBook::isNumberTaken(const QString &number, qint64 value)
{
    const std::optional<bool> asText = isTakenAsWritten(number);
    if (asText != false)
        return asText;
    // The same number in another padding: "5" or "00000005" beside "0000005", stored
    // before numbers were padded on their way in, or under another numbering length.
    if (ReceiptNumber::isPlain(number)) {
        const std::optional<qint64> padded
            = connection().count(u"select count(*) from tb_receipt where "_s + numberValueCondition,
                                 {numberValueKey(number)});
        if (!padded)
            return std::nullopt;
        if (*padded > 0)
            return true;
    }
    // A column that keeps its type holds the number as a text only.
    if (dialect().keepsColumnTypes())
        return false;
    return isWrittenByAnotherProgram(number, value);
}

std::optional<bool> ReceiptBook::isWrittenByAnotherProgram(const QString &number, qint64 value)
{
    // Both terms can use the index on receiptNo; typeof() keeps a text '4' from
    // counting as the number 4, since number texts compare as texts.
    const std::optional<qint64> otherwise = connection().count(
        u"select count(*) from tb_receipt where receiptNo = X'%1' or "
        u"(typeof(receiptNo) in ('integer', 'real') and receiptNo = %2)"_s.arg(
            QString::fromLatin1(number.toUtf8().toHex()), QString::number(value)));
    if (!otherwise)
        return std::nullopt;
    return *otherwise > 0;
}

std::optional<bool> ReceiptBook::isTakenAsWritten(const QString &number)
{
    const std::optional<qint64> asText = connection().count(
        u"select count(*)\nfrom tb_receipt\nwhere receiptNo = "_s + sqlQuote(number) + u";"_s);
    if (!asText)
        return std::nullopt;
    return *asText > 0;
}

std::optional<std::pair<qint64, qint64>> ReceiptBook::rowAndOtherUses(const Receipt &receipt)
{
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select rowid, (select count(*) from tb_history where %1 and receiptId is distinct from "
        u"$2) + "
        u"(select count(*) from tb_receipt where %1 and id <> $2) from tb_receipt "
        u"where id = $2"_s.arg(numberValueCondition),
        {numberValueKey(receipt.receiptNo), receipt.id}, Database::Plan::Kept);
    if (!rows || !rows->next())
        return std::nullopt;
    return std::pair {rows->int64ForColumnIndex(0), rows->int64ForColumnIndex(1)};
}

std::optional<bool> ReceiptBook::wasNumberIssued(const QString &number)
{
    const bool plain = ReceiptNumber::isPlain(number);
    const std::optional<qint64> rows
        = connection().count(u"select count(*) from tb_history where "_s
                                 + (plain ? numberValueCondition : u"receiptNo = $1"_s),
                             {plain ? numberValueKey(number) : number});
    if (rows)
        return *rows > 0;
    // A book from before the history was kept, only read (not brought up to date), has
    // nothing to tell.
    const std::optional<qint64> tables = connection().tableCount({u"tb_history"_s});
    if (tables == 0)
        return false;
    return std::nullopt;
}

bool ReceiptBook::isProcedureMissing() const
{
    // No such procedure or function (a book from before them), or no right to call it.
    const DatabaseError::Kind kind = connection().db().lastError().kind();
    return kind == DatabaseError::Kind::MissingRoutine || kind == DatabaseError::Kind::NoRight;
}

bool ReceiptBook::isCounterStoredAndFree(const ReceiptNoSetting &setting)
{
    if (!dialect().runsProcedures() || !bookFacts().issues)
        return false;
    connection().db().closeIfServerHungUp();
    const QString number = ReceiptNumbering::numberText(setting);
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select exists (select 1 from tb_receiptNo) and not exists (select 1 from tb_receiptNo "
        u"where numLong is distinct from $1 or currNum is distinct from $2), "
        u"not quenta_number_used($3, $4)"_s,
        {QString::number(setting.numLong), QString::number(setting.currNum), number,
         numberValueKey(number)});
    if (!rows || !rows->next()) {
        if (isProcedureMissing())
            bookFacts().issues = false;
        return false;
    }
    return rows->stringForColumnIndex(0) == u"t"_s && rows->stringForColumnIndex(1) == u"t"_s;
}

bool ReceiptBook::isNumberUsed(const QString &number, qint64 value, bool *used, QString *error)
{
    const std::optional<bool> answer = numberUsed(number, value);
    *used = answer.value_or(true);
    if (!answer && error)
        *error = lastError();
    return answer.has_value();
}

std::optional<bool> ReceiptBook::numberUsed(const QString &number, qint64 value)
{
    // The number as written first, as the numbering has always asked; then, in one
    // statement (a round trip less to a server across town), the number in any padding
    // among the receipts and in the history, each found on the index of their values.
    const std::optional<bool> asText = isTakenAsWritten(number);
    if (asText != false)
        return asText;
    const bool plain = ReceiptNumber::isPlain(number);
    const QString condition = plain ? numberValueCondition : u"receiptNo = $1"_s;
    const std::optional<qint64> used
        = connection().count(u"select (select count(*) from tb_history where %1) + "
                             u"(select count(*) from tb_receipt where %1)"_s.arg(condition),
                             {plain ? numberValueKey(number) : number}, Database::Plan::Kept);
    if (!used) {
        // A book from before the history was kept, only read (not brought up to date).
        if (connection().tableCount({u"tb_history"_s}) != 0)
            return std::nullopt;
        return isNumberTaken(number, value);
    }
    if (*used > 0)
        return true;
    if (dialect().keepsColumnTypes())
        return false;
    return isWrittenByAnotherProgram(number, value);
}

QString ReceiptBook::repeatedNumbersStatement(const SqlDialect &dialect)
{
    // Grouped by the number's value where it is a number (its digits without the zeros
    // before them), by the text itself where it is not; the two kinds never meet.
    if (dialect.keepsColumnTypes())
        return u"select min(receiptNo), count(*), count(distinct receiptNo), "
               u"string_agg(distinct receiptNo, ',' order by receiptNo) from tb_receipt "
               u"group by case when receiptNo ~ '^[0-9]+$' then 'n' || ltrim(receiptNo, '0') "
               u"else 't' || receiptNo end having count(*) > 1 order by 1 limit 10"_s;
    // A number another program stored as an integer or a blob is read as its text.
    return u"select min(n), count(*), count(distinct n), group_concat(distinct n) from "
           u"(select cast(receiptNo as text) as n from tb_receipt) "
           u"group by case when n <> '' and n not glob '*[^0-9]*' then 'n' || ltrim(n, '0') "
           u"else 't' || n end having count(*) > 1 order by 1 limit 10"_s;
}

QString ReceiptBook::repeatedNumberFinding(const QString &first, qint64 count, qint64 spellings,
                                           const QString &spelled)
{
    if (spellings <= 1)
        return u"单号 No.%1 重复（%2 张）"_s.arg(first).arg(count);
    // Only texts of digits are spelled in more than one way: the list splits on its commas.
    QStringList texts = spelled.split(u',');
    std::sort(texts.begin(), texts.end());
    return u"单号 No.%1 重复（%2 张，写作 %3）"_s.arg(first).arg(count).arg(texts.join(u"、"_s));
}

std::optional<QStringList> ReceiptBook::repeatedNumbers(QString *error)
{
    std::unique_ptr<ResultSet> rows = connection().query(repeatedNumbersStatement(dialect()));
    if (!rows) {
        if (error)
            *error = lastError();
        return std::nullopt;
    }
    QStringList findings;
    while (rows->next())
        findings.append(repeatedNumberFinding(
            rows->stringForColumnIndex(0).value_or(QString()), rows->int64ForColumnIndex(1),
            rows->int64ForColumnIndex(2), rows->stringForColumnIndex(3).value_or(QString())));
    if (rows->hasError()) {
        const QString reason = connection().noteFailure(rows->error());
        if (error)
            *error = reason;
        return std::nullopt;
    }
    return findings;
}

std::optional<bool> ReceiptBook::keepsVoids()
{
    if (bookFacts().keepsVoids)
        return true;
    const std::optional<qint64> tables = connection().tableCount({u"tb_void"_s});
    if (!tables)
        return std::nullopt;
    bookFacts().keepsVoids = *tables > 0;
    return *tables > 0;
}

bool ReceiptBook::readCounted(
    Group group, const QString &begin, const QString &end,
    const std::function<void(const QString &group, QByteArrayView amount)> &row)
{
    QString key;
    switch (group) {
    case Group::Month:
        key = u"substr(receiptDate, 1, 7)"_s;
        break;
    case Group::Payer:
        key = u"payer"_s;
        break;
    case Group::Reason:
        key = u"reason1"_s;
        break;
    case Group::Paytype:
        key = u"paytype"_s;
        break;
    }
    // A book from before voids were kept (only read, not brought up to date) has none.
    const std::optional<bool> voids = keepsVoids();
    if (!voids)
        return false;
    const QString sql = u"select %1, total from tb_receipt where %2 and receiptDate "
                        u"between %3 and %4"_s.arg(key, liveCondition(), sqlQuote(begin),
                                                   sqlQuote(end))
        + (*voids ? u" and id not in (select receiptId from tb_void)"_s : QString());
    std::unique_ptr<ResultSet> rows = connection().query(sql);
    if (!rows)
        return false;
    while (rows->next())
        row(rows->stringForColumnIndex(0).value_or(QString()),
            rows->bytesForColumnIndex(1).value_or(""));
    return !rows->hasError();
}

std::optional<qint64> ReceiptBook::voidedCount(const QString &begin, const QString &end)
{
    const std::optional<bool> voids = keepsVoids();
    if (!voids || !*voids)
        return voids ? std::optional<qint64>(0) : std::nullopt;
    return connection().count(
        u"select count(*) from tb_receipt where %1 and receiptDate between %2 and %3 "
        u"and id in (select receiptId from tb_void)"_s.arg(liveCondition(), sqlQuote(begin),
                                                           sqlQuote(end)));
}

QHash<QString, QString> ReceiptBook::voidReasons()
{
    QHash<QString, QString> reasons;
    // A book from before voids were kept has none (and no table to ask).
    if (keepsVoids() == false)
        return reasons;
    std::unique_ptr<ResultSet> rows
        = connection().query(u"select receiptId, reason from tb_void"_s);
    while (rows && rows->next()) {
        reasons.insert(rows->stringForColumnIndex(0).value_or(QString()),
                       rows->stringForColumnIndex(1).value_or(QString()));
    }
    return reasons;
}

std::optional<QHash<QString, QString>> ReceiptBook::voidReasons(const QStringList &ids)
{
    QHash<QString, QString> reasons;
    if (ids.isEmpty())
        return reasons;
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select receiptId, reason from tb_void where receiptId in (%1)"_s.arg(sqlQuoteList(ids)));
    while (rows && rows->next()) {
        reasons.insert(rows->stringForColumnIndex(0).value_or(QString()),
                       rows->stringForColumnIndex(1).value_or(QString()));
    }
    if (!rows || rows->hasError())
        return std::nullopt;
    return reasons;
}

bool ReceiptBook::readVoidReason(const QString &receiptId, std::optional<QString> *reason)
{
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select reason from tb_void where receiptId = %1"_s.arg(sqlQuote(receiptId)));
    *reason = std::nullopt;
    if (rows) {
        if (rows->next())
            *reason = rows->stringForColumnIndex(0).value_or(QString());
        if (!rows->hasError())
            return true;
    }
    // A book from before voids were kept, which could not be brought up to date (it is
    // only read), has no voided receipt; any other failure leaves it unknown.
    *reason = std::nullopt;
    return keepsVoids() == false;
}

QJsonObject ReceiptBook::voidDetail(const QString &receiptId)
{
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select reason, voidDate from tb_void where receiptId = %1"_s.arg(sqlQuote(receiptId)));
    if (!rows || !rows->next())
        return {};
    return {{u"reason"_s, rows->stringForColumnIndex(0).value_or(QString())},
            {u"voidDate"_s, rows->stringForColumnIndex(1).value_or(QString())}};
}

QStringList ReceiptBook::earlierVoidReasons()
{
    QStringList reasons;
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select reason from tb_void group by reason order by count(*) desc, max(voidDate) desc"_s);
    while (rows && rows->next())
        reasons.append(rows->stringForColumnIndex(0).value_or(QString()));
    return reasons;
}

QString ReceiptBook::recentFormTextsStatement(int receipts)
{
    // The rowid is the table's own order on SQLite and a unique (indexed) column on a
    // server: the read walks back from the newest row and stops after `receipts`.
    return u"select payer, reason1, reason2, remark from tb_receipt where %1 "
           u"order by rowid desc limit %2"_s.arg(liveCondition()).arg(receipts);
}

std::optional<QList<QStringList>> ReceiptBook::recentFormTexts(int receipts)
{
    std::unique_ptr<ResultSet> rows = connection().query(recentFormTextsStatement(receipts));
    if (!rows)
        return std::nullopt;
    QList<QStringList> texts;
    while (rows->next()) {
        QStringList row;
        for (int column = 0; column < 4; ++column)
            row.append(rows->stringForColumnIndex(column).value_or(QString()));
        texts.append(row);
    }
    if (rows->hasError())
        return std::nullopt;
    return texts;
}

std::optional<QList<HistoryEntry>> ReceiptBook::history(const QString &receiptNo, QDate from,
                                                        QDate to, const QString &receiptId,
                                                        QString *error)
{
    QStringList conditions;
    if (!receiptNo.isEmpty()) {
        // The number as typed, not as a pattern: % and _ in it match only themselves.
        QString pattern = receiptNo;
        pattern.replace(u'\\', u"\\\\"_s).replace(u'%', u"\\%"_s).replace(u'_', u"\\_"_s);
        conditions << u"receiptNo like %1 escape '\\'"_s.arg(sqlQuote(u'%' + pattern + u'%'));
    }
    if (from.isValid())
        conditions << u"time >= %1"_s.arg(sqlQuote(from.toString(u"yyyy-MM-dd 00:00:00"_s)));
    if (to.isValid())
        conditions << u"time <= %1"_s.arg(sqlQuote(to.toString(u"yyyy-MM-dd 23:59:59"_s)));
    if (!receiptId.isEmpty())
        conditions << u"receiptId = %1"_s.arg(sqlQuote(receiptId));
    const QString sql = u"select id, time, action, receiptId, receiptNo, detail from tb_history"_s
        + (conditions.isEmpty() ? QString() : u" where "_s + conditions.join(u" and "_s))
        + u" order by id desc"_s;
    std::unique_ptr<ResultSet> rows = connection().query(sql);
    if (!rows) {
        if (error)
            *error = lastError();
        return std::nullopt;
    }
    QList<HistoryEntry> entries;
    while (rows->next()) {
        const std::optional<HistoryAction> action
            = ReceiptHistory::actionFromName(rows->stringForColumnIndex(2).value_or(QString()));
        if (!action)
            continue;
        HistoryEntry entry;
        entry.id = rows->int64ForColumnIndex(0);
        entry.time
            = parseDateText(rows->stringForColumnIndex(1).value_or(QString()), DateText::dateTime);
        entry.action = *action;
        entry.receiptId = rows->stringForColumnIndex(3).value_or(QString());
        entry.receiptNo = rows->stringForColumnIndex(4).value_or(QString());
        entry.detail
            = QJsonDocument::fromJson(rows->stringForColumnIndex(5).value_or(QString()).toUtf8())
                  .object();
        entries.append(std::move(entry));
    }
    if (rows->hasError()) {
        const QString reason = connection().noteFailure(rows->error());
        if (error)
            *error = reason;
        return std::nullopt;
    }
    return entries;
}

QString ReceiptBook::historyUnavailableReason()
{
    // A book from before the history was kept gets its tables when it is brought up to
    // date; one that cannot be (read-only, damaged) is read without them.
    const std::optional<qint64> tables = connection().tableCount({u"tb_history"_s, u"tb_void"_s});
    if (!tables)
        return u"无法读取操作记录：%1"_s.arg(connection().lastError());
    if (*tables < 2)
        return u"这个数据库来自旧版本，没有操作记录和作废记录；数据库只能读取，无法升级"_s;
    return {};
}

bool ReceiptBook::hasIndex(const QString &name)
{
    if (bookFacts().indexes.contains(name))
        return true;
    const bool found = connection().hasIndex(name) == true;
    if (found)
        bookFacts().indexes.insert(name);
    return found;
}

bool ReceiptBook::searchIndexReady()
{
    return connection().open() && ReceiptSearchIndex::isReady(connection().db());
}

QString ReceiptBook::missingColumn()
{
    const std::optional<QStringList> columns = connection().columnNames(u"tb_receipt"_s);
    if (!columns || columns->isEmpty())
        return {};
    for (const QString &needed :
         {u"id"_s, u"receiptNo"_s, u"receiptDate"_s, u"createDate"_s, u"total"_s}) {
        if (!columns->contains(needed, Qt::CaseInsensitive))
            return needed;
    }
    return {};
}

std::optional<qint64> ReceiptBook::changeCounter()
{
    // This connection's own writes are told by changed() as they commit.
    return connection().dataVersion();
}

// --- writes ----------------------------------------------------------------------------

bool ReceiptBook::recordHistory(HistoryAction action, const Receipt &receipt,
                                const QJsonObject &extra)
{
    const std::optional<QString> desk = historyDesk();
    const QString sql = historyInsert(desk.has_value())
        + historyValues(stored(Clock::now()), action, receipt, extra, desk) + u';';
    return connection().write(sql, SQLiteHelper::Changes::AtLeastOne);
}

QString ReceiptBook::insertStatement(const Receipt &r, const QDateTime &createDate)
{
    const std::array<QString, ColumnCount> values = columnValues(r, createDate);
    QString sql = u"insert into tb_receipt (\nId,\nreceiptNo ,\nreceiptDate ,\npayer ,\nreason1 ,\n"
                  u"reason2 ,\nremark ,\npaytype ,\npayee ,\napprove ,\naccountant ,\ncreator ,\n"
                  u"createDate ,\ntotal ,\ntotalBig,\nisDeleted\n)\nvalues (\n"_s;
    for (size_t i = 0; i < values.size(); ++i)
        sql += sqlQuote(values.at(i)) + (i + 1 < values.size() ? u",\n"_s : u"\n);"_s);
    return sql;
}

std::optional<bool> ReceiptBook::isStored(const QString &id)
{
    const std::optional<qint64> found
        = connection().count(u"select count(*) from tb_receipt where id = %1"_s.arg(sqlQuote(id)));
    if (!found)
        return std::nullopt;
    return *found > 0;
}

QString ReceiptBook::keptWhenLost() const
{
    // The server out of reach: nothing was written, and the cashier must know the typing
    // waits in the form rather than type it again.
    return connection().db().lastError().kind() == DatabaseError::Kind::ConnectionLost
        ? u"。表单中的内容还在，连接恢复后再保存即可"_s
        : QString();
}

QString ReceiptBook::unconfirmedText()
{
    return u"无法确认这张收据是否已保存：共享账本连接中断。表单中的内容还在；"
           u"连接恢复后再保存一次，已存入的收据不会再存一次"_s;
}

ReceiptBook::Issue ReceiptBook::notSaved(const QString &error)
{
    Issue result;
    result.error = error;
    return result;
}

bool ReceiptBook::issue(const Receipt &receipt, IssueResult *result, QString *error,
                        const QString &series)
{
    const Issue issued = issueNow(receipt, series);
    if (result)
        *result = issued;
    if (!issued.saved && error)
        *error = issued.error;
    return issued.saved;
}

ReceiptBook::Issue ReceiptBook::issueNow(const Receipt &receipt, const QString &series)
{
    const auto failed = [this](const QString &what) {
        return notSaved(u"%1：%2"_s.arg(what, connection().lastError()) + keptWhenLost());
    };
    // A save whose answer was lost is settled first: the same form saved again must not
    // store the receipt a second time.
    QString note;
    if (m_unconfirmed) {
        const std::optional<bool> landed = isStored(m_unconfirmed->id);
        if (!landed)
            return notSaved(unconfirmedText());
        const Receipt earlier = *std::exchange(m_unconfirmed, std::nullopt);
        if (*landed) {
            const std::optional<qint64> row = rowOf(earlier.id);
            tell(BookChange::Kind::Issued, {earlier.id}, {row.value_or(0)});
            if (typedFields(earlier) == typedFields(receipt)) {
                Issue result;
                result.saved = true;
                result.receiptNo = earlier.receiptNo;
                result.counter = ReceiptNumbering::storedCounter(connection()).value_or(0);
                result.id = earlier.id;
                result.note
                    = u"No.%1 在连接中断之前已经存入账本，没有再存一次"_s.arg(earlier.receiptNo);
                return result;
            }
            note = u"另：No.%1 在连接中断之前已经存入账本"_s.arg(earlier.receiptNo);
        }
    }
    if (!series.isEmpty() && series != SeriesNumber::defaultName())
        return issueInSeries(receipt, series, note);
    if (dialect().runsProcedures() && bookFacts().issues) {
        if (std::optional<Issue> result = issueInOneStatement(receipt, note))
            return *result;
    }
    for (std::optional<qint64> from;;) {
        WriteScope transaction(connection());
        if (!transaction.begin())
            return failed(u"保存失败"_s);
        // The numbering setting as stored now, read inside the transaction: another copy of
        // the program may have moved the counter since this one loaded it.
        QString numbering;
        std::optional<ReceiptNoSetting> setting = ReceiptNumbering::stored(
            connection(), ReceiptNumbering::Lock::UntilCommit, &numbering);
        if (!setting)
            return numbering.isEmpty() ? failed(u"保存失败"_s) : notSaved(numbering);

        Receipt kept = receipt;
        bool isNumber = ReceiptNumber::isPlain(kept.receiptNo);
        qint64 value = isNumber ? kept.receiptNo.toLongLong(&isNumber) : 0;
        if (!isNumber || value < setting->currNum) {
            // Not a number this program gave out, or one behind the stored counter: another
            // copy of the program moved the counter past it, so it may be on paper already
            // (issued, then deleted). The stored counter's number instead.
            value = setting->currNum;
        }
        // A number found used after the insert (below): the save starts again past it.
        if (from)
            value = std::max(value, *from);
        // A series with paper books issues the next number of the book in use.
        const std::optional<QList<PaperBook>> books = SeriesTables::books(connection(), QString());
        if (!books)
            return failed(u"保存失败"_s);
        const ReceiptSeries plain {SeriesNumber::defaultName(), {}, setting->numLong, false};
        if (!books->isEmpty()) {
            QString why;
            const std::optional<qint64> inBook = nextInBooks(plain, 0, from.value_or(0), *books, &why);
            if (!inBook)
                return why.isEmpty() ? failed(u"保存失败"_s) : notSaved(why);
            value = *inBook;
        }
        // Stored as the numbering pads it, whatever padding it came with.
        ReceiptNoSetting given = *setting;
        given.currNum = value;
        kept.receiptNo = ReceiptNumbering::numberText(given);
        for (;;) {
            // Free only when no receipt carries it and none ever did: a number deleted since,
            // with the counter set back, is on paper all the same.
            // Far from the book, the number as written only: the rest is asked with the row.
            const std::optional<bool> taken = dialect().isRemote() ? isTakenAsWritten(kept.receiptNo)
                                                         : numberUsed(kept.receiptNo, value);
            if (!taken)
                return failed(ReceiptNumbering::checkFailedText());
            if (!*taken)
                break;
            if (value == std::numeric_limits<qint64>::max())
                return notSaved(ReceiptNumbering::exhaustedText());
            ++value;
            if (!books->isEmpty()) {
                QString why;
                const std::optional<qint64> inBook = nextInBooks(plain, 0, value, *books, &why);
                if (!inBook)
                    return why.isEmpty() ? failed(u"保存失败"_s) : notSaved(why);
                value = *inBook;
            }
            ReceiptNoSetting next = *setting;
            next.currNum = value;
            kept.receiptNo = ReceiptNumbering::numberText(next);
        }

        kept.createDate = Clock::now();
        kept.receiptDate = QDateTime(kept.receiptDate.date(), QTime(0, 0)); // as stored
        if (!connection().write(insertStatement(kept, kept.createDate))
            || !recordHistory(HistoryAction::Insert, kept))
            return failed(u"保存失败"_s);
        std::optional<qint64> row;
        if (dialect().isRemote()) {
            // The row's id together with the number in another padding or in the history,
            // in one round trip after the insert rather than one more before it; found
            // used (seldom: a deleted number, the counter set back), the save is undone and
            // made again with the next number.
            const std::optional<std::pair<qint64, qint64>> found = rowAndOtherUses(kept);
            if (!found)
                return failed(u"保存失败"_s);
            if (found->second > 0) {
                if (value == std::numeric_limits<qint64>::max())
                    return notSaved(ReceiptNumbering::exhaustedText());
                from = value + 1;
                continue;
            }
            row = found->first;
        } else {
            row = rowOf(kept.id);
        }
        // The counter never moves back: a number past this one may already be out.
        setting->currNum = std::max(setting->currNum,
                                    value < std::numeric_limits<qint64>::max() ? value + 1 : value);
        if (!row || !connection().write(ReceiptNumbering::saveStatement(*setting)))
            return failed(u"保存失败"_s);
        if (!transaction.commit(BookChange {BookChange::Kind::Issued, {kept.id}, {*row}})) {
            if (!transaction.outcomeUnknown())
                return failed(u"保存失败"_s);
            // Asked again on a new connection: the receipt's id says whether it is in.
            if (std::optional<Issue> refused = settleLostIssue(kept))
                return *refused;
            note = u"连接在保存确认之前中断；已查明 No.%1 已经存入账本"_s.arg(kept.receiptNo);
        }
        tell(BookChange::Kind::Issued, {kept.id}, {*row});
        Issue result;
        result.saved = true;
        result.receiptNo = kept.receiptNo;
        result.counter = setting->currNum;
        result.id = kept.id;
        result.note = note;
        return result;
    }
}

std::optional<ReceiptBook::Issue> ReceiptBook::settleLostIssue(const Receipt &kept)
{
    const std::optional<bool> landed = isStored(kept.id);
    if (!landed) {
        m_unconfirmed = kept;
        return notSaved(unconfirmedText());
    }
    if (!*landed)
        return notSaved(u"保存失败：共享账本连接中断，这张收据没有存入账本。表单中的内容还在，"
                        u"可以再保存一次"_s);
    return std::nullopt;
}

std::optional<ReceiptBook::Issue> ReceiptBook::issueInOneStatement(const Receipt &receipt,
                                                            const QString &note)
{
    // A connection the server hung up on while the desk sat idle is made anew first: the
    // statement is then lost only if the connection breaks while it is under way.
    connection().db().closeIfServerHungUp();
    if (!connection().open())
        return std::nullopt;
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    const QString statement = u"call quenta_issue(%1, null, null, null, null, null)"_s.arg(
        [] {
            QStringList parameters;
            for (int i = 1; i <= 29; ++i)
                parameters << u"$%1"_s.arg(i);
            return parameters.join(u", "_s);
        }());
    // The counter as stored, the first time: what the statement then expects to find.
    const auto seenCounter = [this](const std::optional<QString> &numLong,
                                    const std::optional<QString> &currNum) {
        const std::optional<qint64> length = ReceiptNumbering::wholeNumber(numLong);
        const std::optional<qint64> counter = ReceiptNumbering::wholeNumber(currNum);
        if (length && counter)
            bookFacts().counter = SeenCounter {*numLong, *currNum, {{}, *length, *counter}};
        else
            bookFacts().counter.reset();
        return bookFacts().counter.has_value();
    };
    if (!bookFacts().counter) {
        std::unique_ptr<ResultSet> counter
            = connection().query(u"select numLong, currNum from tb_receiptNo limit 1"_s);
        if (!counter || !counter->next())
            return std::nullopt; // the transaction meets it again, and says why
        if (!seenCounter(counter->stringForColumnIndex(0), counter->stringForColumnIndex(1)))
            return notSaved(ReceiptNumbering::invalidSettingText());
    }
    std::optional<qint64> from;
    // A few tries: another desk's save moves the counter between two, and a number found
    // used is passed by. A longer run is left to the transaction.
    for (int attempt = 0; attempt < 6; ++attempt) {
        const ReceiptNoSetting seen = bookFacts().counter->setting;
        Receipt kept = receipt;
        bool isNumber = ReceiptNumber::isPlain(kept.receiptNo);
        qint64 value = isNumber ? kept.receiptNo.toLongLong(&isNumber) : 0;
        if (!isNumber || value < seen.currNum)
            value = seen.currNum;
        if (from)
            value = std::max(value, *from);
        ReceiptNoSetting given = seen;
        given.currNum = value;
        kept.receiptNo = ReceiptNumbering::numberText(given);
        // As the transaction leaves it, and the number the form then shows, as its
        // numbering store would make it.
        ReceiptNoSetting after = seen;
        after.currNum = std::max(seen.currNum, value < largest ? value + 1 : value);
        ReceiptNoSetting next = after;
        if (next.numLong < QString::number(next.currNum).size())
            next.numLong += 1;
        const QString nextNumber = ReceiptNumbering::numberText(next);
        kept.createDate = Clock::now();
        kept.receiptDate = QDateTime(kept.receiptDate.date(), QTime(0, 0)); // as stored
        const std::array<QString, ColumnCount> values = columnValues(kept, kept.createDate);

        QStringList parameters;
        parameters << bookFacts().counter->numLong << bookFacts().counter->currNum << QString::number(after.numLong) << QString::number(after.currNum);
        for (const QString &column : values)
            parameters << column;
        parameters << numberValueKey(kept.receiptNo) << stored(Clock::now())
                   << ReceiptHistory::actionName(HistoryAction::Insert)
                   << historyDetail(kept, {}) << deskName() << nextNumber
                   << numberValueKey(nextNumber) << deskChannel()
                   << payloadOf(BookChange {BookChange::Kind::Issued, {kept.id}, {}});
        // Its text sent each time (the server plans a call at no cost).
        std::unique_ptr<ResultSet> rows = connection().query(statement, parameters);
        if (!rows || !rows->next()) {
            if (connection().db().lastError().kind() != DatabaseError::Kind::ConnectionLost) {
                // A book the owner has not brought up to date has no procedure (nor has one
                // edited since), and a desk may lack the right to call it: the transaction
                // then writes it. Other failures are told as the transaction tells them.
                // A number outside the paper books is left to the transaction, which takes
                // the book's next.
                if (connection().db().lastError().kind() == DatabaseError::Kind::OutsidePaperBooks)
                    return std::nullopt;
                if (!isProcedureMissing())
                    return notSaved(u"保存失败：%1"_s.arg(connection().lastError()));
                bookFacts().issues = false;
                return std::nullopt;
            }
            // The statement went out and its answer never came: it may have been written.
            // Asked again on a new connection: the receipt's id says whether it is in.
            bookFacts().counter.reset();
            if (std::optional<Issue> refused = settleLostIssue(kept))
                return *refused;
            const std::optional<qint64> row = rowOf(kept.id);
            tell(BookChange::Kind::Issued, {kept.id}, {row.value_or(0)});
            Issue result;
            result.saved = true;
            result.receiptNo = kept.receiptNo;
            result.counter = ReceiptNumbering::storedCounter(connection()).value_or(0);
            result.id = kept.id;
            result.note = u"连接在保存确认之前中断；已查明 No.%1 已经存入账本"_s.arg(kept.receiptNo);
            return result;
        }
        const QString outcome = rows->stringForColumnIndex(0).value_or(QString());
        if (outcome == u"counter"_s) {
            if (rows->stringForColumnIndex(1).value_or(QString()).isNull()) {
                bookFacts().counter.reset();
                return std::nullopt; // no counter row: the transaction decides
            }
            if (!seenCounter(rows->stringForColumnIndex(1), rows->stringForColumnIndex(2)))
                return notSaved(ReceiptNumbering::invalidSettingText());
            continue;
        }
        if (outcome == u"taken"_s) {
            if (value == largest)
                return notSaved(ReceiptNumbering::exhaustedText());
            from = value + 1;
            continue;
        }
        if (outcome != u"issued"_s)
            return std::nullopt;
        const qint64 row = rows->int64ForColumnIndex(3);
        const bool nextFree = rows->stringForColumnIndex(4) == u"t"_s;
        bookFacts().counter
            = SeenCounter {QString::number(after.numLong), QString::number(after.currNum), after};
        // The one insert into tb_receipt counted one change of the book: this desk's own.
        connection().countOwnServerChanges(1);
        tell(BookChange::Kind::Issued, {kept.id}, {row});
        Issue result;
        result.saved = true;
        result.receiptNo = kept.receiptNo;
        result.counter = after.currNum;
        result.id = kept.id;
        result.note = note;
        if (nextFree && next.numLong == after.numLong)
            result.nextChecked = after;
        return result;
    }
    return std::nullopt;
}

bool ReceiptBook::update(const QString &id, const Receipt &r, QString *error, Receipt *asOpened,
                         Refusal *refusal)
{
    if (refusal)
        *refusal = Refusal::None;
    const auto refused = [&](Refusal why, const QString &message) {
        if (refusal)
            *refusal = why;
        return fail(error, message);
    };
    const std::array<QString, ColumnCount> v = columnValues(r, QDateTime());
    const QString sql = u"update tb_Receipt\nset    receiptDate = "_s
        + sqlQuote(v[ReceiptDateColumn]) + u",\n       payer       = "_s + sqlQuote(v[PayerColumn])
        + u",\n       reason1     = "_s + sqlQuote(v[Reason1Column]) + u",\n       reason2     = "_s
        + sqlQuote(v[Reason2Column]) + u",\n       remark      = "_s + sqlQuote(v[RemarkColumn])
        + u",\n       paytype     = "_s + sqlQuote(v[PaytypeColumn]) + u",\n       payee       = "_s
        + sqlQuote(v[PayeeColumn]) + u",\n       approve     = "_s + sqlQuote(v[ApproveColumn])
        + u",\n       accountant  = "_s + sqlQuote(v[AccountantColumn])
        + u",\n       total       = "_s + sqlQuote(v[TotalColumn]) + u",\n       totalBig    = "_s
        + sqlQuote(v[TotalBigColumn]) + u"\nwhere  id          = "_s + sqlQuote(id) + u" ;"_s;

    if (asOpened && dialect().runsProcedures() && bookFacts().updates && !asOpened->voidReason) {
        if (const std::optional<bool> saved = updateInOneStatement(id, r, *asOpened, error))
            return *saved;
    }
    // The update and its history row in one transaction: both or neither.
    const auto failed = [&](const QString &why) {
        return fail(error,
                    why.isEmpty() ? u"保存失败：%1"_s.arg(connection().lastError()) + keptWhenLost()
                                  : why);
    };
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failed({});
    // On a server the row is held from here to the commit: another desk's save of it waits,
    // so the receipt compared below is the one overwritten. A file is locked whole already.
    if (asOpened && !dialect().rowLockClause().isEmpty()
        && !connection().query(u"select id from tb_receipt where id = %1"_s.arg(sqlQuote(id))
                               + dialect().rowLockClause()))
        return failed({});
    const std::optional<Receipt> before = readNow(id);
    if (asOpened) {
        // Changed by another desk since the form read it, before its notice came: refused,
        // so that its change is not overwritten unseen.
        const auto elsewhere = [&](Refusal why, const QString &what) {
            return refused(why, u"该收据已在其他电脑上"_s + what);
        };
        if (!before) {
            const std::optional<qint64> stored = connection().count(
                u"select count(*) from tb_receipt where id = %1"_s.arg(sqlQuote(id)));
            return stored == 0 ? elsewhere(Refusal::Removed, u"删除"_s) : failed({});
        }
        if (before->voidReason && !asOpened->voidReason)
            return elsewhere(Refusal::Voided, u"作废"_s);
        if (ReceiptHistory::toJson(*before) != ReceiptHistory::toJson(*asOpened))
            return elsewhere(Refusal::Changed, u"修改"_s);
    }
    if (!before) {
        // Gone, or only unreadable just now: only a receipt known to be gone is refused for
        // good, so that the form never offers to store a second copy of one that is there.
        if (isStored(id) == false)
            return refused(Refusal::Removed, u"保存失败：要保存的记录已不存在"_s);
        return failed(u"保存失败：要保存的记录已不存在"_s);
    }
    if (before->voidReason)
        return refused(Refusal::Voided, u"已作废的收据不能修改"_s);
    if (!connection().write(sql, SQLiteHelper::Changes::AtLeastOne))
        return failed({});
    const std::optional<Receipt> after = readNow(id);
    const std::optional<qint64> row = rowOf(id);
    if (!after || !row)
        return failed({});
    const QJsonObject beforeJson = ReceiptHistory::toJson(*before);
    const QJsonObject afterJson = ReceiptHistory::toJson(*after);
    QJsonObject changes;
    for (auto it = afterJson.constBegin(); it != afterJson.constEnd(); ++it) {
        if (beforeJson.value(it.key()) != it.value())
            changes.insert(it.key(), QJsonArray({beforeJson.value(it.key()), it.value()}));
    }
    if (!recordHistory(HistoryAction::Update, *after, {{u"changes"_s, changes}}))
        return failed({});
    if (!transaction.commit(BookChange {BookChange::Kind::Updated, {id}, {*row}})) {
        if (!transaction.outcomeUnknown())
            return failed({});
        // Read again on a new connection: the receipt as this save left it, or as before.
        const std::optional<Receipt> now = readNow(id);
        if (!now)
            return failed(u"无法确认修改是否已保存：共享账本连接中断。表单中的内容还在，"
                          u"连接恢复后请重新打开这张收据核对"_s);
        if (ReceiptHistory::toJson(*now) != afterJson)
            return failed(u"保存失败：共享账本连接中断，修改没有存入账本。表单中的内容还在"_s);
    }
    if (asOpened)
        *asOpened = *after;
    tell(BookChange::Kind::Updated, {id}, {*row});
    return true;
}

bool ReceiptBook::remove(const QSet<QString> &ids, QString *error)
{
    // Single-quoted: SQLite builds without double-quoted string literals read "A" as
    // a column name and refuse the statement.
    const QString sql = u"delete from tb_receipt\nwhere  id in ("_s + sqlQuoteList(ids) + u");"_s;
    // Gone from the book, but not lost: the history keeps each deleted receipt whole, in
    // the same transaction as the delete. Any step that fails undoes the others and is
    // told: the rows stay, and the user must not think them gone.
    const auto failed = [&](const QString &reason) {
        return fail(error,
                    u"删除失败："_s + (reason.isEmpty() ? connection().lastError() : reason));
    };
    // A server refuses an empty list in a statement; with nothing to delete, nothing is.
    if (ids.isEmpty() && !dialect().takesEmptyLists())
        return true;
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failed({});
    QList<Receipt> deleted;
    QList<qint64> rows;
    for (const QString &id : ids) {
        if (std::optional<Receipt> receipt = readNow(id)) {
            const std::optional<qint64> row = rowOf(id);
            if (!row)
                return failed({});
            deleted.append(std::move(*receipt));
            rows.append(*row);
            continue;
        }
        // Gone already (another program deleted it): nothing to keep. Stored but not
        // read: its history row could not be written, so nothing is deleted.
        const std::optional<qint64> stored = connection().count(
            u"select count(*) from tb_receipt where id = %1"_s.arg(sqlQuote(id)));
        if (stored != 0)
            return failed({});
    }
    if (!connection().write(sql))
        return failed({});
    QStringList removedIds;
    for (const Receipt &receipt : std::as_const(deleted)) {
        // A voided receipt keeps its void in the history, to come back voided.
        const QJsonObject voided = receipt.voidReason ? voidDetail(receipt.id) : QJsonObject();
        if ((receipt.voidReason && voided.isEmpty())
            || !recordHistory(HistoryAction::Delete, receipt, voided))
            return failed({});
        removedIds.append(receipt.id);
    }
    if (!connection().write(
            u"delete from tb_void where receiptId in (%1);"_s.arg(sqlQuoteList(ids))))
        return failed({});
    if (!transaction.commit(BookChange {BookChange::Kind::Removed, removedIds, rows}))
        return failed({});
    tell(BookChange::Kind::Removed, removedIds, rows);
    return true;
}

bool ReceiptBook::voidReceipts(const QStringList &ids, const QString &reason, QString *error)
{
    if (reason.trimmed().isEmpty())
        return fail(error, u"必填：作废原因"_s);
    return changeVoids(ids, reason, error);
}

bool ReceiptBook::unvoidReceipts(const QStringList &ids, QString *error)
{
    return changeVoids(ids, std::nullopt, error);
}

// Voids (with `reason`) or un-voids (without) every receipt of `ids` not in that state
// yet, each with its history row, in one transaction.
bool ReceiptBook::changeVoids(const QStringList &ids, const std::optional<QString> &reason,
                              QString *error)
{
    if (dialect().runsProcedures() && bookFacts().voids && !ids.isEmpty()) {
        if (const std::optional<bool> done = changeVoidsInOneStatement(ids, reason, error))
            return *done;
    }
    const auto failSaving = [&] {
        return fail(error, u"保存失败：%1"_s.arg(connection().lastError()));
    };
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failSaving();
    // On a server the receipts are held from here to the commit, as an edit's save holds
    // its receipt: a save under way ends before this reads them, one that comes later sees
    // the void, and of two desks voiding one receipt the second finds it voided.
    if (!dialect().rowLockClause().isEmpty() && !ids.isEmpty()
        && !connection().query(u"select id from tb_receipt where id in (%1)"_s.arg(
                                   sqlQuoteList(ids))
                               + dialect().rowLockClause()))
        return failSaving();
    const QString now = stored(Clock::now());
    // Only these receipts' voids: the whole table grows with the book.
    const std::optional<QHash<QString, QString>> maybeVoided = voidReasons(ids);
    if (!maybeVoided)
        return failSaving();
    const QHash<QString, QString> &voided = *maybeVoided;
    QStringList done;
    QList<qint64> rows;
    for (const QString &id : ids) {
        if (voided.contains(id) == reason.has_value())
            continue;
        const std::optional<Receipt> receipt = readNow(id);
        if (!receipt)
            return fail(error, u"保存失败：收据已不存在"_s);
        const std::optional<qint64> row = rowOf(id);
        const bool written = reason
            ? connection().write(
                u"insert into tb_void (receiptId, reason, voidDate) values (%1, %2, %3);"_s.arg(
                    sqlQuote(id), sqlQuote(*reason), sqlQuote(now)))
            : connection().write(u"delete from tb_void where receiptId = %1;"_s.arg(sqlQuote(id)),
                                 SQLiteHelper::Changes::AtLeastOne);
        if (!row || !written
            || !recordHistory(reason ? HistoryAction::Void : HistoryAction::Unvoid, *receipt,
                              {{u"reason"_s, reason.value_or(voided.value(id))}}))
            return failSaving();
        done.append(id);
        rows.append(*row);
    }
    const BookChange::Kind kind = reason ? BookChange::Kind::Voided : BookChange::Kind::Unvoided;
    if (!transaction.commit(BookChange {kind, done, rows}))
        return failSaving();
    tell(kind, done, rows);
    return true;
}

std::optional<bool> ReceiptBook::updateInOneStatement(const QString &id, const Receipt &edited,
                                                      Receipt &opened, QString *error)
{
    if (opened.id != id)
        return std::nullopt;
    connection().db().closeIfServerHungUp();
    if (!connection().open())
        return std::nullopt;
    // The receipt as the history keeps it: as opened, and with the edit's columns.
    const QJsonObject before = ReceiptHistory::toJson(opened);
    const std::array<QString, ColumnCount> v = columnValues(edited, QDateTime());
    const std::pair<const char16_t *, Column> edits[] = {
        {u"receiptDate", ReceiptDateColumn}, {u"payer", PayerColumn},
        {u"reason1", Reason1Column},         {u"reason2", Reason2Column},
        {u"remark", RemarkColumn},           {u"paytype", PaytypeColumn},
        {u"payee", PayeeColumn},             {u"approve", ApproveColumn},
        {u"accountant", AccountantColumn},   {u"total", TotalColumn},
        {u"totalBig", TotalBigColumn}};
    QJsonObject changed;
    QJsonObject after = before;
    QJsonObject changes;
    for (const auto &[key, column] : edits) {
        const QString name = QString::fromUtf16(key);
        changed.insert(name, v[column]);
        after.insert(name, v[column]);
        if (before.value(name) != after.value(name))
            changes.insert(name, QJsonArray({before.value(name), after.value(name)}));
    }
    const std::optional<Receipt> saved = ReceiptHistory::receiptFromJson(after);
    if (!saved)
        return std::nullopt;
    QJsonObject detail = after;
    detail.insert(u"changes"_s, changes);
    const QStringList parameters {
        id,
        QString::fromUtf8(QJsonDocument(before).toJson(QJsonDocument::Compact)),
        QString::fromUtf8(QJsonDocument(changed).toJson(QJsonDocument::Compact)),
        stored(Clock::now()),
        ReceiptHistory::actionName(HistoryAction::Update),
        QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact)),
        deskName(),
        deskChannel(),
        payloadOf(BookChange {BookChange::Kind::Updated, {id}, {}})};
    std::unique_ptr<ResultSet> rows = connection().query(
        u"call quenta_update($1, $2, $3, $4, $5, $6, $7, $8, $9, null, null)"_s, parameters);
    if (!rows || !rows->next()) {
        if (connection().db().lastError().kind() != DatabaseError::Kind::ConnectionLost) {
            if (!isProcedureMissing())
                return fail(error, u"保存失败：%1"_s.arg(connection().lastError()));
            bookFacts().updates = false;
            return std::nullopt;
        }
        // The statement went out and its answer never came. Read again on a new connection:
        // the receipt as this save left it, or as opened.
        const std::optional<Receipt> now = readNow(id);
        if (!now)
            return fail(error, u"无法确认修改是否已保存：共享账本连接中断。表单中的内容还在，"
                               u"连接恢复后请重新打开这张收据核对"_s);
        if (ReceiptHistory::toJson(*now) != after)
            return fail(error,
                        u"保存失败：共享账本连接中断，修改没有存入账本。表单中的内容还在"_s);
        const std::optional<qint64> found = rowOf(id);
        opened = *saved;
        tell(BookChange::Kind::Updated, {id}, {found.value_or(0)});
        return true;
    }
    if (rows->stringForColumnIndex(0) != u"updated"_s)
        return std::nullopt; // the transaction finds what happened to it, and says so
    const qint64 row = rows->int64ForColumnIndex(1);
    connection().countOwnServerChanges(1);
    opened = *saved;
    tell(BookChange::Kind::Updated, {id}, {row});
    return true;
}

std::optional<bool> ReceiptBook::changeVoidsInOneStatement(const QStringList &ids,
                                                           const std::optional<QString> &reason,
                                                           QString *error)
{
    connection().db().closeIfServerHungUp();
    if (!connection().open())
        return std::nullopt;
    const BookChange::Kind kind = reason ? BookChange::Kind::Voided : BookChange::Kind::Unvoided;
    const HistoryAction action = reason ? HistoryAction::Void : HistoryAction::Unvoid;
    // Another desk's change between the read and the write: read again, a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::unique_ptr<ResultSet> rows = connection().query(
            u"select r.*, r.xmin::text as quenta_version, v.reason as quenta_void\n"
            u"from tb_receipt r left join tb_void v on v.receiptId = r.id\n"
            u"where r.id in (%1)"_s.arg(sqlQuoteList(ids)));
        if (!rows)
            return std::nullopt;
        const int versionColumn = rows->columnIndexForName(u"quenta_version"_s);
        const int voidColumn = rows->columnIndexForName(u"quenta_void"_s);
        const int rowColumn = rows->columnIndexForName(u"rowid"_s);
        std::optional<ReceiptRowMapper> mapper;
        QHash<QString, std::pair<Receipt, QJsonObject>> found;
        while (rows->next()) {
            if (!mapper)
                mapper.emplace(*rows, u"receiptNo"_s);
            std::optional<Receipt> receipt = mapper->map();
            if (!receipt)
                return std::nullopt;
            receipt->voidReason = rows->stringForColumnIndex(voidColumn);
            found.insert(receipt->id,
                         {*receipt,
                          QJsonObject {{u"version"_s, rows->stringForColumnIndex(versionColumn)
                                                          .value_or(QString())},
                                       {u"row"_s, rows->int64ForColumnIndex(rowColumn)}}});
        }
        if (rows->hasError())
            return std::nullopt;
        QJsonArray changes;
        QStringList done;
        QSet<QString> seen;
        QList<qint64> changedRows;
        for (const QString &id : ids) {
            if (!found.contains(id))
                return fail(error, u"保存失败：收据已不存在"_s);
            const auto &[receipt, read] = found.value(id);
            if (receipt.voidReason.has_value() == reason.has_value() || seen.contains(id))
                continue;
            seen.insert(id);
            const QString told = reason.value_or(receipt.voidReason.value_or(QString()));
            changes.append(QJsonObject {
                {u"id"_s, id},
                {u"number"_s, receipt.receiptNo},
                {u"version"_s, read.value(u"version"_s)},
                {u"voided"_s, receipt.voidReason ? QJsonValue(*receipt.voidReason)
                                                 : QJsonValue(QJsonValue::Null)},
                {u"detail"_s, historyDetail(receipt, {{u"reason"_s, told}})}});
            done.append(id);
            changedRows.append(read.value(u"row"_s).toInteger());
        }
        if (done.isEmpty())
            return true;
        QStringList parameters {
            QString::fromUtf8(QJsonDocument(changes).toJson(QJsonDocument::Compact)),
            reason.value_or(QString()),
            stored(Clock::now()),
            stored(Clock::now()),
            ReceiptHistory::actionName(action),
            deskName(),
            deskChannel(),
            payloadOf(BookChange {kind, done, changedRows})};
        std::unique_ptr<ResultSet> outcome = connection().query(
            u"call quenta_change_voids($1, nullif($2, ''), $3, $4, $5, $6, $7, $8, null)"_s,
            parameters);
        if (!outcome || !outcome->next()) {
            if (connection().db().lastError().kind() != DatabaseError::Kind::ConnectionLost) {
                if (!isProcedureMissing())
                    return fail(error, u"保存失败：%1"_s.arg(connection().lastError()));
                bookFacts().voids = false;
                return std::nullopt;
            }
            // Its answer lost: the voids as the book has them now tell whether it was done.
            const std::optional<QHash<QString, QString>> now = voidReasons(done);
            if (!now)
                return fail(error, u"无法确认是否已保存：共享账本连接中断。连接恢复后请核对这些收据"_s);
            if (now->isEmpty() == reason.has_value())
                return fail(error, u"保存失败：共享账本连接中断，没有存入账本"_s);
            tell(kind, done, changedRows);
            return true;
        }
        if (outcome->stringForColumnIndex(0) != u"done"_s)
            continue;
        // The one insert into (or delete from) tb_void counted one change of the book.
        connection().countOwnServerChanges(1);
        tell(kind, done, changedRows);
        return true;
    }
    return std::nullopt;
}

bool ReceiptBook::recordPrint(const QString &receiptId, QString *error)
{
    const auto failSaving = [&] {
        return fail(error, u"保存失败：%1"_s.arg(connection().lastError()));
    };
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failSaving();
    const std::optional<Receipt> receipt = readNow(receiptId);
    if (!receipt)
        return fail(error, u"收据已不存在"_s);
    if (!recordHistory(HistoryAction::Print, *receipt))
        return failSaving();
    // Nothing a list shows changed: no one is told.
    return transaction.commit() || failSaving();
}

bool ReceiptBook::restoreDeleted(const HistoryEntry &deletion, QString *error)
{
    const std::optional<Receipt> receipt = ReceiptHistory::receiptFromJson(deletion.detail);
    if (deletion.action != HistoryAction::Delete || !receipt)
        return fail(error, u"这条记录不是删除的收据"_s);
    const auto failSaving = [&] {
        return fail(error, u"保存失败：%1"_s.arg(connection().lastError()));
    };
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failSaving();
    const std::optional<bool> taken
        = isNumberTaken(receipt->receiptNo, receipt->receiptNo.toLongLong());
    if (!taken)
        return fail(error, ReceiptNumbering::checkFailedText());
    if (*taken)
        return fail(error, u"单号 No.%1 已被别的收据使用，不能恢复"_s.arg(receipt->receiptNo));
    if (readNow(receipt->id))
        return fail(error, u"这张收据已经恢复过了"_s);
    // A receipt voided when it was deleted comes back voided, with its reason and date:
    // brought back plain, it would count in the totals again.
    QJsonObject voided;
    if (deletion.detail.contains(u"reason"_s)) {
        const QString reason = deletion.detail.value(u"reason"_s).toString();
        QString voidDate = deletion.detail.value(u"voidDate"_s).toString();
        if (voidDate.isEmpty())
            voidDate = stored(Clock::now());
        voided = {{u"reason"_s, reason}, {u"voidDate"_s, voidDate}};
        if (!connection().write(
                u"insert into tb_void (receiptId, reason, voidDate) values (%1, %2, %3);"_s.arg(
                    sqlQuote(receipt->id), sqlQuote(reason), sqlQuote(voidDate))))
            return failSaving();
    }
    if (!connection().write(insertStatement(*receipt, receipt->createDate))
        || !recordHistory(HistoryAction::Restore, *receipt, voided))
        return failSaving();
    const std::optional<qint64> row = rowOf(receipt->id);
    if (!row || !transaction.commit(BookChange {BookChange::Kind::Restored, {receipt->id}, {*row}}))
        return failSaving();
    tell(BookChange::Kind::Restored, {receipt->id}, {*row});
    return true;
}

// --- import ----------------------------------------------------------------------------

namespace {

// The rows of an import, written a batch at a time inside the import's transaction: one
// statement finds which numbers of a batch are taken, one inserts its receipts, one their
// history rows, one their voids. A statement per row would cost more than the rows: the
// search index's triggers are compiled with each insert statement.
class ImportWriter
{
public:
    static constexpr qsizetype batchSize = 500;

    ImportWriter(ReceiptBook &book, SQLiteHelper &connection, const BookImport::Options &options,
                 const QString &file, const QString &digest, const ReceiptNoSetting &setting,
                 qint64 lastRowBefore, QDate closedThrough, BookImport::Result &result)
        : m_closedThrough(closedThrough)
        , m_book(book)
        , m_connection(connection)
        , m_options(options)
        , m_file(file)
        , m_digest(digest)
        , m_setting(setting)
        , m_next(std::max<qint64>(setting.currNum, 1))
        , m_lastRowBefore(lastRowBefore)
        , m_result(result)
        , m_now(stored(Clock::now()))
        , m_desk(book.historyDesk())
    {
        m_batch.reserve(batchSize);
    }

    bool add(BookImport::Item &&item)
    {
        if (!m_otherSpellingsRead && !readOtherSpellings())
            return false;
        if (!m_series && !readSeries())
            return false;
        // Stored as the numbering pads it ("5" → "0000005"), whatever the file wrote: one
        // number is then one text, in the book and in the file. A number of a series is
        // padded as its series pads it (XF2024-7 → XF2024-0007). What is no number is left
        // for checkReceipt() to refuse.
        const QString number = ReceiptNumber::trimmed(item.receipt.receiptNo);
        const std::optional<SeriesNumber::Identity> identity
            = ReceiptNumber::isPlain(number) ? std::nullopt : SeriesNumber::identify(number, *m_series);
        item.receipt.receiptNo = identity
            ? SeriesNumber::text(m_series->at(identity->series), identity->year, identity->value)
            : ReceiptNumber::padded(number, m_setting.numLong);
        m_batch.append(std::move(item));
        return m_batch.size() < batchSize || flush();
    }

    void addProblems(const QList<BookImport::Problem> &problems)
    {
        for (const BookImport::Problem &problem : problems) {
            if (m_result.problems.size() < BookImport::keptProblems)
                m_result.problems.append(problem);
            ++m_result.problemCount;
        }
    }

    // Writes the rows gathered; false when the book could not be read or written.
    bool flush()
    {
        if (m_batch.isEmpty())
            return true;
        QStringList numbers, ids;
        for (const BookImport::Item &item : std::as_const(m_batch)) {
            numbers.append(item.receipt.receiptNo);
            if (!item.receipt.id.isEmpty())
                ids.append(item.receipt.id);
        }
        QHash<QString, qint64> taken;
        if (!readTaken(u"select receiptNo, rowid from tb_receipt where receiptNo in (%1)"_s.arg(
                           sqlQuoteList(numbers)),
                       &taken))
            return false;
        QHash<QString, qint64> takenIds;
        if (!ids.isEmpty()
            && !readTaken(
                u"select id, rowid from tb_receipt where id in (%1)"_s.arg(sqlQuoteList(ids)),
                &takenIds))
            return false;
        noteOtherSpellings(numbers, &taken);

        QString receipts;
        QSet<QString> batchNumbers;
        QList<BookImport::Problem> problems;
        for (BookImport::Item &item : m_batch) {
            Receipt &r = item.receipt;
            if (QString reason; !BookImport::checkReceipt(r, &reason)) {
                problems.append({item.row, reason});
                continue;
            }
            // A number of a series the book knows, of the receipt's year, in its paper books.
            const bool plain = ReceiptNumber::isPlain(r.receiptNo);
            const std::optional<SeriesNumber::Identity> identity = SeriesNumber::identify(r.receiptNo, *m_series);
            if (!identity) {
                problems.append({item.row, u"单号 %1 的前缀不是本账本的收据类别"_s.arg(r.receiptNo)});
                continue;
            }
            const ReceiptSeries &series = m_series->at(identity->series);
            if (series.prefix.contains(QString::fromUtf16(SeriesNumber::yearToken))
                && identity->year != r.receiptDate.date().year()) {
                problems.append({item.row, u"单号 %1 的年份与收款日期 %2 不同"_s.arg(
                                               r.receiptNo, r.receiptDate.date().toString(Qt::ISODate))});
                continue;
            }
            if (!inOpenBook(series, identity->value)) {
                problems.append({item.row, u"单号 %1 不在已登记、未缴销的收据本内"_s.arg(r.receiptNo)});
                continue;
            }
            if (m_closedThrough.isValid() && r.receiptDate.date() <= m_closedThrough) {
                problems.append({item.row, u"收款日期 %1 已日结（账本已日结到 %2），不能导入"_s.arg(
                                               r.receiptDate.date().toString(Qt::ISODate),
                                               m_closedThrough.toString(Qt::ISODate))});
                continue;
            }
            // A server keeps no NUL in a text: the row is refused, not the whole statement.
            if (!m_book.dialect().keepsNulInText()) {
                if (const QString field = fieldWithNul(r); !field.isEmpty()) {
                    problems.append(
                        {item.row, u"%1含有空字符（U+0000），共享账本不能保存"_s.arg(field)});
                    continue;
                }
            }
            const auto found = taken.constFind(r.receiptNo);
            const bool inBook = found != taken.constEnd() && *found <= m_lastRowBefore;
            const bool inFile
                = !inBook && (found != taken.constEnd() || batchNumbers.contains(r.receiptNo));
            if (inBook || inFile) {
                if (!m_options.renumber || !plain) {
                    problems.append({item.row,
                                     inBook ? u"单号 %1 已在账本中"_s.arg(r.receiptNo)
                                            : u"单号 %1 在文件中不止出现一次"_s.arg(r.receiptNo),
                                     true});
                    continue;
                }
                const std::optional<QString> free = nextFreeNumber(batchNumbers);
                if (!free)
                    return false;
                m_result.renumbered.append({r.receiptNo, *free});
                item.historyExtra.insert(u"renumberedFrom"_s, r.receiptNo);
                r.receiptNo = *free;
            }
            batchNumbers.insert(r.receiptNo);
            // Another book's ids are kept unless this book has them; a file's are made.
            if (r.id.isEmpty() || takenIds.contains(r.id))
                r.id = newRecordId();
            if (!r.createDate.isValid())
                r.createDate = Clock::now();
            appendReceipt(receipts, item);
            if (m_firstId.isEmpty())
                m_firstId = r.id;
            if (plain) {
                noteNumber(r.receiptNo);
            } else {
                qint64 &next = m_seriesNext[{series.name, SeriesTables::counterYear(series, identity->year)}];
                next = std::max(next, identity->value + 1);
            }
            noteLookups(r);
        }
        addProblems(problems);
        m_batch.clear();
        // A problem anywhere means nothing is kept; the rows without one are still written
        // so that the numbers of the rows after them are checked against them.
        return write(
                   u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, "_s
                   u"reason2, remark, paytype, payee, approve, accountant, creator, createDate, "_s
                   u"total, totalBig, isDeleted) values "_s,
                   receipts)
            && write(historyInsert(m_desk.has_value()), m_historyValues)
            && write(u"insert into tb_void (receiptId, reason, voidDate) values "_s, m_voidValues);
    }

    // Moves the counter past the highest number brought in and adds the lookup entries
    // the book lacks.
    bool finish(const QList<std::pair<QString, QString>> &extraLookups)
    {
        for (const auto &[table, text] : extraLookups)
            m_lookups[table].insert(text);
        if (m_highest && *m_highest >= m_setting.currNum) {
            ReceiptNoSetting moved = m_setting;
            moved.currNum
                = *m_highest < std::numeric_limits<qint64>::max() ? *m_highest + 1 : *m_highest;
            if (!m_connection.write(ReceiptNumbering::saveStatement(moved)))
                return false;
        }
        // Each series' counter past its highest number brought, never back.
        for (auto it = m_seriesNext.constBegin(); it != m_seriesNext.constEnd(); ++it) {
            const std::optional<qint64> stored
                = SeriesTables::counter(m_connection, it.key().first, it.key().second);
            if (!stored
                || (*stored < it.value()
                    && !SeriesTables::setCounter(m_connection, it.key().first, it.key().second, it.value())))
                return false;
        }
        QString sql;
        for (auto it = m_lookups.constBegin(); it != m_lookups.constEnd(); ++it) {
            const QString column = it.key() == u"tb_account"_s ? u"userName"_s : u"content"_s;
            for (const QString &text : it.value()) {
                if (text.trimmed().isEmpty())
                    continue;
                sql += u"insert into %1 (id, %2) select %3, %4 where not exists "_s
                       u"(select 1 from %1 where %2 = %4);\n"_s.arg(
                           it.key(), column,
                           sqlQuote(newRecordId()),
                           sqlQuote(text));
            }
        }
        return sql.isEmpty() || m_connection.write(sql);
    }

    // The id of the first receipt written, which tells whether the import is in the book.
    QString firstId() const { return m_firstId; }

private:
    static QString fieldWithNul(const Receipt &r)
    {
        const std::pair<const QString *, const char16_t *> texts[] = {
            {&r.receiptNo, u"收据单号"}, {&r.payer, u"交款单位"},        {&r.reason1, u"收款事由"},
            {&r.reason2, u"其它说明"},   {&r.remark, u"备注信息"},       {&r.paytype, u"收款方式"},
            {&r.payee, u"收款人"},       {&r.approve, u"核准"},          {&r.accountant, u"会计"},
            {&r.creator, u"开单人"},     {&r.totalBig, u"金额（大写）"}, {&r.id, u"编号"},
        };
        for (const auto &[text, label] : texts) {
            if (text->contains(QChar(0)))
                return QString::fromUtf16(label);
        }
        if (r.voidReason && r.voidReason->contains(QChar(0)))
            return u"作废原因"_s;
        return {};
    }

    // The book's series and paper books, read once.
    bool readSeries()
    {
        m_series = SeriesTables::all(m_connection);
        const std::optional<QList<PaperBook>> books = SeriesTables::books(m_connection);
        if (!m_series || !books)
            return false;
        m_books = *books;
        return true;
    }
    // Whether a number may be brought: its series has no paper books, or one of them not
    // returned holds it.
    bool inOpenBook(const ReceiptSeries &series, qint64 value) const
    {
        const QString key = series.isDefault() ? QString() : series.name;
        bool hasBooks = false;
        for (const PaperBook &book : m_books) {
            if (book.series != key)
                continue;
            hasBooks = true;
            if (!book.returned && book.holds(value))
                return true;
        }
        return !hasBooks;
    }

    // The stored numbers that are not as this book pads them now ("5", "00000005", or an
    // integer another program wrote), by their value, read once: a batch's numbers are
    // looked up as they are padded, and would miss them. Few books have any, and reading
    // them passes the number index once rather than each of a number's 64 paddings.
    bool readOtherSpellings()
    {
        m_otherSpellingsRead = true;
        const qint64 length
            = std::clamp<qint64>(m_setting.numLong, 0, ReceiptNumbering::maximumNumberLength);
        const QString sql = m_connection.db().dialect().inDialect(
            u"select cast(receiptNo as text), rowid from tb_receipt where typeof(receiptNo) "
            u"<> 'text' or length(receiptNo) < %1 or (length(receiptNo) > %1 and "
            u"receiptNo like '0%')"_s,
            u"select receiptNo, rowid from tb_receipt where length(receiptNo) < %1 or "
            u"(length(receiptNo) > %1 and receiptNo like '0%')"_s);
        QHash<QString, qint64> found;
        if (!readTaken(sql.arg(length), &found))
            return false;
        for (auto it = found.constBegin(); it != found.constEnd(); ++it) {
            if (ReceiptNumber::isPlain(it.key()))
                m_otherSpellings.insert(ReceiptNumber::valueDigits(it.key()), it.value());
        }
        return true;
    }

    void noteOtherSpellings(const QStringList &numbers, QHash<QString, qint64> *taken) const
    {
        if (m_otherSpellings.isEmpty())
            return;
        for (const QString &number : numbers) {
            const auto found = m_otherSpellings.constFind(ReceiptNumber::valueDigits(number));
            if (found != m_otherSpellings.constEnd() && !taken->contains(number))
                taken->insert(number, *found);
        }
    }

    bool readTaken(const QString &sql, QHash<QString, qint64> *taken)
    {
        std::unique_ptr<ResultSet> rows = m_connection.query(sql);
        if (!rows)
            return false;
        while (rows->next())
            taken->insert(rows->stringForColumnIndex(0).value_or(QString()),
                          rows->int64ForColumnIndex(1));
        if (rows->hasError()) {
            m_connection.noteFailure(rows->error());
            return false;
        }
        return true;
    }

    // The next number of the counter that no receipt carries, in the book or in this batch.
    std::optional<QString> nextFreeNumber(const QSet<QString> &batchNumbers)
    {
        for (;; ++m_next) {
            ReceiptNoSetting candidate = m_setting;
            candidate.currNum = m_next;
            const QString text = ReceiptNumbering::numberText(candidate);
            if (batchNumbers.contains(text))
                continue;
            // A number issued once and deleted since is on paper: never given again.
            bool taken = true;
            if (!m_book.isNumberUsed(text, m_next, &taken))
                return std::nullopt;
            if (!taken) {
                ++m_next;
                return text;
            }
        }
    }

    void noteNumber(const QString &number)
    {
        if (number.size() > 18 || number.isEmpty())
            return;
        bool isNumber = false;
        const qint64 value = number.toLongLong(&isNumber);
        if (isNumber && value >= 0
            && std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); }))
            m_highest = std::max(m_highest.value_or(value), value);
    }

    void noteLookups(const Receipt &r)
    {
        m_lookups[u"tb_payer"_s].insert(r.payer);
        m_lookups[u"tb_reason1"_s].insert(r.reason1);
        m_lookups[u"tb_reason2"_s].insert(r.reason2);
        m_lookups[u"tb_paytype"_s].insert(r.paytype);
        for (const QString *person : {&r.payee, &r.approve, &r.accountant})
            m_lookups[u"tb_account"_s].insert(*person);
    }

    void appendReceipt(QString &receipts, const BookImport::Item &item)
    {
        const Receipt &r = item.receipt;
        const std::array<QString, ColumnCount> values = columnValues(r, r.createDate);
        receipts += receipts.isEmpty() ? u"("_s : u",\n("_s;
        for (const QString &value : values)
            receipts += sqlQuote(value) + u',';
        receipts.back() = u')';

        QJsonObject extra {{u"file"_s, m_file}, {u"row"_s, item.row}};
        if (!m_digest.isEmpty())
            extra.insert(u"fileSha256"_s, m_digest);
        if (r.voidReason)
            extra.insert(u"reason"_s, *r.voidReason);
        for (auto it = item.historyExtra.constBegin(); it != item.historyExtra.constEnd(); ++it)
            extra.insert(it.key(), it.value());
        m_historyValues += (m_historyValues.isEmpty() ? QString() : u",\n"_s)
            + historyValues(m_now, HistoryAction::Import, r, extra, m_desk);
        if (r.voidReason) {
            m_voidValues += (m_voidValues.isEmpty() ? u"("_s : u",\n("_s)
                + u"%1, %2, %3)"_s.arg(sqlQuote(r.id), sqlQuote(*r.voidReason),
                                       sqlQuote(item.voidDate.isEmpty() ? m_now : item.voidDate));
            ++m_result.voided;
        } else if (const std::optional<qint64> fen = Money::fenOf(r)) {
            m_result.fen += *fen;
        }
        ++m_result.count;
    }

    // Runs `head` with the rows gathered in `values`, which it empties.
    bool write(const QString &head, QString &values)
    {
        if (values.isEmpty())
            return true;
        const bool written = m_connection.write(head + values + u';');
        values.clear();
        return written;
    }

    // The last day closed: no row may be dated into it.
    QDate m_closedThrough;
    ReceiptBook &m_book;
    SQLiteHelper &m_connection;
    const BookImport::Options &m_options;
    QString m_file;
    QString m_digest;
    QString m_firstId;
    ReceiptNoSetting m_setting;
    qint64 m_next;
    qint64 m_lastRowBefore;
    BookImport::Result &m_result;
    QString m_now;
    QList<BookImport::Item> m_batch;
    QString m_historyValues;
    std::optional<QString> m_desk;
    QString m_voidValues;
    std::optional<qint64> m_highest;
    QHash<QString, QSet<QString>> m_lookups;
    bool m_otherSpellingsRead = false;
    QHash<QString, qint64> m_otherSpellings;
    std::optional<QList<ReceiptSeries>> m_series;
    QList<PaperBook> m_books;
    // The next number of each series (and year) past those brought.
    QHash<std::pair<QString, QString>, qint64> m_seriesNext;
};

} // namespace

bool ReceiptBook::importReceipts(BookImport::Source &source, const BookImport::Options &options,
                                 BookImport::Result *result, QString *error)
{
    QString failure;
    *result = importNow(source, options, &failure);
    if (!failure.isEmpty())
        return fail(error, failure);
    if (!result->ok)
        return fail(error, u"%1 处问题，没有导入任何收据"_s.arg(result->problemCount));
    return true;
}

BookImport::Result ReceiptBook::importNow(BookImport::Source &source,
                                          const BookImport::Options &options, QString *failure)
{
    BookImport::Result result;
    const auto failed = [&] {
        result.ok = false;
        *failure = u"导入失败：%1"_s.arg(connection().lastError());
        return result;
    };
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failed();
    // The same file brought twice would store its receipts twice (renumbered, even): it is
    // known by its digest in the history rows of the import that took it.
    if (!options.again && !source.digest().isEmpty()) {
        std::unique_ptr<ResultSet> before = connection().query(
            u"select min(time) from tb_history where action = 'import' and detail like %1"_s.arg(
                sqlQuote(u"%\"fileSha256\":\""_s + source.digest() + u"\"%"_s)));
        if (!before)
            return failed();
        if (before->next()) {
            if (const std::optional<QString> time = before->stringForColumnIndex(0)) {
                result.importedBefore = *time;
                *failure = u"该文件已于 %1 导入，这次没有导入"_s.arg(*time);
                return result;
            }
        }
        if (before->hasError()) {
            connection().noteFailure(before->error());
            return failed();
        }
    }
    // On a server the numbering is held to the end: numbers given to renumbered receipts,
    // and the counter moved past the file's, are not taken by a desk's save meanwhile.
    QString numbering;
    const std::optional<ReceiptNoSetting> setting
        = ReceiptNumbering::stored(connection(), ReceiptNumbering::Lock::UntilCommit, &numbering);
    // Rows after this one are the import's own: a number found there is twice in the file.
    const std::optional<qint64> lastRow
        = connection().count(u"select coalesce(max(rowid), 0) from tb_receipt"_s);
    if (!numbering.isEmpty()) {
        *failure = u"导入失败：%1"_s.arg(numbering);
        return result;
    }
    if (!setting || !lastRow)
        return failed();
    // Read within the import's transaction: on a server the numbering's row is held, and a
    // closing takes the receipts' table before it commits.
    const std::optional<QList<DayClosing>> closed = closings();
    if (!closed)
        return failed();
    ImportWriter writer(*this, connection(), options, source.fileName(), source.digest(), *setting,
                        *lastRow, closed->isEmpty() ? QDate() : closed->constLast().closedTo,
                        result);
    BookImport::Item item;
    QList<BookImport::Problem> problems;
    qint64 read = 0;
    while (source.next(&item, &problems)) {
        writer.addProblems(problems);
        problems.clear();
        if (!writer.add(std::move(item)))
            return failed();
        if (options.progress && ++read % 2000 == 0 && !options.progress(read)) {
            *failure = u"导入已取消"_s;
            return result;
        }
    }
    writer.addProblems(problems);
    if (!writer.flush())
        return failed();
    // The reader tells a row's problems as it reads it, the numbers a batch later.
    std::stable_sort(
        result.problems.begin(), result.problems.end(),
        [](const BookImport::Problem &a, const BookImport::Problem &b) { return a.row < b.row; });
    if (result.problemCount > 0)
        return result;
    result.ok = true;
    if (options.dryRun)
        return result;
    // The other desks read their lists again, as after a restore.
    if (!writer.finish(source.lookupEntries()))
        return failed();
    if (!transaction.commit(BookChange {BookChange::Kind::Restored, {}, {}})) {
        if (!transaction.outcomeUnknown() || writer.firstId().isEmpty())
            return failed();
        // The answer to the COMMIT was lost: the first receipt says whether all are in.
        const std::optional<bool> landed = isStored(writer.firstId());
        if (!landed) {
            result.ok = false;
            *failure = u"无法确认导入是否完成：共享账本连接中断。连接恢复后再导入同一个文件："
                           u"已经导入的文件会被认出，不会再导入一次"_s;
            return result;
        }
        if (!*landed) {
            result.ok = false;
            *failure = u"导入失败：共享账本连接中断，没有导入任何收据"_s;
            return result;
        }
        result.note = u"连接在导入确认之前中断；已查明这些收据已经导入"_s;
    }
    Q_EMIT replaced();
    return result;
}

// --- closed days -----------------------------------------------------------------------

std::optional<QList<DayClosing>> ReceiptBook::closings(QString *error)
{
    std::unique_ptr<ResultSet> rows
        = connection().query(u"select closedTo, time, desk from tb_closing order by closedTo"_s);
    if (!rows) {
        // A book from before closings has none.
        if (connection().db().lastError().kind() == DatabaseError::Kind::MissingTable)
            return QList<DayClosing>();
        if (error)
            *error = lastError();
        return std::nullopt;
    }
    QList<DayClosing> found;
    while (rows->next()) {
        DayClosing closing;
        closing.closedTo = QDate::fromString(rows->stringForColumnIndex(0).value_or(QString()),
                                             Qt::ISODate);
        closing.time
            = parseDateText(rows->stringForColumnIndex(1).value_or(QString()), DateText::dateTime);
        closing.desk = rows->stringForColumnIndex(2).value_or(QString());
        found.append(closing);
    }
    if (rows->hasError()) {
        const QString reason = connection().noteFailure(rows->error());
        if (error)
            *error = reason;
        return std::nullopt;
    }
    if (found.isEmpty())
        return found;
    // Each closing's record in the chain, by the day it closed to.
    std::unique_ptr<ResultSet> links = connection().query(
        u"select h.detail, c.hash from tb_history h join tb_chain c on c.historyId = h.id "
        u"where h.action = 'close' and h.receiptId is null"_s);
    if (!links) {
        if (error)
            *error = lastError();
        return std::nullopt;
    }
    QHash<QString, QString> heads;
    while (links->next()) {
        const QJsonObject detail
            = QJsonDocument::fromJson(links->stringForColumnIndex(0).value_or(QString()).toUtf8())
                  .object();
        heads.insert(detail.value(u"closedTo"_s).toString(),
                     links->stringForColumnIndex(1).value_or(QString()));
    }
    for (DayClosing &closing : found)
        closing.head = heads.value(closing.closedTo.toString(Qt::ISODate));
    return found;
}

QDate ReceiptBook::knownClosedThrough()
{
    BookFacts &facts = bookFacts();
    if (!facts.closedThrough) {
        // Asked once, whatever the answer: a book that cannot answer now (held by another
        // program) is not asked again for every row drawn; the book replaced, or a day
        // closed here or at another desk, asks again. The book's own rule refuses what a
        // missing mark would let through.
        const std::optional<QList<DayClosing>> found = closings();
        facts.closedThrough = !found || found->isEmpty() ? QDate() : found->constLast().closedTo;
    }
    return *facts.closedThrough;
}

bool ReceiptBook::closeDays(QDate day, DayClosing *closing, QString *error)
{
    if (!day.isValid())
        return fail(error, u"日期无效"_s);
    const QDateTime now = Clock::now();
    if (day > now.date())
        return fail(error, u"不能日结今天以后的日子（%1）"_s.arg(day.toString(Qt::ISODate)));
    const auto failSaving = [&] {
        return fail(error, u"日结失败：%1"_s.arg(connection().lastError()));
    };
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failSaving();
    // A desk's save either commits before the lock is had, or waits for the closing and is
    // then refused by the book's rule.
    if (!dialect().livesInAFile()
        && !connection().write(u"lock table tb_receipt in share mode"_s))
        return failSaving();
    QString problem;
    const std::optional<QList<DayClosing>> earlier = closings(&problem);
    if (!earlier)
        return fail(error, u"日结失败：%1"_s.arg(problem));
    if (!earlier->isEmpty() && earlier->constLast().closedTo >= day)
        return fail(error, u"%1 已日结（账本已日结到 %2），日结不能重做或撤销"_s.arg(
                               day.toString(Qt::ISODate),
                               earlier->constLast().closedTo.toString(Qt::ISODate)));
    const std::optional<QString> desk = historyDesk();
    const QString time = stored(now);
    const QString closedTo = day.toString(Qt::ISODate);
    const QString detail = QString::fromUtf8(
        QJsonDocument(QJsonObject {{u"closedTo"_s, closedTo}}).toJson(QJsonDocument::Compact));
    const QString sql = u"insert into tb_closing (closedTo, time, desk) values (%1, %2, %3);\n"_s
                            .arg(sqlQuote(closedTo), sqlQuote(time),
                                 desk ? sqlQuote(*desk) : u"null"_s)
        + historyInsert(desk.has_value())
        + u"(%1, 'close', null, null, %2%3);"_s.arg(
            sqlQuote(time), sqlQuote(detail), desk ? u", "_s + sqlQuote(*desk) : QString());
    if (!connection().write(sql, SQLiteHelper::Changes::AtLeastOne))
        return failSaving();
    std::unique_ptr<ResultSet> head = connection().query(u"select head from tb_chainHead"_s);
    if (!head || !head->next())
        return failSaving();
    DayClosing made {day, parseDateText(time, DateText::dateTime), desk.value_or(QString()),
                     head->stringForColumnIndex(0).value_or(QString())};
    head.reset();
    // The other desks of a shared book hear of it as of a change of the whole book: their
    // lists read again, and mark what is closed now.
    if (!transaction.commit(BookChange {BookChange::Kind::Restored, {}, {}}))
        return failSaving();
    if (closing)
        *closing = made;
    tellReplaced();
    return true;
}

bool ReceiptBook::recordSetting(const QString &setting, const QJsonObject &changes)
{
    if (changes.isEmpty())
        return true;
    const std::optional<QString> desk = historyDesk();
    const QJsonObject detail {{u"setting"_s, setting}, {u"changes"_s, changes}};
    const QString sql = historyInsert(desk.has_value())
        + u"(%1, 'setting', null, null, %2%3);"_s.arg(
            sqlQuote(stored(Clock::now())),
            sqlQuote(QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact))),
            desk ? u", "_s + sqlQuote(*desk) : QString());
    return connection().write(sql, SQLiteHelper::Changes::AtLeastOne);
}

bool ReceiptBook::readDay(QDate day, DayRead *read, QString *error)
{
    *read = {};
    const QString begin = day.toString(u"yyyy-MM-dd 00:00:00"_s);
    const QString end = day.toString(u"yyyy-MM-dd 23:59:59"_s);
    RangeRead range;
    if (!readRange(begin, end, &range, error))
        return false;
    read->receipts = std::move(range.receipts);
    // Lowest number first, by value: 10 after 9 whatever the padding.
    const auto byNumber = [](const Receipt &a, const Receipt &b) {
        const bool plainA = ReceiptNumber::isPlain(a.receiptNo);
        const bool plainB = ReceiptNumber::isPlain(b.receiptNo);
        if (plainA && plainB && a.receiptNo.toLongLong() != b.receiptNo.toLongLong())
            return a.receiptNo.toLongLong() < b.receiptNo.toLongLong();
        if (plainA != plainB)
            return plainA;
        return a.receiptNo < b.receiptNo;
    };
    std::stable_sort(read->receipts.begin(), read->receipts.end(), byNumber);
    // Read from the voids (a few), each receipt by its id: the receipts' date index would
    // have the whole book before the day read (the concatenation keeps the date off it).
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select r.*, v.reason as quenta_void from tb_void v join tb_receipt r on r.id = "
        u"v.receiptId where v.voidDate >= $1 and v.voidDate <= $2 and r.receiptDate || '' < $1 "
        u"and "_s
            + liveCondition(u"r"_s),
        {begin, end});
    if (!rows) {
        if (error)
            *error = u"读取收据失败："_s + lastError();
        return false;
    }
    std::optional<ReceiptRowMapper> mapper;
    while (rows->next()) {
        if (!mapper)
            mapper.emplace(*rows, u"receiptNo"_s);
        if (std::optional<Receipt> receipt = mapper->map()) {
            receipt->voidReason = rows->stringForColumnIndex(rows->columnIndexForName(u"quenta_void"_s))
                                      .value_or(QString());
            read->voidedLater.append(std::move(*receipt));
        }
    }
    if (rows->hasError()) {
        const QString reason = connection().noteFailure(rows->error());
        if (error)
            *error = u"读取收据失败："_s + reason;
        return false;
    }
    std::stable_sort(read->voidedLater.begin(), read->voidedLater.end(), byNumber);
    return true;
}
