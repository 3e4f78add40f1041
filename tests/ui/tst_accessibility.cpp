// SPDX-License-Identifier: GPL-3.0-or-later
#include "addview.h"
#include "listview.h"
#include "uitesthelpers.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

// A tab stop as QApplication counts one when Tab is pressed: the widget takes Tab focus
// itself (a combo box's line edit passes it to the combo box).
bool isTabStop(const QWidget *widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy();
}

QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

QString describe(const QWidget *widget)
{
    return u"%1 (%2)"_s.arg(widget->objectName(),
                            QString::fromLatin1(widget->metaObject()->className()));
}

// Types what the keyboard would into the focused widget, Chinese included.
void type(const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QCoreApplication::sendEvent(QApplication::focusWidget(), &press);
}

void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
}

} // namespace

// The window used without a mouse and through a screen reader: names, tab order, keys.
class tst_Accessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m.start();
        QVERIFY(m.env->execRaw(u"insert into tb_account (id, userName) values ('U1', '张三');"_s));
        m.openWindow();
    }
    void cleanup() { m.stop(); }

    void everyControlIsNamedAndLabelled();
    void formTabChainFollowsTheForm_data();
    void formTabChainFollowsTheForm();
    void receiptEnteredFromTheKeyboardOnly();
    void listKeysPrintEditAndDelete();
    void settingsKeys();
    void sidebarByKeyboard();

private:
    void storeReceiptDatedToday()
    {
        QVERIFY(m.env->storeReceipt(u"R1"_s, u"0000007"_s, dayText(), u"甲"_s, 50));
    }

    WindowFixture m;
};

void tst_Accessibility::everyControlIsNamedAndLabelled()
{
    QListWidget *list = m.window->sidebar()->list();
    auto check = [](QWidget *area, const QString &where) {
        int controls = 0;
        // Hidden ones too: the form's 保存修改 and the editors' 删除 show only in some states.
        const QList<QWidget *> widgets = area->findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            if (!isTabStop(widget) || widget->window() != area->window())
                continue;
            ++controls;
            const QString name = accessibleName(widget);
            QVERIFY2(!name.isEmpty(), qPrintable(where + u": "_s + describe(widget)));
            // A visible label saying the same must be tied to the control.
            for (QLabel *label : area->findChildren<QLabel *>()) {
                if (label->isVisible() && label->text() == name)
                    QVERIFY2(label->buddy() == widget, qPrintable(where + u": "_s + name));
            }
        }
        QVERIFY2(controls > 0, qPrintable(where));
    };
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        if (!item->data(Sidebar::NavigationRole).isValid())
            continue;
        m.clickRow(item->text());
        check(m.currentScreen(), item->text());
    }
    // What is around the screens: the sidebar list and the toolbar.
    QCOMPARE(accessibleName(list), u"导航"_s);
    for (QWidget *widget : m.window->findChildren<QWidget *>()) {
        if (isTabStop(widget) && widget->window() == m.window.get()
            && !m.find<QStackedWidget>(u"detailStack"_s)->isAncestorOf(widget))
            QVERIFY2(!accessibleName(widget).isEmpty(), qPrintable(describe(widget)));
    }
}

void tst_Accessibility::formTabChainFollowsTheForm_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QStringList>("chain");
    // 交款单位 first, one Tab from the sidebar; the buttons and the date after the fields.
    const QStringList fields = {
        u"payerComboBox"_s,  u"reason1ComboBox"_s, u"reason2ComboBox"_s,
        u"remarkComboBox"_s, u"totalLineEdit"_s,   u"paytypeComboBox"_s,
        u"payeeComboBox"_s,  u"approveComboBox"_s, u"accountantComboBox"_s,
    };
    QTest::newRow("new receipt") << false
                                 << fields
            + QStringList {u"addButton"_s, u"addPrintButton"_s, u"receiptDateEdit"_s};
    QTest::newRow("stored receipt")
        << true << fields + QStringList {u"saveButton"_s, u"cancelButton"_s, u"receiptDateEdit"_s};
}

void tst_Accessibility::formTabChainFollowsTheForm()
{
    QFETCH(bool, stored);
    QFETCH(QStringList, chain);
    if (stored) {
        storeReceiptDatedToday();
        AppStore &store = AppStore::shared();
        store.setSelectedId(u"R1"_s);
        store.loadSelected(true);
        store.setSelectionNav(NavigationItem::add);
    }
    auto *form = m.find<AddView>(u"addView"_s);
    QVERIFY(form->isVisible());
    QWidget *first = m.find<QWidget>(chain.first());
    QStringList visited;
    QWidget *widget = first;
    do {
        if (isTabStop(widget) && widget->isVisible() && widget->isEnabled()
            && form->isAncestorOf(widget))
            visited.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != first);
    QCOMPARE(visited, chain);
}

