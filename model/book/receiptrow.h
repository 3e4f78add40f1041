// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datetext.h"
#include "receipt.h"

#include <QHash>

#include <array>

#include <optional>

class ResultSet;

// Maps rows of "select * from tb_receipt" to receipts. Column positions are looked up
// once per query, not once per row and field: a list of 100,000 receipts reads
// 1.6 million values.
class ReceiptRowMapper
{
public:
    // receiptNoColumn is the name the caller asks for ("ReceiptNo" in lists,
    // "receiptNo" for one receipt); names match in any letter case.
    ReceiptRowMapper(ResultSet &resultSet, const QString &receiptNoColumn);

    // The receipt of the current row, or nothing when the row has no id, receipt
    // number, receipt date or creation date, or a date that does not parse. Such a row
    // is reported on standard error and skipped, so one damaged row cannot stop a list.
    std::optional<Receipt> map() const;
    // The first column a receipt cannot do without that the query lacks (id, receiptNo,
    // receiptDate, createDate, total), or empty: without it every row would be skipped
    // or every amount read as 0.00.
    QString missingColumn() const { return m_missingColumn; }

private:
    ResultSet &m_resultSet;
    mutable StoredDateTimeReader m_dates;
    mutable QHash<QByteArray, QString> m_sharedTexts;
    // The texts a column of shared texts gave last, by column: consecutive receipts
    // mostly have the same payee and payment method, and comparing a few bytes costs a
    // fraction of hashing them.
    struct RecentText
    {
        QByteArray bytes;
        QString text;
    };
    mutable std::array<RecentText, 5> m_recentTexts;
    QString m_missingColumn;
    int m_id, m_receiptNo, m_receiptDate, m_payer, m_reason1, m_reason2, m_remark, m_paytype,
        m_payee, m_approve, m_accountant, m_creator, m_createDate, m_total, m_totalBig, m_isDeleted;
};
