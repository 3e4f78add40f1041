// SPDX-License-Identifier: GPL-3.0-or-later
#include "../ui/uitesthelpers.h"
#include "addview.h"
#include "booklock.h"
#include "bookmaintenance.h"
#include "receiptstatistics.h"
#include "receipttablemodel.h"
#include "sqlitehelper.h"
#include "startup.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTableView>
#include <QToolButton>

#include <cerrno>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Another process holding the database: the sqlite3 shell takes an exclusive lock,
// says so on its output, and lets go after the given time.
class LockingProcess
{
public:
    ~LockingProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    void lock(const QString &path, const QString &seconds)
    {
        const QString shell = QStandardPaths::findExecutable(u"sqlite3"_s);
        QVERIFY2(!shell.isEmpty(), "the sqlite3 shell is missing (scripts/setup.sh)");
        // -bail: were the lock refused, the shell stops before claiming it holds it.
        m_process.start(shell, {u"-bail"_s, path});
        m_process.write(u".timeout 5000\nBEGIN EXCLUSIVE;\nSELECT 'locked';\n.shell sleep %1\n"
                        u"COMMIT;\n"_s.arg(seconds)
                            .toUtf8());
        m_process.closeWriteChannel();
        QByteArray said;
        while (!said.contains("locked") && m_process.waitForReadyRead(10000))
            said += m_process.readAllStandardOutput();
        QVERIFY2(said.contains("locked") && m_process.state() == QProcess::Running,
                 m_process.readAllStandardError().constData());
    }
    void waitUntilReleased()
    {
        QVERIFY(m_process.waitForFinished(20000));
        QCOMPARE(m_process.exitCode(), 0);
    }

private:
    QProcess m_process;
};

// Root writes to any file whatever its mode, through CAP_DAC_OVERRIDE, so a file of mode
// 0444 is read-only only for others. While this lives the capability is out of the
// effective set of this thread, where the program's connection lives (it stays permitted,
// so it comes back after); for anyone else it changes nothing.
class WithoutWriteOverride
{
public:
    WithoutWriteOverride() { m_dropped = setOverride(false); }
    ~WithoutWriteOverride()
    {
        if (m_dropped)
            setOverride(true);
    }

private:
    static bool setOverride(bool on)
    {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (::syscall(SYS_capget, &header, data) != 0)
            return false;
        quint32 &effective = data[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective;
        const quint32 bit = CAP_TO_MASK(CAP_DAC_OVERRIDE);
        if (bool(effective & bit) == on)
            return false; // nothing to change
        effective = on ? effective | bit : effective & ~bit;
        return ::syscall(SYS_capset, &header, data) == 0;
    }
    bool m_dropped = false;
};

} // namespace

// The entry form when the database file is locked, read-only, not a database, deleted or
// damaged: a save either lands whole or fails visibly with the receipt still on the form.
class tst_Robustness : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m.start(); }
    void cleanup() { m.stop(); }

    void lockedByAnotherProcess_data();
    void lockedByAnotherProcess();
    void readOnlyFile();
    void notADatabase_data();
    void notADatabase();
    void fileGoneWhileRunning_data();
    void fileGoneWhileRunning();
    void damagedFileIsToldAndKept_data();
    void damagedFileIsToldAndKept();
    void readOnlyFolderWithAnOlderBook();
    void duplicateNumbersAreToldOnce();
    void failedListLoadIsShown();
    void unreadableAmountIsShownNotSaved();

private:
    void fill(const QString &payer = u"甲公司"_s, const QString &reason1 = u"房租"_s,
              const QString &total = u"123.45"_s)
    {
        typeText(m.find<QComboBox>(u"payerComboBox"_s), payer);
        typeText(m.find<QComboBox>(u"reason1ComboBox"_s), reason1);
        typeText(m.find<QLineEdit>(u"totalLineEdit"_s), total);
    }
    void clickAdd() { QTest::mouseClick(m.find<QToolButton>(u"addButton"_s), Qt::LeftButton); }
    Toast *toast() const { return errorToast(m.find<AddView>(u"addView"_s)); }
    // After a refused save: the message, and the new receipt still on the form as typed.
    void verifyRefusedAndKept(const QString &why = u"保存失败"_s)
    {
        QVERIFY(toast()->isShown());
        QVERIFY2(toast()->text().startsWith(why), qPrintable(toast()->text()));
        QCOMPARE(m.currentRowText(), u"开单"_s);
        const Receipt kept = AppStore::shared().receiptEdit();
        QCOMPARE(QStringList({kept.id, kept.payer, kept.reason1, QString::number(kept.total),
                              m.find<QComboBox>(u"payerComboBox"_s)->currentText()}),
                 QStringList({QString(), u"甲公司"_s, u"房租"_s, u"123.45"_s, u"甲公司"_s}));
        toast()->close();
    }
    // After a save that went through: the form says so, and the row is in the file.
    void verifySaved()
    {
        QVERIFY(!toast()->isShown());
        QVERIFY(m.find<QLabel>(u"savedLabel"_s)->text().startsWith(u"已保存 No."_s));
        QCOMPARE(m.env->queryRaw(u"select payer || '|' || total from tb_receipt"_s),
                 u"甲公司|123.45"_s);
    }
    void storeToday(const QString &id, const QString &payer)
    {
        QVERIFY(m.env->storeReceipt(id, u"000000"_s + id.back(), dayText(), payer));
    }

    WindowFixture m;
};

