// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <functional>

// What the CSV and Excel writers of the lists and of the statistics share: RFC 4180
// fields, text that a spreadsheet would run as a formula, widths of Chinese text in
// Excel's unit, and a file written beside its target and put in its place only whole.
namespace ExportFile {

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
// The text as an Excel cell shows it as typed: an "_x0041_" in it is not read as a coded
// character, and it is cut at the cell's limit.
QString excelText(const QString &text);

// Writes a file through write(scratchPath, error), which creates and fills the file at the
// path it is given, beside target; the whole file then replaces target in one step (a
// file there keeps its permissions). A failure leaves nothing behind and target as it
// was; the reason is in *error.
bool writeReplacing(const QString &target,
                    const std::function<bool(const QString &scratchPath, QString *error)> &write,
                    QString *error);

} // namespace ExportFile
