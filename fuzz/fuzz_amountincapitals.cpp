// SPDX-License-Identifier: GPL-3.0-or-later
// Any text at all goes into amountInCapitals: it must never crash, and it answers
// either nothing or a capitals text that ends in 整 or 分 and holds no spell-out numeral.

#include "amountincapitals.h"

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString capitals = amountInCapitals(text);
    if (capitals.isEmpty())
        return 0;
    if (!capitals.endsWith(u'整') && !capitals.endsWith(u'分'))
        std::abort();
    for (const QChar c : capitals) {
        if (QStringView(u"一二三四五六七八九十百千〇").contains(c))
            std::abort();
    }
    return 0;
}
