// SPDX-License-Identifier: GPL-3.0-or-later
#include "paperbookdialogs.h"

#include "appstore.h"
#include "clock.h"
#include "combobox.h"
#include "datetext.h"
#include "filedialogs.h"
#include "messagebox.h"
#include "money.h"
#include "paperbookpages.h"
#include "printaction.h"
#include "receiptbook.h"
#include "receiptnostore.h"
#include "receiptnumber.h"
#include "seriesstore.h"

#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>

using namespace Qt::StringLiterals;

namespace {

QString shownSeries(const QString &key)
{
    return key.isEmpty() ? SeriesNumber::defaultName() : key;
}

// A number as the user types it: its value's digits, or the series' full number (XF-0007).
std::optional<qint64> valueFrom(const QString &text, const ReceiptSeries &series)
{
    const QString typed = ReceiptNumber::trimmed(text);
    if (typed.isEmpty())
        return std::nullopt;
    if (ReceiptNumber::isPlain(typed) && typed.size() <= 18)
        return typed.toLongLong();
    const std::optional<SeriesNumber::Identity> identity = SeriesNumber::identify(typed, {series});
    if (!identity)
        return std::nullopt;
    return identity->value;
}

// "默认 0012501–0012550（领用人 张三）".
QString bookText(const PaperBooks::Account &account)
{
    return u"%1 %2%3"_s.arg(shownSeries(account.book.series),
                            SeriesTables::rangeText(account.book, account.series),
                            account.book.holder.isEmpty()
                                ? QString()
                                : u"（领用人 %1）"_s.arg(account.book.holder));
}

QLabel *errorLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setStyleSheet(u"color: #d93025;"_s);
    label->hide();
    return label;
}

