// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedialogs.h"
#include "statisticschart.h"
#include "toast.h"
#include "uitesthelpers.h"

#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>

using namespace Qt::StringLiterals;

// 收据统计: reached from the sidebar without a destination of its own, it groups the
// stored receipts of the range and leaves the voided ones out.
class tst_StatisticsView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m.start(); }
    void cleanup() { m.stop(); }

    void groupsTheStoredReceipts_data();
    void groupsTheStoredReceipts();
    void aHugePayerLeavesRoomForTheBars();
    void monthsRunInOrderAndHeadersSort();
    void axisGroupsItsFigures();

private:
    WindowFixture m;
};

void tst_StatisticsView::groupsTheStoredReceipts_data()
{
    QTest::addColumn<QString>("grouping");
    QTest::addColumn<QStringList>("rows"); // key | count | total, largest total first
    QTest::addColumn<QStringList>("bars"); // key | fen, in the axis's order
    const QString month = QDate::currentDate().toString(u"yyyy-MM"_s);
    QTest::newRow("按月份") << u"按月份"_s << QStringList {month + u"|3|¥12,830.00"_s}
                            << QStringList {month + u"|1283000"_s};
    // Horizontal bars list from the bottom up: the largest is drawn on top.
    QTest::newRow("按交款单位") << u"按交款单位"_s
                                << QStringList {u"乙|1|¥12,800.00"_s, u"甲|2|¥30.00"_s}
                                << QStringList {u"甲|3000"_s, u"乙|1280000"_s};
}

void tst_StatisticsView::groupsTheStoredReceipts()
{
    QFETCH(QString, grouping);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, bars);
    const QString today = dayText();
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, today, u"甲"_s, 10));
    QVERIFY(m.env->storeReceipt(u"B"_s, u"0000002"_s, today, u"甲"_s, 20));
    QVERIFY(m.env->storeReceipt(u"C"_s, u"0000003"_s, today, u"乙"_s, 12800));
    QVERIFY(m.env->storeReceipt(u"D"_s, u"0000004"_s, today, u"丙"_s, 999));
    QVERIFY(m.env->execRaw(u"insert into tb_void values ('D', '开错了', '2024-05-03 12:00:00')"_s));
    m.openWindow();
    m.clickRow(u"收据统计"_s);
    QCOMPARE(AppStore::shared().selectionNav(), std::nullopt); // the form is not on screen
    auto *table = m.find<QTableWidget>(u"statisticsTable"_s);
    QVERIFY(table->isVisible());
    pick(m.find<QComboBox>(u"groupingBox"_s), grouping);
    QStringList shown;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int col = 0; col < 3; ++col)
            cells << table->item(row, col)->text();
        shown << cells.join(u'|');
    }
    QCOMPARE(shown, rows);
    QCOMPARE(m.find<StatisticsChart>(u"statisticsChart"_s)->bars(), bars);
    // The voided receipt is named apart from the count, which counts what the sum adds.
    QCOMPARE(m.find<QLabel>(u"statisticsTotalsLabel"_s)->text(),
             u"共 %1 组  3 张  合计 ¥12,830.00  另有作废 1 张，不计入合计"_s.arg(rows.size()));

    // 导出… writes the table as shown.
    const QString target = QDir(m.env->documentsPath()).filePath(u"统计"_s);
    FileDialogs::setTestAnswer(target);
    QTest::mouseClick(m.find<QPushButton>(u"statisticsExportButton"_s), Qt::LeftButton);
    FileDialogs::setTestAnswer(std::nullopt);
    QFile written(target + u".xlsx"_s);
    QVERIFY(written.exists() && written.size() > 0);
    QCOMPARE(m.currentScreen()->findChild<Toast *>(u"statisticsExportSuccessToast"_s)->text(),
             u"已导出 %1 组统计"_s.arg(rows.size()));

    // 全部 finds the same receipts, dated this year.
    QTest::mouseClick(m.find<QPushButton>(u"allPresetButton"_s), Qt::LeftButton);
    QCOMPARE(table->rowCount(), rows.size());
    // Another screen switching the window leaves the statistics.
    AppStore::shared().setSelectionNav(NavigationItem::add);
    QCOMPARE(m.currentRowText(), u"开单"_s);
}

