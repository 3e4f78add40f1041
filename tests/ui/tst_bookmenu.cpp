// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupservice.h"
#include "booklock.h"
#include "filedialogs.h"
#include "sqlitehelper.h"
#include "startup.h"
#include "uitesthelpers.h"

#include <QAction>
#include <QMenuBar>
#include <QTableView>

using namespace Qt::StringLiterals;

// The menu bar: backup, restore, the data folder, about; and one window per book.
class tst_BookMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m.start();
        QVERIFY(m.env->execRaw(receiptInsertSql(u"R1"_s, u"0000001"_s, today(), u"甲"_s)));
        m.openWindow();
    }
    void cleanup()
    {
        FileDialogs::setTestAnswer(std::nullopt);
        m.stop();
    }

    void menusNameEveryEntry();
    void backupToAChosenFile();
    void restoreShowsTheRestoredBook();
    void restoreRefusesAFileThatIsNoBook();
    void secondWindowOnTheBookIsRefused();

private:
    static QString today() { return QDate::currentDate().toString(u"yyyy-MM-dd 00:00:00"_s); }
    void trigger(const QString &action) { m.find<QAction>(action)->trigger(); }
    Toast *toast(const QString &name) const { return m.find<Toast>(name); }
    QString file(const QString &name) const { return m.env->documentsPath() + u'/' + name; }
    int listedRows()
    {
        m.clickRow(u"今天收据"_s);
        return m.currentScreen()
            ->findChild<QTableView *>(u"receiptTableView"_s)
            ->model()
            ->rowCount();
    }

    WindowFixture m;
};

void tst_BookMenu::menusNameEveryEntry()
{
    QStringList entries;
    for (QAction *menu : m.window->menuBar()->actions()) {
        for (QAction *action : menu->menu()->actions()) {
            if (!action->isSeparator())
                entries << menu->text() + u" > "_s + action->text() + u" | "_s + action->toolTip();
        }
    }
    QCOMPARE(entries,
             QStringList({u"文件(&F) > 备份数据库(&B)… | 备份数据库(B)"_s,
                          u"文件(&F) > 恢复数据库(&R)… | 恢复数据库(R)"_s,
                          u"文件(&F) > 打开数据文件夹(&O) | 打开数据文件夹(O)"_s,
                          u"文件(&F) > 导出列表(&E)… | 导出列表(E)"_s,
                          u"文件(&F) > 打印设置(&P)… | 打印设置(P)"_s,
                          u"文件(&F) > 退出(&Q) | 退出(Q)"_s,
                          u"收据(&R) > 操作记录(&L)… | 操作记录(L)"_s,
                          u"收据(&R) > 查看历史(&V) | 查看历史(V)"_s,
                          u"帮助(&H) > 关于 Quenta(&A) | 关于 Quenta(A)"_s}));
    QCOMPARE(m.find<QAction>(u"quitAction"_s)->shortcut(), QKeySequence(QKeySequence::Quit));
    trigger(u"aboutAction"_s);
    QVERIFY(MessageBox::lastText().contains(SQLiteHelper::shared().dbURL()));
    QVERIFY(MessageBox::lastText().contains(BackupService::backupsFolder()));
    QVERIFY(MessageBox::lastText().contains(u"GPL-3.0-or-later"_s));
}

void tst_BookMenu::backupToAChosenFile()
{
    QVERIFY(QDir(m.env->documentsPath()).mkdir(u"usb"_s));
    FileDialogs::setTestAnswer(file(u"usb/copy.db"_s));
    trigger(u"backupAction"_s);
    // Offered: Tovalin-yyyyMMdd-HHmmss.db beside the book.
    QVERIFY2(FileDialogs::lastSuggestion().startsWith(
                 file(u"Tovalin-%1-"_s.arg(QDate::currentDate().toString(u"yyyyMMdd"_s)))),
             qPrintable(FileDialogs::lastSuggestion()));
    QVERIFY(toast(u"menuSuccessToast"_s)->isShown());
    QVERIFY(BackupService::checkBook(file(u"usb/copy.db"_s)).ok);

    // The next one starts in the folder used last.
    FileDialogs::setTestAnswer(u"/dev/null/copy.db"_s);
    trigger(u"backupAction"_s);
    QVERIFY(FileDialogs::lastSuggestion().startsWith(file(u"usb/"_s)));
    QVERIFY(toast(u"menuErrorToast"_s)->isShown());
    QVERIFY(toast(u"menuErrorToast"_s)->text().startsWith(u"备份失败："_s));
}

void tst_BookMenu::restoreShowsTheRestoredBook()
{
    QVERIFY(BackupService::backup(file(u"copy.db"_s)));
    QVERIFY(m.env->execRaw(u"delete from tb_receipt"_s));
    QCOMPARE(listedRows(), 0);
    FileDialogs::setTestAnswer(file(u"copy.db"_s));
    MessageBox::setTestAnswer(false); // 取消: nothing changes
    trigger(u"restoreAction"_s);
    QVERIFY(MessageBox::lastText().contains(u"1 张收据"_s));
    QCOMPARE(m.env->countRaw(u"select count(*) from tb_receipt"_s), 0);
    MessageBox::setTestAnswer(true);
    trigger(u"restoreAction"_s);
    QVERIFY(toast(u"menuSuccessToast"_s)->isShown());
    // Without a restart, the list shows the receipt of the backup.
    QCOMPARE(listedRows(), 1);
}

void tst_BookMenu::restoreRefusesAFileThatIsNoBook()
{
    QFile notes(file(u"notes.db"_s));
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write(QByteArray(5000, 'x')) > 0);
    notes.close();
    FileDialogs::setTestAnswer(file(u"notes.db"_s));
    MessageBox::setTestAnswer(true);
    trigger(u"restoreAction"_s);
    QVERIFY(MessageBox::lastText().startsWith(u"这个文件不能用来恢复"_s));
    QCOMPARE(m.env->countRaw(u"select count(*) from tb_receipt"_s), 1);
}

void tst_BookMenu::secondWindowOnTheBookIsRefused()
{
    BookLock first(m.env->databasePath());
    QVERIFY(first.tryLock());
    BookLock second(m.env->databasePath());
    QVERIFY(!Startup::lockBook(second, nullptr));
    QVERIFY(MessageBox::lastText().contains(u"已经在使用这个数据库"_s));
}

QTEST_MAIN(tst_BookMenu)
#include "tst_bookmenu.moc"
