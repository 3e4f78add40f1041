// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QComboBox;
class QDateEdit;
class QLabel;
class QTableWidget;

// 收据统计: the takings of a date range grouped by month, 交款单位, 收款事由 or 收款方式,
// largest total first. Reads the book each time it is shown or its choices change;
// voided receipts never count.
class StatisticsView : public QWidget
{
    Q_OBJECT

public:
    explicit StatisticsView(QWidget *parent);

    QTableWidget *table() const { return m_table; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    enum class Preset { Month, Year, All };
    void applyPreset(Preset preset);
    void refresh();

    QDateEdit *m_beginDateEdit;
    QDateEdit *m_endDateEdit;
    QComboBox *m_groupingBox;
    QTableWidget *m_table;
    QLabel *m_errorLabel;
    bool m_rangeSet = false;
};
