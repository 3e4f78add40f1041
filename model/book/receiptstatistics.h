// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <optional>

// Takings over a date range, grouped: by month, by 交款单位, by 收款事由 or by 收款方式.
// Voided receipts never count; a receipt whose amount could not be read is counted but
// adds nothing (its row says how many such receipts it holds).
namespace ReceiptStatistics {

enum class Grouping { Month, Payer, Reason, Paytype };

struct Row
{
    QString key; // "2024-05", or the payer, reason or payment method ("" when none)
    qint64 count = 0;
    qint64 fen = 0;
    qint64 unreadable = 0;
    friend bool operator==(const Row &, const Row &) = default;
};

// The groups of the receipts dated between the two date texts (as AppStore's range),
// largest total first; nothing when the book cannot be read.
std::optional<QList<Row>> compute(const QString &beginDate, const QString &endDate,
                                  Grouping grouping);

// How many receipts of the same range are voided, to be named beside the sums they are
// left out of; nothing when the book cannot be read.
std::optional<qint64> voidedCount(const QString &beginDate, const QString &endDate);

} // namespace ReceiptStatistics
