// SPDX-License-Identifier: GPL-3.0-or-later
#include "sqlitehelper.h"

#include "databaseerror.h"
#include "outputfile.h"
#include "sqlliteral.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <sqlite3.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

std::unique_ptr<SQLiteHelper> &sharedSlot()
{
    static std::unique_ptr<SQLiteHelper> instance;
    return instance;
}

bool &consoleLinesToStandardError()
{
    static bool toStandardError = false;
    return toStandardError;
}

void printLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    FILE *stream = consoleLinesToStandardError() ? stderr : stdout;
    std::fprintf(stream, "%s\n", bytes.constData());
    std::fflush(stream);
}

// What the book holds beyond the template's tables and indexes; a book from a newer
// program is left to the upgrade, which only reads it, for that program may add tables.
QStringList unknownObjectsOf(Database &database)
{
    if (SchemaUpgrade::version(database) > SchemaUpgrade::currentVersion)
        return {};
    return SchemaUpgrade::unknownObjects(database, SQLiteHelper::templatePath())
        .value_or(QStringList());
}

} // namespace

SQLiteHelper &SQLiteHelper::shared()
{
    auto &instance = sharedSlot();
    if (!instance)
        instance.reset(new SQLiteHelper);
    return *instance;
}

void SQLiteHelper::setConsoleLinesToStandardError(bool toStandardError)
{
    consoleLinesToStandardError() = toStandardError;
}

void SQLiteHelper::resetShared()
{
    sharedSlot().reset();
}

