// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>

class QDateEdit;
class QWidget;

// The date field of the date bars (lists, 收据统计, 操作记录): yyyy-MM-dd with a calendar
// to pick from, named for tests and for screen readers.
QDateEdit *createDatePicker(const QString &name, const QString &label, QWidget *parent,
                            QDate date = QDate(2000, 1, 1));
