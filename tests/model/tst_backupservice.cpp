// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "backupservice.h"
#include "clock.h"
#include "outputfile.h"
#include "companystore.h"
#include "lookupstores.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "stores.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <sqlite3.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A connection of another program that runs `sql` and stays in the transaction it began
// (closing it rolls back); null when `sql` failed.
sqlite3 *connectionAfter(const QString &path, const QString &sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK)
        return db;
    sqlite3_close(db);
    return nullptr;
}

// The schema and every row of every table with its value types: equal for two files
// exactly when they hold the same book.
QStringList contentOf(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const auto rows = [db](const QString &sql) {
        QStringList lines;
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr);
        while (statement && sqlite3_step(statement) == SQLITE_ROW) {
            QString line;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const auto *bytes = static_cast<const char *>(sqlite3_column_blob(statement, i));
                line += u"%1:"_s.arg(sqlite3_column_type(statement, i))
                    + QString::fromUtf8(bytes, bytes ? sqlite3_column_bytes(statement, i) : 0)
                    + u'|';
            }
            lines.append(line);
        }
        sqlite3_finalize(statement);
        return lines;
    };
    QStringList content = rows(u"select type, name, sql from sqlite_schema order by name"_s);
    for (QString table : rows(u"select name from sqlite_schema where type = 'table'"_s))
        content += rows(u"select * from \"%1\" order by rowid"_s.arg(table.mid(2).chopped(1)));
    sqlite3_close(db);
    return content;
}

// A write that fails midway, as on a full disk: writes past `bytes` into any file fail.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
};

QStringList automaticBackups()
{
    return QDir(BackupService::backupsFolder()).entryList({u"Tovalin-auto-*"_s}, QDir::Files);
}

// A file in backups/ made at `made` (its modification time), with what `source` holds or
// empty.
bool placeBackup(const QString &name, const QDateTime &made, const QString &source = {})
{
    const QDir folder(BackupService::backupsFolder());
    const QString path = folder.filePath(name);
    if (!folder.mkpath(u"."_s)
        || !(source.isEmpty() ? writeFile(path, {}) : QFile::copy(source, path)))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(made, QFileDevice::FileModificationTime);
}

// The moment an automatic backup's name carries.
QDateTime namedTime(const QString &name)
{
    return QDateTime::fromString(name.mid(13, 15), u"yyyyMMdd-HHmmss"_s);
}

} // namespace

class tst_BackupService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_book = m_env->createDatabase();
        // Opened before any lock is taken: the first open's checks would wait on it too.
        QVERIFY(SQLiteHelper::shared().open());
        m_scratch = std::make_unique<QTemporaryDir>();
        Clock::pin(QDateTime(QDate(2024, 6, 15), QTime(10, 30)));
    }
    void cleanup()
    {
        Clock::unpin();
        m_scratch.reset();
        m_env.reset();
    }

    void backupBesideAWriter_data();
    void backupBesideAWriter();
    void backupRefused_data();
    void backupRefused();
    void rotationKeepsNewestOwnBackups_data();
    void rotationKeepsNewestOwnBackups();
    void rotationFollowsWhenMade();
    void backupIfDue_data();
    void backupIfDue();
    void everyFiftiethSave();
    void restoreRoundTrip();
    void restoreTheOldestAutomaticBackup();
    void bookIsWrittenWholeOrNotAtAll();
    void restoreRefused_data();
    void restoreRefused();
    void restoreKeepsNumbersIssued_data();
    void restoreKeepsNumbersIssued();
    void partialFilesRemovedAtStart_data();
    void partialFilesRemovedAtStart();

private:
    QString scratch(const QString &name) const { return m_scratch->filePath(name); }
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_book;
};

// Another program in the middle of a write: under its reserved lock the committed book is
// copied without the pending row; an exclusive lock is waited for, and when it outlasts
// the wait the backup fails and leaves the older one at the target.
void tst_BackupService::backupBesideAWriter_data()
{
    QTest::addColumn<bool>("exclusive");
    QTest::addColumn<bool>("letGo");
    QTest::newRow("reserved lock, write pending") << false << false;
    QTest::newRow("exclusive lock let go after 300 ms") << true << true;
    QTest::newRow("exclusive lock held throughout") << true << false;
}

