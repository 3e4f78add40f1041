// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"

#include "databaseerror.h"
#include "pgconnection.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <cstdio>

using namespace Qt::StringLiterals;

void writeDatabaseDiagnostic(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

namespace {

double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QString errorMessageOf(sqlite3 *handle)
{
    return QString::fromUtf8(sqlite3_errmsg(handle));
}

// Column text as UTF-8, or nothing when the bytes are not valid UTF-8. Plain ASCII, by
// far the commonest case (numbers, ids, dates), skips the decoder.
std::optional<QString> decodeText(const unsigned char *text, int length)
{
    const auto *bytes = reinterpret_cast<const char *>(text);
    bool ascii = true;
    for (int i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(bytes[i]) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes, length);
    // ConvertInitialBom: a value that begins with U+FEFF keeps it; the decoder would
    // otherwise take it for a byte order mark and drop it.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless
                               | QStringDecoder::Flag::ConvertInitialBom);
    QString result = decoder.decode(QByteArrayView(bytes, length));
    if (decoder.hasError())
        return std::nullopt;
    return result;
}

// The open connections that yield to a waiting writer (and to which writers), and the lock
// that keeps one from closing while another thread interrupts it.
struct YieldingConnections
{
    QMutex mutex;
    QHash<sqlite3 *, Database::YieldsTo> handles;
};

YieldingConnections &yieldingConnections()
{
    static YieldingConnections connections;
    return connections;
}

QString &passwordForThisRun()
{
    static QString password;
    return password;
}

// SQLite's code of the same meaning as a server's failure, so that every caller tells
// a conflict, a lock or a lost connection apart as it does for a file.
int codeOfServerError(const PgError &error)
{
    if (error.isEmpty())
        return 0;
    if (error.connectionLost || error.sqlState.startsWith(u"08"_s)
        || error.sqlState.startsWith(u"57P"_s))
        return serverConnectionLost;
    if (error.sqlState.startsWith(u"23"_s))
        return SQLITE_CONSTRAINT;
    // Another session held a row past the session's lock timeout.
    if (error.sqlState == PgState::lockNotAvailable)
        return serverLockTimeout;
    if (error.isRetryable())
        return SQLITE_BUSY;
    if (error.sqlState == u"25006"_s) // read-only transaction
        return SQLITE_READONLY;
    if (error.sqlState == PgState::insufficientPrivilege)
        return SQLITE_PERM;
    if (error.sqlState == u"53100"_s) // disk full
        return SQLITE_FULL;
    return SQLITE_ERROR;
}

// The server's message, with a missing column or table told as SQLite tells it, so that
// the user reads the same "数据库缺少列 …" on either engine.
QString messageOfServerError(const PgError &error)
{
    if (error.sqlState == PgState::unsafeSession)
        return error.message;
    const qsizetype open = error.message.indexOf(u'"');
    const qsizetype close = open >= 0 ? error.message.indexOf(u'"', open + 1) : -1;
    const QString name = close > open ? error.message.mid(open + 1, close - open - 1) : QString();
    if (error.sqlState == u"42703"_s && !name.isEmpty())
        return u"no such column: "_s + name;
    if (error.sqlState == u"42P01"_s && !name.isEmpty())
        return u"no such table: "_s + name;
    return error.message.trimmed();
}

} // namespace

bool Database::isServerBook(const QString &book)
{
    return book.startsWith(u"postgresql://"_s) || book.startsWith(u"postgres://"_s);
}

void Database::setServerPassword(const QString &password)
{
    passwordForThisRun() = password;
}

QString Database::serverPassword()
{
    return passwordForThisRun();
}

void Database::interruptYieldingConnections(sqlite3 *except, Writer waiting)
{
    YieldingConnections &yielding = yieldingConnections();
    const QMutexLocker locker(&yielding.mutex);
    for (auto it = yielding.handles.cbegin(); it != yielding.handles.cend(); ++it) {
        if (it.key() != except
            && (waiting == Writer::Foreground || it.value() == YieldsTo::EveryWriter))
            sqlite3_interrupt(it.key());
    }
}

