// SPDX-License-Identifier: GPL-3.0-or-later
#include "booklock.h"
#include "exportfile.h"
#include "outputfile.h"
#include "receiptbook.h"
#include "receiptexport.h"
#include "receiptstream.h"
#include "statisticsexport.h"
#include "testsupport.h"
#include "workbookcheck.h"

#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

#include <xlsxwriter.h>
#include <zip.h>

#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Three receipts written and one left out: text that needs quoting, a voided one and
// an amount that is no number; written in the order of rows.
const QList<Receipt> &sample()
{
    static const QList<Receipt> receipts = [] {
        Receipt quoted = listedReceipt(u"0000003"_s, u"星河, \"文化\""_s, 12800.5);
        quoted.reason2 = u"第一行\r\n第二行"_s;
        quoted.remark = u"只换行\n"_s;
        Receipt voided = listedReceipt(u"0000002"_s, u"乙"_s, 100);
        voided.voidReason = u"开错了，重开"_s;
        Receipt unreadable = listedReceipt(u"0000001"_s, u"丙"_s, 0);
        unreadable.unreadableTotal = u"12,3元"_s;
        return QList<Receipt> {listedReceipt(u"0000004"_s, u"不写"_s, 0.3), quoted, voided,
                               unreadable};
    }();
    return receipts;
}
const QList<int> sampleRows = {1, 2, 3};

// The records of a CSV file with its byte-order mark, read strictly by RFC 4180: nothing
// when a record does not end with CRLF, or a quote stands inside an unquoted field.
std::optional<QList<QStringList>> readCsv(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(3) != "\xEF\xBB\xBF")
        return std::nullopt;
    const QString text = QString::fromUtf8(file.readAll());
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false, closed = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != u'"')
                field += c;
            else if (text.mid(i + 1, 1) == u"\"")
                field += text.at(++i);
            else
                quoted = false;
        } else if (c == u'"') {
            if (!field.isEmpty() || closed)
                return std::nullopt;
            quoted = closed = true;
        } else if (c == u',' || (c == u'\r' && text.mid(i + 1, 1) == u"\n")) {
            record.append(std::exchange(field, {}));
            closed = false;
            if (c == u'\r')
                records.append(std::exchange(record, {})), ++i;
        } else if (c == u'\r' || c == u'\n' || closed) {
            return std::nullopt; // a bare line break, or text after a closing quote
        } else {
            field += c;
        }
    }
    // The last record ends with CRLF too.
    return quoted || !record.isEmpty() || !field.isEmpty() ? std::nullopt : std::optional(records);
}

struct Cell
{
    QString type, value, formula;
    bool bold = false;
    QString color, numberFormat;
};

// The cells of the sheet by reference ("D2"), with what their style shows.
QHash<QString, Cell> readSheet(const QString &path, QString *frozen = nullptr)
{
    const auto unzip = [&](const QString &member) {
        QProcess process;
        process.start(u"unzip"_s, {u"-p"_s, path, member});
        process.waitForFinished(30000);
        return process.readAllStandardOutput();
    };
    QHash<int, QString> numberFormats;
    QList<Cell> fonts, styles;
    bool cellStyles = false;
    for (QXmlStreamReader xml(unzip(u"xl/styles.xml"_s)); !xml.atEnd();) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        const auto number = [&](const QString &name) {
            return a.value(name).toInt();
        };
        cellStyles = cellStyles || xml.name() == u"cellXfs";
        if (xml.name() == u"numFmt")
            numberFormats[number(u"numFmtId"_s)] = a.value(u"formatCode"_s).toString();
        else if (xml.name() == u"font")
            fonts.append(Cell());
        else if (xml.name() == u"b")
            fonts.last().bold = true;
        else if (xml.name() == u"color")
            fonts.last().color = a.value(u"rgb"_s).toString();
        else if (xml.name() == u"xf" && cellStyles)
            styles.append(fonts.value(number(u"fontId"_s)));
        if (xml.name() == u"xf" && cellStyles)
            styles.last().numberFormat = numberFormats.value(number(u"numFmtId"_s));
    }
    QHash<QString, Cell> cells;
    QString at;
    for (QXmlStreamReader xml(unzip(u"xl/worksheets/sheet1.xml"_s)); !xml.atEnd();) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        if (xml.name() == u"pane" && frozen)
            *frozen = a.value(u"state"_s).toString() + u' ' + a.value(u"ySplit"_s).toString();
        if (xml.name() == u"c") {
            at = a.value(u"r"_s).toString();
            cells[at] = styles.value(a.value(u"s"_s).toInt());
            cells[at].type = a.value(u"t"_s).toString();
        }
        if (xml.name() == u"v" || xml.name() == u"t")
            cells[at].value = xml.readElementText();
        if (xml.name() == u"f")
            cells[at].formula = xml.readElementText();
    }
    return cells;
}

