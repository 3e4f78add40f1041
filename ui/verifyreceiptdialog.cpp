// SPDX-License-Identifier: GPL-3.0-or-later
#include "verifyreceiptdialog.h"

#include "bookcare.h"
#include "receiptproof.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

VerifyReceiptDialog::VerifyReceiptDialog(QWidget *parent)
    : QDialog(parent)
    , m_code(new QLineEdit(this))
    , m_verdict(new QLabel(this))
    , m_details(new QLabel(this))
    , m_verifyButton(new QPushButton(u"验证(&V)"_s, this))
{
    setObjectName(u"verifyReceiptDialog"_s);
    setWindowTitle(u"验证收据"_s);

    auto *explanation = new QLabel(
        u"扫描收据上的二维码（扫码枪扫完会自动回车），或输入二维码的内容后按回车：账本会说明"
        u"这张收据是否仍与打印时一样。"_s,
        this);
    explanation->setWordWrap(true);
    auto *codeLabel = new QLabel(u"二维码内容(&C)"_s, this);
    codeLabel->setBuddy(m_code);
    m_code->setObjectName(u"receiptCodeField"_s);
    m_code->setAccessibleName(u"二维码内容"_s);
    m_code->setPlaceholderText(u"QUENTA1|No.…"_s);
    m_code->setMinimumWidth(m_code->fontMetrics().horizontalAdvance(QString(60, u'0')));

    m_verdict->setObjectName(u"verdictLabel"_s);
    QFont bold = m_verdict->font();
    bold.setBold(true);
    m_verdict->setFont(bold);
    m_verdict->setWordWrap(true);
    m_verdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setObjectName(u"answerDetailsLabel"_s);
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QDialogButtonBox(this);
    m_verifyButton->setObjectName(u"verifyReceiptButton"_s);
    buttons->addButton(m_verifyButton, QDialogButtonBox::ActionRole);
    QPushButton *close = buttons->addButton(u"关闭"_s, QDialogButtonBox::RejectRole);
    close->setObjectName(u"closeVerifyButton"_s);
    // Enter verifies through the field alone: a default button would take it a second time.
    for (QPushButton *button : {m_verifyButton, close}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(m_verifyButton, &QPushButton::clicked, this, &VerifyReceiptDialog::verify);
    connect(m_code, &QLineEdit::returnPressed, this, &VerifyReceiptDialog::verify);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *column = new QVBoxLayout(this);
    column->addWidget(explanation);
    column->addSpacing(6);
    column->addWidget(codeLabel);
    column->addWidget(m_code);
    column->addSpacing(6);
    column->addWidget(m_verdict);
    column->addWidget(m_details);
    column->addStretch();
    column->addWidget(buttons);
    m_code->setFocus();
}

void VerifyReceiptDialog::verify()
{
    if (m_code->text().trimmed().isEmpty())
        return;
    ReceiptProof::Answer answer;
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool read = BookCare::verifyReceipt(m_code->text(), &answer, &error);
    QApplication::restoreOverrideCursor();
    const QString text = read ? answer.text : u"无法验证：%1"_s.arg(error);
    const bool genuine = read && answer.verdict == ReceiptProof::Answer::Verdict::Genuine;
    m_verdict->setText(text.section(u'\n', 0, 0));
    m_verdict->setStyleSheet(genuine ? u"color: #26a269;"_s : u"color: #c01c28;"_s);
    m_details->setText(text.section(u'\n', 1));
    m_details->setVisible(!m_details->text().isEmpty());
    // Read out by a screen reader as it changes.
    m_verdict->setAccessibleName(m_verdict->text());
    m_code->selectAll();
    m_code->setFocus();
}

QString VerifyReceiptDialog::verdict() const
{
    return m_verdict->text();
}

QString VerifyReceiptDialog::details() const
{
    return m_details->text();
}
