// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptseries.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class SQLiteHelper;

// A paper book (收据本): bound forms pre-numbered from first to last of one series, handed
// to a holder. Its state follows from the numbers used: 未用, 在用 (the earliest book of its
// series with numbers left), 已用完 (its last number used), 已缴销 (returned).
struct PaperBook
{
    // The series' name; empty for the default series.
    QString series;
    qint64 first = 0;
    qint64 last = 0;
    QString holder;
    QDateTime registered;
    QString desk;
    std::optional<QDateTime> returned;
    enum class State { Unused, InUse, UsedUp, Returned };
    State state = State::Unused;
    // The highest number of the book used so far (issued, spoiled, deleted); 0 for none.
    qint64 highestUsed = 0;

    qint64 size() const { return last - first + 1; }
    bool holds(qint64 value) const { return value >= first && value <= last; }
};

// The tables of the series and the paper books (tb_series, tb_seriesCounter, tb_paperBook):
// every statement on them, on the connection given. The default series is tb_receiptNo's
// (ReceiptNumbering); it is listed here first, under SeriesNumber::defaultName().
namespace SeriesTables {

// The book's series, the default first, the others by name; only the default in a book
// from before series. Nothing when they cannot be read.
std::optional<QList<ReceiptSeries>> all(SQLiteHelper &connection, QString *error = nullptr);
// The series `name` (empty: the default), locked until the transaction ends on a server
// when `lock`: desks saving at once take its numbers one after another. Nothing when it
// cannot be read; *found false when there is no such series.
std::optional<ReceiptSeries> named(SQLiteHelper &connection, const QString &name, bool lock,
                                   bool *found = nullptr);
// The next number of a series in `year` ('' for one that does not start again), as stored;
// 1 when none is stored yet. Nothing when it cannot be read.
std::optional<qint64> counter(SQLiteHelper &connection, const QString &series, const QString &year);
bool setCounter(SQLiteHelper &connection, const QString &series, const QString &year, qint64 next);
// The year key of a series' counter for a receipt dated in `year`.
QString counterYear(const ReceiptSeries &series, int year);

bool add(SQLiteHelper &connection, const ReceiptSeries &series);
// Changes the length (and whether it starts again each year) of a stored series.
bool update(SQLiteHelper &connection, const ReceiptSeries &series);

// The paper books of `series` (empty: the default), or of every series when `series` is
// nothing, by series and first number; states not yet judged. Nothing when they cannot be
// read (a book from before them has none).
std::optional<QList<PaperBook>> books(SQLiteHelper &connection,
                                      const std::optional<QString> &series = std::nullopt);
bool addBook(SQLiteHelper &connection, const PaperBook &book);
bool markReturned(SQLiteHelper &connection, const PaperBook &book, const QDateTime &time);

// The state as the user reads it.
QString stateText(PaperBook::State state);
// "0012501–0012550": a book's numbers as its series prints them.
QString rangeText(const PaperBook &book, const ReceiptSeries &series);

} // namespace SeriesTables
