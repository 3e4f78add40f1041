// SPDX-License-Identifier: GPL-3.0-or-later
#include "money.h"

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

std::optional<qint64> Money::fenFromYuan(double yuan)
{
    const double fen = std::round(yuan * 100);
    // Past 2^53 a double no longer holds every whole number of fen.
    if (!std::isfinite(fen) || std::abs(fen) > 9007199254740992.0)
        return std::nullopt;
    return qint64(fen);
}

std::optional<qint64> Money::fenOf(const Receipt &receipt)
{
    if (receipt.unreadableTotal)
        return std::nullopt;
    return fenFromYuan(receipt.total);
}

QString Money::format(qint64 fen, bool grouping)
{
    const bool negative = fen < 0;
    // The magnitude as unsigned: the most negative value has no positive twin.
    const quint64 magnitude = negative ? quint64(0) - quint64(fen) : quint64(fen);
    QString yuan = QString::number(magnitude / 100);
    if (grouping) {
        for (qsizetype at = yuan.size() - 3; at > 0; at -= 3)
            yuan.insert(at, u',');
    }
    const QString cents = QString::number(magnitude % 100).rightJustified(2, u'0');
    return (negative ? u"-"_s : QString()) + yuan + u'.' + cents;
}
