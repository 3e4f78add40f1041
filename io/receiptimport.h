// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bookimport.h"

#include <QString>

#include <memory>

// Reads receipts back for the import: a CSV file or Excel workbook laid out as the export
// writes one (its header row in row 1, in any column order; columns it does not know are
// named and passed over), or another Quenta book (.db). 收据单号, 收款日期, 交款单位 and
// 收款金额 are required; 金额（大写）, when absent, is made from the amount as the form
// makes it; 状态 已作废 with 作废原因 brings the void. The export's 合计 row is passed over
// and its sum compared with the rows'. Each row is checked as it is read and told as a
// problem with its row number and why; the book checks the numbers and writes.
namespace ReceiptImport {

// A source for `path`, chosen by its extension (.csv, .xlsx, .db); nothing, with the reason
// in *error, for a file that cannot be read at all. numberLength pads a receipt number
// given as a number cell ("12") to the book's numbering length ("0000012").
std::unique_ptr<BookImport::Source> open(const QString &path, QString *error,
                                         qint64 numberLength = 7);

} // namespace ReceiptImport
