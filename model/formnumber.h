// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "printsettings.h"
#include "receipt.h"
#include "receiptseries.h"

#include <QList>
#include <QString>

#include <optional>

// 纸上已印单号: receipts printed as values only on forms that carry their numbers already (a
// bound book of numbered forms, 收据本). The page leaves the number off, so the form in the
// printer has to be the receipt's own. Where the book cannot vouch for that, the user says
// which form is in the printer before anything prints: for a reprint (the receipt's form was
// printed on once), a receipt given another number after its form was spoiled, and a receipt
// that is not on the next form of its paper book (the lowest number of the book that no page
// was printed on and no spoiled form took).
namespace FormNumber {

// What a print has to ask first.
struct Question
{
    // Whether the user must say which form is in the printer.
    bool needed = false;
    // The receipt the first form is for (the first page's), as the book has it now.
    QString receiptNo;
    // The number the form in the printer is expected to carry, which the question offers:
    // the next form of the receipt's paper book, or the receipt's own without one.
    QString expected;
    // Why it asks, in Chinese, one line for each reason.
    QStringList reasons;
    // Several pages: the forms that follow the first are taken to be the next numbers.
    qsizetype pages = 1;

    // The first receipt's number as its series counts it, for the answer to be judged by.
    ReceiptSeries series;
    int year = 0;
    qint64 value = 0;
};

// Whether printing `receipts` (a page each, in page order) with `options` asks first, into
// *question; never when the options print the number. Read from the book: the receipts'
// numbers as they are now, their history and their paper books. False with why not, in
// Chinese, when the book cannot be read, or when the pages cannot go on numbered forms in
// one job at all: several receipts whose numbers do not follow each other, or one after the
// first that was printed before or renumbered (each of those is printed on its own).
bool ask(const PrintOptions &options, const QList<std::optional<Receipt>> &receipts,
         Question *question, QString *error = nullptr);

// Why `typed`, the number the user read on the form in the printer, keeps the print from
// going out, in Chinese; empty when it is the first receipt's own (in any padding, with or
// without its series' prefix).
QString refusal(const Question &question, const QString &typed);

} // namespace FormNumber
