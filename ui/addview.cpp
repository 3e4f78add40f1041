// SPDX-License-Identifier: GPL-3.0-or-later
#include "addview.h"

#include "amountfield.h"
#include "amountincapitals.h"
#include "appstore.h"
#include "clock.h"
#include "combobox.h"
#include "companystore.h"
#include "editconflictbar.h"
#include "fittedlabel.h"
#include "icons.h"
#include "keyboard.h"
#include "lookuppicker.h"
#include "lookupstores.h"
#include "messagebox.h"
#include "offeredtexts.h"
#include "printaction.h"
#include "printdialogs.h"
#include "printjob.h"
#include "printsettings.h"
#include "receiptdraft.h"
#include "receiptnostore.h"
#include "receiptpagelayout.h"
#include "paperbooks.h"
#include "seriesstore.h"
#include "toast.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// In the order of rememberedValues().
constexpr PrintSettings::FormChoice rememberedChoices[]
    = {PrintSettings::FormChoice::Paytype, PrintSettings::FormChoice::Payee,
       PrintSettings::FormChoice::Approve, PrintSettings::FormChoice::Accountant};

QStringList rememberedValues(const Receipt &receipt)
{
    return {receipt.paytype, receipt.payee, receipt.approve, receipt.accountant};
}

QFont scaledFont(const QFont &base, qreal factor, bool bold)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

