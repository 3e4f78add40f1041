#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

class Database;

// Owns one prepared statement; the last owner to let go finalizes it.
class Statement
{
public:
    explicit Statement(sqlite3_stmt *statement);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *handle() const { return m_statement; }
    void reset();
    void close();

private:
    sqlite3_stmt *m_statement = nullptr;
};

// A forward-only cursor over the rows of one query. Columns are read by index or by
// name; names match in any letter case. A default-constructed result set has no
// statement and simply yields no row.
class ResultSet
{
public:
    ResultSet() = default;
    ResultSet(std::shared_ptr<Statement> statement, Database *parent, bool shouldAutoClose);
    ~ResultSet();
    ResultSet(const ResultSet &) = delete;
    ResultSet &operator=(const ResultSet &) = delete;

    bool next();
    void close();

    int columnCount() const;
    int columnIndexForName(const QString &name);

    std::optional<QString> stringForColumn(const QString &name);
    std::optional<QString> stringForColumnIndex(int index) const;
    int intForColumn(const QString &name);
    int intForColumnIndex(int index) const;
    qint64 int64ForColumnIndex(int index) const;
    double doubleForColumn(const QString &name);
    double doubleForColumnIndex(int index) const;

private:
    friend class Database;
    void detachFromParent() { m_parent = nullptr; }

    std::shared_ptr<Statement> m_statement;
    Database *m_parent = nullptr;
    bool m_shouldAutoClose = false;
    QHash<QString, int> m_columnNameToIndexMap;
};

// One connection to one SQLite file. Nothing throws: failures come back as false or
// as no result set, with a diagnostic line on standard error.
class Database
{
public:
    // ExistingFileOnly refuses to create a missing file: the one real connection of the
    // application uses it, so a vanished database file never turns into an empty one
    // that every later start would find and use.
    enum class OpenMode { CreateIfMissing, ExistingFileOnly };

    explicit Database(const QString &databasePath, OpenMode openMode = OpenMode::CreateIfMissing);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    QString databasePath() const { return m_databasePath; }
    bool isOpen() const { return m_isOpen; }
    // True when the open file can only be read (SQLite falls back to reading when the
    // file is write-protected); every write will then fail.
    bool isReadOnly() const;
    sqlite3 *handle() const { return m_handle; }

    bool logsErrors() const { return m_logsErrors; }
    void setLogsErrors(bool logsErrors) { m_logsErrors = logsErrors; }
    double maxBusyRetryTimeInterval() const { return m_maxBusyRetryTimeInterval; }
    void setMaxBusyRetryTimeInterval(double seconds) { m_maxBusyRetryTimeInterval = seconds; }

    bool open();
    bool close();
    bool executeStatements(const QString &sql);
    std::unique_ptr<ResultSet> executeQuery(const QString &sql, const QStringList &arguments = {});

    qsizetype openResultSetCount() const { return m_openResultSets.size(); }
    QString lastErrorMessage() const;
    QString description() const;

private:
    friend class ResultSet;
    static int busyHandler(void *context, int count);
    void resultSetDidClose(ResultSet *resultSet) { m_openResultSets.remove(resultSet); }

    QString m_databasePath;
    OpenMode m_openMode;
    sqlite3 *m_handle = nullptr;
    bool m_isOpen = false;
    bool m_isExecuting = false;
    bool m_logsErrors = true;
    double m_maxBusyRetryTimeInterval = 2.0;
    double m_busyStartTime = 0;
    QSet<ResultSet *> m_openResultSets;
};

// Writes one diagnostic line of the database layer to standard error.
void writeDatabaseDiagnostic(const QString &line);
