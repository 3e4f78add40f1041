// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock.h"

#include <QFile>

namespace {
QDateTime &pinned()
{
    static QDateTime moment;
    return moment;
}
} // namespace

QDateTime Clock::now()
{
    return pinned().isValid() ? pinned() : QDateTime::currentDateTime();
}

void Clock::pin(const QDateTime &moment)
{
    pinned() = moment;
}

void Clock::unpin()
{
    pinned() = QDateTime();
}

void Clock::cacheLocalTimeZone()
{
    if (qEnvironmentVariableIsEmpty("TZ") && QFile::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
}
