// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookupeditorview.h"

#include "keyboard.h"
#include "lookupstores.h"
#include "messagebox.h"
#include "recordid.h"
#include "settingsscreen.h"
#include "toast.h"

#include <QCollator>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Binds the adapter to one store type; `Value` is the record's value field.
template<typename Store, typename Record, QString Record::*Value>
class TypedLookupAdapter : public LookupListAdapter
{
public:
    TypedLookupAdapter()
        : m_store(Store::shared())
    { }

    LookupStoreBase &store() const override { return m_store; }

    QList<LookupRow> rows() const override
    {
        QList<LookupRow> rows;
        const QList<Record> datas = m_store.datas();
        rows.reserve(datas.size());
        for (const Record &record : datas)
            rows.append({record.id, record.index, record.*Value});
        return rows;
    }

    bool contains(const QString &value) const override { return m_store.contains(value); }

    bool insert(const QString &id, const QString &value) override
    {
        return m_store.insert(makeRecord(id, value));
    }

    bool update(const QString &id, const QString &value) override
    {
        return m_store.update(makeRecord(id, value));
    }

    bool remove(const QSet<QString> &ids) override { return m_store.remove(ids); }

    void reorder(const QList<qsizetype> &order) override
    {
        const QList<Record> datas = m_store.datas();
        QList<Record> sorted;
        sorted.reserve(order.size());
        for (qsizetype position : order)
            sorted.append(datas.at(position));
        m_store.setDatas(sorted);
    }

private:
    // A new or renamed entry has index 0 until the store reloads; an account's other
    // fields stay empty because nothing of this system writes them.
    static Record makeRecord(const QString &id, const QString &value)
    {
        Record record;
        record.id = id;
        record.index = 0;
        record.*Value = value;
        return record;
    }

    Store &m_store;
};

template<typename Store>
std::unique_ptr<LookupListAdapter> contentAdapter()
{
    return std::make_unique<TypedLookupAdapter<Store, LookupEntry, &LookupEntry::content>>();
}

std::unique_ptr<LookupListAdapter> accountAdapter()
{
    return std::make_unique<TypedLookupAdapter<AccountStore, Account, &Account::userName>>();
}

} // namespace

LookupTableModel::LookupTableModel(LookupListAdapter *adapter, const QString &label,
                                   QObject *parent)
    : QAbstractTableModel(parent)
    , m_adapter(adapter)
    , m_label(label)
    , m_rows(adapter->rows())
{
    connect(&adapter->store(), &LookupStoreBase::datasChanged, this, &LookupTableModel::reload);
}

void LookupTableModel::reload()
{
    beginResetModel();
    m_rows = m_adapter->rows();
    endResetModel();
}

int LookupTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LookupTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LookupTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const LookupRow &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return index.column() == IndexColumn ? QString::number(row.index) : row.value;
    case IdRole:
        return row.id;
    default:
        return {};
    }
}

QVariant LookupTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case IndexColumn:
        return u"序号"_s;
    case ValueColumn:
        return m_label;
    default:
        return {};
    }
}

void LookupTableModel::sort(int column, Qt::SortOrder order)
{
    if (column != IndexColumn && column != ValueColumn)
        return;
    // Both columns compare as shown text in the user's order for Chinese: runs of digits
    // by their value (2 before 10), letters without regard to case.
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QStringList keys;
    keys.reserve(m_rows.size());
    for (const LookupRow &row : std::as_const(m_rows))
        keys.append(column == IndexColumn ? QString::number(row.index) : row.value);

    QList<qsizetype> positions(m_rows.size());
    std::iota(positions.begin(), positions.end(), 0);
    std::stable_sort(positions.begin(), positions.end(), [&](qsizetype a, qsizetype b) {
        const int compared = collator.compare(keys.at(a), keys.at(b));
        return order == Qt::AscendingOrder ? compared < 0 : compared > 0;
    });
    m_adapter->reorder(positions);
}

