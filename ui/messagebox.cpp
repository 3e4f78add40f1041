// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagebox.h"

#include "money.h"
#include "voiddialog.h"

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
std::optional<bool> &testAnswer()
{
    static std::optional<bool> answer;
    return answer;
}
QString &lastShownText()
{
    static QString text;
    return text;
}
QString &testReason()
{
    static QString reason;
    return reason;
}
QStringList &lastReasons()
{
    static QStringList reasons;
    return reasons;
}
std::optional<QString> &testFormNumber()
{
    static std::optional<QString> number;
    return number;
}
} // namespace

namespace {

// A question with a destructive button and a safe one, the safe one taken by Return and
// Esc. True when the destructive one was chosen; it is red when it loses data.
// The details go under the question in the same text: QMessageBox makes itself as wide as
// its question and buttons and breaks an informative text to that width, which cut
// Chinese words in two ("内/容") for any line longer than a short question. One text is
// as wide as its longest line, up to the box's limit, and only then broken.
bool confirm(QWidget *parent, const QString &title, const QString &text, const QString &details,
             const QString &destructive, const QString &safe, bool losesData = true,
             QMessageBox::Icon icon = QMessageBox::Warning)
{
    lastShownText() = details.isEmpty() ? text : text + u'\n' + details;
    if (testAnswer())
        return *testAnswer();
    QMessageBox box(icon, title, details.isEmpty() ? text : text + u"\n\n"_s + details,
                    QMessageBox::NoButton, parent);
    box.setObjectName(u"confirmBox"_s);
    QPushButton *destructiveButton = box.addButton(destructive, QMessageBox::DestructiveRole);
    QPushButton *safeButton = box.addButton(safe, QMessageBox::RejectRole);
    box.setDefaultButton(safeButton);
    box.setEscapeButton(safeButton);
    if (losesData)
        destructiveButton->setStyleSheet(u"color: #c5221f;"_s);
    box.exec();
    return box.clickedButton() == destructiveButton;
}

} // namespace

bool MessageBox::confirmDelete(QWidget *parent, const QString &about)
{
    return confirm(parent, u"确认"_s, u"永久删除？"_s, about, u"删除"_s, u"取消"_s);
}

bool MessageBox::confirmRestore(QWidget *parent, const QString &file, const QString &contents)
{
    return confirm(parent, u"恢复数据库"_s, u"用这个备份替换现有的数据库？"_s,
                   u"%1\n%2\n\n现有的数据库会先自动备份到 backups 文件夹。"_s.arg(file, contents),
                   u"恢复"_s, u"取消"_s);
}

bool MessageBox::confirmUnvoid(QWidget *parent, const QString &about)
{
    return confirm(parent, u"确认"_s, u"撤销作废？"_s,
                   about + u"\n收据恢复为正常的收据，可以再修改。"_s, u"撤销作废"_s, u"取消"_s,
                   false);
}

bool MessageBox::confirmImportAgain(QWidget *parent, const QString &file, const QString &when)
{
    return confirm(
        parent, u"导入收据"_s, u"再导入一次？"_s,
        u"%1 已于 %2 导入过。再导入一次，其中的收据会在账本中出现两次。"_s.arg(file, when),
        u"再导入一次"_s, u"取消"_s, false);
}

