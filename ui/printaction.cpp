// SPDX-License-Identifier: GPL-3.0-or-later
#include "printaction.h"

#include "appstore.h"
#include "formnumber.h"
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
// On forms that carry their numbers: whether the form in the printer is the receipts' own,
// asked of the user where the book cannot vouch for it. False when nothing is to print (the
// user cancelled, or was told why not).
bool formsAreTheirs(QWidget *parent, const QList<std::optional<Receipt>> &receipts)
{
    const PrintOptions options = PrintSettings::shared().options();
    if (!options.leavesNumberToForm())
        return true;
    FormNumber::Question question;
    QString error;
    if (!FormNumber::ask(options, receipts, &question, &error)) {
        MessageBox::warning(parent, u"无法打印"_s, error);
        return false;
    }
    if (!question.needed)
        return true;
    const QString what = question.pages > 1
        ? u"要打印 %1 张收据，第一张是 No.%2"_s.arg(question.pages).arg(question.receiptNo)
        : u"要打印的收据：No.%1"_s.arg(question.receiptNo);
    const std::optional<QString> typed = MessageBox::askFormNumber(
        parent, what + u'\n' + question.reasons.join(u'\n'), question.expected);
    if (!typed)
        return false;
    if (const QString refused = FormNumber::refusal(question, *typed); !refused.isEmpty()) {
        MessageBox::warning(parent, u"收据纸的单号不符"_s, refused);
        return false;
    }
    return true;
}

} // namespace

bool PrintAction::printReceipt(QWidget *parent)
{
    // A stored amount that cannot be read would go on paper as a wrong one; the list
    // refuses such a receipt before it gets here, the preview does not.
    const std::optional<Receipt> receipt = AppStore::shared().receiptPrint();
    if (receipt && receipt->unreadableTotal) {
        MessageBox::warning(parent, u"无法打印"_s, u"金额无法识别，请先修改金额再打印"_s);
        return false;
    }
    if (!formsAreTheirs(parent, {receipt}))
        return false;
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
    QString error;
    const std::optional<PrintJob> job = PrintJob::forIds(ids, &error);
    if (job && !formsAreTheirs(parent, job->receipts()))
        return false;
    if (batchReplacement())
        return batchReplacement()(ids);
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
