// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the book's writes share, for the files of its room only: the history row every
// write makes, a number looked up by its value, and the write transaction.

#include "clock.h"
#include "database.h"
#include "datetext.h"
#include "amountincapitals.h"
#include "receiptbook.h"
#include "receipthistory.h"
#include "receiptnumber.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <QJsonDocument>

#include <array>

namespace {

using namespace Qt::StringLiterals;

// A stored number in any padding, found on the index of the numbers' values (their texts
// without the zeros before them) that the receipts and the history both have; $1 is
// numberValueKey(). The empty text is no number of value 0.
[[maybe_unused]] const QString numberValueCondition = u"ltrim(receiptNo, '0') = $1 and receiptNo <> ''"_s;

inline QString numberValueKey(const QString &number)
{
    const QString digits = ReceiptNumber::valueDigits(number);
    return digits == u"0"_s ? QString(u""_s) : digits;
}

inline QString stored(const QDateTime &dateTime)
{
    return formatDateText(dateTime, DateText::dateTime);
}

// A history row as every write makes one: the head of its insert (with the desk's column
// on a book that has it), and the values of one row, the receipt whole in its detail with
// what the action adds.
inline QString historyInsert(bool withDesk)
{
    return u"insert into tb_history (time, action, receiptId, receiptNo, detail%1) values "_s.arg(
        withDesk ? u", desk"_s : QString());
}

// A history row's detail: the receipt whole, with what the action adds.
inline QString historyDetail(const Receipt &receipt, const QJsonObject &extra)
{
    QJsonObject detail = ReceiptHistory::toJson(receipt);
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        detail.insert(it.key(), it.value());
    return QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact));
}

inline QString historyValues(const QString &time, HistoryAction action, const Receipt &receipt,
                      const QJsonObject &extra, const std::optional<QString> &desk)
{
    return u"(%1, %2, %3, %4, %5%6)"_s.arg(
        sqlQuote(time), sqlQuote(ReceiptHistory::actionName(action)), sqlQuote(receipt.id),
        sqlQuote(receipt.receiptNo), sqlQuote(historyDetail(receipt, extra)),
        desk ? u", "_s + sqlQuote(*desk) : QString());
}

// One write transaction on the book's connection, opened first; the failure of any step
// is noted as the connection's last error.
class WriteScope
{
public:
    explicit WriteScope(SQLiteHelper &connection)
        : m_connection(connection)
        , m_transaction(connection.db())
    { }

    ~WriteScope()
    {
        if (m_counting) {
            m_transaction.rollback();
            m_connection.endOwnWrite(false);
        }
    }

    bool begin()
    {
        if (!m_connection.open())
            return false;
        m_connection.beginOwnWrite();
        m_counting = true;
        if (m_transaction.begin())
            return true;
        m_connection.noteFailure(m_transaction.error());
        return false;
    }

    // `told`: what the write changed, for the other desks of a shared book. They hear of it
    // when, and only if, the transaction commits.
    bool commit(const std::optional<BookChange> &told = std::nullopt)
    {
        const QString notice = told ? m_connection.db().dialect().changeNoticeStatement(
                                          ReceiptBook::deskChannel(), ReceiptBook::payloadOf(*told))
                                    : QString();
        if (!notice.isEmpty() && !m_connection.write(notice)) {
            m_transaction.rollback();
            return false;
        }
        if (m_transaction.commit()) {
            if (m_counting)
                m_connection.endOwnWrite(true);
            m_counting = false;
            return true;
        }
        // The COMMIT went out and its answer never came: the server may have written it
        // before the connection broke, or not. Only a look at the book can tell.
        m_outcomeUnknown = m_transaction.error().kind() == DatabaseError::Kind::ConnectionLost;
        m_connection.noteFailure(m_transaction.error());
        return false;
    }

    // Whether the last commit() failed with its answer lost rather than refused.
    bool outcomeUnknown() const { return m_outcomeUnknown; }

private:
    SQLiteHelper &m_connection;
    Transaction m_transaction;
    bool m_counting = false;
    bool m_outcomeUnknown = false;
};

// The columns of tb_receipt a receipt fills, in the order the insert names them.
enum Column {
    IdColumn,
    ReceiptNoColumn,
    ReceiptDateColumn,
    PayerColumn,
    Reason1Column,
    Reason2Column,
    RemarkColumn,
    PaytypeColumn,
    PayeeColumn,
    ApproveColumn,
    AccountantColumn,
    CreatorColumn,
    CreateDateColumn,
    TotalColumn,
    TotalBigColumn,
    IsDeletedColumn,
    ColumnCount
};

// A receipt as its row stores it: the one mapping issue, update and import write by. A
// total the program could not read is written back as it was.
inline std::array<QString, ColumnCount> columnValues(const Receipt &r, const QDateTime &createDate)
{
    return {
        r.id,
        r.receiptNo,
        formatDateText(r.receiptDate, DateText::dayStart),
        r.payer,
        r.reason1,
        r.reason2,
        r.remark,
        r.paytype,
        r.payee,
        r.approve,
        r.accountant,
        r.creator,
        formatDateText(createDate, DateText::dateTime),
        r.unreadableTotal ? *r.unreadableTotal : amountText(r.total),
        r.totalBig,
        QString::number(r.isDeleted),
    };
}

} // namespace
