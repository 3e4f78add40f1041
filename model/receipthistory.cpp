// SPDX-License-Identifier: GPL-3.0-or-later
#include "receipthistory.h"

#include "amountincapitals.h"
#include "clock.h"
#include "database.h"
#include "datetext.h"
#include "money.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

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
    {HistoryAction::Restore, u"restore", u"恢复"},
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

bool ReceiptHistory::record(HistoryAction action, const Receipt &receipt, const QJsonObject &extra)
{
    QJsonObject detail = toJson(receipt);
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        detail.insert(it.key(), it.value());
    const QString json = QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact));
    const QString sql = u"insert into tb_history (time, action, receiptId, receiptNo, detail) "
                        u"values (%1, %2, %3, %4, %5);"_s.arg(
                            sqlQuote(stored(Clock::now())), sqlQuote(actionName(action)),
                            sqlQuote(receipt.id), sqlQuote(receipt.receiptNo), sqlQuote(json));
    return SQLiteHelper::shared().write(sql, SQLiteHelper::Changes::AtLeastOne);
}

QString ReceiptHistory::unavailableReason()
{
    // A book from before the history was kept gets its tables when it is brought up to
    // date; one that cannot be (read-only, damaged) is read without them.
    const std::optional<qint64> tables = SQLiteHelper::shared().count(
        u"select count(*) from sqlite_schema where type = 'table' "
        u"and name in ('tb_history', 'tb_void')"_s);
    if (!tables)
        return u"无法读取操作记录：%1"_s.arg(SQLiteHelper::shared().lastError());
    if (*tables < 2)
        return u"这个数据库来自旧版本，没有操作记录和作废记录；数据库只能读取，无法升级"_s;
    return {};
}

std::optional<QList<HistoryEntry>> ReceiptHistory::load(const QString &receiptNo, QDate from,
                                                        QDate to, const QString &receiptId)
{
    QStringList conditions;
    if (!receiptNo.isEmpty()) {
        // The number as typed, not as a pattern: % and _ in it match only themselves.
        QString pattern = receiptNo;
        pattern.replace(u'\\', u"\\\\"_s).replace(u'%', u"\\%"_s).replace(u'_', u"\\_"_s);
        conditions << u"receiptNo like %1 escape '\\'"_s.arg(sqlQuote(u'%' + pattern + u'%'));
    }
    if (from.isValid())
        conditions << u"time >= %1"_s.arg(sqlQuote(from.toString(u"yyyy-MM-dd 00:00:00"_s)));
    if (to.isValid())
        conditions << u"time <= %1"_s.arg(sqlQuote(to.toString(u"yyyy-MM-dd 23:59:59"_s)));
    if (!receiptId.isEmpty())
        conditions << u"receiptId = %1"_s.arg(sqlQuote(receiptId));
    const QString sql = u"select id, time, action, receiptId, receiptNo, detail from tb_history"_s
        + (conditions.isEmpty() ? QString() : u" where "_s + conditions.join(u" and "_s))
        + u" order by id desc"_s;
    std::unique_ptr<ResultSet> rows = SQLiteHelper::shared().query(sql);
    if (!rows)
        return std::nullopt;
    QList<HistoryEntry> entries;
    while (rows->next()) {
        const std::optional<HistoryAction> action
            = actionFromName(rows->stringForColumnIndex(2).value_or(QString()));
        if (!action)
            continue;
        HistoryEntry entry;
        entry.id = rows->int64ForColumnIndex(0);
        entry.time
            = parseDateText(rows->stringForColumnIndex(1).value_or(QString()), DateText::dateTime);
        entry.action = *action;
        entry.receiptId = rows->stringForColumnIndex(3).value_or(QString());
        entry.receiptNo = rows->stringForColumnIndex(4).value_or(QString());
        entry.detail
            = QJsonDocument::fromJson(rows->stringForColumnIndex(5).value_or(QString()).toUtf8())
                  .object();
        entries.append(std::move(entry));
    }
    if (rows->hasError())
        return std::nullopt;
    return entries;
}

QString ReceiptHistory::changeSummary(const HistoryEntry &entry)
{
    const QJsonObject changes = entry.detail.value(u"changes"_s).toObject();
    QStringList parts;
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
