// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What makes a receipt number one number. A receipt number is ASCII digits, and its value
// is what it is: 5, 0000005 and 00000005 are one number, printed alike, so a book may hold
// only one of them. Texts that merely look like digits (full-width ５, a digit beside an
// invisible U+200B, U+FEFF or U+202E) are not numbers at all: they print as a stored
// number does and would give one number twice. The book stores a number as the numbering
// pads it (to numLong digits); what other programs stored otherwise is kept as it is and
// still found by its value.
namespace ReceiptNumber {

// Whether `text` is a receipt number: one or more of the digits 0–9, nothing else.
bool isPlain(const QString &text);
// `text` without the ordinary spaces (U+0020) around it. Nothing else is trimmed: an
// ideographic space or an invisible character in a number cell is refused, not dropped.
QString trimmed(const QString &text);
// Whether `text` is a receipt number; false with why not, in Chinese, naming the first
// character that is not a digit by its code point (an invisible one is never shown as
// itself).
bool check(const QString &text, QString *error = nullptr);
// The number as the book stores it: its value's digits padded with zeros to `length`
// (at most ReceiptNumbering::maximumNumberLength), as the numbering pads ("5", 7 →
// "0000005"; "00000005", 7 → "0000005"). A text that is not a number is given back as it is.
QString padded(const QString &number, qint64 length);
// The digits of a number's value, without the zeros before them ("0" for zero): equal for
// every padding of one number. A text that is not a number is given back as it is.
QString valueDigits(const QString &number);
// Every text a stored receipt of the same number may carry: its value's digits padded to
// each length from their own up to ReceiptNumbering::maximumNumberLength. Only `number`
// itself when it is not a number.
QStringList spellings(const QString &number);

} // namespace ReceiptNumber
