// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupservice.h"

#include "bookcontents.h"
#include "bookproof.h"
#include "clock.h"
#include "database.h"
#include "databaseerror.h"
#include "failure.h"
#include "outputfile.h"
#include "schemaupgrade.h"
#include "sqlitehelper.h"
#include "stores.h"
#include "transaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

template<typename Result>
Result failWith(QString *error, const QString &message, Result result)
{
    if (error)
        *error = message;
    return result;
}

// The path with links and "." resolved, also for a file that does not exist yet (its
// folder is resolved), so that two spellings of one file compare equal.
QString resolvedPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        return info.absoluteFilePath();
    return QDir(folder).filePath(info.fileName());
}

// The database file and the files SQLite keeps beside it: a copy written over the
// journal would be taken for an unfinished transaction of the book.
bool isPartOfDatabase(const QString &path)
{
    const QString databasePath = SQLiteHelper::shared().dbURL();
    if (databasePath.isEmpty())
        return false;
    const QString resolved = resolvedPath(path);
    for (const QString &suffix : {QString(), u"-journal"_s, u"-wal"_s, u"-shm"_s}) {
        if (resolved == resolvedPath(databasePath + suffix))
            return true;
    }
    return false;
}

// The hidden names OutputFile makes, with the journal SQLite writes beside a copy in
// progress.
bool isPartialName(const QString &fileName)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(u"\\..+\\.[0-9a-f]{8}\\.partial(-journal)?"_s));
    return pattern.match(fileName).hasMatch();
}

// A flock on a folder: shared while a partial copy is written there, exclusive while the
// partial copies there are removed, so that a start never removes the copy another
// program is writing. Where the lock cannot be had, nothing is removed.
class FolderLock
{
public:
    FolderLock(const QString &folder, bool exclusive)
    {
#ifdef Q_OS_UNIX
        m_descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        if (m_descriptor >= 0
            && ::flock(m_descriptor, exclusive ? LOCK_EX | LOCK_NB : LOCK_SH) == 0)
            m_held = true;
#else
        Q_UNUSED(folder);
        Q_UNUSED(exclusive);
#endif
    }
    ~FolderLock()
    {
#ifdef Q_OS_UNIX
        if (m_descriptor >= 0)
            ::close(m_descriptor);
#endif
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    bool isHeld() const
    {
        return m_held;
    }

private:
    int m_descriptor = -1;
    bool m_held = false;
};

void removePartialFilesIn(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return;
    const FolderLock lock(folder, true);
    if (!lock.isHeld())
        return;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QFileInfo info(dir.filePath(name));
        if (isPartialName(name) && info.isFile() && !info.isSymLink()
            && !QFile::remove(info.filePath()))
            writeDatabaseDiagnostic(u"Could not remove the partial file "_s + info.filePath());
    }
}

// --- automatic backups ---------------------------------------------------------

const QString nameTimeFormat = u"yyyyMMdd-HHmmss"_s;

// Seconds a copy on a worker thread waits for the book's lock before it gives up.
constexpr double backgroundBusyInterval = 10.0;

// Where an automatic backup stands among the others: when it was made, as its file's
// modification time records it (set when it is made, never earlier than the one before:
// see makeAutomaticBackup), then the moment in its name and the sequence number of a
// second backup made within the same second. Not by the name alone: a name carries the
// clock of its moment, which may have been set back or ahead since.
struct AutomaticBackup
{
    QString fileName;
    QDateTime made;
    QDateTime named;
    int sequence = 1;

    bool isNewerThan(const AutomaticBackup &other) const
    {
        if (made != other.made)
            return made > other.made;
        return named != other.named ? named > other.named : sequence > other.sequence;
    }
};

// Only names of exactly this form are automatic backups: anything else in the folder (a
// backup the user made, a file of another program, a sequence number this program never
// writes such as -1 or -02) is never removed.
std::optional<AutomaticBackup> automaticBackup(const QDir &folder, const QString &fileName)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        SQLiteHelper::dbName() + u"-auto-(\\d{8}-\\d{6})(?:-([2-9]|[1-9]\\d{1,3}))?\\.db"_s));
    const QRegularExpressionMatch match = pattern.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    const QDateTime named = QDateTime::fromString(match.captured(1), nameTimeFormat);
    if (!named.isValid())
        return std::nullopt;
    const int sequence = match.hasCaptured(2) ? match.captured(2).toInt() : 1;
    // Whole seconds: a copy of the folder keeps at most those.
    QDateTime made = QFileInfo(folder.filePath(fileName)).lastModified();
    made.setMSecsSinceEpoch(made.toMSecsSinceEpoch() / 1000 * 1000);
    return AutomaticBackup {fileName, made, named, sequence};
}

