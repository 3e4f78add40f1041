// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedialogs.h"
#include "listfooter.h"
#include "listview.h"
#include "receiptbook.h"
#include "receiptlist.h"
#include "receipttablemodel.h"
#include "searchfield.h"
#include "uitesthelpers.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDateEdit>
#include <QHeaderView>
#include <QProgressDialog>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>

using namespace Qt::StringLiterals;

// The receipt lists: ranges, table, sorting, selection and the actions on the selection.
class tst_ListView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m.start(); }
    void cleanup() { m.stop(); }

    void modelFollowsTheStore();
    void aHugeTextStaysInItsCell();
    void cellsLookAsTheStyleDrawsThem();
    void sortingReordersTheStore_data();
    void sortingReordersTheStore();
    void eachListAppliesItsOwnRange();
    void pickedDatesNarrowTheRange();
    void actionsStayWithTheirOwnList();
    void highlightAndSortSurviveASave();
    void deleteAfterConfirmation_data();
    void deleteAfterConfirmation();
    void printFromTheList();
    void voidWithAReason_data();
    void voidWithAReason();
    void searchShowsMatchingRows();
    void searchDropsHiddenRowsFromActions();
    void editOnlyOneLiveReceipt_data();
    void editOnlyOneLiveReceipt();
    void totalsLine();
    void countsAreGrouped();
    void totalsForgetASelectionNoLongerShown();
    void exportWritesWhatIsShown_data();
    void exportWritesWhatIsShown();
    void stoppedExportLeavesNoFile();
    void tabLeavesTheTableAndCtrlFSearches();
    void keysGoFromTheSearchIntoTheRows_data();
    void keysGoFromTheSearchIntoTheRows();
    void statusStaysInView();
    void columnWidthsStayPut();

private:
    QTableView *table() const { return m.receiptTable(); }
    QPushButton *button(const QString &name) const
    {
        return m.currentScreen()->findChild<QPushButton *>(name);
    }
    QStringList column(int col) const
    {
        QStringList texts;
        for (int row = 0; row < table()->model()->rowCount(); ++row)
            texts.append(table()->model()->index(row, col).data().toString());
        return texts;
    }
    void clickHeader(int section)
    {
        QHeaderView *header = table()->horizontalHeader();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                   header->height() / 2));
    }

    SearchField *searchField() const { return m.currentScreen()->findChild<SearchField *>(); }
    QString totals() const { return m.currentScreen()->findChild<ListFooter *>()->totalsText(); }
    // 0000001 甲公司 12,800.50, 0000002 乙 680, 0000003 Acme 100 (voided), on today's list.
    void openThreeReceipts()
    {
        QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText(), u"甲公司"_s, 12800.5));
        QVERIFY(m.env->storeReceipt(u"B"_s, u"0000002"_s, dayText(), u"乙"_s, 680));
        QVERIFY(m.env->storeReceipt(u"C"_s, u"0000003"_s, dayText(), u"Acme"_s, 100));
        QVERIFY(
            m.env->execRaw(u"insert into tb_void values ('C', '开错了', '2024-05-03 12:00:00')"_s));
        m.openWindow();
        m.clickRow(u"今天收据"_s);
    }

    WindowFixture m;
};

void tst_ListView::modelFollowsTheStore()
{
    m.env->createDatabase();
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000002"_s, u"2024-05-01 00:00:00"_s, u"甲"_s, 100));
    QVERIFY(m.env->storeReceipt(u"B"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s, u"乙"_s, 12.5));
    QVERIFY(m.env->execRaw(
        u"update tb_receipt set createDate = '2024-05-01 16:30:00' where id = 'A'"_s));
    ReceiptList list(ReceiptBook::shared());
    ReceiptTableModel model(list, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.setRange(u"2024-05-01 00:00:00"_s, u"2024-05-01 23:59:59"_s);
    QCOMPARE(model.rowCount(), 2);
    // Every amount with its two decimals, as the form and the history show them.
    QCOMPARE(model.index(0, ReceiptTableModel::TotalColumn).data().toString(), u"100.00"_s);
    QCOMPARE(model.index(1, ReceiptTableModel::TotalColumn).data().toString(), u"12.50"_s);
    QCOMPARE(model.index(0, ReceiptTableModel::ReceiptDateColumn).data().toString(),
             u"2024-05-01"_s);
    // The creation time as the cashier's clock said it, with no offset after it.
    QCOMPARE(model.index(0, ReceiptTableModel::CreateDateColumn).data().toString(),
             u"2024-05-01 16:30:00"_s);
    QCOMPARE(model.index(1, 0).data(ReceiptTableModel::IdRole).toString(), u"B"_s);

    list.setRange(u"2030-01-01 00:00:00"_s, u"2030-01-01 23:59:59"_s);
    QCOMPARE(model.rowCount(), 0);
    model.sort(ReceiptTableModel::PayerColumn); // sorting nothing is fine
}

// A payer of megabytes (pasted by mistake): shown by its beginning in a column of bounded
// width, so the other columns stay in sight and the list opens without measuring it all.
void tst_ListView::aHugeTextStaysInItsCell()
{
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText(), QString(1024 * 1024, u'长'), 1));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    QTableView *table = m.receiptTable();
    const QString shown
        = table->model()->index(0, ReceiptTableModel::PayerColumn).data().toString();
    QCOMPARE(shown.size(), 501);
    QVERIFY(shown.endsWith(u'…'));
    QVERIFY(table->columnWidth(ReceiptTableModel::PayerColumn) <= 400);
}

