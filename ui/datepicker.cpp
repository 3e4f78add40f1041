// SPDX-License-Identifier: GPL-3.0-or-later
#include "datepicker.h"

#include <QDateEdit>

using namespace Qt::StringLiterals;

QDateEdit *createDatePicker(const QString &name, const QString &label, QWidget *parent, QDate date)
{
    auto *picker = new QDateEdit(date, parent);
    picker->setObjectName(name);
    picker->setAccessibleName(label);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(u"yyyy-MM-dd"_s);
    picker->setFixedWidth(140);
    return picker;
}
