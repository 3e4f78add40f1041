// SPDX-License-Identifier: GPL-3.0-or-later
#include "sharedbook.h"

#include "database.h"
#include "money.h"
#include "pgconnection.h"
#include "pgtemplate.h"
#include "schemaupgrade.h"
#include "sqlitehelper.h"
#include "storedamount.h"

#include <QFileInfo>
#include <QSet>

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
         {u"id"_s, u"time"_s, u"action"_s, u"receiptId"_s, u"receiptNo"_s, u"detail"_s},
         u"select, insert"_s},
    };
    return tables;
}

// A statement carries at most 65,535 parameters; a part of some thousands keeps each
// statement short while a large book still goes in few round trips.
constexpr int parametersPerInsert = 8000;
constexpr int rowsPerInsert = 500;

// The receipts' amounts as the lists and totals add them: whole fen of each amount the
// program reads, and how many it cannot read.
struct AmountSum
{
    // Wraps rather than overflows on absurd amounts: both sides wrap alike.
    quint64 fen = 0;
    qint64 unreadable = 0;

    void add(QByteArrayView text)
    {
        const std::optional<double> yuan = readStoredAmount(text);
        const std::optional<qint64> fen = yuan ? Money::fenFromYuan(*yuan) : std::nullopt;
        if (fen)
            this->fen += quint64(*fen);
        else
            ++unreadable;
    }
    bool operator==(const AmountSum &) const = default;
    QString text() const
    {
        QString result = Money::format(qint64(fen));
        if (unreadable > 0)
            result += u"，另有 %1 张金额无法识别"_s.arg(unreadable);
        return result;
    }
};

// One copy: the SQLite book read in one read transaction, written into the server's
// transaction.
class Copy
{
public:
    Copy(Database &book, PgConnection &server)
        : m_book(book)
        , m_server(server)
    { }

    bool copyTable(const CopiedTable &table, bool present, QString *error);
    bool verify(const CopiedTable &table, QString *error);
    qint64 receipts() const { return m_rows.value(u"tb_receipt"_s); }

private:
    bool insert(const CopiedTable &table, const PgParameters &values, int rows, QString *error);

    Database &m_book;
    PgConnection &m_server;
    QHash<QString, qint64> m_rows;
    AmountSum m_amounts;
};

bool Copy::copyTable(const CopiedTable &table, bool present, QString *error)
{
    m_rows[table.name] = 0;
    if (!present)
        return true;
    // In the order the rows were written, so that the server's tables read back alike.
    const QString order = table.name == u"tb_history"_s ? u"id"_s : u"rowid"_s;
    std::unique_ptr<ResultSet> rows = m_book.executeQuery(
        u"select %1 from %2 order by %3"_s.arg(table.columns.join(u", "_s), table.name, order));
    if (!rows) {
        *error = u"读取本机账本的表 %1 失败：%2"_s.arg(table.name, m_book.lastErrorMessage());
        return false;
    }
    const int columns = int(table.columns.size());
    const int batch = std::min(rowsPerInsert, parametersPerInsert / columns);
    PgParameters values;
    int pending = 0;
    const bool receipts = table.name == u"tb_receipt"_s;
    const int totalColumn = int(table.columns.indexOf(u"total"_s));
    while (rows->next()) {
        for (int column = 0; column < columns; ++column)
            values.append(rows->stringForColumnIndex(column));
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
        *error = u"读取本机账本的表 %1 失败：%2"_s.arg(table.name, rows->errorMessage());
        return false;
    }
    return pending == 0 || insert(table, values, pending, error);
}

bool Copy::insert(const CopiedTable &table, const PgParameters &values, int rows, QString *error)
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
    if (m_server.executeUpdate(sql, values))
        return true;
    const PgError failed = m_server.lastError();
    // SQLite keeps a book whose numbers repeat (under a plain index); a shared book cannot.
    const QString reason = failed.sqlState == PgState::uniqueViolation
        ? u"本机账本中有重复的单号或编号，"_s
        : QString();
    *error = u"复制表 %1 失败：%2%3"_s.arg(table.name, reason, failed.message.trimmed());
    return false;
}

