// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupservice.h"
#include "booklock.h"
#include "bookmenu.h"
#include "filedialogs.h"
#include "importdialog.h"
#include "receiptbook.h"
#include "receiptnostore.h"
#include "receiptproof.h"
#include "sharedbookaddress.h"
#include "sqlitehelper.h"
#include "startup.h"
#include "uitesthelpers.h"
#include "verifyreceiptdialog.h"

#include <QAction>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <unistd.h>

using namespace Qt::StringLiterals;

// The menu bar: backup, restore, about; and one window per book.
class tst_BookMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m.start();
        QVERIFY(m.env->storeReceipt(u"R1"_s, u"0000001"_s, dayText(), u"甲"_s));
        m.openWindow();
    }
    void cleanup()
    {
        FileDialogs::setTestAnswer(std::nullopt);
        m.stop();
    }

    void aboutNamesTheFiles();
    void backupToAChosenFile();
    void restoreShowsTheRestoredBook();
    void restoreRefusesAFileThatIsNoBook();
    void secondWindowOnTheBookIsRefused_data();
    void secondWindowOnTheBookIsRefused();
    void lockFromAnotherMachineIsTakenWhenConfirmed();
    void importShowsTheProblemsThenRenumbers();
    void importNamesTheFileOnALineOfItsOwn();
    void filePickerReadsWhole();
    void verifyReceiptAnswersEachScanInTurn();
    void theDaysEndFromTheMenu();
    void localBookComesBackAfterASharedOne_data();
    void localBookComesBackAfterASharedOne();

private:
    void trigger(const QString &action) { m.find<QAction>(action)->trigger(); }
    Toast *toast(const QString &name) const { return m.find<Toast>(name); }
    QString file(const QString &name) const { return m.env->documentsPath() + u'/' + name; }
    int listedRows() { return m.listedRows(u"今天收据"_s); }

    WindowFixture m;
};

// 关于 tells where the book and its backups are.
void tst_BookMenu::aboutNamesTheFiles()
{
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
    QVERIFY(BackupService::checkBook(file(u"usb/copy.db"_s)));

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
    // Issued since the backup, outside the list's range: the confirmation names it.
    QVERIFY(m.env->storeReceipt(u"L"_s, u"0000042"_s, u"2001-01-01 00:00:00"_s));
    QCOMPARE(listedRows(), 0);
    FileDialogs::setTestAnswer(file(u"copy.db"_s));
    MessageBox::setTestAnswer(false); // 取消: nothing changes
    trigger(u"restoreAction"_s);
    QVERIFY2(MessageBox::lastText().contains(u"将失去 1 张收据：No.0000042"_s),
             qPrintable(MessageBox::lastText()));
    QCOMPARE(m.env->receiptCount(), 1);
    MessageBox::setTestAnswer(true);
    trigger(u"restoreAction"_s);
    QVERIFY(toast(u"menuSuccessToast"_s)->isShown());
    // Without a restart, the list shows the receipt of the backup.
    QCOMPARE(listedRows(), 1);
}

namespace {

// Answers the import dialogs that come up in turn with the buttons named, keeping what
// each said (its summary and its table's first row).
void answerImportDialogs(QStringList buttons, QStringList *said)
{
    QTimer::singleShot(0, [buttons, said]() mutable {
        auto *dialog = qobject_cast<ImportDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QString text = dialog->findChild<QLabel *>(u"importSummaryLabel"_s)->text();
        if (const auto *table = dialog->findChild<QTableWidget *>())
            text += u" | "_s + table->item(0, 0)->text() + u' ' + table->item(0, 1)->text();
        said->append(text);
        const QString button = buttons.takeFirst();
        if (!buttons.isEmpty())
            answerImportDialogs(buttons, said);
        dialog->findChild<QPushButton *>(button)->click();
    });
}

} // namespace

