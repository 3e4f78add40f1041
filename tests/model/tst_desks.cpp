// SPDX-License-Identifier: GPL-3.0-or-later
// Desks of one shared book: what one writes reaches the others as it commits.
#include "appstore.h"
#include "bookimport.h"
#include "database.h"
#include "databaseerror.h"
#include "desklistener.h"
#include "pgconnection.h"
#include "pgproxy.h"
#include "pgtestserver.h"
#include "receiptbook.h"
#include "receiptimport.h"
#include "receiptlist.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "stores.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QUrl>
#include <QtTest>

#include <thread>

using namespace Qt::StringLiterals;

class tst_Desks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        if (!TestEnvironment::onServer())
            QSKIP("desks share a book on a server");
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
        DeskListener::shared().start(m_env->databasePath());
        QVERIFY(DeskListener::shared().isConnected());
    }
    void cleanup()
    {
        DeskListener::shared().stop();
        m_env.reset();
    }

    void anotherDesksReceiptReachesTheList();
    void receiptInTheFormChangedElsewhere_data();
    void receiptInTheFormChangedElsewhere();
    void saveWaitsForTheRowAnotherDeskHolds();
    void voidWaitsForTheRowAnotherDeskHolds();
    void listSearchesTheServer_data();
    void listSearchesTheServer();
    void readAfterTheServerCameBack();
    void listsReadAgainAfterTheListenerCameBack();
    void saveWaitsOnlyAWhileForAHeldNumbering();
    void bookHeldExclusivelyIsNotWaitedFor();
    void saveWhoseAnswerWasLost_data();
    void saveWhoseAnswerWasLost();
    void importWhoseAnswerWasLost();
    void shownNumberMovesWhenAnotherDeskTakesIt();
    void saveDuringAnOutageSaysSo();
    void saveAfterTheServerRestartedGoesThrough();
    void importHoldsTheNumbering();
    void payloads();
    void aDeskAcrossTownWaitsTwoRoundTripsAtMost();
    void aBookWithoutItsProceduresIsWrittenStepByStep();

private:
    // The program's book reached through `proxy` from now on, its stores made anew.
    void reachThrough(const PgProxy &proxy)
    {
        const QString database = QUrl(m_env->databasePath()).path().mid(1);
        qputenv("QUENTA_BOOK", proxy.uri(database).toUtf8());
        resetSharedStores();
    }

    std::unique_ptr<TestEnvironment> m_env;
};

namespace {
QString &noticesTold()
{
    static QString told;
    return told;
}
void tellNotice(bool waiting)
{
    noticesTold() += waiting ? u'+' : u'-';
}

// A receipt in the form as a cashier fills it in.
void fillForm(const QString &id, const QString &payer, double total)
{
    AppStore &store = AppStore::shared();
    Receipt edit = store.receiptEdit();
    edit.id = id;
    edit.payer = payer;
    edit.reason1 = u"房租"_s;
    edit.total = total;
    store.setReceiptEdit(edit);
}
} // namespace

void tst_Desks::anotherDesksReceiptReachesTheList()
{
    AppStore &store = AppStore::shared();
    store.setBeginDate(u"2000-01-01 00:00:00"_s);
    store.setEndDate(u"2999-12-31 23:59:59"_s);
    store.loadReceipts();
    QCOMPARE(store.receipts().size(), 0);
    // Another program on the book: the race's one side, saving one receipt as the form does.
    QProcess desk;
    desk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    desk.start(QCoreApplication::applicationDirPath() + u"/quenta_numberingrace"_s, {u"1"_s, u"0"_s});
    QVERIFY(desk.waitForFinished(60000));
    QCOMPARE(m_env->receiptCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(store.receipts().size(), 1, 2000);
    QCOMPARE(store.receipts().first().payer, u"甲"_s);
}

void tst_Desks::receiptInTheFormChangedElsewhere_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("told");
    QTest::newRow("changed") << u"update tb_receipt set payer = '乙' where id = 'ID-甲'"_s
                             << int(BookChange::Kind::Updated) << u"该收据已在其他电脑上修改"_s;
    QTest::newRow("voided") << u"insert into tb_void values ('ID-甲', '写错', '2024-05-01')"_s
                            << int(BookChange::Kind::Voided) << u"该收据已在其他电脑上作废"_s;
    QTest::newRow("deleted") << u"delete from tb_receipt where id = 'ID-甲'"_s
                             << int(BookChange::Kind::Removed) << u"该收据已在其他电脑上删除"_s;
}

