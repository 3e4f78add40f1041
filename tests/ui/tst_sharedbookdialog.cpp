// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookmaintenance.h"
#include "connectionbanner.h"
#include "contentview.h"
#include "desklistener.h"
#include "messagebox.h"
#include "pgtestserver.h"
#include "sharedbook.h"
#include "sharedbookaddress.h"
#include "sharedbookdialog.h"
#include "startup.h"

#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QToolBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

// 打开共享账本: the address it builds, what it remembers, and the books it refuses, against a
// PostgreSQL server of the test's own.
class tst_SharedBookDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init()
    {
        SharedBookAddresses::forget();
        SharedBookAddresses::rememberLocalBook({});
        qunsetenv("QUENTA_BOOK");
        MessageBox::setTestAnswer(std::nullopt);
    }

    void uriKeepsEveryPart_data();
    void uriKeepsEveryPart();
    void oddNamesConnectAndNoPasswordIsKept();
    void refusesWhatIsNoUsableBook_data();
    void refusesWhatIsNoUsableBook();
    void silentServerLeavesTheDialogFree();
    void rememberedBookAtStart_data();
    void rememberedBookAtStart();
    void sharedBookStartsWithoutFileWarnings();
    void outageSaysWhenItTriesAgain();

private:
    // 连接 as clicked: the try runs on beside the dialog until it answers.
    static bool connectAndWait(SharedBookDialog &dialog)
    {
        dialog.connectToBook();
        return QTest::qWaitFor([&] { return !dialog.isConnecting(); }, 60000);
    }
    static void typePassword(SharedBookDialog &dialog, const QString &password)
    {
        dialog.findChild<QLineEdit *>(u"passwordEdit"_s)->setText(password);
    }
    SharedBookAddress tcp(const QString &database, const QString &user) const
    {
        return {u"127.0.0.1"_s, m_server->port(), database, user, u"disable"_s};
    }

    QString m_adminUri;
    QTemporaryDir m_home;
    PgTestServer *m_server = nullptr;
};

namespace {
const QString oddDatabase = u"账本 #1/?&=%"_s;
const QString oddUser = u"出纳@甲 '1'"_s;
const QString oddPassword = u"p@ss:w/rd 秘密'"_s;
} // namespace

void tst_SharedBookDialog::initTestCase()
{
    // The preferences file goes to the test's folder.
    qputenv("HOME", m_home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    m_server = &PgTestServer::shared();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->startError()));
    QVERIFY(m_server->createRole(oddUser, oddPassword));
    const QString database = PgConnection::quoteIdentifier(oddDatabase);
    QVERIFY(m_server->execute(u"create database "_s + database));
    // Made over the socket as the superuser; the odd user is its desk.
    m_adminUri = SharedBookAddress {m_server->folder(), m_server->port(), oddDatabase,
                                    PgTestServer::superuser(), u"disable"_s}
                     .uri();
    QString error;
    QVERIFY2(SharedBook::create(m_adminUri, {}, oddUser, &error), qPrintable(error));
}

void tst_SharedBookDialog::uriKeepsEveryPart_data()
{
    QTest::addColumn<SharedBookAddress>("address");
    QTest::addColumn<QString>("uri");
    QTest::newRow("plain") << SharedBookAddress {u"db.example.com"_s, 5432, u"quenta"_s, u"desk1"_s,
                                                 u"prefer"_s}
                           << u"postgresql://desk1@db.example.com:5432/quenta?sslmode=prefer"_s;
    QTest::newRow("odd names") << SharedBookAddress {u"db.example.com"_s, 6543, oddDatabase,
                                                     oddUser, u"verify-full"_s}
                               << u"postgresql://%E5%87%BA%E7%BA%B3%40%E7%94%B2%20%271%27@"
                                  u"db.example.com:6543/"
                                  u"%E8%B4%A6%E6%9C%AC%20%231%2F%3F%26%3D%25?sslmode=verify-full"_s;
    QTest::newRow("IPv6") << SharedBookAddress {u"fe80::1"_s, 5432, u"b"_s, u"u"_s, u"require"_s}
                          << u"postgresql://u@[fe80::1]:5432/b?sslmode=require"_s;
    QTest::newRow("socket folder")
        << SharedBookAddress {u"/run/pg sock"_s, 5433, u"b"_s, {}, u"disable"_s}
        << u"postgresql://:5433/b?host=%2Frun%2Fpg%20sock&sslmode=disable"_s;
}

void tst_SharedBookDialog::uriKeepsEveryPart()
{
    QFETCH(SharedBookAddress, address);
    QFETCH(QString, uri);
    SharedBookDialog dialog(SharedBookAddress::fromUri(uri).value_or(SharedBookAddress()));
    QCOMPARE(dialog.address().uri(), uri);
    QCOMPARE(dialog.address(), address);
}

