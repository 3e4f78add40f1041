// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <thread>

// A TCP go-between on 127.0.0.1 for a server on the same host that holds back what passes
// through it a fixed time each way: a desk across town, over a VPN, on a loopback server.
// It counts the turns its connections take: each time a client sends after it last heard
// from the server (or first), one round trip begins. Runs on a thread of its own.
class DelayRelay
{
public:
    DelayRelay(int serverPort, int delayMs);
    ~DelayRelay();
    DelayRelay(const DelayRelay &) = delete;
    DelayRelay &operator=(const DelayRelay &) = delete;

    // The port clients connect to; 0 when it could not listen.
    int port() const { return m_port; }
    // The round trips begun since the start or the last resetTrips().
    long trips() const { return m_trips; }
    void resetTrips() { m_trips = 0; }

private:
    void run();

    int m_serverPort;
    int m_delayMs;
    int m_listener = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::atomic_long m_trips {0};
    std::atomic_bool m_stop {false};
    std::thread m_thread;
};
