// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineEdit>

// The search field of a receipt list: what it finds is ReceiptFilter's business; here
// only the field itself, cleared by its button or by Esc.
class SearchField : public QLineEdit
{
    Q_OBJECT

public:
    explicit SearchField(QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
