// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"
#include "sqlliteral.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

class tst_Database : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(u"test.db"_s);
        Database db(m_path);
        QVERIFY(db.open());
        QVERIFY(db.executeStatements(u"create table t (v text, n text)"_s));
    }
    void cleanup() { m_dir.reset(); }

    void openAndClose();
    void columnLookup_data();
    void columnLookup();
    void failureDiagnostics_data();
    void failureDiagnostics();
    void resultSetBookkeeping();
    void valuesSurviveRoundTrip_data();
    void valuesSurviveRoundTrip();
    void busyHandler_data();
    void busyHandler();
    void longReadGivesWayToAWriter();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void tst_Database::openAndClose()
{
    StreamCapture err(2);
    Database db(m_path);
    QVERIFY(db.close()); // never opened: nothing to do, nothing written
    QVERIFY(db.open());
    sqlite3 *first = db.handle();
    QVERIFY(db.open());
    QCOMPARE(db.handle(), first);
    QVERIFY(db.close() && db.close() && !db.isOpen());
    QVERIFY(db.open()); // reopens after close
    QCOMPARE(err.text(), QString());

    Database inMissingFolder(m_dir->filePath(u"no/such/folder/x.db"_s));
    QVERIFY(!inMissingFolder.open());
    QVERIFY(!inMissingFolder.executeQuery(u"select 1"_s));
    // The application's own connection never turns a missing file into an empty one.
    const QString missing = m_dir->filePath(u"missing.db"_s);
    Database existingOnly(missing, Database::OpenMode::ExistingFileOnly);
    QVERIFY(!existingOnly.open());
    QVERIFY(!existingOnly.open()); // the failed handle is released, not reused
    QVERIFY(!QFileInfo::exists(missing));
    const QStringList lines = err.lines();
    QCOMPARE(lines.count(u"error opening!: 14"_s), 3);
    QVERIFY(lines.contains(
        u"The Database <Database: %1> is not open."_s.arg(inMissingFolder.databasePath())));
}

void tst_Database::columnLookup_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("text"); // invalid: none
    QTest::addColumn<int>("integer");
    QTest::addColumn<double>("real");
    QTest::addColumn<bool>("missing"); // warned about once a read

    QTest::newRow("other letter case")
        << u"select 'x' as ReceiptNo"_s << u"receiptNO"_s << QVariant(u"x"_s) << 0 << 0.0 << false;
    QTest::newRow("later duplicate wins")
        << u"select '1' as a, '2' as A"_s << u"a"_s << QVariant(u"2"_s) << 2 << 2.0 << false;
    QTest::newRow("NULL") << u"select null as n"_s << u"n"_s << QVariant() << 0 << 0.0 << false;
    QTest::newRow("integer text") << u"select '12' as n"_s << u"n"_s << QVariant(u"12"_s) << 12
                                  << 12.0 << false;
    QTest::newRow("decimal text") << u"select '100.0' as total"_s << u"TOTAL"_s
                                  << QVariant(u"100.0"_s) << 100 << 100.0 << false;
    QTest::newRow("empty text") << u"select '' as e"_s << u"e"_s << QVariant(u""_s) << 0 << 0.0
                                << false;
    QTest::newRow("invalid UTF-8 reads as none")
        << u"select cast(x'c328' as text) as bad"_s << u"bad"_s << QVariant() << 0 << 0.0 << false;
    QTest::newRow("missing column")
        << u"select 'x' as here"_s << u"NotThere"_s << QVariant() << 0 << 0.0 << true;
}

void tst_Database::columnLookup()
{
    QFETCH(QString, sql);
    QFETCH(QString, column);
    QFETCH(QVariant, text);
    QFETCH(int, integer);
    QFETCH(double, real);
    QFETCH(bool, missing);

    Database db(m_path);
    QVERIFY(db.open());
    StreamCapture err(2);
    std::unique_ptr<ResultSet> rows = db.executeQuery(sql);
    QVERIFY(rows);
    QVERIFY(rows->next());
    const std::optional<QString> value = rows->stringForColumn(column);
    QCOMPARE(value.has_value(), text.isValid());
    if (value)
        QCOMPARE(*value, text.toString());
    QCOMPARE(rows->intForColumn(column), integer);
    QCOMPARE(rows->doubleForColumn(column), real);
    QCOMPARE(rows->intForColumnIndex(7), 0);
    QVERIFY(!rows->stringForColumnIndex(-1));
    const QString warning = u"Warning: I could not find the column named 'notthere'."_s;
    QCOMPARE(err.lines(), QStringList(missing ? 3 : 0, warning));
}

