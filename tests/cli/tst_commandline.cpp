// SPDX-License-Identifier: GPL-3.0-or-later
#include "booklock.h"
#include "printsettings.h"
#include "receiptbook.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

// The program without its window, run as a user runs it: a real process on a real book.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
        QVERIFY(m_env->storeReceipt(u"R1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    }
    void cleanup() { m_env.reset(); }

    void commands_data();
    void commands();
    void printVerbs_data();
    void printVerbs();
    void printOptionsReachThePage();
    void restoreReplacesTheBook();
    void restoreOverABrokenBook_data();
    void restoreOverABrokenBook();
    void bookWithCodeOfItsOwn();
    void checkFindsOneNumberTwice_data();
    void checkFindsOneNumberTwice();
    void writingCommandsWaitForTheWindow();
    void olderBookInAReadOnlyFolder();
    void hiddenRowsStayHidden();
    void resultThatCannotBeWritten_data();
    void resultThatCannotBeWritten();
    void fileNameThatIsNoText();
    void pdfOnAFullDisk_data();
    void pdfOnAFullDisk();
    void unwritableRuntimeFolder();
    void lockWithoutARunningHolder_data();
    void lockWithoutARunningHolder();
    void saveWhileOtherProgramsImport();

private:
    QString path(const QString &name) const { return m_env->documentsPath() + u'/' + name; }

    std::unique_ptr<TestEnvironment> m_env;
};

void tst_CommandLine::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // what standard output must hold, in full
    QTest::addColumn<QString>("err"); // a part of standard error

    const QString notABook = u"<not a book>"_s;
    QTest::newRow("version") << QStringList(u"--version"_s) << 0 << u"Quenta 0.1.0\n"_s
                             << QString();
    QTest::newRow("check") << QStringList(u"--check"_s) << 0 << u"ok\n"_s << QString();
    QTest::newRow("backup") << QStringList({u"--backup"_s, u"<backup>"_s}) << 0 << u"<backup>\n"_s
                            << QString();
    QTest::newRow("backup where nothing can be written")
        << QStringList({u"--backup"_s, u"/dev/null/b.db"_s}) << 1 << QString() << u"/dev/null"_s;
    QTest::newRow("unknown option") << QStringList(u"--bogus"_s) << 2 << QString() << u"bogus"_s;
    QTest::newRow("unknown single-dash option")
        << QStringList(u"-x"_s) << 2 << QString() << u"--help"_s;
    QTest::newRow("--force-unlock without a verb that locks")
        << QStringList({u"--check"_s, u"--force-unlock"_s}) << 2 << QString()
        << u"--force-unlock"_s;
    QTest::newRow("export through a link to the book")
        << QStringList({u"--export"_s, u"<link to book>"_s}) << 1 << QString() << u"数据库"_s;
    QTest::newRow("missing value") << QStringList(u"--backup"_s) << 2 << QString() << u"--help"_s;
    QTest::newRow("two commands") << QStringList({u"--check"_s, u"--backup"_s, u"x.db"_s}) << 2
                                  << QString() << u"一次只能做一件事"_s;
    QTest::newRow("restore without --yes")
        << QStringList({u"--restore"_s, u"<backup>"_s}) << 2 << QString() << u"--yes"_s;
    QTest::newRow("restore of a file that is not a book")
        << QStringList({u"--restore"_s, notABook, u"--yes"_s}) << 1 << QString() << u"不是"_s;
    QTest::newRow("import") << QStringList({u"--import"_s, u"<good csv>"_s}) << 0
                            << u"1 张收据已导入，合计 ¥5.00\n"_s << QString();
    QTest::newRow("import of a number the book has")
        << QStringList({u"--import"_s, u"<bad csv>"_s}) << 1 << QString()
        << u"第 2 行：单号 0000001 已在账本中"_s;
    QTest::newRow("import of that number without its zeros")
        << QStringList({u"--import"_s, u"<short csv>"_s}) << 1 << QString()
        << u"第 2 行：单号 0000001 已在账本中"_s;
    QTest::newRow("import of a file of another kind")
        << QStringList({u"--import"_s, u"<not a book>"_s}) << 2 << QString() << u".csv"_s;
    QTest::newRow("--dry-run without --import")
        << QStringList({u"--check"_s, u"--dry-run"_s}) << 2 << QString() << u"--dry-run"_s;
    // Read only: the book is as it was, whatever the answer.
    QTest::newRow("verify-receipt of a text that is no code")
        << QStringList({u"--verify-receipt"_s, u"https://example.com/0000001"_s}) << 1
        << u"这不是 Quenta 收据上的二维码\n"_s << QString();
    QTest::newRow("verify-receipt of another book's code")
        << QStringList(
               {u"--verify-receipt"_s, u"QUENTA1|No.0009999|2024-05-01|5.00|0123456789abcdef"_s})
        << 1 << u"本账本没有这张收据\n"_s << QString();
    QTest::newRow("verify-receipt of nothing")
        << QStringList({u"--verify-receipt"_s, u" "_s}) << 2 << QString() << u"--verify-receipt"_s;
    QTest::newRow("verify-receipt beside another verb")
        << QStringList({u"--verify-receipt"_s, u"x"_s, u"--check"_s}) << 2 << QString()
        << u"一次只能做一件事"_s;
}

