// SPDX-License-Identifier: GPL-3.0-or-later
#include "receipttablemodel.h"

#include "amountincapitals.h"
#include "appstore.h"
#include "datetext.h"
#include "receiptexport.h"

#include <QApplication>
#include <QCollator>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QLocale>
#include <QStyle>

#include <algorithm>
#include <numeric>
#include <vector>

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

template<typename T>
int threeWay(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Each row's place under a text column's collation: rows whose texts the collator finds
// equal share a rank, and a lower rank sorts first. A list has far fewer distinct texts
// than rows, and comparing two sort keys costs a fraction of a collator comparison of
// two texts, so 100,000 rows sort by int instead of through ICU 1.7 million times.
std::vector<int> collationRanks(const QList<Receipt> &receipts, int column)
{
    // Digit runs compare by value (receipt numbers of different lengths, "2号" before
    // "10号"), case does not count, Chinese follows the zh_CN collation.
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);

    std::vector<int> distinctOfRow(size_t(receipts.size()));
    QHash<QString, int> distinctIndex;
    QList<QString> distinct;
    for (qsizetype row = 0; row < receipts.size(); ++row) {
        const QString &text = textField(receipts.at(row), column);
        auto found = distinctIndex.constFind(text);
        if (found == distinctIndex.constEnd()) {
            found = distinctIndex.insert(text, int(distinct.size()));
            distinct.append(text);
        }
        distinctOfRow[size_t(row)] = *found;
    }

    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(distinct.size()));
    for (const QString &text : std::as_const(distinct))
        keys.push_back(collator.sortKey(text));
    // The same answers as QCollator::compare, which puts an empty text before any
    // other, even one of characters the collation ignores, whose sort key equals the
    // empty text's; for the rest ICU's sort keys order exactly as its comparison does.
    const auto compareDistinct = [&](int a, int b) {
        const bool aEmpty = distinct.at(a).isEmpty(), bEmpty = distinct.at(b).isEmpty();
        if (aEmpty || bEmpty)
            return aEmpty == bEmpty ? 0 : (aEmpty ? -1 : 1);
        return keys[size_t(a)].compare(keys[size_t(b)]);
    };

    std::vector<int> order(size_t(distinct.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return compareDistinct(a, b) < 0; });
    std::vector<int> rankOfDistinct(order.size());
    int rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && compareDistinct(order[i - 1], order[i]) != 0)
            ++rank;
        rankOfDistinct[size_t(order[i])] = rank;
    }

    std::vector<int> ranks(distinctOfRow.size());
    for (size_t row = 0; row < ranks.size(); ++row)
        ranks[row] = rankOfDistinct[size_t(distinctOfRow[row])];
    return ranks;
}

// Row indices in the order of compare (three-way: below 0 puts row a before row b), ties in
// their present order. Sorting indices rather than the receipts themselves keeps the
// sixteen fields of each receipt from being moved at every step of the merge.
template<typename Compare>
std::vector<int> sortedRows(qsizetype count, Qt::SortOrder order, Compare compare)
{
    std::vector<int> rows(static_cast<size_t>(count));
    std::iota(rows.begin(), rows.end(), 0);
    if (order == Qt::AscendingOrder)
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return compare(a, b) < 0; });
    else
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return compare(a, b) > 0; });
    return rows;
}

std::vector<int> sortedRows(const QList<Receipt> &receipts, int column, Qt::SortOrder order)
{
    const auto field = [&](const auto member) {
        return sortedRows(receipts.size(), order, [&](int a, int b) {
            return threeWay(receipts.at(a).*member, receipts.at(b).*member);
        });
    };
    switch (column) {
    case ReceiptTableModel::ReceiptDateColumn:
        return field(&Receipt::receiptDate);
    case ReceiptTableModel::CreateDateColumn:
        return field(&Receipt::createDate);
    case ReceiptTableModel::TotalColumn:
        // By value: as text 20.25 would come after 20.5 (the digit runs 25 > 5).
        return field(&Receipt::total);
    case ReceiptTableModel::StatusColumn:
        // Valid ones first, whatever the reasons of the voided ones.
        return sortedRows(receipts.size(), order, [&](int a, int b) {
            return threeWay(receipts.at(a).voidReason.has_value(),
                            receipts.at(b).voidReason.has_value());
        });
    default: {
        const std::vector<int> ranks = collationRanks(receipts, column);
        return sortedRows(receipts.size(), order, [&](int a, int b) {
            return threeWay(ranks[size_t(a)], ranks[size_t(b)]);
        });
    }
    }
}

} // namespace

ReceiptTableModel::ReceiptTableModel(AppStore &store, QObject *parent)
    : QAbstractTableModel(parent)
    , m_store(store)
{
    // The store replaces its whole list on every load, sort, insert and delete, and
    // says only that it changed: a reset is the one honest report of that.
    connect(&m_store, &AppStore::receiptsChanged, this, [this] {
        beginResetModel();
        updateRows();
        endResetModel();
    });
    updateRows();
}

void ReceiptTableModel::setFilter(const ReceiptFilter &filter)
{
    beginResetModel();
    m_filter = filter;
    updateRows();
    endResetModel();
}

void ReceiptTableModel::updateRows()
{
    m_rows = m_filter.rowsOf(m_store.receipts());
}

int ReceiptTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
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
        return receipt.unreadableTotal ? *receipt.unreadableTotal : amountText(receipt.total);
    case CreateDateColumn:
        return receipt.createDate.toUTC().toString(u"yyyy-MM-dd HH:mm:ss"_s) + u" +0000"_s;
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
    const Receipt &receipt = m_store.receipts().at(m_rows.at(index.row()));
    const bool unreadableAmount = index.column() == TotalColumn && receipt.unreadableTotal;
    switch (role) {
    case Qt::DisplayRole:
        return shownText(cellText(receipt, index.column()));
    case Qt::ToolTipRole:
        // Why it was voided is what a voided row is asked about, whichever cell.
        if (receipt.voidReason)
            return shownText(*receipt.voidReason);
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
    const QList<Receipt> &receipts = m_store.receipts();
    const std::vector<int> rows = sortedRows(receipts, column, order);
    QList<Receipt> sorted;
    sorted.reserve(receipts.size());
    for (const int row : rows)
        sorted.append(receipts.at(row));
    m_store.setReceipts(sorted);
}
