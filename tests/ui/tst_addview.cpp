// SPDX-License-Identifier: GPL-3.0-or-later
#include "addview.h"
#include "appstore.h"
#include "combobox.h"
#include "companystore.h"
#include "editconflictbar.h"
#include "fittedlabel.h"
#include "lookupstores.h"
#include "receiptbook.h"
#include "receiptnostore.h"
#include "messagebox.h"
#include "paperbooks.h"
#include "seriesstore.h"
#include "receiptprinter.h"
#include "toast.h"
#include "uitesthelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QDateEdit>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {
// How often the widgets it watches are shown.
class ShowCount : public QObject
{
public:
    int shows = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        shows += event->type() == QEvent::Show;
        return false;
    }
};
} // namespace

// The entry form in the window: what it shows, what it stores and where it goes next.
class tst_AddView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m.start();
        QVERIFY(m.env->execRaw(u"insert into tb_account (id, userName) values "
                               u"('U1', '张三'), ('U2', '李四');"_s));
        m.openWindow();
    }
    void cleanup() { m.stop(); }

    void validation_data();
    void validation();
    void addStaysOnTheFormAndSaysWhatItSaved_data();
    void addStaysOnTheFormAndSaysWhatItSaved();
    void addAndPrintWritesTheStoredReceipt();
    void roundButtonsShowTheFocus();
    void previewShowsTheFormAndPrintsItStored_data();
    void previewShowsTheFormAndPrintsItStored();
    void editThenCancelOrSave();
    void discardQuestionKeepsItsLinesWhole();
    void halfFilledReceiptComesBack();
    void capitalsFollowTyping_data();
    void capitalsFollowTyping();
    void amountRefusesWhatIsNotANumberOrTooLarge();
    void rememberedChoicesSurviveARestart();
    void failedSavesKeepTheForm();
    void longTitleGivesWayToTheNumber();
    void addAndPrintShowsThePrinterWithPaperInBlue();
    void numberTakenElsewhereIsMarkedUntilSaved();
    void refusedSaveStaysOnABarWithTheWaysOn_data();
    void refusedSaveStaysOnABarWithTheWaysOn();
    void voidedElsewhereIsToldWhereTheCashierTypes();
    void typedTextsAreOfferedOnTheNextReceipt();
    void emptyUserPickerLeadsToTheUserList();
    void keyboardGoesWhereTheWorkIs();
    void seriesAndPaperBooksOnTheForm();

private:
    void fill(const QString &payer, const QString &reason, const QString &amount)
    {
        if (!payer.isEmpty())
            typeText(m.find<QComboBox>(u"payerComboBox"_s), payer);
        if (!reason.isEmpty())
            typeText(m.find<QComboBox>(u"reason1ComboBox"_s), reason);
        if (!amount.isEmpty())
            typeText(m.find<QLineEdit>(u"totalLineEdit"_s), amount);
    }
    void click(const QString &button)
    {
        QTest::mouseClick(m.find<QToolButton>(button), Qt::LeftButton);
    }
    // What a control shows, whatever its kind.
    QString shown(const QString &name) const
    {
        if (auto *comboBox = m.window->findChild<QComboBox *>(name))
            return comboBox->currentText();
        if (auto *lineEdit = m.window->findChild<QLineEdit *>(name))
            return lineEdit->text();
        return m.find<QLabel>(name)->text();
    }
    bool isNewReceiptMode() const
    {
        return m.find<QToolButton>(u"addButton"_s)->isVisible()
            && !m.find<QToolButton>(u"saveButton"_s)->isVisible();
    }
    // Stores a receipt dated today and opens it with the 修改 of the list `list`.
    void editStored(const QString &payer, const QString &list = u"今天收据"_s)
    {
        QVERIFY(m.env->storeReceipt(u"R1"_s, u"0000007"_s, dayText(), payer, 50));
        m.clickRow(list);
        m.clickTableRow(0);
        QTest::mouseClick(m.currentScreen()->findChild<QPushButton *>(u"editButton"_s),
                          Qt::LeftButton);
        QCOMPARE(m.currentRowText(), u"开单"_s);
    }
    Toast *toast() const { return errorToast(m.find<AddView>(u"addView"_s)); }
    bool payerHasFocus() const
    {
        auto *payer = m.find<QWidget>(u"payerComboBox"_s);
        return payer->hasFocus() || payer->isAncestorOf(QApplication::focusWidget());
    }
    EditConflictBar *bar() const { return m.find<EditConflictBar>(u"editConflictBar"_s); }
    // Ctrl+S from wherever the focus is.
    void save() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier); }
    QString focusName() const
    {
        const QWidget *focus = QApplication::focusWidget();
        return focus ? focus->objectName() : QString();
    }
    QString stored(const QString &column) const
    {
        return m.env->queryRaw(u"select "_s + column + u" from tb_receipt"_s);
    }

    WindowFixture m;
};

void tst_AddView::validation_data()
{
    QTest::addColumn<QString>("payer");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("amount");
    QTest::addColumn<QString>("message"); // empty: stored
    QTest::addColumn<QString>("atFault"); // the field that gets the focus back

    const QString payerField = u"payerComboBox"_s;
    const QString reasonField = u"reason1ComboBox"_s;
    const QString amountField = u"totalLineEdit"_s;
    QTest::newRow("nothing") << QString() << QString() << QString() << u"必填：交款单位"_s
                             << payerField;
    QTest::newRow("no payer") << QString() << u"房租"_s << u"5"_s << u"必填：交款单位"_s
                              << payerField;
    QTest::newRow("no reason") << u"甲公司"_s << QString() << u"5"_s << u"必填：收款事由"_s
                               << reasonField;
    QTest::newRow("no amount") << u"甲公司"_s << u"房租"_s << QString() << u"必填：金额"_s
                               << amountField;
    QTest::newRow("amount 0.00") << u"甲公司"_s << u"房租"_s << u"0.00"_s << u"必填：金额"_s
                                 << amountField;
    QTest::newRow("spaces are text") << u" "_s << u" "_s << u"1"_s << QString() << QString();
    QTest::newRow("negative amount")
        << u"甲公司"_s << u"退款"_s << u"-5"_s << QString() << QString();
}

