// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordchain.h"

#include <QCryptographicHash>

QByteArray RecordChain::link(QByteArrayView previous,
                             std::span<const std::optional<QByteArrayView>> fields)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(previous);
    for (const std::optional<QByteArrayView> &field : fields) {
        hash.addData("|");
        if (!field) {
            hash.addData("~");
            continue;
        }
        hash.addData(QByteArray::number(field->size()));
        hash.addData(":");
        hash.addData(*field);
    }
    return hash.result().toHex();
}
