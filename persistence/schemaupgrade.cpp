// SPDX-License-Identifier: GPL-3.0-or-later
#include "schemaupgrade.h"

#include "pgtemplate.h"

#include "database.h"
#include "recordchain.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <QDateTime>
#include <QHash>

#include <array>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// The indexes of version 4, as both templates make them.
QString valueIndexes()
{
    return u"create index if not exists idx_history_receiptNoValue on tb_history "_s
           u"(ltrim(receiptNo, '0'));\n"_s
           u"create index if not exists idx_receipt_receiptNoValue on tb_receipt "_s
           u"(ltrim(receiptNo, '0'));"_s;
}

// Gives every role that may add receipts (a desk's) what a desk needs of the tables a
// newer version added: to read the chain, and to read and add closings.
QString deskGrantsOnUpgrade()
{
    return u"do $grants$ declare desk text; begin for desk in select distinct grantee from "
           u"information_schema.role_table_grants where table_schema = current_schema() and "
           u"table_name = 'tb_receipt' and privilege_type = 'INSERT' and grantee <> "
           u"current_user loop execute format('grant select on tb_chain, tb_chainHead to %I', "
           u"desk); execute format('grant select, insert on tb_closing to %I', desk); end "
           u"loop; end $grants$"_s;
}

// The record chain of version 5, as the template makes it.
QString fileChain()
{
    // A book that says it is older but carries a chain (a newer book's copy with its
    // version set back) has it made anew, from its rows as they are now.
    return u"drop trigger if exists trg_history_chain;\n"
           u"drop table if exists tb_chain;\n"
           u"drop table if exists tb_chainHead;\n"
           u"create table tb_chain (\n"
           u"    link      integer primary key,\n"
           u"    historyId integer not null unique,\n"
           u"    hash      text not null\n"
           u");\n"
           u"create table tb_chainHead (rows integer not null, head text not null);\n"
           u"insert into tb_chainHead (rows, head) values (0, '');\n"
           u"create trigger trg_history_chain after insert on tb_history begin insert into "
           u"tb_chain (link, historyId, hash) select rows + 1, new.id, quenta_link(head, "
           u"new.time, new.action, new.receiptId, new.receiptNo, new.detail, new.desk) from "
           u"tb_chainHead; update tb_chainHead set rows = rows + 1, head = (select hash from "
           u"tb_chain where historyId = new.id); end;"_s;
}

// The closed days of version 6, as the template makes them.
QString fileClosings()
{
    // A book that says it is older but has its closings (a newer book's copy with its
    // version set back) keeps them: the table stays, its rules are made anew.
    return u"create table if not exists tb_closing (\n"
           u"    closedTo text primary key not null,\n"
           u"    time     text not null,\n"
           u"    desk     text\n"
           u");\n"
           u"drop trigger if exists trg_closing_final_update;\n"
           u"create trigger trg_closing_final_update before update on tb_closing begin select raise(abort, 'quenta_day_closed'); end;\n"
           u"drop trigger if exists trg_closing_final_delete;\n"
           u"create trigger trg_closing_final_delete before delete on tb_closing begin select raise(abort, 'quenta_day_closed'); end;\n"
           u"drop trigger if exists trg_receipt_closed_insert;\n"
           u"create trigger trg_receipt_closed_insert before insert on tb_receipt when substr(new.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;\n"
           u"drop trigger if exists trg_receipt_closed_update;\n"
           u"create trigger trg_receipt_closed_update before update on tb_receipt when substr(old.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) or substr(new.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;\n"
           u"drop trigger if exists trg_receipt_closed_delete;\n"
           u"create trigger trg_receipt_closed_delete before delete on tb_receipt when substr(old.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;\n"
           u"drop trigger if exists trg_void_closed_delete;\n"
           u"create trigger trg_void_closed_delete before delete on tb_void when (select substr(receiptDate, 1, 10) from tb_receipt where id = old.receiptId) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;"_s;
}

