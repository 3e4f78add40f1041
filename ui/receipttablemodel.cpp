// SPDX-License-Identifier: GPL-3.0-or-later
#include "receipttablemodel.h"

#include "datetext.h"
#include "receiptbook.h"
#include "money.h"
#include "receiptexport.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QStyle>

#include <algorithm>
#include <climits>

using namespace Qt::StringLiterals;

namespace {

// A text of megabytes (pasted into a field by mistake) is shown by its beginning: a cell
// shows a few dozen characters anyway, and measuring the whole text would stall the list.
QString shownText(QString text)
{
    constexpr qsizetype limit = 500;
    if (text.size() > limit) {
        text.truncate(text.at(limit - 1).isHighSurrogate() ? limit - 1 : limit);
        text.append(u'…');
    }
    return text;
}

const QString &textField(const Receipt &receipt, int column)
{
    switch (column) {
    case ReceiptTableModel::ReceiptNoColumn:
        return receipt.receiptNo;
    case ReceiptTableModel::PayerColumn:
        return receipt.payer;
    case ReceiptTableModel::Reason1Column:
        return receipt.reason1;
    case ReceiptTableModel::Reason2Column:
        return receipt.reason2;
    case ReceiptTableModel::RemarkColumn:
        return receipt.remark;
    case ReceiptTableModel::PaytypeColumn:
        return receipt.paytype;
    case ReceiptTableModel::PayeeColumn:
        return receipt.payee;
    case ReceiptTableModel::ApproveColumn:
        return receipt.approve;
    case ReceiptTableModel::AccountantColumn:
        return receipt.accountant;
    default:
        Q_UNREACHABLE();
    }
}

} // namespace

ReceiptTableModel::ReceiptTableModel(ReceiptList &list, QObject *parent)
    : QAbstractTableModel(parent)
    , m_list(list)
{
    connect(&m_list, &ReceiptList::aboutToReset, this, &ReceiptTableModel::beginResetModel);
    connect(&m_list, &ReceiptList::reset, this, &ReceiptTableModel::endResetModel);
    connect(&m_list, &ReceiptList::rowsAboutToBeInserted, this,
            [this](qsizetype first, qsizetype last) { beginInsertRows({}, int(first), int(last)); });
    connect(&m_list, &ReceiptList::rowsInserted, this, &ReceiptTableModel::endInsertRows);
    connect(&m_list, &ReceiptList::rowsAboutToBeRemoved, this,
            [this](qsizetype first, qsizetype last) { beginRemoveRows({}, int(first), int(last)); });
    connect(&m_list, &ReceiptList::rowsRemoved, this, &ReceiptTableModel::endRemoveRows);
    connect(&m_list, &ReceiptList::rowsChanged, this, [this](qsizetype first, qsizetype last) {
        Q_EMIT dataChanged(index(int(first), 0), index(int(last), ColumnCount - 1));
    });
}

int ReceiptTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(std::min<qsizetype>(m_list.size(), INT_MAX));
}

int ReceiptTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ReceiptTableModel::cellText(const Receipt &receipt, int column)
{
    switch (column) {
    case ReceiptDateColumn:
        return formatDateText(receipt.receiptDate, DateText::date);
    case TotalColumn:
        // Shown as stored when it could not be read, never as a made-up 0.00.
        return Money::shownOf(receipt);
    case CreateDateColumn:
        // Local time, as it is stored and exported: the cashier's clock.
        return formatDateText(receipt.createDate, DateText::dateTime);
    case StatusColumn:
        return receipt.voidReason ? u"已作废"_s : QString();
    default:
        return textField(receipt, column);
    }
}

QVariant ReceiptTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    // Read with its page from the book the first time a row near it is drawn.
    // Not copied: each cell asks for a dozen roles on every repaint.
    const Receipt *row = m_list.rowAt(index.row());
    if (!row)
        return {};
    const Receipt &receipt = *row;
    const bool unreadableAmount = index.column() == TotalColumn && receipt.unreadableTotal;
    // A receipt of a closed day (日结) is marked so: it can only be voided.
    const bool closed = !receipt.voidReason && index.column() == StatusColumn
        && ReceiptBook::shared().isClosed(receipt.receiptDate.date());
    // A receipt printed again on the next form after its own was spoiled (废票重开).
    const QString spoiledForm = !receipt.voidReason && index.column() == StatusColumn
        ? ReceiptBook::shared().knownSpoiledForms().value(receipt.id)
        : QString();
    switch (role) {
    case Qt::DisplayRole:
        if (closed)
            return u"已日结"_s;
        if (!spoiledForm.isEmpty())
            return u"废票重开"_s;
        return shownText(cellText(receipt, index.column()));
    case Qt::ToolTipRole:
        // Why it was voided is what a voided row is asked about, whichever cell.
        if (receipt.voidReason)
            return shownText(*receipt.voidReason);
        if (!spoiledForm.isEmpty())
            return u"原收据纸 %1 已登记为废票，本收据改用这个单号重印"_s.arg(spoiledForm);
        if (closed)
            return u"已日结：不能修改或删除，只能作废"_s;
        return unreadableAmount ? u"金额无法识别"_s : shownText(cellText(receipt, index.column()));
    case Qt::ForegroundRole:
        if (receipt.voidReason)
            return index.column() == StatusColumn ? QColor(0xb3, 0x26, 0x1e)
                                                  : QColor(0x80, 0x86, 0x8b);
        return {};
    case Qt::FontRole:
        // The mark itself stays legible; the receipt's own texts are struck through.
        if (receipt.voidReason && index.column() != StatusColumn) {
            QFont struck;
            struck.setStrikeOut(true);
            return struck;
        }
        return {};
    case Qt::DecorationRole:
        if (unreadableAmount)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == TotalColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case IdRole:
        return receipt.id;
    default:
        return {};
    }
}

QVariant ReceiptTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    // The export writes the same columns under the same titles, and 作废原因 after them.
    return ReceiptExport::columnTitles().at(section);
}

void ReceiptTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    static constexpr ListSort byColumn[] = {
        ListSort::ReceiptNo, ListSort::ReceiptDate, ListSort::Payer,    ListSort::Total,
        ListSort::Reason1,   ListSort::Reason2,     ListSort::Remark,   ListSort::Paytype,
        ListSort::Payee,     ListSort::Approve,     ListSort::Accountant, ListSort::CreateDate,
        ListSort::Status,
    };
    m_list.setSort(byColumn[column], order);
}
