// SPDX-License-Identifier: GPL-3.0-or-later
#include "statisticsexport.h"

#include "exportfile.h"
#include "money.h"
#include "outputfile.h"
#include "receiptexport.h"

#include <QDir>
#include <QFile>

#include <xlsxwriter.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

struct Table
{
    QString groupTitle;
    const QList<ReceiptStatistics::Row> &rows;
    bool hasUnreadable = false;
    ReceiptStatistics::Row sum;

    Table(const QString &title, const QList<ReceiptStatistics::Row> &groups)
        : groupTitle(title)
        , rows(groups)
    {
        for (const ReceiptStatistics::Row &row : rows) {
            sum.count += row.count;
            sum.fen += row.fen;
            sum.unreadable += row.unreadable;
        }
        hasUnreadable = sum.unreadable > 0;
    }

    QStringList titles() const
    {
        QStringList titles = {groupTitle, u"张数"_s, u"合计"_s};
        if (hasUnreadable)
            titles.append(u"金额无法识别"_s);
        return titles;
    }
};

QByteArray csvOf(const Table &table)
{
    QString text(QChar(0xFEFF));
    const QStringList titles = table.titles();
    for (qsizetype column = 0; column < titles.size(); ++column) {
        if (column > 0)
            text += u',';
        ExportFile::appendCsvText(text, titles.at(column));
    }
    text += u"\r\n"_s;
    const auto appendRow = [&](const QString &name, const ReceiptStatistics::Row &row) {
        ExportFile::appendCsvText(text, name);
        text += u',' + QString::number(row.count) + u',' + Money::format(row.fen, false);
        if (table.hasUnreadable)
            text += u',' + QString::number(row.unreadable);
        text += u"\r\n"_s;
    };
    for (const ReceiptStatistics::Row &row : table.rows)
        appendRow(StatisticsExport::groupName(row), row);
    appendRow(u"合计"_s, table.sum);
    return text.toUtf8();
}

bool writeCsv(const QString &path, const Table &table, QString *error)
{
    return OutputFile::writeReplacing(
        path,
        [&table](const QString &scratch, QString *why) {
            QFile file(scratch);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || file.write(csvOf(table)) < 0 || !file.flush()) {
                *why = file.errorString();
                return false;
            }
            return true;
        },
        error);
}

bool writeXlsx(const QString &path, const Table &table, QStringList *cutCells, QString *error)
{
    lxw_workbook_options options {};
    options.constant_memory = LXW_TRUE; // texts inline, as in the lists' workbooks
    lxw_workbook *workbook = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    lxw_worksheet *sheet = workbook ? workbook_add_worksheet(workbook, "收据统计") : nullptr;
    if (!sheet) {
        if (workbook)
            workbook_close(workbook);
        *error = u"无法建立 Excel 工作簿（临时文件夹不可写？）"_s;
        return false;
    }
    lxw_error failure = LXW_NO_ERROR;
    const auto note = [&failure](lxw_error result) {
        if (failure == LXW_NO_ERROR)
            failure = result;
    };
    const auto text
        = [&](lxw_row_t row, lxw_col_t column, const QString &value, lxw_format *format) {
              bool cut = false;
              note(worksheet_write_string(sheet, row, column,
                                          ExportFile::excelText(value, &cut).constData(), format));
              if (cut && cutCells)
                  cutCells->append(u"%1（%2）"_s.arg(ExportFile::cellName(int(row), int(column)),
                                                     table.titles().at(column)));
          };
    lxw_format *bold = workbook_add_format(workbook);
    format_set_bold(bold);
    lxw_format *money = workbook_add_format(workbook);
    format_set_num_format(money, "¥#,##0.00");
    lxw_format *boldMoney = workbook_add_format(workbook);
    format_set_bold(boldMoney);
    format_set_num_format(boldMoney, "¥#,##0.00");

    const QStringList titles = table.titles();
    int nameWidth = ExportFile::displayWidth(titles.constFirst());
    for (const ReceiptStatistics::Row &row : table.rows)
        nameWidth = std::max(nameWidth, ExportFile::displayWidth(StatisticsExport::groupName(row)));
    const int totalWidth = int(Money::format(std::max(table.sum.fen, -table.sum.fen)).size()) + 4;
    note(worksheet_set_column(sheet, 0, 0, std::min(nameWidth, 60) + 2, nullptr));
    note(worksheet_set_column(sheet, 1, 1, 10, nullptr));
    note(worksheet_set_column(sheet, 2, 2, std::max(totalWidth, 12), nullptr));
    note(worksheet_set_column(sheet, 3, 3, 14, nullptr));
    worksheet_freeze_panes(sheet, 1, 0);
    for (qsizetype column = 0; column < titles.size(); ++column)
        text(0, lxw_col_t(column), titles.at(column), bold);

    lxw_row_t row = 1;
    for (const ReceiptStatistics::Row &group : table.rows) {
        text(row, 0, StatisticsExport::groupName(group), nullptr);
        note(worksheet_write_number(sheet, row, 1, double(group.count), nullptr));
        note(worksheet_write_number(sheet, row, 2, double(group.fen) / 100, money));
        if (table.hasUnreadable)
            note(worksheet_write_number(sheet, row, 3, double(group.unreadable), nullptr));
        ++row;
    }
    text(row, 0, u"合计"_s, bold);
    const QList<std::pair<lxw_col_t, double>> sums = {
        {1, double(table.sum.count)},
        {2, double(table.sum.fen) / 100},
        {3, double(table.sum.unreadable)},
    };
    for (const auto &[column, value] : sums) {
        if (column == 3 && !table.hasUnreadable)
            continue;
        lxw_format *format = column == 2 ? boldMoney : bold;
        if (table.rows.isEmpty()) {
            // A formula over no rows would name its own cell.
            note(worksheet_write_number(sheet, row, column, value, format));
            continue;
        }
        const QString letter(QChar(u'A' + int(column)));
        const QString formula
            = u"=SUM("_s + letter + u"2:"_s + letter + QString::number(row) + u')';
        note(worksheet_write_formula_num(sheet, row, column, formula.toUtf8().constData(), format,
                                         value));
    }
    const lxw_error closed = workbook_close(workbook);
    note(closed);
    if (failure != LXW_NO_ERROR) {
        *error = QString::fromUtf8(lxw_strerror(failure));
        return false;
    }
    return true;
}

} // namespace

QString StatisticsExport::groupName(const ReceiptStatistics::Row &row)
{
    return row.key.isEmpty() ? u"（未填写）"_s : row.key;
}

bool StatisticsExport::write(const QString &path, const QString &groupTitle,
                             const QList<ReceiptStatistics::Row> &rows, QString *error,
                             QStringList *cutCells)
{
    if (cutCells)
        cutCells->clear();
    const std::optional<ReceiptExport::Format> format = ReceiptExport::formatOf(path);
    if (!format) {
        if (error)
            *error = u"只能导出为 .csv 或 .xlsx 文件：%1"_s.arg(QDir::toNativeSeparators(path));
        return false;
    }
    const Table table(groupTitle, rows);
    QString reason;
    const bool done = *format == ReceiptExport::Format::Csv
        ? writeCsv(path, table, &reason)
        : OutputFile::writeReplacing(
            path,
            [&table, cutCells](const QString &scratch, QString *why) {
                if (cutCells)
                    cutCells->clear();
                return writeXlsx(scratch, table, cutCells, why);
            },
            &reason);
    if (!done && error)
        *error = u"无法写入 %1：%2"_s.arg(QDir::toNativeSeparators(path), reason);
    return done;
}
