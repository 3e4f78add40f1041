// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptdraft.h"

#include <tuple>

ReceiptDraft &ReceiptDraft::shared()
{
    return SharedInstance<ReceiptDraft>::get();
}

bool ReceiptDraft::isBlank(const Receipt &receipt)
{
    return receipt.payer.isEmpty() && receipt.reason1.isEmpty() && receipt.reason2.isEmpty()
        && receipt.remark.isEmpty() && receipt.total == 0 && !receipt.unreadableTotal;
}

bool ReceiptDraft::differs(const Receipt &edited, const Receipt &stored)
{
    const auto fields = [](const Receipt &r) {
        return std::make_tuple(r.receiptDate.date(), r.payer, r.reason1, r.reason2, r.remark,
                               r.paytype, r.payee, r.approve, r.accountant, r.total, r.totalBig,
                               r.unreadableTotal);
    };
    return fields(edited) != fields(stored);
}

void ReceiptDraft::keep(const Receipt &receipt)
{
    if (receipt.id.isEmpty() && !isBlank(receipt))
        m_draft = receipt;
}

std::optional<Receipt> ReceiptDraft::take()
{
    std::optional<Receipt> draft = std::move(m_draft);
    m_draft.reset();
    return draft;
}
