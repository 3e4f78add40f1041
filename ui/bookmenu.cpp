// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookmenu.h"

#include "appstore.h"
#include "backupservice.h"
#include "bookcare.h"
#include "bookfile.h"
#include "bookmaintenance.h"
#include "bookproof.h"
#include "clock.h"
#include "daydialogs.h"
#include "filedialogs.h"
#include "historyview.h"
#include "importdialog.h"
#include "listview.h"
#include "lookupstores.h"
#include "messagebox.h"
#include "money.h"
#include "paperbookdialogs.h"
#include "preferences.h"
#include "printsettingsdialog.h"
#include "receiptbook.h"
#include "receiptimport.h"
#include "receiptnostore.h"
#include "sharedbookaddress.h"
#include "sharedbookdialog.h"
#include "startup.h"
#include "toast.h"
#include "verifyreceiptdialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressDialog>
#include <QThread>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QAction *addAction(QMenu *menu, const QString &objectName, const QString &text,
                   const QKeySequence &key = {})
{
    QAction *action = menu->addAction(text);
    action->setObjectName(objectName);
    // Read by screen readers without the … and the & of the menu text.
    action->setToolTip(QString(text).remove(u'…').remove(u'&'));
    if (!key.isEmpty())
        action->setShortcut(key);
    return action;
}

QString lastFolderKey()
{
    return u"lastBackupFolder"_s;
}

} // namespace

