// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include "appstore.h"
#include "pgtestserver.h"
#include "receiptbook.h"
#include "recordchain.h"
#include "sharedbook.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "stores.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <sqlite3.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

TestEnvironment::TestEnvironment()
{
    // Preferences go to a config folder of this test's own: tests run in parallel and
    // must not see each other's remembered choices, nor the user's.
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(u"config"_s).toUtf8());
    qputenv("QUENTA_DOCUMENTS_DIR", m_dir.path().toUtf8());
    qunsetenv("QUENTA_TEMPLATE");
    qunsetenv("QUENTA_BOOK");
    resetSharedStores();
    if (!onServer())
        return;
    // One database for the test program, emptied and given a new book for each test: a
    // new database each time would cost more than the test.
    PgTestServer &server = PgTestServer::shared();
    if (!server.isRunning())
        qFatal("the test server does not run: %s", qPrintable(server.startError()));
    static const QString database = server.createDatabase();
    const QString uri = server.socketUri(database);
    if (!server.execute(u"drop schema public cascade; create schema public;"_s, database))
        qFatal("the test book cannot be emptied");
    QString error;
    if (!SharedBook::create(uri, {}, {}, &error))
        qFatal("the test book cannot be made: %s", qPrintable(error));
    qputenv("QUENTA_BOOK", uri.toUtf8());
    m_server = std::make_unique<PgConnection>(uri);
    if (!m_server->open())
        qFatal("the test book cannot be opened");
}

TestEnvironment::~TestEnvironment()
{
    resetSharedStores();
    m_server.reset();
    qunsetenv("QUENTA_DOCUMENTS_DIR");
    qunsetenv("QUENTA_TEMPLATE");
    qunsetenv("QUENTA_BOOK");
}

bool TestEnvironment::onServer()
{
    return qEnvironmentVariable("QUENTA_TEST_BOOK") == u"server"_s;
}

QString TestEnvironment::databasePath() const
{
    if (m_server)
        return m_server->connectionString();
    return m_dir.filePath(u"Tovalin.db"_s);
}

QString TestEnvironment::createDatabase()
{
    return SQLiteHelper::shared().dbURL();
}

void TestEnvironment::makeDatabaseUnopenable()
{
    createDatabase();
    SQLiteHelper::shared().db().close();
    QFile::remove(databasePath());
}

bool TestEnvironment::damageDatabase()
{
    const QString path = createDatabase();
    if (!execRaw(u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 400) "
                 u"insert into tb_receipt (id, receiptNo, receiptDate, createDate, total, "
                 u"isDeleted, remark) select 'ID' || i, printf('D%06d', i), "
                 u"'2024-05-01 00:00:00', '2024-05-01 10:00:00', '1.0', '0', "
                 u"hex(randomblob(200)) from n;"_s))
        return false;
    resetSharedStores();
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.size() < 20 * 4096)
        return false;
    file.seek(file.size() / 2 / 4096 * 4096);
    return file.write(QByteArray(4096, '\x5a')) == 4096;
}

namespace {
struct RawConnection
{
    explicit RawConnection(const QString &path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &handle, SQLITE_OPEN_READWRITE, nullptr);
        // Another program that links the history rows it writes as this one does.
        RecordChain::addLinkFunction(handle);
    }
    ~RawConnection() { sqlite3_close(handle); }
    sqlite3 *handle = nullptr;
};
} // namespace

bool TestEnvironment::execRaw(const QString &sql) const
{
    if (m_server) {
        // The server may have been stopped and started again meanwhile.
        if (!m_server->isAlive())
            m_server->reconnect();
        if (m_server->executeStatements(sql))
            return true;
        qWarning("raw exec failed: %s", qPrintable(m_server->lastError().text()));
        return false;
    }
    RawConnection db(databasePath());
    char *error = nullptr;
    const int code = sqlite3_exec(db.handle, sql.toUtf8().constData(), nullptr, nullptr, &error);
    if (error) {
        qWarning("raw exec failed: %s", error);
        sqlite3_free(error);
    }
    return code == SQLITE_OK;
}

