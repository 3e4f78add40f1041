// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

class Database;

// The code (二维码) on a printed receipt, and what the book says of it. The code holds
// QUENTA1|No.<number>|<day>|<amount>|<link>: the number as the receipt carries it, the day
// of its date (yyyy-MM-dd), its amount with two decimals and no grouping (1234.50), and the
// first 16 hex digits of the record-chain link of the receipt's newest history row as it
// was printed. Whoever holds the paper can ask the book whether that receipt is still as
// printed: the link names the very record the paper was printed from, and the rows after
// it what happened to the receipt since. A chain rewritten from its start, which proves
// itself again (BookProof), no longer holds the link.
namespace ReceiptProof {

// The code's text for `receipt` printed from the history row whose link is `link` (hex).
QString codeText(const Receipt &receipt, const QString &link);

// What a scanner or a person typed, made plain: NFKC, so that the full-width forms an input
// method or a scanner set to one gives (ＱＵＥＮＴＡ１｜Ｎｏ．…) read as ASCII; invisible format
// characters (U+200B, U+200D, U+FEFF …) taken out; spaces around it trimmed.
QString normalized(const QString &typed);

// The fields of a code.
struct Code
{
    QString receiptNo;
    QString day;
    qint64 fen = 0;
    // 16 lower-case hex digits.
    QString link;
};
// The code `typed` holds (normalized first); nothing when it is no code of this program.
std::optional<Code> parse(const QString &typed);

struct Answer
{
    enum class Verdict {
        Genuine, // the book holds the receipt as printed
        Changed, // changed since, or the record it was printed from is gone from the chain
        NotItsRecord, // the code's number, day or amount are not those of its record
        NotInBook, // neither the number nor the link is in the book
        NotACode,
        NoChain, // a book from before the record chain, only read
    };
    Verdict verdict = Verdict::NotACode;
    // As a treasurer reads it, in Chinese: the verdict on the first line ("真实，未改动",
    // "已改动：2024-05-02 10:05 修改 金额 10.00 → 20.00"), then what the book holds.
    QString text;
};

// What the book says of the code `typed`: its own rows found by the receipt's number, on
// the index of the numbers' values, each linked again from the one before it; the receipt
// and its void as stored beside its newest row. Only when the number's rows lack the link
// is the chain searched for it. Reads only; false when the book could not be read (*error
// says why, in Chinese).
bool verify(Database &book, const QString &typed, Answer *answer, QString *error);

// For a print: the link and the detail of the newest history row of the receipt whose id
// is $1, on either engine.
QString newestRecordStatement();
// The link (64 hex digits) a receipt is printed with, from that row: empty when the row
// does not record `receipt` just as it is to be printed (a form's copy changed since, a
// receipt changed meanwhile), for then the code would name a record that is not the paper.
QString linkToPrint(const Receipt &receipt, QByteArrayView link, QByteArrayView detail);

} // namespace ReceiptProof
