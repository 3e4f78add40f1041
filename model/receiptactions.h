// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipthistory.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// What is done to stored receipts besides the form's saves: voiding (作废) and undoing it,
// recording a print, and bringing back a deleted receipt from the history. Each runs in
// one write transaction with its history rows, so nothing is ever half done; each answers
// false with the reason (in Chinese) in error. The receipt lists reload afterwards.
namespace ReceiptActions {

// Voids every receipt of `ids` that is not voided yet, with the reason (required).
bool voidReceipts(const QStringList &ids, const QString &reason, QString *error = nullptr);
// Undoes the void of every voided receipt of `ids`.
bool unvoidReceipts(const QStringList &ids, QString *error = nullptr);
// The reasons given before, most used first, for the reason picker.
QStringList earlierVoidReasons();

// Whether the book has its table of voids: a book from before voids were kept, opened
// read-only (not brought up to date), has none and so no voided receipt. Nothing when it
// cannot be read.
std::optional<bool> keepsVoids();

// The void reason of each voided receipt, by id; empty when none is voided or the table
// cannot be read (a book not yet brought up to date).
QHash<QString, QString> voidReasons();
// Reads the void reason of one receipt now into *reason (nothing: not voided), for what
// printing shows on the page. False when it cannot be read (the book held by another
// program past the wait, a damaged page): then nobody can say whether it is voided.
bool readVoidReason(const QString &receiptId, std::optional<QString> *reason);

// The void of one receipt as its history keeps it ({"reason", "voidDate"}); empty when
// it is not voided or cannot be read.
QJsonObject voidDetail(const QString &receiptId);

// Writes the history row of a receipt that was printed.
bool recordPrint(const QString &receiptId, QString *error = nullptr);

// Puts a deleted receipt back from its history row, with its id, number and every field,
// logged as a restore. Refused when its number or id is taken meanwhile.
bool restoreDeleted(const HistoryEntry &deletion, QString *error = nullptr);

} // namespace ReceiptActions