// The table lays out each text once and draws it again from that: pixel for pixel what the
// style draws, for a selected row, a voided one (struck through), an amount on the right,
// a text cut short in a narrow column and one with a line break and a tab.
void tst_ListView::cellsLookAsTheStyleDrawsThem()
{
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText(), u"甲公司"_s, 12.5));
    QVERIFY(m.env->storeReceipt(u"B"_s, u"0000002"_s, dayText(), QString(300, u'乙'), 800));
    QVERIFY(m.env->storeReceipt(u"C"_s, u"0000003"_s, dayText(), u"丙公司"_s, 3));
    QVERIFY(m.env->storeReceipt(u"D"_s, u"0000004"_s, dayText(), u"丁\n公司\t甲"_s, 4));
    QVERIFY(m.env->execRaw(u"insert into tb_void values ('C', '开错了', '2024-05-03 12:00:00')"_s));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    QTableView *table = m.receiptTable();
    table->selectRow(1);
    table->setColumnWidth(ReceiptTableModel::ReceiptNoColumn, 30);
    const QImage laidOnce = table->viewport()->grab().toImage();
    table->setItemDelegate(new QStyledItemDelegate(table));
    const QImage styled = table->viewport()->grab().toImage();
    QCOMPARE(laidOnce, styled);
}

void tst_ListView::sortingReordersTheStore_data()
{
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<QStringList>("payers");
    QTest::addColumn<QList<double>>("totals");
    QTest::addColumn<QStringList>("ascending"); // the column's cells after one click

    QTest::newRow("amount by value")
        << int(ReceiptTableModel::TotalColumn) << QStringList {u"a"_s, u"b"_s, u"c"_s, u"d"_s}
        << QList<double> {20.5, 1000, 20.25, 9.5}
        << QStringList {u"9.50"_s, u"20.25"_s, u"20.50"_s, u"1,000.00"_s};
    // zh_CN puts Chinese before Latin letters.
    QTest::newRow("payer: digits by value, case ignored")
        << int(ReceiptTableModel::PayerColumn)
        << QStringList {u"单位10"_s, u"B"_s, u"单位2"_s, u"a"_s} << QList<double> {1, 1, 1, 1}
        << QStringList {u"单位2"_s, u"单位10"_s, u"a"_s, u"B"_s};
}

void tst_ListView::sortingReordersTheStore()
{
    QFETCH(int, sortColumn);
    QFETCH(QStringList, payers);
    QFETCH(QList<double>, totals);
    QFETCH(QStringList, ascending);
    for (int i = 0; i < payers.size(); ++i) {
        QVERIFY(m.env->storeReceipt(u"R%1"_s.arg(i), u"000000%1"_s.arg(i), dayText(), payers.at(i),
                                    totals.at(i)));
    }
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    // Shown as loaded, highest number first, though the indicator says number ascending.
    QCOMPARE(column(0), (QStringList {u"0000003"_s, u"0000002"_s, u"0000001"_s, u"0000000"_s}));

    clickHeader(sortColumn);
    QCOMPARE(column(sortColumn), ascending);
    clickHeader(sortColumn);
    QStringList descending = ascending;
    std::reverse(descending.begin(), descending.end());
    QCOMPARE(column(sortColumn), descending);
}

