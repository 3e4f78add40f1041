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

    // False when another running program holds the book (or the lock file cannot be
    // made: a folder that cannot be written), with the reason in error().
    bool tryLock();
    bool isLocked() const;
    QString error() const { return m_error; }
    QString lockFilePath() const { return m_path; }

private:
    QString m_path;
    QString m_error;
    std::unique_ptr<QLockFile> m_lock;
};