BookMenu::BookMenu(QMainWindow *window)
    : QObject(window)
    , m_window(window)
    , m_successToast(new Toast(Toast::Kind::Success, 3s, window))
    , m_errorToast(new Toast(Toast::Kind::Error, 4s, window))
    , m_maintenance(new BookMaintenance(this))
{
    m_successToast->setObjectName(u"menuSuccessToast"_s);
    m_errorToast->setObjectName(u"menuErrorToast"_s);
    QMenuBar *bar = window->menuBar();
    bar->setAccessibleName(u"菜单栏"_s);

    QMenu *file = bar->addMenu(u"文件(&F)"_s);
    file->setObjectName(u"fileMenu"_s);
    connect(addAction(file, u"openSharedBookAction"_s, u"打开共享账本(&S)…"_s), &QAction::triggered,
            this, &BookMenu::openSharedBook);
    QAction *useLocal = addAction(file, u"useLocalBookAction"_s, u"使用本机账本(&L)"_s);
    // Only a shared book can be left for the one on this computer.
    useLocal->setVisible(BookFile::isSharedByDesks());
    connect(useLocal, &QAction::triggered, this, &BookMenu::useLocalBook);
    file->addSeparator();
    connect(addAction(file, u"backupAction"_s, u"备份数据库(&B)…"_s), &QAction::triggered, this,
            &BookMenu::backUp);
    // A shared book is restored on the server, while no desk is connected (quenta
    // --restore), and has no folder on this computer.
    QAction *restoreAction = addAction(file, u"restoreAction"_s, u"恢复数据库(&R)…"_s);
    restoreAction->setVisible(BookFile::canRestoreInWindow());
    connect(restoreAction, &QAction::triggered, this, &BookMenu::restore);
    connect(addAction(file, u"verifyAction"_s, u"校验账本(&V)…"_s), &QAction::triggered, this,
            &BookMenu::verify);
    QAction *openFolder = addAction(file, u"openDataFolderAction"_s, u"打开数据文件夹(&O)"_s);
    openFolder->setVisible(!BookFile::folder().isEmpty());
    connect(openFolder, &QAction::triggered, this, &BookMenu::openDataFolder);
    QAction *exportList = addAction(file, u"exportListAction"_s, u"导出列表(&E)…"_s);
    connect(exportList, &QAction::triggered, this, &BookMenu::exportList);
    connect(addAction(file, u"importAction"_s, u"导入收据(&I)…"_s), &QAction::triggered, this,
            &BookMenu::importReceipts);
    file->addSeparator();
    connect(addAction(file, u"printSettingsAction"_s, u"打印设置(&P)…"_s), &QAction::triggered,
            this, &BookMenu::showPrintSettings);
    file->addSeparator();
    QAction *quit = addAction(file, u"quitAction"_s, u"退出(&Q)"_s, QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, window, &QWidget::close);

    QMenu *receipts = bar->addMenu(u"收据(&R)"_s);
    receipts->setObjectName(u"receiptMenu"_s);
    QAction *history = addAction(receipts, u"historyAction"_s, u"操作记录(&L)…"_s,
                                 QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(history, &QAction::triggered, this, &BookMenu::showHistory);
    QAction *receiptHistory = addAction(receipts, u"receiptHistoryAction"_s, u"查看历史(&V)"_s);
    connect(receiptHistory, &QAction::triggered, this, &BookMenu::showSelectedHistory);
    receipts->addSeparator();
    connect(addAction(receipts, u"verifyReceiptAction"_s, u"验证收据(&C)…"_s), &QAction::triggered,
            this, &BookMenu::verifyReceipt);
    connect(addAction(receipts, u"closeDayAction"_s, u"日结(&J)…"_s), &QAction::triggered, this,
            [this] { DayDialogs::closeDay(m_window); });
    connect(addAction(receipts, u"dayReportAction"_s, u"收款日报(&D)…"_s), &QAction::triggered,
            this, [this] { DayDialogs::dayReport(m_window); });
    receipts->addSeparator();
    connect(addAction(receipts, u"paperBooksAction"_s, u"收据本登记(&B)…"_s), &QAction::triggered,
            this, &BookMenu::showPaperBooks);
    connect(addAction(receipts, u"spoilAction"_s, u"登记废票(&F)…"_s), &QAction::triggered, this,
            &BookMenu::spoilForm);
    // Greyed while no receipt is selected, so the menu itself says there is nothing to show;
    // greyed with the reason in a book that keeps no history (an older one only read).
    const auto followBook = [history, receiptHistory] {
        const QString unavailable = ReceiptBook::shared().historyUnavailableReason();
        for (QAction *action : {history, receiptHistory}) {
            action->setToolTip(unavailable);
            action->setStatusTip(unavailable);
        }
        history->setEnabled(unavailable.isEmpty());
        receiptHistory->setEnabled(unavailable.isEmpty()
                                   && AppStore::shared().selectedId().has_value());
    };
    receipts->setToolTipsVisible(true);
    connect(&AppStore::shared(), &AppStore::selectedIdChanged, receiptHistory, followBook);
    connect(receipts, &QMenu::aboutToShow, receiptHistory, followBook);
    followBook();

    QMenu *help = bar->addMenu(u"帮助(&H)"_s);
    help->setObjectName(u"helpMenu"_s);
    QAction *about = addAction(help, u"aboutAction"_s, u"关于 Quenta(&A)"_s);
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &BookMenu::showAbout);

    connect(&AppStore::shared(), &AppStore::receiptSaved, this, &BookMenu::onReceiptSaved);
    connect(m_maintenance, &BookMaintenance::backupFailed, this, &BookMenu::onBackupFailed);
}

void BookMenu::backUp()
{
    const QString lastFolder = Preferences::value(lastFolderKey());
    const QString folder = !lastFolder.isEmpty() && QFileInfo(lastFolder).isDir() ? lastFolder
        : !BookFile::folder().isEmpty() ? BookFile::folder()
                                        : BookFile::documentsDirectory();
    const QString target = FileDialogs::saveFileName(
        m_window, u"备份数据库"_s,
        QDir(folder).filePath(BackupService::defaultBackupName(Clock::now())),
        u"数据库文件 (*.db);;所有文件 (*)"_s);
    if (target.isEmpty())
        return;
    Preferences::setValue(lastFolderKey(), QFileInfo(target).absolutePath());
    QString error;
    if (BookCare::backUp(target, &error))
        m_successToast->show(u"备份成功：%1"_s.arg(QDir::toNativeSeparators(target)));
    else
        m_errorToast->show(u"备份失败：%1"_s.arg(error));
}

