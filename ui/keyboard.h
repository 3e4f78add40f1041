// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class QAbstractButton;
class QShortcut;
class QWidget;

// The keyboard side of the screens' buttons, so every action a click reaches is also
// reached by a key, and the tooltip says which.
namespace Keyboard {

// "删除 (Del)": the action's name with its keys, as the tooltips show it.
QString toolTip(const QString &name, const QList<QKeySequence> &keys);

// Gives `button` a window-wide shortcut and names it in the tooltip. Qt only delivers a
// button's shortcut while the button is visible and enabled, so it acts exactly when a
// click could: on the screen shown, in the button's current state.
void setShortcut(QAbstractButton *button, const QKeySequence &key);

// `key` clicks `button` while the focus is inside `scope`, and only while the button is
// visible and enabled. For keys such as Delete, which must not act from the sidebar or
// while a field of another screen has the focus.
QShortcut *addScopedShortcut(QWidget *scope, const QKeySequence &key, QAbstractButton *button);

} // namespace Keyboard
