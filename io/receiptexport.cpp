// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptexport.h"

#include "bookcare.h"
#include "bookproof.h"
#include "exportfile.h"
#include "money.h"
#include "outputfile.h"
#include "workbookcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xlsxwriter.h>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

using ExportFile::appendCsvField;
using ExportFile::appendCsvText;
using ExportFile::displayWidth;
using ExportFile::excelText;

namespace {

using namespace ReceiptExport;

QString voidedStatus()
{
    return u"已作废"_s;
}

// Voided comes first: a voided receipt is left out of every sum whatever its amount, and
// the Excel total picks rows by exactly this text.
QString statusOf(const Receipt &receipt)
{
    if (receipt.voidReason)
        return voidedStatus();
    if (receipt.unreadableTotal)
        return u"金额无法识别"_s;
    return {};
}

// The field of a column written as the receipt holds it; null for the columns of dates,
// amounts and status, which are made here.
const QString *plainText(const Receipt &receipt, int column)
{
    switch (column) {
    case ReceiptNoColumn:
        return &receipt.receiptNo;
    case PayerColumn:
        return &receipt.payer;
    case Reason1Column:
        return &receipt.reason1;
    case Reason2Column:
        return &receipt.reason2;
    case RemarkColumn:
        return &receipt.remark;
    case PaytypeColumn:
        return &receipt.paytype;
    case PayeeColumn:
        return &receipt.payee;
    case ApproveColumn:
        return &receipt.approve;
    case AccountantColumn:
        return &receipt.accountant;
    case VoidReasonColumn:
        return receipt.voidReason ? &*receipt.voidReason : nullptr;
    default:
        return nullptr;
    }
}

// The receipts as the writers take them: counted as they pass, with progress told and
// a failure of the source or a stop kept for the caller.
class Feed
{
public:
    Feed(const Source &source, const Progress &progress)
        : m_source(source)
        , m_progress(progress)
    { }

    // The next receipt to write, or null at the end, on a failure and after a stop.
    const Receipt *next()
    {
        if (m_stopped)
            return nullptr;
        if (m_progress && m_given > 0 && m_given % progressStep == 0 && !m_progress(m_given)) {
            m_stopped = true;
            m_error = u"导出已取消"_s;
            return nullptr;
        }
        const Receipt *receipt = m_source(&m_error);
        if (!receipt) {
            m_stopped = true;
            return nullptr;
        }
        ++m_given;
        m_totals.add(*receipt);
        return receipt;
    }
    // Stops with this reason: the file cannot hold more.
    void stop(const QString &reason)
    {
        m_stopped = true;
        m_error = reason;
    }

    // The source's reason or the stop's; empty when all receipts were given.
    const QString &error() const { return m_error; }
    // True when the reason is the source's own sentence (a failed read, a stop asked
    // for), not the file's.
    bool sourceFailed() const { return !m_error.isEmpty() && !m_fileFull; }
    void setFileFull() { m_fileFull = true; }
    qint64 given() const { return m_given; }
    const ReceiptTotals &totals() const { return m_totals; }

private:
    static constexpr qint64 progressStep = 2000;

