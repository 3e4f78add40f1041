// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"
#include "pgconnection.h"
#include "pgtestserver.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QtTest>

#include <memory>
#include <thread>

#include <csignal>

using namespace Qt::StringLiterals;

// The libpq connection against a server of the test's own: values that would break a
// statement they were spliced into, errors and their SQLSTATEs, LISTEN/
// NOTIFY, a server that goes away, and the conflicts of two connections.
class tst_PgConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void opening_data();
    void opening();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void readingColumns();
    void errorsNameTheirState_data();
    void errorsNameTheirState();
    void notificationArrivesAfterCommit();
    void serverGoesAwayAndComesBack();
    void conflictsAreRetryable_data();
    void conflictsAreRetryable();
    void quotesMeanTheSameWhateverTheServerSets_data();
    void quotesMeanTheSameWhateverTheServerSets();
    void sessionTurnedUnsafeIsRefused_data();
    void sessionTurnedUnsafeIsRefused();
    void heldRowIsWaitedForAWhileOnly();
    void sessionIdleInATransactionIsEnded();
    void serverThatNeverAnswersIsGivenUp();
    void commitAnsweredWithRollbackFails();

private:
    std::unique_ptr<PgConnection> connect() const
    {
        auto connection = std::make_unique<PgConnection>(m_server->socketUri(m_database));
        if (!connection->open())
            qWarning("cannot connect: %s", qPrintable(connection->lastError().text()));
        return connection;
    }

    PgTestServer *m_server = nullptr;
    QString m_database;
};

namespace {
const QString deskPassword = u"秘密'pw\\1"_s;

// Runs `sql` on `connection` and answers its first column of its first row.
std::optional<QString> scalar(PgConnection &connection, const QString &sql,
                              const PgParameters &parameters = {})
{
    const std::optional<PgResult> result = connection.executeQuery(sql, parameters);
    return result ? result->text(0, 0) : std::nullopt;
}
} // namespace

void tst_PgConnection::initTestCase()
{
    QElapsedTimer started;
    started.start();
    m_server = &PgTestServer::shared();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->startError()));
    qInfo("server in %s, started in %lld ms", qPrintable(m_server->folder()), started.elapsed());
    m_database = m_server->createDatabase();
    QVERIFY(!m_database.isEmpty());
    QVERIFY(m_server->createRole(u"desk"_s, deskPassword));
    QVERIFY(m_server->execute(u"GRANT ALL ON SCHEMA public TO desk"_s, m_database));
}

namespace {
// What the wait notice was told, in order ("+" waiting, "-" answered).
QString &noticesTold()
{
    static QString told;
    return told;
}
void tellNotice(bool waiting)
{
    noticesTold() += waiting ? u'+' : u'-';
}

// Shorter waits for one test, as they were after it.
struct ShortTimeouts
{
    explicit ShortTimeouts(const PgConnection::Timeouts &timeouts)
        : m_before(PgConnection::timeouts())
    {
        PgConnection::setTimeouts(timeouts);
    }
    ~ShortTimeouts() { PgConnection::setTimeouts(m_before); }
    PgConnection::Timeouts m_before;
};
} // namespace

void tst_PgConnection::init()
{
    // Every test starts from an empty table t whose texts are unique (by their hash: an
    // index row holds at most 8 kB).
    QVERIFY(m_server->execute(u"DROP TABLE IF EXISTS t, accounts; "
                              u"CREATE TABLE t (id serial PRIMARY KEY, v text); "
                              u"CREATE UNIQUE INDEX ON t (md5(v))"_s,
                              m_database));
}

