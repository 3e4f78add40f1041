// SPDX-License-Identifier: GPL-3.0-or-later
// A book in a SQLite file.
#include "database.h"
#include "databaseerror.h"
#include "engine.h"
#include "recordchain.h"
#include "sqlliteral.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>

using namespace Qt::StringLiterals;

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

// quenta_link(previous, time, action, receiptId, receiptNo, detail, desk): the record
// chain's link of a history row (RecordChain::link), for the trigger that chains each row.
void chainLink(sqlite3_context *context, int count, sqlite3_value **values)
{
    const auto text = [](sqlite3_value *value) -> std::optional<QByteArrayView> {
        if (sqlite3_value_type(value) == SQLITE_NULL)
            return std::nullopt;
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_value_text(value));
        return QByteArrayView(bytes, sqlite3_value_bytes(value));
    };
    if (count != 1 + RecordChain::fieldCount) {
        sqlite3_result_error(context, "quenta_link takes 7 values", -1);
        return;
    }
    std::array<std::optional<QByteArrayView>, RecordChain::fieldCount> fields;
    for (int i = 0; i < RecordChain::fieldCount; ++i)
        fields[size_t(i)] = text(values[i + 1]);
    const QByteArray link = RecordChain::link(text(values[0]).value_or(QByteArrayView()), fields);
    sqlite3_result_text(context, link.constData(), int(link.size()), SQLITE_TRANSIENT);
}

} // namespace

bool RecordChain::addLinkFunction(sqlite3 *handle)
{
    return sqlite3_create_function_v2(handle, "quenta_link", 1 + fieldCount,
                                      SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                      nullptr, &chainLink, nullptr, nullptr, nullptr)
        == SQLITE_OK;
}

namespace {

// What SQLite's code (primary or extended) and message mean; none for a success.
// What the triggers of closed days raise (template.sql).
constexpr QLatin1StringView dayClosedMessage("quenta_day_closed");
constexpr QLatin1StringView outsidePaperBooksMessage("quenta_outside_paper_books");
constexpr QLatin1StringView paperBookFinalMessage("quenta_paper_book_final");

DatabaseError fileError(int code, const QString &message)
{
    using Kind = DatabaseError::Kind;
    if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE)
        return {};
    const QString number = u"SQLite %1"_s.arg(code);
    const auto named = [&message](const QString &prefix) {
        return message.startsWith(prefix) ? message.mid(prefix.size()).trimmed() : QString();
    };
    if (const QString column = named(u"no such column:"_s); !column.isEmpty())
        return {Kind::MissingColumn, message, number, column};
    if (const QString table = named(u"no such table:"_s); !table.isEmpty())
        return {Kind::MissingTable, message, number, table};
    if (message == dayClosedMessage)
        return {Kind::DayClosed, message, number};
    if (message == outsidePaperBooksMessage)
        return {Kind::OutsidePaperBooks, message, number};
    if (message == paperBookFinalMessage)
        return {Kind::PaperBookFinal, message, number};
    Kind kind = Kind::Other;
    switch (code & 0xff) {
    case SQLITE_BUSY:
        kind = Kind::HeldElsewhere;
        break;
    case SQLITE_LOCKED:
        kind = Kind::HeldHere;
        break;
    case SQLITE_INTERRUPT:
        kind = Kind::Interrupted;
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        kind = Kind::Damaged;
        break;
    case SQLITE_FULL:
        kind = Kind::DiskFull;
        break;
    case SQLITE_READONLY:
        kind = Kind::ReadOnly;
        break;
    case SQLITE_CANTOPEN:
        kind = Kind::CannotOpen;
        break;
    case SQLITE_IOERR:
        kind = Kind::ReadWrite;
        break;
    case SQLITE_CONSTRAINT:
        kind = Kind::Conflict;
        break;
    case SQLITE_PERM:
    case SQLITE_AUTH:
        kind = Kind::NoRight;
        break;
    default:
        break;
    }
    return {kind, message, number};
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

// One prepared statement's rows; the statement is finalized with them.
class FileRows final : public EngineRows
{
public:
    FileRows(sqlite3_stmt *statement, sqlite3 *connection, const QString &path)
        : m_statement(statement)
        , m_connection(connection)
        , m_path(path)
    { }
    ~FileRows() override { sqlite3_finalize(m_statement); }

