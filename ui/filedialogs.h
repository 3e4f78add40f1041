// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

class QWidget;

// The program's file pickers, in one place so tests can answer them in advance instead
// of facing a modal dialog (as MessageBox does for messages).
namespace FileDialogs {

// The file to write, or empty when the user cancelled. Starts at `suggested` (a folder
// and a file name).
QString saveFileName(QWidget *parent, const QString &title, const QString &suggested,
                     const QString &filter);
// The existing file to read, or empty when the user cancelled.
QString openFileName(QWidget *parent, const QString &title, const QString &folder,
                     const QString &filter);

// The file to export to (the lists and 收据统计): starts in the folder of the last
// export (else the documents folder) with `fileName`, offers Excel and CSV; a name typed
// without an extension gets .xlsx. Empty when the user cancelled; the folder is
// remembered otherwise.
QString exportFileName(QWidget *parent, const QString &title, const QString &fileName);

// Tests: while set, no dialog is shown and every picker answers `path` (empty: cancelled);
// the last suggestion a picker got is kept for lastSuggestion().
void setTestAnswer(std::optional<QString> path);
QString lastSuggestion();

} // namespace FileDialogs
