// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QList>
#include <QRectF>
#include <QString>

#include <optional>

// Gives a PDF written by QPrinter the text that was drawn on it back in its text layer.
//
// Qt gives every embedded font a ToUnicode map made by looking each glyph up backwards in
// the font's character map. Where several code points share a glyph that picks the lowest
// one, so 金 and 角 read back as the Kangxi radicals ⾦ and ⻆; and a glyph that only
// shaping reaches, such as the alternate digits the CJK font puts after a letter
// ("No.0001234"), gets no entry at all and reads back as nothing. Here the maps are
// rewritten from what was drawn: each text is shaped again the way QPainter shapes it,
// each glyph tied to the characters it shows, and the glyph codes the pages show matched
// against those glyphs in drawing order. The file is read and written back with libqpdf,
// in one pass that can also give the pages their exact size (Qt keeps page sizes in whole
// points).
class PdfTextLayer
{
public:
    // One QPainter::drawText call: the string as drawn, in the font it was drawn in.
    struct Text
    {
        QString text;
        QFont font;
    };

    PdfTextLayer() = delete;

    // Rewrites the fonts' ToUnicode maps of the PDF file at `path`, as Qt wrote it, on whose
    // pages exactly `texts` were drawn, in that order, page after page; with `pageBox`, each
    // page Qt gave that size rounded to whole points gets that box exactly. A font whose
    // glyphs do not match the texts keeps the map Qt wrote, as does a file whose pages
    // cannot be followed. The file is written over in place, and only when something
    // changes: `path` is a file of the caller's own (a scratch file it puts in place once
    // checked). False, with the reason in *error, when the file cannot be read or written
    // back: a file that could not be read is as Qt wrote it.
    static bool rewriteFile(const QString &path, const QList<Text> &texts,
                            QString *error = nullptr,
                            const std::optional<QRectF> &pageBox = std::nullopt);
};
