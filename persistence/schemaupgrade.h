// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <optional>

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
    // What the book holds beyond a receipt book's tables and indexes (triggers, views,
    // other tables), as the user reads them: "触发器 wipe（表 tb_receipt）". Such a book
    // is only read: a trigger can drop or change every save.
    QStringList unknownObjects;
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
    // it. Version 1 added tb_void and tb_history, version 2 the search index fts_receipt
    // with its triggers and tb_searchIndex.
    // Version 3 added the desk that made each history row (tb_history.desk), version 4
    // the indexes of the receipts' and the history's numbers by value
    // (idx_receipt_receiptNoValue, idx_history_receiptNoValue), version 5 the record chain
    // (tb_chain, tb_chainHead and the trigger that links each history row), version 6 the
    // closed days (tb_closing and the triggers that keep what they close), version 7 the
    // series and the paper books (tb_series, tb_seriesCounter, tb_paperBook, the index of
    // spoiled forms and the trigger that keeps numbers in their books).
    static constexpr int currentVersion = 7;
    // A shared book's version (its row of tb_schema): the same up to 4; version 5 added the
    // procedure that issues a receipt in one statement (quenta_issue), which a file has no
    // use for; version 6 the record chain (a file's 5); version 7 the closed days (a file's
    // 6); version 8 the series and the paper books (a file's 7).
    static constexpr int currentServerVersion = 8;

    static SchemaReport apply(Database &database);
    // The same for a book on a server, whose version is the row of tb_schema: the report's
    // version is -1 when it cannot be read (not a shared book, no connection).
    static SchemaReport applyOnServer(Database &database);

    // What `database` holds that the template at `templatePath` does not: every trigger,
    // view or virtual table but the template's own (same name, same statement), and every
    // table or index of another name, of another table, or declared to replace or ignore
    // rows on a conflict. SQLite's own objects (sqlite_autoindex_*, sqlite_sequence,
    // sqlite_stat*) belong to any book. Nothing when either file cannot be read.
    static std::optional<QStringList> unknownObjects(Database &database,
                                                     const QString &templatePath);
    // The tables a book of `version` may lack because the upgrade adds them.
    static QStringList tablesAddedAfter(int version);
    // The book's PRAGMA user_version, or -1 when it cannot be read.
    static int version(Database &database);
};
