// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <span>

struct sqlite3;

// The links of the book's record chain: each history row is joined to the one before it
// by a SHA-256 over the previous link and a canonical text of the row's own fields (time,
// action, receiptId, receiptNo, detail, desk, as stored). The text gives each field as its
// length in UTF-8 bytes, a colon and the bytes, or "~" for NULL, separated by "|": no two
// rows read alike. Both engines compute the same links (SQLite through the function
// quenta_link this layer gives each file connection, a server with its own sha256()).
namespace RecordChain {

inline constexpr int fieldCount = 6;

// The link after `previous` (hex; empty before the first row) for a row of these fields:
// 64 lower-case hex digits.
QByteArray link(QByteArrayView previous, std::span<const std::optional<QByteArrayView>> fields);

// Gives a SQLite connection the function quenta_link(previous, time, action, receiptId,
// receiptNo, detail, desk) its trigger links by; every file connection of the program has
// it. False when SQLite refused it.
bool addLinkFunction(sqlite3 *handle);

} // namespace RecordChain
