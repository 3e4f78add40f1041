// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// 验证收据: the text of a printed receipt's code, as a barcode scanner types it (the text,
// then Enter) or a person does, and what the book says of it (ReceiptProof) beneath. The
// text stays selected after each answer, so that the next scan replaces it: a pile of
// receipts is verified one after the other without touching the mouse.
class VerifyReceiptDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VerifyReceiptDialog(QWidget *parent = nullptr);

    // Verifies the text in the field (nothing for an empty one).
    void verify();

    QLineEdit *codeField() const { return m_code; }
    // The verdict ("真实，未改动", "已改动：…") and what the book holds, as shown.
    QString verdict() const;
    QString details() const;

private:
    QLineEdit *m_code;
    QLabel *m_verdict;
    QLabel *m_details;
    QPushButton *m_verifyButton;
};
