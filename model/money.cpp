// SPDX-License-Identifier: GPL-3.0-or-later
#include "money.h"

#include <charconv>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

std::optional<qint64> Money::fenFromText(QByteArrayView text)
{
    // Checked by hand: totals read this for every receipt of a list.
    qsizetype i = 0;
    const bool negative = i < text.size() && text.at(i) == '-';
    if (negative)
        ++i;
    const qsizetype wholeStart = i;
    qint64 fen = 0;
    // Past 2^53 fen the amounts no longer survive the trip through the stored double.
    constexpr qint64 limit = 9007199254740992;
    for (; i < text.size() && text.at(i) >= '0' && text.at(i) <= '9'; ++i) {
        fen = fen * 10 + (text.at(i) - '0');
        if (fen > limit / 100)
            return std::nullopt;
    }
    if (i == wholeStart)
        return std::nullopt;
    fen *= 100;
    if (i < text.size() && text.at(i) == '.') {
        const qsizetype fractionStart = ++i;
        int place = 0;
        bool roundUp = false;
        for (; i < text.size() && text.at(i) >= '0' && text.at(i) <= '9'; ++i, ++place) {
            const int digit = text.at(i) - '0';
            if (place == 0)
                fen += digit * 10;
            else if (place == 1)
                fen += digit;
            else if (place == 2)
                roundUp = digit >= 5; // half away from zero, on the decimal digits
        }
        if (i == fractionStart)
            return std::nullopt;
        if (roundUp)
            ++fen;
    }
    if (i != text.size() || fen > limit)
        return std::nullopt;
    return negative ? -fen : fen;
}

std::optional<qint64> Money::fenFromYuan(double yuan)
{
    if (!std::isfinite(yuan))
        return std::nullopt;
    // The shortest decimal text that reads back as this double is the text the amount was
    // stored or typed as: rounding that text, not the binary value, makes 2.675 2.68 on
    // the page, in the totals and in the exports alike.
    char buffer[400]; // the longest fixed text of a double
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, yuan,
                                            std::chars_format::fixed);
    if (error != std::errc())
        return std::nullopt;
    return fenFromText(QByteArrayView(buffer, end - buffer));
}

std::optional<qint64> Money::fenOf(const Receipt &receipt)
{
    if (receipt.unreadableTotal)
        return std::nullopt;
    return fenFromYuan(receipt.total);
}

namespace {

// The magnitude as unsigned: the most negative value has no positive twin.
quint64 magnitudeOf(qint64 value)
{
    return value < 0 ? quint64(0) - quint64(value) : quint64(value);
}

QString grouped(quint64 magnitude)
{
    QString digits = QString::number(magnitude);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return digits;
}

} // namespace

QString Money::format(qint64 fen, bool grouping)
{
    const quint64 magnitude = magnitudeOf(fen);
    const QString yuan = grouping ? grouped(magnitude / 100) : QString::number(magnitude / 100);
    const QString cents = QString::number(magnitude % 100).rightJustified(2, u'0');
    return (fen < 0 ? u"-"_s : QString()) + yuan + u'.' + cents;
}

QString Money::shown(double yuan)
{
    if (const std::optional<qint64> fen = fenFromYuan(yuan))
        return format(*fen);
    return QString::number(yuan);
}

QString Money::shownOf(const Receipt &receipt)
{
    if (receipt.unreadableTotal)
        return *receipt.unreadableTotal;
    return shown(receipt.total);
}

QString Money::groupedDigits(qint64 value)
{
    return (value < 0 ? u"-"_s : QString()) + grouped(magnitudeOf(value));
}
