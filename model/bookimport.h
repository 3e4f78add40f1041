// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

// What an import brings into the book, row by row, and what the book answers: the
// readers of files (io/receiptimport) and of another book (below) give receipts; the
// book (ReceiptBook::importReceipts) checks what needs the book, writes them in one
// transaction and says how it went.
namespace BookImport {

// Texts longer than these are refused: the number as the numbering writes one, the
// other fields as far as the printed form shows them and a little more.
inline constexpr qsizetype numberLengthLimit = 64;
inline constexpr qsizetype textLengthLimit = 200;
inline constexpr qsizetype longTextLengthLimit = 500; // 其它说明, 备注信息, 作废原因
// The largest amount the form takes, in fen: 999,999,999,999.99.
inline constexpr qint64 largestFen = 99'999'999'999'999;

// A row that cannot be taken, with its number as a spreadsheet shows it (the header is
// row 1; 0 for the file as a whole) and why, in Chinese.
struct Problem
{
    qint64 row = 0;
    QString reason;
    // The row's number is taken (in the book or by a row before it): renumbering takes it.
    bool numberTaken = false;
    friend bool operator==(const Problem &, const Problem &) = default;
};

// One receipt read: id left empty gets a new one; voidReason set brings its void.
struct Item
{
    qint64 row = 0;
    Receipt receipt;
    // The void's date as stored; empty: the time of the import.
    QString voidDate;
    // Added to the receipt's history row (the history it had in another book).
    QJsonObject historyExtra;
};

// Gives the receipts of a file one at a time, in the file's order.
class Source
{
public:
    virtual ~Source() = default;
    // The next receipt into *item; false at the end or when the file cannot be read on
    // (then problems holds why, with row 0 or the row it stopped at). Rows that cannot be
    // taken are added to problems and passed over.
    virtual bool next(Item *item, QList<Problem> *problems) = 0;
    // The file's name, as the history keeps it.
    virtual QString fileName() const = 0;
    // Entries of the lookup lists the source brings besides those of its receipts, as
    // (table, text): the lists of another book.
    virtual QList<std::pair<QString, QString>> lookupEntries() { return {}; }
    // What the reader passed over and the user should know (columns it does not know).
    virtual QStringList notes() const { return {}; }
    // How far the reading is, 0 to 100; -1 when it cannot tell.
    virtual int percent() const { return -1; }
    // The file's SHA-256 in hex, which its history rows keep: the same file is known
    // when it is brought again. Empty when it could not be read.
    QString digest() const { return m_digest; }
    void setDigest(const QString &digest) { m_digest = digest; }

private:
    QString m_digest;
};

// The SHA-256 of the file at `path`, in hex; empty when it cannot be read.
QString digestOf(const QString &path);

struct Options
{
    // Numbers taken already get the next free ones instead of being refused.
    bool renumber = false;
    // Checks everything and changes nothing.
    bool dryRun = false;
    // Brings a file the book has taken before once more (its receipts then twice, unless
    // renumbered); refused without.
    bool again = false;
    // Told every few thousand rows how many are read; false stops the import, which then
    // changes nothing.
    std::function<bool(qint64 rows)> progress;
};

struct Result
{
    // Written (or, on a dry run, would be): no problem was found.
    bool ok = false;
    qint64 count = 0;
    // The sum of the receipts that are not voided, and how many are voided.
    qint64 fen = 0;
    qint64 voided = 0;
    // The first problems found, in file order, and how many there were in all.
    QList<Problem> problems;
    qint64 problemCount = 0;
    // (old, new) numbers given with renumbering.
    QList<std::pair<QString, QString>> renumbered;
    // When the book took this same file before ("yyyy-MM-dd HH:mm:ss"): nothing was
    // imported, and the error says so.
    QString importedBefore;
    // What the user should know of an import that went through (it was found committed
    // after the connection broke); empty otherwise.
    QString note;
};

// How many problems a result keeps; the rest are counted.
inline constexpr qsizetype keptProblems = 1000;

// Why a receipt read from any file cannot be taken (a required field empty, a text too
// long, an amount out of range or unreadable); false with the reason.
bool checkReceipt(const Receipt &receipt, QString *error = nullptr);

// The receipts of another Quenta book (a .db file), with their voids and history, and
// the entries of its lookup lists. Nothing, with the reason in *error, for a file that
// is not a sound receipt book.
std::unique_ptr<Source> openBook(const QString &path, QString *error);

// The report of a result for the user: the problems (as "第 3 行：…"), the numbers
// changed, at most `lines` lines of them.
QString report(const Result &result, qsizetype lines = 50);

} // namespace BookImport