void tst_CommandLine::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QVERIFY(writeFile(path(u"notes.txt"_s), "just some notes\n"));
    QVERIFY(QFile::link(m_env->databasePath(), path(u"link.csv"_s)));
    const QByteArray header = "收据单号,收款日期,交款单位,收款金额\r\n";
    QVERIFY(writeFile(path(u"good.csv"_s), header + "0000009,2024-05-01,甲,5\r\n"));
    QVERIFY(writeFile(path(u"bad.csv"_s), header + "0000001,2024-05-01,甲,5\r\n"));
    QVERIFY(writeFile(path(u"short.csv"_s), header + "1,2024-05-01,甲,5\r\n"));
    out.replace(u"<backup>"_s, path(u"b.db"_s));
    for (QString &argument : arguments) {
        argument.replace(u"<backup>"_s, path(u"b.db"_s));
        argument.replace(u"<not a book>"_s, path(u"notes.txt"_s));
        argument.replace(u"<link to book>"_s, path(u"link.csv"_s));
        argument.replace(u"<good csv>"_s, path(u"good.csv"_s));
        argument.replace(u"<bad csv>"_s, path(u"bad.csv"_s));
        argument.replace(u"<short csv>"_s, path(u"short.csv"_s));
    }
    const QByteArray before = fileHash(m_env->databasePath());
    const Run run = runQuenta(arguments);
    QCOMPARE(run.status, status);
    // Standard output holds the result and nothing else, not even where the book is.
    QCOMPARE(run.out, out);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    if ((!arguments.contains(u"--restore"_s) && !arguments.contains(u"--import"_s)) || status != 0)
        QCOMPARE(fileHash(m_env->databasePath()), before);
}

