// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsscreen.h"

#include "icons.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

using namespace Qt::StringLiterals;

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
