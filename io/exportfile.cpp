// SPDX-License-Identifier: GPL-3.0-or-later
#include "exportfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

bool startsLikeFormula(QStringView text)
{
    if (text.isEmpty())
        return false;
    const char16_t first = text.front().unicode();
    return first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t'
        || first == u'\r';
}

// A new empty file beside target, under a name no other file has, created as any new
// file is (so the umask applies to it); empty with the reason when none can be made.
QString createScratchBeside(const QString &target, QString *error)
{
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString candidate = info.dir().filePath(
            u".%1.%2.tmp"_s.arg(info.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0')));
        QFile file(candidate);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return candidate;
        if (!file.exists()) {
            *error = file.errorString();
            return {};
        }
    }
    *error = u"无法在 %1 建立临时文件"_s.arg(QDir::toNativeSeparators(info.absolutePath()));
    return {};
}

} // namespace

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

QString ExportFile::excelText(const QString &text)
{
    // Excel reads "_x0041_" in a text as the character it codes (how it writes control
    // characters); the underscore that begins such a run is itself written coded.
    QString out = text;
    if (out.contains(u"_x")) {
        static const QRegularExpression coded(u"_(?=x[0-9A-Fa-f]{4}_)"_s);
        out.replace(coded, u"_x005F_"_s);
    }
    if (out.size() > cellTextLimit) {
        out.truncate(cellTextLimit);
        if (out.back().isHighSurrogate())
            out.chop(1);
    }
    return out;
}

bool ExportFile::writeReplacing(
    const QString &target,
    const std::function<bool(const QString &scratchPath, QString *error)> &write, QString *error)
{
    const QFileInfo info(target);
    // As QSaveFile does: a file the user may not change is not replaced.
    if (info.exists() && !info.isDir() && !info.isWritable()) {
        *error = u"文件不可写"_s;
        return false;
    }
    const QString scratch = createScratchBeside(target, error);
    if (scratch.isEmpty())
        return false;
    bool written = write(scratch, error);
    if (written) {
        if (info.exists())
            QFile::setPermissions(scratch, QFile::permissions(target));
        // rename() replaces the target in one step, which QFile::rename does not.
        if (std::rename(QFile::encodeName(scratch).constData(),
                        QFile::encodeName(target).constData())
            != 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            written = false;
        }
    }
    if (!written)
        QFile::remove(scratch);
    return written;
}
