// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup.h"

#include "backupservice.h"
#include "bookfile.h"
#include "booklock.h"
#include "bookcare.h"
#include "bookmaintenance.h"
#include "bookproof.h"
#include "contentview.h"
#include "icons.h"
#include "messagebox.h"
#include "preferences.h"
#include "qtchinesetexts.h"
#include "sharedbookaddress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Restart
{
    bool requested = false;
    QString program;
    QStringList arguments;
    QProcessEnvironment environment;
};

Restart &restart()
{
    static Restart requested;
    return requested;
}

// Waits for the window's first paint. show() only asks for one: the window is on screen
// once the platform has exposed it and the widgets have drawn into it.
class FirstPaintWatcher : public QObject
{
public:
    FirstPaintWatcher(QWidget *window, const QElapsedTimer &sinceStart)
        : QObject(window)
        , m_window(window)
        , m_sinceStart(sinceStart)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            // After this paint and whatever it queued (the backing store's flush among
            // them), not in its middle.
            QTimer::singleShot(0, this, &FirstPaintWatcher::report);
        }
        return false;
    }

private:
    void report()
    {
        std::fprintf(stderr, "quenta: window shown after %.1f ms\n",
                     m_sinceStart.nsecsElapsed() / 1e6);
        std::fflush(stderr);
        QCoreApplication::exit(0);
    }

    QWidget *m_window;
    QElapsedTimer m_sinceStart;
    bool m_painted = false;
};

} // namespace

void Startup::setUpApplication(QApplication &app)
{
    QApplication::setApplicationName(u"Quenta"_s);
    QApplication::setOrganizationName(u"Quenta"_s);
    QApplication::setApplicationVersion(QStringLiteral(QUENTA_VERSION));
    QApplication::setWindowIcon(Icons::bundled(u"quenta"_s));
    // Matches the installed launcher, so desktops show its name and icon for the window.
    QGuiApplication::setDesktopFileName(u"io.github.quenta.quenta"_s);
    const QString family = u"Noto Sans CJK SC"_s;
    if (QFontDatabase::families().contains(family)) {
        QFont font = app.font();
        font.setFamily(family);
        app.setFont(font);
    }

    // Everything the user reads is Chinese, including Qt's own dialogs (the print
    // dialog) and the calendar of the date pickers, whatever the desktop's language.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    installTranslations(app);
}

