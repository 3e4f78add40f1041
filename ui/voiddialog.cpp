// SPDX-License-Identifier: GPL-3.0-or-later
#include "voiddialog.h"

#include "combobox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

VoidDialog::VoidDialog(QWidget *parent, const QString &about, const QStringList &earlierReasons)
    : QDialog(parent)
    , m_reasonComboBox(new ComboBox(this))
    , m_voidButton(new QPushButton(u"作废"_s, this))
{
    setObjectName(u"voidDialog"_s);
    setWindowTitle(u"作废收据"_s);

    auto *question = new QLabel(u"作废所选收据？"_s, this);
    QFont bold = question->font();
    bold.setBold(true);
    question->setFont(bold);
    auto *details = new QLabel(
        about + u"\n作废的收据保留单号，仍留在列表中，但不能再修改；以后可以撤销作废。"_s, this);
    details->setWordWrap(true);
    auto *reasonLabel = new QLabel(u"作废原因(&R)"_s, this);
    reasonLabel->setBuddy(m_reasonComboBox);

    m_reasonComboBox->setObjectName(u"voidReasonComboBox"_s);
    m_reasonComboBox->setAccessibleName(u"作废原因"_s);
    m_reasonComboBox->setMinimumContentsLength(24);
    m_reasonComboBox->setItems(earlierReasons);
    // Starts empty, not with the most used reason: a reason taken without reading it
    // would be recorded for good.
    m_reasonComboBox->setText({});
    m_reasonComboBox->lineEdit()->setPlaceholderText(u"必填"_s);

    auto *buttons = new QDialogButtonBox(this);
    m_voidButton->setObjectName(u"confirmVoidButton"_s);
    m_voidButton->setEnabled(false);
    // Return from the reason field voids once a reason is there, and does nothing before.
    m_voidButton->setDefault(true);
    buttons->addButton(m_voidButton, QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    cancel->setObjectName(u"cancelVoidButton"_s);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_reasonComboBox, &QComboBox::currentTextChanged, this,
            [this] { m_voidButton->setEnabled(!reason().isEmpty()); });

    auto *column = new QVBoxLayout(this);
    column->addWidget(question);
    column->addWidget(details);
    column->addSpacing(6);
    column->addWidget(reasonLabel);
    column->addWidget(m_reasonComboBox);
    column->addSpacing(6);
    column->addWidget(buttons);
    m_reasonComboBox->setFocus();
}

QString VoidDialog::reason() const
{
    return m_reasonComboBox->currentText().trimmed();
}
