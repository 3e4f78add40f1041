// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class PrintJob;
class QWidget;

// The windows around printing: the print dialog, which offers the printer (or the PDF
// folder) used last, a progress window while the job is handed over, the preview, and a
// message when the job fails or its pages were fitted onto a printer's other paper. What
// goes on the paper and what is recorded is PrintJob's; this only asks and tells.
namespace PrintDialogs {

// Asks for the printer and prints `job` on it. True when the job went out (its receipts'
// prints are then in their history); false when the user cancelled or it could not be
// printed, which the user has been told.
bool print(QWidget *parent, const PrintJob &job);

// 打印预览: the pages of `job` as they will print, drawn as the printer gets them. True
// when the user chose 打印 there; the caller then prints through its own path, so that a
// print from the preview is asked for, checked and recorded like any other.
bool preview(QWidget *parent, const PrintJob &job);

} // namespace PrintDialogs