void Startup::installTranslations(QCoreApplication &app)
{
    auto *catalog = new QTranslator(&app);
    catalog->setObjectName(u"qtCatalog"_s);
    if (catalog->load(QLocale(QLocale::Chinese, QLocale::China), u"qtbase"_s, u"_"_s,
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(catalog);
    else
        qWarning("Qt's Chinese translations (qtbase_zh_CN.qm) are not installed: Qt's own "
                 "dialogs speak English");
    // After the catalog, so that it is asked first for what the catalog lacks.
    auto *supplement = new QtChineseTexts(&app);
    supplement->setObjectName(u"qtChineseTexts"_s);
    QCoreApplication::installTranslator(supplement);
}

namespace {

// The duplicated numbers are told once per book and list of numbers, not at every start:
// nothing in the program can change them, and a warning that comes every time is soon
// not read.
void tellDuplicateNumbers(QWidget *parent, const QString &path, const QStringList &numbers)
{
    if (numbers.isEmpty())
        return;
    const QString key = u"duplicateNumbersTold"_s;
    const QString told = path + u'|' + numbers.join(u',');
    if (Preferences::value(key) == told)
        return;
    Preferences::setValue(key, told);
    QStringList shown = numbers.mid(0, 20);
    if (numbers.size() > shown.size())
        shown.append(u"等 %1 个"_s.arg(numbers.size()));
    MessageBox::warning(parent, u"收据单号重复"_s,
                        u"数据库中有几张收据使用了相同的单号：%1。\n\n"
                        u"Quenta 以后开出的收据不会再使用这些单号。请核对这些收据。"
                        u"\n\n数据库位置：%2"_s.arg(shown.join(u"、"_s), path));
}

// Tried rather than asked: access() answers yes for root whatever the folder's mode.
bool isWritableFolder(const QString &folder)
{
    QTemporaryFile probe(folder + u"/.quenta-write-test-XXXXXX"_s);
    return probe.open();
}

void tellDamage(QWidget *parent, const QString &damage, const QString &path)
{
    MessageBox::warning(parent, u"数据库文件已损坏"_s,
                        u"数据库文件已损坏，部分收据可能无法读出：\n%1\n\n"
                        u"Quenta 以只读方式打开它：可以查看和打印能读出的收据，但无法保存。"
                        u"请先另外复制一份这个文件留存，再用最近的备份替换它。"
                        u"\n\n数据库位置：%2"_s.arg(damage, path));
}

} // namespace

bool Startup::checkDatabase(QWidget *parent)
{
    // The quick check reads the whole file: on a large book it would hold up the window,
    // so it runs on a worker thread once the window shows (checkAndBackUpWhenShown).
    BookFile::checkFileLater();
    QString error;
    if (!BookFile::checkUsable(&error)) {
        const QString text = u"无法使用数据库，Quenta 无法启动。\n\n%1\n\n数据库位置：%2"_s.arg(
            error, BookFile::path());
        MessageBox::critical(parent, u"数据库错误"_s, text);
        return false;
    }
    const QString path = BookFile::path();
    if (const QString damage = BookFile::damage(); !damage.isEmpty()) {
        tellDamage(parent, damage, path);
    } else if (const QStringList unknown = BookFile::unknownObjects(); !unknown.isEmpty()) {
        MessageBox::warning(parent, u"数据库中有不认识的内容"_s,
                            u"数据库文件中有收据数据库不该有的内容：%1。\n\n"
                            u"它们可能在保存时删除或改动收据，所以 Quenta 以只读方式打开它："
                            u"可以查看和打印收据，但无法保存。请用最近的备份恢复数据库。"
                            u"\n\n数据库位置：%2"_s.arg(unknown.join(u"、"_s), path));
    } else if (BookFile::isNewer()) {
        MessageBox::warning(
            parent, u"数据库来自更新的版本"_s,
            u"这个数据库由更新版本的 Quenta 写入，这个版本只能读取它：可以查看和"
            u"打印收据，但无法保存。请使用更新版本的 Quenta。\n\n数据库位置：%1"_s.arg(path));
    } else if (!BookFile::folder().isEmpty() && !isWritableFolder(BookFile::folder())) {
        // SQLite writes its journal beside the file: without that, every save fails.
        MessageBox::warning(parent, u"数据库文件夹只读"_s,
                            u"数据库所在的文件夹不能写入，保存时需要在那里写临时文件："
                            u"可以查看和打印收据，但无法保存。\n\n文件夹：%1"_s.arg(
                                QFileInfo(path).absolutePath()));
    } else if (BookFile::isReadOnly()) {
        MessageBox::warning(parent, u"数据库只读"_s,
                            u"数据库文件只能读取，不能写入：可以查看和打印收据，但无法保存。"
                            u"\n\n数据库位置：%1"_s.arg(path));
    }
    tellDuplicateNumbers(parent, path, BookFile::duplicateReceiptNumbers());
    return true;
}

bool Startup::lockBook(BookLock &lock, QWidget *parent)
{
    QString error;
    if (lock.tryLock(&error))
        return true;
    const QString path = BookFile::path();
    switch (lock.failure()) {
    case BookLock::Failure::FolderReadOnly:
        BookFile::setOpenReadOnly(true);
        return true;
    case BookLock::Failure::HeldOnAnotherMachine:
        if (MessageBox::confirmTakeOverLock(parent, error) && lock.takeOver(&error))
            return true;
        if (lock.failure() == BookLock::Failure::HeldOnAnotherMachine)
            return false;
        return lockBook(lock, parent);
    case BookLock::Failure::HeldByAnother:
        MessageBox::critical(
            parent, u"Quenta 已在运行"_s,
            u"%1，不能再打开一次。\n\n请切换到已经打开的 Quenta 窗口。\n\n数据库位置：%2"_s.arg(
                error, path));
        return false;
    case BookLock::Failure::None:
    case BookLock::Failure::Other:
        break;
    }
    MessageBox::critical(parent, u"无法锁定数据库"_s,
                         u"%1。\n\nQuenta 打开数据库之前要在它旁边建立一个锁文件，以免两个程序"
                         u"同时使用它。\n\n数据库位置：%2"_s.arg(error, path));
    return false;
}

void Startup::proveWhenShown(ContentView *window)
{
    struct Proof
    {
        std::atomic_bool cancel = false;
        BookProof::Verdict verdict;
        bool read = false;
    };
    auto proof = std::make_shared<Proof>();
    QThread *worker = QThread::create([proof] {
        QString error;
        proof->read = BookCare::verify({}, &proof->verdict, &error, &proof->cancel);
        // A book that cannot be read through says so where the reads do.
        if (!proof->read && !error.isEmpty())
            std::fprintf(stderr, "quenta: %s\n", error.toUtf8().constData());
    });
    QObject::connect(worker, &QThread::finished, window, [window, proof] {
        if (proof->read && !proof->verdict.whole)
            window->showBrokenRecord(proof->verdict.problem);
    });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    // The window going stops the proof between two reads and waits for it.
    QObject::connect(window, &QObject::destroyed, worker, [worker, proof] {
        proof->cancel = true;
        worker->wait();
    });
    QTimer::singleShot(1500, worker, [worker] { worker->start(QThread::LowPriority); });
}

BookMaintenance *Startup::checkAndBackUpWhenShown(QWidget *window)
{
    auto *maintenance = new BookMaintenance(window);
    QObject::connect(
        maintenance, &BookMaintenance::damageFound, window,
        [window](const QString &damage) { tellDamage(window, damage, BookFile::path()); });
    QObject::connect(
        maintenance, &BookMaintenance::backupFailed, window, [window](const QString &error) {
            MessageBox::warning(
                window, u"自动备份失败"_s,
                u"自动备份没有成功：%1\n\nQuenta 照常工作；请用“文件 → 备份数据库…”另外备份。"_s
                    .arg(error));
        });
    // After the first paint, and on a worker: the check and the copy of a large book
    // take seconds, which the window must not wait for.
    QTimer::singleShot(1000, maintenance, [maintenance] {
        BackupService::removePartialFiles();
        maintenance->checkAndBackUpIfDue();
    });
    return maintenance;
}

bool Startup::quitWhenShownRequested(const QApplication &app)
{
    return app.arguments().contains(u"--quit-when-shown"_s);
}

void Startup::quitWhenShown(QWidget *window, const QElapsedTimer &sinceStart)
{
    new FirstPaintWatcher(window, sinceStart);
}

bool Startup::chooseRememberedBook(QWidget *parent)
{
    if (!qEnvironmentVariable("QUENTA_BOOK").trimmed().isEmpty())
        return true;
    const QString uri = SharedBookAddresses::remembered();
    if (uri.isEmpty())
        return true;
    QString password;
    for (;;) {
        QString error;
        bool passwordFailure = false;
        if (SharedBookAddresses::check(uri, password, &error, &passwordFailure)) {
            qputenv("QUENTA_BOOK", uri.toLocal8Bit());
            SharedBookAddresses::usePassword(password);
            return true;
        }
        const std::optional<SharedBookAddress> address = SharedBookAddress::fromUri(uri);
        const MessageBox::UnreachableBookChoice choice = MessageBox::askUnreachableBook(
            parent,
            u"上次使用的共享账本 %1 现在打不开。\n\n%2\n\n"
            u"选“使用本机账本”会打开这台电脑上的账本，以后启动也是这样；"
            u"可以再用“文件 → 打开共享账本…”连接。"_s.arg(
                address ? u"%1@%2:%3/%4"_s.arg(address->user, address->host)
                              .arg(address->port)
                              .arg(address->database)
                        : uri,
                error),
            passwordFailure);
        if (choice == MessageBox::UnreachableBookChoice::UseLocalBook) {
            SharedBookAddresses::forget();
            // The file the window was on before the shared book, as 使用本机账本 in the
            // menu goes back to it; else the one in the documents folder.
            if (const QString local = SharedBookAddresses::localBook(); !local.isEmpty())
                qputenv("QUENTA_BOOK", QFile::encodeName(local));
            return true;
        }
        if (choice == MessageBox::UnreachableBookChoice::Quit)
            return false;
        if (passwordFailure) {
            bool entered = false;
            const QString given = QInputDialog::getText(
                parent, u"共享账本的密码"_s,
                u"%1密码（只用于这次启动，不会保存）："_s.arg(
                    address && !address->user.isEmpty() ? u"用户 %1 的"_s.arg(address->user)
                                                        : QString()),
                QLineEdit::Password, {}, &entered);
            if (entered)
                password = given;
        }
    }
}

void Startup::requestRestart(const QString &book, const QString &password)
{
    Restart &next = restart();
    next.requested = true;
    next.program = QCoreApplication::applicationFilePath();
    // The options the window was started with, --book (already taken out) aside.
    next.arguments = QCoreApplication::arguments().mid(1);
    next.environment = QProcessEnvironment::systemEnvironment();
    // The book chosen now, not the one this program was started on.
    next.environment.remove(u"QUENTA_BOOK"_s);
    if (!book.isEmpty())
        next.arguments << u"--book"_s << book;
    if (!password.isEmpty())
        next.environment.insert(u"PGPASSWORD"_s, password);
}

void Startup::cancelRestart()
{
    restart() = Restart();
}

std::optional<QStringList> Startup::requestedRestart()
{
    if (!restart().requested)
        return std::nullopt;
    return restart().arguments;
}

void Startup::restartIfRequested()
{
    Restart &next = restart();
    if (!next.requested)
        return;
    next.requested = false;
    QProcess process;
    process.setProgram(next.program);
    process.setArguments(next.arguments);
    process.setProcessEnvironment(next.environment);
    if (!process.startDetached())
        std::fprintf(stderr, "quenta: could not start again: %s\n",
                     qUtf8Printable(process.errorString()));
}