void tst_AddView::validation()
{
    QFETCH(QString, payer);
    QFETCH(QString, reason);
    QFETCH(QString, amount);
    QFETCH(QString, message);
    QFETCH(QString, atFault);

    fill(payer, reason, amount);
    click(u"addButton"_s);
    if (message.isEmpty()) {
        QVERIFY(!toast()->isShown());
        QCOMPARE(stored(u"total"_s).toDouble(), amount.toDouble());
        return;
    }
    QVERIFY(toast()->isShown());
    QCOMPARE(toast()->text(), message);
    QCOMPARE(m.env->receiptCount(), 0);
    QCOMPARE(shown(u"payerComboBox"_s), payer); // typed text stays to be completed
    QCOMPARE(m.currentRowText(), u"开单"_s);
    // Once the message has gone, typing goes into the field at fault.
    toast()->close();
    QWidget *field = m.find<QWidget>(atFault);
    QVERIFY(field->isAncestorOf(QApplication::focusWidget()) || field->hasFocus());
    if (QTest::currentDataTag() == QByteArrayView("nothing")) { // and it goes by itself
        click(u"addButton"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!toast()->isShown(), 20000);
    }
}

void tst_AddView::addStaysOnTheFormAndSaysWhatItSaved_data()
{
    QTest::addColumn<int>("daysFromToday"); // of the receipt date picked
    QTest::addColumn<QString>("saved"); // what the form says afterwards
    QTest::newRow("today") << 0 << u"已保存 No.0000001"_s;
    QTest::newRow("yesterday") << -1
                               << u"已保存 No.0000001（收款日期 %1）"_s.arg(dayText(-1).left(10));
}

// The form stays for the next receipt with the cursor in 交款单位 (it used to switch to
// today's list, which does not show a receipt of another day, and left the cursor in
// the list's date field). A date other than today is kept, and marked.
void tst_AddView::addStaysOnTheFormAndSaysWhatItSaved()
{
    QFETCH(int, daysFromToday);
    QFETCH(QString, saved);
    // At start the cursor is in 交款单位, and the blank form reads as it will after a save.
    QVERIFY(payerHasFocus());
    QCOMPARE(shown(u"totalLineEdit"_s), u"0.00"_s);
    QCOMPARE(shown(u"totalBigLineEdit"_s), u"零元整"_s);
    auto *dateEdit = m.find<QDateEdit>(u"receiptDateEdit"_s);
    auto *dateNote = m.find<QLabel>(u"dateNoteLabel"_s);
    QVERIFY(dateNote->isHidden());
    dateEdit->setDate(QDate::currentDate().addDays(daysFromToday));
    QCOMPARE(dateNote->isVisible(), daysFromToday != 0);
    pick(m.find<QComboBox>(u"paytypeComboBox"_s), u"微信"_s);
    pick(m.find<QComboBox>(u"payeeComboBox"_s), u"李四"_s);
    typeText(m.find<QComboBox>(u"remarkComboBox"_s), u"它's \"引号\"'); --"_s);
    fill(u"甲公司"_s, u"房租"_s, u"123.45"_s);
    // The form shows where the save ends, once: its buttons are not swapped for 修改's
    // and back on the way (the receipt has its id for a moment), which laid the whole
    // form out and painted it again.
    ShowCount buttons;
    for (const QString &name : {u"saveButton"_s, u"addButton"_s})
        m.find<QToolButton>(name)->installEventFilter(&buttons);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
    QTRY_COMPARE(shown(u"savedLabel"_s), saved);
    QCOMPARE(buttons.shows, 0);
    QCOMPARE(m.currentRowText(), u"开单"_s);
    QVERIFY(payerHasFocus());
    QCOMPARE(stored(u"receiptNo || '|' || totalBig || '|' || paytype || '|' || payee"_s),
             u"0000001|壹佰贰拾叁元肆角伍分|微信|李四"_s);
    QCOMPARE(stored(u"remark"_s), u"它's \"引号\"'); --"_s);
    QCOMPARE(stored(u"length(id) = 36 and id = upper(id)"_s), u"1"_s);
    QCOMPARE(stored(u"substr(receiptDate, 1, 10)"_s), dayText(daysFromToday).left(10));
    // Typing goes on in 交款单位, and the list's range is left alone.
    QTest::keyClicks(QApplication::focusWidget(), u"abc"_s);
    QCOMPARE(shown(u"payerComboBox"_s), u"abc"_s);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), QString());

    // The next receipt: the next number, a blank receipt, the same date (marked when it is
    // not today) and the same choices.
    QCOMPARE(dateEdit->date(), QDate::currentDate().addDays(daysFromToday));
    QCOMPARE(dateNote->isVisible(), daysFromToday != 0);
    QCOMPARE(shown(u"receiptNoLabel"_s), u"0000002"_s);
    QCOMPARE(shown(u"payerComboBox"_s), QString());
    QCOMPARE(shown(u"remarkComboBox"_s), QString());
    QCOMPARE(shown(u"totalLineEdit"_s), u"0.00"_s);
    QCOMPARE(shown(u"totalBigLineEdit"_s), u"零元整"_s);
    QCOMPARE(shown(u"paytypeComboBox"_s), u"微信"_s);
    QCOMPARE(shown(u"payeeComboBox"_s), u"李四"_s);
    QVERIFY(isNewReceiptMode());
    m.clickRow(daysFromToday == 0 ? u"今天收据"_s : u"昨天收据"_s);
    QCOMPARE(m.receiptTable()->model()->index(0, 2).data().toString(), u"甲公司"_s);
}

