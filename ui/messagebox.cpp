#include "messagebox.h"

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
} // namespace

bool MessageBox::confirmDelete(QWidget *parent)
{
    lastShownText() = u"永久删除？"_s;
    if (testAnswer())
        return *testAnswer();

    QMessageBox box(QMessageBox::Warning, u"确认"_s, u"永久删除？"_s, QMessageBox::NoButton,
                    parent);
    QPushButton *deleteButton = box.addButton(u"删除"_s, QMessageBox::DestructiveRole);
    QPushButton *cancelButton = box.addButton(u"取消"_s, QMessageBox::RejectRole);
    box.setDefaultButton(cancelButton);
    box.setEscapeButton(cancelButton);
    deleteButton->setStyleSheet(u"color: #c5221f;"_s);
    box.exec();
    return box.clickedButton() == deleteButton;
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
}

QString MessageBox::lastText()
{
    return lastShownText();
}
