// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace BookProof {
struct Verdict;
}
namespace ReceiptProof {
struct Answer;
}

// Backing up, checking and restoring the open book, wherever it lives: a file is copied
// and checked by BackupService, a shared book by SharedBook from one snapshot of the
// server. The menu and the commands ask here and need not know which.
namespace BookCare {

// Writes the open book to `target` as an ordinary book file, which opens, checks and
// restores as any backup does. False with the reason in Chinese in *error.
bool backUp(const QString &target, QString *error);

// What is wrong with the open book, a line each, as a treasurer reads it: empty when
// nothing is. Nothing, with the reason in *error, when the book could not be read.
std::optional<QStringList> check(QString *error);

// Proves the open book (BookProof) on a connection of its own that only reads: safe on a
// worker thread and while the window writes. With `head` given, the book must also hold
// that head (one printed before), or its chain was rewritten. False with the reason when
// the book could not be read.
bool verify(const QString &head, BookProof::Verdict *verdict, QString *error,
            const std::atomic_bool *cancel = nullptr);

// What the open book says of the code on a printed receipt, its text as a scanner or a
// person typed it (ReceiptProof::verify), read on a connection of its own that only reads,
// in one snapshot: the window goes on writing meanwhile. False with the reason when the
// book could not be read.
bool verifyReceipt(const QString &typed, ReceiptProof::Answer *answer, QString *error);

// The open book's chain head as it keeps it (BookProof::storedHead), for a summary that
// names the state of the book it was made from; empty when it has none or cannot be read.
QString storedHead();

// Replaces the open book with the backup `source` after checking it. *notice tells what
// the restore takes away (receipts the book has and the file has not), empty when nothing;
// a shared book is only restored while no desk is connected (*bookInUse set when that
// refused it). A file book must be held by this program (BookLock) before. False with the
// reason.
bool restore(const QString &source, QString *error, QString *notice, bool *bookInUse);

} // namespace BookCare
