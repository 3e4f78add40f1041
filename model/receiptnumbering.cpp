// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptnumbering.h"

#include "database.h"
#include "receiptnumber.h"
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

std::optional<ReceiptNoSetting> ReceiptNumbering::stored(SQLiteHelper &connection, Lock lock,
                                                         QString *problem)
{
    // On a server the row is locked until the transaction ends, so that desks saving at
    // once take their numbers one after another; a file is locked whole already.
    const QString rowLock = connection.db().dialect().rowLockClause().trimmed();
    const bool locked = lock == Lock::UntilCommit && !rowLock.isEmpty();
    std::unique_ptr<ResultSet> resultSet = connection.query(
        locked ? u"select *\nfrom tb_receiptNo\n"_s + rowLock : u"select *\nfrom tb_receiptNo"_s);
    if (!resultSet)
        return std::nullopt;
    const int numLong = resultSet->columnIndexForName(u"numLong"_s);
    const int currNum = resultSet->columnIndexForName(u"currNum"_s);
    ReceiptNoSetting setting;
    bool valid = true;
    while (resultSet->next()) {
        // Read as texts and judged: as a number, 'abc' and '' would read as 0. Every row
        // is judged, as every row is written.
        const std::optional<qint64> length = wholeNumber(resultSet->stringForColumnIndex(numLong));
        const std::optional<qint64> counter = wholeNumber(resultSet->stringForColumnIndex(currNum));
        if (!length || !counter)
            valid = false;
        else
            setting = {{}, *length, *counter};
    }
    if (resultSet->hasError())
        return std::nullopt;
    if (!valid) {
        if (problem)
            *problem = invalidSettingText();
        return std::nullopt;
    }
    return setting;
}

std::optional<qint64> ReceiptNumbering::wholeNumber(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    const QString digits = ReceiptNumber::trimmed(*text);
    if (!ReceiptNumber::isPlain(digits))
        return std::nullopt;
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

bool ReceiptNumbering::isStored(SQLiteHelper &connection, const ReceiptNoSetting &setting)
{
    // "is not" compares NULL too; a server spells it "is distinct from".
    const QString isNot = connection.db().dialect().isDistinctFrom();
    const std::optional<qint64> other = connection.count(
        u"select count(*) from tb_receiptNo where numLong %3 %1 or currNum %3 %2"_s.arg(
            sqlQuote(QString::number(setting.numLong)),
            sqlQuote(QString::number(setting.currNum)), isNot));
    return other == 0;
}

std::optional<qint64> ReceiptNumbering::storedCounter(SQLiteHelper &connection, QString *problem)
{
    // Judged first: cast as a number, 'abc' is 0 on a file and an error on a server.
    if (!stored(connection, Lock::None, problem))
        return std::nullopt;
    // A server's integer has 32 bits; SQLite's has 64.
    std::unique_ptr<ResultSet> resultSet = connection.query(
        connection.db().dialect().inDialect(u"select max(cast(currNum as integer)) from tb_receiptNo"_s,
                                            u"select max(cast(currNum as bigint)) from tb_receiptNo"_s));
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

QString ReceiptNumbering::invalidSettingText()
{
    return u"单号设置有误：当前单号和单号长度都须是不小于 0 的整数，请在收据单号中重新设置"_s;
}
