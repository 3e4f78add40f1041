// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;
class Toast;

// The receipt header settings screen: title, right-hand label and fixed remark. Its
// fields edit CompanyStore's company directly, keystroke by keystroke, so the print
// layout sees the new header before it is saved; 修改 makes it last.
class CompanyView : public QWidget
{
    Q_OBJECT

public:
    explicit CompanyView(QWidget *parent);

private:
    void showCompany();
    void save();

    QPushButton *m_saveButton;
    QLineEdit *m_titleLineEdit;
    QLineEdit *m_labelLineEdit;
    QLineEdit *m_remarkLineEdit;
    Toast *m_successToast;
    Toast *m_errorToast;
};
