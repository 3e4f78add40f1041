// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFont>
#include <QList>
#include <QString>

// Gives a PDF written by QPrinter the text that was drawn on it back in its text layer.
//
// Qt gives every embedded font a ToUnicode map made by looking each glyph up backwards in
// the font's character map. Where several code points share a glyph that picks the lowest
// one, so 金 and 角 read back as the Kangxi radicals ⾦ and ⻆; and a glyph that only
// shaping reaches, such as the alternate digits the CJK font puts after a letter
// ("No.0001234"), gets no entry at all and reads back as nothing. Here the maps are
// rewritten from what was drawn: each text is shaped again the way QPainter shapes it,
// each glyph tied to the characters it shows, and the glyph codes the page shows matched
// against those glyphs in drawing order.
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

    // `pdf` as Qt wrote it for one page on which exactly `texts` were drawn, in that order.
    // Returns the file with its fonts' ToUnicode maps rewritten and its cross-reference
    // table rebuilt; or `pdf` unchanged when the file is not in the form Qt writes or the
    // texts do not account for the glyphs on the page. A font whose glyphs do not match
    // keeps the map Qt wrote.
    static QByteArray withDrawnText(const QByteArray &pdf, const QList<Text> &texts);
    // The same for the file at `path`, which is replaced only when its text changes.
    static void rewriteFile(const QString &path, const QList<Text> &texts);
};
