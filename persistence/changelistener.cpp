// SPDX-License-Identifier: GPL-3.0-or-later
#include "changelistener.h"

#include "database.h"
#include "pgconnection.h"

std::unique_ptr<ChangeListener> ChangeListener::forBook(const QString &book)
{
    if (!Database::isServerBook(book))
        return nullptr;
    return std::unique_ptr<ChangeListener>(new ChangeListener(book));
}

ChangeListener::ChangeListener(const QString &book)
    : m_connection(std::make_unique<PgConnection>(book))
{ }

ChangeListener::~ChangeListener() = default;

bool ChangeListener::open()
{
    return m_connection->open(Database::serverPassword());
}

bool ChangeListener::reconnect()
{
    return m_connection->reconnect();
}

bool ChangeListener::listen(const QString &channel)
{
    return m_connection->listen(channel);
}

int ChangeListener::socket() const
{
    return m_connection->socket();
}

bool ChangeListener::consumeInput()
{
    return m_connection->consumeInput();
}

QList<ChangeListener::Notice> ChangeListener::takeNotices()
{
    QList<Notice> notices;
    for (const PgNotification &notification : m_connection->takeNotifications())
        notices.append({notification.channel, notification.payload, notification.senderPid});
    return notices;
}

DatabaseError ChangeListener::lastError() const
{
    PgError failure = m_connection->lastError();
    failure.connectionLost = true;
    if (failure.sqlState.isEmpty())
        failure.sqlState = PgState::connectionFailure.toString();
    return serverError(failure);
}
