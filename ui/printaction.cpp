// SPDX-License-Identifier: GPL-3.0-or-later
#include "printaction.h"

#include "appstore.h"
#include "messagebox.h"
#include "printdialogs.h"
#include "printjob.h"

using namespace Qt::StringLiterals;

namespace {
PrintAction::FunctionWithOutcome &replacement()
{
    static PrintAction::FunctionWithOutcome function;
    return function;
}

std::function<bool(const QStringList &)> &batchReplacement()
{
    static std::function<bool(const QStringList &)> function;
    return function;
}
} // namespace

bool PrintAction::printReceipt(QWidget *parent)
{
    // A stored amount that cannot be read would go on paper as a wrong one; the list
    // refuses such a receipt before it gets here, the preview does not.
    if (const std::optional<Receipt> receipt = AppStore::shared().receiptPrint();
        receipt && receipt->unreadableTotal) {
        MessageBox::warning(parent, u"无法打印"_s, u"金额无法识别，请先修改金额再打印"_s);
        return false;
    }
    if (replacement())
        return replacement()(paperWidth, paperHeight);
    return PrintDialogs::print(parent, PrintJob::currentReceipt());
}

bool PrintAction::previewReceipt(QWidget *parent)
{
    return PrintDialogs::preview(parent, PrintJob::currentReceipt()) && printReceipt(parent);
}

bool PrintAction::printReceipts(QWidget *parent, const QStringList &ids)
{
    if (!MessageBox::confirmPrint(parent, ids.size()))
        return false;
    if (batchReplacement())
        return batchReplacement()(ids);
    QString error;
    const std::optional<PrintJob> job = PrintJob::forIds(ids, &error);
    if (!job) {
        MessageBox::warning(parent, u"无法打印"_s, error);
        return false;
    }
    return PrintDialogs::print(parent, *job);
}

void PrintAction::setBatchFunction(std::function<bool(const QStringList &ids)> function)
{
    batchReplacement() = std::move(function);
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
