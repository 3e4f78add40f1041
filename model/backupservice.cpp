// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupservice.h"

#include "clock.h"
#include "database.h"
#include "databaseerror.h"
#include "outputfile.h"
#include "sqlitehelper.h"
#include "stores.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
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

bool fail(QString *error, const QString &message)
{
    return failWith(error, message, false);
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

// A hidden name of this program's own beside `path`, free at the moment.
QString partialNameBeside(const QString &path)
{
    const QFileInfo info(path);
    for (;;) {
        const QString candidate = info.absoluteDir().filePath(
            u".%1.%2.partial"_s.arg(info.fileName())
                .arg(qulonglong(QRandomGenerator::global()->generate()), 8, 16, QChar(u'0')));
        if (!QFileInfo(candidate).exists() && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}

// Puts a finished file in place in one step: POSIX rename() replaces the target
// atomically, where QFile::rename() refuses an existing target and removing it first
// would leave a moment with neither file.
bool replaceFile(const QString &from, const QString &to, QString *error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    return fail(error, u"无法把文件放到 %1：%2"_s.arg(to, qt_error_string(errno)));
}

// Makes a rename last through a power cut: the new directory entry is on the disk only
// once its folder has been synced.
void syncFolder(const QString &folder)
{
#ifdef Q_OS_UNIX
    const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
#else
    Q_UNUSED(folder);
#endif
}

// --- automatic backups ---------------------------------------------------------

const QString nameTimeFormat = u"yyyyMMdd-HHmmss"_s;

// Where an automatic backup stands among the others: the moment in its name, then the
// sequence number of a second backup made within the same second.
struct AutomaticBackup
{
    QString fileName;
    QDateTime made;
    int sequence = 1;
};

// Only names of exactly this form are automatic backups: anything else in the folder (a
// backup the user made, a file of another program) is never removed.
std::optional<AutomaticBackup> automaticBackup(const QString &fileName)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        SQLiteHelper::dbName() + u"-auto-(\\d{8}-\\d{6})(?:-(\\d{1,4}))?\\.db"_s));
    const QRegularExpressionMatch match = pattern.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    const QDateTime made = QDateTime::fromString(match.captured(1), nameTimeFormat);
    if (!made.isValid())
        return std::nullopt;
    const int sequence = match.hasCaptured(2) ? match.captured(2).toInt() : 1;
    return AutomaticBackup {fileName, made, sequence};
}

// The automatic backups in `folder`, newest first.
QList<AutomaticBackup> automaticBackups(const QString &folder)
{
    QList<AutomaticBackup> backups;
    if (folder.isEmpty()) // QDir would list the working folder
        return backups;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (std::optional<AutomaticBackup> backup = automaticBackup(name))
            backups.append(*backup);
    }
    std::sort(backups.begin(), backups.end(), [](const auto &a, const auto &b) {
        return a.made != b.made ? a.made > b.made : a.sequence > b.sequence;
    });
    return backups;
}

// Removes all but the newest automatic backups. `kept` (the one just made) stays in any
// case, also when the clock has been set back and others carry later times; so does
// `spare`, the file a restore is about to copy.
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
    if (target.isEmpty())
        return fail(error, u"没有指定备份文件"_s);
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (!helper.isAvailable())
        return fail(error, helper.failureMessage());
    const QString refused = OutputFile::problem(target);
    if (!refused.isEmpty())
        return fail(error, refused);
    const QFileInfo info(target);
    if (!info.absoluteDir().exists())
        return fail(error, u"备份文件夹不存在：%1"_s.arg(info.absolutePath()));
    if (!helper.open())
        return fail(error, u"无法打开数据库：%1"_s.arg(helper.lastError()));

    return OutputFile::writeReplacing(
        target,
        [&](const QString &partial, QString *reason) {
            // SQLite makes the copy itself, as a new file.
            QFile::remove(partial);
            if (helper.db().backupTo(partial, reason))
                return true;
            reason->replace(partial, info.absoluteFilePath());
            return false;
        },
        error);
}

