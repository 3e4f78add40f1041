// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// What was done to a receipt, as tb_history records it.
// ChainStart: the row with which a book kept before its record chain begins one (what came
// before it was not linked as it was written). Close and Setting are records of the book
// rather than of one receipt: a closing of days (日结), a change of the header or of the
// numbering as the user set it; their rows name no receipt. Spoil: a form spoiled (废票),
// its number consumed; it names the receipt that was meant for it, given the next number.
enum class HistoryAction {
    Insert, Update, Delete, Void, Unvoid, Print, Restore, Import, ChainStart, Close, Setting, Spoil
};

// One row of the history.
struct HistoryEntry
{
    qint64 id = 0;
    QDateTime time;
    HistoryAction action = HistoryAction::Insert;
    QString receiptId;
    QString receiptNo;
    // The receipt as JSON: after the change, before it for a delete; "reason" for a void,
    // "changes" ({field: [before, after]}) for an update.
    QJsonObject detail;
};

// The history of every change of a receipt (table tb_history), as the book keeps it: rows
// are only ever added, each in the same transaction as the change it records, so a change
// without its row or a row without its change cannot be stored; never edited or deleted by
// the program. Reading and writing them is the book's (ReceiptBook); here is what a row
// holds and says.
namespace ReceiptHistory {

// "insert", "update" … as stored; and as the user reads it: 开单, 修改 …
QString actionName(HistoryAction action);
QString actionText(HistoryAction action);
std::optional<HistoryAction> actionFromName(const QString &name);

QJsonObject toJson(const Receipt &receipt);
// The receipt a detail holds; nothing when it lacks what a receipt must have.
std::optional<Receipt> receiptFromJson(const QJsonObject &detail);

// What an update changed, as the user reads it: "金额 680.00 → 860.00；交款单位 甲 → 乙".
QString changeSummary(const HistoryEntry &entry);

} // namespace ReceiptHistory
