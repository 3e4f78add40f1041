#include "appstore.h"
#include "clock.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<NavigationItem>)

class tst_DateRange : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void presets_data();
    void presets();
    void allEndsWithThisYear();
    void setRangeBound();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void tst_DateRange::init()
{
    m_env = std::make_unique<TestEnvironment>();
}

void tst_DateRange::cleanup()
{
    m_env.reset();
    Clock::unpin();
}

void tst_DateRange::presets_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<std::optional<NavigationItem>>("nav");
    QTest::addColumn<QString>("begin");
    QTest::addColumn<QString>("end");

    using enum NavigationItem;
    const QDateTime march1(QDate(2024, 3, 1), QTime(10, 30));
    QTest::newRow("today") << march1 << std::optional(stat_today) << u"2024-03-01 00:00:00"_s
                           << u"2024-03-01 23:59:59"_s;
    QTest::newRow("today, just after midnight")
        << QDateTime(QDate(2024, 3, 1), QTime(0, 0)) << std::optional(stat_today)
        << u"2024-03-01 00:00:00"_s << u"2024-03-01 23:59:59"_s;
    QTest::newRow("yesterday, leap day") << march1 << std::optional(stat_yesterday)
                                         << u"2024-02-29 00:00:00"_s << u"2024-02-29 23:59:59"_s;
    QTest::newRow("yesterday, last second of the day")
        << QDateTime(QDate(2024, 3, 1), QTime(23, 59, 59)) << std::optional(stat_yesterday)
        << u"2024-02-29 00:00:00"_s << u"2024-02-29 23:59:59"_s;
    QTest::newRow("month") << march1 << std::optional(stat_month) << u"2024-03-01 00:00:00"_s
                           << u"2024-03-31 23:59:59"_s;
    QTest::newRow("year") << march1 << std::optional(stat_year) << u"2024-01-01 00:00:00"_s
                          << u"2024-12-31 23:59:59"_s;
    QTest::newRow("all") << march1 << std::optional(stat_all) << u"1970-01-01 00:00:00"_s
                         << u"2024-12-31 23:59:59"_s;
    QTest::newRow("yesterday on 1 January")
        << QDateTime(QDate(2025, 1, 1), QTime(8, 0)) << std::optional(stat_yesterday)
        << u"2024-12-31 00:00:00"_s << u"2024-12-31 23:59:59"_s;
    QTest::newRow("month, leap February")
        << QDateTime(QDate(2024, 2, 15), QTime(9, 0)) << std::optional(stat_month)
        << u"2024-02-01 00:00:00"_s << u"2024-02-29 23:59:59"_s;
    QTest::newRow("month, common February")
        << QDateTime(QDate(2023, 2, 28), QTime(23, 0)) << std::optional(stat_month)
        << u"2023-02-01 00:00:00"_s << u"2023-02-28 23:59:59"_s;
    QTest::newRow("month, December")
        << QDateTime(QDate(2023, 12, 31), QTime(12, 0)) << std::optional(stat_month)
        << u"2023-12-01 00:00:00"_s << u"2023-12-31 23:59:59"_s;
    QTest::newRow("settings destination") << march1 << std::optional(settings_payer)
                                          << u"1970-01-01 00:00:00"_s << u"1970-01-01 23:59:59"_s;
    QTest::newRow("entry form") << march1 << std::optional(add) << u"1970-01-01 00:00:00"_s
                                << u"1970-01-01 23:59:59"_s;
    QTest::newRow("no destination") << march1 << std::optional<NavigationItem>()
                                    << u"1970-01-01 00:00:00"_s << u"1970-01-01 23:59:59"_s;
}

void tst_DateRange::presets()
{
    QFETCH(QDateTime, now);
    QFETCH(std::optional<NavigationItem>, nav);
    QFETCH(QString, begin);
    QFETCH(QString, end);
    Clock::pin(now);
    AppStore &store = AppStore::shared();
    store.setSelectionNav(nav);
    QSignalSpy beginChanged(&store, &AppStore::beginDateChanged);
    QSignalSpy endChanged(&store, &AppStore::endDateChanged);
    store.applyRangePreset();
    QCOMPARE(store.beginDate(), begin);
    QCOMPARE(store.endDate(), end);
    QCOMPARE(beginChanged.count(), 1);
    QCOMPARE(endChanged.count(), 1);
}

void tst_DateRange::allEndsWithThisYear()
{
    m_env->createDatabase();
    QVERIFY(m_env->execRaw(receiptInsertSql(u"A"_s, u"0000001"_s, u"1999-01-01 00:00:00"_s)));
    QVERIFY(m_env->execRaw(receiptInsertSql(u"B"_s, u"0000002"_s, u"2024-12-31 00:00:00"_s)));
    QVERIFY(m_env->execRaw(receiptInsertSql(u"C"_s, u"0000003"_s, u"2025-01-01 00:00:00"_s)));
    Clock::pin(QDateTime(QDate(2024, 6, 1), QTime(12, 0)));
    AppStore &store = AppStore::shared();
    store.setSelectionNav(NavigationItem::stat_all);
    store.applyRangePreset();
    store.loadReceipts();
    QCOMPARE(store.receipts().size(), 2);
    QCOMPARE(store.receipts().first().id, u"B"_s);

    store.setSelectionNav(NavigationItem::settings_company);
    store.applyRangePreset();
    store.loadReceipts();
    QVERIFY(store.receipts().isEmpty());
}

void tst_DateRange::setRangeBound()
{
    m_env->createDatabase();
    QVERIFY(m_env->execRaw(receiptInsertSql(u"A"_s, u"0000001"_s, u"2024-05-04 00:00:00"_s)));
    QVERIFY(m_env->execRaw(receiptInsertSql(u"B"_s, u"0000002"_s, u"2024-05-05 00:00:00"_s)));
    AppStore &store = AppStore::shared();
    store.setEndDate(u"2024-05-31 23:59:59"_s);
    store.setRangeBound(AppStore::RangeBound::Begin, QDateTime(QDate(2024, 5, 5), QTime(0, 0)));
    QCOMPARE(store.beginDate(), u"2024-05-05 00:00:00"_s);
    QCOMPARE(store.receipts().size(), 1); // reloaded with the new bound
    QCOMPARE(store.receipts().first().id, u"B"_s);

    store.setRangeBound(AppStore::RangeBound::End, QDateTime(QDate(2024, 5, 4), QTime(23, 59, 59)));
    QCOMPARE(store.endDate(), u"2024-05-04 23:59:59"_s);
    QVERIFY(store.receipts().isEmpty());
}

QTEST_GUILESS_MAIN(tst_DateRange)
#include "tst_daterange.moc"