// A database and a user whose names need every escape reach the book; the address is
// remembered, the password nowhere in the preferences.
void tst_SharedBookDialog::oddNamesConnectAndNoPasswordIsKept()
{
    SharedBookDialog dialog(tcp(oddDatabase, oddUser));
    typePassword(dialog, oddPassword);
    QVERIFY(connectAndWait(dialog));
    QVERIFY2(dialog.result() == QDialog::Accepted, qPrintable(dialog.error()));
    QCOMPARE(SharedBookAddresses::remembered(), tcp(oddDatabase, oddUser).uri());

    QFile preferences(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                      + u"/Quenta/Quenta.conf"_s);
    QVERIFY(preferences.open(QIODevice::ReadOnly));
    const QByteArray stored = preferences.readAll();
    QVERIFY(stored.contains("sharedBook"));
    // Its ASCII part, as written and percent-encoded (the Chinese may be escaped).
    for (const char *secret : {"p@ss:w/rd", "p%40ss%3Aw%2Frd"})
        QVERIFY2(!stored.contains(secret), stored.constData());
}

void tst_SharedBookDialog::refusesWhatIsNoUsableBook_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("focused");
    QTest::newRow("wrong password")
        << oddDatabase << u"wrong"_s << 0 << u"密码不对"_s << u"passwordEdit"_s;
    QTest::newRow("no password") << oddDatabase << QString() << 0 << u"服务器要求密码"_s
                                 << u"passwordEdit"_s;
    QTest::newRow("no such database")
        << u"nothing here"_s << oddPassword << 0 << u"上没有数据库 nothing here"_s << u"hostEdit"_s;
    QTest::newRow("not a shared book")
        << u"postgres"_s << oddPassword << 0 << u"不是 Quenta 的共享账本"_s << u"hostEdit"_s;
    // Port 1 on loopback: nothing listens there.
    QTest::newRow("no server") << oddDatabase << oddPassword << 1 << u"连接不上服务器"_s
                               << u"hostEdit"_s;
}

void tst_SharedBookDialog::refusesWhatIsNoUsableBook()
{
    QFETCH(QString, database);
    QFETCH(QString, password);
    QFETCH(int, port);
    QFETCH(QString, told);
    QFETCH(QString, focused);
    SharedBookAddress address = tcp(database, oddUser);
    if (port)
        address.port = port;
    SharedBookDialog dialog(address);
    typePassword(dialog, password);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QVERIFY(connectAndWait(dialog));
    QVERIFY2(dialog.error().contains(told), qPrintable(dialog.error()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(QApplication::focusWidget()->objectName(), focused);
    QCOMPARE(SharedBookAddresses::remembered(), QString());
}

// A server that takes the connection but never answers holds the try until libpq gives up;
// the dialog meanwhile keeps turning, says so, and 取消 leaves the try behind.
void tst_SharedBookDialog::silentServerLeavesTheDialogFree()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    silent.pauseAccepting();
    SharedBookDialog dialog(
        {u"127.0.0.1"_s, silent.serverPort(), u"quenta"_s, u"desk"_s, u"disable"_s});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.connectToBook();
    QVERIFY(dialog.isConnecting());
    QVERIFY(!dialog.findChild<QPushButton *>(u"connectButton"_s)->isEnabled());
    QCOMPARE(dialog.findChild<QLabel *>(u"statusLabel"_s)->text(), u"正在连接…"_s);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start(10);
    QTRY_VERIFY(ticks >= 5);
    // An impatient Enter neither gives up the try nor starts another.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.isConnecting());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    // The server goes, the try fails: its answer, come late, changes nothing.
    silent.close();
    SharedBookDialog::waitForTrials();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.error(), QString());
    QCOMPARE(SharedBookAddresses::remembered(), QString());
}

// Without a book named, the window takes the remembered one; one it cannot reach is never
// left silently for the book on this computer.
void tst_SharedBookDialog::rememberedBookAtStart_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("named");
    QTest::addColumn<bool>("localChosen");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<bool>("opensRemembered");
    QTest::addColumn<bool>("stillRemembered");
    // The file the window was on before it went to the shared book.
    QTest::addColumn<bool>("leftFile");
    QTest::newRow("reachable") << true << QString() << false << true << true << true << true;
    QTest::newRow("unreachable, local chosen")
        << false << QString() << true << true << false << false << false;
    QTest::newRow("unreachable, local chosen, a file left")
        << false << QString() << true << true << false << false << true;
    QTest::newRow("unreachable, quit")
        << false << QString() << false << false << false << true << false;
    QTest::newRow("a book named") << false << u"/elsewhere/Tovalin.db"_s << false << true << false
                                  << true << true;
}

