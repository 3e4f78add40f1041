// SPDX-License-Identifier: GPL-3.0-or-later
#include "datetext.h"

#include <QLocale>
#include <QTimeZone>
#include <QtTest>

using namespace Qt::StringLiterals;

// The suite runs in Asia/Shanghai (UTC+8), set by the test registration.
class tst_DateText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void format_data();
    void format();
    void roundTrip_data();
    void roundTrip();
    void nonMatchingTextIsInvalid_data();
    void nonMatchingTextIsInvalid();
};

// Fixed width, zero-padded: the stored texts compare (and sort in SQL) in time order.
void tst_DateText::format_data()
{
    QTest::addColumn<QDateTime>("dateTime");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");
    const QDateTime may5(QDate(2024, 5, 5), QTime(14, 3, 9));
    QTest::newRow("date-time") << may5 << DateText::dateTime.toString() << u"2024-05-05 14:03:09"_s;
    QTest::newRow("day start") << may5 << DateText::dayStart.toString() << u"2024-05-05 00:00:00"_s;
    QTest::newRow("day end") << may5 << DateText::dayEnd.toString() << u"2024-05-05 23:59:59"_s;
    QTest::newRow("UTC moment in local time")
        << QDateTime(QDate(2024, 5, 4), QTime(16, 0), QTimeZone::utc())
        << DateText::dayStart.toString() << u"2024-05-05 00:00:00"_s;
    QTest::newRow("no date fields") << may5 << u"1970-01-01 00:00:00"_s << u"1970-01-01 00:00:00"_s;
}

void tst_DateText::format()
{
    QFETCH(QDateTime, dateTime);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);
    QCOMPARE(formatDateText(dateTime, pattern), expected);
    // The user's locale changes neither digits nor calendar.
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    QCOMPARE(formatDateText(dateTime, pattern), expected);
    QLocale::setDefault(QLocale::c());
}

void tst_DateText::roundTrip_data()
{
    QTest::addColumn<QDateTime>("dateTime");
    QTest::addColumn<QString>("pattern");
    const QString dateTime = DateText::dateTime.toString();
    QTest::newRow("ordinary") << QDateTime(QDate(2024, 5, 5), QTime(14, 3, 9)) << dateTime;
    QTest::newRow("leap day") << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)) << dateTime;
    QTest::newRow("epoch day") << QDateTime(QDate(1970, 1, 1), QTime(0, 0)) << dateTime;
    QTest::newRow("far future") << QDateTime(QDate(2999, 4, 30), QTime(8, 0, 1)) << dateTime;
    QTest::newRow("day start") << QDateTime(QDate(2024, 4, 30), QTime(0, 0))
                               << DateText::dayStart.toString();
}

void tst_DateText::roundTrip()
{
    QFETCH(QDateTime, dateTime);
    QFETCH(QString, pattern);
    const QDateTime parsed = parseDateText(formatDateText(dateTime, pattern), pattern);
    QVERIFY(parsed.isValid());
    QCOMPARE(parsed, dateTime);
    QCOMPARE(parsed.timeSpec(), Qt::LocalTime);
    if (pattern == DateText::dateTime) { // the list reader gives exactly the same
        StoredDateTimeReader reader;
        const QString text = formatDateText(dateTime, pattern);
        QCOMPARE(reader.read(text), parsed);
        QCOMPARE(reader.read(text).timeSpec(), Qt::LocalTime);
        QCOMPARE(reader.read(text.left(11) + u"00:00:00"_s), dateTime.date().startOfDay());
    }
}

void tst_DateText::nonMatchingTextIsInvalid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    const QString dateTime = DateText::dateTime.toString();
    QTest::newRow("empty") << QString() << dateTime;
    QTest::newRow("no leading zeros") << u"2024-5-1 0:00:00"_s << dateTime;
    QTest::newRow("date only") << u"2024-05-01"_s << dateTime;
    QTest::newRow("T separator") << u"2024-05-01T10:00:00"_s << dateTime;
    QTest::newRow("leading space") << u" 2024-05-01 10:00:00"_s << dateTime;
    QTest::newRow("trailing space") << u"2024-05-01 10:00:00 "_s << dateTime;
    QTest::newRow("30 February") << u"2024-02-30 00:00:00"_s << dateTime;
    QTest::newRow("29 February, common year") << u"2023-02-29 00:00:00"_s << dateTime;
    QTest::newRow("month 13") << u"2024-13-01 00:00:00"_s << dateTime;
    QTest::newRow("hour 24") << u"2024-05-01 24:00:00"_s << dateTime;
    QTest::newRow("second 60") << u"2024-05-01 23:59:60"_s << dateTime;
    QTest::newRow("year 0") << u"0000-01-01 00:00:00"_s << dateTime;
    QTest::newRow("full-width digits") << u"２０２４-05-01 00:00:00"_s << dateTime;
    QTest::newRow("signs in fields") << u"2024-+5-01 00:00:00"_s << dateTime;
    QTest::newRow("other time for day start")
        << u"2024-05-05 10:00:00"_s << DateText::dayStart.toString();
    QTest::newRow("31 April, day end") << u"2024-04-31 23:59:59"_s << DateText::dayEnd.toString();
}

void tst_DateText::nonMatchingTextIsInvalid()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QVERIFY(!parseDateText(text, pattern).isValid());
    if (pattern == DateText::dateTime)
        QVERIFY(!StoredDateTimeReader().read(text).isValid());
}

QTEST_GUILESS_MAIN(tst_DateText)
#include "tst_datetext.moc"
