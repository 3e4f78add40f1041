// SPDX-License-Identifier: GPL-3.0-or-later
#include "outputfile.h"

#include "failure.h"
#include "sqlitehelper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The path with the links of its folder resolved, also for a file that does not exist yet,
// so that two spellings of one file compare equal. The last part is kept as it is: a link
// there is the file asked about.
QString resolvedPath(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir(folder.isEmpty() ? info.absolutePath() : folder).filePath(info.fileName());
}

// The book and what SQLite keeps beside it: a file written over the journal would be taken
// for an unfinished transaction of the book. `found` is what the target is, links followed
// (null when nothing is there).
bool isPartOfBook(const QString &target, const struct stat *found)
{
    // Where the book is, without making it there (dbURL() copies the template when the
    // file is missing).
    const QString documents = SQLiteHelper::documentsDirectory();
    if (documents.isEmpty())
        return false;
    const QString book = QDir(documents).filePath(SQLiteHelper::dbName() + u".db"_s);
    const QString resolvedTarget = resolvedPath(target);
    // SQLite keeps the journal beside the file a link to the book names.
    const QString linkedBook = QFileInfo(book).canonicalFilePath();
    for (const QString &suffix : {QString(), u"-journal"_s, u"-wal"_s, u"-shm"_s}) {
        if (resolvedTarget == resolvedPath(book + suffix)
            || (!linkedBook.isEmpty() && resolvedTarget == linkedBook + suffix))
            return true;
        struct stat part = {};
        if (found && ::stat(QFile::encodeName(book + suffix).constData(), &part) == 0
            && part.st_dev == found->st_dev && part.st_ino == found->st_ino)
            return true;
    }
    return false;
}

// Whether the target may be a file of the book: only the book's own writes name it.
enum class Book { Refused, Allowed };

// The target as it is now: nothing there, or a regular file that is no part of the book.
QString targetProblem(const QString &target, Book book = Book::Refused)
{
    if (target.isEmpty())
        return u"没有指定文件名"_s;
    const QByteArray encoded = QFile::encodeName(target);
    struct stat found = {};
    const bool exists = ::lstat(encoded.constData(), &found) == 0;
    // A missing folder is told when the file is made.
    if (!exists && errno != ENOENT && errno != ENOTDIR)
        return u"无法访问 %1：%2"_s.arg(native(target), qt_error_string(errno));
    struct stat followed = {};
    const bool reached = exists && ::stat(encoded.constData(), &followed) == 0;
    if (book == Book::Refused && isPartOfBook(target, reached ? &followed : nullptr))
        return u"不能写到正在使用的数据库文件上：%1"_s.arg(native(target));
    if (!exists)
        return {};
    if (S_ISLNK(found.st_mode))
        return u"%1 是一个链接，不能写到链接上：请指定一个普通文件"_s.arg(native(target));
    if (S_ISDIR(found.st_mode))
        return u"%1 是一个文件夹，请指定文件的名称"_s.arg(native(target));
    if (!S_ISREG(found.st_mode))
        return u"%1 不是普通文件（设备、管道等），不能写到它上面"_s.arg(native(target));
    return {};
}

// A new empty file beside target under a name no other file has, made with O_EXCL (which
// follows no link) as any new file is (so the umask applies); empty with the reason when
// none can be made.
QString createScratchBeside(const QString &target, QString *error)
{
    const QFileInfo info(target);
    if (!info.absoluteDir().exists()) {
        fail(error, u"文件夹不存在：%1"_s.arg(native(info.absolutePath())));
        return {};
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString candidate = info.absoluteDir().filePath(
            u".%1.%2.partial"_s.arg(info.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0')));
        const int descriptor = ::open(QFile::encodeName(candidate).constData(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            ::close(descriptor);
            return candidate;
        }
        if (errno != EEXIST) {
            fail(error,
                 u"无法在 %1 建立文件：%2"_s.arg(native(info.absolutePath()),
                                                 qt_error_string(errno)));
            return {};
        }
    }
    fail(error, u"无法在 %1 建立临时文件"_s.arg(native(info.absolutePath())));
    return {};
}

// Flushes a written file to the disk (through no link): false when it is not a regular
// file any more or the disk does not take it.
bool syncScratch(const QString &scratch, QString *error)
{
    const int descriptor
        = ::open(QFile::encodeName(scratch).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return fail(error, qt_error_string(errno));
    struct stat found = {};
    bool ok = ::fstat(descriptor, &found) == 0 && S_ISREG(found.st_mode);
    if (!ok)
        fail(error, u"临时文件已被替换"_s);
    else if (::fsync(descriptor) != 0 && errno != EINVAL) {
        fail(error, qt_error_string(errno));
        ok = false;
    }
    ::close(descriptor);
    return ok;
}

void syncFolder(const QString &folder)
{
    const int descriptor
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

} // namespace

QString OutputFile::problem(const QString &target)
{
    return targetProblem(target);
}

namespace {

bool writeBeside(const QString &target, Book book, const OutputFile::Write &write,
                 const std::function<bool(QString *error)> &beforeReplace, QString *error)
{
    const QString refused = targetProblem(target, book);
    if (!refused.isEmpty())
        return fail(error, refused);
    const QFileInfo info(target);
    // As QSaveFile does: a file the user may not change is not replaced. The book is SQLite's
    // to judge: a restore puts a backup in place of a book opened for reading only.
    if (book == Book::Refused && info.exists() && !info.isWritable())
        return fail(error, u"文件不可写"_s);
    // Shared while the hidden file is there: a start that removes the partial files a
    // killed program left (BackupService::removePartialFiles) takes it exclusively, and so
    // never removes this one.
    const int folder = ::open(QFile::encodeName(info.absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0)
        ::flock(folder, LOCK_SH);
    const auto unlock = qScopeGuard([folder] {
        if (folder >= 0)
            ::close(folder);
    });
    const QString scratch = createScratchBeside(target, error);
    if (scratch.isEmpty())
        return false;
    bool written = write(scratch, error) && syncScratch(scratch, error);
    if (written) {
        // Looked at again: the target may have been replaced while the file was written.
        const QString late = targetProblem(target, book);
        if (!late.isEmpty())
            written = fail(error, late);
    }
    if (written && beforeReplace)
        written = beforeReplace(error);
    if (written) {
        if (info.exists())
            QFile::setPermissions(scratch, QFile::permissions(target));
        // rename() replaces the target in one step (a link there would be replaced itself,
        // never followed), which QFile::rename does not.
        if (std::rename(QFile::encodeName(scratch).constData(),
                        QFile::encodeName(target).constData())
            != 0)
            written = fail(error,
                           u"无法把文件放到 %1：%2"_s.arg(native(target), qt_error_string(errno)));
    }
    if (!written) {
        QFile::remove(scratch);
        // SQLite's journal of a copy cut short.
        QFile::remove(scratch + u"-journal"_s);
    } else {
        syncFolder(info.absolutePath());
    }
    return written;
}

} // namespace

bool OutputFile::writeReplacing(const QString &target, const Write &write, QString *error)
{
    return writeBeside(target, Book::Refused, write, nullptr, error);
}

bool OutputFile::writeBook(const QString &bookPath, const Write &write,
                           const std::function<bool(QString *error)> &beforeReplace, QString *error)
{
    return writeBeside(bookPath, Book::Allowed, write, beforeReplace, error);
}
