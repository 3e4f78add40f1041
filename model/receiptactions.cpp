// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptactions.h"

#include "appstore.h"
#include "clock.h"
#include "database.h"
#include "datetext.h"
#include "receiptissue.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"

using namespace Qt::StringLiterals;

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool failSaving(QString *error)
{
    return fail(error, u"保存失败：%1"_s.arg(SQLiteHelper::shared().lastError()));
}

// A write transaction on the program's connection; false (and why) when it cannot begin.
bool begin(Transaction &transaction, QString *error)
{
    if (!SQLiteHelper::shared().open())
        return failSaving(error);
    if (transaction.begin())
        return true;
    SQLiteHelper::shared().noteFailure(transaction.errorCode(), transaction.errorMessage());
    return failSaving(error);
}

bool commit(Transaction &transaction, QString *error)
{
    if (transaction.commit())
        return true;
    SQLiteHelper::shared().noteFailure(transaction.errorCode(), transaction.errorMessage());
    return failSaving(error);
}

void reloadLists()
{
    if (SharedInstance<AppStore>::exists())
        AppStore::shared().loadReceipts();
}

} // namespace

QHash<QString, QString> ReceiptActions::voidReasons()
{
    QHash<QString, QString> reasons;
    // A book from before voids were kept has none (and no table to ask).
    if (keepsVoids() == false)
        return reasons;
    std::unique_ptr<ResultSet> rows
        = SQLiteHelper::shared().query(u"select receiptId, reason from tb_void"_s);
    while (rows && rows->next()) {
        reasons.insert(rows->stringForColumnIndex(0).value_or(QString()),
                       rows->stringForColumnIndex(1).value_or(QString()));
    }
    return reasons;
}

bool ReceiptActions::readVoidReason(const QString &receiptId, std::optional<QString> *reason)
{
    std::unique_ptr<ResultSet> rows = SQLiteHelper::shared().query(
        u"select reason from tb_void where receiptId = %1"_s.arg(sqlQuote(receiptId)));
    *reason = std::nullopt;
    if (rows) {
        if (rows->next())
            *reason = rows->stringForColumnIndex(0).value_or(QString());
        if (!rows->hasError())
            return true;
    }
    // A book from before voids were kept, which could not be brought up to date (it is
    // only read), has no voided receipt; any other failure leaves it unknown.
    *reason = std::nullopt;
    return keepsVoids() == false;
}

std::optional<bool> ReceiptActions::keepsVoids()
{
    const std::optional<qint64> tables = SQLiteHelper::shared().count(
        u"select count(*) from sqlite_schema where type = 'table' and name = 'tb_void'"_s);
    if (!tables)
        return std::nullopt;
    return *tables > 0;
}

QJsonObject ReceiptActions::voidDetail(const QString &receiptId)
{
    std::unique_ptr<ResultSet> rows = SQLiteHelper::shared().query(
        u"select reason, voidDate from tb_void where receiptId = %1"_s.arg(sqlQuote(receiptId)));
    if (!rows || !rows->next())
        return {};
    return {{u"reason"_s, rows->stringForColumnIndex(0).value_or(QString())},
            {u"voidDate"_s, rows->stringForColumnIndex(1).value_or(QString())}};
}

QStringList ReceiptActions::earlierVoidReasons()
{
    QStringList reasons;
    std::unique_ptr<ResultSet> rows = SQLiteHelper::shared().query(
        u"select reason from tb_void group by reason order by count(*) desc, max(voidDate) desc"_s);
    while (rows && rows->next())
        reasons.append(rows->stringForColumnIndex(0).value_or(QString()));
    return reasons;
}