void tst_Desks::receiptInTheFormChangedElsewhere()
{
    QFETCH(QString, change);
    QFETCH(int, kind);
    QFETCH(QString, told);
    AppStore &store = AppStore::shared();
    const QString id = saveNewReceipt(u"甲"_s, 5);
    QVERIFY(!id.isEmpty());
    const QString row = m_env->queryRaw(u"select rowid from tb_receipt where id = 'ID-甲'"_s);
    store.setSelectedId(id);
    QVERIFY(store.loadSelected(true));
    Receipt edit = store.receiptEdit();
    edit.remark = u"这边写的"_s;
    store.setReceiptEdit(edit);

    QSignalSpy spy(&store, &AppStore::editChangedElsewhere);
    QVERIFY(m_env->execRaw(u"begin; %1; select pg_notify('quenta_book', '%2;ID-甲;%3'); commit;"_s
                               .arg(change)
                               .arg(kind)
                               .arg(row)));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 2000);
    QCOMPARE(spy.first().first().toString(), told);
    // Refused rather than overwriting; what was typed stays in the form.
    QString saveError;
    QVERIFY(!store.updateReceipt(&saveError));
    QCOMPARE(saveError, told);
    QCOMPARE(store.receiptEdit().remark, u"这边写的"_s);
    if (kind == int(BookChange::Kind::Updated)) {
        QCOMPARE(m_env->queryRaw(u"select payer || remark from tb_receipt"_s), u"乙"_s);
        // Opened again, it saves over what the other desk left.
        QVERIFY(store.loadSelected(true));
        QVERIFY(store.updateReceipt());
    }
}

// Another desk's save of the same receipt, committed while this one waits for the row: this
// save reads the receipt only once it holds the row, and is refused rather than writing over
// a change it never saw.
void tst_Desks::saveWaitsForTheRowAnotherDeskHolds()
{
    AppStore &store = AppStore::shared();
    const QString id = saveNewReceipt(u"甲"_s, 5);
    store.setSelectedId(id);
    QVERIFY(store.loadSelected(true));
    Receipt edit = store.receiptEdit();
    edit.remark = u"这边写的"_s;
    store.setReceiptEdit(edit);
    PgConnection other(m_env->databasePath());
    QVERIFY(other.open());
    QVERIFY(other.executeStatements(
        u"begin; update tb_receipt set payer = '乙' where id = %1"_s.arg(sqlQuote(id))));
    std::thread committer([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        other.executeStatements(u"commit"_s);
    });
    QString saveError;
    const bool saved = store.updateReceipt(&saveError);
    committer.join();
    QVERIFY(!saved);
    QCOMPARE(saveError, u"该收据已在其他电脑上修改"_s);
    QCOMPARE(m_env->queryRaw(u"select payer || remark from tb_receipt"_s), u"乙"_s);
}

// A void waits for the save of an edit another desk has under way, and voids the receipt
// as that desk left it: its history row holds the receipt as it is now.
void tst_Desks::voidWaitsForTheRowAnotherDeskHolds()
{
    const QString id = saveNewReceipt(u"甲"_s, 5);
    PgConnection other(m_env->databasePath());
    QVERIFY(other.open());
    QVERIFY(other.executeStatements(
        u"begin; select id from tb_receipt where id = %1 for update; "
        u"update tb_receipt set payer = '乙' where id = %1"_s.arg(sqlQuote(id))));
    std::thread committer([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        other.executeStatements(u"commit"_s);
    });
    QString error;
    const bool voided = ReceiptBook::shared().voidReceipts({id}, u"写错"_s, &error);
    committer.join();
    QVERIFY2(voided, qPrintable(error));
    QCOMPARE(m_env->queryRaw(
                 u"select detail::json->>'payer' from tb_history where action = 'void'"_s),
             u"乙"_s);
}

