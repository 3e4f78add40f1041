// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptrow.h"

#include "database.h"
#include "datetext.h"
#include "storedamount.h"

using namespace Qt::StringLiterals;

ReceiptRowMapper::ReceiptRowMapper(ResultSet &resultSet, const QString &receiptNoColumn)
    : m_resultSet(resultSet)
    , m_id(resultSet.columnIndexForName(u"id"_s))
    , m_receiptNo(resultSet.columnIndexForName(receiptNoColumn))
    , m_receiptDate(resultSet.columnIndexForName(u"receiptDate"_s))
    , m_payer(resultSet.columnIndexForName(u"payer"_s))
    , m_reason1(resultSet.columnIndexForName(u"reason1"_s))
    , m_reason2(resultSet.columnIndexForName(u"reason2"_s))
    , m_remark(resultSet.columnIndexForName(u"remark"_s))
    , m_paytype(resultSet.columnIndexForName(u"paytype"_s))
    , m_payee(resultSet.columnIndexForName(u"payee"_s))
    , m_approve(resultSet.columnIndexForName(u"approve"_s))
    , m_accountant(resultSet.columnIndexForName(u"accountant"_s))
    , m_creator(resultSet.columnIndexForName(u"creator"_s))
    , m_createDate(resultSet.columnIndexForName(u"createDate"_s))
    , m_total(resultSet.columnIndexForName(u"total"_s))
    , m_totalBig(resultSet.columnIndexForName(u"totalBig"_s))
    , m_isDeleted(resultSet.columnIndexForName(u"isDeleted"_s))
{
    const std::pair<int, QString> required[] = {
        {m_id, u"id"_s},
        {m_receiptNo, u"receiptNo"_s},
        {m_receiptDate, u"receiptDate"_s},
        {m_createDate, u"createDate"_s},
        {m_total, u"total"_s},
    };
    for (const auto &[column, name] : required) {
        if (column < 0) {
            m_missingColumn = name;
            break;
        }
    }
}

std::optional<Receipt> ReceiptRowMapper::map() const
{
    const auto text = [this](int column) {
        return m_resultSet.stringForColumnIndex(column).value_or(QString());
    };
    // The people and the payment method come from short lists, so a long list holds the
    // same few texts over and over: share one copy of each instead of one per row.
    // Looked up by the stored bytes, so a text seen before is neither decoded nor copied.
    const auto shared = [this, &text](int column, size_t slot) {
        const std::optional<QByteArrayView> bytes = m_resultSet.bytesForColumnIndex(column);
        if (!bytes || bytes->isEmpty())
            return QString();
        RecentText &recent = m_recentTexts[slot];
        if (QByteArrayView(recent.bytes) == *bytes)
            return recent.text;
        auto found = m_sharedTexts.constFind(QByteArray::fromRawData(bytes->data(), bytes->size()));
        if (found == m_sharedTexts.constEnd())
            found = m_sharedTexts.insert(bytes->toByteArray(), text(column));
        recent = {found.key(), found.value()};
        return found.value();
    };
    const auto skip = [](const QString &id, const char16_t *why) -> std::optional<Receipt> {
        writeDatabaseDiagnostic(u"Skipping receipt row "_s + (id.isEmpty() ? u"?"_s : id) + u": "_s
                                + QString::fromUtf16(why));
        return std::nullopt;
    };

    const std::optional<QString> id = m_resultSet.stringForColumnIndex(m_id);
    if (!id)
        return skip({}, u"no id");
    const std::optional<QString> receiptNo = m_resultSet.stringForColumnIndex(m_receiptNo);
    if (!receiptNo)
        return skip(*id, u"no receipt number");
    const std::optional<QString> receiptDateText = m_resultSet.stringForColumnIndex(m_receiptDate);
    const std::optional<QString> createDateText = m_resultSet.stringForColumnIndex(m_createDate);
    if (!receiptDateText || !createDateText)
        return skip(*id, u"no receipt date or creation date");
    const QDateTime receiptDate = m_dates.read(*receiptDateText);
    const QDateTime createDate = m_dates.read(*createDateText);
    if (!receiptDate.isValid() || !createDate.isValid())
        return skip(*id, u"a date is not of the form yyyy-MM-dd HH:mm:ss");

    Receipt receipt;
    receipt.id = *id;
    receipt.receiptNo = *receiptNo;
    receipt.receiptDate = receiptDate;
    receipt.payer = text(m_payer);
    receipt.reason1 = text(m_reason1);
    receipt.reason2 = text(m_reason2);
    receipt.remark = text(m_remark);
    receipt.paytype = shared(m_paytype, 0);
    receipt.payee = shared(m_payee, 1);
    receipt.approve = shared(m_approve, 2);
    receipt.accountant = shared(m_accountant, 3);
    receipt.creator = shared(m_creator, 4);
    receipt.createDate = createDate;
    const std::optional<QByteArrayView> totalText = m_resultSet.bytesForColumnIndex(m_total);
    if (const std::optional<double> total = readStoredAmount(totalText.value_or(""))) {
        receipt.total = *total;
    } else {
        receipt.unreadableTotal = totalText ? QString::fromUtf8(*totalText) : QString();
    }
    receipt.totalBig = text(m_totalBig);
    receipt.isDeleted = m_resultSet.intForColumnIndex(m_isDeleted);
    return receipt;
}
