// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

#include <optional>

class QAction;
class QLabel;
class QToolBar;
class Sidebar;

// The application's one window: the sidebar with its screens, and a toolbar button that
// hides and shows the sidebar list. Building it creates the shared stores in their
// start-up order, so the first screens find them loaded.
class ContentView : public QMainWindow
{
    Q_OBJECT

public:
    explicit ContentView(QWidget *parent = nullptr);

    Sidebar *sidebar() const { return m_sidebar; }
    void toggleSidebar();
    // A line across the top of the window ("共享账本连接中断：…"), with `action` as a button
    // beside it when given; empty hides it.
    void setBanner(const QString &text, QAction *action = nullptr);
    // "正在等待其他电脑…" over the banner while a statement waits for another desk, drawn at
    // once: the window's thread is inside the statement, and its events wait with it.
    void setWaiting(bool waiting);
    // A red line under the banner that stays while the window is open: the book's record
    // does not prove it ("No.0000003 与记录不符：…"). Work goes on; the break stays provable.
    void showBrokenRecord(const QString &problem);

protected:
    // Remembers the window's size and place for the next start.
    void closeEvent(QCloseEvent *event) override;

private:
    Sidebar *m_sidebar = nullptr;
    QAction *m_toggleSidebarAction = nullptr;
    QToolBar *m_banner = nullptr;
    QToolBar *m_brokenRecord = nullptr;
    QLabel *m_bannerLabel = nullptr;
    QAction *m_bannerAction = nullptr;
    std::optional<QString> m_bannerBeforeWaiting;
    QAction *m_actionBeforeWaiting = nullptr;
};