void tst_Desks::listSearchesTheServer_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("letters in any case") << u"acme"_s << QStringList(u"ID-ACME 公司"_s);
    QTest::newRow("chinese") << u"公司"_s << QStringList({u"ID-ACME 公司"_s, u"ID-乙公司"_s});
    QTest::newRow("an amount") << u"7"_s << QStringList(u"ID-乙公司"_s);
    QTest::newRow("like's own characters") << u"50%_"_s << QStringList(u"ID-50%_"_s);
    QTest::newRow("nothing") << u"丁"_s << QStringList();
    // Among letters, as ilike compares them: like's characters are letters too.
    QTest::newRow("an underscore among letters") << u"a_b"_s << QStringList(u"ID-A_B"_s);
}

void tst_Desks::listSearchesTheServer()
{
    QFETCH(QString, search);
    QFETCH(QStringList, found);
    for (const auto &[payer, total] : {std::pair {u"ACME 公司"_s, 5.0},
                                       {u"乙公司"_s, 7.0},
                                       {u"50%_"_s, 9.0},
                                       {u"5000"_s, 1.0},
                                       {u"A_B"_s, 3.0},
                                       {u"AxB"_s, 4.0}})
        QVERIFY(!saveNewReceipt(payer, total).isEmpty());
    ReceiptList list(ReceiptBook::shared());
    list.setSearch(search);
    list.setRange(u"2000-01-01 00:00:00"_s, u"2999-12-31 23:59:59"_s);
    QStringList ids;
    for (qsizetype row = 0; row < list.size(); ++row)
        ids.append(list.idAt(row));
    ids.sort();
    QCOMPARE(ids, found);
    QCOMPARE(list.totals().count, found.size());
}

void tst_Desks::readAfterTheServerCameBack()
{
    const QString kept = saveNewReceipt(u"甲"_s, 5);
    const QString voided = saveNewReceipt(u"乙"_s, 7);
    QVERIFY(ReceiptBook::shared().voidReceipts({voided}, u"写错"_s));
    // The connection broke while idle: the next read goes to the server started again,
    // and the void is still told apart.
    PgTestServer &server = PgTestServer::shared();
    QVERIFY(server.stop(u"immediate"_s));
    QVERIFY2(server.start(), qPrintable(server.logTail()));
    ReceiptList list(ReceiptBook::shared());
    list.setRange(u"2000-01-01 00:00:00"_s, u"2999-12-31 23:59:59"_s);
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.totals().count, 1);
    QCOMPARE(list.totals().voided, 1);
    QCOMPARE(list.totals().fen, 500);
    QVERIFY(!kept.isEmpty());
}

