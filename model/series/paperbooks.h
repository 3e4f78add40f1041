// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptbook.h"
#include "seriestables.h"

#include <QList>
#include <QString>

#include <optional>

// The register of paper books (收据本登记) and their reconciliation (核销): which book of which
// series was handed to whom, what became of each of its numbers, and its return (缴销), which
// is refused while a number of it is not accounted for.
namespace PaperBooks {

// One book with what became of its numbers.
struct Account
{
    PaperBook book;
    ReceiptSeries series;
    qint64 issued = 0;
    qint64 voided = 0;
    qint64 spoiled = 0;
    qint64 deleted = 0;
    qint64 unused = 0;
    // The amount of the receipts issued and not voided, in fen.
    qint64 issuedFen = 0;
    // Every number used, by value; and the numbers not used, lowest first.
    QList<ReceiptBook::NumberUse> uses;
    QList<qint64> unusedNumbers;
};

// Every book, by series and first number, with its state judged; false when they cannot be
// read.
bool list(QList<PaperBook> *books, QString *error = nullptr);
// Every book with what became of its numbers (for the screen, the PDF and --paper-books).
bool accounts(QList<Account> *accounts, QString *error = nullptr);
// The line of a book that --paper-books prints:
// "NAME FIRST-LAST 已开 N 作废 M 废票 K 未用 U 状态" (作废 counts deleted receipts too).
QString line(const Account &account);

// Registers a book of `series` (its name; empty: the default) from first to last, handed to
// `holder`, with a chained record. Refused for a series that starts again each year or has
// the year in its prefix (a bound book's numbers run on), a range of more than 10,000 forms,
// and one that overlaps another book of the series.
bool add(const QString &series, qint64 first, qint64 last, const QString &holder,
         PaperBook *added = nullptr, QString *error = nullptr);
// Returns (缴销) the book of `series` that holds `number`, with a chained record; refused
// while any of its numbers is not accounted for (issued, voided or spoiled), naming them.
bool returnBook(const QString &series, qint64 number, QString *error = nullptr);

// The book of `series` (empty: the default) that holds `value`; nothing when none does.
std::optional<PaperBook> bookOf(const QString &series, qint64 value);

} // namespace PaperBooks