// --- Statement ---------------------------------------------------------------

Statement::Statement(sqlite3_stmt *statement)
    : m_statement(statement)
{ }

Statement::~Statement()
{
    close();
}

void Statement::reset()
{
    if (m_statement)
        sqlite3_reset(m_statement);
}

void Statement::close()
{
    if (m_statement) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

// --- ResultSet ---------------------------------------------------------------

ResultSet::ResultSet(std::shared_ptr<Statement> statement, Database *parent, bool shouldAutoClose)
    : m_statement(std::move(statement))
    , m_parent(parent)
    , m_shouldAutoClose(shouldAutoClose)
{ }

ResultSet::ResultSet(std::unique_ptr<PgResult> rows, Database *parent)
    : m_serverRows(std::move(rows))
    , m_parent(parent)
{ }

ResultSet::~ResultSet()
{
    close();
}

bool ResultSet::next()
{
    if (m_serverRows) {
        if (m_serverRow + 1 < m_serverRows->rowCount()) {
            ++m_serverRow;
            return true;
        }
        m_serverRow = m_serverRows->rowCount();
        return false;
    }
    sqlite3_stmt *handle = m_statement ? m_statement->handle() : nullptr;
    const int code = handle ? sqlite3_step(handle) : SQLITE_MISUSE;
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE) {
        const QString message = m_parent && m_parent->handle()
            ? errorMessageOf(m_parent->handle())
            : QString::fromUtf8(sqlite3_errstr(code));
        m_errorCode = code;
        m_errorMessage = message;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
            const QString path = m_parent ? m_parent->databasePath() : QString();
            writeDatabaseDiagnostic(u"ResultSet::next: Database busy (%1)"_s.arg(path));
            writeDatabaseDiagnostic(u"Database busy"_s);
        } else if (code == SQLITE_INTERRUPT) {
            // Asked for (a check giving way to a save): the caller tries again.
        } else if (code == SQLITE_MISUSE || code == SQLITE_ERROR) {
            writeDatabaseDiagnostic(
                u"Error calling sqlite3_step (%1: %2) rs"_s.arg(code).arg(message));
        } else {
            writeDatabaseDiagnostic(
                u"Unknown error calling sqlite3_step (%1: %2) rs"_s.arg(code).arg(message));
        }
    }
    if (m_shouldAutoClose)
        close();
    return false;
}

void ResultSet::close()
{
    m_serverRows.reset();
    m_serverRow = -1;
    if (m_statement) {
        m_statement->reset();
        m_statement.reset();
    }
    if (m_parent) {
        m_parent->resultSetDidClose(this);
        m_parent = nullptr;
    }
}

int ResultSet::columnCount() const
{
    if (m_serverRows)
        return m_serverRows->columnCount();
    return m_statement && m_statement->handle() ? sqlite3_column_count(m_statement->handle()) : 0;
}

int ResultSet::columnIndexForName(const QString &name)
{
    const QString key = name.toLower();
    if (m_columnNameToIndexMap.isEmpty() && m_serverRows) {
        const int index = m_serverRows->columnIndex(key);
        if (index >= 0)
            return index;
        writeDatabaseDiagnostic(u"Warning: I could not find the column named '"_s + key + u"'."_s);
        return -1;
    }
    if (m_columnNameToIndexMap.isEmpty() && m_statement && m_statement->handle()) {
        const int count = columnCount();
        for (int i = 0; i < count; ++i) {
            const char *columnName = sqlite3_column_name(m_statement->handle(), i);
            // Later columns win over earlier ones of the same name.
            m_columnNameToIndexMap.insert(QString::fromUtf8(columnName).toLower(), i);
        }
    }
    const auto found = m_columnNameToIndexMap.constFind(key);
    if (found == m_columnNameToIndexMap.constEnd()) {
        writeDatabaseDiagnostic(u"Warning: I could not find the column named '"_s + key + u"'."_s);
        return -1;
    }
    return found.value();
}

std::optional<QString> ResultSet::stringForColumn(const QString &name)
{
    return stringForColumnIndex(columnIndexForName(name));
}