// What another desk saved while the listener was cut off was never heard: once it is back,
// every list reads the book again.
void tst_Desks::listsReadAgainAfterTheListenerCameBack()
{
    ReceiptList list(ReceiptBook::shared());
    list.setRange(u"2000-01-01 00:00:00"_s, u"2999-12-31 23:59:59"_s);
    QCOMPARE(list.size(), 0);
    QVERIFY(m_env->execRaw(u"select pg_terminate_backend(pid) from pg_stat_activity "_s
                           u"where query like 'LISTEN%' and pid <> pg_backend_pid()"_s));
    QTRY_VERIFY_WITH_TIMEOUT(!DeskListener::shared().isConnected(), 5000);
    // Saved meanwhile: its notice went to nobody.
    QVERIFY(m_env->storeReceipt(u"ID-甲"_s, u"0000001"_s, dayText()));
    QTRY_VERIFY_WITH_TIMEOUT(DeskListener::shared().isConnected(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(list.size(), 1, 5000);
}

// A desk stopped while it holds the numbering (or psql left in a transaction) keeps the
// others' saves waiting for a while only: the wait is told, and the save then fails with
// nothing written.
void tst_Desks::saveWaitsOnlyAWhileForAHeldNumbering()
{
    PgConnection::Timeouts timeouts;
    timeouts.lockWaitSeconds = 2;
    timeouts.noticeMilliseconds = 300;
    const PgConnection::Timeouts before = PgConnection::timeouts();
    PgConnection::setTimeouts(timeouts);
    PgConnection::setWaitNotice(&tellNotice);
    const auto restore = qScopeGuard([&] {
        PgConnection::setTimeouts(before);
        PgConnection::setWaitNotice(nullptr);
    });
    noticesTold().clear();
    resetSharedStores(); // a connection with the shorter wait
    AppStore::shared().newReceipt();
    fillForm(u"ID-甲"_s, u"甲"_s, 5);
    PgConnection holder(m_env->databasePath());
    QVERIFY(holder.open());
    QVERIFY(holder.executeStatements(u"set idle_in_transaction_session_timeout = 0; begin; "_s
                                     u"select * from tb_receiptNo for update"_s));
    QString saveError;
    QVERIFY(!AppStore::shared().insertReceipt(&saveError));
    QCOMPARE(saveError, u"保存失败：其他电脑正占用账本，请稍后再试"_s);
    QCOMPARE(noticesTold(), u"+-"_s);
    QVERIFY(holder.executeStatements(u"rollback"_s));
    QCOMPARE(m_env->receiptCount(), 0);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history"_s), 0);
    QVERIFY(AppStore::shared().insertReceipt());
}

// Anybody who can connect can hold the desks' lock exclusively (a restore does): a desk's
// start is refused at once, saying why, and what only reads opens all the same.
void tst_Desks::bookHeldExclusivelyIsNotWaitedFor()
{
    PgConnection holder(m_env->databasePath());
    QVERIFY(holder.open());
    QVERIFY(holder.executeStatements(u"select pg_advisory_lock(%1)"_s.arg(Database::deskLockKey)));
    QElapsedTimer waited;
    waited.start();
    Database desk(m_env->databasePath());
    QVERIFY(!desk.open());
    QCOMPARE(desk.lastError().kind(), DatabaseError::Kind::BookHeldExclusively);
    QVERIFY(desk.lastError().message().contains(u"正被独占"_s));
    Database reader(m_env->databasePath());
    reader.setDeskLock(Database::DeskLock::WhenFree);
    QVERIFY(reader.open());
    QVERIFY(reader.executeQuery(u"select count(*) from tb_receipt"_s));
    reader.setOpenReadOnly(true);
    QVERIFY(reader.open());
    const Run exported
        = runQuenta({u"--export"_s, QDir(m_env->documentsPath()).filePath(u"all.csv"_s)});
    QCOMPARE(exported.status, 0);
    QVERIFY(waited.elapsed() < 20000);
}

// The server wrote the commit and the desk never heard it (or the commit never got there):
// the receipt is looked for by its id, found or not, and a form saved again once the book
// can be reached is not stored a second time.
void tst_Desks::saveWhoseAnswerWasLost_data()
{
    QTest::addColumn<int>("loss");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("stored");
    QTest::newRow("answer lost, book reached again") << int(PgProxy::Loss::Answer) << true << 1;
    QTest::newRow("answer lost, book out of reach") << int(PgProxy::Loss::Answer) << false << 1;
    QTest::newRow("commit lost, book reached again") << int(PgProxy::Loss::Commit) << true << 0;
    QTest::newRow("commit lost, book out of reach") << int(PgProxy::Loss::Commit) << false << 0;
}

void tst_Desks::saveWhoseAnswerWasLost()
{
    QFETCH(int, loss);
    QFETCH(bool, reachable);
    QFETCH(int, stored);
    PgTestServer &server = PgTestServer::shared();
    PgProxy proxy(server.folder(), server.port());
    QVERIFY(proxy.isListening());
    reachThrough(proxy);
    AppStore &store = AppStore::shared();
    store.newReceipt();
    fillForm(u"ID-甲"_s, u"甲"_s, 5);
    proxy.setRefusing(!reachable);
    proxy.loseNextCommit(PgProxy::Loss(loss));
    QString saveError;
    const bool saved = store.insertReceipt(&saveError);
    QCOMPARE(proxy.losses(), 1);
    QCOMPARE(m_env->receiptCount(), stored);
    if (reachable) {
        QCOMPARE(saved, stored == 1);
        if (saved) {
            QVERIFY2(store.saveNote().contains(u"已查明 No."_s), qPrintable(store.saveNote()));
            QCOMPARE(m_env->countRaw(u"select count(*) from tb_history"_s), 1);
            return;
        }
        QVERIFY2(saveError.contains(u"没有存入账本"_s), qPrintable(saveError));
    } else {
        QVERIFY(!saved);
        QCOMPARE(saveError, ReceiptBook::unconfirmedText());
        // Pressed again while still out of reach: still nothing stored twice.
        fillForm(u"ID-再按"_s, u"甲"_s, 5);
        QVERIFY(!store.insertReceipt(&saveError));
        QCOMPARE(saveError, ReceiptBook::unconfirmedText());
    }
    // The form saved again (the form gives each press a new id), the book in reach.
    proxy.setRefusing(false);
    fillForm(u"ID-又一次"_s, u"甲"_s, 5);
    {
        QString error;
        QVERIFY2(store.insertReceipt(&error), qPrintable(error));
    }
    QCOMPARE(m_env->receiptCount(), 1);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history"_s), 1);
    if (stored == 1 && !reachable) {
        QVERIFY2(store.saveNote().contains(u"没有再存一次"_s), qPrintable(store.saveNote()));
        QCOMPARE(store.receiptEdit().id, u"ID-甲"_s);
    }
}

// An import whose answer was lost is found in the book by its first receipt; the same
// file brought again is then known, not stored twice.
void tst_Desks::importWhoseAnswerWasLost()
{
    const QString file = QDir(m_env->documentsPath()).filePath(u"收据.csv"_s);
    QVERIFY(writeFile(file,
                      "收据单号,收款日期,交款单位,收款金额\n"
                      "0000007,2024-05-01,甲,5.00\n"
                      "0000008,2024-05-02,乙,6.00\n"));
    PgTestServer &server = PgTestServer::shared();
    PgProxy proxy(server.folder(), server.port());
    reachThrough(proxy);
    QString error;
    std::unique_ptr<BookImport::Source> source = ReceiptImport::open(file, &error);
    QVERIFY2(source, qPrintable(error));
    QVERIFY(SQLiteHelper::shared().open());
    proxy.loseNextCommit(PgProxy::Loss::Answer);
    BookImport::Result result;
    QVERIFY2(ReceiptBook::shared().importReceipts(*source, {}, &result, &error),
             qPrintable(error));
    QCOMPARE(proxy.losses(), 1);
    QVERIFY(result.note.contains(u"已查明"_s));
    QCOMPARE(m_env->receiptCount(), 2);

    for (const bool renumber : {false, true}) {
        std::unique_ptr<BookImport::Source> again = ReceiptImport::open(file, &error);
        BookImport::Options options;
        options.renumber = renumber;
        BookImport::Result refused;
        QVERIFY(!ReceiptBook::shared().importReceipts(*again, options, &refused, &error));
        QVERIFY2(error.startsWith(u"该文件已于 "_s), qPrintable(error));
        QVERIFY(!refused.importedBefore.isEmpty());
        QCOMPARE(m_env->receiptCount(), 2);
    }
}

// A desk's form shows the next number; another desk takes it: the form moves on at once.
void tst_Desks::shownNumberMovesWhenAnotherDeskTakesIt()
{
    AppStore &store = AppStore::shared();
    store.newReceipt();
    QCOMPARE(store.receiptEdit().receiptNo, u"0000001"_s);
    QSignalSpy moved(&store, &AppStore::shownNumberTaken);
    QVERIFY(m_env->execRaw(u"begin; %1; select pg_notify('quenta_book', '0;ID-乙;' || "
                           u"(select rowid from tb_receipt where id = 'ID-乙')); commit"_s.arg(
                               receiptInsertSql(u"ID-乙"_s, u"0000001"_s, dayText()))));
    QTRY_COMPARE_WITH_TIMEOUT(moved.count(), 1, 5000);
    QCOMPARE(moved.first().at(0).toString(), u"0000001"_s);
    QCOMPARE(moved.first().at(1).toString(), u"0000002"_s);
    QCOMPARE(store.receiptEdit().receiptNo, u"0000002"_s);
}

// The server stopped: the save says that the book cannot be reached and that what was typed
// is kept, not "数据库错误".
void tst_Desks::saveDuringAnOutageSaysSo()
{
    AppStore &store = AppStore::shared();
    store.newReceipt();
    fillForm(u"ID-甲"_s, u"甲"_s, 5);
    PgTestServer &server = PgTestServer::shared();
    QVERIFY(server.stop(u"fast"_s));
    const auto restart = qScopeGuard([&server] { server.start(); });
    QString saveError;
    QVERIFY(!store.insertReceipt(&saveError));
    QVERIFY2(saveError.startsWith(u"保存失败：共享账本连接中断"_s),
             qPrintable(saveError));
    QVERIFY2(saveError.contains(u"表单中的内容还在"_s), qPrintable(saveError));
    QCOMPARE(store.receiptEdit().payer, u"甲"_s);
    QVERIFY2(server.start(), qPrintable(server.logTail()));
    {
        QString error;
        QVERIFY2(store.insertReceipt(&error), qPrintable(error));
    }
    QCOMPARE(m_env->receiptCount(), 1);
}

// The server restarted while the desk sat idle: it said so as it went, and the next save
// goes through at the first press, on a new connection, stored once.
void tst_Desks::saveAfterTheServerRestartedGoesThrough()
{
    AppStore &store = AppStore::shared();
    store.newReceipt();
    fillForm(u"ID-甲"_s, u"甲"_s, 5);
    {
        QString error;
        QVERIFY2(store.insertReceipt(&error), qPrintable(error));
    }
    store.newReceipt();
    PgTestServer &server = PgTestServer::shared();
    QVERIFY(server.stop(u"fast"_s));
    QVERIFY2(server.start(), qPrintable(server.logTail()));
    fillForm(u"ID-乙"_s, u"乙"_s, 6);
    {
        QString error;
        QVERIFY2(store.insertReceipt(&error), qPrintable(error));
    }
    QCOMPARE(store.saveNote(), QString());
    QCOMPARE(m_env->receiptCount(), 2);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history"_s), 2);
}

// An import takes its numbers (renumbered or the file's) and moves the counter under the
// numbering's lock: a desk saving meanwhile waits for it instead of taking a number the
// import is about to store.
void tst_Desks::importHoldsTheNumbering()
{
    QByteArray csv = "收据单号,收款日期,交款单位,收款金额\n1,2024-05-01,甲,1.00\n";
    for (int i = 101; i <= 2599; ++i)
        csv += QByteArray::number(i) + ",2024-05-01,甲," + QByteArray::number(i) + ".00\n";
    const QString file = QDir(m_env->documentsPath()).filePath(u"多.csv"_s);
    QVERIFY(writeFile(file, csv));
    QVERIFY(!saveNewReceipt(u"先"_s, 1).isEmpty()); // 0000001 taken: renumbered
    QString error;
    std::unique_ptr<BookImport::Source> source = ReceiptImport::open(file, &error);
    QVERIFY(source);
    PgConnection desk(m_env->databasePath());
    QVERIFY(desk.open());
    int tries = 0;
    bool held = true;
    BookImport::Options options;
    options.renumber = true;
    options.progress = [&](qint64) {
        ++tries;
        held = held
            && !desk.executeStatements(u"begin; select * from tb_receiptNo for update nowait"_s)
            && desk.lastError().sqlState == PgState::lockNotAvailable;
        desk.executeStatements(u"rollback"_s);
        return true;
    };
    BookImport::Result result;
    QVERIFY2(ReceiptBook::shared().importReceipts(*source, options, &result, &error),
             qPrintable(error));
    QVERIFY(tries > 0);
    QVERIFY(held);
    QCOMPARE(result.renumbered.size(), 1);
    QCOMPARE(m_env->receiptCount(), 2501);
}

void tst_Desks::payloads()
{
    const BookChange change {BookChange::Kind::Voided, {u"A"_s, u"B"_s}, {3, 9}};
    const std::optional<BookChange> back
        = ReceiptBook::changeOfPayload(ReceiptBook::payloadOf(change));
    QVERIFY(back);
    QCOMPARE(back->ids, change.ids);
    QCOMPARE(back->rows, change.rows);
    // Too long for a notification, or unreadable: the whole book, read again.
    QStringList many;
    QList<qint64> rows;
    for (int i = 0; i < 400; ++i) {
        many.append(u"ID-%1-0000000000"_s.arg(i));
        rows.append(i);
    }
    QCOMPARE(ReceiptBook::payloadOf({BookChange::Kind::Removed, many, rows}), u"*"_s);
    QVERIFY(!ReceiptBook::changeOfPayload(u"1;A,B;3"_s));
    QVERIFY(!ReceiptBook::changeOfPayload(u"9;A;3"_s));
}

QTEST_GUILESS_MAIN(tst_Desks)
// Each round trip costs a desk across town its network's latency: a save with the form's next
// number, an edit's save with the form emptied and a void each wait for two at most, and the
// receipts they write are those the step-by-step transactions wrote.
void tst_Desks::aDeskAcrossTownWaitsTwoRoundTripsAtMost()
{
    PgTestServer &server = PgTestServer::shared();
    PgProxy proxy(server.folder(), server.port());
    QVERIFY(proxy.isListening());
    reachThrough(proxy);
    AppStore &store = AppStore::shared();
    store.newReceipt();
    fillForm(u"ID-甲"_s, u"甲"_s, 5);
    {
        QString error;
        QVERIFY2(store.insertReceipt(&error), qPrintable(error));
    }
    store.newReceipt();

    const auto trips = [&proxy](const std::function<bool()> &action) {
        proxy.resetTrips();
        return action() ? proxy.trips() : -1L;
    };
    QCOMPARE(trips([&] {
                 fillForm(u"ID-乙"_s, u"乙"_s, 6);
                 const bool saved = store.insertReceipt();
                 store.newReceipt();
                 return saved;
             }),
             1L);
    QCOMPARE(store.receiptEdit().receiptNo, u"0000003"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receipt where receiptNo = '0000002' "
                             u"and payer = '乙' and total = '6.0'"_s),
             1);

    // Another desk's save in between: the counter is read again on the way.
    QVERIFY(m_env->execRaw(receiptInsertSql(u"ID-丙"_s, u"0000003"_s, dayText())
                           + u"; update tb_receiptNo set currNum = '4'"_s));
    QCOMPARE(trips([&] {
                 fillForm(u"ID-丁"_s, u"丁"_s, 7);
                 const bool saved = store.insertReceipt();
                 store.newReceipt();
                 return saved;
             }),
             2L);
    QCOMPARE(store.receiptEdit().receiptNo, u"0000005"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receipt where receiptNo = '0000004' "
                             u"and payer = '丁'"_s),
             1);

    store.setSelectedId(u"ID-乙"_s);
    QVERIFY(store.loadSelected(true));
    QCOMPARE(trips([&] {
                 Receipt edit = store.receiptEdit();
                 edit.remark = u"改过"_s;
                 store.setReceiptEdit(edit);
                 const bool saved = store.updateReceipt();
                 store.newReceipt();
                 return saved;
             }),
             2L);
    QCOMPARE(store.receiptEdit().receiptNo, u"0000005"_s);
    QCOMPARE(trips([] { return ReceiptBook::shared().voidReceipts({u"ID-甲"_s}, u"开错了"_s); }),
             2L);

    // The history as the step-by-step writes leave it: each row the receipt as then stored.
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history"_s), 5);
    const std::optional<Receipt> edited = storedReceipt(u"ID-乙"_s);
    QVERIFY(edited);
    QCOMPARE(edited->remark, u"改过"_s);
    const QList<HistoryEntry> history
        = ReceiptBook::shared().history({}, {}, {}, u"ID-乙"_s).value_or(QList<HistoryEntry>());
    QCOMPARE(history.size(), 2);
    QCOMPARE(history.first().action, HistoryAction::Update);
    QCOMPARE(ReceiptHistory::receiptFromJson(history.first().detail).value().remark, u"改过"_s);
    QCOMPARE(history.first().detail.value(u"changes"_s).toObject().keys(), QStringList(u"remark"_s));
    QVERIFY(storedReceipt(u"ID-甲"_s)->voidReason == u"开错了"_s);

    // 今天收据: the range counted with the book's change count and the first page's
    // receipts, then its rows with their voids. The first opening also asks what the book
    // keeps.
    const QString today = QDate::currentDate().toString(u"yyyy-MM-dd"_s);
    const auto openToday = [&](qint64 voided) {
        ReceiptList list(ReceiptBook::shared());
        list.setRange(today + u" 00:00:00"_s, today + u" 23:59:59"_s);
        return list.size() == 4 && list.totals().count == 3 && list.totals().voided == voided
            && list.totals().fen == 1400 && list.at(0).has_value();
    };
    QVERIFY(trips([&] { return openToday(1); }) > 0);
    QCOMPARE(trips([&] { return openToday(1); }), 2L);
    // A void another desk made is in the rows read, and in the first page's receipts.
    QVERIFY(m_env->execRaw(u"insert into tb_void (receiptId, reason, voidDate) values ('ID-丙', "
                           u"'重开', '2024-01-01 00:00:00')"_s));
    QCOMPARE(trips([&] {
                 ReceiptList list(ReceiptBook::shared());
                 list.setRange(today + u" 00:00:00"_s, today + u" 23:59:59"_s);
                 QStringList reasons;
                 for (qsizetype row = 0; row < list.size(); ++row)
                     reasons << list.at(row).value_or(Receipt()).voidReason.value_or(QString());
                 reasons.sort();
                 return list.totals().count == 2 && list.totals().voided == 2
                     && reasons == QStringList({u""_s, u""_s, u"开错了"_s, u"重开"_s});
             }),
             2L);
}