void tst_Database::failureDiagnostics_data()
{
    QTest::addColumn<bool>("query");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("lines"); // %1: the database path
    QTest::addColumn<bool>("silenced"); // by setLogsErrors(false)
    QTest::newRow("statement syntax error")
        << false << u"insert into t values ('1', '2'); insret into t"_s
        << QStringList(u"Error inserting batch: near \"insret\": syntax error"_s) << true;
    QTest::newRow("query syntax error")
        << true << u"selec * from t"_s
        << QStringList({u"DB Error: 1 \"near \"selec\": syntax error\""_s,
                        u"DB Query: selec * from t"_s, u"DB Path: %1"_s})
        << true;
    QTest::newRow("unbound parameter")
        << true << u"select * from t where v = ?"_s
        << QStringList(
               u"Error: the bind count is not correct for the # of variables (executeQuery)"_s)
        << false;
}

void tst_Database::failureDiagnostics()
{
    QFETCH(bool, query);
    QFETCH(QString, sql);
    QFETCH(QStringList, lines);
    QFETCH(bool, silenced);
    Database db(m_path);
    QVERIFY(db.open());
    const auto run = [&] {
        return query ? bool(db.executeQuery(sql)) : db.executeStatements(sql);
    };
    StreamCapture err(2);
    QVERIFY(!run());
    QCOMPARE(err.lines(), lines.replaceInStrings(u"%1"_s, m_path));
    QCOMPARE(db.openResultSetCount(), 0);
    QVERIFY(db.executeQuery(u"select 1"_s)); // usable afterwards: the in-use guard was cleared
    db.setLogsErrors(false);
    StreamCapture quiet(2);
    QVERIFY(!run());
    QCOMPARE(quiet.text().isEmpty(), silenced);
}

// A result set is open until its last row is read or its connection closes; it outlives
// the connection without touching it, and then gives no row.
void tst_Database::resultSetBookkeeping()
{
    auto db = std::make_unique<Database>(m_path);
    QVERIFY(db->open());
    QVERIFY(db->executeStatements(
        u"insert into t values ('a', '1'); insert into t values ('b', '2')"_s));
    std::unique_ptr<ResultSet> rows = db->executeQuery(u"select * from t order by v"_s);
    QVERIFY(rows && rows->next() && rows->next());
    QCOMPARE(rows->stringForColumn(u"v"_s), u"b"_s);
    QCOMPARE(db->openResultSetCount(), 1);
    QVERIFY(!rows->next());
    QCOMPARE(db->openResultSetCount(), 0);

    std::unique_ptr<ResultSet> first = db->executeQuery(u"select 1"_s);
    std::unique_ptr<ResultSet> second = db->executeQuery(u"select 2"_s);
    QCOMPARE(db->openResultSetCount(), 2);
    StreamCapture err(2);
    QVERIFY(db->close());
    QCOMPARE(db->openResultSetCount(), 0);
    QVERIFY(!err.text().contains(u"error closing"_s));
    db.reset();
    QVERIFY(!first->next());
}

void tst_Database::valuesSurviveRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("single quote") << u"王's 店"_s;
    QTest::newRow("statement breaker") << u"'); drop table t; --"_s;
    QTest::newRow("double quotes") << u"他说\"好\""_s;
    QTest::newRow("emoji, joined and beyond U+FFFF")
        << u"🧾 收据 👍🏽 👨‍👩‍👧 𠀀"_s;
    QTest::newRow("injection into a where") << u"x' or '1' = '1"_s;
    QTest::newRow("long Chinese") << u"收款收据壹佰贰拾叁万肆仟伍佰陆拾柒元捌角玖分。"_s.repeated(
        2000);
    QTest::newRow("byte order mark first") << u"\uFEFF开头"_s;
    QTest::newRow("line breaks and tab") << u"第一行\n第二行\r\n\t末"_s;
    QTest::newRow("percent and backslash") << u"%1 %s \\n 100%"_s;
    QTest::newRow("empty") << QString();
}

