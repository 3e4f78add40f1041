// SPDX-License-Identifier: GPL-3.0-or-later
#include "historyview.h"

#include "appstore.h"
#include "clock.h"
#include "datepicker.h"
#include "datetext.h"
#include "money.h"
#include "receiptbook.h"
#include "toast.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QString amountOf(const HistoryEntry &entry)
{
    // Two decimals, as the change summaries write amounts; a stored text the program
    // cannot read is shown as it is.
    const QString stored = entry.detail.value(u"total"_s).toString();
    const std::optional<qint64> fen = Money::fenFromText(stored.toLatin1());
    return fen ? Money::format(*fen) : stored;
}

QString detailOf(const HistoryEntry &entry, bool restored)
{
    switch (entry.action) {
    case HistoryAction::Update:
    case HistoryAction::Close:
    case HistoryAction::Setting:
    case HistoryAction::Spoil:
        return ReceiptHistory::changeSummary(entry);
    case HistoryAction::Void:
        return u"原因：%1"_s.arg(entry.detail.value(u"reason"_s).toString());
    case HistoryAction::Unvoid:
        return u"原作废原因：%1"_s.arg(entry.detail.value(u"reason"_s).toString());
    case HistoryAction::Delete: {
        const QString state = restored ? u"已恢复"_s : u"可以恢复"_s;
        // Deleted while voided: it comes back voided.
        if (entry.detail.contains(u"reason"_s))
            return state + u"（已作废，原因：%1）"_s.arg(entry.detail.value(u"reason"_s).toString());
        return state;
    }
    case HistoryAction::Restore:
        // Without a receipt: the whole book was restored from a backup.
        if (entry.receiptId.isEmpty())
            return u"恢复数据库：%1（替换前共 %2 张收据，最大单号 %3）"_s.arg(
                entry.detail.value(u"file"_s).toString(),
                Money::groupedDigits(entry.detail.value(u"replacedReceiptCount"_s).toInteger()),
                entry.detail.value(u"replacedHighestNo"_s).toString());
        return {};
    case HistoryAction::Import: {
        // From a file's row, or from another book (where its own history came along).
        const qint64 row = entry.detail.value(u"row"_s).toInteger();
        QString text = u"导入自 %1"_s.arg(entry.detail.value(u"file"_s).toString());
        if (row > 0)
            text += u"（第 %1 %2）"_s.arg(row).arg(
                entry.detail.contains(u"sourceHistory"_s) ? u"张"_s : u"行"_s);
        if (entry.detail.contains(u"renumberedFrom"_s))
            text += u"，原单号 %1"_s.arg(entry.detail.value(u"renumberedFrom"_s).toString());
        if (entry.detail.contains(u"reason"_s))
            text += u"，已作废：%1"_s.arg(entry.detail.value(u"reason"_s).toString());
        return text;
    }
    default:
        return {};
    }
}

QCheckBox *createBoundCheck(const QString &name, const QString &text, const QString &label,
                            QWidget *parent)
{
    auto *check = new QCheckBox(text, parent);
    check->setObjectName(name);
    check->setAccessibleName(label);
    return check;
}

} // namespace

