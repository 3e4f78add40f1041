// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "backupservice.h"
#include "bookcare.h"
#include "bookfile.h"
#include "booklock.h"
#include "bookproof.h"
#include "clock.h"
#include "datetext.h"
#include "dayreport.h"
#include "dayreportpages.h"
#include "formnumber.h"
#include "money.h"
#include "outputfile.h"
#include "paperbookpages.h"
#include "paperbooks.h"
#include "printjob.h"
#include "printsettings.h"
#include "receiptbook.h"
#include "receiptexport.h"
#include "receiptfilter.h"
#include "receiptimport.h"
#include "receiptnostore.h"
#include "receiptnumber.h"
#include "receiptprinter.h"
#include "receiptproof.h"
#include "receiptstream.h"
#include "seriesstore.h"
#include "sharedbook.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPrinter>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The window's own options, which are no command.
const QStringList &windowOptions()
{
    static const QStringList options = {u"--quit-when-shown"_s};
    return options;
}

// Whether a result could not be written out (standard output closed, a full disk): the
// command then failed, since whoever ran it did not get what it did.
bool resultLost = false;
// Whether standard output was closed when the program started (guardStandardStreams).
bool outputWasClosed = false;

void printResult(const QString &text)
{
    if (std::fprintf(stdout, "%s\n", text.toUtf8().constData()) < 0 || std::fflush(stdout) != 0)
        resultLost = true;
}