// The automatic backups in `folder`, newest first.
QList<AutomaticBackup> automaticBackups(const QString &folder)
{
    QList<AutomaticBackup> backups;
    if (folder.isEmpty()) // QDir would list the working folder
        return backups;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (std::optional<AutomaticBackup> backup = automaticBackup(dir, name))
            backups.append(*backup);
    }
    std::sort(backups.begin(), backups.end(),
              [](const auto &a, const auto &b) { return a.isNewerThan(b); });
    return backups;
}

// Removes all but the newest automatic backups. `kept` (the one just made) stays in any
// case; so does `spare`, the file a restore is about to copy.
void pruneAutomaticBackups(const QString &folder, const QString &kept, const QString &spare)
{
    const QDir dir(folder);
    const QString spared = spare.isEmpty() ? QString() : resolvedPath(spare);
    int others = 0;
    for (const AutomaticBackup &backup : automaticBackups(folder)) {
        if (backup.fileName == kept || resolvedPath(dir.filePath(backup.fileName)) == spared)
            continue;
        if (++others < BackupService::keptAutomaticBackups)
            continue;
        if (!QFile::remove(dir.filePath(backup.fileName)))
            writeDatabaseDiagnostic(u"Could not remove the old backup "_s
                                    + dir.filePath(backup.fileName));
    }
}

// --- the shape of a receipt book ---------------------------------------------------

struct BookShape
{
    qint64 userVersion = 0;
    QList<std::pair<QString, QStringList>> tables; // name, column names
};

std::optional<qint64> firstInteger(Database &database, const QString &sql)
{
    std::unique_ptr<ResultSet> resultSet = database.executeQuery(sql);
    if (!resultSet || !resultSet->next())
        return std::nullopt;
    return resultSet->int64ForColumnIndex(0);
}

QStringList columnsOf(Database &database, const QString &table)
{
    QStringList columns;
    std::unique_ptr<ResultSet> resultSet
        = database.executeQuery(u"select name from pragma_table_info(?)"_s, {table});
    while (resultSet && resultSet->next())
        columns.append(resultSet->stringForColumnIndex(0).value_or(QString()));
    return columns;
}

// Read from the template database the build makes from template.sql, so that the
// tables and columns a book needs are written down in one place only.
std::optional<BookShape> templateShape(QString *error)
{
    const QString path = SQLiteHelper::templatePath();
    Database database(path, Database::OpenMode::ExistingFileOnly);
    database.setOpenReadOnly(true);
    const auto missing = [&] {
        return failWith(error, u"找不到数据库模板：%1"_s.arg(path), std::optional<BookShape>());
    };
    if (!database.open())
        return missing();
    BookShape shape;
    const std::optional<qint64> version = firstInteger(database, u"PRAGMA user_version"_s);
    if (!version)
        return missing();
    shape.userVersion = *version;
    QStringList tables;
    std::unique_ptr<ResultSet> resultSet
        = database.executeQuery(u"select name from sqlite_schema where type = 'table' and "
                                u"name not like 'sqlite\\_%' escape '\\' order by name"_s);
    while (resultSet && resultSet->next())
        tables.append(resultSet->stringForColumnIndex(0).value_or(QString()));
    resultSet.reset();
    if (tables.isEmpty())
        return missing();
    for (const QString &table : std::as_const(tables))
        shape.tables.append({table, columnsOf(database, table)});
    return shape;
}

