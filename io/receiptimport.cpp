// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptimport.h"

#include "amountincapitals.h"
#include "clock.h"
#include "importfile.h"
#include "money.h"
#include "receiptexport.h"
#include "receiptnumber.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <array>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

using ImportFile::Cell;
using namespace ReceiptExport;

// The written amount in capitals: not a column of the export, but of sheets made by hand.
constexpr int TotalBigColumn = columnCount;
constexpr int knownColumns = columnCount + 1;

QString totalBigTitle()
{
    return u"金额（大写）"_s;
}

QString titleOf(int column)
{
    return column == TotalBigColumn ? totalBigTitle() : columnTitles().at(column);
}

// The amount of a cell in fen, or why it is none.
struct Amount
{
    std::optional<qint64> fen;
    QString problem;
};

Amount amountOf(const Cell &cell)
{
    QString text = cell.text.trimmed();
    if (cell.kind == Cell::Kind::Number) {
        // A number cell holds the double the spreadsheet computed ("1234.5599999999999"):
        // its 15 significant digits are what the spreadsheet shows.
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return {std::nullopt, u"收款金额“%1”不是金额"_s.arg(cell.text)};
        if (std::fabs(value) >= 1e12)
            return {std::nullopt, u"收款金额 %1 超过上限 999,999,999,999.99"_s.arg(cell.text)};
        text = QString::number(value, 'f',
                               15 - std::max(1, int(std::log10(std::fabs(value) + 1)) + 1));
        while (text.contains(u'.') && (text.endsWith(u'0') || text.endsWith(u'.')))
            text.chop(1);
    }
    QString plain = text;
    if (plain.startsWith(u'¥') || plain.startsWith(u'￥'))
        plain.remove(0, 1);
    if (plain.contains(u',')) {
        // A comma is taken for a thousands separator only where it is one: the whole part
        // in groups of three after a first group of one to three digits. In a file written
        // with the decimal comma ("1,50", "0,125") dropping it would make the amount a
        // hundred or a thousand times larger, so any other comma refuses the row.
        static const QRegularExpression grouped(u"^-?[1-9]\\d{0,2}(?:,\\d{3})+(?:\\.\\d+)?$"_s);
        if (!grouped.match(plain).hasMatch())
            return {std::nullopt,
                    u"收款金额“%1”中的逗号不是千位分隔符（应是 1,234.50 这样每三位一个逗号）；"
                    u"若逗号是小数点，请改成“.”"_s.arg(cell.text)};
        plain.remove(u',');
    }
    static const QRegularExpression pattern(u"^(-?)(\\d+)(?:\\.(\\d+))?$"_s);
    const QRegularExpressionMatch match = pattern.match(plain);
    if (!match.hasMatch())
        return {std::nullopt, u"收款金额“%1”不是金额"_s.arg(cell.text)};
    QString decimals = match.captured(3);
    while (decimals.size() > 2 && decimals.endsWith(u'0'))
        decimals.chop(1);
    if (decimals.size() > 2)
        return {std::nullopt, u"收款金额“%1”的小数超过两位"_s.arg(text)};
    const QString whole = match.captured(2);
    QString digits = whole;
    while (digits.size() > 1 && digits.startsWith(u'0'))
        digits.remove(0, 1);
    if (digits.size() > 12)
        return {std::nullopt, u"收款金额“%1”超过上限 999,999,999,999.99"_s.arg(text)};
    qint64 fen = digits.toLongLong() * 100 + decimals.leftJustified(2, u'0').toLongLong();
    if (match.captured(1) == u"-"_s)
        fen = -fen;
    return {fen, {}};
}

