// SPDX-License-Identifier: GPL-3.0-or-later
// A book shared by several desks on a PostgreSQL server.
#include "database.h"
#include "databaseerror.h"
#include "engine.h"
#include "pgconnection.h"
#include "sqlliteral.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace {

QString &passwordForThisRun()
{
    static QString password;
    return password;
}

// libpq's words for a lost connection, told in Chinese where they say what happened; the
// first line of any other.
QString reasonOfLostConnection(const QString &message)
{
    const QString first = message.trimmed().section(u'\n', 0, 0).trimmed();
    if (first.contains(u"server closed the connection"_s) || first.contains(u"no connection to the server"_s)
        || first.contains(u"terminating connection"_s))
        return u"服务器断开了连接"_s;
    if (first.contains(u"Connection refused"_s) || first.contains(u"No such file or directory"_s)
        || first.contains(u"the database system is"_s))
        return u"服务器没有运行"_s;
    if (first.contains(u"timeout"_s, Qt::CaseInsensitive))
        return u"服务器没有应答"_s;
    if (first.contains(u"could not translate host name"_s))
        return u"找不到服务器"_s;
    if (first.contains(u"password authentication failed"_s) || first.contains(u"no password supplied"_s))
        return u"密码不对或没有密码"_s;
    return first;
}

} // namespace

DatabaseError serverError(const PgError &error)
{
    using Kind = DatabaseError::Kind;
    if (error.isEmpty())
        return {};
    const QString &state = error.sqlState;
    const QString code = u"SQLSTATE "_s + state;
    if (error.connectionLost || state.startsWith(u"08"_s) || state.startsWith(u"57P"_s))
        return {Kind::ConnectionLost, error.message, code, {},
                u"共享账本连接中断：%1"_s.arg(reasonOfLostConnection(error.message))};
    if (state == PgState::unsafeSession)
        return {Kind::Other, error.message, code};
    // The name a missing column or table is given in quotes.
    const qsizetype open = error.message.indexOf(u'"');
    const qsizetype close = open >= 0 ? error.message.indexOf(u'"', open + 1) : -1;
    const QString name = close > open ? error.message.mid(open + 1, close - open - 1) : QString();
    Kind kind = Kind::Other;
    if (state == u"QC001"_s) // the closed days' trigger (template-pg.sql)
        kind = Kind::DayClosed;
    else if (state == u"QC002"_s) // the paper books' trigger
        kind = Kind::OutsidePaperBooks;
    else if (state == u"QC003"_s) // the paper books' final rows
        kind = Kind::PaperBookFinal;
    else if (state.startsWith(u"23"_s))
        kind = Kind::Conflict;
    else if (state == PgState::lockNotAvailable) // a row held past the session's lock timeout
        kind = Kind::RowHeldTooLong;
    else if (error.isRetryable())
        kind = Kind::HeldElsewhere;
    else if (state == u"25006"_s) // read-only transaction
        kind = Kind::ReadOnly;
    else if (state == PgState::insufficientPrivilege)
        kind = Kind::NoRight;
    else if (state == u"53100"_s)
        kind = Kind::DiskFull;
    else if (state == u"42703"_s && !name.isEmpty())
        kind = Kind::MissingColumn;
    else if (state == u"42P01"_s && !name.isEmpty())
        kind = Kind::MissingTable;
    else if (state == u"42883"_s)
        kind = Kind::MissingRoutine;
    return {kind, error.message.trimmed(), code, name};
}

namespace {

// The rows a server sent for one statement, all held already.
class ServerRows final : public EngineRows
{
public:
    explicit ServerRows(PgResult rows)
        : m_rows(std::move(rows))
    { }

    bool next(DatabaseError &) override
    {
        if (m_row + 1 < m_rows.rowCount()) {
            ++m_row;
            return true;
        }
        m_row = m_rows.rowCount();
        return false;
    }
    bool closesAtEnd() const override { return false; }
    int columnCount() const override { return m_rows.columnCount(); }
    int columnIndex(const QString &lowerName) override { return m_rows.columnIndex(lowerName); }
    std::optional<QByteArrayView> bytes(int column) const override
    {
        return m_rows.bytes(m_row, column);
    }
    qint64 int64Value(int column) const override
    {
        // As SQLite reads a text as a number: its leading number, else 0.
        const std::optional<QByteArrayView> bytes = m_rows.bytes(m_row, column);
        if (!bytes)
            return 0;
        const QByteArray text = QByteArray(bytes->data(), bytes->size()).trimmed();
        bool whole = false;
        const qint64 value = text.toLongLong(&whole);
        if (whole)
            return value;
        const double number = text.toDouble();
        return number >= 9.2e18 ? std::numeric_limits<qint64>::max()
            : number <= -9.2e18 ? std::numeric_limits<qint64>::min()
                                : qint64(number);
    }
    double doubleValue(int column) const override
    {
        const std::optional<QByteArrayView> bytes = m_rows.bytes(m_row, column);
        return bytes ? QByteArray(bytes->data(), bytes->size()).trimmed().toDouble() : 0.0;
    }

private:
    PgResult m_rows;
    int m_row = -1;
};

class ServerDialect final : public SqlDialect
{
public:
    bool survivesFailedStatement() const override { return true; }

