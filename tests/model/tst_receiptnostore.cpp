// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "pgtestserver.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

#include <functional>

#include <limits>

using namespace Qt::StringLiterals;

namespace {
constexpr qint64 largest = std::numeric_limits<qint64>::max();
}

class tst_ReceiptNoStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void nextReceiptNo_data();
    void nextReceiptNo();
    void everyRowIsSavedLastRowLoads();
    void unopenableDatabaseStopsNumbering();
    void numberStoredInAnotherForm_data();
    void numberStoredInAnotherForm();
    void storedSettingThatIsNoNumber_data();
    void storedSettingThatIsNoNumber();
    void failedCheckIsNeverFree();
    void issuedNumberIsNeverIssuedAgain();
    void saveTakesTheNextFreeNumber();
    void counterNeverMovesBack();
    void processesNeverShareANumber();
    void serverStoppedMidSave();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void tst_ReceiptNoStore::init()
{
    m_env = std::make_unique<TestEnvironment>();
    m_env->createDatabase();
}

void tst_ReceiptNoStore::cleanup()
{
    m_env.reset();
}

void tst_ReceiptNoStore::nextReceiptNo_data()
{
    QTest::addColumn<qint64>("numLong");
    QTest::addColumn<qint64>("currNum");
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("number");
    QTest::addColumn<qint64>("finalNumLong");
    QTest::addColumn<qint64>("finalCurrNum");
    QTest::addColumn<ReceiptNoStore::Status>("status");
    const auto ready = ReceiptNoStore::Status::Ready;

    QTest::newRow("defaults, no receipts")
        << 7LL << 1LL << QStringList() << u"0000001"_s << 7LL << 1LL << ready;
    QTest::newRow("first two taken") << 7LL << 1LL << QStringList({u"0000001"_s, u"0000002"_s})
                                     << u"0000003"_s << 7LL << 3LL << ready;
    QTest::newRow("gap is used") << 7LL << 1LL << QStringList({u"0000001"_s, u"0000003"_s})
                                 << u"0000002"_s << 7LL << 2LL << ready;
    QTest::newRow("number wider than length")
        << 7LL << 12345678LL << QStringList() << u"12345678"_s << 8LL << 12345678LL << ready;
    QTest::newRow("length grows one step only")
        << 1LL << 123LL << QStringList() << u"123"_s << 2LL << 123LL << ready;
    QTest::newRow("length 0") << 0LL << 5LL << QStringList() << u"5"_s << 1LL << 5LL << ready;
    // One number whatever its padding: 0000003 stored, 00000003 is taken.
    QTest::newRow("taken under a shorter length")
        << 8LL << 3LL << QStringList(u"0000003"_s) << u"00000004"_s << 8LL << 4LL << ready;
    QTest::newRow("taken without its zeros")
        << 7LL << 1LL << QStringList({u"1"_s, u"2"_s}) << u"0000003"_s << 7LL << 3LL << ready;
    QTest::newRow("taken with more zeros")
        << 7LL << 5LL << QStringList(u"000000005"_s) << u"0000006"_s << 7LL << 6LL << ready;
    QTest::newRow("beyond 32 bits") << 7LL << 4294967296LL << QStringList(u"4294967296"_s)
                                    << u"4294967297"_s << 8LL << 4294967297LL << ready;
    QTest::newRow("largest counter taken: exhausted, no wrap")
        << 19LL << largest << QStringList(QString::number(largest)) << QString::number(largest)
        << 19LL << largest << ReceiptNoStore::Status::Exhausted;
    QTest::newRow("absurd length is capped")
        << largest << 1LL << QStringList()
        << QString(ReceiptNoStore::maximumNumberLength - 1, u'0') + u"1"_s << largest << 1LL
        << ready;
}