// A date (and time) of a cell: text in the usual forms, or an Excel serial number.
std::optional<QDateTime> dateOf(const Cell &cell, bool countsFrom1904)
{
    if (cell.kind == Cell::Kind::Number) {
        bool ok = false;
        const double serial = cell.text.toDouble(&ok);
        if (!ok || !std::isfinite(serial) || serial < 1 || serial > 2958465)
            return std::nullopt;
        qint64 days = qint64(std::floor(serial));
        const qint64 seconds = qint64(std::llround((serial - double(days)) * 86400));
        QDate date;
        if (countsFrom1904) {
            date = QDate(1904, 1, 1).addDays(days);
        } else {
            // Excel counts a 29 February 1900 that never was.
            if (days == 60)
                return std::nullopt;
            date = QDate(1899, 12, 31).addDays(days > 60 ? days - 1 : days);
        }
        return QDateTime(date, QTime(0, 0).addSecs(std::min<qint64>(seconds, 86399)));
    }
    static const QRegularExpression pattern(
        u"^(\\d{4})[-/.年](\\d{1,2})[-/.月](\\d{1,2})日?(?:[ T]+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?$"_s);
    const QRegularExpressionMatch match = pattern.match(cell.text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                     match.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

// The rows of a CSV file or workbook as receipts.
class TableSource : public BookImport::Source
{
public:
    TableSource(const QString &path, std::unique_ptr<ImportFile::Reader> reader,
                qint64 numberLength)
        : m_name(QFileInfo(path).fileName())
        , m_reader(std::move(reader))
        , m_numberLength(numberLength)
    {
        m_columns.fill(-1);
    }

    bool next(BookImport::Item *item, QList<BookImport::Problem> *problems) override
    {
        ImportFile::Row row;
        if (!m_headerRead) {
            if (!m_reader->next(&row)) {
                problems->append({0,
                                  m_reader->error().isEmpty() ? u"文件中没有表头，也没有收据"_s
                                                              : m_reader->error()});
                return false;
            }
            m_headerRead = true;
            if (!readHeader(row, problems))
                return false;
        }
        while (m_reader->next(&row)) {
            const Cell &first = cell(row, ReceiptNoColumn);
            if (first.kind == Cell::Kind::Text && first.text.trimmed() == u"合计"_s) {
                checkTotal(row, problems);
                continue;
            }
            // The chain head an export writes under its total is no receipt.
            if (first.kind == Cell::Kind::Text
                && first.text.trimmed() == ReceiptExport::headLabel())
                continue;
            QString problem;
            Receipt receipt = receiptOf(row, &problem);
            if (!problem.isEmpty() || !BookImport::checkReceipt(receipt, &problem)) {
                problems->append({row.number, problem});
                continue;
            }
            if (!receipt.voidReason) {
                if (const std::optional<qint64> fen = Money::fenOf(receipt))
                    m_fen += *fen;
            }
            *item = BookImport::Item {row.number, std::move(receipt), {}, {}};
            return true;
        }
        if (!m_reader->error().isEmpty())
            problems->append({0, m_reader->error()});
        return false;
    }

    QString fileName() const override { return m_name; }
    QStringList notes() const override
    {
        if (m_ignored.isEmpty())
            return {};
        return {u"不认识的列，没有导入：%1"_s.arg(m_ignored.join(u"、"_s))};
    }
    int percent() const override
    {
        const qint64 size = m_reader->size();
        return size > 0 ? int(std::min<qint64>(100, m_reader->position() * 100 / size)) : -1;
    }

private:
    bool readHeader(const ImportFile::Row &row, QList<BookImport::Problem> *problems)
    {
        for (qsizetype i = 0; i < row.cells.size(); ++i) {
            QString title = row.cells.at(i).text.trimmed();
            if (title.isEmpty())
                continue;
            title.replace(u'(', u'（').replace(u')', u'）');
            int column = -1;
            for (int known = 0; known < knownColumns; ++known) {
                if (titleOf(known) == title)
                    column = known;
            }
            if (column < 0) {
                m_ignored.append(title);
                continue;
            }
            if (m_columns[size_t(column)] >= 0) {
                problems->append({row.number, u"列“%1”出现了两次"_s.arg(title)});
                return false;
            }
            m_columns[size_t(column)] = int(i);
        }
        QStringList missing;
        for (const int required : {ReceiptNoColumn, ReceiptDateColumn, PayerColumn, TotalColumn}) {
            if (m_columns[size_t(required)] < 0)
                missing.append(titleOf(required));
        }
        if (!missing.isEmpty()) {
            problems->append(
                {row.number,
                 u"表头缺少必需的列：%1（第 1 行应是导出文件的表头；"
                 u"CSV 文件的编码应是 UTF-8 或 GB18030）"_s.arg(missing.join(u"、"_s))});
            return false;
        }
        return true;
    }

    const Cell &cell(const ImportFile::Row &row, int column) const
    {
        static const Cell empty;
        const int at = m_columns[size_t(column)];
        return at >= 0 && at < row.cells.size() ? row.cells.at(at) : empty;
    }

    Receipt receiptOf(const ImportFile::Row &row, QString *problem) const
    {
        Receipt r;
        for (int column = 0; column < knownColumns; ++column) {
            const Cell &c = cell(row, column);
            if (c.kind == Cell::Kind::Error) {
                *problem = u"%1：%2"_s.arg(titleOf(column), c.text);
                return r;
            }
        }
        const Cell &number = cell(row, ReceiptNoColumn);
        r.receiptNo = ReceiptNumber::trimmed(number.text);
        if (number.kind != Cell::Kind::Number) {
            // "101" typed into a text cell is 0000101, as the number cell 101 is.
            r.receiptNo = ReceiptNumber::padded(r.receiptNo, m_numberLength);
        } else {
            bool ok = false;
            const double value = r.receiptNo.toDouble(&ok);
            if (!ok || value < 0 || value > 1e15 || value != std::floor(value)) {
                *problem = u"收据单号 %1 不是整数"_s.arg(r.receiptNo);
                return r;
            }
            r.receiptNo
                = QString::number(qint64(value))
                      .rightJustified(
                          std::min<qint64>(m_numberLength, BookImport::numberLengthLimit), u'0');
        }
        const Cell &date = cell(row, ReceiptDateColumn);
        if (!date.isEmpty()) {
            const std::optional<QDateTime> day = dateOf(date, m_reader->countsFrom1904());
            if (!day) {
                *problem = u"收款日期“%1”不是日期"_s.arg(date.text);
                return r;
            }
            r.receiptDate = QDateTime(day->date(), QTime(0, 0));
        }
        const Cell &created = cell(row, CreateDateColumn);
        if (!created.isEmpty()) {
            const std::optional<QDateTime> when = dateOf(created, m_reader->countsFrom1904());
            if (!when) {
                *problem = u"开单日期“%1”不是日期"_s.arg(created.text);
                return r;
            }
            r.createDate = *when;
        }
        const Cell &total = cell(row, TotalColumn);
        if (total.isEmpty()) {
            *problem = u"必填：收款金额"_s;
            return r;
        }
        const Amount amount = amountOf(total);
        if (!amount.fen) {
            *problem = amount.problem;
            return r;
        }
        r.total = double(*amount.fen) / 100;
        const std::pair<QString *, int> texts[] = {
            {&r.payer, PayerColumn},       {&r.reason1, Reason1Column},
            {&r.reason2, Reason2Column},   {&r.remark, RemarkColumn},
            {&r.paytype, PaytypeColumn},   {&r.payee, PayeeColumn},
            {&r.approve, ApproveColumn},   {&r.accountant, AccountantColumn},
            {&r.totalBig, TotalBigColumn},
        };
        for (const auto &[field, column] : texts)
            *field = cell(row, column).text;
        if (r.totalBig.isEmpty())
            r.totalBig = amountInCapitals(amountText(r.total));
        const QString status = cell(row, StatusColumn).text.trimmed();
        const QString voidReason = cell(row, VoidReasonColumn).text;
        if (status == u"已作废"_s) {
            r.voidReason = voidReason;
        } else if (!status.isEmpty() && status != u"金额无法识别"_s) {
            *problem = u"状态“%1”不认识：只能是空或“已作废”"_s.arg(status);
        } else if (!voidReason.isEmpty()) {
            *problem = u"有作废原因，但状态不是“已作废”"_s;
        }
        return r;
    }

    void checkTotal(const ImportFile::Row &row, QList<BookImport::Problem> *problems)
    {
        const Cell &total = cell(row, TotalColumn);
        if (total.isEmpty())
            return;
        const Amount amount = amountOf(total);
        if (!amount.fen)
            problems->append({row.number, u"合计行："_s + amount.problem});
        else if (*amount.fen != m_fen)
            problems->append({row.number,
                              u"合计 %1 与上面各行（未作废的）之和 %2 不符"_s.arg(
                                  Money::format(*amount.fen), Money::format(m_fen))});
    }

    QString m_name;
    std::unique_ptr<ImportFile::Reader> m_reader;
    qint64 m_numberLength;
    bool m_headerRead = false;
    std::array<int, knownColumns> m_columns {};
    QStringList m_ignored;
    qint64 m_fen = 0;
};

} // namespace

std::unique_ptr<BookImport::Source> ReceiptImport::open(const QString &path, QString *error,
                                                        qint64 numberLength)
{
    std::unique_ptr<BookImport::Source> source;
    if (QFileInfo(path).suffix().compare(u"db"_s, Qt::CaseInsensitive) == 0) {
        source = BookImport::openBook(path, error);
    } else {
        std::unique_ptr<ImportFile::Reader> reader = ImportFile::open(path, error);
        if (reader)
            source = std::make_unique<TableSource>(path, std::move(reader), numberLength);
    }
    if (source)
        source->setDigest(BookImport::digestOf(path));
    return source;
}
