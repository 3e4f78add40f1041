// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUuid>

#include <optional>

class SQLiteHelper;

// The stored numbering setting: the next number to issue and the minimum number of
// digits a receipt number is padded to.
struct ReceiptNoSetting
{
    QUuid id;
    qint64 numLong = 7;
    qint64 currNum = 1;
    friend bool operator==(const ReceiptNoSetting &, const ReceiptNoSetting &) = default;
};

// The numbering as stored in tb_receiptNo: what the form's store and the book's issue
// both read and write, and nothing else.
namespace ReceiptNumbering {

// A receipt number never pads beyond this many digits, whatever length is set, so
// a mistyped length cannot make a text of billions of zeros.
inline constexpr qint64 maximumNumberLength = 64;

// The number text of a setting: currNum padded with zeros to numLong digits.
QString numberText(const ReceiptNoSetting &setting);
// The statement that writes a setting to every row of tb_receiptNo.
QString saveStatement(const ReceiptNoSetting &setting);
// The setting as stored now (its last row), read on `connection`; nothing when it
// cannot be read. Read inside a write transaction, it is what another program left.
// UntilCommit, inside a write transaction, keeps other desks of a shared book from taking
// the numbering until it ends.
// The values are texts, which anyone with the book's file or a desk's role may have set:
// a row whose numLong or currNum is not a whole number of at least 0 ("-5", "abc", empty)
// gives nothing too, with invalidSettingText() in *problem, for numbering must stop there
// rather than read it as 0 and issue No.0000000 or "00000-5".
enum class Lock { None, UntilCommit };
std::optional<ReceiptNoSetting> stored(SQLiteHelper &connection, Lock lock = Lock::None,
                                       QString *problem = nullptr);
// Whether every row of tb_receiptNo holds `setting` as saveStatement writes it.
bool isStored(SQLiteHelper &connection, const ReceiptNoSetting &setting);
// The counter as stored now (the highest of its rows); nothing when it cannot be read, or
// when a row is not a whole number (then *problem says so, as for stored()).
std::optional<qint64> storedCounter(SQLiteHelper &connection, QString *problem = nullptr);
// A stored numLong or currNum as a number: ASCII digits (ordinary spaces around them
// allowed) that fit in 64 bits; nothing for anything else, a sign included.
std::optional<qint64> wholeNumber(const std::optional<QString> &text);

// What the form says while numbering is stopped: a failed check, no number left, or a
// stored setting that is no number.
QString checkFailedText();
QString exhaustedText();
QString invalidSettingText();

} // namespace ReceiptNumbering
