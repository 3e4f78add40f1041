// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// What was done to a receipt, as tb_history records it.
enum class HistoryAction { Insert, Update, Delete, Void, Unvoid, Print, Restore };

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

// The history of every change of a receipt (table tb_history). Rows are only ever added,
// each in the same transaction as the change it records, so a change without its row or
// a row without its change cannot be stored. Never edited or deleted by the program.
namespace ReceiptHistory {

// "insert", "update" … as stored; and as the user reads it: 开单, 修改 …
QString actionName(HistoryAction action);
QString actionText(HistoryAction action);
std::optional<HistoryAction> actionFromName(const QString &name);

QJsonObject toJson(const Receipt &receipt);
// The receipt a detail holds; nothing when it lacks what a receipt must have.
std::optional<Receipt> receiptFromJson(const QJsonObject &detail);

// Adds the row of one change. Runs one statement: the caller holds the transaction that
// also makes the change. False when the row could not be written (the caller rolls back).
bool record(HistoryAction action, const Receipt &receipt, const QJsonObject &extra = {});

// Why the book keeps no history and no voids (a book from an older version that could not
// be brought up to date), in Chinese; empty when it does.
QString unavailableReason();

// The rows, newest first: all of them, or those whose receipt number contains
// `receiptNo` and whose time lies within [from, to] (a null date leaves that end open).
// Nothing when the history cannot be read.
std::optional<QList<HistoryEntry>> load(const QString &receiptNo = {}, QDate from = {},
                                        QDate to = {}, const QString &receiptId = {});

// What an update changed, as the user reads it: "金额 680.00 → 860.00；交款单位 甲 → 乙".
QString changeSummary(const HistoryEntry &entry);

} // namespace ReceiptHistory