void tst_ListView::eachListAppliesItsOwnRange()
{
    const int year = QDate::currentDate().year();
    QVERIFY(m.env->storeReceipt(u"T"_s, u"0000001"_s, dayText(), u"今天"_s));
    QVERIFY(m.env->storeReceipt(u"Y"_s, u"0000002"_s, dayText(-1), u"昨天"_s));
    QVERIFY(m.env->storeReceipt(u"O"_s, u"0000003"_s, u"2001-02-03 00:00:00"_s, u"早年"_s));
    QVERIFY(
        m.env->storeReceipt(u"F"_s, u"0000004"_s, u"%1-01-01 00:00:00"_s.arg(year + 1), u"明年"_s));
    m.openWindow();

    m.clickRow(u"今天收据"_s);
    QWidget *today = m.currentScreen();
    QCOMPARE(column(2), QStringList {u"今天"_s});

    m.clickRow(u"昨天收据"_s);
    QCOMPARE(column(2), QStringList {u"昨天"_s});

    m.clickRow(u"全部收据"_s);
    QVERIFY(m.currentScreen() != today);
    QCOMPARE(column(2), (QStringList {u"早年"_s, u"昨天"_s, u"今天"_s}));
    // Everything begins with the first receipt, in the picker and in the export's name,
    // not on 1970-01-01.
    const auto suggestedName = [this] {
        FileDialogs::setTestAnswer(QString()); // cancelled
        QTest::mouseClick(m.currentScreen()->findChild<QPushButton *>(u"exportButton"_s),
                          Qt::LeftButton);
        FileDialogs::setTestAnswer(std::nullopt);
        return QFileInfo(FileDialogs::lastSuggestion()).fileName();
    };
    QCOMPARE(m.currentScreen()->findChild<QDateEdit *>(u"beginDateEdit"_s)->date(),
             QDate(2001, 2, 3));
    QCOMPARE(m.currentScreen()->findChild<QDateEdit *>(u"endDateEdit"_s)->date(),
             QDate(year, 12, 31));
    QCOMPARE(suggestedName(), u"收据-20010203-%1.xlsx"_s.arg(year * 10000 + 1231));

    // Coming back re-applies today's range whatever the store's range is now.
    m.clickRow(u"今天收据"_s);
    QCOMPARE(m.currentScreen(), today);
    QCOMPARE(column(2), QStringList {u"今天"_s});

    // The range stays open at its start: a receipt dated earlier since is listed, and
    // everything begins with it.
    QVERIFY(m.env->storeReceipt(u"E"_s, u"0000005"_s, u"1999-12-31 00:00:00"_s, u"更早"_s));
    m.clickRow(u"全部收据"_s);
    QCOMPARE(column(2), (QStringList {u"更早"_s, u"早年"_s, u"昨天"_s, u"今天"_s}));
    QCOMPARE(m.currentScreen()->findChild<QDateEdit *>(u"beginDateEdit"_s)->date(),
             QDate(1999, 12, 31));
    QCOMPARE(suggestedName(), u"收据-19991231-%1.xlsx"_s.arg(year * 10000 + 1231));
}

void tst_ListView::pickedDatesNarrowTheRange()
{
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(m.env->storeReceipt(u"B"_s, u"0000002"_s, u"2024-05-03 00:00:00"_s));
    m.openWindow();
    m.clickRow(u"全部收据"_s);
    QCOMPARE(table()->model()->rowCount(), 2);

    auto *begin = m.currentScreen()->findChild<QDateEdit *>(u"beginDateEdit"_s);
    auto *end = m.currentScreen()->findChild<QDateEdit *>(u"endDateEdit"_s);
    begin->setDate(QDate(2024, 5, 2));
    QCOMPARE(AppStore::shared().beginDate(), u"2024-05-02 00:00:00"_s);
    QCOMPARE(column(0), QStringList {u"0000002"_s});
    end->setDate(QDate(2024, 5, 3));
    // The end keeps the preset's time of day, so the whole last day is in.
    QCOMPARE(AppStore::shared().endDate(), u"2024-05-03 23:59:59"_s);
    QCOMPARE(column(0), QStringList {u"0000002"_s});
    begin->setDate(QDate(2024, 6, 1)); // after the end: nothing, and no complaint
    QCOMPARE(table()->model()->rowCount(), 0);
}

// The buttons act on the selection of the list on screen, and on nothing else.
void tst_ListView::actionsStayWithTheirOwnList()
{
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText()));
    m.openWindow();
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"未存的"_s);
    m.clickRow(u"今天收据"_s);
    const auto enabled = [this] {
        QList<bool> states;
        for (const QString &name : {u"printButton"_s, u"editButton"_s, u"deleteButton"_s})
            states.append(button(name)->isEnabled());
        return states;
    };
    QCOMPARE(enabled(), QList<bool>(3, false));
    m.clickTableRow(0);
    QCOMPARE(enabled(), QList<bool>(3, true));
    QCOMPARE(AppStore::shared().selectedId(), u"A"_s);
    // Selecting blanks the form (and the list stays on screen).
    QCOMPARE(AppStore::shared().receiptEdit().payer, QString());
    // Yesterday's list is empty: nothing there may act on today's receipt.
    m.clickRow(u"昨天收据"_s);
    QCOMPARE(enabled(), QList<bool>(3, false));
    QCOMPARE(AppStore::shared().selection(), QSet<QString>());
    QCOMPARE(AppStore::shared().selectedId(), std::nullopt);
    MessageBox::setTestAnswer(true);
    QTest::keyClick(table(), Qt::Key_Delete);
    QCOMPARE(m.env->receiptCount(), 1);
    // Back on today's list, nothing is highlighted that the buttons would not act on.
    m.clickRow(u"今天收据"_s);
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 0);
    QVERIFY(!button(u"deleteButton"_s)->isEnabled());
}

