// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether a finished workbook holds its sheet whole. libxlsxwriter keeps a constant-memory
// sheet's rows in a scratch file and puts whatever that file holds into the archive: when
// the scratch file's disk filled up, the workbook it writes is short of rows and the close
// still reports success. Reading the sheet back from the finished file (its checksum
// checked as it is read) is how a workbook cut short is told from a whole one.
namespace WorkbookCheck {

// Whether every part of the archive at `path` reads back whole (a complete XML text, its
// checksum right) and its part `sheet` holds exactly `rows` complete rows; `error` says
// what was found otherwise.
bool sheetHoldsRows(const QString &path, const char *sheet, qint64 rows, QString *error);

} // namespace WorkbookCheck
