// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What a failed statement means for the user, in Chinese: a lock held by another
// program, a damaged file, a missing table or column. `code` is the SQLite result code
// (primary or extended), `message` SQLite's own text, which the answer keeps in
// brackets where it names something (a column, a table).
QString describeDatabaseError(int code, const QString &message);

// The code of a failure that lost the connection to a server book (server stopped,
// network gone): SQLite's I/O error code, marked as the server's.
inline constexpr int serverConnectionLost = (1 << 20) | 10;
// A server book's row held by another session longer than a desk waits for it (a desk
// frozen with the numbering in hand): SQLite's busy code, marked as the server's.
inline constexpr int serverLockTimeout = (1 << 20) | 5;
// A server book whose desks' lock another session holds exclusively (a restore).
inline constexpr int serverBookHeld = (1 << 21) | 5;

// Whether `code` says another program's lock stopped the statement (busy or locked),
// which tells nothing about the file itself.
bool isLockError(int code);
// Whether `code` says the statement was interrupted: a read that gave way to a writer of
// this program, or one given up (Database::setYieldsToWriters, Database::setCancel).
bool isInterruption(int code);
// Whether `code` says the statement broke a rule of its table (a number stored twice).
bool isConflict(int code);
// Whether the statement was refused for want of rights (a desk's role), or named a table
// the book does not have.
bool isPermissionError(int code);
bool isMissingTable(const QString &message);
