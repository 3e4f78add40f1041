// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"
#include "sharedinstance.h"

#include <optional>

// A half-filled new receipt that a list action blanked (selecting a row blanks the form
// for the next receipt): kept here so the typing comes back when the user returns to the
// form, until it is saved or thrown away with 取消修改. One per process.
class ReceiptDraft
{
public:
    static ReceiptDraft &shared();

    // Whether nothing has been typed into a receipt: no payer, reasons, remark or amount.
    static bool isBlank(const Receipt &receipt);
    // The fields an edit may change differ between two versions of one receipt.
    static bool differs(const Receipt &edited, const Receipt &stored);

    // Keeps `receipt` when it is a new one with something typed into it.
    void keep(const Receipt &receipt);
    // The kept draft, which is forgotten.
    std::optional<Receipt> take();
    void discard() { m_draft.reset(); }
    bool exists() const { return m_draft.has_value(); }

private:
    friend class SharedInstance<ReceiptDraft>;
    ReceiptDraft() = default;

    std::optional<Receipt> m_draft;
};
