// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCoreApplication;

// The program without its window: `quenta --backup FILE`, `--restore FILE --yes`,
// `--check`, `--export FILE`, `--print-pdf RECEIPTNO[,...] FILE.pdf`, `--test-page FILE.pdf`,
// `--help`, `--version`. A command prints its result, and only that, on
// standard output and its messages on standard error, and answers an exit status:
// 0 done, 1 failed, 2 a usage error, 3 the book is held by a running Quenta.
namespace CommandLine {

enum ExitStatus { Done = 0, Failed = 1, UsageError = 2, BookInUse = 3 };

// Whether the arguments ask for a command rather than the window: any argument in the
// long "--" form other than the window's own. Qt's single-dash options (-platform …) are
// the window's.
bool isCommand(int argc, char **argv);

// Whether the command draws pages (--print-pdf, --test-page): it needs a QGuiApplication
// for the fonts, which the "offscreen" platform gives where there is no display.
bool drawsPages(int argc, char **argv);

// Parses the arguments of `app` and runs the command. No display is needed.
int run(QCoreApplication &app);

} // namespace CommandLine