void tst_ListView::highlightAndSortSurviveASave()
{
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText(), u"甲"_s));
    QVERIFY(m.env->storeReceipt(u"B"_s, u"0000002"_s, dayText(), u"乙"_s));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    clickHeader(ReceiptTableModel::PayerColumn);
    const QStringList sorted = column(ReceiptTableModel::PayerColumn);
    QCOMPARE(sorted, QStringList({u"甲"_s, u"乙"_s})); // loaded highest number first
    m.clickTableRow(0);
    QTest::mouseClick(button(u"editButton"_s), Qt::LeftButton);
    QTest::mouseClick(m.find<QToolButton>(u"saveButton"_s), Qt::LeftButton);
    QCOMPARE(m.currentRowText(), u"今天收据"_s);
    QCOMPARE(column(ReceiptTableModel::PayerColumn), sorted);
    // The buttons went with the blanked form, and so did the highlight.
    QVERIFY(!button(u"editButton"_s)->isEnabled());
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 0);
}

void tst_ListView::deleteAfterConfirmation_data()
{
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("删除") << true;
    QTest::newRow("取消") << false;
}

void tst_ListView::deleteAfterConfirmation()
{
    QFETCH(bool, confirmed);
    for (int i = 1; i <= 3; ++i)
        QVERIFY(m.env->storeReceipt(u"R%1"_s.arg(i), u"000000%1"_s.arg(i), dayText()));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    m.clickTableRow(0);
    m.clickTableRow(2, Qt::ControlModifier);
    QCOMPARE(AppStore::shared().selection(), (QSet<QString> {u"R3"_s, u"R1"_s}));

    MessageBox::setTestAnswer(confirmed);
    QTest::mouseClick(button(u"deleteButton"_s), Qt::LeftButton);
    QCOMPARE(MessageBox::lastText(), u"永久删除？\nNo.0000001、No.0000003，共 2 张"_s);
    const int left = m.env->receiptCount();
    if (confirmed) {
        QCOMPARE(left, 1);
        QCOMPARE(column(0), QStringList {u"0000002"_s});
        QVERIFY(!button(u"deleteButton"_s)->isEnabled());
        QVERIFY(!button(u"printButton"_s)->isEnabled());
    } else {
        QCOMPARE(left, 3);
        QCOMPARE(table()->selectionModel()->selectedRows().size(), 2);
        QCOMPARE(AppStore::shared().selection(), (QSet<QString> {u"R3"_s, u"R1"_s}));
        QVERIFY(button(u"deleteButton"_s)->isEnabled());
    }
}

void tst_ListView::printFromTheList()
{
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText(), u"甲"_s));
    QVERIFY(m.env->storeReceipt(u"B"_s, u"0000002"_s, dayText(), u"乙"_s));
    m.openWindow();
    QStringList printed;
    PrintAction::setFunction([&](double, double) {
        printed.append(AppStore::shared().receiptPrint().value_or(Receipt()).payer);
    });
    m.clickRow(u"今天收据"_s);
    m.clickTableRow(1); // 0000001, listed second
    QTest::mouseClick(button(u"printButton"_s), Qt::LeftButton);
    m.clickTableRow(0);
    QTest::mouseClick(button(u"printButton"_s), Qt::LeftButton);
    QCOMPARE(printed, (QStringList {u"甲"_s, u"乙"_s}));
    QCOMPARE(m.currentRowText(), u"今天收据"_s);

    // Two selected: one job of both after a question, declined first (the fixture's
    // answer), then accepted; the single path is not taken.
    QStringList batch;
    PrintAction::setBatchFunction([&](const QStringList &ids) {
        batch = ids;
        batch.sort();
        return true;
    });
    const auto restore = qScopeGuard([] { PrintAction::setBatchFunction({}); });
    m.clickTableRow(1, Qt::ControlModifier);
    QTest::mouseClick(button(u"printButton"_s), Qt::LeftButton);
    QCOMPARE(MessageBox::lastText(),
             u"打印所选 2 张收据？\n每张一页，按单号从小到大的顺序打印。"_s);
    QVERIFY(batch.isEmpty());
    MessageBox::setTestAnswer(true);
    QTest::mouseClick(button(u"printButton"_s), Qt::LeftButton);
    QCOMPARE(batch, (QStringList {u"A"_s, u"B"_s}));
    QCOMPARE(printed.size(), 2);
}

