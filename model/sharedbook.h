// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

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

// Writes an ordinary SQLite book to `target`, one that opens, checks and restores as any
// backup does: every table of the shared book at `uri` as one consistent snapshot, the
// search index filled. The file is put in place only when its rows and amounts match the
// snapshot; false with the reason in `error`, nothing written then.
bool backup(const QString &uri, const QString &target, QString *error);

// Checks the shared book's tables and columns against the template's, its version, the
// unique index of the numbers, and that every receipt has the history row of its issue or
// import (but a receipt older than the book's history, from a version that kept none).
// The findings, in Chinese, empty when all is well; nothing when the book could not be
// read, with the reason in `error`.
std::optional<QStringList> check(const QString &uri, QString *error);

// Replaces the contents of the shared book at `uri` with the SQLite book `file` (checked
// as any backup is), in one transaction, only while no desk is connected. The numbering
// goes on after the highest number the replaced contents issued, and the history records
// the restore. False with the reason; *desksConnected tells a refusal while desks are.
bool restore(const QString &uri, const QString &file, QString *error,
             bool *desksConnected = nullptr);

// The tables of a shared book, the SQLite book's own (search index) left out; the schema
// version's table last.
const QStringList &tableNames();

} // namespace SharedBook
