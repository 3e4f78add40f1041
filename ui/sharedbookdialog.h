// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sharedbookaddress.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// 打开共享账本: asks where a shared book is (server, port, database, user, encryption) and
// for a password for this start only. 连接 tries the book and tells in the dialog why it
// cannot be used; once it can, its address (never the password) is remembered for the
// window's next start and the dialog is accepted.
//
// The try runs on a thread of its own, since a server that does not answer holds it up to
// the connection's timeout: the dialog keeps drawing and says 正在连接…, and 取消 leaves the
// try behind (its answer is dropped).
class SharedBookDialog : public QDialog
{
    Q_OBJECT

public:
    // Filled in with `address`.
    explicit SharedBookDialog(const SharedBookAddress &address, QWidget *parent = nullptr);
    ~SharedBookDialog() override;

    SharedBookAddress address() const;
    QString password() const;
    // Why the last 连接 failed; empty before one or after success.
    QString error() const;

    // Starts trying the book; accepts the dialog once it proves usable.
    void connectToBook();
    // Whether a try is under way.
    bool isConnecting() const { return m_trial != nullptr; }
    // Waits for every try still running, those left behind by 取消 too (the program's end
    // does, so that no connection outlives it).
    static void waitForTrials();

protected:
    void done(int result) override;

private:
    struct Trial;
    void finishTrial(const Trial &trial);
    void setConnecting(bool connecting);
    void showError(const QString &error);

    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_database;
    QLineEdit *m_user;
    QComboBox *m_sslMode;
    QLineEdit *m_password;
    QLabel *m_error;
    QLabel *m_status;
    QPushButton *m_connect;
    // The try under way; null when none is (or it was left behind).
    std::shared_ptr<Trial> m_trial;
};
