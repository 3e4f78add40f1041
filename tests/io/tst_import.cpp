// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptbook.h"
#include "receiptexport.h"
#include "receiptimport.h"
#include "receiptnumbering.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QtTest>

#include <unicode/ucnv.h>
#include <xlsxwriter.h>
#include <zip.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray csvHeader = "\xEF\xBB\xBF收据单号,收款日期,交款单位,收款金额,状态,作废原因\r\n";

// Every receipt of the shared book written as the export writes them.
bool exportBook(const QString &path)
{
    QList<Receipt> read;
    if (!receiptsDated(u"0000-01-01"_s, u"9999-12-31 23:59:59"_s, &read))
        return false;
    QList<int> rows(read.size());
    std::iota(rows.begin(), rows.end(), 0);
    return ReceiptExport::write(path, read, rows);
}

BookImport::Result importFile(const QString &path, BookImport::Options options = {},
                              QString *failure = nullptr)
{
    QString error;
    std::unique_ptr<BookImport::Source> source = ReceiptImport::open(path, &error);
    if (!source) {
        BookImport::Result refused;
        refused.problems.append({0, error});
        refused.problemCount = 1;
        return refused;
    }
    BookImport::Result result;
    ReceiptBook::shared().importReceipts(*source, options, &result, failure);
    return result;
}

QByteArray toGb18030(const QByteArray &utf8)
{
    QByteArray out(utf8.size() * 2 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_convert("GB18030", "UTF-8", out.data(), int32_t(out.size()),
                                        utf8.constData(), int32_t(utf8.size()), &status);
    out.resize(U_SUCCESS(status) ? length : 0);
    return out;
}

// A workbook put together part by part, as no spreadsheet program would write it.
bool writeZip(const QString &path, const QList<std::pair<const char *, QByteArray>> &parts)
{
    int code = 0;
    zip_t *archive
        = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive)
        return false;
    for (const auto &[name, bytes] : parts) {
        zip_source_t *source = zip_source_buffer(archive, bytes.constData(), bytes.size(), 0);
        if (!source || zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

// What a hostile archive tells of its part `name`, in its local header and in the
// central directory alike: the size it unpacks to, or another name of as many bytes.
// libzip writes what it was given truthfully, so the lies are put into its bytes.
bool alterZipEntry(const QString &path, const QByteArray &name, std::optional<quint32> size,
                   const QByteArray &newName = {})
{
    QByteArray bytes = fileBytes(path);
    int altered = 0;
    // Signature, offset of the unpacked size and of the name's length, where the name is.
    const struct
    {
        const char *signature;
        int size, nameLength, name;
    } headers[] = {
        {"PK\x03\x04", 22, 26, 30},
        {"PK\x01\x02", 24, 28, 46},
    };
    for (const auto &header : headers) {
        for (qsizetype at = bytes.indexOf(header.signature); at >= 0;
             at = bytes.indexOf(header.signature, at + 4)) {
            const auto le16 = [&](qsizetype i) {
                return int(uchar(bytes.at(i))) | int(uchar(bytes.at(i + 1))) << 8;
            };
            const int length = le16(at + header.nameLength);
            if (bytes.mid(at + header.name, length) != name)
                continue;
            if (size) {
                for (int i = 0; i < 4; ++i)
                    bytes[at + header.size + i] = char((*size >> (8 * i)) & 0xff);
            }
            if (!newName.isEmpty() && newName.size() == length)
                bytes.replace(at + header.name, length, newName);
            ++altered;
        }
    }
    return altered == 2 && writeFile(path, bytes);
}

QByteArray sheetXml(const QByteArray &rows)
{
    return "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/"
           "spreadsheetml/2006/main\"><sheetData><row r=\"1\">"
           "<c r=\"A1\" t=\"inlineStr\"><is><t>收据单号</t></is></c>"
           "<c r=\"B1\" t=\"inlineStr\"><is><t>收款日期</t></is></c>"
           "<c r=\"C1\" t=\"inlineStr\"><is><t>交款单位</t></is></c>"
           "<c r=\"D1\" t=\"inlineStr\"><is><t>收款金额</t></is></c></row>"
        + rows + "</sheetData></worksheet>";
}

const QByteArray workbookXml = "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas."
                               "openxmlformats.org/spreadsheetml/2006/main\"><sheets/></workbook>";

} // namespace

// The import into a real book: the files the export writes, those of other programs, and
// every way a file is refused, which leaves the book as it was.
class tst_Import : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_files.emplace(); }
    void roundTrip_data();
    void roundTrip();
    void workbookOfAnotherProgram_data();
    void workbookOfAnotherProgram();
    void workbookPartsWhereTheyAreNamed();
    void refusals_data();
    void refusals();
    void numberIdentity_data();
    void numberIdentity();
    void commasInAmounts_data();
    void commasInAmounts();
    void archiveThatLies_data();
    void archiveThatLies();
    void bookHeldByAnotherProgram();
    void numbering();
    void renumberingSkipsIssuedNumbers();
    void cancelledImportChangesNothing();

private:
    QString file(const QString &name) const { return m_files->filePath(name); }
    std::optional<QTemporaryDir> m_files;
};

