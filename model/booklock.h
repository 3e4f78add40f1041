// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>

class QLockFile;

// Keeps a second copy of the program off a receipt book that one copy has open: a lock
// file beside the database, held while the window is open or a command that writes
// runs, and a second one in the user's runtime folder named after the file itself (its
// device and inode), so that every path to one book meets a lock the other holds: a
// link, a relative path, a hard link in another folder. A lock left behind by a program
// that crashed is taken over, and so is one that names no holder (empty or unreadable
// after a power cut); one held by a running program, however long it has been held, is
// not. One written on another machine (a book on a USB stick) cannot be checked: it is
// taken over only when the user says so (takeOver()).
class BookLock
{
public:
    explicit BookLock(const QString &databasePath);
    ~BookLock();
    BookLock(const BookLock &) = delete;
    BookLock &operator=(const BookLock &) = delete;

    // Why the lock could not be taken.
    enum class Failure {
        None,
        // Another running program holds the book.
        HeldByAnother,
        // The lock was written on another machine (holderMachine()), whose programs this
        // one cannot see: it may be held or left behind.
        HeldOnAnotherMachine,
        // Nothing can be written in the book's folder (a read-only mount, an archive
        // disc): no program can change the book there, so it can be read without a lock.
        FolderReadOnly,
        // Anything else (the lock file cannot be made or read for another reason).
        Other,
    };

    // False when the lock is not taken, with the reason; failure() tells its kind.
    bool tryLock(QString *error = nullptr);
    // After HeldOnAnotherMachine, when the user has said that no program there uses the
    // book: removes that lock and tries again.
    bool takeOver(QString *error = nullptr);
    bool isLocked() const;
    Failure failure() const { return m_failure; }
    QString lockFilePath() const { return m_path; }
    // The machine named in the lock that could not be taken.
    QString holderMachine() const { return m_holderMachine; }

private:
    bool take(QLockFile &lock);
    bool takeIdentityLock();

    QString m_path;
    QString m_databasePath;
    QString m_error;
    QString m_holderMachine;
    Failure m_failure = Failure::None;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLockFile> m_identityLock;
};