void tst_ReceiptNoStore::nextReceiptNo()
{
    QFETCH(qint64, numLong);
    QFETCH(qint64, currNum);
    QFETCH(QStringList, taken);
    QFETCH(QString, number);
    QFETCH(qint64, finalNumLong);
    QFETCH(qint64, finalCurrNum);
    QFETCH(ReceiptNoStore::Status, status);

    QVERIFY(m_env->execRaw(
        u"update tb_receiptNo set numLong = '%1', currNum = '%2'"_s.arg(numLong).arg(currNum)));
    for (qsizetype i = 0; i < taken.size(); ++i) {
        QVERIFY(m_env->storeReceipt(u"ID%1"_s.arg(i), taken.at(i), u"2024-05-01 00:00:00"_s));
    }

    // Creating the store loads the setting and takes the next free number at once.
    const ReceiptNoStore &store = ReceiptNoStore::shared();
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, number);
    QCOMPARE(store.receiptNoSetting().numLong, finalNumLong);
    QCOMPARE(store.receiptNoSetting().currNum, finalCurrNum);
    QCOMPARE(store.status(), status);
    QCOMPARE(m_env->queryRaw(u"select numLong || ',' || currNum from tb_receiptNo"_s),
             u"%1,%2"_s.arg(finalNumLong).arg(finalCurrNum));
}

void tst_ReceiptNoStore::everyRowIsSavedLastRowLoads()
{
    QVERIFY(m_env->execRaw(u"insert into tb_receiptNo (numLong, currNum) values ('4', '20')"_s));
    ReceiptNoStore &store = ReceiptNoStore::shared();
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, u"0020"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receiptNo where numLong = '4' and "
                             u"currNum = '20'"_s),
             2);

    ReceiptNoSetting setting = store.receiptNoSetting();
    setting.currNum = 9;
    store.setReceiptNoSetting(setting);
    QVERIFY(store.saveSetting());
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receiptNo where currNum = '9'"_s), 2);
}

void tst_ReceiptNoStore::unopenableDatabaseStopsNumbering()
{
    QUENTA_SKIP_ON_SERVER("a file taken away");
    m_env->makeDatabaseUnopenable();
    ReceiptNoStore &store = ReceiptNoStore::shared();
    QCOMPARE(store.status(), ReceiptNoStore::Status::CheckFailed);
    QCOMPARE(store.receiptNoSetting().currNum, 1);
    QVERIFY(!store.saveSetting());
    QVERIFY(!SQLiteHelper::shared().db().isOpen());
}

void tst_ReceiptNoStore::numberStoredInAnotherForm_data()
{
    QTest::addColumn<QString>("receiptNoColumn");
    QTest::addColumn<QString>("storedNumber");
    // Other programs writing the file: a blob of the number's text, or the number itself
    // in a column that keeps numbers as numbers.
    QTest::newRow("blob") << u"receiptNo text"_s << u"cast('0000001' as blob)"_s;
    QTest::newRow("integer") << u"receiptNo"_s << u"1"_s;
    QTest::newRow("real") << u"receiptNo"_s << u"1.0"_s;
}

void tst_ReceiptNoStore::numberStoredInAnotherForm()
{
    QUENTA_SKIP_ON_SERVER("what SQLite stores in a text column");
    QFETCH(QString, receiptNoColumn);
    QFETCH(QString, storedNumber);
    QVERIFY(m_env->execRaw(
        u"drop table tb_receipt; create table tb_receipt (id text primary key, %1, "
        u"receiptDate text, payer text, reason1 text, reason2 text, remark text, paytype text, "
        u"payee text, approve text, accountant text, creator text, createDate text, total text, "
        u"totalBig text, isDeleted text); insert into tb_receipt (id, receiptNo) values ('A', %2);"_s
            .arg(receiptNoColumn, storedNumber)));
    ReceiptNoStore::shared();
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, u"0000002"_s);
}

void tst_ReceiptNoStore::storedSettingThatIsNoNumber_data()
{
    QTest::addColumn<QString>("setting");
    // Set with psql or another program: read as numbers, they gave "00000-5" and 0000000.
    QTest::newRow("negative counter") << u"numLong = '7', currNum = '-5'"_s;
    QTest::newRow("counter of letters") << u"numLong = '7', currNum = 'abc'"_s;
    QTest::newRow("empty counter") << u"numLong = '7', currNum = ''"_s;
    QTest::newRow("no counter") << u"numLong = '7', currNum = null"_s;
    QTest::newRow("counter with a fraction") << u"numLong = '7', currNum = '5.5'"_s;
    QTest::newRow("counter past 64 bits") << u"numLong = '7', currNum = '9223372036854775808'"_s;
    QTest::newRow("full-width counter") << u"numLong = '7', currNum = '５'"_s;
    QTest::newRow("negative length") << u"numLong = '-3', currNum = '42'"_s;
    QTest::newRow("length of letters") << u"numLong = 'x', currNum = '1'"_s;
}

