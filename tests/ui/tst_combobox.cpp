// SPDX-License-Identifier: GPL-3.0-or-later
#include "combobox.h"
#include "uitesthelpers.h"

#include <QApplication>
#include <QCompleter>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

enum class Pick { DropDownClick, CompletionClick, CompletionKeys, DownKey };
enum class Change { FocusPasses, ListShrinks, StaleIndex };

// A key as the keyboard sends it: to the open popup if there is one, else to the focus.
void press(Qt::Key key)
{
    QTest::keyClick(static_cast<QWidget *>(nullptr), key);
}

QStringList reported(const QSignalSpy &spy)
{
    QStringList texts;
    for (const QList<QVariant> &arguments : spy)
        texts.append(arguments.first().toString());
    return texts;
}

} // namespace

// The editable field of the receipt form: what it keeps, what it reports to the form,
// where the focus goes.
class tst_ComboBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(m_window.get());
        m_other = new QLineEdit(m_window.get());
        m_combo = new ComboBox(m_window.get());
        layout->addWidget(m_other); // above: the completion popup opens below the box
        layout->addWidget(m_combo);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    void cleanup() { m_window.reset(); }

    void typedTextStaysAsTyped_data();
    void typedTextStaysAsTyped();
    void picksReportTheOfferedText_data();
    void picksReportTheOfferedText();
    void changesFromElsewhereAreNotEdits_data();
    void changesFromElsewhereAreNotEdits();
    void clickElsewhereLeavesTheCompletion_data();
    void clickElsewhereLeavesTheCompletion();
    void dropDownOpensOnTheTypedText_data();
    void dropDownOpensOnTheTypedText();

private:
    QAbstractItemView *completion() const { return m_combo->completer()->popup(); }

    std::unique_ptr<QWidget> m_window;
    QLineEdit *m_other = nullptr;
    ComboBox *m_combo = nullptr;
};

void tst_ComboBox::typedTextStaysAsTyped_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Qt::Key>("key"); // Tab leaves the field
    QTest::addColumn<int>("current"); // the offered text the drop-down opens on

    const QStringList abc = {u"ABC"_s};
    QTest::newRow("other case, Return") << abc << u"abc"_s << Qt::Key_Return << -1;
    QTest::newRow("other case, Enter") << abc << u"abc"_s << Qt::Key_Enter << -1;
    QTest::newRow("other case, leaving") << abc << u"abc"_s << Qt::Key_Tab << -1;
    QTest::newRow("prefix, completion open, Return") << abc << u"AB"_s << Qt::Key_Return << -1;
    QTest::newRow("prefix, completion open, leaving") << abc << u"AB"_s << Qt::Key_Tab << -1;
    QTest::newRow("trailing space") << abc << u"ABC "_s << Qt::Key_Return << -1;
    QTest::newRow("leading space") << abc << u" ABC"_s << Qt::Key_Tab << -1;
    QTest::newRow("equal to an item") << abc << u"ABC"_s << Qt::Key_Return << 0;
    QTest::newRow("decomposed form of an item")
        << QStringList {u"Caf\u00e9"_s} << u"Cafe\u0301"_s << Qt::Key_Return << 0;
    QTest::newRow("composed form of an item")
        << QStringList {u"Noir"_s, u"Cafe\u0301"_s} << u"Caf\u00e9"_s << Qt::Key_Tab << 1;
    QTest::newRow("two equal items")
        << QStringList {u"甲"_s, u"甲"_s} << u"甲"_s << Qt::Key_Tab << 0;
    QTest::newRow("Chinese prefix") << QStringList {u"甲公司"_s} << u"甲公"_s << Qt::Key_Tab << -1;
    QTest::newRow("empty list") << QStringList() << u"乙"_s << Qt::Key_Return << -1;
}

void tst_ComboBox::typedTextStaysAsTyped()
{
    QFETCH(QStringList, items);
    QFETCH(QString, typed);
    QFETCH(Qt::Key, key);
    QFETCH(int, current);

    m_combo->setItems(items);
    QSignalSpy edited(m_combo, &ComboBox::textEdited);
    typeText(m_combo, typed);
    press(key);
    if (key == Qt::Key_Tab)
        QCOMPARE(QApplication::focusWidget(), m_other);
    QCOMPARE(m_combo->text(), typed);
    QCOMPARE(reported(edited), QStringList {typed});
    QCOMPARE(m_combo->currentIndex(), current);
}

void tst_ComboBox::picksReportTheOfferedText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Pick>("pick");
    QTest::addColumn<QString>("picked");

    QTest::newRow("drop-down, click") << QString() << Pick::DropDownClick << u"乙公司"_s;
    QTest::newRow("completion, click") << u"公"_s << Pick::CompletionClick << u"甲公司"_s;
    QTest::newRow("completion, Down, Return") << u"乙"_s << Pick::CompletionKeys << u"乙公司"_s;
    QTest::newRow("completion matches case") << u"a"_s << Pick::CompletionKeys << u"abc"_s;
    QTest::newRow("Down on the closed box") << QString() << Pick::DownKey << u"甲公司"_s;
}