// The series and the paper books of version 7, as the template makes them; kept when a copy
// with its version set back has them.
QString fileSeries()
{
    return u"create table if not exists tb_series (\n"
           u"    name    text primary key not null,\n"
           u"    prefix  text not null unique,\n"
           u"    numLong integer not null,\n"
           u"    yearly  integer not null\n"
           u");\n"
           u"create table if not exists tb_seriesCounter (\n"
           u"    series  text not null,\n"
           u"    year    text not null,\n"
           u"    currNum integer not null,\n"
           u"    primary key (series, year)\n"
           u");\n"
           u"create table if not exists tb_paperBook (\n"
           u"    series   text not null,\n"
           u"    first    integer not null,\n"
           u"    last     integer not null,\n"
           u"    holder   text,\n"
           u"    time     text not null,\n"
           u"    desk     text,\n"
           u"    returned text,\n"
           u"    primary key (series, first)\n"
           u");\n"
           u"create index if not exists idx_history_spoiled on tb_history (receiptNo) where action = 'spoil';\n"
           u"drop trigger if exists trg_receipt_paper_book;\n"
           u"create trigger trg_receipt_paper_book before insert on tb_receipt when new.receiptNo <> '' and new.receiptNo not glob '*[^0-9]*' and length(new.receiptNo) <= 18 and exists (select 1 from tb_paperBook where series = '') and not exists (select 1 from tb_paperBook where series = '' and returned is null and cast(new.receiptNo as integer) between first and last) begin select raise(abort, 'quenta_outside_paper_books'); end;\n"
           u"drop trigger if exists trg_paper_book_final_update;\n"
           u"drop trigger if exists trg_paper_book_final_delete;\n"
           u"create trigger trg_paper_book_final_update before update on tb_paperBook when old.returned is not null or new.returned is null or new.series is not old.series or new.first is not old.first or new.last is not old.last or new.holder is not old.holder or new.time is not old.time or new.desk is not old.desk begin select raise(abort, 'quenta_paper_book_final'); end;\n"
           u"create trigger trg_paper_book_final_delete before delete on tb_paperBook begin select raise(abort, 'quenta_paper_book_final'); end;"_s;
}

// Gives every role that may add receipts what a desk needs of the series and the paper
// books: to read them, add them, and move their counters and returns.
QString seriesGrantsOnUpgrade()
{
    return u"do $grants$ declare desk text; begin for desk in select distinct grantee from "
           u"information_schema.role_table_grants where table_schema = current_schema() and "
           u"table_name = 'tb_receipt' and privilege_type = 'INSERT' and grantee <> "
           u"current_user loop execute format('grant select, insert, update on tb_series, "
           u"tb_seriesCounter to %I', desk); execute format('grant select, insert, update "
           u"(returned) on tb_paperBook to %I', desk); execute format('grant execute on "
           u"procedure quenta_issue_in_series to %I', desk); execute format('grant execute on "
           u"function quenta_series_number_used, quenta_highest_in_book, quenta_next_in_books "
           u"to %I', desk); end loop; end $grants$"_s;
}

