#include "appstore.h"
#include "companystore.h"
#include "lookupstores.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "stores.h"
#include "testsupport.h"
#include "translatestore.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The lookup stores, in the order of the table names below.
const char *const lookupTables[] = {"payer", "reason1", "reason2", "remark", "paytype", "account"};

QList<LookupStoreBase *> lookupStores()
{
    return {&PayerStore::shared(),  &Reason1Store::shared(), &Reason2Store::shared(),
            &RemarkStore::shared(), &PaytypeStore::shared(), &AccountStore::shared()};
}

// (id, index, value) of each loaded record, whatever the record type.
QStringList loaded(QObject *store)
{
    QStringList rows;
    if (auto *account = qobject_cast<AccountStore *>(store)) {
        for (const Account &a : account->datas())
            rows.append(u"%1/%2/%3"_s.arg(a.id).arg(a.index).arg(a.userName));
    }
    for (const LookupEntry &e : store->property("datas").value<QList<LookupEntry>>())
        rows.append(u"%1/%2/%3"_s.arg(e.id).arg(e.index).arg(e.content));
    return rows;
}

} // namespace

class tst_LookupStores : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
    }
    void cleanup() { m_env.reset(); }

    void loadOrdersByValue_data();
    void loadOrdersByValue();
    void insertUpdateRemove();
    void failedWritesLeaveListsAlone();
    void accountExtras();
    void duplicateTest();
    void unopenableDatabase();
    void companySaveAndRestart();
    void missingCompanyRow();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

// Every property of every store notifies, even when assigned the value it already holds.
void tst_LookupStores::loadOrdersByValue_data()
{
    QTest::addColumn<int>("store");
    for (int i = 0; i < int(std::size(lookupTables)); ++i)
        QTest::newRow(lookupTables[i]) << i;
}

void tst_LookupStores::loadOrdersByValue()
{
    QFETCH(int, store);
    const QString table = QString::fromLatin1(lookupTables[store]);
    QVERIFY(m_env->execRaw(u"delete from tb_%1; insert into tb_%1 (id, %2) values ('1', 'C'), "
                           u"('2', 'A'), ('3', 'B');"_s.arg(
                               table, table == u"account"_s ? u"userName"_s : u"content"_s)));
    LookupStoreBase *lookup = lookupStores().at(store);
    QCOMPARE(lookup->items(), QStringList({u"A"_s, u"B"_s, u"C"_s}));
    QCOMPARE(loaded(lookup), QStringList({u"2/1/A"_s, u"3/2/B"_s, u"1/3/C"_s}));
}

void tst_LookupStores::insertUpdateRemove()
{
    PayerStore &store = PayerStore::shared();
    QCOMPARE(store.items(), QStringList()); // empty table
    QSignalSpy items(&store, &LookupStoreBase::itemsChanged);

    QVERIFY(store.insert({u"X"_s, 99, u"王's 店"_s}));
    QVERIFY(store.insert({u"Y"_s, 0, u"'); drop table tb_payer; --"_s}));
    QVERIFY(store.insert({u"Z"_s, 0, u"乙"_s}));
    QCOMPARE(items.count(), 6); // each reload empties, then fills
    QCOMPARE(loaded(&store),
             QStringList({u"Y/1/'); drop table tb_payer; --"_s, u"Z/2/乙"_s, u"X/3/王's 店"_s}));

    QVERIFY(store.update({u"X"_s, 0, u"甲's"_s}));
    QCOMPARE(m_env->queryRaw(u"select content from tb_payer where id = 'X'"_s), u"甲's"_s);
    QCOMPARE(store.items(), QStringList({u"'); drop table tb_payer; --"_s, u"乙"_s, u"甲's"_s}));
    QVERIFY(store.update({u"NONE"_s, 0, u"无"_s})); // ran, changed nothing
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_payer"_s), 3);

    StreamCapture err(2);
    items.clear();
    QVERIFY(!store.remove({}));
    QCOMPARE(items.count(), 0);
    QVERIFY(store.remove({u"X"_s, u"Y"_s}));
    QCOMPARE(loaded(&store), QStringList(u"Z/1/乙"_s));
    QCOMPARE(m_env->queryRaw(u"select group_concat(id) from tb_payer"_s), u"Z"_s);
    QCOMPARE(err.text(), QString());
}