void tst_PgConnection::opening_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("environmentPassword");
    QTest::addColumn<QString>("openPassword");
    QTest::addColumn<QString>("failure"); // a part of the message; empty: it opens

    const QString tcp = m_server->tcpUri(m_database, u"desk"_s);
    QTest::newRow("socket, trusted")
        << m_server->socketUri(m_database) << QString() << QString() << QString();
    QTest::newRow("tcp, PGPASSWORD") << tcp << deskPassword << QString() << QString();
    QTest::newRow("tcp, password given to open") << tcp << QString() << deskPassword << QString();
    QTest::newRow("tcp, no password") << tcp << QString() << QString() << u"password"_s;
    QTest::newRow("tcp, wrong password")
        << tcp << u"wrong"_s << QString() << u"password authentication failed"_s;
    // Refused even though the password is right: it would end up in the settings.
    QTest::newRow("password in the URI")
        << u"postgresql://desk:pw@127.0.0.1:%1/%2"_s.arg(m_server->port()).arg(m_database)
        << QString() << QString() << u"PGPASSWORD"_s;
    QTest::newRow("password as a keyword")
        << u"host=127.0.0.1 port=%1 dbname=%2 user=desk password='%3'"_s.arg(m_server->port())
               .arg(m_database,
                    QString(deskPassword).replace(u"\\"_s, u"\\\\"_s).replace(u"'"_s, u"\\'"_s))
        << QString() << QString() << u"PGPASSWORD"_s;
    QTest::newRow("not a connection string")
        << u"postgresql://[::1"_s << QString() << QString() << u"URI"_s;
    QTest::newRow("nobody listens")
        << u"postgresql://desk@127.0.0.1:1/x"_s << QString() << QString() << u"127.0.0.1"_s;
}

void tst_PgConnection::opening()
{
    QFETCH(QString, uri);
    QFETCH(QString, environmentPassword);
    QFETCH(QString, openPassword);
    QFETCH(QString, failure);
    if (!environmentPassword.isEmpty())
        qputenv("PGPASSWORD", environmentPassword.toUtf8());
    const auto unset = qScopeGuard([] { qunsetenv("PGPASSWORD"); });

    PgConnection connection(uri);
    const bool opened = connection.open(openPassword);
    if (!failure.isEmpty()) {
        QVERIFY(!opened);
        QVERIFY(!connection.isOpen());
        QCOMPARE(connection.lastError().sqlState, PgState::cannotConnect);
        QVERIFY(connection.lastError().connectionLost);
        QVERIFY2(connection.lastError().message.contains(failure),
                 qPrintable(connection.lastError().message));
        QVERIFY(!connection.executeQuery(u"select 1"_s));
        return;
    }
    QVERIFY2(opened, qPrintable(connection.lastError().text()));
    QVERIFY(connection.lastError().isEmpty());
    QCOMPARE(scalar(connection, u"select current_database()"_s), m_database);
    QCOMPARE(scalar(connection, u"show client_encoding"_s), u"UTF8"_s);
    QVERIFY(connection.description().endsWith(u'/' + m_database));
    QVERIFY(!connection.description().contains(u"pw"_s));
    // The password given to open() serves a reconnect too; nothing else keeps it.
    QVERIFY(connection.reconnect());
    QVERIFY(connection.isAlive());
}

void tst_PgConnection::valuesRoundTrip_data()
{
    QTest::addColumn<std::optional<QString>>("value");
    QTest::addColumn<QString>("refusal"); // the SQLSTATE of a refused value

    using Value = std::optional<QString>;
    QTest::newRow("quote") << Value(u"O'Brien"_s) << QString();
    QTest::newRow("statement breaker") << Value(u"x'); DROP TABLE t; --"_s) << QString();
    QTest::newRow("backslashes") << Value(u"\\'\\\\ \\x41 E'\\n'"_s) << QString();
    QTest::newRow("placeholders") << Value(u"$1 $2 ? :name"_s) << QString();
    QTest::newRow("double quotes") << Value(u"\"t\"; LISTEN x"_s) << QString();
    QTest::newRow("Chinese") << Value(u"北京市朝阳区（收据）：第一联，存根"_s) << QString();
    QTest::newRow("emoji and BOM") << Value(u"\uFEFF😀 𠀀"_s) << QString();
    QTest::newRow("spaces kept") << Value(u"  two  "_s) << QString();
    QTest::newRow("empty, not NULL") << Value(QString(u""_s)) << QString();
    QTest::newRow("NULL") << Value() << QString();
    QTest::newRow("10 MB of Chinese")
        << Value(QString(10 * 1024 * 1024 / 3, u'收') + u"尾"_s) << QString();
    // libpq would cut the value at the NUL and store the rest unseen.
    QTest::newRow("NUL") << Value(u"before\0after"_s) << PgState::invalidByteSequence.toString();
}

