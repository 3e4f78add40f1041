// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"
#include "receiptbook.h"

#include <QString>

#include <optional>

// Why the receipt open in the form can no longer be saved over the stored one, whatever
// the form does: since it was opened, the stored receipt was changed, voided or deleted,
// by another desk or by a list of this program. AppStore keeps it for the receipt in the
// form; the form says so until the cashier opens the stored receipt again or keeps what
// was typed as a new receipt.
struct EditRefusal
{
    ReceiptBook::Refusal kind = ReceiptBook::Refusal::None;
    QString receiptId;
    // What the save said: "该收据已在其他电脑上修改", "已作废的收据不能修改".
    QString reason;
    // What became of the stored receipt, in Chinese: the fields changed with their new
    // values, or the reason it was voided; empty when that is unknown (or it is gone).
    QString detail;

    // Whether the stored receipt can be edited again, opened afresh: not once it is voided
    // or gone.
    bool canReopen() const { return kind == ReceiptBook::Refusal::Changed; }

    // The refusal of the receipt `receiptId`: `opened` as the form read it (nothing when
    // unknown), `stored` as the book holds it now (nothing when gone or unreadable).
    static EditRefusal of(ReceiptBook::Refusal kind, const QString &receiptId,
                          const QString &reason, const std::optional<Receipt> &opened,
                          const std::optional<Receipt> &stored);
    // "交款单位改为「乙」，金额改为 8.00": the fields a cashier sees that differ, in the
    // form's order; empty when none do.
    static QString changes(const Receipt &opened, const Receipt &stored);

    friend bool operator==(const EditRefusal &, const EditRefusal &) = default;
};