// Another desk took the number the form showed: the form shows the next one, marked, and
// says so, until the receipt is saved under it.
void tst_AddView::numberTakenElsewhereIsMarkedUntilSaved()
{
    auto *number = m.find<QLabel>(u"receiptNoLabel"_s);
    QCOMPARE(number->text(), u"0000001"_s);
    QVERIFY(!number->property("moved").toBool());
    // As the store tells it once it moved the form past a number another desk stored.
    QVERIFY(m.env->storeReceipt(u"R1"_s, u"0000001"_s, dayText()));
    ReceiptNoStore::shared().nextReceiptNo();
    Q_EMIT AppStore::shared().shownNumberTaken(u"0000001"_s, u"0000002"_s);
    QCOMPARE(number->text(), u"0000002"_s);
    QVERIFY(number->property("moved").toBool());
    auto *notice = m.find<AddView>(u"addView"_s)->findChild<Toast *>(u"noticeToast"_s);
    QVERIFY(notice->isShown());
    QCOMPARE(notice->text(), u"No.0000001 已被其他电脑使用，这张收据改为 No.0000002"_s);
    fill(u"甲公司"_s, u"房租"_s, u"5"_s);
    QVERIFY(number->property("moved").toBool());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
    QTRY_COMPARE(shown(u"savedLabel"_s), u"已保存 No.0000002"_s);
    QCOMPARE(number->text(), u"0000003"_s);
    QVERIFY(!number->property("moved").toBool());
}

// The add-and-print button shows a printer with paper, in the blue of the add button.
void tst_AddView::addAndPrintShowsThePrinterWithPaperInBlue()
{
    // Left of the middle: the printer's body, and the add button's circle beside its plus.
    const auto ink = [this](const QString &button) {
        const QImage icon = m.find<QToolButton>(button)->icon().pixmap(32, 32).toImage();
        return QColor::fromRgba(icon.pixel(5, 16)).name(QColor::HexArgb);
    };
    QCOMPARE(m.find<QToolButton>(u"addPrintButton"_s)->property("iconName").toString(),
             u"printer.filled.and.paper"_s);
    QCOMPARE(ink(u"addPrintButton"_s), u"#ff1a73e8"_s);
    QCOMPARE(ink(u"addButton"_s), u"#ff1a73e8"_s);
}

void tst_AddView::addAndPrintWritesTheStoredReceipt()
{
    const QString pdf = m.env->documentsPath() + u"/receipt.pdf"_s;
    QString printedPayer;
    PrintAction::setFunction([&](double width, double height) {
        printedPayer = AppStore::shared().receiptPrint().value_or(Receipt()).payer;
        QCOMPARE(QSizeF(width, height), QSizeF(683.1496062992127, 263.6220472440945));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        QVERIFY(ReceiptPrinter::printCurrentReceipt(printer));
    });
    fill(u"乙单位"_s, u"押金"_s, u"88"_s);
    click(u"addPrintButton"_s);

    QCOMPARE(printedPayer, u"乙单位"_s);
    QVERIFY(QFileInfo(pdf).size() > 0);
    QCOMPARE(m.env->receiptCount(), 1);
    // The form stays, blanked for the next receipt.
    QCOMPARE(shown(u"payerComboBox"_s), QString());
    QCOMPARE(shown(u"receiptNoLabel"_s), u"0000002"_s);
    QCOMPARE(shown(u"savedLabel"_s), u"已保存 No.0000001"_s);
    QVERIFY(payerHasFocus());

    // The print dialog cancelled: the receipt is saved all the same, and the form says so.
    PrintAction::setFunctionWithOutcome([](double, double) { return false; });
    fill(u"丙单位"_s, u"押金"_s, u"9"_s);
    click(u"addPrintButton"_s);
    QCOMPARE(m.env->receiptCount(), 2);
    auto *notice = m.find<AddView>(u"addView"_s)->findChild<Toast *>(u"noticeToast"_s);
    QVERIFY(notice->isShown());
    QCOMPARE(notice->text(), u"已保存 No.0000002，未打印"_s);
    notice->close();
    QVERIFY(payerHasFocus());
}

// The round buttons draw no frame of their own: with the focus on one it must look
// different, or Tab seems to go nowhere.
void tst_AddView::roundButtonsShowTheFocus()
{
    auto *button = m.find<QToolButton>(u"addButton"_s);
    const QImage before = button->grab().toImage();
    button->setFocus(Qt::TabFocusReason);
    QVERIFY(button->hasFocus());
    QVERIFY(button->grab().toImage() != before);
}

void tst_AddView::previewShowsTheFormAndPrintsItStored_data()
{
    QTest::addColumn<bool>("edit"); // a stored receipt on the form, changed
    QTest::addColumn<bool>("print"); // 打印 in the preview, else 关闭
    QTest::newRow("new receipt, 打印") << false << true;
    QTest::newRow("new receipt, 关闭") << false << false;
    QTest::newRow("stored receipt, 打印") << true << true;
    QTest::newRow("stored receipt, 关闭") << true << false;
}

void tst_AddView::previewShowsTheFormAndPrintsItStored()
{
    QFETCH(bool, edit);
    QFETCH(bool, print);
    if (edit)
        editStored(u"丙"_s);
    fill(u"乙单位"_s, u"押金"_s, u"88"_s);
    const QString number = shown(u"receiptNoLabel"_s);
    QString printed;
    PrintAction::setFunction([&](double, double) {
        printed = AppStore::shared().receiptPrint().value_or(Receipt()).payer;
    });
    int pages = -1;
    QString title;
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, timer, [&, timer] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->deleteLater();
        pages = dialog->findChild<QPrintPreviewWidget *>()->pageCount();
        title = dialog->windowTitle();
        print ? dialog->findChild<QPushButton *>(u"previewPrintButton"_s)->click()
              : dialog->reject();
    });
    timer->start(20);
    // The form's own shortcut, from one of its fields.
    m.find<QComboBox>(u"payerComboBox"_s)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P,
                    Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(pages, 1);
    // The form as typed, under its number, before it is saved.
    QVERIFY2(title.contains(number), qPrintable(title));
    QCOMPARE(printed, print ? u"乙单位"_s : QString());
    QCOMPARE(stored(u"payer"_s), print ? u"乙单位"_s : edit ? u"丙"_s : u"<none>"_s);
    QCOMPARE(m.env->receiptCount(), edit || print ? 1 : 0);
    // Printed, the form is done with; closed, it stays as it was for more typing.
    QCOMPARE(shown(u"payerComboBox"_s), print ? QString() : u"乙单位"_s);
}

