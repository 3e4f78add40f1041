#include "clock.h"

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