void tst_BackupService::backupBesideAWriter()
{
    QFETCH(bool, exclusive);
    QFETCH(bool, letGo);
    QVERIFY(m_env->execRaw(
        receiptInsertSql(u"A"_s, u"0000001"_s, u"2024-06-01 09:00:00"_s,
                         u"'); drop table tb_receipt; --"_s)
        + receiptInsertSql(u"B"_s, u"0000002"_s, u"2024-06-02 09:00:00"_s, u"😀收款单位 \"乙\""_s)));
    const QStringList committed = contentOf(m_book);
    const QString target = scratch(u"backup.db"_s);
    QVERIFY(writeFile(target, "an older backup"));

    std::unique_ptr<HeldLock> held = exclusive ? std::make_unique<HeldLock>(m_book) : nullptr;
    QVERIFY(!held || held->isHeld());
    sqlite3 *writer = exclusive
        ? nullptr
        : connectionAfter(m_book,
                          u"BEGIN IMMEDIATE; "_s
                              + receiptInsertSql(u"C"_s, u"0000003"_s, u"2024-06-03 09:00:00"_s));
    QVERIFY(exclusive || writer);
    std::thread release([&] {
        if (letGo) {
            std::this_thread::sleep_for(300ms);
            held.reset();
        }
    });
    QString error;
    const bool ok = BackupService::backup(target, &error);
    release.join();
    held.reset();
    sqlite3_close(writer);

    QCOMPARE(filesBelow(m_scratch->path()), QStringList(u"backup.db"_s));
    if (!exclusive || letGo) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(contentOf(target), committed);
    } else {
        QVERIFY(!ok);
        QVERIFY2(error.contains(u"占用"_s), qPrintable(error));
        QCOMPARE(fileBytes(target), QByteArray("an older backup"));
    }
}

void tst_BackupService::backupRefused_data()
{
    QTest::addColumn<QString>("target"); // "BOOK" stands for the database path
    QTest::addColumn<QString>("says");
    const QString book = u"正在使用的数据库"_s;
    QTest::newRow("the book itself") << u"BOOK"_s << book;
    QTest::newRow("the book through a link") << u"link.db"_s << book;
    QTest::newRow("the book's journal") << u"BOOK-journal"_s << book;
    QTest::newRow("below a regular file") << u"/dev/null/backup.db"_s << u"文件夹不存在"_s;
    // SQLite says "full" on a full disk; a file size limit fails the writes otherwise.
    QTest::newRow("a write that fails midway") << u"backup.db"_s << u"无法写入备份文件"_s;
}

void tst_BackupService::backupRefused()
{
    QFETCH(QString, target);
    QFETCH(QString, says);
    const bool failingWrite = target == u"backup.db"_s;
    target.replace(u"BOOK"_s, m_book);
    if (!target.startsWith(u'/'))
        target = scratch(target);
    if (target.endsWith(u"link.db"_s))
        QVERIFY(QFile::link(m_book, target));
    const QByteArray book = fileHash(m_book);
    const QStringList documents = filesBelow(m_env->documentsPath());
    const QStringList elsewhere = filesBelow(m_scratch->path());

    QString error;
    bool ok = true;
    {
        std::optional<FileSizeLimit> full;
        if (failingWrite)
            full.emplace(16 * 1024); // the book is five times that
        ok = BackupService::backup(target, &error);
    }
    QVERIFY(!ok);
    QVERIFY2(error.contains(says), qPrintable(error));
    QVERIFY2(!error.contains(u".partial"_s), qPrintable(error)); // names the target
    QCOMPARE(fileHash(m_book), book);
    QCOMPARE(filesBelow(m_env->documentsPath()), documents);
    QCOMPARE(filesBelow(m_scratch->path()), elsewhere);
}

