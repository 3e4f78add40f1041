// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <memory>

#include "databaseerror.h"

class PgConnection;

// A connection of its own that hears what other connections announce on a channel when
// their transactions commit (a shared book's desks). Only a book whose engine tells other
// connections has one: a file's readers ask its data version instead. Used by one thread
// at a time; its socket wakes a notifier when something arrives.
class ChangeListener
{
public:
    struct Notice
    {
        QString channel;
        QString payload;
        // The session that sent it, as Database::sessionId() names a connection's own.
        int sender = 0;
    };

    // The listener of `book`, not yet connected; nothing for a book in a file.
    static std::unique_ptr<ChangeListener> forBook(const QString &book);
    ~ChangeListener();

    // Connects (with the run's password), or connects again with the same parameters and
    // listens again on the channels listened to before.
    bool open();
    bool reconnect();
    bool listen(const QString &channel);
    // The connection's socket; -1 when not connected.
    int socket() const;
    // Reads what has arrived without waiting; false when the connection broke.
    bool consumeInput();
    // The notices received so far, oldest first; handed out once.
    QList<Notice> takeNotices();
    // Why the last open, listen or read failed: the connection is gone.
    DatabaseError lastError() const;

private:
    explicit ChangeListener(const QString &book);
    std::unique_ptr<PgConnection> m_connection;
};