void tst_CommandLine::printVerbs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // all of standard output; <pdf> is the file
    QTest::addColumn<QString>("err"); // a part of standard error
    QTest::addColumn<QString>("recorded"); // the numbers of the prints in the history

    const QString pdf = u"<pdf>"_s;
    const QString printed = u"%1 页 <pdf>\n"_s;
    QTest::newRow("one receipt") << QStringList {u"--print-pdf"_s, u"0000001"_s, pdf} << 0
                                 << printed.arg(1) << QString() << u"0000001"_s;
    QTest::newRow("three, in number order")
        << QStringList {u"--print-pdf"_s, u"0000003, 0000001,0000002"_s, pdf} << 0 << printed.arg(3)
        << QString() << u"0000001,0000002,0000003"_s;
    QTest::newRow("a number twice") << QStringList {u"--print-pdf=0000001,0000001"_s, pdf} << 0
                                    << printed.arg(1) << QString() << u"0000001"_s;
    QTest::newRow("an unknown number")
        << QStringList {u"--print-pdf"_s, u"0000001,0000009"_s, pdf} << 1 << QString()
        << u"没有单号为 0000009 的收据"_s << QString();
    QTest::newRow("a deleted receipt") << QStringList {u"--print-pdf"_s, u"0000004"_s, pdf} << 1
                                       << QString() << u"没有单号为 0000004"_s << QString();
    QTest::newRow("an empty number") << QStringList {u"--print-pdf"_s, u"0000001,"_s, pdf} << 2
                                     << QString() << u"单号"_s << QString();
    for (const QString &offset : {u"30.5"_s, u"-31"_s, u"abc"_s, u"inf"_s, u"1,5"_s, u""_s})
        QTest::addRow("offset \"%s\"", qPrintable(offset))
            << QStringList {u"--print-pdf"_s, u"0000001"_s, pdf, u"--offset-y"_s, offset} << 2
            << QString() << u"--offset-y"_s << QString();
    QTest::newRow("file in a folder that does not exist")
        << QStringList {u"--print-pdf"_s, u"0000001"_s, u"<dir>/missing/r.pdf"_s} << 1 << QString()
        << u"文件夹不存在"_s << QString();
    QTest::newRow("file that is a folder")
        << QStringList {u"--print-pdf"_s, u"0000001"_s, u"<dir>/folder.pdf"_s} << 1 << QString()
        << u"是一个文件夹"_s << QString();
    QTest::newRow("not a PDF") << QStringList {u"--print-pdf"_s, u"0000001"_s, u"<dir>/r.txt"_s}
                               << 2 << QString() << u".pdf"_s << QString();
    QTest::newRow("no file") << QStringList {u"--print-pdf"_s, u"0000001"_s} << 2 << QString()
                             << u"PDF"_s << QString();
    QTest::newRow("two files") << QStringList {u"--print-pdf"_s, u"0000001"_s, pdf, u"b.pdf"_s} << 2
                               << QString() << u"b.pdf"_s << QString();
    QTest::newRow("test page") << QStringList {u"--test-page"_s, pdf, u"--offset-x=-3"_s} << 0
                               << printed.arg(1) << QString() << QString();
    QTest::newRow("test page of values only")
        << QStringList {u"--test-page"_s, pdf, u"--content-only"_s} << 2 << QString()
        << u"--content-only"_s << QString();
    QTest::newRow("an offset without a print")
        << QStringList {u"--check"_s, u"--offset-x"_s, u"1"_s} << 2 << QString() << u"--offset-x"_s
        << QString();
}

// Every outcome of the print verbs, on a display-less machine: a file and the history rows
// when done, neither (and no half-written file) when not.
void tst_CommandLine::printVerbs()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, recorded);
    QVERIFY(m_env->storeReceipt(u"R3"_s, u"0000003"_s, u"2024-05-03 00:00:00"_s));
    QVERIFY(m_env->storeReceipt(u"R2"_s, u"0000002"_s, u"2024-05-02 00:00:00"_s));
    QVERIFY(m_env->execRaw(receiptInsertSql(u"R4"_s, u"0000004"_s, u"2024-05-02 00:00:00"_s)
                           + u"update tb_receipt set isDeleted = '1' where id = 'R4';"_s));
    QVERIFY(QDir(m_env->documentsPath()).mkdir(u"folder.pdf"_s));
    QString target;
    for (QString &argument : arguments) {
        argument.replace(u"<pdf>"_s, path(u"r.pdf"_s));
        argument.replace(u"<dir>"_s, m_env->documentsPath());
        if (argument.endsWith(u".pdf"_s) || argument.endsWith(u".txt"_s))
            target = argument.section(u'=', -1);
    }
    const QStringList before = filesBelow(m_env->documentsPath());
    const Run run = runQuenta(arguments);
    QCOMPARE(run.status, status);
    QCOMPARE(run.out, QString(out).replace(u"<pdf>"_s, path(u"r.pdf"_s)));
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    QCOMPARE(QFileInfo(target).isFile(), status == 0);
    QCOMPARE(m_env->queryRaw(u"select ifnull(group_concat(receiptNo), '') from (select receiptNo "
                             u"from tb_history where action = 'print' order by id)"_s),
             recorded);
    // Nothing else was left in the folder: no partial file beside the one asked for.
    QStringList after = filesBelow(m_env->documentsPath());
    after.removeOne(u"r.pdf"_s);
    after.removeOne(u"Tovalin.db.lock"_s);
    QCOMPARE(after, before);
}

