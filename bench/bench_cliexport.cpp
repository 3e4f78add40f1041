// SPDX-License-Identifier: GPL-3.0-or-later
// `quenta --export` of a whole book to CSV and to Excel, run as the user runs it: the real
// program as its own process, timed from start to exit, its peak resident memory read
// while it runs (its VmHWM). Beside it, in the same run, `sqlite3 -csv` writing the same
// rows of the book to a file (time and peak memory likewise), and, for the Excel export,
// libxlsxwriter alone writing those rows as the export's cells (a process of its own too).
// Targets: CSV within 1.5x the sqlite3 time and 50 MB; Excel within 3x and 100 MB. Last,
// `quenta --verify` of the whole book beside `sqlite3` reading the rows it proves: within
// 10 s at 1,000,000 receipts (in proportion below) and 200 MB. And `quenta --verify-receipt`
// of a receipt's code: 0.5 s at any size, 1.5 s at 1,000,000 receipts when the chain must be
// searched for its link. Last, `quenta --day-report` of a day of 2,000 receipts: within 2 s.
// Run by hand: build-dir/bin/bench_cliexport [--receipts N] [runs]
// (or QUENTA_BENCH_RECEIPTS=N; 100,000 by default). Exits 0 when every target is met,
// 2 when one is missed, 1 when it could not run.

#include "benchdata.h"
#include "receiptproof.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <xlsxwriter.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
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

