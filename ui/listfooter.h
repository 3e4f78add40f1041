// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class AppStore;
class QLabel;
class QPushButton;
class ReceiptPart;
class Toast;

// The line under a receipt list: how many receipts it shows and their sum (voided ones
// counted apart), the same for the selection when two or more rows are selected, and
// 导出… to write what is shown, in the order shown, to a CSV or Excel file.
class ListFooter : public QWidget
{
    Q_OBJECT

public:
    ListFooter(ReceiptPart *receiptPart, QWidget *parent);

    QString totalsText() const;
    // Asks for the file, writes the shown receipts and tells how it went.
    void exportShown();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void updateTotals();

    AppStore &m_store;
    ReceiptPart *m_receiptPart;
    QLabel *m_totalsLabel;
    QPushButton *m_exportButton;
    Toast *m_successToast;
    Toast *m_errorToast;
};
