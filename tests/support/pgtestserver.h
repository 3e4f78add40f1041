// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pgconnection.h"

#include <QString>

#include <memory>

#include <sys/types.h>

// A PostgreSQL server of the test program's own: a cluster made with initdb in a scratch
// folder under /tmp, listening on a Unix socket in that folder (trusted: the superuser
// connects there) and on a free loopback port (roles with a password connect there). One
// server serves the whole test program; it stops, and its folder goes, when the program
// ends, and also when it dies: a watchdog in a session of its own waits on a pipe that
// only the test holds open and stops the server when the pipe closes.
//
// initdb refuses to run as root: under root (CI) the server runs as the postgres user
// through runuser, with the folder given to that user.
class PgTestServer
{
public:
    // The program's server, started on first use; isRunning() says whether that worked,
    // startError() why not.
    static PgTestServer &shared();
    ~PgTestServer();
    PgTestServer(const PgTestServer &) = delete;
    PgTestServer &operator=(const PgTestServer &) = delete;

    bool isRunning() const { return m_running; }
    QString startError() const { return m_startError; }
    QString folder() const { return m_folder; }
    int port() const { return m_port; }
    static QString superuser() { return QStringLiteral("postgres"); }

    // Connection strings to `database`: over the socket as `user` (the superuser when
    // empty), or over loopback TCP as `user`, who needs a password from libpq's usual
    // places.
    QString socketUri(const QString &database, const QString &user = {}) const;
    QString tcpUri(const QString &database, const QString &user) const;

    // A new empty database with a name no other test of the program uses; empty on
    // failure.
    QString createDatabase();
    // A role that can log in, with `password` when given (scram-sha-256 over TCP).
    bool createRole(const QString &name, const QString &password = {});
    // Runs statements as the superuser in `database`.
    bool execute(const QString &sql, const QString &database = QStringLiteral("postgres"));

    // pg_ctl stop with a mode ("fast", "immediate") and start again, for tests of a
    // server that goes away. The port and the data stay.
    bool stop(const QString &mode = QStringLiteral("fast"));
    bool start();
    // The end of the server's log, for a failure message.
    QString logTail() const;

private:
    PgTestServer();
    bool initialise();
    bool runTool(const QString &tool, const QStringList &arguments, QString *output = nullptr);
    void startWatchdog();

    bool m_running = false;
    QString m_startError;
    QString m_folder;
    QString m_binDirectory;
    bool m_asPostgresUser = false;
    int m_port = 0;
    int m_databases = 0;
    int m_watchdogPipe = -1;
    pid_t m_watchdog = -1;
    std::unique_ptr<PgConnection> m_admin;
};
