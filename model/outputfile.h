// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// The one way the program writes a file the user names: exports, the statistics export,
// PDFs, backups, the test page. The target must be a regular file or nothing: never a
// link (whatever it points at), a FIFO, a device or a folder, and never the receipt book or
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
bool writeReplacing(const QString &target,
                    const std::function<bool(const QString &scratchPath, QString *error)> &write,
                    QString *error);

} // namespace OutputFile