bool Copy::verify(const CopiedTable &table, QString *error)
{
    const std::optional<PgResult> counted
        = m_server.executeQuery(u"select count(*) from %1"_s.arg(table.name));
    const std::optional<qint64> count = counted ? counted->int64(0, 0) : std::nullopt;
    if (!count) {
        *error
            = u"复制后清点表 %1 失败：%2"_s.arg(table.name, m_server.lastError().message.trimmed());
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
    const std::optional<PgResult> totals = m_server.executeQuery(u"select total from tb_receipt"_s);
    if (!totals) {
        *error = u"复制后清点表 tb_receipt 的金额失败：%1"_s.arg(
            m_server.lastError().message.trimmed());
        return false;
    }
    AmountSum copied;
    for (int row = 0; row < totals->rowCount(); ++row)
        copied.add(totals->bytes(row, 0).value_or(""));
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
std::optional<QStringList> tablesAlreadyThere(PgConnection &server)
{
    QStringList found;
    for (const QString &name : SharedBook::tableNames()) {
        const std::optional<PgResult> result
            = server.executeQuery(u"select to_regclass($1) is not null"_s, {name});
        if (!result)
            return std::nullopt;
        if (result->text(0, 0) == u"t"_s)
            found.append(name);
    }
    return found;
}

bool grantDesk(PgConnection &server, const QString &role, QString *error)
{
    const QString grantee = PgConnection::quoteIdentifier(role);
    QStringList statements;
    for (const CopiedTable &table : copiedTables())
        statements.append(u"grant %1 on %2 to %3"_s.arg(table.deskPrivileges, table.name, grantee));
    statements.append(u"grant select on tb_schema to %1"_s.arg(grantee));
    // A history row a desk adds takes its id from the identity's sequence. The server
    // gives the sequence's name quoted as an identifier already.
    const std::optional<PgResult> sequence
        = server.executeQuery(u"select pg_get_serial_sequence('tb_history', 'id')"_s);
    const std::optional<QString> sequenceName = sequence ? sequence->text(0, 0) : std::nullopt;
    if (!sequenceName) {
        *error = u"找不到表 tb_history 的序号：%1"_s.arg(server.lastError().message.trimmed());
        return false;
    }
    statements.append(u"grant usage on sequence %1 to %2"_s.arg(*sequenceName, grantee));
    if (server.executeStatements(statements.join(u";\n"_s)))
        return true;
    *error = u"给角色 %1 授权失败：%2"_s.arg(role, server.lastError().message.trimmed());
    return false;
}

// The copy inside the server's transaction; false with the reason, the transaction then
// rolled back by its guard.
bool createInTransaction(Database &book, const QSet<QString> &bookTables, int bookVersion,
                         PgConnection &server, const QString &deskRole, qint64 *receipts,
                         QString *error)
{
    if (!server.executeStatements(QString::fromUtf8(pgTemplateSql))) {
        *error = u"建立共享账本的表失败：%1"_s.arg(server.lastError().message.trimmed());
        return false;
    }
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
    if (!server.executeStatements(u"select setval(pg_get_serial_sequence('tb_history', 'id'), "
                                  u"coalesce(max(id), 0) + 1, false) from tb_history;\n"
                                  u"select setval(pg_get_serial_sequence('tb_receipt', 'rowid'), "
                                  u"coalesce(max(rowid), 0) + 1, false) from tb_receipt"_s)) {
        *error = u"设置表 tb_history 的序号失败：%1"_s.arg(server.lastError().message.trimmed());
        return false;
    }
    for (const CopiedTable &table : copiedTables()) {
        if (!copy.verify(table, error))
            return false;
    }
    if (!deskRole.isEmpty() && !grantDesk(server, deskRole, error))
        return false;
    *receipts = copy.receipts();
    return true;
}

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
        *error = u"无法读取账本文件 %1：%2"_s.arg(source, book.lastErrorMessage());
        return std::nullopt;
    }
    const int bookVersion = SchemaUpgrade::version(book);
    if (bookVersion > SchemaUpgrade::currentVersion) {
        *error = u"账本文件 %1 来自更新版本的 Quenta，这个版本无法完整复制它"_s.arg(source);
        return std::nullopt;
    }

    PgConnection server(uri);
    if (!server.open()) {
        *error = u"无法连接共享账本的数据库：%1"_s.arg(server.lastError().message.trimmed());
        return std::nullopt;
    }
    if (!deskRole.isEmpty()) {
        const std::optional<PgResult> role
            = server.executeQuery(u"select 1 from pg_roles where rolname = $1"_s, {deskRole});
        if (!role) {
            *error = u"读取数据库的角色失败：%1"_s.arg(server.lastError().message.trimmed());
            return std::nullopt;
        }
        if (role->rowCount() == 0) {
            *error = u"数据库服务器上没有角色 %1：请先建立它（CREATE ROLE），没有做任何改动"_s.arg(
                deskRole);
            return std::nullopt;
        }
    }

    // The SQLite book is read in one read transaction, so that a window saving meanwhile
    // never gives a copy half of its receipt.
    if (!book.executeStatements(u"begin"_s)) {
        *error = u"无法读取账本文件 %1：%2"_s.arg(source, book.lastErrorMessage());
        return std::nullopt;
    }
    PgTransaction transaction(server);
    if (!transaction.begin()) {
        *error = u"无法开始共享账本的事务：%1"_s.arg(server.lastError().message.trimmed());
        return std::nullopt;
    }
    const std::optional<QStringList> existing = tablesAlreadyThere(server);
    if (!existing) {
        *error = u"读取数据库的表失败：%1"_s.arg(server.lastError().message.trimmed());
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
        *error
            = u"提交共享账本失败：%1。数据库没有改动"_s.arg(server.lastError().message.trimmed());
        return std::nullopt;
    }
    book.executeStatements(u"rollback"_s);
    return receipts;
}