bool BackupService::makeAutomaticBackup(QString *error, const QString &spare)
{
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
    if (!backup(QDir(folder).filePath(name), error))
        return false;
    pruneAutomaticBackups(folder, name, spare);
    return true;
}

bool BackupService::backupIfDue(QString *error)
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (helper.isAvailable() && helper.open() && !helper.damage().isEmpty())
        return fail(error, u"数据库文件已损坏，没有做自动备份，以免替换掉以前完好的备份"_s);
    const QList<AutomaticBackup> backups = automaticBackups(backupsFolder());
    const QDateTime now = Clock::now();
    // A newest backup more than a day "ahead" means the clock was set back since: it
    // says nothing about the book of today.
    if (!backups.isEmpty() && backups.first().made.addDays(1) > now
        && now.addDays(1) > backups.first().made)
        return true;
    return makeAutomaticBackup(error);
}

bool BackupService::noteSavedReceipt(QString *error)
{
    if (++m_savedReceipts % receiptsPerBackup != 0)
        return true;
    return makeAutomaticBackup(error);
}

RestoreCheck BackupService::checkRestoreFile(const QString &path)
{
    if (path.isEmpty()) {
        RestoreCheck refused;
        refused.problem = u"没有选择要恢复的文件"_s;
        return refused;
    }
    if (isPartOfDatabase(path)) {
        RestoreCheck refused;
        refused.problem = u"这是正在使用的数据库文件，不能用它来恢复"_s;
        return refused;
    }
    return checkBook(path);
}

RestoreCheck BackupService::checkBook(const QString &path)
{
    RestoreCheck result;
    const auto refuse = [&result](const QString &problem) {
        result.problem = problem;
        return result;
    };
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return refuse(u"文件不存在：%1"_s.arg(path));
    if (!info.isFile())
        return refuse(u"%1 不是文件"_s.arg(path));
    if (info.size() == 0)
        return refuse(u"文件是空的，不是收据数据库"_s);
    {
        // SQLite's answer for such a file is "damaged", which would send the user
        // looking for a repair of a file that never was a book.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return refuse(u"无法读取文件 %1：%2"_s.arg(path, file.errorString()));
        if (file.read(16) != QByteArrayView("SQLite format 3\0", 16))
            return refuse(u"这不是收据数据库文件"_s);
    }

    // Read-only and never created: checking a file must not change it, nor make one.
    Database candidate(path, Database::OpenMode::ExistingFileOnly);
    candidate.setOpenReadOnly(true);
    candidate.setLogsErrors(false);
    const auto failure = [&candidate] {
        return describeDatabaseError(candidate.lastErrorCode(), candidate.lastErrorMessage());
    };
    if (!candidate.open())
        return refuse(u"无法打开文件：%1"_s.arg(failure()));
    const std::optional<qint64> version = firstInteger(candidate, u"PRAGMA user_version"_s);
    if (!version)
        return refuse(failure());

    QStringList findings;
    {
        std::unique_ptr<ResultSet> check = candidate.executeQuery(u"PRAGMA integrity_check(5)"_s);
        while (check && check->next())
            findings.append(check->stringForColumnIndex(0).value_or(QString()));
        if (!check)
            findings.append(failure());
        else if (check->hasError())
            findings.append(describeDatabaseError(check->errorCode(), check->errorMessage()));
    }
    if (findings != QStringList(u"ok"_s))
        return refuse(u"文件已损坏：%1"_s.arg(findings.join(u'；')));

    QString error;
    const std::optional<BookShape> shape = templateShape(&error);
    if (!shape)
        return refuse(error);
    // Checked before the tables: a newer program may have changed them.
    if (*version > shape->userVersion) {
        return refuse(u"这个文件由较新版本的 Quenta 写入（数据版本 %1，本程序为 %2），"
                      u"请用新版本恢复"_s.arg(*version)
                          .arg(shape->userVersion));
    }
    for (const auto &[table, columns] : shape->tables) {
        const QStringList present = columnsOf(candidate, table);
        if (present.isEmpty())
            return refuse(u"文件中缺少表 %1，不是收据数据库"_s.arg(table));
        for (const QString &column : columns) {
            if (!present.contains(column, Qt::CaseInsensitive))
                return refuse(u"文件的表 %1 缺少列 %2"_s.arg(table, column));
        }
    }

    // The receipts the lists show: the same condition as AppStore::loadReceipts.
    std::unique_ptr<ResultSet> summary = candidate.executeQuery(
        u"select count(*), min(nullif(receiptDate, '')), max(nullif(receiptDate, '')) "
        u"from tb_receipt where isDeleted <> 1"_s);
    if (!summary || !summary->next())
        return refuse(u"无法读取文件中的收据：%1"_s.arg(
            summary && summary->hasError()
                ? describeDatabaseError(summary->errorCode(), summary->errorMessage())
                : failure()));
    result.receiptCount = summary->int64ForColumnIndex(0);
    result.earliestReceiptDate = summary->stringForColumnIndex(1).value_or(QString());
    result.latestReceiptDate = summary->stringForColumnIndex(2).value_or(QString());
    result.ok = true;
    return result;
}