std::optional<QString> MessageBox::askVoidReason(QWidget *parent, const QString &about,
                                                 const QStringList &earlierReasons)
{
    lastShownText() = u"作废所选收据？\n"_s + about;
    lastReasons() = earlierReasons;
    if (testAnswer()) {
        if (!*testAnswer())
            return std::nullopt;
        return testReason();
    }
    VoidDialog dialog(parent, about, earlierReasons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.reason();
}

bool MessageBox::confirmPrint(QWidget *parent, qsizetype count)
{
    return confirm(parent, u"打印"_s, u"打印所选 %1 张收据？"_s.arg(Money::groupedDigits(count)),
                   u"每张一页，按单号从小到大的顺序打印。"_s, u"打印"_s, u"取消"_s, false,
                   QMessageBox::Question);
}

std::optional<QString> MessageBox::askFormNumber(QWidget *parent, const QString &about,
                                                 const QString &expected)
{
    const QString text = u"收据纸上已印单号，这次只打印内容，不打印单号。\n"_s + about;
    lastShownText() = text;
    if (testAnswer()) {
        if (!*testAnswer())
            return std::nullopt;
        return testFormNumber().value_or(expected);
    }
    QDialog dialog(parent);
    dialog.setObjectName(u"formNumberDialog"_s);
    dialog.setWindowTitle(u"核对收据纸的单号"_s);
    auto *label = new QLabel(text, &dialog);
    auto *number = new QLineEdit(expected, &dialog);
    number->setObjectName(u"formNumberEdit"_s);
    number->selectAll();
    auto *numberLabel = new QLabel(u"打印机中收据纸上印的单号(&N)："_s, &dialog);
    numberLabel->setBuddy(number);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *print = buttons->addButton(u"打印"_s, QDialogButtonBox::AcceptRole);
    buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    print->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addSpacing(8);
    layout->addWidget(numberLabel);
    layout->addWidget(number);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return number->text();
}

bool MessageBox::confirmTakeOverLock(QWidget *parent, const QString &about)
{
    return confirm(
        parent, u"数据库已被锁定"_s, u"解除另一台计算机的锁定？"_s,
        about
            + u"\n\n只有确定那台计算机上的 Quenta 已经关闭（例如数据库在 U 盘上，"
              u"是从那台计算机拔下来的）时，才能解除锁定；否则两个程序同时写入会损坏数据库。"_s,
        u"解除锁定"_s, u"退出"_s, false);
}

bool MessageBox::confirmReturnBook(QWidget *parent, const QString &about)
{
    return confirm(parent, u"缴销"_s, u"缴销这本收据本？"_s,
                   about + u"\n缴销后这本收据本不再使用，不能撤销。"_s, u"缴销"_s, u"取消"_s, false);
}

bool MessageBox::confirmReprint(QWidget *parent, const QString &said, const QString &number)
{
    return confirm(parent, u"登记废票"_s, said,
                   u"现在把这张收据打印到下一张收据纸上（No.%1）？"_s.arg(number), u"打印"_s,
                   u"以后再打印"_s, false, QMessageBox::Question);
}

bool MessageBox::confirmDiscard(QWidget *parent)
{
    return confirm(parent, u"确认"_s, u"放弃未保存的修改？"_s,
                   u"收据上填写或修改的内容将会丢失。"_s, u"放弃"_s, u"继续编辑"_s);
}

MessageBox::UnreachableBookChoice
MessageBox::askUnreachableBook(QWidget *parent, const QString &text, bool passwordWanted)
{
    lastShownText() = text;
    if (testAnswer())
        return *testAnswer() ? UnreachableBookChoice::UseLocalBook : UnreachableBookChoice::Quit;
    QMessageBox box(QMessageBox::Warning, u"无法打开共享账本"_s, text, QMessageBox::NoButton,
                    parent);
    box.setObjectName(u"sharedBookUnreachableBox"_s);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton *retry
        = box.addButton(passwordWanted ? u"输入密码…"_s : u"重试"_s, QMessageBox::AcceptRole);
    QPushButton *local = box.addButton(u"使用本机账本"_s, QMessageBox::DestructiveRole);
    QPushButton *quit = box.addButton(u"退出"_s, QMessageBox::RejectRole);
    box.setDefaultButton(retry);
    box.setEscapeButton(quit);
    box.exec();
    if (box.clickedButton() == retry)
        return UnreachableBookChoice::Retry;
    return box.clickedButton() == local ? UnreachableBookChoice::UseLocalBook
                                        : UnreachableBookChoice::Quit;
}

void MessageBox::information(QWidget *parent, const QString &title, const QString &text)
{
    lastShownText() = text;
    if (testAnswer())
        return;
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::NoButton, parent);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.addButton(u"好"_s, QMessageBox::AcceptRole);
    box.exec();
}

void MessageBox::critical(QWidget *parent, const QString &title, const QString &text)
{
    lastShownText() = text;
    if (testAnswer())
        return;
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::NoButton, parent);
    box.addButton(u"退出"_s, QMessageBox::AcceptRole);
    box.exec();
}

void MessageBox::warning(QWidget *parent, const QString &title, const QString &text)
{
    lastShownText() = text;
    if (testAnswer())
        return;
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    box.addButton(u"好"_s, QMessageBox::AcceptRole);
    box.exec();
}

void MessageBox::setTestAnswer(std::optional<bool> deleteChosen)
{
    testAnswer() = deleteChosen;
    lastShownText().clear();
    testReason().clear();
    lastReasons().clear();
    testFormNumber().reset();
}

void MessageBox::setTestFormNumber(const std::optional<QString> &number)
{
    testFormNumber() = number;
}

void MessageBox::setTestReason(const QString &reason)
{
    testReason() = reason;
}

QStringList MessageBox::lastOfferedReasons()
{
    return lastReasons();
}

QString MessageBox::lastText()
{
    return lastShownText();
}
