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
};

// Brings a database file up to what this program relies on, when the connection first
// opens: receipt numbers under a unique index, and the numbering and header rows that
// every save needs. All of it runs in one transaction and never changes a stored
// receipt; a file that can only be read, or is not a receipt book at all, is left as
// it is (the start-up check reports such files).
class SchemaUpgrade
{
public:
    static SchemaReport apply(Database &database);
};
