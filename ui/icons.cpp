// SPDX-License-Identifier: GPL-3.0-or-later
#include "icons.h"

#include <QHash>

using namespace Qt::StringLiterals;

namespace {
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