std::optional<QString> ResultSet::stringForColumnIndex(int index) const
{
    if (index < 0 || index >= columnCount())
        return std::nullopt;
    if (m_serverRows) {
        const std::optional<QByteArrayView> bytes = m_serverRows->bytes(m_serverRow, index);
        if (!bytes)
            return std::nullopt;
        return decodeText(reinterpret_cast<const unsigned char *>(bytes->data()),
                          int(bytes->size()));
    }
    // NULL gives no text (as does a failed allocation, which is no value either).
    sqlite3_stmt *handle = m_statement->handle();
    const unsigned char *text = sqlite3_column_text(handle, index);
    if (!text)
        return std::nullopt;
    return decodeText(text, sqlite3_column_bytes(handle, index));
}

std::optional<QByteArrayView> ResultSet::bytesForColumnIndex(int index) const
{
    if (index < 0 || index >= columnCount())
        return std::nullopt;
    if (m_serverRows)
        return m_serverRows->bytes(m_serverRow, index);
    sqlite3_stmt *handle = m_statement->handle();
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(handle, index));
    if (!text)
        return std::nullopt;
    return QByteArrayView(text, sqlite3_column_bytes(handle, index));
}

int ResultSet::intForColumn(const QString &name)
{
    return intForColumnIndex(columnIndexForName(name));
}

int ResultSet::intForColumnIndex(int index) const
{
    if (index < 0 || index >= columnCount())
        return 0;
    if (m_serverRows)
        return int(int64ForColumnIndex(index));
    return sqlite3_column_int(m_statement->handle(), index);
}

