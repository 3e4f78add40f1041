// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>

#include <optional>

// The amount a stored total text stands for, read strictly: a plain decimal number
// ("12.5", "100.0", "-3") that a double holds exactly as written. Anything else
// ("1,234.50", "NaN", "1e400", "¥88.00", 25 significant digits, an empty or missing
// value) gives nothing, so that the program shows it as it is stored and never writes
// back a value it could not read.
std::optional<double> readStoredAmount(QByteArrayView text);
