#include "appstore.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QtTest>

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
    void unopenableDatabaseKeepsDefaults();
    void savedReceiptIsPassedOverNextTime();

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

    QTest::newRow("defaults, no receipts")
        << 7LL << 1LL << QStringList() << u"0000001"_s << 7LL << 1LL;
    QTest::newRow("first two taken")
        << 7LL << 1LL << QStringList({u"0000001"_s, u"0000002"_s}) << u"0000003"_s << 7LL << 3LL;
    QTest::newRow("gap is used") << 7LL << 1LL << QStringList({u"0000001"_s, u"0000003"_s})
                                 << u"0000002"_s << 7LL << 2LL;
    QTest::newRow("number wider than length")
        << 7LL << 12345678LL << QStringList() << u"12345678"_s << 8LL << 12345678LL;
    QTest::newRow("length grows one step only")
        << 1LL << 123LL << QStringList() << u"123"_s << 2LL << 123LL;
    QTest::newRow("length 0") << 0LL << 5LL << QStringList() << u"5"_s << 1LL << 5LL;
    QTest::newRow("negative length") << -3LL << 42LL << QStringList() << u"42"_s << -2LL << 42LL;
    QTest::newRow("compared as text")
        << 8LL << 3LL << QStringList(u"0000003"_s) << u"00000003"_s << 8LL << 3LL;
    QTest::newRow("beyond 32 bits") << 7LL << 4294967296LL << QStringList(u"4294967296"_s)
                                    << u"4294967297"_s << 8LL << 4294967297LL;
    QTest::newRow("largest counter taken: stops, no wrap")
        << 19LL << largest << QStringList(QString::number(largest)) << QString::number(largest)
        << 19LL << largest;
    QTest::newRow("absurd length is capped")
        << largest << 1LL << QStringList()
        << QString(ReceiptNoStore::maximumNumberLength - 1, u'0') + u"1"_s << largest << 1LL;
}

void tst_ReceiptNoStore::nextReceiptNo()
{
    QFETCH(qint64, numLong);
    QFETCH(qint64, currNum);
    QFETCH(QStringList, taken);
    QFETCH(QString, number);
    QFETCH(qint64, finalNumLong);
    QFETCH(qint64, finalCurrNum);

    QVERIFY(m_env->execRaw(
        u"update tb_receiptNo set numLong = '%1', currNum = '%2'"_s.arg(numLong).arg(currNum)));
    for (qsizetype i = 0; i < taken.size(); ++i) {
        QVERIFY(m_env->execRaw(
            receiptInsertSql(u"ID%1"_s.arg(i), taken.at(i), u"2024-05-01 00:00:00"_s)));
    }

    // Creating the store loads the setting and takes the next free number at once.
    const ReceiptNoStore &store = ReceiptNoStore::shared();
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, number);
    QCOMPARE(store.receiptNoSetting().numLong, finalNumLong);
    QCOMPARE(store.receiptNoSetting().currNum, finalCurrNum);
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

void tst_ReceiptNoStore::unopenableDatabaseKeepsDefaults()
{
    m_env->makeDatabaseUnopenable();
    ReceiptNoStore &store = ReceiptNoStore::shared();
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, u"0000001"_s);
    QCOMPARE(store.receiptNoSetting().numLong, 7);
    QCOMPARE(store.receiptNoSetting().currNum, 1);
    QVERIFY(!store.saveSetting());
    QVERIFY(!SQLiteHelper::shared().db().isOpen());
}

void tst_ReceiptNoStore::savedReceiptIsPassedOverNextTime()
{
    ReceiptNoStore::shared();
    AppStore &app = AppStore::shared();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000001"_s);
    Receipt edit = app.receiptEdit();
    edit.id = u"A"_s;
    app.setReceiptEdit(edit);
    QVERIFY(app.insertReceipt());
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"1"_s);
    app.newReceipt();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000002"_s);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"2"_s);
}

QTEST_GUILESS_MAIN(tst_ReceiptNoStore)
#include "tst_receiptnostore.moc"
