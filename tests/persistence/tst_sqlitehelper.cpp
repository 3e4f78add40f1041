// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "companystore.h"
#include "lookupstores.h"
#include "sqlitehelper.h"
#include "stores.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

using namespace Qt::StringLiterals;

class tst_SQLiteHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void firstRunCopiesTemplate();
    void secondRunUsesFileAsItIs();
    void templateMissing();
    void exists_data();
    void exists();
    void existsOnUnopenableDatabase();
    void writeFailureClosesConnection();
    void noHomeFolderNoBook();
    void olderFileGetsUniqueNumbers_data();
    void olderFileGetsUniqueNumbers();
    void missingNumberingRowIsPutBack();
    void lockAtFirstOpenIsNoDamage();
    void bookWithCodeIsOnlyRead_data();
    void bookWithCodeIsOnlyRead();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void tst_SQLiteHelper::firstRunCopiesTemplate()
{
    const QString path = m_env->databasePath();
    StreamCapture out(1);
    SQLiteHelper &helper = SQLiteHelper::shared();
    QCOMPARE(out.text(), QString()); // nothing is printed before the first use
    QCOMPARE(helper.db().databasePath(), path);
    QVERIFY(!helper.db().isOpen());
    QCOMPARE(out.lines(), QStringList({u"数据库不存在："_s + path, u"数据库路径: "_s + path}));

    const QByteArray copy = fileBytes(path);
    QVERIFY(!copy.isEmpty());
    QCOMPARE(copy, fileBytes(SQLiteHelper::templatePath()));
    QCOMPARE(QDir(m_env->documentsPath()).entryList(QDir::Files), QStringList(u"Tovalin.db"_s));
    QVERIFY(helper.isAvailable());
    QVERIFY(helper.checkUsable());
}

void tst_SQLiteHelper::secondRunUsesFileAsItIs()
{
    const QString path = m_env->createDatabase();
    QVERIFY(m_env->execRaw(u"update tb_company set title = '第二次'"_s));
    const QByteArray before = fileBytes(path);
    resetSharedStores(); // a new start of the program

    StreamCapture out(1);
    QCOMPARE(SQLiteHelper::shared().dbURL(), path);
    QCOMPARE(out.lines(), QStringList(u"数据库路径: "_s + path));
    QCOMPARE(CompanyStore::shared().company().title, u"第二次"_s);
    QCOMPARE(fileBytes(path), before);
}

void tst_SQLiteHelper::templateMissing()
{
    qputenv("QUENTA_TEMPLATE", "/nonexistent/Tovalin.db");
    const QString path = m_env->databasePath();
    StreamCapture out(1);
    StreamCapture err(2);
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(!helper.isAvailable());
    const QString message = helper.failureMessage();
    QVERIFY2(message.contains(u"/nonexistent/Tovalin.db"_s), qPrintable(message));
    QCOMPARE(out.lines(),
             QStringList({u"数据库不存在："_s + path, message, u"数据库路径: "_s + path}));

    // Nothing saves, and no empty database appears for a later start. (The stores on a
    // database that does not open: tst_lookupstores, tst_appstore.)
    touchSharedStores();
    QVERIFY(!PayerStore::shared().insert({u"A"_s, 0, u"甲"_s}));
    QVERIFY(!AppStore::shared().insertReceipt());
    QString error;
    QVERIFY(!helper.checkUsable(&error));
    QCOMPARE(error, message);
    QVERIFY(QDir(m_env->documentsPath()).entryList(QDir::Files).isEmpty());
}

void tst_SQLiteHelper::exists_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("expected");
    QTest::newRow("count 4") << u"select count(*)\nfrom   tb_paytype"_s << true;
    QTest::newRow("count 0") << u"select count(*) from tb_receipt"_s << false;
    QTest::newRow("no row") << u"select 1 from tb_receipt"_s << false;
    QTest::newRow("does not prepare") << u"select count(*) from tb_nosuch"_s << false;
}

void tst_SQLiteHelper::exists()
{
    QFETCH(QString, sql);
    QFETCH(bool, expected);
    m_env->createDatabase();
    QCOMPARE(SQLiteHelper::shared().exists(sql), expected);
    QCOMPARE(SQLiteHelper::shared().db().openResultSetCount(), 0);
}

void tst_SQLiteHelper::existsOnUnopenableDatabase()
{
    m_env->makeDatabaseUnopenable();
    StreamCapture err(2);
    QVERIFY(!SQLiteHelper::shared().exists(u"select count(*) from tb_paytype"_s));
    QCOMPARE(err.lines(), QStringList(u"error opening!: 14"_s));
    QVERIFY(!QFileInfo::exists(m_env->databasePath()));
}

void tst_SQLiteHelper::writeFailureClosesConnection()
{
    m_env->createDatabase();
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.write(u"insert into tb_payer (id, content) values ('A', '甲')"_s));
    QVERIFY(helper.db().isOpen());
    StreamCapture err(2);
    QVERIFY(!helper.write(u"insert into tb_payer (id, content) values ('A', '乙')"_s));
    QVERIFY(!helper.db().isOpen());
    QCOMPARE(err.lines(),
             QStringList(u"Error inserting batch: UNIQUE constraint failed: tb_payer.id"_s));
    // The next use opens it again.
    QVERIFY(helper.exists(u"select count(*) from tb_payer"_s));
}

