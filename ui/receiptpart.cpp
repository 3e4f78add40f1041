// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptpart.h"

#include "appstore.h"
#include "receiptbook.h"
#include "receiptcelldelegate.h"
#include "receiptdraft.h"
#include "receiptlist.h"
#include "receipttablemodel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
// The rows the columns are fitted to: those on screen and the ones just below.
constexpr int fitRows = 100;
// Rows in or out at once that a list takes without fitting its columns again.
constexpr int smallChange = 20;
} // namespace

ReceiptPart::ReceiptPart(QWidget *parent)
    : QWidget(parent)
    , m_store(AppStore::shared())
    , m_list(new ReceiptList(ReceiptBook::shared(), this))
    , m_model(new ReceiptTableModel(*m_list, this))
    , m_tableView(new QTableView(this))
{
    m_tableView->setObjectName(u"receiptTableView"_s);
    m_tableView->setAccessibleName(u"收据列表"_s);
    m_tableView->setModel(m_model);
    m_tableView->setItemDelegate(new ReceiptCellDelegate(m_tableView));
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The list screen offers the row actions there.
    m_tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tableView->setAlternatingRowColors(true);
    m_tableView->setWordWrap(false);
    m_tableView->verticalHeader()->hide();
    m_tableView->setMinimumHeight(60);
    // Tab leaves the table for the next control; the arrow keys move between cells.
    m_tableView->setTabKeyNavigation(false);

    // Header clicks sort, and nothing else does: sorting enabled on the view would also
    // sort at once and after every load, while the store's load order (highest number
    // first) is what a list shows until the user asks for another.
    QHeaderView *header = m_tableView->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(ReceiptTableModel::ReceiptNoColumn, Qt::AscendingOrder);
    header->setStretchLastSection(true);
    header->setHighlightSections(false);
    // 状态 next to the amount, where a voided row's 已作废 stays in sight at the window's
    // usual width; on the right it was cut off. Only the view moves it: the export keeps
    // the columns in their own order.
    header->moveSection(header->visualIndex(ReceiptTableModel::StatusColumn),
                        ReceiptTableModel::TotalColumn + 1);
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                m_userSort = std::make_pair(column, order);
                m_model->sort(column, order);
            });
    // A reset drops the view's selection; that is not the user deselecting.
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_applyingSelection = true; });
    connect(m_model, &QAbstractItemModel::modelReset, this,
            [this] { m_applyingSelection = false; });
    // After the model's own reset: the rows of the stored selection are selected again.
    connect(m_list, &ReceiptList::reset, this, [this] {
        m_fitPending = true;
        onRowsChanged();
    });
    connect(m_list, &ReceiptList::rowsRemoved, this, &ReceiptPart::onRowsChanged);
    connect(m_list, &ReceiptList::rowsInserted, this, &ReceiptPart::onRowsChanged);
    // A receipt placed in the list may need more room than its neighbours; the rest of a
    // long range arriving after its first page does not change what the top shows.
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                if (last - first < smallChange && isVisible())
                    widenColumnsFor(first, last);
            });
    connect(m_list, &ReceiptList::rowsChanged, this, [this] { Q_EMIT shownRowsChanged(); });
    // Blanking the form forgets selectedId, and with it the buttons go: so does the
    // highlight.
    connect(&m_store, &AppStore::selectedIdChanged, this, [this] {
        if (isVisible())
            selectStoredSelection();
    });
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ReceiptPart::onViewSelectionChanged);
    connect(&m_store, &AppStore::selectionChanged, this, &ReceiptPart::onStoreSelectionChanged);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tableView);
    // Columns fit the rows on screen and the page after them, not a thousand rows read
    // from the book for it each time the list is read.
    header->setResizeContentsPrecision(fitRows);
    fitColumns();
}

void ReceiptPart::showRange(const QString &begin, const QString &end)
{
    m_list->setRange(begin, end);
    // Unread or not, what is selected elsewhere meanwhile is sorted out against the rows
    // shown now.
    onRowsChanged();
}

void ReceiptPart::setSearchText(const QString &text)
{
    m_searchText = text;
    m_list->setSearch(text);
    keepSelectionToShownRows();
    selectStoredSelection();
    Q_EMIT shownRowsChanged();
}

QList<int> ReceiptPart::selectedShownRows() const
{
    QList<int> rows;
    for (const qsizetype row : m_list->rowsOf(m_store.selection()))
        rows.append(int(row));
    return rows;
}

