// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sharedbookaddress.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// 打开共享账本: asks where a shared book is (server, port, database, user, encryption) and
// for a password for this start only. 连接 tries the book and tells in the dialog why it
// cannot be used; once it can, its address (never the password) is remembered for the
// window's next start and the dialog is accepted.
class SharedBookDialog : public QDialog
{
    Q_OBJECT

public:
    // Filled in with `address`.
    explicit SharedBookDialog(const SharedBookAddress &address, QWidget *parent = nullptr);

    SharedBookAddress address() const;
    QString password() const;
    // Why the last 连接 failed; empty before one or after success.
    QString error() const;

    // Tries the book; accepts the dialog when it can be used.
    void connectToBook();

private:
    void showError(const QString &error);

    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_database;
    QLineEdit *m_user;
    QComboBox *m_sslMode;
    QLineEdit *m_password;
    QLabel *m_error;
    QPushButton *m_connect;
};
