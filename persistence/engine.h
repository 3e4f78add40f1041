// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "databaseerror.h"

struct sqlite3;
class SqlDialect;

// How a connection is to behave, set on its Database before it opens and read by the
// engine beneath it.
struct ConnectionSettings
{
    enum class OpenMode { CreateIfMissing, ExistingFileOnly };
    enum class DeskLock { Required, WhenFree };
    enum class YieldsTo { EveryWriter, ForegroundWriters };
    enum class Plan { EachTime, Kept };

    QString path;
    OpenMode openMode = OpenMode::CreateIfMissing;
    bool openReadOnly = false;
    bool logsErrors = true;
    double maxBusyRetryTimeInterval = 2.0;
    bool yieldsToWriters = false;
    YieldsTo yieldsTo = YieldsTo::EveryWriter;
    bool writesInBackground = false;
    // Reads the whole book once, from end to end (a proof): a file keeps more of its pages.
    bool readsWholeBook = false;
    const std::atomic_bool *cancel = nullptr;
    bool inTransaction = false;
    DeskLock deskLock = DeskLock::Required;
    // How long a server may take over one answer before it is given up; 0: the usual.
    int answerTimeoutSeconds = 0;
    // A server's password for this connection only; empty: the one given for this run.
    QString password;
};

// The values bound to a statement's parameters in order; an empty one is NULL.
using SqlValues = QList<std::optional<QString>>;

// The rows of one statement as one engine steps through them.
class EngineRows
{
public:
    virtual ~EngineRows() = default;
    // The next row; false at the end of the rows, or on an error, which then fills `error`.
    virtual bool next(DatabaseError &error) = 0;
    // Whether the rows let go of their statement once they end (a file's statement holds
    // the file's read lock until then).
    virtual bool closesAtEnd() const = 0;
    virtual int columnCount() const = 0;
    // The index of the column named `lowerName` (in lower case), -1 when there is none.
    virtual int columnIndex(const QString &lowerName) = 0;
    // The column's text as UTF-8, valid until the next step; nothing for SQL NULL.
    virtual std::optional<QByteArrayView> bytes(int column) const = 0;
    virtual int intValue(int column) const { return int(int64Value(column)); }
    virtual qint64 int64Value(int column) const = 0;
    virtual double doubleValue(int column) const = 0;
};

// How one engine words what the engines say differently, and what it can do. One object
// per engine, living as long as the program: a statement built on another thread may keep
// it.
class SqlDialect
{
public:
    virtual ~SqlDialect() = default;
    // Whether the connection is still good after a statement failed (a server's: the
    // failure ended only its transaction), or must be opened anew.
    virtual bool survivesFailedStatement() const = 0;

    // The statement that begins a write transaction, and one whose reads all see the book
    // as it was when the first of them ran.
    virtual QString beginStatement() const = 0;
    virtual QString snapshotBeginStatement() const = 0;
    // A name (of a table, a role) as a statement writes it, whatever it holds.
    QString quotedIdentifier(const QString &name) const
    {
        QString quoted = name;
        quoted.replace(u'"', QStringLiteral("\"\""));
        return u'"' + quoted + u'"';
    }
    // The statements answering how many of the tables `names` exist, whether the index
    // `name` exists, and which columns `table` has (position, name; ordered).
    virtual QString tableCountStatement(const QStringList &names) const = 0;
    virtual QString indexCountStatement(const QString &name) const = 0;
    virtual QString columnsStatement(const QString &table) const = 0;
    // The statement giving a count that moves with every commit to the book, and whether
    // it counts this connection's own commits too (a server's sequence does; SQLite's
    // data version does not).
    virtual QString dataVersionStatement() const = 0;
    virtual bool dataVersionCountsOwnCommits() const = 0;
    // The statement checking the book's own storage: rows of findings, "ok" when whole.
    // Empty when the engine keeps its storage whole itself (a server).
    virtual QString integrityCheckStatement() const = 0;
    // What a query locking the rows it reads until the commit ends with (empty where the
    // transaction holds the whole book already).
    virtual QString rowLockClause() const = 0;
    // How a statement asks whether two values differ, nulls included.
    virtual QString isDistinctFrom() const = 0;
    // The alias a subquery in a from clause needs, with its leading space.
    virtual QString subqueryAlias(const QString &name) const = 0;

    // What follows "from table" to have a query read through the index `name` (empty where
    // the engine's planner takes no such hint), and a limit that limits nothing.
    virtual QString indexHint(const QString &name) const = 0;
    virtual QString noLimit() const = 0;

