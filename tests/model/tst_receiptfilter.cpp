// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "money.h"
#include "receiptbook.h"
#include "receiptfilter.h"
#include "receiptstatistics.h"
#include "sqlitehelper.h"
#include "storedamount.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// Search, totals and statistics: what a list finds and what it adds up to, in whole fen.
class tst_ReceiptFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void money_data();
    void money();
    void storedAmounts_data();
    void storedAmounts();
    void storedTextRoundsOnce_data();
    void storedTextRoundsOnce();
    void filter_data();
    void filter();
    void totalsInWholeFen();
    void statisticsAgreeWithTheBook_data();
    void statisticsAgreeWithTheBook();
};

void tst_ReceiptFilter::money_data()
{
    QTest::addColumn<double>("yuan");
    QTest::addColumn<QString>("grouped");
    QTest::addColumn<QString>("plain");
    QTest::newRow("grouping") << 12800.5 << u"12,800.50"_s << u"12800.50"_s;
    QTest::newRow("fen") << 0.07 << u"0.07"_s << u"0.07"_s;
    QTest::newRow("negative") << -1234567.89 << u"-1,234,567.89"_s << u"-1234567.89"_s;
    QTest::newRow("largest") << 999999999999.99 << u"999,999,999,999.99"_s << u"999999999999.99"_s;
}

void tst_ReceiptFilter::money()
{
    QFETCH(double, yuan);
    QFETCH(QString, grouped);
    QFETCH(QString, plain);
    const qint64 fen = Money::fenFromYuan(yuan).value();
    QCOMPARE(Money::format(fen), grouped);
    QCOMPARE(Money::format(fen, false), plain);
}

// What a stored total reads as: a plain decimal a double holds as written, or nothing.
void tst_ReceiptFilter::storedAmounts_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("read"); // the amount's shortest text; empty: unreadable
    QTest::newRow("16 digits") << QByteArray("1234567890123.456") << u"1234567890123.456"_s;
    QTest::newRow("17 digits, the double's own text")
        << QByteArray("0.30000000000000004") << u"0.30000000000000004"_s;
    QTest::newRow("17 digits a double does not hold") << QByteArray("1234567890123456.7")
                                                      << QString();
    QTest::newRow("a point without fraction") << QByteArray("12.") << QString();
    QTest::newRow("minus zero") << QByteArray("-0") << u"0"_s;
    QTest::newRow("minus zero with decimals") << QByteArray("-0.00") << u"0"_s;
}

void tst_ReceiptFilter::storedAmounts()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, read);
    const std::optional<double> amount = readStoredAmount(stored);
    QCOMPARE(amount ? QString::number(*amount, 'f', QLocale::FloatingPointShortest) : QString(),
             read);
    if (amount)
        QVERIFY(!std::signbit(*amount));
}

// An amount stored with more than two decimals (by an older or foreign program) is
// rounded half away from zero on its decimal text, once: the list's totals, the
// statistics and the page (tst_printview) count the same fen.
void tst_ReceiptFilter::storedTextRoundsOnce_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("2.675, below half as a double") << u"2.675"_s << u"2.68"_s;
    QTest::newRow("1.005") << u"1.005"_s << u"1.01"_s;
    QTest::newRow("negative half") << u"-2.675"_s << u"-2.68"_s;
    QTest::newRow("below half") << u"0.1249"_s << u"0.12"_s;
    QTest::newRow("a minus that rounds to nothing") << u"-0.004"_s << u"0.00"_s;
    QTest::newRow("whole") << u"12"_s << u"12.00"_s;
    QTest::newRow("largest") << u"999999999999.995"_s << u"1,000,000,000,000.00"_s;
}

void tst_ReceiptFilter::storedTextRoundsOnce()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QCOMPARE(Money::format(Money::fenFromText(stored.toLatin1()).value()), shown);

    TestEnvironment env;
    env.createDatabase();
    QVERIFY(env.storeReceipt(u"R1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s, u"甲"_s, 1));
    QVERIFY(env.execRaw(u"update tb_receipt set total = '%1'"_s.arg(stored)));
    AppStore &store = AppStore::shared();
    store.setBeginDate(u"2024-01-01 00:00:00"_s);
    store.setEndDate(u"2024-12-31 23:59:59"_s);
    store.loadReceipts();
    QCOMPARE(store.receipts().size(), 1);
    QCOMPARE(Money::format(Money::fenFromYuan(store.receipts().at(0).total).value()), shown);
    QCOMPARE(Money::format(ReceiptTotals::of(store.receipts(), {0}).fen), shown);
    const auto statistics = ReceiptStatistics::compute(
        u"2024-01-01 00:00:00"_s, u"2024-12-31 23:59:59"_s, ReceiptStatistics::Grouping::Payer);
    QVERIFY(statistics && statistics->size() == 1);
    QCOMPARE(Money::format(statistics->at(0).fen), shown);
}

void tst_ReceiptFilter::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found"); // receipt numbers
    QTest::newRow("empty: all") << QString()
                                << QStringList({u"0000680"_s, u"0000002"_s, u"0000003"_s});
    QTest::newRow("whole amount") << u"680"_s << QStringList({u"0000680"_s, u"0000002"_s});
    QTest::newRow("amount with fen") << u"680.5"_s << QStringList(u"0000003"_s);
    QTest::newRow("number") << u"0000003"_s << QStringList(u"0000003"_s);
    QTest::newRow("Chinese payer") << u"华信"_s << QStringList(u"0000002"_s);
    QTest::newRow("Latin in any case") << u"abc"_s << QStringList(u"0000003"_s);
    QTest::newRow("reason") << u"押金"_s << QStringList(u"0000003"_s);
    QTest::newRow("other explanation") << u"第二季度"_s << QStringList(u"0000002"_s);
    QTest::newRow("remark") << u"已到账"_s << QStringList(u"0000680"_s);
    QTest::newRow("payment method") << u"支付宝"_s << QStringList(u"0000003"_s);
    QTest::newRow("payee") << u"王会计"_s << QStringList(u"0000002"_s);
    QTest::newRow("nothing") << u"无此人"_s << QStringList();
}

