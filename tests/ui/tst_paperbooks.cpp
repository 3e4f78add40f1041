// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedialogs.h"
#include "paperbookdialogs.h"
#include "paperbooks.h"
#include "receiptbook.h"
#include "receipttablemodel.h"
#include "uitesthelpers.h"

#include <QAction>
#include <QTableWidget>

using namespace Qt::StringLiterals;

// 收据本登记 and 登记废票 from the 收据 menu, as a user goes through them.
class tst_PaperBooks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m.start();
        m.openWindow();
    }
    void cleanup()
    {
        FileDialogs::setTestAnswer(std::nullopt);
        m.stop();
    }

    void aBookIsRegisteredReturnedAndReconciled();
    void aSpoiledFormSendsItsReceiptToTheNextForm();

private:
    // Runs `answer` on the dialog named `name` once it is the modal window.
    static void whenDialog(const QString &name, std::function<void(QDialog *)> answer)
    {
        whenModal<QDialog>(qApp, [name, answer](QDialog *dialog) {
            QCOMPARE(dialog->objectName(), name);
            answer(dialog);
        });
    }
    static QString row(QTableWidget *table, int row)
    {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells << table->item(row, column)->text();
        return cells.join(u'|');
    }

    WindowFixture m;
};

void tst_PaperBooks::aBookIsRegisteredReturnedAndReconciled()
{
    MessageBox::setTestAnswer(true);
    PaperBooksDialog books(m.window.get());
    books.show();
    auto *table = books.findChild<QTableWidget *>(u"paperBookTable"_s);
    auto *returnButton = books.findChild<QPushButton *>(u"returnPaperBookButton"_s);
    QCOMPARE(table->rowCount(), 0);

    // A range the wrong way round is refused in the form, which stays open to mend it.
    QString refusal;
    whenDialog(u"addPaperBookDialog"_s, [&](QDialog *form) {
        typeText(form->findChild<QLineEdit *>(u"paperBookFirst"_s), u"3"_s);
        typeText(form->findChild<QLineEdit *>(u"paperBookLast"_s), u"1"_s);
        form->findChild<QPushButton *>(u"paperBookAddButton"_s)->click();
        refusal = form->findChild<QLabel *>(u"paperBookError"_s)->text();
        typeText(form->findChild<QLineEdit *>(u"paperBookFirst"_s), u"1"_s);
        typeText(form->findChild<QLineEdit *>(u"paperBookLast"_s), u"3"_s);
        typeText(form->findChild<QLineEdit *>(u"paperBookHolder"_s), u"张三"_s);
        QCOMPARE(form->findChild<QLabel *>(u"paperBookCount"_s)->text(), u"共 3 张"_s);
        form->findChild<QPushButton *>(u"paperBookAddButton"_s)->click();
    });
    books.findChild<QPushButton *>(u"addPaperBookButton"_s)->click();
    QVERIFY2(refusal.startsWith(u"收据本的起止单号有误"_s), qPrintable(refusal));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(row(table, 0).section(u'|', 0, 2), u"默认|0000001–0000003|张三"_s);
    QCOMPARE(row(table, 0).section(u'|', 4), u"在用|0|0|0|3"_s);

    // Returned with numbers left, it is refused, naming them.
    QVERIFY(returnButton->isEnabled());
    returnButton->click();
    QVERIFY2(MessageBox::lastText().contains(u"还有 3 个单号没有着落：0000001、0000002、0000003"_s),
             qPrintable(MessageBox::lastText()));

    // Each number accounted for: issued, and two spoiled forms; then it is returned.
    QString error;
    QVERIFY2(!saveNewReceipt(u"甲"_s, 5, &error).isEmpty(), qPrintable(error));
    for (const QString &number : {u"0000002"_s, u"0000003"_s})
        QVERIFY2(ReceiptBook::shared().spoil(number, u"卡纸"_s, nullptr, &error), qPrintable(error));
    books.reload();
    QCOMPARE(row(table, 0).section(u'|', 4), u"已用完|1|0|2|0"_s);
    table->selectRow(0);
    returnButton->click();
    QVERIFY2(MessageBox::lastText().startsWith(u"缴销这本收据本？\n默认 0000001–0000003（领用人 张三）"_s),
             qPrintable(MessageBox::lastText()));
    QCOMPARE(row(table, 0).section(u'|', 4, 4), u"已缴销"_s);
    QVERIFY(!returnButton->isEnabled());

    // Its reconciliation saved as a PDF.
    FileDialogs::setTestAnswer(m.env->documentsPath() + u"/books.pdf"_s);
    whenDialog(u"paperBookReportDialog"_s, [](QDialog *dialog) {
        dialog->findChild<QPushButton *>(u"paperBookPdfButton"_s)->click();
        dialog->reject();
    });
    books.findChild<QPushButton *>(u"paperBookReportButton"_s)->click();
    QVERIFY2(MessageBox::lastText().startsWith(u"已保存"_s), qPrintable(MessageBox::lastText()));
    QVERIFY(QFileInfo::exists(m.env->documentsPath() + u"/books.pdf"_s));

    // The menu opens the same register.
    int listed = -1;
    whenDialog(u"paperBooksDialog"_s, [&](QDialog *dialog) {
        listed = dialog->findChild<QTableWidget *>(u"paperBookTable"_s)->rowCount();
        dialog->reject();
    });
    m.find<QAction>(u"paperBooksAction"_s)->trigger();
    QCOMPARE(listed, 1);
}

