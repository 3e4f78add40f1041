// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The user's remembered form choices ("paytype", "payee", "approve", "accountant"),
// kept as text values in Quenta's per-user settings file.
namespace Preferences {
QString value(const QString &key);
void setValue(const QString &key, const QString &value);
} // namespace Preferences