void tst_Import::roundTrip_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("csv") << u"csv"_s;
    QTest::newRow("xlsx") << u"xlsx"_s;
    QTest::newRow("csv in GB18030") << u"gb18030"_s;
    QTest::newRow("another book") << u"db"_s;
}

// A book exported and imported into an empty one exports the same file again: voids and
// their reasons, texts that look like formulas or like Excel's escapes, negative amounts.
void tst_Import::roundTrip()
{
    QFETCH(QString, kind);
    const QString source = file(kind == u"gb18030"_s ? u"book.csv"_s : u"book."_s + kind);
    {
        TestEnvironment first;
        first.createDatabase();
        Receipt quoted = listedReceipt(u"0000001"_s, u"星河, \"文化\""_s, 12800.5);
        quoted.reason2 = u"第一行\r\n第二行"_s;
        Receipt formula = listedReceipt(u"0000002"_s, u"=HYPERLINK(\"x\")"_s, -30);
        formula.remark = u"_x0041_ 照原样"_s;
        formula.payee = u"张三"_s;
        for (const Receipt &receipt : {quoted, formula, listedReceipt(u"0000003"_s, u"乙"_s, 0.1)})
            QVERIFY(ReceiptBook::shared().issue(receipt));
        QVERIFY(ReceiptBook::shared().voidReceipts({u"0000003"_s}, u"开错了，重开"_s));
        QVERIFY(exportBook(file(u"first.csv"_s)));
        if (kind == u"db"_s)
            QVERIFY(QFile::copy(first.databasePath(), source));
        else if (kind != u"gb18030"_s)
            QVERIFY(exportBook(source));
        else
            QVERIFY(writeFile(source, toGb18030(fileBytes(file(u"first.csv"_s)).mid(3))));
    }
    TestEnvironment second;
    second.createDatabase();
    QString error;
    const BookImport::Result result = importFile(source, {}, &error);
    QVERIFY2(result.ok, qPrintable(BookImport::report(result) + error));
    QCOMPARE(result.count, 3);
    QCOMPARE(result.voided, 1);
    QCOMPARE(result.fen, 1'277'050);
    QVERIFY(exportBook(file(u"second.csv"_s)));
    QCOMPARE(fileBytes(file(u"second.csv"_s)), fileBytes(file(u"first.csv"_s)));
    // One history row each, naming the file; the lists learn the payers and people.
    QCOMPARE(second.countRaw(
                 u"select count(*) from tb_history where action = 'import' and "
                 u"json_extract(detail, '$.file') = '%1'"_s.arg(QFileInfo(source).fileName())),
             3);
    QCOMPARE(second.countRaw(u"select count(*) from tb_payer where content = '乙'"_s), 1);
    QCOMPARE(second.countRaw(u"select count(*) from tb_account where userName = '张三'"_s), 1);
    if (kind == u"db"_s) // its history comes along inside the import's
        QCOMPARE(second.countRaw(u"select count(*) from tb_history where "
                                 u"json_array_length(detail, '$.sourceHistory') = 2"_s),
                 1);
}

void tst_Import::workbookOfAnotherProgram_data()
{
    QTest::addColumn<bool>("inlineStrings");
    QTest::newRow("shared strings") << false;
    QTest::newRow("inline strings") << true;
}

