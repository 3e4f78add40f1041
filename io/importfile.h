// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <memory>

// The rows of a table file for the import, one at a time: a CSV file (UTF-8 with or
// without a byte-order mark, or GB18030) or the first sheet of an Excel workbook (.xlsx,
// unpacked with libzip, read with QXmlStreamReader). Nothing in a file is run or fetched:
// a formula cell gives the value it was last calculated to, and a cell whose text looks
// like a formula is text.
namespace ImportFile {

// The limits that keep a hostile file from taking the machine: the file, a cell, and what
// the parts of a workbook may unpack to, in all and against their packed size.
inline constexpr qint64 fileSizeLimit = 100 * 1024 * 1024;
inline constexpr qsizetype cellSizeLimit = 1024 * 1024;
inline constexpr qint64 unpackedSizeLimit = 1024LL * 1024 * 1024;
inline constexpr qint64 packingRatioLimit = 100;
// Below this an entry is not measured against the ratio: small parts pack unevenly.
inline constexpr qint64 ratioFreeSize = 10 * 1024 * 1024;

struct Cell
{
    enum class Kind { Empty, Text, Number, Error };
    Kind kind = Kind::Empty;
    QString text;
    bool isEmpty() const { return kind == Kind::Empty || (kind == Kind::Text && text.isEmpty()); }
};

// One row: its number as a spreadsheet shows it (from 1) and its cells by column, from 0.
struct Row
{
    qint64 number = 0;
    QList<Cell> cells;
};

class Reader
{
public:
    virtual ~Reader() = default;
    // The next row that has a cell into *row; false at the end, or with error() set when
    // the file cannot be read on.
    virtual bool next(Row *row) = 0;
    // Why the file could not be read, in Chinese (the row where it stopped is in it).
    virtual QString error() const = 0;
    // The file's bytes read so far and in all, for progress.
    virtual qint64 position() const = 0;
    virtual qint64 size() const = 0;
    // Excel's days are counted from 1904 in this workbook, not from 1900.
    virtual bool countsFrom1904() const { return false; }
};

// A reader of `path`, chosen by its extension (.csv, .xlsx); nothing, with the reason in
// *error, for a file that cannot be opened, is too large or of another kind.
std::unique_ptr<Reader> open(const QString &path, QString *error);

} // namespace ImportFile
