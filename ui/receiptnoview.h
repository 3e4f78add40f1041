// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class Toast;

// The receipt-number settings screen: the counter (当前单号), the minimum length
// (单号长度) and a preview of the number the next receipt gets. Works on
// ReceiptNoStore's setting; the preview reads the receipt being edited, which the store
// keeps numbered.
class ReceiptNoView : public QWidget
{
    Q_OBJECT

public:
    explicit ReceiptNoView(QWidget *parent);

private:
    enum class Field { CurrNum, NumLong };

    // Takes what a field holds into the setting; false when the value is refused.
    bool commit(Field field);
    void showSetting();
    void showPreview();
    void save();

    QPushButton *m_saveButton;
    QLineEdit *m_currNumLineEdit;
    QLineEdit *m_numLongLineEdit;
    QLabel *m_previewLabel;
    Toast *m_successToast;
    Toast *m_errorToast;
};
