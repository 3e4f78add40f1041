// SPDX-License-Identifier: GPL-3.0-or-later
#include "historyview.h"
#include "receiptbook.h"
#include "uitesthelpers.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QTableWidget>

using namespace Qt::StringLiterals;

// 操作记录: the window listing what was done to the receipts, its filters, and bringing
// back a deleted receipt from it.
class tst_HistoryView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m.start();
        m.openWindow();
    }
    void cleanup() { m.stop(); }

    void listsWhatWasDone_data();
    void listsWhatWasDone();
    void restoreFromTheDeleteRow_data();
    void restoreFromTheDeleteRow();

private:
    HistoryView *view() const { return m.window->findChild<HistoryView *>(); }
    // Each row as "操作 单号".
    QStringList rows() const
    {
        QStringList texts;
        QTableWidget *table = view()->table();
        for (int row = 0; row < table->rowCount(); ++row) {
            texts << table->item(row, HistoryView::ActionColumn)->text() + u' '
                    + table->item(row, HistoryView::ReceiptNoColumn)->text();
        }
        return texts;
    }
    QString cell(int row, int column) const { return view()->table()->item(row, column)->text(); }

    WindowFixture m;
};

void tst_HistoryView::listsWhatWasDone_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("fromTomorrow");
    QTest::addColumn<bool>("selectedOnly"); // 查看历史 on the list's selected receipt
    QTest::addColumn<QStringList>("listed");

    const QStringList first = {u"作废 0000001"_s, u"修改 0000001"_s, u"开单 0000001"_s};
    QTest::newRow("everything") << QString() << false << false
                                << QStringList {u"开单 0000002"_s} + first;
    QTest::newRow("by number") << u"02"_s << false << false << QStringList {u"开单 0000002"_s};
    QTest::newRow("from tomorrow") << QString() << true << false << QStringList();
    QTest::newRow("selected receipt") << QString() << false << true << first;
}

void tst_HistoryView::listsWhatWasDone()
{
    QFETCH(QString, number);
    QFETCH(bool, fromTomorrow);
    QFETCH(bool, selectedOnly);
    QFETCH(QStringList, listed);
    AppStore &store = AppStore::shared();
    const QString id = saveNewReceipt(u"甲"_s, 680);
    store.setSelectedId(id);
    QVERIFY(store.loadSelected(true));
    Receipt edit = store.receiptEdit();
    edit.payer = u"乙"_s;
    edit.total = 860;
    store.setReceiptEdit(edit);
    QVERIFY(store.updateReceipt());
    QVERIFY(ReceiptBook::shared().voidReceipts({id}, u"开错了"_s));
    QVERIFY(!saveNewReceipt(u"丙"_s, 5).isEmpty());

    m.clickRow(u"今天收据"_s);
    auto *receiptHistory = m.find<QAction>(u"receiptHistoryAction"_s);
    QVERIFY(!receiptHistory->isEnabled()); // nothing selected in the list
    if (selectedOnly) {
        m.clickTableRow(1); // 0000001
        receiptHistory->trigger();
    } else {
        m.find<QAction>(u"historyAction"_s)->trigger();
    }
    QVERIFY(view() && view()->isVisible());
    typeText(view()->findChild<QLineEdit *>(u"historySearchEdit"_s), number);
    if (fromTomorrow) {
        view()
            ->findChild<QDateEdit *>(u"historyFromEdit"_s)
            ->setDate(QDate::currentDate().addDays(1));
        view()->findChild<QCheckBox *>(u"historyFromCheck"_s)->setChecked(true);
    }
    QCOMPARE(rows(), listed);
    const int edited = int(listed.indexOf(u"修改 0000001"_s));
    if (edited >= 0) {
        QCOMPARE(cell(edited, HistoryView::DetailColumn),
                 u"交款单位 甲 → 乙；金额 680.00 → 860.00"_s);
        QCOMPARE(cell(edited, HistoryView::PayerColumn), u"乙"_s);
        QCOMPARE(cell(edited, HistoryView::TotalColumn), u"860.00"_s);
        QCOMPARE(cell(edited - 1, HistoryView::DetailColumn), u"原因：开错了"_s);
    }

    // Every control reached by Tab is named for screen readers.
    for (QWidget *widget : view()->findChildren<QWidget *>()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy())
            QVERIFY2(
                !QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty(),
                qPrintable(widget->objectName()));
    }
}

void tst_HistoryView::restoreFromTheDeleteRow_data()
{
    QTest::addColumn<bool>("numberTaken");
    QTest::newRow("number free") << false;
    QTest::newRow("number taken meanwhile") << true;
}

void tst_HistoryView::restoreFromTheDeleteRow()
{
    QFETCH(bool, numberTaken);
    AppStore &store = AppStore::shared();
    const QString id = saveNewReceipt(u"甲"_s, 12.5);
    store.setSelection({id});
    store.deleteSelected();
    if (numberTaken) {
        QVERIFY(m.env->storeReceipt(u"OTHER"_s, u"0000001"_s, dayText()));
    }
    m.find<QAction>(u"historyAction"_s)->trigger();
    QCOMPARE(rows(), (QStringList {u"删除 0000001"_s, u"开单 0000001"_s}));
    auto *restore = view()->findChild<QPushButton *>(u"restoreReceiptButton"_s);
    view()->table()->selectRow(1);
    QVERIFY(!restore->isEnabled()); // only a deleted receipt comes back
    view()->table()->selectRow(0);
    QVERIFY(restore->isEnabled());
    QTest::mouseClick(restore, Qt::LeftButton);

    const QString stored = u"select group_concat(id || ' ' || payer) from tb_receipt"_s;
    if (numberTaken) {
        Toast *toast = view()->findChild<Toast *>(u"historyErrorToast"_s);
        QVERIFY(toast->isShown());
        QCOMPARE(toast->text(), u"单号 No.0000001 已被别的收据使用，不能恢复"_s);
        QCOMPARE(m.env->queryRaw(stored), u"OTHER 甲"_s);
        QCOMPARE(rows().size(), 2);
    } else {
        Toast *toast = view()->findChild<Toast *>(u"historySuccessToast"_s);
        QVERIFY(toast->isShown());
        QCOMPARE(toast->text(), u"已恢复收据 No.0000001"_s);
        QCOMPARE(m.env->queryRaw(stored), id + u" 甲"_s);
        QCOMPARE(rows().first(), u"恢复 0000001"_s);
        QCOMPARE(cell(1, HistoryView::DetailColumn), u"已恢复"_s);
        QVERIFY(!restore->isEnabled()); // the 删除 row, still selected, is done with
    }
}

QTEST_MAIN(tst_HistoryView)
#include "tst_historyview.moc"
