// SPDX-License-Identifier: GPL-3.0-or-later
#include "companystore.h"

#include "database.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

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
    const QString sql = u"update tb_company\nset    title    = "_s + sqlQuote(m_company.title)
        + u",\n       label    = "_s + sqlQuote(m_company.label) + u",\n       remark   = "_s
        + sqlQuote(m_company.remark) + u"\nwhere  id       = "_s + sqlQuote(m_company.id) + u";"_s;
    // A header row that is not there is not saved to: that is a failure, not a success.
    return SQLiteHelper::shared().write(sql, SQLiteHelper::Changes::AtLeastOne);
}