// An icon that grows a little under the pointer, like the form's round buttons. It has no
// text, so its action's name is what a screen reader says and the tooltip shows.
class HoverIconButton : public QToolButton
{
public:
    // `ink`, when given, colours a plain icon (the round ones come in their colour).
    HoverIconButton(const QString &icon, const QString &name, QWidget *parent,
                    const QColor &ink = {})
        : QToolButton(parent)
    {
        setIcon(ink.isValid() ? Icons::coloured(icon, ink) : Icons::icon(icon));
        setProperty("iconName", icon);
        setToolTip(name);
        setAccessibleName(name);
        setAutoRaise(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        setIconSize(QSize(32, 32));
        // The frame stays at the hover size so growing does not move its neighbours.
        setFixedSize(40, 40);
        // No frame of its own, so the focus is drawn: a ring in the highlight colour.
        setStyleSheet(u"QToolButton { border: 2px solid transparent; border-radius: 20px; "
                      u"background: transparent; }"
                      u"QToolButton:focus { border-color: palette(highlight); }"_s);
    }

protected:
    void enterEvent(QEnterEvent *event) override
    {
        setIconSize(QSize(35, 35));
        QToolButton::enterEvent(event);
    }
    void leaveEvent(QEvent *event) override
    {
        setIconSize(QSize(32, 32));
        QToolButton::leaveEvent(event);
    }
};

// The receipt date as one stop of the Tab chain. QDateEdit's Tab walks its year, month
// and day first, three stops on the way to 交款单位; the arrow keys still move between them.
class ReceiptDateEdit : public QDateEdit
{
public:
    using QDateEdit::QDateEdit;

protected:
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

// The label is the field's buddy, so screen readers announce the field by it.
QLabel *fieldLabel(const QString &text, QWidget *field, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setBuddy(field);
    return label;
}

} // namespace

AddView::AddView(QWidget *parent)
    : QWidget(parent)
    , m_store(AppStore::shared())
    , m_errorToast(new Toast(Toast::Kind::Error, 2s, this))
    , m_noticeToast(new Toast(Toast::Kind::Error, 4s, this))
    , m_conflictBar(new EditConflictBar(this))
{
    setObjectName(u"addView"_s);

    auto *box = new QGroupBox(this);
    box->setObjectName(u"receiptGroupBox"_s);
    box->setFixedSize(900, 400);
    // The shadow is drawn as a darker right and bottom edge: a QGraphicsEffect would
    // shadow every label and field inside the box as well.
    box->setStyleSheet(u"#receiptGroupBox { background: palette(base); border: 1px solid "
                       u"palette(midlight); border-right: 2px solid palette(mid); "
                       u"border-bottom: 2px solid palette(mid); border-radius: 4px; }"_s);

    auto *mainColumn = new QVBoxLayout;
    mainColumn->setSpacing(0);
    mainColumn->setContentsMargins(0, 0, 0, 0);
    mainColumn->addWidget(createHeader(box));
    mainColumn->addWidget(createBody(box));
    mainColumn->addSpacing(14);
    mainColumn->addWidget(createFooter(box));
    mainColumn->addStretch();

    // The receipt's right-hand label runs top to bottom, one character per line.
    m_sideLabel = new QLabel(box);
    m_sideLabel->setObjectName(u"sideLabel"_s);
    m_sideLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_sideLabel->setWordWrap(false);

    auto *boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(0, 8, 50, 8);
    boxRow->setSpacing(10);
    boxRow->addLayout(mainColumn, 1);
    auto *sideColumn = new QVBoxLayout;
    sideColumn->setContentsMargins(0, 40, 0, 20);
    sideColumn->addWidget(m_sideLabel, 1);
    boxRow->addLayout(sideColumn);

    // Under the form, out of the way of typing: the receipt just stored. Its line is kept
    // while empty, so the form does not move when it fills.
    m_savedLabel = new QLabel(this);
    m_savedLabel->setObjectName(u"savedLabel"_s);
    m_savedLabel->setAlignment(Qt::AlignCenter);
    m_savedLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_savedLabel->setMinimumHeight(m_savedLabel->fontMetrics().height());

    // Over the form, as wide as it: where the cashier looks, and out of the way of typing.
    m_conflictBar->setFixedWidth(box->width());
    connect(m_conflictBar, &EditConflictBar::reopenChosen, this, &AddView::reopen);
    connect(m_conflictBar, &EditConflictBar::saveAsNewChosen, this, &AddView::saveAsNew);
    connect(m_conflictBar, &EditConflictBar::restoreTypingChosen, this, &AddView::restoreTyping);
    connect(m_conflictBar, &EditConflictBar::dismissed, this, &AddView::focusFirstField);

    auto *outer = new QVBoxLayout(this);
    outer->addStretch();
    outer->addWidget(m_conflictBar, 0, Qt::AlignHCenter);
    outer->addWidget(box, 0, Qt::AlignHCenter);
    outer->addWidget(m_savedLabel);
    outer->addStretch();

    connect(&m_store, &AppStore::receiptEditChanged, this, &AddView::onReceiptEditChanged);
    // The list a receipt was opened from for 修改, to go back to when the edit ends.
    connect(&m_store, &AppStore::selectionNavChanged, this, [this] {
        if (const std::optional<NavigationItem> nav = m_store.selectionNav();
            nav && *nav >= NavigationItem::stat_today && *nav <= NavigationItem::stat_all)
            m_cameFrom = nav;
    });
    connect(&ReceiptNoStore::shared(), &ReceiptNoStore::statusChanged, this,
            &AddView::showNumberStatus);
    // The paper form's number must match the stored one: say so when it changed.
    connect(&m_store, &AppStore::receiptNoReassigned, this, [this](const QString &number) {
        m_noticeToast->show(u"单号已被占用，已改为 No.%1"_s.arg(number));
    });
    // The number on the paper in the printer must be the one the receipt gets: a number
    // another desk took meanwhile is replaced at once, marked until the receipt is saved.
    connect(&m_store, &AppStore::shownNumberTaken, this,
            [this](const QString &taken, const QString &shown) {
                m_movedNumber = shown;
                showNumber();
                m_noticeToast->show(
                    u"No.%1 已被其他电脑使用，这张收据改为 No.%2"_s.arg(taken, shown));
            });
    // Told at once on the bar, which stays: the save is refused, what was typed stays. The
    // keyboard stays where the cashier is typing.
    connect(&m_store, &AppStore::editChangedElsewhere, this,
            [this] { showEditRefusal(BarFocus::Leave); });
    m_noticeToast->setObjectName(u"noticeToast"_s);
    showNumberStatus();
    showSeries();
    auto showCompany = [this] {
        const Company company = CompanyStore::shared().company();
        m_titleLabel->setFullText(company.title);
        // As on the paper: one character per line, a character being what the user sees
        // as one (an emoji is not split into two halves).
        const QStringList lines = ReceiptPageLayout::verticalLabelLines(company.label);
        m_sideLabel->setText(lines.join(u'\n'));
        int widest = 15;
        for (const QString &line : lines)
            widest = std::max(widest, m_sideLabel->fontMetrics().horizontalAdvance(line));
        m_sideLabel->setFixedWidth(widest);
    };
    connect(&CompanyStore::shared(), &CompanyStore::companyChanged, this, showCompany);
    showCompany();

    // The combo boxes offer their lookup list, then what recent receipts hold; the pickers
    // are rebuilt from theirs whenever the receipt is shown.
    using Field = RecentValues::Field;
    OfferedTexts::bind(m_payerComboBox, PayerStore::shared(), Field::Payer);
    OfferedTexts::bind(m_reason1ComboBox, Reason1Store::shared(), Field::Reason1);
    OfferedTexts::bind(m_reason2ComboBox, Reason2Store::shared(), Field::Reason2);
    OfferedTexts::bind(m_remarkComboBox, RemarkStore::shared(), Field::Remark);
    connect(&PaytypeStore::shared(), &LookupStoreBase::itemsChanged, this, &AddView::showReceipt);
    connect(&AccountStore::shared(), &LookupStoreBase::itemsChanged, this, &AddView::showReceipt);

    // A receipt begins in 交款单位: one Tab from the sidebar reaches it. Then the form as it
    // reads, the four text rows, the amount and the pickers along the foot; the buttons and
    // the date last, as Ctrl+S saves from any field and the date stays for the next
    // receipt. The date after the buttons: a button that hides under the focus (保存修改
    // once saved) hands it on to the next in the chain, which must still be on the form.
    // Stated here so it does not hang on the order the bands are built in. The capitals
    // are written by the form, not typed, and stay out of the chain.
    const QList<QWidget *> tabChain = {
        m_payerComboBox,      m_reason1ComboBox, m_reason2ComboBox, m_remarkComboBox,
        m_totalLineEdit,      m_paytypeComboBox, m_payeeComboBox,   m_approveComboBox,
        m_accountantComboBox, m_addButton,       m_addPrintButton,  m_saveButton,
        m_cancelButton,       m_receiptDateEdit,
    };
    for (qsizetype i = 1; i < tabChain.size(); ++i)
        setTabOrder(tabChain.at(i - 1), tabChain.at(i));

    // Right-clicking the form outside its fields (which keep their own menus) offers it too.
    auto *previewAction = new QAction(u"打印预览(&W)…"_s, this);
    previewAction->setObjectName(u"previewAction"_s);
    previewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    previewAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(previewAction, &QAction::triggered, this, &AddView::preview);
    addAction(previewAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    m_capitalsTotal = m_store.receiptEdit().total;
    m_rememberedChoices = rememberedValues(m_store.receiptEdit());
    showReceipt();
}

QWidget *AddView::createHeader(QWidget *parent)
{
    auto *header = new QWidget(parent);
    header->setFixedHeight(96);
    auto *layers = new QGridLayout(header);
    layers->setContentsMargins(60, 16, 10, 0);

    auto *buttons = new QWidget(header);
    auto *buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 15);
    buttonRow->setSpacing(6);
    m_addButton = new HoverIconButton(u"plus.circle.fill"_s, u"增加"_s, buttons);
    m_addButton->setObjectName(u"addButton"_s);
    m_addPrintButton = new HoverIconButton(u"printer.filled.and.paper"_s, u"增加并打印"_s, buttons,
                                           QColor::fromRgb(Icons::actionBlue));
    m_addPrintButton->setObjectName(u"addPrintButton"_s);
    m_saveButton = new HoverIconButton(u"pencil.circle.fill"_s, u"保存修改"_s, buttons);
    m_saveButton->setObjectName(u"saveButton"_s);
    m_cancelButton = new HoverIconButton(u"x.circle.fill"_s, u"取消修改"_s, buttons);
    m_cancelButton->setObjectName(u"cancelButton"_s);
    for (QToolButton *button : {m_addButton, m_addPrintButton, m_saveButton, m_cancelButton})
        buttonRow->addWidget(button);
    // Ctrl+S stores the form whichever pair is shown: only the visible button's shortcut
    // is live, so the two never compete.
    Keyboard::setShortcut(m_addButton, QKeySequence::Save);
    Keyboard::setShortcut(m_addPrintButton, QKeySequence::Print);
    Keyboard::setShortcut(m_saveButton, QKeySequence::Save);
    Keyboard::setShortcut(m_cancelButton, QKeySequence(Qt::Key_Escape));
    connect(m_addButton, &QToolButton::clicked, this, &AddView::add);
    connect(m_addPrintButton, &QToolButton::clicked, this, &AddView::addAndPrint);
    connect(m_saveButton, &QToolButton::clicked, this, &AddView::saveChanges);
    connect(m_cancelButton, &QToolButton::clicked, this, &AddView::cancel);

    auto *title = new QWidget(header);
    auto *titleColumn = new QVBoxLayout(title);
    titleColumn->setContentsMargins(0, 0, 0, 20);
    m_titleLabel = new FittedLabel(title);
    m_titleLabel->setObjectName(u"titleLabel"_s);
    m_titleLabel->setFont(scaledFont(font(), 2.0, true));
    titleColumn->addWidget(m_titleLabel);

    auto *numberAndDate = new QWidget(header);
    auto *numberColumn = new QVBoxLayout(numberAndDate);
    numberColumn->setContentsMargins(0, 0, 0, 0);
    numberColumn->setSpacing(2);
    auto *numberRow = new QHBoxLayout;
    numberRow->setSpacing(4);
    numberRow->addStretch();
    m_seriesComboBox = new QComboBox(numberAndDate);
    m_seriesComboBox->setObjectName(u"seriesComboBox"_s);
    m_seriesComboBox->setAccessibleName(u"类别"_s);
    m_seriesComboBox->setToolTip(u"收据类别：单号按类别分别编号"_s);
    numberRow->addWidget(m_seriesComboBox, 0, Qt::AlignBaseline);
    connect(m_seriesComboBox, &QComboBox::activated, this, [this](int index) {
        ReceiptSeriesStore &series = ReceiptSeriesStore::shared();
        series.setCurrent(m_seriesComboBox->itemData(index).toString());
        if (m_store.receiptEdit().id.isEmpty())
            ReceiptNoStore::shared().nextReceiptNo();
    });
    connect(&ReceiptSeriesStore::shared(), &ReceiptSeriesStore::seriesChanged, this,
            &AddView::showSeries);
    auto *numberTitle = new QLabel(u"No."_s, numberAndDate);
    // "No." read aloud means nothing; the buddy ties the name to the number beside it.
    numberTitle->setAccessibleName(u"收据单号"_s);
    numberRow->addWidget(numberTitle, 0, Qt::AlignBaseline);
    m_receiptNoLabel = new QLabel(numberAndDate);
    numberTitle->setBuddy(m_receiptNoLabel);
    m_receiptNoLabel->setObjectName(u"receiptNoLabel"_s);
    m_receiptNoLabel->setFont(scaledFont(font(), 1.5, false));
    m_receiptNoLabel->setStyleSheet(u"color: #d93025;"_s);
    m_receiptNoLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    numberRow->addWidget(m_receiptNoLabel, 0, Qt::AlignBaseline);
    m_numberStatusLabel = new QLabel(numberAndDate);
    m_numberStatusLabel->setObjectName(u"numberStatusLabel"_s);
    m_numberStatusLabel->setStyleSheet(u"color: #d93025; font-weight: bold;"_s);
    m_numberStatusLabel->setVisible(false);
    numberRow->addWidget(m_numberStatusLabel, 0, Qt::AlignBaseline);
    numberColumn->addLayout(numberRow);
    m_receiptDateEdit = new ReceiptDateEdit(numberAndDate);
    m_receiptDateEdit->setObjectName(u"receiptDateEdit"_s);
    m_receiptDateEdit->setAccessibleName(u"收款日期"_s);
    m_receiptDateEdit->setCalendarPopup(true);
    m_receiptDateEdit->setDisplayFormat(u"yyyy-MM-dd"_s);
    m_receiptDateEdit->setFixedWidth(150);
    m_dateNoteLabel = new QLabel(u"不是今天"_s, numberAndDate);
    m_dateNoteLabel->setObjectName(u"dateNoteLabel"_s);
    m_dateNoteLabel->setStyleSheet(u"color: #d93025; font-weight: bold;"_s);
    m_dateNoteLabel->setVisible(false);
    auto *dateRow = new QHBoxLayout;
    dateRow->setSpacing(6);
    dateRow->addStretch();
    dateRow->addWidget(m_dateNoteLabel);
    dateRow->addWidget(m_receiptDateEdit);
    numberColumn->addLayout(dateRow);
    connect(m_receiptDateEdit, &QDateEdit::dateChanged, this, [this](QDate date) {
        const int year = m_store.receiptEdit().receiptDate.date().year();
        editReceipt([date](Receipt &receipt) {
            receipt.receiptDate = QDateTime(date, receipt.receiptDate.time());
        });
        // A series whose number holds the year shows the number of the new date's year.
        if (m_store.receiptEdit().id.isEmpty() && date.year() != year
            && !ReceiptSeriesStore::shared().current().isEmpty())
            ReceiptNoStore::shared().nextReceiptNo();
    });

    layers->addWidget(buttons, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    layers->addWidget(title, 0, 0, Qt::AlignCenter);
    layers->addWidget(numberAndDate, 0, 0, Qt::AlignRight | Qt::AlignVCenter);
    // A long title gives way to the buttons and the number, which stays whole.
    m_titleLabel->keepClearOf(header, {buttons, numberAndDate});
    return header;
}

QWidget *AddView::createBody(QWidget *parent)
{
    auto *body = new QWidget(parent);
    auto *outer = new QHBoxLayout(body);
    outer->setContentsMargins(60, 6, 10, 0);

    auto *frame = new QFrame(body);
    frame->setObjectName(u"bodyFrame"_s);
    frame->setStyleSheet(u"#bodyFrame { border: 1px solid palette(mid); }"_s);
    outer->addWidget(frame);

    auto *rows = new QGridLayout(frame);
    rows->setContentsMargins(30, 18, 20, 18);
    rows->setHorizontalSpacing(12);
    rows->setVerticalSpacing(14);
    rows->setColumnStretch(1, 1);

    struct Row
    {
        const char16_t *label;
        const char16_t *name;
        ComboBox **comboBox;
        QString Receipt::*field;
    };
    const Row comboRows[] = {
        {u"交款单位", u"payerComboBox", &m_payerComboBox, &Receipt::payer},
        {u"收款事由", u"reason1ComboBox", &m_reason1ComboBox, &Receipt::reason1},
        {u"其它说明", u"reason2ComboBox", &m_reason2ComboBox, &Receipt::reason2},
        {u"备注信息", u"remarkComboBox", &m_remarkComboBox, &Receipt::remark},
    };
    int row = 0;
    for (const Row &entry : comboRows) {
        const QString label = QString::fromUtf16(entry.label);
        auto *comboBox = new ComboBox(frame);
        comboBox->setObjectName(QString::fromUtf16(entry.name));
        comboBox->setAccessibleName(label);
        *entry.comboBox = comboBox;
        rows->addWidget(fieldLabel(label, comboBox, frame), row, 0);
        rows->addWidget(comboBox, row, 1);
        const auto field = entry.field;
        connect(comboBox, &ComboBox::textEdited, this, [this, field](const QString &text) {
            editReceipt([&](Receipt &receipt) { receipt.*field = text; });
        });
        ++row;
    }

    auto *amountRow = new QHBoxLayout;
    amountRow->setSpacing(0);
    m_totalBigLineEdit = new QLineEdit(frame);
    m_totalBigLineEdit->setObjectName(u"totalBigLineEdit"_s);
    m_totalBigLineEdit->setAccessibleName(u"金额（大写）"_s);
    m_totalBigLineEdit->setReadOnly(true);
    m_totalBigLineEdit->setFocusPolicy(Qt::NoFocus);
    amountRow->addWidget(m_totalBigLineEdit, 1);
    amountRow->addSpacing(20);
    auto *yuanSign = new QLabel(u"¥"_s, frame);
    yuanSign->setAccessibleName(u"金额"_s);
    yuanSign->setFont(scaledFont(font(), 1.5, false));
    amountRow->addWidget(yuanSign);
    amountRow->addSpacing(6);
    m_totalLineEdit = new AmountField(frame);
    m_totalLineEdit->setObjectName(u"totalLineEdit"_s);
    m_totalLineEdit->setAccessibleName(u"金额"_s);
    yuanSign->setBuddy(m_totalLineEdit);
    m_totalLineEdit->setFixedWidth(160);
    m_totalLineEdit->setFont(scaledFont(font(), 1.3, false));
    m_totalLineEdit->setStyleSheet(u"color: #d93025;"_s);
    amountRow->addWidget(m_totalLineEdit);
    connect(m_totalLineEdit, &AmountField::amountEdited, this, [this](double amount) {
        editReceipt([amount](Receipt &receipt) {
            receipt.total = amount;
            receipt.unreadableTotal.reset();
        });
    });
    connect(m_totalLineEdit, &AmountField::amountRefused, this,
            [this] { m_errorToast->show(u"金额过大：不能超过 999999999999.99"_s); });
    connect(m_totalLineEdit, &AmountField::pasteRefused, this,
            [this] { m_errorToast->show(u"粘贴的内容不是金额（最多两位小数）"_s); });
    rows->addWidget(fieldLabel(u"金额（大写）"_s, m_totalBigLineEdit, frame), row, 0);
    rows->addLayout(amountRow, row, 1);
    return body;
}

QWidget *AddView::createFooter(QWidget *parent)
{
    auto *footer = new QWidget(parent);
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(90, 0, 40, 14);
    row->setSpacing(6);

    struct Picker
    {
        const char16_t *label;
        const char16_t *name;
        LookupPicker **picker;
        QString Receipt::*field;
        // The settings screen its entries come from.
        NavigationItem list;
        const char16_t *listTitle;
    };
    const Picker pickers[] = {
        {u"收款方式", u"paytypeComboBox", &m_paytypeComboBox, &Receipt::paytype,
         NavigationItem::settings_paytype, u"收款方式"},
        {u"收款人", u"payeeComboBox", &m_payeeComboBox, &Receipt::payee,
         NavigationItem::settings_account, u"系统用户"},
        {u"核准", u"approveComboBox", &m_approveComboBox, &Receipt::approve,
         NavigationItem::settings_account, u"系统用户"},
        {u"会计", u"accountantComboBox", &m_accountantComboBox, &Receipt::accountant,
         NavigationItem::settings_account, u"系统用户"},
    };
    bool first = true;
    for (const Picker &entry : pickers) {
        const QString label = QString::fromUtf16(entry.label);
        // A new book has no users: the picker says where they are added and leads there,
        // rather than offering an empty list and saving the receipt without a name.
        auto *picker = new LookupPicker(
            u"在「%1」中添加"_s.arg(QString::fromUtf16(entry.listTitle)), footer);
        picker->setObjectName(QString::fromUtf16(entry.name));
        picker->setAccessibleName(label);
        picker->setMinimumWidth(first ? 110 : 90);
        *entry.picker = picker;
        const NavigationItem list = entry.list;
        connect(picker, &LookupPicker::emptyListOpened, this,
                [this, list] { m_store.setSelectionNav(list); });
        if (!first)
            row->addSpacing(14);
        row->addWidget(fieldLabel(label, picker, footer));
        row->addWidget(picker);
        if (first)
            row->addStretch();
        first = false;
        const auto field = entry.field;
        connect(picker, &QComboBox::textActivated, this, [this, field](const QString &text) {
            editReceipt([&](Receipt &receipt) { receipt.*field = text; });
        });
    }
    return footer;
}

void AddView::editReceipt(const std::function<void(Receipt &)> &change)
{
    Receipt receipt = m_store.receiptEdit();
    const Receipt before = receipt;
    change(receipt);
    if (receipt != before)
        m_store.setReceiptEdit(receipt);
}

void AddView::showSeries()
{
    const ReceiptSeriesStore &store = ReceiptSeriesStore::shared();
    const QSignalBlocker blocker(m_seriesComboBox);
    m_seriesComboBox->clear();
    for (const ReceiptSeries &series : store.series())
        m_seriesComboBox->addItem(series.name, series.isDefault() ? QString() : series.name);
    m_seriesComboBox->setCurrentIndex(std::max(0, m_seriesComboBox->findData(store.current())));
    m_seriesComboBox->setVisible(store.hasSeveral() && m_store.receiptEdit().id.isEmpty());
}

void AddView::askForNextBook(const QString &saved, const QString &next)
{
    const ReceiptSeriesStore &store = ReceiptSeriesStore::shared();
    const QString series = store.current();
    if (!store.hasBooks(series) || next.isEmpty())
        return;
    const QList<ReceiptSeries> all = store.series();
    const std::optional<SeriesNumber::Identity> was = SeriesNumber::identify(saved, all);
    const std::optional<SeriesNumber::Identity> now = SeriesNumber::identify(next, all);
    if (!was || !now)
        return;
    // The books as last read: asking the book after every save would cost a desk far from
    // its server a round trip each.
    const std::optional<PaperBook> from = store.openBookHolding(series, was->value);
    const std::optional<PaperBook> to = store.openBookHolding(series, now->value);
    if (!from || !to || from->first == to->first)
        return;
    const ReceiptSeries &numbering = all.at(now->series);
    MessageBox::information(this, u"换收据本"_s,
                            u"第 %1 本已用完，请放入下一本：%2"_s.arg(
                                SeriesTables::rangeText(*from, numbering),
                                SeriesTables::rangeText(*to, numbering)));
}

void AddView::showNumber()
{
    const Receipt receipt = m_store.receiptEdit();
    m_seriesComboBox->setVisible(ReceiptSeriesStore::shared().hasSeveral() && receipt.id.isEmpty());
    m_receiptNoLabel->setText(receipt.receiptNo);
    const bool moved
        = receipt.id.isEmpty() && !m_movedNumber.isEmpty() && receipt.receiptNo == m_movedNumber;
    if (!moved)
        m_movedNumber.clear();
    if (m_receiptNoLabel->property("moved").toBool() == moved)
        return;
    m_receiptNoLabel->setProperty("moved", moved);
    // A background only: the number keeps its size and place.
    m_receiptNoLabel->setStyleSheet(moved ? u"color: #d93025; background-color: #ffe066;"_s
                                          : u"color: #d93025;"_s);
}

void AddView::showReceipt()
{
    const Receipt receipt = m_store.receiptEdit();
    const bool isNew = receipt.id.isEmpty();
    m_addButton->setVisible(isNew);
    m_addPrintButton->setVisible(isNew);
    m_saveButton->setVisible(!isNew);
    // On a new receipt with something typed, 取消修改 clears it (a kept draft too).
    m_cancelButton->setVisible(!isNew || !ReceiptDraft::isBlank(receipt));

    showNumber();
    {
        const QSignalBlocker blocker(m_receiptDateEdit);
        m_receiptDateEdit->setDate(receipt.receiptDate.date());
    }
    showDateNote();
    if (!isNew)
        m_savedLabel->clear();
    if (!m_store.editRefusal() && !m_store.keptTyping())
        m_conflictBar->hide();
    m_payerComboBox->setText(receipt.payer);
    m_reason1ComboBox->setText(receipt.reason1);
    m_reason2ComboBox->setText(receipt.reason2);
    m_remarkComboBox->setText(receipt.remark);
    if (m_totalBigLineEdit->text() != receipt.totalBig)
        m_totalBigLineEdit->setText(receipt.totalBig);
    if (receipt.unreadableTotal)
        m_totalLineEdit->showUnreadable(*receipt.unreadableTotal);
    else
        m_totalLineEdit->setAmount(receipt.total);
    const QStringList paytypes = PaytypeStore::shared().items();
    const QStringList users = AccountStore::shared().items();
    m_paytypeComboBox->showChoice(paytypes, receipt.paytype);
    m_payeeComboBox->showChoice(users, receipt.payee);
    m_approveComboBox->showChoice(users, receipt.approve);
    m_accountantComboBox->showChoice(users, receipt.accountant);
}

void AddView::onReceiptEditChanged()
{
    if (isVisible() && !m_loadingStored) {
        updateCapitals();
        rememberChoices();
    }
    if (m_displayHolds > 0) {
        m_displayPending = true;
        return;
    }
    showReceipt();
}

void AddView::holdingDisplay(const std::function<void()> &save)
{
    ++m_displayHolds;
    save();
    if (--m_displayHolds == 0 && m_displayPending) {
        m_displayPending = false;
        showReceipt();
    }
}

void AddView::updateCapitals()
{
    const double total = m_store.receiptEdit().total;
    if (total == m_capitalsTotal)
        return;
    m_capitalsTotal = total;
    // Writing back re-enters onReceiptEditChanged once, which finds the amount already
    // converted and stops.
    editReceipt(
        [total](Receipt &receipt) { receipt.totalBig = amountInCapitals(amountText(total)); });
}

void AddView::rememberChoices()
{
    const QStringList values = rememberedValues(m_store.receiptEdit());
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (values.at(i) != m_rememberedChoices.at(i))
            PrintSettings::shared().setFormChoice(rememberedChoices[i], values.at(i));
    }
    m_rememberedChoices = values;
}

void AddView::focusFirstField()
{
    m_payerComboBox->setFocus(Qt::OtherFocusReason);
}

void AddView::showDateNote()
{
    const bool notToday = m_receiptDateEdit->date() != Clock::now().date();
    m_dateNoteLabel->setVisible(notToday);
    // The field itself too, for whoever looks at the date only. A new style sheet polishes
    // the field and lays the form out again, so it is set only when the note changes.
    if (m_dateStyledNotToday == notToday)
        return;
    m_dateStyledNotToday = notToday;
    m_receiptDateEdit->setStyleSheet(notToday ? u"QDateEdit { color: #d93025; }"_s : QString());
    m_receiptDateEdit->setToolTip(notToday ? u"收款日期不是今天"_s : QString());
}

void AddView::showSaved(const QString &number, QDate date)
{
    m_savedLabel->setText(date == Clock::now().date() ? u"已保存 No.%1"_s.arg(number)
                                                      : u"已保存 No.%1（收款日期 %2）"_s.arg(
                                                          number, date.toString(u"yyyy-MM-dd"_s)));
    focusFirstField();
}

void AddView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // At start the cursor is where a receipt begins. Later showings leave the focus
    // where the user put it (the sidebar's arrow keys pass this screen).
    if (!m_shownBefore) {
        m_shownBefore = true;
        focusFirstField();
    }
    showDateNote();
    // What other desks and earlier runs typed, read once a showing rather than after each
    // save: a save sends no statement for it.
    RecentValues::shared().reload();
    const Receipt receipt = m_store.receiptEdit();
    // Changes made while the form was away are not choices made on it: a receipt loaded
    // for editing keeps its stored capitals and does not touch the remembered choices.
    // A form blanked meanwhile (after a save, or by a list selection) gets capitals for
    // its amount again.
    m_rememberedChoices = rememberedValues(receipt);
    if (receipt.id.isEmpty() && ReceiptDraft::isBlank(receipt))
        restoreDraft();
    if (receipt.id.isEmpty())
        updateCapitals();
    else
        m_capitalsTotal = receipt.total;
}

