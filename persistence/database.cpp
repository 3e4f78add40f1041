// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"

#include "databaseerror.h"

#include <QStringDecoder>

#include <cstdio>

using namespace Qt::StringLiterals;

void writeDatabaseDiagnostic(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

std::optional<QString> decodeColumnText(QByteArrayView bytes)
{
    // Plain ASCII, by far the commonest case (numbers, ids, dates), skips the decoder.
    bool ascii = true;
    for (const char byte : bytes) {
        if (static_cast<unsigned char>(byte) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes.data(), bytes.size());
    // ConvertInitialBom: a value that begins with U+FEFF keeps it; the decoder would
    // otherwise take it for a byte order mark and drop it.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless
                               | QStringDecoder::Flag::ConvertInitialBom);
    QString result = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return result;
}

bool Database::isServerBook(const QString &book)
{
    return book.startsWith(u"postgresql://"_s) || book.startsWith(u"postgres://"_s);
}

// --- ResultSet ---------------------------------------------------------------

ResultSet::ResultSet(std::unique_ptr<EngineRows> rows, Database *parent)
    : m_rows(std::move(rows))
    , m_parent(parent)
{ }

ResultSet::~ResultSet()
{
    close();
}

bool ResultSet::next()
{
    if (!m_rows)
        return false;
    if (m_rows->next(m_error))
        return true;
    if (m_rows->closesAtEnd())
        close();
    return false;
}

void ResultSet::close()
{
    m_rows.reset();
    if (m_parent) {
        m_parent->resultSetDidClose(this);
        m_parent = nullptr;
    }
}

int ResultSet::columnCount() const
{
    return m_rows ? m_rows->columnCount() : 0;
}

int ResultSet::columnIndexForName(const QString &name)
{
    const QString key = name.toLower();
    const int index = m_rows ? m_rows->columnIndex(key) : -1;
    if (index < 0)
        writeDatabaseDiagnostic(u"Warning: I could not find the column named '"_s + key + u"'."_s);
    return index;
}

std::optional<QString> ResultSet::stringForColumn(const QString &name)
{
    return stringForColumnIndex(columnIndexForName(name));
}

std::optional<QString> ResultSet::stringForColumnIndex(int index) const
{
    const std::optional<QByteArrayView> bytes = bytesForColumnIndex(index);
    if (!bytes)
        return std::nullopt;
    return decodeColumnText(*bytes);
}

std::optional<QByteArrayView> ResultSet::bytesForColumnIndex(int index) const
{
    if (index < 0 || index >= columnCount())
        return std::nullopt;
    return m_rows->bytes(index);
}

int ResultSet::intForColumn(const QString &name)
{
    return intForColumnIndex(columnIndexForName(name));
}

int ResultSet::intForColumnIndex(int index) const
{
    return index < 0 || index >= columnCount() ? 0 : m_rows->intValue(index);
}

qint64 ResultSet::int64ForColumnIndex(int index) const
{
    return index < 0 || index >= columnCount() ? 0 : m_rows->int64Value(index);
}

double ResultSet::doubleForColumn(const QString &name)
{
    return doubleForColumnIndex(columnIndexForName(name));
}

double ResultSet::doubleForColumnIndex(int index) const
{
    return index < 0 || index >= columnCount() ? 0.0 : m_rows->doubleValue(index);
}

// --- Database ----------------------------------------------------------------

Database::Database(const QString &databasePath, OpenMode openMode)
{
    m_settings.path = databasePath;
    m_settings.openMode = openMode;
    m_engine = isServerBook(databasePath) ? makeServerEngine(m_settings)
                                          : makeFileEngine(m_settings);
}

Database::~Database()
{
    close();
}

QString Database::description() const
{
    return u"<Database: %1>"_s.arg(m_engine->description());
}

bool Database::isReadOnly() const
{
    return m_engine->isReadOnly();
}

void Database::setOpenReadOnly(bool readOnly)
{
    if (readOnly == m_settings.openReadOnly)
        return;
    close();
    m_settings.openReadOnly = readOnly;
}

qint64 Database::totalChanges() const
{
    return m_engine->totalChanges();
}

bool Database::open()
{
    return m_engine->isOpen() || m_engine->open();
}

bool Database::close()
{
    // Closing a result set removes it from the set, so walk a copy.
    const QSet<ResultSet *> openResultSets = m_openResultSets;
    for (ResultSet *resultSet : openResultSets)
        resultSet->close();
    m_openResultSets.clear();
    m_engine->close();
    return true;
}

void Database::closeIfServerHungUp()
{
    if (m_engine->isOpen() && !m_settings.inTransaction) {
        m_engine->closeIfHungUp();
        if (!m_engine->isOpen())
            close();
    }
}

bool Database::executeStatements(const QString &sql)
{
    ++m_statementsSent;
    return m_engine->executeStatements(sql);
}

std::unique_ptr<ResultSet> Database::executeQuery(const QString &sql, const QStringList &arguments,
                                                  Plan plan)
{
    return executeWithValues(sql, SqlValues(arguments.begin(), arguments.end()), plan);
}

std::unique_ptr<ResultSet> Database::executeWithValues(const QString &sql, const SqlValues &arguments,
                                                       Plan plan)
{
    ++m_statementsSent;
    if (!m_engine->isOpen()) {
        writeDatabaseDiagnostic(u"The Database "_s + description() + u" is not open."_s);
        return nullptr;
    }
    std::unique_ptr<EngineRows> rows = m_engine->query(sql, arguments, plan);
    if (!rows)
        return nullptr;
    auto resultSet = std::make_unique<ResultSet>(std::move(rows), this);
    m_openResultSets.insert(resultSet.get());
    return resultSet;
}

std::vector<std::unique_ptr<ResultSet>> Database::executeEach(const QStringList &statements)
{
    std::vector<std::unique_ptr<ResultSet>> answers;
    m_statementsSent += statements.size();
    if (!m_engine->isOpen()) {
        writeDatabaseDiagnostic(u"The Database "_s + description() + u" is not open."_s);
        return answers;
    }
    for (std::unique_ptr<EngineRows> &rows : m_engine->queryEach(statements)) {
        answers.push_back(std::make_unique<ResultSet>(std::move(rows), this));
        m_openResultSets.insert(answers.back().get());
    }
    return answers;
}

bool Database::backupTo(const QString &path, QString *error, BackupPace pace,
                        const std::atomic_bool *cancel)
{
    QString reason;
    bool copied = false;
    if (path.isEmpty())
        reason = u"没有指定备份文件"_s;
    else
        copied = m_engine->backupTo(path, &reason, pace == BackupPace::GiveWay, cancel);
    if (copied)
        return true;
    writeDatabaseDiagnostic(u"Backup of %1 to %2 failed"_s.arg(databasePath(), path));
    if (error)
        *error = reason;
    return false;
}
