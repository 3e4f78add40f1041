// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class BookLock;
class BookMaintenance;
class ContentView;
class QApplication;
class QCoreApplication;
class QElapsedTimer;
class QWidget;

// What the entry does before the window: the program's identity and font, and the
// check that the database can be used at all.
namespace Startup {

// Name, organisation and window icon; the Noto Sans CJK SC font when it is installed,
// so Chinese text does not fall back to whatever the desktop picks glyph by glyph; the
// Chinese locale and Qt's own Chinese translations for its dialogs.
void setUpApplication(QApplication &app);
// Qt's Chinese catalog for its own dialogs (the file and print dialogs, the standard
// buttons), and what that catalog lacks (QtChineseTexts); a missing catalog is warned of.
void installTranslations(QCoreApplication &app);

// When neither --book nor QUENTA_BOOK names a book, the window opens the shared book
// remembered from 打开共享账本… (the commands never do). When that server cannot be reached
// it says so and offers 重试, a password when the server wants one, and 使用本机账本, which
// forgets the shared book. False when the user chose to quit instead.
bool chooseRememberedBook(QWidget *parent);

// Asks for the program to start again on `book` (empty: the book on this computer) once
// the window has closed and the book's lock is let go; `password`, when given, goes to
// that program alone, in its environment.
void requestRestart(const QString &book, const QString &password);
void cancelRestart();
// The arguments of the program requestRestart() asked for; nothing when none is asked for.
std::optional<QStringList> requestedRestart();
// Starts the program asked for by requestRestart(), if any.
void restartIfRequested();
// Calls restartIfRequested() when it goes: the entry holds one from before it takes the
// book's lock, so the program on the other book starts once the lock is let go.
struct RestartWhenDone
{
    ~RestartWhenDone() { restartIfRequested(); }
};

// Puts the database in place and opens it. When it cannot be used (no template, failed
// copy, a file that is not a database) says so, and where, in a message box and answers
// false: the program must not start on a database it cannot save to.
// A database file that can only be read is not refused (the receipts can still be
// looked at and printed) but the user is told at once that nothing can be saved.
bool checkDatabase(QWidget *parent);

// Proves the book (BookCare::verify) on a worker once the window shows, and shows what
// does not agree as the window's red line. The worker stops when the window goes.
void proveWhenShown(ContentView *window);

// Takes the book's lock. In a folder where nothing can be written no lock is needed: the
// book is then opened for reading only (checkDatabase tells the user) and the answer is
// true. When another running Quenta holds it, or the lock fails otherwise, says so (what
// failed, and where the book is) and answers false: the program must exit.
bool lockBook(BookLock &lock, QWidget *parent);

// Shortly after the window is shown: removes the partial copies a cut-short backup or
// restore left, then, on a worker thread, the quick check the start left for later and an
// automatic backup when the last is over a day old. Damage is told as at the start (the
// book is only read from then on), a failed backup likewise; neither stops anything.
// Answers the object doing it, owned by the window.
BookMaintenance *checkAndBackUpWhenShown(QWidget *window);

// True when the command line holds --quit-when-shown: the start-up benchmark's way of
// timing the real program from its start to a window on screen.
bool quitWhenShownRequested(const QApplication &app);

// Once window has been painted for the first time and the events that painting queued
// are done, writes "quenta: window shown after N ms" (N measured by sinceStart) on
// stderr and quits the event loop with status 0.
void quitWhenShown(QWidget *window, const QElapsedTimer &sinceStart);

} // namespace Startup
