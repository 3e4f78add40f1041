// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

#include "engine.h"

struct sqlite3;

class Database;
class PgConnection;

// A forward-only cursor over the rows of one query. Columns are read by index or by
// name; names match in any letter case. A default-constructed result set has no
// statement and simply yields no row.
class ResultSet
{
public:
    ResultSet() = default;
    ResultSet(std::unique_ptr<EngineRows> rows, Database *parent);
    ~ResultSet();
    ResultSet(const ResultSet &) = delete;
    ResultSet &operator=(const ResultSet &) = delete;

    bool next();
    void close();
    // Whether the last next() ended on an error rather than at the end of the rows (a
    // lock held past the busy timeout, a damaged page): the rows read so far are then
    // not all there are. That error.
    bool hasError() const { return m_error.isError(); }
    const DatabaseError &error() const { return m_error; }

    int columnCount() const;
    int columnIndexForName(const QString &name);

    std::optional<QString> stringForColumn(const QString &name);
    std::optional<QString> stringForColumnIndex(int index) const;
    // The column's text as the engine holds it (UTF-8), valid until the next step; nothing
    // for SQL NULL or a column out of range. For values read in bulk without decoding.
    std::optional<QByteArrayView> bytesForColumnIndex(int index) const;
    int intForColumn(const QString &name);
    int intForColumnIndex(int index) const;
    qint64 int64ForColumnIndex(int index) const;
    double doubleForColumn(const QString &name);
    double doubleForColumnIndex(int index) const;

private:
    friend class Database;
    void detachFromParent() { m_parent = nullptr; }

    std::unique_ptr<EngineRows> m_rows;
    Database *m_parent = nullptr;
    DatabaseError m_error;
};

// One connection to one book: a SQLite file, or a book shared by several desks on a
// PostgreSQL server (its path is then a postgresql:// connection URI). Both run the same
// statements where the two engines read them alike; dialect() words the rest, each engine
// in a file of its own. Nothing throws: failures come back as false or as no result set,
// with the reason in lastError() and a diagnostic line on standard error.
class Database
{
public:
    // The advisory lock of a server book's desks: every connection open() makes to a
    // server holds it shared for as long as it lasts; a restore takes it exclusively, and
    // so runs only while no desk is connected.
    static constexpr qint64 deskLockKey = 0x5175656e7461; // "Quenta"
    // Whether a connection must hold that lock to open (a desk, a command that writes) or
    // takes it only when it is free (a command that only reads, which a restore's rows
    // cannot tear: its reads see the book before or after it, whole). It is never waited
    // for.
    using DeskLock = ConnectionSettings::DeskLock;
    void setDeskLock(DeskLock deskLock) { m_settings.deskLock = deskLock; }
    // Whether `book` names a book on a server (a postgresql:// or postgres:// URI) rather
    // than a file.
    static bool isServerBook(const QString &book);
    // The password for server books given in the connection dialog, for this run only:
    // it is handed to libpq at each open and kept nowhere else.
    static void setServerPassword(const QString &password);
    static QString serverPassword();
    // Told on the thread of a statement that has waited a second for a server's answer
    // (true), and again once it came (false). Set once, before any connection is used.
    static void setWaitNotice(void (*notice)(bool waiting));

    // ExistingFileOnly refuses to create a missing file: the one real connection of the
    // application uses it, so a vanished database file never turns into an empty one
    // that every later start would find and use.
    using OpenMode = ConnectionSettings::OpenMode;

    explicit Database(const QString &databasePath, OpenMode openMode = OpenMode::CreateIfMissing);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    QString databasePath() const { return m_settings.path; }
    // The engine's own words for what the two say differently, and its answers about
    // itself (see EngineConnection).
    const SqlDialect &dialect() const { return m_engine->dialect(); }
    // Whether a transaction is open (the engine may have rolled one back by itself).
    bool isInTransaction() const { return m_engine->isInTransaction(); }
    // Whether the book is no longer at its path (deleted or replaced since it opened).
    bool isGoneFromItsPath() const { return m_engine->isGoneFromItsPath(); }
    bool isOpen() const { return m_engine->isOpen(); }
    // How long a server may take over one answer (a long copy); set before open().
    void setAnswerTimeout(int seconds) { m_settings.answerTimeoutSeconds = seconds; }
    // A server's password for this connection only (one being tried); set before open().
    void setPassword(const QString &password) { m_settings.password = password; }
    // True when the open file can only be read (SQLite falls back to reading when the
    // file is write-protected); every write will then fail.
    bool isReadOnly() const;
    // Opens the file for reading only from the next open on (a damaged file, or one
    // written by a newer program, is kept as it is). Closes an open connection.
    void setOpenReadOnly(bool readOnly);
    bool opensReadOnly() const { return m_settings.openReadOnly; }
    sqlite3 *handle() const { return m_engine->fileHandle(); }

    bool logsErrors() const { return m_settings.logsErrors; }
    void setLogsErrors(bool logsErrors) { m_settings.logsErrors = logsErrors; }
    double maxBusyRetryTimeInterval() const { return m_settings.maxBusyRetryTimeInterval; }
    void setMaxBusyRetryTimeInterval(double seconds)
    {
        m_settings.maxBusyRetryTimeInterval = seconds;
    }

