// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The receipt book's file as the window and the commands see it: where it lies, whether
// it can be used and written, and what its first open found. The program's one
// connection stays below this; the screens and the commands ask here.
namespace BookFile {

// Where the book lives: the file the program's connection opens, or the URI of a book
// shared on a server.
QString path();
// The book as the user names it: the file's path, or "共享账本 user@host:port/database".
QString displayName();
// The window's name for it: the file's name, or the shared book's display name.
QString title();

// What the book can do, which the screens and the commands ask rather than where it lives.
// Whether several desks share it (named by --book or QUENTA_BOOK): each hears what the
// others write, a statement may wait for another desk, and 使用本机账本 can leave it.
bool isSharedByDesks();
// Whether one program holds it at a time, by a lock beside it (a file; the server keeps a
// shared book's desks apart).
bool isHeldByOneProgram();
// The folder holding it on this computer, which 打开数据文件夹 opens and its journal is
// written in; empty when it has none.
QString folder();
// Whether the window can replace it with a backup file (恢复数据库). A shared book is
// restored with the command, while no desk is connected.
bool canRestoreInWindow();
// Whether it is backed up automatically beside it, into BackupService's folder; a shared
// book's server keeps its own.
bool keepsAutomaticBackups();
// The folder the book is put in ($QUENTA_DOCUMENTS_DIR, else the user's documents);
// empty when the user has none.
QString documentsDirectory();
// False when the book could not be put in place (no template, a failed copy).
bool isAvailable();

// The book in place and usable: the connection opens and the schema and the first
// receipt can be read. False with the reason in Chinese in *error.
bool checkUsable(QString *error = nullptr);
// Leaves SQLite's whole-file check, which on a large book takes seconds, to a worker
// after the window shows instead of running it at the first open.
void checkFileLater();

// What the whole-file check found: empty when the file passed or was not checked yet.
QString damage();
// What the book holds that a receipt book does not (triggers, views, other tables), as
// the user reads them; such a book is only read.
QStringList unknownObjects();
// Whether a newer program wrote the book, which this one then only reads.
bool isNewer();
// Receipt numbers that more than one stored receipt carries.
QStringList duplicateReceiptNumbers();

// Whether the open file can only be read (SQLite falls back to reading a write-protected
// file): every save then fails.
bool isReadOnly();
// Whether the book is opened for reading only (a damaged or newer book, a folder nothing
// can write to). Setting it closes an open connection; the next open follows it.
bool opensReadOnly();
void setOpenReadOnly(bool readOnly);
// A command that only reads a shared book opens it while a restore holds the desks' lock,
// instead of failing: it writes nothing a restore could lose.
void setOnlyReads();
// Told on the thread of a statement on a shared book that has waited a second for the
// server (true: another desk holds what it needs) and again when its answer came (false).
void setWaitNotice(void (*notice)(bool waiting));

// Where the book lives is told on standard error instead of standard output, which a
// command keeps for its result.
void setConsoleLinesToStandardError(bool toStandardError);

} // namespace BookFile