qint64 ResultSet::int64ForColumnIndex(int index) const
{
    if (index < 0 || index >= columnCount())
        return 0;
    if (m_serverRows) {
        // As SQLite reads a text as a number: its leading number, else 0.
        const std::optional<QByteArrayView> bytes = m_serverRows->bytes(m_serverRow, index);
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
    return sqlite3_column_int64(m_statement->handle(), index);
}

double ResultSet::doubleForColumn(const QString &name)
{
    return doubleForColumnIndex(columnIndexForName(name));
}

double ResultSet::doubleForColumnIndex(int index) const
{
    if (index < 0 || index >= columnCount())
        return 0.0;
    if (m_serverRows) {
        const std::optional<QByteArrayView> bytes = m_serverRows->bytes(m_serverRow, index);
        return bytes ? QByteArray(bytes->data(), bytes->size()).trimmed().toDouble() : 0.0;
    }
    return sqlite3_column_double(m_statement->handle(), index);
}

// --- Database ----------------------------------------------------------------

Database::Database(const QString &databasePath, OpenMode openMode)
    : m_databasePath(databasePath)
    , m_openMode(openMode)
{
    if (isServerBook(databasePath))
        m_server = std::make_unique<PgConnection>(databasePath);
    Q_ASSERT_X(sqlite3_threadsafe() != 0, "Database", "SQLite must be built thread-safe");
}

Database::~Database()
{
    close();
}

QString Database::description() const
{
    if (m_server)
        return u"<Database: %1>"_s.arg(m_server->description());
    return u"<Database: %1>"_s.arg(m_databasePath);
}

bool Database::isReadOnly() const
{
    if (m_server)
        return m_isOpen && m_openReadOnly;
    return m_handle && sqlite3_db_readonly(m_handle, "main") == 1;
}

QString Database::lastErrorMessage() const
{
    if (m_server)
        return m_serverErrorMessage;
    if (!m_handle)
        return m_openErrorCode ? QString::fromUtf8(sqlite3_errstr(m_openErrorCode)) : QString();
    return errorMessageOf(m_handle);
}

void Database::setOpenReadOnly(bool readOnly)
{
    if (readOnly == m_openReadOnly)
        return;
    close();
    m_openReadOnly = readOnly;
}

QString Database::lastServerState() const
{
    return m_server && m_serverErrorCode != 0 ? m_server->lastError().sqlState : QString();
}

int Database::lastErrorCode() const
{
    if (m_server)
        return m_serverErrorCode;
    if (!m_handle)
        return m_openErrorCode;
    const int code = sqlite3_errcode(m_handle);
    return code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE ? 0 : code;
}

qint64 Database::totalChanges() const
{
    if (m_server)
        return m_serverChanges;
    return m_handle ? sqlite3_total_changes64(m_handle) : 0;
}

bool Database::open()
{
    if (m_isOpen)
        return true;
    if (m_server) {
        const auto noteServerError = [this] {
            m_serverErrorCode = codeOfServerError(m_server->lastError());
            m_serverErrorMessage = messageOfServerError(m_server->lastError());
        };
        if (m_inTransaction) {
            m_serverErrorCode = serverConnectionLost;
            m_serverErrorMessage = u"连接在保存中途断开，这次保存没有完成"_s;
            return false;
        }
        // A connection that broke is given up and made anew.
        m_server->close();
        // A book opened for reading only refuses every write on the server's side too.
        m_server->setReadOnly(m_openReadOnly);
        if (!m_server->open(passwordForThisRun())) {
            noteServerError();
            writeDatabaseDiagnostic(u"error opening!: "_s + m_server->lastError().text());
            return false;
        }
        // Held until the connection ends. Never waited for: a restore holds it exclusively
        // for a while, and anybody able to connect can hold it too. A book only read needs
        // it not at all.
        if (!m_openReadOnly) {
            const std::optional<PgResult> locked = m_server->executeQuery(
                u"select pg_try_advisory_lock_shared(%1)"_s.arg(deskLockKey));
            if (!locked || (locked->text(0, 0) != u"t"_s && m_deskLock == DeskLock::Required)) {
                if (locked) {
                    m_serverErrorCode = serverBookHeld;
                    m_serverErrorMessage = u"共享账本正被独占（也许正在恢复备份），请稍后再试"_s;
                } else {
                    noteServerError();
                }
                m_server->close();
                return false;
            }
        }
        m_serverErrorCode = 0;
        m_serverErrorMessage.clear();
        m_isOpen = true;
        return true;
    }
    if (m_handle)
        close();
    if (m_databasePath.isEmpty()) {
        // SQLite would open a private temporary database for an empty name: a book that
        // vanishes at exit.
        writeDatabaseDiagnostic(u"error opening!: %1"_s.arg(SQLITE_CANTOPEN));
        m_openErrorCode = SQLITE_CANTOPEN;
        return false;
    }

    int flags = m_openReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (m_openMode == OpenMode::CreateIfMissing && !m_openReadOnly)
        flags |= SQLITE_OPEN_CREATE;
    // A connection is used only by the thread that opened it, so SQLite need not lock a
    // mutex around every call (two for each column read: a fifth of loading a long list).
    flags |= SQLITE_OPEN_NOMUTEX;
    const QByteArray path = m_databasePath.toUtf8();
    const int code = sqlite3_open_v2(path.constData(), &m_handle, flags, nullptr);
    m_openErrorCode = code;
    if (code != SQLITE_OK) {
        writeDatabaseDiagnostic(u"error opening!: %1"_s.arg(code));
        // The handle of a failed open is good for nothing but its error: close it now,
        // so that lastErrorCode() reports the open's failure.
        sqlite3_close(m_handle);
        m_handle = nullptr;
        return false;
    }
    if (m_maxBusyRetryTimeInterval > 0)
        sqlite3_busy_handler(m_handle, &Database::busyHandler, this);
    if (m_cancel)
        sqlite3_progress_handler(m_handle, 1000, &Database::progressHandler, this);
    if (m_yieldsToWriters) {
        YieldingConnections &yielding = yieldingConnections();
        const QMutexLocker locker(&yielding.mutex);
        yielding.handles.insert(m_handle, m_yieldsTo);
    }
    m_isOpen = true;
    return true;
}

int Database::progressHandler(void *context)
{
    return static_cast<Database *>(context)->m_cancel->load() ? 1 : 0;
}

int Database::busyHandler(void *context, int count)
{
    auto *self = static_cast<Database *>(context);
    if (count == 0) {
        self->m_busyStartTime = monotonicSeconds();
        // A check or a list's read of this program holding the lock lets go of it now, not
        // at its end.
        if (!self->m_yieldsToWriters)
            interruptYieldingConnections(self->m_handle,
                                         self->m_writesInBackground ? Writer::Background
                                                                    : Writer::Foreground);
        return 1;
    }
    if (monotonicSeconds() - self->m_busyStartTime >= self->m_maxBusyRetryTimeInterval)
        return 0;
    const int requested = 50 + int(QRandomGenerator::global()->bounded(50));
    const int actual = sqlite3_sleep(requested);
    if (actual != requested) {
        writeDatabaseDiagnostic(
            u"WARNING: Requested sleep of %1 milliseconds, but SQLite returned "
            u"%2. Maybe SQLite wasn't built with HAVE_USLEEP=1?"_s.arg(requested)
                .arg(actual));
    }
    return 1;
}

bool Database::close()
{
    // Closing a result set removes it from the set, so walk a copy.
    const QSet<ResultSet *> openResultSets = m_openResultSets;
    for (ResultSet *resultSet : openResultSets)
        resultSet->close();
    m_openResultSets.clear();

    if (m_server) {
        m_server->close();
        m_isOpen = false;
        return true;
    }
    if (!m_handle)
        return true;

    if (m_yieldsToWriters) {
        YieldingConnections &yielding = yieldingConnections();
        const QMutexLocker locker(&yielding.mutex);
        yielding.handles.remove(m_handle);
    }
    int code = sqlite3_close(m_handle);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
        while (sqlite3_stmt *leaked = sqlite3_next_stmt(m_handle, nullptr)) {
            writeDatabaseDiagnostic(u"Closing leaked statement"_s);
            sqlite3_finalize(leaked);
        }
        code = sqlite3_close(m_handle);
    }
    if (code != SQLITE_OK)
        writeDatabaseDiagnostic(u"error closing!: %1"_s.arg(code));

    m_handle = nullptr;
    m_isOpen = false;
    return true;
}

