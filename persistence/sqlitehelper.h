#pragma once

#include "database.h"

#include <QString>

#include <memory>

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

    static QString dbName() { return QStringLiteral("Tovalin"); }

    // Where the template database is looked for: $QUENTA_TEMPLATE when set, else
    // beside the executable (build tree), else ../share/quenta (installed tree).
    static QString templatePath();
    // $QUENTA_DOCUMENTS_DIR when set, else the user's documents folder.
    static QString documentsDirectory();

    Database &db();
    QString dbURL();

    // The read pattern of every load: open, then query. Nothing (no rows) when the
    // connection does not open or the statement does not prepare.
    std::unique_ptr<ResultSet> query(const QString &sql);
    // The write pattern of every insert, update and delete: open, execute, and close
    // the connection again when either fails (the next use reopens it). A write to an
    // open connection whose file has been deleted or replaced since it opened fails too.
    bool write(const QString &sql);

    // Runs a "select count(*)" statement and answers whether the count is above 0.
    // A failed open or a statement that does not prepare answers false.
    bool exists(const QString &sql);

    // False when the database file could not be put in place (no template, failed
    // copy). The connection then refuses to open instead of creating an empty file.
    bool isAvailable();
    // What went wrong, in Chinese, for the message the window shows; empty if nothing.
    QString failureMessage();
    // Opens the connection and runs a trivial query, so a file that is not a database
    // is found at start rather than at the first save.
    bool checkUsable(QString *error = nullptr);

private:
    SQLiteHelper() = default;
    void computeURL();

    QString m_dbURL;
    bool m_computed = false;
    bool m_available = true;
    QString m_failureMessage;
    std::unique_ptr<Database> m_db;
};
