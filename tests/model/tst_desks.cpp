// SPDX-License-Identifier: GPL-3.0-or-later
// Desks of one shared book: what one writes reaches the others as it commits.
#include "appstore.h"
#include "desklistener.h"
#include "pgconnection.h"
#include "pgtestserver.h"
#include "receiptbook.h"
#include "receiptlist.h"
#include "sqlliteral.h"
#include "testsupport.h"

#include <QProcess>
#include <QSignalSpy>
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
    void payloads();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

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
    QVERIFY(!store.updateReceipt());
    QCOMPARE(store.saveError(), told);
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
    const bool saved = store.updateReceipt();
    committer.join();
    QVERIFY(!saved);
    QCOMPARE(store.saveError(), u"该收据已在其他电脑上修改"_s);
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
}

void tst_Desks::listSearchesTheServer()
{
    QFETCH(QString, search);
    QFETCH(QStringList, found);
    for (const auto &[payer, total] :
         {std::pair {u"ACME 公司"_s, 5.0}, {u"乙公司"_s, 7.0}, {u"50%_"_s, 9.0}, {u"5000"_s, 1.0}})
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
#include "tst_desks.moc"
