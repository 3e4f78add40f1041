// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"
#include "pgconnection.h"
#include "pgtestserver.h"
#include "receiptsearchindex.h"
#include "schemaupgrade.h"
#include "testsupport.h"

#include <QProcess>
#include <QScopeGuard>
#include <QUrl>
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
    void copyRefusesTextsTheServerCannotHold_data();
    void copyRefusesTextsTheServerCannotHold();
    void importOfADeskWithEscapesOnStoresWhatWasWritten();
    void importRefusesTextsTheServerCannotHold();
    void backupToAFullDiskSaysSo();

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
        << u"update tb_schema set version = 9"_s << u"数据版本是 9，本程序的是 8"_s << false;
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

// Texts a server cannot hold are not copied as something else (bytes that are no UTF-8
// became NULL): the copy stops, naming the receipt, and nothing is made.
void tst_SharedBackup::copyRefusesTextsTheServerCannotHold_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("told");
    QTest::newRow("no UTF-8")
        << u"update tb_receipt set remark = cast(X'41C32842FF' as text) where id = 'R3'"_s
        << u"收据 No.0000003的“remark”不是有效的 UTF-8 文字"_s;
    QTest::newRow("a NUL")
        << u"update tb_receipt set payer = 'a' || char(0) || 'b' where id = 'R4'"_s
        << u"收据 No.0000004的“payer”含有空字符"_s;
    QTest::newRow("in the history")
        << u"update tb_history set detail = cast(X'7BFF7D' as text) where receiptId = 'R5'"_s
        << u"操作记录第"_s;
}

void tst_SharedBackup::copyRefusesTextsTheServerCannotHold()
{
    QFETCH(QString, sql);
    QFETCH(QString, told);
    QVERIFY(m_env->execRaw(sql));
    const QString database = m_server->createDatabase();
    const Run run = runQuenta({u"--create-shared-book"_s, m_server->socketUri(database),
                               u"--from"_s, m_env->databasePath()});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
    QVERIFY(run.err.contains(u"没有复制"_s));
    std::optional<PgResult> tables = connect(m_server->socketUri(database))
                                         ->executeQuery(u"select to_regclass('tb_receipt')"_s);
    QVERIFY(tables);
    QVERIFY(tables->isNull(0, 0));
}

// A desk's role that reads backslashes in quotes as escapes (set by itself, as anybody may)
// imports a file whose texts end in a backslash: the book holds them as written, and the
// rest of the row does not become statements.
void tst_SharedBackup::importOfADeskWithEscapesOnStoresWhatWasWritten()
{
    const QString uri = sharedBook();
    QVERIFY(!uri.isEmpty());
    const QString database = QUrl(uri).path().mid(1);
    const QString password = u"desk's pw"_s;
    QVERIFY(m_server->createRole(u"escapes"_s, password));
    QVERIFY(m_server->execute(u"grant all on all tables in schema public to escapes; "_s
                              u"grant all on all sequences in schema public to escapes; "_s
                              u"alter role escapes set standard_conforming_strings = off"_s,
                              database));
    const QString file = m_env->documentsPath() + u"/desk.csv"_s;
    QVERIFY(writeFile(file,
                      "收据单号,收款日期,交款单位,收款金额,备注信息\n"
                      "0000801,2024-05-01,C:\\new\\table,5.00,\"x\\'); update tb_company set "
                      "title = 'PWNED'; delete from tb_receipt; --\"\n"));
    qputenv("PGPASSWORD", password.toUtf8());
    const auto unset = qScopeGuard([] { qunsetenv("PGPASSWORD"); });
    const QString desk = m_server->tcpUri(database, u"escapes"_s);
    const Run run = runQuenta({u"--book"_s, desk, u"--import"_s, file});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    std::optional<PgResult> stored = connect(uri)->executeQuery(
        u"select payer, remark, (select count(*) from tb_receipt), "
        u"(select count(*) from tb_company where title = 'PWNED') from tb_receipt "
        u"where receiptNo = '0000801'"_s);
    QVERIFY(stored);
    QCOMPARE(stored->text(0, 0), u"C:\\new\\table"_s);
    QCOMPARE(stored->text(0, 1),
             u"x\\'); update tb_company set title = 'PWNED'; delete from tb_receipt; --"_s);
    QCOMPARE(stored->int64(0, 2), 601);
    QCOMPARE(stored->int64(0, 3), 0);
}

// Another book brought into a shared one: a NUL the server cannot hold is refused with its
// row, not with a statement the server could not read.
void tst_SharedBackup::importRefusesTextsTheServerCannotHold()
{
    const QString uri = m_server->socketUri(m_server->createDatabase());
    QCOMPARE(runQuenta({u"--create-shared-book"_s, uri}).status, 0);
    QVERIFY(m_env->execRaw(u"update tb_receipt set remark = 'a' || char(0) || 'b' "_s
                           u"where id = 'R4'"_s));
    const Run run = runQuenta({u"--book"_s, uri, u"--import"_s, m_env->databasePath()});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(u"第 4 行：备注信息含有空字符（U+0000），共享账本不能保存"_s),
             qPrintable(run.err));
    QVERIFY2(!run.err.contains(u"syntax"_s), qPrintable(run.err));
    std::optional<PgResult> count
        = connect(uri)->executeQuery(u"select count(*) from tb_receipt"_s);
    QVERIFY(count);
    QCOMPARE(count->int64(0, 0), 0);
}

// A backup to a disk with no room says so, and leaves nothing behind.
void tst_SharedBackup::backupToAFullDiskSaysSo()
{
    const QString uri = sharedBook();
    QVERIFY(!uri.isEmpty());
    const QString folder = m_env->documentsPath() + u"/small"_s;
    QVERIFY(QDir().mkpath(folder));
    if (QProcess::execute(u"mount"_s,
                          {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=16k"_s, u"tmpfs"_s, folder})
        != 0)
        QSKIP("a small disk cannot be mounted here (not root)");
    const auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_s, {folder}); });
    const Run run = runQuenta({u"--book"_s, uri, u"--backup"_s, folder + u"/b.db"_s});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(u"磁盘已满"_s), qPrintable(run.err));
    QVERIFY2(!run.err.contains(u"模板"_s), qPrintable(run.err));
    QCOMPARE(filesBelow(folder), QStringList());
}

QTEST_GUILESS_MAIN(tst_SharedBackup)
#include "tst_sharedbackup.moc"