void BookMenu::verify()
{
    bool given = false;
    const QString head = QInputDialog::getText(
        m_window, u"校验账本"_s,
        u"重新计算账本的记录链，并核对每张收据、作废和单号计数器。\n"
        u"若有此前打印的链尾（收款日报或收据二维码上的 16 位），可填在这里一并核对："_s,
        QLineEdit::Normal, {}, &given).trimmed();
    if (!given)
        return;
    QProgressDialog progress(u"正在校验账本…"_s, u"取消"_s, 0, 0, m_window);
    progress.setObjectName(u"verifyProgressDialog"_s);
    progress.setWindowTitle(u"校验账本"_s);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    std::atomic_bool cancel = false;
    BookProof::Verdict verdict;
    QString error;
    bool read = false;
    QThread *worker = QThread::create(
        [&] { read = BookCare::verify(head, &verdict, &error, &cancel); });
    QEventLoop wait;
    connect(worker, &QThread::finished, &wait, &QEventLoop::quit);
    connect(&progress, &QProgressDialog::canceled, worker, [&cancel] { cancel = true; });
    worker->start();
    wait.exec();
    delete worker;
    progress.close();
    if (cancel)
        return;
    if (!read)
        MessageBox::warning(m_window, u"校验账本"_s, u"无法校验账本：%1"_s.arg(error));
    else if (!verdict.whole)
        MessageBox::warning(m_window, u"校验账本"_s, u"账本校验未通过：%1"_s.arg(verdict.problem));
    else
        MessageBox::information(
            m_window, u"校验账本"_s,
            u"账本完整：%1 条记录，链尾 %2"_s.arg(verdict.records).arg(
                verdict.head.isEmpty() ? u"（无）"_s : BookProof::shortHead(verdict.head)));
}

void BookMenu::restore()
{
    const QString lastFolder = Preferences::value(lastFolderKey());
    const QString source = FileDialogs::openFileName(
        m_window, u"恢复数据库"_s,
        lastFolder.isEmpty() ? BackupService::backupsFolder() : lastFolder,
        u"数据库文件 (*.db);;所有文件 (*)"_s);
    if (source.isEmpty())
        return;
    RestoreCheck found;
    if (QString problem; !BackupService::checkRestoreFile(source, &found, &problem)) {
        MessageBox::warning(m_window, u"无法恢复"_s,
                            u"这个文件不能用来恢复，现有的数据库没有改动。\n\n%1\n\n文件：%2"_s.arg(
                                problem, QDir::toNativeSeparators(source)));
        return;
    }
    const QString range = found.receiptCount == 0
        ? u"其中没有收据。"_s
        : u"其中有 %1 张收据，收款日期从 %2 到 %3。"_s.arg(Money::groupedDigits(found.receiptCount))
              .arg(found.earliestReceiptDate.left(10), found.latestReceiptDate.left(10));
    const QString loss = found.lossText();
    if (!MessageBox::confirmRestore(m_window, QDir::toNativeSeparators(source),
                                    loss.isEmpty() ? range : range + u'\n' + loss))
        return;
    QString error;
    if (BackupService::restore(source, &error))
        m_successToast->show(u"已恢复数据库：%1"_s.arg(range));
    else
        m_errorToast->show(u"恢复失败：%1"_s.arg(error));
}

void BookMenu::openDataFolder()
{
    const QString folder = BookFile::folder();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        MessageBox::information(
            m_window, u"打开数据文件夹"_s,
            u"无法打开文件管理器。数据文件夹在：\n%1"_s.arg(QDir::toNativeSeparators(folder)));
}

void BookMenu::exportList()
{
    // The list on screen, whichever of the five it is; the others are hidden.
    const QList<ListView *> lists = m_window->findChildren<ListView *>();
    for (ListView *list : lists) {
        if (list->isVisible()) {
            list->exportShown();
            return;
        }
    }
    m_errorToast->show(u"请先打开一个收据列表"_s);
}

