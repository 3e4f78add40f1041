#include "settingsscreens.h"

#include <QLineEdit>

#include "companyview.h"
#include "icons.h"
#include "lookupeditorview.h"
#include "receiptnoview.h"

#include <QPushButton>
#include <QStyle>

using namespace Qt::StringLiterals;

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

QPushButton *SettingsScreen::createButton(const QString &iconName, const QString &text,
                                          const QString &objectName, QWidget *parent)
{
    auto *button = new QPushButton(Icons::icon(iconName), text, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(text);
    const int textFrame = 60;
    const int padding = 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin) + 8;
    button->setMinimumWidth(button->iconSize().width() + textFrame + padding);
    return button;
}

void SettingsScreen::showText(QLineEdit *lineEdit, const QString &text)
{
    if (lineEdit->text() != text)
        lineEdit->setText(text);
}
