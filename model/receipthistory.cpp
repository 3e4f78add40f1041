// SPDX-License-Identifier: GPL-3.0-or-later
#include "receipthistory.h"

#include "amountincapitals.h"
#include "datetext.h"
#include "money.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

struct ActionNames
{
    HistoryAction action;
    const char16_t *name;
    const char16_t *text;
};

constexpr ActionNames actionNames[] = {
    {HistoryAction::Insert, u"insert", u"开单"},     {HistoryAction::Update, u"update", u"修改"},
    {HistoryAction::Delete, u"delete", u"删除"},     {HistoryAction::Void, u"void", u"作废"},
    {HistoryAction::Unvoid, u"unvoid", u"撤销作废"}, {HistoryAction::Print, u"print", u"打印"},
    {HistoryAction::Restore, u"restore", u"恢复"},   {HistoryAction::Import, u"import", u"导入"},
    {HistoryAction::ChainStart, u"chain", u"记录链自此开始"},
    {HistoryAction::Close, u"close", u"日结"},       {HistoryAction::Setting, u"setting", u"修改设置"},
    {HistoryAction::Spoil, u"spoil", u"废票"},
};

// The fields an edit can change, with the names the user reads.
struct EditableField
{
    const char16_t *key;
    const char16_t *label;
};

constexpr EditableField editableFields[] = {
    {u"receiptDate", u"收款日期"}, {u"payer", u"交款单位"},  {u"reason1", u"收款事由"},
    {u"reason2", u"其它说明"},     {u"remark", u"备注信息"}, {u"paytype", u"收款方式"},
    {u"payee", u"收款人"},         {u"approve", u"核准"},    {u"accountant", u"会计"},
    {u"total", u"金额"},
};

QString stored(const QDateTime &dateTime)
{
    return formatDateText(dateTime, DateText::dateTime);
}

} // namespace

QString ReceiptHistory::actionName(HistoryAction action)
{
    for (const ActionNames &names : actionNames) {
        if (names.action == action)
            return QString::fromUtf16(names.name);
    }
    return {};
}

QString ReceiptHistory::actionText(HistoryAction action)
{
    for (const ActionNames &names : actionNames) {
        if (names.action == action)
            return QString::fromUtf16(names.text);
    }
    return {};
}

std::optional<HistoryAction> ReceiptHistory::actionFromName(const QString &name)
{
    for (const ActionNames &names : actionNames) {
        if (name == QStringView(names.name))
            return names.action;
    }
    return std::nullopt;
}

QJsonObject ReceiptHistory::toJson(const Receipt &r)
{
    return {
        {u"id"_s, r.id},
        {u"receiptNo"_s, r.receiptNo},
        {u"receiptDate"_s, stored(r.receiptDate)},
        {u"payer"_s, r.payer},
        {u"reason1"_s, r.reason1},
        {u"reason2"_s, r.reason2},
        {u"remark"_s, r.remark},
        {u"paytype"_s, r.paytype},
        {u"payee"_s, r.payee},
        {u"approve"_s, r.approve},
        {u"accountant"_s, r.accountant},
        {u"creator"_s, r.creator},
        {u"createDate"_s, stored(r.createDate)},
        // As stored: an amount the program could not read is kept as its text.
        {u"total"_s, r.unreadableTotal ? *r.unreadableTotal : amountText(r.total)},
        {u"totalBig"_s, r.totalBig},
        {u"isDeleted"_s, QString::number(r.isDeleted)},
    };
}

std::optional<Receipt> ReceiptHistory::receiptFromJson(const QJsonObject &detail)
{
    Receipt r;
    r.id = detail.value(u"id"_s).toString();
    r.receiptNo = detail.value(u"receiptNo"_s).toString();
    r.receiptDate = parseDateText(detail.value(u"receiptDate"_s).toString(), DateText::dateTime);
    r.createDate = parseDateText(detail.value(u"createDate"_s).toString(), DateText::dateTime);
    if (r.id.isEmpty() || r.receiptNo.isEmpty() || !r.receiptDate.isValid()
        || !r.createDate.isValid())
        return std::nullopt;
    r.payer = detail.value(u"payer"_s).toString();
    r.reason1 = detail.value(u"reason1"_s).toString();
    r.reason2 = detail.value(u"reason2"_s).toString();
    r.remark = detail.value(u"remark"_s).toString();
    r.paytype = detail.value(u"paytype"_s).toString();
    r.payee = detail.value(u"payee"_s).toString();
    r.approve = detail.value(u"approve"_s).toString();
    r.accountant = detail.value(u"accountant"_s).toString();
    r.creator = detail.value(u"creator"_s).toString();
    const QString total = detail.value(u"total"_s).toString();
    bool ok = false;
    r.total = total.toDouble(&ok);
    if (!ok) {
        r.total = 0;
        r.unreadableTotal = total;
    }
    r.totalBig = detail.value(u"totalBig"_s).toString();
    r.isDeleted = detail.value(u"isDeleted"_s).toString().toLongLong();
    return r;
}

QString ReceiptHistory::changeSummary(const HistoryEntry &entry)
{
    const QJsonObject changes = entry.detail.value(u"changes"_s).toObject();
    QStringList parts;
    if (entry.action == HistoryAction::Close)
        return u"日结到 %1"_s.arg(entry.detail.value(u"closedTo"_s).toString());
    if (entry.action == HistoryAction::Spoil) {
        const QString renumbered = entry.detail.value(u"renumbered"_s).toString();
        const QString spoiled = u"No.%1 废票（%2）"_s.arg(
            entry.receiptNo, entry.detail.value(u"spoilReason"_s).toString());
        return renumbered.isEmpty() ? spoiled
                                    : spoiled + u"，收据改开 No.%1，在下一张收据纸上重印"_s.arg(renumbered);
    }
    if (entry.action == HistoryAction::Setting) {
        // A setting's changes are named as the user reads them already.
        for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
            const QJsonArray change = it.value().toArray();
            parts << u"%1 %2 → %3"_s.arg(it.key(), change.at(0).toVariant().toString(),
                                         change.at(1).toVariant().toString());
        }
        return u"%1：%2"_s.arg(entry.detail.value(u"setting"_s).toString(), parts.join(u"；"_s));
    }
    for (const EditableField &field : editableFields) {
        const QJsonArray change = changes.value(QString::fromUtf16(field.key)).toArray();
        if (change.size() != 2)
            continue;
        QString before = change.at(0).toString();
        QString after = change.at(1).toString();
        if (field.key == QStringView(u"total")) {
            if (const std::optional<qint64> fen = Money::fenFromText(before.toLatin1()))
                before = Money::format(*fen);
            if (const std::optional<qint64> fen = Money::fenFromText(after.toLatin1()))
                after = Money::format(*fen);
        } else if (field.key == QStringView(u"receiptDate")) {
            before = before.left(10);
            after = after.left(10);
        }
        parts << u"%1 %2 → %3"_s.arg(QString::fromUtf16(field.label), before, after);
    }
    return parts.join(u"；"_s);
}
