// SPDX-License-Identifier: GPL-3.0-or-later
#include "printsettingsdialog.h"

#include "printdialogs.h"
#include "printjob.h"
#include "printview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QDoubleSpinBox *offsetBox(const QString &objectName, const QString &toolTip, QWidget *parent)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(objectName);
    box->setRange(PrintOptions::minOffset, PrintOptions::maxOffset);
    box->setSingleStep(PrintOptions::offsetStep);
    box->setDecimals(1);
    box->setSuffix(u" mm"_s);
    box->setToolTip(toolTip);
    return box;
}

// Where the code's square stands, from the paper's left or top edge.
QDoubleSpinBox *positionBox(const QString &objectName, double maximum, const QString &toolTip,
                            QWidget *parent)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(objectName);
    box->setRange(0, maximum);
    box->setSingleStep(PrintOptions::offsetStep);
    box->setDecimals(1);
    box->setSuffix(u" mm"_s);
    box->setToolTip(toolTip);
    return box;
}

QCheckBox *checkBox(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    return box;
}

} // namespace

PrintSettingsDialog::PrintSettingsDialog(QWidget *parent)
    : QDialog(parent)
    , m_offsetX(offsetBox(u"offsetXSpin"_s, u"正数向右移动，负数向左移动"_s, this))
    , m_offsetY(offsetBox(u"offsetYSpin"_s, u"正数向下移动，负数向上移动"_s, this))
    , m_content(new QComboBox(this))
    , m_sideLabel(checkBox(u"sideLabelCheck"_s, u"打印右侧标签"_s, this))
    , m_reprintMark(checkBox(u"reprintMarkCheck"_s, u"重打时标注\u201c补打\u201d"_s, this))
    , m_fixedRemark(checkBox(u"fixedRemarkCheck"_s, u"打印固定备注"_s, this))
    , m_yuanSign(checkBox(u"yuanSignCheck"_s, u"金额前加 ¥"_s, this))
    , m_numberOnForm(checkBox(u"numberOnFormCheck"_s, u"纸上已印单号"_s, this))
    , m_receiptCode(checkBox(u"receiptCodeCheck"_s, u"打印二维码（用于验证收据）"_s, this))
    , m_codeX(positionBox(u"codeXSpin"_s, PrintOptions::maxCodeX, u"二维码左边到纸张左边的距离"_s,
                          this))
    , m_codeY(positionBox(u"codeYSpin"_s, PrintOptions::maxCodeY, u"二维码上边到纸张上边的距离"_s,
                          this))
    , m_displaced(new QLabel(this))
    , m_preview(new PrintView(this))
{
    setObjectName(u"printSettingsDialog"_s);
    setWindowTitle(u"打印设置"_s);
    m_content->setObjectName(u"contentCombo"_s);
    m_content->addItem(u"完整收据"_s, int(PrintOptions::Content::FullReceipt));
    m_content->addItem(u"仅打印内容"_s, int(PrintOptions::Content::ValuesOnly));
    m_content->setToolTip(u"仅打印内容：用于已印好格式的收据纸，只打印各项填写的内容"_s);
    // A full receipt always has its ¥; the choice is for forms that carry their own.
    m_yuanSign->setToolTip(u"仅打印内容时，在金额数字前紧挨着打印 ¥，不留可以添写数字的空隙"_s);
    m_numberOnForm->setToolTip(u"收据纸上已印好单号（收据本）：仅打印内容时不打印单号；补打、废票后重打等"
                               u"单号可能对不上时，打印前先核对打印机中收据纸的单号"_s);
    m_receiptCode->setToolTip(u"收据上印一个二维码，扫描后可用“收据 → 验证收据”核对这张收据在账本中"
                              u"是否被改动过；只打印已保存的收据的二维码"_s);
    m_displaced->setObjectName(u"displacedLabel"_s);
    m_displaced->setWordWrap(true);
    m_displaced->setStyleSheet(u"color: #c01c28;"_s);
    m_preview->setObjectName(u"printSettingsPreview"_s);
    m_preview->setAccessibleName(u"打印预览"_s);

    auto *form = new QFormLayout;
    form->addRow(u"水平偏移(&H)："_s, m_offsetX);
    form->addRow(u"垂直偏移(&V)："_s, m_offsetY);
    form->addRow(u"打印内容(&C)："_s, m_content);
    form->addRow(QString(), m_yuanSign);
    form->addRow(QString(), m_numberOnForm);
    form->addRow(QString(), m_sideLabel);
    form->addRow(QString(), m_reprintMark);
    form->addRow(QString(), m_fixedRemark);
    form->addRow(QString(), m_receiptCode);
    auto *codePosition = new QHBoxLayout;
    auto *codeXLabel = new QLabel(u"距左边(&X)"_s, this);
    codeXLabel->setBuddy(m_codeX);
    auto *codeYLabel = new QLabel(u"距上边(&Y)"_s, this);
    codeYLabel->setBuddy(m_codeY);
    codePosition->addWidget(codeXLabel);
    codePosition->addWidget(m_codeX);
    codePosition->addWidget(codeYLabel);
    codePosition->addWidget(m_codeY);
    codePosition->addStretch();
    form->addRow(u"二维码位置："_s, codePosition);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(u"确定"_s);
    buttons->button(QDialogButtonBox::Cancel)->setText(u"取消"_s);
    QPushButton *alignment
        = buttons->addButton(u"打印对齐测试页(&T)…"_s, QDialogButtonBox::ActionRole);
    alignment->setObjectName(u"alignmentButton"_s);
    connect(alignment, &QPushButton::clicked, this, &PrintSettingsDialog::printAlignmentPage);
    connect(buttons, &QDialogButtonBox::accepted, this, &PrintSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PrintSettingsDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_preview, 0, Qt::AlignHCenter);
    layout->addWidget(m_displaced);
    layout->addWidget(buttons);

    const PrintOptions saved = PrintSettings::shared().options();
    m_offsetX->setValue(saved.offsetX);
    m_offsetY->setValue(saved.offsetY);
    m_content->setCurrentIndex(m_content->findData(int(saved.content)));
    m_sideLabel->setChecked(saved.sideLabel);
    m_reprintMark->setChecked(saved.reprintMark);
    m_fixedRemark->setChecked(saved.fixedRemark);
    m_yuanSign->setChecked(saved.yuanSign);
    m_numberOnForm->setChecked(saved.numberOnForm);
    m_receiptCode->setChecked(saved.receiptCode);
    m_codeX->setValue(saved.codeX);
    m_codeY->setValue(saved.codeY);

    connect(m_offsetX, &QDoubleSpinBox::valueChanged, this, &PrintSettingsDialog::update);
    connect(m_offsetY, &QDoubleSpinBox::valueChanged, this, &PrintSettingsDialog::update);
    connect(m_codeX, &QDoubleSpinBox::valueChanged, this, &PrintSettingsDialog::update);
    connect(m_codeY, &QDoubleSpinBox::valueChanged, this, &PrintSettingsDialog::update);
    connect(m_content, &QComboBox::currentIndexChanged, this, &PrintSettingsDialog::update);
    for (QCheckBox *box :
         {m_sideLabel, m_reprintMark, m_fixedRemark, m_yuanSign, m_numberOnForm, m_receiptCode})
        connect(box, &QCheckBox::toggled, this, &PrintSettingsDialog::update);
    update();
}

