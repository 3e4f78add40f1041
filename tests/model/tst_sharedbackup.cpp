// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"
#include "pgconnection.h"
#include "pgtestserver.h"
#include "receiptsearchindex.h"
#include "schemaupgrade.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// Backups, checks and restores of a shared book from the command line, against a
// PostgreSQL server of the test's own: what goes through a backup comes back the same.
class tst_SharedBackup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { m_env.reset(); }

    void backupAndRestoreKeepEveryReceipt();
    void restoreWaitsUntilNoDeskIsConnected();
    void checkFindsWhatIsWrong_data();
    void checkFindsWhatIsWrong();

private:
    // A shared book made from the test's SQLite book; its URI, empty on failure.
    QString sharedBook();
    std::unique_ptr<PgConnection> connect(const QString &uri) const
    {
        auto connection = std::make_unique<PgConnection>(uri);
        if (!connection->open())
            qWarning("cannot connect: %s", qPrintable(connection->lastError().text()));
        return connection;
    }
    // The CSV export of `book`, empty when it failed.
    QByteArray exported(const QString &book);

    PgTestServer *m_server = nullptr;
    std::unique_ptr<TestEnvironment> m_env;
    int m_exports = 0;
};

void tst_SharedBackup::initTestCase()
{
    m_server = &PgTestServer::shared();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->startError()));
}

void tst_SharedBackup::init()
{
    m_env = std::make_unique<TestEnvironment>();
    m_env->createDatabase();
    qputenv("HOME", m_env->documentsPath().toUtf8());
    // 600 receipts (more than one part of a copy) with awkward texts, every tenth voided,
    // one deleted, one amount the program cannot read, each with its history row.
    QVERIFY(m_env->execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 600) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, reason2, remark, "
        u"paytype, payee, createDate, total, totalBig, isDeleted) select 'R' || i, "
        u"printf('%07d', i), printf('2024-05-%02d 10:00:00', i % 28 + 1), "
        u"'甲''公司\\' || i, '房租 \"五月\"', null, '备注😀', '现金', '张三', "
        u"'2024-05-01 10:20:30', case when i = 7 then '壹佰元' else printf('%d.%02d', i * 3, "
        u"i % 100) end, '大写', case when i = 50 then '1' else '0' end from n;"
        u"insert into tb_void (receiptId, reason, voidDate) select id, '写错了''; --', "
        u"receiptDate from tb_receipt where rowid % 10 = 0;"
        u"insert into tb_history (time, action, receiptId, receiptNo, detail) select createDate, "
        u"'insert', id, receiptNo, '{}' from tb_receipt;"
        u"insert into tb_payer (id, content) values ('P1', '乙单位');"
        u"update tb_receiptNo set currNum = '601';"_s));
}

QString tst_SharedBackup::sharedBook()
{
    const QString uri = m_server->socketUri(m_server->createDatabase());
    const Run run = runQuenta({u"--create-shared-book"_s, uri, u"--from"_s, m_env->databasePath()});
    if (run.status != 0) {
        qWarning("%s", qPrintable(run.err));
        return {};
    }
    return uri;
}

QByteArray tst_SharedBackup::exported(const QString &book)
{
    const QString csv = m_env->documentsPath() + u"/export-%1.csv"_s.arg(++m_exports);
    const Run run = runQuenta({u"--book"_s, book, u"--export"_s, csv});
    if (run.status != 0)
        qWarning("export of %s: %s", qPrintable(book), qPrintable(run.err));
    return run.status == 0 ? fileBytes(csv) : QByteArray();
}

void tst_SharedBackup::backupAndRestoreKeepEveryReceipt()
{
    const QString uri = sharedBook();
    QVERIFY(!uri.isEmpty());
    const QByteArray original = exported(m_env->databasePath());
    QVERIFY(original.count('\n') > 600);
    QCOMPARE(exported(uri), original);

    const QString backup = m_env->documentsPath() + u"/备份.db"_s;
    const Run made = runQuenta({u"--book"_s, uri, u"--backup"_s, backup});
    QVERIFY2(made.status == 0, qPrintable(made.err));
    QCOMPARE(exported(backup), original);
    {
        Database file(backup, Database::OpenMode::ExistingFileOnly);
        QVERIFY(file.open());
        QVERIFY(ReceiptSearchIndex::isReady(file));
        std::unique_ptr<ResultSet> rows = file.executeQuery(
            u"select (select user_version from pragma_user_version), (select count(*) from "
            u"tb_history), "
            u"(select count(*) from fts_receipt where fts_receipt match '\"公司\\59\"')"_s);
        QVERIFY(rows && rows->next());
        QCOMPARE(rows->stringForColumnIndex(0), QString::number(SchemaUpgrade::currentVersion));
        QCOMPARE(rows->int64ForColumnIndex(1), 600);
        QCOMPARE(rows->int64ForColumnIndex(2), 11);
    }
    for (const QString &book : {backup, uri}) {
        const Run checked = runQuenta({u"--book"_s, book, u"--check"_s});
        QCOMPARE(checked.out, u"ok\n"_s);
        QCOMPARE(checked.status, 0);
    }

    // Receipts issued after the backup go with the restore, their numbers are not issued
    // again, and the history records the restore.
    std::unique_ptr<PgConnection> server = connect(uri);
    QVERIFY(server->executeStatements(
        u"delete from tb_void; update tb_receipt set payer = '改过'; "
        u"insert into tb_receipt (id, receiptNo, total, isDeleted) values ('N1', '0000900', "
        u"'1', 0)"_s));
    const Run restored = runQuenta({u"--book"_s, uri, u"--restore"_s, backup, u"--yes"_s});
    QVERIFY2(restored.status == 0, qPrintable(restored.err));
    QCOMPARE(exported(uri), original);
    std::optional<PgResult> after = server->executeQuery(
        u"select (select currNum from tb_receiptNo), (select count(*) from tb_history where "
        u"action = 'restore'), (select count(*) from tb_void)"_s);
    QVERIFY(after);
    QCOMPARE(after->text(0, 0), u"901"_s);
    QCOMPARE(after->int64(0, 1), 1);
    QCOMPARE(after->int64(0, 2), 60);
}