bool canUnzip()
{
    return !QStandardPaths::findExecutable(u"unzip"_s).isEmpty();
}

// A constant-memory workbook of rowCount rows of text and numbers, written with the library
// alone.
bool libraryWorkbook(const QString &path, int rowCount)
{
    lxw_workbook_options options {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, "收据");
    for (int row = 0; row < rowCount; ++row) {
        worksheet_write_string(sheet, lxw_row_t(row), 0,
                               QByteArray::number(row * 7919 % 100003).prepend("交款单位 ").constData(),
                               nullptr);
        worksheet_write_number(sheet, lxw_row_t(row), 1, row / 100.0, nullptr);
        worksheet_write_string(sheet, lxw_row_t(row), 2, "物业管理费 <第 1 期> & 押金 </row>", nullptr);
    }
    return workbook_close(workbook) == LXW_NO_ERROR;
}

// The archive at path with its part `member` given `text` instead, written with libzip.
bool replaceMember(const QString &path, const char *member, const QByteArray &text)
{
    int code = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), 0, &code);
    if (!archive)
        return false;
    const zip_int64_t index = zip_name_locate(archive, member, 0);
    zip_source_t *source = zip_source_buffer(archive, text.constData(), zip_uint64_t(text.size()), 0);
    if (index < 0 || !source || zip_file_replace(archive, zip_uint64_t(index), source, 0) != 0) {
        zip_source_free(source);
        zip_discard(archive);
        return false;
    }
    return zip_close(archive) == 0;
}

QByteArray member(const QString &path, const QString &name)
{
    QProcess unzip;
    unzip.start(u"unzip"_s, {u"-p"_s, path, name});
    unzip.waitForFinished(30000);
    return unzip.readAllStandardOutput();
}

} // namespace

// The receipt lists as CSV and Excel files, read back as a spreadsheet program reads them.
class tst_Export : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void csvReadsBack();
    void xlsxReadsBack();
    void formulasStayText_data();
    void formulasStayText();
    void failureLeavesNothing_data();
    void failureLeavesNothing();
    void writesNothingButARegularFile_data();
    void writesNothingButARegularFile();
    void cutCellsAreTold();
    void stopsLeaveNothing_data();
    void stopsLeaveNothing();
    void commandLine_data();
    void commandLine();
    void largeExportStreams();
    void finishedWorkbookIsReadBackWhole();
    void fullScratchFolderFailsTheExport();
    void readAheadGivesTheListsRows_data();
    void readAheadGivesTheListsRows();
    void statistics();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Export::csvReadsBack()
{
    ReceiptTotals written;
    QString error;
    QVERIFY2(ReceiptExport::write(path(u"a.csv"_s), sample(), sampleRows, &written, &error),
             qPrintable(error));
    QCOMPARE(written.count, 2); // the voided one is left out, the unreadable one counts
    QCOMPARE(written.fen, 1280050);
    const auto records = readCsv(path(u"a.csv"_s));
    QVERIFY(records && records->size() == 5);
    QCOMPARE(records->at(0), ReceiptExport::columnTitles());
    QCOMPARE(records->at(1).join(u'|'),
             u"0000003|2024-05-01|星河, \"文化\"|12800.50|房租|"
             u"第一行\r\n第二行|只换行\n|||||2024-05-01 10:20:30||"_s);
    QCOMPARE(records->at(2).mid(12), QStringList({u"已作废"_s, u"开错了，重开"_s}));
    QCOMPARE(records->at(3).at(3) + records->at(3).at(12), u"12,3元金额无法识别"_s);
    QCOMPARE(records->at(4).join(u'|'), u"合计|||12800.50||||||||||"_s);

    // An empty list: the titles and a total of nothing.
    QVERIFY(ReceiptExport::write(path(u"a.csv"_s), sample(), {}, &written));
    QVERIFY(written.count == 0 && written.fen == 0);
    QCOMPARE(readCsv(path(u"a.csv"_s))->at(1).join(u'|'), u"合计|||0.00||||||||||"_s);
}

