// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

// Values sent with a statement, in the order of its $1, $2, …: text as the server reads
// it, nothing for SQL NULL. They travel apart from the statement's text, so no value is
// ever spliced into SQL.
using PgParameters = QList<std::optional<QString>>;

// SQLSTATEs the callers act on.
namespace PgState {
inline constexpr QStringView serializationFailure = u"40001";
inline constexpr QStringView deadlockDetected = u"40P01";
inline constexpr QStringView uniqueViolation = u"23505";
inline constexpr QStringView insufficientPrivilege = u"42501";
inline constexpr QStringView inFailedTransaction = u"25P02";
inline constexpr QStringView activeTransaction = u"25001";
inline constexpr QStringView invalidByteSequence = u"22021";
// A lock waited for longer than the session's lock_timeout (another desk holds the row).
inline constexpr QStringView lockNotAvailable = u"55P03";
// Refused by this program, not the server: the session no longer reads a quoted text as
// it was written (standard_conforming_strings off, or another client encoding).
inline constexpr QStringView unsafeSession = u"QU001";
// An open or reconnect that failed, a connection string refused included.
inline constexpr QStringView cannotConnect = u"08001";
// The server sends no SQLSTATE for a connection that breaks (it is gone): libpq's own
// failures are given this one, the class-08 code for a failed connection.
inline constexpr QStringView connectionFailure = u"08006";
} // namespace PgState

// What went wrong with the last statement or open: the SQLSTATE and the server's (or
// libpq's) message. An empty state means no failure.
struct PgError
{
    QString sqlState;
    QString message;
    // The connection is gone (server stopped, network lost, open failed): only a
    // reconnect helps.
    bool connectionLost = false;

    bool isEmpty() const { return sqlState.isEmpty(); }
    // A conflict with another connection's transaction (serialization failure, deadlock):
    // the whole transaction, run again from its start, may then succeed.
    bool isRetryable() const
    {
        return sqlState == PgState::serializationFailure || sqlState == PgState::deadlockDetected;
    }
    // "SQLSTATE message", for a diagnostic line.
    QString text() const;
};

class DatabaseError;
// What a server's failure means, by its SQLSTATE; none for a success.
DatabaseError serverError(const PgError &error);

// The rows of one statement, all held in memory as libpq gives them (text form). Columns
// by index or by name, in any letter case. Reading a row or column out of range, or a
// NULL, gives nothing.
class PgResult
{
public:
    PgResult() = default;
    explicit PgResult(pg_result *result);
    ~PgResult();
    PgResult(PgResult &&other) noexcept;
    PgResult &operator=(PgResult &&other) noexcept;
    PgResult(const PgResult &) = delete;
    PgResult &operator=(const PgResult &) = delete;

    int rowCount() const;
    int columnCount() const;
    int columnIndex(const QString &name) const;
    // Rows an INSERT, UPDATE or DELETE touched; 0 for other statements.
    qint64 affectedRows() const;
    // The server's tag for what the statement did ("INSERT 0 1", "COMMIT", "ROLLBACK").
    QString commandStatus() const;

    bool isNull(int row, int column) const;
    std::optional<QString> text(int row, int column) const;
    // The column's bytes as the server sent them (UTF-8), valid while this result lives.
    std::optional<QByteArrayView> bytes(int row, int column) const;
    // A column the server gives as an integer (bigint, integer, count(*)); nothing for
    // NULL or text that is not a whole number.
    std::optional<qint64> int64(int row, int column) const;

private:
    pg_result *m_result = nullptr;
};

// A notification another connection sent with NOTIFY (delivered when its transaction
// committed): the channel, the payload and the server process that sent it.
struct PgNotification
{
    QString channel;
    QString payload;
    int senderPid = 0;
};

// One connection to a PostgreSQL server through libpq. A connection is used by one
// thread at a time. Nothing throws: failures come back as false or as no result, with
// the error in lastError(). Statements run synchronously; a connection to a server that
// stopped fails at once, one whose host no longer answers fails when libpq's keepalives
// give up on it, and one whose server says nothing for answerTimeout() is given up too.
//
// Every session is started with the settings a statement's meaning depends on, whatever
// the server, the database or the role has set: standard_conforming_strings on (a quoted
// text holds no backslash escapes) and the client encoding UTF8. The server reports both
// whenever they change; a statement is refused while either is otherwise. A session also
// waits at most lockWaitSeconds for a row another session holds, and the server ends it
// when it sits idle inside a transaction for idleInTransactionSeconds (a desk frozen while
// holding a row then lets go of it).
class PgConnection
{
public:
    // How long a session waits: for a row another session holds; idle inside a
    // transaction before the server ends it; for a byte of an answer from the server
    // (answerTimeout()); before the waiting notice is told (see setWaitNotice). Set before a
    // connection opens; tests shorten them.
    struct Timeouts
    {
        int lockWaitSeconds = 20;
        int idleInTransactionSeconds = 20;
        int answerSeconds = 30;
        int noticeMilliseconds = 1000;
    };
    static Timeouts timeouts();
    static void setTimeouts(const Timeouts &timeouts);

