// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptstatistics.h"

#include <QWidget>

#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableWidget;
class StatisticsChart;
class Toast;

// 收据统计: the takings of a date range grouped by month (in calendar order), 交款单位,
// 收款事由 or 收款方式 (largest total first; a header click sorts otherwise), as a table and as
// bars, with the sum of all groups under them and 导出… to write the table to an Excel or CSV file.
// Reads the book each time it is shown or its choices change; voided receipts never count.
class StatisticsView : public QWidget
{
    Q_OBJECT

public:
    explicit StatisticsView(QWidget *parent);

    QTableWidget *table() const { return m_table; }
    StatisticsChart *chart() const { return m_chart; }
    // Asks for the file and writes the groups shown; tells how it went.
    void exportShown();

protected:
    void showEvent(QShowEvent *event) override;

private:
    enum class Preset { Month, Year, All };
    void applyPreset(Preset preset);
    void refresh();
    QString groupTitle() const;

    QDateEdit *m_beginDateEdit;
    QDateEdit *m_endDateEdit;
    QComboBox *m_groupingBox;
    QTableWidget *m_table;
    StatisticsChart *m_chart;
    QLabel *m_errorLabel;
    QLabel *m_totalsLabel;
    QPushButton *m_exportButton;
    Toast *m_successToast;
    Toast *m_errorToast;
    QList<ReceiptStatistics::Row> m_rows;
    bool m_rangeSet = false;
    // The grouping the table was last filled for: a new one resets the sort order.
    std::optional<ReceiptStatistics::Grouping> m_shownGrouping;
};
