// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QPushButton;
class QTableWidget;

// 收据类别 on the receipt-number screen: the book's series (the default first) with their
// prefixes, lengths and next numbers, and 添加类别… to add one.
class SeriesSection : public QWidget
{
    Q_OBJECT

public:
    explicit SeriesSection(QWidget *parent);

protected:
    // The next numbers as they are when the screen is shown again.
    void showEvent(QShowEvent *event) override;

private:
    void showSeries();
    void addSeries();

    QTableWidget *m_table;
    QPushButton *m_addButton;
};
