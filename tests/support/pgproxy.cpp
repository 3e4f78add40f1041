// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgproxy.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

sockaddr_un addressOf(const QString &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(),
                std::min<size_t>(size_t(bytes.size()), sizeof(address.sun_path) - 1));
    return address;
}

// One client's connection and the proxy's own to the server.
struct Pair
{
    int client = -1;
    int server = -1;
    // The client's COMMIT (or issuing call) went to the server: its answer is not carried
    // back.
    bool swallowing = false;
    // The client sent last (the server has not answered since).
    bool clientSpokeLast = false;
};

void closePair(Pair &pair)
{
    ::close(pair.client);
    ::close(pair.server);
    pair.client = pair.server = -1;
}

// Sends all of `bytes`; false when the other end is gone.
bool sendAll(int socket, const char *bytes, ssize_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(socket, bytes, size_t(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= sent;
    }
    return true;
}

} // namespace

PgProxy::PgProxy(const QString &serverFolder, int port)
    : m_folder(QDir::tempPath() + u"/quenta-proxy-%1"_s.arg(::getpid()))
    , m_port(port)
    , m_server(serverFolder + u"/.s.PGSQL.%1"_s.arg(port))
{
    QDir().mkpath(m_folder);
    const QString path = m_folder + u"/.s.PGSQL.%1"_s.arg(port);
    ::unlink(QFile::encodeName(path).constData());
    m_listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = addressOf(path);
    if (m_listener < 0
        || ::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0
        || ::listen(m_listener, 16) != 0 || ::pipe(m_wake) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return;
    }
    m_thread = std::thread([this] { run(); });
}

PgProxy::~PgProxy()
{
    m_stop = true;
    if (m_wake[1] >= 0)
        (void)::write(m_wake[1], "x", 1);
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    QDir(m_folder).removeRecursively();
}

QString PgProxy::uri(const QString &database) const
{
    return u"postgresql:///%1?host=%2&port=%3&user=postgres"_s.arg(database, m_folder).arg(m_port);
}

void PgProxy::run()
{
    std::vector<Pair> pairs;
    char buffer[65536];
    while (!m_stop) {
        std::vector<pollfd> watched {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        for (const Pair &pair : pairs) {
            watched.push_back({pair.client, POLLIN, 0});
            watched.push_back({pair.server, POLLIN, 0});
        }
        if (::poll(watched.data(), nfds_t(watched.size()), 200) < 0)
            continue;
        if (watched[0].revents & POLLIN) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            const int server = m_refusing ? -1 : ::socket(AF_UNIX, SOCK_STREAM, 0);
            const sockaddr_un address = addressOf(m_server);
            if (server >= 0
                && ::connect(server, reinterpret_cast<const sockaddr *>(&address), sizeof(address))
                    == 0)
                pairs.push_back({client, server});
            else {
                ::close(client);
                ::close(server);
            }
        }
        bool cut = false;
        for (size_t i = 0; i < pairs.size() && i * 2 + 3 < watched.size(); ++i) {
            Pair &pair = pairs[i];
            const pollfd &fromClient = watched[2 + i * 2];
            const pollfd &fromServer = watched[3 + i * 2];
            if (fromClient.revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::recv(pair.client, buffer, sizeof(buffer), 0);
                // A simple query "COMMIT", or the call that issues a receipt in one
                // statement, whose answer or itself is to be lost.
                const QByteArray sent = QByteArray::fromRawData(buffer, got);
                const bool commit = got > 0 && m_loss != Loss::None
                    && (sent.contains(QByteArray("COMMIT", 7))
                        || sent.contains(QByteArray("call quenta_issue")));
                if (commit && m_loss.exchange(Loss::None) == Loss::Commit) {
                    ++m_losses;
                    cut = true;
                    continue;
                }
                if (got <= 0 || !sendAll(pair.server, buffer, got)) {
                    closePair(pair);
                    continue;
                }
                if (!std::exchange(pair.clientSpokeLast, true))
                    ++m_trips;
                if (commit)
                    pair.swallowing = true;
            }
            if (fromServer.revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::recv(pair.server, buffer, sizeof(buffer), 0);
                if (got > 0)
                    pair.clientSpokeLast = false;
                if (got > 0 && pair.swallowing) {
                    // Answered: the commit is on the server's disk. Nobody hears it.
                    ++m_losses;
                    cut = true;
                } else if (got <= 0 || !sendAll(pair.client, buffer, got)) {
                    closePair(pair);
                }
            }
        }
        if (cut) {
            for (Pair &pair : pairs)
                closePair(pair);
        }
        std::erase_if(pairs, [](const Pair &pair) { return pair.client < 0; });
    }
    for (Pair &pair : pairs)
        closePair(pair);
}
