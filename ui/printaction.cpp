#include "printaction.h"

#include "printhelper.h"

namespace {
PrintAction::Function &replacement()
{
    static PrintAction::Function function;
    return function;
}
} // namespace

void PrintAction::printReceipt()
{
    if (replacement())
        replacement()(paperWidth, paperHeight);
    else
        PrintHelper::printReceipt(paperWidth, paperHeight);
}

void PrintAction::setFunction(Function function)
{
    replacement() = std::move(function);
}
