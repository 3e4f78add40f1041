// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsscreens.h"

#include "companyview.h"
#include "lookupeditorview.h"
#include "receiptnoview.h"

QWidget *createSettingsScreen(NavigationItem item, QWidget *parent)
{
    switch (item) {
    case NavigationItem::settings_payer:
        return new PayerView(parent);
    case NavigationItem::settings_reason1:
        return new Reason1View(parent);
    case NavigationItem::settings_reason2:
        return new Reason2View(parent);
    case NavigationItem::settings_remark:
        return new RemarkView(parent);
    case NavigationItem::settings_company:
        return new CompanyView(parent);
    case NavigationItem::settings_receiptNo:
        return new ReceiptNoView(parent);
    case NavigationItem::settings_paytype:
        return new PaytypeView(parent);
    case NavigationItem::settings_account:
        return new AccountView(parent);
    default:
        return nullptr;
    }
}
