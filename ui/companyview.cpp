// SPDX-License-Identifier: GPL-3.0-or-later
#include "companyview.h"

#include "companystore.h"
#include "keyboard.h"
#include "settingsscreen.h"
#include "toast.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// Writes one field of the header back to the store; the store publishes the whole record.
void editCompany(QString Company::*field, const QString &text)
{
    CompanyStore &store = CompanyStore::shared();
    Company company = store.company();
    company.*field = text;
    store.setCompany(company);
}

} // namespace

CompanyView::CompanyView(QWidget *parent)
    : QWidget(parent)
    , m_saveButton(
          SettingsScreen::createButton(u"square.and.pencil"_s, u"修改"_s, u"saveButton"_s, this))
    , m_titleLineEdit(new QLineEdit(this))
    , m_labelLineEdit(new QLineEdit(this))
    , m_remarkLineEdit(new QLineEdit(this))
    , m_successToast(new Toast(Toast::Kind::Success, SettingsScreen::toastDuration, this))
    , m_errorToast(new Toast(Toast::Kind::Error, SettingsScreen::toastDuration, this))
{
    setObjectName(u"CompanyView"_s);
    m_titleLineEdit->setObjectName(u"titleLineEdit"_s);
    m_labelLineEdit->setObjectName(u"labelLineEdit"_s);
    m_remarkLineEdit->setObjectName(u"remarkLineEdit"_s);
    m_titleLineEdit->setAccessibleName(u"收据抬头"_s);
    m_labelLineEdit->setAccessibleName(u"右侧标签"_s);
    m_remarkLineEdit->setAccessibleName(u"固定备注"_s);
    // The fields write to the store as they are typed in, so the key can save from
    // within a field.
    Keyboard::setShortcut(m_saveButton, QKeySequence::Save);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_saveButton);
    buttonRow->addStretch();

    auto *fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    fields->addRow(u"收据抬头"_s, m_titleLineEdit);
    fields->addRow(u"右侧标签"_s, m_labelLineEdit);
    fields->addRow(u"固定备注"_s, m_remarkLineEdit);

    auto *column = new QVBoxLayout(this);
    column->addLayout(buttonRow);
    column->addLayout(fields);
    column->addStretch();

    showCompany();

    // textEdited, not textChanged: only the user's typing goes to the store, so showing
    // the store's text never writes it back.
    connect(m_titleLineEdit, &QLineEdit::textEdited, this,
            [](const QString &text) { editCompany(&Company::title, text); });
    connect(m_labelLineEdit, &QLineEdit::textEdited, this,
            [](const QString &text) { editCompany(&Company::label, text); });
    connect(m_remarkLineEdit, &QLineEdit::textEdited, this,
            [](const QString &text) { editCompany(&Company::remark, text); });
    connect(&CompanyStore::shared(), &CompanyStore::companyChanged, this,
            &CompanyView::showCompany);
    connect(m_saveButton, &QPushButton::clicked, this, &CompanyView::save);
}

void CompanyView::showCompany()
{
    const Company company = CompanyStore::shared().company();
    SettingsScreen::showText(m_titleLineEdit, company.title);
    SettingsScreen::showText(m_labelLineEdit, company.label);
    SettingsScreen::showText(m_remarkLineEdit, company.remark);
}

void CompanyView::save()
{
    CompanyStore &store = CompanyStore::shared();
    // The title is checked first: with both empty only its message shows.
    if (store.company().title.isEmpty()) {
        m_errorToast->show(u"必填：收据抬头"_s);
        return;
    }
    if (store.company().label.isEmpty()) {
        m_errorToast->show(u"必填：右侧标签"_s);
        return;
    }
    if (store.save())
        m_successToast->show(u"修改成功"_s);
    else
        m_errorToast->show(u"保存失败"_s);
}