void showError(QLabel *label, const QString &text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

// The form's next number follows a change of the books or the counter, while it holds a
// new receipt.
void refreshFormNumber()
{
    if (AppStore::shared().receiptEdit().id.isEmpty())
        ReceiptNoStore::shared().nextReceiptNo();
}

// 登记收据本: the series, the first and last number and the holder. The book registered,
// as its series' key and first number; nothing when cancelled.
std::optional<std::pair<QString, qint64>> askNewBook(QWidget *parent,
                                                     const QList<PaperBooks::Account> &known)
{
    QDialog dialog(parent);
    dialog.setObjectName(u"addPaperBookDialog"_s);
    dialog.setWindowTitle(u"登记收据本"_s);
    auto *layout = new QVBoxLayout(&dialog);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    auto *seriesBox = new QComboBox(&dialog);
    seriesBox->setObjectName(u"paperBookSeries"_s);
    seriesBox->setAccessibleName(u"类别"_s);
    const QList<ReceiptSeries> all = ReceiptSeriesStore::shared().series();
    for (const ReceiptSeries &series : all)
        seriesBox->addItem(series.name);
    form->addRow(u"类别(&C)"_s, seriesBox);
    auto *firstField = new QLineEdit(&dialog);
    firstField->setObjectName(u"paperBookFirst"_s);
    firstField->setAccessibleName(u"起始单号"_s);
    form->addRow(u"起始单号(&F)"_s, firstField);
    auto *lastField = new QLineEdit(&dialog);
    lastField->setObjectName(u"paperBookLast"_s);
    lastField->setAccessibleName(u"终止单号"_s);
    form->addRow(u"终止单号(&L)"_s, lastField);
    auto *holderField = new QLineEdit(&dialog);
    holderField->setObjectName(u"paperBookHolder"_s);
    holderField->setAccessibleName(u"领用人"_s);
    holderField->setMaxLength(40);
    QStringList holders;
    for (const PaperBooks::Account &account : known) {
        if (!account.book.holder.isEmpty() && !holders.contains(account.book.holder))
            holders << account.book.holder;
    }
    holderField->setCompleter(new QCompleter(holders, holderField));
    form->addRow(u"领用人(&H)"_s, holderField);
    for (QWidget *field : {static_cast<QWidget *>(seriesBox), static_cast<QWidget *>(firstField),
                           static_cast<QWidget *>(lastField), static_cast<QWidget *>(holderField)})
        field->setMinimumWidth(240);
    auto *count = new QLabel(&dialog);
    count->setObjectName(u"paperBookCount"_s);
    form->addRow(QString(), count);
    QLabel *error = errorLabel(u"paperBookError"_s, &dialog);
    layout->addWidget(error);

    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *add = buttons->addButton(u"登记(&O)"_s, QDialogButtonBox::AcceptRole);
    add->setObjectName(u"paperBookAddButton"_s);
    add->setDefault(true);
    buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    const auto series = [&] { return all.value(seriesBox->currentIndex()); };
    // The first number offered: the one after the last book of the series.
    const auto offerFirst = [&] {
        const ReceiptSeries chosen = series();
        const QString key = chosen.isDefault() ? QString() : chosen.name;
        qint64 after = 0;
        for (const PaperBooks::Account &account : known) {
            if (account.book.series == key)
                after = std::max(after, account.book.last);
        }
        firstField->setText(after > 0 ? SeriesNumber::text(chosen, 0, after + 1) : QString());
    };
    const auto describe = [&] {
        const std::optional<qint64> first = valueFrom(firstField->text(), series());
        const std::optional<qint64> last = valueFrom(lastField->text(), series());
        count->setText(first && last && *last >= *first
                           ? u"共 %1 张"_s.arg(Money::groupedDigits(*last - *first + 1))
                           : QString());
    };
    QObject::connect(seriesBox, &QComboBox::currentIndexChanged, &dialog, offerFirst);
    QObject::connect(firstField, &QLineEdit::textChanged, &dialog, describe);
    QObject::connect(lastField, &QLineEdit::textChanged, &dialog, describe);
    offerFirst();

    std::optional<std::pair<QString, qint64>> added;
    QObject::connect(add, &QPushButton::clicked, &dialog, [&] {
        const ReceiptSeries chosen = series();
        const std::optional<qint64> first = valueFrom(firstField->text(), chosen);
        const std::optional<qint64> last = valueFrom(lastField->text(), chosen);
        if (!first || !last) {
            showError(error, u"请填写起始单号和终止单号（印在收据本第一张和最后一张上的单号）"_s);
            (first ? lastField : firstField)->setFocus();
            return;
        }
        PaperBook book;
        QString why;
        if (!PaperBooks::add(chosen.isDefault() ? QString() : chosen.name, *first, *last,
                             holderField->text(), &book, &why)) {
            showError(error, why);
            return;
        }
        added = std::pair(book.series, book.first);
        dialog.accept();
    });
    (firstField->text().isEmpty() ? firstField : lastField)->setFocus();
    dialog.exec();
    return added;
}

// 收据本核销表 of `only` (their series' keys and first numbers; every book when empty):
// preview, print or save as PDF, each time as the book holds them then.
void reconciliation(QWidget *parent, const QList<std::pair<QString, qint64>> &only,
                    const QString &about)
{
    QDialog dialog(parent);
    dialog.setObjectName(u"paperBookReportDialog"_s);
    dialog.setWindowTitle(u"收据本核销表"_s);
    dialog.setMinimumWidth(520);
    auto *layout = new QVBoxLayout(&dialog);
    auto *said = new QLabel(about, &dialog);
    said->setObjectName(u"paperBookReportSummary"_s);
    said->setWordWrap(true);
    layout->addWidget(said);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QPushButton *previewButton = buttons->addButton(u"预览(&V)…"_s, QDialogButtonBox::ActionRole);
    previewButton->setObjectName(u"paperBookPreviewButton"_s);
    QPushButton *printButton = buttons->addButton(u"打印(&P)…"_s, QDialogButtonBox::ActionRole);
    printButton->setObjectName(u"paperBookPrintButton"_s);
    QPushButton *pdfButton = buttons->addButton(u"存为 PDF(&S)…"_s, QDialogButtonBox::ActionRole);
    pdfButton->setObjectName(u"paperBookPdfButton"_s);
    previewButton->setDefault(true);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    const auto read = [&]() -> std::optional<PaperBookPages> {
        QString error;
        const std::optional<PaperBookPages::Report> report = PaperBookPages::read(&error, only);
        if (!report) {
            MessageBox::warning(&dialog, u"收据本核销表"_s, u"无法读取收据本：%1"_s.arg(error));
            return std::nullopt;
        }
        return PaperBookPages(*report);
    };
    const auto printOn = [&dialog](const PaperBookPages &pages, QPrinter &printer) {
        if (!pages.print(printer))
            MessageBox::warning(&dialog, u"收据本核销表"_s, u"打印机没有接收打印任务"_s);
    };
    QObject::connect(previewButton, &QPushButton::clicked, &dialog, [&] {
        const std::optional<PaperBookPages> pages = read();
        if (!pages)
            return;
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        QPrintPreviewDialog preview(&printer, &dialog);
        preview.setWindowTitle(u"收据本核销表预览"_s);
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &dialog,
                         [&](QPrinter *target) { printOn(*pages, *target); });
        preview.exec();
    });
    QObject::connect(printButton, &QPushButton::clicked, &dialog, [&] {
        const std::optional<PaperBookPages> pages = read();
        if (!pages)
            return;
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        QPrintDialog ask(&printer, &dialog);
        ask.setWindowTitle(u"打印收据本核销表"_s);
        if (ask.exec() == QDialog::Accepted)
            printOn(*pages, printer);
    });
    QObject::connect(pdfButton, &QPushButton::clicked, &dialog, [&] {
        const QString suggested
            = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                  .filePath(u"收据本核销表 %1.pdf"_s.arg(Clock::now().toString(u"yyyy-MM-dd"_s)));
        const QString path = FileDialogs::saveFileName(&dialog, u"保存收据本核销表"_s, suggested,
                                                       u"PDF 文件 (*.pdf)"_s);
        if (path.isEmpty())
            return;
        const std::optional<PaperBookPages> pages = read();
        if (!pages)
            return;
        QString error;
        if (pages->writePdf(path, &error))
            MessageBox::information(&dialog, u"收据本核销表"_s,
                                    u"已保存：%1"_s.arg(QDir::toNativeSeparators(path)));
        else
            MessageBox::warning(&dialog, u"收据本核销表"_s, error);
    });
    dialog.exec();
}

