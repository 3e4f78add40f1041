// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sharedinstance.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>

// What checkBook() or checkRestoreFile() found in a file they took.
struct RestoreCheck
{
    // The receipts the lists would show (not marked deleted), and the earliest and latest
    // of their receipt dates as stored ("yyyy-MM-dd HH:mm:ss"), empty when there are none.
    qint64 receiptCount = 0;
    QString earliestReceiptDate;
    QString latestReceiptDate;
    // checkRestoreFile(): the numbers of the receipts the book shows and the file does
    // not, which a restore takes away.
    QStringList lostReceiptNumbers;

    // "将失去 5 张收据：No.0000006 … No.0000010", runs of numbers shortened; empty when
    // nothing is lost.
    QString lossText() const;
};

// Copies the receipt book to backup files and puts a backup back in its place. Used by
// the menu and the command line; automatic backups go to backups/ beside the book. No
// operation ever stops the program: each answers false with the reason in Chinese, and
// the caller tells the user. One instance per process, for the count of saves.
class BackupService
{
public:
    // Automatic backups are made after this many saved receipts, and this many of them
    // are kept.
    static constexpr int receiptsPerBackup = 50;
    static constexpr int keptAutomaticBackups = 30;

    static BackupService &shared();

    // The name offered for a backup the user makes: Tovalin-yyyyMMdd-HHmmss.db.
    static QString defaultBackupName(const QDateTime &now);
    // backups/ beside the database file; empty when there is no place for the book.
    static QString backupsFolder();

    // Writes a copy of the book to `target` (a file there is replaced) through a
    // temporary file beside it, so that `target` is either the old file or a complete
    // copy. Refuses the database file itself and its journal.
    static bool backup(const QString &target, QString *error = nullptr);

    // At start: makes an automatic backup when none in backups/ was made within a day of
    // now. True when nothing went wrong (one was made, or none was due). A damaged book is
    // not backed up, so that its copies do not push the last good backups out.
    static bool backupIfDue(QString *error = nullptr);
    // After each saved receipt: every receiptsPerBackup-th save of this process makes an
    // automatic backup. True when nothing went wrong.
    bool noteSavedReceipt(QString *error = nullptr);
    // Counts a saved receipt and answers whether an automatic backup is due after it (every
    // receiptsPerBackup-th save of this process), for a caller that makes it elsewhere.
    bool countSavedReceipt();

    // backupIfDue() and an automatic backup now, for a worker thread: they read the book
    // at `bookPath` through a connection of their own, opened for reading only, and touch
    // no shared connection or store. The caller has made sure the book may be backed up
    // (not damaged, nothing unknown in it). `cancel` stops the copy between two steps.
    static bool backupIfDueFrom(const QString &bookPath, QString *error = nullptr,
                                const std::atomic_bool *cancel = nullptr);
    static bool backUpFrom(const QString &bookPath, QString *error = nullptr,
                           const std::atomic_bool *cancel = nullptr);
    // Why a book with these findings (SQLiteHelper's damage() and unknown objects) is not
    // backed up automatically, in Chinese; empty when it may be.
    static QString automaticBackupRefusal(const QString &damage, const QStringList &unknownObjects);

    // Opens the file for reading only (never creating it) and checks that it is an
    // undamaged receipt book this program can use: SQLite's integrity check passes, every
    // table and column of the template is there (but for those the upgrade adds to a book
    // of an older version), nothing else is (no trigger, view or other table: they are
    // named), and no newer program wrote it.
    static bool checkBook(const QString &path, RestoreCheck *found = nullptr,
                          QString *error = nullptr);
    // checkBook() for a file offered for restoring, which must not be the open database.
    static bool checkRestoreFile(const QString &path, RestoreCheck *found,
                                 QString *error = nullptr);
    // Replaces the book with the file at `path`, after an automatic backup of the book as
    // it is; a book SQLite cannot read whole is kept beside it instead, as
    // Tovalin.db.damaged-yyyyMMdd-HHmmss, and not backed up. A book of an older version
    // is brought up to date in the copy. The restored book numbers on after the highest
    // number the replaced one ever issued, and its history records the restore. Every
    // shared store then loads from the restored book (the form starts a new receipt, the
    // selection is cleared). The book is left untouched unless this answers true.
    static bool restore(const QString &path, QString *error = nullptr);

    // Removes what a backup, restore or automatic backup cut short left beside the book
    // and in backups/: only hidden names of this program's own partial copies, and only
    // while no other program is writing one there.
    static void removePartialFiles();

private:
    friend class SharedInstance<BackupService>;
    BackupService() = default;

    // `spare` (a file being restored) is never removed to make room. `made` is set to
    // the new backup's path.
    // `bookPath` empty: from the shared connection, else as backUpFrom().
    static bool makeAutomaticBackup(QString *error, const QString &spare = QString(),
                                    QString *made = nullptr, const QString &bookPath = QString(),
                                    const std::atomic_bool *cancel = nullptr);
    // backup(), from the shared connection when `bookPath` is empty.
    static bool copyBook(const QString &bookPath, const QString &target, QString *error,
                         const std::atomic_bool *cancel);

    qint64 m_savedReceipts = 0;
};
