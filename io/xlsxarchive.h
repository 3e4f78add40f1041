// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

struct lxw_worksheet;

// How libxlsxwriter puts a long sheet into its archive, made cheaper without changing what
// it writes. The library keeps a constant-memory sheet's rows in a scratch file; when the
// workbook closes it copies them into a second scratch file that holds the whole sheet and
// then compresses that one into the archive, on one core. While an XlsxRowsInPlace lives
// on a thread, a workbook closed on that thread compresses the rows straight from the first
// scratch file into the sheet's place in the archive, on both cores, and a sheet it follows
// has its rows compressed while they are written, leaving little for the close. The sheet
// holds byte for byte the text the library would give it, with one copy of the rows through
// the disk fewer, and the rows' scratch file is checked too. For the library archives a part
// whatever became of its scratch file:
// on a full disk it writes a workbook cut short and reports success. Any part whose scratch
// file could not be written wholly fails the workbook, whether one lives or not.
class XlsxRowsInPlace
{
public:
    XlsxRowsInPlace();
    ~XlsxRowsInPlace();
    XlsxRowsInPlace(const XlsxRowsInPlace &) = delete;
    XlsxRowsInPlace &operator=(const XlsxRowsInPlace &) = delete;

    // Compresses the rows of sheet, a constant-memory sheet of a workbook to be closed on
    // this thread, while they are written, on a thread of its own.
    void follow(lxw_worksheet *sheet);

    // How many bytes of the followed sheet's rows are compressed so far.
    long long rowsFollowed() const;

    // How many sheets this one has moved into their archive.
    int sheetsMoved() const;
};