// Every value of every statement goes through sqlQuote, so this is where quoting is
// tested; the stores and screens only pass values on.
void tst_Database::valuesSurviveRoundTrip()
{
    QFETCH(QString, value);
    Database db(m_path);
    QVERIFY(db.open());
    QVERIFY(db.executeStatements(u"insert into t (v, n) values ('other', '1');"_s));
    QVERIFY(
        db.executeStatements(u"insert into t (v, n) values ("_s + sqlQuote(value) + u", '1');"_s));
    std::unique_ptr<ResultSet> rows = db.executeQuery(
        u"select v, (select count(*) from t) as c from t where v = "_s + sqlQuote(value));
    QVERIFY(rows && rows->next());
    QCOMPARE(rows->stringForColumn(u"v"_s).value_or(u"<none>"_s), value);
    QCOMPARE(rows->intForColumn(u"c"_s), 2);
    QVERIFY(!rows->next()); // the other row does not match
}

// A lock held past the 2 s of retrying: the attempt gives up, and says so. (Waiting for a
// lock that goes: tst_robustness.)
void tst_Database::busyHandler_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<QString>("diagnostic");
    QTest::newRow("write") << true << u"Error inserting batch: database is locked"_s;
    QTest::newRow("read") << false << u"Database busy"_s;
}

void tst_Database::busyHandler()
{
    QFETCH(bool, write);
    QFETCH(QString, diagnostic);
    Database db(m_path);
    // Read the schema first, so that the attempt below waits on the lock while it
    // runs rather than while it prepares.
    QVERIFY(db.open() && db.executeQuery(u"select * from t"_s));
    const HeldLock lock(m_path);
    QVERIFY(lock.isHeld());
    StreamCapture err(2);
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<ResultSet> rows;
    QVERIFY(write ? !db.executeStatements(u"insert into t values ('x', '1')"_s)
                  : !(rows = db.executeQuery(u"select * from t"_s)) || !rows->next());
    // (The upper bound is generous: a loaded machine may be slow to come back.)
    QVERIFY2(timer.elapsed() > 1900 && timer.elapsed() < 20000,
             qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(err.text().contains(diagnostic), qPrintable(err.text()));
}

// A read that holds the file's shared lock for long (the quick check of a large book on a
// worker thread) lets a writer of this process through instead of making it time out.
void tst_Database::longReadGivesWayToAWriter()
{
    std::atomic<sqlite3 *> readerHandle = nullptr;
    QSemaphore reading;
    DatabaseError::Kind readError = DatabaseError::Kind::None;
    std::unique_ptr<QThread> reader(QThread::create([&] {
        Database db(m_path);
        db.setYieldsToWriters(true);
        if (!db.open() || !db.executeStatements(u"insert into t values ('a', '1')"_s))
            return reading.release();
        readerHandle = db.handle();
        // Rows without end, each read from the file, under one read lock.
        std::unique_ptr<ResultSet> rows
            = db.executeQuery(u"with recursive n(i) as (select 1 union all select i + 1 from n) "
                              u"select i, (select count(*) from t) from n"_s);
        const bool first = rows && rows->next();
        reading.release();
        while (first && rows->next()) { }
        readError = rows ? rows->error().kind() : DatabaseError::Kind::Other;
        readerHandle = nullptr;
    }));
    reader->start();
    reading.acquire();
    QVERIFY(readerHandle.load());

    Database writer(m_path);
    writer.setMaxBusyRetryTimeInterval(1.0);
    QVERIFY(writer.open());
    const bool written = writer.executeStatements(u"insert into t values ('b', '2')"_s);
    if (!written && readerHandle.load())
        sqlite3_interrupt(readerHandle.load()); // so that the failure ends
    reader->wait();
    QVERIFY(written);
    QCOMPARE(readError, DatabaseError::Kind::Interrupted);
}

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