    const Source &m_source;
    const Progress &m_progress;
    ReceiptTotals m_totals;
    QString m_error;
    qint64 m_given = 0;
    bool m_stopped = false;
    bool m_fileFull = false;
};

// ---- CSV

void appendDigits(QString &out, int value, int width)
{
    std::array<char16_t, 12> digits {};
    int n = 0;
    for (unsigned v = unsigned(std::max(value, 0)); v > 0 || n < width; v /= 10)
        digits[size_t(n++)] = char16_t(u'0' + v % 10);
    while (n > 0)
        out.append(QChar(digits[size_t(--n)]));
}

// yyyy-MM-dd (and HH:mm:ss) of the local time, without QDateTime::toString, which costs
// more than the rest of a row: a list of 100,000 receipts writes 200,000 of them.
void appendDate(QString &out, const QDateTime &dateTime, bool withTime)
{
    if (!dateTime.isValid())
        return;
    const QDateTime local = dateTime.toLocalTime();
    const QDate date = local.date();
    if (date.year() < 1000 || date.year() > 9999) {
        // Out of the fixed four digits: the general formatter says it right.
        out += local.toString(withTime ? u"yyyy-MM-dd HH:mm:ss"_s : u"yyyy-MM-dd"_s);
        return;
    }
    appendDigits(out, date.year(), 4);
    out += u'-';
    appendDigits(out, date.month(), 2);
    out += u'-';
    appendDigits(out, date.day(), 2);
    if (withTime) {
        const QTime time = local.time();
        out += u' ';
        appendDigits(out, time.hour(), 2);
        out += u':';
        appendDigits(out, time.minute(), 2);
        out += u':';
        appendDigits(out, time.second(), 2);
    }
}

void appendCsvRow(QString &out, const Receipt &receipt)
{
    for (int column = 0; column < columnCount; ++column) {
        if (column > 0)
            out += u',';
        switch (column) {
        case ReceiptDateColumn:
            appendDate(out, receipt.receiptDate, false);
            break;
        case CreateDateColumn:
            appendDate(out, receipt.createDate, true);
            break;
        case TotalColumn:
            if (const std::optional<qint64> fen = Money::fenOf(receipt))
                out += Money::format(*fen, false);
            else
                appendCsvText(out, receipt.unreadableTotal.value_or(QString()));
            break;
        case StatusColumn:
            out += statusOf(receipt);
            break;
        default:
            if (const QString *text = plainText(receipt, column))
                appendCsvText(out, *text);
        }
    }
    out += u"\r\n"_s;
}

bool writeCsv(QIODevice &file, Feed &feed)
{
    // Written in pieces of about 64 KB: memory stays flat however long the list.
    constexpr qsizetype piece = 32 * 1024;
    QString text;
    text.reserve(piece + 4096);
    text += QChar(0xFEFF);
    const QStringList &titles = ReceiptExport::columnTitles();
    for (qsizetype column = 0; column < titles.size(); ++column) {
        if (column > 0)
            text += u',';
        appendCsvField(text, titles.at(column));
    }
    text += u"\r\n"_s;
    while (const Receipt *receipt = feed.next()) {
        appendCsvRow(text, *receipt);
        if (text.size() >= piece) {
            if (file.write(text.toUtf8()) < 0)
                return false;
            text.resize(0);
        }
    }
    if (!feed.error().isEmpty())
        return false;
    text += u"合计"_s;
    for (int column = 1; column < columnCount; ++column) {
        text += u',';
        if (column == TotalColumn)
            text += Money::format(feed.totals().fen, false);
    }
    text += u"\r\n"_s;
    return file.write(text.toUtf8()) >= 0;
}

bool exportCsv(const QString &path, Feed &feed, QString *error)
{
    return OutputFile::writeReplacing(
        path,
        [&](const QString &scratch, QString *reason) {
            QFile file(scratch);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !writeCsv(file, feed)
                || !file.flush()) {
                *reason = feed.error().isEmpty() ? file.errorString() : feed.error();
                return false;
            }
            return true;
        },
        error);
}

// ---- Excel

QString columnLetter(int column)
{
    return QString(QChar(u'A' + column));
}

lxw_datetime excelDate(const QDateTime &dateTime, bool withTime)
{
    const QDateTime local = dateTime.toLocalTime();
    const QDate date = local.date();
    const QTime time = withTime ? local.time() : QTime(0, 0);
    return {date.year(), date.month(),  date.day(),
            time.hour(), time.minute(), double(time.second())};
}

class XlsxWriter
{
public:
    XlsxWriter(const QString &path, Feed &feed, QStringList *cutCells)
        : m_path(path)
        , m_feed(feed)
        , m_cutCells(cutCells)
    {
        lxw_workbook_options options {};
        // Each row goes to a scratch file as the next one starts: memory stays flat
        // however long the list.
        options.constant_memory = LXW_TRUE;
        m_workbook = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    }
    ~XlsxWriter()
    {
        // Closing is the one way to free the workbook: a failed one is written and then
        // removed by the caller.
        if (m_workbook)
            workbook_close(m_workbook);
    }

