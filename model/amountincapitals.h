// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Writes an amount of yuan in Chinese financial capitals, the way the receipt carries
// it a second time: "1234567.89" gives 壹佰贰拾叁万肆仟伍佰陆拾柒元捌角玖分.
//
// amountText is the decimal text of the amount, as the entry form writes a double:
// optional sign, digits with an optional point and fraction, optional exponent. Any
// other text (empty, white space around it, "nan", "inf", hexadecimal, "1,000")
// gives the empty text.
QString amountInCapitals(const QString &amountText);

// The second stage: rewrites ICU's Chinese spell-out (一百〇五点三) into capitals and
// appends 元/角/分, or 元整 when wholeYuan is set or there are no fraction digits.
QString capitalsFromSpellOut(const QString &spellOut, bool wholeYuan);

// The text an amount is stored and converted as: the shortest decimal digits that read
// back as the same double, never in exponent form, with ".0" on whole amounts
// (100 → "100.0", 12.5 → "12.5", 0.1 → "0.1").
QString amountText(double amount);
