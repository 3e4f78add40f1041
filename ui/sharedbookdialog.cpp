// SPDX-License-Identifier: GPL-3.0-or-later
#include "sharedbookdialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

// One try of a book: what is tried, and, written on the try's thread, what came of it.
struct SharedBookDialog::Trial
{
    QString uri;
    QString password;
    bool usable = false;
    bool passwordFailure = false;
    QString error;
};

namespace {

// The threads of the tries still running; each goes when it ends, and the program's end
// waits for those left.
QList<QThread *> &runningTrials()
{
    static QList<QThread *> threads;
    return threads;
}

QLineEdit *lineEdit(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setObjectName(objectName);
    return edit;
}

} // namespace

SharedBookDialog::SharedBookDialog(const SharedBookAddress &address, QWidget *parent)
    : QDialog(parent)
    , m_host(lineEdit(u"hostEdit"_s, address.host, this))
    , m_port(new QSpinBox(this))
    , m_database(lineEdit(u"databaseEdit"_s, address.database, this))
    , m_user(lineEdit(u"userEdit"_s, address.user, this))
    , m_sslMode(new QComboBox(this))
    , m_password(lineEdit(u"passwordEdit"_s, {}, this))
    , m_error(new QLabel(this))
    , m_status(new QLabel(u"正在连接…"_s, this))
{
    setObjectName(u"sharedBookDialog"_s);
    setWindowTitle(u"打开共享账本"_s);
    m_host->setPlaceholderText(u"例如 192.168.1.10 或 server.example.com"_s);
    m_port->setObjectName(u"portSpin"_s);
    m_port->setRange(1, 65535);
    m_port->setValue(address.port);
    // A port is a number, not an amount: no group separator.
    m_port->setGroupSeparatorShown(false);
    m_user->setPlaceholderText(u"不填则用本机的用户名"_s);
    m_sslMode->setObjectName(u"sslModeCombo"_s);
    m_sslMode->addItem(u"不加密"_s, u"disable"_s);
    m_sslMode->addItem(u"优先加密"_s, u"prefer"_s);
    m_sslMode->addItem(u"必须加密"_s, u"require"_s);
    m_sslMode->addItem(u"验证服务器"_s, u"verify-full"_s);
    m_sslMode->setToolTip(u"验证服务器：加密，并用本机保存的根证书确认服务器的身份"_s);
    m_sslMode->setCurrentIndex(std::max(0, m_sslMode->findData(address.sslMode)));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(u"服务器要求时填写"_s);

    auto *form = new QFormLayout;
    form->addRow(u"服务器(&S)："_s, m_host);
    form->addRow(u"端口(&P)："_s, m_port);
    form->addRow(u"数据库(&D)："_s, m_database);
    form->addRow(u"用户(&U)："_s, m_user);
    form->addRow(u"加密连接(&E)："_s, m_sslMode);
    form->addRow(u"密码(&W)："_s, m_password);
    auto *passwordNote = new QLabel(u"密码只用于这次启动，不会保存。"_s, this);
    passwordNote->setObjectName(u"passwordNoteLabel"_s);
    passwordNote->setEnabled(false);
    form->addRow(QString(), passwordNote);

    m_error->setObjectName(u"errorLabel"_s);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->setStyleSheet(u"color: #c62828;"_s);
    m_error->hide();
    m_status->setObjectName(u"statusLabel"_s);
    m_status->hide();

    auto *buttons = new QDialogButtonBox(this);
    m_connect = buttons->addButton(u"连接"_s, QDialogButtonBox::AcceptRole);
    m_connect->setObjectName(u"connectButton"_s);
    m_connect->setDefault(true);
    buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &SharedBookDialog::connectToBook);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    setMinimumWidth(420);

    // The first field still to fill in.
    QLineEdit *first = m_host;
    if (!m_host->text().isEmpty())
        first = m_database->text().isEmpty() ? m_database : m_password;
    first->setFocus();
}

// A try still running is left to end by itself: its thread is waited for when the program
// ends, and what it finds goes nowhere.
SharedBookDialog::~SharedBookDialog() = default;

void SharedBookDialog::done(int result)
{
    // 取消 (or Esc) while trying: the try's answer no longer counts.
    if (m_trial) {
        m_trial.reset();
        setConnecting(false);
    }
    QDialog::done(result);
}

void SharedBookDialog::waitForTrials()
{
    const QList<QThread *> threads = std::exchange(runningTrials(), {});
    for (QThread *thread : threads) {
        thread->wait();
        delete thread;
    }
}

SharedBookAddress SharedBookDialog::address() const
{
    SharedBookAddress address;
    address.host = m_host->text().trimmed();
    // An IPv6 address as URIs write it.
    if (address.host.startsWith(u'[') && address.host.endsWith(u']'))
        address.host = address.host.mid(1, address.host.size() - 2);
    address.port = m_port->value();
    address.database = m_database->text().trimmed();
    address.user = m_user->text().trimmed();
    address.sslMode = m_sslMode->currentData().toString();
    return address;
}

QString SharedBookDialog::password() const
{
    return m_password->text();
}

QString SharedBookDialog::error() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

void SharedBookDialog::connectToBook()
{
    if (m_trial)
        return;
    const SharedBookAddress address = this->address();
    if (address.host.isEmpty()) {
        showError(u"请填写服务器。"_s);
        m_host->setFocus();
        return;
    }
    if (address.database.isEmpty()) {
        showError(u"请填写数据库。"_s);
        m_database->setFocus();
        return;
    }
    auto trial = std::make_shared<Trial>();
    trial->uri = address.uri();
    trial->password = password();
    // The connection is made, used and closed on the thread alone.
    QThread *thread = QThread::create([trial] {
        trial->usable = SharedBookAddresses::check(trial->uri, trial->password, &trial->error,
                                                   &trial->passwordFailure);
    });
    static const bool waitedForAtExit = (qAddPostRoutine(&SharedBookDialog::waitForTrials), true);
    Q_UNUSED(waitedForAtExit);
    runningTrials().append(thread);
    connect(thread, &QThread::finished, thread, [thread] {
        if (runningTrials().removeOne(thread))
            thread->deleteLater();
    });
    connect(thread, &QThread::finished, this, [this, trial] {
        if (m_trial == trial)
            finishTrial(*trial);
    });
    m_trial = trial;
    setConnecting(true);
    thread->start();
}

void SharedBookDialog::finishTrial(const Trial &trial)
{
    m_trial.reset();
    setConnecting(false);
    if (!trial.usable) {
        showError(trial.error);
        QLineEdit *field = trial.passwordFailure ? m_password : m_host;
        field->setFocus();
        field->selectAll();
        return;
    }
    m_error->hide();
    SharedBookAddresses::remember(trial.uri);
    accept();
}

void SharedBookDialog::setConnecting(bool connecting)
{
    // What is tried stays what the fields show. Read-only rather than greyed, so that the
    // focus stays where it is: a field greyed under it would hand it on to 取消, and the
    // next Enter would give up the try.
    for (QLineEdit *field : {m_host, m_database, m_user, m_password})
        field->setReadOnly(connecting);
    m_port->setReadOnly(connecting);
    m_sslMode->setEnabled(!connecting);
    m_connect->setEnabled(!connecting);
    if (connecting)
        m_error->hide();
    m_status->setVisible(connecting);
    // Fitted to what shows: no gap where a message was.
    adjustSize();
}

void SharedBookDialog::showError(const QString &error)
{
    m_error->setText(error);
    m_error->show();
    // Grown to the message, so the fields keep their spacing.
    adjustSize();
}
