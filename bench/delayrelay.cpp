// SPDX-License-Identifier: GPL-3.0-or-later
#include "delayrelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from one side, to be written to the other once their time has come.
struct Held
{
    Clock::time_point due;
    std::string bytes;
};

struct Direction
{
    int from = -1;
    int to = -1;
    std::deque<Held> held;
    bool closed = false; // `from` has nothing more to send
};

struct Pair
{
    Direction up;   // client → server
    Direction down; // server → client
    bool clientSpokeLast = false;
    bool gone = false;
};

void closeQuietly(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

void prepare(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Writes what is due; false when the other side is gone.
bool deliver(Direction &direction, Clock::time_point now)
{
    while (!direction.held.empty() && direction.held.front().due <= now) {
        std::string &bytes = direction.held.front().bytes;
        const ssize_t written = ::send(direction.to, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (written < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        bytes.erase(0, size_t(written));
        if (!bytes.empty())
            return true;
        direction.held.pop_front();
    }
    if (direction.held.empty() && direction.closed)
        ::shutdown(direction.to, SHUT_WR);
    return true;
}

} // namespace

DelayRelay::DelayRelay(int serverPort, int delayMs)
    : m_serverPort(serverPort)
    , m_delayMs(delayMs)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(m_listener, 16) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0
        || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        closeQuietly(m_listener);
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

DelayRelay::~DelayRelay()
{
    m_stop = true;
    if (m_wake[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wake[1], &byte, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    closeQuietly(m_listener);
    closeQuietly(m_wake[0]);
    closeQuietly(m_wake[1]);
}

void DelayRelay::run()
{
    std::list<Pair> pairs;
    const auto delay = std::chrono::milliseconds(m_delayMs);
    std::vector<char> buffer(1 << 16);
    while (!m_stop) {
        std::vector<pollfd> watched {{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
        std::vector<Direction *> reading;
        Clock::time_point next = Clock::time_point::max();
        for (Pair &pair : pairs) {
            for (Direction *direction : {&pair.up, &pair.down}) {
                if (!direction->closed) {
                    watched.push_back({direction->from, POLLIN, 0});
                    reading.push_back(direction);
                }
                if (!direction->held.empty()) {
                    next = std::min(next, direction->held.front().due);
                    watched.push_back({direction->to, POLLOUT, 0});
                    reading.push_back(nullptr);
                }
            }
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                next - Clock::now());
            timeout = int(std::max<long long>(0, wait.count()));
        }
        if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR)
            break;
        if (watched[1].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = client >= 0 ? connectTo(m_serverPort) : -1;
            if (server >= 0) {
                prepare(client);
                prepare(server);
                Pair &pair = pairs.emplace_back();
                pair.up = {client, server, {}, false};
                pair.down = {server, client, {}, false};
            } else if (client >= 0) {
                ::close(client);
            }
        }
        const Clock::time_point now = Clock::now();
        for (size_t i = 2; i < watched.size(); ++i) {
            Direction *direction = reading[i - 2];
            if (!direction || !(watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t read = ::recv(direction->from, buffer.data(), buffer.size(), 0);
            if (read <= 0) {
                if (read == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    direction->closed = true;
                continue;
            }
            for (Pair &pair : pairs) {
                if (direction == &pair.up && !pair.clientSpokeLast) {
                    ++m_trips;
                    pair.clientSpokeLast = true;
                } else if (direction == &pair.down) {
                    pair.clientSpokeLast = false;
                }
            }
            direction->held.push_back({now + delay, std::string(buffer.data(), size_t(read))});
        }
        for (Pair &pair : pairs) {
            if (!deliver(pair.up, Clock::now()) || !deliver(pair.down, Clock::now()))
                pair.gone = true;
            if ((pair.up.closed && pair.up.held.empty() && pair.down.closed
                 && pair.down.held.empty())
                || pair.gone) {
                closeQuietly(pair.up.from);
                closeQuietly(pair.down.from);
                pair.gone = true;
            }
        }
        pairs.remove_if([](const Pair &pair) { return pair.gone; });
    }
    for (Pair &pair : pairs) {
        closeQuietly(pair.up.from);
        closeQuietly(pair.down.from);
    }
}
