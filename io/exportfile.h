// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// What the CSV and Excel writers of the lists and of the statistics share: RFC 4180
// fields, text that a spreadsheet would run as a formula, widths of Chinese text in
// Excel's unit. Files are written through OutputFile.
namespace ExportFile {

// Whether a spreadsheet would take `text` for a formula (=, +, -, @, a tab or a return
// first): exports write it after a ' that keeps it a text, imports take that ' off again.
bool startsLikeFormula(QStringView text);

// Excel holds at most this many characters in a cell.
inline constexpr qsizetype cellTextLimit = 32767;

// Appends field to a CSV row, quoted when it holds a comma, quote or line break.
void appendCsvField(QString &out, QStringView field);
// As appendCsvField, for a text typed by a user: one that begins like a formula (=, +,
// -, @, tab, carriage return) gets a leading single quote, so it shows as text.
void appendCsvText(QString &out, const QString &text);

// The width of a text in Excel's column unit, the width of a digit: a Chinese character
// (and any other of the wide East Asian ranges) takes about two.
int displayWidth(QStringView text);
// The text as an Excel cell shows it as typed, in UTF-8 for the workbook writer: an
// "_x0041_" in it is not read as a coded character. A cell holds no NUL and at most
// cellTextLimit characters: the text is cut at either, and *cut says so.
QByteArray excelText(const QString &text, bool *cut = nullptr);
// A cell as Excel names it, from 0-based row and column: (2, 6) is G3.
QString cellName(int row, int column);

} // namespace ExportFile
