// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QString>

// How a save of a new receipt ended.
struct IssueResult
{
    bool saved = false;
    // The number the receipt was stored under: the one it came with, or the next free
    // one when another copy of the program took that number first.
    QString receiptNo;
    // Why it was not saved, in Chinese, for the form to show.
    QString error;
};

// Stores a new receipt under a number that no other receipt carries, in one write
// transaction: check that the number is still free (or move to the next free one),
// insert, move the numbering counter past it, commit. Two copies of the program on one
// book can then never store one number twice, and a failed check never counts as
// free. Called by AppStore::insertReceipt.
IssueResult issueReceipt(const Receipt &receipt);

// The insert statement of a receipt, with `createDate` as its creation time.
QString receiptInsertStatement(const Receipt &receipt, const QDateTime &createDate);
