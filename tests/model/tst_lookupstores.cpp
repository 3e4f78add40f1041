// SPDX-License-Identifier: GPL-3.0-or-later
#include "companystore.h"
#include "lookupstores.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// (id, index, value) of each loaded entry.
QStringList loaded(const RemarkStore &store)
{
    QStringList rows;
    for (const LookupEntry &e : store.datas())
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

    void writesThatChangeNothing();
    void accountExtras();
    void unopenableDatabase();
    void missingCompanyRow();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

// Adding, renaming and deleting are driven through the list screens (tst_settingsviews);
// here the writes that change nothing, which leave the list and its signals alone, and a
// rename of an entry that is gone, which fails.
void tst_LookupStores::writesThatChangeNothing()
{
    RemarkStore &store = RemarkStore::shared();
    QVERIFY(store.insert({u"X"_s, 99, u"一"_s})); // the index is the place in the list
    QSignalSpy items(&store, &LookupStoreBase::itemsChanged);
    QVERIFY(!store.insert({u"X"_s, 0, u"二"_s})); // the id is taken
    QVERIFY(!store.remove({}));
    QCOMPARE(items.count(), 0);
    QVERIFY(!store.update({u"NONE"_s, 0, u"无"_s})); // removed by another program, say
    QCOMPARE(loaded(store), QStringList(u"X/1/一"_s));
    QCOMPARE(m_env->queryRaw(u"select count(*) || min(id || content) from tb_remark"_s), u"1X一"_s);
}

void tst_LookupStores::accountExtras()
{
    QVERIFY(m_env->execRaw(u"insert into tb_account values ('B', '乙', 'secret', 'admin', '1')"_s));
    AccountStore &store = AccountStore::shared();
    QVERIFY(store.insert({u"A"_s, 0, u"甲"_s, u"pw"_s, u"power"_s, u"on"_s}));
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_account where id = 'A' and password is "
                             u"null and power is null and status is null"_s),
             1);
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
    QUENTA_SKIP_ON_SERVER("a file taken away");
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
