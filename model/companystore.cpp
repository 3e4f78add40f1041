// SPDX-License-Identifier: GPL-3.0-or-later
#include "companystore.h"

#include "database.h"
#include "receiptbook.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace Qt::StringLiterals;

CompanyStore &CompanyStore::shared()
{
    return SharedInstance<CompanyStore>::get();
}

CompanyStore::CompanyStore()
{
    load();
}

void CompanyStore::setCompany(const Company &company)
{
    m_company = company;
    Q_EMIT companyChanged();
}

void CompanyStore::load()
{
    std::unique_ptr<ResultSet> resultSet
        = SQLiteHelper::shared().query(u"select *\nfrom  tb_company"_s);
    if (!resultSet)
        return;
    const int id = resultSet->columnIndexForName(u"id"_s);
    const int title = resultSet->columnIndexForName(u"title"_s);
    const int label = resultSet->columnIndexForName(u"label"_s);
    const int remark = resultSet->columnIndexForName(u"remark"_s);
    const auto text = [&](int column) {
        return resultSet->stringForColumnIndex(column).value_or(QString());
    };
    while (resultSet->next())
        setCompany({text(id), text(title), text(label), text(remark)});
}

bool CompanyStore::save()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    if (!helper.open() || !transaction.begin())
        return false;
    // What the user changed, as the book held it before, recorded with the change.
    QJsonObject changes;
    std::unique_ptr<ResultSet> before = helper.query(
        u"select title, label, remark from tb_company where id = $1"_s, {m_company.id});
    if (!before || !before->next())
        return false;
    const QString now[] = {m_company.title, m_company.label, m_company.remark};
    const QString labels[] = {u"收据抬头"_s, u"右侧标签"_s, u"固定备注"_s};
    for (int i = 0; i < 3; ++i) {
        const QString was = before->stringForColumnIndex(i).value_or(QString());
        if (was != now[i])
            changes.insert(labels[i], QJsonArray {was, now[i]});
    }
    before.reset();
    const QString sql = u"update tb_company\nset    title    = "_s + sqlQuote(m_company.title)
        + u",\n       label    = "_s + sqlQuote(m_company.label) + u",\n       remark   = "_s
        + sqlQuote(m_company.remark) + u"\nwhere  id       = "_s + sqlQuote(m_company.id) + u";"_s;
    // A header row that is not there is not saved to: that is a failure, not a success.
    return helper.write(sql, SQLiteHelper::Changes::AtLeastOne)
        && ReceiptBook::shared().recordSetting(u"收据抬头"_s, changes) && transaction.commit();
}