    bool write(QString *error)
    {
        if (!m_workbook || !(m_sheet = workbook_add_worksheet(m_workbook, "收据"))) {
            *error = u"无法建立 Excel 工作簿（临时文件夹不可写？）"_s;
            return false;
        }
        makeFormats();
        worksheet_freeze_panes(m_sheet, 1, 0);

        const QStringList &titles = ReceiptExport::columnTitles();
        for (int column = 0; column < columnCount; ++column) {
            m_widths[size_t(column)] = displayWidth(titles.at(column));
            writeText(0, column, titles.at(column), m_bold);
        }
        lxw_row_t row = 1;
        while (const Receipt *receipt = m_feed.next()) {
            // The header and the total take a row each.
            if (row + 1 >= LXW_ROW_MAX) {
                m_feed.setFileFull();
                m_feed.stop(
                    u"Excel 的一张工作表最多放 %1 张收据：请缩小日期范围，或导出为 CSV"_s.arg(
                        LXW_ROW_MAX - 2));
                break;
            }
            const std::optional<qint64> fen = Money::fenOf(*receipt);
            widenAmount(*receipt, fen);
            writeReceipt(row++, *receipt, fen);
        }
        if (!m_feed.error().isEmpty()) {
            *error = m_feed.error();
            return false;
        }
        writeTotal(row);
        // The widths go into the sheet's head, which the workbook writes when it closes,
        // after the rows: so they can be known only once every row is written.
        setColumnWidths();

        const lxw_error closed = workbook_close(m_workbook);
        m_workbook = nullptr;
        if (m_error == LXW_NO_ERROR)
            m_error = closed;
        if (m_error != LXW_NO_ERROR) {
            // The library's own words say which step failed; the cause the user can mend
            // is nearly always the space its scratch files or the workbook need.
            *error = u"Excel 工作簿没能写完，磁盘或临时文件夹可能已满或不可写（%1）"_s.arg(
                QString::fromUtf8(lxw_strerror(m_error)));
            return false;
        }
        // The titles, the receipts and the total: a scratch file that could not take them
        // all leaves the sheet short, and the library does not tell.
        QString found;
        if (!WorkbookCheck::sheetHoldsRows(m_path, "xl/worksheets/sheet1.xml",
                                           qint64(row) + 1 + (m_headWritten ? 1 : 0), &found)) {
            *error = u"Excel 工作簿没能写完，临时文件夹或磁盘可能已满（%1）"_s.arg(found);
            return false;
        }
        return true;
    }

private:
    void note(lxw_error result)
    {
        if (m_error == LXW_NO_ERROR)
            m_error = result;
    }

    lxw_format *format(bool grey, const char *numberFormat = nullptr)
    {
        if (!grey && !numberFormat)
            return nullptr;
        lxw_format *made = workbook_add_format(m_workbook);
        if (grey)
            format_set_font_color(made, LXW_COLOR_GRAY);
        if (numberFormat)
            format_set_num_format(made, numberFormat);
        return made;
    }

    void makeFormats()
    {
        m_bold = workbook_add_format(m_workbook);
        format_set_bold(m_bold);
        for (const bool grey : {false, true}) {
            m_text[grey] = format(grey);
            m_date[grey] = format(grey, "yyyy-mm-dd");
            m_dateTime[grey] = format(grey, "yyyy-mm-dd hh:mm:ss");
            m_money[grey] = format(grey, moneyFormat);
        }
        m_boldMoney = workbook_add_format(m_workbook);
        format_set_bold(m_boldMoney);
        format_set_num_format(m_boldMoney, moneyFormat);
    }

    // Wide enough for the title and the longest value, within reason: a long remark
    // should not push the other columns off the screen. The texts widen their columns as
    // they are written.
    void widenAmount(const Receipt &receipt, std::optional<qint64> fen)
    {
        if (receipt.unreadableTotal)
            m_widths[TotalColumn]
                = std::max(m_widths[TotalColumn], displayWidth(*receipt.unreadableTotal));
        else if (fen)
            m_largest = std::max({m_largest, *fen, -*fen});
    }