HistoryView::HistoryView(QWidget *window)
    : QDialog(window)
    , m_searchEdit(new QLineEdit(this))
    , m_fromCheck(createBoundCheck(u"historyFromCheck"_s, u"从(&F)"_s, u"限定起始日期"_s, this))
    , m_fromEdit(createDatePicker(u"historyFromEdit"_s, u"起始日期"_s, this,
                                  Clock::now().date().addMonths(-1)))
    , m_toCheck(createBoundCheck(u"historyToCheck"_s, u"到(&T)"_s, u"限定结束日期"_s, this))
    , m_toEdit(createDatePicker(u"historyToEdit"_s, u"结束日期"_s, this, Clock::now().date()))
    , m_scopeLabel(new QLabel(this))
    , m_showAllButton(new QPushButton(u"显示全部记录"_s, this))
    , m_table(new QTableWidget(0, ColumnCount, this))
    , m_statusLabel(new QLabel(this))
    , m_restoreButton(new QPushButton(u"恢复此收据(&R)"_s, this))
    , m_successToast(new Toast(Toast::Kind::Success, 3s, this))
    , m_errorToast(new Toast(Toast::Kind::Error, 4s, this))
{
    setObjectName(u"historyView"_s);
    setWindowTitle(u"操作记录"_s);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setModal(false);
    // Apart from the window's own, so tests and the main window's screens never take
    // these for theirs.
    m_successToast->setObjectName(u"historySuccessToast"_s);
    m_errorToast->setObjectName(u"historyErrorToast"_s);

    m_searchEdit->setObjectName(u"historySearchEdit"_s);
    m_searchEdit->setAccessibleName(u"按单号筛选"_s);
    m_searchEdit->setPlaceholderText(u"收据单号"_s);
    m_searchEdit->setClearButtonEnabled(true);
    auto *searchLabel = new QLabel(u"单号(&N)"_s, this);
    searchLabel->setBuddy(m_searchEdit);

    m_scopeLabel->setObjectName(u"historyScopeLabel"_s);
    m_showAllButton->setObjectName(u"historyShowAllButton"_s);
    m_showAllButton->setAccessibleName(u"显示全部记录"_s);
    m_scopeLabel->setVisible(false);
    m_showAllButton->setVisible(false);

    m_table->setObjectName(u"historyTable"_s);
    m_table->setAccessibleName(u"操作记录"_s);
    m_table->setHorizontalHeaderLabels(
        {u"时间"_s, u"操作"_s, u"收据单号"_s, u"交款单位"_s, u"金额"_s, u"说明"_s});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setTabKeyNavigation(false);

    m_statusLabel->setObjectName(u"historyStatusLabel"_s);
    m_restoreButton->setObjectName(u"restoreReceiptButton"_s);
    m_restoreButton->setAccessibleName(u"恢复此收据"_s);
    m_restoreButton->setEnabled(false);
    auto *closeButton = new QPushButton(u"关闭"_s, this);
    closeButton->setObjectName(u"closeHistoryButton"_s);
    closeButton->setAccessibleName(u"关闭"_s);
    // Return in the number field must not restore or close: no button is the default.
    for (QPushButton *button : {m_showAllButton, m_restoreButton, closeButton})
        button->setAutoDefault(false);

    auto *filters = new QHBoxLayout;
    filters->addWidget(searchLabel);
    filters->addWidget(m_searchEdit, 1);
    filters->addSpacing(16);
    filters->addWidget(m_fromCheck);
    filters->addWidget(m_fromEdit);
    filters->addSpacing(8);
    filters->addWidget(m_toCheck);
    filters->addWidget(m_toEdit);
    auto *scope = new QHBoxLayout;
    scope->addWidget(m_scopeLabel, 1);
    scope->addWidget(m_showAllButton);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_statusLabel, 1);
    bottom->addWidget(m_restoreButton);
    bottom->addWidget(closeButton);
    auto *column = new QVBoxLayout(this);
    column->addLayout(filters);
    column->addLayout(scope);
    column->addWidget(m_table, 1);
    column->addLayout(bottom);
    resize(960, 520);

    connect(m_searchEdit, &QLineEdit::textChanged, this, &HistoryView::reload);
    for (auto [check, picker] :
         {std::pair(m_fromCheck, m_fromEdit), std::pair(m_toCheck, m_toEdit)}) {
        picker->setEnabled(check->isChecked());
        connect(check, &QCheckBox::toggled, picker, &QWidget::setEnabled);
        connect(check, &QCheckBox::toggled, this, &HistoryView::reload);
        connect(picker, &QDateEdit::dateChanged, this, &HistoryView::reload);
    }
    connect(m_showAllButton, &QPushButton::clicked, this, [this] { setReceiptScope({}); });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HistoryView::updateRestoreButton);
    connect(m_restoreButton, &QPushButton::clicked, this, &HistoryView::restoreSelected);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    // Every change of a receipt is a history row: a void, an edit or a restore made while
    // this window is open shows here at once.
    connect(&ReceiptBook::shared(), &ReceiptBook::changed, this, [this] {
        if (isVisible())
            reload();
    });
}

HistoryView *HistoryView::of(QWidget *window)
{
    QWidget *top = window->window();
    auto *view = top->findChild<HistoryView *>(u"historyView"_s, Qt::FindDirectChildrenOnly);
    return view ? view : new HistoryView(top);
}

HistoryView *HistoryView::showAll(QWidget *window)
{
    HistoryView *view = of(window);
    view->setReceiptScope({});
    view->present();
    return view;
}