bool BackupService::restore(const QString &path, QString *error)
{
    const RestoreCheck check = checkRestoreFile(path);
    if (!check.ok)
        return fail(error, check.problem);
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (!helper.isAvailable())
        return fail(error, helper.failureMessage());
    const QString databasePath = helper.dbURL();
    const bool bookExists = QFileInfo::exists(databasePath);

    QString reason;
    if (bookExists && !makeAutomaticBackup(&reason, path))
        return fail(error, u"没有恢复：无法先备份当前的数据（%1）"_s.arg(reason));

    // The replacement is a rename of a finished, checked copy: a crash before it leaves
    // the book as it was, and after it the restored one.
    const QString copy = partialNameBeside(databasePath);
    auto removeCopy = qScopeGuard([&copy] { QFile::remove(copy); });
    {
        Database source(path, Database::OpenMode::ExistingFileOnly);
        source.setOpenReadOnly(true);
        if (!source.backupTo(copy, &reason))
            return fail(error, u"没有恢复：无法复制 %1（%2）"_s.arg(path, reason));
    }
    {
        // The program keeps its book in rollback-journal mode, whatever the file came with.
        Database restored(copy, Database::OpenMode::ExistingFileOnly);
        if (!restored.open() || !restored.executeStatements(u"PRAGMA journal_mode = DELETE"_s))
            return fail(error, u"没有恢复：无法写入 %1"_s.arg(copy));
    }
    if (const RestoreCheck copied = checkBook(copy); !copied.ok)
        return fail(error, u"没有恢复：复制出的文件有问题（%1）"_s.arg(copied.problem));

    helper.db().close();
    // While this connection holds the book's exclusive lock no other program is in the
    // middle of writing it, and taking the lock has rolled back what a crashed writer
    // left in the journal. A journal still there is then a leftover: were it kept, the
    // first open of the restored book would take it for an unfinished transaction of
    // that book and write the old book's pages into it.
    Database lock(databasePath, Database::OpenMode::ExistingFileOnly);
    lock.setLogsErrors(false);
    if (bookExists && (!lock.open() || !lock.executeStatements(u"BEGIN EXCLUSIVE"_s))) {
        return fail(error,
                    u"没有恢复：%1"_s.arg(
                        describeDatabaseError(lock.lastErrorCode(), lock.lastErrorMessage())));
    }
    const QString journal = databasePath + u"-journal"_s;
    if (QFileInfo::exists(journal) && !QFile::remove(journal))
        return fail(error, u"没有恢复：无法删除旧的日志文件 %1"_s.arg(journal));
    if (!replaceFile(copy, databasePath, &reason))
        return fail(error, u"没有恢复：%1"_s.arg(reason));
    removeCopy.dismiss();
    syncFolder(QFileInfo(databasePath).absolutePath());
    lock.close();

    reloadSharedStores();
    return true;
}
