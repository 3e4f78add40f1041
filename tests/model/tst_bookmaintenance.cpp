// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "backupservice.h"
#include "bookmaintenance.h"
#include "sqlitehelper.h"
#include "stores.h"
#include "testsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

class tst_BookMaintenance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_env.reset(); }

    void savesGoOnWhileTheBookIsCheckedAndCopied_data();
    void savesGoOnWhileTheBookIsCheckedAndCopied();
    void damageFoundAfterTheStart();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

namespace {

constexpr int receiptsBefore = 4000;

// Runs a query on a file with a connection of its own; the first column of each row.
QStringList rawRows(const QString &path, const QString &sql)
{
    QStringList rows;
    sqlite3 *handle = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &handle, SQLITE_OPEN_READONLY, nullptr)
        == SQLITE_OK) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(handle, sql.toUtf8().constData(), -1, &statement, nullptr)
            == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW)
                rows.append(QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return rows;
}

QStringList automaticBackups()
{
    const QDir folder(BackupService::backupsFolder());
    return folder.entryList({u"Tovalin-auto-*.db"_s}, QDir::Files);
}

} // namespace

void tst_BookMaintenance::init()
{
    m_env = std::make_unique<TestEnvironment>();
    m_env->createDatabase();
    // A book of some thousand pages, so that a copy takes several steps.
    QVERIFY(m_env->execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, createDate, total, isDeleted, "
        u"remark) select printf('B%06d', i), printf('B%06d', i), '2024-05-01 00:00:00', "
        u"'2024-05-01 10:00:00', '1.0', '0', hex(randomblob(500)) from n;"_s.arg(receiptsBefore)));
    resetSharedStores();
}

void tst_BookMaintenance::savesGoOnWhileTheBookIsCheckedAndCopied_data()
{
    QTest::addColumn<bool>("atStart");
    QTest::newRow("quick check and backup after the start") << true;
    QTest::newRow("backup after so many saves") << false;
}

// The worker reads the book through its own connection in short steps: a save in the
// window, waiting only briefly for its write lock, never fails meanwhile, and the copy is
// one consistent state of the book, whatever the saves made it start over.
void tst_BookMaintenance::savesGoOnWhileTheBookIsCheckedAndCopied()
{
    QFETCH(bool, atStart);
    SQLiteHelper &helper = SQLiteHelper::shared();
    helper.setFileCheck(SQLiteHelper::FileCheck::Later);
    QVERIFY(helper.checkUsable());
    QCOMPARE(helper.isFileCheckPending(), true);
    helper.db().setMaxBusyRetryTimeInterval(0.5);

    BookMaintenance maintenance;
    QSignalSpy finished(&maintenance, &BookMaintenance::finished);
    QSignalSpy damaged(&maintenance, &BookMaintenance::damageFound);
    QSignalSpy failed(&maintenance, &BookMaintenance::backupFailed);
    QVERIFY(atStart ? maintenance.checkAndBackUpIfDue() : maintenance.backUp());
    QVERIFY(!maintenance.backUp()); // one job at a time

    AppStore &store = AppStore::shared();
    QStringList saved;
    // As fast as saves go, which no one typing reaches; the check gives way to each, and is
    // done once they stop.
    for (int i = 0; finished.isEmpty() && i < 40; ++i) {
        Receipt receipt;
        receipt.id = u"S%1"_s.arg(i, 6, 10, QChar(u'0'));
        receipt.receiptNo = receipt.id;
        receipt.receiptDate = QDateTime(QDate(2024, 6, 1), QTime(0, 0));
        receipt.payer = u"甲"_s;
        receipt.total = 1.0;
        receipt.totalBig = u"壹元整"_s;
        store.setReceiptEdit(receipt);
        {
            QString error;
            QVERIFY2(store.insertReceipt(&error), qPrintable(error));
        }
        saved.append(receipt.id);
        QCoreApplication::processEvents();
    }
    QVERIFY(finished.size() == 1 || finished.wait(40000));
    QCOMPARE(damaged.size(), 0);
    QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
    QCOMPARE(helper.isFileCheckPending(), !atStart);
    QCOMPARE(helper.damage(), QString());

    const QStringList backups = automaticBackups();
    QCOMPARE(backups.size(), 1);
    const QString copy = QDir(BackupService::backupsFolder()).filePath(backups.first());
    QCOMPARE(rawRows(copy, u"pragma quick_check"_s), QStringList(u"ok"_s));
    QCOMPARE(rawRows(copy, u"select count(*) from tb_receipt where id like 'B%'"_s),
             QStringList(QString::number(receiptsBefore)));
    // The saves it holds are those before some moment: the first ones, none missing.
    const QStringList copied = rawRows(copy,
                                       u"select id from tb_receipt where id like 'S%' "
                                       u"order by id"_s);
    QCOMPARE(copied, saved.mid(0, copied.size()));
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receipt"_s), receiptsBefore + saved.size());
}

// Damage found by the check after the start is told, the book is read only from then on,
// and no backup of it pushes good backups out.
void tst_BookMaintenance::damageFoundAfterTheStart()
{
    QVERIFY(m_env->damageDatabase());
    SQLiteHelper &helper = SQLiteHelper::shared();
    helper.setFileCheck(SQLiteHelper::FileCheck::Later);
    QVERIFY(helper.checkUsable());
    QCOMPARE(helper.damage(), QString());
    QVERIFY(!helper.db().isReadOnly());

    BookMaintenance maintenance;
    QSignalSpy damaged(&maintenance, &BookMaintenance::damageFound);
    QSignalSpy failed(&maintenance, &BookMaintenance::backupFailed);
    QVERIFY(maintenance.checkAndBackUpIfDue());
    maintenance.waitForDone();
    QCOMPARE(damaged.size(), 1);
    QCOMPARE(damaged.first().first().toString(), helper.damage());
    QVERIFY(!helper.damage().isEmpty());
    QCOMPARE(failed.size(), 1);
    QVERIFY2(failed.first().first().toString().contains(u"损坏"_s),
             qPrintable(failed.first().first().toString()));
    QCOMPARE(automaticBackups(), QStringList());
    QVERIFY(!helper.write(u"delete from tb_payer"_s));
    QVERIFY(helper.db().opensReadOnly());
}

QTEST_GUILESS_MAIN(tst_BookMaintenance)
#include "tst_bookmaintenance.moc"