// Numbering stops with a message where the number is shown, and a save is refused with
// it, until the setting is set again.
void tst_ReceiptNoStore::storedSettingThatIsNoNumber()
{
    QFETCH(QString, setting);
    QVERIFY(m_env->execRaw(u"update tb_receiptNo set "_s + setting));
    ReceiptNoStore &store = ReceiptNoStore::shared();
    AppStore &app = AppStore::shared();
    const QString stopped
        = u"单号设置有误：当前单号和单号长度都须是不小于 0 的整数，请在收据单号中重新设置"_s;
    QCOMPARE(ReceiptNoStore::statusText(store.status()), stopped);
    QVERIFY(app.receiptEdit().receiptNo.isEmpty());

    // A form that still shows a number from before is refused too.
    Receipt edit = app.receiptEdit();
    edit.id = u"A"_s;
    edit.receiptNo = u"0000001"_s;
    app.setReceiptEdit(edit);
    QString saveError;
    QVERIFY(!app.insertReceipt(&saveError));
    QCOMPARE(saveError, stopped);
    QCOMPARE(m_env->receiptCount(), 0);
    app.newReceipt();
    QCOMPARE(ReceiptNoStore::statusText(store.status()), stopped);

    // Set again (收据单号 → 保存), numbering goes on.
    store.setReceiptNoSetting({QUuid::createUuid(), 7, 8});
    store.nextReceiptNo(ReceiptNoStore::Counter::AsSet);
    QCOMPARE(store.status(), ReceiptNoStore::Status::Ready);
    QCOMPARE(app.receiptEdit().receiptNo, u"0000008"_s);
    QCOMPARE(m_env->queryRaw(u"select numLong || ',' || currNum from tb_receiptNo"_s), u"7,8"_s);
}

void tst_ReceiptNoStore::failedCheckIsNeverFree()
{
    QUENTA_SKIP_ON_SERVER("a file's lock");
    // The number 0000001 is taken; a check that fails must not hand it out again.
    QVERIFY(m_env->storeReceipt(u"A"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    SQLiteHelper::shared().db().setMaxBusyRetryTimeInterval(0.2);
    ReceiptNoStore &store = ReceiptNoStore::shared();
    QCOMPARE(store.status(), ReceiptNoStore::Status::Ready);
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, u"0000002"_s);
    QVERIFY(m_env->execRaw(u"update tb_receiptNo set currNum = '1'"_s));
    store.loadSetting();
    {
        const HeldLock lock(m_env->databasePath());
        QVERIFY(lock.isHeld());
        QSignalSpy statusChanged(&store, &ReceiptNoStore::statusChanged);
        AppStore::shared().newReceipt();
        QCOMPARE(store.status(), ReceiptNoStore::Status::CheckFailed);
        QCOMPARE(statusChanged.count(), 1);
        Receipt edit = AppStore::shared().receiptEdit();
        edit.id = u"B"_s;
        AppStore::shared().setReceiptEdit(edit);
        QString saveError;
        QVERIFY(!AppStore::shared().insertReceipt(&saveError));
        QVERIFY(saveError.startsWith(u"保存失败"_s));
    }
    AppStore::shared().newReceipt();
    QCOMPARE(store.status(), ReceiptNoStore::Status::Ready);
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, u"0000002"_s);
}