    // A server takes its locks row by row as the transaction goes (a numbering row is
    // locked with SELECT … FOR UPDATE): only a file is locked as a whole at the start.
    QString beginStatement() const override { return u"BEGIN"_s; }
    QString snapshotBeginStatement() const override
    {
        return u"BEGIN ISOLATION LEVEL REPEATABLE READ"_s;
    }
    // Names as they are written in statements: the server keeps them in lower case.
    QString tableCountStatement(const QStringList &names) const override
    {
        QStringList lower;
        for (const QString &name : names)
            lower.append(name.toLower());
        return u"select count(*) from pg_tables where schemaname = current_schema() "
               u"and tablename in ("_s
            + sqlQuoteList(lower) + u")"_s;
    }
    QString indexCountStatement(const QString &name) const override
    {
        return u"select count(*) from pg_indexes where schemaname = current_schema() "
               u"and indexname = "_s
            + sqlQuote(name.toLower());
    }
    QString columnsStatement(const QString &table) const override
    {
        return u"select ordinal_position, column_name from information_schema.columns "
               u"where table_schema = current_schema() and table_name = %1 "
               u"order by ordinal_position"_s.arg(sqlQuote(table.toLower()));
    }
    // Every program's writes move one sequence.
    QString dataVersionStatement() const override
    {
        return u"select last_value from tb_changes"_s;
    }
    bool dataVersionCountsOwnCommits() const override { return true; }
    // A server keeps its own files whole; there is no file here to check.
    QString integrityCheckStatement() const override { return {}; }
    QString rowLockClause() const override { return u" for update"_s; }
    QString isDistinctFrom() const override { return u"is distinct from"_s; }
    QString subqueryAlias(const QString &name) const override { return u" as "_s + name; }

    bool livesInAFile() const override { return false; }
    QString tableExistsStatement(const QString &table) const override
    {
        return u"select count(*) from pg_tables where schemaname = current_schema() "
               u"and tablename = lower('%1')"_s.arg(table);
    }
    QString columnExistsStatement(const QString &table, const QString &column) const override
    {
        return u"select count(*) from information_schema.columns where table_schema = "
               u"current_schema() and table_name = lower('%1') and column_name = lower('%2')"_s
            .arg(table, column);
    }
    bool keepsColumnTypes() const override { return true; }
    bool runsProcedures() const override { return true; }
    bool isRemote() const override { return true; }
    bool keepsSearchIndex() const override { return false; }
    QString indexHint(const QString &) const override { return {}; }
    QString noLimit() const override { return u"all"_s; }
    bool keepsNulInText() const override { return false; }
    bool takesEmptyLists() const override { return false; }
    bool stepsRowsLazily() const override { return false; }
    QString changeNoticeStatement(const QString &channel, const QString &payload) const override
    {
        return u"select pg_notify(%1, %2)"_s.arg(sqlQuote(channel), sqlQuote(payload));
    }
    QString inDialect(const QString &, const QString &serverText) const override
    {
        return serverText;
    }
};

class ServerEngine final : public EngineConnection
{
public:
    explicit ServerEngine(const ConnectionSettings &settings)
        : EngineConnection(settings)
        , m_server(settings.path)
    { }

    QString description() const override { return m_server.description(); }
    bool isOpen() const override { return m_isOpen; }
    bool isReadOnly() const override { return m_isOpen && m_settings.openReadOnly; }

    bool open() override
    {
        if (m_isOpen)
            return true;
        if (m_settings.inTransaction) {
            m_error = {DatabaseError::Kind::ConnectionLost, u"连接在保存中途断开，这次保存没有完成"_s,
                       {}};
            return false;
        }
        // A connection that broke is given up and made anew.
        m_server.close();
        // A book opened for reading only refuses every write on the server's side too.
        m_server.setReadOnly(m_settings.openReadOnly);
        if (m_settings.answerTimeoutSeconds > 0)
            m_server.setAnswerTimeout(m_settings.answerTimeoutSeconds);
        if (!m_server.open(m_settings.password.isEmpty() ? passwordForThisRun()
                                                         : m_settings.password)) {
            noteError();
            if (m_settings.logsErrors)
                writeDatabaseDiagnostic(u"error opening!: "_s + m_server.lastError().text());
            return false;
        }
        // Held until the connection ends. Never waited for: a restore holds it
        // exclusively for a while, and anybody able to connect can hold it too. A book only
        // read needs it not at all.
        if (!m_settings.openReadOnly) {
            const std::optional<PgResult> locked = m_server.executeQuery(
                u"select pg_try_advisory_lock_shared(%1)"_s.arg(Database::deskLockKey));
            if (!locked
                || (locked->text(0, 0) != u"t"_s
                    && m_settings.deskLock == ConnectionSettings::DeskLock::Required)) {
                if (locked) {
                    m_error = {DatabaseError::Kind::BookHeldExclusively, {}, {}, {},
                               u"共享账本正被独占（也许正在恢复备份），请稍后再试"_s};
                } else {
                    noteError();
                }
                m_server.close();
                return false;
            }
        }
        m_error = {};
        m_isOpen = true;
        return true;
    }

