// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QHash>
#include <QUrl>
#include <QWidget>

class AppStore;
class QListWidget;
class QListWidgetItem;
class QStackedWidget;

// The window's navigation: the sidebar list ("收据管理", "基本设置", "关于") beside the
// detail area that shows the chosen screen. The list's selection and
// AppStore::selectionNav follow each other, so any screen can switch the window by
// assigning the destination. Builds every screen once and keeps it.
class Sidebar : public QWidget
{
    Q_OBJECT

public:
    // Row data: the NavigationItem of a menu row, or the settings key of a link row.
    static constexpr int NavigationRole = Qt::UserRole + 1;
    static constexpr int LinkRole = Qt::UserRole + 2;
    // Row data of a screen reached without a NavigationItem (收据统计): set on its row.
    static constexpr int PlainScreenRole = Qt::UserRole + 3;

    explicit Sidebar(QWidget *parent);

    QListWidget *list() const { return m_list; }
    // The screen a destination shows, or nullptr for one without a row.
    QWidget *screen(NavigationItem item) const { return m_screens.value(item); }
    QWidget *currentScreen() const;

    // The addresses of the two link rows: the preference of that key when set, else
    // the installed user guide.
    static QUrl linkUrl(const QString &key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void addSection(const QString &title);
    void addMenuRow(const QString &title, const QString &icon, NavigationItem item,
                    QWidget *screen);
    void addLinkRow(const QString &title, const QString &key);
    // A row whose screen no other screen switches to, so it needs no destination of its
    // own: while it is shown AppStore::selectionNav is empty.
    void addPlainScreenRow(const QString &title, const QString &icon, QWidget *screen);
    void onCurrentItemChanged(QListWidgetItem *item);
    void onItemClicked(QListWidgetItem *item);
    void showDestination();

    AppStore &m_store;
    QListWidget *m_list;
    QStackedWidget *m_detail;
    QWidget *m_emptyScreen;
    QHash<NavigationItem, QWidget *> m_screens;
    QHash<NavigationItem, QListWidgetItem *> m_rows;
    QHash<QListWidgetItem *, QWidget *> m_plainScreens;
    // The plain screen row chosen last, shown while there is no destination.
    QListWidgetItem *m_plainRow = nullptr;
    bool m_showingDestination = false;
};
