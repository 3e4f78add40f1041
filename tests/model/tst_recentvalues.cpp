// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "receiptbook.h"
#include "recentvalues.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

using Field = RecentValues::Field;

// The texts of recent receipts that the form's combo boxes offer after their lists' own.
class tst_RecentValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
    }
    void cleanup() { m_env.reset(); }

    void newestDistinctTextsAfterTheList();
    void aSaveSendsNoReadAndWritesNoList();
    void failedReadKeepsTheOfferAnotherBookDropsIt();

private:
    // A receipt added after the ones before it, with its four texts.
    void store(const QString &id, const QString &payer, const QString &reason1,
               const QString &reason2 = {}, const QString &remark = {})
    {
        QVERIFY(m_env->storeReceipt(id, id, u"2024-05-01 00:00:00"_s, payer));
        QVERIFY(m_env->execRaw(
            u"update tb_receipt set reason1 = %1, reason2 = %2, remark = %3 where id = %4"_s.arg(
                sqlQuote(reason1), sqlQuote(reason2), sqlQuote(remark), sqlQuote(id))));
    }
    qint64 statementsSent() const { return SQLiteHelper::shared().db().statementsSent(); }

    std::unique_ptr<TestEnvironment> m_env;
};

void tst_RecentValues::newestDistinctTextsAfterTheList()
{
    const QString composedE = u"Caf\u00e9"_s;
    const QString decomposedE = u"Cafe\u0301"_s;
    store(u"0000001"_s, u"甲公司"_s, u"房租"_s, u"一月"_s);
    store(u"0000002"_s, decomposedE, u"押金"_s);
    store(u"0000003"_s, u"绿洲餐饮有限公司"_s, u"房租"_s, QString(), u"它's \"引号\""_s);
    store(u"0000004"_s, u"作废了也算"_s, u"房租"_s);
    QVERIFY(m_env->execRaw(u"insert into tb_void (receiptId, reason, voidDate) "
                           u"values ('0000004', '写错', '2024-05-01 00:00:00')"_s));
    store(u"0000005"_s, u"已删除"_s, u"删除的事由"_s);
    QVERIFY(m_env->execRaw(u"update tb_receipt set isDeleted = 1 where id = '0000005'"_s));
    store(u"0000006"_s, composedE, u"房租"_s);

    RecentValues values(ReceiptBook::shared());
    QSignalSpy changed(&values, &RecentValues::valuesChanged);
    values.reload();
    QCOMPARE(changed.count(), 1);
    // Newest first, each once (a composed and a decomposed é are one text), none empty;
    // a voided receipt was typed all the same, one the lists hide was not kept.
    QCOMPARE(values.values(Field::Payer),
             QStringList({composedE, u"作废了也算"_s, u"绿洲餐饮有限公司"_s, u"甲公司"_s}));
    QCOMPARE(values.values(Field::Reason1), QStringList({u"房租"_s, u"押金"_s}));
    QCOMPARE(values.values(Field::Reason2), QStringList(u"一月"_s));
    QCOMPARE(values.values(Field::Remark), QStringList(u"它's \"引号\""_s));
    // After the list's own entries, without those it holds (in either composition).
    QCOMPARE(values.offered(Field::Payer, {u"乙公司"_s, decomposedE, u"甲公司"_s}),
             QStringList(
                 {u"乙公司"_s, decomposedE, u"甲公司"_s, u"作废了也算"_s, u"绿洲餐饮有限公司"_s}));
    values.reload();
    QCOMPARE(changed.count(), 1); // read again, the same: not told

    // Only the newest receipts are read.
    for (int i = 0; i < RecentValues::receiptCount; ++i)
        QVERIFY(m_env->execRaw(receiptInsertSql(u"N%1"_s.arg(i),
                                                u"%1"_s.arg(i + 10, 7, 10, QChar(u'0')),
                                                u"2024-05-02 00:00:00"_s, u"新单位"_s)));
    values.reload();
    QCOMPARE(values.values(Field::Payer), QStringList(u"新单位"_s));
}

