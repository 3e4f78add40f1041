// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "amountincapitals.h"
#include "appstore.h"

// The receipt shown in the README's picture and printed by the page benchmark: one
// ordinary receipt with every field filled, built on the form's current receipt.
inline Receipt sampleReceipt()
{
    using namespace Qt::StringLiterals;
    Receipt receipt = AppStore::shared().receiptEdit();
    receipt.id = u"6F1C2A9E-3B7D-4E21-9A55-0C8D7E4B1F30"_s;
    receipt.receiptNo = u"0000128"_s;
    receipt.receiptDate = QDateTime(QDate(2024, 5, 18), QTime(10, 30));
    receipt.payer = u"杭州青禾文化传播有限公司"_s;
    receipt.reason1 = u"2024年第二季度场地租金"_s;
    receipt.reason2 = u"含物业管理费"_s;
    receipt.remark = u"银行转账已到账"_s;
    receipt.paytype = u"银行转账"_s;
    receipt.payee = u"王丽"_s;
    receipt.approve = u"陈建国"_s;
    receipt.accountant = u"李敏"_s;
    receipt.total = 12800.5;
    receipt.totalBig = amountInCapitals(amountText(receipt.total));
    return receipt;
}