void tst_ReceiptNoStore::saveTakesTheNextFreeNumber()
{
    ReceiptNoStore &store = ReceiptNoStore::shared();
    AppStore &app = AppStore::shared();
    QString saveError;
    const auto save = [&app, &saveError](const QString &id) {
        Receipt edit = app.receiptEdit();
        edit.id = id;
        app.setReceiptEdit(edit);
        return app.insertReceipt(&saveError);
    };
    QCOMPARE(app.receiptEdit().receiptNo, u"0000001"_s);
    // Another copy of the program saves 0000001 and 0000002 while this form is open.
    QVERIFY(m_env->storeReceipt(u"X1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(m_env->storeReceipt(u"X2"_s, u"0000002"_s, u"2024-05-01 00:00:00"_s));
    QSignalSpy reassigned(&app, &AppStore::receiptNoReassigned);
    QVERIFY(save(u"A"_s));
    QCOMPARE(reassigned.count(), 1);
    QCOMPARE(reassigned.at(0).at(0).toString(), u"0000003"_s);
    QCOMPARE(m_env->queryRaw(u"select receiptNo from tb_receipt where id = 'A'"_s), u"0000003"_s);
    // The counter moved past it in the same transaction.
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"4"_s);
    app.newReceipt();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000004"_s);

    // At the ceiling a taken number has no next one: refused, never a duplicate.
    ReceiptNoSetting setting = store.receiptNoSetting();
    setting.currNum = largest;
    store.setReceiptNoSetting(setting);
    app.newReceipt();
    QCOMPARE(app.receiptEdit().receiptNo, QString::number(largest));
    QVERIFY(save(u"B"_s));
    QVERIFY(m_env->execRaw(u"delete from tb_receipt where id = 'B'; insert into tb_receipt (id, "
                           u"receiptNo) values ('C', '9223372036854775807')"_s));
    QVERIFY(!save(u"D"_s));
    QCOMPARE(saveError, u"单号已用尽，请在收据单号中重新设置"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receipt where id = 'D'"_s), 0);
}

// Another program issued 0000001 and 0000002 while this form was open, then deleted
// 0000002: that number is on paper, so neither the form nor a save may give it again.
void tst_ReceiptNoStore::counterNeverMovesBack()
{
    ReceiptNoStore &store = ReceiptNoStore::shared();
    AppStore &app = AppStore::shared();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000001"_s);
    QVERIFY(m_env->storeReceipt(u"X1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(m_env->storeReceipt(u"X2"_s, u"0000002"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(m_env->execRaw(
        u"update tb_receiptNo set currNum = '3'; delete from tb_receipt where id = 'X2'"_s));

    // The form's next number starts from the stored counter.
    app.newReceipt();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000003"_s);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"3"_s);

    // A form that still shows a number behind the stored counter saves under the counter's.
    ReceiptNoSetting behind = store.receiptNoSetting();
    behind.currNum = 2;
    store.setReceiptNoSetting(behind);
    store.applyReceiptNo();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000002"_s);
    Receipt edit = app.receiptEdit();
    edit.id = u"A"_s;
    app.setReceiptEdit(edit);
    QVERIFY(app.insertReceipt());
    QCOMPARE(m_env->queryRaw(u"select receiptNo from tb_receipt where id = 'A'"_s), u"0000003"_s);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"4"_s);

    // The user may still set the counter back on purpose.
    ReceiptNoSetting chosen = store.receiptNoSetting();
    chosen.currNum = 2;
    store.setReceiptNoSetting(chosen);
    store.nextReceiptNo(ReceiptNoStore::Counter::AsSet);
    QCOMPARE(app.receiptEdit().receiptNo, u"0000002"_s);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"2"_s);
}

// A desk deleted 0000002 with psql, leaving no history row for it, and set the counter
// back: the number is on paper, and neither the form nor a save gives it again.
void tst_ReceiptNoStore::issuedNumberIsNeverIssuedAgain()
{
    ReceiptNoStore &store = ReceiptNoStore::shared();
    AppStore &app = AppStore::shared();
    for (const QString &payer : {u"甲"_s, u"乙"_s, u"丙"_s})
        QVERIFY(!saveNewReceipt(payer, 1).isEmpty());
    QVERIFY(m_env->execRaw(u"delete from tb_receipt where receiptNo = '0000002'; "
                           u"update tb_receiptNo set currNum = '2'"_s));

    // The program started afresh, on the counter as set.
    store.loadSetting();
    app.newReceipt();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000004"_s);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"4"_s);

    // A save from a form that still shows the number, with the counter set back again.
    QVERIFY(m_env->execRaw(u"update tb_receiptNo set currNum = '2'"_s));
    store.setReceiptNoSetting({QUuid::createUuid(), 7, 2});
    store.applyReceiptNo();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000002"_s);
    Receipt edit = app.receiptEdit();
    edit.id = u"D"_s;
    app.setReceiptEdit(edit);
    QVERIFY(app.insertReceipt());
    QCOMPARE(m_env->queryRaw(u"select receiptNo from tb_receipt where id = 'D'"_s), u"0000004"_s);

    // Nor when the user sets the counter back on purpose, in another padding too.
    store.setReceiptNoSetting({QUuid::createUuid(), 8, 2});
    store.nextReceiptNo(ReceiptNoStore::Counter::AsSet);
    QCOMPARE(app.receiptEdit().receiptNo, u"00000005"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history where action = 'insert' "
                             u"group by receiptNo order by 1 desc limit 1"_s),
             1);
}

