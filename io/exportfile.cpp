// SPDX-License-Identifier: GPL-3.0-or-later
#include "exportfile.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

bool ExportFile::startsLikeFormula(QStringView text)
{
    if (text.isEmpty())
        return false;
    const char16_t first = text.front().unicode();
    return first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t'
        || first == u'\r';
}

void ExportFile::appendCsvField(QString &out, QStringView field)
{
    bool quote = false;
    for (const QChar c : field) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += field;
        return;
    }
    out += u'"';
    for (const QChar c : field) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
}

void ExportFile::appendCsvText(QString &out, const QString &text)
{
    if (startsLikeFormula(text))
        appendCsvField(out, QString(QChar(u'\'') + text));
    else
        appendCsvField(out, text);
}

int ExportFile::displayWidth(QStringView text)
{
    int width = 0;
    for (const QChar c : text) {
        if (c.isLowSurrogate())
            continue;
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    }
    return width;
}

QByteArray ExportFile::excelText(const QString &text, bool *cut)
{
    // Nearly every text needs none of what follows: one look at its characters tells.
    if (text.size() <= cellTextLimit && std::none_of(text.begin(), text.end(), [](QChar c) {
            return c == u'\0' || c == u'_';
        })) {
        if (cut)
            *cut = false;
        return text.toUtf8();
    }
    // Excel reads "_x0041_" in a text as the character it codes (how it writes control
    // characters); the underscore that begins such a run is itself written coded.
    QString out = text;
    bool shortened = false;
    // The workbook writer takes C strings: a NUL would end the text there unsaid.
    if (const qsizetype nul = out.indexOf(QChar(u'\0')); nul >= 0) {
        out.truncate(nul);
        shortened = true;
    }
    if (out.contains(u"_x")) {
        static const QRegularExpression coded(u"_(?=x[0-9A-Fa-f]{4}_)"_s);
        out.replace(coded, u"_x005F_"_s);
    }
    if (out.size() > cellTextLimit) {
        out.truncate(cellTextLimit);
        if (out.back().isHighSurrogate())
            out.chop(1);
        shortened = true;
    }
    if (cut)
        *cut = shortened;
    return out.toUtf8();
}

QString ExportFile::cellName(int row, int column)
{
    QString letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar(u'A' + (n - 1) % 26));
    return letters + QString::number(row + 1);
}
