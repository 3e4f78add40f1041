// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgtestserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QVersionNumber>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace Qt::StringLiterals;

namespace {

// The newest server's programs Debian installs (/usr/lib/postgresql/<version>/bin), else
// those on the path.
QString findBinDirectory()
{
    QString best;
    QVersionNumber bestVersion;
    const QDir versions(u"/usr/lib/postgresql"_s);
    for (const QString &name : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QVersionNumber version = QVersionNumber::fromString(name);
        const QString bin = versions.filePath(name + u"/bin"_s);
        if (QFileInfo::exists(bin + u"/initdb"_s) && version > bestVersion) {
            best = bin;
            bestVersion = version;
        }
    }
    if (best.isEmpty()) {
        const QString onPath = QStandardPaths::findExecutable(u"initdb"_s);
        if (!onPath.isEmpty())
            best = QFileInfo(onPath).absolutePath();
    }
    return best;
}

// A loopback port nobody listens on now (the kernel's choice of a free one).
int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// Quick rather than safe against a machine that stops: the cluster lives as long as one
// test program. A commit is still written out before it is acknowledged, so a server
// stopped with "immediate" keeps every transaction it said was committed, as a real one.
const char serverSettings[] = "\n# The test's own server\n"
                              "listen_addresses = '127.0.0.1'\n"
                              "unix_socket_directories = '%1'\n"
                              "fsync = off\n"
                              "full_page_writes = off\n"
                              "shared_buffers = 16MB\n"
                              "max_connections = 40\n"
                              "deadlock_timeout = 100ms\n"
                              // Not /dev/shm, which a container may keep small.
                              "dynamic_shared_memory_type = mmap\n"
                              "lc_messages = 'C'\n"
                              "log_min_messages = warning\n";

} // namespace

PgTestServer &PgTestServer::shared()
{
    static PgTestServer server;
    return server;
}

PgTestServer::PgTestServer()
{
    // Connections the tests make use only what their strings say: no password or
    // service file of the user's, no password from the environment.
    qunsetenv("PGPASSWORD");
    qunsetenv("PGSERVICE");
    if (!initialise() && !logTail().isEmpty())
        m_startError += u"\n"_s + logTail();
}

PgTestServer::~PgTestServer()
{
    m_admin.reset();
    // Closing the pipe is the watchdog's cue: it stops the server and removes the folder.
    if (m_watchdogPipe >= 0)
        ::close(m_watchdogPipe);
    if (m_watchdog > 0) {
        int status = 0;
        ::waitpid(m_watchdog, &status, 0);
    }
}

bool PgTestServer::initialise()
{
    m_binDirectory = findBinDirectory();
    if (m_binDirectory.isEmpty()) {
        m_startError = u"initdb not found (scripts/setup.sh installs postgresql)"_s;
        return false;
    }
    // Under /tmp, not a TMPDIR that may lie in a folder the postgres user cannot enter,
    // and short: a socket's path has at most 107 bytes.
    QByteArray pattern = QByteArrayLiteral("/tmp/quenta-pg-XXXXXX");
    if (!::mkdtemp(pattern.data())) {
        m_startError = u"no scratch folder under /tmp"_s;
        return false;
    }
    m_folder = QString::fromLocal8Bit(pattern);
    qputenv("PGPASSFILE", (m_folder + u"/no-pgpass"_s).toLocal8Bit());
    m_asPostgresUser = ::geteuid() == 0;
    if (m_asPostgresUser) {
        const passwd *postgres = ::getpwnam("postgres");
        if (!postgres || ::chown(pattern.constData(), postgres->pw_uid, postgres->pw_gid) != 0) {
            m_startError = u"as root the server runs as the postgres user, which is missing"_s;
            return false;
        }
    }
    startWatchdog();

    QString output;
    const QString data = m_folder + u"/data"_s;
    if (!runTool(u"initdb"_s,
                 {u"-D"_s, data, u"-U"_s, superuser(), u"--auth-local=trust"_s,
                  u"--auth-host=scram-sha-256"_s, u"-E"_s, u"UTF8"_s, u"--no-locale"_s,
                  u"--no-sync"_s, u"--no-instructions"_s},
                 &output)) {
        m_startError = u"initdb failed: "_s + output;
        return false;
    }
    QFile conf(data + u"/postgresql.conf"_s);
    if (!conf.open(QIODevice::Append)
        || conf.write(QString::fromLatin1(serverSettings).arg(m_folder).toUtf8()) < 0) {
        m_startError = u"cannot write postgresql.conf"_s;
        return false;
    }
    conf.close();

    // Another program may take the port between asking and binding: then another one.
    for (int attempt = 0; attempt < 3 && !m_running; ++attempt) {
        m_port = freeLoopbackPort();
        m_running = start();
    }
    return m_running;
}

