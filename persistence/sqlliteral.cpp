#include "sqlliteral.h"

QString sqlQuote(const QString &value)
{
    QString literal;
    literal.reserve(value.size() + 2);
    literal += QLatin1Char('\'');
    for (const QChar c : value) {
        if (c == QLatin1Char('\''))
            literal += QLatin1Char('\'');
        literal += c;
    }
    literal += QLatin1Char('\'');
    return literal;
}