    bool next(DatabaseError &error) override
    {
        const int code = sqlite3_step(m_statement);
        if (code == SQLITE_ROW)
            return true;
        if (code == SQLITE_DONE)
            return false;
        const QString message = errorMessageOf(m_connection);
        error = fileError(code, message);
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
            writeDatabaseDiagnostic(u"ResultSet::next: Database busy (%1)"_s.arg(m_path));
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
        return false;
    }
    bool closesAtEnd() const override { return true; }
    int columnCount() const override { return sqlite3_column_count(m_statement); }
    int columnIndex(const QString &lowerName) override
    {
        if (m_names.isEmpty()) {
            const int count = columnCount();
            for (int i = 0; i < count; ++i) {
                // Later columns win over earlier ones of the same name.
                m_names.insert(QString::fromUtf8(sqlite3_column_name(m_statement, i)).toLower(), i);
            }
        }
        return m_names.value(lowerName, -1);
    }
    std::optional<QByteArrayView> bytes(int column) const override
    {
        // NULL gives no text (as does a failed allocation, which is no value either).
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        if (!text)
            return std::nullopt;
        return QByteArrayView(text, sqlite3_column_bytes(m_statement, column));
    }
    int intValue(int column) const override { return sqlite3_column_int(m_statement, column); }
    qint64 int64Value(int column) const override
    {
        return sqlite3_column_int64(m_statement, column);
    }
    double doubleValue(int column) const override
    {
        return sqlite3_column_double(m_statement, column);
    }

private:
    sqlite3_stmt *m_statement;
    sqlite3 *m_connection;
    QString m_path;
    QHash<QString, int> m_names;
};

class FileDialect final : public SqlDialect
{
public:
    bool survivesFailedStatement() const override { return false; }

    // BEGIN IMMEDIATE takes the file's write lock at once, so nothing another process
    // writes comes between what the transaction reads and what it writes.
    QString beginStatement() const override { return u"BEGIN IMMEDIATE"_s; }
    // A deferred transaction reads one snapshot from its first read on.
    QString snapshotBeginStatement() const override { return u"BEGIN"_s; }
    QString tableCountStatement(const QStringList &names) const override
    {
        const QString which = names.size() == 1 ? u"name = "_s + sqlQuote(names.first())
                                                : u"name in ("_s + sqlQuoteList(names) + u")"_s;
        return u"select count(*) from sqlite_schema where type = 'table' and "_s + which;
    }
    QString indexCountStatement(const QString &name) const override
    {
        return u"select count(*) from sqlite_schema where type = 'index' and name = "_s
            + sqlQuote(name);
    }
    QString columnsStatement(const QString &table) const override
    {
        return u"PRAGMA table_info(%1)"_s.arg(table);
    }
    QString dataVersionStatement() const override { return u"PRAGMA data_version"_s; }
    bool dataVersionCountsOwnCommits() const override { return false; }
    QString integrityCheckStatement() const override { return u"PRAGMA quick_check(5)"_s; }
    QString rowLockClause() const override { return {}; }
    QString isDistinctFrom() const override { return u"is not"_s; }
    QString subqueryAlias(const QString &) const override { return {}; }

    bool livesInAFile() const override { return true; }
    QString tableExistsStatement(const QString &table) const override
    {
        return u"select count(*) from sqlite_schema where type = 'table' and name = '%1' "
               u"collate nocase"_s.arg(table);
    }
    QString columnExistsStatement(const QString &table, const QString &column) const override
    {
        return u"select count(*) from pragma_table_info('%1') where name = '%2' collate nocase"_s
            .arg(table, column);
    }
    bool keepsColumnTypes() const override { return false; }
    bool runsProcedures() const override { return false; }
    bool isRemote() const override { return false; }
    bool keepsSearchIndex() const override { return true; }
    QString indexHint(const QString &name) const override { return u" indexed by "_s + name; }
    QString noLimit() const override { return u"-1"_s; }
    bool keepsNulInText() const override { return true; }
    bool takesEmptyLists() const override { return true; }
    bool stepsRowsLazily() const override { return true; }
    QString inDialect(const QString &fileText, const QString &) const override
    {
        return fileText;
    }
};

class FileEngine final : public EngineConnection
{
public:
    explicit FileEngine(const ConnectionSettings &settings)
        : EngineConnection(settings)
    {
        Q_ASSERT_X(sqlite3_threadsafe() != 0, "Database", "SQLite must be built thread-safe");
    }
    ~FileEngine() override { close(); }

    QString description() const override { return m_settings.path; }
    bool isOpen() const override { return m_handle != nullptr; }
    bool isReadOnly() const override
    {
        return m_handle && sqlite3_db_readonly(m_handle, "main") == 1;
    }