// The question before an edit is thrown away reads in whole lines: its explanation is not
// broken to the width of the short question above it ("内/容").
void tst_AddView::discardQuestionKeepsItsLinesWhole()
{
    editStored(u"丙"_s);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"丁"_s);
    MessageBox::setTestAnswer(std::nullopt); // the real dialog
    QString said;
    QStringList broken {u"no question asked"_s};
    whenModal<QMessageBox>(this, [&](QMessageBox *box) {
        said = box->text();
        broken = brokenLabelLines(box);
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == u"继续编辑"_s)
                button->click();
        }
    });
    click(u"cancelButton"_s);
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(u'|')));
    QVERIFY2(said.contains(u"放弃未保存的修改？"_s)
                 && said.contains(u"收据上填写或修改的内容将会丢失。"_s),
             qPrintable(said));
    QVERIFY(!isNewReceiptMode());
    QCOMPARE(shown(u"payerComboBox"_s), u"丁"_s);
}

void tst_AddView::editThenCancelOrSave()
{
    editStored(u"丙"_s, u"全部收据"_s);
    QVERIFY(!isNewReceiptMode());
    QVERIFY(payerHasFocus());
    QCOMPARE(shown(u"receiptNoLabel"_s), u"0000007"_s);
    QCOMPARE(shown(u"payerComboBox"_s), u"丙"_s);
    // The stored capitals stay until the amount is changed on the form.
    QCOMPARE(shown(u"totalBigLineEdit"_s), u"壹元整"_s);

    // Unchanged, 取消修改 (or Esc) goes at once; changed, it asks first.
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"丁"_s);
    click(u"cancelButton"_s); // answered 继续编辑
    QVERIFY(MessageBox::lastText().startsWith(u"放弃未保存的修改？"_s));
    QVERIFY(!isNewReceiptMode());
    QCOMPARE(shown(u"payerComboBox"_s), u"丁"_s);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"丙"_s);
    MessageBox::setTestAnswer(false);
    click(u"cancelButton"_s);
    QCOMPARE(MessageBox::lastText(), QString());
    QCOMPARE(stored(u"payer"_s), u"丙"_s);
    // Back to the list the edit came from, with nothing selected or counted.
    QCOMPARE(m.currentRowText(), u"全部收据"_s);
    QVERIFY(m.receiptTable()->hasFocus());
    QVERIFY(m.receiptTable()->selectionModel()->selectedRows().isEmpty());
    QVERIFY(!m.currentScreen()->findChild<QPushButton *>(u"editButton"_s)->isEnabled());
    m.clickRow(u"开单"_s);
    QVERIFY(isNewReceiptMode());
    QCOMPARE(shown(u"payerComboBox"_s), QString());

    // Again, and this time save.
    QVERIFY(m.env->execRaw(u"delete from tb_receipt;"_s));
    editStored(u"丙"_s);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"丁"_s);
    typeText(m.find<QLineEdit>(u"totalLineEdit"_s), u"60.5"_s);
    click(u"saveButton"_s);
    QCOMPARE(m.currentRowText(), u"今天收据"_s);
    QCOMPARE(stored(u"payer || '|' || total || '|' || totalBig"_s), u"丁|60.5|陆拾元伍角整"_s);
    QCOMPARE(m.env->receiptCount(), 1);

    // Changed by another program while open: its save is refused, the typing kept.
    m.clickTableRow(0);
    QTest::mouseClick(m.currentScreen()->findChild<QPushButton *>(u"editButton"_s), Qt::LeftButton);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"戊"_s);
    QVERIFY(m.env->execRaw(u"update tb_receipt set remark = '别处写的'"_s));
    click(u"saveButton"_s);
    QVERIFY(!toast()->isShown());
    QVERIFY(m.find<EditConflictBar>(u"editConflictBar"_s)->isVisible());
    QVERIFY(m.find<EditConflictBar>(u"editConflictBar"_s)
                ->text()
                .startsWith(u"该收据已在其他电脑上修改：备注信息改为「别处写的」"_s));
    QCOMPARE(shown(u"payerComboBox"_s), u"戊"_s);
    QCOMPARE(stored(u"payer || remark"_s), u"丁别处写的"_s);
}

void tst_AddView::halfFilledReceiptComesBack()
{
    QVERIFY(m.env->storeReceipt(u"R1"_s, u"0000007"_s, dayText(), u"甲"_s));
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"半张"_s);
    typeText(m.find<QLineEdit>(u"totalLineEdit"_s), u"12.5"_s);
    // A row selected in a list blanks the form for the next receipt...
    m.clickRow(u"今天收据"_s);
    m.clickTableRow(0);
    QCOMPARE(AppStore::shared().receiptEdit().payer, QString());
    // ...and the typing comes back on the form, under the form's current number.
    m.clickRow(u"开单"_s);
    QCOMPARE(shown(u"payerComboBox"_s), u"半张"_s);
    QCOMPARE(AppStore::shared().receiptEdit().total, 12.5);
    QCOMPARE(shown(u"receiptNoLabel"_s), u"0000001"_s);
    // 取消修改 throws it away, after asking.
    QVERIFY(m.find<QToolButton>(u"cancelButton"_s)->isVisible());
    MessageBox::setTestAnswer(true);
    click(u"cancelButton"_s);
    QCOMPARE(shown(u"payerComboBox"_s), QString());
    m.clickRow(u"今天收据"_s);
    m.clickRow(u"开单"_s);
    QCOMPARE(shown(u"payerComboBox"_s), QString());
    QVERIFY(!m.find<QToolButton>(u"cancelButton"_s)->isVisible());
}

