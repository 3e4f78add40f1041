#include "settingsscreens.h"

#include <QLabel>

using namespace Qt::StringLiterals;

QWidget *createSettingsScreen(NavigationItem item, QWidget *parent)
{
    switch (item) {
    case NavigationItem::settings_payer:
    case NavigationItem::settings_reason1:
    case NavigationItem::settings_reason2:
    case NavigationItem::settings_remark:
    case NavigationItem::settings_company:
    case NavigationItem::settings_receiptNo:
    case NavigationItem::settings_paytype:
    case NavigationItem::settings_account: {
        auto *page = new QLabel(u"此页面尚未完成"_s, parent);
        page->setAlignment(Qt::AlignCenter);
        return page;
    }
    default:
        return nullptr;
    }
}
