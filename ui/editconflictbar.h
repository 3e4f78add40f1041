// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
struct EditRefusal;

// The bar over the entry form saying that the receipt in it can no longer be saved over
// the stored one (AppStore::editRefusal), and offering the ways on: open the stored
// receipt again, or save the typing as a new receipt under the next number. Once the
// stored receipt is open again, it says so and offers the typing back. Unlike a
// notification it stays, and the form keeps its typing, until the cashier chooses or
// dismisses it (×, or Esc inside it). Owned by the form.
class EditConflictBar : public QFrame
{
    Q_OBJECT

public:
    explicit EditConflictBar(QWidget *parent);

    // Shows `refusal`; the reopening is offered only for a receipt that can be edited.
    void showRefusal(const EditRefusal &refusal);
    // After the receipt `receiptNo` was opened again: the form shows it as stored, and the
    // typing it replaced can be had back.
    void showReopened(const QString &receiptNo);
    QString text() const;
    // The keyboard to the first choice offered, so Enter takes it and Tab goes along.
    void focusChoice();

Q_SIGNALS:
    void reopenChosen();
    void saveAsNewChosen();
    void restoreTypingChosen();
    // Closed without a choice: the form goes on as it was.
    void dismissed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitText();
    void setText(const QString &text);
    void dismiss();

    QLabel *m_textLabel;
    QPushButton *m_reopenButton;
    QPushButton *m_saveAsNewButton;
    QPushButton *m_restoreTypingButton;
    QPushButton *m_dismissButton;
};