void tst_Export::xlsxReadsBack()
{
    if (!canUnzip())
        QSKIP("unzip is not installed (scripts/setup.sh installs it)");
    // A file already there is replaced whole.
    QVERIFY(writeFile(path(u"a.xlsx"_s), "old"));
    QVERIFY(ReceiptExport::write(path(u"a.xlsx"_s), sample(), sampleRows));
    QString frozen;
    QHash<QString, Cell> cells = readSheet(path(u"a.xlsx"_s), &frozen);
    QCOMPARE(frozen, u"frozen 1"_s);
    QVERIFY(cells[u"A1"_s].bold && cells[u"N1"_s].value == u"作废原因"_s);
    QCOMPARE(cells[u"A2"_s].value, u"0000003"_s); // a number's text stays text
    // The CR in Excel's coding of the characters XML would not keep.
    QCOMPARE(cells[u"F2"_s].value, u"第一行_x000D_\n第二行"_s);
    QVERIFY(cells[u"D2"_s].type.isEmpty() && cells[u"D2"_s].value == u"12800.5"_s);
    QCOMPARE(cells[u"D2"_s].numberFormat, u"¥#,##0.00"_s);
    QCOMPARE(cells[u"B2"_s].value, u"45413"_s); // 2024-05-01 as Excel counts days
    QCOMPARE(cells[u"B2"_s].numberFormat, u"yyyy-mm-dd"_s);
    QVERIFY(cells[u"L2"_s].value.startsWith(u"45413.43"_s)); // 10:20:30
    QVERIFY(cells[u"A2"_s].color.isEmpty());
    for (const QString &at : {u"A3"_s, u"B3"_s, u"D3"_s, u"M3"_s})
        QCOMPARE(cells[at].color, u"FF808080"_s); // the voided row is grey
    QVERIFY(cells[u"D4"_s].type == u"inlineStr"_s && cells[u"M4"_s].value == u"金额无法识别"_s);
    QCOMPARE(cells[u"D5"_s].formula, u"SUMIF(M2:M4,\"<>已作废\",D2:D4)"_s);
    QCOMPARE(cells[u"D5"_s].value, u"12800.5"_s);
    QVERIFY(cells[u"D5"_s].bold && cells[u"D5"_s].numberFormat == u"¥#,##0.00"_s);

    // An empty list: a formula over no rows would name its own cell, so a plain 0.
    QVERIFY(ReceiptExport::write(path(u"a.XLSX"_s), sample(), {}));
    cells = readSheet(path(u"a.XLSX"_s));
    QCOMPARE(cells[u"A2"_s].value + cells[u"D2"_s].value + cells[u"D2"_s].formula, u"合计0"_s);
}

void tst_Export::formulasStayText_data()
{
    QTest::addColumn<QString>("payer");
    QTest::addColumn<QString>("inCsv");
    QTest::addColumn<QString>("inXlsx");
    QTest::newRow("=") << u"=1+1"_s << u"'=1+1"_s << u"=1+1"_s;
    QTest::newRow("+") << u"+1"_s << u"'+1"_s << u"+1"_s;
    QTest::newRow("-") << u"-1"_s << u"'-1"_s << u"-1"_s;
    QTest::newRow("@") << u"@x"_s << u"'@x"_s << u"@x"_s;
    QTest::newRow("inside") << u"a=1"_s << u"a=1"_s << u"a=1"_s;
    // Excel's own coding of characters, typed by chance, shows as typed.
    QTest::newRow("coded") << u"_x0041_"_s << u"_x0041_"_s << u"_x005F_x0041_"_s;
}

void tst_Export::formulasStayText()
{
    QFETCH(QString, payer);
    QFETCH(QString, inCsv);
    QFETCH(QString, inXlsx);
    Receipt r = listedReceipt(u"1"_s, payer, -1); // a negative amount stays a number
    r.remark = payer;
    QVERIFY(ReceiptExport::write(path(u"a.csv"_s), {r}, {0}));
    const auto records = readCsv(path(u"a.csv"_s));
    QVERIFY(records);
    QCOMPARE(records->at(1).mid(2, 5), QStringList({inCsv, u"-1.00"_s, u"房租"_s, {}, inCsv}));
    if (!canUnzip())
        QSKIP("unzip is not installed");
    QVERIFY(ReceiptExport::write(path(u"a.xlsx"_s), {r}, {0}));
    QHash<QString, Cell> cells = readSheet(path(u"a.xlsx"_s));
    QVERIFY(cells[u"C2"_s].type == u"inlineStr"_s && cells[u"C2"_s].value == inXlsx);
    QVERIFY(cells[u"D2"_s].type.isEmpty() && cells[u"D2"_s].value == u"-1"_s);
}

