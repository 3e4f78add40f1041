// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptcode.h"

#include <qrencode.h>

#include <memory>

namespace {

// The margin the standard asks for around the symbol, in modules.
constexpr int quietZone = 4;

struct FreeCode
{
    void operator()(QRcode *code) const { QRcode_free(code); }
};

} // namespace

QPainterPath ReceiptCode::modules(const QString &text, const QRectF &square)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || square.isEmpty())
        return {};
    // Every character in 8-bit mode; the version the text needs, case kept.
    const std::unique_ptr<QRcode, FreeCode> code(
        QRcode_encodeString(bytes.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
    if (!code || code->width <= 0)
        return {};
    const int width = code->width;
    const qreal module = std::min(square.width(), square.height()) / (width + 2 * quietZone);
    const QPointF origin = square.topLeft() + QPointF(quietZone * module, quietZone * module);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (int y = 0; y < width; ++y) {
        const unsigned char *row = code->data + qsizetype(y) * width;
        for (int x = 0; x < width;) {
            // The lowest bit of each module says whether it is dark.
            if (!(row[x] & 1)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && (row[x] & 1))
                ++x;
            path.addRect(QRectF(origin.x() + start * module, origin.y() + y * module,
                                (x - start) * module, module));
        }
    }
    return path;
}