void tst_PgConnection::valuesRoundTrip()
{
    QFETCH(std::optional<QString>, value);
    QFETCH(QString, refusal);
    const auto connection = connect();
    QVERIFY(connection->isOpen());

    const std::optional<PgResult> inserted
        = connection->executeQuery(u"INSERT INTO t (v) VALUES ($1) RETURNING v"_s, {value});
    if (!refusal.isEmpty()) {
        QVERIFY(!inserted);
        QCOMPARE(connection->lastError().sqlState, refusal);
        QCOMPARE(scalar(*connection, u"select count(*) from t"_s), u"0"_s);
        return;
    }
    QVERIFY2(inserted, qPrintable(connection->lastError().text()));
    QCOMPARE(inserted->affectedRows(), 1);
    QCOMPARE(inserted->text(0, 0), value);
    QCOMPARE(inserted->isNull(0, 0), !value.has_value());

    // Found by itself as a parameter of a comparison, and read back by another
    // connection: the table and its one row are still there.
    const auto other = connect();
    const std::optional<PgResult> found = other->executeQuery(
        u"SELECT v, octet_length(v) FROM t WHERE v IS NOT DISTINCT FROM $1"_s, {value});
    QVERIFY(found);
    QCOMPARE(found->rowCount(), 1);
    QCOMPARE(found->text(0, 0), value);
    if (value)
        QCOMPARE(found->int64(0, 1), value->toUtf8().size());
    QCOMPARE(scalar(*other, u"select count(*) from t"_s), u"1"_s);
}

void tst_PgConnection::readingColumns()
{
    const auto connection = connect();
    const std::optional<PgResult> row = connection->executeQuery(
        u"SELECT 9223372036854775807::bigint AS \"Biggest\", -1 AS minus, NULL::text AS nothing, "
        u"'12abc' AS word, $1::int AS parameter"_s,
        {u"-2147483648"_s});
    QVERIFY(row);
    QCOMPARE(row->rowCount(), 1);
    QCOMPARE(row->columnCount(), 5);
    QCOMPARE(row->columnIndex(u"biggest"_s), 0);
    QCOMPARE(row->columnIndex(u"MINUS"_s), 1);
    QCOMPARE(row->columnIndex(u"missing"_s), -1);
    QCOMPARE(row->int64(0, 0), std::numeric_limits<qint64>::max());
    QCOMPARE(row->int64(0, 1), -1);
    QCOMPARE(row->int64(0, 4), -2147483648LL);
    QCOMPARE(row->text(0, 1), u"-1"_s);
    QVERIFY(row->isNull(0, 2));
    QCOMPARE(row->text(0, 2), std::nullopt);
    QCOMPARE(row->int64(0, 2), std::nullopt);
    QCOMPARE(row->int64(0, 3), std::nullopt); // text that is not a whole number
    QCOMPARE(row->text(1, 0), std::nullopt); // no second row
    QCOMPARE(row->text(0, 5), std::nullopt); // no sixth column
}

void tst_PgConnection::errorsNameTheirState_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<PgParameters>("parameters");
    QTest::addColumn<QString>("state");

    QTest::newRow("syntax") << u"SELEC 1"_s << PgParameters() << u"42601"_s;
    QTest::newRow("no such table") << u"SELECT * FROM nowhere"_s << PgParameters() << u"42P01"_s;
    QTest::newRow("no such column") << u"SELECT nothing FROM t"_s << PgParameters() << u"42703"_s;
    QTest::newRow("duplicate") << u"INSERT INTO t (v) VALUES ('a'), ($1)"_s << PgParameters {u"a"_s}
                               << PgState::uniqueViolation.toString();
    QTest::newRow("division by zero")
        << u"SELECT 1 / $1::int"_s << PgParameters {u"0"_s} << u"22012"_s;
    QTest::newRow("not a number") << u"SELECT $1::int"_s << PgParameters {u"十"_s} << u"22P02"_s;
    QTest::newRow("parameter missing")
        << u"SELECT $1::text, $2::text"_s << PgParameters {u"a"_s} << u"08P01"_s;
    QTest::newRow("several statements with parameters")
        << u"SELECT $1::text; SELECT 2"_s << PgParameters {u"a"_s} << u"42601"_s;
}