void tst_Export::failureLeavesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("csv in a missing folder") << u"missing/a.csv"_s;
    QTest::newRow("xlsx in a missing folder") << u"missing/a.xlsx"_s;
    // Written in full, then the rename fails: the temporary file must go too.
    QTest::newRow("csv over a folder") << u"folder.csv"_s;
    QTest::newRow("xlsx over a folder") << u"folder.xlsx"_s;
    QTest::newRow("unknown extension") << u"a.txt"_s;
    QTest::newRow("no extension") << u"a"_s;
}

void tst_Export::failureLeavesNothing()
{
    QFETCH(QString, name);
    const QDir dir(m_dir->path());
    QVERIFY(dir.mkpath(u"folder.csv"_s) && dir.mkpath(u"folder.xlsx"_s));
    const QStringList before = dir.entryList(QDir::AllEntries | QDir::Hidden);
    QString error;
    QVERIFY(!ReceiptExport::write(path(name), sample(), sampleRows, nullptr, &error));
    QVERIFY2(error.contains(name.section(u'/', -1)), qPrintable(error));
    QCOMPARE(dir.entryList(QDir::AllEntries | QDir::Hidden), before);
}

// What a path names is never written through nor replaced when it is not a regular file,
// and the book is never written over, however it is reached: the list's export, the
// statistics' and the command line's all go through one check.
void tst_Export::writesNothingButARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("told"); // a part of the message
    QTest::newRow("a link to the book") << u"link to book"_s << u"数据库"_s;
    QTest::newRow("a link to another file") << u"link to file"_s << u"链接"_s;
    QTest::newRow("a hard link to the book") << u"hard link to book"_s << u"数据库"_s;
    QTest::newRow("a FIFO") << u"fifo"_s << u"不是普通文件"_s;
}