// Dates as serial numbers and as text, numbers as numbers and as text, a formula with the
// value it was calculated to, a column the import does not know, in another order.
void tst_Import::workbookOfAnotherProgram()
{
    QFETCH(bool, inlineStrings);
    TestEnvironment env;
    env.createDatabase();
    const QString path = file(u"other.xlsx"_s);
    lxw_workbook_options options {};
    options.constant_memory = inlineStrings ? LXW_TRUE : LXW_FALSE;
    lxw_workbook *workbook = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_format *date = workbook_add_format(workbook);
    format_set_num_format(date, "yyyy/m/d");
    const char *titles[] = {"收款日期", "收据单号", "交款单位", "收款金额", "经手人", "收款事由"};
    for (lxw_col_t column = 0; column < 6; ++column)
        worksheet_write_string(sheet, 0, column, titles[column], nullptr);
    worksheet_write_number(sheet, 1, 0, 45292, date); // 2024-01-01
    worksheet_write_number(sheet, 1, 1, 12, nullptr);
    worksheet_write_string(sheet, 1, 2, "甲公司", nullptr);
    worksheet_write_number(sheet, 1, 3, 1234.56, nullptr);
    worksheet_write_string(sheet, 1, 4, "李四", nullptr);
    worksheet_write_string(sheet, 2, 0, "2024年2月29日", nullptr);
    worksheet_write_string(sheet, 2, 1, "0000013", nullptr);
    worksheet_write_string(sheet, 2, 2, "乙", nullptr);
    worksheet_write_string(sheet, 2, 3, "88.80", nullptr);
    worksheet_write_string(sheet, 2, 5, "@房租", nullptr);
    lxw_datetime day = {2024, 3, 31, 0, 0, 0};
    worksheet_write_datetime(sheet, 3, 0, &day, date);
    worksheet_write_number(sheet, 3, 1, 14, nullptr);
    worksheet_write_string(sheet, 3, 2, "丙", nullptr);
    worksheet_write_formula_num(sheet, 3, 3, "=D2+1", nullptr, 1235.56);
    QCOMPARE(workbook_close(workbook), LXW_NO_ERROR);

    const BookImport::Result result = importFile(path);
    QVERIFY2(result.ok, qPrintable(BookImport::report(result)));
    QList<Receipt> read;
    QVERIFY(receiptsDated(u"0000-01-01"_s, u"9999-12-31"_s, &read));
    QCOMPARE(read.size(), 3);
    const std::tuple<QString, QDate, QString, double, QString> expected[] = {
        {u"0000014"_s, QDate(2024, 3, 31), u"丙"_s, 1235.56, QString()},
        {u"0000013"_s, QDate(2024, 2, 29), u"乙"_s, 88.8, u"@房租"_s},
        {u"0000012"_s, QDate(2024, 1, 1), u"甲公司"_s, 1234.56, QString()},
    };
    for (qsizetype i = 0; i < read.size(); ++i) {
        const auto &[number, day, payer, total, reason] = expected[i];
        QCOMPARE(read.at(i).receiptNo, number);
        QCOMPARE(read.at(i).receiptDate.date(), day);
        QCOMPARE(read.at(i).payer, payer);
        QCOMPARE(read.at(i).total, total);
        QCOMPARE(read.at(i).reason1, reason);
    }
    QCOMPARE(read.at(2).totalBig, u"壹仟贰佰叁拾肆元伍角陆分"_s);
}

