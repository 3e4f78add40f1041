// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// Icons by the names the screens use ("plus", "trash", "printer.filled.and.paper", …).
// Plain glyphs come from the desktop's freedesktop icon theme when it has them; the
// coloured ones (blue add, red cancel, green tick) and anything the theme lacks come
// from small SVGs bundled with the program, so every icon shows on any desktop.
namespace Icons {
QIcon icon(const QString &name);
// The bundled picture alone, without looking at the theme.
QIcon bundled(const QString &name);
// The bundled picture of a plain (grey) icon with its ink in `ink`: the entry form draws
// its printer with paper in the blue of its round buttons.
QIcon coloured(const QString &name, const QColor &ink);
// The blue of the round action buttons (增加, 保存修改), as their pictures draw it.
inline constexpr QRgb actionBlue = 0x1a73e8;
} // namespace Icons
