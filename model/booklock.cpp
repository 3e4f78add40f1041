// SPDX-License-Identifier: GPL-3.0-or-later
#include "booklock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

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
    if (m_lock->tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    switch (m_lock->error()) {
    case QLockFile::LockFailedError:
        m_lock->getLockInfo(&pid, &host, &application);
        m_error = u"Quenta 已经在使用这个数据库（进程 %1）"_s.arg(pid);
        break;
    case QLockFile::PermissionError:
        m_error = u"无法在数据库所在的文件夹中建立锁文件：%1"_s.arg(m_path);
        break;
    default:
        m_error = u"无法锁定数据库：%1"_s.arg(m_path);
        break;
    }
    return false;
}

bool BookLock::isLocked() const
{
    return m_lock->isLocked();
}