HistoryView *HistoryView::showReceipt(QWidget *window, const QString &receiptId)
{
    HistoryView *view = of(window);
    view->setReceiptScope(receiptId);
    view->present();
    return view;
}

void HistoryView::present()
{
    show();
    raise();
    activateWindow();
    m_searchEdit->setFocus();
}

void HistoryView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        reload();
}

void HistoryView::setReceiptScope(const QString &receiptId)
{
    m_receiptId = receiptId;
    if (!receiptId.isEmpty()) {
        // The number as the list shows it; a receipt deleted since is named by its id.
        QString number;
        if (std::optional<Receipt> receipt; ReceiptBook::shared().read(receiptId, &receipt) && receipt)
            number = u"No."_s + receipt->receiptNo;
        m_scopeLabel->setText(u"只显示收据 %1 的记录"_s.arg(number.isEmpty() ? receiptId : number));
    }
    m_scopeLabel->setVisible(!receiptId.isEmpty());
    m_showAllButton->setVisible(!receiptId.isEmpty());
    reload();
}

void HistoryView::reload()
{
    QString error;
    const std::optional<QList<HistoryEntry>> loaded = ReceiptBook::shared().history(
        m_searchEdit->text().trimmed(), m_fromCheck->isChecked() ? m_fromEdit->date() : QDate(),
        m_toCheck->isChecked() ? m_toEdit->date() : QDate(), m_receiptId, &error);
    const qint64 selectedId = selectedEntry() ? selectedEntry()->id : 0;
    m_table->clearSelection();
    m_entries = loaded.value_or(QList<HistoryEntry>());
    m_restoredDeletions.clear();
    m_table->clearContents();
    m_table->setRowCount(int(m_entries.size()));
    // Newest first: a 删除 row is done with when a 恢复 of its receipt came after it.
    QSet<QString> restoredLater;
    for (int row = 0; row < m_entries.size(); ++row) {
        const HistoryEntry &entry = m_entries.at(row);
        if (entry.action == HistoryAction::Restore)
            restoredLater.insert(entry.receiptId);
        const bool restored
            = entry.action == HistoryAction::Delete && restoredLater.contains(entry.receiptId);
        if (restored)
            m_restoredDeletions.insert(entry.id);
        const QString texts[ColumnCount] = {
            formatDateText(entry.time, DateText::dateTime),
            ReceiptHistory::actionText(entry.action),
            entry.receiptNo,
            entry.detail.value(u"payer"_s).toString(),
            amountOf(entry),
            detailOf(entry, restored),
        };
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(texts[column]);
            item->setToolTip(texts[column]);
            if (column == TotalColumn)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, column, item);
        }
        if (entry.id == selectedId)
            m_table->selectRow(row);
    }
    // Column by column: resizing all at once would also shrink the last one, which is to
    // fill the rest of the width.
    for (int column = 0; column < DetailColumn; ++column)
        m_table->resizeColumnToContents(column);
    if (!loaded)
        m_statusLabel->setText(u"读取操作记录失败：%1"_s.arg(error));
    else if (m_entries.isEmpty())
        m_statusLabel->setText(u"没有符合条件的记录"_s);
    else
        m_statusLabel->setText(u"共 %1 条记录"_s.arg(Money::groupedDigits(m_entries.size())));
    updateRestoreButton();
}

std::optional<HistoryEntry> HistoryView::selectedEntry() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.size() != 1 || rows.first().row() >= m_entries.size())
        return std::nullopt;
    return m_entries.at(rows.first().row());
}

void HistoryView::updateRestoreButton()
{
    const std::optional<HistoryEntry> entry = selectedEntry();
    m_restoreButton->setEnabled(entry && entry->action == HistoryAction::Delete
                                && !m_restoredDeletions.contains(entry->id));
}

void HistoryView::restoreSelected()
{
    const std::optional<HistoryEntry> entry = selectedEntry();
    if (!entry || entry->action != HistoryAction::Delete)
        return;
    QString error;
    if (!ReceiptBook::shared().restoreDeleted(*entry, &error)) {
        m_errorToast->show(error);
        return;
    }
    m_successToast->show(u"已恢复收据 No.%1"_s.arg(entry->receiptNo));
    reload();
}