// The form's save sends the book what it sent before the offer existed: the texts just
// saved come first from the save itself. Nor does a typed text reach the lookup lists.
void tst_RecentValues::aSaveSendsNoReadAndWritesNoList()
{
    QVERIFY(!saveNewReceipt(u"预热"_s, 1).isEmpty()); // a first save prepares its way
    qint64 before = statementsSent();
    QVERIFY(!saveNewReceipt(u"甲公司"_s, 2).isEmpty());
    const qint64 withoutOffer = statementsSent() - before;

    RecentValues &values = RecentValues::shared();
    values.reload();
    QCOMPARE(values.values(Field::Payer), QStringList({u"甲公司"_s, u"预热"_s}));
    QSignalSpy changed(&values, &RecentValues::valuesChanged);
    before = statementsSent();
    QVERIFY(!saveNewReceipt(u"绿洲餐饮有限公司"_s, 3).isEmpty());
    QCOMPARE(statementsSent() - before, withoutOffer);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(values.values(Field::Payer),
             QStringList({u"绿洲餐饮有限公司"_s, u"甲公司"_s, u"预热"_s}));

    // An edit saved: its texts come first too, once.
    AppStore &store = AppStore::shared();
    store.setSelectedId(u"ID-预热"_s);
    QVERIFY(store.loadSelected(true));
    Receipt edit = store.receiptEdit();
    edit.reason2 = u"补写的说明"_s;
    store.setReceiptEdit(edit);
    before = statementsSent();
    {
        QString error;
        QVERIFY2(store.updateReceipt(&error), qPrintable(error));
    }
    const qint64 editStatements = statementsSent() - before;
    QCOMPARE(values.values(Field::Payer),
             QStringList({u"预热"_s, u"绿洲餐饮有限公司"_s, u"甲公司"_s}));
    QCOMPARE(values.values(Field::Reason2), QStringList(u"补写的说明"_s));
    // The same edit again, without the offer: as many statements.
    SharedInstance<RecentValues>::reset();
    edit.reason2 = u"又改"_s;
    store.setReceiptEdit(edit);
    before = statementsSent();
    {
        QString error;
        QVERIFY2(store.updateReceipt(&error), qPrintable(error));
    }
    QCOMPARE(statementsSent() - before, editStatements);

    for (const QString &table : {u"tb_payer"_s, u"tb_reason1"_s, u"tb_reason2"_s, u"tb_remark"_s})
        QCOMPARE(m_env->countRaw(u"select count(*) from %1 where content in ('甲公司', "
                                 u"'绿洲餐饮有限公司', '补写的说明', '预热')"_s.arg(table)),
                 0);
}

void tst_RecentValues::failedReadKeepsTheOfferAnotherBookDropsIt()
{
    store(u"0000001"_s, u"甲公司"_s, u"房租"_s);
    RecentValues values(ReceiptBook::shared());
    values.reload();
    QCOMPARE(values.values(Field::Payer), QStringList(u"甲公司"_s));
    // A read that fails (the table gone, as with a damaged book) keeps the offer.
    QVERIFY(m_env->execRaw(u"alter table tb_receipt rename to tb_gone"_s));
    values.reload();
    QCOMPARE(values.values(Field::Payer), QStringList(u"甲公司"_s));
    // Another book (a restore, another file): its own texts only.
    QVERIFY(m_env->execRaw(u"alter table tb_gone rename to tb_receipt"_s));
    QVERIFY(m_env->execRaw(u"update tb_receipt set payer = '乙公司'"_s));
    ReceiptBook::shared().tellReplaced();
    QCOMPARE(values.values(Field::Payer), QStringList(u"乙公司"_s));
}

QTEST_GUILESS_MAIN(tst_RecentValues)
#include "tst_recentvalues.moc"
