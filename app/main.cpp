// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookfile.h"
#include "booklock.h"
#include "clock.h"
#include "commandline.h"
#include "connectionbanner.h"
#include "contentview.h"
#include "desklistener.h"
#include "searchindexstatus.h"
#include "startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    // First of all, so --quit-when-shown counts everything the program does itself.
    QElapsedTimer sinceStart;
    sinceStart.start();
    CommandLine::guardStandardStreams();
    // --book names the book for the window and every command alike.
    if (const std::optional<int> refused = CommandLine::takeBookOption(argc, argv))
        return *refused;
    Clock::cacheLocalTimeZone();
    QCoreApplication::setApplicationName(u"Quenta"_s);
    QCoreApplication::setOrganizationName(u"Quenta"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENTA_VERSION));

    // A command runs without a display: no QApplication, no window. One that draws pages
    // needs the fonts of a QGuiApplication, which the offscreen platform gives without a
    // display, unless the user chose a platform.
    if (CommandLine::isCommand(argc, argv)) {
        if (CommandLine::drawsPages(argc, argv)) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            QGuiApplication app(argc, argv);
            return CommandLine::run(app, argc, argv);
        }
        QCoreApplication app(argc, argv);
        return CommandLine::run(app, argc, argv);
    }

    QApplication app(argc, argv);
    Startup::setUpApplication(app);
    // Without a book named, the window opens the shared book chosen last, if any.
    if (!Startup::chooseRememberedBook(nullptr))
        return CommandLine::Failed;
    // Goes last, after the window and the book's lock: 打开共享账本… and 使用本机账本 ask
    // for a program of its own on the other book.
    const Startup::RestartWhenDone restart;
    // One running copy per receipt book, taken before anything is written to it.
    std::unique_ptr<BookLock> lock;
    // A shared book has no file to lock: the server keeps the desks apart.
    if (BookFile::isAvailable() && BookFile::isHeldByOneProgram()) {
        lock = std::make_unique<BookLock>(BookFile::path());
        if (!Startup::lockBook(*lock, nullptr))
            return lock->failure() == BookLock::Failure::HeldByAnother
                    || lock->failure() == BookLock::Failure::HeldOnAnotherMachine
                ? CommandLine::BookInUse
                : CommandLine::Failed;
    }
    if (!Startup::checkDatabase(nullptr))
        return CommandLine::Failed;
    ContentView window;
    window.show();
    // A desk of a shared book hears what the others write.
    if (BookFile::isSharedByDesks()) {
        DeskListener &listener = DeskListener::shared();
        new ConnectionBanner(&window, listener);
        listener.start(BookFile::path());
    }
    if (Startup::quitWhenShownRequested(app))
        Startup::quitWhenShown(&window, sinceStart);
    else {
        Startup::checkAndBackUpWhenShown(&window);
        Startup::proveWhenShown(&window);
    }
    // An older book's search index is built behind the window; a book only read keeps
    // searching without one.
    if (!BookFile::opensReadOnly())
        QTimer::singleShot(0, &window, [] { SearchIndexStatus::shared().start(BookFile::path()); });
    return app.exec();
}