// Links the history rows a book kept before its chain, in the order of their ids, and adds
// the row that says the chain starts there: what came before it was not linked as it was
// written, and cannot be proved.
bool chainEarlierRows(Database &database)
{
    std::unique_ptr<ResultSet> rows = database.executeQuery(
        u"select id, time, action, receiptId, receiptNo, detail, desk from tb_history "
        u"order by id"_s);
    if (!rows)
        return false;
    QByteArray head;
    qint64 linked = 0;
    QStringList values;
    const auto flush = [&] {
        const bool written = values.isEmpty()
            || database.executeStatements(
                u"insert into tb_chain (link, historyId, hash) values "_s + values.join(u','));
        values.clear();
        return written;
    };
    std::array<std::optional<QByteArrayView>, RecordChain::fieldCount> fields;
    while (rows->next()) {
        for (int i = 0; i < RecordChain::fieldCount; ++i)
            fields[size_t(i)] = rows->bytesForColumnIndex(i + 1);
        head = RecordChain::link(head, fields);
        ++linked;
        values.append(u"(%1, %2, '%3')"_s.arg(linked).arg(rows->int64ForColumnIndex(0)).arg(
            QString::fromLatin1(head)));
        if (values.size() == 500 && !flush())
            return false;
    }
    if (rows->hasError() || !flush())
        return false;
    rows.reset();
    const QString now = QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
    // A receipt the history never recorded (kept since before the history, or written by
    // another program) is recorded as it is found, so that it is proved from here on.
    const QString asFound
        = database.dialect().inDialect(u"json_object("_s, u"json_build_object("_s)
        + u"'id', id, 'receiptNo', receiptNo, 'receiptDate', receiptDate, 'payer', payer, "
          u"'reason1', reason1, 'reason2', reason2, 'remark', remark, 'paytype', paytype, "
          u"'payee', payee, 'approve', approve, 'accountant', accountant, 'creator', creator, "
          u"'createDate', createDate, 'total', cast(total as text), 'totalBig', totalBig, "
          u"'isDeleted', cast(isDeleted as text), 'reason', (select v.reason from tb_void v "
          u"where v.receiptId = r.id))"_s;
    return database.executeStatements(
        u"update tb_chainHead set rows = %1, head = '%2';\n"
        u"insert into tb_history (time, action, receiptId, receiptNo, detail, desk) select "
        u"%3, 'chain', id, receiptNo, %5, null from tb_receipt r where not exists (select 1 "
        u"from tb_history h where h.receiptId = r.id) order by r.rowid;\n"
        u"insert into tb_history (time, action, receiptId, receiptNo, detail, desk) values "
        u"(%3, 'chain', null, null, %4, null);"_s.arg(linked)
            .arg(QString::fromLatin1(head), sqlQuote(now),
                 sqlQuote(u"{\"note\":\"记录链自此开始\",\"rows\":%1}"_s.arg(linked)), asFound));
}

std::optional<QString> firstValue(Database &database, const QString &sql)
{
    std::unique_ptr<ResultSet> resultSet = database.executeQuery(sql);
    if (!resultSet || !resultSet->next())
        return std::nullopt;
    return resultSet->stringForColumnIndex(0).value_or(QString());
}

bool hasTable(Database &database, const QString &table)
{
    return firstValue(database, database.dialect().tableExistsStatement(table)).value_or(u"0"_s)
        != u"0"_s;
}

// A unique index over receiptNo alone, whatever its name.
bool hasUniqueReceiptNoIndex(Database &database)
{
    std::unique_ptr<ResultSet> indexes
        = database.executeQuery(u"select name from pragma_index_list('tb_receipt') "
                                u"where \"unique\" = 1 and partial = 0"_s);
    if (!indexes)
        return false;
    QStringList names;
    while (indexes->next())
        names.append(indexes->stringForColumnIndex(0).value_or(QString()));
    for (const QString &name : std::as_const(names)) {
        QString quoted = name;
        quoted.replace(u'\'', u"''"_s);
        std::unique_ptr<ResultSet> columns
            = database.executeQuery(u"select name from pragma_index_info('%1')"_s.arg(quoted));
        QStringList indexed;
        while (columns && columns->next())
            indexed.append(columns->stringForColumnIndex(0).value_or(QString()).toLower());
        if (indexed == QStringList(u"receiptno"_s))
            return true;
    }
    return false;
}

QStringList duplicateReceiptNumbers(Database &database)
{
    QStringList numbers;
    std::unique_ptr<ResultSet> resultSet = database.executeQuery(
        u"select cast(receiptNo as text) from tb_receipt group by receiptNo "
        u"having count(*) > 1 order by receiptNo"_s);
    while (resultSet && resultSet->next())
        numbers.append(resultSet->stringForColumnIndex(0).value_or(QString()));
    return numbers;
}

bool hasColumn(Database &database, const QString &table, const QString &column)
{
    return firstValue(database, database.dialect().columnExistsStatement(table, column))
               .value_or(u"0"_s)
        != u"0"_s;
}

bool isEmptyTable(Database &database, const QString &table)
{
    return hasTable(database, table)
        && firstValue(database, u"select count(*) from %1"_s.arg(table)) == u"0"_s;
}

// The statements of the shared book's template from the one that begins with `first` to
// the end of the one that begins with `last`; empty when the template has no such run.
QString templateStatements(const QString &first, const QString &last)
{
    const QString sql = QString::fromUtf8(pgTemplateSql);
    const qsizetype begin = sql.indexOf(first);
    const qsizetype lastBegins = begin < 0 ? -1 : sql.indexOf(last, begin);
    const qsizetype end = lastBegins < 0 ? -1 : sql.indexOf(u';', lastBegins);
    return end < 0 ? QString() : sql.mid(begin, end + 1 - begin);
}

