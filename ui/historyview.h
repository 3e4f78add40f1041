// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipthistory.h"

#include <QDialog>
#include <QList>
#include <QSet>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class Toast;

// 操作记录: what was done to the receipts, newest first (ReceiptHistory), filtered by
// receipt number and by day, or only one receipt's. A deleted receipt can be brought back
// from its 删除 row. One per main window, made on first use and kept while the window
// lives, so its filters stay as left; it does not hold up the window behind it.
class HistoryView : public QDialog
{
    Q_OBJECT

public:
    enum Column {
        TimeColumn,
        ActionColumn,
        ReceiptNoColumn,
        PayerColumn,
        TotalColumn,
        DetailColumn,
        ColumnCount
    };

    // The history window of `window`'s top-level window, shown and raised, listing every
    // receipt (showAll) or one receipt (showReceipt).
    static HistoryView *showAll(QWidget *window);
    static HistoryView *showReceipt(QWidget *window, const QString &receiptId);

    // Reads the history again with the filters as they are.
    void reload();
    // Puts back the receipt of the selected 删除 row; told in a notification either way.
    void restoreSelected();

    QTableWidget *table() const { return m_table; }
    const QList<HistoryEntry> &entries() const { return m_entries; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    explicit HistoryView(QWidget *window);
    static HistoryView *of(QWidget *window);
    void present();
    void setReceiptScope(const QString &receiptId);
    std::optional<HistoryEntry> selectedEntry() const;
    void updateRestoreButton();

    QLineEdit *m_searchEdit;
    QCheckBox *m_fromCheck;
    QDateEdit *m_fromEdit;
    QCheckBox *m_toCheck;
    QDateEdit *m_toEdit;
    QLabel *m_scopeLabel;
    QPushButton *m_showAllButton;
    QTableWidget *m_table;
    QLabel *m_statusLabel;
    QPushButton *m_restoreButton;
    Toast *m_successToast;
    Toast *m_errorToast;
    // Only this receipt's rows when set (查看历史): by id, since a deleted receipt's
    // number may be given again to another.
    QString m_receiptId;
    QList<HistoryEntry> m_entries;
    // The 删除 rows listed with a later 恢复 of their receipt.
    QSet<qint64> m_restoredDeletions;
};