    void setColumnWidths()
    {
        std::array<int, columnCount> widths = m_widths;
        const qint64 total = m_feed.totals().fen;
        const qint64 largest = std::max({m_largest, total, -total});
        // ¥, a minus sign, the grouped digits.
        widths[TotalColumn] = std::max(widths[TotalColumn], int(Money::format(largest).size()) + 2);
        widths[ReceiptDateColumn] = std::max(widths[ReceiptDateColumn], 10);
        widths[CreateDateColumn] = std::max(widths[CreateDateColumn], 19);
        widths[StatusColumn] = std::max(widths[StatusColumn], displayWidth(u"金额无法识别"));
        for (int column = 0; column < columnCount; ++column) {
            const double width = std::min(widths[size_t(column)], 50) + 2;
            note(worksheet_set_column(m_sheet, lxw_col_t(column), lxw_col_t(column), width,
                                      nullptr));
        }
    }

    void writeText(lxw_row_t row, int column, const QString &text, lxw_format *cellFormat)
    {
        if (text.isEmpty())
            return;
        // A column's text is often the one above it (the payee, the payment method): its
        // bytes and width are worked out once for the run.
        CellText &cell = m_cells[size_t(column)];
        if (!text.isSharedWith(cell.text) && text != cell.text) {
            cell.text = text;
            cell.bytes = excelText(text, &cell.cut);
            cell.width = displayWidth(text);
        }
        m_widths[size_t(column)] = std::max(m_widths[size_t(column)], cell.width);
        note(worksheet_write_string(m_sheet, row, lxw_col_t(column), cell.bytes.constData(),
                                    cellFormat));
        const bool cut = cell.cut;
        if (cut && m_cutCells)
            m_cutCells->append(u"%1（%2）"_s.arg(ExportFile::cellName(int(row), column),
                                                 ReceiptExport::columnTitles().at(column)));
    }

    void writeDate(lxw_row_t row, int column, const QDateTime &dateTime, bool withTime, bool grey)
    {
        if (!dateTime.isValid())
            return;
        lxw_datetime date = excelDate(dateTime, withTime);
        // Excel counts days from 1900 and ends with 9999: other years are written as text.
        if (date.year < 1900 || date.year > 9999) {
            QString text;
            appendDate(text, dateTime, withTime);
            writeText(row, column, text, m_text[grey]);
            return;
        }
        note(worksheet_write_datetime(m_sheet, row, lxw_col_t(column), &date,
                                      withTime ? m_dateTime[grey] : m_date[grey]));
    }

    // fen: the receipt's amount (Money::fenOf).
    void writeReceipt(lxw_row_t row, const Receipt &receipt, std::optional<qint64> fen)
    {
        const bool grey = receipt.voidReason.has_value();
        for (int column = 0; column < columnCount; ++column) {
            switch (column) {
            case ReceiptDateColumn:
                writeDate(row, column, receipt.receiptDate, false, grey);
                break;
            case CreateDateColumn:
                writeDate(row, column, receipt.createDate, true, grey);
                break;
            case TotalColumn:
                if (fen)
                    note(worksheet_write_number(m_sheet, row, lxw_col_t(column), double(*fen) / 100,
                                                m_money[grey]));
                else
                    writeText(row, column, receipt.unreadableTotal.value_or(QString()),
                              m_text[grey]);
                break;
            case StatusColumn:
                writeText(row, column, statusOf(receipt), m_text[grey]);
                break;
            default:
                if (const QString *text = plainText(receipt, column))
                    writeText(row, column, *text, m_text[grey]);
            }
        }
    }

    void writeTotal(lxw_row_t row)
    {
        writeText(row, ReceiptNoColumn, u"合计"_s, m_bold);
        const double value = double(m_feed.totals().fen) / 100;
        if (m_feed.given() == 0) {
            // A formula over no rows would name its own cell.
            note(worksheet_write_number(m_sheet, row, TotalColumn, value, m_boldMoney));
            writeHead(row + 1);
            return;
        }
        // SUMIF leaves out the voided rows and the amounts that are text.
        const QString last = QString::number(row); // the last receipt's row, counted from 1
        const QString status = columnLetter(StatusColumn), amount = columnLetter(TotalColumn);
        const QString formula = u"=SUMIF("_s + status + u"2:"_s + status + last + u",\"<>"_s
            + voidedStatus() + u"\","_s + amount + u"2:"_s + amount + last + u')';
        note(worksheet_write_formula_num(m_sheet, row, TotalColumn, formula.toUtf8().constData(),
                                         m_boldMoney, value));
        writeHead(row + 1);
    }

