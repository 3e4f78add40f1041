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
#include <QScopedValueRollback>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// What each column is made wide enough for, and its share of the room the window has
// beyond them. The widths come from the font alone: fitted to the rows they showed, they
// moved with every search and every scroll to other rows, and one long date-time took
// the room the names needed. A longer value ends in "…" and shows whole as the tooltip;
// the user can still drag a column wider.
struct ColumnRoom
{
    int column;
    QString sample;
    int share = 0;
};

QString hanzi(int count)
{
    return QString(count, u'中');
}

const ColumnRoom columnRooms[] = {
    {ReceiptTableModel::ReceiptNoColumn, u"00000000"_s},
    {ReceiptTableModel::ReceiptDateColumn, u"0000-00-00"_s},
    {ReceiptTableModel::PayerColumn, hanzi(12), 3},
    {ReceiptTableModel::TotalColumn, u"9,999,999.99"_s},
    {ReceiptTableModel::Reason1Column, hanzi(12), 2},
    {ReceiptTableModel::Reason2Column, hanzi(10), 2},
    {ReceiptTableModel::RemarkColumn, hanzi(10), 1},
    {ReceiptTableModel::PaytypeColumn, hanzi(4)},
    {ReceiptTableModel::PayeeColumn, hanzi(3)},
    {ReceiptTableModel::ApproveColumn, hanzi(3)},
    {ReceiptTableModel::AccountantColumn, hanzi(3)},
    {ReceiptTableModel::CreateDateColumn, u"0000-00-00 00:00:00"_s},
    {ReceiptTableModel::StatusColumn, u"已作废"_s},
};

// Around a cell's text: the delegate's margins, and a little air.
constexpr int cellPadding = 16;

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
    // The room left over goes to the names and reasons (see columnRooms), not to whichever
    // column happens to be last.
    header->setStretchLastSection(false);
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
    connect(m_list, &ReceiptList::reset, this, &ReceiptPart::onRowsChanged);
    connect(m_list, &ReceiptList::rowsRemoved, this, &ReceiptPart::onRowsChanged);
    connect(m_list, &ReceiptList::rowsInserted, this, &ReceiptPart::onRowsChanged);
    // A column the user dragged keeps its width; the window's room is no longer shared.
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (!m_settingWidths)
            m_userSizedColumns = true;
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
    setColumnWidths();
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

void ReceiptPart::setColumnWidths()
{
    if (m_userSizedColumns)
        return;
    const QScopedValueRollback setting(m_settingWidths, true);
    QHeaderView *header = m_tableView->horizontalHeader();
    const QFontMetrics metrics = m_tableView->fontMetrics();
    QList<int> widths;
    int needed = 0;
    int shares = 0;
    for (const ColumnRoom &room : columnRooms) {
        widths.append(std::max(metrics.horizontalAdvance(room.sample) + cellPadding,
                               header->sectionSizeHint(room.column)));
        needed += widths.last();
        shares += room.share;
    }
    // Measured as if the vertical scroll bar were there, whether it is or not: a search
    // that leaves a few rows takes it away, and the columns must not move for that.
    const int room = m_tableView->width() - 2 * m_tableView->frameWidth()
        - m_tableView->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_tableView);
    const int spare = std::max(0, room - needed);
    for (qsizetype i = 0; i < widths.size(); ++i) {
        const ColumnRoom &column = columnRooms[i];
        header->resizeSection(column.column, widths[i] + spare * column.share / shares);
    }
}

void ReceiptPart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    setColumnWidths();
}

void ReceiptPart::onRowsChanged()
{
    // A hidden list catches up when it is shown.
    if (!isVisible())
        return;
    keepSelectionToShownRows();
    selectStoredSelection();
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