    // Told on the thread of a statement that has waited waitNoticeMilliseconds for its
    // answer (true), and again once the answer came (false): the window says that it is
    // waiting for another desk. Set once by the program, before any connection is used.
    static void setWaitNotice(void (*notice)(bool waiting));

    // A libpq connection string, key=value pairs or a postgresql:// URI, as libpq parses
    // it (host, port, dbname, user, sslmode, …). Passwords come only from libpq's own
    // places (~/.pgpass, PGPASSWORD) or from open(): a string that carries one is refused,
    // so that no password is ever written into settings or onto a command line.
    explicit PgConnection(const QString &connectionString);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    QString connectionString() const { return m_connectionString; }

    // Whether the session refuses every write (default_transaction_read_only), from the
    // next open on.
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    // How long a statement may go without a byte from the server before the connection is
    // given up as lost; 0 waits as long as it takes (long maintenance: a copy of a book).
    void setAnswerTimeout(int seconds) { m_answerTimeoutSeconds = seconds; }
    int answerTimeout() const { return m_answerTimeoutSeconds; }
    // Whether the session reads statements as they are written (see the class comment).
    bool isSessionSafe() const;

    // Connects (waits at most connect_timeout, 10 s unless the string says otherwise).
    // `password`, when given, is handed to libpq for this connection and its reconnects
    // and kept nowhere else.
    bool open(const QString &password = {});
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    // Whether the connection still works: one empty statement goes to the server and
    // back (a server that stopped has closed the socket; libpq alone learns that only
    // when it next reads). The last error stays unless the connection is gone.
    bool isAlive();
    // Whether the server has already hung up on this idle connection (it shut down, or
    // ended the session, and said so), learnt from what it sent without asking it: a
    // statement sent now would be lost before it got there.
    bool hasHungUp();
    // Connects again with the same parameters (and password). The channels listened to
    // are listened to again; the socket changes, so a notifier on the old one must be
    // made anew.
    bool reconnect();

    // Runs statements without parameters (several, separated by semicolons, are allowed).
    bool executeStatements(const QString &sql);
    // Runs one statement with its parameters as $1, $2, …; the rows, or nothing on
    // failure (see lastError()). Without parameters, several statements may run; the rows
    // are the last one's.
    std::optional<PgResult> executeQuery(const QString &sql, const PgParameters &parameters = {});
    // The same, prepared on the session the first time it runs and kept: the server plans
    // it once rather than each time (the plan of a statement over several tables can cost
    // more than its round trip). For statements run again and again with other values.
    std::optional<PgResult> executePrepared(const QString &sql, const PgParameters &parameters);
    // Several statements without parameters, separated by semicolons, sent together and
    // answered together (one round trip): the rows of each, in order, or nothing when one
    // failed (those after it did not run). They run as one transaction unless they begin
    // their own.
    std::optional<std::vector<PgResult>> executeEach(const QString &sql);
    // One statement with parameters whose rows are not needed; false on failure.
    bool executeUpdate(const QString &sql, const PgParameters &parameters);

    PgError lastError() const { return m_lastError; }
    // The server's process serving this connection (as a notification names its sender).
    int serverPid() const;
    // "user@host:port/database" for the window's title and diagnostics; no password.
    QString description() const;

    // A name quoted as an SQL identifier (a table, a channel, a role), for the statements
    // that take no parameters there (LISTEN, GRANT).
    static QString quoteIdentifier(const QString &name);

    // LISTEN/NOTIFY. listen() remembers the channel for reconnect(). notify() sends in
    // the current transaction, if any: the listeners get it when that commits.
    bool listen(const QString &channel);
    bool unlisten(const QString &channel);
    bool notify(const QString &channel, const QString &payload);
    // The connection's socket, for a QSocketNotifier that wakes when the server sends
    // something; -1 when not connected.
    int socket() const;
    // Reads what has arrived on the socket without waiting; false when the connection
    // broke (then lastError() says so). Call it when the socket is readable, then take
    // the notifications.
    bool consumeInput();
    // The notifications received so far (while consuming input or running statements),
    // oldest first; they are handed out once.
    QList<PgNotification> takeNotifications();

private:
    bool checkResult(pg_result *result);
    void noteConnectionFailure();
    bool checkSession();
    bool awaitInput(qint64 *waitedSince, bool *told);
    // `earlier`, when given, takes the answers of all statements but the last.
    std::optional<PgResult> run(const QString &sql, const PgParameters &parameters,
                                bool prepared = false, std::vector<PgResult> *earlier = nullptr);
    // Waits for the answer of what was sent, as awaitInput() waits.
    std::optional<PgResult> finishWithResult(std::vector<PgResult> *earlier = nullptr);
    bool finish();

    QString m_connectionString;
    pg_conn *m_handle = nullptr;
    PgError m_lastError;
    QSet<QString> m_channels;
    // The statements prepared on this session, by their text, and their names.
    QHash<QString, QByteArray> m_prepared;
    bool m_readOnly = false;
    bool m_running = false;
    int m_answerTimeoutSeconds = timeouts().answerSeconds;
};