void tst_PgConnection::errorsNameTheirState()
{
    QFETCH(QString, sql);
    QFETCH(PgParameters, parameters);
    QFETCH(QString, state);
    const auto connection = connect();

    QVERIFY(!connection->executeQuery(sql, parameters));
    const PgError error = connection->lastError();
    QCOMPARE(error.sqlState, state);
    QVERIFY(!error.message.isEmpty());
    QVERIFY(error.text().startsWith(state + u' '));
    QVERIFY(!error.connectionLost);
    QVERIFY(!error.isRetryable());
    // The connection goes on (asking leaves the error to read), and a success clears it.
    QVERIFY(connection->isAlive());
    QCOMPARE(connection->lastError().sqlState, state);
    QCOMPARE(scalar(*connection, u"select 1"_s), u"1"_s);
    QVERIFY(connection->lastError().isEmpty());
    QCOMPARE(scalar(*connection, u"select count(*) from t"_s), u"0"_s);
}

void tst_PgConnection::notificationArrivesAfterCommit()
{
    const QString channel = u"quenta 收据\"changes"_s;
    const auto listener = connect();
    const auto sender = connect();
    QVERIFY(listener->listen(channel));
    QSocketNotifier notifier(listener->socket(), QSocketNotifier::Read);
    QList<PgNotification> received;
    QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [&] {
        QVERIFY(listener->consumeInput());
        received += listener->takeNotifications();
    });

    QVERIFY(sender->executeStatements(u"BEGIN"_s));
    QVERIFY(sender->notify(channel, u"rolled back"_s));
    QVERIFY(sender->executeStatements(u"ROLLBACK"_s));
    QVERIFY(sender->executeStatements(u"BEGIN"_s));
    QVERIFY(sender->notify(channel, u"receipt 42 '作废'"_s));
    QVERIFY(sender->executeStatements(u"INSERT INTO t (v) VALUES ('x')"_s));
    QTest::qWait(300);
    QVERIFY(received.isEmpty());
    QVERIFY(sender->executeStatements(u"COMMIT"_s));

    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, 10000);
    QCOMPARE(received.first().channel, channel);
    QCOMPARE(received.first().payload, u"receipt 42 '作废'"_s);
    QCOMPARE(received.first().senderPid, sender->serverPid());

    // Sent outside a transaction, it arrives at once; after UNLISTEN no more.
    QVERIFY(sender->notify(channel, u"second"_s));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 2, 10000);
    QCOMPARE(received.last().payload, u"second"_s);
    QVERIFY(listener->unlisten(channel));
    QVERIFY(sender->notify(channel, u"unheard"_s));
    QVERIFY(sender->notify(u"other"_s, u"unheard"_s));
    QTest::qWait(300);
    QVERIFY(listener->isAlive());
    received += listener->takeNotifications();
    QCOMPARE(received.size(), 2);
}

void tst_PgConnection::serverGoesAwayAndComesBack()
{
    const auto connection = connect();
    QVERIFY(connection->listen(u"changes"_s));
    QVERIFY(connection->executeStatements(u"BEGIN"_s));
    QVERIFY(connection->executeStatements(u"INSERT INTO t (v) VALUES ('half')"_s));

    // The other tests need the server whatever happens here.
    bool stopped = false;
    const auto restart = qScopeGuard([&] {
        if (stopped)
            m_server->start();
    });
    QVERIFY(m_server->stop(u"immediate"_s));
    stopped = true;

    // A clear failure, at once: no hang, no crash.
    QVERIFY(!connection->executeStatements(u"COMMIT"_s));
    QVERIFY2(connection->lastError().connectionLost, qPrintable(connection->lastError().text()));
    QVERIFY(!connection->lastError().sqlState.isEmpty());
    QVERIFY(!connection->lastError().message.isEmpty());
    QVERIFY(!connection->isAlive());
    QVERIFY(!connection->consumeInput());
    QVERIFY(!connection->executeQuery(u"select 1"_s));
    QVERIFY(connection->lastError().connectionLost);
    QVERIFY(!connection->reconnect());
    QCOMPARE(connection->lastError().sqlState, PgState::cannotConnect);
    QVERIFY(!connection->lastError().message.isEmpty());

    QVERIFY2(m_server->start(), qPrintable(m_server->logTail()));
    stopped = false;
    QVERIFY2(connection->reconnect(), qPrintable(connection->lastError().text()));
    QVERIFY(connection->isAlive());
    // The transaction cut short left nothing behind.
    QCOMPARE(scalar(*connection, u"select count(*) from t"_s), u"0"_s);
    // Listening again after the reconnect.
    const auto sender = connect();
    QVERIFY(sender->notify(u"changes"_s, u"back"_s));
    QList<PgNotification> received;
    QTRY_VERIFY_WITH_TIMEOUT((connection->consumeInput(),
                              received += connection->takeNotifications(), !received.isEmpty()),
                             10000);
    QCOMPARE(received.first().payload, u"back"_s);
}