void tst_Import::refusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("reason");

    const auto csv = [](const QByteArray &rows) {
        return csvHeader + rows;
    };
    QTest::newRow("number in the book")
        << u"a.csv"_s << csv("0000002,2024-05-01,甲,1,,\r\n0000001,2024-05-01,乙,2,,\r\n") << 3
        << u"已在账本中"_s;
    QTest::newRow("number twice in the file")
        << u"a.csv"_s << csv("0000007,2024-05-01,甲,1,,\r\n0000007,2024-05-02,乙,2,,\r\n") << 3
        << u"不止出现一次"_s;
    QTest::newRow("one number twice in the file, in two paddings")
        << u"a.csv"_s << csv("7,2024-05-01,甲,1,,\r\n0000007,2024-05-02,乙,2,,\r\n") << 3
        << u"单号 0000007 在文件中不止出现一次"_s;
    QTest::newRow("amount that is no amount")
        << u"a.csv"_s << csv("0000002,2024-05-01,甲,12元,,\r\n") << 2 << u"不是金额"_s;
    QTest::newRow("three decimals")
        << u"a.csv"_s << csv("0000002,2024-05-01,甲,1.005,,\r\n") << 2 << u"小数超过两位"_s;
    QTest::newRow("past the largest amount")
        << u"a.csv"_s << csv("0000002,2024-05-01,甲,1000000000000,,\r\n") << 2 << u"上限"_s;
    QTest::newRow("date that is no date")
        << u"a.csv"_s << csv("0000002,2024-02-30,甲,1,,\r\n") << 2 << u"不是日期"_s;
    QTest::newRow("payer empty") << u"a.csv"_s << csv("0000002,2024-05-01,,1,,\r\n") << 2
                                 << u"必填：交款单位"_s;
    QTest::newRow("payer too long")
        << u"a.csv"_s << csv("0000002,2024-05-01," + QByteArray(201, 'x') + ",1,,\r\n") << 2
        << u"超过 200 个字符"_s;
    QTest::newRow("void without a reason")
        << u"a.csv"_s << csv("0000002,2024-05-01,甲,1,已作废,\r\n") << 2 << u"作废原因"_s;
    QTest::newRow("total that does not add up")
        << u"a.csv"_s << csv("0000002,2024-05-01,甲,1,,\r\n合计,,,2.00,,\r\n") << 3 << u"不符"_s;
    QTest::newRow("required column missing")
        << u"a.csv"_s << QByteArray("收据单号,收款日期,收款金额\r\n0000002,2024-05-01,1\r\n") << 1
        << u"交款单位"_s;
    QTest::newRow("cell of more than 1 MB")
        << u"a.csv"_s << csv("0000002,2024-05-01," + QByteArray(1024 * 1024 + 1, 'x') + ",1,,\r\n")
        << 0 << u"第 2 行有一个单元格超过 1 MB"_s;
    QTest::newRow("UTF-16") << u"a.csv"_s << QByteArray("\xFF\xFE\x31\x00", 4) << 0 << u"UTF-16"_s;
    QTest::newRow("marked UTF-8 that is not")
        << u"a.csv"_s << csv("0000002,2024-05-01,\xB8\xF6,1,,\r\n") << 0 << u"标明是 UTF-8"_s;
    QTest::newRow("neither UTF-8 nor GB18030")
        << u"a.csv"_s << QByteArray("收据单号\r\n\x81\x20\r\n") << 0 << u"既不是 UTF-8"_s;

    QTest::newRow("formula without its value")
        << u"a.xlsx"_s
        << sheetXml("<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>0000002</t></is></c>"
                    "<c r=\"B2\" t=\"inlineStr\"><is><t>2024-05-01</t></is></c>"
                    "<c r=\"C2\" t=\"inlineStr\"><is><t>甲</t></is></c>"
                    "<c r=\"D2\"><f>SUM(E1:E9)</f></c></row>")
        << 2 << u"公式没有计算结果"_s;
    QTest::newRow("error cell")
        << u"a.xlsx"_s
        << sheetXml("<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\" t=\"inlineStr\"><is>"
                    "<t>2024-05-01</t></is></c><c r=\"C2\" t=\"e\"><v>#N/A</v></c>"
                    "<c r=\"D2\"><v>1</v></c></row>")
        << 2 << u"交款单位：错误值 #N/A"_s;
    QTest::newRow("book that is no book")
        << u"a.db"_s << QByteArray(5000, 'x') << 0 << u"不是收据数据库"_s;
    QTest::newRow("zip bomb") << u"a.xlsx"_s << sheetXml(QByteArray(64 * 1024 * 1024, ' ')) << 0
                              << u"压缩炸弹"_s;
}

