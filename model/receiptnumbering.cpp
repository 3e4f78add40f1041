// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptnumbering.h"

#include "database.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

#include <algorithm>

using namespace Qt::StringLiterals;

QString ReceiptNumbering::numberText(const ReceiptNoSetting &setting)
{
    const QString digits = QString::number(setting.currNum);
    const qint64 pad = std::min(setting.numLong, maximumNumberLength) - digits.size();
    return pad >= 1 ? QString(pad, u'0') + digits : digits;
}

QString ReceiptNumbering::saveStatement(const ReceiptNoSetting &setting)
{
    return u"update tb_receiptNo\nset    numLong = "_s + sqlQuote(QString::number(setting.numLong))
        + u" ,\n       currNum = "_s + sqlQuote(QString::number(setting.currNum)) + u" ;"_s;
}

std::optional<ReceiptNoSetting> ReceiptNumbering::stored(SQLiteHelper &connection)
{
    std::unique_ptr<ResultSet> resultSet = connection.query(u"select *\nfrom tb_receiptNo"_s);
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

bool ReceiptNumbering::isStored(SQLiteHelper &connection, const ReceiptNoSetting &setting)
{
    const std::optional<qint64> other = connection.count(
        u"select count(*) from tb_receiptNo where numLong is not %1 or currNum is not %2"_s.arg(
            sqlQuote(QString::number(setting.numLong)),
            sqlQuote(QString::number(setting.currNum))));
    return other == 0;
}

std::optional<qint64> ReceiptNumbering::storedCounter(SQLiteHelper &connection)
{
    std::unique_ptr<ResultSet> resultSet
        = connection.query(u"select max(cast(currNum as integer)) from tb_receiptNo"_s);
    if (!resultSet || !resultSet->next() || resultSet->hasError())
        return std::nullopt;
    return resultSet->int64ForColumnIndex(0);
}

QString ReceiptNumbering::checkFailedText()
{
    return u"单号检查失败"_s;
}

QString ReceiptNumbering::exhaustedText()
{
    return u"单号已用尽，请在收据单号中重新设置"_s;
}
