// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "databaseerror.h"

class Database;

// One write transaction on a connection that is already open. BEGIN IMMEDIATE takes the
// file's write lock at once (waiting as long as the busy handler does), so nothing that
// another process writes can come between what the transaction reads and what it
// writes. Rolls back when it goes out of scope before commit() succeeded.
class Transaction
{
public:
    explicit Transaction(Database &database);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // False when the lock could not be had or the connection is not open; nothing has
    // begun then.
    // OneSnapshot: every read sees the book as it was at the first (a backup, a check).
    enum class Reads { Current, OneSnapshot };
    bool begin(Reads reads = Reads::Current);
    // False when the commit failed; everything is rolled back then.
    bool commit();
    void rollback();
    bool isActive() const { return m_active; }
    // Why begin() or commit() failed.
    const DatabaseError &error() const { return m_error; }

private:
    void noteError();

    Database &m_database;
    bool m_active = false;
    DatabaseError m_error;
};
