// SPDX-License-Identifier: GPL-3.0-or-later
#include "preferences.h"

#include <QSettings>
#include <QStandardPaths>

namespace {
QSettings settings()
{
    // An explicit file under the config location (rather than the organisation-name
    // default) keeps the file in one known place, and under QStandardPaths' test mode.
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Quenta/Quenta.conf");
    return QSettings(path, QSettings::IniFormat);
}
} // namespace

QString Preferences::value(const QString &key)
{
    return settings().value(key).toString();
}

void Preferences::setValue(const QString &key, const QString &value)
{
    QSettings store = settings();
    store.setValue(key, value);
    store.sync();
}

void Preferences::remove(const QString &key)
{
    QSettings store = settings();
    store.remove(key);
    store.sync();
}