void tst_PgConnection::conflictsAreRetryable_data()
{
    QTest::addColumn<QString>("conflict");
    QTest::addColumn<QString>("state");
    QTest::newRow("serializable, both read what the other writes")
        << u"write skew"_s << PgState::serializationFailure.toString();
    QTest::newRow("repeatable read, FOR UPDATE of a row changed since")
        << u"for update"_s << PgState::serializationFailure.toString();
    QTest::newRow("two rows locked in opposite order")
        << u"deadlock"_s << PgState::deadlockDetected.toString();
}

void tst_PgConnection::conflictsAreRetryable()
{
    QFETCH(QString, conflict);
    QFETCH(QString, state);
    QVERIFY(m_server->execute(u"CREATE TABLE accounts (id int PRIMARY KEY, n int NOT NULL); "
                              u"INSERT INTO accounts VALUES (1, 0), (2, 0)"_s,
                              m_database));
    const auto first = connect();
    const auto second = connect();
    const QString serializable = u"BEGIN ISOLATION LEVEL SERIALIZABLE"_s;
    const QString update = u"UPDATE accounts SET n = n + 1 WHERE id = $1"_s;
    const auto sum = [](PgConnection &connection) {
        return connection.executeStatements(u"SELECT sum(n) FROM accounts"_s);
    };

    // The failure of the second connection's transaction, wherever it came.
    PgError failure;
    if (conflict == u"write skew"_s) {
        QVERIFY(first->executeStatements(serializable));
        QVERIFY(second->executeStatements(serializable));
        QVERIFY(sum(*first) && sum(*second));
        QVERIFY(first->executeUpdate(update, {u"1"_s}));
        QVERIFY(second->executeUpdate(update, {u"2"_s}));
        QVERIFY(first->executeStatements(u"COMMIT"_s));
        QVERIFY(!second->executeStatements(u"COMMIT"_s));
        failure = second->lastError();
    } else if (conflict == u"for update"_s) {
        QVERIFY(second->executeStatements(u"BEGIN ISOLATION LEVEL REPEATABLE READ"_s));
        QVERIFY(sum(*second));
        QVERIFY(first->executeUpdate(update, {u"1"_s}));
        QVERIFY(!second->executeStatements(u"SELECT n FROM accounts WHERE id = 1 FOR UPDATE"_s));
        failure = second->lastError();
    } else {
        QVERIFY(first->executeStatements(u"BEGIN"_s));
        QVERIFY(second->executeStatements(u"BEGIN"_s));
        QVERIFY(first->executeUpdate(update, {u"1"_s}));
        QVERIFY(second->executeUpdate(update, {u"2"_s}));
        // Each now waits for the other's row; the server breaks the tie after
        // deadlock_timeout and fails one of them.
        bool firstDone = false;
        std::thread waiting([&] { firstDone = first->executeUpdate(update, {u"2"_s}); });
        const bool secondDone = second->executeUpdate(update, {u"1"_s});
        waiting.join();
        QCOMPARE(int(firstDone) + int(secondDone), 1);
        failure = firstDone ? second->lastError() : first->lastError();
    }
    QCOMPARE(failure.sqlState, state);
    QVERIFY(failure.isRetryable());
    QVERIFY(!failure.connectionLost);

    // Ended, both connections go on; the transaction run again succeeds.
    QVERIFY(first->executeStatements(u"ROLLBACK"_s));
    QVERIFY(second->executeStatements(u"ROLLBACK"_s));
    QVERIFY(second->executeStatements(serializable));
    QVERIFY(second->executeUpdate(update, {u"2"_s}));
    QVERIFY(second->executeStatements(u"COMMIT"_s));
    QVERIFY(first->isAlive());
}

// A literal quoted as the program quotes one (each quote doubled) means what it says
// whatever the server, the database, the role or the address sets: a session that read
// backslashes as escapes would store "C:\new" with a line break, and would let a value
// ending in a backslash close its quote and run what follows.
void tst_PgConnection::quotesMeanTheSameWhateverTheServerSets_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<bool>("inAddress");
    QTest::newRow("the role's") << u"ALTER ROLE desk SET standard_conforming_strings = off"_s
                                << false;
    QTest::newRow("the database's")
        << u"ALTER DATABASE %1 SET standard_conforming_strings = off"_s << false;
    QTest::newRow("the address's") << QString() << true;
    QTest::newRow("the role's encoding")
        << u"ALTER ROLE desk SET client_encoding = 'SJIS'"_s << false;
}

