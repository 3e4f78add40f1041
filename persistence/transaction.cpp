// SPDX-License-Identifier: GPL-3.0-or-later
#include "transaction.h"

#include "database.h"

using namespace Qt::StringLiterals;

Transaction::Transaction(Database &database)
    : m_database(database)
{ }

Transaction::~Transaction()
{
    rollback();
}

bool Transaction::begin(Reads reads)
{
    if (m_active)
        return false;
    if (!m_database.isOpen()) {
        // Closed by a failure just before (a server gone): that failure is the reason.
        noteError();
        if (!m_error.isError())
            m_error = {DatabaseError::Kind::Other, u"database is not open"_s, {}};
        return false;
    }
    m_active = m_database.executeStatements(reads == Reads::OneSnapshot
                                                ? m_database.dialect().snapshotBeginStatement()
                                                : m_database.dialect().beginStatement());
    m_database.setInTransaction(m_active);
    if (!m_active)
        noteError();
    return m_active;
}

bool Transaction::commit()
{
    if (!m_active)
        return false;
    if (m_database.executeStatements(u"COMMIT"_s)) {
        m_active = false;
        m_database.setInTransaction(false);
        return true;
    }
    // A COMMIT that fails on a lock leaves the transaction open; end it, so that a
    // failure never leaves writes pending for a later statement to commit by accident.
    noteError();
    rollback();
    return false;
}

void Transaction::rollback()
{
    if (!m_active)
        return;
    m_active = false;
    m_database.setInTransaction(false);
    // The engine may already have rolled back by itself (an I/O error, a full disk, a lost
    // connection).
    if (m_database.isInTransaction())
        m_database.executeStatements(u"ROLLBACK"_s);
}

void Transaction::noteError()
{
    m_error = m_database.lastError();
}
