// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

class QCoreApplication;

// The program without its window: `quenta --backup FILE`, `--restore FILE --yes`,
// `--check`, `--verify [--head HEX]`, `--verify-receipt TEXT`, `--export FILE`,
// `--print-pdf RECEIPTNO[,...] FILE.pdf [--content-only] [--form-number NUMBER]`,
// `--test-page FILE.pdf`,
// `--create-shared-book URI [--from FILE] [--desk-role ROLE]`,
// `--help`, `--version`; `--book BOOK` before any of them, or alone for the window. A command
// prints its result, and only that, on standard output and its messages on standard error,
// and answers an exit status: 0 done, 1 failed (a result that cannot be written out too), 2 a
// usage error, 3 the book is held by a running Quenta (or locked on another machine, without
// --force-unlock).
namespace CommandLine {

enum ExitStatus { Done = 0, Failed = 1, UsageError = 2, BookInUse = 3 };

// First thing in main(): a standard stream that is closed is opened on /dev/null, so that
// no file the program opens takes its descriptor and receives what is written there. A
// command refuses to run without its standard output (run() then fails).
void guardStandardStreams();

// Takes `--book BOOK` (or `--book=BOOK`) out of the arguments and names the book for the
// rest of the run (QUENTA_BOOK): a file path, or a postgresql:// URI of a shared book.
// The exit status when it is given without a book or more than once.
std::optional<int> takeBookOption(int &argc, char **argv);

// Whether the arguments ask for a command rather than the window: any argument other than
// the window's own and Qt's single-dash options (-platform …); an unknown single-dash
// option is a command, refused as a usage error.
bool isCommand(int argc, char **argv);

// Whether the command draws pages (--print-pdf, --test-page, --day-report, --paper-books
// with a file): it needs a QGuiApplication for the fonts, which the "offscreen" platform
// gives where there is no display.
bool drawsPages(int argc, char **argv);

// Parses the arguments of `app` and runs the command. No display is needed. argc and argv
// are main()'s as `app` left them: a file name that is no text in the system's encoding is
// refused rather than changed into another name.
int run(QCoreApplication &app, int argc, char **argv);

} // namespace CommandLine
