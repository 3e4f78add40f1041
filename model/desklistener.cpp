// SPDX-License-Identifier: GPL-3.0-or-later
#include "desklistener.h"

#include "changelistener.h"
#include "database.h"
#include "databaseerror.h"
#include "receiptbook.h"
#include "sqlitehelper.h"

#include <QSocketNotifier>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

constexpr int longestWaitSeconds = 30;

} // namespace

DeskListener &DeskListener::shared()
{
    static DeskListener listener;
    return listener;
}

DeskListener::~DeskListener()
{
    stop();
}

void DeskListener::start(const QString &uri)
{
    stop();
    m_connection = ChangeListener::forBook(uri);
    if (!m_connection)
        return;
    if (!m_retry) {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &DeskListener::tryAgain);
    }
    if (!listen())
        lose(m_connection->lastError());
}

int DeskListener::secondsUntilNextTry() const
{
    if (!m_retry || !m_retry->isActive())
        return 0;
    return (m_retry->remainingTime() + 999) / 1000;
}

void DeskListener::tryNow()
{
    if (!m_connection || m_connected || m_trying)
        return;
    m_retry->stop();
    tryAgain();
}

void DeskListener::stop()
{
    if (m_retry)
        m_retry->stop();
    // A try under way ends first: it uses the connection.
    if (m_worker.joinable())
        m_worker.join();
    m_trying = false;
    ++m_generation;
    m_notifier.reset();
    m_connection.reset();
    m_connected = false;
}

bool DeskListener::listen()
{
    m_notifier.reset();
    if (!m_connection->open() && !m_connection->reconnect())
        return false;
    if (!m_connection->listen(ReceiptBook::deskChannel()))
        return false;
    m_notifier = std::make_unique<QSocketNotifier>(m_connection->socket(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this,
            &DeskListener::readNotifications);
    m_connected = true;
    m_wait = 1;
    return true;
}

void DeskListener::readNotifications()
{
    if (!m_connection)
        return;
    if (!m_connection->consumeInput()) {
        lose(m_connection->lastError());
        return;
    }
    // This program's own writes were told when they committed.
    const int own = SQLiteHelper::shared().db().sessionId();
    for (const ChangeListener::Notice &notice : m_connection->takeNotices()) {
        if (notice.channel != ReceiptBook::deskChannel() || (own != 0 && notice.sender == own))
            continue;
        ReceiptBook::shared().tellFromElsewhere(notice.payload);
    }
}

void DeskListener::lose(const DatabaseError &reason)
{
    m_notifier.reset();
    const bool wasConnected = m_connected;
    m_connected = false;
    if (wasConnected || m_wait == 1)
        Q_EMIT connectionLost(reason.message());
    m_retry->start(m_wait * 1000);
    m_wait = std::min(m_wait * 2, longestWaitSeconds);
}

void DeskListener::tryAgain()
{
    if (!m_connection || m_trying)
        return;
    // A server whose host no longer answers keeps a connect waiting for its timeout: the
    // try runs on a thread of its own, so the window goes on meanwhile. Nothing else uses
    // the connection until the try has ended (its socket is watched by nobody).
    m_trying = true;
    if (m_worker.joinable())
        m_worker.join();
    ChangeListener *connection = m_connection.get();
    const QString channel = ReceiptBook::deskChannel();
    const int generation = m_generation;
    m_worker = std::thread([this, connection, channel, generation] {
        const bool listening = connection->reconnect() && connection->listen(channel);
        QMetaObject::invokeMethod(
            this, [this, listening, generation] { endTry(listening, generation); },
            Qt::QueuedConnection);
    });
}

void DeskListener::endTry(bool listening, int generation)
{
    // Told after stop() or another start(): that connection is gone.
    if (generation != m_generation || !m_trying)
        return;
    if (m_worker.joinable())
        m_worker.join();
    m_trying = false;
    if (!listening) {
        lose(m_connection->lastError());
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_connection->socket(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this,
            &DeskListener::readNotifications);
    m_connected = true;
    m_wait = 1;
    Q_EMIT connectionRestored();
    // What the other desks wrote meanwhile was not heard: every list reads again.
    ReceiptBook::shared().tellFromElsewhere(u"*"_s);
}