void tst_SharedBookDialog::rememberedBookAtStart()
{
    QFETCH(bool, reachable);
    QFETCH(QString, named);
    QFETCH(bool, localChosen);
    QFETCH(bool, starts);
    QFETCH(bool, opensRemembered);
    QFETCH(bool, stillRemembered);
    QFETCH(bool, leftFile);
    QTemporaryDir elsewhere;
    const QString left = elsewhere.filePath(u"Other.db"_s);
    if (leftFile) {
        QFile file(left);
        QVERIFY(file.open(QIODevice::WriteOnly));
        SharedBookAddresses::rememberLocalBook(left);
    }
    // Nothing listens on port 1.
    const QString remembered = reachable
        ? m_adminUri
        : tcp(oddDatabase, oddUser).uri().replace(u":%1/"_s.arg(m_server->port()), u":1/"_s);
    SharedBookAddresses::remember(remembered);
    if (!named.isEmpty())
        qputenv("QUENTA_BOOK", named.toUtf8());
    MessageBox::setTestAnswer(localChosen);
    QCOMPARE(Startup::chooseRememberedBook(nullptr), starts);
    QCOMPARE(qEnvironmentVariable("QUENTA_BOOK"),
             opensRemembered ? remembered : (localChosen && leftFile ? left : named));
    QCOMPARE(SharedBookAddresses::remembered(), stillRemembered ? remembered : QString());
    // Asked only when the remembered book was to be opened and could not be.
    const bool asked = !reachable && named.isEmpty();
    QCOMPARE(MessageBox::lastText().contains(u"连接不上服务器 127.0.0.1:1"_s), asked);
}

// The window's start on a shared book neither warns of a folder it cannot write nor tries
// to copy the book as a file.
void tst_SharedBookDialog::sharedBookStartsWithoutFileWarnings()
{
    qputenv("QUENTA_BOOK", tcp(oddDatabase, oddUser).uri().toUtf8());
    SharedBookAddresses::usePassword(oddPassword);
    MessageBox::setTestAnswer(true);
    QVERIFY(Startup::checkDatabase(nullptr));
    QCOMPARE(MessageBox::lastText(), QString());
    BookMaintenance maintenance;
    QSignalSpy failed(&maintenance, &BookMaintenance::backupFailed);
    maintenance.checkAndBackUpIfDue();
    maintenance.waitForDone();
    QCOMPARE(failed.count(), 0);
}

// The server gone: the window says why, that Quenta connects again by itself and in how many
// seconds; 立即重试 tries at once, and the notice goes once the server is back.
void tst_SharedBookDialog::outageSaysWhenItTriesAgain()
{
    SharedBookAddresses::usePassword(oddPassword);
    ContentView window;
    window.show();
    DeskListener &listener = DeskListener::shared();
    const auto stopListening = qScopeGuard([&listener] { listener.stop(); });
    new ConnectionBanner(&window, listener);
    listener.start(tcp(oddDatabase, oddUser).uri());
    QVERIFY(listener.isConnected());
    auto *banner = window.findChild<QToolBar *>(u"banner"_s);
    QVERIFY(!banner || !banner->isVisible());

    QVERIFY(m_server->stop(u"fast"_s));
    const auto restart = qScopeGuard([this] { m_server->start(); });
    QTRY_VERIFY_WITH_TIMEOUT(!listener.isConnected(), 10000);
    banner = window.findChild<QToolBar *>(u"banner"_s);
    QVERIFY(banner);
    QTRY_VERIFY(banner->isVisible());
    auto *label = window.findChild<QLabel *>(u"bannerLabel"_s);
    QVERIFY(label->text().startsWith(u"共享账本连接中断"_s));
    // Each failed try waits longer; the count follows.
    QTRY_VERIFY_WITH_TIMEOUT(listener.secondsUntilNextTry() >= 3, 20000);
    QTRY_VERIFY(label->text().contains(u"正在自动重新连接，"_s));
    QVERIFY2(label->text().contains(u" 秒后再试"_s), qPrintable(label->text()));
    const QString counted = label->text();
    QTRY_VERIFY(label->text() != counted);

    QVERIFY2(m_server->start(), qPrintable(m_server->logTail()));
    auto *retry = window.findChild<QWidget *>(u"retryNowActionButton"_s);
    QVERIFY(retry);
    QTRY_VERIFY(retry->isEnabled());
    QTest::mouseClick(retry, Qt::LeftButton);
    // The try started at once: no count left to wait for.
    QVERIFY(listener.isTrying() || listener.isConnected());
    QCOMPARE(listener.secondsUntilNextTry(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(listener.isConnected(), 20000);
    QTRY_VERIFY(!banner->isVisible());
}

QTEST_MAIN(tst_SharedBookDialog)
#include "tst_sharedbookdialog.moc"
