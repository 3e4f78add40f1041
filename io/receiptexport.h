// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"
#include "receiptfilter.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Writes a list of receipts to a file that spreadsheet programs open, for the accountant:
// CSV or Excel (.xlsx), chosen by the file's extension. Both carry the twelve columns of
// the receipt list, then 状态 (empty, 已作废, or 金额无法识别 for a stored amount that is
// not a number) and 作废原因, one row per receipt, and a last row 合计 with the sum of
// the receipts that are not voided.
//
// CSV: UTF-8 with a byte-order mark (without it spreadsheet programs read the Chinese in
// the locale's code page), RFC 4180 (fields with a comma, quote or line break quoted,
// quotes doubled, CRLF after every row). Amounts are plain numbers with two decimals
// ("12800.50"), dates yyyy-MM-dd, 开单日期 yyyy-MM-dd HH:mm:ss, in local time.
//
// Excel: one sheet 收据 with a bold, frozen header, amounts as numbers shown ¥#,##0.00,
// dates as date cells, voided rows in grey, and a 合计 whose formula sums the amounts of
// the rows whose 状态 is not 已作废 and carries the value it gives. A text longer than the
// 32,767 characters an Excel cell holds is cut there, one with a NUL (which no cell holds)
// at the NUL; the cells cut are told.
//
// Formulas in text: a spreadsheet runs a CSV field that begins with =, +, -, @ (or a tab
// or carriage return, which some of them skip first) as a formula. Such a text field
// (number, payer, reasons, remark, names, an unreadable amount, the void reason) gets a
// leading single quote in CSV, so it shows as text. In Excel every text field is written
// as a text cell, which is never run, so it is written unchanged. A readable amount is
// always a number, negative ones too.
//
// The file is written beside the target under a temporary name and renamed over it when
// complete: the target is the old file or the whole new one, never a half-written one,
// and a failed write leaves nothing behind.
namespace ReceiptExport {

enum class Format { Csv, Xlsx };

// The columns, in order: the receipt list's thirteen (its table shows them in this order),
// then 作废原因.
enum Column {
    ReceiptNoColumn,
    ReceiptDateColumn,
    PayerColumn,
    TotalColumn,
    Reason1Column,
    Reason2Column,
    RemarkColumn,
    PaytypeColumn,
    PayeeColumn,
    ApproveColumn,
    AccountantColumn,
    CreateDateColumn,
    StatusColumn,
    VoidReasonColumn,
};
inline constexpr int columnCount = VoidReasonColumn + 1;

// The format of a file name's extension (.csv or .xlsx, in any letter case), or nothing.
std::optional<Format> formatOf(const QString &path);

// The titles of the columns, in order: the receipt list's twelve, 状态 and 作废原因. The
// list's table shows the first thirteen.
const QStringList &columnTitles();

// Gives the receipts to write, one at a time in the order written: the next one (valid
// until the next call), or null at the end. A source that fails answers null with the
// reason, a whole sentence in Chinese, in *error.
using Source = std::function<const Receipt *(QString *error)>;
// Told every few thousand rows how many receipts are written; false stops the export,
// which then leaves nothing behind.
using Progress = std::function<bool(qint64 written)>;

// Writes the receipts of source to path (replacing a file there), row by row: memory
// stays flat however many there are. True when the file is complete; *written then gets
// the receipts counted as the lists count them (ReceiptTotals: count and fen of those not
// voided). False with the reason in Chinese in *error for an unknown extension, a file
// that could not be written, a source that failed (its own reason) or a stop asked by
// progress; nothing is left at path then (an existing file stays as it was). *cutCells
// gets the Excel cells whose text had to be cut, as "G3（备注信息）".
bool write(const QString &path, const Source &source, ReceiptTotals *written = nullptr,
           QString *error = nullptr, QStringList *cutCells = nullptr,
           const Progress &progress = {});
// The same for receipts.at(row) for each of rows, in that order.
bool write(const QString &path, const QList<Receipt> &receipts, const QList<int> &rows,
           ReceiptTotals *written = nullptr, QString *error = nullptr,
           QStringList *cutCells = nullptr);
// The first cell of the row under an Excel export's 合计 that names the book's chain head.
inline QString headLabel() { return QStringLiteral("链尾"); }
// The sentence that tells the user which cells were cut.
QString cutCellsNotice(const QStringList &cutCells);

} // namespace ReceiptExport
