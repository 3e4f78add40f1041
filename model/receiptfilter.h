// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QList>
#include <QString>

#include <optional>

// The search of the receipt lists: a typed text found in the receipt number, 交款单位,
// 收款事由, 其它说明, 备注信息, 收款方式 or 收款人 (Latin letters in any case), or, when
// it reads as an amount, a receipt of that amount (680 finds 680.00, 680.5 finds 680.50).
class ReceiptFilter
{
public:
    explicit ReceiptFilter(const QString &text = {});

    bool isEmpty() const { return m_text.isEmpty(); }
    bool matches(const Receipt &receipt) const;
    // The rows of `receipts` that match, in their order; every row when the text is empty.
    QList<int> rowsOf(const QList<Receipt> &receipts) const;

private:
    QString m_text;
    std::optional<qint64> m_amountFen;
    Qt::CaseSensitivity m_caseSensitivity = Qt::CaseInsensitive;
};

// What a list shows, counted: the receipts that count (not voided) and their sum in fen,
// the voided ones apart, and amounts that could not be read (not in the sum).
struct ReceiptTotals
{
    qint64 count = 0;
    qint64 fen = 0;
    qint64 voided = 0;
    qint64 unreadable = 0;

    // Counts one more receipt.
    void add(const Receipt &receipt);
    static ReceiptTotals of(const QList<Receipt> &receipts, const QList<int> &rows);
};
