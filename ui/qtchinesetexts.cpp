// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtchinesetexts.h"

#include <cstring>

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    const char *context;
    const char *source;
    const char16_t *chinese;
};

// QAbstractFileIconProvider::type(): what a file dialog's 类型 column says of a drive, a
// folder and a file it has no description for.
constexpr Text texts[] = {
    {"QAbstractFileIconProvider", "Drive", u"驱动器"},
    {"QAbstractFileIconProvider", "File", u"文件"},
    {"QAbstractFileIconProvider", "%1 File", u"%1 文件"},
    {"QAbstractFileIconProvider", "Folder", u"文件夹"},
    {"QAbstractFileIconProvider", "File Folder", u"文件夹"},
    {"QAbstractFileIconProvider", "Shortcut", u"快捷方式"},
    {"QAbstractFileIconProvider", "Alias", u"替身"},
    {"QAbstractFileIconProvider", "Unknown", u"未知"},
};

} // namespace

QString QtChineseTexts::translate(const char *context, const char *sourceText,
                                  const char *disambiguation, int n) const
{
    Q_UNUSED(disambiguation)
    Q_UNUSED(n)
    if (!context || !sourceText)
        return {};
    for (const Text &text : texts) {
        if (std::strcmp(context, text.context) == 0 && std::strcmp(sourceText, text.source) == 0)
            return QString::fromUtf16(text.chinese);
    }
    return {};
}