void tst_Accessibility::receiptEnteredFromTheKeyboardOnly()
{
    QCOMPARE(m.currentRowText(), u"开单"_s);
    auto *payer = m.find<QComboBox>(u"payerComboBox"_s);
    for (int tabs = 0; tabs < 20 && QApplication::focusWidget() != payer; ++tabs)
        press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), payer);

    // A failed check puts the keyboard in the field it names, and its notification leaves
    // it there (a screen reader hears it as an alert): the missing text is typed at once.
    press(Qt::Key_S, Qt::ControlModifier);
    Toast *toast = errorToast(m.find<AddView>(u"addView"_s));
    QTRY_VERIFY(toast->isShown());
    QCOMPARE(toast->text(), u"必填：交款单位"_s);
    QCOMPARE(QApplication::focusWidget(), payer);
    toast->close();
    QCOMPARE(QApplication::focusWidget(), payer);

    type(u"甲公司"_s);
    press(Qt::Key_Tab);
    type(u"房租"_s);
    press(Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), u"May"_s);
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), u"totalLineEdit"_s);
    QTest::keyClicks(QApplication::focusWidget(), u"1250.5"_s);
    press(Qt::Key_Tab);
    auto *paytype = m.find<QComboBox>(u"paytypeComboBox"_s);
    QCOMPARE(QApplication::focusWidget(), paytype);
    press(Qt::Key_Down);
    QVERIFY(paytype->currentIndex() >= 0);
    press(Qt::Key_Tab);
    press(Qt::Key_Down);
    press(Qt::Key_S, Qt::ControlModifier);

    QTRY_COMPARE(m.env->receiptCount(), 1);
    QCOMPARE(m.env->queryRaw(u"select payer || '|' || reason1 || '|' || reason2 || '|' || total "
                             u"|| '|' || paytype || '|' || payee from tb_receipt"_s),
             u"甲公司|房租|May|1250.5|%1|张三"_s.arg(paytype->currentText()));
    // The form stays with the keyboard in 交款单位, ready for the next receipt.
    QCOMPARE(m.currentRowText(), u"开单"_s);
    QCOMPARE(QApplication::focusWidget(), payer);
}

void tst_Accessibility::listKeysPrintEditAndDelete()
{
    storeReceiptDatedToday();
    int printed = 0;
    PrintAction::setFunction([&printed](double, double) { ++printed; });
    m.clickRow(u"今天收据"_s);
    QTableView *table = m.receiptTable();
    table->setFocus();

    // Nothing selected: the keys act no more than the disabled buttons would.
    press(Qt::Key_Delete);
    press(Qt::Key_P, Qt::ControlModifier);
    QTest::qWait(200);
    QCOMPARE(printed, 0);
    QVERIFY(MessageBox::lastText().isEmpty());

    // Focus puts the cursor on the first row; Space selects it.
    press(Qt::Key_Space);
    QVERIFY(AppStore::shared().selectedId().has_value());
    press(Qt::Key_P, Qt::ControlModifier);
    QTRY_COMPARE(printed, 1);

    // F2 opens the receipt on the form, Esc gives it up again and goes back to the list.
    press(Qt::Key_F2);
    QTRY_COMPARE(m.currentRowText(), u"开单"_s);
    QTRY_VERIFY(m.find<QToolButton>(u"cancelButton"_s)->isVisible());
    m.find<QComboBox>(u"payerComboBox"_s)->setFocus();
    press(Qt::Key_Escape);
    QTRY_COMPARE(m.currentRowText(), u"今天收据"_s);
    QVERIFY(AppStore::shared().receiptEdit().id.isEmpty());

    // Delete asks first (what each answer does: tst_listview). From the sidebar the key
    // does nothing.
    m.clickRow(u"今天收据"_s);
    table->setFocus();
    press(Qt::Key_Space);
    m.window->sidebar()->list()->setFocus();
    press(Qt::Key_Delete);
    QVERIFY(MessageBox::lastText().isEmpty());
    table->setFocus();
    MessageBox::setTestAnswer(true);
    press(Qt::Key_Delete);
    QVERIFY2(MessageBox::lastText().startsWith(u"永久删除？"_s),
             qPrintable(MessageBox::lastText()));
    QCOMPARE(m.env->receiptCount(), 0);
}

void tst_Accessibility::settingsKeys()
{
    // Ctrl+S from inside the number field saves what it holds, though the field was never
    // left (which is when a typed number is otherwise taken).
    m.clickRow(u"收据单号"_s);
    auto *currNum = m.currentScreen()->findChild<QLineEdit *>(u"currNumLineEdit"_s);
    currNum->setFocus();
    currNum->selectAll();
    QTest::keyClicks(currNum, u"42"_s);
    press(Qt::Key_S, Qt::ControlModifier);
    QTRY_COMPARE(m.env->queryRaw(u"select currNum from tb_receiptNo"_s), u"42"_s);

    // A lookup list: Ctrl+N adds the typed text, Delete removes the selected entry.
    m.clickRow(u"交款单位"_s);
    const QString count = u"select count(*) from tb_payer where content = '乙商店'"_s;
    m.currentScreen()->findChild<QLineEdit *>(u"contentLineEdit"_s)->setFocus();
    type(u"乙商店"_s);
    press(Qt::Key_N, Qt::ControlModifier);
    QTRY_COMPARE(m.env->countRaw(count), 1);
    m.currentScreen()->findChild<QTableView *>(u"lookupTableView"_s)->setFocus();
    press(Qt::Key_Space);
    MessageBox::setTestAnswer(true);
    press(Qt::Key_Delete);
    QCOMPARE(m.env->countRaw(count), 0);
}

void tst_Accessibility::sidebarByKeyboard()
{
    QListWidget *list = m.window->sidebar()->list();
    list->setFocus();
    press(Qt::Key_Down);
    QCOMPARE(m.currentRowText(), u"今天收据"_s);
    QVERIFY(qobject_cast<ListView *>(m.currentScreen()));
    press(Qt::Key_Up);
    QCOMPARE(m.currentRowText(), u"开单"_s);
    // The heading rows are passed over. (A link row opens on Return: tst_contentview.)
    press(Qt::Key_Up);
    QCOMPARE(m.currentRowText(), u"开单"_s);

    // F9 and Ctrl+B trigger the toolbar button: the list goes and the screen stays, then
    // the list comes back with the focus in it.
    press(Qt::Key_F9);
    QVERIFY(!list->isVisible());
    QVERIFY(m.currentScreen()->isVisible());
    press(Qt::Key_B, Qt::ControlModifier);
    QVERIFY(list->isVisible());
    QCOMPARE(QApplication::focusWidget(), list);
}

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
