// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The one way user text enters an SQL statement: as a single-quoted literal with each
// quote inside doubled, so 王's 店 or "'); drop table tb_receipt; --" is stored exactly as
// typed. sqlQuote(u"a'b") gives 'a''b'. A NUL character, which cannot stand inside the
// statement text, is spliced in as char(0).
QString sqlQuote(const QString &value);

// A comma-and-space separated list of quoted literals, for "where id in (...)".
template<typename Container>
QString sqlQuoteList(const Container &values)
{
    QString list;
    for (const QString &value : values) {
        if (!list.isEmpty())
            list += QStringLiteral(", ");
        list += sqlQuote(value);
    }
    return list;
}
