// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <optional>

// A series of receipt numbers (收据类别): 学费 apart from 物业费, or one for each department.
// The book's own numbering (tb_receiptNo) is the default series, without a prefix; every
// other series has a prefix, which may hold the year ("XF{yyyy}-" gives XF2026-0007), and
// may start again at 1 each year. A number's identity is its series and its value: the
// prefix as the year gives it, then the value's digits padded to the series' length.
struct ReceiptSeries
{
    QString name;
    QString prefix;
    qint64 numLong = 4;
    bool yearly = false;

    bool isDefault() const { return prefix.isEmpty(); }
    friend bool operator==(const ReceiptSeries &, const ReceiptSeries &) = default;
};

namespace SeriesNumber {

// The name the default series is shown under.
QString defaultName();
// The token of the year in a prefix.
inline constexpr char16_t yearToken[] = u"{yyyy}";

// Whether `series` may be stored beside `others` (the series of the book but the one it
// replaces); false with why not, in Chinese. A prefix is letters of ASCII, digits, CJK
// ideographs and "-_/.", with {yyyy} at most once, and ends in a character that is no
// digit, so that a number's value is always the digits at its end; a series that starts
// again each year has {yyyy} in its prefix, or its numbers would repeat. No two series may
// ever give one text.
bool check(const ReceiptSeries &series, const QList<ReceiptSeries> &others, QString *error);

// The prefix as it is printed in `year`.
QString prefixIn(const ReceiptSeries &series, int year);
// The full number of `value` in `year`: the prefix, then the value padded with zeros to the
// series' length (at most ReceiptNumbering::maximumNumberLength digits).
QString text(const ReceiptSeries &series, int year, qint64 value);
// Every text a stored receipt of the same number may carry: the prefix with the value's
// digits in each padding (what a change of the series' length leaves in the book).
QStringList spellings(const ReceiptSeries &series, int year, qint64 value);

// What a full number is: its series (an index into `series`), the year its prefix names
// (0 when it names none) and its value. Nothing for a text no series gives, or whose year
// in the prefix is not `year` when one is given.
struct Identity
{
    qsizetype series = -1;
    int year = 0;
    qint64 value = 0;
};
std::optional<Identity> identify(const QString &number, const QList<ReceiptSeries> &series);
// Whether `number` is built as a number of a series is: a prefix of the characters a prefix
// may hold, not starting with 0 and ending in no digit, then digits (at most 18). Whether the
// book has such a series is another question.
bool looksLikeSeriesNumber(const QString &number);

} // namespace SeriesNumber
