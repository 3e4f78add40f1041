// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "appstore.h"

#include <QDateTime>
#include <QWidget>

class ListFooter;
class QDateEdit;
class QLabel;
class Toast;
class QPushButton;
class ReceiptList;
class ReceiptPart;
class SearchField;

// The date bar of a receipt list: the range pickers and the print, edit, delete and void
// actions on the selected receipt(s).
class DatePart : public QWidget
{
    Q_OBJECT

public:
    DatePart(ReceiptList &list, QWidget *parent);

    // Shows the days of a range set from elsewhere, without reporting them as picks.
    void showRange(const QDateTime &begin, const QDateTime &end);
    SearchField *searchField() const { return m_searchField; }

    void print();
    // The print preview of the one receipt selected, read from the book first.
    void preview();
    // Only for one selected receipt that is not voided: a list of several would open any
    // one of them, and a voided receipt cannot be changed.
    bool canEdit() const;
    void edit();
    // Asks first; on 删除 every selected receipt goes.
    void deleteSelected();
    // Voids the selected receipts, asking why; or, when all are voided, undoes that.
    void voidSelected();

Q_SIGNALS:
    void datePicked(AppStore::RangeBound bound, QDate date);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void updateButtons();

    AppStore &m_store;
    ReceiptList *m_list;
    QDateEdit *m_beginDateEdit;
    QDateEdit *m_endDateEdit;
    QPushButton *m_printButton;
    QPushButton *m_editButton;
    QPushButton *m_deleteButton;
    QPushButton *m_voidButton;
    SearchField *m_searchField;
    Toast *m_errorToast;
};

// One receipt list screen ("今天收据" … "全部收据"). Each time it is shown it takes the
// date range of the current sidebar destination and loads that range; the pickers then
// narrow or widen it. Each list row of the sidebar owns one.
class ListView : public QWidget
{
    Q_OBJECT

public:
    explicit ListView(QWidget *parent);

    QDateTime beginDate() const { return m_beginDate; }
    QDateTime endDate() const { return m_endDate; }
    // 导出… of the list: what it shows, in the order shown.
    void exportShown();
    // Puts the keyboard in the table.
    void focusTable();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void applyPreset();
    // 打印, 修改, 作废 and 查看历史 on the selected row(s), at `pos` of the table.
    void showContextMenu(const QPoint &pos);
    void onDatePicked(AppStore::RangeBound bound, QDate date);

    AppStore &m_store;
    // The held bounds: the pickers show their days, and a picked day keeps the bound's
    // time of day (00:00:00 or 23:59:59 from the preset).
    QDateTime m_beginDate;
    QDateTime m_endDate;
    ReceiptPart *m_receiptPart;
    DatePart *m_datePart;
    ListFooter *m_footer;
    QLabel *m_loadErrorLabel;
};