void Database::closeIfServerHungUp()
{
    if (m_server && m_isOpen && !m_inTransaction && m_server->hasHungUp())
        close();
}

bool Database::executeStatements(const QString &sql)
{
    ++m_statementsSent;
    if (m_server) {
        if (!m_isOpen) {
            m_serverErrorCode = SQLITE_MISUSE;
            m_serverErrorMessage = u"database is not open"_s;
            return false;
        }
        const std::optional<PgResult> result = m_server->executeQuery(sql);
        if (!result) {
            m_serverErrorCode = codeOfServerError(m_server->lastError());
            m_serverErrorMessage = messageOfServerError(m_server->lastError());
            if (m_logsErrors)
                writeDatabaseDiagnostic(u"Error inserting batch: "_s + m_server->lastError().text());
            if (m_serverErrorCode == serverConnectionLost)
                m_isOpen = false;
            return false;
        }
        // A server answers the COMMIT of a transaction in which a statement failed with
        // ROLLBACK: nothing was written.
        if (result->commandStatus() == u"ROLLBACK"_s && sql.trimmed().compare(u"COMMIT"_s, Qt::CaseInsensitive) == 0) {
            m_serverErrorCode = SQLITE_ABORT;
            m_serverErrorMessage = u"事务已回滚"_s;
            return false;
        }
        m_serverChanges += result->affectedRows();
        m_serverErrorCode = 0;
        m_serverErrorMessage.clear();
        return true;
    }
    char *errorMessage = nullptr;
    const QByteArray text = sql.toUtf8();
    const int code = m_handle
        ? sqlite3_exec(m_handle, text.constData(), nullptr, nullptr, &errorMessage)
        : SQLITE_MISUSE;
    if (!m_handle && m_logsErrors)
        writeDatabaseDiagnostic(u"Error inserting batch: %1"_s.arg(u"database is not open"_s));
    if (errorMessage) {
        if (m_logsErrors)
            writeDatabaseDiagnostic(u"Error inserting batch: "_s + QString::fromUtf8(errorMessage));
        sqlite3_free(errorMessage);
    }
    return code == SQLITE_OK;
}

