// SPDX-License-Identifier: GPL-3.0-or-later
#include "listview.h"

#include "clock.h"
#include "datepicker.h"
#include "datetext.h"
#include "historyview.h"
#include "icons.h"
#include "keyboard.h"
#include "listfooter.h"
#include "listkeys.h"
#include "messagebox.h"
#include "printaction.h"
#include "receiptbook.h"
#include "receiptlist.h"
#include "receiptpart.h"
#include "searchfield.h"
#include "toast.h"
#include "voidaction.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QPushButton *createActionButton(const QString &name, const QString &icon, const QString &title,
                                QWidget *parent)
{
    auto *button = new QPushButton(Icons::icon(icon), title, parent);
    button->setObjectName(name);
    button->setAccessibleName(title);
    button->setEnabled(false);
    return button;
}

} // namespace

DatePart::DatePart(ReceiptList &list, QWidget *parent)
    : QWidget(parent)
    , m_store(AppStore::shared())
    , m_list(&list)
    , m_beginDateEdit(createDatePicker(u"beginDateEdit"_s, u"起始时间"_s, this))
    , m_endDateEdit(createDatePicker(u"endDateEdit"_s, u"结束时间"_s, this))
    , m_printButton(
          createActionButton(u"printButton"_s, u"printer.filled.and.paper"_s, u"打印"_s, this))
    , m_editButton(createActionButton(u"editButton"_s, u"square.and.pencil"_s, u"修改"_s, this))
    , m_deleteButton(createActionButton(u"deleteButton"_s, u"trash"_s, u"删除"_s, this))
    , m_voidButton(createActionButton(u"voidButton"_s, u"nosign"_s, u"作废"_s, this))
    , m_searchField(new SearchField(this))
    , m_errorToast(new Toast(Toast::Kind::Error, 2s, this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch();
    // Label and picker together take the 200 of a labelled picker.
    auto *beginLabel = new QLabel(u"起始时间"_s, this);
    beginLabel->setBuddy(m_beginDateEdit);
    row->addWidget(beginLabel);
    row->addWidget(m_beginDateEdit);
    row->addSpacing(20);
    auto *endLabel = new QLabel(u"结束时间"_s, this);
    endLabel->setBuddy(m_endDateEdit);
    row->addWidget(endLabel);
    row->addWidget(m_endDateEdit);
    row->addSpacing(12);
    row->addWidget(m_printButton);
    row->addWidget(m_editButton);
    row->addWidget(m_deleteButton);
    row->addWidget(m_voidButton);
    row->addStretch();
    row->addWidget(m_searchField);

    connect(m_beginDateEdit, &QDateEdit::dateChanged, this,
            [this](QDate date) { Q_EMIT datePicked(AppStore::RangeBound::Begin, date); });
    connect(m_endDateEdit, &QDateEdit::dateChanged, this,
            [this](QDate date) { Q_EMIT datePicked(AppStore::RangeBound::End, date); });
    connect(m_printButton, &QPushButton::clicked, this, &DatePart::print);
    connect(m_editButton, &QPushButton::clicked, this, &DatePart::edit);
    connect(m_deleteButton, &QPushButton::clicked, this, &DatePart::deleteSelected);
    connect(m_voidButton, &QPushButton::clicked, this, &DatePart::voidSelected);
    // The keys belong to the buttons, so they act only while the buttons could be clicked
    // (a receipt selected). Delete works anywhere on the list screen (the parent), which
    // mostly means from the table, but not from the sidebar; the date fields keep Delete
    // for their own text.
    Keyboard::setShortcut(m_printButton, QKeySequence::Print);
    Keyboard::setShortcut(m_editButton, QKeySequence(Qt::Key_F2));
    Keyboard::addScopedShortcut(parent, QKeySequence::Delete, m_deleteButton);
    connect(&m_store, &AppStore::selectedIdChanged, this, &DatePart::updateButtons);
    // A void or its undoing keeps the selection and flips what the void button does.
    connect(m_list, &ReceiptList::totalsChanged, this, &DatePart::updateButtons);
    // A second row added to the selection keeps selectedId but takes 修改 away.
    connect(&m_store, &AppStore::selectionChanged, this, &DatePart::updateButtons);
    updateButtons();
}

bool DatePart::canEdit() const
{
    const std::optional<QString> id = m_store.selectedId();
    if (!id || m_store.selection().size() != 1)
        return false;
    const std::optional<qsizetype> row = m_list->rowOf(*id);
    if (!row || m_list->isVoided(*row))
        return false;
    // A receipt of a closed day is only voided (the book refuses an edit anyway).
    const Receipt *receipt = m_list->rowAt(*row);
    return !receipt || !ReceiptBook::shared().isClosed(receipt->receiptDate.date());
}

void DatePart::showRange(const QDateTime &begin, const QDateTime &end)
{
    const QSignalBlocker beginBlocker(m_beginDateEdit);
    const QSignalBlocker endBlocker(m_endDateEdit);
    m_beginDateEdit->setDate(begin.date());
    m_endDateEdit->setDate(end.date());
}

void DatePart::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateButtons();
}