// The newest automatic backups are kept, a second one of the same second counting as the
// later; the user's backups, other files and look-alike names are never touched.
void tst_BackupService::rotationKeepsNewestOwnBackups_data()
{
    QTest::addColumn<int>("existing");
    QTest::newRow("29 before: none removed") << 29;
    QTest::newRow("30 before: the oldest removed") << 30;
    QTest::newRow("35 before: six removed") << 35;
}

void tst_BackupService::rotationKeepsNewestOwnBackups()
{
    QFETCH(int, existing);
    const QDir folder(BackupService::backupsFolder());
    QVERIFY(folder.mkpath(u"Tovalin-auto-20240101-000000-2.db"_s)); // a folder
    const QStringList foreign
        = {u"Tovalin-20240101-000000.db"_s,          u"notes.txt"_s,
           u"Tovalin-auto-20240101-000000.db.bak"_s, u"Tovalin-auto-latest.db"_s,
           u"Tovalin-auto-20241399-000000.db"_s,     u"Tovalin-auto-20240101-000000-1.db"_s,
           u"Tovalin-auto-20240101-000000-02.db"_s};
    QStringList made; // oldest first
    for (int i = 0; i < existing; ++i) {
        const QDateTime moment(QDate(2024, 4, 1).addDays(qMax(0, i - 1)), QTime(8, 0));
        made.append(u"Tovalin-auto-%1%2.db"_s.arg(moment.toString(u"yyyyMMdd-HHmmss"_s),
                                                  i == 1 ? u"-2"_s : QString()));
    }
    for (const QString &name : foreign + made)
        QVERIFY(placeBackup(name, QDateTime(QDate(2024, 1, 1), QTime(0, 0))));
    for (const QString &name : made)
        QVERIFY(placeBackup(name, namedTime(name)));

    QString error;
    QVERIFY2(BackupService::backupIfDue(&error), qPrintable(error));
    QStringList expected = made.mid(qMax(0, existing - 29)) + foreign
        + QStringList {u"Tovalin-auto-20240101-000000-2.db"_s,
                       u"Tovalin-auto-20240615-103000.db"_s};
    expected.sort();
    QCOMPARE(folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), expected);
}

// Backups made while the clock ran a year ahead, then three starts a day apart with the
// clock put right (or, alike, a clock set back a year): the new backups are the newest,
// whatever their names say, and the oldest of the others go.
void tst_BackupService::rotationFollowsWhenMade()
{
    QStringList ahead; // oldest first
    for (int day = 1; day <= BackupService::keptAutomaticBackups; ++day) {
        const QDateTime moment(QDate(2025, 6, day), QTime(8, 0));
        ahead.append(u"Tovalin-auto-%1.db"_s.arg(moment.toString(u"yyyyMMdd-HHmmss"_s)));
        QVERIFY(placeBackup(ahead.last(), moment));
    }
    QStringList made;
    for (int start = 0; start < 3; ++start) {
        const QDateTime now(QDate(2024, 6, 15 + start), QTime(10, 30));
        Clock::pin(now);
        QString error;
        QVERIFY2(BackupService::backupIfDue(&error), qPrintable(error));
        made.append(u"Tovalin-auto-%1.db"_s.arg(now.toString(u"yyyyMMdd-HHmmss"_s)));
    }
    QStringList expected = made + ahead.mid(3);
    expected.sort();
    QCOMPARE(automaticBackups(), expected);
}

void tst_BackupService::backupIfDue_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<bool>("made");
    QTest::newRow("none yet") << QString() << false << true;
    QTest::newRow("only one the user made") << u"Tovalin-20240615-100000.db"_s << false << true;
    QTest::newRow("an hour old") << u"Tovalin-auto-20240615-093000.db"_s << false << false;
    QTest::newRow("25 hours old") << u"Tovalin-auto-20240614-093000.db"_s << false << true;
    QTest::newRow("a day ahead: the clock was set back")
        << u"Tovalin-auto-20240616-113000.db"_s << false << true;
    QTest::newRow("damaged book: good backups are kept") << QString() << true << false;
}

