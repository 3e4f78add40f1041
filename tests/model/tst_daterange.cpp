// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "clock.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<NavigationItem>)

// The range each destination presets. Applying a range to the list (and a picked bound)
// is checked on the list screens, in tst_listview.
class tst_DateRange : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup()
    {
        m_env.reset();
        Clock::unpin();
    }

    void presets_data();
    void presets();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void tst_DateRange::presets_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<std::optional<NavigationItem>>("nav");
    QTest::addColumn<QString>("firstDay"); // from 00:00:00
    QTest::addColumn<QString>("lastDay"); // to 23:59:59

    using enum NavigationItem;
    const auto at = [](int y, int m, int d, int h = 10, int min = 30, int s = 0) {
        return QDateTime(QDate(y, m, d), QTime(h, min, s));
    };
    const auto row = [](const char *name, const QDateTime &now, std::optional<NavigationItem> nav,
                        const QString &first, const QString &last) {
        QTest::newRow(name) << now << nav << first << last;
    };
    const QDateTime march1 = at(2024, 3, 1);
    row("today", march1, stat_today, u"2024-03-01"_s, u"2024-03-01"_s);
    row("today, just after midnight", at(2024, 3, 1, 0, 0), stat_today, u"2024-03-01"_s,
        u"2024-03-01"_s);
    row("yesterday, leap day", march1, stat_yesterday, u"2024-02-29"_s, u"2024-02-29"_s);
    row("yesterday, last second of the day", at(2024, 3, 1, 23, 59, 59), stat_yesterday,
        u"2024-02-29"_s, u"2024-02-29"_s);
    row("yesterday on 1 January", at(2025, 1, 1), stat_yesterday, u"2024-12-31"_s, u"2024-12-31"_s);
    row("month", march1, stat_month, u"2024-03-01"_s, u"2024-03-31"_s);
    row("month, leap February", at(2024, 2, 15), stat_month, u"2024-02-01"_s, u"2024-02-29"_s);
    row("month, common February", at(2023, 2, 28, 23), stat_month, u"2023-02-01"_s,
        u"2023-02-28"_s);
    row("month, December", at(2023, 12, 31), stat_month, u"2023-12-01"_s, u"2023-12-31"_s);
    row("year", march1, stat_year, u"2024-01-01"_s, u"2024-12-31"_s);
    row("all, up to this year's end", march1, stat_all, u"1970-01-01"_s, u"2024-12-31"_s);
    // No list: a day no receipt is dated.
    row("settings destination", march1, settings_payer, u"1970-01-01"_s, u"1970-01-01"_s);
    row("entry form", march1, add, u"1970-01-01"_s, u"1970-01-01"_s);
    row("no destination", march1, std::nullopt, u"1970-01-01"_s, u"1970-01-01"_s);
}

void tst_DateRange::presets()
{
    QFETCH(QDateTime, now);
    QFETCH(std::optional<NavigationItem>, nav);
    QFETCH(QString, firstDay);
    QFETCH(QString, lastDay);
    Clock::pin(now);
    AppStore &store = AppStore::shared();
    store.setSelectionNav(nav);
    QSignalSpy beginChanged(&store, &AppStore::beginDateChanged);
    QSignalSpy endChanged(&store, &AppStore::endDateChanged);
    store.applyRangePreset();
    QCOMPARE(store.beginDate(), firstDay + u" 00:00:00"_s);
    QCOMPARE(store.endDate(), lastDay + u" 23:59:59"_s);
    QCOMPARE(beginChanged.count(), 1);
    QCOMPARE(endChanged.count(), 1);
}

QTEST_GUILESS_MAIN(tst_DateRange)
#include "tst_daterange.moc"