// The saved print settings reach the page unless the command gives its own; values only
// leaves the form off and the values where they were. Measured in the PDF as read back.
void tst_CommandLine::printOptionsReachThePage()
{
    PrintSettings::shared().setOptions({.offsetX = 4, .offsetY = 2});
    const auto print = [this](const QString &name, const QStringList &options) {
        const Run run
            = runQuenta(QStringList {u"--print-pdf"_s, u"0000001"_s, path(name)} + options);
        [&] {
            QVERIFY2(run.status == 0, qPrintable(run.err));
        }();
        return pdfWords(path(name));
    };
    const auto unmoved = print(u"plain.pdf"_s, {u"--offset-x"_s, u"0"_s, u"--offset-y=0"_s});
    if (unmoved.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    const auto saved = print(u"saved.pdf"_s, {});
    const auto given = print(u"given.pdf"_s, {u"--offset-x"_s, u"-2.5"_s, u"--offset-y=-1"_s});
    const auto values
        = print(u"values.pdf"_s, {u"--content-only"_s, u"--offset-x=0"_s, u"--offset-y=0"_s});
    constexpr qreal pointsPerMm = 72 / 25.4;
    for (const auto &[moved, mm] :
         {std::pair(saved, QPointF(4, 2)), std::pair(given, QPointF(-2.5, -1))}) {
        QCOMPARE(moved.size(), unmoved.size());
        for (qsizetype i = 0; i < unmoved.size(); ++i) {
            const QPointF by = moved[i].box.topLeft() - unmoved[i].box.topLeft();
            QVERIFY2(moved[i].text == unmoved[i].text && qAbs(by.x() - mm.x() * pointsPerMm) < 0.05
                         && qAbs(by.y() - mm.y() * pointsPerMm) < 0.05,
                     qPrintable(unmoved[i].text));
        }
    }
    for (const QString &caption : {u"收款收据"_s, u"交款单位"_s, u"收款事由"_s})
        QVERIFY2(wordBox(unmoved, caption) && !wordBox(values, caption), qPrintable(caption));
    // The ¥ prints right before the figures, on the full page and values only alike.
    for (const QString &value : {u"甲"_s, u"事由"_s, u"2024-05-01"_s, u"¥1.00"_s}) {
        QVERIFY2(wordBox(unmoved, value), qPrintable(value));
        QCOMPARE(wordBox(values, value), wordBox(unmoved, value));
    }
}

void tst_CommandLine::restoreReplacesTheBook()
{
    QCOMPARE(runQuenta({u"--backup"_s, path(u"b.db"_s)}).status, 0);
    QVERIFY(m_env->storeReceipt(u"R2"_s, u"0000002"_s, u"2024-05-02 00:00:00"_s));
    QVERIFY(m_env->execRaw(u"delete from tb_receipt where id = 'R1'"_s));
    const Run run = runQuenta({u"--restore"_s, path(u"b.db"_s), u"--yes"_s});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains(u"将失去 1 张收据：No.0000002"_s), qPrintable(run.err));
    QCOMPARE(m_env->queryRaw(u"select id from tb_receipt"_s), u"R1"_s);

    // A damaged book is found by --check.
    QVERIFY(m_env->damageDatabase());
    const Run check = runQuenta({u"--check"_s});
    QCOMPARE(check.status, 1);
    QVERIFY(!check.out.isEmpty() && check.out != u"ok\n"_s);
}

// What a backup is for: --restore puts it over a book SQLite cannot read, keeps the broken
// file beside it under a name the user finds, and removes what killed restores left.
void tst_CommandLine::restoreOverABrokenBook_data()
{
    QTest::addColumn<QString>("broken");
    QTest::newRow("damaged") << u"damaged"_s;
    QTest::newRow("not a database") << u"text"_s;
}

