// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptstatistics.h"

#include <QList>
#include <QString>

// Writes the takings of 收据统计 as the screen lists them, to CSV or Excel (.xlsx) by
// the file's extension, in the same manner as the receipt lists' export (ReceiptExport):
// a header (the grouping's title, 张数, 合计), one row per group in the given order, and a
// last row 合计 with the counts and totals of all groups. When a group holds receipts
// whose amount could not be read, a column 金额无法识别 says how many (they are counted
// but add nothing). In Excel the totals are numbers shown ¥#,##0.00 and the 合计 row
// carries SUM formulas with their values.
namespace StatisticsExport {

// The text that stands for a group without a name (a receipt without payer, say).
QString groupName(const ReceiptStatistics::Row &row);

// True when the whole file is at path; false with the reason in Chinese in *error, and
// then nothing is left at path (an existing file stays as it was). *cutCells gets the
// Excel cells whose text had to be cut (ReceiptExport::cutCellsNotice tells them).
bool write(const QString &path, const QString &groupTitle,
           const QList<ReceiptStatistics::Row> &rows, QString *error = nullptr,
           QStringList *cutCells = nullptr);

} // namespace StatisticsExport
