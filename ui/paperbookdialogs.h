// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "paperbooks.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

// 收据本登记: every paper book with what became of its numbers; 登记收据本… registers one,
// 缴销 returns the one selected (refused, naming them, while a number is not accounted
// for), 核销表… previews, prints or saves the reconciliation of the books selected (all of
// them when none is).
class PaperBooksDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PaperBooksDialog(QWidget *parent = nullptr);

    // Reads the books again; the book of `series` starting at `first` is selected after,
    // when given.
    void reload(const std::optional<std::pair<QString, qint64>> &select = std::nullopt);
    void addBook();
    void returnSelected();
    void showReconciliation();

private:
    QList<PaperBooks::Account> selectedAccounts() const;
    void followSelection();

    QList<PaperBooks::Account> m_accounts;
    QTableWidget *m_table;
    QLabel *m_said;
    QPushButton *m_returnButton;
    QPushButton *m_reportButton;
};

namespace PaperBookDialogs {

// 登记废票…: a spoiled form's number (`number` offered, the selected receipt's) and why;
// once recorded, a receipt that had the number and took the next one may be printed again
// at once.
void spoil(QWidget *parent, const QString &number = {});

} // namespace PaperBookDialogs
