// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QLineEdit;
class QTableView;

// The keys of a receipt list as a cashier expects them: from the search field, Tab and
// Down go into the table (Down selecting its first receipt when nothing is); in the table,
// Home and End go to the first and the last receipt (a table's own keys move along the
// columns of one row, which means nothing here), Shift extending the selection as ever.
namespace ListKeys {

void install(QLineEdit *searchField, QTableView *table);

} // namespace ListKeys
