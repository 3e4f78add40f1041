#include "printaction.h"

#include "printhelper.h"

namespace {
PrintAction::FunctionWithOutcome &replacement()
{
    static PrintAction::FunctionWithOutcome function;
    return function;
}
} // namespace

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