    // --- what the engine can do ---
    // Whether the book is one file on this machine: it has a folder, is checked, mended and
    // brought up to date as a file, copied whole, restored over in the window and held by
    // one program at a time. A server's book is none of that: the server keeps it for the
    // desks it serves.
    virtual bool livesInAFile() const = 0;
    // The statements counting the table `table`, and its column `column`, by their names in
    // any letter case.
    virtual QString tableExistsStatement(const QString &table) const = 0;
    virtual QString columnExistsStatement(const QString &table, const QString &column) const = 0;
    // Whether a column holds values of its declared type only (a server's text column holds
    // texts), where a file's column may hold any value another program wrote.
    virtual bool keepsColumnTypes() const = 0;
    // Whether the book's schema carries procedures that decide a write on the engine's side
    // in one statement (a shared book from version 5 on).
    virtual bool runsProcedures() const = 0;
    // Whether each statement crosses a network to another machine (a server): a write then
    // asks several things in one statement where a file's asks them one by one.
    virtual bool isRemote() const = 0;
    // Whether a book on the engine keeps the receipts' search index (a file's table of
    // search texts); a server searches its rows as they are.
    virtual bool keepsSearchIndex() const = 0;
    // Whether a text may hold U+0000.
    virtual bool keepsNulInText() const = 0;
    // Whether "in ()" with no values is a statement the engine takes.
    virtual bool takesEmptyLists() const = 0;
    // Whether the engine reads a statement's rows as they are stepped (a file) rather than
    // all at once, before the first (a server sends them whole).
    virtual bool stepsRowsLazily() const = 0;
    // The statement that tells the other connections of `channel`, delivered when the
    // transaction commits; empty where nobody else listens (a file: its readers ask the data
    // version instead).
    virtual QString changeNoticeStatement(const QString &channel, const QString &payload) const
    {
        (void)channel, (void)payload;
        return {};
    }
    // One of two texts of a statement the engines word differently: a file's, or a server's.
    virtual QString inDialect(const QString &fileText, const QString &serverText) const = 0;
};

// One engine's connection to one book. Failures come back as false or no rows, with the
// reason in lastError(), its kind given by the engine. The dialect's questions are
// answered with statements the caller runs as any other.
class EngineConnection
{
public:
    explicit EngineConnection(const ConnectionSettings &settings)
        : m_settings(settings)
    { }
    virtual ~EngineConnection() = default;
    EngineConnection(const EngineConnection &) = delete;
    EngineConnection &operator=(const EngineConnection &) = delete;

    virtual QString description() const = 0;
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool isReadOnly() const = 0;
    // Closes a connection the other side has hung up on while it sat idle; costs nothing.
    virtual void closeIfHungUp() { }
    virtual bool executeStatements(const QString &sql) = 0;
    virtual std::unique_ptr<EngineRows> query(const QString &sql, const SqlValues &arguments,
                                              ConnectionSettings::Plan plan)
        = 0;
    // Statements without parameters run one after another, each one's rows in order, up to
    // the first that fails (the rows end there); a server answers them all at once.
    virtual std::vector<std::unique_ptr<EngineRows>> queryEach(const QStringList &statements)
    {
        std::vector<std::unique_ptr<EngineRows>> answers;
        for (const QString &sql : statements) {
            answers.push_back(query(sql, {}, ConnectionSettings::Plan::EachTime));
            if (!answers.back()) {
                answers.pop_back();
                break;
            }
        }
        return answers;
    }
    virtual qint64 totalChanges() const = 0;
    virtual DatabaseError lastError() const = 0;
    // The engine's name for this connection's session, as a change notice names its sender
    // (ChangeListener); 0 when closed, and on a file.
    virtual int sessionId() const { return 0; }

    // --- the connection's state, and its engine's words ---
    // Whether the book is no longer where the connection opened it (a file deleted, or
    // replaced by another: a backup moved into place); a write must not go to it then.
    virtual bool isGoneFromItsPath() const { return false; }
    // Whether a transaction is open on the connection (an engine may have rolled it back
    // on its own: an I/O error, a full disk, a lost connection).
    virtual bool isInTransaction() const = 0;
    // The engine's words and answers about itself; they live as long as the program.
    virtual const SqlDialect &dialect() const = 0;

    // Writes a consistent copy of the book to `path` (see Database::backupTo); a server's
    // book cannot be copied so.
    virtual bool backupTo(const QString &path, QString *error, bool giveWay,
                          const std::atomic_bool *cancel)
    {
        (void)path, (void)giveWay, (void)cancel;
        if (error)
            *error = QStringLiteral(u"共享账本不能这样备份");
        return false;
    }

    // A file's connection (its SQLite handle); null on a server.
    virtual sqlite3 *fileHandle() const { return nullptr; }

protected:
    const ConnectionSettings &m_settings;
};

// Column text as UTF-8, or nothing when the bytes are not valid UTF-8. A value that begins
// with U+FEFF keeps it.
std::optional<QString> decodeColumnText(QByteArrayView bytes);

// The words of a server's engine, for statements built for a server's book without a
// connection to it in hand.
const SqlDialect &serverDialect();

// A file's engine, and a server's (`path` a postgresql:// URI).
std::unique_ptr<EngineConnection> makeFileEngine(const ConnectionSettings &settings);
std::unique_ptr<EngineConnection> makeServerEngine(const ConnectionSettings &settings);