void AddView::restoreDraft()
{
    std::optional<Receipt> draft = ReceiptDraft::shared().take();
    if (!draft)
        return;
    // The number stays the one the form has now: the draft's may have been issued since.
    draft->receiptNo = m_store.receiptEdit().receiptNo;
    m_capitalsTotal = draft->total;
    m_store.setReceiptEdit(*draft);
}

bool AddView::hasUnsavedWork() const
{
    const Receipt edit = m_store.receiptEdit();
    if (edit.id.isEmpty())
        return !ReceiptDraft::isBlank(edit);
    // An edit differs from the stored receipt, or the stored one is gone.
    std::optional<Receipt> stored;
    if (m_store.selectedId())
        m_store.readReceipt(*m_store.selectedId(), &stored);
    return !stored || ReceiptDraft::differs(edit, *stored);
}

void AddView::showNumberStatus()
{
    const QString text = ReceiptNoStore::statusText(ReceiptNoStore::shared().status());
    m_numberStatusLabel->setText(text);
    m_numberStatusLabel->setVisible(!text.isEmpty());
}

bool AddView::validate()
{
    ReceiptNoStore &numbering = ReceiptNoStore::shared();
    if (m_store.receiptEdit().id.isEmpty() && numbering.status() != ReceiptNoStore::Status::Ready)
        numbering.nextReceiptNo(); // numbering stopped on a failed check: try it again
    const Receipt receipt = m_store.receiptEdit();
    QString message;
    QWidget *atFault = nullptr;
    if (receipt.id.isEmpty() && numbering.status() != ReceiptNoStore::Status::Ready) {
        message = ReceiptNoStore::statusText(numbering.status());
    } else if (receipt.unreadableTotal) {
        message = u"金额无法识别，请重新输入金额"_s;
        atFault = m_totalLineEdit;
    } else if (receipt.payer.isEmpty()) {
        message = u"必填：交款单位"_s;
        atFault = m_payerComboBox;
    } else if (receipt.reason1.isEmpty()) {
        message = u"必填：收款事由"_s;
        atFault = m_reason1ComboBox;
    } else if (receipt.total == 0) {
        message = u"必填：金额"_s;
        atFault = m_totalLineEdit;
    }
    if (message.isEmpty())
        return true;
    // The cursor goes to the field the message names, and the message leaves it there:
    // the cashier types the missing text while reading it.
    if (atFault) {
        atFault->setFocus(Qt::OtherFocusReason);
        m_errorToast->showLeavingFocus(message);
    } else {
        m_errorToast->show(message);
    }
    return false;
}