void tst_BackupService::backupIfDue()
{
    QFETCH(QString, existing);
    QFETCH(bool, damaged);
    QFETCH(bool, made);
    const QString folder = BackupService::backupsFolder();
    if (!existing.isEmpty())
        QVERIFY(placeBackup(existing,
                            existing.contains(u"auto"_s) ? namedTime(existing)
                                                         : QDateTime::currentDateTime(),
                            m_book));
    if (damaged)
        QVERIFY(m_env->damageDatabase());
    QStringList expected = automaticBackups();
    const QString name = u"Tovalin-auto-20240615-103000.db"_s;
    if (made)
        expected.append(name);
    expected.sort();

    QString error;
    QCOMPARE(BackupService::backupIfDue(&error), !damaged);
    QCOMPARE(error.contains(u"损坏"_s), damaged);
    QCOMPARE(automaticBackups(), expected);
    RestoreCheck found;
    QVERIFY(!made || BackupService::checkRestoreFile(folder + u'/' + name, &found));
}

void tst_BackupService::everyFiftiethSave()
{
    for (int save = 1; save <= 100; ++save) {
        QVERIFY(BackupService::shared().noteSavedReceipt());
        QCOMPARE(automaticBackups().size(), save / 50);
    }
    // Both in the pinned second: the second one is numbered, not written over the first.
    QCOMPARE(automaticBackups(),
             QStringList(
                 {u"Tovalin-auto-20240615-103000-2.db"_s, u"Tovalin-auto-20240615-103000.db"_s}));
}

void tst_BackupService::restoreRoundTrip()
{
    QVERIFY(m_env->execRaw(
        receiptInsertSql(u"A"_s, u"0000001"_s, u"2024-03-01 09:00:00"_s)
        + receiptInsertSql(u"B"_s, u"0000002"_s, u"2024-05-20 17:00:00"_s)
        + u"update tb_company set title = '旧标题'; insert into tb_payer values ('P1', '老客户');"_s));
    const QString saved = scratch(u"saved.db"_s);
    QString error;
    QVERIFY2(BackupService::backup(saved, &error), qPrintable(error));

    // The book moves on, and the screens' stores show it, receipt C open for editing.
    QVERIFY(m_env->execRaw(
        receiptInsertSql(u"C"_s, u"0000003"_s, u"2024-06-01 09:00:00"_s)
        + u"update tb_company set title = '新标题'; insert into tb_payer values ('P2', '新客户');"_s));
    touchSharedStores(); // as the window does
    AppStore &app = AppStore::shared();
    app.setBeginDate(u"2024-01-01 00:00:00"_s);
    app.setEndDate(u"2024-12-31 23:59:59"_s);
    app.loadReceipts();
    QCOMPARE(app.receiptEdit().receiptNo, u"0000004"_s);
    CompanyStore &company = CompanyStore::shared();
    PayerStore &payers = PayerStore::shared();
    app.setSelectedId(u"C"_s);
    QVERIFY(app.loadSelected(true));
    const QStringList before = contentOf(m_book);

    // What a writer that crashed leaves: a journal of the old book's pages. Were the
    // restored book's first open to find it, it would play those pages back into it.
    const QString journal = m_book + u"-journal"_s;
    sqlite3 *writer = connectionAfter(m_book,
                                      u"PRAGMA synchronous = OFF; BEGIN IMMEDIATE; "
                                      u"update tb_company set title = '未完成';"_s);
    QVERIFY(writer && QFile::copy(journal, scratch(u"journal"_s)));
    sqlite3_close(writer);
    QVERIFY(QFile::copy(scratch(u"journal"_s), journal));

    RestoreCheck check;
    QString problem;
    QVERIFY2(BackupService::checkRestoreFile(saved, &check, &problem), qPrintable(problem));
    QCOMPARE(check.receiptCount, 2);
    QCOMPARE(check.earliestReceiptDate, u"2024-03-01 09:00:00"_s);
    QCOMPARE(check.latestReceiptDate, u"2024-05-20 17:00:00"_s);

    QVERIFY2(BackupService::restore(saved, &error), qPrintable(error));
    QStringList ids;
    for (const Receipt &receipt : app.receipts())
        ids.append(receipt.id);
    QCOMPARE(ids, QStringList({u"B"_s, u"A"_s}));
    QCOMPARE(company.company().title, u"旧标题"_s);
    QCOMPARE(payers.items(), QStringList(u"老客户"_s));
    // The edit of C belonged to the replaced book: the form starts a new receipt, numbered
    // after C, which is on paper, although the restored file's counter still says 1.
    QVERIFY(!app.selectedId() && app.receiptEdit().id.isEmpty());
    QCOMPARE(app.receiptEdit().receiptNo, u"0000004"_s);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"4"_s);
    QVERIFY(!QFile::exists(journal));
    QCOMPARE(m_env->queryRaw(u"PRAGMA integrity_check"_s), u"ok"_s);

    // What was replaced is kept as an automatic backup.
    QCOMPARE(automaticBackups(), QStringList(u"Tovalin-auto-20240615-103000.db"_s));
    QCOMPARE(contentOf(BackupService::backupsFolder() + u"/Tovalin-auto-20240615-103000.db"_s),
             before);
    QCOMPARE(filesBelow(m_env->documentsPath()).filter(u".partial"_s), QStringList());
}