    bool open() override
    {
        if (m_handle)
            close();
        if (m_settings.path.isEmpty()) {
            // SQLite would open a private temporary database for an empty name: a book
            // that vanishes at exit.
            writeDatabaseDiagnostic(u"error opening!: %1"_s.arg(SQLITE_CANTOPEN));
            m_openErrorCode = SQLITE_CANTOPEN;
            return false;
        }
        int flags = m_settings.openReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
        if (m_settings.openMode == ConnectionSettings::OpenMode::CreateIfMissing
            && !m_settings.openReadOnly)
            flags |= SQLITE_OPEN_CREATE;
        // A connection is used only by the thread that opened it, so SQLite need not lock
        // a mutex around every call (two for each column read: a fifth of loading a long
        // list).
        flags |= SQLITE_OPEN_NOMUTEX;
        const QByteArray path = m_settings.path.toUtf8();
        const int code = sqlite3_open_v2(path.constData(), &m_handle, flags, nullptr);
        m_openErrorCode = code;
        if (code != SQLITE_OK) {
            writeDatabaseDiagnostic(u"error opening!: %1"_s.arg(code));
            // The handle of a failed open is good for nothing but its error: close it
            // now, so that lastError() reports the open's failure.
            sqlite3_close(m_handle);
            m_handle = nullptr;
            return false;
        }
        if (m_settings.maxBusyRetryTimeInterval > 0)
            sqlite3_busy_handler(m_handle, &FileEngine::busyHandler, this);
        RecordChain::addLinkFunction(m_handle);
        // SQLite's own setting for a long read: 64 MiB of pages cached (a mapped file read
        // 10 % quicker, but held the whole book in the program's memory). A failure leaves
        // the default, which only reads slower.
        if (m_settings.readsWholeBook)
            sqlite3_exec(m_handle, "pragma cache_size = -65536",
                         nullptr, nullptr, nullptr);
        if (m_settings.cancel)
            sqlite3_progress_handler(m_handle, 1000, &FileEngine::progressHandler, this);
        if (m_settings.yieldsToWriters) {
            YieldingConnections &yielding = yieldingConnections();
            const QMutexLocker locker(&yielding.mutex);
            yielding.handles.insert(m_handle, m_settings.yieldsTo);
        }
        return true;
    }