void DatePart::updateButtons()
{
    // A hidden list's buttons are set when it shows: what they ask of the list (is the
    // selection voided?) is not worth a look at the book meanwhile.
    if (!isVisible())
        return;
    const bool hasSelected = m_store.selectedId().has_value();
    m_printButton->setEnabled(hasSelected);
    m_editButton->setEnabled(canEdit());
    m_deleteButton->setEnabled(hasSelected);
    m_voidButton->setEnabled(hasSelected);
    const QString voidTitle = VoidAction::title(*m_list);
    m_voidButton->setText(voidTitle);
    m_voidButton->setAccessibleName(voidTitle);
}

void DatePart::print()
{
    // Several rows: one job after a confirmation, and the single receipt path is not taken.
    if (const QSet<QString> selection = m_store.selection(); selection.size() > 1) {
        PrintAction::printReceipts(this, QStringList(selection.cbegin(), selection.cend()));
        return;
    }
    if (!m_store.selectedId())
        return;
    // The receipt last loaded must never be printed in place of one that could not be
    // read (deleted by another program, a lock).
    if (QString error; !m_store.loadSelected(false, &error)) {
        m_errorToast->show(error);
        return;
    }
    if (m_store.receiptPrint() && m_store.receiptPrint()->unreadableTotal) {
        m_errorToast->show(u"金额无法识别，请先修改金额再打印"_s);
        return;
    }
    PrintAction::printReceipt();
}

void DatePart::preview()
{
    if (QString error; !m_store.loadSelected(false, &error)) {
        m_errorToast->show(error);
        return;
    }
    PrintAction::previewReceipt(this);
}

void DatePart::edit()
{
    if (!canEdit())
        return;
    // Read first without touching the form: a voided receipt must not land on it.
    if (QString error; !m_store.loadSelected(false, &error)) {
        m_errorToast->show(error);
        return;
    }
    if (m_store.receiptPrint()->voidReason) {
        m_errorToast->show(VoidAction::editRefusal());
        return;
    }
    m_store.editLoaded();
    m_store.setSelectionNav(NavigationItem::add);
}

void DatePart::deleteSelected()
{
    if (!m_store.selectedId())
        return;
    if (!MessageBox::confirmDelete(this, VoidAction::selectedNumbers(*m_list)))
        return;
    QString error;
    if (!m_store.deleteSelected(&error)) {
        // Nothing was deleted: the rows and the selection stay, and the user is told why.
        m_errorToast->show(error);
        return;
    }
    // The deleted ids would otherwise stay selected: the buttons would still act on a
    // receipt that no longer exists, and 打印 would print the last one loaded.
    m_store.setSelection({});
}

void DatePart::voidSelected()
{
    if (m_store.selectedId())
        VoidAction::run(this, *m_list, m_errorToast);
}

ListView::ListView(QWidget *parent)
    : QWidget(parent)
    , m_store(AppStore::shared())
    , m_beginDate(Clock::now())
    , m_endDate(m_beginDate)
    , m_receiptPart(new ReceiptPart(this))
    , m_datePart(new DatePart(m_receiptPart->list(), this))
    , m_footer(new ListFooter(m_receiptPart, this))
    , m_loadErrorLabel(new QLabel(this))
{
    m_loadErrorLabel->setObjectName(u"loadErrorLabel"_s);
    m_loadErrorLabel->setWordWrap(true);
    m_loadErrorLabel->setStyleSheet(u"QLabel { color: #b3261e; background: #fdecea; "
                                    u"border: 1px solid #f5c2c0; border-radius: 4px; "
                                    u"padding: 6px 10px; }"_s);
    m_loadErrorLabel->setVisible(false);
    // The rows of the last good read stay under the message: a failed read must not
    // look like a day without receipts.
    connect(&m_receiptPart->list(), &ReceiptList::totalsChanged, this, [this] {
        const ReceiptList &list = m_receiptPart->list();
        const QString notice = AppStore::loadNotice(list.error(), list.skippedRows());
        m_loadErrorLabel->setText(notice);
        m_loadErrorLabel->setVisible(!notice.isEmpty());
    });
    m_datePart->setFixedHeight(30);
    m_datePart->showRange(m_beginDate, m_endDate);
    connect(m_datePart, &DatePart::datePicked, this, &ListView::onDatePicked);
    connect(m_datePart->searchField(), &QLineEdit::textChanged, m_receiptPart,
            &ReceiptPart::setSearchText);
    connect(m_receiptPart->tableView(), &QWidget::customContextMenuRequested, this,
            &ListView::showContextMenu);
    // Window-wide, yet only the list on screen answers: Qt skips shortcuts of hidden
    // widgets, and every list row of the sidebar has its own list.
    auto *findShortcut = new QShortcut(QKeySequence::Find, this);
    connect(findShortcut, &QShortcut::activated, this, [this] {
        m_datePart->searchField()->setFocus(Qt::ShortcutFocusReason);
        m_datePart->searchField()->selectAll();
    });
    m_datePart->searchField()->setToolTip(
        Keyboard::toolTip(m_datePart->searchField()->accessibleName(), {QKeySequence::Find}));
    ListKeys::install(m_datePart->searchField(), m_receiptPart->tableView());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(11, 21, 11, 11);
    column->setSpacing(11);
    column->addWidget(m_datePart);
    column->addWidget(m_loadErrorLabel);
    column->addWidget(m_receiptPart, 1);
    column->addWidget(m_footer);
}

