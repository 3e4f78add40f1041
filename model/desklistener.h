// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class PgConnection;
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

Q_SIGNALS:
    // The server cannot be reached ("共享账本连接中断：…"), and when it can again.
    void connectionLost(const QString &message);
    void connectionRestored();

private:
    DeskListener() = default;
    void readNotifications();
    void lose(const QString &reason);
    void tryAgain();
    bool listen();

    std::unique_ptr<PgConnection> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer *m_retry = nullptr;
    int m_wait = 1;
    bool m_connected = false;
};
