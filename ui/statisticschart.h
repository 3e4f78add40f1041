// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptstatistics.h"

#include <QChartView>

// The bars of 收据统计: months side by side in calendar order; payers, reasons and
// payment methods as horizontal bars, the largest on top, the ten largest by name and
// the rest together as 其他.
class StatisticsChart : public QChartView
{
    Q_OBJECT

public:
    explicit StatisticsChart(QWidget *parent);

    // rows as ReceiptStatistics::compute gives them (largest total first).
    void show(const QList<ReceiptStatistics::Row> &rows, ReceiptStatistics::Grouping grouping);

    // The bars drawn, in the order the axis lists them, as "name|total in fen".
    QStringList bars() const { return m_bars; }

private:
    QStringList m_bars;
};
