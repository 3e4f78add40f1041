// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

// A drop-down of the entry form that offers one lookup list's entries to pick from (收款方式,
// and the system users for 收款人, 核准 and 会计); nothing is typed into it. Its list opens
// on the entry shown. An empty list cannot be picked from: the box says where entries are
// added, and opening it asks for that screen (emptyListOpened) instead. Owned by the form.
class LookupPicker : public QComboBox
{
    Q_OBJECT

public:
    // `emptyText` is what the box says while its list is empty ("在「系统用户」中添加").
    LookupPicker(const QString &emptyText, QWidget *parent);

    // Shows `value` among `items`. A value that is not offered (a remembered payee deleted
    // from the user list since) shows as an extra first entry, so the form shows what the
    // receipt will hold rather than an empty box.
    void showChoice(const QStringList &items, const QString &value);

    void showPopup() override;

Q_SIGNALS:
    // Opened (clicked, Space, F4) while it has nothing to offer.
    void emptyListOpened();

private:
    QString m_emptyText;
};