bool AddView::insertNew()
{
    // Always a new receipt, whatever the form was showing: the store gives it its id.
    editReceipt([](Receipt &receipt) { receipt.id.clear(); });
    QString error;
    if (m_store.insertReceipt(&error))
        return true;
    m_errorToast->show(error);
    return false;
}

void AddView::add()
{
    if (!validate())
        return;
    holdingDisplay([this] {
        if (!insertNew())
            return;
        // The form stays for the next receipt (today's list would not show one dated
        // another day); the line under it says what was stored.
        const Receipt saved = m_store.receiptEdit();
        m_store.newReceipt();
        showSaved(saved.receiptNo, saved.receiptDate.date());
        askForNextBook(saved.receiptNo, m_store.receiptEdit().receiptNo);
        if (!m_store.saveNote().isEmpty())
            m_noticeToast->show(m_store.saveNote());
    });
}

void AddView::addAndPrint()
{
    if (!validate() || !insertNew())
        return;
    const QString number = m_store.receiptEdit().receiptNo;
    const QDate date = m_store.receiptEdit().receiptDate.date();
    m_store.setSelectedId(m_store.receiptEdit().id);
    // Printed from what was stored, never from the form: the two must be one receipt.
    const bool printed = m_store.loadSelected(false) && PrintAction::printReceipt();
    m_store.newReceipt();
    // Before the notice below, which hands the focus back to where it was.
    showSaved(number, date);
    askForNextBook(number, m_store.receiptEdit().receiptNo);
    // A cancelled dialog leaves a saved receipt: it must not pass without a word.
    if (!printed)
        m_noticeToast->show(u"已保存 No.%1，未打印"_s.arg(number));
}