void tst_AddView::capitalsFollowTyping_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("capitals");
    // Which amount reads how: tst_amountincapitals.
    QTest::newRow("point being typed") << u"100."_s << u"壹佰元整"_s;
    QTest::newRow("largest") << u"999999999999.99"_s
                             << u"玖仟玖佰玖拾玖亿玖仟玖佰玖拾玖万玖仟玖佰玖拾玖元玖角玖分"_s;
    QTest::newRow("cleared") << QString() << u"零元整"_s;
}

void tst_AddView::capitalsFollowTyping()
{
    QFETCH(QString, typed);
    QFETCH(QString, capitals);
    auto *field = m.find<QLineEdit>(u"totalLineEdit"_s);
    auto *capitalsField = m.find<QLineEdit>(u"totalBigLineEdit"_s);
    typeText(field, u"7"_s);
    QCOMPARE(capitalsField->text(), u"柒元整"_s);
    typeText(field, typed);
    QCOMPARE(field->text(), typed); // what is typed stays as typed
    QCOMPARE(AppStore::shared().receiptEdit().totalBig, capitals);
    QCOMPARE(capitalsField->text(), capitals);

    typeText(capitalsField, u"伪造"_s);
    QCOMPARE(capitalsField->text(), capitals);
}

void tst_AddView::amountRefusesWhatIsNotANumberOrTooLarge()
{
    auto *field = m.find<QLineEdit>(u"totalLineEdit"_s);
    field->setFocus();
    // A third decimal is not taken: the capitals and the paper name the fen.
    QTest::keyClicks(field, u"12a.3.45x"_s);
    QCOMPARE(field->text(), u"12.34"_s);
    typeText(field, u"abc"_s);
    QCOMPARE(field->text(), u"12.34"_s);
    QCOMPARE(AppStore::shared().receiptEdit().total, 12.34);

    for (const QString &tooLarge : {u"1000000000000"_s, u"-1000000000000"_s}) {
        typeText(field, tooLarge);
        QVERIFY(toast()->isShown());
        QCOMPARE(toast()->text(), u"金额过大：不能超过 999999999999.99"_s);
        QCOMPARE(AppStore::shared().receiptEdit().total, 12.34);
        QCOMPARE(AppStore::shared().receiptEdit().totalBig, u"拾贰元叁角肆分"_s);
        toast()->close();
    }

    // From a Chinese input method: full-width digits and point, or the ideographic stop.
    typeText(field, u"１２３．５"_s);
    QCOMPARE(AppStore::shared().receiptEdit().total, 123.5);
    typeText(field, u"８。０５"_s);
    QCOMPARE(AppStore::shared().receiptEdit().total, 8.05);

    // A paste is taken whole, grouping commas read as such, or refused whole and told.
    const auto paste = [&](const QString &clip) {
        QGuiApplication::clipboard()->setText(clip);
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    };
    paste(u"1,234.50"_s);
    QCOMPARE(AppStore::shared().receiptEdit().total, 1234.5);
    QVERIFY(!toast()->isShown());
    for (const QString &notAnAmount : {u"1e5"_s, u"12.345"_s, u"¥88"_s, u"一百"_s}) {
        paste(notAnAmount);
        QCOMPARE(AppStore::shared().receiptEdit().total, 1234.5);
        QVERIFY2(toast()->isShown(), qPrintable(notAnAmount));
        QCOMPARE(toast()->text(), u"粘贴的内容不是金额（最多两位小数）"_s);
        toast()->close();
    }

    // Off the field the amount shows as the lists show it, grouped with two decimals;
    // editing shows the digits typed.
    for (const auto &[typed, display] :
         {std::pair(u"1234567.5"_s, u"1,234,567.50"_s), std::pair(u"12345.6"_s, u"12,345.60"_s),
          std::pair(u"680"_s, u"680.00"_s), std::pair(u"-0.3"_s, u"-0.30"_s)}) {
        typeText(field, typed);
        m.find<QComboBox>(u"payerComboBox"_s)->setFocus();
        QCOMPARE(field->text(), display);
        field->setFocus();
        QCOMPARE(field->text(), typed);
    }
}

void tst_AddView::rememberedChoicesSurviveARestart()
{
    pick(m.find<QComboBox>(u"payeeComboBox"_s), u"李四"_s);
    pick(m.find<QComboBox>(u"paytypeComboBox"_s), u"支付宝"_s);
    pick(m.find<QComboBox>(u"approveComboBox"_s), u"张三"_s);
    pick(m.find<QComboBox>(u"accountantComboBox"_s), u"李四"_s);
    m.restart(); // without saving anything
    // Four different places: two swapped choices would show here.
    QCOMPARE(QStringList({shown(u"payeeComboBox"_s), shown(u"paytypeComboBox"_s),
                          shown(u"approveComboBox"_s), shown(u"accountantComboBox"_s)}),
             QStringList({u"李四"_s, u"支付宝"_s, u"张三"_s, u"李四"_s}));

    // A remembered user deleted since still shows, as what the receipt will hold.
    QVERIFY(m.env->execRaw(u"delete from tb_account where userName = '李四';"_s));
    m.restart();
    QCOMPARE(shown(u"payeeComboBox"_s), u"李四"_s);

    // Choices arriving with a receipt loaded for editing are not remembered.
    editStored(u"丙"_s);
    QCOMPARE(shown(u"paytypeComboBox"_s), u"现金"_s);
    m.restart();
    QCOMPARE(shown(u"paytypeComboBox"_s), u"支付宝"_s);
}

