// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookuppicker.h"

#include "combobox.h"

#include <QSignalBlocker>

LookupPicker::LookupPicker(const QString &emptyText, QWidget *parent)
    : QComboBox(parent)
    , m_emptyText(emptyText)
{
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    showPopupCursor(this);
}

void LookupPicker::showChoice(const QStringList &items, const QString &value)
{
    QStringList entries = items;
    if (!value.isEmpty() && !items.contains(value))
        entries.prepend(value);
    QStringList shown;
    for (int i = 0; i < count(); ++i)
        shown.append(itemText(i));
    const QSignalBlocker blocker(this);
    if (shown != entries) {
        clear();
        addItems(entries);
    }
    // Only an empty list says it: over a list to pick from, an empty box means nothing is
    // picked yet. Before the index: a placeholder taken away makes the first entry current,
    // which the receipt would not hold.
    const QString placeholder = entries.isEmpty() ? m_emptyText : QString();
    if (placeholderText() != placeholder) {
        setPlaceholderText(placeholder);
        setAccessibleDescription(placeholder);
    }
    setCurrentIndex(value.isEmpty() ? -1 : int(entries.indexOf(value)));
}

void LookupPicker::showPopup()
{
    if (count() == 0) {
        Q_EMIT emptyListOpened();
        return;
    }
    QComboBox::showPopup();
}