// Each refusal names the row and leaves the book as it was, byte for byte.
void tst_Import::refusals()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, row);
    QFETCH(QString, reason);
    TestEnvironment env;
    env.createDatabase();
    QVERIFY(env.storeReceipt(u"R1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    if (name.endsWith(u".xlsx"_s))
        QVERIFY(writeZip(file(name),
                         {{"xl/workbook.xml", workbookXml}, {"xl/worksheets/sheet1.xml", bytes}}));
    else
        QVERIFY(writeFile(file(name), bytes));
    const QByteArray before = fileHash(env.databasePath());
    const BookImport::Result result = importFile(file(name));
    QVERIFY(!result.ok);
    QVERIFY2(!result.problems.isEmpty() && result.problems.constFirst().row == row
                 && result.problems.constFirst().reason.contains(reason),
             qPrintable(BookImport::report(result)));
    QCOMPARE(fileHash(env.databasePath()), before);
}

void tst_Import::commasInAmounts_data()
{
    QTest::addColumn<QByteArray>("amount");
    QTest::addColumn<std::optional<qint64>>("fen");
    using Fen = std::optional<qint64>;
    const Fen refused;

    QTest::newRow("thousands with decimals") << QByteArray("1,234.50") << Fen(123450);
    QTest::newRow("thousands, no decimals") << QByteArray("12,345") << Fen(1234500);
    QTest::newRow("millions") << QByteArray("1,234,567.89") << Fen(123456789);
    QTest::newRow("negative") << QByteArray("-1,234") << Fen(-123400);
    QTest::newRow("with the yuan sign") << QByteArray("¥1,234.5") << Fen(123450);
    // A decimal comma, or commas a hand put anywhere: never a larger amount.
    QTest::newRow("decimal comma, two places") << QByteArray("1,50") << Fen();
    QTest::newRow("decimal comma, one place") << QByteArray("1,5") << Fen();
    QTest::newRow("decimal comma, three places") << QByteArray("0,125") << Fen();
    QTest::newRow("decimal comma after grouping dots") << QByteArray("1.234,5") << Fen();
    QTest::newRow("groups of one") << QByteArray("1,2,3") << Fen();
    QTest::newRow("uneven groups") << QByteArray("12,34,5.6") << Fen();
    QTest::newRow("first group of four") << QByteArray("1234,567") << Fen();
    QTest::newRow("comma at the end") << QByteArray("1,234,") << Fen();
    QTest::newRow("comma first") << QByteArray(",123") << Fen();
}

// A comma in an amount is a thousands separator only where it groups the whole part by
// three; any other is refused with its row, for dropping it multiplies the amount.
void tst_Import::commasInAmounts()
{
    QFETCH(QByteArray, amount);
    QFETCH(std::optional<qint64>, fen);
    TestEnvironment env;
    env.createDatabase();
    QVERIFY(
        writeFile(file(u"a.csv"_s), csvHeader + "0000002,2024-05-01,甲,\"" + amount + "\",,\r\n"));
    const BookImport::Result result = importFile(file(u"a.csv"_s));
    if (fen) {
        QVERIFY2(result.ok, qPrintable(BookImport::report(result)));
        QCOMPARE(result.fen, *fen);
        return;
    }
    QVERIFY(!result.ok);
    QCOMPARE(result.problems.size(), 1);
    QCOMPARE(result.problems.constFirst().row, 2);
    const QString reason = result.problems.constFirst().reason;
    QVERIFY2(reason.contains(u"“%1”"_s.arg(QString::fromUtf8(amount)))
                 && reason.contains(u"千位分隔符"_s),
             qPrintable(reason));
}

void tst_Import::archiveThatLies_data()
{
    QTest::addColumn<QByteArray>("sheetRows");
    QTest::addColumn<std::optional<quint32>>("declaredSize");
    QTest::addColumn<bool>("twoSheetsOfOneName");
    QTest::addColumn<QString>("reason"); // empty: imported

    const QByteArray receipt
        = "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>0000002</t></is></c>"
          "<c r=\"B2\" t=\"inlineStr\"><is><t>2024-05-01</t></is></c>"
          "<c r=\"C2\" t=\"inlineStr\"><is><t>甲</t></is></c><c r=\"D2\"><v>12.5</v></c></row>";
    QTest::newRow("declares 2 GB, unpacks to 1 KB")
        << receipt << std::optional<quint32>(0x80000000u) << false << QString();
    // Only the bytes counted as they come stop this one.
    QTest::newRow("declares 1 KB, unpacks past the limit")
        << QByteArray(64 * 1024 * 1024, ' ') << std::optional<quint32>(1024u) << false
        << u"压缩炸弹"_s;
    QTest::newRow("two sheets of one name") << receipt << std::optional<quint32>() << true
                                            << u"两个部分同名（xl/worksheets/sheet1.xml）"_s;
}

// The sizes an archive declares for its parts, and its names, are the archive's word only:
// a workbook is judged by what its parts really unpack to, and one that has two parts of
// one name is refused rather than read from either.
void tst_Import::archiveThatLies()
{
    QFETCH(QByteArray, sheetRows);
    QFETCH(std::optional<quint32>, declaredSize);
    QFETCH(bool, twoSheetsOfOneName);
    QFETCH(QString, reason);
    TestEnvironment env;
    env.createDatabase();
    const QString path = file(u"a.xlsx"_s);
    QList<std::pair<const char *, QByteArray>> parts
        = {{"xl/workbook.xml", workbookXml}, {"xl/worksheets/sheet1.xml", sheetXml(sheetRows)}};
    if (twoSheetsOfOneName)
        parts.append({"xl/worksheets/sheetX.xml", sheetXml({})});
    QVERIFY(writeZip(path, parts));
    if (declaredSize)
        QVERIFY(alterZipEntry(path, "xl/worksheets/sheet1.xml", declaredSize));
    if (twoSheetsOfOneName)
        QVERIFY(alterZipEntry(path, "xl/worksheets/sheetX.xml", {}, "xl/worksheets/sheet1.xml"));
    const QByteArray before = fileHash(env.databasePath());
    const BookImport::Result result = importFile(path);
    if (reason.isEmpty()) {
        QVERIFY2(result.ok, qPrintable(BookImport::report(result)));
        QCOMPARE(result.count, 1);
        QCOMPARE(result.fen, 1250);
        return;
    }
    QVERIFY(!result.ok);
    QVERIFY2(!result.problems.isEmpty() && result.problems.constFirst().reason.contains(reason),
             qPrintable(BookImport::report(result)));
    QCOMPARE(fileHash(env.databasePath()), before);
}

// A book that another program holds locked past the wait is refused in Chinese, saying
// that it is in use: not in SQLite's words, and not as a damaged file.
void tst_Import::bookHeldByAnotherProgram()
{
    TestEnvironment env;
    env.createDatabase();
    QVERIFY(QFile::copy(env.databasePath(), file(u"other.db"_s)));
    const HeldLock lock(file(u"other.db"_s));
    QVERIFY(lock.isHeld());
    const BookImport::Result result = importFile(file(u"other.db"_s));
    QVERIFY(!result.ok);
    QVERIFY(!result.problems.isEmpty());
    const QString reason = result.problems.constFirst().reason;
    QVERIFY2(reason.contains(u"其他程序占用"_s) && !reason.contains(u"损坏"_s)
                 && !reason.contains(u"locked"_s),
             qPrintable(reason));
}

// A workbook whose parts are where its relations say (not the usual names), counting days
// from 1904, with rich text and its phonetic reading in a shared string and cells without
// their names.
void tst_Import::workbookPartsWhereTheyAreNamed()
{
    TestEnvironment env;
    env.createDatabase();
    const QByteArray main = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    const QByteArray workbook = "<workbook " + main
        + " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
          "<workbookPr date1904=\"1\"/><sheets><sheet name=\"s\" sheetId=\"1\" r:id=\"rId7\"/>"
          "</sheets></workbook>";
    const QByteArray relations
        = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId7\" Type=\"x/worksheet\" Target=\"sheets/data.xml\"/>"
          "<Relationship Id=\"rId8\" Type=\"x/sharedStrings\" Target=\"/xl/words.xml\"/>"
          "</Relationships>";
    const QByteArray strings = "<sst " + main
        + "><si><t>收据单号</t></si><si><t>收款日期</t></si><si><t>交款单位</t></si>"
          "<si><t>收款金额</t></si><si><r><t>星河</t></r><r><rPr><b/></rPr><t xml:space="
          "\"preserve\">文化 </t></r><rPh><t>せいが</t></rPh></si></sst>";
    const qint64 serial = QDate(1904, 1, 1).daysTo(QDate(2024, 5, 1));
    const QByteArray sheet = "<worksheet " + main
        + "><sheetData><row><c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c><c t=\"s\"><v>2</v>"
          "</c><c t=\"s\"><v>3</v></c></row><row><c t=\"str\"><v>12</v></c><c><v>"
        + QByteArray::number(serial) + "</v></c><c t=\"s\"><v>4</v></c><c><v>1234.5599999999999"
        + "</v></c></row></sheetData></worksheet>";
    QVERIFY(writeZip(file(u"parts.xlsx"_s),
                     {{"xl/workbook.xml", workbook},
                      {"xl/_rels/workbook.xml.rels", relations},
                      {"xl/words.xml", strings},
                      {"xl/sheets/data.xml", sheet}}));
    const BookImport::Result result = importFile(file(u"parts.xlsx"_s));
    QVERIFY2(result.ok, qPrintable(BookImport::report(result)));
    const std::optional<Receipt> read = storedReceipt(
        env.queryRaw(u"select id from tb_receipt where receiptNo = '0000012'"_s));
    QVERIFY(read);
    QCOMPARE(read->receiptDate.date(), QDate(2024, 5, 1));
    QCOMPARE(read->payer, u"星河文化 "_s);
    QCOMPARE(read->total, 1234.56);
}

void tst_Import::numberIdentity_data()
{
    QTest::addColumn<QString>("kind"); // csv, xlsx (a text cell), db (another book)
    QTest::addColumn<QString>("number");
    // What the row is refused for, or else the number stored.
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("stored");

    // Beside 0000005 and 0000101 in the book.
    const std::pair<const char *, std::pair<QString, QString>> cases[] = {
        {"zero-width space after", {u"0000005\u200B"_s, u"看不见的字符 U+200B"_s}},
        {"byte order mark after", {u"0000005\uFEFF"_s, u"看不见的字符 U+FEFF"_s}},
        {"byte order mark before", {u"\uFEFF0000006"_s, u"看不见的字符 U+FEFF"_s}},
        {"right-to-left override", {u"\u202E5000000"_s, u"看不见的字符 U+202E"_s}},
        {"full-width digits", {u"０００００５"_s, u"“０”（U+FF10）"_s}},
        {"ideographic space", {u"\u30000000007"_s, u"看不见的字符 U+3000"_s}},
        {"no-break space", {u"0000007\u00A0"_s, u"看不见的字符 U+00A0"_s}},
        {"sign", {u"+5"_s, u"“+”（U+002B）"_s}},
        {"without its zeros", {u"5"_s, u"单号 0000005 已在账本中"_s}},
        {"with more zeros", {u"00000005"_s, u"单号 0000005 已在账本中"_s}},
        {"typed as a cashier types it", {u"101"_s, u"单号 0000101 已在账本中"_s}},
    };
    const std::pair<const char *, std::pair<QString, QString>> taken[] = {
        {"spaces around", {u"  8 "_s, u"0000008"_s}},
        {"padded as the numbering pads", {u"8"_s, u"0000008"_s}},
        {"zeros past the longest number", {QString(70, u'0') + u"9"_s, u"0000009"_s}},
        {"wider than the length", {u"12345678"_s, u"12345678"_s}},
    };
    for (const QString &kind : {u"csv"_s, u"xlsx"_s, u"db"_s}) {
        for (const auto &[name, expected] : cases)
            QTest::addRow("%s, %s", qPrintable(kind), name)
                << kind << expected.first << expected.second << QString();
        for (const auto &[name, expected] : taken)
            QTest::addRow("%s, %s", qPrintable(kind), name)
                << kind << expected.first << QString() << expected.second;
    }
}

// A number is ASCII digits, and one number is one whatever its padding: a look-alike or
// another padding of a stored number never comes in beside it, and a number comes in
// padded as the numbering pads it.
void tst_Import::numberIdentity()
{
    QFETCH(QString, kind);
    QFETCH(QString, number);
    QFETCH(QString, problem);
    QFETCH(QString, stored);
    const QString source = file(u"numbers."_s + kind);
    if (kind == u"db"_s) {
        TestEnvironment other;
        other.createDatabase();
        QVERIFY(other.storeReceipt(u"X"_s, number, u"2024-05-01 00:00:00"_s, u"新"_s));
        QVERIFY(QFile::copy(other.databasePath(), source));
    } else if (kind == u"csv"_s) {
        QVERIFY(writeFile(source, csvHeader + number.toUtf8() + ",2024-05-01,新,1,,\r\n"));
    } else {
        lxw_workbook *workbook = workbook_new(QFile::encodeName(source).constData());
        lxw_worksheet *sheet = workbook_add_worksheet(workbook, nullptr);
        const char *titles[] = {"收据单号", "收款日期", "交款单位", "收款金额"};
        for (lxw_col_t column = 0; column < 4; ++column)
            worksheet_write_string(sheet, 0, column, titles[column], nullptr);
        worksheet_write_string(sheet, 1, 0, number.toUtf8().constData(), nullptr);
        worksheet_write_string(sheet, 1, 1, "2024-05-01", nullptr);
        worksheet_write_string(sheet, 1, 2, "新", nullptr);
        worksheet_write_number(sheet, 1, 3, 1, nullptr);
        QCOMPARE(workbook_close(workbook), LXW_NO_ERROR);
    }
    TestEnvironment env;
    env.createDatabase();
    QVERIFY(env.storeReceipt(u"R5"_s, u"0000005"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(env.storeReceipt(u"R101"_s, u"0000101"_s, u"2024-05-01 00:00:00"_s));
    const QByteArray before = fileHash(env.databasePath());

    const BookImport::Result result = importFile(source);
    if (!problem.isEmpty()) {
        QVERIFY(!result.ok);
        const qint64 row = kind == u"db"_s ? 1 : 2;
        QVERIFY2(!result.problems.isEmpty() && result.problems.constFirst().row == row
                     && result.problems.constFirst().reason.contains(problem),
                 qPrintable(BookImport::report(result)));
        QCOMPARE(fileHash(env.databasePath()), before);
    } else {
        QVERIFY2(result.ok, qPrintable(BookImport::report(result)));
        QCOMPARE(env.queryRaw(u"select receiptNo from tb_receipt where payer = '新'"_s), stored);
    }
}

// The counter moves past the highest number brought in; with renumbering, numbers taken
// get the next free ones, in the book and in the file alike, and the report tells them.
void tst_Import::numbering()
{
    TestEnvironment env;
    env.createDatabase();
    QVERIFY(env.storeReceipt(u"R1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(env.storeReceipt(u"R2"_s, u"0000002"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(writeFile(file(u"a.csv"_s),
                      csvHeader
                          + "0000120,2024-05-01,甲,1,,\r\n"
                            "0000001,2024-05-01,乙,2,,\r\n"
                            "0000120,2024-05-01,丙,3,,\r\n"));
    BookImport::Options options;
    options.dryRun = true;
    options.renumber = true;
    const QByteArray before = fileHash(env.databasePath());
    QVERIFY(importFile(file(u"a.csv"_s), options).ok);
    QCOMPARE(fileHash(env.databasePath()), before);

    options.dryRun = false;
    const BookImport::Result result = importFile(file(u"a.csv"_s), options);
    QVERIFY2(result.ok, qPrintable(BookImport::report(result)));
    using Renumbered = QList<std::pair<QString, QString>>;
    QCOMPARE(result.renumbered,
             Renumbered({{u"0000001"_s, u"0000003"_s}, {u"0000120"_s, u"0000004"_s}}));
    QVERIFY(BookImport::report(result).contains(u"单号 0000001 → 0000003"_s));
    QCOMPARE(ReceiptNumbering::storedCounter(SQLiteHelper::shared()), 121);
    QCOMPARE(env.queryRaw(u"select payer from tb_receipt where receiptNo = '0000004'"_s), u"丙"_s);
}

// A number deleted from the book with no history row for the delete (by another program)
// and the counter set back: renumbering does not give it again, for the history shows it
// was issued.
void tst_Import::renumberingSkipsIssuedNumbers()
{
    TestEnvironment env;
    env.createDatabase();
    for (const QString &number : {u"0000001"_s, u"0000002"_s})
        QVERIFY(ReceiptBook::shared().issue(listedReceipt(number, u"甲"_s, 1)));
    QVERIFY(env.execRaw(u"delete from tb_receipt where receiptNo = '0000002'; "
                        u"update tb_receiptNo set currNum = '2'"_s));
    QVERIFY(writeFile(file(u"a.csv"_s), csvHeader + "0000001,2024-05-01,乙,2,,\r\n"));
    BookImport::Options options;
    options.renumber = true;
    const BookImport::Result result = importFile(file(u"a.csv"_s), options);
    QVERIFY2(result.ok, qPrintable(BookImport::report(result)));
    using Renumbered = QList<std::pair<QString, QString>>;
    QCOMPARE(result.renumbered, Renumbered({{u"0000001"_s, u"0000003"_s}}));
}

// Stopped from its progress (the window's 取消), an import leaves the book as it was, even
// after batches were written inside its transaction.
void tst_Import::cancelledImportChangesNothing()
{
    TestEnvironment env;
    env.createDatabase();
    QByteArray rows = csvHeader;
    for (int i = 1; i <= 2500; ++i)
        rows += QByteArray::number(i) + ",2024-05-01,甲,1,,\r\n";
    QVERIFY(writeFile(file(u"a.csv"_s), rows));
    const QByteArray before = fileHash(env.databasePath());
    BookImport::Options options;
    options.progress = [](qint64) {
        return false;
    };
    QString error;
    const BookImport::Result result = importFile(file(u"a.csv"_s), options, &error);
    QVERIFY(!result.ok);
    QVERIFY(!error.isEmpty());
    QCOMPARE(fileHash(env.databasePath()), before);
}

QTEST_GUILESS_MAIN(tst_Import)
#include "tst_import.moc"