// 验证收据… takes one scan after the other: each answered in the dialog, the text left
// selected, so that the scanner's next text replaces it.
void tst_BookMenu::verifyReceiptAnswersEachScanInTurn()
{
    const std::optional<Receipt> stored = storedReceipt(u"R1"_s);
    QVERIFY(stored);
    QVERIFY(ReceiptBook::shared().recordPrint(u"R1"_s)); // printed: its newest record
    const QString code = ReceiptProof::codeText(
        *stored, m.env->queryRaw(u"select hash from tb_chain order by link desc limit 1"_s));
    QStringList said;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<VerifyReceiptDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        // A scanner types the text, then Enter.
        for (const QString &scanned : {code, u"https://example.com"_s}) {
            QTest::keyClicks(dialog->codeField(), scanned);
            QTest::keyClick(dialog->codeField(), Qt::Key_Return);
            said << dialog->verdict() + u" | "_s + dialog->details().section(u'\n', 0, 0);
        }
        QCOMPARE(dialog->codeField()->selectedText(), u"https://example.com"_s);
        dialog->reject();
    });
    trigger(u"verifyReceiptAction"_s);
    QCOMPARE(said,
             QStringList({u"真实，未改动 | No.0000001，收款日期 %1，金额 ¥1.00，交款单位 甲"_s.arg(
                              dayText().left(10)),
                          u"这不是 Quenta 收据上的二维码 | "_s}));
}

// 日结… says what the day holds and closes it; 收款日报… saves the day's report as a PDF.
void tst_BookMenu::theDaysEndFromTheMenu()
{
    MessageBox::setTestAnswer(true);
    QString summary;
    QTimer::singleShot(0, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog && dialog->objectName() == u"closeDayDialog"_s);
        summary = dialog->findChild<QLabel *>(u"closeDaySummary"_s)->text();
        dialog->findChild<QPushButton *>(u"closeDayButton"_s)->click();
    });
    trigger(u"closeDayAction"_s);
    QVERIFY2(summary.contains(u"账本还没有日结过。\n%1：1 张收据"_s.arg(dayText().left(10))),
             qPrintable(summary));
    QVERIFY2(MessageBox::lastText().startsWith(u"已日结到 %1。链尾 "_s.arg(dayText().left(10))),
             qPrintable(MessageBox::lastText()));
    QVERIFY(ReceiptBook::shared().isClosed(QDate::fromString(dayText().left(10), Qt::ISODate)));

    FileDialogs::setTestAnswer(file(u"day.pdf"_s));
    QTimer::singleShot(0, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog && dialog->objectName() == u"dayReportDialog"_s);
        summary = dialog->findChild<QLabel *>(u"dayReportSummary"_s)->text();
        dialog->findChild<QPushButton *>(u"dayReportPdfButton"_s)->click();
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    trigger(u"dayReportAction"_s);
    QVERIFY2(summary.endsWith(u"，已日结"_s), qPrintable(summary));
    QVERIFY(QFileInfo::exists(file(u"day.pdf"_s)));
    QVERIFY2(MessageBox::lastText().startsWith(u"已保存"_s), qPrintable(MessageBox::lastText()));
}

// A file whose one problem is a number taken: the table names the row, nothing is written
// until the renumbered import is confirmed; then the list and the next number follow.
void tst_BookMenu::importShowsTheProblemsThenRenumbers()
{
    QVERIFY(writeFile(file(u"in.csv"_s),
                      "收据单号,收款日期,交款单位,收款金额\r\n0000001,"
                          + dayText().left(10).toUtf8() + ",乙,5\r\n"));
    FileDialogs::setTestAnswer(file(u"in.csv"_s));
    QStringList said;
    answerImportDialogs({u"renumberButton"_s, u"importButton"_s}, &said);
    trigger(u"importAction"_s);
    QCOMPARE(said.size(), 2);
    QVERIFY2(said.at(0).endsWith(u"| 2 单号 0000001 已在账本中"_s), qPrintable(said.at(0)));
    QVERIFY2(said.at(1).endsWith(u"| 0000001 0000002"_s), qPrintable(said.at(1)));
    QVERIFY(toast(u"menuSuccessToast"_s)->isShown());
    QCOMPARE(listedRows(), 2);
    QCOMPARE(ReceiptNoStore::shared().receiptNoSetting().currNum, 3);
}

