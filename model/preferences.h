// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Text values kept in Quenta's per-user settings file. The print settings and the form's
// remembered choices are read and written through PrintSettings, which holds their keys.
namespace Preferences {
QString value(const QString &key);
void setValue(const QString &key, const QString &value);
void remove(const QString &key);
} // namespace Preferences
