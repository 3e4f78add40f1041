// SPDX-License-Identifier: GPL-3.0-or-later
#include "companystore.h"
#include "lookupstores.h"
#include "testsupport.h"

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
    void writesThatChangeNothing();
    void accountExtras();
    void unopenableDatabase();
    void missingCompanyRow();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

// Each store reads its own table (the account's value column is userName), ordered by value
// and numbered from 1.
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

// Adding, renaming and deleting are driven through the list screens (tst_settingsviews);
// here the writes that change nothing, which leave the list and its signals alone.
void tst_LookupStores::writesThatChangeNothing()
{
    RemarkStore &store = RemarkStore::shared();
    QVERIFY(store.insert({u"X"_s, 99, u"一"_s})); // the index is the place in the list
    QSignalSpy items(&store, &LookupStoreBase::itemsChanged);
    QVERIFY(!store.insert({u"X"_s, 0, u"二"_s})); // the id is taken
    QVERIFY(!store.remove({}));
    QCOMPARE(items.count(), 0);
    QVERIFY(store.update({u"NONE"_s, 0, u"无"_s})); // ran, changed nothing
    QCOMPARE(loaded(&store), QStringList(u"X/1/一"_s));
    QCOMPARE(m_env->queryRaw(u"select group_concat(id || content) from tb_remark"_s), u"X一"_s);
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

void tst_LookupStores::unopenableDatabase()
{
    m_env->makeDatabaseUnopenable();
    PaytypeStore &store = PaytypeStore::shared();
    QCOMPARE(store.items(), QStringList());
    QVERIFY(!store.insert({u"X"_s, 0, u"一"_s})); // (update and remove write the same way)
    QCOMPARE(CompanyStore::shared().company(), Company());
    QVERIFY(!CompanyStore::shared().save());
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