void tst_PgConnection::quotesMeanTheSameWhateverTheServerSets()
{
    QFETCH(QString, setting);
    QFETCH(bool, inAddress);
    QVERIFY(m_server->execute(u"GRANT ALL ON t, t_id_seq TO desk"_s, m_database));
    if (!setting.isEmpty())
        QVERIFY(m_server->execute(setting.arg(m_database), m_database));
    const auto reset = qScopeGuard([&] {
        m_server->execute(
            u"ALTER ROLE desk RESET ALL; ALTER DATABASE %1 RESET ALL"_s.arg(m_database),
            m_database);
    });
    qputenv("PGPASSWORD", deskPassword.toUtf8());
    const auto unset = qScopeGuard([] { qunsetenv("PGPASSWORD"); });
    QString uri = m_server->tcpUri(m_database, u"desk"_s);
    if (inAddress)
        uri += u"&options=-c%20standard_conforming_strings%3Doff"_s;
    PgConnection connection(uri);
    QVERIFY2(connection.open(), qPrintable(connection.lastError().text()));
    QCOMPARE(scalar(connection, u"show standard_conforming_strings"_s), u"on"_s);
    QCOMPARE(scalar(connection, u"show client_encoding"_s), u"UTF8"_s);

    const QStringList values
        = {u"C:\\new\\table"_s, u"x\\"_s, u"x\\'); delete from t; --"_s, u"收据\\"_s};
    for (const QString &value : values)
        QVERIFY2(
            connection.executeStatements(u"INSERT INTO t (v) VALUES (%1)"_s.arg(sqlQuote(value))),
            qPrintable(connection.lastError().text()));
    const std::optional<PgResult> rows = connection.executeQuery(u"SELECT v FROM t ORDER BY id"_s);
    QVERIFY(rows);
    QCOMPARE(rows->rowCount(), values.size());
    for (int row = 0; row < rows->rowCount(); ++row)
        QCOMPARE(rows->text(row, 0), values.at(row));
}

// A session whose settings change under it (a statement, a function it calls) no longer
// runs anything: the program's quoting would mean something else there.
void tst_PgConnection::sessionTurnedUnsafeIsRefused_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("backslash escapes") << u"SET standard_conforming_strings = off"_s;
    QTest::newRow("another encoding") << u"SET client_encoding = 'BIG5'"_s;
    QTest::newRow("through a function")
        << u"SELECT set_config('standard_conforming_strings', 'off', false)"_s;
}

void tst_PgConnection::sessionTurnedUnsafeIsRefused()
{
    QFETCH(QString, change);
    const auto connection = connect();
    QVERIFY(connection->isSessionSafe());
    QVERIFY(connection->executeStatements(change));
    QVERIFY(!connection->isSessionSafe());
    QVERIFY(!connection->executeStatements(u"INSERT INTO t (v) VALUES ('a\\b')"_s));
    QCOMPARE(connection->lastError().sqlState, PgState::unsafeSession);
    QVERIFY(!connection->lastError().connectionLost);
    QVERIFY(connection->lastError().message.contains(u"standard_conforming_strings"_s));
    QCOMPARE(scalar(*connect(), u"select count(*) from t"_s), u"0"_s);
    // A new session is started with them as they must be.
    QVERIFY(connection->reconnect());
    QVERIFY(connection->executeStatements(u"INSERT INTO t (v) VALUES ('a\\b')"_s));
    QCOMPARE(scalar(*connection, u"select v from t"_s), u"a\\b"_s);
}

