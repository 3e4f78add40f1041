// SPDX-License-Identifier: GPL-3.0-or-later
#include "printaction.h"

#include "printhelper.h"

#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
PrintAction::FunctionWithOutcome &replacement()
{
    static PrintAction::FunctionWithOutcome function;
    return function;
}
std::optional<bool> &confirmAnswer()
{
    static std::optional<bool> answer;
    return answer;
}

std::function<bool(const QStringList &)> &batchReplacement()
{
    static std::function<bool(const QStringList &)> function;
    return function;
}
} // namespace

bool PrintAction::previewReceipt()
{
    return PrintHelper::previewReceipt(paperWidth, paperHeight);
}

bool PrintAction::printReceipts(QWidget *parent, const QStringList &ids)
{
    const QString question = u"打印所选 %1 张收据？"_s.arg(ids.size());
    bool confirmed = false;
    if (confirmAnswer()) {
        confirmed = *confirmAnswer();
    } else {
        QMessageBox box(QMessageBox::Question, u"打印"_s, question, QMessageBox::NoButton, parent);
        QPushButton *print = box.addButton(u"打印"_s, QMessageBox::AcceptRole);
        box.setDefaultButton(box.addButton(u"取消"_s, QMessageBox::RejectRole));
        box.exec();
        confirmed = box.clickedButton() == print;
    }
    if (!confirmed)
        return false;
    if (batchReplacement())
        return batchReplacement()(ids);
    return PrintHelper::printReceipts(ids, paperWidth, paperHeight);
}

void PrintAction::setConfirmAnswer(std::optional<bool> answer)
{
    confirmAnswer() = answer;
}

void PrintAction::setBatchFunction(std::function<bool(const QStringList &ids)> function)
{
    batchReplacement() = std::move(function);
}

bool PrintAction::printReceipt()
{
    if (replacement())
        return replacement()(paperWidth, paperHeight);
    return PrintHelper::printReceipt(paperWidth, paperHeight);
}

void PrintAction::setFunction(Function function)
{
    if (!function) {
        replacement() = {};
        return;
    }
    replacement() = [function = std::move(function)](double width, double height) {
        function(width, height);
        return true;
    };
}

void PrintAction::setFunctionWithOutcome(FunctionWithOutcome function)
{
    replacement() = std::move(function);
}
