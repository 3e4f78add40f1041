// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptseries.h"

#include "receiptnumber.h"
#include "receiptnumbering.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString token = QString::fromUtf16(SeriesNumber::yearToken);

bool isAllowed(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9')
        || u == u'-' || u == u'_' || u == u'/' || u == u'.' || (u >= 0x4E00 && u <= 0x9FFF);
}

// The prefix as a pattern, its year caught.
QRegularExpression patternOf(const QString &prefix)
{
    const qsizetype at = prefix.indexOf(token);
    const QString pattern = at < 0
        ? QRegularExpression::escape(prefix)
        : QRegularExpression::escape(prefix.left(at)) + u"([0-9]{4})"_s
            + QRegularExpression::escape(prefix.mid(at + token.size()));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

} // namespace

QString SeriesNumber::defaultName()
{
    return u"默认"_s;
}

bool SeriesNumber::check(const ReceiptSeries &series, const QList<ReceiptSeries> &others,
                         QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString name = series.name.trimmed();
    if (name.isEmpty())
        return fail(u"请填写类别名称"_s);
    if (name.size() > 20 || name != series.name)
        return fail(u"类别名称不能超过 20 个字，前后不能有空格"_s);
    if (name == defaultName())
        return fail(u"“%1”是账本原有单号的名称"_s.arg(name));
    if (series.prefix.isEmpty())
        return fail(u"请填写前缀：只有默认类别没有前缀"_s);
    if (series.prefix.size() > 20)
        return fail(u"前缀不能超过 20 个字符"_s);
    const QString bare = QString(series.prefix).remove(token);
    if (series.prefix.count(token) > 1)
        return fail(u"前缀中 {yyyy} 只能出现一次"_s);
    for (const QChar c : bare) {
        if (!isAllowed(c))
            return fail(u"前缀只能由字母、数字、汉字和 - _ / . 组成（U+%1 不行）"_s.arg(
                c.unicode(), 4, 16, QChar(u'0')));
    }
    const QChar last = series.prefix.endsWith(token) ? QChar(u'0') : series.prefix.back();
    if (last.isDigit())
        return fail(u"前缀的最后一个字符不能是数字（可以是 - 或字母，如 XF{yyyy}-）：否则单号的数字从哪里开始无法分辨"_s);
    if (series.prefix.startsWith(u'0'))
        return fail(u"前缀不能以 0 开头"_s);
    if (bare.isEmpty())
        return fail(u"前缀除 {yyyy} 外还须有别的字符"_s);
    if (series.yearly && !series.prefix.contains(token))
        return fail(u"每年从 1 开始的类别，前缀中须有 {yyyy}：否则每年的单号会重复"_s);
    if (series.numLong < 1 || series.numLong > 12)
        return fail(u"单号长度须在 1 到 12 之间"_s);
    for (const ReceiptSeries &other : others) {
        if (other.name == series.name)
            return fail(u"已有名为“%1”的类别"_s.arg(series.name));
        if (other.isDefault())
            continue;
        // Two prefixes that can print alike: each tried, in a year's spelling, on the other.
        const QString mine = QString(series.prefix).replace(token, u"2026"_s);
        const QString theirs = QString(other.prefix).replace(token, u"2026"_s);
        if (patternOf(other.prefix).match(mine).hasMatch()
            || patternOf(series.prefix).match(theirs).hasMatch())
            return fail(u"前缀与类别“%1”的前缀 %2 相同，单号会分不清"_s.arg(other.name, other.prefix));
    }
    return true;
}

QString SeriesNumber::prefixIn(const ReceiptSeries &series, int year)
{
    return QString(series.prefix).replace(token, QString::number(year).rightJustified(4, u'0'));
}

QString SeriesNumber::text(const ReceiptSeries &series, int year, qint64 value)
{
    return prefixIn(series, year)
        + ReceiptNumbering::numberText({{}, series.numLong, value});
}

QStringList SeriesNumber::spellings(const ReceiptSeries &series, int year, qint64 value)
{
    const QString prefix = prefixIn(series, year);
    QStringList texts = ReceiptNumber::spellings(QString::number(value));
    for (QString &spelled : texts)
        spelled.prepend(prefix);
    return texts;
}

std::optional<SeriesNumber::Identity> SeriesNumber::identify(const QString &number,
                                                             const QList<ReceiptSeries> &series)
{
    qsizetype digitsAt = number.size();
    while (digitsAt > 0 && number.at(digitsAt - 1) >= u'0' && number.at(digitsAt - 1) <= u'9')
        --digitsAt;
    const QString digits = ReceiptNumber::valueDigits(number.mid(digitsAt));
    if (digitsAt == number.size() || digits.size() > 18)
        return std::nullopt;
    Identity identity;
    identity.value = digits.toLongLong();
    const QString prefix = number.left(digitsAt);
    for (qsizetype i = 0; i < series.size(); ++i) {
        if (series.at(i).isDefault()) {
            if (prefix.isEmpty()) {
                identity.series = i;
                return identity;
            }
            continue;
        }
        if (prefix.isEmpty())
            continue;
        const QRegularExpressionMatch match = patternOf(series.at(i).prefix).match(prefix);
        if (match.hasMatch()) {
            identity.series = i;
            identity.year = match.lastCapturedIndex() >= 1 ? match.captured(1).toInt() : 0;
            return identity;
        }
    }
    return std::nullopt;
}

bool SeriesNumber::looksLikeSeriesNumber(const QString &number)
{
    qsizetype digitsAt = number.size();
    while (digitsAt > 0 && number.at(digitsAt - 1) >= u'0' && number.at(digitsAt - 1) <= u'9')
        --digitsAt;
    if (digitsAt == 0 || digitsAt == number.size() || number.size() - digitsAt > 18
        || number.startsWith(u'0'))
        return false;
    return std::all_of(number.begin(), number.begin() + digitsAt, isAllowed);
}