// The file to import is named on a line of its own, whole: a path wrapped into the
// sentence after it no longer reads as one name. Nothing is imported when cancelled.
void tst_BookMenu::importNamesTheFileOnALineOfItsOwn()
{
    const QString folder
        = m.env->documentsPath() + u"/收据导入/二〇二四年第二季度/各分店交来的收据"_s;
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + u"/五月份收据（第一批）.csv"_s;
    QVERIFY(writeFile(path,
                      "收据单号,收款日期,交款单位,收款金额\r\n0000009,"
                          + dayText().left(10).toUtf8() + ",乙,5\r\n"));
    FileDialogs::setTestAnswer(path);
    QString named, summary;
    QStringList broken {u"no dialog"_s};
    whenModal<ImportDialog>(this, [&](ImportDialog *dialog) {
        named = dialog->findChild<QLabel *>(u"importFileLabel"_s)->text();
        summary = dialog->findChild<QLabel *>(u"importSummaryLabel"_s)->text();
        broken = brokenLabelLines(dialog);
        dialog->reject();
    });
    trigger(u"importAction"_s);
    QCOMPARE(named, QDir::toNativeSeparators(path));
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(u'|')));
    QCOMPARE(summary, u"检查无误：1 张收据，合计 ¥5.00。"_s);
    QCOMPARE(m.env->receiptCount(), 1);
}

// Qt's own file picker speaks Chinese, the words Qt's catalog lacks too (a folder is a
// 文件夹, not a "Folder"), and shows its columns whole: no type or date is cut off.
void tst_BookMenu::filePickerReadsWhole()
{
    Startup::installTranslations(*QCoreApplication::instance());
    const auto uninstall = qScopeGuard([] {
        for (QTranslator *translator : QCoreApplication::instance()->findChildren<QTranslator *>(
                 Qt::FindDirectChildrenOnly)) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    });
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder"), u"文件夹"_s);
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "%1 File"), u"%1 文件"_s);
    // Qt's catalog answers the rest.
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Look in:"), u"Look in:"_s);
    if (QCoreApplication::translate("QFileDialog", "Look in:") == u"Look in:"_s)
        QSKIP("Qt's Chinese translations (qt6-translations-l10n) are not installed");

    const QString folder = QFileInfo(SQLiteHelper::shared().dbURL()).absolutePath();
    QVERIFY(QDir(folder).mkpath(u"备份"_s));
    QVERIFY(writeFile(folder + u"/收据-20240101-20241231.xlsx"_s, "PK"));
    QString folderType;
    QStringList cut {u"no picker"_s};
    whenModal<QFileDialog>(this, [&](QFileDialog *dialog) {
        auto *view = dialog->findChild<QTreeView *>();
        QVERIFY(view);
        // The folder is read behind the picker.
        QTRY_VERIFY(view->model()->rowCount(view->rootIndex()) >= 3);
        cut.clear();
        const QFontMetrics metrics(view->font());
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
            const QModelIndex name = view->model()->index(row, 0, view->rootIndex());
            for (int column = 1; column < view->header()->count(); ++column) {
                const QString text = name.siblingAtColumn(column).data().toString();
                if (metrics.horizontalAdvance(text) + 8 > view->header()->sectionSize(column))
                    cut.append(text);
            }
            if (name.data().toString() == u"备份"_s)
                folderType = name.siblingAtColumn(2).data().toString();
        }
        dialog->reject();
    });
    trigger(u"importAction"_s);
    QCOMPARE(folderType, u"文件夹"_s);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u'|')));
}

void tst_BookMenu::restoreRefusesAFileThatIsNoBook()
{
    QVERIFY(writeFile(file(u"notes.db"_s), QByteArray(5000, 'x')));
    FileDialogs::setTestAnswer(file(u"notes.db"_s));
    MessageBox::setTestAnswer(true);
    trigger(u"restoreAction"_s);
    QVERIFY(MessageBox::lastText().startsWith(u"这个文件不能用来恢复"_s));
    QCOMPARE(m.env->receiptCount(), 1);
}

void tst_BookMenu::secondWindowOnTheBookIsRefused_data()
{
    QTest::addColumn<QString>("book"); // the name of the file in the documents folder
    QTest::addColumn<QString>("second"); // how the second program names it
    QTest::newRow("same path") << u"Tovalin.db"_s << u"Tovalin.db"_s;
    QTest::newRow("through a symlink") << u"Tovalin.db"_s << u"link.db"_s;
    QTest::newRow("through a hard link in another folder")
        << u"Tovalin.db"_s << u"other/Tovalin.db"_s;
    QTest::newRow("not made yet, through a linked folder") << u"new.db"_s << u"folder/new.db"_s;
}