void tst_ListView::voidWithAReason_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("locked"); // another program holds the book
    QTest::addColumn<QString>("refusal"); // the notification's start; empty when voided
    QTest::newRow("reason given") << u"重复开具"_s << false << QString();
    QTest::newRow("only spaces") << u"  "_s << false << u"必填：作废原因"_s;
    QTest::newRow("book locked") << u"重复开具"_s << true << u"保存失败"_s;
}

void tst_ListView::voidWithAReason()
{
    QFETCH(QString, reason);
    QFETCH(bool, locked);
    QFETCH(QString, refusal);
    QVERIFY(m.env->storeReceipt(u"A"_s, u"0000001"_s, dayText(), u"甲"_s));
    QVERIFY(m.env->storeReceipt(u"B"_s, u"0000002"_s, dayText(), u"乙"_s));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    m.clickTableRow(1); // 0000001
    QCOMPARE(button(u"voidButton"_s)->text(), u"作废"_s);
    MessageBox::setTestAnswer(true);
    MessageBox::setTestReason(reason);
    {
        std::optional<HeldLock> lock;
        if (locked)
            lock.emplace(m.env->databasePath());
        QTest::mouseClick(button(u"voidButton"_s), Qt::LeftButton);
    }
    QCOMPARE(MessageBox::lastText(), u"作废所选收据？\nNo.0000001，共 1 张"_s);
    // Asked again each time: every change reloads the list.
    const auto status = [this] {
        return table()->model()->index(1, ReceiptTableModel::StatusColumn);
    };
    Toast *toast = errorToast(m.currentScreen());
    if (!refusal.isEmpty()) {
        QVERIFY(toast->isShown());
        QVERIFY2(toast->text().startsWith(refusal), qPrintable(toast->text()));
        QCOMPARE(m.env->countRaw(u"select count(*) from tb_void"_s), 0);
        QCOMPARE(status().data().toString(), QString());
        return;
    }
    // Still listed with its number, marked, and the other row untouched.
    QCOMPARE(column(0), (QStringList {u"0000002"_s, u"0000001"_s}));
    QCOMPARE(status().data().toString(), u"已作废"_s);
    QCOMPARE(table()->model()->index(1, ReceiptTableModel::PayerColumn).data(Qt::ToolTipRole),
             reason);
    QVERIFY(table()->model()->index(1, 0).data(Qt::FontRole).value<QFont>().strikeOut());
    QVERIFY(!table()->model()->index(0, 0).data(Qt::FontRole).value<QFont>().strikeOut());
    QCOMPARE(storedReceipt(u"A"_s)->voidReason, reason);

    // 修改 is not offered, and the list stays with the form untouched.
    QVERIFY(!button(u"editButton"_s)->isEnabled());
    QTest::keyClick(table(), Qt::Key_F2);
    QCOMPARE(m.currentRowText(), u"今天收据"_s);
    QVERIFY(AppStore::shared().receiptEdit().id.isEmpty());

    // With a valid receipt in the selection the button voids (offering the reason given
    // before); with only voided ones it undoes the void, after asking.
    m.clickTableRow(0, Qt::ControlModifier);
    QCOMPARE(button(u"voidButton"_s)->text(), u"作废"_s);
    MessageBox::setTestAnswer(false);
    QTest::mouseClick(button(u"voidButton"_s), Qt::LeftButton);
    QCOMPARE(MessageBox::lastOfferedReasons(), QStringList {reason});
    m.clickTableRow(1);
    QCOMPARE(button(u"voidButton"_s)->text(), u"撤销作废"_s);
    MessageBox::setTestAnswer(true);
    QTest::mouseClick(button(u"voidButton"_s), Qt::LeftButton);
    QVERIFY(MessageBox::lastText().startsWith(u"撤销作废？\nNo.0000001，共 1 张"_s));
    QCOMPARE(status().data().toString(), QString());
    QCOMPARE(storedReceipt(u"A"_s)->voidReason, std::nullopt);
    QCOMPARE(button(u"voidButton"_s)->text(), u"作废"_s);
}

// Which texts match: tst_receiptfilter.
void tst_ListView::searchShowsMatchingRows()
{
    openThreeReceipts();
    typeText(searchField(), u"乙"_s);
    QCOMPARE(column(0), QStringList {u"0000002"_s});
    // Esc brings them all back.
    QTest::keyClick(searchField(), Qt::Key_Escape);
    QCOMPARE(searchField()->text(), QString());
    QCOMPARE(column(0), (QStringList {u"0000003"_s, u"0000002"_s, u"0000001"_s}));
}