std::unique_ptr<ResultSet> Database::executeQuery(const QString &sql, const QStringList &arguments,
                                                  Plan plan)
{
    ++m_statementsSent;
    if (!m_isOpen) {
        writeDatabaseDiagnostic(u"The Database "_s + description() + u" is not open."_s);
        return nullptr;
    }
    if (m_isExecuting) {
        writeDatabaseDiagnostic(u"The Database "_s + description() + u" is currently in use."_s);
        return nullptr;
    }
    if (m_server) {
        PgParameters parameters;
        for (const QString &argument : arguments)
            parameters.append(argument);
        const auto run = [&] {
            return plan == Plan::Kept && !parameters.isEmpty()
                ? m_server->executePrepared(sql, parameters)
                : m_server->executeQuery(sql, parameters);
        };
        std::optional<PgResult> rows = run();
        // A read outside a transaction on a connection that broke while idle (the server
        // restarted meanwhile) is asked again once on a new connection: it changes nothing.
        if (!rows && !m_inTransaction && codeOfServerError(m_server->lastError()) == serverConnectionLost
            && sql.trimmed().startsWith(u"select"_s, Qt::CaseInsensitive)) {
            m_isOpen = false;
            if (open())
                rows = run();
        }
        if (!rows) {
            m_serverErrorCode = codeOfServerError(m_server->lastError());
            m_serverErrorMessage = messageOfServerError(m_server->lastError());
            if (m_logsErrors) {
                writeDatabaseDiagnostic(u"DB Error: "_s + m_server->lastError().text());
                writeDatabaseDiagnostic(u"DB Query: "_s + sql);
            }
            if (m_serverErrorCode == serverConnectionLost)
                m_isOpen = false;
            return nullptr;
        }
        m_serverChanges += rows->affectedRows();
        m_serverErrorCode = 0;
        m_serverErrorMessage.clear();
        auto resultSet
            = std::make_unique<ResultSet>(std::make_unique<PgResult>(std::move(*rows)), this);
        m_openResultSets.insert(resultSet.get());
        return resultSet;
    }
    m_isExecuting = true;

    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *handle = nullptr;
    const int code = sqlite3_prepare_v2(m_handle, text.constData(), -1, &handle, nullptr);
    if (code != SQLITE_OK) {
        if (m_logsErrors) {
            writeDatabaseDiagnostic(u"DB Error: %1 \"%2\""_s.arg(sqlite3_errcode(m_handle))
                                        .arg(errorMessageOf(m_handle)));
            writeDatabaseDiagnostic(u"DB Query: "_s + sql);
            writeDatabaseDiagnostic(u"DB Path: "_s + m_databasePath);
        }
        sqlite3_finalize(handle);
        m_isExecuting = false;
        return nullptr;
    }

    if (!handle) {
        // Only white space or a comment: there is no statement to step.
        if (m_logsErrors)
            writeDatabaseDiagnostic(u"DB Query: "_s + sql + u" (no statement)"_s);
        m_isExecuting = false;
        return nullptr;
    }
    auto statement = std::make_shared<Statement>(handle);
    if (sqlite3_bind_parameter_count(handle) != arguments.size()) {
        writeDatabaseDiagnostic(
            u"Error: the bind count is not correct for the # of variables (executeQuery)"_s);
        m_isExecuting = false;
        return nullptr;
    }
    for (int i = 0; i < arguments.size(); ++i) {
        const QByteArray value = arguments.at(i).toUtf8();
        sqlite3_bind_text(handle, i + 1, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }

    auto resultSet = std::make_unique<ResultSet>(std::move(statement), this, true);
    m_openResultSets.insert(resultSet.get());
    m_isExecuting = false;
    return resultSet;
}

bool Database::backupTo(const QString &path, QString *error, BackupPace pace,
                        const std::atomic_bool *cancel)
{
    const auto fail = [&](const QString &message) {
        writeDatabaseDiagnostic(u"Backup of %1 to %2 failed"_s.arg(m_databasePath, path));
        if (error)
            *error = message;
        return false;
    };
    if (path.isEmpty())
        return fail(u"没有指定备份文件"_s);
    if (m_server)
        return fail(u"共享账本不能这样备份"_s);
    // Removing a partial copy must never remove a file that was there before.
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        return fail(u"备份文件已存在：%1"_s.arg(path));
    if (!open())
        return fail(u"无法打开数据库：%1"_s.arg(
            describeDatabaseError(lastErrorCode(), lastErrorMessage())));

    sqlite3 *openedDestination = nullptr;
    const int openCode = sqlite3_open_v2(path.toUtf8().constData(), &openedDestination,
                                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> destination(openedDestination, &sqlite3_close);
    const auto removePartial = [&] {
        destination.reset();
        QFile::remove(path);
        QFile::remove(path + u"-journal"_s);
    };
    if (openCode != SQLITE_OK) {
        const QString reason = (openCode & 0xff) == SQLITE_CANTOPEN
            ? u"文件夹不存在或不能写入"_s
            : describeDatabaseError(openCode, errorMessageOf(destination.get()));
        removePartial();
        return fail(u"无法创建备份文件 %1：%2"_s.arg(path, reason));
    }

    sqlite3_backup *backup = sqlite3_backup_init(destination.get(), "main", m_handle, "main");
    if (!backup) {
        const QString reason = describeDatabaseError(sqlite3_errcode(destination.get()),
                                                     errorMessageOf(destination.get()));
        removePartial();
        return fail(u"无法写入备份文件 %1：%2"_s.arg(path, reason));
    }
    // A few hundred pages a step, each step under its own short read lock: a save of
    // another connection waits at most one step for its write lock, where one step for the
    // whole file held it off for as long as the copy of a large book took. A write by
    // another connection between steps makes SQLite start the copy over, so the result is
    // always one consistent state of the book. A copy that gives way pauses between steps,
    // and after a restart longer, to let a run of saves pass; its steps grow after each
    // restart and the last try copies the rest in one step, so a book saved into without
    // pause is still copied. The source's busy handler waits on a lock inside a step
    // already; the loop covers a step that gives up at once (SQLITE_LOCKED), up to the
    // same interval.
    int pagesPerStep = backupPagesPerStep;
    int restarts = 0;
    int remaining = -1;
    double deadline = monotonicSeconds() + m_maxBusyRetryTimeInterval;
    int code = SQLITE_OK;
    for (;;) {
        code = sqlite3_backup_step(backup,
                                   restarts >= backupRestartsBeforeOneStep ? -1 : pagesPerStep);
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
            if (monotonicSeconds() >= deadline || (cancel && cancel->load()))
                break;
            sqlite3_sleep(50 + int(QRandomGenerator::global()->bounded(50)));
            continue;
        }
        if (code != SQLITE_OK)
            break;
        deadline = monotonicSeconds() + m_maxBusyRetryTimeInterval;
        const int left = sqlite3_backup_remaining(backup);
        // Fewer pages left than before unless the copy started over.
        const bool restarted = remaining >= 0 && left >= remaining;
        if (restarted) {
            ++restarts;
            pagesPerStep *= 2;
        }
        remaining = left;
        if (cancel && cancel->load()) {
            code = SQLITE_INTERRUPT;
            break;
        }
        if (pace == BackupPace::GiveWay)
            sqlite3_sleep(restarted ? std::min(restarts * 500, 3000) : backupPauseMilliseconds);
    }
    sqlite3_backup_finish(backup);
    if (code == SQLITE_INTERRUPT) {
        removePartial();
        return fail(u"备份已取消"_s);
    }
    if (code != SQLITE_DONE) {
        // The step's own code: the connections' messages may describe other statements.
        const QString reason = describeDatabaseError(code, QString::fromUtf8(sqlite3_errstr(code)));
        removePartial();
        return fail(u"无法写入备份文件 %1：%2"_s.arg(path, reason));
    }
    return true;
}