    void close() override
    {
        if (!m_handle)
            return;
        if (m_settings.yieldsToWriters) {
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
    }

    bool executeStatements(const QString &sql) override
    {
        char *errorMessage = nullptr;
        const QByteArray text = sql.toUtf8();
        const int code = m_handle
            ? sqlite3_exec(m_handle, text.constData(), nullptr, nullptr, &errorMessage)
            : SQLITE_MISUSE;
        if (!m_handle && m_settings.logsErrors)
            writeDatabaseDiagnostic(u"Error inserting batch: %1"_s.arg(u"database is not open"_s));
        if (errorMessage) {
            if (m_settings.logsErrors)
                writeDatabaseDiagnostic(u"Error inserting batch: "_s
                                        + QString::fromUtf8(errorMessage));
            sqlite3_free(errorMessage);
        }
        return code == SQLITE_OK;
    }

    std::unique_ptr<EngineRows> query(const QString &sql, const SqlValues &arguments,
                                      ConnectionSettings::Plan) override
    {
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt *handle = nullptr;
        const int code = sqlite3_prepare_v2(m_handle, text.constData(), -1, &handle, nullptr);
        if (code != SQLITE_OK) {
            if (m_settings.logsErrors) {
                writeDatabaseDiagnostic(u"DB Error: %1 \"%2\""_s.arg(sqlite3_errcode(m_handle))
                                            .arg(errorMessageOf(m_handle)));
                writeDatabaseDiagnostic(u"DB Query: "_s + sql);
                writeDatabaseDiagnostic(u"DB Path: "_s + m_settings.path);
            }
            sqlite3_finalize(handle);
            return nullptr;
        }
        if (!handle) {
            // Only white space or a comment: there is no statement to step.
            if (m_settings.logsErrors)
                writeDatabaseDiagnostic(u"DB Query: "_s + sql + u" (no statement)"_s);
            return nullptr;
        }
        auto rows = std::make_unique<FileRows>(handle, m_handle, m_settings.path);
        if (sqlite3_bind_parameter_count(handle) != arguments.size()) {
            writeDatabaseDiagnostic(
                u"Error: the bind count is not correct for the # of variables (executeQuery)"_s);
            return nullptr;
        }
        for (int i = 0; i < arguments.size(); ++i) {
            if (!arguments.at(i)) {
                sqlite3_bind_null(handle, i + 1);
                continue;
            }
            const QByteArray value = arguments.at(i)->toUtf8();
            sqlite3_bind_text(handle, i + 1, value.constData(), int(value.size()),
                              SQLITE_TRANSIENT);
        }
        return rows;
    }

    qint64 totalChanges() const override
    {
        return m_handle ? sqlite3_total_changes64(m_handle) : 0;
    }
    DatabaseError lastError() const override
    {
        if (!m_handle)
            return fileError(m_openErrorCode, QString::fromUtf8(sqlite3_errstr(m_openErrorCode)));
        return fileError(sqlite3_errcode(m_handle), errorMessageOf(m_handle));
    }

    // SQLite's own check stats the path and compares its inode with the open file's; one
    // stat per write.
    bool isGoneFromItsPath() const override
    {
        int moved = 0;
        const int code = sqlite3_file_control(m_handle, "main", SQLITE_FCNTL_HAS_MOVED, &moved);
        if (code != SQLITE_OK) // a file system layer without the check: existence at least
            return !QFileInfo::exists(m_settings.path);
        return moved != 0;
    }
    bool isInTransaction() const override
    {
        return m_handle && !sqlite3_get_autocommit(m_handle);
    }
    const SqlDialect &dialect() const override;

    bool backupTo(const QString &path, QString *error, bool giveWay,
                  const std::atomic_bool *cancel) override;

    sqlite3 *fileHandle() const override { return m_handle; }

private:
    static int busyHandler(void *context, int count);
    static int progressHandler(void *context)
    {
        return static_cast<FileEngine *>(context)->m_settings.cancel->load() ? 1 : 0;
    }

    sqlite3 *m_handle = nullptr;
    int m_openErrorCode = 0;
    double m_busyStartTime = 0;
};

const SqlDialect &FileEngine::dialect() const
{
    static const FileDialect words;
    return words;
}

int FileEngine::busyHandler(void *context, int count)
{
    auto *self = static_cast<FileEngine *>(context);
    if (count == 0) {
        self->m_busyStartTime = monotonicSeconds();
        // A check or a list's read of this program holding the lock lets go of it now,
        // not at its end.
        if (!self->m_settings.yieldsToWriters)
            Database::interruptYieldingConnections(self->m_handle,
                                                   self->m_settings.writesInBackground
                                                       ? Database::Writer::Background
                                                       : Database::Writer::Foreground);
        return 1;
    }
    if (monotonicSeconds() - self->m_busyStartTime >= self->m_settings.maxBusyRetryTimeInterval)
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

bool FileEngine::backupTo(const QString &path, QString *error, bool giveWay,
                          const std::atomic_bool *cancel)
{
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    // Removing a partial copy must never remove a file that was there before.
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        return fail(u"备份文件已存在：%1"_s.arg(path));
    if (!m_handle && !open())
        return fail(u"无法打开数据库：%1"_s.arg(
            lastError().message()));

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
            : fileError(openCode, errorMessageOf(destination.get())).message();
        removePartial();
        return fail(u"无法创建备份文件 %1：%2"_s.arg(path, reason));
    }

    sqlite3_backup *backup = sqlite3_backup_init(destination.get(), "main", m_handle, "main");
    if (!backup) {
        const QString reason
            = fileError(sqlite3_errcode(destination.get()), errorMessageOf(destination.get()))
                  .message();
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
    int pagesPerStep = Database::backupPagesPerStep;
    int restarts = 0;
    int remaining = -1;
    double deadline = monotonicSeconds() + m_settings.maxBusyRetryTimeInterval;
    int code = SQLITE_OK;
    for (;;) {
        code = sqlite3_backup_step(
            backup, restarts >= Database::backupRestartsBeforeOneStep ? -1 : pagesPerStep);
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
            if (monotonicSeconds() >= deadline || (cancel && cancel->load()))
                break;
            sqlite3_sleep(50 + int(QRandomGenerator::global()->bounded(50)));
            continue;
        }
        if (code != SQLITE_OK)
            break;
        deadline = monotonicSeconds() + m_settings.maxBusyRetryTimeInterval;
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
        if (giveWay)
            sqlite3_sleep(restarted ? std::min(restarts * 500, 3000)
                                    : Database::backupPauseMilliseconds);
    }
    sqlite3_backup_finish(backup);
    if (code == SQLITE_INTERRUPT) {
        removePartial();
        return fail(u"备份已取消"_s);
    }
    if (code != SQLITE_DONE) {
        // The step's own code: the connections' messages may describe other statements.
        const QString reason = fileError(code, QString::fromUtf8(sqlite3_errstr(code))).message();
        removePartial();
        return fail(u"无法写入备份文件 %1：%2"_s.arg(path, reason));
    }
    return true;
}

} // namespace

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

std::unique_ptr<EngineConnection> makeFileEngine(const ConnectionSettings &settings)
{
    return std::make_unique<FileEngine>(settings);
}
