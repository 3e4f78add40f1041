// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>

class QJsonObject;

class Database;

// The proof of a book: its record chain linked again from the first row, and every
// receipt, void and the numbering counter compared with what the chain's newest rows say.
// A chain rewritten consistently from its start is not caught here: only a head known from
// before (printed on a day report, on a receipt's code) tells it (containsHead).
namespace BookProof {

struct Verdict
{
    // Whether everything agrees; otherwise `problem` names the first thing that does not,
    // as a treasurer reads it ("No.0000003 与记录不符：收款金额 10.00 → 99999.00").
    bool whole = false;
    QString problem;
    // The links of the chain, and the newest (64 hex digits; empty without any).
    qint64 records = 0;
    QString head;
};

// False when the book could not be read through (*error says why, in Chinese); the
// verdict otherwise. `cancel` true stops it (false, with no reason). With a `second`
// connection to the same book, the receipts are read on it at the same time as the chain
// on `book`, on a thread of their own; without, each after the other (in one snapshot,
// when `book` holds one).
bool verify(Database &book, Verdict *verdict, QString *error,
            const std::atomic_bool *cancel = nullptr, Database *second = nullptr);

// Proves the chain of the book file at `path` (a backup about to be restored), read only:
// false with the break named, in Chinese, when it is broken, or when it cannot be read.
// A file from before the chain has none to prove: it is linked when it is brought up to
// date.
bool proveFile(const QString &path, QString *error);

// The newest link as the book keeps it (64 hex digits), not proved; empty for a book
// without records or without a chain (one from before it, only read).
QString storedHead(Database &book);

// What differs between a receipt as a history row recorded it and as it is stored, both as
// ReceiptHistory::toJson gives them, field by field as a treasurer reads it ("收款金额
// 10.00 → 99999.00；交款单位 甲 → 乙"); empty when they say the same (a date's day, an
// amount in fen).
QString differences(const QJsonObject &recorded, const QJsonObject &stored);

// The head as the program prints it: its first 16 hex digits, in capitals.
QString shortHead(const QString &head);

// Whether `given` (16 to 64 hex digits, any case) begins one of the book's links, the
// newest or any before it, into *found. False when it is no such text (*error says so) or
// the book could not be read.
bool containsHead(Database &book, const QString &given, bool *found, QString *error);

} // namespace BookProof
