// SPDX-License-Identifier: GPL-3.0-or-later
#include "sqlliteral.h"

QString sqlQuote(const QString &value)
{
    QString literal;
    literal.reserve(value.size() + 2);
    literal += QLatin1Char('\'');
    for (const QChar c : value) {
        if (c == QLatin1Char('\'')) {
            literal += QLatin1Char('\'');
        } else if (c.unicode() == 0) {
            // The statement text goes to SQLite as a C string, which a NUL would cut
            // short; splice the character in instead so the value is stored whole.
            literal += QLatin1String("' || char(0) || '");
            continue;
        }
        literal += c;
    }
    literal += QLatin1Char('\'');
    return literal;
}
