// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptexport.h"
#include "receiptlist.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

struct Receipt;

// Adapts a ReceiptList to the receipt list's table: thirteen columns, one row per receipt
// the list shows, in its order; a row is read from the book when it is drawn. A voided
// receipt stays listed with its number, drawn grey and struck through, its reason as the
// tooltip and 已作废 in the last column. Sorting sorts the list.
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

    ReceiptTableModel(ReceiptList &list, QObject *parent);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Sorts the list by the column (stable: rows equal under it keep the book's order).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // What a cell shows: the local receipt day, the amount with two decimals (grouped, as
    // every screen shows it; an unreadable one as stored), the local creation time, 已作废
    // for a voided receipt.
    static QString cellText(const Receipt &receipt, int column);

private:
    ReceiptList &m_list;
};