void ListView::exportShown()
{
    m_footer->exportShown();
}

void ListView::focusTable()
{
    m_receiptPart->tableView()->setFocus(Qt::OtherFocusReason);
}

void ListView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A window coming back from the task bar is not the list being opened.
    if (!event->spontaneous())
        applyPreset();
}

void ListView::applyPreset()
{
    m_store.applyRangePreset();
    m_beginDate = parseDateText(m_store.beginDate(), DateText::dateTime);
    m_endDate = parseDateText(m_store.endDate(), DateText::dateTime);
    // Setting the pickers from the range itself writes nothing back: the texts would be
    // the ones just read. An open start shows as the first receipt's day.
    m_datePart->showRange(
        QDateTime(AppStore::shownBeginDay(m_store.beginDate(), m_store.endDate()), QTime(0, 0)),
        m_endDate);
    // Read only when the range or the book changed since this list last showed it.
    m_receiptPart->showRange(m_store.beginDate(), m_store.endDate());
}

void ListView::showContextMenu(const QPoint &pos)
{
    // The press that opened the menu has selected the row under it already.
    QTableView *table = m_receiptPart->tableView();
    if (!table->indexAt(pos).isValid() || !m_store.selectedId())
        return;
    QMenu menu(this);
    connect(menu.addAction(Icons::icon(u"printer.filled.and.paper"_s), u"打印(&P)"_s),
            &QAction::triggered, m_datePart, &DatePart::print);
    connect(menu.addAction(u"打印预览(&W)…"_s), &QAction::triggered, m_datePart,
            &DatePart::preview);
    QAction *editAction = menu.addAction(Icons::icon(u"square.and.pencil"_s), u"修改(&E)"_s);
    editAction->setEnabled(m_datePart->canEdit());
    connect(editAction, &QAction::triggered, m_datePart, &DatePart::edit);
    QAction *voidAction
        = menu.addAction(Icons::icon(u"nosign"_s), VoidAction::title(m_receiptPart->list()) + u"(&V)"_s);
    connect(voidAction, &QAction::triggered, m_datePart, &DatePart::voidSelected);
    menu.addSeparator();
    const QString id = *m_store.selectedId();
    QAction *history = menu.addAction(u"查看历史(&H)"_s);
    connect(history, &QAction::triggered, this, [this, id] { HistoryView::showReceipt(this, id); });
    // A book that keeps no voids and no history (an older one that is only read).
    if (const QString unavailable = ReceiptBook::shared().historyUnavailableReason(); !unavailable.isEmpty()) {
        menu.setToolTipsVisible(true);
        for (QAction *action : {voidAction, history}) {
            action->setEnabled(false);
            action->setToolTip(unavailable);
        }
    }
    menu.exec(table->viewport()->mapToGlobal(pos));
}

void ListView::onDatePicked(AppStore::RangeBound bound, QDate date)
{
    QDateTime &held = bound == AppStore::RangeBound::Begin ? m_beginDate : m_endDate;
    held = QDateTime(date, held.time());
    const QString text = formatDateText(held, DateText::dateTime);
    if (bound == AppStore::RangeBound::Begin)
        m_store.setBeginDate(text);
    else
        m_store.setEndDate(text);
    m_receiptPart->showRange(m_store.beginDate(), m_store.endDate());
}
