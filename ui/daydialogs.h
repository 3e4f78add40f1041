// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// The windows of the day's end: 日结… closes every receipt up to a day, for good, after
// saying what that day holds; 收款日报… shows, prints or saves the day's report.
namespace DayDialogs {

void closeDay(QWidget *parent);
void dayReport(QWidget *parent);

} // namespace DayDialogs