void ReceiptPart::fitColumns()
{
    m_tableView->resizeColumnsToContents();
    // A long remark or payer is cut short in its cell (the tooltip has more) rather than
    // push the other columns out of sight.
    QHeaderView *header = m_tableView->horizontalHeader();
    for (int column = 0; column < header->count(); ++column)
        header->resizeSection(column, std::min(header->sectionSize(column), 400));
    // The two date columns keep room for a whole date (and time) even while empty.
    const auto atLeast = [header](int column, int width) {
        header->resizeSection(column, std::max(header->sectionSize(column), width));
    };
    const QFontMetrics metrics = m_tableView->fontMetrics();
    atLeast(ReceiptTableModel::ReceiptDateColumn,
            std::max(75, metrics.horizontalAdvance(u"0000-00-00"_s) + 16));
    atLeast(ReceiptTableModel::CreateDateColumn,
            std::max(140, metrics.horizontalAdvance(u"0000-00-00 00:00:00 +0000"_s) + 16));
}

void ReceiptPart::widenColumnsFor(int first, int last)
{
    QHeaderView *header = m_tableView->horizontalHeader();
    for (int column = 0; column < header->count(); ++column) {
        int width = header->sectionSize(column);
        for (int row = first; row <= last; ++row)
            width = std::max(width, m_tableView->sizeHintForIndex(m_model->index(row, column)).width());
        header->resizeSection(column, std::min(width, std::max(header->sectionSize(column), 400)));
    }
}

void ReceiptPart::onRowsChanged()
{
    // A hidden list catches up when it is shown.
    if (!isVisible())
        return;
    keepSelectionToShownRows();
    selectStoredSelection();
    // Only other rows at the top change what the columns need: a list shown again, or
    // one receipt in or out, keeps the widths it has.
    if (m_fitPending) {
        m_fitPending = false;
        fitColumns();
    }
    Q_EMIT shownRowsChanged();
}

void ReceiptPart::keepSelectionToShownRows()
{
    const QSet<QString> selection = m_store.selection();
    if (selection.isEmpty())
        return;
    QSet<QString> shown;
    for (const int row : selectedShownRows())
        shown.insert(m_list->idAt(row));
    // Another list's selection, rows gone by a delete or hidden by the search: the buttons of this
    // list must not act on receipts it does not show.
    if (shown != selection)
        m_store.setSelection(shown);
    else if (m_store.selectedId() && !shown.contains(*m_store.selectedId()))
        m_store.setSelectedId(std::nullopt);
}

void ReceiptPart::onViewSelectionChanged()
{
    if (m_applyingSelection)
        return;
    QSet<QString> ids;
    const QModelIndexList rows = m_tableView->selectionModel()->selectedRows();
    for (const QModelIndex &row : rows)
        ids.insert(row.data(ReceiptTableModel::IdRole).toString());
    m_store.setSelection(ids);
}

void ReceiptPart::selectStoredSelection()
{
    // Rows show as selected only while print, edit and delete can act on them: once the
    // form has been blanked (which forgets selectedId) a highlighted row with disabled
    // buttons would only puzzle, and clicking it again must count as a new selection.
    const QSet<QString> ids = m_store.selectedId() ? m_store.selection() : QSet<QString>();
    QItemSelection selection;
    for (const qsizetype row : m_list->rowsOf(ids))
        selection.select(m_model->index(int(row), 0),
                         m_model->index(int(row), ReceiptTableModel::ColumnCount - 1));
    m_applyingSelection = true;
    m_tableView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_applyingSelection = false;
}

void ReceiptPart::onStoreSelectionChanged()
{
    // Only the list on screen answers: every list shares the one selection, and the
    // hidden ones must not each blank the form again.
    if (!isVisible())
        return;
    // Selecting blanks the form; a half-filled new receipt is kept to come back later.
    ReceiptDraft::shared().keep(m_store.receiptEdit());
    m_store.newReceipt();
    const QSet<QString> ids = m_store.selection();
    if (!ids.isEmpty()) {
        // The one receipt print and edit act on: the first selected row as listed.
        const QList<int> rows = selectedShownRows();
        m_store.setSelectedId(rows.isEmpty() ? *ids.cbegin() : m_list->idAt(rows.first()));
    }
    selectStoredSelection();
}