enum Column { SeriesColumn, RangeColumn, HolderColumn, RegisteredColumn, StateColumn,
              IssuedColumn, VoidedColumn, SpoiledColumn, UnusedColumn, ColumnCount };

} // namespace

PaperBooksDialog::PaperBooksDialog(QWidget *parent)
    : QDialog(parent)
    , m_table(new QTableWidget(0, ColumnCount, this))
    , m_said(new QLabel(this))
{
    setObjectName(u"paperBooksDialog"_s);
    setWindowTitle(u"收据本登记"_s);
    auto *layout = new QVBoxLayout(this);
    m_table->setObjectName(u"paperBookTable"_s);
    m_table->setAccessibleName(u"收据本"_s);
    m_table->setHorizontalHeaderLabels({u"类别"_s, u"起止单号"_s, u"领用人"_s, u"登记日期"_s,
                                        u"状态"_s, u"已开"_s, u"作废"_s, u"废票"_s, u"未用"_s});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    // The holder's name takes the room left; the numbers keep the width of their heading.
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(HolderColumn, QHeaderView::Stretch);
    header->setMinimumSectionSize(56);
    layout->addWidget(m_table);
    m_said->setObjectName(u"paperBookSummary"_s);
    m_said->setWordWrap(true);
    layout->addWidget(m_said);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *addButton = buttons->addButton(u"登记收据本(&A)…"_s, QDialogButtonBox::ActionRole);
    addButton->setObjectName(u"addPaperBookButton"_s);
    m_returnButton = buttons->addButton(u"缴销(&R)…"_s, QDialogButtonBox::ActionRole);
    m_returnButton->setObjectName(u"returnPaperBookButton"_s);
    m_returnButton->setToolTip(u"缴销所选的收据本：每个单号都已开出、作废或登记废票之后才能缴销"_s);
    m_reportButton = buttons->addButton(u"核销表(&H)…"_s, QDialogButtonBox::ActionRole);
    m_reportButton->setObjectName(u"paperBookReportButton"_s);
    m_reportButton->setToolTip(u"所选收据本的核销表（未选时为全部收据本）：预览、打印或存为 PDF"_s);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(addButton, &QPushButton::clicked, this, &PaperBooksDialog::addBook);
    connect(m_returnButton, &QPushButton::clicked, this, &PaperBooksDialog::returnSelected);
    connect(m_reportButton, &QPushButton::clicked, this, &PaperBooksDialog::showReconciliation);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &PaperBooksDialog::followSelection);
    resize(860, 420);
    reload();
    m_table->setFocus();
}

