// SPDX-License-Identifier: GPL-3.0-or-later
#include "contentview.h"

#include <QFileInfo>

#include "bookfile.h"

#include "bookmenu.h"
#include "icons.h"
#include "keyboard.h"
#include "preferences.h"
#include "sidebar.h"
#include "stores.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPointer>
#include <QThread>
#include <QToolBar>

using namespace Qt::StringLiterals;

namespace {

QPointer<ContentView> &waitingWindow()
{
    static QPointer<ContentView> window;
    return window;
}

void showWaiting(bool waiting)
{
    // A statement of a worker thread (a backup, a check) waits where nobody watches.
    if (QThread::currentThread() != qApp->thread())
        return;
    if (ContentView *window = waitingWindow())
        window->setWaiting(waiting);
}

} // namespace

ContentView::ContentView(QWidget *parent)
    : QMainWindow(parent)
{
    // Before any screen is built, so every screen finds the stores loaded, and in the
    // one order the stores are always created in.
    touchSharedStores();
    m_sidebar = new Sidebar(this);
    m_toggleSidebarAction = new QAction(Icons::icon(u"sidebar.left"_s), u"显示/隐藏侧边栏"_s, this);
    setObjectName(u"contentView"_s);
    setCentralWidget(m_sidebar);
    // Which book is open: a desk on a shared book must see that it is.
    setWindowTitle(BookFile::title() + u" - Quenta"_s);

    auto *toolBar = new QToolBar(this);
    toolBar->setObjectName(u"mainToolBar"_s);
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->toggleViewAction()->setVisible(false);
    toolBar->setIconSize(QSize(18, 18));
    m_toggleSidebarAction->setObjectName(u"toggleSidebarAction"_s);
    // Ctrl+B as in most editors with a side panel, F9 as in KDE's file managers; neither
    // is taken by a text field.
    const QList<QKeySequence> toggleKeys
        = {QKeySequence(Qt::CTRL | Qt::Key_B), QKeySequence(Qt::Key_F9)};
    m_toggleSidebarAction->setShortcuts(toggleKeys);
    m_toggleSidebarAction->setToolTip(Keyboard::toolTip(m_toggleSidebarAction->text(), toggleKeys));
    toolBar->addAction(m_toggleSidebarAction);
    addToolBar(Qt::TopToolBarArea, toolBar);
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(m_toggleSidebarAction, &QAction::triggered, this, &ContentView::toggleSidebar);

    new BookMenu(this);
    if (BookFile::isSharedByDesks()) {
        waitingWindow() = this;
        BookFile::setWaitNotice(&showWaiting);
    }

    resize(1200, 680);
    // Where the user left it last time, if that still fits a screen (restoreGeometry
    // moves a window from a screen that is gone).
    const QByteArray geometry
        = QByteArray::fromBase64(Preferences::value(u"windowGeometry"_s).toLatin1());
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void ContentView::closeEvent(QCloseEvent *event)
{
    Preferences::setValue(u"windowGeometry"_s, QString::fromLatin1(saveGeometry().toBase64()));
    QMainWindow::closeEvent(event);
}

void ContentView::toggleSidebar()
{
    QListWidget *list = m_sidebar->list();
    const bool show = !list->isVisibleTo(this);
    list->setVisible(show);
    // Brought back from the keyboard, the list is where the arrow keys should act next.
    if (show)
        list->setFocus(Qt::ShortcutFocusReason);
}

void ContentView::setBanner(const QString &text, QAction *action)
{
    if (!m_banner) {
        m_banner = new QToolBar(this);
        m_banner->setObjectName(u"banner"_s);
        m_banner->setMovable(false);
        m_banner->setFloatable(false);
        m_banner->toggleViewAction()->setVisible(false);
        m_bannerLabel = new QLabel(m_banner);
        m_bannerLabel->setObjectName(u"bannerLabel"_s);
        m_bannerLabel->setStyleSheet(u"QLabel { color: #a4262c; padding: 4px 8px; }"_s);
        m_bannerLabel->setAccessibleName(u"连接状态"_s);
        m_banner->addWidget(m_bannerLabel);
        addToolBarBreak(Qt::TopToolBarArea);
        addToolBar(Qt::TopToolBarArea, m_banner);
    }
    m_bannerLabel->setText(text);
    if (action != m_bannerAction) {
        if (m_bannerAction)
            m_banner->removeAction(m_bannerAction);
        m_bannerAction = action;
        if (action) {
            m_banner->addAction(action);
            if (QWidget *button = m_banner->widgetForAction(action))
                button->setObjectName(action->objectName() + u"Button"_s);
        }
    }
    m_banner->setVisible(!text.isEmpty());
}

void ContentView::showBrokenRecord(const QString &problem)
{
    if (!m_brokenRecord) {
        m_brokenRecord = new QToolBar(this);
        m_brokenRecord->setObjectName(u"brokenRecord"_s);
        m_brokenRecord->setMovable(false);
        m_brokenRecord->setFloatable(false);
        m_brokenRecord->toggleViewAction()->setVisible(false);
        m_brokenRecord->setStyleSheet(u"QToolBar { background: #a4262c; border: none; }"_s);
        auto *label = new QLabel(m_brokenRecord);
        label->setObjectName(u"brokenRecordLabel"_s);
        label->setStyleSheet(u"QLabel { color: white; padding: 4px 8px; }"_s);
        label->setAccessibleName(u"账本校验"_s);
        m_brokenRecord->addWidget(label);
        addToolBarBreak(Qt::TopToolBarArea);
        addToolBar(Qt::TopToolBarArea, m_brokenRecord);
    }
    m_brokenRecord->findChild<QLabel *>(u"brokenRecordLabel"_s)
        ->setText(u"账本校验未通过：%1。请检查这张收据的历史，并告知会计。"_s.arg(problem));
    m_brokenRecord->setVisible(true);
}

void ContentView::setWaiting(bool waiting)
{
    if (waiting) {
        if (!m_bannerBeforeWaiting) {
            m_bannerBeforeWaiting = m_bannerLabel ? m_bannerLabel->text() : QString();
            m_actionBeforeWaiting = m_bannerAction;
        }
        setBanner(u"正在等待其他电脑…"_s);
    } else {
        if (!m_bannerBeforeWaiting)
            return;
        setBanner(*m_bannerBeforeWaiting, m_actionBeforeWaiting);
        m_bannerBeforeWaiting.reset();
        m_actionBeforeWaiting = nullptr;
    }
    // Laid out and painted now, without running the event loop: its timers and sockets
    // would start other statements in the middle of this one.
    if (QLayout *mainLayout = layout())
        mainLayout->activate();
    repaint();
}