// The header row every print needs, put back as the template has it, on either engine.
bool restoreHeader(Database &database, SchemaReport &report)
{
    if (!database.executeStatements(
            u"insert into tb_company (id, title, label, remark) values "
            u"('1DE66976-663D-4270-9207-4F9E4CEF354C', '收款收据', '交款人收执', '')"_s))
        return false;
    report.restoredTables.append(u"tb_company"_s);
    return true;
}

// The numbered steps from one schema version to the next, each run once, in order, in
// the one transaction of apply(). A step only adds: it never changes a stored row.
bool upgradeStep(Database &database, int toVersion)
{
    switch (toVersion) {
    case 1:
        return database.executeStatements(
            u"create table if not exists tb_void (\n"
            u"    receiptId text primary key not null,\n"
            u"    reason    text not null,\n"
            u"    voidDate  text not null\n"
            u");\n"
            u"create table if not exists tb_history (\n"
            u"    id        integer primary key autoincrement,\n"
            u"    time      text not null,\n"
            u"    action    text not null,\n"
            u"    receiptId text,\n"
            u"    receiptNo text,\n"
            u"    detail    text\n"
            u");\n"
            u"create index if not exists idx_history_receiptId on tb_history (receiptId);"_s);
    case 2:
        // The search index, as the template has it word for word (the start-up check
        // compares the text), but empty: a large book is indexed in the background by
        // ReceiptSearchIndex, from the lowest rowid up. A book that says it is older but
        // carries an index (a newer book's copy with its version set back) has it made anew.
        return database.executeStatements(
            u"drop trigger if exists trg_receipt_search_insert;\n"
            u"drop trigger if exists trg_receipt_search_delete;\n"
            u"drop trigger if exists trg_receipt_search_update;\n"
            u"drop table if exists fts_receipt;\n"
            u"drop table if exists tb_searchIndex;\n"
            u"create virtual table fts_receipt using fts5(receiptNo, payer, reason1, reason2, "
            u"remark, paytype, payee, content='tb_receipt', tokenize='trigram');"
            u"\n"
            u"create table tb_searchIndex (filledTo integer not null);"
            u"\n"
            u"create trigger trg_receipt_search_insert after insert on tb_receipt begin"
            u" insert into fts_receipt (rowid, receiptNo, payer, reason1, reason2, remark, "
            u"paytype, payee)"
            u" select new.rowid, new.receiptNo, new.payer, new.reason1, new.reason2, new.remark, "
            u"new.paytype, new.payee"
            u" where new.rowid <= (select max(filledTo) from tb_searchIndex);"
            u" end;"
            u"\n"
            u"create trigger trg_receipt_search_delete after delete on tb_receipt begin"
            u" insert into fts_receipt (fts_receipt, rowid, receiptNo, payer, reason1, reason2, "
            u"remark, paytype, payee)"
            u" select 'delete', old.rowid, old.receiptNo, old.payer, old.reason1, old.reason2, "
            u"old.remark, old.paytype, old.payee"
            u" where old.rowid <= (select max(filledTo) from tb_searchIndex);"
            u" end;"
            u"\n"
            u"create trigger trg_receipt_search_update after update on tb_receipt begin"
            u" insert into fts_receipt (fts_receipt, rowid, receiptNo, payer, reason1, reason2, "
            u"remark, paytype, payee)"
            u" select 'delete', old.rowid, old.receiptNo, old.payer, old.reason1, old.reason2, "
            u"old.remark, old.paytype, old.payee"
            u" where old.rowid <= (select max(filledTo) from tb_searchIndex);"
            u" insert into fts_receipt (rowid, receiptNo, payer, reason1, reason2, remark, "
            u"paytype, payee)"
            u" select new.rowid, new.receiptNo, new.payer, new.reason1, new.reason2, new.remark, "
            u"new.paytype, new.payee"
            u" where new.rowid <= (select max(filledTo) from tb_searchIndex);"
            u" end;"
            u"\n"
            u"insert into tb_searchIndex (filledTo) values (-9223372036854775808);"_s);
    case 3:
        // Which desk made each history row; the rows before it keep none.
        return hasColumn(database, u"tb_history"_s, u"desk"_s)
            || database.executeStatements(u"alter table tb_history add column desk text"_s);
    case 4:
        // Numbers looked up by value: one number in any padding, never issued again.
        return database.executeStatements(valueIndexes());
    case 5:
        // The record chain, from the rows kept so far on.
        return database.executeStatements(fileChain()) && chainEarlierRows(database);
    case 6:
        return database.executeStatements(fileClosings());
    case 7:
        return database.executeStatements(fileSeries());
    default:
        return false;
    }
}