void tst_Export::writesNothingButARegularFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, told);
    TestEnvironment env;
    const QString book = env.createDatabase();
    QVERIFY(writeFile(path(u"notes.txt"_s), "notes\n"));
    const QByteArray bookBefore = fileHash(book);
    for (const QString &name : {u"a.csv"_s, u"a.xlsx"_s, u"s.csv"_s}) {
        const QString target = path(name);
        const QByteArray where = QFile::encodeName(target);
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(where.constData(), 0600), 0);
        else if (kind == u"hard link to book")
            QCOMPARE(::link(QFile::encodeName(book).constData(), where.constData()), 0);
        else
            QVERIFY(QFile::link(kind == u"link to book" ? book : path(u"notes.txt"_s), target));
        struct stat before = {};
        QCOMPARE(::lstat(where.constData(), &before), 0);
        QString error;
        const bool written = name.startsWith(u's')
            ? StatisticsExport::write(target, u"月份"_s, {}, &error)
            : ReceiptExport::write(target, sample(), sampleRows, nullptr, &error);
        QVERIFY(!written);
        QVERIFY2(error.contains(told), qPrintable(error));
        struct stat after = {};
        QCOMPARE(::lstat(where.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
    }
    QCOMPARE(fileHash(book), bookBefore);
    QCOMPARE(fileBytes(path(u"notes.txt"_s)), QByteArray("notes\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 4);
    // Nor a device: /dev/null would take the file and keep nothing of it.
    QVERIFY(OutputFile::problem(u"/dev/null"_s).contains(u"不是普通文件"_s));
}

// A cell holds at most 32,767 characters and no NUL: a text cut for either is told by its
// cell, never cut without a word.
void tst_Export::cutCellsAreTold()
{
    Receipt r = listedReceipt(u"1"_s, QString(u"甲"_s + QChar(0) + u"乙"_s), 1);
    r.remark = QString(ExportFile::cellTextLimit + 1, u'长');
    const Receipt whole = listedReceipt(u"2"_s, u"丙"_s, 1);
    QStringList cut;
    QVERIFY(ReceiptExport::write(path(u"a.xlsx"_s), {whole, r}, {0, 1}, nullptr, nullptr, &cut));
    QCOMPARE(cut, QStringList({u"C3（交款单位）"_s, u"G3（备注信息）"_s}));
    QVERIFY(ReceiptExport::cutCellsNotice(cut).contains(u"C3（交款单位）、G3（备注信息）"_s));
    // CSV holds every text whole.
    QVERIFY(ReceiptExport::write(path(u"a.csv"_s), {whole, r}, {0, 1}, nullptr, nullptr, &cut));
    QVERIFY(cut.isEmpty());
    // The statistics' groups are named by such texts too.
    const QList<ReceiptStatistics::Row> groups = {{u"乙"_s, 1, 100, 0}, {r.remark, 1, 100, 0}};
    QVERIFY(StatisticsExport::write(path(u"s.xlsx"_s), u"交款单位"_s, groups, nullptr, &cut));
    QCOMPARE(cut, QStringList(u"A3（交款单位）"_s));
}

// An export stopped from its progress, or whose source fails half way, leaves the file
// that was there as it was and nothing beside it; a failed read is told in its own words.
void tst_Export::stopsLeaveNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stopped"); // else the source fails
    QTest::newRow("csv stopped") << u"a.csv"_s << true;
    QTest::newRow("xlsx stopped") << u"a.xlsx"_s << true;
    QTest::newRow("csv, read fails") << u"a.csv"_s << false;
    QTest::newRow("xlsx, read fails") << u"a.xlsx"_s << false;
}

void tst_Export::stopsLeaveNothing()
{
    QFETCH(QString, name);
    QFETCH(bool, stopped);
    QVERIFY(writeFile(path(name), "old"));
    const Receipt receipt = listedReceipt(u"1"_s, u"甲"_s, 1);
    int given = 0;
    const ReceiptExport::Source source = [&](QString *error) -> const Receipt * {
        if (++given <= 5000)
            return &receipt;
        *error = u"读取收据失败：磁盘出错"_s;
        return nullptr;
    };
    QList<qint64> told;
    const ReceiptExport::Progress progress = [&](qint64 written) {
        told.append(written);
        return !stopped;
    };
    QString error;
    QVERIFY(!ReceiptExport::write(path(name), source, nullptr, &error, nullptr, progress));
    QCOMPARE(error, stopped ? u"导出已取消"_s : u"读取收据失败：磁盘出错"_s);
    QCOMPARE(told.first(), 2000);
    QCOMPARE(fileBytes(path(name)), QByteArray("old"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList(name));
}

void tst_Export::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("numbers"); // of the CSV's rows, in order

    const auto row = [](const char *name, const QString &arguments, int status,
                        const QString &out = {}, const QString &numbers = {}) {
        QTest::newRow(name) << arguments.split(u' ') << status << out << numbers;
    };
    row("everything", u"--export <dir>/a.csv"_s, 0, u"3 张 合计 13,800.75，另有作废 1 张\n"_s,
        u"4 3 2 1"_s);
    row("a range", u"--export <dir>/a.csv --from 2024-05-02 --to 2024-05-03"_s, 0,
        u"1 张 合计 0.25，另有作废 1 张\n"_s, u"3 2"_s);
    row("search", u"--export <dir>/a.csv --search 甲"_s, 0,
        u"1 张 合计 12,800.50，另有作废 1 张\n"_s, u"3 1"_s);
    row("xlsx", u"--export <dir>/a.xlsx --to 2023-12-31"_s, 0, u"1 张 合计 1,000.00\n"_s);
    row("bad date", u"--export <dir>/a.csv --from 2024-5-1"_s, 2);
    row("no such day", u"--export <dir>/a.csv --to 2024-02-30"_s, 2);
    row("to before from", u"--export <dir>/a.csv --from 2024-05-02 --to 2024-05-01"_s, 2);
    row("unknown extension", u"--export <dir>/a.ods"_s, 2);
    row("missing FILE", u"--export"_s, 2);
    row("empty FILE", u"--export "_s, 2);
    row("--search without --export", u"--search 甲"_s, 2);
    row("unwritable", u"--export <dir>/folder.xlsx"_s, 1);
}

void tst_Export::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, numbers);
    TestEnvironment env;
    env.createDatabase();
    const QList<std::tuple<QString, QString, double>> stored = {{u"2024-05-01"_s, u"甲"_s, 12800.5},
                                                                {u"2024-05-02"_s, u"乙"_s, 0.25},
                                                                {u"2024-05-03"_s, u"甲"_s, 99},
                                                                {u"2023-12-31"_s, u"丙"_s, 1000}};
    for (int n = 1; n <= 4; ++n) {
        const auto &[day, payer, total] = stored.at(n - 1);
        QVERIFY(env.storeReceipt(u"R%1"_s.arg(n), u"000000%1"_s.arg(n), day + u" 00:00:00"_s, payer,
                                 total));
    }
    QVERIFY(env.execRaw(u"insert into tb_void values ('R3', '开错了', '2024-05-03 12:00:00')"_s));
    QVERIFY(QDir(m_dir->path()).mkpath(u"folder.xlsx"_s));
    for (QString &argument : arguments)
        argument.replace(u"<dir>"_s, m_dir->path());

    // Exporting only reads: it goes on while a window holds the book.
    BookLock window(env.databasePath());
    QVERIFY(window.tryLock());
    const Run run = runQuenta(arguments);
    QVERIFY2(run.status == status, qPrintable(run.err));
    QCOMPARE(run.out, out);
    if (status != 0) {
        QVERIFY(run.err.contains(u"quenta: "_s));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    } else if (!numbers.isEmpty()) {
        const auto records = readCsv(m_dir->filePath(u"a.csv"_s));
        QVERIFY(records && records->size() == numbers.split(u' ').size() + 2);
        for (qsizetype i = 1; i + 1 < records->size(); ++i)
            QCOMPARE(records->at(i).first(), u"000000"_s + numbers.split(u' ').at(i - 1));
    }
}

