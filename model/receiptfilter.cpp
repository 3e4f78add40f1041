// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptfilter.h"

#include "money.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

ReceiptFilter::ReceiptFilter(const QString &text)
    : m_text(text.trimmed())
{
    static const QRegularExpression amount(u"^-?[0-9]+(\\.[0-9]{1,2})?$"_s);
    if (amount.match(m_text).hasMatch())
        m_amountFen = Money::fenFromYuan(m_text.toDouble());
    // A text without letters that have a case (Chinese, digits) is found the same either
    // way, and the exact search is about twice as fast over a long list.
    const bool hasCase = std::any_of(m_text.cbegin(), m_text.cend(), [](QChar c) {
        return c.isLower() || c.isUpper() || c.isTitleCase();
    });
    m_caseSensitivity = hasCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

bool ReceiptFilter::matches(const Receipt &r) const
{
    if (m_text.isEmpty())
        return true;
    if (m_amountFen && Money::fenOf(r) == m_amountFen)
        return true;
    for (const QString *field :
         {&r.receiptNo, &r.payer, &r.reason1, &r.reason2, &r.remark, &r.paytype, &r.payee}) {
        if (field->contains(m_text, m_caseSensitivity))
            return true;
    }
    return false;
}

QList<int> ReceiptFilter::rowsOf(const QList<Receipt> &receipts) const
{
    QList<int> rows;
    rows.reserve(receipts.size());
    for (int row = 0; row < receipts.size(); ++row) {
        if (matches(receipts.at(row)))
            rows.append(row);
    }
    return rows;
}

void ReceiptTotals::add(const Receipt &receipt)
{
    if (receipt.voidReason) {
        ++voided;
        return;
    }
    ++count;
    if (const std::optional<qint64> receiptFen = Money::fenOf(receipt))
        fen += *receiptFen;
    else
        ++unreadable;
}

ReceiptTotals ReceiptTotals::of(const QList<Receipt> &receipts, const QList<int> &rows)
{
    ReceiptTotals totals;
    for (const int row : rows)
        totals.add(receipts.at(row));
    return totals;
}