void tst_PaperBooks::aSpoiledFormSendsItsReceiptToTheNextForm()
{
    QString error;
    QVERIFY2(PaperBooks::add({}, 1, 10, {}, nullptr, &error), qPrintable(error));
    const QString id = saveNewReceipt(u"甲"_s, 5, &error);
    QVERIFY2(!id.isEmpty(), qPrintable(error));
    QCOMPARE(m.listedRows(u"今天收据"_s), 1);
    m.clickTableRow(0);
    QString printed;
    PrintAction::setFunction([&printed](double, double) {
        printed = AppStore::shared().receiptPrint()->receiptNo;
    });
    MessageBox::setTestAnswer(true);

    QString offered, refusal;
    whenDialog(u"spoilDialog"_s, [&](QDialog *dialog) {
        auto *number = dialog->findChild<QLineEdit *>(u"spoilNumber"_s);
        auto *record = dialog->findChild<QPushButton *>(u"spoilButton"_s);
        offered = number->text();
        // No reason yet: nothing to record.
        QVERIFY(!record->isEnabled());
        typeText(dialog->findChild<QComboBox *>(u"spoilReason"_s), u"卡纸"_s);
        // A form not reached yet is refused in the dialog.
        typeText(number, u"0000009"_s);
        record->click();
        refusal = dialog->findChild<QLabel *>(u"spoilError"_s)->text();
        typeText(number, offered);
        record->click();
    });
    m.find<QAction>(u"spoilAction"_s)->trigger();
    QCOMPARE(offered, u"0000001"_s);
    QVERIFY2(refusal.startsWith(u"No.0000009 还没有用到"_s), qPrintable(refusal));
    QVERIFY2(MessageBox::lastText().startsWith(
                 u"已登记废票 No.0000001；原收据改为 No.0000002，请在下一张收据纸上重印"_s),
             qPrintable(MessageBox::lastText()));
    // Printed again under its new number, which the list shows too.
    QCOMPARE(printed, u"0000002"_s);
    QCOMPARE(storedReceipt(id)->receiptNo, u"0000002"_s);
    QCOMPARE(m.receiptTable()->model()->index(0, ReceiptTableModel::ReceiptNoColumn).data().toString(), u"0000002"_s);
}

QTEST_MAIN(tst_PaperBooks)
#include "tst_paperbooks.moc"
