// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <chrono>

class QPushButton;
class QLineEdit;
class QWidget;

// What the settings screens (lookup lists, receipt header, receipt number) share.
namespace SettingsScreen {

// How long the notifications of the settings screens stay up.
inline constexpr std::chrono::milliseconds toastDuration {1000};

// The action buttons of the settings screens: the icon, then the text in a 60 wide
// frame, so 增加, 修改 and 删除 line up whatever the font.
QPushButton *createButton(const QString &iconName, const QString &text, const QString &objectName,
                          QWidget *parent);

// Shows a store value in a field. Only a text that differs is put in: the stores notify
// on every assignment, including the one the field's own keystroke made, and setText
// would move the cursor to the end.
void showText(QLineEdit *lineEdit, const QString &text);

} // namespace SettingsScreen