bool ReceiptActions::voidReceipts(const QStringList &ids, const QString &reason, QString *error)
{
    if (reason.trimmed().isEmpty())
        return fail(error, u"必填：作废原因"_s);
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    if (!begin(transaction, error))
        return false;
    const QString now = formatDateText(Clock::now(), DateText::dateTime);
    const QHash<QString, QString> voided = voidReasons();
    for (const QString &id : ids) {
        if (voided.contains(id))
            continue;
        const std::optional<Receipt> receipt = AppStore::shared().readReceipt(id);
        if (!receipt)
            return fail(error, u"保存失败：收据已不存在"_s);
        if (!helper.write(
                u"insert into tb_void (receiptId, reason, voidDate) values (%1, %2, %3);"_s.arg(
                    sqlQuote(id), sqlQuote(reason), sqlQuote(now)))
            || !ReceiptHistory::record(HistoryAction::Void, *receipt, {{u"reason"_s, reason}}))
            return failSaving(error);
    }
    if (!commit(transaction, error))
        return false;
    reloadLists();
    return true;
}

bool ReceiptActions::unvoidReceipts(const QStringList &ids, QString *error)
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    if (!begin(transaction, error))
        return false;
    const QHash<QString, QString> voided = voidReasons();
    for (const QString &id : ids) {
        if (!voided.contains(id))
            continue;
        const std::optional<Receipt> receipt = AppStore::shared().readReceipt(id);
        if (!receipt)
            return fail(error, u"保存失败：收据已不存在"_s);
        if (!helper.write(u"delete from tb_void where receiptId = %1;"_s.arg(sqlQuote(id)),
                          SQLiteHelper::Changes::AtLeastOne)
            || !ReceiptHistory::record(HistoryAction::Unvoid, *receipt,
                                       {{u"reason"_s, voided.value(id)}}))
            return failSaving(error);
    }
    if (!commit(transaction, error))
        return false;
    reloadLists();
    return true;
}

bool ReceiptActions::recordPrint(const QString &receiptId, QString *error)
{
    Transaction transaction(SQLiteHelper::shared().db());
    if (!begin(transaction, error))
        return false;
    const std::optional<Receipt> receipt = AppStore::shared().readReceipt(receiptId);
    if (!receipt)
        return fail(error, u"收据已不存在"_s);
    if (!ReceiptHistory::record(HistoryAction::Print, *receipt))
        return failSaving(error);
    return commit(transaction, error);
}

bool ReceiptActions::restoreDeleted(const HistoryEntry &deletion, QString *error)
{
    const std::optional<Receipt> receipt = ReceiptHistory::receiptFromJson(deletion.detail);
    if (deletion.action != HistoryAction::Delete || !receipt)
        return fail(error, u"这条记录不是删除的收据"_s);
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    if (!begin(transaction, error))
        return false;
    const std::optional<bool> taken
        = ReceiptNoStore::isTaken(receipt->receiptNo, receipt->receiptNo.toLongLong());
    if (!taken)
        return fail(error, ReceiptNoStore::statusText(ReceiptNoStore::Status::CheckFailed));
    if (*taken)
        return fail(error, u"单号 No.%1 已被别的收据使用，不能恢复"_s.arg(receipt->receiptNo));
    if (AppStore::shared().readReceipt(receipt->id))
        return fail(error, u"这张收据已经恢复过了"_s);
    // A receipt voided when it was deleted comes back voided, with its reason and date:
    // brought back plain, it would count in the totals again.
    QJsonObject voided;
    if (deletion.detail.contains(u"reason"_s)) {
        const QString reason = deletion.detail.value(u"reason"_s).toString();
        QString voidDate = deletion.detail.value(u"voidDate"_s).toString();
        if (voidDate.isEmpty())
            voidDate = formatDateText(Clock::now(), DateText::dateTime);
        voided = {{u"reason"_s, reason}, {u"voidDate"_s, voidDate}};
        if (!helper.write(
                u"insert into tb_void (receiptId, reason, voidDate) values (%1, %2, %3);"_s.arg(
                    sqlQuote(receipt->id), sqlQuote(reason), sqlQuote(voidDate))))
            return failSaving(error);
    }
    if (!helper.write(receiptInsertStatement(*receipt, receipt->createDate))
        || !ReceiptHistory::record(HistoryAction::Restore, *receipt, voided))
        return failSaving(error);
    if (!commit(transaction, error))
        return false;
    reloadLists();
    return true;
}