// One row of sqlite_schema.
struct SchemaObject
{
    QString type;
    QString name;
    QString table;
    QString sql;
};

QList<SchemaObject> schemaObjects(Database &database)
{
    QList<SchemaObject> objects;
    std::unique_ptr<ResultSet> rows
        = database.executeQuery(u"select type, name, tbl_name, sql from sqlite_schema"_s);
    if (!rows)
        return objects;
    while (rows->next()) {
        objects.append({rows->stringForColumnIndex(0).value_or(QString()),
                        rows->stringForColumnIndex(1).value_or(QString()),
                        rows->stringForColumnIndex(2).value_or(QString()),
                        rows->stringForColumnIndex(3).value_or(QString())});
    }
    return objects;
}

QString keyOf(const SchemaObject &object)
{
    return object.type + u'|' + object.name.toLower() + u'|' + object.table.toLower();
}

// The tables and indexes SQLite makes itself for any book.
bool isSQLiteOwn(const SchemaObject &object)
{
    const QString name = object.name.toLower();
    if (object.type == u"index"_s)
        return name.startsWith(u"sqlite_autoindex_"_s);
    return object.type == u"table"_s
        && (name == u"sqlite_sequence"_s || name.startsWith(u"sqlite_stat"_s));
}

// A table declared so that a save replaces another row or is dropped without an error.
QString tableDeclarationProblem(const SchemaObject &object)
{
    const QString sql = object.sql.simplified().toLower();
    if (sql.startsWith(u"create virtual"_s))
        return u"虚拟表 %1"_s.arg(object.name);
    if (sql.contains(u"on conflict"_s))
        return u"表 %1 的定义（ON CONFLICT）"_s.arg(object.name);
    return {};
}

QString describe(const SchemaObject &object)
{
    if (object.type == u"trigger"_s)
        return u"触发器 %1（表 %2）"_s.arg(object.name, object.table);
    if (object.type == u"view"_s)
        return u"视图 %1"_s.arg(object.name);
    if (object.type == u"index"_s)
        return u"索引 %1（表 %2）"_s.arg(object.name, object.table);
    return u"表 %1"_s.arg(object.name);
}

} // namespace

std::optional<QStringList> SchemaUpgrade::unknownObjects(Database &database,
                                                         const QString &templatePath)
{
    Database templateDatabase(templatePath, Database::OpenMode::ExistingFileOnly);
    templateDatabase.setOpenReadOnly(true);
    templateDatabase.setLogsErrors(false);
    if (!templateDatabase.open())
        return std::nullopt;
    QHash<QString, QString> known; // key → the statement that made it
    for (const SchemaObject &object : schemaObjects(templateDatabase))
        known.insert(keyOf(object), object.sql);
    if (known.isEmpty() || !database.isOpen())
        return std::nullopt;
    std::unique_ptr<ResultSet> probe
        = database.executeQuery(u"select count(*) from sqlite_schema"_s);
    if (!probe || !probe->next())
        return std::nullopt;
    probe.reset();

    QStringList unknown;
    for (const SchemaObject &object : schemaObjects(database)) {
        if (isSQLiteOwn(object))
            continue;
        const auto found = known.constFind(keyOf(object));
        if (found == known.constEnd()) {
            unknown.append(describe(object));
            continue;
        }
        // Code runs on every write: a trigger, a view or a virtual table of the template's
        // name is only the template's own when its statement is the same word for word.
        const bool isCode = object.type == u"trigger"_s || object.type == u"view"_s
            || object.sql.simplified().startsWith(u"create virtual"_s, Qt::CaseInsensitive);
        if (isCode) {
            if (object.sql != *found)
                unknown.append(describe(object));
            continue;
        }
        if (object.type == u"table"_s) {
            if (const QString problem = tableDeclarationProblem(object); !problem.isEmpty())
                unknown.append(problem);
        }
    }
    return unknown;
}

