// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sharedinstance.h"

#include <QObject>
#include <QString>

// The receipt header: title, the label printed down the right-hand side and a fixed
// remark. One row of tb_company, which comes with the template.
struct Company
{
    QString id;
    QString title;
    QString label;
    QString remark;
    friend bool operator==(const Company &, const Company &) = default;
};

// Holds the receipt header for the print layout and the header settings screen.
// Edits change `company` at once (the next print shows them); save() makes them last.
class CompanyStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Company company READ company WRITE setCompany NOTIFY companyChanged)

public:
    static CompanyStore &shared();

    Company company() const { return m_company; }
    void setCompany(const Company &company);

    void load();
    bool save();

Q_SIGNALS:
    void companyChanged();

private:
    friend class SharedInstance<CompanyStore>;
    CompanyStore();

    Company m_company;
};