// Why SQLite cannot read the file at `path` whole, in Chinese; empty when it opens and
// passes the integrity check. `locked` tells a check that another program's lock stopped,
// which says nothing about the file. The file is never created, and changed only where
// `mode` is ReadWrite and a writer that crashed left a journal, which SQLite then rolls
// back as any program opening the book would (read-only it could not read the file).
enum class CheckMode { ReadOnly, ReadWrite };
QString damageOf(const QString &path, bool *locked = nullptr, CheckMode mode = CheckMode::ReadOnly)
{
    const auto isLock = [locked](const DatabaseError &failure) {
        const bool lock = failure.isLock();
        if (lock && locked)
            *locked = true;
        return lock;
    };
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return u"文件不存在：%1"_s.arg(path);
    if (!info.isFile())
        return u"%1 不是文件"_s.arg(path);
    if (info.size() == 0)
        return u"文件是空的，不是收据数据库"_s;
    {
        // SQLite's answer for such a file is "damaged", which would send the user
        // looking for a repair of a file that never was a book.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return u"无法读取文件 %1：%2"_s.arg(path, file.errorString());
        if (file.read(16) != QByteArrayView("SQLite format 3\0", 16))
            return u"这不是收据数据库文件"_s;
    }
    Database candidate(path, Database::OpenMode::ExistingFileOnly);
    candidate.setOpenReadOnly(mode == CheckMode::ReadOnly);
    candidate.setLogsErrors(false);
    const auto failure = [&candidate] {
        return candidate.lastError().message();
    };
    if (!candidate.open())
        return u"无法打开文件：%1"_s.arg(failure());
    QStringList findings;
    std::unique_ptr<ResultSet> check = candidate.executeQuery(u"PRAGMA integrity_check(5)"_s);
    while (check && check->next())
        findings.append(check->stringForColumnIndex(0).value_or(QString()));
    bool stoppedByLock = false;
    if (!check) {
        stoppedByLock = isLock(candidate.lastError());
        findings.append(failure());
    } else if (check->hasError()) {
        stoppedByLock = isLock(check->error());
        findings.append(check->error().message());
    }
    // Another program's lock stopped the check before it could tell: the file may well be
    // whole, and is not called damaged.
    if (stoppedByLock)
        return u"无法检查文件：%1"_s.arg(findings.constLast());
    if (findings != QStringList(u"ok"_s))
        return u"文件已损坏：%1"_s.arg(findings.join(u'；'));
    return {};
}