void tst_AddView::failedSavesKeepTheForm()
{
    // A failed update keeps the stored receipt open on the form.
    editStored(u"丙"_s);
    QVERIFY(m.env->execRaw(u"drop table tb_receipt;"_s));
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"戊"_s);
    click(u"saveButton"_s);
    QVERIFY(toast()->isShown());
    QVERIFY(toast()->text().startsWith(u"保存失败"_s));
    QCOMPARE(m.currentRowText(), u"开单"_s);
    QVERIFY(!isNewReceiptMode());
    QCOMPARE(shown(u"payerComboBox"_s), u"戊"_s);
    toast()->close();
    click(u"cancelButton"_s);

    fill(u"甲公司"_s, u"房租"_s, u"10"_s);
    for (const QString &button : {u"addButton"_s, u"addPrintButton"_s}) {
        bool printed = false;
        PrintAction::setFunction([&](double, double) { printed = true; });
        click(button);
        QVERIFY(toast()->isShown());
        // The table is gone: the number cannot be checked, so nothing is saved.
        QVERIFY(toast()->text().startsWith(u"单号检查失败"_s));
        QVERIFY(!printed);
        QCOMPARE(m.currentRowText(), u"开单"_s);
        // Still a new receipt, with everything typed.
        QCOMPARE(AppStore::shared().receiptEdit().id, QString());
        QVERIFY(isNewReceiptMode());
        QCOMPARE(shown(u"payerComboBox"_s), u"甲公司"_s);
        QCOMPARE(AppStore::shared().receiptEdit().total, 10.0);
        toast()->close();
    }
}

void tst_AddView::longTitleGivesWayToTheNumber()
{
    Company company = CompanyStore::shared().company();
    company.title = u"北京市海淀区启明教育培训中心收款收据"_s;
    company.label = u"交款人收执🧾"_s;
    CompanyStore::shared().setCompany(company);
    Receipt edit = AppStore::shared().receiptEdit();
    edit.receiptNo = u"9223372036854775807"_s;
    AppStore::shared().setReceiptEdit(edit);
    auto *title = m.find<FittedLabel>(u"titleLabel"_s);
    QTRY_VERIFY(title->scale() < 1); // once the layout has made room for the number
    auto *number = m.find<QLabel>(u"receiptNoLabel"_s);
    QCOMPARE(number->text(), u"9223372036854775807"_s);
    const QRect titleRect(title->mapTo(m.window.get(), QPoint()), title->size());
    const QRect numberRect(number->mapTo(m.window.get(), QPoint()), number->size());
    const QFontMetrics metrics(title->font());
    const int drawnWidth = metrics.horizontalAdvance(title->text());
    const QRect drawn(titleRect.center().x() - drawnWidth / 2, titleRect.top(), drawnWidth,
                      titleRect.height());
    QVERIFY2(!drawn.intersects(numberRect), qPrintable(title->text()));
    QCOMPARE(title->fullText(), company.title);
    // The vertical label: one character as the user sees it per line, the emoji whole.
    QCOMPARE(m.find<QLabel>(u"sideLabel"_s)->text().split(u'\n').last(), u"🧾"_s);
}

void tst_AddView::refusedSaveStaysOnABarWithTheWaysOn_data()
{
    QTest::addColumn<QString>("way"); // reopen, new, dismiss
    QTest::newRow("重新打开此收据, then the typing put back") << u"reopen"_s;
    QTest::newRow("另存为新收据") << u"new"_s;
    QTest::newRow("dismissed") << u"dismiss"_s;
}

// Another program changed the receipt open in the form before this desk heard of it: the
// save is refused, and the form says so on a bar that stays (a notification used to flash
// for two seconds, and Ctrl+S only flashed it again), naming the change and offering the
// ways on, each keeping what was typed.
void tst_AddView::refusedSaveStaysOnABarWithTheWaysOn()
{
    QFETCH(QString, way);
    editStored(u"丙"_s);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"戊"_s);
    typeText(m.find<QLineEdit>(u"totalLineEdit"_s), u"66"_s);
    const QString note = u"二〇二六年冬季学期住宿费及教材费"_s;
    QVERIFY(m.env->execRaw(
        u"update tb_receipt set total = '8', reason2 = '%1' where id = 'R1'"_s.arg(note)));
    const QString told = u"该收据已在其他电脑上修改：其它说明改为「%1」，金额改为 8.00。"
                         u"这里填写的内容还在，没有保存。"_s.arg(note);
    for (int attempt = 0; attempt < 2; ++attempt) { // and Ctrl+S again says the same
        save();
        QTRY_VERIFY(bar()->isVisible());
        QCOMPARE(bar()->text(), told);
        // Wrapped, the text is shown whole: the bar is as high as its lines.
        const auto *text = bar()->findChild<QLabel *>(u"editConflictText"_s);
        QVERIFY(text->height() >= text->heightForWidth(text->width()));
        QVERIFY(!toast()->isShown());
        QCOMPARE(focusName(), u"reopenButton"_s);
        QCOMPARE(shown(u"payerComboBox"_s), u"戊"_s);
        QCOMPARE(stored(u"payer || '|' || total"_s), u"丙|8"_s);
    }
    QVERIFY(!isNewReceiptMode());

    if (way == u"reopen"_s) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        // The receipt as stored now, the typing kept aside and offered back.
        QCOMPARE(shown(u"payerComboBox"_s), u"丙"_s);
        QCOMPARE(AppStore::shared().receiptEdit().total, 8.0);
        QVERIFY(bar()->isVisible());
        QVERIFY(bar()->text().startsWith(u"已重新打开 No.0000007"_s));
        QVERIFY(payerHasFocus());
        QTest::mouseClick(m.find<QPushButton>(u"restoreTypingButton"_s), Qt::LeftButton);
        QVERIFY(!bar()->isVisible());
        QCOMPARE(shown(u"payerComboBox"_s), u"戊"_s);
        QCOMPARE(AppStore::shared().receiptEdit().totalBig, u"陆拾陆元整"_s);
        // Saved now over what the other program stored, which the form has shown.
        save();
        QTRY_COMPARE(m.currentRowText(), u"今天收据"_s);
        QCOMPARE(stored(u"payer || '|' || total"_s), u"戊|66.0"_s);
    } else if (way == u"new"_s) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusName(), u"saveAsNewButton"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!bar()->isVisible());
        QCOMPARE(m.env->receiptCount(), 2);
        const QString number
            = m.env->queryRaw(u"select receiptNo from tb_receipt where id <> 'R1'"_s);
        QCOMPARE(shown(u"savedLabel"_s), u"已保存 No.%1"_s.arg(number));
        QVERIFY(number != u"0000007"_s);
        QCOMPARE(
            m.env->queryRaw(u"select payer || '|' || total from tb_receipt where id <> 'R1'"_s),
            u"戊|66.0"_s);
        QCOMPARE(m.env->queryRaw(u"select payer || '|' || total from tb_receipt where id = 'R1'"_s),
                 u"丙|8"_s);
        QVERIFY(isNewReceiptMode());
        QVERIFY(payerHasFocus());
    } else {
        // Esc closes the bar only: the form is not given up, nor asked about.
        MessageBox::setTestAnswer(true);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!bar()->isVisible());
        QCOMPARE(MessageBox::lastText(), QString());
        QVERIFY(!isNewReceiptMode());
        QVERIFY(payerHasFocus());
        QCOMPARE(shown(u"payerComboBox"_s), u"戊"_s);
        save();
        QTRY_VERIFY(bar()->isVisible());
        QCOMPARE(bar()->text(), told);
    }
}