void PgTestServer::startWatchdog()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    // read returns when the test's end of the pipe closes, however the test ended.
    const QByteArray script = "read -r _; d=$1; shift; \"$@\" >/dev/null 2>&1; rm -rf \"$d\"";
    QList<QByteArray> arguments = {"/bin/sh", "-c", script, "sh", m_folder.toLocal8Bit()};
    if (m_asPostgresUser)
        arguments += {"runuser", "-u", "postgres", "--"};
    arguments += {(m_binDirectory + u"/pg_ctl"_s).toLocal8Bit(),
                  "stop",
                  "-D",
                  (m_folder + u"/data"_s).toLocal8Bit(),
                  "-m",
                  "immediate",
                  "-w",
                  "-t",
                  "60"};
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: whatever kills the test's process group leaves it running.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    if (::posix_spawn(&m_watchdog, "/bin/sh", &actions, &attributes, argv.data(), environ) != 0)
        m_watchdog = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    m_watchdogPipe = fds[1];
}

bool PgTestServer::runTool(const QString &tool, const QStringList &arguments, QString *output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, u"C"_s);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The postgres user may not enter the test's folder.
    process.setWorkingDirectory(m_folder);
    const QString program = m_binDirectory + u'/' + tool;
    if (m_asPostgresUser)
        process.start(u"runuser"_s,
                      QStringList {u"-u"_s, u"postgres"_s, u"--"_s, program} + arguments);
    else
        process.start(program, arguments);
    const bool finished = process.waitForFinished(90000);
    if (!finished)
        process.kill();
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PgTestServer::start()
{
    QString output;
    if (!runTool(u"pg_ctl"_s,
                 {u"start"_s, u"-w"_s, u"-t"_s, u"60"_s, u"-D"_s, m_folder + u"/data"_s, u"-l"_s,
                  m_folder + u"/server.log"_s, u"-o"_s, u"-p %1"_s.arg(m_port)},
                 &output)) {
        m_startError = u"pg_ctl start failed: "_s + output;
        return false;
    }
    return true;
}

bool PgTestServer::stop(const QString &mode)
{
    if (m_admin)
        m_admin->close();
    return runTool(
        u"pg_ctl"_s,
        {u"stop"_s, u"-w"_s, u"-t"_s, u"60"_s, u"-D"_s, m_folder + u"/data"_s, u"-m"_s, mode});
}

QString PgTestServer::logTail() const
{
    QFile log(m_folder + u"/server.log"_s);
    if (m_folder.isEmpty() || !log.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(log.readAll()).split(u'\n');
    return lines.mid(std::max<qsizetype>(0, lines.size() - 20)).join(u'\n');
}

QString PgTestServer::socketUri(const QString &database, const QString &user) const
{
    return u"postgresql:///%1?host=%2&port=%3&user=%4"_s.arg(
        database, m_folder, QString::number(m_port), user.isEmpty() ? superuser() : user);
}

QString PgTestServer::tcpUri(const QString &database, const QString &user) const
{
    return u"postgresql://%1@127.0.0.1:%2/%3?sslmode=disable"_s.arg(user, QString::number(m_port),
                                                                    database);
}

bool PgTestServer::execute(const QString &sql, const QString &database)
{
    if (database == u"postgres"_s) {
        if (!m_admin)
            m_admin = std::make_unique<PgConnection>(socketUri(database));
        if (!m_admin->isOpen() && !m_admin->open())
            return false;
        if (m_admin->executeStatements(sql))
            return true;
        // A server restarted since: once more on a new connection.
        if (!m_admin->lastError().connectionLost || !m_admin->reconnect())
            return false;
        return m_admin->executeStatements(sql);
    }
    PgConnection connection(socketUri(database));
    return connection.open() && connection.executeStatements(sql);
}

QString PgTestServer::createDatabase()
{
    const QString name = u"test_%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(++m_databases);
    return execute(u"CREATE DATABASE "_s + PgConnection::quoteIdentifier(name)) ? name : QString();
}

bool PgTestServer::createRole(const QString &name, const QString &password)
{
    QString sql = u"CREATE ROLE "_s + PgConnection::quoteIdentifier(name) + u" LOGIN"_s;
    // CREATE ROLE takes no parameters: the password is a literal, written by the test.
    if (!password.isEmpty())
        sql += u" PASSWORD '"_s + QString(password).replace(u'\'', u"''"_s) + u'\'';
    return execute(sql);
}
