// SPDX-License-Identifier: GPL-3.0-or-later
#include "statisticschart.h"

#include "statisticsexport.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QHorizontalBarSeries>
#include <QLocale>
#include <QValueAxis>

#include <algorithm>

using namespace Qt::StringLiterals;
using Grouping = ReceiptStatistics::Grouping;

namespace {

constexpr qsizetype namedBars = 10;

// The groups as bars: months in calendar order; otherwise the largest ones, then 其他.
QList<ReceiptStatistics::Row> barsOf(QList<ReceiptStatistics::Row> rows, Grouping grouping)
{
    if (grouping == Grouping::Month) {
        std::sort(rows.begin(), rows.end(),
                  [](const auto &a, const auto &b) { return a.key < b.key; });
        return rows;
    }
    if (rows.size() <= namedBars + 1)
        return rows;
    ReceiptStatistics::Row rest;
    rest.key = u"其他"_s;
    for (qsizetype i = namedBars; i < rows.size(); ++i) {
        rest.count += rows.at(i).count;
        rest.fen += rows.at(i).fen;
    }
    rows.resize(namedBars);
    rows.append(rest);
    return rows;
}

} // namespace

StatisticsChart::StatisticsChart(QWidget *parent)
    : QChartView(new QChart, parent)
{
    setObjectName(u"statisticsChart"_s);
    setAccessibleName(u"收据统计图"_s);
    setRenderHint(QPainter::Antialiasing);
    chart()->legend()->hide();
    chart()->setMargins(QMargins(4, 4, 4, 4));
    chart()->setBackgroundRoundness(0);
    // The axis groups its figures in threes, as every amount on screen is grouped
    // (40,000,000, not 40000000), in whichever locale the program runs: the chart formats
    // its labels by its own locale only when told to, and the C locale omits grouping.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    chart()->setLocale(locale);
    chart()->setLocalizeNumbers(true);
}

void StatisticsChart::show(const QList<ReceiptStatistics::Row> &rows, Grouping grouping)
{
    QChart *chart = this->chart();
    chart->removeAllSeries();
    // A removed axis is the caller's to delete.
    for (QAbstractAxis *axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    // Amounts in yuan as the axis draws them; the exact sums are in the table.
    QList<ReceiptStatistics::Row> bars = barsOf(rows, grouping);
    const bool horizontal = grouping != Grouping::Month;
    // A horizontal axis lists its first category at the bottom: the largest goes on top.
    if (horizontal)
        std::reverse(bars.begin(), bars.end());

    auto *set = new QBarSet(u"合计"_s);
    set->setColor(QColor(0x2f, 0x6f, 0xb3));
    // Months of one year are named by their month alone; the axis has no room for more.
    const bool oneYear = grouping == Grouping::Month && !bars.isEmpty()
        && std::all_of(bars.cbegin(), bars.cend(), [&](const ReceiptStatistics::Row &row) {
               return row.key.left(4) == bars.constFirst().key.left(4);
           });
    QStringList categories;
    m_bars.clear();
    double largest = 0;
    double smallest = 0; // refunds entered as negative amounts
    for (const ReceiptStatistics::Row &row : bars) {
        const QString name = StatisticsExport::groupName(row);
        // The axis shows a long payer cut short; the table has it whole.
        if (oneYear && row.key.size() == 7)
            categories.append(QString::number(row.key.mid(5).toInt()) + u'月');
        else
            categories.append(name.size() > 12 ? name.left(11) + u'…' : name);
        const double yuan = double(row.fen) / 100;
        set->append(yuan);
        largest = std::max(largest, yuan);
        smallest = std::min(smallest, yuan);
        m_bars.append(name + u'|' + QString::number(row.fen));
    }
    QAbstractBarSeries *series = horizontal ? static_cast<QAbstractBarSeries *>(
                                                  new QHorizontalBarSeries)
                                            : new QBarSeries;
    series->append(set);
    // One or two bars stay bars, not blocks that fill the chart.
    series->setBarWidth(bars.size() < 3 ? 0.3 : 0.6);
    chart->addSeries(series);

    auto *names = new QBarCategoryAxis;
    names->append(categories);
    if (!horizontal && !oneYear && categories.size() > 8)
        names->setLabelsAngle(-60);
    auto *values = new QValueAxis;
    values->setLabelFormat(u"%.0f"_s);
    values->setRange(smallest * 1.05, largest > 0 || smallest < 0 ? largest * 1.05 : 1);
    values->applyNiceNumbers();
    values->setTitleText(u"合计（元）"_s);
    chart->addAxis(names, horizontal ? Qt::AlignLeft : Qt::AlignBottom);
    chart->addAxis(values, horizontal ? Qt::AlignBottom : Qt::AlignLeft);
    series->attachAxis(names);
    series->attachAxis(values);
}