// A large export is written as it is read: the program's memory stays far below what
// holding the receipts would take (about 800 bytes each, 160 MB here).
void tst_Export::largeExportStreams()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's own memory hides the program's");
#endif
    constexpr int count = 200000;
    TestEnvironment env;
    env.createDatabase();
    QVERIFY(env.execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
        u"insert into tb_receipt select 'id' || i, printf('%07d', i), "
        u"strftime('%Y-%m-%d %H:%M:%S', '2015-01-01', '+' || (i * 1500) || ' seconds'), "
        u"'交款单位' || (i % 2000), '物业费', '第' || (i % 12 + 1) || '月', '备注 ' || i, "
        u"'现金', '张三', '李四', '王五', 'admin', "
        u"strftime('%Y-%m-%d %H:%M:%S', '2015-01-01', '+' || (i * 1500 + 60) || ' seconds'), "
        u"printf('%.2f', i % 1000 + 0.5), '壹元', '0' from n"_s.arg(count)));
    for (const QString &name : {u"a.csv"_s, u"a.xlsx"_s}) {
        const Run run = runQuenta({u"--export"_s, path(name)});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(run.out.startsWith(u"%1 张"_s.arg(count)), qPrintable(run.out));
    }
    QCOMPARE(readCsv(path(u"a.csv"_s))->size(), count + 2);
    rusage usage {};
    QCOMPARE(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    const long peakMegabytes = usage.ru_maxrss / 1024;
    QVERIFY2(peakMegabytes < 100, qPrintable(u"%1 MB"_s.arg(peakMegabytes)));
}

// A finished workbook is read back before it counts as written: one whose sheet lost rows
// (cut short, or a row missing in the middle), a part left empty or bytes changed in the
// archive is refused; a whole one, rows whose text holds "</row>" included, is taken.
void tst_Export::finishedWorkbookIsReadBackWhole()
{
    if (!canUnzip())
        QSKIP("unzip is not installed (scripts/setup.sh installs it)");
    const char *sheet = "xl/worksheets/sheet1.xml";
    const QString whole = path(u"whole.xlsx"_s);
    QVERIFY(libraryWorkbook(whole, 3000));
    QString error;
    QVERIFY2(WorkbookCheck::sheetHoldsRows(whole, sheet, 3000, &error), qPrintable(error));
    QVERIFY(!WorkbookCheck::sheetHoldsRows(whole, sheet, 2999, &error));
    QVERIFY2(error.contains(u"3000"_s), qPrintable(error));
    QVERIFY(!WorkbookCheck::sheetHoldsRows(whole, "xl/worksheets/sheet2.xml", 3000, &error));
    QVERIFY(libraryWorkbook(path(u"empty.xlsx"_s), 0));
    QVERIFY2(WorkbookCheck::sheetHoldsRows(path(u"empty.xlsx"_s), sheet, 0, &error),
             qPrintable(error));

    const QByteArray text = member(whole, QString::fromLatin1(sheet));
    QVERIFY(text.endsWith("</worksheet>") || text.trimmed().endsWith("</worksheet>"));
    const qsizetype secondRow = text.indexOf("<row r=\"2\"");
    const qsizetype thirdRow = text.indexOf("<row r=\"3\"");
    QVERIFY(secondRow > 0 && thirdRow > secondRow);
    const QList<std::pair<const char *, QByteArray>> broken = {
        {sheet, text.left(text.size() / 2)},
        {sheet, text.left(secondRow) + text.mid(thirdRow)},
        {"xl/styles.xml", {}},
    };
    for (const auto &[part, changed] : broken) {
        const QString copy = path(u"broken.xlsx"_s);
        QFile::remove(copy);
        QVERIFY(QFile::copy(whole, copy));
        QVERIFY(replaceMember(copy, part, changed));
        QVERIFY2(!WorkbookCheck::sheetHoldsRows(copy, sheet, 3000, &error), part);
    }
    // A byte of the compressed rows changed: its checksum no longer matches.
    QFile file(whole);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x5a);
    QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
    file.close();
    QVERIFY(!WorkbookCheck::sheetHoldsRows(whole, sheet, 3000, &error));
}