namespace {

// Racers saving `count` receipts each at once on the test's book; their counts of saved
// and refused receipts. `meanwhile` runs while they do.
struct RaceResult
{
    int saved = 0;
    int refused = 0;
    int reassigned = 0;
};
std::optional<RaceResult> race(int racers, int count, const std::function<void()> &meanwhile = {})
{
    const QString racer = QCoreApplication::applicationDirPath() + u"/quenta_numberingrace"_s;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < racers; ++i) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        processes.back()->start(racer, {QString::number(count), u"3"_s});
    }
    if (meanwhile)
        meanwhile();
    RaceResult result;
    for (const auto &process : processes) {
        // (One that ended while `meanwhile` ran is finished already.)
        if ((process->state() != QProcess::NotRunning && !process->waitForFinished(240000))
            || process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0)
            return std::nullopt;
        // The last line; the ones before it say where the database is.
        const QStringList said = QString::fromUtf8(process->readAllStandardOutput())
                                     .trimmed()
                                     .split(u'\n')
                                     .last()
                                     .split(u' ');
        if (said.size() != 6)
            return std::nullopt;
        result.saved += said.at(1).toInt();
        result.refused += said.at(3).toInt();
        result.reassigned += said.at(5).toInt();
    }
    return result;
}

} // namespace

void tst_ReceiptNoStore::processesNeverShareANumber()
{
    // Two copies of the program on one file; four desks on a shared book.
    const int racers = TestEnvironment::onServer() ? 4 : 2;
    m_env->createDatabase();
    const std::optional<RaceResult> result = race(racers, 200);
    QVERIFY(result);
    // Each save waits for the other's transaction rather than failing on it.
    QCOMPARE(result->refused, 0);
    QCOMPARE(result->saved, racers * 200);
    // Every save went through under a number of its own.
    QCOMPARE(m_env->receiptCount(), result->saved);
    QCOMPARE(m_env->countRaw(u"select count(distinct receiptNo) from tb_receipt"_s), result->saved);
}

void tst_ReceiptNoStore::serverStoppedMidSave()
{
    if (!TestEnvironment::onServer())
        QSKIP("a shared book's server");
    m_env->createDatabase();
    PgTestServer &server = PgTestServer::shared();
    const std::optional<RaceResult> result = race(4, 200, [&] {
        // Stopped once the desks are saving, however long a loaded machine takes to start
        // them, and long before they are done.
        QTRY_VERIFY_WITH_TIMEOUT(m_env->receiptCount() >= 50, 120000);
        QVERIFY(server.stop(u"immediate"_s));
        QTest::qWait(300);
        QVERIFY2(server.start(), qPrintable(server.logTail()));
    });
    QVERIFY(result);
    // Saves that met the stopped server failed, and said so; none left half a receipt.
    QVERIFY(result->refused > 0);
    QCOMPARE(m_env->receiptCount(), result->saved);
    QCOMPARE(m_env->countRaw(u"select count(distinct receiptNo) from tb_receipt"_s), result->saved);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receipt r where not exists (select 1 "
                             u"from tb_history h where h.receiptId = r.id and h.action = 'insert')"_s),
             0);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history where action = 'insert'"_s),
             result->saved);
    // And saving works again.
    QVERIFY(!saveNewReceipt(u"乙"_s, 3).isEmpty());
    QCOMPARE(m_env->receiptCount(), result->saved + 1);
}

QTEST_GUILESS_MAIN(tst_ReceiptNoStore)
#include "tst_receiptnostore.moc"
