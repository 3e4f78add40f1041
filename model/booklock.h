// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>

class QLockFile;

// Keeps a second copy of the program off a receipt book that one copy has open: a lock
// file beside the database, held while the window is open or a command that writes
// runs. Two paths to one file (a link, a relative path) take the same lock. A lock left
// behind by a program that crashed is taken over; one held by a running program, however
// long it has been held, is not.
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
        // Nothing can be written in the book's folder (a read-only mount, an archive
        // disc): no program can change the book there, so it can be read without a lock.
        FolderReadOnly,
        // Anything else (the lock file cannot be made or read for another reason).
        Other,
    };

    // False when the lock is not taken, with failure() and the reason in error().
    bool tryLock();
    bool isLocked() const;
    Failure failure() const { return m_failure; }
    QString error() const { return m_error; }
    QString lockFilePath() const { return m_path; }

private:
    QString m_path;
    QString m_error;
    Failure m_failure = Failure::None;
    std::unique_ptr<QLockFile> m_lock;
};
