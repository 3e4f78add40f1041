// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Drives the real window headless: a fresh database per test, the window built and
// shown as at start, and input sent the way the keyboard and mouse send it.

#include "appstore.h"
#include "contentview.h"
#include "messagebox.h"
#include "printaction.h"
#include "sidebar.h"
#include "stores.h"
#include "testsupport.h"
#include "toast.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

class WindowFixture
{
public:
    // The database is in place (and may be arranged) before the window is built.
    void start()
    {
        MessageBox::setTestAnswer(false);
        PrintAction::setFunction({});
        env = std::make_unique<TestEnvironment>();
        env->createDatabase();
    }
    void openWindow()
    {
        window = std::make_unique<ContentView>();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    // As at quitting and starting again: the stores are dropped and read afresh from
    // the database and the preferences.
    void restart()
    {
        window.reset();
        resetSharedStores();
        openWindow();
    }
    void stop()
    {
        window.reset();
        env.reset();
        PrintAction::setFunction({});
        MessageBox::setTestAnswer(std::nullopt);
    }

    template<typename T>
    T *find(const QString &name) const
    {
        T *child = window->findChild<T *>(name);
        if (!child)
            qWarning("no child named %s", qPrintable(name));
        return child;
    }
    QWidget *currentScreen() const { return window->sidebar()->currentScreen(); }
    QString currentRowText() const
    {
        QListWidgetItem *item = window->sidebar()->list()->currentItem();
        return item ? item->text() : QString();
    }
    void clickRow(const QString &title) const
    {
        QListWidget *list = window->sidebar()->list();
        const QList<QListWidgetItem *> items = list->findItems(title, Qt::MatchExactly);
        QVERIFY2(items.size() == 1, qPrintable(title));
        const QRect rect = list->visualItemRect(items.first());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    // The receipt table of the list on screen.
    QTableView *receiptTable() const
    {
        return currentScreen()->findChild<QTableView *>(QStringLiteral("receiptTableView"));
    }
    void clickTableRow(int row, Qt::KeyboardModifiers modifiers = {}) const
    {
        QTableView *table = receiptTable();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers,
                          table->visualRect(table->model()->index(row, 0)).center());
    }
    // Shows a receipt list and answers how many rows it has.
    int listedRows(const QString &title) const
    {
        clickRow(title);
        return receiptTable()->model()->rowCount();
    }

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ContentView> window;
};

// Replaces a field's text as typing does (textEdited fires, the validator judges it),
// for any text, Chinese included, which QTest::keyClicks cannot send.
inline void typeText(QLineEdit *lineEdit, const QString &text)
{
    lineEdit->setFocus();
    lineEdit->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(lineEdit, Qt::Key_Backspace);
        return;
    }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QCoreApplication::sendEvent(lineEdit, &press);
}

inline void typeText(QComboBox *comboBox, const QString &text)
{
    typeText(comboBox->lineEdit(), text);
}

// Picks an entry of a pop-up picker with the keyboard, as a user does.
inline void pick(QComboBox *picker, const QString &text)
{
    const int wanted = picker->findText(text);
    QVERIFY2(wanted >= 0, qPrintable(text));
    picker->setFocus();
    while (picker->currentIndex() < wanted)
        QTest::keyClick(picker, Qt::Key_Down);
    while (picker->currentIndex() > wanted)
        QTest::keyClick(picker, Qt::Key_Up);
}

inline Toast *errorToast(QWidget *screen)
{
    return screen->findChild<Toast *>(QStringLiteral("errorToast"));
}

// Runs `answer` on the modal window of type T once it is up, from the event loop of
// whichever dialog is running then.
template<typename T>
void whenModal(QObject *context, std::function<void(T *)> answer)
{
    auto *timer = new QTimer(context);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, context, [timer, answer] {
        if (auto *modal = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start();
}

// The lines of the labels in `window` that their label breaks: a line of a few dozen
// characters is meant to be read whole, and one broken in a Chinese word reads wrong.
inline QStringList brokenLabelLines(const QWidget *window)
{
    QStringList broken;
    for (const QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->isVisible())
            continue;
        const QFontMetrics metrics(label->font());
        const int width = label->contentsRect().width() - 2 * label->margin();
        for (const QString &line : label->text().split(u'\n')) {
            if (metrics.horizontalAdvance(line) > width)
                broken.append(line);
        }
    }
    return broken;
}
