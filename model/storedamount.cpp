#include "storedamount.h"

#include "amountincapitals.h"

#include <QString>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// The digits of a plain decimal text without the zeros that do not change its value.
QString canonical(QStringView text)
{
    QString digits = text.toString();
    const bool negative = digits.startsWith(u'-');
    if (negative)
        digits.remove(0, 1);
    if (digits.contains(u'.')) {
        while (digits.endsWith(u'0'))
            digits.chop(1);
        if (digits.endsWith(u'.'))
            digits.chop(1);
    }
    while (digits.size() > 1 && digits.startsWith(u'0') && digits.at(1) != u'.')
        digits.remove(0, 1);
    return (negative && digits != u"0"_s ? u"-"_s : QString()) + digits;
}

} // namespace

std::optional<double> readStoredAmount(QStringView text)
{
    qsizetype i = 0;
    if (i < text.size() && text.at(i) == u'-')
        ++i;
    const qsizetype wholeStart = i;
    while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 0x80)
        ++i;
    if (i == wholeStart)
        return std::nullopt;
    if (i < text.size() && text.at(i) == u'.') {
        const qsizetype fractionStart = ++i;
        while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 0x80)
            ++i;
        if (i == fractionStart)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    bool ok = false;
    const double value = text.toString().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // Up to 15 significant digits every decimal text survives the trip through a double;
    // a longer one only when it is the double's own shortest text, or writing the amount
    // back would change it.
    const qsizetype digits = i - (text.startsWith(u'-') ? 1 : 0) - (text.contains(u'.') ? 1 : 0);
    if (digits > 15 && canonical(text) != canonical(amountText(value)))
        return std::nullopt;
    return value;
}