// The "Name:" line of a /proc/…/status file: the program a process runs.
QByteArray nameLine(const QString &statusFile)
{
    QFile file(statusFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readLine();
}

// Runs program with arguments, its standard output into outputFile, and waits for it.
// Nothing when it could not start or did not exit with `expected`.
std::optional<ProcessRun> run(const QString &program, const QStringList &arguments,
                              const QString &outputFile, int expected = 0)
{
    std::vector<QByteArray> bytes {QFile::encodeName(program)};
    for (const QString &argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray output = QFile::encodeName(outputFile);

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
        execv(argv[0], argv.data());
        _exit(127);
    }
    // The peak is read from the process's own high-water mark while it runs: the resource
    // usage a parent gets at the end also counts the copy of this process the child was
    // before it started the program.
    // Until it has started the program, the child is that copy: its lines are not counted.
    const QString statusFile = u"/proc/%1/status"_s.arg(pid);
    const QByteArray ownName = nameLine(u"/proc/self/status"_s);
    ProcessRun result;
    int status = 0;
    for (;;) {
        QFile procStatus(statusFile);
        if (procStatus.open(QIODevice::ReadOnly) && nameLine(statusFile) != ownName) {
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
        usleep(2000);
    }
    result.ms = timer.nsecsElapsed() / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expected) {
        std::fprintf(stderr, "%s exited with %d\n", argv[0],
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return std::nullopt;
    }
    return result;
}

// The best time and the largest peak of `runs` runs.
std::optional<ProcessRun> best(const QString &program, const QStringList &arguments,
                               const QString &outputFile, int runs, int expected = 0)
{
    std::optional<ProcessRun> result;
    for (int i = 0; i < runs; ++i) {
        const std::optional<ProcessRun> one = run(program, arguments, outputFile, expected);
        if (!one)
            return std::nullopt;
        if (!result)
            result = one;
        result->ms = std::min(result->ms, one->ms);
        result->peakKb = std::max(result->peakKb, one->peakKb);
    }
    return result;
}

// The code printed on the receipt at `row` (from 0, in the order stored) of the book, as
// ReceiptProof makes it from its number, day, amount and newest link; empty when it cannot
// be read.
QString printedCode(const QString &book, int row)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    QString code;
    if (sqlite3_open_v2(QFile::encodeName(book).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(db,
                              "select r.receiptNo, r.receiptDate, r.total, (select c.hash from "
                              "tb_history h join tb_chain c on c.historyId = h.id where "
                              "h.receiptId = r.id order by c.link desc limit 1) from tb_receipt "
                              "r order by r.rowid limit 1 offset ?",
                              -1, &statement, nullptr)
            == SQLITE_OK
        && sqlite3_bind_int(statement, 1, row) == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW) {
        const auto text = [&](int column) {
            return QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(statement, column)));
        };
        Receipt receipt;
        receipt.receiptNo = text(0);
        receipt.receiptDate = QDateTime::fromString(text(1).left(10), u"yyyy-MM-dd"_s);
        receipt.total = text(2).toDouble();
        code = ReceiptProof::codeText(receipt, text(3));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return code;
}

// The rows the anchors write: the receipts the export writes, in its order.
constexpr const char *anchorQuery
    = "select * from tb_receipt where isDeleted <> 1 order by receiptNo desc";

// The Excel anchor (bench_cliexport --xlsx-anchor BOOK FILE): the rows of anchorQuery read
// with raw libsqlite3 and written with libxlsxwriter as a program using it plainly would
// (constant-memory mode, the library's own compression): the twelve columns of the list
// as the export's cells, the dates as date cells, the amount as a number, texts as text.
int writeXlsxAnchor(const char *book, const char *file)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2(book, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK
        || sqlite3_prepare_v2(db, anchorQuery, -1, &statement, nullptr) != SQLITE_OK)
        return 1;
    static const char *const columns[]
        = {"receiptNo", "receiptDate", "payer", "total", "reason1", "reason2",
           "remark",    "paytype",     "payee", "approve", "accountant", "createDate"};
    int at[std::size(columns)];
    for (size_t c = 0; c < std::size(columns); ++c) {
        at[c] = -1;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            if (std::strcmp(sqlite3_column_name(statement, i), columns[c]) == 0)
                at[c] = i;
        }
        if (at[c] < 0)
            return 1;
    }
    lxw_workbook_options options {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(file, &options);
    lxw_worksheet *sheet = workbook ? workbook_add_worksheet(workbook, "receipts") : nullptr;
    if (!sheet)
        return 1;
    lxw_format *date = workbook_add_format(workbook);
    format_set_num_format(date, "yyyy-mm-dd");
    lxw_format *dateTime = workbook_add_format(workbook);
    format_set_num_format(dateTime, "yyyy-mm-dd hh:mm:ss");
    lxw_format *money = workbook_add_format(workbook);
    format_set_num_format(money, "#,##0.00");
    for (size_t c = 0; c < std::size(columns); ++c)
        worksheet_write_string(sheet, 0, lxw_col_t(c), columns[c], nullptr);
    lxw_row_t row = 1;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (size_t c = 0; c < std::size(columns); ++c) {
            const auto *text
                = reinterpret_cast<const char *>(sqlite3_column_text(statement, at[c]));
            if (!text || !*text)
                continue;
            const bool isDate = c == 1 || c == 11;
            lxw_datetime when {};
            if (isDate
                && std::sscanf(text, "%d-%d-%d %d:%d:%lf", &when.year, &when.month, &when.day,
                               &when.hour, &when.min, &when.sec) >= 3)
                worksheet_write_datetime(sheet, row, lxw_col_t(c), &when, c == 1 ? date : dateTime);
            else if (c == 3)
                worksheet_write_number(sheet, row, lxw_col_t(c), std::strtod(text, nullptr), money);
            else
                worksheet_write_string(sheet, row, lxw_col_t(c), text, nullptr);
        }
        ++row;
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return workbook_close(workbook) == LXW_NO_ERROR ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--xlsx-anchor") == 0)
        return writeXlsxAnchor(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const int size = BenchData::bookSize(&arguments);
    const int runs = std::max(1, arguments.value(0, u"2"_s).toInt());
    const QString quenta = QDir(QCoreApplication::applicationDirPath()).filePath(u"quenta"_s);
    if (!QFile::exists(quenta)) {
        std::fprintf(stderr, "no program at %s: build the target quenta first\n",
                     qPrintable(quenta));
        return 1;
    }
    QTemporaryDir dir;
    const QString path = BenchData::prepareDatabase(dir.path(), size);
    if (path.isEmpty())
        return 1;
    std::printf("%d receipts, best time and highest peak of %d runs\n", size, runs);

    // The anchor: the receipts the export writes, in its order, as CSV.
    const QString sqlite3 = QStandardPaths::findExecutable(u"sqlite3"_s);
    std::optional<ProcessRun> raw;
    if (sqlite3.isEmpty()) {
        std::printf("sqlite3 -csv: skipped, the sqlite3 program is not installed "
                    "(apt-get install sqlite3)\n");
    } else {
        raw = best(sqlite3,
                   {u"-csv"_s, u"-readonly"_s, path, QString::fromLatin1(anchorQuery)},
                   dir.filePath(u"raw.csv"_s), runs);
        if (!raw)
            return 1;
        std::printf("%-30s %8.0f ms  peak %6.1f MB  (%.0f MB written)\n", "sqlite3 -csv", raw->ms,
                    BenchData::megabytes(raw->peakKb),
                    QFileInfo(dir.filePath(u"raw.csv"_s)).size() / 1048576.0);
    }

    // The second anchor: what the workbook library alone takes for those rows.
    const std::optional<ProcessRun> library
        = best(QCoreApplication::applicationFilePath(),
               {u"--xlsx-anchor"_s, path, dir.filePath(u"raw.xlsx"_s)}, dir.filePath(u"raw.txt"_s),
               runs);
    if (!library)
        return 1;
    std::printf("%-30s %8.0f ms  (%.0f MB written)\n", "libxlsxwriter alone", library->ms,
                QFileInfo(dir.filePath(u"raw.xlsx"_s)).size() / 1048576.0);
    if (raw)
        std::printf("%-30s %8.1fx sqlite3 -csv\n", "libxlsxwriter alone", library->ms / raw->ms);

    bool allMet = true;
    // The CSV is held to sqlite3 -csv, the workbook to the library writing it alone.
    const struct
    {
        const char *what;
        const char16_t *file;
        double ratio;
        bool toLibrary;
        double peakMb;
    } cases[] = {{"quenta --export CSV", u"receipts.csv", 1.5, false, 50},
                 {"quenta --export xlsx", u"receipts.xlsx", 1.15, true, 100}};
    for (const auto &exportCase : cases) {
        const QString file = dir.filePath(QString::fromUtf16(exportCase.file));
        const QString result = dir.filePath(u"result.txt"_s);
        const std::optional<ProcessRun> figures = best(quenta, {u"--export"_s, file}, result, runs);
        if (!figures)
            return 1;
        QFile resultFile(result);
        resultFile.open(QIODevice::ReadOnly);
        const QByteArray said = resultFile.readAll().trimmed();
        const bool peakMet = BenchData::megabytes(figures->peakKb) <= exportCase.peakMb;
        const std::optional<double> anchorMs
            = exportCase.toLibrary ? std::optional<double>(library->ms)
                                   : (raw ? std::optional<double>(raw->ms) : std::nullopt);
        const bool timeMet = anchorMs && figures->ms <= exportCase.ratio * *anchorMs;
        allMet = allMet && peakMet && (timeMet || !anchorMs);
        std::printf("%-30s %8.0f ms  peak %6.1f MB  (%.0f MB written; \"%s\")\n", exportCase.what,
                    figures->ms, BenchData::megabytes(figures->peakKb),
                    QFileInfo(file).size() / 1048576.0, said.constData());
        if (raw && exportCase.toLibrary)
            std::printf("%-30s %8.1fx sqlite3 -csv\n", exportCase.what, figures->ms / raw->ms);
        if (anchorMs)
            std::printf("%-30s %8.2fx %s (target <= %.2fx) %s\n", exportCase.what,
                        figures->ms / *anchorMs,
                        exportCase.toLibrary ? "libxlsxwriter alone" : "sqlite3 -csv",
                        exportCase.ratio, BenchData::verdict(timeMet));
        std::printf("%-30s peak %6.1f MB (target <= %.0f MB) %s\n", exportCase.what,
                    BenchData::megabytes(figures->peakKb), exportCase.peakMb,
                    BenchData::verdict(peakMet));
    }
    // The proof of the whole book, beside sqlite3 reading every row it reads (no hashing).
    {
        const double targetMs = 10000.0 * std::min(1.0, size / 1000000.0) + 500;
        if (!sqlite3.isEmpty()) {
            const std::optional<ProcessRun> read = best(
                sqlite3,
                {u"-readonly"_s, path,
                 u"select count(*), sum(length(h.detail)) from tb_chain c join tb_history h on "
                 u"h.id = c.historyId; select count(*), sum(length(payer)) from tb_receipt"_s},
                dir.filePath(u"read.txt"_s), runs);
            if (read)
                std::printf("%-30s %8.0f ms  peak %6.1f MB\n", "sqlite3 reading the rows", read->ms,
                            BenchData::megabytes(read->peakKb));
        }
        const QString result = dir.filePath(u"verified.txt"_s);
        const std::optional<ProcessRun> proof = best(quenta, {u"--verify"_s}, result, runs);
        if (!proof)
            return 1;
        QFile resultFile(result);
        resultFile.open(QIODevice::ReadOnly);
        const bool timeMet = proof->ms <= targetMs;
        const bool peakMet = BenchData::megabytes(proof->peakKb) <= 200;
        allMet = allMet && timeMet && peakMet;
        std::printf("%-30s %8.0f ms (target <= %.0f ms) %s  peak %6.1f MB (target <= 200 MB) %s "
                    "(\"%s\")\n",
                    "quenta --verify", proof->ms, targetMs, BenchData::verdict(timeMet),
                    BenchData::megabytes(proof->peakKb), BenchData::verdict(peakMet),
                    resultFile.readAll().trimmed().constData());
    }
    // A printed receipt's code, as a scanner at a desk verifies one: found by the receipt's
    // number and its own rows, a few reads at any size of book (the program's start is most
    // of it). One whose link those rows lack (a forged code, a rewritten book) has the whole
    // chain searched for the link: at most one more second at 1,000,000 receipts.
    {
        const QString code = printedCode(path, size / 2);
        if (code.isEmpty()) {
            std::fprintf(stderr, "no receipt's code could be read from the book\n");
            return 1;
        }
        const struct
        {
            const char *what;
            QString code;
            int status;
            double targetMs;
        } codes[] = {
            {"quenta --verify-receipt", code, 0, 500},
            {"  (a link not the receipt's)", code.section(u'|', 0, -2) + u"|0123456789abcdef"_s, 1,
             500 + 1000.0 * std::min(1.0, size / 1000000.0)},
        };
        for (const auto &verified : codes) {
            const QString result = dir.filePath(u"code.txt"_s);
            const std::optional<ProcessRun> answer = best(
                quenta, {u"--verify-receipt"_s, verified.code}, result, runs, verified.status);
            if (!answer)
                return 1;
            QFile resultFile(result);
            resultFile.open(QIODevice::ReadOnly);
            const bool timeMet = answer->ms <= verified.targetMs;
            allMet = allMet && timeMet;
            std::printf("%-30s %8.0f ms (target <= %.0f ms) %s  peak %6.1f MB (\"%s\")\n",
                        verified.what, answer->ms, verified.targetMs, BenchData::verdict(timeMet),
                        BenchData::megabytes(answer->peakKb),
                        resultFile.readLine().trimmed().constData());
        }
    }
    // The day's report of a day of 2,000 receipts (the book's first 2,000 moved onto one
    // day, after the proof), beside sqlite3 reading that day's rows: within 2 s.
    {
        ::sqlite3 *db = nullptr;
        const QByteArray file = QFile::encodeName(path);
        const bool moved = sqlite3_open(file.constData(), &db) == SQLITE_OK
            && sqlite3_exec(db,
                            "update tb_receipt set receiptDate = '2024-06-01 00:00:00' "
                            "where rowid <= 2000",
                            nullptr, nullptr, nullptr)
                == SQLITE_OK;
        sqlite3_close(db);
        if (!moved)
            return 1;
        if (!sqlite3.isEmpty()) {
            const std::optional<ProcessRun> read = best(
                sqlite3,
                {u"-readonly"_s, path,
                 u"select * from tb_receipt where receiptDate between '2024-06-01 00:00:00' and "
                 u"'2024-06-01 23:59:59' order by receiptNo"_s},
                dir.filePath(u"day.txt"_s), runs);
            if (read)
                std::printf("%-30s %8.0f ms\n", "sqlite3 reading the day", read->ms);
        }
        const QString result = dir.filePath(u"report.txt"_s);
        const std::optional<ProcessRun> report = best(
            quenta, {u"--day-report"_s, u"2024-06-01"_s, dir.filePath(u"day.pdf"_s)}, result, runs);
        if (!report)
            return 1;
        QFile resultFile(result);
        resultFile.open(QIODevice::ReadOnly);
        const bool met = report->ms <= 2000;
        allMet = allMet && met;
        std::printf("%-30s %8.0f ms (target <= 2000 ms) %s  peak %6.1f MB (\"%s\")\n",
                    "quenta --day-report (2,000)", report->ms, BenchData::verdict(met),
                    BenchData::megabytes(report->peakKb), resultFile.readAll().trimmed().constData());
    }
    std::printf("%d receipts: %s\n", size, allMet ? "every target met" : "some targets MISSED");
    return allMet ? 0 : 2;
}