void tst_LookupStores::failedWritesLeaveListsAlone()
{
    RemarkStore &store = RemarkStore::shared();
    QVERIFY(store.insert({u"X"_s, 0, u"一"_s}));
    QSignalSpy datas(&store, &LookupStoreBase::datasChanged);
    StreamCapture err(2);
    QVERIFY(!store.insert({u"X"_s, 0, u"二"_s})); // the id is taken
    QCOMPARE(datas.count(), 0);
    QCOMPARE(store.items(), QStringList(u"一"_s));
    QVERIFY(!SQLiteHelper::shared().db().isOpen());
    QCOMPARE(err.lines(),
             QStringList(u"Error inserting batch: UNIQUE constraint failed: tb_remark.id"_s));
}

void tst_LookupStores::accountExtras()
{
    QVERIFY(m_env->execRaw(u"insert into tb_account values ('B', '乙', 'secret', 'admin', '1')"_s));
    AccountStore &store = AccountStore::shared();
    QVERIFY(store.insert({u"A"_s, 0, u"甲"_s, u"pw"_s, u"power"_s, u"on"_s}));
    QCOMPARE(m_env->queryRaw(u"select typeof(password) || typeof(power) || typeof(status) "
                             u"from tb_account where id = 'A'"_s),
             u"nullnullnull"_s);
    const QList<Account> accounts = store.datas();
    QCOMPARE(accounts.size(), 2);
    QCOMPARE(accounts.at(0), (Account {u"B"_s, 1, u"乙"_s, u"secret"_s, u"admin"_s, u"1"_s}));
    QCOMPARE(accounts.at(1), (Account {u"A"_s, 2, u"甲"_s, {}, {}, {}}));
    QCOMPARE(store.items(), QStringList({u"乙"_s, u"甲"_s}));

    QVERIFY(store.update({u"B"_s, 0, u"丙"_s, u"changed"_s, {}, {}}));
    QCOMPARE(m_env->queryRaw(u"select userName || password from tb_account where id = 'B'"_s),
             u"丙secret"_s);
}

void tst_LookupStores::duplicateTest()
{
    QVERIFY(PayerStore::shared().insert({u"X"_s, 0, u"王's 店"_s}));
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.exists(PayerStore::shared().duplicateTestSql(u"王's 店"_s)));
    QVERIFY(!helper.exists(PayerStore::shared().duplicateTestSql(u"王"_s)));
    QVERIFY(helper.exists(PaytypeStore::shared().duplicateTestSql(u"微信"_s)));
    QVERIFY(!helper.exists(AccountStore::shared().duplicateTestSql(u"微信"_s)));
}

void tst_LookupStores::unopenableDatabase()
{
    m_env->makeDatabaseUnopenable();
    PaytypeStore &store = PaytypeStore::shared();
    QCOMPARE(store.items(), QStringList());
    QVERIFY(!store.insert({u"X"_s, 0, u"一"_s}));
    QVERIFY(!store.update({u"X"_s, 0, u"一"_s}));
    QVERIFY(!store.remove({u"X"_s}));
    QCOMPARE(CompanyStore::shared().company(), Company());
    QVERIFY(!CompanyStore::shared().save());
}

void tst_LookupStores::companySaveAndRestart()
{
    CompanyStore &store = CompanyStore::shared();
    Company company = store.company();
    QCOMPARE(company.title, u"收款收据"_s);
    QVERIFY(!company.id.isEmpty());

    company.title = u"王's 店 收据"_s;
    company.label = u"第二联"_s;
    company.remark = u"'); drop table tb_company; --"_s;
    store.setCompany(company);
    QVERIFY(store.save());
    QCOMPARE(store.company(), company); // no reload needed

    resetSharedStores();
    QCOMPARE(CompanyStore::shared().company(), company);

    // Edited but not saved: gone after a restart.
    Company unsaved = company;
    unsaved.title = u"未保存"_s;
    CompanyStore::shared().setCompany(unsaved);
    resetSharedStores();
    QCOMPARE(CompanyStore::shared().company(), company);
}

void tst_LookupStores::missingCompanyRow()
{
    // Missing when the book opens: the template's row is put back, so the header saves.
    QVERIFY(m_env->execRaw(u"delete from tb_company"_s));
    CompanyStore &store = CompanyStore::shared();
    QCOMPARE(store.company().title, u"收款收据"_s);
    Company company = store.company();
    company.title = u"标题"_s;
    store.setCompany(company);
    QVERIFY(store.save());
    QCOMPARE(m_env->queryRaw(u"select title from tb_company"_s), u"标题"_s);

    // Gone while the program runs: saving to no row is a failure, not a success.
    QVERIFY(m_env->execRaw(u"delete from tb_company"_s));
    QVERIFY(!store.save());
}

QTEST_GUILESS_MAIN(tst_LookupStores)
#include "tst_lookupstores.moc"