void AddView::saveChanges()
{
    // Before the checks: whatever is typed, it cannot go over this receipt any more.
    if (showEditRefusal(BarFocus::Take) || !validate())
        return;
    QString error;
    if (!m_store.updateReceipt(&error)) {
        if (!showEditRefusal(BarFocus::Take))
            m_errorToast->show(error);
        return;
    }
    holdingDisplay([this] {
        // The list the receipt was opened from shows it whatever its date; today's list
        // would not show one of another day.
        m_store.setSelectionNav(m_cameFrom.value_or(NavigationItem::stat_today));
        m_store.newReceipt();
    });
}

void AddView::preview()
{
    // The form as it stands, saved or not.
    if (!PrintDialogs::preview(this, PrintJob::formPreview(m_store.receiptEdit())))
        return;
    // What goes on paper is always a stored receipt, printed from the book.
    if (m_store.receiptEdit().id.isEmpty())
        addAndPrint();
    else
        saveAndPrint();
}

void AddView::saveAndPrint()
{
    if (!validate())
        return;
    QString error;
    if (hasUnsavedWork() && !m_store.updateReceipt(&error)) {
        if (!showEditRefusal(BarFocus::Take))
            m_errorToast->show(error);
        return;
    }
    if (m_store.loadSelected(false, &error))
        PrintAction::printReceipt(this);
    else
        m_errorToast->show(u"已保存，未打印：%1"_s.arg(error));
    m_store.setSelectionNav(m_cameFrom.value_or(NavigationItem::stat_today));
    m_store.newReceipt();
}

