// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPainterPath>
#include <QRectF>
#include <QString>

// The code printed on a stored receipt (its text is ReceiptProof's) as a QR code: the
// symbol libqrencode makes of it at error correction level M, whose four modules of quiet
// zone are part of the square it is given, so that whatever stands beside the square
// stays clear of the symbol. Drawn as filled squares, which a PDF keeps as vectors and a
// printer draws at its own resolution.
namespace ReceiptCode {

// The dark modules of the symbol of `text` laid out in `square`, as one path: the modules
// of a row that touch are one rectangle, and the whole symbol is filled at once, so that
// no seam shows between two modules. Empty when the text cannot be encoded.
QPainterPath modules(const QString &text, const QRectF &square);

} // namespace ReceiptCode