void tst_ReceiptFilter::filter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, found);
    QList<Receipt> receipts = {listedReceipt(u"0000680"_s, u"甲"_s, 12),
                               listedReceipt(u"0000002"_s, u"北京华信"_s, 680),
                               listedReceipt(u"0000003"_s, u"ABC 公司"_s, 680.5)};
    receipts[2].reason1 = u"押金"_s;
    receipts[1].reason2 = u"2024年第二季度"_s;
    receipts[0].remark = u"银行转账已到账"_s;
    receipts[2].paytype = u"支付宝"_s;
    receipts[1].payee = u"王会计"_s;
    QStringList numbers;
    for (const int row : ReceiptFilter(text).rowsOf(receipts))
        numbers.append(receipts.at(row).receiptNo);
    QCOMPARE(numbers, found);
}

void tst_ReceiptFilter::totalsInWholeFen()
{
    QList<Receipt> receipts
        = {listedReceipt(u"1"_s, u"甲"_s, 0.1), listedReceipt(u"2"_s, u"乙"_s, 0.2),
           listedReceipt(u"3"_s, u"丙"_s, 50), listedReceipt(u"4"_s, u"丁"_s, 7)};
    receipts[2].voidReason = u"写错"_s;
    receipts[3].unreadableTotal = u"1,234.50"_s;
    const ReceiptTotals totals = ReceiptTotals::of(receipts, {0, 1, 2, 3});
    QCOMPARE(Money::format(totals.fen), u"0.30"_s);
    QCOMPARE(totals.count, 3);
    QCOMPARE(totals.voided, 1);
    QCOMPARE(totals.unreadable, 1);

    QList<Receipt> many(100000, listedReceipt(u"x"_s, u"甲"_s, 0.01));
    QList<int> all(many.size());
    std::iota(all.begin(), all.end(), 0);
    QCOMPARE(Money::format(ReceiptTotals::of(many, all).fen), u"1,000.00"_s);
}

void tst_ReceiptFilter::statisticsAgreeWithTheBook_data()
{
    QTest::addColumn<ReceiptStatistics::Grouping>("grouping");
    QTest::addColumn<QString>("key"); // the same grouping in SQL
    QTest::newRow("month") << ReceiptStatistics::Grouping::Month << u"substr(receiptDate, 1, 7)"_s;
    QTest::newRow("payer") << ReceiptStatistics::Grouping::Payer << u"payer"_s;
    QTest::newRow("paytype") << ReceiptStatistics::Grouping::Paytype << u"paytype"_s;
}

void tst_ReceiptFilter::statisticsAgreeWithTheBook()
{
    QFETCH(ReceiptStatistics::Grouping, grouping);
    QFETCH(QString, key);
    TestEnvironment env;
    env.createDatabase();
    const QStringList payers = {u"甲"_s, u"乙"_s, u"丙"_s};
    for (int i = 1; i <= 60; ++i) {
        QVERIFY(env.storeReceipt(u"R%1"_s.arg(i), u"%1"_s.arg(i, 7, 10, QChar(u'0')),
                                 u"2024-%1-15 00:00:00"_s.arg(1 + i % 3, 2, 10, QChar(u'0')),
                                 payers.at(i % 3), i * 1.25));
    }
    QVERIFY(env.execRaw(u"update tb_receipt set paytype = '现金' where id in ('R1', 'R2')"_s));
    // A voided receipt never counts.
    QVERIFY(ReceiptBook::shared().voidReceipts({u"R7"_s}, u"写错"_s));
    const auto computed
        = ReceiptStatistics::compute(u"2024-01-01 00:00:00"_s, u"2024-12-31 23:59:59"_s, grouping);
    QVERIFY(computed);
    // SQLite's own sum of the same rows, in fen, as the expected figures.
    QStringList expected;
    QStringList actual;
    const QString sql
        = u"select group_concat(k || '=' || n || '/' || f, ' ') from (select %1 as k, "
          u"count(*) as n, sum(cast(round(total * 100) as integer)) as f "
          u"from tb_receipt where id <> 'R7' group by k order by f desc, k)"_s.arg(key);
    for (const ReceiptStatistics::Row &row : *computed)
        actual.append(u"%1=%2/%3"_s.arg(row.key).arg(row.count).arg(row.fen));
    QCOMPARE(actual.join(u' '), env.queryRaw(sql));
}

QTEST_GUILESS_MAIN(tst_ReceiptFilter)
#include "tst_receiptfilter.moc"
