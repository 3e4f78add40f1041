// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidebar.h"

#include "addview.h"
#include "appstore.h"
#include "icons.h"
#include "listview.h"
#include "lookupeditorview.h"
#include "messagebox.h"
#include "preferences.h"
#include "settingsscreens.h"
#include "statisticsview.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QStackedWidget>

using namespace Qt::StringLiterals;

namespace {

// The user guide, installed beside the program (share/doc/quenta) or, when run from a
// build folder inside the checkout, the checkout's own README.
QUrl userGuideUrl()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        appDir + u"/../share/doc/quenta/README.md"_s,
        appDir + u"/../../README.md"_s,
    };
    for (const QString &candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return QUrl::fromLocalFile(QDir::cleanPath(candidate));
    }
    return QUrl::fromLocalFile(QDir::cleanPath(candidates.first()));
}

} // namespace

Sidebar::Sidebar(QWidget *parent)
    : QWidget(parent)
    , m_store(AppStore::shared())
    , m_list(new QListWidget(this))
    , m_detail(new QStackedWidget(this))
    , m_emptyScreen(new QWidget(m_detail))
{
    m_list->setObjectName(u"sidebarList"_s);
    m_list->setAccessibleName(u"导航"_s);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setMinimumWidth(50);
    m_list->setIconSize(QSize(16, 16));
    m_list->setFrameShape(QFrame::NoFrame);
    // Without a frame the list would not show that it has the focus: a highlight-coloured
    // edge does.
    m_list->setStyleSheet(u"QListWidget#sidebarList { background: palette(window); "
                          u"border: 2px solid transparent; }"
                          u"QListWidget#sidebarList:focus { border-color: palette(highlight); }"
                          u"QListWidget#sidebarList::item { padding: 3px 4px; }"_s);
    m_detail->setObjectName(u"detailStack"_s);
    m_detail->addWidget(m_emptyScreen);

    // Every screen is built here, once: each list row keeps its own list screen (with
    // its own pickers) for the life of the window.
    addSection(u"收据管理"_s);
    addMenuRow(u"开单"_s, u"plus"_s, NavigationItem::add, new AddView(m_detail));
    const QString chart = u"chart.line.uptrend.xyaxis"_s;
    addMenuRow(u"今天收据"_s, chart, NavigationItem::stat_today, new ListView(m_detail));
    addMenuRow(u"昨天收据"_s, chart, NavigationItem::stat_yesterday, new ListView(m_detail));
    addMenuRow(u"本月收据"_s, chart, NavigationItem::stat_month, new ListView(m_detail));
    addMenuRow(u"今年收据"_s, chart, NavigationItem::stat_year, new ListView(m_detail));
    addMenuRow(u"全部收据"_s, chart, NavigationItem::stat_all, new ListView(m_detail));
    addPlainScreenRow(u"收据统计"_s, chart, new StatisticsView(m_detail));

    addSection(u"基本设置"_s);
    const struct
    {
        const char16_t *title;
        NavigationItem item;
    } settingsRows[] = {
        {u"交款单位", NavigationItem::settings_payer},
        {u"收款事由", NavigationItem::settings_reason1},
        {u"其它说明", NavigationItem::settings_reason2},
        {u"备注信息", NavigationItem::settings_remark},
        {u"收据抬头", NavigationItem::settings_company},
        {u"收据单号", NavigationItem::settings_receiptNo},
        {u"收款方式", NavigationItem::settings_paytype},
        {u"系统用户", NavigationItem::settings_account},
    };
    for (const auto &row : settingsRows) {
        QWidget *screen = createSettingsScreen(row.item, m_detail);
        addMenuRow(QString::fromUtf16(row.title), u"number"_s, row.item,
                   screen ? screen : new QWidget(m_detail));
    }

    addSection(u"关于"_s);
    addLinkRow(u"视频教程"_s, u"videoTutorialUrl"_s);
    addLinkRow(u"官方网站"_s, u"websiteUrl"_s);

    auto *splitter = new QSplitter(this);
    splitter->setObjectName(u"sidebarSplitter"_s);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_list);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({m_list->sizeHintForColumn(0) + 24, 1000});
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    connect(m_list, &QListWidget::currentItemChanged, this, &Sidebar::onCurrentItemChanged);
    connect(m_list, &QListWidget::itemClicked, this, &Sidebar::onItemClicked);
    m_list->installEventFilter(this);
    connect(&m_store, &AppStore::selectionNavChanged, this, &Sidebar::showDestination);
    showDestination();
}

void Sidebar::addSection(const QString &title)
{
    auto *item = new QListWidgetItem(title, m_list);
    item->setFlags(Qt::NoItemFlags);
    QFont font = m_list->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.9);
    item->setFont(font);
    item->setForeground(m_list->palette().color(QPalette::PlaceholderText));
    if (m_list->count() > 1)
        item->setSizeHint(QSize(0, m_list->fontMetrics().height() * 2 + 4));
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignBottom);
}

