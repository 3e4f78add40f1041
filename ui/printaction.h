// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// The one way the screens print AppStore::receiptPrint: through the print job on receipt
// paper. Tests replace the job (to write a PDF instead of facing the print dialog).
namespace PrintAction {

// Receipt paper, 241 × 93 mm, in points (mm ÷ 25.4 × 72).
inline constexpr double paperWidth = 683.1496062992127;
inline constexpr double paperHeight = 263.6220472440945;

using Function = std::function<void(double width, double height)>;
// A replacement that says whether the receipt was printed (false: the dialog cancelled).
using FunctionWithOutcome = std::function<bool(double width, double height)>;

// Runs the print job for AppStore::receiptPrint at the paper size; returns when the
// print dialog has been answered: true when the receipt went to the printer or file.
bool printReceipt();

// 打印预览 of AppStore::receiptPrint, from which the user may print (then true, and the
// print is recorded as any other).
bool previewReceipt();

// The list's 打印 with two or more receipts selected: asks "打印所选 N 张收据？", then
// prints them as one job, one page each in number order. False when declined or cancelled.
bool printReceipts(QWidget *parent, const QStringList &ids);

// Tests: the answer the confirmation gives instead of showing itself (nothing: shown), and
// what runs instead of the job of several receipts.
void setConfirmAnswer(std::optional<bool> answer);
void setBatchFunction(std::function<bool(const QStringList &ids)> function);

// Tests: `function` runs instead of the print job (and counts as printed); an empty
// function restores the job.
void setFunction(Function function);
void setFunctionWithOutcome(FunctionWithOutcome function);

} // namespace PrintAction
