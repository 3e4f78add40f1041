// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptnumber.h"

#include "failure.h"
#include "receiptnumbering.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Characters that show nothing, or show as something else, are named by their code
// point only: U+202E printed in a message would turn the rest of the line around.
bool isShownAsItself(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return false;
    default:
        return true;
    }
}

} // namespace

bool ReceiptNumber::isPlain(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

QString ReceiptNumber::trimmed(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

bool ReceiptNumber::check(const QString &text, QString *error)
{
    if (text.isEmpty())
        return fail(error, u"必填：收据单号"_s);
    for (const char32_t c : text.toUcs4()) {
        if (c >= U'0' && c <= U'9')
            continue;
        const QString code = u"U+%1"_s.arg(uint(c), 4, 16, QChar(u'0')).toUpper();
        if (!isShownAsItself(c))
            return fail(error, u"收据单号只能由数字 0–9 组成，其中有看不见的字符 %1"_s.arg(code));
        return fail(error, u"收据单号只能由数字 0–9 组成，其中有“%1”（%2）"_s.arg(
                               QString::fromUcs4(&c, 1), code));
    }
    return true;
}

QString ReceiptNumber::valueDigits(const QString &number)
{
    if (!isPlain(number))
        return number;
    qsizetype zeros = 0;
    while (zeros + 1 < number.size() && number.at(zeros) == u'0')
        ++zeros;
    return number.mid(zeros);
}

QString ReceiptNumber::padded(const QString &number, qint64 length)
{
    if (!isPlain(number))
        return number;
    const QString digits = valueDigits(number);
    const qint64 width = std::min(length, ReceiptNumbering::maximumNumberLength);
    return width > digits.size() ? QString(width - digits.size(), u'0') + digits : digits;
}

QStringList ReceiptNumber::spellings(const QString &number)
{
    if (!isPlain(number))
        return {number};
    const QString digits = valueDigits(number);
    QStringList texts;
    texts.reserve(
        std::max<qsizetype>(1, ReceiptNumbering::maximumNumberLength - digits.size() + 1));
    texts.append(digits);
    for (qsizetype zeros = 1; digits.size() + zeros <= ReceiptNumbering::maximumNumberLength;
         ++zeros)
        texts.append(QString(zeros, u'0') + digits);
    // A longer text than any number the program writes is still found as it is.
    if (!texts.contains(number))
        texts.append(number);
    return texts;
}
