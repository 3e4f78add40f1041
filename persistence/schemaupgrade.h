// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class Database;

// What opening a database file found and mended.
struct SchemaReport
{
    // Receipt numbers that more than one stored receipt carries. While there are any,
    // the numbers keep a plain index instead of a unique one.
    QStringList duplicateReceiptNumbers;
    // Tables whose one expected row was missing and has been put back.
    QStringList restoredTables;
    // The book's schema version when it was opened, and whether it came from a newer
    // program (it is then only read: this program does not know what the newer one
    // relies on).
    int version = 0;
    bool isNewer = false;
};

// Brings a database file up to what this program relies on, when the connection first
// opens: receipt numbers under a unique index, and the numbering and header rows that
// every save needs. All of it runs in one transaction and never changes a stored
// receipt; a file that can only be read, or is not a receipt book at all, is left as
// it is (the start-up check reports such files).
class SchemaUpgrade
{
public:
    // The schema version this program writes (PRAGMA user_version); the template carries
    // it. Version 1 added tb_void and tb_history.
    static constexpr int currentVersion = 1;

    static SchemaReport apply(Database &database);
    // The book's PRAGMA user_version, or -1 when it cannot be read.
    static int version(Database &database);
};
