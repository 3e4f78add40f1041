// SPDX-License-Identifier: GPL-3.0-or-later
#include "booklock.h"

#include "failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The lock beside the file the path resolves to, so every way of naming the book meets
// the same lock.
QString lockPathFor(const QString &databasePath)
{
    const QFileInfo file(databasePath);
    const QString canonicalFile = file.canonicalFilePath();
    if (!canonicalFile.isEmpty())
        return canonicalFile + u".lock"_s;
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return QDir(folder.isEmpty() ? file.absolutePath() : folder).filePath(file.fileName())
        + u".lock"_s;
}

// Tried rather than asked: access() answers yes for root whatever the folder's mode.
bool isWritableFolder(const QString &folder)
{
    QTemporaryFile probe(folder + u"/.quenta-write-test-XXXXXX"_s);
    return probe.open();
}

// The user's runtime folder ($XDG_RUNTIME_DIR), else /tmp/quenta-UID made for this user
// alone; empty with the reason when neither is usable. Not QStandardPaths: it falls back
// to a folder of its own after a warning on the console.
QString runtimeFolder(QString *error)
{
    const QString given = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!given.isEmpty() && QFileInfo(given).isDir())
        return given;
    const QString folder = u"/tmp/quenta-%1"_s.arg(::getuid());
    const QByteArray encoded = QFile::encodeName(folder);
    ::mkdir(encoded.constData(), 0700);
    struct stat found = {};
    // Another user's folder of that name could hide or take the lock: not used.
    if (::lstat(encoded.constData(), &found) != 0 || !S_ISDIR(found.st_mode)
        || found.st_uid != ::getuid() || (found.st_mode & 0077) != 0) {
        *error = u"无法使用锁文件夹 %1（它不属于当前用户，或者其他用户也能访问）"_s.arg(folder);
        return {};
    }
    return folder;
}

} // namespace

BookLock::BookLock(const QString &databasePath)
    : m_path(lockPathFor(databasePath))
    , m_databasePath(databasePath)
    , m_lock(std::make_unique<QLockFile>(m_path))
{
    // Held for as long as the window is open: age alone never makes it stale. A holder
    // that is no longer running does.
    m_lock->setStaleLockTime(0);
}

BookLock::~BookLock() = default;

// Takes `lock`, or sets the failure: QLockFile itself never takes over a lock file it
// cannot read, nor one from another machine, whatever its age.
bool BookLock::take(QLockFile &lock)
{
    if (lock.tryLock(0))
        return true;
    m_holderMachine.clear();
    const QString path = lock.fileName();
    const QString folder = QFileInfo(path).absolutePath();
    if (lock.error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        if (!lock.getLockInfo(&pid, &host, &application)) {
            // It names no holder: no program can hold it, except one in the moment
            // between making it and writing in it, which keeps it locked (flock) meanwhile
            // and so is not removed here. One remover at a time, as QLockFile does, so
            // that a second one does not remove the lock the first has just taken.
            QLockFile removal(path + u".rmlock"_s);
            if (removal.tryLock(0) && !lock.getLockInfo(&pid, &host, &application)
                && lock.removeStaleLockFile() && lock.tryLock(0))
                return true;
            lock.getLockInfo(&pid, &host, &application);
        }
        if (!host.isEmpty() && host != QSysInfo::machineHostName()) {
            m_failure = Failure::HeldOnAnotherMachine;
            m_holderMachine = host;
            m_error = u"数据库已被另一台计算机（%1）上的 Quenta 锁定，锁文件：%2"_s.arg(
                host, QDir::toNativeSeparators(path));
            return false;
        }
        m_failure = Failure::HeldByAnother;
        m_error = u"Quenta 已经在使用这个数据库（进程 %1）"_s.arg(pid);
    } else if (!isWritableFolder(folder)) {
        m_failure = Failure::FolderReadOnly;
        m_error = u"数据库所在的文件夹不能写入：%1"_s.arg(folder);
    } else if (lock.error() == QLockFile::PermissionError) {
        m_failure = Failure::Other;
        m_error = u"无法在数据库所在的文件夹中建立锁文件：%1"_s.arg(path);
    } else {
        m_failure = Failure::Other;
        m_error = u"无法锁定数据库：%1"_s.arg(path);
    }
    return false;
}

// The lock named after the book's device and inode; taken when the book exists (a book
// not made yet has no other name than its path).
bool BookLock::takeIdentityLock()
{
    struct stat book = {};
    if (::stat(QFile::encodeName(m_databasePath).constData(), &book) != 0)
        return true;
    QString error;
    const QString folder = runtimeFolder(&error);
    if (folder.isEmpty()) {
        m_failure = Failure::Other;
        m_error = error;
        return false;
    }
    const QString name
        = u"quenta-book-%1-%2.lock"_s.arg(qulonglong(book.st_dev)).arg(qulonglong(book.st_ino));
    m_identityLock = std::make_unique<QLockFile>(QDir(folder).filePath(name));
    m_identityLock->setStaleLockTime(0);
    if (take(*m_identityLock))
        return true;
    // A runtime folder that cannot be written says nothing about the book's own folder:
    // the book must not be taken for one on a read-only disc.
    if (m_failure != Failure::HeldByAnother) {
        m_failure = Failure::Other;
        m_error = u"无法锁定数据库：%1"_s.arg(m_identityLock->fileName());
    }
    m_identityLock.reset();
    return false;
}

bool BookLock::tryLock(QString *error)
{
    if (m_lock->isLocked())
        return true;
    if (!take(*m_lock))
        return fail(error, m_error);
    if (!takeIdentityLock()) {
        m_lock->unlock();
        return fail(error, m_error);
    }
    m_failure = Failure::None;
    m_error.clear();
    return true;
}

bool BookLock::takeOver(QString *error)
{
    if (m_failure == Failure::HeldOnAnotherMachine)
        m_lock->removeStaleLockFile();
    return tryLock(error);
}

bool BookLock::isLocked() const
{
    return m_lock->isLocked();
}
