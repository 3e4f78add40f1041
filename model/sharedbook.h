// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// A receipt book on a PostgreSQL server that several desks share. This class makes one:
// the tables in an empty database, the contents of a SQLite book copied into them, and what
// a desk's role may do there.
namespace SharedBook {

// Makes the shared book at the postgresql:// URI `uri` (no password in it: libpq finds one
// in ~/.pgpass or PGPASSWORD) and copies the SQLite book `fromFile` into it: every receipt
// with its id and number, the voids, the history, the lookup lists, the header and the
// numbering, as the texts they are stored as. Without `fromFile` the book starts as a new
// SQLite book does, from the template's first rows. When `deskRole` is given, that role
// may then read and write receipts, voids, lookups and settings, and only add to and read
// the history.
//
// Everything runs in one transaction, which commits only when every table holds as many
// rows as the SQLite book and the receipts' amounts add up to the same whole fen; a
// database that already holds any of the book's tables is left alone. The number of
// receipts copied, or nothing with the reason in `error` (in Chinese).
std::optional<qint64> create(const QString &uri, const QString &fromFile, const QString &deskRole,
                             QString *error);

// The tables of a shared book, the SQLite book's own (search index) left out; the schema
// version's table last.
const QStringList &tableNames();

} // namespace SharedBook