// Told by another desk while the cashier types: the bar comes at once and the keyboard
// stays where it was. A voided receipt cannot be opened again, only kept as new.
void tst_AddView::voidedElsewhereIsToldWhereTheCashierTypes()
{
    editStored(u"丙"_s);
    typeText(m.find<QComboBox>(u"payerComboBox"_s), u"戊"_s);
    QVERIFY(m.env->execRaw(u"insert into tb_void (receiptId, reason, voidDate) "
                           u"values ('R1', '重复开了', '2024-05-01 00:00:00')"_s));
    const std::optional<qint64> row = ReceiptBook::shared().rowOf(u"R1"_s);
    QVERIFY(row);
    ReceiptBook::shared().tellFromElsewhere(
        ReceiptBook::payloadOf({BookChange::Kind::Voided, {u"R1"_s}, {*row}}));
    QVERIFY(bar()->isVisible());
    QCOMPARE(bar()->text(),
             u"该收据已在其他电脑上作废：作废原因：「重复开了」。"
             u"这里填写的内容还在，没有保存。"_s);
    QVERIFY(!m.find<QPushButton>(u"reopenButton"_s)->isVisible());
    QVERIFY(m.find<QPushButton>(u"saveAsNewButton"_s)->isVisible());
    QVERIFY(!m.find<Toast>(u"noticeToast"_s)->isShown());
    QVERIFY(payerHasFocus());
    QTest::keyClicks(QApplication::focusWidget(), u"x"_s);
    QCOMPARE(shown(u"payerComboBox"_s), u"戊x"_s);
    save();
    QTRY_COMPARE(focusName(), u"saveAsNewButton"_s);
    QCOMPARE(stored(u"payer"_s), u"丙"_s);
}

// A payer typed once is offered on the next receipt (it was forgotten), after the list's
// own entries and without being written into the list; after a restart too, read from the
// book.
void tst_AddView::typedTextsAreOfferedOnTheNextReceipt()
{
    QVERIFY(PayerStore::shared().insert({u"P1"_s, 0, u"绿地集团"_s}));
    fill(u"绿洲餐饮有限公司"_s, u"餐费"_s, u"5"_s);
    save();
    QTRY_COMPARE(shown(u"savedLabel"_s), u"已保存 No.0000001"_s);
    auto *payer = m.find<ComboBox>(u"payerComboBox"_s);
    QCOMPARE(payer->items(), QStringList({u"绿地集团"_s, u"绿洲餐饮有限公司"_s}));
    QVERIFY(m.find<ComboBox>(u"reason1ComboBox"_s)->items().contains(u"餐费"_s));
    typeText(payer, u"绿"_s);
    QAbstractItemView *completion = payer->completer()->popup();
    QTRY_VERIFY(completion->isVisible());
    QStringList offered;
    for (int row = 0; row < completion->model()->rowCount(); ++row)
        offered.append(completion->model()->index(row, 0).data().toString());
    QCOMPARE(offered, QStringList({u"绿地集团"_s, u"绿洲餐饮有限公司"_s}));
    QCOMPARE(m.env->countRaw(u"select count(*) from tb_payer"_s), 1);
    QCOMPARE(m.env->countRaw(u"select count(*) from tb_reason1 where content = '餐费'"_s), 0);

    m.restart();
    QCOMPARE(m.find<ComboBox>(u"payerComboBox"_s)->items(),
             QStringList({u"绿地集团"_s, u"绿洲餐饮有限公司"_s}));
}