void tst_ListView::searchDropsHiddenRowsFromActions()
{
    openThreeReceipts();
    m.clickTableRow(1);
    m.clickTableRow(2, Qt::ControlModifier);
    QCOMPARE(AppStore::shared().selection(), (QSet<QString> {u"A"_s, u"B"_s}));
    typeText(searchField(), u"公司"_s);
    QCOMPARE(AppStore::shared().selection(), QSet<QString> {u"A"_s});
    QCOMPARE(AppStore::shared().selectedId(), u"A"_s);
    MessageBox::setTestAnswer(true);
    QTest::mouseClick(button(u"deleteButton"_s), Qt::LeftButton);
    QCOMPARE(m.env->queryRaw(u"select group_concat(id) from tb_receipt order by id"_s), u"B,C"_s);
    QCOMPARE(column(0), QStringList {});
    // Sorting acts on the store and keeps the search.
    typeText(searchField(), u"0"_s);
    clickHeader(ReceiptTableModel::ReceiptNoColumn);
    QCOMPARE(column(0).size(), 2);
}

void tst_ListView::totalsLine()
{
    openThreeReceipts();
    QCOMPARE(totals(), u"共 2 张  合计 ¥13,480.50  另有作废 1 张，不计入合计"_s);
    m.clickTableRow(0);
    m.clickTableRow(2, Qt::ControlModifier);
    QCOMPARE(totals(),
             u"共 2 张  合计 ¥13,480.50  另有作废 1 张，不计入合计    已选 1 张  合计 ¥12,800.50  "
             u"另有作废 1 张"_s);
    typeText(searchField(), u"甲"_s);
    QCOMPARE(totals(), u"共 1 张  合计 ¥12,800.50"_s);
}

// Counts group their digits as the amounts beside them do: 1,200, not 1200.
void tst_ListView::countsAreGrouped()
{
    QVERIFY(m.env->execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 1200) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, createDate, "
        u"isDeleted) select 'R' || i, printf('%07d', i), '%1', '甲', '事由', '10', "
        u"'2024-01-01 10:00:00', '0' from n"_s.arg(dayText())));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    QCOMPARE(totals(), u"共 1,200 张  合计 ¥12,000.00"_s);
    m.clickTableRow(0);
    QTest::keyClick(table(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(totals(), u"共 1,200 张  合计 ¥12,000.00    已选 1,200 张  合计 ¥12,000.00"_s);
    // So do the questions about them (answered 取消).
    QTest::mouseClick(button(u"printButton"_s), Qt::LeftButton);
    QVERIFY2(MessageBox::lastText().startsWith(u"打印所选 1,200 张收据？"_s),
             qPrintable(MessageBox::lastText()));
    QTest::mouseClick(button(u"deleteButton"_s), Qt::LeftButton);
    QVERIFY2(MessageBox::lastText().endsWith(u"…，共 1,200 张"_s),
             qPrintable(MessageBox::lastText()));
    QCOMPARE(m.env->receiptCount(), 1200);
}

void tst_ListView::editOnlyOneLiveReceipt_data()
{
    QTest::addColumn<QList<int>>("rows"); // clicked, the later ones with Ctrl
    QTest::addColumn<bool>("editable");
    QTest::newRow("one") << QList<int> {1} << true;
    // Opening one of the two would be a guess.
    QTest::newRow("two") << QList<int> {1, 2} << false;
    QTest::newRow("voided") << QList<int> {0} << false;
}

void tst_ListView::editOnlyOneLiveReceipt()
{
    QFETCH(QList<int>, rows);
    QFETCH(bool, editable);
    openThreeReceipts();
    for (qsizetype i = 0; i < rows.size(); ++i)
        m.clickTableRow(rows.at(i), i == 0 ? Qt::NoModifier : Qt::ControlModifier);
    QVERIFY(button(u"printButton"_s)->isEnabled());
    QCOMPARE(button(u"editButton"_s)->isEnabled(), editable);
    // F2 opens the form only when the button could.
    QTest::keyClick(table(), Qt::Key_F2);
    if (editable)
        QTRY_COMPARE(m.currentRowText(), u"开单"_s);
    QTest::qWait(50);
    QCOMPARE(m.currentRowText(), editable ? u"开单"_s : u"今天收据"_s);
}

// Two rows selected, then the form blanked (取消修改 of a half-filled receipt): the rows are
// no longer highlighted, so they are not counted either.
void tst_ListView::totalsForgetASelectionNoLongerShown()
{
    openThreeReceipts();
    m.clickTableRow(1);
    m.clickTableRow(2, Qt::ControlModifier);
    QVERIFY(totals().contains(u"已选"_s));
    m.clickRow(u"开单"_s);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"半张"_s);
    MessageBox::setTestAnswer(true);
    QTest::mouseClick(m.find<QToolButton>(u"cancelButton"_s), Qt::LeftButton);
    m.clickRow(u"今天收据"_s);
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 0);
    QCOMPARE(totals(), u"共 2 张  合计 ¥13,480.50  另有作废 1 张，不计入合计"_s);
}