void BookMenu::importReceipts()
{
    const QString lastFolder = Preferences::value(u"lastImportFolder"_s);
    const QString source = FileDialogs::openFileName(
        m_window, u"导入收据"_s,
        !lastFolder.isEmpty()               ? lastFolder
            : !BookFile::folder().isEmpty() ? BookFile::folder()
                                            : BookFile::documentsDirectory(),
        u"收据文件 (*.csv *.xlsx *.db);;CSV 文件 (*.csv);;Excel 工作簿 (*.xlsx);;"
        u"Quenta 数据库 (*.db)"_s);
    if (source.isEmpty())
        return;
    Preferences::setValue(u"lastImportFolder"_s, QFileInfo(source).absolutePath());
    BookImport::Options options;
    options.dryRun = true;
    m_importAgain = false;
    QStringList notes;
    std::optional<BookImport::Result> checked = runImport(source, options, &notes);
    if (!checked)
        return;
    {
        ImportDialog dialog(source, *checked, notes, m_window);
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    options.again = m_importAgain;
    if (!checked->ok) {
        // Renumbering asked for: the file is checked again with it, and shown once more.
        options.renumber = true;
        checked = runImport(source, options, &notes);
        if (!checked)
            return;
        ImportDialog dialog(source, *checked, notes, m_window);
        if (dialog.exec() != QDialog::Accepted || !checked->ok)
            return;
    }
    options.dryRun = false;
    const std::optional<BookImport::Result> imported = runImport(source, options, &notes);
    if (!imported)
        return;
    if (!imported->ok) {
        // Another program wrote the book between the check and the import.
        ImportDialog(source, *imported, notes, m_window).exec();
        return;
    }
    // The lists read the book again on replaced(); the lookups and the next number follow.
    for (LookupStoreBase *store : std::initializer_list<LookupStoreBase *> {
             &PayerStore::shared(), &Reason1Store::shared(), &Reason2Store::shared(),
             &PaytypeStore::shared(), &AccountStore::shared()})
        store->load();
    ReceiptNoStore::shared().loadSetting();
    if (AppStore::shared().receiptEdit().id.isEmpty())
        ReceiptNoStore::shared().nextReceiptNo();
    m_successToast->show(
        u"%1 张收据已导入，合计 ¥%2"_s.arg(Money::groupedDigits(imported->count),
                                           Money::format(imported->fen))
        + (imported->note.isEmpty() ? QString() : u"（%1）"_s.arg(imported->note)));
}

std::optional<BookImport::Result>
BookMenu::runImport(const QString &source, const BookImport::Options &given, QStringList *notes)
{
    QString error;
    const std::unique_ptr<BookImport::Source> reader
        = ReceiptImport::open(source, &error, ReceiptNoStore::shared().receiptNoSetting().numLong);
    if (!reader) {
        MessageBox::warning(m_window, u"无法导入"_s, error);
        return std::nullopt;
    }
    QProgressDialog progress(given.dryRun ? u"正在检查 %1…"_s.arg(reader->fileName())
                                          : u"正在导入 %1…"_s.arg(reader->fileName()),
                             u"取消"_s, 0, 100, m_window);
    progress.setObjectName(u"importProgressDialog"_s);
    progress.setWindowTitle(u"导入收据"_s);
    progress.setWindowModality(Qt::WindowModal);
    // Shown only when the import takes longer than a moment.
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    BookImport::Options options = given;
    // The write holds the book's transaction on this thread's connection: the window is
    // kept drawing between batches, its input held off by the modal dialog, whose 取消
    // stops the import (nothing is written then).
    options.progress = [&](qint64) {
        const int percent = reader->percent();
        progress.setValue(std::clamp(percent, 0, 99));
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    };
    BookImport::Result result;
    const bool written = ReceiptBook::shared().importReceipts(*reader, options, &result, &error);
    const bool canceled = progress.wasCanceled();
    progress.reset();
    progress.hide();
    *notes = reader->notes();
    if (!result.importedBefore.isEmpty() && !given.again) {
        if (!MessageBox::confirmImportAgain(m_window, reader->fileName(), result.importedBefore))
            return std::nullopt;
        // Asked once: the checks and the import after it take the file again.
        BookImport::Options again = given;
        again.again = true;
        m_importAgain = true;
        return runImport(source, again, notes);
    }
    // Refused for its rows, the result names them; any other failure is told here.
    if (!written && result.problemCount == 0) {
        if (!canceled)
            m_errorToast->show(error);
        return std::nullopt;
    }
    return result;
}

void BookMenu::openSharedBook()
{
    // The book open now when it is a shared one, else the one chosen last.
    const QString current
        = BookFile::isSharedByDesks() ? BookFile::path() : SharedBookAddresses::remembered();
    SharedBookDialog dialog(SharedBookAddress::fromUri(current).value_or(SharedBookAddress()),
                            m_window);
    const QString remembered = SharedBookAddresses::remembered();
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The dialog remembered the new book; a window kept open keeps the old choice too.
    if (!switchToSharedBook(dialog.address().uri(), dialog.password())) {
        if (remembered.isEmpty())
            SharedBookAddresses::forget();
        else
            SharedBookAddresses::remember(remembered);
    }
}

bool BookMenu::switchToSharedBook(const QString &uri, const QString &password)
{
    if (!restartOn(uri, password))
        return false;
    // The file left, when --book named one, is the one 使用本机账本 comes back to.
    if (!BookFile::isSharedByDesks())
        SharedBookAddresses::rememberLocalBook(BookFile::path());
    return true;
}

void BookMenu::useLocalBook()
{
    const QString remembered = SharedBookAddresses::remembered();
    SharedBookAddresses::forget();
    // The file the window was on before the shared book, else the one in the documents
    // folder.
    if (!restartOn(SharedBookAddresses::localBook(), {}) && !remembered.isEmpty())
        SharedBookAddresses::remember(remembered);
}

bool BookMenu::restartOn(const QString &book, const QString &password)
{
    Startup::requestRestart(book, password);
    if (m_window->close())
        return true;
    // An unsaved receipt the user went back to keeps the window open: no second program.
    Startup::cancelRestart();
    return false;
}

void BookMenu::showAbout()
{
    MessageBox::information(
        m_window, u"关于 Quenta"_s,
        u"Quenta %1\n开具、保存和打印收据。\n\n账本：%2\n自动备份：%3\n\n"
        u"许可证：GNU 通用公共许可证第 3 版或更高版本（GPL-3.0-or-later）"_s.arg(
            QCoreApplication::applicationVersion(), BookFile::displayName(),
            BookFile::keepsAutomaticBackups()
                ? QDir::toNativeSeparators(BackupService::backupsFolder())
                : u"由服务器管理（pg_dump），可用 quenta --backup 另存"_s));
}

void BookMenu::showPrintSettings()
{
    PrintSettingsDialog dialog(m_window);
    dialog.exec();
}

void BookMenu::showHistory()
{
    HistoryView::showAll(m_window);
}

void BookMenu::showSelectedHistory()
{
    const std::optional<QString> selected = AppStore::shared().selectedId();
    if (!selected) {
        m_errorToast->show(u"请先在收据列表中选择一张收据"_s);
        return;
    }
    HistoryView::showReceipt(m_window, *selected);
}

void BookMenu::verifyReceipt()
{
    VerifyReceiptDialog dialog(m_window);
    dialog.exec();
}

void BookMenu::showPaperBooks()
{
    PaperBooksDialog dialog(m_window);
    dialog.exec();
}

void BookMenu::spoilForm()
{
    // The number of the one receipt selected in a list, which is the form most often spoiled:
    // the printer jammed on it.
    QString number;
    AppStore &store = AppStore::shared();
    if (const std::optional<QString> selected = store.selectedId();
        selected && store.selection().size() <= 1) {
        std::optional<Receipt> receipt;
        if (store.readReceipt(*selected, &receipt) && receipt && !receipt->voidReason)
            number = receipt->receiptNo;
    }
    PaperBookDialogs::spoil(m_window, number);
}

void BookMenu::onReceiptSaved()
{
    // On a worker: the copy of a large book takes seconds, and the next receipt is being
    // typed meanwhile.
    if (BackupService::shared().countSavedReceipt())
        m_maintenance->backUp();
}

void BookMenu::onBackupFailed(const QString &error)
{
    if (m_backupFailureTold)
        return;
    // Told once: a failing backup must not interrupt every later save.
    m_backupFailureTold = true;
    m_errorToast->show(u"自动备份失败：%1"_s.arg(error));
}
