// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "database.h"
#include "schemaupgrade.h"

#include <QString>

#include <memory>
#include <optional>

// Owner of the database path and of the application's one connection. On first use it
// finds the file in the documents folder, copies the template there when the file is
// missing and prints where the database lives. Every store runs its SQL through db().
class SQLiteHelper
{
public:
    static SQLiteHelper &shared();
    // Forgets the shared instance (and closes its connection), so that the next use
    // starts over: tests point the environment at a fresh folder and call this.
    static void resetShared();
    // The lines saying where the database is go to standard error instead of standard
    // output: a command's standard output carries its result and nothing else.
    static void setConsoleLinesToStandardError(bool toStandardError);

    static QString dbName() { return QStringLiteral("Tovalin"); }

    // Where the template database is looked for: $QUENTA_TEMPLATE when set, else
    // beside the executable (build tree), else ../share/quenta (installed tree).
    static QString templatePath();
    // $QUENTA_DOCUMENTS_DIR when set, else the user's documents folder; empty when the
    // user has none (no home folder), for then there is no place for the book.
    static QString documentsDirectory();

    // The book named by --book or QUENTA_BOOK (a file path, or a postgresql:// URI of a
    // book on a server); empty for the default, Tovalin.db in the documents folder.
    static QString chosenBook();

    Database &db();
    // The book's path, or the URI of a book on a server.
    QString dbURL();
    // Whether the book is one file on this machine (see SqlDialect::livesInAFile), not a
    // book a server keeps for several desks.
    bool livesInAFile();
    // The book as the user names it: its path, or "user@host:port/database".
    QString bookName();

    // Whether a write changes no row is a failure: an update of a receipt that another
    // program deleted meanwhile must not be reported as saved.
    enum class Changes { Any, AtLeastOne };

    // Opens the connection; the first open of the run brings the file up to date
    // (SchemaUpgrade). False, with lastError() set, when it does not open.
    bool open();

    // The read pattern of every load: open, then query. Nothing (no rows) when the
    // connection does not open or the statement does not prepare. `arguments` are bound to
    // the statement's parameters ($1, $2, … on either engine) as texts.
    std::unique_ptr<ResultSet> query(const QString &sql, const QStringList &arguments = {},
                                     Database::Plan plan = Database::Plan::EachTime);
    // Reads asked together (see Database::executeEach): all their result sets, or none.
    std::vector<std::unique_ptr<ResultSet>> queryEach(const QStringList &statements);
    // The write pattern of every insert, update and delete: open, execute, and close
    // the connection again when either fails (the next use reopens it). A write to an
    // open connection whose file has been deleted or replaced since it opened fails too.
    bool write(const QString &sql, Changes changes = Changes::Any);

    // Runs a "select count(*)" statement and answers whether the count is above 0.
    // A failed open or a statement that does not prepare answers false.
    bool exists(const QString &sql);
    // The count of a "select count(*)" statement; nothing when it could not be had (the
    // file is locked, damaged, or lacks the table), which callers must never take for 0.
    std::optional<qint64> count(const QString &sql, const QStringList &arguments = {},
                                Database::Plan plan = Database::Plan::EachTime);

    // SQLite's own answers about the open file; nothing when they cannot be had (the file
    // is locked or damaged).
    // How many of the tables `names` the file has.
    std::optional<qint64> tableCount(const QStringList &names);
    // Whether the file has the index `name`.
    std::optional<bool> hasIndex(const QString &name);
    // The names of the columns of `table` (one of the book's own tables, named as it is
    // written in a statement), as declared; empty when the file has no such table.
    std::optional<QStringList> columnNames(const QString &table);
    // A count of the commits other connections made to the file since this one opened:
    // equal answers mean none came in between.
    std::optional<qint64> dataVersion();
    // The same from the count the dialect's dataVersionStatement() gave, read along with
    // other rows in one statement.
    qint64 dataVersionOf(qint64 counted);
    // On a server book: a write of this program begins and ends. Its own writes are not
    // counted by dataVersion(), as SQLite does not count a connection's own commits.
    void beginOwnWrite();
    void endOwnWrite(bool committed);
    // The same for a write of one statement that knows how many changes it counted.
    void countOwnServerChanges(qint64 changes) { m_ownServerChanges += changes; }

    // Why the last open, query or write of this helper failed, in Chinese.
    QString lastError() const { return m_lastError; }
    // Records a query's failure found by its caller (a result set that stopped on an
    // error) as the last error, and answers its description.
    QString noteFailure(const DatabaseError &failure);

    // What the first open found and mended.
    SchemaReport schemaReport() const { return m_schemaReport; }
    // What SQLite's quick integrity check found: empty when the file passed (or has not
    // been checked yet), else a few lines. A damaged file is opened for reading only.
    QString damage() const { return m_damage; }

    // When the quick check runs. It reads the whole file: the window's start leaves it to
    // a worker thread after the window shows (BookMaintenance), which tells its findings
    // through noteDamage(); a command checks at the first open, before it writes anything.
    // Either way an older book is checked before the upgrade writes into it.
    enum class FileCheck { AtFirstOpen, Later };
    void setFileCheck(FileCheck fileCheck) { m_fileCheck = fileCheck; }
    // Whether the first open left the quick check to be done later.
    bool isFileCheckPending() const { return m_fileCheckPending; }
    // Records what a later quick check found: a damaged file is from then on opened for
    // reading only, as if the check had run at the first open.
    void noteDamage(const QString &damage);
    // SQLite's quick check of an open connection's file: its findings (empty: the file
    // passed), or nothing when a lock held by another program kept it from running.
    static std::optional<QString> quickCheck(Database &database);

    // False when the database file could not be put in place (no template, failed
    // copy). The connection then refuses to open instead of creating an empty file.
    bool isAvailable();
    // What went wrong, in Chinese, for the message the window shows; empty if nothing.
    QString failureMessage();
    // Opens the connection (which reads the schema) and runs `probe`, a read of the book's
    // first row, so a file that is not a database is found at start rather than at the
    // first save. Reads no more than that: on a large book a whole-file read would hold up
    // the window.
    bool checkUsable(QString *error = nullptr, const QString &probe = {});

private:
    SQLiteHelper() = default;
    void computeURL();
    bool openServer();

    QString m_dbURL;
    bool m_computed = false;
    bool m_upgraded = false;
    bool m_folderChecked = false;
    SchemaReport m_schemaReport;
    QString m_lastError;
    QString m_damage;
    FileCheck m_fileCheck = FileCheck::AtFirstOpen;
    bool m_fileCheckPending = false;
    bool m_available = true;
    QString m_failureMessage;
    std::unique_ptr<Database> m_db;
    std::optional<qint64> serverChanges();
    qint64 m_ownServerChanges = 0;
    std::optional<qint64> m_serverChangesAtBegin;
};
