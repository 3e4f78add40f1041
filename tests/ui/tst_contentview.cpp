// SPDX-License-Identifier: GPL-3.0-or-later
#include "addview.h"
#include "listview.h"
#include "preferences.h"
#include "startup.h"
#include "uitesthelpers.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>

using namespace Qt::StringLiterals;

// Catches the addresses the sidebar's links open, instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

// The window as a whole: start-up, the sidebar and its binding to the navigation state.
class tst_ContentView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m.start(); }
    void cleanup() { m.stop(); }

    void sidebarAndNavigationFollowEachOther();
    void linksOpenConfiguredAddresses();
    void windowSizeIsRemembered();
    void focusStartsInTheFormAndShowsInTheSidebar();
    void waitingForAnotherDeskIsShownAtOnce();

private:
    WindowFixture m;
};

void tst_ContentView::sidebarAndNavigationFollowEachOther()
{
    m.openWindow();
    AppStore &store = AppStore::shared();
    QCOMPARE(m.currentRowText(), u"开单"_s);
    QVERIFY(qobject_cast<AddView *>(m.currentScreen()));

    m.clickRow(u"收据抬头"_s);
    QCOMPARE(store.selectionNav(), NavigationItem::settings_company);
    QCOMPARE(m.currentScreen(), m.window->sidebar()->screen(NavigationItem::settings_company));

    store.setSelectionNav(NavigationItem::stat_year);
    QCOMPARE(m.currentRowText(), u"今年收据"_s);
    QCOMPARE(m.currentScreen(), m.window->sidebar()->screen(NavigationItem::stat_year));

    // Destinations without a row: nothing selected, an empty detail area.
    for (std::optional<NavigationItem> item :
         {std::optional(NavigationItem::settings_dictionary), std::optional<NavigationItem>()}) {
        store.setSelectionNav(item);
        QCOMPARE(m.window->sidebar()->list()->selectedItems().size(), 0);
        QVERIFY(!qobject_cast<ListView *>(m.currentScreen()));
        QVERIFY(!qobject_cast<AddView *>(m.currentScreen()));
    }
    m.clickRow(u"开单"_s);
    QCOMPARE(store.selectionNav(), NavigationItem::add);

    // A section header takes no click.
    m.clickRow(u"基本设置"_s);
    QCOMPARE(store.selectionNav(), NavigationItem::add);
    QCOMPARE(m.currentRowText(), u"开单"_s);
}

void tst_ContentView::linksOpenConfiguredAddresses()
{
    Preferences::setValue(u"videoTutorialUrl"_s, u"https://example.org/tutorial"_s);
    m.openWindow();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
    QDesktopServices::setUrlHandler(u"file"_s, &catcher, "open");
    m.clickRow(u"视频教程"_s);
    // From the keyboard: the arrow keys reach a link row, Return opens it.
    QListWidget *list = m.window->sidebar()->list();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(list->currentItem()->text(), u"官方网站"_s);
    QTest::keyClick(list, Qt::Key_Return);
    QDesktopServices::unsetUrlHandler(u"https"_s);
    QDesktopServices::unsetUrlHandler(u"file"_s);

    QCOMPARE(catcher.urls.size(), 2);
    QCOMPARE(catcher.urls.at(0), QUrl(u"https://example.org/tutorial"_s));
    // Not configured: the user guide that comes with the program.
    QVERIFY(catcher.urls.at(1).isLocalFile() && catcher.urls.at(1).path().endsWith(u"README.md"_s));
    // Opening a page leaves the window where it was.
    QCOMPARE(m.currentRowText(), u"开单"_s);
}

void tst_ContentView::windowSizeIsRemembered()
{
    m.openWindow();
    m.window->resize(1300, 730);
    m.window->close();
    m.restart();
    QCOMPARE(m.window->size(), QSize(1300, 730));

    // No browser to open a page with: the address is given, not left on the console.
    Preferences::setValue(u"videoTutorialUrl"_s, u"https://example.org/tutorial"_s);
    m.clickRow(u"视频教程"_s);
    QVERIFY2(MessageBox::lastText().contains(u"https://example.org/tutorial"_s),
             qPrintable(MessageBox::lastText()));
}

// At start typing goes into 交款单位; the sidebar, drawn without a frame, shows when it
// has the focus.
void tst_ContentView::focusStartsInTheFormAndShowsInTheSidebar()
{
    m.openWindow();
    QWidget *payer = m.find<QWidget>(u"payerComboBox"_s);
    QVERIFY(payer->hasFocus() || payer->isAncestorOf(QApplication::focusWidget()));
    QListWidget *list = m.window->sidebar()->list();
    const QImage before = list->grab().toImage();
    list->setFocus(Qt::TabFocusReason);
    QVERIFY(list->hasFocus());
    QVERIFY(list->grab().toImage() != before);
}

// A statement waiting for another desk holds the window's thread: the notice is laid out
// and painted at once, without the event loop, and the banner it covered comes back.
void tst_ContentView::waitingForAnotherDeskIsShownAtOnce()
{
    m.openWindow();
    m.window->setBanner(u"共享账本连接中断：服务器没有运行"_s);
    QCoreApplication::processEvents();
    auto *banner = m.find<QLabel>(u"bannerLabel"_s);
    m.window->setWaiting(true);
    // No event processed in between.
    QCOMPARE(banner->text(), u"正在等待其他电脑…"_s);
    QVERIFY(banner->isVisible());
    QVERIFY(banner->width() > 0);
    m.window->setWaiting(false);
    QCOMPARE(banner->text(), u"共享账本连接中断：服务器没有运行"_s);
    m.window->setBanner({});
    m.window->setWaiting(true);
    m.window->setWaiting(false);
    QVERIFY(!banner->isVisible());
}

QTEST_MAIN(tst_ContentView)
#include "tst_contentview.moc"