// A list in its load order is read again from the book; a sorted one is written from
// the rows it holds. Either way the file has what is shown, in the order shown.
void tst_ListView::exportWritesWhatIsShown_data()
{
    QTest::addColumn<bool>("sorted");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("told");
    QTest::newRow("sorted by 交款单位")
        << true << u"0000"_s << u"已导出 2 张收据，合计 ¥13,480.50，另有作废 1 张"_s;
    QTest::newRow("in the load order, searched")
        << false << u"乙"_s << u"已导出 1 张收据，合计 ¥680.00"_s;
}

void tst_ListView::exportWritesWhatIsShown()
{
    QFETCH(bool, sorted);
    QFETCH(QString, search);
    QFETCH(QString, told);
    openThreeReceipts();
    typeText(searchField(), search);
    if (sorted)
        clickHeader(ReceiptTableModel::PayerColumn);
    const QStringList order = column(0);
    const QString folder = m.env->documentsPath() + u"/导出"_s;
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + u"/列表.csv"_s;
    FileDialogs::setTestAnswer(path);
    QTest::mouseClick(m.currentScreen()->findChild<QPushButton *>(u"exportButton"_s),
                      Qt::LeftButton);
    FileDialogs::setTestAnswer(std::nullopt);
    const QString today = QDate::currentDate().toString(u"yyyyMMdd"_s);
    QVERIFY(FileDialogs::lastSuggestion().endsWith(u"/收据-%1-%1.xlsx"_s.arg(today)));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines
        = QString::fromUtf8(file.readAll()).split(u"\r\n"_s, Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), order.size() + 2); // titles, the receipts, 合计
    for (int row = 0; row < order.size(); ++row) // in the order shown
        QVERIFY(lines.at(row + 1).startsWith(order.at(row)));
    auto *toast = m.currentScreen()->findChild<Toast *>(u"exportSuccessToast"_s);
    QCOMPARE(toast->text(), told);
    // The next suggestion starts in the folder just used.
    FileDialogs::setTestAnswer(QString());
    m.find<QAction>(u"exportListAction"_s)->trigger();
    FileDialogs::setTestAnswer(std::nullopt);
    QCOMPARE(QFileInfo(FileDialogs::lastSuggestion()).absolutePath(), folder);
}

// A long export shows its progress, with the window painting, and can be stopped: it
// leaves no file and no error. Excel's rows take long enough to be stopped among them.
void tst_ListView::stoppedExportLeavesNoFile()
{
    QVERIFY(m.env->execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 100000) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, createDate, total, isDeleted) "
        u"select 'id' || i, printf('%07d', i), '%1', '交款单位' || i, '%1', '1.00', '0' from n"_s
            .arg(dayText())));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    // So many receipts are read behind the window: the list counts them once read.
    QTRY_VERIFY_WITH_TIMEOUT(totals().startsWith(u"共 100,000 张"_s), 60000);
    const QString path = m.env->documentsPath() + u"/列表.xlsx"_s;
    const QStringList before = QDir(m.env->documentsPath()).entryList(QDir::Files | QDir::Hidden);
    bool shown = false;
    QTimer cancel;
    connect(&cancel, &QTimer::timeout, this, [&] {
        if (auto *dialog = m.currentScreen()->window()->findChild<QProgressDialog *>(
                u"exportProgressDialog"_s)) {
            shown = shown || dialog->isVisible();
            dialog->cancel();
        }
    });
    cancel.start(10);
    FileDialogs::setTestAnswer(path);
    QTest::mouseClick(m.currentScreen()->findChild<QPushButton *>(u"exportButton"_s),
                      Qt::LeftButton);
    FileDialogs::setTestAnswer(std::nullopt);
    cancel.stop();
    QVERIFY(shown);
    QCOMPARE(QDir(m.env->documentsPath()).entryList(QDir::Files | QDir::Hidden), before);
    QVERIFY2(!m.currentScreen()->findChild<Toast *>(u"exportErrorToast"_s)->isShown(),
             qPrintable(m.currentScreen()->findChild<Toast *>(u"exportErrorToast"_s)->text()));
    QVERIFY(!m.currentScreen()->findChild<Toast *>(u"exportSuccessToast"_s)->isShown());
}