void PaperBooksDialog::reload(const std::optional<std::pair<QString, qint64>> &select)
{
    QString error;
    QList<PaperBooks::Account> accounts;
    if (!PaperBooks::accounts(&accounts, &error)) {
        m_said->setText(u"无法读取收据本：%1"_s.arg(error));
        return;
    }
    m_accounts = accounts;
    m_table->clearContents();
    m_table->setRowCount(int(m_accounts.size()));
    int selected = m_accounts.isEmpty() ? -1 : 0;
    for (int row = 0; row < m_accounts.size(); ++row) {
        const PaperBooks::Account &account = m_accounts.at(row);
        const PaperBook &book = account.book;
        const QStringList cells = {
            shownSeries(book.series), SeriesTables::rangeText(book, account.series),
            book.holder, formatDateText(book.registered, u"yyyy-MM-dd"),
            SeriesTables::stateText(book.state),
            QString::number(account.issued), QString::number(account.voided + account.deleted),
            QString::number(account.spoiled), QString::number(account.unused)};
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (column >= IssuedColumn)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, column, item);
        }
        m_table->item(row, IssuedColumn)
            ->setToolTip(u"合计 ¥%1（作废的不计）"_s.arg(Money::format(account.issuedFen)));
        if (select && select->first == book.series && select->second == book.first)
            selected = row;
    }
    if (selected >= 0)
        m_table->selectRow(selected);
    followSelection();
}

QList<PaperBooks::Account> PaperBooksDialog::selectedAccounts() const
{
    QList<PaperBooks::Account> selected;
    for (int row = 0; row < m_accounts.size(); ++row) {
        if (m_table->selectionModel()->isRowSelected(row, {}))
            selected << m_accounts.at(row);
    }
    return selected;
}

void PaperBooksDialog::followSelection()
{
    const QList<PaperBooks::Account> selected = selectedAccounts();
    m_returnButton->setEnabled(selected.size() == 1
                               && selected.first().book.state != PaperBook::State::Returned);
    m_reportButton->setEnabled(!m_accounts.isEmpty());
    if (m_accounts.isEmpty()) {
        m_said->setText(u"还没有登记收据本。领来一本印好单号的收据本后，点“登记收据本”。"_s);
        return;
    }
    std::array<int, 4> states {};
    for (const PaperBooks::Account &account : std::as_const(m_accounts))
        ++states.at(size_t(account.book.state));
    QStringList counted;
    for (const PaperBook::State state : {PaperBook::State::InUse, PaperBook::State::Unused,
                                         PaperBook::State::UsedUp, PaperBook::State::Returned}) {
        if (const int books = states.at(size_t(state)); books > 0)
            counted << u"%1 %2"_s.arg(SeriesTables::stateText(state)).arg(books);
    }
    m_said->setText(u"共 %1 本：%2"_s.arg(m_accounts.size()).arg(counted.join(u"，"_s)));
}

void PaperBooksDialog::addBook()
{
    const std::optional<std::pair<QString, qint64>> added = askNewBook(this, m_accounts);
    if (!added)
        return;
    reload(added);
    for (const PaperBooks::Account &account : std::as_const(m_accounts)) {
        if (account.book.series == added->first && account.book.first == added->second)
            m_said->setText(u"已登记收据本 %1。"_s.arg(bookText(account)) + m_said->text());
    }
    refreshFormNumber();
}

void PaperBooksDialog::returnSelected()
{
    const QList<PaperBooks::Account> selected = selectedAccounts();
    if (selected.size() != 1)
        return;
    const PaperBooks::Account &account = selected.first();
    const QString about = u"%1：已开 %2，作废 %3，废票 %4，未用 %5"_s.arg(bookText(account))
                              .arg(account.issued)
                              .arg(account.voided + account.deleted)
                              .arg(account.spoiled)
                              .arg(account.unused);
    if (!MessageBox::confirmReturnBook(this, about))
        return;
    QString error;
    if (!PaperBooks::returnBook(account.book.series, account.book.first, &error)) {
        MessageBox::warning(this, u"无法缴销"_s, error);
        return;
    }
    reload(std::pair(account.book.series, account.book.first));
    m_said->setText(u"已缴销收据本 %1。"_s.arg(bookText(account)) + m_said->text());
    refreshFormNumber();
}