// With the folder full, the safety backup must not make room by removing the very file
// that is to be restored.
void tst_BackupService::restoreTheOldestAutomaticBackup()
{
    const QDir folder(BackupService::backupsFolder());
    QVERIFY(folder.mkpath(u"."_s));
    QVERIFY(m_env->storeReceipt(u"A"_s, u"0000001"_s, u"2024-03-01 09:00:00"_s));
    const QString oldest = folder.filePath(u"Tovalin-auto-20240101-080000.db"_s);
    QVERIFY(BackupService::backup(oldest));
    for (int day = 2; day <= BackupService::keptAutomaticBackups; ++day)
        QVERIFY(QFile::copy(
            oldest,
            folder.filePath(u"Tovalin-auto-202401%1-080000.db"_s.arg(day, 2, 10, QChar(u'0')))));
    QVERIFY(m_env->execRaw(u"delete from tb_receipt"_s));

    QString error;
    QVERIFY2(BackupService::restore(oldest, &error), qPrintable(error));
    QCOMPARE(m_env->receiptCount(), 1);
    QVERIFY(QFile::exists(oldest));
    QCOMPARE(automaticBackups().size(), BackupService::keptAutomaticBackups + 1);
}

// The book's own file is written as every other: beside it, then put in place whole. Never
// through a link standing in its place, and a step refused before the replacement leaves the
// book as it was, with no hidden copy behind.
void tst_BackupService::bookIsWrittenWholeOrNotAtAll()
{
    const QByteArray book = fileHash(m_book);
    const QStringList documents = filesBelow(m_env->documentsPath());
    const auto fill = [](const QString &scratch, QString *) {
        return writeFile(scratch, "新的内容");
    };
    QString error;
    const QString link = scratch(u"link.db"_s);
    QVERIFY(QFile::link(m_book, link));
    QVERIFY(!OutputFile::writeBook(link, fill, nullptr, &error));
    QVERIFY2(error.contains(u"链接"_s), qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());

    bool asked = false;
    QVERIFY(!OutputFile::writeBook(
        m_book, fill,
        [&asked](QString *reason) {
            asked = true;
            *reason = u"数据库正被使用"_s;
            return false;
        },
        &error));
    QVERIFY(asked);
    QCOMPARE(error, u"数据库正被使用"_s);
    QCOMPARE(fileHash(m_book), book);
    QCOMPARE(filesBelow(m_env->documentsPath()), documents);

    const QString kept = scratch(u"kept.db"_s);
    QVERIFY(writeFile(kept, "旧的"));
    QVERIFY(QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner));
    const QFile::Permissions permissions = QFile::permissions(kept);
    QVERIFY(OutputFile::writeBook(kept, fill, nullptr, &error));
    QCOMPARE(fileBytes(kept), QByteArray("新的内容"));
    QCOMPARE(QFile::permissions(kept), permissions);
    QCOMPARE(QDir(QFileInfo(kept).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(),
             qsizetype(2)); // link.db and kept.db
}