void tst_CommandLine::restoreOverABrokenBook()
{
    QFETCH(QString, broken);
    QCOMPARE(runQuenta({u"--backup"_s, path(u"b.db"_s)}).status, 0);
    const QString partial = path(u".Tovalin.db.0123abcd.partial"_s);
    QVERIFY(writeFile(partial, "a copy cut short"));
    QVERIFY(broken == u"text"_s ? writeFile(m_env->databasePath(), "不是数据库")
                                : m_env->damageDatabase());
    const QByteArray brokenBytes = fileBytes(m_env->databasePath());

    const Run run = runQuenta({u"--restore"_s, path(u"b.db"_s), u"--yes"_s});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(m_env->receiptCount(), 1);
    QCOMPARE(runQuenta({u"--check"_s}).out, u"ok\n"_s);
    const QStringList kept
        = QDir(m_env->documentsPath()).entryList({u"Tovalin.db.damaged-*"_s}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(fileBytes(path(kept.first())), brokenBytes);
    QVERIFY(!QFile::exists(partial));
    // The broken file is not an automatic backup: it would push good ones out.
    QCOMPARE(QDir(path(u"backups"_s)).entryList({u"Tovalin-auto-*"_s}, QDir::Files), QStringList());
}

// A book carrying a trigger of its own is reported by --check, not written by printing
// (its saves could vanish), and replaced by --restore.
void tst_CommandLine::bookWithCodeOfItsOwn()
{
    QCOMPARE(runQuenta({u"--backup"_s, path(u"b.db"_s)}).status, 0);
    QVERIFY(m_env->execRaw(u"create trigger eat after insert on tb_history begin "
                           u"delete from tb_history where id = new.id; end"_s));
    const Run check = runQuenta({u"--check"_s});
    QCOMPARE(check.status, 1);
    QVERIFY2(check.out.contains(u"触发器 eat"_s), qPrintable(check.out));
    const Run print = runQuenta({u"--print-pdf"_s, u"0000001"_s, path(u"r.pdf"_s)});
    QCOMPARE(print.status, 1);
    QVERIFY2(print.err.contains(u"触发器 eat"_s), qPrintable(print.err));
    QVERIFY(!QFile::exists(path(u"r.pdf"_s)));
    QCOMPARE(runQuenta({u"--restore"_s, path(u"b.db"_s), u"--yes"_s}).status, 0);
    QCOMPARE(runQuenta({u"--check"_s}).out, u"ok\n"_s);
}

void tst_CommandLine::checkFindsOneNumberTwice_data()
{
    QTest::addColumn<QString>("sql"); // beside receipt 0000001
    QTest::addColumn<QString>("out");
    const QString beside = u"insert into tb_receipt (id, receiptNo) values ('R2', '%1')"_s;
    QTest::newRow("without its zeros")
        << beside.arg(u"1"_s) << u"单号 No.0000001 重复（2 张，写作 0000001、1）\n"_s;
    QTest::newRow("with more zeros")
        << beside.arg(u"00000001"_s)
        << u"单号 No.00000001 重复（2 张，写作 00000001、0000001）\n"_s;
    // Another program's table, which keeps a number as a number.
    QTest::newRow("an integer beside its text")
        << u"drop table tb_receipt; create table tb_receipt (id text primary key, receiptNo, "
           u"receiptDate text, payer text, reason1 text, reason2 text, remark text, paytype "
           u"text, payee text, approve text, accountant text, creator text, createDate text, "
           u"total text, totalBig text, isDeleted text); insert into tb_receipt (id, receiptNo) "
           u"values ('A', 1), ('B', '0000001')"_s
        << u"单号 No.0000001 重复（2 张，写作 0000001、1）\n"_s;
    QTest::newRow("another number") << beside.arg(u"10"_s) << u"ok\n"_s;
    QTest::newRow("a text that is no number") << beside.arg(u"1a"_s) << u"ok\n"_s;
}

// The unique index keeps a text from being stored twice, not one number in two paddings,
// which print alike.
void tst_CommandLine::checkFindsOneNumberTwice()
{
    QFETCH(QString, sql);
    QFETCH(QString, out);
    QVERIFY(m_env->execRaw(sql));
    const Run check = runQuenta({u"--check"_s});
    QCOMPARE(check.out, out);
    QCOMPARE(check.status, out == u"ok\n"_s ? 0 : 1);
}

void tst_CommandLine::writingCommandsWaitForTheWindow()
{
    QCOMPARE(runQuenta({u"--backup"_s, path(u"b.db"_s)}).status, 0);
    const QByteArray before = fileHash(m_env->databasePath());
    {
        // This process holds the book, as an open window does.
        BookLock window(m_env->databasePath());
        QVERIFY(window.tryLock());
        const Run restore = runQuenta({u"--restore"_s, path(u"b.db"_s), u"--yes"_s});
        QCOMPARE(restore.status, 3);
        QVERIFY2(restore.err.contains(u"已经在使用"_s), qPrintable(restore.err));
        QCOMPARE(fileHash(m_env->databasePath()), before);
        // Printing writes the print into the history: it waits too, and leaves no file.
        const Run print = runQuenta({u"--print-pdf"_s, u"0000001"_s, path(u"r.pdf"_s)});
        QCOMPARE(print.status, 3);
        QVERIFY2(print.err.contains(u"已经在使用"_s), qPrintable(print.err));
        QVERIFY(!QFile::exists(path(u"r.pdf"_s)));
        QVERIFY(writeFile(path(u"i.csv"_s),
                          "收据单号,收款日期,交款单位,收款金额\r\n9,2024-05-01,甲,5\r\n"));
        QCOMPARE(runQuenta({u"--import"_s, path(u"i.csv"_s)}).status, 3);
        QCOMPARE(fileHash(m_env->databasePath()), before);
        // Reading goes on meanwhile.
        QCOMPARE(runQuenta({u"--check"_s}).status, 0);
        QCOMPARE(runQuenta({u"--backup"_s, path(u"c.db"_s)}).status, 0);
        QCOMPARE(runQuenta({u"--test-page"_s, path(u"t.pdf"_s)}).status, 0);
        QVERIFY(QFileInfo(path(u"t.pdf"_s)).size() > 0);
    }
}

// On a read-only mount nothing can write, so nothing needs the lock: the verbs that read
// work, printing prints and says that it could not record the print, restoring is refused
// for what it is (exit 1, not "in use"). The book predates voids and history and cannot be
// brought up to date there.
void tst_CommandLine::olderBookInAReadOnlyFolder()
{
    QVERIFY(
        m_env->execRaw(u"drop table tb_void; drop table tb_history; pragma user_version = 0"_s));
    const QString folder = m_env->documentsPath();
    const QByteArray before = fileHash(m_env->databasePath());
    QTemporaryDir out;
    QVERIFY(QFile::copy(m_env->databasePath(), out.filePath(u"b.db"_s)));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const auto writable = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const QStringList readOnly = withoutWriteOverride();

    const Run exported = runQuenta({u"--export"_s, out.filePath(u"a.csv"_s)}, readOnly);
    QVERIFY2(exported.status == 0 && exported.out.startsWith(u"1 张"_s), qPrintable(exported.err));
    // Opened for reading only: no upgrade is tried, no write fails on the way.
    const Run checked = runQuenta({u"--check"_s}, readOnly);
    QCOMPARE(checked.out, u"ok\n"_s);
    for (const QString &err : {exported.err, checked.err})
        QVERIFY2(!err.contains(u"Error"_s), qPrintable(err));
    const Run printed
        = runQuenta({u"--print-pdf"_s, u"0000001"_s, out.filePath(u"r.pdf"_s)}, readOnly);
    QVERIFY2(printed.status == 0, qPrintable(printed.err));
    QVERIFY2(printed.err.contains(u"没有记入"_s), qPrintable(printed.err));
    // Without a record chain there is no link to print, and none to verify a code by.
    QVERIFY2(!printed.err.contains(u"二维码"_s), qPrintable(printed.err));
    QVERIFY(pdfToText(out.filePath(u"r.pdf"_s)).contains(u"0000001"_s));
    const Run verified = runQuenta(
        {u"--verify-receipt"_s, u"QUENTA1|No.0000001|2024-05-01|1.00|0123456789abcdef"_s},
        readOnly);
    QCOMPARE(verified.status, 1);
    QCOMPARE(verified.out, u"这个账本来自旧版本，没有记录链，无法验证收据\n"_s);
    const Run restored = runQuenta({u"--restore"_s, out.filePath(u"b.db"_s), u"--yes"_s}, readOnly);
    QCOMPARE(restored.status, 1);
    QVERIFY2(restored.err.contains(u"不能写入"_s), qPrintable(restored.err));
    QCOMPARE(fileHash(m_env->databasePath()), before);
}

// A row the lists hide (isDeleted NULL, as an older program may leave it) is hidden from
// what the command line exports and prints too.
void tst_CommandLine::hiddenRowsStayHidden()
{
    QVERIFY(m_env->storeReceipt(u"R2"_s, u"0000002"_s, u"2024-05-02 00:00:00"_s));
    QVERIFY(m_env->execRaw(u"update tb_receipt set isDeleted = null where id = 'R2'"_s));
    const Run exported = runQuenta({u"--export"_s, path(u"a.csv"_s)});
    QVERIFY2(exported.status == 0 && exported.out.startsWith(u"1 张"_s), qPrintable(exported.out));
    QVERIFY(!fileBytes(path(u"a.csv"_s)).contains("0000002"));
    const Run printed = runQuenta({u"--print-pdf"_s, u"0000002"_s, path(u"r.pdf"_s)});
    QCOMPARE(printed.status, 1);
    QVERIFY2(printed.err.contains(u"没有单号为 0000002"_s), qPrintable(printed.err));
}

// Whoever runs a command learns what it did from its output: one that cannot be written
// (a full disk, a closed stream) is a failure, and a closed one is refused before anything
// is done.
void tst_CommandLine::resultThatCannotBeWritten_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("redirection");
    QTest::newRow("--check to a full disk") << QStringList(u"--check"_s) << u">/dev/full"_s;
    QTest::newRow("--version to a full disk") << QStringList(u"--version"_s) << u">/dev/full"_s;
    QTest::newRow("--check, output closed") << QStringList(u"--check"_s) << u">&-"_s;
    QTest::newRow("--export, output closed")
        << QStringList({u"--export"_s, u"<dir>/a.csv"_s}) << u">&-"_s;
}