void Sidebar::addMenuRow(const QString &title, const QString &icon, NavigationItem navItem,
                         QWidget *screen)
{
    auto *item = new QListWidgetItem(Icons::icon(icon), title, m_list);
    item->setData(NavigationRole, QVariant::fromValue(int(navItem)));
    m_detail->addWidget(screen);
    m_screens.insert(navItem, screen);
    m_rows.insert(navItem, item);
}

void Sidebar::addPlainScreenRow(const QString &title, const QString &icon, QWidget *screen)
{
    auto *item = new QListWidgetItem(Icons::icon(icon), title, m_list);
    item->setData(PlainScreenRole, true);
    m_detail->addWidget(screen);
    m_plainScreens.insert(item, screen);
}

void Sidebar::addLinkRow(const QString &title, const QString &key)
{
    auto *item = new QListWidgetItem(Icons::icon(u"number"_s), title, m_list);
    // Clickable but never selected: opening a page in the browser leaves the window on
    // the screen it shows.
    item->setFlags(Qt::ItemIsEnabled);
    item->setData(LinkRole, key);
    item->setForeground(m_list->palette().color(QPalette::WindowText));
    item->setToolTip(linkUrl(key).toString());
}

QUrl Sidebar::linkUrl(const QString &key)
{
    const QString configured = Preferences::value(key);
    if (!configured.isEmpty())
        return QUrl::fromUserInput(configured);
    return userGuideUrl();
}

bool Sidebar::eventFilter(QObject *watched, QEvent *event)
{
    // The arrow keys reach a link row but a click opens it; Return, Enter and Space open
    // it from the keyboard. Not itemActivated: a double-click also sends that, after the
    // click that has already opened the page.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        QListWidgetItem *item = m_list->currentItem();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && item
            && item->data(LinkRole).isValid()) {
            onItemClicked(item);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QWidget *Sidebar::currentScreen() const
{
    return m_detail->currentWidget();
}

void Sidebar::onCurrentItemChanged(QListWidgetItem *item)
{
    if (m_showingDestination || !item)
        return;
    if (item->data(PlainScreenRole).isValid()) {
        m_plainRow = item;
        if (m_store.selectionNav())
            m_store.setSelectionNav(std::nullopt); // shows it
        else
            showDestination();
        return;
    }
    if (!item->data(NavigationRole).isValid())
        return;
    m_store.setSelectionNav(NavigationItem(item->data(NavigationRole).toInt()));
}

void Sidebar::onItemClicked(QListWidgetItem *item)
{
    // A click on 开单 is for a receipt: typing goes where one begins. The arrow keys pass
    // the row on their way and leave the keyboard in the list.
    if (item && item->data(NavigationRole).isValid()
        && NavigationItem(item->data(NavigationRole).toInt()) == NavigationItem::add) {
        if (auto *form = qobject_cast<AddView *>(m_screens.value(NavigationItem::add)))
            form->focusFirstField();
        return;
    }
    const QString key = item ? item->data(LinkRole).toString() : QString();
    if (key.isEmpty())
        return;
    const QUrl url = linkUrl(key);
    // The click made the link the list's current row; the screen shown has not changed.
    showDestination();
    // Without a browser (or a desktop that can start one) the page cannot open: the
    // address is given instead, to be copied, not left on the console.
    if (!QDesktopServices::openUrl(url)) {
        MessageBox::information(
            this, item->text(),
            u"无法打开浏览器。请在浏览器中打开这个地址：\n%1"_s.arg(url.toString()));
    }
}

void Sidebar::showDestination()
{
    const std::optional<NavigationItem> destination = m_store.selectionNav();
    // Any destination leaves the plain screen; only its own row brings it back.
    if (destination)
        m_plainRow = nullptr;
    QListWidgetItem *row = destination ? m_rows.value(*destination) : m_plainRow;
    QWidget *previous = m_detail->currentWidget();
    QWidget *focus = QApplication::focusWidget();
    const bool focusWasOnScreen = previous && focus && previous->isAncestorOf(focus);
    m_showingDestination = true;
    if (row) {
        m_list->setCurrentItem(row);
    } else {
        m_list->setCurrentItem(nullptr);
        m_list->clearSelection();
    }
    m_showingDestination = false;
    QWidget *screen
        = destination ? m_screens.value(*destination) : m_plainScreens.value(m_plainRow);
    m_detail->setCurrentWidget(screen ? screen : m_emptyScreen);
    // A screen that sends the window on (修改 to the form, the form back to its list)
    // hands the keyboard to where the work goes on there. Left to Qt it would go to the
    // first field of the new screen (the list's 起始时间) or past it to this list.
    if (focusWasOnScreen && screen && screen != previous) {
        if (auto *list = qobject_cast<ListView *>(screen))
            list->focusTable();
        else if (auto *form = qobject_cast<AddView *>(screen))
            form->focusFirstField();
        else if (auto *lookupList = qobject_cast<LookupEditorView *>(screen))
            lookupList->focusField();
    }
}
