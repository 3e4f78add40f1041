// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "printsettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class PrintView;

// 打印设置: where and what the printer puts on the receipt paper, with the page as it will
// print beside the choices (every change shows at once). 确定 saves the choices to the
// preferences; 打印对齐测试页 prints the grid page with the choices as they stand.
class PrintSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PrintSettingsDialog(QWidget *parent = nullptr);

    // The choices as the dialog shows them, saved or not.
    PrintOptions options() const;
    // The names of the fields the offsets push off the paper, as the dialog tells them.
    QStringList displacedFields() const;
    // What the code, where it stands now, covers on the receipt shown (ReceiptPageLayout).
    QStringList partsUnderCode() const;

    void accept() override;

private:
    void update();
    void printAlignmentPage();

    QDoubleSpinBox *m_offsetX;
    QDoubleSpinBox *m_offsetY;
    QComboBox *m_content;
    QCheckBox *m_sideLabel;
    QCheckBox *m_reprintMark;
    QCheckBox *m_fixedRemark;
    QCheckBox *m_yuanSign;
    QCheckBox *m_numberOnForm;
    QCheckBox *m_receiptCode;
    QDoubleSpinBox *m_codeX;
    QDoubleSpinBox *m_codeY;
    QLabel *m_displaced;
    PrintView *m_preview;
};