// The library keeps the rows of a long sheet in a scratch file in the system's temporary
// folder and archives whatever that file took: with that folder full the export fails,
// says so and leaves nothing, though the workbook's own disk has room.
void tst_Export::fullScratchFolderFailsTheExport()
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(u"unshare"_s).isEmpty()
        || QProcess::execute(u"unshare"_s, {u"--mount"_s, u"mount"_s, u"-t"_s, u"tmpfs"_s,
                                            u"tmpfs"_s, u"/tmp"_s})
            != 0)
        QSKIP("a full temporary folder cannot be made here (not root, or no mount namespace)");
    // The book and the workbook lie outside the temporary folder, which the export sees
    // as a small empty disk of its own.
    QTemporaryDir outside(QCoreApplication::applicationDirPath() + u"/export-XXXXXX"_s);
    QVERIFY(outside.isValid());
    TestEnvironment env;
    env.createDatabase();
    QVERIFY(env.execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, createDate, "
        u"isDeleted) select 'id' || i, printf('%07d', i), '2026-01-01 00:00:00', "
        u"'交款单位' || i, '物业费', printf('%.2f', i + 0.5), '2026-01-01 00:00:00', '0' from n"_s));
    const QString book = outside.filePath(u"book.db"_s);
    QVERIFY(QFile::copy(env.databasePath(), book));
    const QString workbook = outside.filePath(u"a.xlsx"_s);
    const QStringList smallTemporaryFolder = {
        u"unshare"_s, u"--mount"_s, u"sh"_s, u"-c"_s,
        u"mount -t tmpfs -o size=256k tmpfs /tmp && exec \"$0\" \"$@\""_s};
    const Run run = runQuenta({u"--book"_s, book, u"--export"_s, workbook}, smallTemporaryFolder);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(u"可能已满"_s), qPrintable(run.err));
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({u"book.db"_s}));
    // With room, the same export is whole.
    const Run roomy = runQuenta({u"--book"_s, book, u"--export"_s, workbook});
    QVERIFY2(roomy.status == 0, qPrintable(roomy.err));
    QString error;
    QVERIFY2(WorkbookCheck::sheetHoldsRows(workbook, "xl/worksheets/sheet1.xml", 20002, &error),
             qPrintable(error));
}

// What an export reads, on a thread and a connection of its own and a few batches ahead,
// is what the lists read, in their order: over the whole book (read along the number
// index) and over a part of it (found by date, then sorted), searched or not, with a
// row that cannot be read left out and counted.
void tst_Export::readAheadGivesTheListsRows_data()
{
    QTest::addColumn<QString>("begin");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("search");
    const QString first = u"0000-01-01 00:00:00"_s, last = u"9999-12-31 23:59:59"_s;
    QTest::newRow("whole book") << first << last << QString();
    QTest::newRow("exactly its days")
        << u"2024-01-01 00:00:00"_s << u"2024-04-29 00:00:00"_s << QString();
    QTest::newRow("a part") << u"2024-02-01 00:00:00"_s << u"2024-03-31 23:59:59"_s << QString();
    QTest::newRow("searched") << first << last << u"乙"_s;
}