// Tab leaves the table for the next control, as in 操作记录, instead of walking its
// cells; Ctrl+F goes to the search field from anywhere on the screen.
void tst_ListView::tabLeavesTheTableAndCtrlFSearches()
{
    openThreeReceipts();
    m.clickTableRow(1);
    QVERIFY(table()->hasFocus());
    QTest::keyClick(table(), Qt::Key_Tab);
    QVERIFY(!table()->hasFocus());
    table()->setFocus();
    QTest::keyClick(table(), Qt::Key_Backtab);
    QVERIFY(!table()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(searchField()->hasFocus());
}

// From the search field Tab and Down go into the rows it filters (not to 导出…); Home and
// End in the table go to the first and the last receipt, Shift extending the selection.
void tst_ListView::keysGoFromTheSearchIntoTheRows_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Tab") << int(Qt::Key_Tab);
    QTest::newRow("Down") << int(Qt::Key_Down);
}

void tst_ListView::keysGoFromTheSearchIntoTheRows()
{
    QFETCH(int, key);
    openThreeReceipts();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(searchField()->hasFocus());
    QTest::keyClick(searchField(), Qt::Key(key));
    QVERIFY2(table()->hasFocus(), QApplication::focusWidget()
                                      ? QApplication::focusWidget()->objectName().toUtf8().constData()
                                      : "nothing");
    if (key == Qt::Key_Down) {
        QCOMPARE(table()->currentIndex().row(), 0);
        QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);
    }
    m.clickTableRow(1);
    const int column = table()->currentIndex().column();
    QTest::keyClick(table(), Qt::Key_End);
    QCOMPARE(table()->currentIndex().row(), 2);
    QCOMPARE(table()->currentIndex().column(), column);
    QTest::keyClick(table(), Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(table()->currentIndex().row(), 0);
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 3);
    QTest::keyClick(table(), Qt::Key_End);
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);
}

// A voided row says so in 状态, which must be in sight at the window's usual width
// without scrolling; the export keeps its own column order.
void tst_ListView::statusStaysInView()
{
    openThreeReceipts();
    const QModelIndex status = table()->model()->index(0, ReceiptTableModel::StatusColumn);
    QCOMPARE(status.data().toString(), u"已作废"_s);
    const QRect cell = table()->visualRect(status);
    QVERIFY2(!cell.isEmpty() && table()->viewport()->rect().contains(cell),
             qPrintable(u"%1 of %2"_s.arg(cell.right()).arg(table()->viewport()->width())));
    QCOMPARE(ReceiptExport::columnTitles().indexOf(u"状态"_s),
             int(ReceiptTableModel::StatusColumn));
}

// Each column is as wide as its usual values, whatever rows it shows: a search or a jump to
// the list's end moves none of them. A name of twelve characters shows whole, and 开单日期
// takes the room of its date-time, no more.
void tst_ListView::columnWidthsStayPut()
{
    QVERIFY(m.env->execRaw(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 300) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, createDate, "
        u"isDeleted) select 'R' || i, printf('%07d', i), '%1', case when i % 10 = 0 then '乙' "
        u"else '杭州青禾文化传播有限公司第' || i || '分店' end, '场地租金', '10', "
        u"'2024-05-01 16:30:00', '0' from n"_s.arg(dayText())));
    m.openWindow();
    m.clickRow(u"今天收据"_s);
    const auto widths = [this] {
        QList<int> shown;
        for (int column = 0; column < table()->model()->columnCount(); ++column)
            shown.append(table()->columnWidth(column));
        return shown;
    };
    const QList<int> before = widths();
    const QFontMetrics metrics(table()->font());
    QCOMPARE_GT(table()->columnWidth(ReceiptTableModel::PayerColumn),
                metrics.horizontalAdvance(u"杭州青禾文化传播有限公司"_s));
    const int dateTime = metrics.horizontalAdvance(u"2024-05-01 16:30:00"_s);
    QCOMPARE_GE(table()->columnWidth(ReceiptTableModel::CreateDateColumn), dateTime);
    QCOMPARE_LT(table()->columnWidth(ReceiptTableModel::CreateDateColumn), dateTime + 40);

    typeText(searchField(), u"乙"_s);
    QCOMPARE(table()->model()->rowCount(), 30);
    QCOMPARE(widths(), before);
    typeText(searchField(), QString());
    table()->setFocus();
    QTest::keyClick(table(), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(widths(), before);
    // A column the user drags keeps its width.
    table()->setColumnWidth(ReceiptTableModel::RemarkColumn, 300);
    m.window->resize(m.window->size() + QSize(200, 0));
    QCOMPARE(table()->columnWidth(ReceiptTableModel::RemarkColumn), 300);
}

QTEST_MAIN(tst_ListView)
#include "tst_listview.moc"
