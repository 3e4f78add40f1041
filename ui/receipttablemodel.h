// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptexport.h"
#include "receiptfilter.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

class AppStore;
struct Receipt;

// Adapts AppStore::receipts to the receipt list's table: thirteen columns, one row per
// receipt the search lets through, in the store's order. A voided receipt stays listed with its
// number, drawn grey and struck through, its reason as the tooltip and 已作废 in the last column.
// The store stays the owner of the rows; sorting here reorders the store's list itself, so every
// list screen and the print and edit actions see the same order.
class ReceiptTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // The export's columns up to 状态 (the status column was added after the columns of
    // the older lists, so theirs keep their places); 作废原因 is the tooltip here.
    using enum ReceiptExport::Column;
    static constexpr int ColumnCount = ReceiptExport::VoidReasonColumn;
    // The receipt id of a row, for keeping the selection as a set of ids.
    static constexpr int IdRole = Qt::UserRole + 1;

    explicit ReceiptTableModel(AppStore &store, QObject *parent);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Reorders AppStore::receipts (stable, so rows equal under this column keep the order
    // of the previous sort).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Shows only the receipts the filter finds; the store's list and order stay as they are.
    void setFilter(const ReceiptFilter &filter);
    // The rows of AppStore::receipts shown, in the order shown.
    const QList<int> &shownRows() const { return m_rows; }

    // What a cell shows: the local receipt day, the amount's stored text, the creation
    // time in UTC with its offset, 已作废 for a voided receipt.
    static QString cellText(const Receipt &receipt, int column);

private:
    void updateRows();

    AppStore &m_store;
    ReceiptFilter m_filter;
    QList<int> m_rows;
};
