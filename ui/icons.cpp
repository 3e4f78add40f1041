// SPDX-License-Identifier: GPL-3.0-or-later
#include "icons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

using namespace Qt::StringLiterals;

namespace {
// The ink of the plain bundled pictures.
constexpr char plainInk[] = "#3c4043";

// Theme names for the icons whose meaning does not depend on their colour.
const QHash<QString, QString> &themeNames()
{
    static const QHash<QString, QString> names = {
        {u"plus"_s, u"list-add"_s},
        {u"printer.filled.and.paper"_s, u"document-print"_s},
        {u"square.and.pencil"_s, u"document-edit"_s},
        {u"trash"_s, u"edit-delete"_s},
        {u"sidebar.left"_s, u"sidebar-show"_s},
        {u"chart.line.uptrend.xyaxis"_s, u"office-chart-line"_s},
    };
    return names;
}
} // namespace

QIcon Icons::bundled(const QString &name)
{
    return QIcon(u":/icons/"_s + name + u".svg"_s);
}

QIcon Icons::icon(const QString &name)
{
    const QString themeName = themeNames().value(name);
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    return bundled(name);
}

QIcon Icons::coloured(const QString &name, const QColor &ink)
{
    QFile file(u":/icons/"_s + name + u".svg"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();
    svg.replace(plainInk, ink.name().toLatin1());
    QSvgRenderer renderer(svg);
    QIcon icon;
    // The sizes the buttons show it at (32, 35 under the pointer), doubled for high-dpi
    // screens, and the small ones of menus.
    for (const int size : {16, 24, 32, 35, 48, 64, 70}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