QString TestEnvironment::queryRaw(const QString &sql) const
{
    if (m_server) {
        if (!m_server->isAlive())
            m_server->reconnect();
        const std::optional<PgResult> rows = m_server->executeQuery(sql);
        if (!rows || rows->rowCount() == 0)
            return u"<none>"_s;
        return rows->text(0, 0).value_or(u"<null>"_s);
    }
    RawConnection db(databasePath());
    sqlite3_stmt *statement = nullptr;
    QString result = u"<none>"_s;
    if (sqlite3_prepare_v2(db.handle, sql.toUtf8().constData(), -1, &statement, nullptr)
            == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW) {
        const auto *text = sqlite3_column_text(statement, 0);
        result = text ? QString::fromUtf8(reinterpret_cast<const char *>(text),
                                          sqlite3_column_bytes(statement, 0))
                      : u"<null>"_s;
    }
    sqlite3_finalize(statement);
    return result;
}

int TestEnvironment::countRaw(const QString &sql) const
{
    return queryRaw(sql).toInt();
}

bool TestEnvironment::storeReceipt(const QString &id, const QString &receiptNo,
                                   const QString &receiptDate, const QString &payer,
                                   double total) const
{
    return execRaw(receiptInsertSql(id, receiptNo, receiptDate, payer, total));
}

int TestEnvironment::receiptCount() const
{
    return countRaw(u"select count(*) from tb_receipt"_s);
}