void tst_CommandLine::resultThatCannotBeWritten()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, redirection);
    arguments.replaceInStrings(u"<dir>"_s, m_env->documentsPath());
    const Run run
        = runQuenta(arguments, {u"sh"_s, u"-c"_s, u"exec \"$0\" \"$@\" "_s + redirection});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(u"标准输出"_s), qPrintable(run.err));
    QVERIFY(!QFile::exists(path(u"a.csv"_s)));
}

// A name Qt cannot decode would be written or read as another name (with U+FFFD in it).
void tst_CommandLine::fileNameThatIsNoText()
{
    const QString folder = m_env->documentsPath();
    const Run run
        = runQuenta({},
                    {u"bash"_s, u"-c"_s,
                     u"exec \"$0\" --export \"$(printf '%1/caf\\351.csv')\""_s.arg(folder)});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"UTF-8"_s), qPrintable(run.err));
    QCOMPARE(QDir(folder).entryList({u"caf*"_s}, QDir::Files | QDir::Hidden), QStringList());
}

// A disk that fills up while the PDF is written (a file size limit, which fails the write
// as a full disk does): no file, nothing partial left, no print recorded, exit 1.
void tst_CommandLine::pdfOnAFullDisk_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("five receipts") << QStringList(
        {u"--print-pdf"_s, u"0000001,0000002,0000003,0000004,0000005"_s, u"<pdf>"_s});
    QTest::newRow("test page") << QStringList({u"--test-page"_s, u"<pdf>"_s});
}

