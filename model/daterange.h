// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QDateTime>
#include <QString>

#include <optional>

struct DateRange
{
    QString begin;
    QString end;
    friend bool operator==(const DateRange &, const DateRange &) = default;
};

// The start of a range open at its start (everything, 全部): before any receipt a book
// holds.
inline constexpr QStringView openRangeBegin = u"1970-01-01 00:00:00";

// The list range of a sidebar destination on the day of `now`, as date-time texts:
// today, yesterday, this month, this year, or everything up to the end of this year.
// Any other destination gives the single day 1970-01-01, so its list is empty.
DateRange rangePreset(std::optional<NavigationItem> destination, const QDateTime &now);
