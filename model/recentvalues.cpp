// SPDX-License-Identifier: GPL-3.0-or-later
#include "recentvalues.h"

#include "database.h"
#include "receiptbook.h"
#include "sqlitehelper.h"

#include <QSet>

using namespace Qt::StringLiterals;

RecentValues &RecentValues::shared()
{
    return SharedInstance<RecentValues>::get();
}

RecentValues::RecentValues()
    : RecentValues(ReceiptBook::shared())
{ }

RecentValues::RecentValues(ReceiptBook &book, QObject *parent)
    : QObject(parent)
    , m_book(book)
{
    // Every committed change, this program's or another desk's, and another book opened.
    connect(&book, &ReceiptBook::changed, this, &RecentValues::reload);
    connect(&book, &ReceiptBook::replaced, this, &RecentValues::reload);
    reload();
}

QString RecentValues::statement()
{
    // Newest as added to the book: the rowid is the table's own order on SQLite and an
    // indexed column on a server, so the read stops after receiptCount rows on both.
    return u"select payer, reason1, reason2, remark from tb_receipt where isDeleted <> 1 "
           u"order by rowid desc limit $1"_s;
}

void RecentValues::reload()
{
    std::unique_ptr<ResultSet> rows
        = m_book.connection().query(statement(), {QString::number(receiptCount)});
    if (!rows)
        return;
    std::array<QStringList, 4> values;
    std::array<QSet<QString>, 4> seen;
    while (rows->next()) {
        for (int field = 0; field < int(values.size()); ++field) {
            const QString text = rows->stringForColumnIndex(field).value_or(QString());
            if (text.isEmpty() || seen[field].contains(text))
                continue;
            seen[field].insert(text);
            values[field].append(text);
        }
    }
    if (rows->hasError() || values == m_values)
        return;
    m_values = values;
    Q_EMIT valuesChanged();
}

QStringList RecentValues::values(Field field) const
{
    return m_values.at(int(field));
}

QStringList RecentValues::offered(Field field, const QStringList &listed) const
{
    QSet<QString> held;
    for (const QString &text : listed)
        held.insert(text.normalized(QString::NormalizationForm_C));
    QStringList offered = listed;
    for (const QString &text : m_values.at(int(field))) {
        if (!held.contains(text.normalized(QString::NormalizationForm_C)))
            offered.append(text);
    }
    return offered;
}
