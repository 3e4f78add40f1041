#include "receipttablemodel.h"

#include "amountincapitals.h"
#include "appstore.h"
#include "datetext.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

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

// Three-way comparison of two receipts under one column's order.
using Compare = std::function<int(const Receipt &, const Receipt &)>;

template<typename T>
int threeWay(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

Compare comparatorFor(int column)
{
    switch (column) {
    case ReceiptTableModel::ReceiptDateColumn:
        return [](const Receipt &a, const Receipt &b) {
            return threeWay(a.receiptDate, b.receiptDate);
        };
    case ReceiptTableModel::CreateDateColumn:
        return [](const Receipt &a, const Receipt &b) {
            return threeWay(a.createDate, b.createDate);
        };
    case ReceiptTableModel::TotalColumn:
        // By value: as text 20.25 would come after 20.5 (the digit runs 25 > 5).
        return [](const Receipt &a, const Receipt &b) {
            return threeWay(a.total, b.total);
        };
    default: {
        // Digit runs compare by value (receipt numbers of different lengths, "2号" before
        // "10号"), case does not count, Chinese follows the zh_CN collation.
        auto collator = std::make_shared<QCollator>(QLocale(QLocale::Chinese, QLocale::China));
        collator->setNumericMode(true);
        collator->setCaseSensitivity(Qt::CaseInsensitive);
        return [collator, column](const Receipt &a, const Receipt &b) {
            return collator->compare(textField(a, column), textField(b, column));
        };
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
        endResetModel();
    });
}

int ReceiptTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_store.receipts().size());
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
        return amountText(receipt.total);
    case CreateDateColumn:
        return receipt.createDate.toUTC().toString(u"yyyy-MM-dd HH:mm:ss"_s) + u" +0000"_s;
    default:
        return textField(receipt, column);
    }
}

QVariant ReceiptTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Receipt &receipt = m_store.receipts().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return cellText(receipt, index.column());
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
    static const QStringList titles = {
        u"收据单号"_s, u"收款日期"_s, u"交款单位"_s, u"收款金额"_s, u"收款事由"_s, u"其它说明"_s,
        u"备注信息"_s, u"收款方式"_s, u"收款人"_s,   u"核准"_s,     u"会计"_s,     u"开单日期"_s,
    };
    return titles.at(section);
}

void ReceiptTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    const Compare compare = comparatorFor(column);
    QList<Receipt> receipts = m_store.receipts();
    if (order == Qt::AscendingOrder) {
        std::stable_sort(receipts.begin(), receipts.end(),
                         [&](const Receipt &a, const Receipt &b) { return compare(a, b) < 0; });
    } else {
        std::stable_sort(receipts.begin(), receipts.end(),
                         [&](const Receipt &a, const Receipt &b) { return compare(a, b) > 0; });
    }
    m_store.setReceipts(receipts);
}