LookupEditorView::LookupEditorView(const QString &label, std::unique_ptr<LookupListAdapter> adapter,
                                   QWidget *parent)
    : QWidget(parent)
    , m_adapter(std::move(adapter))
    , m_label(label)
    , m_model(new LookupTableModel(m_adapter.get(), label, this))
    , m_addButton(SettingsScreen::createButton(u"plus"_s, u"增加"_s, u"addButton"_s, this))
    , m_editButton(
          SettingsScreen::createButton(u"square.and.pencil"_s, u"修改"_s, u"editButton"_s, this))
    , m_deleteButton(SettingsScreen::createButton(u"trash"_s, u"删除"_s, u"deleteButton"_s, this))
    , m_contentLineEdit(new QLineEdit(this))
    , m_tableView(new QTableView(this))
    , m_errorToast(new Toast(Toast::Kind::Error, SettingsScreen::toastDuration, this))
{
    m_contentLineEdit->setObjectName(u"contentLineEdit"_s);
    m_contentLineEdit->setAccessibleName(label);
    m_tableView->setObjectName(u"lookupTableView"_s);
    // Not the bare label, which already names the field above it.
    m_tableView->setAccessibleName(label + u"列表"_s);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_addButton);
    buttonRow->addWidget(m_editButton);
    buttonRow->addWidget(m_deleteButton);
    buttonRow->addStretch();

    auto *fieldRow = new QHBoxLayout;
    auto *fieldLabel = new QLabel(label, this);
    fieldLabel->setBuddy(m_contentLineEdit);
    fieldRow->addWidget(fieldLabel);
    fieldRow->addWidget(m_contentLineEdit, 1);

    m_tableView->setModel(m_model);
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableView->setAlternatingRowColors(true);
    m_tableView->setWordWrap(false);
    m_tableView->verticalHeader()->hide();
    QHeaderView *header = m_tableView->horizontalHeader();
    header->setSectionResizeMode(LookupTableModel::IndexColumn, QHeaderView::Fixed);
    header->resizeSection(LookupTableModel::IndexColumn, 60);
    header->setStretchLastSection(true);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Sorting is wired by hand instead of QTableView::setSortingEnabled, which sorts the
    // moment it is switched on: until a header is clicked the rows keep the load order,
    // while the indicator already shows the initial order (the value, ascending).
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(LookupTableModel::ValueColumn, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, m_model, &LookupTableModel::sort);

    auto *column = new QVBoxLayout(this);
    column->addLayout(buttonRow);
    column->addLayout(fieldRow);
    column->addWidget(m_tableView, 1);

    m_editButton->hide();
    m_deleteButton->hide();

    connect(m_addButton, &QPushButton::clicked, this, &LookupEditorView::add);
    connect(m_editButton, &QPushButton::clicked, this, &LookupEditorView::rename);
    connect(m_deleteButton, &QPushButton::clicked, this, &LookupEditorView::deleteSelection);
    // 增加 takes the typed text as a new entry, 修改 saves it over the selected one. Delete
    // is kept to this screen, and the field keeps it for its own text.
    Keyboard::setShortcut(m_addButton, QKeySequence::New);
    Keyboard::setShortcut(m_editButton, QKeySequence::Save);
    Keyboard::addScopedShortcut(this, QKeySequence::Delete, m_deleteButton);
    // Enter in the field adds what was typed, as 增加 does; 修改 stays on its button and
    // Ctrl+S, so that Enter never writes over an entry.
    connect(m_contentLineEdit, &QLineEdit::returnPressed, this, &LookupEditorView::add);
    // The field first: a Tab into the screen is for typing an entry, then its buttons, then
    // the list. Stated here because the buttons are made before the field.
    setTabOrder(m_contentLineEdit, m_addButton);
    setTabOrder(m_addButton, m_editButton);
    setTabOrder(m_editButton, m_deleteButton);
    setTabOrder(m_deleteButton, m_tableView);
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LookupEditorView::selectionChanged);
    connect(m_model, &QAbstractItemModel::modelReset, this, &LookupEditorView::restoreSelection);
}

LookupEditorView::~LookupEditorView() = default;

void LookupEditorView::focusField()
{
    m_contentLineEdit->setFocus(Qt::OtherFocusReason);
}

QString LookupEditorView::content() const
{
    return m_contentLineEdit->text();
}

