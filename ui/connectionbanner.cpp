// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionbanner.h"

#include "contentview.h"
#include "desklistener.h"

#include <QAction>
#include <QTimer>

using namespace Qt::StringLiterals;

ConnectionBanner::ConnectionBanner(ContentView *window, DeskListener &listener)
    : QObject(window)
    , m_window(window)
    , m_listener(listener)
    , m_retryAction(new QAction(u"立即重试"_s, this))
    , m_tick(new QTimer(this))
{
    m_retryAction->setObjectName(u"retryNowAction"_s);
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, &ConnectionBanner::show);
    connect(m_retryAction, &QAction::triggered, this, [this] {
        m_listener.tryNow();
        show();
    });
    connect(&listener, &DeskListener::connectionLost, this, [this](const QString &message) {
        m_reason = message;
        show();
        m_tick->start();
    });
    connect(&listener, &DeskListener::connectionRestored, this, [this] {
        m_reason.clear();
        m_tick->stop();
        m_window->setBanner({});
    });
}

QString ConnectionBanner::text(const QString &reason, int secondsUntilNextTry)
{
    return secondsUntilNextTry > 0
        ? u"%1。正在自动重新连接，%2 秒后再试"_s.arg(reason).arg(secondsUntilNextTry)
        : u"%1。正在重新连接…"_s.arg(reason);
}

void ConnectionBanner::show()
{
    if (m_reason.isEmpty())
        return;
    // A try under way (its own or one asked for) is waited for, not asked for again.
    m_retryAction->setEnabled(!m_listener.isTrying());
    m_window->setBanner(text(m_reason, m_listener.secondsUntilNextTry()), m_retryAction);
}
