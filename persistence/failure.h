// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// How every layer tells a failure: a call that can fail returns false (or, for a read,
// nothing) and says why, in Chinese, in `QString *error`, its last parameter, when the
// caller gives one. Work that ends later tells the same text through a signal.
inline bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}