    void close() override
    {
        m_server.close();
        m_isOpen = false;
    }

    void closeIfHungUp() override
    {
        if (m_isOpen && !m_settings.inTransaction && m_server.hasHungUp())
            close();
    }

    bool executeStatements(const QString &sql) override
    {
        if (!m_isOpen) {
            m_error = {DatabaseError::Kind::Other, u"database is not open"_s, {}};
            return false;
        }
        const std::optional<PgResult> result = m_server.executeQuery(sql);
        if (!result) {
            noteError();
            if (m_settings.logsErrors)
                writeDatabaseDiagnostic(u"Error inserting batch: "_s + m_server.lastError().text());
            return false;
        }
        // A server answers the COMMIT of a transaction in which a statement failed with
        // ROLLBACK: nothing was written.
        if (result->commandStatus() == u"ROLLBACK"_s
            && sql.trimmed().compare(u"COMMIT"_s, Qt::CaseInsensitive) == 0) {
            m_error = {DatabaseError::Kind::RolledBack, u"事务已回滚"_s, {}};
            return false;
        }
        m_changes += result->affectedRows();
        m_error = {};
        return true;
    }

    std::unique_ptr<EngineRows> query(const QString &sql, const SqlValues &parameters,
                                      ConnectionSettings::Plan plan) override
    {
        const auto run = [&] {
            return plan == ConnectionSettings::Plan::Kept && !parameters.isEmpty()
                ? m_server.executePrepared(sql, parameters)
                : m_server.executeQuery(sql, parameters);
        };
        std::optional<PgResult> rows = run();
        // A read outside a transaction on a connection that broke while idle (the server
        // restarted meanwhile) is asked again once on a new connection: it changes nothing.
        if (!rows && !m_settings.inTransaction
            && serverError(m_server.lastError()).kind() == DatabaseError::Kind::ConnectionLost
            && sql.trimmed().startsWith(u"select"_s, Qt::CaseInsensitive)) {
            m_isOpen = false;
            if (open())
                rows = run();
        }
        if (!rows) {
            noteError();
            if (m_settings.logsErrors) {
                writeDatabaseDiagnostic(u"DB Error: "_s + m_server.lastError().text());
                writeDatabaseDiagnostic(u"DB Query: "_s + sql);
            }
            return nullptr;
        }
        m_changes += rows->affectedRows();
        m_error = {};
        return std::make_unique<ServerRows>(std::move(*rows));
    }

    std::vector<std::unique_ptr<EngineRows>> queryEach(const QStringList &statements) override
    {
        std::vector<std::unique_ptr<EngineRows>> answers;
        const QString sql = statements.join(u";\n"_s);
        std::optional<std::vector<PgResult>> results = m_server.executeEach(sql);
        if (!results && !m_settings.inTransaction
            && serverError(m_server.lastError()).kind() == DatabaseError::Kind::ConnectionLost) {
            // As a single read: asked again once on a new connection.
            m_isOpen = false;
            if (open())
                results = m_server.executeEach(sql);
        }
        if (!results) {
            noteError();
            if (m_settings.logsErrors) {
                writeDatabaseDiagnostic(u"DB Error: "_s + m_server.lastError().text());
                writeDatabaseDiagnostic(u"DB Query: "_s + sql);
            }
            return answers;
        }
        for (PgResult &rows : *results)
            answers.push_back(std::make_unique<ServerRows>(std::move(rows)));
        m_error = {};
        return answers;
    }

    qint64 totalChanges() const override { return m_changes; }
    DatabaseError lastError() const override { return m_error; }
    int sessionId() const override { return m_isOpen ? m_server.serverPid() : 0; }

    // A lost connection took the transaction with it; an open one may hold one (ROLLBACK
    // outside a transaction only warns).
    bool isInTransaction() const override { return m_isOpen; }
    const SqlDialect &dialect() const override;

private:
    void noteError()
    {
        m_error = serverError(m_server.lastError());
        if (m_error.kind() == DatabaseError::Kind::ConnectionLost)
            m_isOpen = false;
    }

    PgConnection m_server;
    bool m_isOpen = false;
    qint64 m_changes = 0;
    DatabaseError m_error;
};

const SqlDialect &ServerEngine::dialect() const
{
    return serverDialect();
}

} // namespace

const SqlDialect &serverDialect()
{
    static const ServerDialect words;
    return words;
}

void Database::setServerPassword(const QString &password)
{
    passwordForThisRun() = password;
}

void Database::setWaitNotice(void (*notice)(bool waiting))
{
    PgConnection::setWaitNotice(notice);
}

QString Database::serverPassword()
{
    return passwordForThisRun();
}

std::unique_ptr<EngineConnection> makeServerEngine(const ConnectionSettings &settings)
{
    return std::make_unique<ServerEngine>(settings);
}
