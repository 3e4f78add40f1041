// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>

// The one source of "now" for the model. Tests pin it to a fixed moment so that date
// ranges, creation times and the first-of-month arithmetic can be checked on any day.
namespace Clock {
QDateTime now();
void pin(const QDateTime &moment);
void unpin();

// Call first thing in main(), before anything reads the time zone. While TZ is unset,
// glibc checks /etc/localtime again on every local-time conversion, and a list of
// 100,000 receipts converts 200,000 times; naming the same file in TZ lets it read the
// zone once. A change of the system time zone is then seen at the next start.
void cacheLocalTimeZone();
} // namespace Clock
