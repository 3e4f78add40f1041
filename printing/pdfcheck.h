// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether a PDF the program has just written is whole: the PDF writer reports no failure
// when the disk is full, and leaves a file cut short that viewers refuse. Read back as a
// viewer reads it, with no repair attempted.
namespace PdfCheck {

// What is wrong with the PDF at `path`, which should have `pages` pages; empty when it
// opens without a complaint and has them all.
QString problem(const QString &path, int pages);

} // namespace PdfCheck
