// SPDX-License-Identifier: GPL-3.0-or-later
#include "booklock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryFile>

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

} // namespace

BookLock::BookLock(const QString &databasePath)
    : m_path(lockPathFor(databasePath))
    , m_lock(std::make_unique<QLockFile>(m_path))
{
    // Held for as long as the window is open: age alone never makes it stale. A holder
    // that is no longer running does.
    m_lock->setStaleLockTime(0);
}

BookLock::~BookLock() = default;

bool BookLock::tryLock()
{
    if (m_lock->isLocked())
        return true;
    if (m_lock->tryLock(0)) {
        m_failure = Failure::None;
        m_error.clear();
        return true;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (m_lock->error() == QLockFile::LockFailedError) {
        m_lock->getLockInfo(&pid, &host, &application);
        m_failure = Failure::HeldByAnother;
        m_error = u"Quenta 已经在使用这个数据库（进程 %1）"_s.arg(pid);
    } else if (!isWritableFolder(folder)) {
        m_failure = Failure::FolderReadOnly;
        m_error = u"数据库所在的文件夹不能写入：%1"_s.arg(folder);
    } else if (m_lock->error() == QLockFile::PermissionError) {
        m_failure = Failure::Other;
        m_error = u"无法在数据库所在的文件夹中建立锁文件：%1"_s.arg(m_path);
    } else {
        m_failure = Failure::Other;
        m_error = u"无法锁定数据库：%1"_s.arg(m_path);
    }
    return false;
}

bool BookLock::isLocked() const
{
    return m_lock->isLocked();
}