// A desk stopped while it holds a row (the numbering) keeps the others waiting only for
// the lock timeout; the wait is told after a moment and again when it ends.
void tst_PgConnection::heldRowIsWaitedForAWhileOnly()
{
    const ShortTimeouts shorter({2, 60, 30, 300});
    PgConnection::setWaitNotice(&tellNotice);
    const auto noNotice = qScopeGuard([] { PgConnection::setWaitNotice(nullptr); });
    noticesTold().clear();
    QVERIFY(m_server->execute(u"INSERT INTO t (v) VALUES ('held')"_s, m_database));
    const auto holder = connect();
    const auto waiter = connect();
    QVERIFY(holder->executeStatements(u"BEGIN; SELECT * FROM t FOR UPDATE"_s));
    QElapsedTimer waited;
    waited.start();
    QVERIFY(!waiter->executeStatements(u"UPDATE t SET v = 'mine'"_s));
    QCOMPARE(waiter->lastError().sqlState, PgState::lockNotAvailable);
    QVERIFY(!waiter->lastError().connectionLost);
    QVERIFY(waited.elapsed() >= 1500);
    QCOMPARE(noticesTold(), u"+-"_s);
    // A statement answered at once tells nothing.
    noticesTold().clear();
    QVERIFY(waiter->executeStatements(u"SELECT 1"_s));
    QCOMPARE(noticesTold(), QString());
    QVERIFY(holder->executeStatements(u"COMMIT"_s));
    QVERIFY(waiter->executeStatements(u"UPDATE t SET v = 'mine'"_s));
}

// The server ends a session that sits inside a transaction holding rows (its desk frozen,
// its laptop shut): the row is free again for the others.
void tst_PgConnection::sessionIdleInATransactionIsEnded()
{
    const ShortTimeouts shorter({20, 1, 30, 1000});
    QVERIFY(m_server->execute(u"INSERT INTO t (v) VALUES ('held')"_s, m_database));
    const auto frozen = connect();
    const auto other = connect();
    QVERIFY(frozen->executeStatements(u"BEGIN; SELECT * FROM t FOR UPDATE"_s));
    QVERIFY2(other->executeStatements(u"UPDATE t SET v = 'mine'"_s),
             qPrintable(other->lastError().text()));
    QVERIFY(!frozen->executeStatements(u"UPDATE t SET v = 'frozen'"_s));
    QVERIFY(frozen->lastError().connectionLost);
    QCOMPARE(scalar(*other, u"select v from t"_s), u"mine"_s);
}

// A server whose process stops answering keeps the connection's socket open: the
// statement is given up after the answer timeout, as a lost connection, not waited for.
void tst_PgConnection::serverThatNeverAnswersIsGivenUp()
{
    const ShortTimeouts shorter({20, 20, 2, 1000});
    const auto connection = connect();
    const std::optional<QString> pid = scalar(*connection, u"select pg_backend_pid()"_s);
    QVERIFY(pid);
    if (::kill(pid->toInt(), SIGSTOP) != 0)
        QSKIP("the server's process cannot be stopped by this user");
    const auto resume = qScopeGuard([&] { ::kill(pid->toInt(), SIGCONT); });
    QElapsedTimer waited;
    waited.start();
    QVERIFY(!connection->executeQuery(u"select 1"_s));
    QVERIFY(connection->lastError().connectionLost);
    QVERIFY2(connection->lastError().message.contains(u"timeout"_s),
             qPrintable(connection->lastError().message));
    QVERIFY(waited.elapsed() < 20000);
    QVERIFY(!connection->isOpen());
}

// The statement runner of a server book, as every store uses it: a COMMIT the server
// answers with ROLLBACK (a statement of the transaction had failed) is a failure there too,
// with or without the transaction's guard.
void tst_PgConnection::commitAnsweredWithRollbackFails()
{
    Database database(m_server->socketUri(m_database));
    database.setLogsErrors(false);
    QVERIFY(database.open());
    QVERIFY(database.executeStatements(u"BEGIN"_s));
    QVERIFY(database.executeStatements(u"INSERT INTO t (v) VALUES ('kept')"_s));
    QVERIFY(!database.executeStatements(u"INSERT INTO t (v) VALUES ('kept')"_s));
    QVERIFY(!database.executeStatements(u"COMMIT"_s));
    QCOMPARE(database.lastError().kind(), DatabaseError::Kind::RolledBack);
    {
        Transaction transaction(database);
        QVERIFY(transaction.begin());
        QVERIFY(database.executeStatements(u"INSERT INTO t (v) VALUES ('other')"_s));
        QVERIFY(!database.executeStatements(u"INSERT INTO t (v) VALUES ('other')"_s));
        QVERIFY(!transaction.commit());
    }
    QCOMPARE(scalar(*connect(), u"select count(*) from t"_s), u"0"_s);
}

QTEST_GUILESS_MAIN(tst_PgConnection)
#include "tst_pgconnection.moc"