void tst_Robustness::lockedByAnotherProcess_data()
{
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<bool>("saved");
    // The busy handler waits 2 s for a lock to go.
    QTest::newRow("1 s: waits, then saves") << u"1"_s << true;
    QTest::newRow("5 s: gives up") << u"5"_s << false;
}

void tst_Robustness::lockedByAnotherProcess()
{
    QFETCH(QString, seconds);
    QFETCH(bool, saved);
    m.openWindow();
    fill();
    LockingProcess other;
    other.lock(m.env->databasePath(), seconds);
    if (QTest::currentTestFailed())
        return;
    clickAdd();
    if (saved)
        return verifySaved();
    verifyRefusedAndKept();
    other.waitUntilReleased();
    QCOMPARE(m.env->receiptCount(), 0);
    QCOMPARE(m.env->queryRaw(u"pragma integrity_check"_s), u"ok"_s);
    QVERIFY(!QFileInfo::exists(m.env->databasePath() + u"-journal"_s));
    // The lock is gone: the same receipt, saved again, goes through.
    clickAdd();
    verifySaved();
}

void tst_Robustness::readOnlyFile()
{
    const QString path = m.env->databasePath();
    storeToday(u"R1"_s, u"乙"_s);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = fileHash(path);
    WithoutWriteOverride readOnlyForRoot;
    const int probe = ::open(QFile::encodeName(path).constData(), O_RDWR);
    const int probeError = errno;
    if (probe >= 0)
        ::close(probe);
    QVERIFY2(probe < 0 && probeError == EACCES, "the file is still writable for this process");

    // The start is not refused, but the user is told at once that nothing can be saved.
    QVERIFY(Startup::checkDatabase(nullptr));
    QVERIFY(MessageBox::lastText().contains(u"只能读取"_s));

    m.openWindow();
    QCOMPARE(m.listedRows(u"今天收据"_s), 1);
    QCOMPARE(m.receiptTable()->model()->index(0, ReceiptTableModel::PayerColumn).data().toString(),
             u"乙"_s);

    m.clickRow(u"开单"_s);
    fill();
    clickAdd();
    verifyRefusedAndKept();
    QCOMPARE(fileHash(path), before);
    QCOMPARE(m.env->receiptCount(), 1);
}

void tst_Robustness::notADatabase_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("4 KB of text") << QByteArray("这不是数据库。\n").repeated(205).left(4096);
    QTest::newRow("empty file") << QByteArray();
}

void tst_Robustness::notADatabase()
{
    QFETCH(QByteArray, content);
    QVERIFY(writeFile(m.env->databasePath(), content));
    // The start stops and says where the file is. (Each other cause reaches the start as
    // a failed checkUsable too: tst_sqlitehelper.)
    QVERIFY(!Startup::checkDatabase(nullptr));
    const QString told = MessageBox::lastText();
    QVERIFY2(told.contains(u"无法使用数据库"_s) && told.contains(m.env->databasePath()),
             qPrintable(told));

    // Were the start-up check passed by, the window still works on nothing.
    m.openWindow();
    QCOMPARE(m.listedRows(u"全部收据"_s), 0);
    m.clickRow(u"开单"_s);
    fill();
    clickAdd();
    verifyRefusedAndKept(u"单号检查失败"_s);
    QCOMPARE(fileBytes(m.env->databasePath()), content);
}