void PaperBooksDialog::showReconciliation()
{
    const QList<PaperBooks::Account> selected = selectedAccounts();
    QList<std::pair<QString, qint64>> only;
    for (const PaperBooks::Account &account : selected)
        only << std::pair(account.book.series, account.book.first);
    const QString about = selected.isEmpty() ? u"全部 %1 本收据本"_s.arg(m_accounts.size())
        : selected.size() == 1               ? bookText(selected.first())
                                             : u"所选 %1 本收据本"_s.arg(selected.size());
    reconciliation(this, only,
                   about + u"\n每本另起一页：每个单号的去向、未用的单号和签字栏。"_s);
}

void PaperBookDialogs::spoil(QWidget *parent, const QString &number)
{
    QDialog dialog(parent);
    dialog.setObjectName(u"spoilDialog"_s);
    dialog.setWindowTitle(u"登记废票"_s);
    dialog.setMinimumWidth(440);
    auto *layout = new QVBoxLayout(&dialog);
    auto *about = new QLabel(u"卡纸、打印错位等弄坏的收据纸登记为废票，单号不再使用。\n"
                             u"这个单号已开出收据时，收据改用下一个单号，\n"
                             u"请在下一张收据纸上重印。"_s,
                             &dialog);
    layout->addWidget(about);
    auto *form = new QFormLayout;
    layout->addLayout(form);
    auto *numberField = new QLineEdit(number, &dialog);
    numberField->setObjectName(u"spoilNumber"_s);
    numberField->setAccessibleName(u"废票单号"_s);
    numberField->setPlaceholderText(u"收据纸上印的单号"_s);
    form->addRow(u"单号(&N)"_s, numberField);
    auto *reasonBox = new ComboBox(&dialog);
    reasonBox->setObjectName(u"spoilReason"_s);
    reasonBox->setAccessibleName(u"废票原因"_s);
    reasonBox->setMinimumContentsLength(16);
    reasonBox->setItems({u"卡纸"_s, u"打印错位"_s, u"打错"_s, u"污损"_s});
    reasonBox->setText({});
    reasonBox->lineEdit()->setPlaceholderText(u"必填"_s);
    form->addRow(u"废票原因(&R)"_s, reasonBox);
    QLabel *error = errorLabel(u"spoilError"_s, &dialog);
    layout->addWidget(error);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *record = buttons->addButton(u"登记废票(&O)"_s, QDialogButtonBox::AcceptRole);
    record->setObjectName(u"spoilButton"_s);
    record->setDefault(true);
    buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    const auto ready = [&] {
        record->setEnabled(!numberField->text().trimmed().isEmpty()
                           && !reasonBox->currentText().trimmed().isEmpty());
    };
    QObject::connect(numberField, &QLineEdit::textChanged, &dialog, ready);
    QObject::connect(reasonBox, &QComboBox::currentTextChanged, &dialog, ready);
    ready();

    ReceiptBook::Spoiled spoiled;
    QObject::connect(record, &QPushButton::clicked, &dialog, [&] {
        QString why;
        if (!ReceiptBook::shared().spoil(numberField->text(), reasonBox->currentText(), &spoiled,
                                         &why)) {
            showError(error, why);
            return;
        }
        dialog.accept();
    });
    (number.isEmpty() ? static_cast<QWidget *>(numberField) : reasonBox)->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return;
    refreshFormNumber();
    if (spoiled.renumbered.isEmpty()) {
        MessageBox::information(parent, u"登记废票"_s, u"已登记废票 No.%1"_s.arg(spoiled.number));
        return;
    }
    const QString said = u"已登记废票 No.%1；原收据改为 No.%2，请在下一张收据纸上重印"_s.arg(
        spoiled.number, spoiled.renumbered);
    if (!MessageBox::confirmReprint(parent, said, spoiled.renumbered))
        return;
    // Printed as the lists print a receipt: read as it is stored now.
    AppStore &store = AppStore::shared();
    std::optional<Receipt> receipt;
    QString why;
    const bool read = store.readReceipt(spoiled.receiptId, &receipt, &why);
    if (!read || !receipt) {
        MessageBox::warning(parent, u"无法打印"_s,
                            read ? u"这张收据已不在账本中"_s : u"读取收据失败：%1"_s.arg(why));
        return;
    }
    store.setReceiptPrint(receipt);
    PrintAction::printReceipt(parent);
}