void LookupEditorView::add()
{
    const QString value = content();
    if (value.isEmpty()) {
        m_contentLineEdit->setFocus(Qt::OtherFocusReason);
        m_errorToast->showLeavingFocus(u"必填："_s + m_label);
        return;
    }
    if (m_adapter->contains(value)) {
        m_errorToast->show(u"已存在: "_s + value);
        return;
    }
    const QString id = newRecordId();
    if (!m_adapter->insert(id, value)) {
        m_errorToast->show(u"保存失败"_s);
        return;
    }
    finishChange();
}

void LookupEditorView::rename()
{
    const QString value = content();
    if (value.isEmpty()) {
        m_errorToast->show(u"必填："_s + m_label);
        return;
    }
    // No duplicate test: two entries may come to hold the same value through a rename.
    if (!m_adapter->update(m_selectedId, value)) {
        m_errorToast->show(u"保存失败"_s);
        return;
    }
    finishChange();
}

void LookupEditorView::deleteSelection()
{
    if (!MessageBox::confirmDelete(this) || m_selection.isEmpty())
        return;
    if (!m_adapter->remove(m_selection)) {
        m_errorToast->show(u"保存失败"_s);
        return;
    }
    finishChange();
}

void LookupEditorView::finishChange()
{
    m_contentLineEdit->clear();
    setSelectedId(QString());
}

void LookupEditorView::setSelectedId(const QString &id)
{
    m_selectedId = id;
    m_editButton->setVisible(!id.isEmpty());
    m_deleteButton->setVisible(!id.isEmpty());
}

void LookupEditorView::selectionChanged()
{
    if (m_restoringSelection)
        return;
    QSet<QString> selection;
    QString first;
    int firstRow = -1;
    const QModelIndexList rows = m_tableView->selectionModel()->selectedRows();
    for (const QModelIndex &index : rows) {
        const QString id = index.data(LookupTableModel::IdRole).toString();
        selection.insert(id);
        // A set has no order of its own; the topmost highlighted row is the one that
        // the field edits, which is the one the user expects.
        if (firstRow < 0 || index.row() < firstRow) {
            firstRow = index.row();
            first = id;
        }
    }
    if (selection == m_selection)
        return;
    m_selection = selection;
    setSelectedId(first);
    for (const LookupRow &row : m_model->rows()) {
        if (row.id == first) {
            m_contentLineEdit->setText(row.value);
            break;
        }
    }
}

void LookupEditorView::restoreSelection()
{
    // Putting the highlight back is not a new selection: it must neither refill the
    // field nor bring back 修改 and 删除 after a change.
    m_restoringSelection = true;
    QItemSelection highlight;
    const QList<LookupRow> &rows = m_model->rows();
    for (int row = 0; row < rows.size(); ++row) {
        if (m_selection.contains(rows.at(row).id))
            highlight.select(m_model->index(row, 0),
                             m_model->index(row, LookupTableModel::ColumnCount - 1));
    }
    m_tableView->selectionModel()->select(highlight, QItemSelectionModel::ClearAndSelect);
    m_restoringSelection = false;
}

PayerView::PayerView(QWidget *parent)
    : LookupEditorView(u"交款单位"_s, contentAdapter<PayerStore>(), parent)
{
    setObjectName(u"PayerView"_s);
}

Reason1View::Reason1View(QWidget *parent)
    : LookupEditorView(u"收款事由"_s, contentAdapter<Reason1Store>(), parent)
{
    setObjectName(u"Reason1View"_s);
}

Reason2View::Reason2View(QWidget *parent)
    : LookupEditorView(u"其它说明"_s, contentAdapter<Reason2Store>(), parent)
{
    setObjectName(u"Reason2View"_s);
}

RemarkView::RemarkView(QWidget *parent)
    : LookupEditorView(u"备注信息"_s, contentAdapter<RemarkStore>(), parent)
{
    setObjectName(u"RemarkView"_s);
}

PaytypeView::PaytypeView(QWidget *parent)
    : LookupEditorView(u"收款方式"_s, contentAdapter<PaytypeStore>(), parent)
{
    setObjectName(u"PaytypeView"_s);
}

AccountView::AccountView(QWidget *parent)
    : LookupEditorView(u"系统用户"_s, accountAdapter(), parent)
{
    setObjectName(u"AccountView"_s);
}