void tst_CommandLine::pdfOnAFullDisk()
{
    QFETCH(QStringList, arguments);
    for (int n = 2; n <= 5; ++n)
        QVERIFY(
            m_env->storeReceipt(u"R%1"_s.arg(n), u"000000%1"_s.arg(n), u"2024-05-01 00:00:00"_s));
    QTemporaryDir out;
    arguments.replaceInStrings(u"<pdf>"_s, out.filePath(u"r.pdf"_s));
    const int printsBefore = m_env->countRaw(u"select count(*) from tb_history"_s);
    const Run run = runQuenta(
        arguments, {u"bash"_s, u"-c"_s, u"ulimit -f 8; trap '' XFSZ; exec \"$0\" \"$@\""_s});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(u"磁盘可能已满"_s), qPrintable(run.err));
    QCOMPARE(filesBelow(out.path()), QStringList());
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history"_s), printsBefore);
}

// A lock whose holder is no longer running is taken over. QLockFile never takes over a lock
// file that names no holder (an empty or cut one, after a power cut) nor one written on
// another machine (a book on a USB stick): the first is taken at once, the second is told
// and taken with --force-unlock. (A second path to a held book: tst_bookmenu.)
// The lock named after the book's identity lives in the runtime folder: one that cannot be
// written is a failed lock, never taken for a book on a read-only disc (which would print
// without recording the print).
void tst_CommandLine::unwritableRuntimeFolder()
{
    QTemporaryDir runtime;
    QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::ExeOwner));
    const bool wasSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const auto restore = qScopeGuard([&] {
        if (wasSet)
            qputenv("XDG_RUNTIME_DIR", saved);
        else
            qunsetenv("XDG_RUNTIME_DIR");
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const Run printed = runQuenta({u"--print-pdf"_s, u"0000001"_s, path(u"r.pdf"_s)},
                                  withoutWriteOverride());
    QCOMPARE(printed.status, 1);
    QVERIFY2(printed.err.contains(u"无法锁定数据库"_s), qPrintable(printed.err));
    QVERIFY(!QFile::exists(path(u"r.pdf"_s)));
}

void tst_CommandLine::lockWithoutARunningHolder_data()
{
    QTest::addColumn<QByteArray>("lockFile"); // what the lock beside the book holds
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");
    const QByteArray elsewhere = "4242\nquenta\nusb-stick-laptop\nsome-host-id\nsome-boot-id\n";
    QTest::newRow("a holder no longer running")
        << "999999\nquenta\n" + QSysInfo::machineHostName().toUtf8() + "\n"
        << QStringList() << 0 << QString();
    QTest::newRow("empty") << QByteArray() << QStringList() << 0 << QString();
    QTest::newRow("garbage") << QByteArray("\x01\xff garbage") << QStringList() << 0 << QString();
    QTest::newRow("another machine") << elsewhere << QStringList() << 3 << u"usb-stick-laptop"_s;
    QTest::newRow("another machine, --force-unlock")
        << elsewhere << QStringList(u"--force-unlock"_s) << 0 << QString();
}

void tst_CommandLine::lockWithoutARunningHolder()
{
    QFETCH(QByteArray, lockFile);
    QFETCH(QStringList, extra);
    QFETCH(int, status);
    QFETCH(QString, err);
    QCOMPARE(runQuenta({u"--backup"_s, path(u"b.db"_s)}).status, 0);
    BookLock probe(m_env->databasePath());
    QVERIFY(writeFile(probe.lockFilePath(), lockFile));
    const Run run = runQuenta(QStringList({u"--restore"_s, path(u"b.db"_s), u"--yes"_s}) + extra);
    QVERIFY2(run.status == status, qPrintable(run.err));
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    if (status == 3) {
        // Where the lock is, and how to take it.
        QVERIFY2(run.err.contains(probe.lockFilePath()), qPrintable(run.err));
        QVERIFY(run.err.contains(u"--force-unlock"_s));
        QCOMPARE(fileBytes(probe.lockFilePath()), lockFile);
    }
    if (status == 0)
        QVERIFY(!QFile::exists(probe.lockFilePath()));
}

// A save of this program while imports of other copies run on the book (one of them
// writing, the others turned away by its lock) fails on that lock once its wait is over,
// and says so in Chinese: what holds the book is another program, most likely an import.
void tst_CommandLine::saveWhileOtherProgramsImport()
{
    QByteArray rows = "收据单号,收款日期,交款单位,收款金额\r\n";
    for (int i = 1000; i < 51000; ++i)
        rows += QByteArray::number(i) + ",2024-05-01,甲公司,12.50\r\n";
    QVERIFY(writeFile(path(u"many.csv"_s), rows));
    std::vector<std::unique_ptr<QProcess>> imports;
    const auto stop = qScopeGuard([&] {
        for (const auto &import : imports)
            import->waitForFinished(120000);
    });
    for (int i = 0; i < 3; ++i) {
        imports.push_back(std::make_unique<QProcess>());
        imports.back()->start(QCoreApplication::applicationDirPath() + u"/quenta"_s,
                              {u"--import"_s, path(u"many.csv"_s), u"--renumber"_s});
    }
    // Until one of them is writing: a write transaction cannot begin beside its own.
    sqlite3 *probe = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(m_env->databasePath()).constData(), &probe,
                             SQLITE_OPEN_READWRITE, nullptr),
             SQLITE_OK);
    const auto closeProbe = qScopeGuard([probe] { sqlite3_close(probe); });
    QTRY_VERIFY_WITH_TIMEOUT(
        [probe] {
            if (sqlite3_exec(probe, "begin immediate", nullptr, nullptr, nullptr) != SQLITE_OK)
                return true;
            sqlite3_exec(probe, "rollback", nullptr, nullptr, nullptr);
            return false;
        }(),
        60000);

    SQLiteHelper::shared().db().setMaxBusyRetryTimeInterval(0.2);
    Receipt receipt;
    receipt.id = u"NEW"_s;
    receipt.receiptNo = u"0000002"_s;
    receipt.receiptDate = QDateTime(QDate(2024, 5, 2), QTime(0, 0));
    receipt.payer = u"乙"_s;
    receipt.total = 3;
    QString error;
    QVERIFY(!ReceiptBook::shared().issue(receipt, nullptr, &error));
    QVERIFY2(error.contains(u"其他程序占用（另一个 Quenta 正在导入？）"_s), qPrintable(error));
    static const QRegularExpression latin(u"[A-Za-z]"_s);
    QVERIFY2(!QString(error).remove(u"Quenta"_s).contains(latin), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
