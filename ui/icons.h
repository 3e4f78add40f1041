// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
} // namespace Icons