    // Under the total, the head of the book's record chain the rows were read from, as a
    // day report or a receipt's code names it: `quenta --verify --head` finds it again.
    void writeHead(lxw_row_t row)
    {
        const QString head = BookCare::storedHead();
        if (head.isEmpty())
            return;
        writeText(row, ReceiptNoColumn, headLabel(), m_text[0]);
        writeText(row, ReceiptNoColumn + 1, BookProof::shortHead(head), m_text[0]);
        m_headWritten = true;
    }
    bool m_headWritten = false;

    static constexpr const char *moneyFormat = "¥#,##0.00";

    struct CellText
    {
        QString text;
        QByteArray bytes;
        bool cut = false;
        int width = 0;
    };

    QString m_path;
    Feed &m_feed;
    QStringList *m_cutCells;
    std::array<CellText, columnCount> m_cells;
    std::array<int, columnCount> m_widths {};
    qint64 m_largest = 0;
    lxw_workbook *m_workbook = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    lxw_error m_error = LXW_NO_ERROR;
    lxw_format *m_bold = nullptr;
    lxw_format *m_boldMoney = nullptr;
    lxw_format *m_text[2] {};
    lxw_format *m_date[2] {};
    lxw_format *m_dateTime[2] {};
    lxw_format *m_money[2] {};
};

bool exportXlsx(const QString &path, Feed &feed, QStringList *cutCells, QString *error)
{
    return OutputFile::writeReplacing(
        path,
        [&](const QString &scratch, QString *reason) {
            if (cutCells)
                cutCells->clear();
            return XlsxWriter(scratch, feed, cutCells).write(reason);
        },
        error);
}

} // namespace

std::optional<ReceiptExport::Format> ReceiptExport::formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(u"csv"_s, Qt::CaseInsensitive) == 0)
        return Format::Csv;
    if (suffix.compare(u"xlsx"_s, Qt::CaseInsensitive) == 0)
        return Format::Xlsx;
    return std::nullopt;
}

const QStringList &ReceiptExport::columnTitles()
{
    static const QStringList titles = {
        u"收据单号"_s, u"收款日期"_s, u"交款单位"_s, u"收款金额"_s, u"收款事由"_s,
        u"其它说明"_s, u"备注信息"_s, u"收款方式"_s, u"收款人"_s,   u"核准"_s,
        u"会计"_s,     u"开单日期"_s, u"状态"_s,     u"作废原因"_s,
    };
    return titles;
}

bool ReceiptExport::write(const QString &path, const Source &source, ReceiptTotals *written,
                          QString *error, QStringList *cutCells, const Progress &progress)
{
    if (cutCells)
        cutCells->clear();
    QString reason;
    const std::optional<Format> format = formatOf(path);
    if (!format) {
        if (error)
            *error = u"只能导出为 .csv 或 .xlsx 文件：%1"_s.arg(QDir::toNativeSeparators(path));
        return false;
    }
    Feed feed(source, progress);
    const bool done = *format == Format::Csv ? exportCsv(path, feed, &reason)
                                             : exportXlsx(path, feed, cutCells, &reason);
    if (!done) {
        if (error)
            *error = feed.sourceFailed()
                ? feed.error()
                : u"无法写入 %1：%2"_s.arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    if (written)
        *written = feed.totals();
    return true;
}

bool ReceiptExport::write(const QString &path, const QList<Receipt> &receipts,
                          const QList<int> &rows, ReceiptTotals *written, QString *error,
                          QStringList *cutCells)
{
    qsizetype next = 0;
    const Source source = [&](QString *) {
        return next < rows.size() ? &receipts.at(rows.at(next++)) : nullptr;
    };
    return write(path, source, written, error, cutCells);
}

QString ReceiptExport::cutCellsNotice(const QStringList &cutCells)
{
    QStringList shown = cutCells.mid(0, 10);
    if (cutCells.size() > shown.size())
        shown.append(u"等 %1 个"_s.arg(cutCells.size()));
    return u"%1 个单元格的文字超过 Excel 单元格的上限（%2 个字符）或含有空字符，已被截断：%3"_s
        .arg(cutCells.size())
        .arg(ExportFile::cellTextLimit)
        .arg(shown.join(u"、"_s));
}