void tst_Robustness::fileGoneWhileRunning_data()
{
    QTest::addColumn<QString>("journal");
    QTest::addColumn<bool>("replaced");
    // SQLite itself refuses to open a rollback journal for a moved file; with a
    // write-ahead log it goes on writing, which only the write pattern's own check stops.
    QTest::newRow("deleted") << u"delete"_s << false;
    QTest::newRow("replaced by a copy") << u"delete"_s << true;
    QTest::newRow("deleted, write-ahead log") << u"wal"_s << false;
}

// An open connection can go on saving into a file deleted from under it, and every
// receipt saved after that is lost at exit; nor may a save create an empty database.
void tst_Robustness::fileGoneWhileRunning()
{
    QFETCH(QString, journal);
    QFETCH(bool, replaced);
    const QString path = m.env->databasePath();
    const QString backup = m.env->documentsPath() + u"/backup.db"_s;
    QVERIFY(m.env->execRaw(u"pragma journal_mode = "_s + journal));
    m.openWindow();
    QVERIFY(SQLiteHelper::shared().db().isOpen());
    QVERIFY(QFile::copy(path, backup));
    QVERIFY(QFile::remove(path));
    if (replaced)
        QVERIFY(QFile::copy(backup, path));

    fill();
    clickAdd();
    verifyRefusedAndKept();
    QCOMPARE(QFileInfo::exists(path), replaced); // no empty database in its place

    // The file is back at its path (a copy put there): the next try saves into it.
    if (!replaced)
        QVERIFY(QFile::copy(backup, path));
    clickAdd();
    verifySaved();
}

// A damaged book, or one with a trigger that drops every new receipt while the save
// reports success: the start says so and opens it for reading only, so that a save is
// refused aloud instead of vanishing, and nothing is written into the file.
void tst_Robustness::damagedFileIsToldAndKept_data()
{
    QTest::addColumn<QString>("trigger"); // empty: a page of the file overwritten
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("refused");
    QTest::newRow("damaged") << QString() << u"已损坏"_s << QString();
    QTest::newRow("trigger dropping inserts")
        << u"create trigger mute before insert on tb_receipt begin select raise(ignore); end"_s
        << u"触发器 mute（表 tb_receipt）"_s << u"保存失败"_s;
}

void tst_Robustness::damagedFileIsToldAndKept()
{
    QFETCH(QString, trigger);
    QFETCH(QString, told);
    QFETCH(QString, refused);
    QVERIFY(trigger.isEmpty() ? m.env->damageDatabase() : m.env->execRaw(trigger));
    const QByteArray before = fileHash(m.env->databasePath());
    QVERIFY(Startup::checkDatabase(nullptr));
    QString shown = MessageBox::lastText();
    m.openWindow();
    // The whole file is checked once the window shows, on a worker thread.
    BookMaintenance *maintenance = Startup::checkAndBackUpWhenShown(m.window.get());
    connect(maintenance, &BookMaintenance::damageFound, this,
            [&shown] { shown = MessageBox::lastText(); });
    QSignalSpy finished(maintenance, &BookMaintenance::finished);
    QVERIFY(finished.wait(30000));
    QVERIFY2(shown.contains(told) && (!trigger.isEmpty() || shown.contains(m.env->databasePath())),
             qPrintable(shown));
    QVERIFY(SQLiteHelper::shared().db().opensReadOnly());
    fill();
    clickAdd();
    verifyRefusedAndKept(refused);
    QCOMPARE(fileHash(m.env->databasePath()), before);
}

// A book from before voids and history were kept, on an archive disc or a read-only
// mount: nothing can be written there, so it opens for reading only, without a lock (no
// program can change it), and its receipts are viewed and opened (printed: tst_commandline).
void tst_Robustness::readOnlyFolderWithAnOlderBook()
{
    const QString path = m.env->databasePath();
    const QString folder = m.env->documentsPath();
    storeToday(u"R1"_s, u"乙"_s);
    QVERIFY(
        m.env->execRaw(u"drop table tb_void; drop table tb_history; pragma user_version = 0"_s));
    const QByteArray before = fileHash(path);
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const auto writable = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    {
        WithoutWriteOverride readOnlyForRoot;
        BookLock lock(path);
        QVERIFY(Startup::lockBook(lock, nullptr));
        QCOMPARE(lock.failure(), BookLock::Failure::FolderReadOnly);
        QVERIFY(Startup::checkDatabase(nullptr));
        QVERIFY2(MessageBox::lastText().contains(u"文件夹不能写入"_s),
                 qPrintable(MessageBox::lastText()));

        m.openWindow();
        QCOMPARE(m.listedRows(u"今天收据"_s), 1);
        AppStore &store = AppStore::shared();
        store.setSelectedId(u"R1"_s);
        QVERIFY(store.loadSelected(true)); // 修改 and 打印 read whether it is voided
        QCOMPARE(store.receiptEdit().voidReason, std::nullopt);
        const auto statistics = ReceiptStatistics::compute(
            dayText(), dayText().left(10) + u" 23:59:59"_s, ReceiptStatistics::Grouping::Payer);
        QVERIFY(statistics && statistics->size() == 1);
        QCOMPARE(ReceiptStatistics::voidedCount(dayText(), dayText().left(10) + u" 23:59:59"_s), 0);
        // The history is not there: its menu entries say so instead of failing.
        auto *history = m.window->findChild<QAction *>(u"historyAction"_s);
        QVERIFY(history && !history->isEnabled());
        QVERIFY2(history->toolTip().contains(u"旧版本"_s), qPrintable(history->toolTip()));

        m.clickRow(u"开单"_s);
        fill();
        clickAdd();
        verifyRefusedAndKept();
    }
    QCOMPARE(fileHash(path), before);
    QVERIFY(!QFileInfo::exists(path + u".lock"_s) && !QFileInfo::exists(path + u"-journal"_s));
}

