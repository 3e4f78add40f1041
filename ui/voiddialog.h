// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QStringList>

class ComboBox;
class QPushButton;

// Asks why receipts are voided (作废). The reason is required: 作废 stays disabled until
// something other than spaces is typed. The drop-down offers the reasons given before,
// since the same few reasons (开错了, 重复开具 …) come back again and again.
class VoidDialog : public QDialog
{
    Q_OBJECT

public:
    // `about` names the receipts ("No.0000003、No.0000005，共 2 张").
    VoidDialog(QWidget *parent, const QString &about, const QStringList &earlierReasons);

    // The reason typed or picked, without the spaces around it.
    QString reason() const;

    ComboBox *reasonComboBox() const { return m_reasonComboBox; }
    QPushButton *voidButton() const { return m_voidButton; }

private:
    ComboBox *m_reasonComboBox;
    QPushButton *m_voidButton;
};
