// SPDX-License-Identifier: GPL-3.0-or-later
#include "datetext.h"

#include <QCalendar>
#include <QLocale>

namespace {

// Reads n ASCII digits at text[at]; -1 when any of them is not a digit.
int digits(QStringView text, qsizetype at, int n)
{
    int value = 0;
    for (int i = 0; i < n; ++i) {
        const char16_t c = text[at + i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The date and time of a "yyyy-MM-dd HH:mm:ss" text; false when it is not one.
bool readStoredFields(QStringView text, QDate *date, QTime *time)
{
    if (text.size() != 19 || text[4] != u'-' || text[7] != u'-' || text[10] != u' '
        || text[13] != u':' || text[16] != u':')
        return false;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2),
              second = digits(text, 17, 2);
    *date = QDate(year, month, day);
    *time = QTime(hour, minute, second);
    return year >= 0 && date->isValid() && time->isValid();
}

QDateTime parseStoredForm(QStringView text)
{
    QDate date;
    QTime time;
    if (!readStoredFields(text, &date, &time))
        return {};
    return QDateTime(date, time);
}

} // namespace

QString formatDateText(const QDateTime &dateTime, QStringView pattern)
{
    // QDateTime::toString always uses the Gregorian calendar and the C locale's digits.
    return dateTime.toLocalTime().toString(pattern);
}

QDateTime parseDateText(QStringView text, QStringView pattern)
{
    if (pattern == DateText::dateTime)
        return parseStoredForm(text);
    QDateTime parsed = QDateTime::fromString(text.toString(), pattern.toString());
    if (!parsed.isValid())
        return {};
    // fromString accepts what the pattern describes; insist that formatting gives the
    // same text back, so near misses ("2024-5-1") are refused like any other mismatch.
    if (parsed.toString(pattern) != text)
        return {};
    return parsed;
}

QDateTime StoredDateTimeReader::read(QStringView text)
{
    QDate date;
    QTime time;
    if (!readStoredFields(text, &date, &time))
        return {};

    auto found = m_days.find(date.toJulianDay());
    if (found == m_days.end()) {
        Day day;
        day.midnight = QDateTime(date, QTime(0, 0));
        const QDateTime lastSecond(date, QTime(23, 59, 59));
        // A day whose last second lies exactly 86,399 s after its midnight has no
        // offset change: every time of it is midnight plus its seconds.
        day.uniform = day.midnight.isValid() && lastSecond.isValid()
            && day.midnight.time() == QTime(0, 0)
            && lastSecond.toMSecsSinceEpoch() - day.midnight.toMSecsSinceEpoch() == 86399 * 1000LL;
        day.midnightMSecs = day.midnight.toMSecsSinceEpoch();
        found = m_days.insert(date.toJulianDay(), day);
    }
    const Day &day = found.value();
    if (!day.uniform)
        return QDateTime(date, time);
    if (time == QTime(0, 0))
        return day.midnight;
    return QDateTime::fromMSecsSinceEpoch(day.midnightMSecs + time.msecsSinceStartOfDay(),
                                          Qt::LocalTime);
}