QStringList SchemaUpgrade::tablesAddedAfter(int version)
{
    QStringList tables;
    if (version < 1)
        tables << u"tb_void"_s << u"tb_history"_s;
    if (version < 6)
        tables << u"tb_closing"_s;
    if (version < 7)
        tables << u"tb_series"_s << u"tb_seriesCounter"_s << u"tb_paperBook"_s;
    if (version < 2) {
        tables << u"fts_receipt"_s << u"fts_receipt_data"_s << u"fts_receipt_idx"_s
               << u"fts_receipt_docsize"_s << u"fts_receipt_config"_s << u"tb_searchIndex"_s;
    }
    return tables;
}

int SchemaUpgrade::version(Database &database)
{
    const std::optional<QString> text = firstValue(database, u"pragma user_version"_s);
    return text ? text->toInt() : -1;
}

SchemaReport SchemaUpgrade::apply(Database &database)
{
    SchemaReport report;
    if (!database.isOpen() || !hasTable(database, u"tb_receipt"_s))
        return report;
    report.version = version(database);
    report.isNewer = report.version > currentVersion;
    if (report.isNewer)
        return report;

    const bool uniqueNumbers = hasUniqueReceiptNoIndex(database);
    if (!uniqueNumbers)
        report.duplicateReceiptNumbers = duplicateReceiptNumbers(database);
    const bool missingNumbering = isEmptyTable(database, u"tb_receiptNo"_s);
    const bool missingHeader = isEmptyTable(database, u"tb_company"_s);
    const bool older = report.version < currentVersion;
    if ((uniqueNumbers && !missingNumbering && !missingHeader && !older) || database.isReadOnly())
        return report;

    Transaction transaction(database);
    if (!transaction.begin())
        return report;
    bool ok = true;
    if (!uniqueNumbers) {
        // With duplicates a unique index cannot be made; a plain one still keeps the
        // number checks quick.
        ok = report.duplicateReceiptNumbers.isEmpty()
            ? database.executeStatements(
                u"drop index if exists idx_receipt_receiptNo;\n"
                u"create unique index idx_receipt_receiptNo on tb_receipt (receiptNo);"_s)
            : database.executeStatements(
                u"create index if not exists idx_receipt_receiptNo on tb_receipt (receiptNo);"_s);
    }
    if (ok && missingNumbering) {
        // Numbering goes on after the highest number in the book, so putting the row back
        // neither re-issues a number in a gap nor makes every start test numbers from 1.
        const qint64 highest = firstValue(database,
                                          u"select coalesce(max(cast(receiptNo as integer)), 0) "
                                          u"from tb_receipt where receiptNo <> '' and "
                                          u"receiptNo not glob '*[^0-9]*'"_s)
                                   .value_or(u"0"_s)
                                   .toLongLong();
        const qint64 next = highest < std::numeric_limits<qint64>::max() ? highest + 1 : highest;
        ok = database.executeStatements(
            u"insert into tb_receiptNo (numLong, currNum) values ('7', '%1');"_s.arg(next));
        if (ok)
            report.restoredTables.append(u"tb_receiptNo"_s);
    }
    for (int step = report.version + 1; ok && older && step <= currentVersion; ++step)
        ok = upgradeStep(database, step);
    if (ok && older)
        ok = database.executeStatements(u"pragma user_version = %1"_s.arg(currentVersion));
    if (ok && missingHeader)
        ok = restoreHeader(database, report);
    if (!ok || !transaction.commit())
        report.restoredTables.clear();
    return report;
}