    // A long read on a worker thread (the quick check of the whole file, a list read or
    // searched on its own connection) holds the file's shared lock, which a save of another
    // connection must wait out before it can commit. A connection that yields is
    // interrupted whenever another connection of this process starts waiting for a lock:
    // its statement fails with SQLITE_INTERRUPT, its lock goes, and it tries again later.
    // A connection that yields never interrupts others itself: the writer it waits for
    // has done that. Set before open().
    void setYieldsToWriters(bool yields) { m_settings.yieldsToWriters = yields; }
    // Which writers a yielding connection gives way to: every one (the quick check), or
    // all but those that write in the background (a list's reads: the search index's
    // fill commits a batch every few hundred milliseconds, and a search reading the whole
    // book would start over at each one of them, never to finish).
    using YieldsTo = ConnectionSettings::YieldsTo;
    void setYieldsTo(YieldsTo yieldsTo) { m_settings.yieldsTo = yieldsTo; }
    // A writer behind the window (the search index's fill), which waits for the lists'
    // reads to end rather than interrupting them. Set before open().
    void setWritesInBackground(bool background) { m_settings.writesInBackground = background; }
    // A connection that reads the whole book once, from end to end (a proof); set before
    // open().
    void setReadsWholeBook(bool whole) { m_settings.readsWholeBook = whole; }
    // Interrupts the statement running on each open yielding connection but `except` that
    // gives way to a writer of the kind waiting; safe from any thread (the window closing
    // while its check runs).
    enum class Writer { Foreground, Background };
    static void interruptYieldingConnections(sqlite3 *except = nullptr,
                                             Writer waiting = Writer::Foreground);
    // A read its owner may give up on another thread (a list read again before it was
    // done): once *cancel is true the statement running stops with SQLITE_INTERRUPT within
    // a thousand of SQLite's instructions, where it would otherwise run to its end, holding
    // the file's shared lock all the while. Set before open(); *cancel must outlive the
    // connection.
    void setCancel(const std::atomic_bool *cancel) { m_settings.cancel = cancel; }

    bool open();
    bool close();
    // On a server: closes the connection when the server has already hung up on it (see
    // PgConnection::hasHungUp), so that the next open() makes a new one. Costs no round
    // trip; a write whose outcome matters then fails only if it went out.
    void closeIfServerHungUp();
    bool executeStatements(const QString &sql);
    // Kept: on a server, prepared once on the session and planned once (a statement every
    // save runs with other values); a file's statements are planned each time alike.
    using Plan = ConnectionSettings::Plan;
    std::unique_ptr<ResultSet> executeQuery(const QString &sql, const QStringList &arguments = {},
                                            Plan plan = Plan::EachTime);
    // The same with values that may be NULL.
    std::unique_ptr<ResultSet> executeWithValues(const QString &sql, const SqlValues &arguments,
                                                 Plan plan = Plan::EachTime);

    // Reads without parameters asked together: a server answers them all in one round
    // trip. One result set for each statement that ran, in order, up to the first that
    // failed (lastError() says why): fewer than asked is a failure. Only reads, since
    // they may run as one transaction or as several.
    std::vector<std::unique_ptr<ResultSet>> executeEach(const QStringList &statements);

    // Writes a consistent copy of this connection's "main" database to `path`, which must
    // not exist yet, with SQLite's online backup: it reads under a shared lock, so another
    // program's half-written transaction is never copied, as a byte copy of the file could.
    // While another connection holds the file's exclusive lock, it retries for the busy
    // interval and then gives up. Opens this connection when it is closed. On failure the
    // partial copy is removed and `error` says why, in Chinese. The copy goes in steps of
    // backupPagesPerStep pages, each under its own read lock, so that another connection
    // can write the book meanwhile; GiveWay pauses between steps too (a copy on a worker
    // thread, which nobody waits for). When `cancel` turns true it stops after the step
    // running. Safe on a worker thread for a connection that thread opened.
    enum class BackupPace { Continuous, GiveWay };
    bool backupTo(const QString &path, QString *error = nullptr,
                  BackupPace pace = BackupPace::Continuous,
                  const std::atomic_bool *cancel = nullptr);
    static constexpr int backupPagesPerStep = 256;
    static constexpr int backupPauseMilliseconds = 4;
    static constexpr int backupRestartsBeforeOneStep = 6;

    // Set by a transaction while it is open. A server's connection lost within one is not
    // made anew until the transaction has ended: the statements after the loss would
    // otherwise run on a new connection, each committed on its own, and the commit would
    // seem to succeed for a transaction the server had rolled back.
    void setInTransaction(bool inTransaction) { m_settings.inTransaction = inTransaction; }

    qsizetype openResultSetCount() const { return m_openResultSets.size(); }
    // The rows all statements of this connection have inserted, changed or deleted so
    // far: a write compares it before and after to learn whether it touched any row.
    qint64 totalChanges() const;
    // How many queries and batches this connection was asked to run: what a change costs
    // in statements, for the tests that keep it small.
    qint64 statementsSent() const { return m_statementsSent; }
    // The last failure on this connection (or of the last failed open); none after a
    // success.
    DatabaseError lastError() const { return m_engine->lastError(); }
    // The engine's name for this connection's session (see ChangeListener::Notice).
    int sessionId() const { return m_engine->sessionId(); }
    QString description() const;
    // The book as the user names it: its path, or "user@host:port/database".
    QString bookName() const { return m_engine->description(); }

private:
    friend class ResultSet;
    void resultSetDidClose(ResultSet *resultSet) { m_openResultSets.remove(resultSet); }

    ConnectionSettings m_settings;
    std::unique_ptr<EngineConnection> m_engine;
    qint64 m_statementsSent = 0;
    QSet<ResultSet *> m_openResultSets;
};

// Writes one diagnostic line of the database layer to standard error.
void writeDatabaseDiagnostic(const QString &line);
