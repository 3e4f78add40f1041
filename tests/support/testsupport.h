// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// A fresh documents folder for one test: the environment points the database helper
// at it, every shared store is dropped, and the remembered preferences are cleared.
// The database itself is copied from the template at the first store access, exactly
// as on a first start.
//
// Run with QUENTA_TEST_BOOK=server, the book is a shared book on the test program's own
// PostgreSQL server instead (one database, emptied and made anew for each environment),
// and the raw statements run there: the same store tests then check both engines.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    // Whether this run's books are on a server.
    static bool onServer();

    QString documentsPath() const { return m_dir.path(); }
    QString databasePath() const;
    // Makes the database now (first-run copy) and answers its path.
    QString createDatabase();
    // Runs SQL straight on the database file with libsqlite3, beside the program's own
    // connection, to arrange rows or inspect what the program wrote.
    bool execRaw(const QString &sql) const;
    QString queryRaw(const QString &sql) const; // first column of the first row, or "<null>"
    int countRaw(const QString &sql) const;
    // Inserts a receipt row with receiptInsertSql.
    bool storeReceipt(const QString &id, const QString &receiptNo, const QString &receiptDate,
                      const QString &payer = QStringLiteral("甲"), double total = 1.0) const;
    int receiptCount() const;
    // Makes the database now, then takes the file away and closes the connection: the
    // next open fails (the connection never creates a missing file), as with a
    // database that cannot be opened.
    void makeDatabaseUnopenable();
    // Fills the database with a few hundred receipts, drops the connection and overwrites
    // one page in the middle of the file, as a failing disk would.
    bool damageDatabase();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<class PgConnection> m_server;
};

// The statement of the engine the test runs on, where SQLite and a server spell it apart.
inline QString onEngine(const QString &sqlite, const QString &server)
{
    return TestEnvironment::onServer() ? server : sqlite;
}

// Skips the running test when the books are on a server: for what only a file has (its
// bytes, its locks, SQLite's own statements).
#define QUENTA_SKIP_ON_SERVER(why)                                                                 \
    do {                                                                                           \
        if (TestEnvironment::onServer())                                                           \
            QSKIP(why);                                                                            \
    } while (false)

// Another connection holding an exclusive lock on a database file while it lives, as
// another program in the middle of a write would.
class HeldLock
{
public:
    explicit HeldLock(const QString &path);
    ~HeldLock();
    bool isHeld() const { return m_held; }

private:
    struct sqlite3 *m_handle = nullptr;
    bool m_held = false;
};

// Sends what is written to a standard stream (1 or 2) into a file while it lives;
// text() gives what was captured so far.
class StreamCapture
{
public:
    explicit StreamCapture(int fd);
    ~StreamCapture();
    QString text();
    // The captured text split into lines, without the empty tail after the last break.
    QStringList lines();

private:
    void restore();
    int m_fd;
    int m_saved = -1;
    QString m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
};

// "yyyy-MM-dd 00:00:00" of today, or of a day before or after it.
QString dayText(int daysFromToday = 0);

// The stored receipt of `id` as the book reads it now, or nothing (gone, or unreadable).
std::optional<Receipt> storedReceipt(const QString &id);
// The receipts dated in [begin, end] as the lists read them; false with the reason.
bool receiptsDated(const QString &begin, const QString &end, QList<Receipt> *receipts,
                   QString *error = nullptr);

// What a file holds, and its SHA-256; both empty when it cannot be read.
QByteArray fileBytes(const QString &path);
QByteArray fileHash(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);
// Every file and folder below `folder`, hidden ones too, sorted: a failed write must
// leave nothing behind.
QStringList filesBelow(const QString &folder);

// The program itself (beside the test), as a user runs it, without any display.
struct Run
{
    int status = -1;
    QString out;
    QString err;
};
// `wrapper` is a program and its arguments that start it (setpriv, to run it without
// root's right to write anywhere).
Run runQuenta(const QStringList &arguments, const QStringList &wrapper = {});
// The wrapper that runs a program as root without the right to write anywhere, so that a
// folder of mode 0555 is read-only for it as for any user.
QStringList withoutWriteOverride();

// A PDF as pdftotext (poppler-utils) reads it back, empty when it is not installed: its
// text, and each word with its box in points, in reading order.
QString pdfToText(const QString &path, QByteArray *errors = nullptr);
struct PdfWord
{
    QString text;
    QRectF box;
};
QList<PdfWord> pdfWords(const QString &path);
// The box of the first word that reads `text`.
std::optional<QRectF> wordBox(const QList<PdfWord> &words, const QString &text);
// The page objects of a PDF as Qt writes them (page dictionaries are plain text), sorted:
// "page" for each and "241.0 × 93.0 mm" for each page box.
QStringList pdfPages(const QString &path);

// Inserts a receipt row directly, with the texts as given (for arranging lists).
QString receiptInsertSql(const QString &id, const QString &receiptNo, const QString &receiptDate,
                         const QString &payer = QStringLiteral("甲"), double total = 1.0);

// A receipt with every field filled, for the printed page: id "ID-" + its number, 1234.50
// with capitals that are not those of 1234.5 on purpose (the page prints what is stored).
Receipt printableReceipt(const QString &receiptNo = QStringLiteral("0000042"),
                         const QString &payer = QStringLiteral("甲公司"));

// A receipt of a list: its number is its id, 房租, dated 2024-05-01, made at 10:20:30.
Receipt listedReceipt(const QString &receiptNo, const QString &payer, double total);

// Saves a new receipt through the store as the form does (the next number, id "ID-" +
// payer); answers the id, empty when the save failed (why in *error).
QString saveNewReceipt(const QString &payer, double total, QString *error = nullptr);

// The printing layer needs fonts, not widgets: a QGuiApplication, as the command line has.
#define QUENTA_GUI_TEST_MAIN(TestObject)                                                           \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QGuiApplication app(argc, argv);                                                           \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
