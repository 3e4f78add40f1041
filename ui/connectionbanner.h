// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class ContentView;
class DeskListener;
class QAction;
class QTimer;

// What the window says while the shared book's server cannot be reached: why, that Quenta
// connects again by itself and when it tries next (counted down each second), with
// 立即重试 to try at once; gone when the server is back.
class ConnectionBanner : public QObject
{
    Q_OBJECT

public:
    ConnectionBanner(ContentView *window, DeskListener &listener);

    // "共享账本连接中断：…。正在自动重新连接，N 秒后再试" (or "…正在重新连接…" while a
    // try is under way).
    static QString text(const QString &reason, int secondsUntilNextTry);

private:
    void show();

    ContentView *m_window;
    DeskListener &m_listener;
    QAction *m_retryAction;
    QTimer *m_tick;
    QString m_reason;
};
