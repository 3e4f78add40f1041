// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "appstore.h"
#include "backupservice.h"
#include "booklock.h"
#include "datetext.h"
#include "money.h"
#include "receiptexport.h"
#include "receiptfilter.h"
#include "sqlitehelper.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// The window's own options, which are no command.
const QStringList &windowOptions()
{
    static const QStringList options = {u"--quit-when-shown"_s};
    return options;
}

void printResult(const QString &text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
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
    if (SQLiteHelper::shared().checkUsable(&error))
        return true;
    printMessage(error);
    return false;
}

int check()
{
    if (!bookIsUsable())
        return CommandLine::Failed;
    const RestoreCheck found = BackupService::checkBook(SQLiteHelper::shared().dbURL());
    if (!found.ok) {
        printResult(found.problem);
        return CommandLine::Failed;
    }
    printResult(u"ok"_s);
    return CommandLine::Done;
}

int backup(const QString &target)
{
    if (!bookIsUsable())
        return CommandLine::Failed;
    QString error;
    if (!BackupService::backup(target, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(QFileInfo(target).absoluteFilePath());
    return CommandLine::Done;
}

int restore(const QString &source, bool confirmed)
{
    if (!confirmed)
        return usageError(u"恢复数据库会替换现有的数据库：请加上 --yes 确认"_s);
    // The window and every command that writes hold the book's lock.
    BookLock lock(SQLiteHelper::shared().dbURL());
    if (!lock.tryLock()) {
        printMessage(lock.error());
        return CommandLine::BookInUse;
    }
    if (!bookIsUsable())
        return CommandLine::Failed;
    QString error;
    if (!BackupService::restore(source, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    printResult(SQLiteHelper::shared().dbURL());
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
    if (!bookIsUsable())
        return CommandLine::Failed;

    // Read only, so no lock: an open window goes on meanwhile. The same load and search
    // as the lists, in their order (highest number first).
    AppStore &store = AppStore::shared();
    store.setBeginDate(begin);
    store.setEndDate(end);
    store.loadReceipts();
    if (!store.loadError().isEmpty()) {
        printMessage(store.loadError());
        return CommandLine::Failed;
    }
    const QList<int> rows = ReceiptFilter(request.search).rowsOf(store.receipts());
    ReceiptTotals totals;
    QString error;
    if (!ReceiptExport::write(request.target, store.receipts(), rows, &totals, &error)) {
        printMessage(error);
        return CommandLine::Failed;
    }
    if (totals.voided > 0)
        printMessage(u"另有 %1 张已作废，不计入合计"_s.arg(totals.voided));
    if (totals.unreadable > 0)
        printMessage(u"%1 张的金额无法识别，不计入合计"_s.arg(totals.unreadable));
    printResult(u"%1 张 合计 %2"_s.arg(totals.count).arg(Money::format(totals.fen)));
    return CommandLine::Done;
}

} // namespace

bool CommandLine::isCommand(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == u"-h"_s || argument == u"-v"_s || argument == u"-?"_s)
            return true;
        // Any other single-dash option is Qt's (-platform, -style …) and the window's, with
        // the value that some of them take.
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
                                                u"-title"_s,
                                                u"-widgetcount"_s};
        if (argument.startsWith(u'-') && !argument.startsWith(u"--"_s)) {
            if (takingValue.contains(argument))
                ++i;
            continue;
        }
        if (!windowOptions().contains(argument))
            return true;
    }
    return false;
}

int CommandLine::run(QCoreApplication &app)
{
    // Standard output carries the result alone; where the book is goes to the messages.
    SQLiteHelper::setConsoleLinesToStandardError(true);

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
    const QCommandLineOption exportOption(
        u"export"_s,
        u"把收据导出到 FILE（.csv 或 .xlsx），输出张数与合计。"
        u"Export the receipts to FILE (.csv or .xlsx); prints the count and the total."_s,
        u"FILE"_s);
    const QCommandLineOption fromOption(
        u"from"_s, u"只导出这天（yyyy-MM-dd）及以后的收据。Export from this day on."_s,
        u"yyyy-MM-dd"_s);
    const QCommandLineOption toOption(
        u"to"_s, u"只导出这天（yyyy-MM-dd）及以前的收据。Export up to this day."_s,
        u"yyyy-MM-dd"_s);
    const QCommandLineOption searchOption(
        u"search"_s,
        u"只导出与 TEXT 相符的收据，同列表的搜索。Export the receipts the list's search finds."_s,
        u"TEXT"_s);
    parser.addOptions({backupOption, restoreOption, yesOption, checkOption, exportOption,
                       fromOption, toOption, searchOption});
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
    if (!parser.positionalArguments().isEmpty())
        return usageError(u"不认识的参数：%1"_s.arg(parser.positionalArguments().join(u' ')));

    const int commands = int(parser.isSet(backupOption)) + int(parser.isSet(restoreOption))
        + int(parser.isSet(checkOption)) + int(parser.isSet(exportOption));
    if (commands == 0)
        return usageError(u"没有指定要做什么"_s);
    if (commands > 1)
        return usageError(u"一次只能做一件事：--backup、--restore、--check、--export 选其一"_s);
    if (parser.isSet(yesOption) && !parser.isSet(restoreOption))
        return usageError(u"--yes 只用于 --restore"_s);
    for (const QCommandLineOption *option : {&fromOption, &toOption, &searchOption}) {
        if (parser.isSet(*option) && !parser.isSet(exportOption))
            return usageError(u"--%1 只用于 --export"_s.arg(option->names().constFirst()));
    }
    if (parser.isSet(checkOption))
        return check();
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
    return restore(parser.value(restoreOption), parser.isSet(yesOption));
}
