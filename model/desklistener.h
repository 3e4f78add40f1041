// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <thread>

class ChangeListener;
class DatabaseError;
class QSocketNotifier;
class QTimer;

// What the other desks of a shared book write, heard as it is committed: a connection of
// its own listens on the book's channel, woken by its socket (no polling), and hands each
// change to ReceiptBook::tellFromElsewhere(), so the lists update their rows and a receipt
// open in the form learns that it changed. When the server goes away it says so, tries
// again (waiting longer each time, at most 30 s) and, back, has everything read again:
// what changed meanwhile was not heard.
class DeskListener : public QObject
{
    Q_OBJECT

public:
    static DeskListener &shared();
    ~DeskListener() override;

    // Listens on the book `uri`; nothing for a book in a file.
    void start(const QString &uri);
    void stop();
    bool isConnected() const { return m_connected; }
    // While cut off: how long until it tries again by itself (0 when no try is waiting).
    int secondsUntilNextTry() const;
    // While cut off: tries again now instead of waiting (立即重试). The try runs on a thread
    // of its own; connectionRestored() or connectionLost() tells how it ended.
    void tryNow();
    // Whether a try to connect again is under way.
    bool isTrying() const { return m_trying; }

Q_SIGNALS:
    // The server cannot be reached ("共享账本连接中断：…"), and when it can again.
    void connectionLost(const QString &message);
    void connectionRestored();

private:
    DeskListener() = default;
    void readNotifications();
    void lose(const DatabaseError &reason);
    void tryAgain();
    void endTry(bool listening, int generation);
    bool listen();

    std::unique_ptr<ChangeListener> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer *m_retry = nullptr;
    int m_wait = 1;
    bool m_connected = false;
    bool m_trying = false;
    // Counts start() and stop(): the end of a try told for an earlier connection is let be.
    int m_generation = 0;
    std::thread m_worker;
};
