// SPDX-License-Identifier: GPL-3.0-or-later
#include "daterange.h"

#include "datetext.h"

using namespace Qt::StringLiterals;

namespace {
QString dayStart(QDate day)
{
    return formatDateText(QDateTime(day, QTime(12, 0)), DateText::dayStart);
}
QString dayEnd(QDate day)
{
    return formatDateText(QDateTime(day, QTime(12, 0)), DateText::dayEnd);
}
} // namespace

DateRange rangePreset(std::optional<NavigationItem> destination, const QDateTime &now)
{
    // Days are taken at noon so that a time-zone change at midnight cannot move them.
    const QDate today = now.toLocalTime().date();
    const QString year = QString::number(today.year());
    const QString epochStart = openRangeBegin.toString();

    if (!destination)
        return {epochStart, u"1970-01-01 23:59:59"_s};
    switch (*destination) {
    case NavigationItem::stat_today:
        return {dayStart(today), dayEnd(today)};
    case NavigationItem::stat_yesterday:
        return {dayStart(today.addDays(-1)), dayEnd(today.addDays(-1))};
    case NavigationItem::stat_month: {
        const QDate first(today.year(), today.month(), 1);
        return {dayStart(first), dayEnd(first.addMonths(1).addDays(-1))};
    }
    case NavigationItem::stat_year:
        return {year + u"-01-01 00:00:00"_s, year + u"-12-31 23:59:59"_s};
    case NavigationItem::stat_all:
        return {epochStart, year + u"-12-31 23:59:59"_s};
    default:
        return {epochStart, u"1970-01-01 23:59:59"_s};
    }
}
