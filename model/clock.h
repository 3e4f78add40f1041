#pragma once

#include <QDateTime>

// The one source of "now" for the model. Tests pin it to a fixed moment so that date
// ranges, creation times and the first-of-month arithmetic can be checked on any day.
namespace Clock {
QDateTime now();
void pin(const QDateTime &moment);
void unpin();
} // namespace Clock
