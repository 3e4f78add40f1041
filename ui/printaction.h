// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptprinter.h"

#include <QStringList>

#include <functional>

class QWidget;

// The one way the screens print stored receipts: through the print dialog and the print
// job on receipt paper. Tests replace the job (to write a PDF instead of facing the print
// dialog).
namespace PrintAction {

// Receipt paper, 241 × 93 mm, in points: what a replacement is handed.
inline constexpr double paperWidth = ReceiptPrinter::paperWidth;
inline constexpr double paperHeight = ReceiptPrinter::paperHeight;

using Function = std::function<void(double width, double height)>;
// A replacement that says whether the receipt was printed (false: the dialog cancelled).
using FunctionWithOutcome = std::function<bool(double width, double height)>;

// Runs the print job for AppStore::receiptPrint; returns when the print dialog has been
// answered: true when the receipt went to the printer or file.
bool printReceipt(QWidget *parent = nullptr);

// 打印预览 of AppStore::receiptPrint; 打印 there prints it as printReceipt() does (then
// true, and the print is recorded as any other).
bool previewReceipt(QWidget *parent = nullptr);

// The list's 打印 with two or more receipts selected: asks "打印所选 N 张收据？"
// (MessageBox::confirmPrint), then prints them as one job, one page each in number order.
// False when declined, cancelled or a receipt cannot be printed.
bool printReceipts(QWidget *parent, const QStringList &ids);

// Tests: what runs instead of the job of several receipts, once confirmed.
void setBatchFunction(std::function<bool(const QStringList &ids)> function);

// Tests: `function` runs instead of the print job (and counts as printed); an empty
// function restores the job.
void setFunction(Function function);
void setFunctionWithOutcome(FunctionWithOutcome function);

} // namespace PrintAction