void AddView::cancel()
{
    if (hasUnsavedWork() && !MessageBox::confirmDiscard(this))
        return;
    const bool wasEdit = !m_store.receiptEdit().id.isEmpty();
    ReceiptDraft::shared().discard();
    m_store.newReceipt();
    // An edit was opened from a list: back to that list. A new receipt cleared stays.
    if (wasEdit)
        m_store.setSelectionNav(m_cameFrom.value_or(NavigationItem::stat_today));
    else
        focusFirstField();
}

bool AddView::showEditRefusal(BarFocus focus)
{
    const std::optional<EditRefusal> refusal = m_store.editRefusal();
    if (!refusal) {
        m_conflictBar->hide();
        return false;
    }
    m_conflictBar->showRefusal(*refusal);
    if (focus == BarFocus::Take)
        m_conflictBar->focusChoice();
    return true;
}

void AddView::reopen()
{
    const std::optional<EditRefusal> refusal = m_store.editRefusal();
    if (!refusal)
        return;
    {
        // Loaded as the list's 修改 loads it, though the form is on screen: with its stored
        // capitals, and its choices are not the cashier's to remember.
        const QScopedValueRollback loading(m_loadingStored, true);
        if (!m_store.reopenRefused()) {
            m_errorToast->show(u"无法重新打开：收据已不存在或无法读取"_s);
            return;
        }
    }
    followStoredReceipt();
    m_conflictBar->showReopened(m_store.receiptEdit().receiptNo);
    focusFirstField();
}

void AddView::restoreTyping()
{
    {
        const QScopedValueRollback loading(m_loadingStored, true);
        m_store.restoreTyping();
    }
    followStoredReceipt();
    m_conflictBar->hide();
    focusFirstField();
}

void AddView::followStoredReceipt()
{
    const Receipt receipt = m_store.receiptEdit();
    m_capitalsTotal = receipt.total;
    m_rememberedChoices = rememberedValues(receipt);
}

void AddView::saveAsNew()
{
    m_store.keepEditAsNew();
    m_conflictBar->hide();
    add();
}
