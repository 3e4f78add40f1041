// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// Money as whole fen (分): sums and comparisons of amounts are made in integers, so 0.1 +
// 0.2 is 0.30 and 100,000 receipts of 0.01 are exactly 1,000.00. The one place where an
// amount of yuan becomes fen and fen become text.
namespace Money {

// The whole fen of a plain decimal text ("2.675", "-3", "12.50"), rounded half away from
// zero on its decimal digits; nothing for any other text or an amount too large to count
// in fen. Every amount becomes fen here and nowhere else.
std::optional<qint64> fenFromText(QByteArrayView text);
// The whole fen of an amount of yuan: of its shortest decimal text, which is the text it
// was stored or typed as; nothing for an amount that is not finite or too large.
std::optional<qint64> fenFromYuan(double yuan);
// The fen of a receipt's amount; nothing when its stored amount could not be read.
std::optional<qint64> fenOf(const Receipt &receipt);
// "12,800.50" (with grouping) or "12800.50" (plain, for files), "-0.30".
QString format(qint64 fen, bool grouping = true);
// An amount of yuan as every screen shows it: grouped, two decimals, of the fen the
// totals count (680 is 680.00, 12345.6 is 12,345.60). A value that is no amount (not
// finite, beyond what fen can count) is shown as the number it is, never as 0.00.
QString shown(double yuan);
// A receipt's amount as the screens show it; one whose stored text could not be read is
// shown as stored.
QString shownOf(const Receipt &receipt);
// Whole digits in threes, as amounts group theirs: 198,000 receipts, -1,200.
QString groupedDigits(qint64 value);

} // namespace Money