PrintOptions PrintSettingsDialog::options() const
{
    PrintOptions options;
    options.offsetX = m_offsetX->value();
    options.offsetY = m_offsetY->value();
    options.content = PrintOptions::Content(m_content->currentData().toInt());
    options.sideLabel = m_sideLabel->isChecked();
    options.reprintMark = m_reprintMark->isChecked();
    options.fixedRemark = m_fixedRemark->isChecked();
    options.yuanSign = m_yuanSign->isChecked();
    options.numberOnForm = m_numberOnForm->isChecked();
    options.receiptCode = m_receiptCode->isChecked();
    options.codeX = m_codeX->value();
    options.codeY = m_codeY->value();
    return options.normalized();
}

QStringList PrintSettingsDialog::displacedFields() const
{
    QStringList names;
    const ReceiptPageLayout layout = m_preview->pageLayout();
    for (ReceiptPageLayout::Item item : layout.displacedItems()) {
        const QString name = ReceiptPageLayout::itemName(item);
        if (!names.contains(name))
            names.append(name);
    }
    return names;
}

QStringList PrintSettingsDialog::partsUnderCode() const
{
    return m_preview->pageLayout().partsUnderCode();
}

void PrintSettingsDialog::update()
{
    const bool valuesOnly
        = m_content->currentData().toInt() == int(PrintOptions::Content::ValuesOnly);
    m_yuanSign->setEnabled(valuesOnly);
    m_numberOnForm->setEnabled(valuesOnly);
    m_codeX->setEnabled(m_receiptCode->isChecked());
    m_codeY->setEnabled(m_receiptCode->isChecked());
    m_preview->setOptions(options());
    // The receipt shown (or the blank form) stands for any: a field pushed off here is
    // pushed off for every receipt, since the offsets move all of them alike. So does the
    // code, which a longer value may still run into: it is told as it stands here.
    QStringList warnings;
    if (const QStringList names = displacedFields(); !names.isEmpty())
        warnings << u"偏移过大：%1超出纸张，将靠纸张边缘打印，位置与收据纸不符。"_s.arg(
            names.join(u"、"_s));
    if (const QStringList covered = partsUnderCode(); !covered.isEmpty())
        warnings << u"二维码压住了%1，请换一个位置。"_s.arg(covered.join(u"、"_s));
    m_displaced->setVisible(!warnings.isEmpty());
    m_displaced->setText(warnings.join(u'\n'));
}

void PrintSettingsDialog::accept()
{
    PrintSettings::shared().setOptions(options());
    QDialog::accept();
}

void PrintSettingsDialog::printAlignmentPage()
{
    PrintDialogs::print(this, PrintJob::alignmentPage(options()));
}