// However the second program reaches the book, and however long the first has held it,
// the second is refused while the first runs.
void tst_BookMenu::secondWindowOnTheBookIsRefused()
{
    QFETCH(QString, book);
    QFETCH(QString, second);
    const QDir documents(m.env->documentsPath());
    QVERIFY(QFile::link(documents.filePath(u"Tovalin.db"_s), documents.filePath(u"link.db"_s)));
    QVERIFY(QFile::link(documents.path(), documents.filePath(u"folder"_s)));
    QVERIFY(documents.mkdir(u"other"_s));
    QCOMPARE(::link(QFile::encodeName(documents.filePath(u"Tovalin.db"_s)).constData(),
                    QFile::encodeName(documents.filePath(u"other/Tovalin.db"_s)).constData()),
             0);
    BookLock first(documents.filePath(book));
    QVERIFY(first.tryLock());
    // Held for an hour: age alone never frees it.
    QFile lockFile(first.lockFilePath());
    QVERIFY(lockFile.open(QIODevice::ReadWrite));
    QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    lockFile.close();
    BookLock other(documents.filePath(second));
    QVERIFY(!Startup::lockBook(other, nullptr));
    QCOMPARE(other.failure(), BookLock::Failure::HeldByAnother);
    QVERIFY(MessageBox::lastText().contains(u"已经在使用这个数据库"_s));
}

// A lock written on another machine cannot be checked from here: the window names the
// machine and the lock file, and takes it over only when told to.
void tst_BookMenu::lockFromAnotherMachineIsTakenWhenConfirmed()
{
    BookLock lock(m.env->databasePath());
    QVERIFY(writeFile(lock.lockFilePath(), "4242\nquenta\nusb-stick-laptop\nhost-id\nboot-id\n"));
    MessageBox::setTestAnswer(false);
    QVERIFY(!Startup::lockBook(lock, nullptr));
    QVERIFY(MessageBox::lastText().contains(u"usb-stick-laptop"_s));
    QVERIFY(MessageBox::lastText().contains(lock.lockFilePath()));
    QVERIFY(QFile::exists(lock.lockFilePath()));
    MessageBox::setTestAnswer(true);
    QVERIFY(Startup::lockBook(lock, nullptr));
    QVERIFY(lock.isLocked());
}

// 使用本机账本 after a shared book goes back to the file the window was started on with
// --book; to the book in the documents folder when that one was left, or the file is gone.
void tst_BookMenu::localBookComesBackAfterASharedOne_data()
{
    QTest::addColumn<bool>("named");
    QTest::addColumn<bool>("gone");
    QTest::newRow("a file named") << true << false;
    QTest::newRow("a file named, gone since") << true << true;
    QTest::newRow("the book in the documents folder") << false << false;
}

void tst_BookMenu::localBookComesBackAfterASharedOne()
{
    QFETCH(bool, named);
    QFETCH(bool, gone);
    const auto restartedOn = [] {
        const std::optional<QStringList> arguments = Startup::requestedRestart();
        Startup::cancelRestart();
        if (!arguments)
            return u"<none>"_s;
        const qsizetype at = arguments->indexOf(u"--book"_s);
        return at < 0 ? QString() : arguments->value(at + 1);
    };
    const QString other = file(u"其他 账本.db"_s);
    QVERIFY(QFile::copy(m.env->databasePath(), other));
    // Left for a shared book before: what the window leaves now counts.
    SharedBookAddresses::rememberLocalBook(other);
    if (named) {
        m.window.reset();
        resetSharedStores();
        qputenv("QUENTA_BOOK", other.toUtf8());
        m.openWindow();
    }
    BookMenu *menu = m.window->findChild<BookMenu *>();
    const QString shared = u"postgresql://desk@127.0.0.1:5432/quenta?sslmode=disable"_s;
    QVERIFY(menu->switchToSharedBook(shared, {}));
    QCOMPARE(restartedOn(), shared);

    if (gone)
        QVERIFY(QFile::remove(other));
    menu->useLocalBook();
    QCOMPARE(restartedOn(), named && !gone ? other : QString());
}

QTEST_MAIN(tst_BookMenu)
#include "tst_bookmenu.moc"