void tst_Export::readAheadGivesTheListsRows()
{
    QFETCH(QString, begin);
    QFETCH(QString, end);
    QFETCH(QString, search);
    TestEnvironment env;
    env.createDatabase();
    // More receipts than the reading runs ahead, their numbers in no order of their days.
    QVERIFY(env.execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 1300) "
        u"insert into tb_receipt select 'id' || i, printf('%07d', i * 7919 % 1300 + 1), "
        u"date('2024-01-01', '+' || (i % 120) || ' days') || ' 00:00:00', "
        u"iif(i % 3, '甲', '乙'), '事由', '', '', '现金', '', '', '', '', "
        u"'2024-01-01 10:00:00', printf('%.2f', i / 4.0), '', '0' from n"_s));
    QVERIFY(env.execRaw(u"update tb_receipt set receiptDate = '2024-02-30 00:00:00' "
                        u"where id = 'id7'"_s));
    QVERIFY(env.execRaw(u"insert into tb_void values ('id8', '重开', '2024-05-01 12:00:00')"_s));

    ReceiptBook::RangeRead listed;
    QString error;
    QVERIFY2(ReceiptBook::shared().readRange(begin, end, &listed, &error), qPrintable(error));
    const ReceiptFilter filter(search);
    QList<Receipt> expected;
    for (const int row : filter.rowsOf(listed.receipts))
        expected.append(listed.receipts.at(row));
    QVERIFY(expected.size() > 300);

    ReceiptStream stream(begin, end, filter, ReceiptStream::Connection::Own);
    ReceiptReadAhead reader(stream);
    QList<Receipt> read;
    while (const Receipt *receipt = reader.next())
        read.append(*receipt);
    QVERIFY2(reader.error().isEmpty(), qPrintable(reader.error()));
    QCOMPARE(read.size(), expected.size());
    QVERIFY(read == expected);
    QCOMPARE(reader.skippedRows(), listed.skipped);
    QCOMPARE(listed.skipped, 1); // the 30th of February

    // Stopped while the reading waits for room: it ends at once.
    ReceiptStream another(begin, end, filter, ReceiptStream::Connection::Own);
    std::optional<ReceiptReadAhead> stopped(std::in_place, another);
    QVERIFY(stopped->next());
    QTest::qWait(50);
    stopped.reset();
}

// The statistics table: the groups in the screen's order, a group without a name, a name
// a spreadsheet would run, and receipts whose amount is unreadable in a column of their own.
void tst_Export::statistics()
{
    const QList<ReceiptStatistics::Row> rows = {
        {u"=HYPERLINK(\"x\")"_s, 2, 1280050, 0},
        {QString(), 1, 10, 1},
        {u"甲"_s, 1, -30, 0},
    };
    QVERIFY(StatisticsExport::write(path(u"s.csv"_s), u"交款单位"_s, rows));
    const auto records = readCsv(path(u"s.csv"_s));
    QVERIFY(records);
    QCOMPARE(*records,
             (QList<QStringList> {
                 {u"交款单位"_s, u"张数"_s, u"合计"_s, u"金额无法识别"_s},
                 {u"'=HYPERLINK(\"x\")"_s, u"2"_s, u"12800.50"_s, u"0"_s},
                 {u"（未填写）"_s, u"1"_s, u"0.10"_s, u"1"_s},
                 {u"甲"_s, u"1"_s, u"-0.30"_s, u"0"_s},
                 {u"合计"_s, u"4"_s, u"12800.30"_s, u"1"_s},
             }));
    // Without unreadable amounts there is no such column; nothing listed, a total of nothing.
    QVERIFY(StatisticsExport::write(path(u"s.csv"_s), u"月份"_s, {}));
    QCOMPARE(
        *readCsv(path(u"s.csv"_s)),
        (QList<QStringList> {{u"月份"_s, u"张数"_s, u"合计"_s}, {u"合计"_s, u"0"_s, u"0.00"_s}}));

    QString error;
    QVERIFY(!StatisticsExport::write(path(u"s.txt"_s), u"月份"_s, rows, &error));
    QVERIFY(error.contains(u".csv 或 .xlsx"_s) && !QFile::exists(path(u"s.txt"_s)));

    if (!canUnzip())
        QSKIP("unzip is not installed (scripts/setup.sh installs it)");
    QVERIFY(StatisticsExport::write(path(u"s.xlsx"_s), u"交款单位"_s, rows));
    QHash<QString, Cell> cells = readSheet(path(u"s.xlsx"_s));
    QVERIFY(cells[u"A1"_s].bold && cells[u"D1"_s].value == u"金额无法识别"_s);
    QCOMPARE(cells[u"A2"_s].value, u"=HYPERLINK(\"x\")"_s); // a text cell, never run
    QCOMPARE(cells[u"C2"_s].numberFormat, u"¥#,##0.00"_s);
    QCOMPARE(cells[u"C4"_s].value, u"-0.3"_s);
    QCOMPARE(cells[u"B5"_s].formula + u' ' + cells[u"B5"_s].value, u"SUM(B2:B4) 4"_s);
    QCOMPARE(cells[u"C5"_s].formula + u' ' + cells[u"C5"_s].value, u"SUM(C2:C4) 12800.3"_s);
}

QTEST_GUILESS_MAIN(tst_Export)
#include "tst_export.moc"