void tst_SharedBackup::restoreWaitsUntilNoDeskIsConnected()
{
    const QString uri = sharedBook();
    QVERIFY(!uri.isEmpty());
    const QString backup = m_env->documentsPath() + u"/backup.db"_s;
    QCOMPARE(runQuenta({u"--book"_s, uri, u"--backup"_s, backup}).status, 0);
    const QStringList restore = {u"--book"_s, uri, u"--restore"_s, backup, u"--yes"_s};
    {
        // A desk's connection, as the window opens it.
        Database desk(uri);
        QVERIFY(desk.open());
        const Run refused = runQuenta(restore);
        QCOMPARE(refused.status, 3);
        QVERIFY2(refused.err.contains(u"收款台"_s), qPrintable(refused.err));
        QVERIFY(connect(uri)->executeStatements(u"delete from tb_receipt where id = 'R1'"_s));
    }
    const Run run = runQuenta(restore);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(exported(uri), exported(m_env->databasePath()));
}

void tst_SharedBackup::checkFindsWhatIsWrong_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("finding");
    // Whether a backup of such a book is still made; when not, nothing is left of it.
    QTest::addColumn<bool>("backsUp");
    // One made before the book kept history needs none.
    QTest::newRow("receipt without history")
        << u"insert into tb_receipt (id, receiptNo, createDate, total, isDeleted) values "
           u"('X', '0000700', '2025-01-01 00:00:00', '1', 0), "
           u"('Old', '0000001a', '2020-01-01 00:00:00', '1', 0)"_s
        << u"1 张收据没有开单或导入的历史记录：No.0000700"_s << true;
    QTest::newRow("numbers not unique")
        << u"drop index idx_receipt_receiptNo; insert into tb_receipt (id, receiptNo, total, "
           u"isDeleted) select 'D' || id, receiptNo, total, 0 from tb_receipt where id = 'R3'; "
           u"insert into tb_history (time, action, receiptId) values ('2024-05-01 10:20:30', "
           u"'insert', 'DR3')"_s
        << u"单号没有唯一索引 idx_receipt_receiptNo，同一个单号可能开出两次\n单号 No.0000003 重复（2 张）"_s
        << false;
    // The unique index lets one number by in two paddings.
    QTest::newRow("one number in two paddings")
        << u"insert into tb_receipt (id, receiptNo, total, isDeleted) values ('D3', '3', '1', 0); "
           u"insert into tb_history (time, action, receiptId) values ('2024-05-01 10:20:30', "
           u"'insert', 'D3')"_s
        << u"单号 No.0000003 重复（2 张，写作 0000003、3）"_s << true;
    QTest::newRow("column missing")
        << u"alter table tb_void drop column reason"_s << u"表 tb_void 缺少列 reason"_s << false;
    QTest::newRow("newer version")
        << u"update tb_schema set version = 5"_s << u"数据版本是 5，本程序的是 4"_s << false;
}

void tst_SharedBackup::checkFindsWhatIsWrong()
{
    QFETCH(QString, sql);
    QFETCH(QString, finding);
    const QString uri = sharedBook();
    QVERIFY(!uri.isEmpty());
    QVERIFY(connect(uri)->executeStatements(sql));
    const Run run = runQuenta({u"--book"_s, uri, u"--check"_s});
    QCOMPARE(run.out, finding + u'\n');
    QCOMPARE(run.status, 1);

    QFETCH(bool, backsUp);
    const QString folder = m_env->documentsPath() + u"/backups"_s;
    QVERIFY(QDir().mkpath(folder));
    const Run backup = runQuenta({u"--book"_s, uri, u"--backup"_s, folder + u"/b.db"_s});
    QCOMPARE(backup.status, backsUp ? 0 : 1);
    QCOMPARE(filesBelow(folder), backsUp ? QStringList(u"b.db"_s) : QStringList());
}

QTEST_GUILESS_MAIN(tst_SharedBackup)
#include "tst_sharedbackup.moc"