// A new book has no users: the pickers of 收款人, 核准 and 会计 say where they are added and
// lead there, where Enter adds the name typed, and back on the form it is offered.
void tst_AddView::emptyUserPickerLeadsToTheUserList()
{
    QVERIFY(m.env->execRaw(u"delete from tb_account"_s));
    m.restart();
    for (const QString &name :
         {u"payeeComboBox"_s, u"approveComboBox"_s, u"accountantComboBox"_s}) {
        auto *picker = m.find<QComboBox>(name);
        QCOMPARE(picker->count(), 0);
        QCOMPARE(picker->placeholderText(), u"在「系统用户」中添加"_s);
    }
    QVERIFY(m.find<QComboBox>(u"paytypeComboBox"_s)->placeholderText().isEmpty());
    auto *payee = m.find<QComboBox>(u"payeeComboBox"_s);
    payee->setFocus();
    QTest::keyClick(payee, Qt::Key_Space);
    QCOMPARE(m.currentRowText(), u"系统用户"_s);
    QCOMPARE(focusName(), u"contentLineEdit"_s);
    typeText(qobject_cast<QLineEdit *>(QApplication::focusWidget()), u"王五"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(m.env->queryRaw(u"select userName from tb_account"_s), u"王五"_s);

    m.clickRow(u"开单"_s);
    QCOMPARE(payee->count(), 1);
    QVERIFY(payee->placeholderText().isEmpty());
    QCOMPARE(payee->currentIndex(), -1); // as the receipt: nobody picked yet
    pick(payee, u"王五"_s);
    fill(u"甲公司"_s, u"房租"_s, u"5"_s);
    save();
    QTRY_COMPARE(stored(u"payee"_s), u"王五"_s);
}

// The keyboard goes where the work is: a click on 开单 and one Tab from the sidebar reach
// 交款单位, the date is one stop, a missing field takes the cursor while its notice shows,
// a lookup list's field comes first and Enter adds to it, and a picker's Down from none
// goes to its first entry.
void tst_AddView::keyboardGoesWhereTheWorkIs()
{
    m.clickRow(u"今天收据"_s);
    m.clickRow(u"开单"_s);
    QVERIFY(payerHasFocus());
    QTest::keyClicks(QApplication::focusWidget(), u"abc"_s);
    QCOMPARE(shown(u"payerComboBox"_s), u"abc"_s);

    QListWidget *sidebar = m.window->sidebar()->list();
    sidebar->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sidebar, Qt::Key_Tab);
    QVERIFY(payerHasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QVERIFY(sidebar->hasFocus());
    auto *date = m.find<QDateEdit>(u"receiptDateEdit"_s);
    date->setFocus(Qt::TabFocusReason);
    QTest::keyClick(date, Qt::Key_Tab);
    QVERIFY(!date->hasFocus());

    // The notice leaves the cursor in the field it names: typing goes there at once.
    typeText(m.find<QComboBox>(u"payerComboBox"_s), QString());
    fill(QString(), u"房租"_s, u"5"_s);
    save();
    QTRY_VERIFY(toast()->isShown());
    QCOMPARE(toast()->text(), u"必填：交款单位"_s);
    QVERIFY(payerHasFocus());
    QTest::keyClicks(QApplication::focusWidget(), u"xyz"_s);
    QCOMPARE(shown(u"payerComboBox"_s), u"xyz"_s);

    // Nothing picked: Down goes to the first entry (it went to the second).
    auto *paytype = m.find<QComboBox>(u"paytypeComboBox"_s);
    QCOMPARE(paytype->currentIndex(), -1);
    paytype->setFocus();
    QTest::keyClick(paytype, Qt::Key_Space);
    QTRY_VERIFY(paytype->view()->isVisible());
    QTest::keyClick(paytype->view(), Qt::Key_Down);
    QTest::keyClick(paytype->view(), Qt::Key_Return);
    QCOMPARE(paytype->currentText(), paytype->itemText(0));
    QCOMPARE(AppStore::shared().receiptEdit().paytype, paytype->itemText(0));

    m.clickRow(u"收款方式"_s);
    QVERIFY(sidebar->hasFocus());
    QTest::keyClick(sidebar, Qt::Key_Tab);
    QCOMPARE(focusName(), u"contentLineEdit"_s);
    QTest::keyClicks(QApplication::focusWidget(), u"POS"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(m.env->countRaw(u"select count(*) from tb_paytype where content = 'POS'"_s), 1);
    QCOMPARE(qobject_cast<QLineEdit *>(QApplication::focusWidget())->text(), QString());
}

void tst_AddView::seriesAndPaperBooksOnTheForm()
{
    // One series: the form as it always was.
    auto *series = m.find<QComboBox>(u"seriesComboBox"_s);
    QVERIFY(series->isHidden());
    // Two paper books of the book's own numbering, and a series of its own.
    QVERIFY(PaperBooks::add({}, 1, 2, u"张三"_s));
    QVERIFY(PaperBooks::add({}, 11, 12, u"张三"_s));
    QVERIFY(ReceiptSeriesStore::shared().add({u"学费"_s, u"XF{yyyy}-"_s, 4, true}));
    ReceiptNoStore::shared().nextReceiptNo();
    QVERIFY(series->isVisible());
    QCOMPARE(series->count(), 2);
    QCOMPARE(shown(u"receiptNoLabel"_s), u"0000001"_s);
    fill(u"甲"_s, u"房租"_s, u"5"_s);
    save();
    QTRY_COMPARE(shown(u"receiptNoLabel"_s), u"0000002"_s);
    // The book's last number used: the next book is asked for.
    MessageBox::setTestAnswer(true);
    fill(u"乙"_s, u"房租"_s, u"6"_s);
    save();
    QTRY_COMPARE(shown(u"receiptNoLabel"_s), u"0000011"_s);
    QCOMPARE(MessageBox::lastText(), u"第 0000001–0000002 本已用完，请放入下一本：0000011–0000012"_s);
    // The series picked: its number, the year's, and the save in it.
    pick(series, u"学费"_s);
    const QString year = QString::number(QDate::currentDate().year());
    QCOMPARE(shown(u"receiptNoLabel"_s), u"XF%1-0001"_s.arg(year));
    fill(u"丙"_s, u"学费"_s, u"7"_s);
    save();
    QTRY_COMPARE(shown(u"receiptNoLabel"_s), u"XF%1-0002"_s.arg(year));
    QCOMPARE(m.env->queryRaw(u"select payer from tb_receipt where receiptNo = 'XF%1-0001'"_s.arg(year)),
             u"丙"_s);
}

QTEST_MAIN(tst_AddView)
#include "tst_addview.moc"