void tst_BackupService::restoreRefused_data()
{
    // How the offered file is made: bytes, a backup changed by SQL, or a path.
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QString>("says");
    QTest::newRow("not a database") << u"text"_s << u"不是收据数据库"_s;
    QTest::newRow("empty file") << u"empty"_s << u"空的"_s;
    QTest::newRow("truncated") << u"truncated"_s << u"损坏"_s;
    QTest::newRow("missing table") << u"drop table tb_remark"_s << u"缺少表 tb_remark"_s;
    QTest::newRow("missing column")
        << u"alter table tb_receipt drop column approve"_s << u"缺少列 approve"_s;
    QTest::newRow("newer program") << u"PRAGMA user_version = 99"_s << u"较新版本"_s;
    // Code of its own in a book: saves that vanish or change while reported as saved.
    QTest::newRow("trigger deleting each new receipt")
        << u"create trigger eat after insert on tb_receipt begin "
           u"delete from tb_receipt where id = new.id; end"_s
        << u"触发器 eat（表 tb_receipt）"_s;
    QTest::newRow("trigger changing every total")
        << u"create trigger cent after update on tb_receipt begin "
           u"update tb_receipt set total = '0.01'; end"_s
        << u"触发器 cent"_s;
    QTest::newRow("trigger erasing the history")
        << u"create trigger forget after insert on tb_history begin delete from tb_history; end"_s
        << u"触发器 forget（表 tb_history）"_s;
    QTest::newRow("receipts behind a view")
        << u"alter table tb_receipt rename to tb_kept; "
           u"create view tb_receipt as select * from tb_kept; "
           u"create trigger pass instead of insert on tb_receipt begin select 1; end"_s
        << u"视图 tb_receipt"_s;
    QTest::newRow("a table of another program")
        << u"create table notes (line text)"_s << u"表 notes"_s;
    QTest::newRow("an index of another program")
        << u"create index idx_payer on tb_receipt (payer)"_s << u"索引 idx_payer"_s;
    QTest::newRow("a table replacing rows on a conflict")
        << u"drop table tb_payer; create table tb_payer "
           u"(id text primary key on conflict replace, content text)"_s
        << u"表 tb_payer"_s;
    QTest::newRow("the open book") << u"book"_s << u"正在使用"_s;
    QTest::newRow("the open book through a link") << u"link"_s << u"正在使用"_s;
    QTest::newRow("missing file") << u"missing"_s << u"不存在"_s;
    // A record changed after the backup was made.
    QTest::newRow("its record chain broken")
        << u"update tb_chainHead set rows = 1, head = 'x'"_s << u"记录链不符：第 1 条记录已被改动或删除"_s;
    QTest::newRow("good file, the book locked by another program") << u"locked"_s << u"占用"_s;
}

