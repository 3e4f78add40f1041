// SPDX-License-Identifier: GPL-3.0-or-later
// `quenta --import FILE.csv` of a whole book's export into an empty book, run as the user
// runs it: the real program as its own process, timed from start to exit, with its peak
// resident memory (its VmHWM). Beside it, in the same run, `sqlite3`'s `.import` of the
// same rows into the same table (tb_receipt of an empty book, its indexes and search
// triggers included), from a CSV file in the table's own column order.
// Target: within 3x the sqlite3 time; memory that does not grow with the file (within
// 100 MB at 100,000 rows).
// Run by hand: build-dir/bin/bench_import [--receipts N] [runs]
// (or QUENTA_BENCH_RECEIPTS=N; 100,000 by default). Exits 0 when every target is met,
// 2 when one is missed, 1 when it could not run.

#include "benchdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct ProcessRun
{
    double ms = 0;
    qint64 peakKb = 0;
};

// Runs program with arguments, its standard input from inputFile when given and its
// standard output into outputFile, and waits for it, reading its high-water mark while it
// runs. Nothing when it could not start or did not exit with 0.
std::optional<ProcessRun> run(const QString &program, const QStringList &arguments,
                              const QString &outputFile, const QString &inputFile = {})
{
    std::vector<QByteArray> bytes {QFile::encodeName(program)};
    for (const QString &argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray output = QFile::encodeName(outputFile);
    const QByteArray input = QFile::encodeName(inputFile);

    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        const int fd = open(output.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0)
            _exit(126);
        if (!input.isEmpty()) {
            const int in = open(input.constData(), O_RDONLY);
            if (in < 0 || dup2(in, STDIN_FILENO) < 0)
                _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    const QString statusFile = u"/proc/%1/status"_s.arg(pid);
    ProcessRun result;
    int status = 0;
    for (;;) {
        QFile procStatus(statusFile);
        if (procStatus.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : procStatus.readAll().split('\n')) {
                if (line.startsWith("VmHWM:"))
                    result.peakKb = std::max(result.peakKb,
                                             line.mid(6).trimmed().split(' ').first().toLongLong());
            }
        }
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0)
            return std::nullopt;
        usleep(5000);
    }
    result.ms = timer.nsecsElapsed() / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s exited with %d\n", argv[0],
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return std::nullopt;
    }
    return result;
}

// An empty book (the template) at folder/Tovalin.db, replacing what is there.
bool emptyBook(const QString &folder, const QString &templateBook)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(u"Tovalin.db"_s);
    return QFile::copy(templateBook, path)
        && QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const int size = BenchData::bookSize(&arguments);
    const int runs = std::max(1, arguments.value(0, u"2"_s).toInt());
    const QString bin = QCoreApplication::applicationDirPath();
    const QString quenta = QDir(bin).filePath(u"quenta"_s);
    const QString templateBook = QDir(bin).filePath(u"Tovalin.db"_s);
    const QString sqlite3 = QStandardPaths::findExecutable(u"sqlite3"_s);
    if (!QFile::exists(quenta) || !QFile::exists(templateBook) || sqlite3.isEmpty()) {
        std::fprintf(stderr, "needs the program and its template in %s, and sqlite3\n",
                     qPrintable(bin));
        return 1;
    }
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(u"source"_s));
    const QString source = BenchData::prepareDatabase(dir.filePath(u"source"_s), size);
    if (source.isEmpty())
        return 1;
    // The file to import: the export of the whole book; for sqlite3, the same rows in the
    // table's own columns.
    const QString csv = dir.filePath(u"receipts.csv"_s);
    const QString rawCsv = dir.filePath(u"raw.csv"_s);
    if (!run(quenta, {u"--export"_s, csv}, dir.filePath(u"said.txt"_s))
        || !run(sqlite3, {u"-csv"_s, u"-readonly"_s, source, u"select * from tb_receipt"_s},
                rawCsv))
        return 1;
    std::printf("%d receipts, best time and highest peak of %d runs\n", size, runs);

    const QString target = dir.filePath(u"target"_s);
    const QString script = dir.filePath(u"import.sql"_s);
    QFile scriptFile(script);
    if (!scriptFile.open(QIODevice::WriteOnly)
        || scriptFile.write((u".import --csv "_s + rawCsv + u" tb_receipt\n"_s).toUtf8()) < 0)
        return 1;
    scriptFile.close();
    std::optional<ProcessRun> raw, imported;
    QByteArray said;
    for (int i = 0; i < runs; ++i) {
        if (!emptyBook(target, templateBook))
            return 1;
        const std::optional<ProcessRun> one = run(sqlite3, {QDir(target).filePath(u"Tovalin.db"_s)},
                                                  dir.filePath(u"out.txt"_s), script);
        if (!one)
            return 1;
        if (!raw || one->ms < raw->ms)
            raw = one;

        if (!emptyBook(target, templateBook))
            return 1;
        BenchData::pointAt(target);
        const std::optional<ProcessRun> mine
            = run(quenta, {u"--import"_s, csv}, dir.filePath(u"said.txt"_s));
        if (!mine)
            return 1;
        if (!imported || mine->ms < imported->ms)
            imported
                = ProcessRun {mine->ms, std::max(mine->peakKb, imported ? imported->peakKb : 0)};
        QFile saidFile(dir.filePath(u"said.txt"_s));
        saidFile.open(QIODevice::ReadOnly);
        said = saidFile.readAll().trimmed();
    }
    const bool timeMet = imported->ms <= 3 * raw->ms;
    const bool peakMet = BenchData::megabytes(imported->peakKb) <= 100;
    std::printf("%-24s %8.0f ms  peak %6.1f MB\n", "sqlite3 .import", raw->ms,
                BenchData::megabytes(raw->peakKb));
    std::printf("%-24s %8.0f ms  peak %6.1f MB  (\"%s\")\n", "quenta --import CSV", imported->ms,
                BenchData::megabytes(imported->peakKb), said.constData());
    std::printf("%-24s %8.1fx sqlite3 .import (target <= 3x) %s\n", "quenta --import CSV",
                imported->ms / raw->ms, BenchData::verdict(timeMet));
    std::printf("%-24s peak %6.1f MB (target <= 100 MB) %s\n", "quenta --import CSV",
                BenchData::megabytes(imported->peakKb), BenchData::verdict(peakMet));
    return timeMet && peakMet ? 0 : 2;
}
