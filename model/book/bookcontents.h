// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class Database;
class SqlDialect;

// The receipts of a whole book, read or written as one: by a restore, the check of a file
// about to be restored, and a copy between a file and a shared book. Each statement is
// worded for the engine of the connection it runs on.
namespace BookContents {

// A read of the book's first receipt row: whether its receipts can be read at all.
QString firstReceiptStatement(const SqlDialect &dialect);

// The numbers of the receipts the lists show; nothing when they cannot be read.
std::optional<QSet<QString>> shownNumbers(Database &book);

// How many receipts the lists show, and the first and last of their dates; false with the
// reason, in Chinese.
struct Summary
{
    qint64 receipts = 0;
    QString earliestDate;
    QString latestDate;
};
bool summarize(Database &book, Summary *summary, QString *error);

// What a book about to be replaced by a restore had issued: its highest number (deleted
// receipts too: their paper may be in someone's hands), how many receipts it shows, and
// its numbering's counter. Read as far as the book allows: a damaged one may give only
// part of it.
struct Issued
{
    QString highestNumber;
    qint64 receipts = 0;
    qint64 counter = 0;
};
Issued issuedBy(Database &book);

// After a restore into `book`, inside the caller's transaction: numbering goes on after
// what the replaced book had issued, and the history records the restore from `file`.
// False, with the reason in the book's last error.
bool recordRestore(Database &book, const QString &file, const std::optional<Issued> &replaced);

// The whole fen of the receipts' amounts as the lists and totals add them, and how many
// amounts cannot be read: what a copy compares on both sides.
struct Amounts
{
    // Wraps rather than overflows on absurd amounts: both sides wrap alike.
    quint64 fen = 0;
    qint64 unreadable = 0;

    void add(QByteArrayView stored);
    bool operator==(const Amounts &) const = default;
    QString text() const;
};
// The amounts of every receipt in the book; false with the reason in *error.
bool addUp(Database &book, Amounts *amounts, QString *error);
// The column of a receipt's amount among the columns of the receipts' table.
inline constexpr char16_t amountColumn[] = u"total";

// After the rows of a file were copied into a server's tables as they were: the history's
// and the receipts' ids go on after the highest one copied.
QString continueIdsStatement();

// The receipts that have no history row of their issue or import though they were made
// after the history began (a book from before it kept history needs none): one finding
// naming the first of them, empty when there are none; nothing when they cannot be read.
std::optional<QString> unrecordedReceipts(Database &book);

// The last day the book closed ("yyyy-MM-dd"; empty when none, or for a book from before
// closings); nothing when it cannot be read.
std::optional<QString> closedThrough(Database &book);
// Why a restore of a book closed through `restored` over one closed through `current` is
// refused (it would open closed days again), in Chinese; empty when it is not.
QString reopenedDays(const QString &current, const QString &restored);

} // namespace BookContents