HeldLock::HeldLock(const QString &path)
{
    sqlite3_open_v2(path.toUtf8().constData(), &m_handle, SQLITE_OPEN_READWRITE, nullptr);
    m_held = sqlite3_exec(m_handle, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

HeldLock::~HeldLock()
{
    sqlite3_exec(m_handle, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_handle);
}

StreamCapture::StreamCapture(int fd)
    : m_fd(fd)
    , m_dir(std::make_unique<QTemporaryDir>())
{
    m_path = m_dir->filePath(u"capture.txt"_s);
    std::fflush(fd == 1 ? stdout : stderr);
    m_saved = ::dup(fd);
    const int file
        = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, fd);
    ::close(file);
}

StreamCapture::~StreamCapture()
{
    restore();
}

void StreamCapture::restore()
{
    if (m_saved < 0)
        return;
    std::fflush(m_fd == 1 ? stdout : stderr);
    ::dup2(m_saved, m_fd);
    ::close(m_saved);
    m_saved = -1;
}

QString StreamCapture::text()
{
    std::fflush(m_fd == 1 ? stdout : stderr);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList StreamCapture::lines()
{
    QStringList lines = text().split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

std::optional<Receipt> storedReceipt(const QString &id)
{
    std::optional<Receipt> receipt;
    return ReceiptBook::shared().read(id, &receipt) ? receipt : std::nullopt;
}

bool receiptsDated(const QString &begin, const QString &end, QList<Receipt> *receipts,
                   QString *error)
{
    ReceiptBook::RangeRead read;
    const bool ok = ReceiptBook::shared().readRange(begin, end, &read, error);
    *receipts = read.receipts;
    return ok;
}

QString dayText(int daysFromToday)
{
    return QDate::currentDate().addDays(daysFromToday).toString(u"yyyy-MM-dd 00:00:00"_s);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
        : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

QStringList filesBelow(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(QDir(folder).relativeFilePath(it.next()));
    names.sort();
    return names;
}

Run runQuenta(const QStringList &arguments, const QStringList &wrapper)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"QT_QPA_PLATFORM"_s);
    process.setProcessEnvironment(environment);
    const QString quenta = QCoreApplication::applicationDirPath() + u"/quenta"_s;
    if (wrapper.isEmpty())
        process.start(quenta, arguments);
    else
        process.start(wrapper.constFirst(), wrapper.mid(1) + QStringList(quenta) + arguments);
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QStringList withoutWriteOverride()
{
    // Root's capabilities come from the bounding set at exec: without CAP_DAC_OVERRIDE
    // there, file modes hold for it too. Nothing to drop for anyone else.
    if (::geteuid() != 0)
        return {};
    return {u"setpriv"_s, u"--bounding-set=-dac_override"_s};
}

namespace {
QString pdftotext(const QStringList &arguments, QByteArray *errors)
{
    const QString tool = QStandardPaths::findExecutable(u"pdftotext"_s);
    if (tool.isEmpty())
        return {};
    QProcess process;
    process.start(tool, arguments + QStringList {u"-"_s});
    process.waitForFinished(60000);
    if (errors)
        *errors = process.readAllStandardError();
    return QString::fromUtf8(process.readAllStandardOutput());
}
} // namespace

QString pdfToText(const QString &path, QByteArray *errors)
{
    return pdftotext({path}, errors);
}

QList<PdfWord> pdfWords(const QString &path)
{
    static const QRegularExpression word(u"<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" "
                                         u"xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"_s);
    QList<PdfWord> words;
    for (auto it = word.globalMatch(pdftotext({u"-bbox"_s, path}, nullptr)); it.hasNext();) {
        const auto m = it.next();
        words.append({m.captured(5),
                      QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                             QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))});
    }
    return words;
}

std::optional<QRectF> wordBox(const QList<PdfWord> &words, const QString &text)
{
    for (const PdfWord &word : words) {
        if (word.text == text)
            return word.box;
    }
    return std::nullopt;
}

QStringList pdfPages(const QString &path)
{
    static const QRegularExpression pageOrBox(
        u"/Type\\s*/Page(?![a-zA-Z])|/MediaBox\\s*\\[\\s*([-\\d.]+)\\s+([-\\d.]+)\\s+"
        u"([-\\d.]+)\\s+([-\\d.]+)"_s);
    QStringList found;
    for (auto it = pageOrBox.globalMatch(QString::fromLatin1(fileBytes(path))); it.hasNext();) {
        const auto m = it.next();
        const auto mm = [&](int i) {
            return QString::number(
                qAbs(m.captured(i + 2).toDouble() - m.captured(i).toDouble()) / 72 * 25.4, 'f', 1);
        };
        found.append(m.captured(1).isEmpty() ? u"page"_s : mm(1) + u" × "_s + mm(2) + u" mm"_s);
    }
    found.sort();
    return found;
}

QString receiptInsertSql(const QString &id, const QString &receiptNo, const QString &receiptDate,
                         const QString &payer, double total)
{
    return u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, reason2, remark, "
           u"paytype, payee, approve, accountant, creator, createDate, total, totalBig, isDeleted) "
           u"values (%1, %2, %3, %4, '事由', '', '', '现金', '', '', '', '', "
           u"'2024-01-01 10:00:00', %5, '壹元整', '0');"_s.arg(
               sqlQuote(id), sqlQuote(receiptNo), sqlQuote(receiptDate), sqlQuote(payer),
               sqlQuote(QString::number(total, 'f', 2)));
}

Receipt printableReceipt(const QString &receiptNo, const QString &payer)
{
    Receipt receipt;
    receipt.id = u"ID-"_s + receiptNo;
    receipt.receiptNo = receiptNo;
    receipt.receiptDate = QDateTime(QDate(2024, 5, 1), QTime(0, 0));
    receipt.payer = payer;
    receipt.reason1 = u"场地租金"_s;
    receipt.reason2 = u"五月份"_s;
    receipt.remark = u"已开发票"_s;
    receipt.paytype = u"现金"_s;
    receipt.payee = u"王丽"_s;
    receipt.approve = u"陈建国"_s;
    receipt.accountant = u"李敏"_s;
    receipt.total = 1234.5;
    receipt.totalBig = u"叁元整"_s;
    return receipt;
}

Receipt listedReceipt(const QString &receiptNo, const QString &payer, double total)
{
    Receipt receipt;
    receipt.id = receipt.receiptNo = receiptNo;
    receipt.payer = payer;
    receipt.reason1 = u"房租"_s;
    receipt.receiptDate = QDateTime(QDate(2024, 5, 1), QTime(0, 0));
    receipt.createDate = QDateTime(QDate(2024, 5, 1), QTime(10, 20, 30));
    receipt.total = total;
    return receipt;
}

QString saveNewReceipt(const QString &payer, double total, QString *error)
{
    AppStore &store = AppStore::shared();
    store.newReceipt();
    Receipt edit = store.receiptEdit();
    edit.id = u"ID-"_s + payer;
    edit.payer = payer;
    edit.reason1 = u"房租"_s;
    edit.total = total;
    store.setReceiptEdit(edit);
    return store.insertReceipt(error) ? edit.id : QString();
}
