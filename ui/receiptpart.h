// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QWidget>

#include <optional>
#include <utility>

class AppStore;
class QTableView;
class ReceiptList;
class ReceiptTableModel;

// The receipt table of one list screen: its ReceiptList with the selection bound to
// AppStore::selection, sorted by header clicks. While it is on screen the store's
// selection holds only rows it shows, and a row is highlighted exactly when print, edit
// and delete act on it.
class ReceiptPart : public QWidget
{
    Q_OBJECT

public:
    explicit ReceiptPart(QWidget *parent);

    QTableView *tableView() const { return m_tableView; }
    // The rows shown: the range, the search and the order.
    ReceiptList &list() const { return *m_list; }

    // Shows the receipts of a date range (bounds as the store keeps them), reading the
    // book only when the range or the book changed since it was last shown.
    void showRange(const QString &begin, const QString &end);
    // Shows only the receipts the search text finds (all for an empty text). Selected
    // receipts it hides leave the selection, so no action reaches a row out of sight.
    void setSearchText(const QString &text);
    QString searchText() const { return m_searchText; }
    // Whether the user sorted the list by a column header; if not, it is in the order of
    // the store's load (highest number first).
    bool isSortedByUser() const { return m_userSort.has_value(); }
    // The rows shown that are selected, in the order shown.
    QList<int> selectedShownRows() const;

Q_SIGNALS:
    // The rows shown changed: a read, a sort, a search or a change of the book.
    void shownRowsChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void onViewSelectionChanged();
    void onStoreSelectionChanged();
    void selectStoredSelection();
    // Each column as wide as its usual values (see columnRooms in the source), the room
    // beyond shared among the names and reasons; once the user has dragged a column, the
    // widths are the user's.
    void setColumnWidths();
    void onRowsChanged();
    // Drops from the store's selection the receipts this list does not show.
    void keepSelectionToShownRows();

    AppStore &m_store;
    ReceiptList *m_list;
    ReceiptTableModel *m_model;
    QTableView *m_tableView;
    // Set while the view's selection is being made to match the store, so that change
    // is not written back as the user's.
    bool m_applyingSelection = false;
    // The column and order the user sorted by, kept over reloads; none until a click.
    std::optional<std::pair<int, Qt::SortOrder>> m_userSort;
    bool m_settingWidths = false;
    bool m_userSizedColumns = false;
    QString m_searchText;
};