// A book its owner has not brought up to date has no procedures: a desk writes step by step,
// with the same numbers.
void tst_Desks::aBookWithoutItsProceduresIsWrittenStepByStep()
{
    QVERIFY(m_env->execRaw(u"drop procedure quenta_issue; drop procedure quenta_update; "
                           u"drop procedure quenta_change_voids; "
                           u"drop function quenta_number_used"_s));
    resetSharedStores();
    AppStore &store = AppStore::shared();
    store.newReceipt();
    QCOMPARE(store.receiptEdit().receiptNo, u"0000001"_s);
    fillForm(u"ID-甲"_s, u"甲"_s, 5);
    {
        QString error;
        QVERIFY2(store.insertReceipt(&error), qPrintable(error));
    }
    store.newReceipt();
    QCOMPARE(store.receiptEdit().receiptNo, u"0000002"_s);
    store.setSelectedId(u"ID-甲"_s);
    QVERIFY(store.loadSelected(true));
    Receipt edit = store.receiptEdit();
    edit.remark = u"改过"_s;
    store.setReceiptEdit(edit);
    {
        QString error;
        QVERIFY2(store.updateReceipt(&error), qPrintable(error));
    }
    QVERIFY(ReceiptBook::shared().voidReceipts({u"ID-甲"_s}, u"开错了"_s));
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history"_s), 3);
}

#include "tst_desks.moc"