// A payer of megabytes (pasted by mistake) is cut short in the table, whose first column
// stays narrow enough for the bars beside it; the bars' axis cuts it shorter still.
void tst_StatisticsView::aHugePayerLeavesRoomForTheBars()
{
    const QString today = QDate::currentDate().toString(u"yyyy-MM-dd 00:00:00"_s);
    const QString huge(1024 * 1024, u'长');
    QVERIFY(m.env->execRaw(receiptInsertSql(u"A"_s, u"0000001"_s, today, huge, 10)));
    m.openWindow();
    m.clickRow(u"收据统计"_s);
    pick(m.find<QComboBox>(u"groupingBox"_s), u"按交款单位"_s);
    auto *table = m.find<QTableWidget>(u"statisticsTable"_s);
    QCOMPARE(table->item(0, 0)->text().size(), 80);
    QVERIFY(table->columnWidth(0) <= 360);
    QVERIFY(m.find<StatisticsChart>(u"statisticsChart"_s)->isVisible());
}

// By month the table runs as the bars do, in calendar order (it was by total); a header
// click sorts by the value, not by its text ("¥1,000.00" after "¥500.00"). Tab leaves
// the table rather than walking its cells.
void tst_StatisticsView::monthsRunInOrderAndHeadersSort()
{
    const int year = QDate::currentDate().year() - 1;
    const double totals[] = {500, 10, 1000};
    for (int month = 1; month <= 3; ++month) {
        QVERIFY(m.env->storeReceipt(u"R%1"_s.arg(month), u"000000%1"_s.arg(month),
                                    QDate(year, month, 5).toString(u"yyyy-MM-dd 00:00:00"_s),
                                    u"甲"_s, totals[month - 1]));
    }
    m.openWindow();
    m.clickRow(u"收据统计"_s);
    QTest::mouseClick(m.find<QPushButton>(u"allPresetButton"_s), Qt::LeftButton);
    auto *table = m.find<QTableWidget>(u"statisticsTable"_s);
    const auto column = [table](int col) {
        QStringList texts;
        for (int row = 0; row < table->rowCount(); ++row)
            texts << table->item(row, col)->text();
        return texts;
    };
    const QString y = QString::number(year);
    QCOMPARE(column(0), (QStringList {y + u"-01"_s, y + u"-02"_s, y + u"-03"_s}));
    QCOMPARE(m.find<StatisticsChart>(u"statisticsChart"_s)->bars().first(), y + u"-01|50000"_s);

    QHeaderView *header = table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(2) + header->sectionSize(2) / 2,
                             header->height() / 2));
    QStringList byTotal = {u"¥10.00"_s, u"¥500.00"_s, u"¥1,000.00"_s};
    if (header->sortIndicatorOrder() == Qt::DescendingOrder)
        std::reverse(byTotal.begin(), byTotal.end());
    QCOMPARE(column(2), byTotal);

    table->setFocus();
    QTest::keyClick(table, Qt::Key_Tab);
    QVERIFY(!table->hasFocus());
}

// The amounts' axis groups its figures in threes, as the table beside it does:
// 40,000,000 rather than 40000000.
void tst_StatisticsView::axisGroupsItsFigures()
{
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText(), u"甲"_s, 38000000));
    m.openWindow();
    m.clickRow(u"收据统计"_s);
    auto *chart = m.find<StatisticsChart>(u"statisticsChart"_s);
    const auto labels = [chart] {
        QStringList texts;
        for (QGraphicsItem *item : chart->scene()->items()) {
            if (auto *text = dynamic_cast<QGraphicsTextItem *>(item); text && text->isVisible())
                texts << text->toPlainText();
        }
        return texts;
    };
    QTRY_VERIFY(labels().contains(u"40,000,000"_s));
    static const QRegularExpression ungrouped(u"\\d{4}"_s);
    for (const QString &label : labels())
        QVERIFY2(!label.contains(ungrouped), qPrintable(label));
}

QTEST_MAIN(tst_StatisticsView)
#include "tst_statisticsview.moc"
