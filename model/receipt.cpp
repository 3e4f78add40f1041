// SPDX-License-Identifier: GPL-3.0-or-later
#include "receipt.h"

size_t qHash(const Receipt &receipt, size_t seed)
{
    return qHashMulti(seed, receipt.id, receipt.receiptNo, receipt.receiptDate, receipt.payer,
                      receipt.reason1, receipt.reason2, receipt.remark, receipt.paytype,
                      receipt.payee, receipt.approve, receipt.accountant, receipt.creator,
                      receipt.createDate, receipt.total, receipt.totalBig, receipt.isDeleted,
                      receipt.unreadableTotal.value_or(QString()),
                      receipt.voidReason.value_or(QString()));
}