void tst_BackupService::restoreRefused()
{
    QFETCH(QString, offered);
    QFETCH(QString, says);
    // Enough receipts that half the file is well inside the receipt table.
    QVERIFY(m_env->execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 300) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, isDeleted, remark) "
        u"select 'ID' || i, printf('%07d', i), '2024-05-01 00:00:00', '0', "
        u"hex(randomblob(200)) from n;"_s));
    QString path = scratch(u"offered.db"_s);
    if (offered == u"book")
        path = m_book;
    else if (offered == u"link")
        QVERIFY(QFile::link(m_book, path));
    else if (offered == u"text" || offered == u"empty")
        QVERIFY(writeFile(path, offered == u"text" ? "不是。" : ""));
    else if (offered != u"missing")
        QVERIFY(BackupService::backup(path));
    if (offered == u"truncated")
        QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
    else if (offered.contains(u' ')) {
        sqlite3 *changed = connectionAfter(path, offered);
        QVERIFY(changed);
        sqlite3_close(changed);
    }
    const QByteArray book = fileHash(m_book);
    const QStringList documents = filesBelow(m_env->documentsPath());

    RestoreCheck check;
    QString problem;
    const bool taken = BackupService::checkRestoreFile(path, &check, &problem);
    QCOMPARE(taken, offered == u"locked");
    QString error;
    {
        std::optional<HeldLock> lock;
        if (offered == u"locked")
            lock.emplace(m_book);
        QVERIFY(!BackupService::restore(path, &error));
    }
    QVERIFY2(error.contains(says), qPrintable(error));
    QVERIFY(taken || error == problem);
    QCOMPARE(fileHash(m_book), book);
    // The safety backup that failed may leave its folder behind, empty.
    QStringList after = filesBelow(m_env->documentsPath());
    if (!documents.contains(u"backups"_s))
        after.removeOne(u"backups"_s);
    QCOMPARE(after, documents);
}

// Issue 1–5, back up, issue more, restore the backup: the confirmation names what goes,
// the counter goes on after the highest number ever issued (a deleted one too: its paper
// exists), and the history keeps the restore with what the replaced book held. A backup of
// the previous version (no voids, no history) is brought up to date in the same step.
void tst_BackupService::restoreKeepsNumbersIssued_data()
{
    QTest::addColumn<QStringList>("issuedAfter"); // "-" before a number: deleted since
    QTest::addColumn<QString>("loss");
    QTest::addColumn<QString>("next");
    QTest::addColumn<int>("replacedCount");
    QTest::addColumn<bool>("older"); // the backup made by the previous version
    QTest::newRow("five issued since")
        << QStringList({u"0000006"_s, u"0000007"_s, u"0000008"_s, u"0000009"_s, u"0000010"_s})
        << u"将失去 5 张收据：No.0000006 … No.0000010"_s << u"11"_s << 10 << false;
    QTest::newRow("runs and single numbers")
        << QStringList(
               {u"0000006"_s, u"0000007"_s, u"0000009"_s, u"0000012"_s, u"0000013"_s, u"0000014"_s})
        << u"将失去 6 张收据：No.0000006、No.0000007、No.0000009、No.0000012 … No.0000014"_s
        << u"15"_s << 11 << false;
    QTest::newRow("the newest deleted since")
        << QStringList({u"0000006"_s, u"-0000007"_s}) << u"将失去 1 张收据：No.0000006"_s << u"8"_s
        << 6 << false;
    QTest::newRow("nothing issued since") << QStringList() << QString() << u"6"_s << 5 << false;
    QTest::newRow("older version") << QStringList() << QString() << u"6"_s << 5 << true;
}