void printMessage(const QString &text)
{
    std::fprintf(stderr, "quenta: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

int usageError(const QString &text)
{
    printMessage(text + u"（用 quenta --help 查看用法）"_s);
    return CommandLine::UsageError;
}

// The book in place (copied from the template on the first use on this machine) and
// usable; false with the reason told.
bool bookIsUsable()
{
    QString error;
    if (BookFile::checkUsable(&error))
        return true;
    printMessage(error);
    return false;
}

// Whether a writing command that finds the book's folder read-only goes on reading only
// (printing, which then cannot record its prints) or is refused (restoring).
enum class WhenReadOnly { ReadOnly, Refuse };

// Whether a writing command needs a book it can open (printing) or replaces it whatever
// it holds (restoring: that is what backups are for).
enum class BookNeeded { Usable, AnyFile };

// The window and every command that writes hold the book's lock: nothing when it is
// taken and the book is usable, otherwise the exit status, with the reason told.
// A lock written on another machine is taken over with --force-unlock only. What a
// cut-short backup or restore left beside the book is removed then.
std::optional<int> holdForWriting(BookLock &lock, bool forceUnlock,
                                  WhenReadOnly whenReadOnly = WhenReadOnly::Refuse,
                                  BookNeeded needed = BookNeeded::Usable)
{
    // A shared book has no file to lock: the server keeps the desks apart.
    if (!BookFile::isHeldByOneProgram()) {
        if (needed == BookNeeded::AnyFile || bookIsUsable())
            return std::nullopt;
        return CommandLine::Failed;
    }
    QString error;
    if (!lock.tryLock(&error)
        && !(lock.failure() == BookLock::Failure::HeldOnAnotherMachine && forceUnlock
             && lock.takeOver(&error))) {
        switch (lock.failure()) {
        case BookLock::Failure::HeldOnAnotherMachine:
            printMessage(error
                         + u"。如果那台计算机上的 Quenta 已经关闭，加上 --force-unlock 解除锁定"_s);
            return CommandLine::BookInUse;
        case BookLock::Failure::HeldByAnother:
            printMessage(error);
            return CommandLine::BookInUse;
        case BookLock::Failure::FolderReadOnly:
            if (whenReadOnly == WhenReadOnly::ReadOnly) {
                // Nothing can write there, this command included: no lock is needed.
                BookFile::setOpenReadOnly(true);
                break;
            }
            printMessage(error);
            return CommandLine::Failed;
        case BookLock::Failure::None:
        case BookLock::Failure::Other:
            printMessage(error);
            return CommandLine::Failed;
        }
    }
    BackupService::removePartialFiles();
    if (needed == BookNeeded::AnyFile)
        return std::nullopt;
    if (!bookIsUsable())
        return CommandLine::Failed;
    // A book that carries triggers or views of its own is only read: its saves may vanish.
    if (const QStringList unknown = BookFile::unknownObjects(); !unknown.isEmpty()) {
        printMessage(u"数据库文件中有收据数据库不该有的内容：%1。请用备份恢复数据库"_s.arg(
            unknown.join(u"、"_s)));
        return CommandLine::Failed;
    }
    return std::nullopt;
}

int check()
{
    QString error;
    const std::optional<QStringList> findings = BookCare::check(&error);
    if (!findings) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(findings->isEmpty() ? u"ok"_s : findings->join(u'\n'));
    return findings->isEmpty() ? CommandLine::Done : CommandLine::Failed;
}

int verify(const QString &head)
{
    if (!bookIsUsable())
        return CommandLine::Failed;
    BookProof::Verdict verdict;
    QString error;
    if (!BookCare::verify(head, &verdict, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    if (!verdict.whole) {
        printResult(verdict.problem);
        return CommandLine::Failed;
    }
    printResult(u"账本完整：%1 条记录，链尾 %2"_s.arg(verdict.records).arg(
        verdict.head.isEmpty() ? u"（无）"_s : BookProof::shortHead(verdict.head)));
    return CommandLine::Done;
}

// A day as the command line takes it: yyyy-MM-dd, nothing else.
std::optional<QDate> dayFrom(const QString &text)
{
    const QDate day = QDate::fromString(text, u"yyyy-MM-dd"_s);
    if (!day.isValid() || day.toString(u"yyyy-MM-dd"_s) != text)
        return std::nullopt;
    return day;
}

int closeDay(QDate day)
{
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused = holdForWriting(lock, false))
        return *refused;
    ReceiptBook &book = ReceiptBook::shared();
    DayClosing closing;
    QString error;
    if (!book.closeDays(day, &closing, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    DayReport report;
    if (!DayReport::read(book, day, &report, &error)) {
        // Closed all the same: only the summary of its last day is missing.
        printResult(u"已日结到 %1，链尾 %2"_s.arg(day.toString(u"yyyy-MM-dd"_s),
                                              BookProof::shortHead(closing.head)));
        printMessage(error);
        return CommandLine::Done;
    }
    printResult(u"已日结到 %1：当日 %2 张收据，合计 %3，作废 %4 张；链尾 %5"_s
                    .arg(day.toString(u"yyyy-MM-dd"_s))
                    .arg(report.receipts.size())
                    .arg(u"¥"_s + Money::format(report.total.fen))
                    .arg(report.voided)
                    .arg(BookProof::shortHead(closing.head)));
    return CommandLine::Done;
}

int dayReport(QDate day, const QString &target)
{
    // Only read: no lock, an open window goes on meanwhile; nor the check of the whole file
    // first (a second at 1,000,000 receipts), which a read cannot make worse.
    BookFile::checkFileLater();
    if (!bookIsUsable())
        return CommandLine::Failed;
    DayReport report;
    QString error;
    if (!DayReport::read(ReceiptBook::shared(), day, &report, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    const DayReportPages pages(report);
    if (!pages.writePdf(target, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(u"%1 页，%2 张收据，合计 %3：%4"_s.arg(pages.pageCount())
                    .arg(report.receipts.size())
                    .arg(u"¥"_s + Money::format(report.total.fen))
                    .arg(QFileInfo(target).absoluteFilePath()));
    return CommandLine::Done;
}

// A number of a series as the command line takes it: its value's digits, or the series'
// full number (XF-0007).
std::optional<qint64> valueFrom(const QString &text, const ReceiptSeries &series)
{
    const QString typed = ReceiptNumber::trimmed(text);
    if (ReceiptNumber::isPlain(typed) && typed.size() <= 18)
        return typed.toLongLong();
    const std::optional<SeriesNumber::Identity> identity = SeriesNumber::identify(typed, {series});
    if (!identity)
        return std::nullopt;
    return identity->value;
}

int addPaperBook(const QString &firstText, const QString &lastText, const QString &seriesName,
                 const QString &holder)
{
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused = holdForWriting(lock, false))
        return *refused;
    const ReceiptSeries series = ReceiptSeriesStore::shared().named(seriesName);
    if (!seriesName.isEmpty() && series.name != seriesName) {
        printMessage(u"没有收据类别“%1”"_s.arg(seriesName));
        return CommandLine::Failed;
    }
    const std::optional<qint64> first = valueFrom(firstText, series);
    const std::optional<qint64> last = valueFrom(lastText, series);
    if (!first || !last)
        return usageError(u"--add-paper-book 的起止单号“%1”“%2”不是单号"_s.arg(firstText, lastText));
    PaperBook added;
    QString error;
    if (!PaperBooks::add(seriesName, *first, *last, holder, &added, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(u"已登记收据本：%1 %2%3"_s.arg(series.name, SeriesTables::rangeText(added, series),
                                           added.holder.isEmpty() ? QString()
                                                                  : u"，领用人 "_s + added.holder));
    return CommandLine::Done;
}

int listPaperBooks(const QString &target)
{
    BookFile::checkFileLater();
    if (!bookIsUsable())
        return CommandLine::Failed;
    QString error;
    const std::optional<PaperBookPages::Report> report = PaperBookPages::read(&error);
    if (!report) {
        printMessage(error);
        return CommandLine::Failed;
    }
    QStringList lines;
    for (const PaperBooks::Account &account : report->accounts)
        lines << PaperBooks::line(account);
    if (lines.isEmpty())
        printMessage(u"没有登记收据本"_s);
    else
        printResult(lines.join(u'\n'));
    if (target.isEmpty())
        return CommandLine::Done;
    const PaperBookPages pages(*report);
    if (!pages.writePdf(target, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    // Told beside the lines, which stay one a book.
    printMessage(u"已写入收据本核销表（%1 页）：%2"_s.arg(pages.pageCount())
                     .arg(QFileInfo(target).absoluteFilePath()));
    return CommandLine::Done;
}

int returnPaperBook(const QString &numberText, const QString &seriesName)
{
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused = holdForWriting(lock, false))
        return *refused;
    const ReceiptSeries series = ReceiptSeriesStore::shared().named(seriesName);
    const std::optional<qint64> number = valueFrom(numberText, series);
    if (!number)
        return usageError(u"--return-paper-book 的“%1”不是单号"_s.arg(numberText));
    QString error;
    if (!PaperBooks::returnBook(seriesName, *number, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    const std::optional<PaperBook> book = PaperBooks::bookOf(seriesName, *number);
    printResult(u"已缴销收据本：%1 %2"_s.arg(series.name,
                                         book ? SeriesTables::rangeText(*book, series) : numberText));
    return CommandLine::Done;
}

int spoilForm(const QString &number, const QString &reason)
{
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused = holdForWriting(lock, false))
        return *refused;
    ReceiptBook::Spoiled spoiled;
    QString error;
    if (!ReceiptBook::shared().spoil(number, reason, &spoiled, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(spoiled.renumbered.isEmpty()
                    ? u"已登记废票 No.%1"_s.arg(spoiled.number)
                    : u"已登记废票 No.%1；原收据改为 No.%2，请在下一张收据纸上重印"_s.arg(
                          spoiled.number, spoiled.renumbered));
    return CommandLine::Done;
}

int addSeries(const ReceiptSeries &series)
{
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused = holdForWriting(lock, false))
        return *refused;
    QString error;
    if (!ReceiptSeriesStore::shared().add(series, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(u"已添加收据类别：%1，下一张 No.%2"_s.arg(
        series.name, SeriesNumber::text(series, Clock::now().date().year(), 1)));
    return CommandLine::Done;
}

// What the book says of a printed receipt's code: read only, no lock, like --verify.
int verifyReceipt(const QString &typed)
{
    // A scanner's answer waits for no check of the whole file, which a read cannot make
    // worse.
    BookFile::checkFileLater();
    if (!bookIsUsable())
        return CommandLine::Failed;
    ReceiptProof::Answer answer;
    QString error;
    if (!BookCare::verifyReceipt(typed, &answer, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(answer.text);
    return answer.verdict == ReceiptProof::Answer::Verdict::Genuine ? CommandLine::Done
                                                                    : CommandLine::Failed;
}

int backup(const QString &target)
{
    if (BookFile::isHeldByOneProgram()) {
        // Held here, no other program is writing a backup beside the book.
        if (!bookIsUsable())
            return CommandLine::Failed;
        BackupService::removePartialFiles();
    }
    QString error;
    if (!BookCare::backUp(target, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(QFileInfo(target).absoluteFilePath());
    return CommandLine::Done;
}

int restore(const QString &source, bool confirmed, bool forceUnlock)
{
    if (!confirmed)
        return usageError(u"恢复数据库会替换现有的数据库：请加上 --yes 确认"_s);
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused
        = holdForWriting(lock, forceUnlock, WhenReadOnly::Refuse, BookNeeded::AnyFile))
        return *refused;
    QString error;
    QString notice;
    bool bookInUse = false;
    const bool restored = BookCare::restore(source, &error, &notice, &bookInUse);
    if (!notice.isEmpty())
        printMessage(notice);
    if (restored) {
        printResult(BookFile::path());
        return CommandLine::Done;
    }
    printMessage(error);
    return bookInUse ? CommandLine::BookInUse : CommandLine::Failed;
}

// The lines of a report, each on its own line of standard error under the message.
void printReport(const QString &report)
{
    if (report.isEmpty())
        return;
    for (const QString &line : report.split(u'\n'))
        std::fprintf(stderr, "  %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

// Receipts brought in from a file: all of them or, with a problem in any row, none.
int importReceipts(const QString &source, bool dryRun, bool renumber, bool again)
{
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused = holdForWriting(lock, false))
        return *refused;
    ReceiptBook &book = ReceiptBook::shared();
    const std::optional<ReceiptNoSetting> numbering = ReceiptNoStore::storedSetting();
    QString error;
    const std::unique_ptr<BookImport::Source> reader
        = ReceiptImport::open(source, &error, numbering ? numbering->numLong : 7);
    if (!reader) {
        printMessage(error);
        return CommandLine::Failed;
    }
    BookImport::Options options;
    options.dryRun = dryRun;
    options.renumber = renumber;
    options.again = again;
    BookImport::Result result;
    const bool written = book.importReceipts(*reader, options, &result, &error);
    for (const QString &note : reader->notes())
        printMessage(note);
    if (!written && result.problemCount == 0) {
        printMessage(result.importedBefore.isEmpty()
                         ? error
                         : error + u"（确实要再导入一次，请加 --again）"_s);
        return CommandLine::Failed;
    }
    if (!result.note.isEmpty())
        printMessage(result.note);
    const QString name = QDir::toNativeSeparators(source);
    if (!result.ok) {
        printMessage(u"无法导入 %1：%2 处问题，没有导入任何收据"_s.arg(
            name, QString::number(result.problemCount)));
        printReport(BookImport::report(result, 200));
        return CommandLine::Failed;
    }
    if (!result.renumbered.isEmpty()) {
        printMessage(u"%1 张收据的单号已被占用，改用新的单号："_s.arg(result.renumbered.size()));
        printReport(BookImport::report(result, 1000));
    }
    const QString voided
        = result.voided > 0 ? u"（其中作废 %1 张，不计入合计）"_s.arg(result.voided) : QString();
    if (dryRun)
        printResult(
            u"检查通过：%1 张收据可以导入，合计 ¥%2%3；没有导入（--dry-run）"_s.arg(result.count)
                .arg(Money::format(result.fen), voided));
    else
        printResult(u"%1 张收据已导入，合计 ¥%2%3"_s.arg(result.count)
                        .arg(Money::format(result.fen), voided));
    return CommandLine::Done;
}

// A shared book made at `uri`, from the SQLite book `from` when one is given; the local
// book is not touched, so no lock is needed.
int createSharedBook(const QString &uri, const QString &from, const QString &deskRole)
{
    QString error;
    const std::optional<qint64> copied = SharedBook::create(uri, from, deskRole, &error);
    if (!copied) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(u"%1 张收据已复制"_s.arg(*copied));
    return CommandLine::Done;
}

// What --export is asked for: the file, and --from, --to and --search as given.
struct ExportRequest
{
    QString target;
    std::optional<QString> from;
    std::optional<QString> to;
    QString search;
};

// The first or last second of a day typed as yyyy-MM-dd, as the lists store dates; empty
// when the text is no such day.
QString rangeBound(const QString &day, QStringView pattern)
{
    const QDateTime parsed = parseDateText(day, DateText::date);
    return parsed.isValid() ? formatDateText(parsed, pattern) : QString();
}

int exportReceipts(const ExportRequest &request)
{
    BookFile::setOnlyReads();
    if (request.target.isEmpty())
        return usageError(u"--export 需要一个文件名"_s);
    if (!ReceiptExport::formatOf(request.target))
        return usageError(u"只能导出为 .csv 或 .xlsx 文件：%1"_s.arg(request.target));
    // Without --from and --to, the whole book: the stored dates compare as text, and
    // these bounds lie before and after every four-digit year.
    QString begin = u"0000-01-01 00:00:00"_s;
    QString end = u"9999-12-31 23:59:59"_s;
    const auto badDate = [](const QString &given) {
        return usageError(u"日期“%1”不对：请写成 yyyy-MM-dd，例如 2024-05-01"_s.arg(given));
    };
    if (request.from && (begin = rangeBound(*request.from, DateText::dayStart)).isEmpty())
        return badDate(*request.from);
    if (request.to && (end = rangeBound(*request.to, DateText::dayEnd)).isEmpty())
        return badDate(*request.to);
    if (end < begin)
        return usageError(u"--to 的日期早于 --from 的日期"_s);
    // Exporting writes nothing into the book, so it does not wait for SQLite's check of
    // the whole file (as long again as the export on a large book); a book about to be
    // brought up to date is still checked before that writes.
    BookFile::checkFileLater();
    if (!bookIsUsable())
        return CommandLine::Failed;

    // Read only, so no lock: an open window goes on meanwhile. The same rows and search
    // as the lists, in their order (highest number first), read and written one by one:
    // read on a thread (and a connection) of their own while the rows before are written.
    ReceiptStream stream(begin, end, ReceiptFilter(request.search), ReceiptStream::Connection::Own);
    ReceiptReadAhead reader(stream);
    const ReceiptExport::Source source = [&reader](QString *error) {
        const Receipt *receipt = reader.next();
        if (!receipt)
            *error = reader.error();
        return receipt;
    };
    ReceiptTotals totals;
    QString error;
    QStringList cutCells;
    const bool written = ReceiptExport::write(request.target, source, &totals, &error, &cutCells);
    if (reader.skippedRows() > 0)
        printMessage(reader.skippedNotice());
    if (!written) {
        printMessage(error);
        return CommandLine::Failed;
    }
    if (!cutCells.isEmpty())
        printMessage(ReceiptExport::cutCellsNotice(cutCells));
    if (totals.unreadable > 0)
        printMessage(u"%1 张的金额无法识别，不计入合计"_s.arg(totals.unreadable));
    // The file holds the voided rows too; the count is of what the sum adds up, and the
    // voided ones are named apart on the same line.
    QString result = u"%1 张 合计 %2"_s.arg(totals.count).arg(Money::format(totals.fen));
    if (totals.voided > 0)
        result += u"，另有作废 %1 张"_s.arg(totals.voided);
    // The book's state the file was made from, as a day report or a receipt's code names it.
    if (const QString head = BookCare::storedHead(); !head.isEmpty())
        result += u"，链尾 %1"_s.arg(BookProof::shortHead(head));
    printResult(result);
    return CommandLine::Done;
}

// The pages of a print verb to the PDF file `target`, which the print job writes beside it
// and puts in its place only once whole. `print` prints on the printer it is given; false
// with the reason.
int writePdf(const QString &target, qsizetype pages,
             const std::function<bool(QPrinter &, QString *, QString *)> &print)
{
    const QString path = QFileInfo(target).absoluteFilePath();
    const QString refused = OutputFile::problem(path);
    if (!refused.isEmpty()) {
        printMessage(refused);
        return CommandLine::Failed;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    QString error;
    QString notice;
    if (!print(printer, &error, &notice)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    if (!notice.isEmpty())
        printMessage(notice);
    printResult(u"%1 页 %2"_s.arg(pages).arg(path));
    return CommandLine::Done;
}

// The ids of the receipts numbered `numbers`, as the lists know them; an unknown number is
// told and gives nothing.
std::optional<QStringList> receiptIds(const QStringList &numbers)
{
    QStringList ids;
    for (const QString &number : numbers) {
        std::optional<QString> id;
        if (QString error; !ReceiptBook::shared().readIdOfNumber(number, &id, &error)) {
            printMessage(u"读取收据失败：%1"_s.arg(error));
            return std::nullopt;
        }
        if (!id) {
            printMessage(u"没有单号为 %1 的收据"_s.arg(number));
            return std::nullopt;
        }
        ids.append(*id);
    }
    ids.removeDuplicates();
    return ids;
}

// What a print verb is asked for: the receipt numbers (none for the test page), the file,
// and the options that replace the saved print settings.
struct PrintRequest
{
    QStringList numbers;
    QString target;
    std::optional<double> offsetX;
    std::optional<double> offsetY;
    bool contentOnly = false;
    bool forceUnlock = false;
    // The number printed on the form in the printer (--form-number).
    std::optional<QString> formNumber;

    PrintOptions options() const
    {
        PrintOptions options = PrintSettings::shared().options();
        options.offsetX = offsetX.value_or(options.offsetX);
        options.offsetY = offsetY.value_or(options.offsetY);
        if (contentOnly)
            options.content = PrintOptions::Content::ValuesOnly;
        return options;
    }
};

// On forms that carry their numbers: whether the form is the receipts' own, as the window
// would ask, the answer given by --form-number. Told when not.
bool formIsTheirs(const QStringList &ids, const PrintOptions &options,
                  const std::optional<QString> &formNumber)
{
    QString error;
    const std::optional<PrintJob> job = PrintJob::forIds(ids, &error, options);
    FormNumber::Question question;
    if (!job || !FormNumber::ask(options, job->receipts(), &question, &error)) {
        printMessage(error);
        return false;
    }
    if (!formNumber) {
        if (!question.needed)
            return true;
        printMessage(u"收据纸上已印单号，而%1：请用 --form-number 写明打印机中收据纸上印的单号"_s.arg(
            question.reasons.join(u"；"_s)));
        return false;
    }
    const QString refused = FormNumber::refusal(question, *formNumber);
    if (!refused.isEmpty())
        printMessage(refused);
    return refused.isEmpty();
}

int printPdf(const PrintRequest &request)
{
    // Printing writes the prints into the receipts' history: a writing command.
    BookLock lock(BookFile::path());
    if (const std::optional<int> refused
        = holdForWriting(lock, request.forceUnlock, WhenReadOnly::ReadOnly))
        return *refused;
    const std::optional<QStringList> ids = receiptIds(request.numbers);
    if (!ids)
        return CommandLine::Failed;
    const PrintOptions options = request.options();
    if (options.leavesNumberToForm() && !formIsTheirs(*ids, options, request.formNumber))
        return CommandLine::Failed;
    return writePdf(request.target, ids->size(),
                    [&](QPrinter &printer, QString *error, QString *notice) {
                        return ReceiptPrinter::printReceipts(printer, *ids, error, options, notice);
                    });
}

int printTestPage(const PrintRequest &request)
{
    // Only the header is read: no lock, an open window goes on meanwhile.
    if (!bookIsUsable())
        return CommandLine::Failed;
    const PrintOptions options = request.options();
    return writePdf(request.target, 1, [&](QPrinter &printer, QString *error, QString *notice) {
        return ReceiptPrinter::printAlignmentPage(printer, options, error, notice);
    });
}

// A millimetre offset as typed: a number in the offsets' range, with a decimal point.
std::optional<double> offsetFrom(const QString &text)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value) || value < PrintOptions::minOffset
        || value > PrintOptions::maxOffset)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<int> CommandLine::takeBookOption(int &argc, char **argv)
{
    QString book;
    bool named = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        QString value;
        if (argument == u"--book"_s) {
            if (i + 1 >= argc) {
                printMessage(u"--book 需要账本：文件名或 postgresql:// 开头的地址"_s);
                return UsageError;
            }
            value = QString::fromLocal8Bit(argv[++i]);
        } else if (argument.startsWith(u"--book="_s)) {
            value = argument.mid(7);
        } else {
            argv[kept++] = argv[i];
            continue;
        }
        if (named || value.trimmed().isEmpty()) {
            printMessage(named ? u"--book 只能给一次"_s
                               : u"--book 需要账本：文件名或 postgresql:// 开头的地址"_s);
            return UsageError;
        }
        named = true;
        book = value;
    }
    argv[kept] = nullptr;
    argc = kept;
    if (named)
        qputenv("QUENTA_BOOK", book.toLocal8Bit());
    return std::nullopt;
}

void CommandLine::guardStandardStreams()
{
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (descriptor == STDOUT_FILENO)
            outputWasClosed = true;
        const int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != descriptor) {
            ::dup2(opened, descriptor);
            ::close(opened);
        }
    }
}

bool CommandLine::drawsPages(int argc, char **argv)
{
    // --paper-books draws its sheets only with a file to write them to.
    bool paperBooks = false;
    bool bare = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        for (const QString &verb : {u"--print-pdf"_s, u"--test-page"_s, u"--day-report"_s}) {
            if (argument == verb || argument.startsWith(verb + u'='))
                return true;
        }
        paperBooks = paperBooks || argument == u"--paper-books"_s;
        bare = bare || !argument.startsWith(u'-');
    }
    return paperBooks && bare;
}

bool CommandLine::isCommand(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == u"-h"_s || argument == u"-v"_s || argument == u"-?"_s)
            return true;
        // Qt's single-dash options (-platform, -style …) are the window's, with the value
        // that some of them take.
        static const QStringList takingValue = {u"-platform"_s,
                                                u"-platformpluginpath"_s,
                                                u"-platformtheme"_s,
                                                u"-plugin"_s,
                                                u"-qwindowgeometry"_s,
                                                u"-qwindowtitle"_s,
                                                u"-qwindowicon"_s,
                                                u"-style"_s,
                                                u"-stylesheet"_s,
                                                u"-display"_s,
                                                u"-geometry"_s,
                                                u"-session"_s,
                                                u"-name"_s,
                                                u"-title"_s};
        static const QStringList flags = {u"-reverse"_s, u"-nograb"_s,      u"-dograb"_s,
                                          u"-sync"_s,    u"-widgetcount"_s, u"-testability"_s};
        if (argument.startsWith(u'-') && !argument.startsWith(u"--"_s) && argument.size() > 1) {
            if (takingValue.contains(argument)) {
                ++i;
                continue;
            }
            if (flags.contains(argument) || argument.startsWith(u"-style="_s)
                || argument.startsWith(u"-stylesheet="_s)
                || argument.startsWith(u"-qmljsdebugger="_s))
                continue;
            // No option of Qt's nor the window's (-x): a command, which refuses it.
            return true;
        }
        if (!windowOptions().contains(argument))
            return true;
    }
    return false;
}

namespace {

int runCommand(QCoreApplication &app, int argc, char **argv)
{
    using namespace CommandLine;
    // Qt decodes the arguments with replacement characters: a file name that is no UTF-8
    // would be written or read under another name.
    for (int i = 1; i < argc; ++i) {
        const QByteArray given(argv[i]);
        if (QFile::encodeName(QFile::decodeName(given)) != given) {
            printMessage(
                u"参数“%1”中有无法识别的字符（不是 UTF-8 编码）：Quenta 不会把它当作另一个"
                u"名字使用，请给文件改用只含正常字符的名字"_s.arg(QFile::decodeName(given)));
            return UsageError;
        }
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Quenta：开具、保存和打印收据。不带参数时打开窗口。\n"
        u"Quenta issues, keeps and prints paper receipts; without arguments it opens its window."_s);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption backupOption(
        u"backup"_s, u"把数据库备份到文件 FILE。Back the receipt book up to FILE."_s, u"FILE"_s);
    const QCommandLineOption restoreOption(
        u"restore"_s,
        u"用备份文件 FILE 替换数据库（先自动备份现有数据库，需要 --yes）。"
        u"Replace the receipt book with the backup FILE (the book is backed up first; needs --yes)."_s,
        u"FILE"_s);
    const QCommandLineOption yesOption(u"yes"_s, u"确认恢复数据库。Confirm --restore."_s);
    const QCommandLineOption checkOption(
        u"check"_s,
        u"检查数据库是否完好，输出 ok 或发现的问题。Check the receipt book; prints ok or what is wrong."_s);
    const QCommandLineOption verifyOption(
        u"verify"_s,
        u"校验账本的记录链，并核对每张收据、作废和单号计数器，输出“账本完整”或第一处不符。"
        u"Verify the book's record chain against every receipt, void and the counter; prints "
        u"\"账本完整\" or the first thing that does not agree."_s);
    const QCommandLineOption headOption(
        u"head"_s,
        u"--verify：账本还须含有此前打印的链尾 HEX（16 位十六进制）。With --verify, the book must "
        u"also hold the head HEX printed before (16 hex digits)."_s,
        u"HEX"_s);
    const QCommandLineOption verifyReceiptOption(
        u"verify-receipt"_s,
        u"验证收据二维码的内容 TEXT（扫码所得，QUENTA1|No.…）：输出“真实，未改动”、打印后的改动"
        u"或“本账本没有这张收据”。Verify the code TEXT of a printed receipt against the book; "
        u"prints \"真实，未改动\" (exit 0), what changed since it was printed, or that the book "
        u"does not have it."_s,
        u"TEXT"_s);
    const QCommandLineOption exportOption(
        u"export"_s,
        u"把收据导出到 FILE（.csv 或 .xlsx），输出张数与合计。"
        u"Export the receipts to FILE (.csv or .xlsx); prints the count and the total."_s,
        u"FILE"_s);
    const QCommandLineOption fromOption(
        u"from"_s,
        u"--export：只导出这天（yyyy-MM-dd）及以后的收据；--create-shared-book：把本机账本文件 "
        u"FILE 复制到共享账本。With --export, export from this day on; with "
        u"--create-shared-book, copy the local receipt book FILE into the shared book."_s,
        u"yyyy-MM-dd|FILE"_s);
    const QCommandLineOption toOption(
        u"to"_s, u"只导出这天（yyyy-MM-dd）及以前的收据。Export up to this day."_s,
        u"yyyy-MM-dd"_s);
    const QCommandLineOption searchOption(
        u"search"_s,
        u"只导出与 TEXT 相符的收据，同列表的搜索。Export the receipts the list's search finds."_s,
        u"TEXT"_s);
    const QCommandLineOption printPdfOption(
        u"print-pdf"_s,
        u"把单号为 RECEIPTNO 的收据按打印设置打印到其后的 PDF 文件 FILE.pdf，每张一页；"
        u"多个单号用逗号分开（RECEIPTNO,RECEIPTNO…），按单号从小到大排列。打印记入收据的历史，"
        u"输出页数与文件。Print the receipts numbered RECEIPTNO (several separated by commas) "
        u"to FILE.pdf, given after them, with the print settings, one page each in ascending "
        u"number order; each print goes into the receipt's history. Prints the page count "
        u"and the file."_s,
        u"RECEIPTNO"_s);
    const QCommandLineOption testPageOption(
        u"test-page"_s,
        u"把打印对齐测试页打印到 PDF 文件 FILE.pdf。Print the alignment test page to FILE.pdf."_s,
        u"FILE.pdf"_s);
    const QCommandLineOption offsetXOption(
        u"offset-x"_s,
        u"打印时水平偏移 MM 毫米（-30 到 30，正数向右），代替打印设置中的值。"
        u"Move the printed contents MM millimetres right (-30 to 30; negative: left) "
        u"instead of the print settings' offset."_s,
        u"MM"_s);
    const QCommandLineOption offsetYOption(
        u"offset-y"_s,
        u"打印时垂直偏移 MM 毫米（-30 到 30，正数向下），代替打印设置中的值。"
        u"Move the printed contents MM millimetres down (-30 to 30; negative: up) instead "
        u"of the print settings' offset."_s,
        u"MM"_s);
    const QCommandLineOption forceUnlockOption(
        u"force-unlock"_s,
        u"解除另一台计算机留下的数据库锁定（只在那台计算机上的 Quenta 已经关闭时使用），"
        u"用于 --restore 和 --print-pdf。Take over a lock on the receipt book left by another "
        u"machine (only when Quenta there is closed), for --restore and --print-pdf."_s);
    const QCommandLineOption contentOnlyOption(
        u"content-only"_s,
        u"只打印填写的内容，用于已印好格式的收据纸，仅用于 --print-pdf。"
        u"Print the values only, for paper with the form printed on it (--print-pdf)."_s);
    const QCommandLineOption formNumberOption(
        u"form-number"_s,
        u"打印机中收据纸上印的单号，用于打印设置选了“纸上已印单号”时只打印内容的 --print-pdf："
        u"补打、废票后改号或不是收据本下一张时必须写明，与收据的单号不同则不打印。"
        u"The number printed on the form in the printer, for --print-pdf of values only on "
        u"numbered forms: required for a reprint, a receipt renumbered after a spoiled form or "
        u"one that is not on the next form of its paper book; nothing prints when it is not "
        u"the receipt's."_s,
        u"NUMBER"_s);
    const QCommandLineOption createSharedBookOption(
        u"create-shared-book"_s,
        u"在空的 PostgreSQL 数据库 URI（postgresql://user@host:5432/quenta）中建立共享账本，"
        u"可用 --from 复制本机账本，输出复制的张数；密码放在 ~/.pgpass 或 PGPASSWORD 中。"
        u"Create a shared receipt book in the empty PostgreSQL database URI, copying the "
        u"local book given with --from; prints the number of receipts copied. The password "
        u"comes from ~/.pgpass or PGPASSWORD."_s,
        u"URI"_s);
    const QCommandLineOption deskRoleOption(
        u"desk-role"_s,
        u"让数据库角色 ROLE 可以开单、修改收据和设置，历史记录只能添加，用于 "
        u"--create-shared-book。Let the database role ROLE issue and change receipts and "
        u"settings and add to the history, never change it (--create-shared-book)."_s,
        u"ROLE"_s);
    // Taken out of the arguments before they are parsed (takeBookOption): here for --help.
    const QCommandLineOption bookOption(
        u"book"_s,
        u"要打开的账本：文件名，或共享账本的 postgresql:// 地址（也可用环境变量 QUENTA_BOOK）。"
        u"The receipt book: a file, or a shared book's postgresql:// URI (or QUENTA_BOOK)."_s,
        u"BOOK"_s);
    parser.addOption(bookOption);
    const QCommandLineOption importOption(
        u"import"_s,
        u"从 FILE（.csv、.xlsx 或另一个 Quenta 数据库 .db）导入收据：有一行不对就一张也不导入，"
        u"问题输出到标准错误。Import the receipts of FILE (.csv, .xlsx, or another Quenta book "
        u".db): all of them, or none when any row is wrong (the rows are told on standard "
        u"error)."_s,
        u"FILE"_s);
    const QCommandLineOption dryRunOption(
        u"dry-run"_s, u"只检查，不导入（--import）。Check only, import nothing (--import)."_s);
    const QCommandLineOption renumberOption(
        u"renumber"_s,
        u"单号已被占用的收据改用下一个空闲单号（--import）。Give receipts whose number is taken "
        u"the next free numbers (--import)."_s);
    const QCommandLineOption againOption(
        u"again"_s,
        u"再导入一次账本已经导入过的文件（--import）。Import a file the book has taken before "
        u"once more (--import)."_s);
    parser.addOptions({importOption, dryRunOption, renumberOption, againOption});
    const QCommandLineOption closeDayOption(
        u"close-day"_s,
        u"日结：其后的日期（yyyy-MM-dd，不写为今天）及以前的收据从此不能修改、删除或补开，"
        u"只能作废；日结不能撤销。Close every receipt dated up to the day given after it "
        u"(yyyy-MM-dd; today when none): from then on they cannot be edited, deleted or dated "
        u"into, only voided. A closing is final."_s);
    const QCommandLineOption dayReportOption(
        u"day-report"_s,
        u"把这天（yyyy-MM-dd）的收款日报写到其后的 PDF 文件 FILE.pdf。Write the day report of "
        u"this day (yyyy-MM-dd) to FILE.pdf, given after it."_s,
        u"yyyy-MM-dd"_s);
    parser.addOptions(
        {verifyOption, headOption, verifyReceiptOption, closeDayOption, dayReportOption});
    const QCommandLineOption addPaperBookOption(
        u"add-paper-book"_s,
        u"登记一本收据本：起始单号 FIRST，其后写终止单号 LAST，可加 --series、--holder。"
        u"Register a paper book of forms numbered FIRST to LAST (given after it), of --series, "
        u"handed to --holder."_s,
        u"FIRST"_s);
    const QCommandLineOption paperBooksOption(
        u"paper-books"_s,
        u"列出收据本及其核销：每本一行“类别 起止单号 已开 N 作废 M 废票 K 未用 U 状态”；"
        u"其后写 FILE.pdf 时另把核销表写到这个 PDF 文件。List the paper books with their "
        u"reconciliation, one line each; with FILE.pdf after it, write the reconciliation "
        u"sheets there too."_s);
    const QCommandLineOption returnPaperBookOption(
        u"return-paper-book"_s,
        u"缴销含单号 NUMBER 的收据本（每个单号都须已开出、作废或登记废票），可加 --series。"
        u"Return the paper book holding NUMBER (every number of it accounted for)."_s,
        u"NUMBER"_s);
    const QCommandLineOption spoilOption(
        u"spoil"_s,
        u"把单号 NUMBER 的收据纸登记为废票（卡纸、打错），须加 --reason；原收据改用下一个单号。"
        u"Record the form of NUMBER as spoiled (--reason required); its receipt takes the "
        u"next number."_s,
        u"NUMBER"_s);
    const QCommandLineOption reasonOption(
        u"reason"_s, u"废票原因（--spoil）。The reason a form was spoiled (--spoil)."_s, u"TEXT"_s);
    const QCommandLineOption seriesOption(
        u"series"_s,
        u"收据类别的名称（--add-paper-book、--return-paper-book）。The series "
        u"(--add-paper-book, --return-paper-book)."_s,
        u"NAME"_s);
    const QCommandLineOption holderOption(
        u"holder"_s, u"收据本的领用人（--add-paper-book）。Who holds the book (--add-paper-book)."_s,
        u"NAME"_s);
    const QCommandLineOption addSeriesOption(
        u"add-series"_s,
        u"添加收据类别 NAME，须加 --prefix（可含 {yyyy}），可加 --digits、--yearly。"
        u"Add the series NAME with --prefix (may hold {yyyy}), --digits and --yearly."_s,
        u"NAME"_s);
    const QCommandLineOption prefixOption(
        u"prefix"_s, u"单号前缀，如 XF{yyyy}-（--add-series）。The prefix (--add-series)."_s, u"TEXT"_s);
    const QCommandLineOption digitsOption(
        u"digits"_s, u"单号长度，默认 4（--add-series）。Minimum digits, 4 by default (--add-series)."_s,
        u"N"_s);
    const QCommandLineOption yearlyOption(
        u"yearly"_s, u"每年从 1 开始（--add-series）。Start again at 1 each year (--add-series)."_s);
    parser.addOptions({addPaperBookOption, paperBooksOption, returnPaperBookOption, spoilOption,
                       reasonOption, seriesOption, holderOption, addSeriesOption, prefixOption,
                       digitsOption, yearlyOption});
    parser.addOptions({backupOption, restoreOption, yesOption, checkOption, exportOption,
                       fromOption, toOption, searchOption, printPdfOption, testPageOption,
                       offsetXOption, offsetYOption, contentOnlyOption, formNumberOption, forceUnlockOption,
                       createSharedBookOption, deskRoleOption});
    QCommandLineOption quitWhenShown(u"quit-when-shown"_s);
    quitWhenShown.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(quitWhenShown);

    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        printResult(parser.helpText().trimmed());
        return Done;
    }
    if (parser.isSet(versionOption)) {
        printResult(QCoreApplication::applicationName() + u' '
                    + QCoreApplication::applicationVersion());
        return Done;
    }
    // --print-pdf takes the file after its numbers, --paper-books an optional PDF file; a
    // few others a second value.
    QStringList positional = parser.positionalArguments();
    QString printTarget;
    if ((parser.isSet(printPdfOption) || parser.isSet(dayReportOption)
         || parser.isSet(closeDayOption) || parser.isSet(addPaperBookOption)
         || parser.isSet(paperBooksOption))
        && !positional.isEmpty())
        printTarget = positional.takeFirst();
    if (!positional.isEmpty())
        return usageError(u"不认识的参数：%1"_s.arg(positional.join(u' ')));

    const int commands = int(parser.isSet(backupOption)) + int(parser.isSet(restoreOption))
        + int(parser.isSet(checkOption)) + int(parser.isSet(exportOption))
        + int(parser.isSet(printPdfOption)) + int(parser.isSet(testPageOption))
        + int(parser.isSet(createSharedBookOption)) + int(parser.isSet(importOption))
        + int(parser.isSet(verifyOption)) + int(parser.isSet(verifyReceiptOption))
        + int(parser.isSet(closeDayOption)) + int(parser.isSet(dayReportOption))
        + int(parser.isSet(addPaperBookOption)) + int(parser.isSet(paperBooksOption))
        + int(parser.isSet(returnPaperBookOption)) + int(parser.isSet(spoilOption))
        + int(parser.isSet(addSeriesOption));
    if (commands == 0)
        return usageError(u"没有指定要做什么"_s);
    if (commands > 1)
        return usageError(u"一次只能做一件事：--backup、--restore、--check、--verify、"
                          u"--verify-receipt、--export、--print-pdf、--test-page、"
                          u"--create-shared-book、--import、--close-day、--day-report、"
                          u"--add-series、--add-paper-book、--paper-books、--return-paper-book、"
                          u"--spoil 选其一"_s);
    if (parser.isSet(reasonOption) && !parser.isSet(spoilOption))
        return usageError(u"--reason 只用于 --spoil"_s);
    if (parser.isSet(holderOption) && !parser.isSet(addPaperBookOption))
        return usageError(u"--holder 只用于 --add-paper-book"_s);
    if (parser.isSet(seriesOption) && !parser.isSet(addPaperBookOption)
        && !parser.isSet(returnPaperBookOption))
        return usageError(u"--series 只用于 --add-paper-book 和 --return-paper-book"_s);
    for (const QCommandLineOption *option : {&prefixOption, &digitsOption, &yearlyOption}) {
        if (parser.isSet(*option) && !parser.isSet(addSeriesOption))
            return usageError(u"--%1 只用于 --add-series"_s.arg(option->names().constFirst()));
    }
    if (parser.isSet(addPaperBookOption)) {
        if (printTarget.isEmpty())
            return usageError(u"--add-paper-book 的起始单号之后需要终止单号"_s);
        return addPaperBook(parser.value(addPaperBookOption), printTarget,
                            parser.value(seriesOption), parser.value(holderOption));
    }
    if (parser.isSet(paperBooksOption)) {
        if (!printTarget.isEmpty() && !printTarget.endsWith(u".pdf"_s, Qt::CaseInsensitive))
            return usageError(u"只能写到 .pdf 文件：%1"_s.arg(printTarget));
        return listPaperBooks(printTarget);
    }
    if (parser.isSet(returnPaperBookOption))
        return returnPaperBook(parser.value(returnPaperBookOption), parser.value(seriesOption));
    if (parser.isSet(spoilOption)) {
        if (parser.value(reasonOption).trimmed().isEmpty())
            return usageError(u"--spoil 需要 --reason（卡纸、打错等）"_s);
        return spoilForm(parser.value(spoilOption), parser.value(reasonOption));
    }
    if (parser.isSet(addSeriesOption)) {
        ReceiptSeries series;
        series.name = parser.value(addSeriesOption);
        series.prefix = parser.value(prefixOption);
        series.yearly = parser.isSet(yearlyOption);
        if (parser.isSet(digitsOption)) {
            bool ok = false;
            series.numLong = parser.value(digitsOption).toLongLong(&ok);
            if (!ok)
                return usageError(u"--digits 需要 1 到 12 之间的整数"_s);
        }
        return addSeries(series);
    }
    if (parser.isSet(headOption) && !parser.isSet(verifyOption))
        return usageError(u"--head 只用于 --verify"_s);
    if (parser.isSet(yesOption) && !parser.isSet(restoreOption))
        return usageError(u"--yes 只用于 --restore"_s);
    for (const QCommandLineOption *option : {&dryRunOption, &renumberOption, &againOption}) {
        if (parser.isSet(*option) && !parser.isSet(importOption))
            return usageError(u"--%1 只用于 --import"_s.arg(option->names().constFirst()));
    }
    if (parser.isSet(importOption)) {
        const QString source = parser.value(importOption);
        const QString suffix = QFileInfo(source).suffix().toLower();
        if (source.isEmpty())
            return usageError(u"--import 需要一个文件名"_s);
        if (suffix != u"csv"_s && suffix != u"xlsx"_s && suffix != u"db"_s)
            return usageError(u"只能导入 .csv、.xlsx 或 .db 文件：%1"_s.arg(source));
    }
    if (parser.isSet(importOption))
        return importReceipts(parser.value(importOption), parser.isSet(dryRunOption),
                              parser.isSet(renumberOption), parser.isSet(againOption));
    const bool createsSharedBook = parser.isSet(createSharedBookOption);
    if (parser.isSet(deskRoleOption) && !createsSharedBook)
        return usageError(u"--desk-role 只用于 --create-shared-book"_s);
    for (const QCommandLineOption *option : {&fromOption, &toOption, &searchOption}) {
        if (parser.isSet(*option) && !parser.isSet(exportOption)
            && !(option == &fromOption && createsSharedBook))
            return usageError(u"--%1 只用于 --export"_s.arg(option->names().constFirst()));
    }
    const bool prints = parser.isSet(printPdfOption) || parser.isSet(testPageOption);
    for (const QCommandLineOption *option : {&offsetXOption, &offsetYOption}) {
        if (parser.isSet(*option) && !prints)
            return usageError(
                u"--%1 只用于 --print-pdf 和 --test-page"_s.arg(option->names().constFirst()));
    }
    if (parser.isSet(contentOnlyOption) && !parser.isSet(printPdfOption))
        return usageError(u"--content-only 只用于 --print-pdf"_s);
    if (parser.isSet(formNumberOption) && !parser.isSet(printPdfOption))
        return usageError(u"--form-number 只用于 --print-pdf"_s);
    if (parser.isSet(forceUnlockOption) && !parser.isSet(printPdfOption)
        && !parser.isSet(restoreOption))
        return usageError(u"--force-unlock 只用于 --restore 和 --print-pdf"_s);
    if (createsSharedBook) {
        if (parser.isSet(fromOption) && parser.value(fromOption).isEmpty())
            return usageError(u"--from 需要本机账本的文件名"_s);
        if (parser.isSet(deskRoleOption) && parser.value(deskRoleOption).isEmpty())
            return usageError(u"--desk-role 需要数据库角色的名字"_s);
        return createSharedBook(parser.value(createSharedBookOption), parser.value(fromOption),
                                parser.value(deskRoleOption));
    }
    if (prints) {
        PrintRequest request;
        for (const QCommandLineOption *option : {&offsetXOption, &offsetYOption}) {
            if (!parser.isSet(*option))
                continue;
            const std::optional<double> offset = offsetFrom(parser.value(*option));
            if (!offset)
                return usageError(u"--%1 的值“%2”不对：请写 -30 到 30 之间的毫米数，例如 2.5"_s.arg(
                    option->names().constFirst(), parser.value(*option)));
            (option == &offsetXOption ? request.offsetX : request.offsetY) = offset;
        }
        request.contentOnly = parser.isSet(contentOnlyOption);
        request.forceUnlock = parser.isSet(forceUnlockOption);
        if (parser.isSet(formNumberOption)) {
            request.formNumber = parser.value(formNumberOption);
            if (!request.options().leavesNumberToForm())
                return usageError(u"--form-number 只用于纸上已印单号的收据纸：打印设置中选了“纸上已印单号”，"
                                  u"并且只打印内容（--content-only）"_s);
        }
        if (parser.isSet(testPageOption)) {
            request.target = parser.value(testPageOption);
        } else {
            request.target = printTarget;
            for (const QString &number : parser.value(printPdfOption).split(u','))
                request.numbers.append(number.trimmed());
            if (request.numbers.contains(QString()))
                return usageError(u"--print-pdf 需要收据单号，多个单号用逗号分开，例如 "
                                  u"0000001,0000002"_s);
        }
        if (request.target.isEmpty())
            return usageError(parser.isSet(testPageOption)
                                  ? u"--test-page 需要一个 PDF 文件名"_s
                                  : u"--print-pdf 的单号之后需要一个 PDF 文件名"_s);
        if (!request.target.endsWith(u".pdf"_s, Qt::CaseInsensitive))
            return usageError(u"只能打印到 .pdf 文件：%1"_s.arg(request.target));
        return parser.isSet(testPageOption) ? printTestPage(request) : printPdf(request);
    }
    if (parser.isSet(closeDayOption)) {
        if (printTarget.isEmpty())
            return closeDay(Clock::now().date());
        const std::optional<QDate> day = dayFrom(printTarget);
        if (!day)
            return usageError(u"--close-day 的日期“%1”不对：请写 yyyy-MM-dd，例如 2026-12-08"_s.arg(
                printTarget));
        return closeDay(*day);
    }
    if (parser.isSet(dayReportOption)) {
        const std::optional<QDate> day = dayFrom(parser.value(dayReportOption));
        if (!day)
            return usageError(u"--day-report 的日期“%1”不对：请写 yyyy-MM-dd，例如 2026-12-08"_s.arg(
                parser.value(dayReportOption)));
        if (printTarget.isEmpty())
            return usageError(u"--day-report 的日期之后需要一个 PDF 文件名"_s);
        if (!printTarget.endsWith(u".pdf"_s, Qt::CaseInsensitive))
            return usageError(u"只能写到 .pdf 文件：%1"_s.arg(printTarget));
        return dayReport(*day, printTarget);
    }
    if (parser.isSet(checkOption))
        return check();
    if (parser.isSet(verifyOption))
        return verify(parser.value(headOption));
    if (parser.isSet(verifyReceiptOption)) {
        if (parser.value(verifyReceiptOption).trimmed().isEmpty())
            return usageError(u"--verify-receipt 需要收据二维码的内容，例如 "
                              u"\"QUENTA1|No.0000001|2024-05-01|100.00|…\""_s);
        return verifyReceipt(parser.value(verifyReceiptOption));
    }
    if (parser.isSet(exportOption)) {
        ExportRequest request;
        request.target = parser.value(exportOption);
        if (parser.isSet(fromOption))
            request.from = parser.value(fromOption);
        if (parser.isSet(toOption))
            request.to = parser.value(toOption);
        request.search = parser.value(searchOption);
        return exportReceipts(request);
    }
    if (parser.isSet(backupOption))
        return backup(parser.value(backupOption));
    return restore(parser.value(restoreOption), parser.isSet(yesOption),
                   parser.isSet(forceUnlockOption));
}

} // namespace

int CommandLine::run(QCoreApplication &app, int argc, char **argv)
{
    // Standard output carries the result alone; where the book is goes to the messages.
    BookFile::setConsoleLinesToStandardError(true);
    // A closed standard output is refused before anything is done.
    if (outputWasClosed) {
        printMessage(u"标准输出已关闭，无法输出结果，没有执行"_s);
        return Failed;
    }
    const int status = runCommand(app, argc, argv);
    if (resultLost || std::ferror(stdout)) {
        printMessage(u"无法输出结果（标准输出已满或已关闭）"_s);
        return status == Done ? Failed : status;
    }
    return status;
}
