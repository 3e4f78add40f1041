// SPDX-License-Identifier: GPL-3.0-or-later
#include "recentvalues.h"

#include "receipt.h"
#include "receiptbook.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace {

constexpr int fieldCount = RecentValues::fieldCount;

QString composed(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C);
}

// `rows` of texts (in the order of RecentValues::Field), newest first, as one distinct
// list of each field, empty texts left out.
std::array<QStringList, fieldCount> distinctTexts(const QList<QStringList> &rows)
{
    std::array<QStringList, fieldCount> values;
    std::array<QSet<QString>, fieldCount> seen;
    for (const QStringList &row : rows) {
        for (int field = 0; field < fieldCount && field < row.size(); ++field) {
            const QString &text = row.at(field);
            if (text.isEmpty())
                continue;
            const QString key = composed(text);
            if (seen[field].contains(key))
                continue;
            seen[field].insert(key);
            values[field].append(text);
        }
    }
    return values;
}

} // namespace

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
    // Another book's texts are not this one's: dropped, and read again from the one open
    // now. (Saves, this program's or another desk's, do not read: see remember().)
    connect(&book, &ReceiptBook::replaced, this, [this] {
        setValues({});
        reload();
    });
}

void RecentValues::reload()
{
    const std::optional<QList<QStringList>> rows = m_book.recentFormTexts(receiptCount);
    if (rows)
        setValues(distinctTexts(*rows));
}

void RecentValues::remember(const Receipt &receipt)
{
    const QString typed[fieldCount]
        = {receipt.payer, receipt.reason1, receipt.reason2, receipt.remark};
    std::array<QStringList, fieldCount> values = m_values;
    for (int field = 0; field < fieldCount; ++field) {
        const QString &text = typed[field];
        if (text.isEmpty())
            continue;
        const QString key = composed(text);
        values[field].removeIf([&](const QString &held) { return composed(held) == key; });
        values[field].prepend(text);
    }
    setValues(values);
}

void RecentValues::setValues(const std::array<QStringList, fieldCount> &values)
{
    if (values == m_values)
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
        held.insert(composed(text));
    QStringList offered = listed;
    for (const QString &text : m_values.at(int(field))) {
        if (!held.contains(composed(text)))
            offered.append(text);
    }
    return offered;
}