void tst_BackupService::restoreKeepsNumbersIssued()
{
    QFETCH(QStringList, issuedAfter);
    QFETCH(QString, loss);
    QFETCH(QString, next);
    QFETCH(int, replacedCount);
    QFETCH(bool, older);
    for (int number = 1; number <= 5; ++number)
        QVERIFY(m_env->storeReceipt(u"ID%1"_s.arg(number), u"%1"_s.arg(number, 7, 10, QChar(u'0')),
                                    u"2024-06-01 09:00:00"_s));
    QVERIFY(m_env->execRaw(u"update tb_receiptNo set currNum = '6'"_s));
    const QString saved = scratch(u"saved.db"_s);
    QVERIFY(BackupService::backup(saved));
    sqlite3 *changed = older ? connectionAfter(saved,
                                               u"drop table tb_void; drop table "
                                               u"tb_history; pragma user_version = 0"_s)
                             : nullptr;
    QVERIFY(changed || !older);
    sqlite3_close(changed);
    for (QString number : std::as_const(issuedAfter)) {
        const bool deleted = number.startsWith(u'-');
        number.remove(u'-');
        QVERIFY(m_env->storeReceipt(u"ID"_s + number, number, u"2024-06-02 09:00:00"_s));
        if (deleted)
            QVERIFY(m_env->execRaw(
                u"update tb_receipt set isDeleted = '1' where receiptNo = '%1'"_s.arg(number)));
    }

    RestoreCheck check;
    QString problem;
    QVERIFY2(BackupService::checkRestoreFile(saved, &check, &problem), qPrintable(problem));
    QCOMPARE(check.lossText(), loss);
    QString error;
    QVERIFY2(BackupService::restore(saved, &error), qPrintable(error));
    QCOMPARE(m_env->receiptCount(), 5);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), next);
    QCOMPARE(m_env->queryRaw(u"pragma user_version"_s), u"7"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_void"_s), 0);
    // An older backup's record chain starts when it is brought up to date, its five receipts
    // (stored without history) recorded as they are found.
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history where action = 'chain'"_s),
             older ? 6 : 0);
    QCOMPARE(m_env->queryRaw(u"select action || ' ' || coalesce(receiptId, '-') from tb_history "
                             u"where action <> 'chain'"_s),
             u"restore -"_s);
    const QJsonObject detail
        = QJsonDocument::fromJson(
              m_env->queryRaw(u"select detail from tb_history where action = 'restore'"_s).toUtf8())
              .object();
    QCOMPARE(detail.value(u"replacedReceiptCount"_s).toInt(), replacedCount);
    QCOMPARE(detail.value(u"replacedHighestNo"_s).toString(),
             u"%1"_s.arg(next.toInt() - 1, 7, 10, QChar(u'0')));
    QCOMPARE(detail.value(u"file"_s).toString(), saved);
}

// What a killed backup or restore leaves (a hidden copy and its journal) goes at start;
// nothing else does, nor a copy another program is still writing.
void tst_BackupService::partialFilesRemovedAtStart_data()
{
    QTest::addColumn<QString>("name"); // in the book's folder, or below backups/
    QTest::addColumn<bool>("removed");
    QTest::newRow("a restore's copy") << u".Tovalin.db.0123abcd.partial"_s << true;
    QTest::newRow("its journal") << u".Tovalin.db.0123abcd.partial-journal"_s << true;
    QTest::newRow("an automatic backup's copy")
        << u"backups/.Tovalin-auto-20240101-080000.db.89abcdef.partial"_s << true;
    QTest::newRow("a backup the user named") << u".mine.db.00000000.partial"_s << true;
    QTest::newRow("not hidden") << u"Tovalin.db.0123abcd.partial"_s << false;
    QTest::newRow("another suffix") << u".Tovalin.db.0123abcd.partial.txt"_s << false;
    QTest::newRow("not our number") << u".Tovalin.db.0123ABCD.partial"_s << false;
    QTest::newRow("a folder") << u".Tovalin.db.0123abcd.partial/"_s << false;
    QTest::newRow("while another program writes there")
        << u"busy/.Tovalin.db.0123abcd.partial"_s << false;
}

void tst_BackupService::partialFilesRemovedAtStart()
{
    QFETCH(QString, name);
    QFETCH(bool, removed);
    const QDir documents(m_env->documentsPath());
    const bool busy = name.startsWith(u"busy/"_s);
    name.remove(u"busy/"_s);
    const QString path = documents.filePath(name);
    QVERIFY(documents.mkpath(u"backups"_s));
    QVERIFY(name.endsWith(u'/') ? documents.mkpath(name) : writeFile(path, "partial"));
    const int folder = ::open(QFile::encodeName(documents.path()).constData(), O_RDONLY);
    QVERIFY(folder >= 0 && (!busy || ::flock(folder, LOCK_SH) == 0));

    BackupService::removePartialFiles();
    ::close(folder);
    QCOMPARE(!QFileInfo::exists(path), removed);
    QVERIFY(QFileInfo::exists(m_book));
}

QTEST_GUILESS_MAIN(tst_BackupService)
#include "tst_backupservice.moc"