QString SQLiteHelper::templatePath()
{
    const QString fileName = dbName() + u".db"_s;
    const QString fromEnvironment = qEnvironmentVariable("QUENTA_TEMPLATE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                        : QDir::currentPath();
    const QString beside = appDir + u'/' + fileName;
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(appDir + u"/../share/quenta/"_s + fileName);
}

QString SQLiteHelper::documentsDirectory()
{
    const QString fromEnvironment = qEnvironmentVariable("QUENTA_DOCUMENTS_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // Without a home folder Qt answers "/Documents" and the book would be made there,
    // where no user would look for it.
    if (qEnvironmentVariable("HOME").trimmed().isEmpty())
        return {};
    static const QString fromStandardPaths
        = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return fromStandardPaths;
}

Database &SQLiteHelper::db()
{
    if (!m_db) {
        computeURL();
        m_db = std::make_unique<Database>(m_dbURL, Database::OpenMode::ExistingFileOnly);
    }
    return *m_db;
}

QString SQLiteHelper::dbURL()
{
    computeURL();
    return m_dbURL;
}

bool SQLiteHelper::isAvailable()
{
    computeURL();
    return m_available;
}

QString SQLiteHelper::failureMessage()
{
    computeURL();
    return m_failureMessage;
}

QString SQLiteHelper::chosenBook()
{
    return qEnvironmentVariable("QUENTA_BOOK").trimmed();
}

bool SQLiteHelper::livesInAFile()
{
    return db().dialect().livesInAFile();
}

void SQLiteHelper::computeURL()
{
    if (m_computed)
        return;
    m_computed = true;

    // A book named by --book or QUENTA_BOOK: a server's URI, or a file that must be there
    // already (a name mistyped must not turn into a new empty book).
    if (const QString book = chosenBook(); !book.isEmpty()) {
        if (Database::isServerBook(book)) {
            m_dbURL = book;
            return;
        }
        m_dbURL = QFileInfo(book).absoluteFilePath();
        if (!QFileInfo(m_dbURL).isFile()) {
            m_available = false;
            m_failureMessage = u"账本文件不存在："_s + m_dbURL;
            printLine(m_failureMessage);
            return;
        }
        printLine(u"数据库路径: "_s + m_dbURL);
        return;
    }

    const QString documents = documentsDirectory();
    if (documents.isEmpty()) {
        m_available = false;
        m_failureMessage = u"找不到文档文件夹：没有设置主目录（HOME）。"
                           u"请设置 HOME，或用 QUENTA_DOCUMENTS_DIR 指定存放数据库的文件夹。"_s;
        printLine(m_failureMessage);
        return;
    }
    const QString path = QDir(documents).filePath(dbName() + u".db"_s);

    if (!QFileInfo::exists(path)) {
        printLine(u"数据库不存在："_s + path);
        if (!QFileInfo::exists(documents) && !QDir().mkpath(documents))
            printLine(u"创建Document下的软件目录出错："_s + u"无法创建目录 "_s + documents);

        // Copied beside it and put in place whole, so that a first run cut short never
        // leaves half a database behind for every later start to trust.
        const QString source = templatePath();
        QString error;
        if (!QFileInfo::exists(source)) {
            error = u"数据库模板不存在："_s + source;
        } else {
            const auto copyTemplate = [&source](const QString &scratch, QString *problem) {
                QFile::remove(scratch);
                QFile sourceFile(source);
                if (sourceFile.copy(scratch))
                    return true;
                *problem = sourceFile.errorString();
                return false;
            };
            QString reason;
            if (!OutputFile::writeBook(path, copyTemplate, nullptr, &reason))
                error = u"复制数据库模板失败："_s + source + u" → "_s + path + u"（"_s + reason
                    + u"）"_s;
        }
        if (!error.isEmpty()) {
            printLine(error);
            m_available = false;
            m_failureMessage = error;
        }
    }
    printLine(u"数据库路径: "_s + path);
    m_dbURL = path;
}

bool SQLiteHelper::open()
{
    Database &database = db();
    if (!database.dialect().livesInAFile())
        return openServer();
    if (!m_folderChecked && !database.isOpen()) {
        m_folderChecked = true;
        // SQLite writes its journal beside the book: in a folder where nothing can be
        // written (a read-only mount, an archive disc) no write can succeed, so the book
        // is opened for reading only and no upgrade is tried.
        QTemporaryFile probe(QFileInfo(m_dbURL).absolutePath() + u"/.quenta-write-test-XXXXXX"_s);
        if (QFileInfo::exists(m_dbURL) && !probe.open())
            database.setOpenReadOnly(true);
    }
    if (!database.open()) {
        noteFailure(database.lastError());
        return false;
    }
    if (!m_upgraded) {
        m_upgraded = true;
        // Before anything is written: writing into a damaged file can spread the damage,
        // so such a file is kept for reading only (and told at start).
        // A book of this version is not written by the upgrade, so its check can wait.
        std::optional<QString> damage;
        if (m_fileCheck == FileCheck::Later
            && SchemaUpgrade::version(database) == SchemaUpgrade::currentVersion) {
            m_fileCheckPending = true;
            damage = QString();
        } else {
            damage = quickCheck(database);
        }
        if (!damage) {
            m_upgraded = false;
            return true;
        }
        m_damage = *damage;
        if (!m_damage.isEmpty()) {
            writeDatabaseDiagnostic(u"The database file is damaged: "_s + m_damage);
            database.setOpenReadOnly(true);
            if (!database.open()) {
                noteFailure(database.lastError());
                return false;
            }
        } else if (const QStringList unknown = unknownObjectsOf(database); !unknown.isEmpty()) {
            // Nothing is written into a book that carries code of its own: a trigger can
            // drop or change every save while the save reports success.
            m_schemaReport.version = SchemaUpgrade::version(database);
            m_schemaReport.unknownObjects = unknown;
            writeDatabaseDiagnostic(u"The database file holds unknown objects: "_s
                                    + unknown.join(u", "_s));
            database.setOpenReadOnly(true);
            if (!database.open()) {
                noteFailure(database.lastError());
                return false;
            }
        } else {
            m_schemaReport = SchemaUpgrade::apply(database);
            // A book from a newer program is read, never written: this one does not know
            // what the newer one keeps in it.
            if (m_schemaReport.isNewer) {
                writeDatabaseDiagnostic(u"The database file comes from a newer program"_s);
                database.setOpenReadOnly(true);
                if (!database.open()) {
                    noteFailure(database.lastError());
                    return false;
                }
            }
        }
    }
    return true;
}

bool SQLiteHelper::openServer()
{
    Database &database = db();
    if (database.isOpen())
        return true;
    if (!database.open()) {
        noteFailure(database.lastError());
        return false;
    }
    if (m_upgraded)
        return true;
    m_upgraded = true;
    m_schemaReport = SchemaUpgrade::applyOnServer(database);
    if (m_schemaReport.version < 0) {
        m_upgraded = false;
        noteFailure(database.lastError());
        database.close();
        return false;
    }
    if (m_schemaReport.isNewer) {
        writeDatabaseDiagnostic(u"The shared book comes from a newer program"_s);
        database.setOpenReadOnly(true);
        if (!database.open()) {
            noteFailure(database.lastError());
            return false;
        }
    }
    return true;
}

QString SQLiteHelper::noteFailure(const DatabaseError &failure)
{
    m_lastError = failure.message();
    return m_lastError;
}

std::unique_ptr<ResultSet> SQLiteHelper::query(const QString &sql, const QStringList &arguments,
                                               Database::Plan plan)
{
    if (!open())
        return nullptr;
    Database &database = db();
    std::unique_ptr<ResultSet> resultSet = database.executeQuery(sql, arguments, plan);
    if (!resultSet)
        noteFailure(database.lastError());
    return resultSet;
}

std::vector<std::unique_ptr<ResultSet>> SQLiteHelper::queryEach(const QStringList &statements)
{
    if (!open())
        return {};
    Database &database = db();
    std::vector<std::unique_ptr<ResultSet>> answers = database.executeEach(statements);
    if (answers.size() != size_t(statements.size())) {
        noteFailure(database.lastError());
        answers.clear();
    }
    return answers;
}

bool SQLiteHelper::write(const QString &sql, Changes changes)
{
    Database &database = db();
    // A connection keeps writing into a file deleted from under it, and everything saved
    // after that is gone when the program ends. So a write never goes to a file that is
    // no longer at the path: it fails, and the connection closes. The next use opens
    // whatever is at the path then, and a missing file is refused, not created empty.
    if (database.isOpen() && database.isGoneFromItsPath()) {
        writeDatabaseDiagnostic(u"The database file has been deleted or replaced: "_s
                                + database.databasePath());
        m_lastError = u"数据库文件已被删除或替换"_s;
        database.close();
        return false;
    }
    if (!open()) {
        database.close();
        return false;
    }
    const qint64 changesBefore = database.totalChanges();
    if (!database.executeStatements(sql)) {
        noteFailure(database.lastError());
        // A server's connection stays: a failed statement there ends only its transaction.
        if (!database.dialect().survivesFailedStatement() || !database.isOpen())
            database.close();
        return false;
    }
    if (changes == Changes::AtLeastOne && database.totalChanges() == changesBefore) {
        m_lastError = u"要保存的记录已不存在"_s;
        return false;
    }
    return true;
}

bool SQLiteHelper::exists(const QString &sql)
{
    std::unique_ptr<ResultSet> resultSet = query(sql);
    if (!resultSet || !resultSet->next())
        return false;
    return resultSet->intForColumnIndex(0) > 0;
}

std::optional<qint64> SQLiteHelper::count(const QString &sql, const QStringList &arguments,
                                          Database::Plan plan)
{
    std::unique_ptr<ResultSet> resultSet = query(sql, arguments, plan);
    if (!resultSet)
        return std::nullopt;
    if (!resultSet->next()) {
        if (resultSet->hasError())
            noteFailure(resultSet->error());
        else
            m_lastError = u"查询没有结果"_s;
        return std::nullopt;
    }
    return resultSet->int64ForColumnIndex(0);
}

std::optional<qint64> SQLiteHelper::tableCount(const QStringList &names)
{
    return count(db().dialect().tableCountStatement(names));
}

std::optional<bool> SQLiteHelper::hasIndex(const QString &name)
{
    const std::optional<qint64> found = count(db().dialect().indexCountStatement(name));
    if (!found)
        return std::nullopt;
    return *found > 0;
}

std::optional<QStringList> SQLiteHelper::columnNames(const QString &table)
{
    std::unique_ptr<ResultSet> rows = query(db().dialect().columnsStatement(table));
    if (!rows)
        return std::nullopt;
    QStringList columns;
    while (rows->next())
        columns.append(rows->stringForColumnIndex(1).value_or(QString()));
    if (rows->hasError())
        return std::nullopt;
    return columns;
}

std::optional<qint64> SQLiteHelper::dataVersion()
{
    // A count that moves with this program's own writes too has them taken off (a write of
    // another desk committed while this one wrote is heard from its notification instead).
    const std::optional<qint64> changes = serverChanges();
    if (!changes)
        return std::nullopt;
    return dataVersionOf(*changes);
}

qint64 SQLiteHelper::dataVersionOf(qint64 counted)
{
    return db().dialect().dataVersionCountsOwnCommits() ? counted - m_ownServerChanges : counted;
}

std::optional<qint64> SQLiteHelper::serverChanges()
{
    std::unique_ptr<ResultSet> rows = query(db().dialect().dataVersionStatement());
    if (!rows || !rows->next() || rows->hasError())
        return std::nullopt;
    return rows->int64ForColumnIndex(0);
}

void SQLiteHelper::beginOwnWrite()
{
    m_serverChangesAtBegin.reset();
    if (db().dialect().dataVersionCountsOwnCommits())
        m_serverChangesAtBegin = serverChanges();
}

void SQLiteHelper::endOwnWrite(bool committed)
{
    if (!m_serverChangesAtBegin)
        return;
    // A write that was rolled back counted all the same: the sequence does not go back.
    if (const std::optional<qint64> after = serverChanges())
        m_ownServerChanges += *after - *m_serverChangesAtBegin;
    m_serverChangesAtBegin.reset();
    (void)committed;
}

std::optional<QString> SQLiteHelper::quickCheck(Database &database)
{
    // An engine that keeps its own storage whole (a server) has nothing here to check.
    const QString check = database.dialect().integrityCheckStatement();
    if (check.isEmpty())
        return QString();
    // A lock held by another program stops the check, but says nothing about the file:
    // no answer, and the check runs again at the next use. So does a check interrupted to
    // let a save through.
    const auto isLock = [](const DatabaseError &failure) {
        return failure.isLock() || failure.kind() == DatabaseError::Kind::Interrupted;
    };
    std::unique_ptr<ResultSet> resultSet = database.executeQuery(check);
    if (!resultSet) {
        if (isLock(database.lastError()))
            return std::nullopt;
        return database.lastError().message();
    }
    QStringList findings;
    while (resultSet->next())
        findings.append(resultSet->stringForColumnIndex(0).value_or(QString()));
    if (resultSet->hasError()) {
        if (isLock(resultSet->error()))
            return std::nullopt;
        findings.append(resultSet->error().message());
    }
    if (findings == QStringList(u"ok"_s))
        return QString();
    return findings.join(u'\n');
}

bool SQLiteHelper::checkUsable(QString *error, const QString &probe)
{
    auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!isAvailable())
        return fail(m_failureMessage);
    Database &database = db();
    if (!open())
        return fail(u"无法打开数据库：%1（%2）"_s.arg(bookName(), m_lastError));
    if (!probe.isEmpty()) {
        std::unique_ptr<ResultSet> resultSet = database.executeQuery(probe);
        if (!resultSet || !resultSet->next()) {
            const QString reason = database.lastError().detail();
            database.close();
            return fail(u"数据库文件无法使用：%1（%2）"_s.arg(bookName(), reason));
        }
    }
    return true;
}

QString SQLiteHelper::bookName()
{
    return db().bookName();
}

void SQLiteHelper::noteDamage(const QString &damage)
{
    m_fileCheckPending = false;
    if (damage.isEmpty() || !m_damage.isEmpty())
        return;
    m_damage = damage;
    writeDatabaseDiagnostic(u"The database file is damaged: "_s + m_damage);
    // Closes the connection; the next use opens it for reading only.
    db().setOpenReadOnly(true);
}
