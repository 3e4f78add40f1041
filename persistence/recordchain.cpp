// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordchain.h"

#include <QCryptographicHash>

#include <charconv>

QByteArray RecordChain::link(QByteArrayView previous,
                             std::span<const std::optional<QByteArrayView>> fields)
{
    // One hash per thread, started again for each link: a proof links a million rows.
    thread_local QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.reset();
    hash.addData(previous);
    for (const std::optional<QByteArrayView> &field : fields) {
        if (!field) {
            hash.addData("|~");
            continue;
        }
        char length[24] = {'|'};
        const auto end = std::to_chars(length + 1, length + sizeof length - 1, field->size()).ptr;
        *end = ':';
        hash.addData(QByteArrayView(length, end + 1 - length));
        hash.addData(*field);
    }
    return hash.resultView().toByteArray().toHex();
}