void tst_Robustness::duplicateNumbersAreToldOnce()
{
    QVERIFY(m.env->execRaw(u"drop index idx_receipt_receiptNo"_s));
    storeToday(u"A1"_s, u"甲"_s);
    storeToday(u"B1"_s, u"乙"_s);
    for (int start = 0; start < 2; ++start) {
        resetSharedStores();
        MessageBox::setTestAnswer(false);
        QVERIFY(Startup::checkDatabase(nullptr));
        QCOMPARE(MessageBox::lastText().contains(u"0000001"_s), start == 0);
    }
    // A new receipt does not get the duplicated number either.
    m.openWindow();
    QCOMPARE(AppStore::shared().receiptEdit().receiptNo, u"0000002"_s);
}

void tst_Robustness::failedListLoadIsShown()
{
    storeToday(u"R1"_s, u"乙"_s);
    m.openWindow();
    QCOMPARE(m.listedRows(u"本月收据"_s), 1);
    auto *banner = m.currentScreen()->findChild<QLabel *>(u"loadErrorLabel"_s);
    QVERIFY(banner && !banner->isVisible());
    // Changed by another program: the list is read again when it is shown again, and the
    // rows of the last good read stay under the message.
    QVERIFY(m.env->execRaw(
        u"drop index idx_receipt_totalValue; alter table tb_receipt drop column total"_s));
    m.clickRow(u"今天收据"_s);
    QCOMPARE(m.listedRows(u"本月收据"_s), 1);
    banner = m.currentScreen()->findChild<QLabel *>(u"loadErrorLabel"_s);
    QVERIFY(banner->isVisible());
    QCOMPARE(banner->text(), u"读取收据失败：数据库缺少列 total"_s);
}

void tst_Robustness::unreadableAmountIsShownNotSaved()
{
    storeToday(u"R1"_s, u"乙"_s);
    QVERIFY(m.env->execRaw(u"update tb_receipt set total = '1,234.50'"_s));
    m.openWindow();
    QCOMPARE(m.listedRows(u"今天收据"_s), 1);
    QTableView *table = m.receiptTable();
    const QModelIndex amount = table->model()->index(0, 3);
    QCOMPARE(amount.data().toString(), u"1,234.50"_s);
    QCOMPARE(amount.data(Qt::ToolTipRole).toString(), u"金额无法识别"_s);

    // Neither printed nor saved as it is (typed again, it saves: tst_appstore).
    bool printed = false;
    PrintAction::setFunction([&](double, double) { printed = true; });
    table->selectRow(0);
    QTest::mouseClick(m.currentScreen()->findChild<QPushButton *>(u"printButton"_s),
                      Qt::LeftButton);
    QVERIFY(!printed);
    QTest::mouseClick(m.currentScreen()->findChild<QPushButton *>(u"editButton"_s), Qt::LeftButton);
    auto *total = m.find<QLineEdit>(u"totalLineEdit"_s);
    QCOMPARE(total->text(), u"1,234.50"_s);
    QTest::mouseClick(m.find<QToolButton>(u"saveButton"_s), Qt::LeftButton);
    QCOMPARE(toast()->text(), u"金额无法识别，请重新输入金额"_s);
    QCOMPARE(m.env->queryRaw(u"select total from tb_receipt"_s), u"1,234.50"_s);
}

QTEST_MAIN(tst_Robustness)
#include "tst_robustness.moc"
