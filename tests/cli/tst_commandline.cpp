// SPDX-License-Identifier: GPL-3.0-or-later
#include "booklock.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
        : QByteArray();
}

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

} // namespace

// The program without its window, run as a user runs it: a real process on a real book.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
        QVERIFY(m_env->execRaw(receiptInsertSql(u"R1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s)));
    }
    void cleanup() { m_env.reset(); }

    void commands_data();
    void commands();
    void restoreReplacesTheBook();
    void writingCommandsWaitForTheWindow();

private:
    Run quenta(const QStringList &arguments) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // No display at all: a command must not need one.
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"QT_QPA_PLATFORM"_s);
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationDirPath() + u"/quenta"_s, arguments);
        if (!process.waitForFinished(30000))
            return {};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
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
    QTest::newRow("missing value") << QStringList(u"--backup"_s) << 2 << QString() << u"--help"_s;
    QTest::newRow("two commands") << QStringList({u"--check"_s, u"--backup"_s, u"x.db"_s}) << 2
                                  << QString() << u"一次只能做一件事"_s;
    QTest::newRow("restore without --yes")
        << QStringList({u"--restore"_s, u"<backup>"_s}) << 2 << QString() << u"--yes"_s;
    QTest::newRow("restore of a file that is not a book")
        << QStringList({u"--restore"_s, notABook, u"--yes"_s}) << 1 << QString() << u"不是"_s;
}

void tst_CommandLine::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFile text(path(u"notes.txt"_s));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("just some notes\n") > 0);
    text.close();
    for (QString *value : {&out}) {
        value->replace(u"<backup>"_s, path(u"b.db"_s));
    }
    for (QString &argument : arguments) {
        argument.replace(u"<backup>"_s, path(u"b.db"_s));
        argument.replace(u"<not a book>"_s, path(u"notes.txt"_s));
    }
    const QByteArray before = fileHash(m_env->databasePath());
    const Run run = quenta(arguments);
    QCOMPARE(run.status, status);
    // Standard output holds the result and nothing else, not even where the book is.
    QCOMPARE(run.out, out);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    if (!arguments.contains(u"--restore"_s) || status != 0)
        QCOMPARE(fileHash(m_env->databasePath()), before);
}

void tst_CommandLine::restoreReplacesTheBook()
{
    QCOMPARE(quenta({u"--backup"_s, path(u"b.db"_s)}).status, 0);
    QVERIFY(m_env->execRaw(u"delete from tb_receipt"_s));
    const Run run = quenta({u"--restore"_s, path(u"b.db"_s), u"--yes"_s});
    QCOMPARE(run.status, 0);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receipt"_s), 1);
    // The book as it was went to backups/ first.
    QCOMPARE(QDir(path(u"backups"_s)).entryList({u"Tovalin-auto-*.db"_s}).size(), 1);

    // A damaged book is found by --check.
    QVERIFY(m_env->damageDatabase());
    const Run check = quenta({u"--check"_s});
    QCOMPARE(check.status, 1);
    QVERIFY(!check.out.isEmpty() && check.out != u"ok\n"_s);
}

void tst_CommandLine::writingCommandsWaitForTheWindow()
{
    QCOMPARE(quenta({u"--backup"_s, path(u"b.db"_s)}).status, 0);
    const QByteArray before = fileHash(m_env->databasePath());
    {
        // This process holds the book, as an open window does.
        BookLock window(m_env->databasePath());
        QVERIFY(window.tryLock());
        const Run restore = quenta({u"--restore"_s, path(u"b.db"_s), u"--yes"_s});
        QCOMPARE(restore.status, 3);
        QVERIFY2(restore.err.contains(u"已经在使用"_s), qPrintable(restore.err));
        QCOMPARE(fileHash(m_env->databasePath()), before);
        // Reading goes on meanwhile.
        QCOMPARE(quenta({u"--check"_s}).status, 0);
        QCOMPARE(quenta({u"--backup"_s, path(u"c.db"_s)}).status, 0);
    }
    // A lock left by a program that is no longer running is taken over.
    BookLock probe(m_env->databasePath());
    QFile stale(probe.lockFilePath());
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("999999\nquenta\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    stale.close();
    QCOMPARE(quenta({u"--restore"_s, path(u"b.db"_s), u"--yes"_s}).status, 0);
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
