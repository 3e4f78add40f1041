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

QDateTime parseStoredForm(QStringView text)
{
    if (text.size() != 19 || text[4] != u'-' || text[7] != u'-' || text[10] != u' '
        || text[13] != u':' || text[16] != u':')
        return {};
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (year < 0 || !date.isValid() || !time.isValid())
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