SchemaReport SchemaUpgrade::applyOnServer(Database &database)
{
    SchemaReport report;
    report.version = -1;
    const std::optional<QString> text
        = firstValue(database, u"select max(version) from tb_schema"_s);
    if (!text)
        return report;
    report.version = text->toInt();
    report.isNewer = report.version > currentServerVersion;
    if (report.isNewer || database.isReadOnly())
        return report;
    if (report.version < currentServerVersion) {
        // The steps a shared book has, in one transaction. Only the book's owner may
        // change its tables: a desk's role leaves it to the owner, and writes without.
        Transaction transaction(database);
        bool ok = transaction.begin();
        for (int step = report.version + 1; ok && step <= currentServerVersion; ++step) {
            if (step == 3) {
                ok = hasColumn(database, u"tb_history"_s, u"desk"_s)
                    || database.executeStatements(
                        u"alter table tb_history add column desk text collate \"C\""_s);
                // The count of writes the lists compare, as the template makes it.
                if (ok && firstValue(database, u"select to_regclass('tb_changes') is null"_s)
                        == u"t"_s) {
                    const QString changeCount = templateStatements(
                        u"create sequence tb_changes"_s, u"create trigger trg_void_changes"_s);
                    ok = !changeCount.isEmpty() && database.executeStatements(changeCount);
                }
            }
            // Made by the owner only, as every step: a desk's role may not make an index,
            // and its numbering finds the numbers without one, only slower, until then.
            if (step == 4)
                ok = database.executeStatements(valueIndexes());
            // The procedure that issues a receipt in one statement, as the template has it.
            if (step == 5) {
                const QString issue = templateStatements(u"create procedure quenta_issue"_s,
                                                         u"\n$used$"_s);
                ok = !issue.isEmpty() && database.executeStatements(issue);
            }
            // The record chain, as the template has it, from the rows kept so far on.
            if (step == 6) {
                const QString chain = templateStatements(u"create table tb_chain"_s,
                                                         u"create trigger trg_history_chain"_s);
                ok = !chain.isEmpty() && database.executeStatements(chain)
                    && chainEarlierRows(database);
            }
            // The closed days, as the template has them; the desks that write the receipts
            // may close days and read the chain (a book made before it gave them no right
            // to it).
            if (step == 7) {
                const QString closings = templateStatements(u"create table tb_closing"_s,
                                                            u"create trigger trg_void_closed"_s);
                // And the chain linked once for each statement, as the template has it now.
                QString chain = templateStatements(u"create function quenta_chain"_s,
                                                   u"create trigger trg_history_chain"_s);
                chain.replace(u"create function quenta_chain"_s,
                              u"drop trigger if exists trg_history_chain on tb_history;\n"
                              u"create or replace function quenta_chain"_s);
                ok = !closings.isEmpty() && !chain.isEmpty()
                    && database.executeStatements(closings) && database.executeStatements(chain)
                    && database.executeStatements(deskGrantsOnUpgrade());
            }
            // The series and the paper books, as the template has them.
            if (step == 8) {
                const QString series = templateStatements(u"create table tb_series"_s,
                                                          u"create trigger trg_receipt_paper_book"_s);
                ok = !series.isEmpty() && database.executeStatements(series)
                    && database.executeStatements(seriesGrantsOnUpgrade());
            }
        }
        if (ok)
            ok = database.executeStatements(
                u"update tb_schema set version = %1"_s.arg(currentServerVersion));
        if (ok)
            transaction.commit();
    }
    // Receipt numbers are under a unique index from the start; the rows every save needs
    // are put back as on a file, in one transaction (a desk without the right to write
    // them leaves them to another).
    const bool missingNumbering = isEmptyTable(database, u"tb_receiptNo"_s);
    const bool missingHeader = isEmptyTable(database, u"tb_company"_s);
    if (!missingNumbering && !missingHeader)
        return report;
    Transaction transaction(database);
    if (!transaction.begin())
        return report;
    bool ok = true;
    if (missingNumbering) {
        ok = database.executeStatements(
            u"insert into tb_receiptNo (numLong, currNum) select '7', "
            u"(coalesce(max(cast(receiptNo as numeric)), 0) + 1)::text from tb_receipt "
            u"where receiptNo ~ '^[0-9]{1,18}$'"_s);
        if (ok)
            report.restoredTables.append(u"tb_receiptNo"_s);
    }
    if (ok && missingHeader)
        ok = restoreHeader(database, report);
    if (!ok || !transaction.commit())
        report.restoredTables.clear();
    return report;
}
