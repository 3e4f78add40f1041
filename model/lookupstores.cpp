// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookupstores.h"

#include "database.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

using namespace Qt::StringLiterals;

namespace {

QString &valueOf(LookupEntry &entry)
{
    return entry.content;
}
QString &valueOf(Account &account)
{
    return account.userName;
}
const QString &valueOf(const LookupEntry &entry)
{
    return entry.content;
}
const QString &valueOf(const Account &account)
{
    return account.userName;
}

// Reads the columns a record needs beyond id and value; column positions are found
// once per load.
struct ExtraColumns
{
    int password = -1, power = -1, status = -1;
};
ExtraColumns extraColumns(ResultSet &, const LookupEntry *)
{
    return {};
}
ExtraColumns extraColumns(ResultSet &resultSet, const Account *)
{
    return {resultSet.columnIndexForName(u"password"_s), resultSet.columnIndexForName(u"power"_s),
            resultSet.columnIndexForName(u"status"_s)};
}
void readExtras(LookupEntry &, const ResultSet &, const ExtraColumns &) { }
void readExtras(Account &account, const ResultSet &resultSet, const ExtraColumns &columns)
{
    account.password = resultSet.stringForColumnIndex(columns.password).value_or(QString());
    account.power = resultSet.stringForColumnIndex(columns.power).value_or(QString());
    account.status = resultSet.stringForColumnIndex(columns.status).value_or(QString());
}

LookupTable contentTable(const QString &table)
{
    return {table, u"content"_s, u"content"_s, 6};
}

} // namespace

LookupStoreBase::LookupStoreBase(LookupTable table)
    : m_table(std::move(table))
{ }

void LookupStoreBase::setItems(const QStringList &items)
{
    m_items = items;
    Q_EMIT itemsChanged();
}

QString LookupStoreBase::loadSql() const
{
    return u"select *\nfrom  "_s + m_table.table + u"\norder by "_s + m_table.valueColumn;
}

QString LookupStoreBase::insertSql(const QString &id, const QString &value) const
{
    return u"insert into "_s + m_table.table + u" (\n       id,\n       "_s + m_table.valueColumn
        + u"\n) values (\n      "_s + sqlQuote(id) + u",\n"_s
        + QString(m_table.insertValueIndent, u' ') + sqlQuote(value) + u"\n);"_s;
}

QString LookupStoreBase::updateSql(const QString &id, const QString &value) const
{
    // "where  id" is padded so that its "=" stands under the value column's "=".
    const QString idPadding(m_table.valueColumn.size() - 1, u' ');
    return u"update "_s + m_table.table + u"\nset    "_s + m_table.valueColumn + u" = "_s
        + sqlQuote(value) + u"\nwhere  id"_s + idPadding + u"= "_s + sqlQuote(id) + u";"_s;
}

bool LookupStoreBase::contains(const QString &value) const
{
    return SQLiteHelper::shared().exists(u"select count(*)\nfrom   "_s + m_table.table
                                         + u"\nwhere  "_s + m_table.valueColumn + u" = "_s
                                         + sqlQuote(value) + u";"_s);
}

bool LookupStoreBase::writeAndReload(const QString &sql)
{
    if (!SQLiteHelper::shared().write(sql))
        return false;
    load();
    return true;
}

bool LookupStoreBase::remove(const QSet<QString> &ids)
{
    if (ids.isEmpty())
        return false;
    // Single-quoted: a SQLite built without double-quoted string literals would read
    // "A" as a column name.
    return writeAndReload(u"delete from "_s + m_table.table + u"\nwhere  id in ("_s
                          + sqlQuoteList(ids) + u");"_s);
}

template<typename Record>
void LookupStore<Record>::load()
{
    // A list that cannot be read keeps what it showed (the reason is in the log).
    std::unique_ptr<ResultSet> resultSet = SQLiteHelper::shared().query(loadSql());
    if (!resultSet)
        return;

    const int idColumn = resultSet->columnIndexForName(u"id"_s);
    const int valueColumn = resultSet->columnIndexForName(m_table.loadColumn);
    const ExtraColumns extras = extraColumns(*resultSet, static_cast<Record *>(nullptr));
    QList<Record> datas;
    QStringList items;
    qint64 index = 0;
    while (resultSet->next()) {
        Record record;
        record.id = resultSet->stringForColumnIndex(idColumn).value_or(QString());
        record.index = ++index;
        valueOf(record) = resultSet->stringForColumnIndex(valueColumn).value_or(QString());
        readExtras(record, *resultSet, extras);
        items.append(valueOf(record));
        datas.append(std::move(record));
    }
    setDatas(datas);
    setItems(items);
}

template<typename Record>
bool LookupStore<Record>::insert(const Record &record)
{
    return writeAndReload(insertSql(record.id, valueOf(record)));
}

template<typename Record>
bool LookupStore<Record>::update(const Record &record)
{
    // An entry another program removed meanwhile is not renamed, and that is no success;
    // the list is read again so that it leaves the screen too.
    const bool written = SQLiteHelper::shared().write(updateSql(record.id, valueOf(record)),
                                                      SQLiteHelper::Changes::AtLeastOne);
    load();
    return written;
}

template class LookupStore<LookupEntry>;
template class LookupStore<Account>;

#define QUENTA_LOOKUP_STORE(Store, tableDescription)                                               \
    Store &Store::shared()                                                                         \
    {                                                                                              \
        return SharedInstance<Store>::get();                                                       \
    }                                                                                              \
    Store::Store()                                                                                 \
        : LookupStore(tableDescription)                                                            \
    {                                                                                              \
        load();                                                                                    \
    }

QUENTA_LOOKUP_STORE(PayerStore, contentTable(u"tb_payer"_s))
QUENTA_LOOKUP_STORE(Reason1Store, contentTable(u"tb_reason1"_s))
QUENTA_LOOKUP_STORE(Reason2Store, contentTable(u"tb_reason2"_s))
QUENTA_LOOKUP_STORE(RemarkStore, contentTable(u"tb_remark"_s))
QUENTA_LOOKUP_STORE(PaytypeStore, contentTable(u"tb_paytype"_s))
QUENTA_LOOKUP_STORE(AccountStore, (LookupTable {u"tb_account"_s, u"userName"_s, u"UserName"_s, 7}))