void tst_SQLiteHelper::noHomeFolderNoBook()
{
    // Qt would answer "/Documents" and the book would be made at the root.
    qunsetenv("QUENTA_DOCUMENTS_DIR");
    const QByteArray home = qgetenv("HOME");
    qunsetenv("HOME");
    SQLiteHelper &helper = SQLiteHelper::shared();
    const bool available = helper.isAvailable();
    QString error;
    const bool usable = helper.checkUsable(&error);
    qputenv("HOME", home);
    QVERIFY(!available && !usable);
    QVERIFY2(error.contains(u"QUENTA_DOCUMENTS_DIR"_s), qPrintable(error));
    QVERIFY(!helper.db().open());
}

void tst_SQLiteHelper::olderFileGetsUniqueNumbers_data()
{
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<bool>("unique");
    QTest::addColumn<QStringList>("duplicates");
    QTest::newRow("no duplicates")
        << QStringList({u"0000001"_s, u"0000002"_s}) << true << QStringList();
    QTest::newRow("duplicates keep a plain index")
        << QStringList({u"0000001"_s, u"0000002"_s, u"0000002"_s, u"0000005"_s, u"0000005"_s})
        << false << QStringList({u"0000002"_s, u"0000005"_s});
}

void tst_SQLiteHelper::olderFileGetsUniqueNumbers()
{
    QFETCH(QStringList, numbers);
    QFETCH(bool, unique);
    QFETCH(QStringList, duplicates);
    // A book made by an older version: a plain index on the numbers.
    m_env->createDatabase();
    SQLiteHelper::resetShared();
    QVERIFY(m_env->execRaw(u"drop index idx_receipt_receiptNo; "
                           u"create index idx_receipt_receiptNo on tb_receipt (receiptNo);"_s));
    for (qsizetype i = 0; i < numbers.size(); ++i)
        QVERIFY(m_env->storeReceipt(u"R%1"_s.arg(i), numbers.at(i), u"2024-05-01 00:00:00"_s));
    const QString receipts = u"select group_concat(id || receiptNo) from tb_receipt"_s;
    const QString before = m_env->queryRaw(receipts);

    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.checkUsable());
    QCOMPARE(helper.schemaReport().duplicateReceiptNumbers, duplicates);
    QCOMPARE(m_env->queryRaw(u"select \"unique\" from pragma_index_list('tb_receipt') "
                             u"where name = 'idx_receipt_receiptNo'"_s),
             unique ? u"1"_s : u"0"_s);
    QCOMPARE(m_env->queryRaw(receipts), before);
}

void tst_SQLiteHelper::missingNumberingRowIsPutBack()
{
    // Without the row every save of the setting changed nothing and every start tested
    // each number from 1 again; it comes back after the highest number in the book.
    m_env->createDatabase();
    SQLiteHelper::resetShared();
    QVERIFY(m_env->execRaw(u"delete from tb_receiptNo"_s));
    for (const QString &number : {u"0000007"_s, u"0000041"_s, u"A-3"_s})
        QVERIFY(m_env->storeReceipt(number, number, u"2024-05-01 00:00:00"_s));
    QVERIFY(SQLiteHelper::shared().checkUsable());
    QCOMPARE(SQLiteHelper::shared().schemaReport().restoredTables, QStringList(u"tb_receiptNo"_s));
    QCOMPARE(m_env->queryRaw(u"select numLong || ',' || currNum from tb_receiptNo"_s), u"7,42"_s);
}

void tst_SQLiteHelper::lockAtFirstOpenIsNoDamage()
{
    // Another program in the middle of a write when the book first opens: the quick
    // check cannot run, which says nothing about the file.
    m_env->createDatabase();
    SQLiteHelper::shared().db().setMaxBusyRetryTimeInterval(0.1);
    {
        const HeldLock lock(m_env->databasePath());
        QVERIFY(lock.isHeld());
        SQLiteHelper::shared().count(u"select count(*) from tb_receipt"_s);
        QCOMPARE(SQLiteHelper::shared().damage(), QString());
        QVERIFY(!SQLiteHelper::shared().db().isReadOnly());
    }
    QCOMPARE(SQLiteHelper::shared().count(u"select count(*) from tb_receipt"_s), 0);
    QVERIFY(SQLiteHelper::shared().write(u"delete from tb_payer"_s));
}

// A book that carries code of its own is opened for reading only, and not upgraded: a
// trigger could drop every save while the save reports success.
void tst_SQLiteHelper::bookWithCodeIsOnlyRead_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("unknown");
    QTest::newRow("trigger dropping inserts")
        << u"create trigger mute before insert on tb_receipt begin select raise(ignore); end"_s
        << QStringList(u"触发器 mute（表 tb_receipt）"_s);
    QTest::newRow("older book with a view and a table")
        << u"drop table tb_void; drop table tb_history; pragma user_version = 0; "
           u"create table extra (x); create view shown as select * from tb_receipt"_s
        << QStringList({u"表 extra"_s, u"视图 shown"_s});
}

void tst_SQLiteHelper::bookWithCodeIsOnlyRead()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, unknown);
    m_env->createDatabase();
    SQLiteHelper::resetShared();
    QVERIFY(m_env->execRaw(sql));
    const QString version = m_env->queryRaw(u"pragma user_version"_s);

    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.checkUsable());
    QStringList found = helper.schemaReport().unknownObjects;
    found.sort();
    QCOMPARE(found, unknown);
    QVERIFY(helper.db().isReadOnly());
    QVERIFY(!helper.write(receiptInsertSql(u"A"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s)));
    QCOMPARE(m_env->queryRaw(u"pragma user_version"_s), version);
}

QTEST_GUILESS_MAIN(tst_SQLiteHelper)
#include "tst_sqlitehelper.moc"
