// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// The one way the program writes a file: exports, the statistics export, PDFs, backups,
// the test page, and the book itself (writeBook). The target must be a regular file or nothing:
// never a link (whatever it points at), a FIFO, a device or a folder, and never the receipt book or
// the files SQLite keeps beside it, however they are reached (another spelling, a hard
// link). The new file is written beside the target under a hidden name of its own and put
// in place in one step, so the target is the old file or the whole new one.
namespace OutputFile {

// Why `target` may not be written, in Chinese; empty when it may.
QString problem(const QString &target);

// Writes `target` through write(scratchPath, error), which fills the file at the path it
// is given (it exists, empty, and may be replaced by write). The whole file then replaces
// target (a file there keeps its permissions) and the folder is synced. False with the
// reason in *error for a refused target or a failed write; nothing is left behind then
// and target is as it was.
using Write = std::function<bool(const QString &scratchPath, QString *error)>;
bool writeReplacing(const QString &target, const Write &write, QString *error);

// The receipt book's own file (its first copy from the template, a restore), written the
// same way: beside it, synced, then put in place in one step, never through a link. Only
// the book itself may be named. `beforeReplace` runs once the new file is whole and before
// it takes the book's place; false from it (with *error) leaves the book as it was. The
// new file keeps the old one's permissions.
bool writeBook(const QString &bookPath, const Write &write,
               const std::function<bool(QString *error)> &beforeReplace, QString *error);

} // namespace OutputFile
