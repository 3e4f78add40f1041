// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

// The text forms of date-times kept in the database and in the list range. All are
// fixed-width and ordered year first, so comparing texts compares times. Local time,
// Gregorian calendar, whatever the user's locale.
namespace DateText {
inline constexpr QStringView dateTime = u"yyyy-MM-dd HH:mm:ss";
inline constexpr QStringView dayStart = u"yyyy-MM-dd 00:00:00";
inline constexpr QStringView dayEnd = u"yyyy-MM-dd 23:59:59";
inline constexpr QStringView date = u"yyyy-MM-dd";
} // namespace DateText

// Formats in local time; characters of the pattern that are not fields (the literal
// digits of the day-start and day-end patterns) are copied as they stand.
QString formatDateText(const QDateTime &dateTime, QStringView pattern);

// Reads a text of the given pattern as local time. A text that does not match gives an
// invalid QDateTime. The stored form "yyyy-MM-dd HH:mm:ss" is read directly, without a
// general formatter, since lists of many receipts parse two of them per row.
QDateTime parseDateText(QStringView text, QStringView pattern);

// Reads many texts of the stored form "yyyy-MM-dd HH:mm:ss" in a row, giving exactly
// what parseDateText gives. Building a local QDateTime asks the C library, which
// re-checks the zone file on every call when TZ is unset; that cost dominated long
// receipt lists. The reader asks once per calendar day: it keeps each day's local
// midnight (most receipt dates are day starts) and, for a day without an offset
// change, places other times from it. Use one reader per load, so a change of the
// system time zone is seen by the next one.
class StoredDateTimeReader
{
public:
    QDateTime read(QStringView text);

private:
    struct Day
    {
        QDateTime midnight;
        qint64 midnightMSecs = 0;
        bool uniform = false;
    };
    QHash<qint64, Day> m_days;
};
