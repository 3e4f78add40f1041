// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptissue.h"

#include "amountincapitals.h"
#include "clock.h"
#include "database.h"
#include "datetext.h"
#include "receipthistory.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace {

// The numbering setting as stored now, read inside the transaction: another copy of the
// program may have moved the counter since this one loaded it.
std::optional<ReceiptNoSetting> storedSetting()
{
    std::unique_ptr<ResultSet> resultSet
        = SQLiteHelper::shared().query(u"select *\nfrom tb_receiptNo"_s);
    if (!resultSet)
        return std::nullopt;
    const int numLong = resultSet->columnIndexForName(u"numLong"_s);
    const int currNum = resultSet->columnIndexForName(u"currNum"_s);
    ReceiptNoSetting setting;
    while (resultSet->next())
        setting = {
            {}, resultSet->int64ForColumnIndex(numLong), resultSet->int64ForColumnIndex(currNum)};
    if (resultSet->hasError())
        return std::nullopt;
    return setting;
}

} // namespace

QString receiptInsertStatement(const Receipt &r, const QDateTime &createDate)
{
    const QStringList values = {
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
        // A text the program could not read as an amount is written back as it was.
        r.unreadableTotal ? *r.unreadableTotal : amountText(r.total),
        r.totalBig,
        QString::number(r.isDeleted),
    };
    QString sql = u"insert into tb_receipt (\nId,\nreceiptNo ,\nreceiptDate ,\npayer ,\nreason1 ,\n"
                  u"reason2 ,\nremark ,\npaytype ,\npayee ,\napprove ,\naccountant ,\ncreator ,\n"
                  u"createDate ,\ntotal ,\ntotalBig,\nisDeleted\n)\nvalues (\n"_s;
    for (qsizetype i = 0; i < values.size(); ++i)
        sql += sqlQuote(values.at(i)) + (i + 1 < values.size() ? u",\n"_s : u"\n);"_s);
    return sql;
}

IssueResult issueReceipt(const Receipt &receipt)
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    const auto failed = [&helper](const QString &what) {
        return IssueResult {false, {}, u"%1：%2"_s.arg(what, helper.lastError())};
    };
    if (!helper.open())
        return failed(u"保存失败"_s);
    Transaction transaction(helper.db());
    if (!transaction.begin()) {
        helper.noteFailure(transaction.errorCode(), transaction.errorMessage());
        return failed(u"保存失败"_s);
    }
    std::optional<ReceiptNoSetting> setting = storedSetting();
    if (!setting)
        return failed(u"保存失败"_s);

    Receipt stored = receipt;
    bool isNumber = false;
    qint64 value = stored.receiptNo.toLongLong(&isNumber);
    if (!isNumber || value < setting->currNum) {
        // Not a number this program gave out, or one behind the stored counter: another
        // copy of the program moved the counter past it, so it may be on paper already
        // (issued, then deleted). The stored counter's number instead.
        value = setting->currNum;
        stored.receiptNo = ReceiptNoStore::receiptNumberText(*setting);
    }
    for (;;) {
        const std::optional<bool> taken = ReceiptNoStore::isTaken(stored.receiptNo, value);
        if (!taken)
            return failed(ReceiptNoStore::statusText(ReceiptNoStore::Status::CheckFailed));
        if (!*taken)
            break;
        if (value == std::numeric_limits<qint64>::max())
            return {false, {}, ReceiptNoStore::statusText(ReceiptNoStore::Status::Exhausted)};
        ++value;
        ReceiptNoSetting next = *setting;
        next.currNum = value;
        stored.receiptNo = ReceiptNoStore::receiptNumberText(next);
    }

    stored.createDate = Clock::now();
    stored.receiptDate = QDateTime(stored.receiptDate.date(), QTime(0, 0)); // as stored
    if (!helper.write(receiptInsertStatement(stored, stored.createDate))
        || !ReceiptHistory::record(HistoryAction::Insert, stored))
        return failed(u"保存失败"_s);
    // The counter never moves back: a number past this one may already be out.
    setting->currNum = std::max(setting->currNum,
                                value < std::numeric_limits<qint64>::max() ? value + 1 : value);
    if (!helper.write(ReceiptNoStore::saveStatement(*setting)))
        return failed(u"保存失败"_s);
    if (!transaction.commit()) {
        helper.noteFailure(transaction.errorCode(), transaction.errorMessage());
        return failed(u"保存失败"_s);
    }

    if (SharedInstance<ReceiptNoStore>::exists()) {
        ReceiptNoStore &numbering = ReceiptNoStore::shared();
        ReceiptNoSetting moved = numbering.receiptNoSetting();
        moved.currNum = setting->currNum;
        numbering.setReceiptNoSetting(moved);
    }
    return {true, stored.receiptNo, {}};
}