void tst_ComboBox::picksReportTheOfferedText()
{
    QFETCH(QString, typed);
    QFETCH(Pick, pick);
    QFETCH(QString, picked);

    m_combo->setItems({u"甲公司"_s, u"乙公司"_s, u"ABC"_s, u"abc"_s});
    m_combo->setFocus();
    if (!typed.isEmpty()) {
        typeText(m_combo, typed);
        QTRY_VERIFY(completion()->isVisible());
    }
    QSignalSpy edited(m_combo, &ComboBox::textEdited);
    QAbstractItemView *view = completion();
    if (pick == Pick::DropDownClick) {
        m_combo->showPopup();
        view = m_combo->view();
    }
    const int row = pick == Pick::DropDownClick ? 1 : 0;
    if (pick == Pick::DropDownClick || pick == Pick::CompletionClick)
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(row, 0)).center());
    else
        press(Qt::Key_Down);
    if (pick == Pick::CompletionKeys)
        press(Qt::Key_Return);
    QCOMPARE(m_combo->text(), picked);
    QVERIFY(!edited.isEmpty());
    QCOMPARE(reported(edited).last(), picked);
    QCOMPARE(m_combo->itemText(m_combo->currentIndex()), picked);
}

void tst_ComboBox::changesFromElsewhereAreNotEdits_data()
{
    QTest::addColumn<bool>("typed"); // else set from elsewhere
    QTest::addColumn<Change>("change");

    QTest::newRow("set, focus passes through") << false << Change::FocusPasses;
    QTest::newRow("set, list shrinks") << false << Change::ListShrinks;
    QTest::newRow("typed, list shrinks") << true << Change::ListShrinks;
    QTest::newRow("typed, list shrank, stale index") << true << Change::StaleIndex;
}

void tst_ComboBox::changesFromElsewhereAreNotEdits()
{
    QFETCH(bool, typed);
    QFETCH(Change, change);

    const QString text = u"甲公司"_s;
    m_combo->setItems({u"乙公司"_s, text, u"丙公司"_s});
    QSignalSpy edited(m_combo, &ComboBox::textEdited);
    if (typed)
        typeText(m_combo, text);
    else
        m_combo->setText(text);
    QCOMPARE(edited.size(), typed ? 1 : 0);
    edited.clear();
    if (change == Change::FocusPasses) {
        m_combo->setFocus();
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_other);
    } else {
        m_combo->setItems({text});
    }
    if (change == Change::StaleIndex)
        Q_EMIT m_combo->activated(2);
    QCOMPARE(m_combo->text(), text);
    QCOMPARE(reported(edited), QStringList());
}

void tst_ComboBox::clickElsewhereLeavesTheCompletion_data()
{
    QTest::addColumn<bool>("throughWindow");
    // As the window system sends it: to the window, which hands it to the open popup.
    QTest::newRow("press routed by the window") << true;
    QTest::newRow("press straight to the field") << false;
}

void tst_ComboBox::clickElsewhereLeavesTheCompletion()
{
    QFETCH(bool, throughWindow);

    m_combo->setItems({u"甲公司"_s, u"乙公司"_s});
    typeText(m_combo, u"甲"_s);
    QTRY_VERIFY(completion()->isVisible());
    const QPoint center = m_other->rect().center();
    if (throughWindow)
        QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {},
                          m_other->mapTo(m_window.get(), center));
    else
        QTest::mouseClick(m_other, Qt::LeftButton, {}, center);
    // One click: the popup is gone (an open one takes the keys) and the focus moved.
    QTRY_VERIFY(!completion()->isVisible());
    QCOMPARE(QApplication::focusWidget(), m_other);
    QTest::keyClicks(QApplication::focusWidget(), u"xy"_s);
    QCOMPARE(m_other->text(), u"xy"_s);
    QCOMPARE(m_combo->text(), u"甲"_s);
}

void tst_ComboBox::dropDownOpensOnTheTypedText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("highlighted"); // -1: none
    QTest::addColumn<QString>("afterDown"); // picked with Down, Return
    QTest::newRow("an offered text") << u"乙公司"_s << 1 << u"丙公司"_s;
    QTest::newRow("a text not offered") << u"丁"_s << -1 << u"甲公司"_s;
    QTest::newRow("nothing") << QString() << -1 << u"甲公司"_s;
}

// Opened from the keyboard, the drop-down shows where Down goes from: the offered text
// equal to the one typed (which the box had not looked up yet), or none, and then Down
// goes to the first (it went to the second, past an unshown cursor on the first).
void tst_ComboBox::dropDownOpensOnTheTypedText()
{
    QFETCH(QString, typed);
    QFETCH(int, highlighted);
    QFETCH(QString, afterDown);
    m_combo->setItems({u"甲公司"_s, u"乙公司"_s, u"丙公司"_s});
    m_combo->setFocus();
    if (!typed.isEmpty()) {
        typeText(m_combo, typed);
        if (completion()->isVisible())
            press(Qt::Key_Escape);
        QVERIFY(!completion()->isVisible());
    }
    press(Qt::Key_F4);
    QAbstractItemView *view = m_combo->view();
    QTRY_VERIFY(view->isVisible());
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    QCOMPARE(selected.isEmpty() ? -1 : selected.first().row(), highlighted);
    QCOMPARE(m_combo->text(), typed);
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    QTRY_VERIFY(!view->isVisible());
    QCOMPARE(m_combo->text(), afterDown);
}

QTEST_MAIN(tst_ComboBox)
#include "tst_combobox.moc"
