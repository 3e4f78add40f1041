// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <thread>

// A go-between for the test server's Unix socket, listening on a socket of its own in a
// scratch folder, that can lose what the server answers: the network between a desk and
// its server, cut at the worst moment. Connections are carried byte for byte on a thread
// of the proxy's own until told otherwise.
class PgProxy
{
public:
    // Carries connections to the server listening at `serverFolder`/.s.PGSQL.`port`.
    PgProxy(const QString &serverFolder, int port);
    ~PgProxy();
    PgProxy(const PgProxy &) = delete;
    PgProxy &operator=(const PgProxy &) = delete;

    bool isListening() const { return m_listener >= 0; }
    // A connection string to `database` through the proxy, as the superuser.
    QString uri(const QString &database) const;

    // What goes missing of the next COMMIT a client sends (or the call that issues a
    // receipt in one statement), after which every connection is cut: its answer (the
    // commit is written, the client never learns it) or the COMMIT itself (nothing is
    // written). losses() counts them.
    enum class Loss { None, Answer, Commit };
    void loseNextCommit(Loss loss) { m_loss = loss; }
    int losses() const { return m_losses; }
    // Whether new connections are refused (the network still down) or carried.
    void setRefusing(bool refusing) { m_refusing = refusing; }
    // The round trips begun since the last resetTrips(): each time a client sends after it
    // last heard from the server (a desk across town waits its network's latency for each).
    long trips() const { return m_trips; }
    void resetTrips() { m_trips = 0; }

private:
    void run();

    QString m_folder;
    int m_port;
    QString m_server;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<Loss> m_loss {Loss::None};
    std::atomic_bool m_refusing {false};
    std::atomic_bool m_stop {false};
    std::atomic_int m_losses {0};
    std::atomic_long m_trips {0};
    std::thread m_thread;
};
