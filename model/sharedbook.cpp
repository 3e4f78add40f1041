// SPDX-License-Identifier: GPL-3.0-or-later
#include "sharedbook.h"

#include "backupservice.h"
#include "bookcontents.h"
#include "bookproof.h"
#include "database.h"
#include "outputfile.h"
#include "databaseerror.h"
#include "pgtemplate.h"
#include "receiptbook.h"
#include "receiptsearchindex.h"
#include "schemaupgrade.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

using namespace Qt::StringLiterals;

namespace {

// A table copied from the SQLite book, with the columns it is copied by.
struct CopiedTable
{
    QString name;
    QStringList columns;
    // What a desk's role may do with its rows.
    QString deskPrivileges = u"select, insert, update, delete"_s;
};

const QList<CopiedTable> &copiedTables()
{
    static const QList<CopiedTable> tables = {
        {u"tb_receipt"_s,
         {u"id"_s, u"receiptNo"_s, u"receiptDate"_s, u"payer"_s, u"reason1"_s, u"reason2"_s,
          u"remark"_s, u"paytype"_s, u"payee"_s, u"approve"_s, u"accountant"_s, u"creator"_s,
          u"createDate"_s, u"total"_s, u"totalBig"_s, u"isDeleted"_s, u"rowid"_s}},
        {u"tb_receiptNo"_s, {u"numLong"_s, u"currNum"_s}},
        // A desk adds series and moves their counters; none is removed.
        {u"tb_series"_s, {u"name"_s, u"prefix"_s, u"numLong"_s, u"yearly"_s}, u"select, insert, update"_s},
        {u"tb_seriesCounter"_s, {u"series"_s, u"year"_s, u"currNum"_s}, u"select, insert, update"_s},
        {u"tb_company"_s, {u"id"_s, u"title"_s, u"label"_s, u"remark"_s}},
        {u"tb_payer"_s, {u"id"_s, u"content"_s}},
        {u"tb_reason1"_s, {u"id"_s, u"content"_s}},
        {u"tb_reason2"_s, {u"id"_s, u"content"_s}},
        {u"tb_remark"_s, {u"id"_s, u"content"_s}},
        {u"tb_paytype"_s, {u"id"_s, u"content"_s}},
        {u"tb_account"_s, {u"id"_s, u"userName"_s, u"password"_s, u"power"_s, u"status"_s}},
        {u"tb_void"_s, {u"receiptId"_s, u"reason"_s, u"voidDate"_s}},
        // A desk adds history, never changes or removes it.
        {u"tb_history"_s,
         {u"id"_s, u"time"_s, u"action"_s, u"receiptId"_s, u"receiptNo"_s, u"detail"_s,
          u"desk"_s},
         u"select, insert"_s},
        // After the receipts, which may be older than the books; a desk registers and
        // returns books and never removes one.
        {u"tb_paperBook"_s,
         {u"series"_s, u"first"_s, u"last"_s, u"holder"_s, u"time"_s, u"desk"_s, u"returned"_s},
         u"select, insert, update (returned)"_s},
        // Last: once a closing is in, the receipts of its days can no longer be written.
        // A desk closes days, and no one opens them again.
        {u"tb_closing"_s, {u"closedTo"_s, u"time"_s, u"desk"_s}, u"select, insert"_s},
    };
    return tables;
}

// The columns of `table` to read from a book that may be of a version before one of them
// (a history without its desk): a missing one is read as NULL.
QString selectList(const CopiedTable &table, const QSet<QString> &missing = {})
{
    QStringList list;
    for (const QString &column : table.columns)
        list.append(missing.contains(table.name + u'.' + column.toLower()) ? u"null"_s : column);
    return list.join(u", "_s);
}

// How long the copy of a book into the server, or a restore's emptying of its tables, may
// wait for an answer: far beyond a desk's statement, but not for ever.
constexpr int longWorkSeconds = 600;

// A statement carries at most 65,535 parameters; a part of some thousands keeps each
// statement short while a large book still goes in few round trips.
constexpr int parametersPerInsert = 8000;
constexpr int rowsPerInsert = 500;

// The first column of a statement's first row; nothing when it failed or found no row.
std::optional<QString> firstText(Database &database, const QString &sql,
                                 const SqlValues &values = {})
{
    std::unique_ptr<ResultSet> rows = database.executeWithValues(sql, values);
    if (!rows || !rows->next())
        return std::nullopt;
    return rows->stringForColumnIndex(0);
}

std::optional<qint64> firstNumber(Database &database, const QString &sql,
                                  const SqlValues &values = {})
{
    const std::optional<QString> text = firstText(database, sql, values);
    bool ok = false;
    const qint64 number = text ? text->toLongLong(&ok) : 0;
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

// One copy: the SQLite book read in one read transaction, written into the server's
// transaction.
class Copy
{
public:
    Copy(Database &book, Database &server)
        : m_book(book)
        , m_server(server)
    { }

    bool copyTable(const CopiedTable &table, bool present, QString *error);
    bool verify(const CopiedTable &table, QString *error);
    qint64 receipts() const { return m_rows.value(u"tb_receipt"_s); }

private:
    bool insert(const CopiedTable &table, const SqlValues &values, int rows, QString *error);

    Database &m_book;
    Database &m_server;
    QHash<QString, qint64> m_rows;
    BookContents::Amounts m_amounts;
};

// A row of the SQLite book as the user finds it: a receipt by its number, another row by
// its table and first column.
QString rowName(const CopiedTable &table, const ResultSet &rows)
{
    const auto text = [&rows](int column) {
        const std::optional<QByteArrayView> bytes = rows.bytesForColumnIndex(column);
        return bytes ? QString::fromUtf8(*bytes).remove(QChar(0)) : QString();
    };
    if (table.name == u"tb_receipt"_s)
        return u"收据 No.%1"_s.arg(text(1));
    if (table.name == u"tb_history"_s)
        return u"操作记录第 %1 条"_s.arg(text(0));
    return u"表 %1 中“%2”一行"_s.arg(table.name, text(0));
}

bool Copy::copyTable(const CopiedTable &table, bool present, QString *error)
{
    m_rows[table.name] = 0;
    if (!present)
        return true;
    // In the order the rows were written, so that the server's tables read back alike.
    const QString order = table.name == u"tb_history"_s ? u"id"_s : u"rowid"_s;
    QSet<QString> missing;
    if (table.name == u"tb_history"_s) {
        if (firstNumber(m_book, m_book.dialect().columnExistsStatement(u"tb_history"_s, u"desk"_s))
            == 0)
            missing.insert(u"tb_history.desk"_s);
    }
    std::unique_ptr<ResultSet> rows = m_book.executeQuery(
        u"select %1 from %2 order by %3"_s.arg(selectList(table, missing), table.name, order));
    if (!rows) {
        *error = u"读取本机账本的表 %1 失败：%2"_s.arg(table.name, m_book.lastError().detail());
        return false;
    }
    const int columns = int(table.columns.size());
    const int batch = std::min(rowsPerInsert, parametersPerInsert / columns);
    SqlValues values;
    int pending = 0;
    const bool receipts = table.name == u"tb_receipt"_s;
    const int totalColumn = int(table.columns.indexOf(BookContents::amountColumn));
    while (rows->next()) {
        for (int column = 0; column < columns; ++column) {
            std::optional<QString> value = rows->stringForColumnIndex(column);
            // A text the server cannot hold (bytes that are no UTF-8, a NUL) is refused with
            // the row it is in: sent as it is, it would be stored as NULL or fail the copy.
            const bool unreadable = !value && rows->bytesForColumnIndex(column);
            if (unreadable || (value && value->contains(QChar(0)))) {
                *error
                    = u"本机账本中%1的“%2”%3，共享账本不能保存，没有复制：请先在本机账本中改正它"_s
                          .arg(rowName(table, *rows), table.columns.at(column),
                               unreadable ? u"不是有效的 UTF-8 文字"_s : u"含有空字符（U+0000）"_s);
                return false;
            }
            values.append(std::move(value));
        }
        if (receipts)
            m_amounts.add(rows->bytesForColumnIndex(totalColumn).value_or(""));
        ++m_rows[table.name];
        if (++pending == batch) {
            if (!insert(table, values, pending, error))
                return false;
            values.clear();
            pending = 0;
        }
    }
    if (rows->hasError()) {
        *error = u"读取本机账本的表 %1 失败：%2"_s.arg(table.name, rows->error().detail());
        return false;
    }
    return pending == 0 || insert(table, values, pending, error);
}

bool Copy::insert(const CopiedTable &table, const SqlValues &values, int rows, QString *error)
{
    const qsizetype columns = table.columns.size();
    QStringList tuples;
    for (int row = 0; row < rows; ++row) {
        QStringList placeholders;
        for (qsizetype column = 0; column < columns; ++column)
            placeholders.append(u"$%1"_s.arg(row * columns + column + 1));
        tuples.append(u'(' + placeholders.join(u", "_s) + u')');
    }
    // History ids are the SQLite book's own, kept as they are.
    const QString overriding
        = table.name == u"tb_history"_s ? u" overriding system value"_s : QString();
    const QString sql = u"insert into %1 (%2)%3 values %4"_s.arg(
        table.name, table.columns.join(u", "_s), overriding, tuples.join(u", "_s));
    if (m_server.executeWithValues(sql, values))
        return true;
    // SQLite keeps a book whose numbers repeat (under a plain index); a shared book cannot.
    const QString reason = m_server.lastError().kind() == DatabaseError::Kind::Conflict
        ? u"本机账本中有重复的单号或编号，"_s
        : QString();
    *error = u"复制表 %1 失败：%2%3"_s.arg(table.name, reason, m_server.lastError().detail());
    return false;
}

bool Copy::verify(const CopiedTable &table, QString *error)
{
    const std::optional<qint64> count
        = firstNumber(m_server, u"select count(*) from %1"_s.arg(table.name));
    if (!count) {
        *error = u"复制后清点表 %1 失败：%2"_s.arg(table.name, m_server.lastError().detail());
        return false;
    }
    if (*count != m_rows.value(table.name)) {
        *error = u"复制后表 %1 的行数不符（本机账本 %2 行，共享账本 %3 行）"_s.arg(table.name)
                     .arg(m_rows.value(table.name))
                     .arg(*count);
        return false;
    }
    if (table.name != u"tb_receipt"_s)
        return true;
    BookContents::Amounts copied;
    QString unread;
    if (!BookContents::addUp(m_server, &copied, &unread)) {
        *error = u"复制后清点表 tb_receipt 的金额失败：%1"_s.arg(unread);
        return false;
    }
    if (copied != m_amounts) {
        *error = u"复制后表 tb_receipt 的金额合计不符（本机账本 %1，共享账本 %2）"_s.arg(
            m_amounts.text(), copied.text());
        return false;
    }
    return true;
}

bool isConnectionUri(const QString &uri)
{
    return uri.startsWith(u"postgresql://"_s) || uri.startsWith(u"postgres://"_s);
}

// The book's tables as SQLite names them, in lower case (SQLite's names match in any case).
std::optional<QSet<QString>> tablesOf(Database &book)
{
    std::unique_ptr<ResultSet> rows
        = book.executeQuery(u"select name from sqlite_master where type = 'table'"_s);
    if (!rows)
        return std::nullopt;
    QSet<QString> names;
    while (rows->next())
        names.insert(rows->stringForColumnIndex(0).value_or(QString()).toLower());
    if (rows->hasError())
        return std::nullopt;
    return names;
}

// The book's tables that the database already holds, by name (PostgreSQL folds unquoted
// names to lower case, as the statements that use them do).
std::optional<QStringList> tablesAlreadyThere(Database &server)
{
    QStringList found;
    for (const QString &name : SharedBook::tableNames()) {
        const std::optional<qint64> count
            = firstNumber(server, server.dialect().tableExistsStatement(name));
        if (!count)
            return std::nullopt;
        if (*count > 0)
            found.append(name);
    }
    return found;
}

bool grantDesk(Database &server, const QString &role, QString *error)
{
    const QString grantee = server.dialect().quotedIdentifier(role);
    QStringList statements;
    for (const CopiedTable &table : copiedTables())
        statements.append(u"grant %1 on %2 to %3"_s.arg(table.deskPrivileges, table.name, grantee));
    statements.append(u"grant select on tb_schema, tb_chain, tb_chainHead to %1"_s.arg(grantee));
    statements.append(u"grant select on sequence tb_changes to %1"_s.arg(grantee));
    // The procedures a desk writes by, whatever the server grants everyone by default; they
    // run with the desk's own rights.
    statements.append(u"grant execute on procedure quenta_issue, quenta_update, "
                      u"quenta_change_voids to %1"_s.arg(grantee));
    statements.append(u"grant execute on function quenta_number_used to %1"_s.arg(grantee));
    statements.append(u"grant execute on procedure quenta_issue_in_series to %1"_s.arg(grantee));
    statements.append(u"grant execute on function quenta_series_number_used, "
                      u"quenta_highest_in_book, quenta_next_in_books to %1"_s.arg(grantee));
    // A history row a desk adds takes its id from the identity's sequence. The server
    // gives the sequence's name quoted as an identifier already.
    const std::optional<QString> sequenceName
        = firstText(server, u"select pg_get_serial_sequence('tb_history', 'id')"_s);
    if (!sequenceName) {
        *error = u"找不到表 tb_history 的序号：%1"_s.arg(server.lastError().detail());
        return false;
    }
    statements.append(u"grant usage on sequence %1 to %2"_s.arg(*sequenceName, grantee));
    if (server.executeStatements(statements.join(u";\n"_s)))
        return true;
    *error = u"给角色 %1 授权失败：%2"_s.arg(role, server.lastError().detail());
    return false;
}

// Copies every table of the SQLite book into the server's empty tables, moves the
// sequences past the ids copied and compares the counts and amounts; inside the caller's
// transactions on both sides. False with the reason.
bool copyInto(Database &book, const QSet<QString> &bookTables, int bookVersion,
              Database &server, qint64 *receipts, QString *error)
{
    const QStringList mayLack = SchemaUpgrade::tablesAddedAfter(bookVersion);
    Copy copy(book, server);
    for (const CopiedTable &table : copiedTables()) {
        const bool present = bookTables.contains(table.name.toLower());
        if (!present && !mayLack.contains(table.name, Qt::CaseInsensitive)) {
            *error = u"本机账本中没有表 %1，不是收据账本"_s.arg(table.name);
            return false;
        }
        if (!copy.copyTable(table, present, error))
            return false;
    }
    // New history rows and receipts continue after the highest id and rowid copied.
    if (!server.executeStatements(BookContents::continueIdsStatement())) {
        *error = u"设置表 tb_history 的序号失败：%1"_s.arg(server.lastError().detail());
        return false;
    }
    for (const CopiedTable &table : copiedTables()) {
        if (!copy.verify(table, error))
            return false;
    }
    *receipts = copy.receipts();
    return true;
}

// The copy inside the server's transaction; false with the reason, the transaction then
// rolled back by its guard.
bool createInTransaction(Database &book, const QSet<QString> &bookTables, int bookVersion,
                         Database &server, const QString &deskRole, qint64 *receipts,
                         QString *error)
{
    if (!server.executeStatements(QString::fromUtf8(pgTemplateSql))) {
        *error = u"建立共享账本的表失败：%1"_s.arg(server.lastError().detail());
        return false;
    }
    if (!copyInto(book, bookTables, bookVersion, server, receipts, error))
        return false;
    return deskRole.isEmpty() || grantDesk(server, deskRole, error);
}

// --- backups of a shared book ---------------------------------------------------

// The order a table is read in for a backup: receipts and history as they were written,
// the rest by their first column.
QString backupOrder(const CopiedTable &table)
{
    if (table.name == u"tb_receipt"_s)
        return u"rowid"_s;
    // The history in the order of its chain, which the copy's own chain then repeats link
    // for link.
    if (table.name == u"tb_history"_s)
        return u"(select link from tb_chain where historyId = tb_history.id), id"_s;
    return table.columns.first();
}

// A value of the server as a SQLite literal: the ids SQLite keys its rows by as numbers,
// everything else as the text it is.
QString literal(const std::optional<QString> &value, bool rowKey)
{
    if (!value)
        return u"NULL"_s;
    if (rowKey) {
        bool ok = false;
        const qint64 number = value->toLongLong(&ok);
        if (ok)
            return QString::number(number);
    }
    return sqlQuote(*value);
}

// Rows read from the server while the backup is written, to compare with the file after.
struct Snapshot
{
    QHash<QString, qint64> rows;
    BookContents::Amounts amounts;
};

// Copies one table of the server's snapshot into the backup's open transaction, part by
// part through a cursor, so that a large book is never held in memory whole.
bool backUpTable(Database &server, Database &file, const CopiedTable &table, Snapshot *snapshot,
                 QString *error)
{
    const QString columns = table.columns.join(u", "_s);
    QSet<QString> missing;
    if (table.name == u"tb_history"_s) {
        if (firstNumber(server, server.dialect().columnExistsStatement(u"tb_history"_s, u"desk"_s))
            == 0)
            missing.insert(u"tb_history.desk"_s);
    }
    if (!server.executeStatements(u"declare backup_rows no scroll cursor for select %1 from %2 "
                                  u"order by %3"_s.arg(selectList(table, missing), table.name,
                                                       backupOrder(table)))) {
        *error = u"读取共享账本的表 %1 失败：%2"_s.arg(table.name, server.lastError().detail());
        return false;
    }
    const int totalColumn = int(table.columns.indexOf(BookContents::amountColumn));
    const bool receipts = table.name == u"tb_receipt"_s;
    qint64 &count = snapshot->rows[table.name];
    for (;;) {
        std::unique_ptr<ResultSet> rows
            = server.executeQuery(u"fetch forward %1 from backup_rows"_s.arg(rowsPerInsert));
        QStringList tuples;
        while (rows && rows->next()) {
            QStringList values;
            for (int column = 0; column < rows->columnCount(); ++column) {
                const QString &name = table.columns.at(column);
                values.append(literal(rows->stringForColumnIndex(column),
                                      name == u"rowid"_s
                                          || (name == u"id"_s && table.name == u"tb_history"_s)));
            }
            tuples.append(u'(' + values.join(u", "_s) + u')');
            if (receipts)
                snapshot->amounts.add(rows->bytesForColumnIndex(totalColumn).value_or(""));
        }
        if (!rows || rows->hasError()) {
            *error = u"读取共享账本的表 %1 失败：%2"_s.arg(
                table.name, rows ? rows->error().detail() : server.lastError().detail());
            return false;
        }
        if (tuples.isEmpty())
            break;
        count += tuples.size();
        if (!file.executeStatements(u"insert into %1 (%2) values %3"_s.arg(table.name, columns,
                                                                           tuples.join(u", "_s)))) {
            *error = u"写入备份文件的表 %1 失败：%2"_s.arg(table.name, file.lastError().detail());
            return false;
        }
    }
    server.executeStatements(u"close backup_rows"_s);
    return true;
}

// The backup file read back: as many rows in each table as the server's snapshot holds,
// and the same amounts as were read. False with the reason.
bool verifyBackup(Database &server, const QString &path, const Snapshot &snapshot,
                  QString *error)
{
    Database file(path, Database::OpenMode::ExistingFileOnly);
    file.setOpenReadOnly(true);
    file.setLogsErrors(false);
    if (!file.open()) {
        *error = u"无法读回备份文件：%1"_s.arg(file.lastError().detail());
        return false;
    }
    for (const CopiedTable &table : copiedTables()) {
        const QString sql = u"select count(*) from %1"_s.arg(table.name);
        std::unique_ptr<ResultSet> counted = file.executeQuery(sql);
        const qint64 count = counted && counted->next() ? counted->int64ForColumnIndex(0) : -1;
        const qint64 expected = firstNumber(server, sql).value_or(-2);
        if (count != expected || count != snapshot.rows.value(table.name)) {
            *error
                = u"备份文件的表 %1 的行数不符（共享账本 %2 行，备份文件 %3 行）"_s.arg(table.name)
                      .arg(expected)
                      .arg(count);
            return false;
        }
    }
    BookContents::Amounts written;
    QString unread;
    if (!BookContents::addUp(file, &written, &unread) || written != snapshot.amounts) {
        *error = u"备份文件的金额合计不符（共享账本 %1，备份文件 %2）"_s.arg(
            snapshot.amounts.text(), written.text());
        return false;
    }
    return true;
}

// Writes the server's snapshot into `path`, a copy of the template: the template's rows
// give way to the book's, and the search index is left empty, to be filled as an older
// book's is.
bool writeBackup(Database &server, const QString &path, Snapshot *snapshot, QString *error)
{
    QFile::remove(path);
    QFile templateFile(SQLiteHelper::templatePath());
    if (!templateFile.exists()) {
        *error = u"找不到数据库模板：%1"_s.arg(SQLiteHelper::templatePath());
        return false;
    }
    if (!templateFile.copy(path)) {
        // The template is there: the backup's folder is what failed (full, read-only, gone).
        const QStorageInfo disk(QFileInfo(path).absolutePath());
        const QString reason = disk.isValid() && disk.bytesAvailable() < templateFile.size() * 2
            ? u"磁盘已满"_s
            : disk.isValid() && disk.isReadOnly() ? u"文件夹只能读取"_s
                                                  : templateFile.errorString();
        QFile::remove(path);
        *error = u"无法写入备份文件 %1：%2"_s.arg(path, reason);
        return false;
    }
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
    Database file(path, Database::OpenMode::ExistingFileOnly);
    file.setLogsErrors(false);
    QStringList emptied;
    for (const CopiedTable &table : copiedTables())
        emptied.append(u"delete from %1"_s.arg(table.name));
    emptied.append(u"update tb_searchIndex set filledTo = 0"_s);
    if (!file.open() || !file.executeStatements(u"begin"_s)
        || !file.executeStatements(emptied.join(u";\n"_s))) {
        *error = u"无法写入备份文件：%1"_s.arg(file.lastError().detail());
        return false;
    }
    for (const CopiedTable &table : copiedTables()) {
        if (!backUpTable(server, file, table, snapshot, error)) {
            file.executeStatements(u"rollback"_s);
            return false;
        }
    }
    if (!file.executeStatements(u"commit"_s)) {
        *error = u"无法写入备份文件：%1"_s.arg(file.lastError().detail());
        return false;
    }
    file.close();
    if (!ReceiptSearchIndex::fill(path)) {
        *error = u"无法建立备份文件的搜索索引"_s;
        return false;
    }
    return verifyBackup(server, path, *snapshot, error);
}

// Connects to the shared book at `uri` as a desk does (holding the desks' lock shared);
// false with the reason.
bool connectTo(Database &shared, QString *error,
               Database::DeskLock deskLock = Database::DeskLock::Required)
{
    shared.setLogsErrors(false);
    shared.setDeskLock(deskLock);
    if (!Database::isServerBook(shared.databasePath())) {
        *error = u"共享账本的地址应以 postgresql:// 开头：%1"_s.arg(shared.databasePath());
        return false;
    }
    // A backup, a check or a restore works between its statements (writing or reading a
    // file) longer than a desk ever sits inside a transaction.
    if (!shared.open()) {
        *error = u"无法连接共享账本：%1"_s.arg(shared.lastError().detail());
        return false;
    }
    if (shared.executeStatements(u"set idle_in_transaction_session_timeout = 0"_s))
        return true;
    *error = u"无法连接共享账本：%1"_s.arg(shared.lastError().detail());
    return false;
}

// The schema version the shared book records; nothing when it cannot be read.
std::optional<qint64> schemaVersion(Database &server)
{
    return firstNumber(server, u"select max(version) from tb_schema"_s);
}

// --- the checks of a shared book -----------------------------------------------

// The template's tables and their columns, in lower case, as PostgreSQL names them;
// SQLite's own (the search index) left out.
std::optional<QList<std::pair<QString, QStringList>>> templateTables()
{
    Database book(SQLiteHelper::templatePath(), Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    if (!book.open())
        return std::nullopt;
    std::unique_ptr<ResultSet> rows = book.executeQuery(
        u"select name from sqlite_schema where type = 'table' and name not like 'sqlite\\_%' "
        u"escape '\\' and name not like 'fts\\_%' escape '\\' and name <> 'tb_searchIndex' "
        u"order by name"_s);
    QStringList names;
    while (rows && rows->next())
        names.append(rows->stringForColumnIndex(0).value_or(QString()));
    rows.reset();
    if (names.isEmpty())
        return std::nullopt;
    QList<std::pair<QString, QStringList>> tables;
    for (const QString &name : std::as_const(names)) {
        QStringList columns;
        std::unique_ptr<ResultSet> columnRows
            = book.executeQuery(u"select name from pragma_table_info(?)"_s, {name});
        while (columnRows && columnRows->next())
            columns.append(columnRows->stringForColumnIndex(0).value_or(QString()).toLower());
        tables.append({name.toLower(), columns});
    }
    return tables;
}

// What is wrong with the shared book's tables and rules, each finding one line; nothing
// when it could not be read (then `error` says why).
std::optional<QStringList> findingsOf(Database &server, QString *error)
{
    const auto failed = [&server, error](const QString &what) {
        *error = u"%1失败：%2"_s.arg(what, server.lastError().detail());
        return std::optional<QStringList>();
    };
    const std::optional<QList<std::pair<QString, QStringList>>> expected = templateTables();
    if (!expected) {
        *error = u"找不到数据库模板：%1"_s.arg(SQLiteHelper::templatePath());
        return std::nullopt;
    }
    std::unique_ptr<ResultSet> columnRows
        = server.executeQuery(u"select table_name, column_name from information_schema.columns "
                              u"where table_schema = current_schema()"_s);
    QHash<QString, QSet<QString>> present;
    while (columnRows && columnRows->next())
        present[columnRows->stringForColumnIndex(0).value_or(QString())].insert(
            columnRows->stringForColumnIndex(1).value_or(QString()));
    if (!columnRows || columnRows->hasError())
        return failed(u"读取共享账本的表结构"_s);

    QStringList findings;
    for (const auto &[table, columns] : *expected) {
        if (!present.contains(table)) {
            findings.append(u"缺少表 %1"_s.arg(table));
            continue;
        }
        for (const QString &column : columns) {
            if (!present.value(table).contains(column))
                findings.append(u"表 %1 缺少列 %2"_s.arg(table, column));
        }
    }
    if (!present.contains(u"tb_schema"_s)) {
        findings.append(u"缺少表 tb_schema"_s);
    } else {
        const std::optional<qint64> version = schemaVersion(server);
        if (version != SchemaUpgrade::currentServerVersion)
            findings.append(u"数据版本是 %1，本程序的是 %2"_s.arg(
                version ? QString::number(*version) : u"空"_s,
                QString::number(SchemaUpgrade::currentServerVersion)));
    }
    // The rules below read the receipts and the history.
    if (!present.value(u"tb_receipt"_s).contains(u"receiptno"_s)
        || !present.value(u"tb_history"_s).contains(u"receiptid"_s))
        return findings;

    std::unique_ptr<ResultSet> unique = server.executeQuery(
        u"select count(*) from pg_index where indexrelid = to_regclass('idx_receipt_receiptno') "
        u"and indisunique"_s);
    if (!unique || !unique->next())
        return failed(u"读取单号的索引"_s);
    if (unique->int64ForColumnIndex(0) == 0)
        findings.append(u"单号没有唯一索引 idx_receipt_receiptNo，同一个单号可能开出两次"_s);
    unique.reset();
    // One number in two paddings too ("5" beside "0000005"), which the index lets by.
    std::unique_ptr<ResultSet> repeated
        = server.executeQuery(ReceiptBook::repeatedNumbersStatement(server.dialect()));
    while (repeated && repeated->next())
        findings.append(ReceiptBook::repeatedNumberFinding(
            repeated->stringForColumnIndex(0).value_or(QString()), repeated->int64ForColumnIndex(1),
            repeated->int64ForColumnIndex(2), repeated->stringForColumnIndex(3).value_or(QString())));
    if (!repeated || repeated->hasError())
        return failed(u"读取单号"_s);
    repeated.reset();

    // Every receipt was recorded when it was issued or imported. A receipt made before the
    // book's first history row (a book from a version that kept no history, copied or
    // restored as it was) has none, and needs none.
    const std::optional<QString> unrecorded = BookContents::unrecordedReceipts(server);
    if (!unrecorded)
        return failed(u"读取收据的历史记录"_s);
    if (!unrecorded->isEmpty())
        findings.append(*unrecorded);
    return findings;
}

// --- restoring into a shared book ----------------------------------------------

} // namespace

const QStringList &SharedBook::tableNames()
{
    static const QStringList names = [] {
        QStringList names;
        for (const CopiedTable &table : copiedTables())
            names.append(table.name);
        names.append(u"tb_schema"_s);
        return names;
    }();
    return names;
}

std::optional<qint64> SharedBook::create(const QString &uri, const QString &fromFile,
                                         const QString &deskRole, QString *error)
{
    if (!isConnectionUri(uri)) {
        *error = u"共享账本的地址应以 postgresql:// 开头，例如 "
                 u"postgresql://user@host:5432/quenta：%1"_s.arg(uri);
        return std::nullopt;
    }
    // Without a book to copy, the template's first rows: the numbering, the header and the
    // payment types a new book starts with.
    const QString source = fromFile.isEmpty() ? SQLiteHelper::templatePath() : fromFile;
    if (!QFileInfo(source).isFile()) {
        *error = u"找不到账本文件：%1"_s.arg(source);
        return std::nullopt;
    }
    Database book(source, Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    const std::optional<QSet<QString>> bookTables
        = book.open() ? tablesOf(book) : std::optional<QSet<QString>>();
    if (!bookTables) {
        *error = u"无法读取账本文件 %1：%2"_s.arg(source, book.lastError().detail());
        return std::nullopt;
    }
    const int bookVersion = SchemaUpgrade::version(book);
    if (bookVersion > SchemaUpgrade::currentVersion) {
        *error = u"账本文件 %1 来自更新版本的 Quenta，这个版本无法完整复制它"_s.arg(source);
        return std::nullopt;
    }

    Database server(uri, Database::OpenMode::ExistingFileOnly);
    server.setLogsErrors(false);
    server.setDeskLock(Database::DeskLock::WhenFree);
    // A copy of a large book sends big statements the server may work on for a while, and
    // reads the file between them.
    server.setAnswerTimeout(longWorkSeconds);
    if (!server.open()
        || !server.executeStatements(u"set idle_in_transaction_session_timeout = 0"_s)) {
        *error = u"无法连接共享账本的数据库：%1"_s.arg(server.lastError().detail());
        return std::nullopt;
    }
    if (!deskRole.isEmpty()) {
        const std::optional<qint64> roles = firstNumber(
            server, u"select count(*) from pg_roles where rolname = $1"_s, {deskRole});
        if (!roles) {
            *error = u"读取数据库的角色失败：%1"_s.arg(server.lastError().detail());
            return std::nullopt;
        }
        if (*roles == 0) {
            *error = u"数据库服务器上没有角色 %1：请先建立它（CREATE ROLE），没有做任何改动"_s.arg(
                deskRole);
            return std::nullopt;
        }
    }

    // The SQLite book is read in one read transaction, so that a window saving meanwhile
    // never gives a copy half of its receipt.
    if (!book.executeStatements(u"begin"_s)) {
        *error = u"无法读取账本文件 %1：%2"_s.arg(source, book.lastError().detail());
        return std::nullopt;
    }
    Transaction transaction(server);
    if (!transaction.begin()) {
        *error = u"无法开始共享账本的事务：%1"_s.arg(transaction.error().detail());
        return std::nullopt;
    }
    const std::optional<QStringList> existing = tablesAlreadyThere(server);
    if (!existing) {
        *error = u"读取数据库的表失败：%1"_s.arg(server.lastError().detail());
        return std::nullopt;
    }
    if (!existing->isEmpty()) {
        *error
            = u"这个数据库中已有收据账本（表 %1），没有做任何改动"_s.arg(existing->join(u"、"_s));
        return std::nullopt;
    }
    qint64 receipts = 0;
    if (!createInTransaction(book, *bookTables, bookVersion, server, deskRole, &receipts, error)) {
        transaction.rollback();
        *error += u"。已撤销，数据库没有改动"_s;
        return std::nullopt;
    }
    if (!transaction.commit()) {
        *error = u"提交共享账本失败：%1。数据库没有改动"_s.arg(transaction.error().detail());
        return std::nullopt;
    }
    book.executeStatements(u"rollback"_s);
    // The server plans the lists' reads by what it knows of the tables: told now, not when
    // its own analysis comes round, so the first desks read along the indexes. Only a help:
    // a failure leaves the book as it is.
    server.executeStatements(u"analyze"_s);
    return receipts;
}

bool SharedBook::backup(const QString &uri, const QString &target, QString *error)
{
    if (target.isEmpty()) {
        *error = u"没有指定备份文件"_s;
        return false;
    }
    Database shared(uri, Database::OpenMode::ExistingFileOnly);
    if (!connectTo(shared, error, Database::DeskLock::WhenFree))
        return false;
    // One snapshot for every table: a receipt saved meanwhile is in the backup whole, with
    // its history, or not at all.
    Transaction transaction(shared);
    if (!transaction.begin(Transaction::Reads::OneSnapshot)) {
        *error = u"无法开始共享账本的事务：%1"_s.arg(transaction.error().detail());
        return false;
    }
    const std::optional<qint64> version = schemaVersion(shared);
    if (version != SchemaUpgrade::currentServerVersion) {
        *error = u"共享账本的数据版本（%1）与本程序的（%2）不同，没有备份"_s.arg(
            version ? QString::number(*version) : u"无法读取"_s,
            QString::number(SchemaUpgrade::currentServerVersion));
        return false;
    }
    Snapshot snapshot;
    const bool written = OutputFile::writeReplacing(
        target,
        [&](const QString &partial, QString *reason) {
            if (writeBackup(shared, partial, &snapshot, reason))
                return true;
            QFile::remove(partial + u"-journal"_s);
            return false;
        },
        error);
    transaction.rollback();
    return written;
}

std::optional<QStringList> SharedBook::check(const QString &uri, QString *error)
{
    Database shared(uri, Database::OpenMode::ExistingFileOnly);
    if (!connectTo(shared, error, Database::DeskLock::WhenFree))
        return std::nullopt;
    Transaction transaction(shared);
    if (!transaction.begin(Transaction::Reads::OneSnapshot)) {
        *error = u"无法开始共享账本的事务：%1"_s.arg(transaction.error().detail());
        return std::nullopt;
    }
    return findingsOf(shared, error);
}

bool SharedBook::restore(const QString &uri, const QString &file, QString *error,
                         bool *desksConnected)
{
    if (!BackupService::checkBook(file, nullptr, error) || !BookProof::proveFile(file, error))
        return false;
    Database book(file, Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    const std::optional<QSet<QString>> bookTables
        = book.open() ? tablesOf(book) : std::optional<QSet<QString>>();
    if (!bookTables || !book.executeStatements(u"begin"_s)) {
        *error = u"无法读取账本文件 %1：%2"_s.arg(file, book.lastError().detail());
        return false;
    }
    const int bookVersion = SchemaUpgrade::version(book);

    Database server(uri, Database::OpenMode::ExistingFileOnly);
    server.setAnswerTimeout(longWorkSeconds);
    if (!connectTo(server, error))
        return false;
    // This connection holds the desks' lock shared, as every desk does: exclusively it is
    // had only while no other desk is connected, and a desk that connects meanwhile waits
    // until this connection ends.
    const std::optional<QString> locked = firstText(
        server, u"select pg_try_advisory_lock(%1)::text"_s.arg(Database::deskLockKey));
    if (!locked) {
        *error = u"无法锁定共享账本：%1"_s.arg(server.lastError().detail());
        return false;
    }
    if (*locked != u"true"_s) {
        *error = u"还有收款台连接着共享账本，没有恢复：请先关闭所有收款台上的 Quenta，再恢复"_s;
        if (desksConnected)
            *desksConnected = true;
        return false;
    }

    Transaction transaction(server);
    if (!transaction.begin()) {
        *error = u"无法开始共享账本的事务：%1"_s.arg(transaction.error().detail());
        return false;
    }
    const std::optional<QStringList> existing = tablesAlreadyThere(server);
    if (!existing) {
        *error = u"读取数据库的表失败：%1"_s.arg(server.lastError().detail());
        return false;
    }
    if (existing->size() != tableNames().size()) {
        *error = u"这个数据库中没有完整的共享账本，没有恢复：请先用 --create-shared-book 建立它"_s;
        return false;
    }
    // Closed days stay closed: a backup from before a closing would open them again.
    const std::optional<QString> closed = BookContents::closedThrough(server);
    const std::optional<QString> backupClosed = BookContents::closedThrough(book);
    if (!closed || !backupClosed) {
        *error = u"读取日结失败：%1"_s.arg(
            (closed ? book : server).lastError().message());
        return false;
    }
    if (const QString reopened = BookContents::reopenedDays(*closed, *backupClosed);
        !reopened.isEmpty()) {
        *error = reopened;
        return false;
    }
    const BookContents::Issued replaced = BookContents::issuedBy(server);
    // Emptied whole: the closed days' rule refuses deleting their receipts row by row,
    // and the backup brings them back with its own closings, copied last.
    QStringList tables;
    for (const CopiedTable &table : copiedTables())
        tables.append(table.name);
    QStringList emptied;
    emptied.append(u"truncate %1"_s.arg(tables.join(u", "_s)));
    // The chain starts again with the backup's rows, linked as they are copied.
    emptied.append(u"delete from tb_chain"_s);
    emptied.append(u"update tb_chainHead set rows = 0, head = ''"_s);
    qint64 receipts = 0;
    if (!server.executeStatements(emptied.join(u";\n"_s))) {
        *error = u"清空共享账本失败：%1。已撤销，共享账本没有改动"_s.arg(server.lastError().detail());
        return false;
    }
    bool restored = copyInto(book, *bookTables, bookVersion, server, &receipts, error);
    if (restored && !BookContents::recordRestore(server, file, replaced)) {
        *error = u"记录恢复失败：%1"_s.arg(server.lastError().detail());
        restored = false;
    }
    if (!restored) {
        transaction.rollback();
        *error += u"。已撤销，共享账本没有改动"_s;
        return false;
    }
    if (!transaction.commit()) {
        *error = u"提交共享账本失败：%1。共享账本没有改动"_s.arg(transaction.error().detail());
        return false;
    }
    book.executeStatements(u"rollback"_s);
    server.executeStatements(u"analyze"_s);
    return true;
}
