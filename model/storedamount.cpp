// SPDX-License-Identifier: GPL-3.0-or-later
#include "storedamount.h"

#include "amountincapitals.h"

#include <QString>

#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The digits of a plain decimal text without the zeros that do not change its value.
QByteArray canonical(QByteArray digits)
{
    const bool negative = digits.startsWith('-');
    if (negative)
        digits.remove(0, 1);
    if (digits.contains('.')) {
        while (digits.endsWith('0'))
            digits.chop(1);
        if (digits.endsWith('.'))
            digits.chop(1);
    }
    while (digits.size() > 1 && digits.startsWith('0') && digits.at(1) != '.')
        digits.remove(0, 1);
    return (negative && digits != "0" ? QByteArray("-") : QByteArray()) + digits;
}

} // namespace

std::optional<double> readStoredAmount(QByteArrayView text)
{
    // Checked by hand rather than by a pattern: a list reads this for every receipt.
    qsizetype i = 0;
    if (i < text.size() && text.at(i) == '-')
        ++i;
    const qsizetype wholeStart = i;
    while (i < text.size() && isDigit(text.at(i)))
        ++i;
    if (i == wholeStart)
        return std::nullopt;
    qsizetype digits = i - wholeStart;
    if (i < text.size() && text.at(i) == '.') {
        const qsizetype fractionStart = ++i;
        while (i < text.size() && isDigit(text.at(i)))
            ++i;
        if (i == fractionStart)
            return std::nullopt;
        digits += i - fractionStart;
    }
    if (i != text.size())
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    // Up to 15 significant digits every decimal text survives the trip through a double;
    // a longer one only when it is the double's own shortest text, or writing the amount
    // back would change it.
    if (digits > 15 && canonical(text.toByteArray()) != canonical(amountText(value).toLatin1()))
        return std::nullopt;
    return value == 0 ? 0.0 : value; // no "-0"
}