// The numbers of the receipts the lists show; nothing when they cannot be read.
std::optional<QSet<QString>> shownNumbers(const QString &path)
{
    Database book(path, Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    if (!book.open())
        return std::nullopt;
    return BookContents::shownNumbers(book);
}

std::optional<QString> closedThrough(const QString &path)
{
    Database book(path, Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    if (!book.open())
        return std::nullopt;
    return BookContents::closedThrough(book);
}

bool isDigits(const QString &text)
{
    return !text.isEmpty()
        && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// In number order: the digits by their value (with as many digits, as the counter pads
// them), anything else after them as text.
bool numberLess(const QString &a, const QString &b)
{
    if (isDigits(a) != isDigits(b))
        return isDigits(a);
    if (isDigits(a) && a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

// Whether `b` is the number after `a`, written as wide.
bool follows(const QString &a, const QString &b)
{
    if (!isDigits(a) || !isDigits(b) || a.size() != b.size())
        return false;
    bool ok = false;
    const qulonglong value = a.toULongLong(&ok);
    return ok && b == u"%1"_s.arg(value + 1, a.size(), 10, QChar(u'0'));
}

// What the book being replaced had issued, read as far as the file allows.
BookContents::Issued replacedBook(const QString &path)
{
    Database book(path, Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    return book.open() ? BookContents::issuedBy(book) : BookContents::Issued();
}

// The copy about to be restored: brought up to this version, numbering on after the
// highest number the replaced book issued, and its history told of the restore, in one
// transaction. False with the reason.
bool prepareRestoredCopy(const QString &copy, const QString &source,
                         const std::optional<BookContents::Issued> &replaced, QString *error)
{
    Database restored(copy, Database::OpenMode::ExistingFileOnly);
    restored.setLogsErrors(false);
    const auto failure = [&restored] {
        return restored.lastError().message();
    };
    // The program keeps its book in rollback-journal mode, whatever the file came with.
    if (!restored.open() || !restored.executeStatements(u"PRAGMA journal_mode = DELETE"_s))
        return fail(error, u"无法写入 %1：%2"_s.arg(copy, failure()));
    SchemaUpgrade::apply(restored);
    if (SchemaUpgrade::version(restored) != SchemaUpgrade::currentVersion)
        return fail(error, u"无法把文件升级到本版本：%1"_s.arg(failure()));

    Transaction transaction(restored);
    if (!transaction.begin() || !BookContents::recordRestore(restored, source, replaced)
        || !transaction.commit())
        return fail(error, u"无法写入 %1：%2"_s.arg(copy, failure()));
    return true;
}

// A free name beside the book for a copy of it that SQLite cannot read.
QString damagedNameBeside(const QString &databasePath)
{
    const QString stem = databasePath + u".damaged-"_s + Clock::now().toString(nameTimeFormat);
    QString name = stem;
    for (int sequence = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++sequence)
        name = stem + u"-%1"_s.arg(sequence);
    return name;
}

// Keeps the file at `from` under the name `to` as well: a second link, so that the book's
// own name is never without a file, or a copy where links cannot be made.
bool keepAs(const QString &from, const QString &to)
{
#ifdef Q_OS_UNIX
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
#endif
    return QFile::copy(from, to);
}

} // namespace

BackupService &BackupService::shared()
{
    return SharedInstance<BackupService>::get();
}

QString BackupService::defaultBackupName(const QDateTime &now)
{
    return SQLiteHelper::dbName() + u'-' + now.toString(nameTimeFormat) + u".db"_s;
}

QString BackupService::backupsFolder()
{
    const QString databasePath = SQLiteHelper::shared().dbURL();
    if (databasePath.isEmpty())
        return {};
    return QFileInfo(databasePath).absoluteDir().filePath(u"backups"_s);
}

bool BackupService::backup(const QString &target, QString *error)
{
    return copyBook(QString(), target, error, nullptr);
}

bool BackupService::copyBook(const QString &bookPath, const QString &target, QString *error,
                             const std::atomic_bool *cancel)
{
    if (target.isEmpty())
        return fail(error, u"没有指定备份文件"_s);
    if (bookPath.isEmpty()) {
        SQLiteHelper &helper = SQLiteHelper::shared();
        if (!helper.isAvailable())
            return fail(error, helper.failureMessage());
    }
    const QString refused = OutputFile::problem(target);
    if (!refused.isEmpty())
        return fail(error, refused);
    const QFileInfo info(target);
    if (!info.absoluteDir().exists())
        return fail(error, u"备份文件夹不存在：%1"_s.arg(info.absolutePath()));
    // A copy on a worker thread reads through a connection of its own: the shared one
    // belongs to the window's thread. It is opened for reading only, so that it can never
    // write into the book, and never creates a missing file.
    std::unique_ptr<Database> own;
    Database *source = nullptr;
    if (bookPath.isEmpty()) {
        SQLiteHelper &helper = SQLiteHelper::shared();
        if (!helper.open())
            return fail(error, u"无法打开数据库：%1"_s.arg(helper.lastError()));
        source = &helper.db();
    } else {
        own = std::make_unique<Database>(bookPath, Database::OpenMode::ExistingFileOnly);
        own->setOpenReadOnly(true);
        // Nobody waits for this copy: it waits out the window's saves rather than fail.
        own->setMaxBusyRetryTimeInterval(backgroundBusyInterval);
        if (!own->open())
            return fail(error,
                        u"无法打开数据库：%1"_s.arg(
                            own->lastError().message()));
        source = own.get();
    }

    return OutputFile::writeReplacing(
        target,
        [&](const QString &partial, QString *reason) {
            // SQLite makes the copy itself, as a new file.
            QFile::remove(partial);
            if (source->backupTo(
                    partial, reason,
                    own ? Database::BackupPace::GiveWay : Database::BackupPace::Continuous, cancel))
                return true;
            reason->replace(partial, info.absoluteFilePath());
            return false;
        },
        error);
}

bool BackupService::makeAutomaticBackup(QString *error, const QString &spare, QString *made,
                                        const QString &bookPath, const std::atomic_bool *cancel)
{
    // One at a time in the process: a backup on a worker thread and one on the window's
    // thread (before a restore) would pick the same free name and prune each other's files.
    static QMutex making;
    const QMutexLocker locker(&making);
    const QString folder = backupsFolder();
    if (folder.isEmpty())
        return fail(error, SQLiteHelper::shared().failureMessage());
    if (!QDir().mkpath(folder))
        return fail(error, u"无法创建备份文件夹：%1"_s.arg(folder));
    // A second backup within one second (a restore right after another) gets a number
    // rather than replacing the first, which may hold the only copy of what was replaced.
    const QString stem
        = SQLiteHelper::dbName() + u"-auto-"_s + Clock::now().toString(nameTimeFormat);
    QString name = stem + u".db"_s;
    for (int sequence = 2; QFileInfo::exists(QDir(folder).filePath(name)); ++sequence) {
        if (sequence > 9999)
            return fail(error, u"备份文件夹中同一时刻的备份太多：%1"_s.arg(folder));
        name = stem + u"-%1.db"_s.arg(sequence);
    }
    // Made after every backup there, whatever the clock says now: with a clock set back
    // the new backup would otherwise count as the oldest and go at the next rotation.
    const QList<AutomaticBackup> before = automaticBackups(folder);
    QDateTime when = Clock::now();
    if (!before.isEmpty() && before.first().made.isValid() && before.first().made.secsTo(when) <= 0)
        when = before.first().made.addSecs(1);
    const QString path = QDir(folder).filePath(name);
    if (!copyBook(bookPath, path, error, cancel))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)
        || !file.setFileTime(when, QFileDevice::FileModificationTime))
        writeDatabaseDiagnostic(u"Could not set the time of the backup "_s + path);
    file.close();
    pruneAutomaticBackups(folder, name, spare);
    if (made)
        *made = path;
    return true;
}

bool BackupService::backupIfDue(QString *error)
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (helper.isAvailable())
        helper.open();
    const QString refusal
        = automaticBackupRefusal(helper.damage(), helper.schemaReport().unknownObjects);
    if (!refusal.isEmpty())
        return fail(error, refusal);
    return backupIfDueFrom(QString(), error);
}

QString BackupService::automaticBackupRefusal(const QString &damage,
                                              const QStringList &unknownObjects)
{
    if (!damage.isEmpty())
        return u"数据库文件已损坏，没有做自动备份，以免替换掉以前完好的备份"_s;
    // Nor a book that could not be restored: its copies would only push good ones out.
    if (!unknownObjects.isEmpty())
        return u"数据库中有不认识的内容，没有做自动备份，以免替换掉以前完好的备份"_s;
    return {};
}

bool BackupService::backupIfDueFrom(const QString &bookPath, QString *error,
                                    const std::atomic_bool *cancel)
{
    const QList<AutomaticBackup> backups = automaticBackups(backupsFolder());
    const QDateTime now = Clock::now();
    // A newest backup more than a day "ahead" means the clock was set back since: it
    // says nothing about the book of today.
    if (!backups.isEmpty() && backups.first().made.addDays(1) > now
        && now.addDays(1) > backups.first().made)
        return true;
    return makeAutomaticBackup(error, QString(), nullptr, bookPath, cancel);
}

bool BackupService::backUpFrom(const QString &bookPath, QString *error,
                               const std::atomic_bool *cancel)
{
    return makeAutomaticBackup(error, QString(), nullptr, bookPath, cancel);
}

bool BackupService::countSavedReceipt()
{
    return ++m_savedReceipts % receiptsPerBackup == 0;
}

bool BackupService::noteSavedReceipt(QString *error)
{
    if (!countSavedReceipt())
        return true;
    return makeAutomaticBackup(error);
}

QString RestoreCheck::lossText() const
{
    if (lostReceiptNumbers.isEmpty())
        return {};
    QStringList numbers = lostReceiptNumbers;
    std::sort(numbers.begin(), numbers.end(), numberLess);
    // Runs of consecutive numbers as "first … last"; at most ten runs.
    QStringList runs;
    for (qsizetype i = 0; i < numbers.size();) {
        qsizetype last = i;
        while (last + 1 < numbers.size() && follows(numbers.at(last), numbers.at(last + 1)))
            ++last;
        if (runs.size() == 10) {
            runs.append(u"等"_s);
            break;
        }
        const QString first = u"No."_s + numbers.at(i);
        if (last == i)
            runs.append(first);
        else if (last == i + 1)
            runs.append(first + u"、No."_s + numbers.at(last));
        else
            runs.append(first + u" … No."_s + numbers.at(last));
        i = last + 1;
    }
    return u"将失去 %1 张收据：%2"_s.arg(numbers.size()).arg(runs.join(u"、"_s));
}

bool BackupService::checkRestoreFile(const QString &path, RestoreCheck *found, QString *error)
{
    if (path.isEmpty())
        return fail(error, u"没有选择要恢复的文件"_s);
    if (isPartOfDatabase(path))
        return fail(error, u"这是正在使用的数据库文件，不能用它来恢复"_s);
    RestoreCheck &result = *found;
    if (!checkBook(path, &result, error) || !BookProof::proveFile(path, error))
        return false;
    const QString databasePath = SQLiteHelper::shared().dbURL();
    if (databasePath.isEmpty())
        return true;
    // Closed days stay closed: a backup from before a closing would open them again.
    if (const std::optional<QString> closed = closedThrough(databasePath)) {
        const std::optional<QString> restoredClosed = closedThrough(path);
        const QString reopened
            = BookContents::reopenedDays(*closed, restoredClosed.value_or(QString()));
        if (!reopened.isEmpty())
            return fail(error, reopened);
    }
    // A book that cannot be read has nothing to tell here.
    const std::optional<QSet<QString>> current = shownNumbers(databasePath);
    const std::optional<QSet<QString>> restored = shownNumbers(path);
    if (current && restored)
        result.lostReceiptNumbers = QSet<QString>(*current).subtract(*restored).values();
    std::sort(result.lostReceiptNumbers.begin(), result.lostReceiptNumbers.end(), numberLess);
    return true;
}

bool BackupService::checkBook(const QString &path, RestoreCheck *found, QString *error)
{
    RestoreCheck result;
    const auto refuse = [error](const QString &problem) { return fail(error, problem); };
    if (const QString damage = damageOf(path); !damage.isEmpty())
        return refuse(damage);

    // Read-only and never created: checking a file must not change it, nor make one.
    Database candidate(path, Database::OpenMode::ExistingFileOnly);
    candidate.setOpenReadOnly(true);
    candidate.setLogsErrors(false);
    const auto failure = [&candidate] {
        return candidate.lastError().message();
    };
    if (!candidate.open())
        return refuse(u"无法打开文件：%1"_s.arg(failure()));
    const std::optional<qint64> version = firstInteger(candidate, u"PRAGMA user_version"_s);
    if (!version)
        return refuse(failure());

    const std::optional<BookShape> shape = templateShape(error);
    if (!shape)
        return false;
    // Checked before the tables: a newer program may have changed them.
    if (*version > shape->userVersion) {
        return refuse(u"这个文件由较新版本的 Quenta 写入（数据版本 %1，本程序为 %2），"
                      u"请用新版本恢复"_s.arg(*version)
                          .arg(shape->userVersion));
    }
    const std::optional<QStringList> unknown
        = SchemaUpgrade::unknownObjects(candidate, SQLiteHelper::templatePath());
    if (!unknown)
        return refuse(u"无法读取文件的结构：%1"_s.arg(failure()));
    if (!unknown->isEmpty())
        return refuse(u"文件中有收据数据库不该有的内容：%1"_s.arg(unknown->join(u"、"_s)));
    // The tables the upgrade adds are made when the book is restored or opened.
    const QStringList added = SchemaUpgrade::tablesAddedAfter(int(*version));
    for (const auto &[table, columns] : shape->tables) {
        const QStringList present = columnsOf(candidate, table);
        if (present.isEmpty() && added.contains(table))
            continue;
        if (present.isEmpty())
            return refuse(u"文件中缺少表 %1，不是收据数据库"_s.arg(table));
        for (const QString &column : columns) {
            if (!present.contains(column, Qt::CaseInsensitive))
                return refuse(u"文件的表 %1 缺少列 %2"_s.arg(table, column));
        }
    }

    // The receipts the lists show.
    BookContents::Summary summary;
    QString unread;
    if (!BookContents::summarize(candidate, &summary, &unread))
        return refuse(u"无法读取文件中的收据：%1"_s.arg(unread));
    result.receiptCount = summary.receipts;
    result.earliestReceiptDate = summary.earliestDate;
    result.latestReceiptDate = summary.latestDate;
    if (found)
        *found = result;
    return true;
}

void BackupService::removePartialFiles()
{
    const QString databasePath = SQLiteHelper::shared().dbURL();
    if (databasePath.isEmpty())
        return;
    removePartialFilesIn(QFileInfo(databasePath).absolutePath());
    removePartialFilesIn(backupsFolder());
}

bool BackupService::restore(const QString &path, QString *error)
{
    RestoreCheck check;
    if (!checkRestoreFile(path, &check, error))
        return false;
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (!helper.isAvailable())
        return fail(error, helper.failureMessage());
    const QString databasePath = helper.dbURL();
    const bool bookExists = QFileInfo::exists(databasePath);
    // A book SQLite cannot read whole is what backups are for: it is kept beside the
    // restored one, not copied into backups/ where it would push good backups out.
    bool locked = false;
    const bool damaged
        = bookExists && !damageOf(databasePath, &locked, CheckMode::ReadWrite).isEmpty() && !locked;

    QString reason;
    std::optional<BookContents::Issued> replaced;
    if (bookExists && !damaged) {
        QString safety;
        if (!makeAutomaticBackup(&reason, path, &safety))
            return fail(error, u"没有恢复：无法先备份当前的数据（%1）"_s.arg(reason));
        replaced = replacedBook(safety);
    } else if (damaged) {
        replaced = replacedBook(databasePath);
    }

    // The replacement is a rename of a finished, checked copy: a crash before it leaves
    // the book as it was, and after it the restored one.
    const auto copyBackup = [&](const QString &copy, QString *problem) {
        {
            Database source(path, Database::OpenMode::ExistingFileOnly);
            source.setOpenReadOnly(true);
            // SQLite makes the copy itself, as a new file.
            QFile::remove(copy);
            if (!source.backupTo(copy, &reason))
                return fail(problem, u"没有恢复：无法复制 %1（%2）"_s.arg(path, reason));
        }
        if (!prepareRestoredCopy(copy, path, replaced, &reason))
            return fail(problem, u"没有恢复：%1"_s.arg(reason));
        if (QString refused; !checkBook(copy, nullptr, &refused))
            return fail(problem, u"没有恢复：复制出的文件有问题（%1）"_s.arg(refused));
        return true;
    };

    // While this connection holds the book's exclusive lock no other program is in the
    // middle of writing it, and taking the lock has rolled back what a crashed writer
    // left in the journal. A journal still there is then a leftover: were it kept, the
    // first open of the restored book would take it for an unfinished transaction of
    // that book and write the old book's pages into it.
    Database lock(databasePath, Database::OpenMode::ExistingFileOnly);
    lock.setLogsErrors(false);
    const QString journal = databasePath + u"-journal"_s;
    QString kept;
    const auto clearTheWay = [&](QString *problem) {
        helper.db().close();
        if (bookExists && !damaged
            && (!lock.open() || !lock.executeStatements(u"BEGIN EXCLUSIVE"_s))) {
            return fail(problem,
                        u"没有恢复：%1"_s.arg(
                            lock.lastError().message()));
        }
        if (damaged) {
            // The damaged book and its journal stay together under a name the user finds.
            kept = damagedNameBeside(databasePath);
            if (!keepAs(databasePath, kept))
                return fail(problem, u"没有恢复：无法保留损坏的数据库文件（%1）"_s.arg(kept));
            if (QFileInfo::exists(journal)
                && std::rename(QFile::encodeName(journal).constData(),
                               QFile::encodeName(kept + u"-journal"_s).constData())
                    != 0)
                return fail(
                    problem,
                    u"没有恢复：无法保留损坏数据库的日志文件（%1）"_s.arg(qt_error_string(errno)));
        }
        if (QFileInfo::exists(journal) && !QFile::remove(journal))
            return fail(problem, u"没有恢复：无法删除旧的日志文件 %1"_s.arg(journal));
        return true;
    };
    if (!OutputFile::writeBook(databasePath, copyBackup, clearTheWay, error))
        return false;
    lock.close();
    if (!kept.isEmpty())
        writeDatabaseDiagnostic(u"The damaged database file is kept as "_s + kept);

    reloadSharedStores();
    return true;
}
