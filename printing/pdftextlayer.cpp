// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdftextlayer.h"

#include <QFile>
#include <QFileInfo>
#include <QGlyphRun>
#include <QHash>
#include <QLoggingCategory>
#include <QMap>
#include <QRawFont>
#include <QSet>
#include <QTextLayout>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <exception>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcTextLayer, "quenta.printing.pdftext", QtWarningMsg)

// ---------------------------------------------------------------------------------------
// What was drawn

// One glyph as drawn. `known` is false where the glyph could not be tied to characters: its
// entry stays as Qt wrote it. Known with an empty text, the glyph shows no character of its
// own (the second glyph of a character drawn in two).
struct DrawnGlyph
{
    quint32 glyph = 0;
    QString text;
    bool known = false;
};

// The glyphs of one font face in drawing order, and the face to look characters up in.
struct FontGlyphs
{
    QRawFont font;
    QList<DrawnGlyph> glyphs;
};

// One face at every size: the PDF embeds a face once whatever the sizes it is drawn at.
QString faceKey(const QRawFont &font)
{
    const QString style = font.styleName() + u'\n' + QString::number(font.weight()) + u'\n'
        + QString::number(int(font.style()));
    // What stands in where no installed font has a character is no font file: it has no
    // name table, and asking Qt for its family crashes. Its glyphs match no embedded font.
    if (!font.isValid() || font.fontTable("name").isEmpty())
        return u"\n"_s + style;
    return font.familyName() + u'\n' + style;
}

// The glyph the face's character map gives `character` (one code point), if any.
std::optional<quint32> mappedGlyph(const QRawFont &font, const QString &character)
{
    const QList<quint32> glyphs = font.glyphIndexesForString(character);
    if (glyphs.size() != 1 || glyphs.first() == 0)
        return std::nullopt;
    return glyphs.first();
}

class DisjointSets
{
public:
    explicit DisjointSets(qsizetype size)
        : m_parent(size)
    {
        std::iota(m_parent.begin(), m_parent.end(), 0);
    }
    qsizetype find(qsizetype i)
    {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }
    void unite(qsizetype a, qsizetype b) { m_parent[find(a)] = find(b); }

private:
    QList<qsizetype> m_parent;
};

// Appends the glyphs QPainter::drawText draws for `text` in `font` to their faces, in
// drawing order, each tied to the characters it shows. False when the text does not lay
// out on one line, as drawText would not draw it either.
bool appendDrawnGlyphs(const QString &text, const QFont &font, std::map<QString, FontGlyphs> &faces)
{
    if (text.isEmpty())
        return true;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    if (layout.lineCount() != 1 || line.textLength() != text.size())
        return false;

    // The line's runs of one face each. A character range's runs hold the same glyphs at
    // the same positions, which is how each glyph is found again for its characters.
    struct Run
    {
        QString face;
        QRawFont font;
        QList<QPointF> positions;
        QList<DrawnGlyph> glyphs;
        qsizetype firstCharacter = -1;
        bool rightToLeft = false;
    };
    QList<Run> runs;
    for (const QGlyphRun &glyphRun : line.glyphRuns()) {
        Run run {faceKey(glyphRun.rawFont()), glyphRun.rawFont(), glyphRun.positions(), {}, -1,
                 glyphRun.isRightToLeft()};
        for (const quint32 glyph : glyphRun.glyphIndexes())
            run.glyphs.append({glyph, {}, false});
        if (run.positions.size() != run.glyphs.size())
            return false;
        runs.append(run);
    }
    // Glyph n of run r is node `offsets[r] + n`, after the characters.
    QList<qsizetype> offsets;
    qsizetype glyphCount = 0;
    for (const Run &run : runs) {
        offsets.append(glyphCount);
        glyphCount += run.glyphs.size();
    }

    // Characters are whole code points. A glyph shared by several characters (a ligature)
    // and a character drawn with several glyphs join one cluster.
    QStringList characters;
    QList<qsizetype> starts;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length
            = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2
                                                                                               : 1;
        characters.append(text.mid(i, length));
        starts.append(i);
        i += length;
    }
    const qsizetype glyphNodes = characters.size();
    DisjointSets clusters(glyphNodes + glyphCount);
    QList<bool> tied(glyphCount, false);
    bool allTied = true;
    for (qsizetype c = 0; c < characters.size() && allTied; ++c) {
        for (const QGlyphRun &glyphRun :
             line.glyphRuns(int(starts[c]), int(characters[c].size()))) {
            const QString face = faceKey(glyphRun.rawFont());
            const QList<quint32> glyphs = glyphRun.glyphIndexes();
            const QList<QPointF> positions = glyphRun.positions();
            for (qsizetype i = 0; i < glyphs.size() && allTied; ++i) {
                qsizetype found = -1;
                for (qsizetype r = 0; r < runs.size() && found < 0; ++r) {
                    if (runs[r].face != face)
                        continue;
                    for (qsizetype n = 0; n < runs[r].glyphs.size() && found < 0; ++n) {
                        if (runs[r].glyphs[n].glyph == glyphs[i]
                            && (runs[r].positions[n] - positions.value(i)).manhattanLength()
                                < 1e-3) {
                            found = offsets[r] + n;
                            if (runs[r].firstCharacter < 0)
                                runs[r].firstCharacter = c;
                        }
                    }
                }
                // The text's glyphs still count in drawing order; they keep Qt's entries.
                allTied = found >= 0;
                if (allTied) {
                    clusters.unite(c, glyphNodes + found);
                    tied[found] = true;
                }
            }
        }
    }
    const auto glyphAt = [&](qsizetype node) -> DrawnGlyph & {
        const qsizetype r
            = std::upper_bound(offsets.cbegin(), offsets.cend(), node) - offsets.cbegin() - 1;
        return runs[r].glyphs[node - offsets[r]];
    };
    const auto fontAt = [&](qsizetype node) -> const QRawFont & {
        const qsizetype r
            = std::upper_bound(offsets.cbegin(), offsets.cend(), node) - offsets.cbegin() - 1;
        return runs[r].font;
    };

    QHash<qsizetype, QList<qsizetype>> clusterCharacters;
    QHash<qsizetype, QList<qsizetype>> clusterGlyphs;
    for (qsizetype c = 0; c < characters.size() && allTied; ++c)
        clusterCharacters[clusters.find(c)].append(c);
    for (qsizetype g = 0; g < glyphCount && allTied; ++g) {
        if (tied[g])
            clusterGlyphs[clusters.find(glyphNodes + g)].append(g);
    }
    for (auto it = clusterGlyphs.cbegin(); it != clusterGlyphs.cend(); ++it) {
        const QList<qsizetype> members = clusterCharacters.value(it.key());
        QList<bool> used(members.size(), false);
        // A glyph the character map gives one of the cluster's characters shows that
        // character; glyph 0 is the missing-glyph box, which shows no particular one.
        for (qsizetype g : it.value()) {
            DrawnGlyph &glyph = glyphAt(g);
            if (glyph.glyph == 0)
                continue;
            for (qsizetype m = 0; m < members.size(); ++m) {
                if (!used[m] && mappedGlyph(fontAt(g), characters[members[m]]) == glyph.glyph) {
                    glyph.text = characters[members[m]];
                    glyph.known = true;
                    used[m] = true;
                    break;
                }
            }
        }
        // What shaping drew otherwise (a ligature, an alternate, a composed letter) goes
        // to the first glyph left, in reading order.
        QString rest;
        for (qsizetype m = 0; m < members.size(); ++m) {
            if (!used[m])
                rest += characters[members[m]];
        }
        for (qsizetype g : it.value()) {
            DrawnGlyph &glyph = glyphAt(g);
            if (glyph.glyph == 0)
                continue;
            if (!glyph.known && !rest.isEmpty()) {
                glyph.text = rest;
                rest.clear();
            }
            glyph.known = true;
        }
    }

    // The line lists its runs left to right. QPainter draws the runs of one right-to-left
    // stretch, a word in another face or a space among them, in reading order.
    for (auto from = runs.begin(); from != runs.end();) {
        const auto to = std::find_if(
            from, runs.end(), [&](const Run &run) { return run.rightToLeft != from->rightToLeft; });
        if (from->rightToLeft) {
            std::stable_sort(from, to, [](const Run &a, const Run &b) {
                return a.firstCharacter < b.firstCharacter;
            });
        }
        from = to;
    }
    for (const Run &run : std::as_const(runs)) {
        FontGlyphs &face = faces[run.face];
        if (!face.font.isValid())
            face.font = run.font;
        face.glyphs += run.glyphs;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// What the file shows

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

uint codeOf(const std::string &bytes)
{
    uint code = 0;
    for (const char c : bytes)
        code = code << 8 | uchar(c);
    return code;
}

QString fromUtf16BigEndian(const std::string &bytes)
{
    QString text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += QChar(char16_t(uchar(bytes[i]) << 8 | uchar(bytes[i + 1])));
    return text;
}

QByteArray toUtf16Hex(const QString &text)
{
    QByteArray hex;
    for (const QChar c : text)
        hex += QByteArray::number(c.unicode(), 16).toUpper().rightJustified(4, '0');
    return hex;
}

// The bytes each font shows on one page, in order, added to what earlier pages showed:
// Qt numbers the glyphs of a font for the whole file, as it first draws them. A page whose
// content cannot be followed stops the reading (`followed()` is then false).
class ShownText : public QPDFObjectHandle::ParserCallbacks
{
public:
    ShownText(QPDFObjectHandle fonts, std::map<QPDFObjGen, std::string> &shown)
        : m_fonts(std::move(fonts))
        , m_shown(shown)
    { }

    bool followed() const { return m_followed; }

    void handleObject(QPDFObjectHandle object) override
    {
        if (!object.isOperator()) {
            m_operands.push_back(object);
            return;
        }
        const std::string op = object.getOperatorValue();
        std::vector<QPDFObjectHandle> operands;
        operands.swap(m_operands);
        if (op == "q") {
            m_saved.push_back(m_font);
        } else if (op == "Q") {
            if (m_saved.empty())
                return stop();
            m_font = m_saved.back();
            m_saved.pop_back();
        } else if (op == "Tf") {
            if (operands.size() != 2 || !operands[0].isName() || !m_fonts.isDictionary())
                return stop();
            const QPDFObjectHandle font = m_fonts.getKey(operands[0].getName());
            // Qt's fonts are objects of their own, which is how pages share them.
            if (!font.isIndirect())
                return stop();
            m_font = font.getObjGen();
        } else if (op == "Tj" || op == "'" || op == "\"" || op == "TJ") {
            if (!m_font || operands.empty())
                return stop();
            std::string &shown = m_shown[*m_font];
            if (op != "TJ") {
                if (!operands.back().isString())
                    return stop();
                shown += operands.back().getStringValue();
                return;
            }
            if (!operands.back().isArray())
                return stop();
            for (QPDFObjectHandle &item : operands.back().getArrayAsVector()) {
                if (item.isString())
                    shown += item.getStringValue();
                else if (!item.isNumber())
                    return stop();
            }
        } else if (op == "BI" || op == "ID" || op == "EI") {
            // An inline image: nothing Qt writes, and nothing of text.
            return stop();
        }
    }

    void handleEOF() override { }

private:
    void stop()
    {
        m_followed = false;
        terminateParsing();
    }

    QPDFObjectHandle m_fonts;
    std::map<QPDFObjGen, std::string> &m_shown;
    std::vector<QPDFObjectHandle> m_operands;
    std::optional<QPDFObjGen> m_font;
    std::vector<std::optional<QPDFObjGen>> m_saved;
    bool m_followed = true;
};

// The mappings of a ToUnicode CMap of two-byte codes, as Qt writes it: single codes
// (bfchar), and ranges (bfrange) given either as a list of texts or as a first text whose
// last unit counts up, which Qt writes for a run of ten or more consecutive codes.
class ToUnicodeReader : public QPDFObjectHandle::ParserCallbacks
{
public:
    // Nothing when the map is not of two-byte codes or holds what cannot be read.
    std::optional<QMap<uint, QString>> entries() const
    {
        return m_readable && m_twoByteCodes ? std::optional(m_entries) : std::nullopt;
    }

    void handleObject(QPDFObjectHandle object) override
    {
        if (!object.isOperator()) {
            m_operands.push_back(object);
            return;
        }
        const std::string op = object.getOperatorValue();
        std::vector<QPDFObjectHandle> operands;
        operands.swap(m_operands);
        if (op == "endcodespacerange") {
            m_twoByteCodes = operands.size() == 2 && isCode(operands[0])
                && operands[0].getStringValue() == std::string(2, '\0') && isCode(operands[1])
                && operands[1].getStringValue() == std::string(2, '\xff');
        } else if (op == "endbfchar") {
            if (operands.size() % 2 != 0)
                return stop();
            for (size_t i = 0; i < operands.size(); i += 2) {
                if (!isCode(operands[i]) || !operands[i + 1].isString())
                    return stop();
                m_entries.insert(codeOf(operands[i].getStringValue()),
                                 fromUtf16BigEndian(operands[i + 1].getStringValue()));
            }
        } else if (op == "endbfrange") {
            if (operands.size() % 3 != 0)
                return stop();
            for (size_t i = 0; i < operands.size(); i += 3) {
                if (!readRange(operands[i], operands[i + 1], operands[i + 2]))
                    return stop();
            }
        } else if (op == "usecmap" || op == "endcidchar" || op == "endcidrange") {
            // Mappings taken from elsewhere, or not to text.
            return stop();
        }
    }

    void handleEOF() override { }

private:
    static bool isCode(QPDFObjectHandle &object)
    {
        return object.isString() && object.getStringValue().size() == 2;
    }

    bool readRange(QPDFObjectHandle &first, QPDFObjectHandle &last, QPDFObjectHandle &texts)
    {
        if (!isCode(first) || !isCode(last))
            return false;
        const uint low = codeOf(first.getStringValue());
        const uint high = codeOf(last.getStringValue());
        if (high < low)
            return false;
        if (texts.isArray()) {
            const std::vector<QPDFObjectHandle> items = texts.getArrayAsVector();
            if (items.size() != size_t(high - low) + 1)
                return false;
            for (uint code = low; code <= high; ++code) {
                QPDFObjectHandle item = items[code - low];
                if (!item.isString())
                    return false;
                m_entries.insert(code, fromUtf16BigEndian(item.getStringValue()));
            }
            return true;
        }
        if (!texts.isString())
            return false;
        QString text = fromUtf16BigEndian(texts.getStringValue());
        if (text.isEmpty())
            return false;
        for (uint code = low; code <= high; ++code) {
            m_entries.insert(code, text);
            text.back() = QChar(char16_t(text.back().unicode() + 1));
        }
        return true;
    }

    void stop()
    {
        m_readable = false;
        terminateParsing();
    }

    std::vector<QPDFObjectHandle> m_operands;
    QMap<uint, QString> m_entries;
    bool m_twoByteCodes = false;
    bool m_readable = true;
};

QByteArray toUnicodeMap(const QMap<uint, QString> &entries)
{
    QByteArray out = "/CIDInit /ProcSet findresource begin\n"
                     "12 dict begin\n"
                     "begincmap\n"
                     "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                     "/CMapName /Adobe-Identity-UCS def\n"
                     "/CMapType 2 def\n"
                     "1 begincodespacerange\n"
                     "<0000> <FFFF>\n"
                     "endcodespacerange\n";
    const QList<uint> codes = entries.keys();
    // A block holds at most a hundred mappings.
    for (qsizetype from = 0; from < codes.size(); from += 100) {
        const qsizetype count = std::min<qsizetype>(100, codes.size() - from);
        out += QByteArray::number(count) + " beginbfchar\n";
        for (qsizetype i = from; i < from + count; ++i) {
            out += '<' + QByteArray::number(codes[i], 16).toUpper().rightJustified(4, '0') + "> <"
                + toUtf16Hex(entries.value(codes[i])) + ">\n";
        }
        out += "endbfchar\n";
    }
    return out
        + "endcmap\n"
          "CMapName currentdict /CMap defineresource pop\n"
          "end\n"
          "end\n";
}

// Whether `drawn` can be what the codes show: the n-th code shown is the n-th glyph drawn,
// one code always stands for one glyph and one glyph for one code (Qt numbers the glyphs
// of a face as it first draws them), and every code point Qt's map gives reaches that
// glyph in the face's character map.
bool showsDrawnGlyphs(const QList<uint> &codes, const FontGlyphs &drawn,
                      const QMap<uint, QString> &written)
{
    if (codes.size() != drawn.glyphs.size())
        return false;
    QHash<uint, quint32> glyphOfCode;
    QHash<quint32, uint> codeOfGlyph;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        const quint32 glyph = drawn.glyphs[i].glyph;
        if (glyphOfCode.value(codes[i], glyph) != glyph
            || codeOfGlyph.value(glyph, codes[i]) != codes[i])
            return false;
        glyphOfCode.insert(codes[i], glyph);
        codeOfGlyph.insert(glyph, codes[i]);
    }
    for (auto it = glyphOfCode.cbegin(); it != glyphOfCode.cend(); ++it) {
        const QString text = written.value(it.key());
        if (it.value() == 0 || text.isEmpty() || text == QString(QChar(0)))
            continue;
        if (mappedGlyph(drawn.font, text) != it.value())
            return false;
    }
    return true;
}

// The map of `entries` with the codes of `drawn` (shown as `codes`) labelled with the
// text they were drawn for. A code drawn for several texts keeps the first; a code drawn
// only where it shows no character of its own is taken out of the map.
QMap<uint, QString> labelled(QMap<uint, QString> entries, const QList<uint> &codes,
                             const FontGlyphs &drawn)
{
    QHash<uint, QString> labels;
    QSet<uint> silent;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        const DrawnGlyph &glyph = drawn.glyphs[i];
        if (!glyph.known)
            continue;
        if (glyph.text.isEmpty())
            silent.insert(codes[i]);
        else if (!labels.contains(codes[i]))
            labels.insert(codes[i], glyph.text);
    }
    for (auto label = labels.cbegin(); label != labels.cend(); ++label)
        entries.insert(label.key(), label.value());
    for (uint code : std::as_const(silent)) {
        if (!labels.contains(code))
            entries.remove(code);
    }
    return entries;
}

// Rewrites the ToUnicode maps of `pdf`'s fonts from `drawn`; whether any changed.
bool relabelFonts(QPDF &pdf, const std::map<QString, FontGlyphs> &drawn)
{
    // Every font of every page, and the codes each shows, page after page.
    std::map<QPDFObjGen, std::string> shown;
    std::map<QPDFObjGen, QPDFObjectHandle> fonts;
    for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        QPDFObjectHandle resources = page.getAttribute("/Resources", false);
        QPDFObjectHandle pageFonts
            = resources.isDictionary() ? resources.getKey("/Font") : QPDFObjectHandle::newNull();
        if (pageFonts.isDictionary()) {
            for (auto &[name, font] : pageFonts.ditems()) {
                if (font.isIndirect())
                    fonts.emplace(font.getObjGen(), font);
            }
        }
        ShownText text(pageFonts, shown);
        page.parseContents(&text);
        if (!text.followed()) {
            qCDebug(lcTextLayer) << "Page content that cannot be followed; the text is left as "
                                    "it is";
            return false;
        }
    }

    // A map shared by two fonts (which Qt does not write) could not be right for both.
    std::map<QPDFObjGen, int> mapUsers;
    for (auto &[number, font] : fonts) {
        QPDFObjectHandle map = font.getKey("/ToUnicode");
        if (map.isIndirect())
            ++mapUsers[map.getObjGen()];
    }

    bool changed = false;
    for (auto &[number, font] : fonts) {
        const std::string &bytes = shown[number];
        QPDFObjectHandle map = font.getKey("/ToUnicode");
        if (bytes.empty() || bytes.size() % 2 != 0
            || !font.getKey("/Subtype").isNameAndEquals("/Type0")
            || !font.getKey("/Encoding").isNameAndEquals("/Identity-H") || !map.isStream()
            || !map.isIndirect() || mapUsers[map.getObjGen()] != 1)
            continue;
        ToUnicodeReader reader;
        QPDFObjectHandle::parseContentStream(map, &reader);
        const std::optional<QMap<uint, QString>> written = reader.entries();
        if (!written)
            continue;

        QList<uint> codes;
        for (size_t i = 0; i < bytes.size(); i += 2)
            codes.append(codeOf(bytes.substr(i, 2)));
        const auto matching = std::find_if(drawn.cbegin(), drawn.cend(), [&](const auto &face) {
            return showsDrawnGlyphs(codes, face.second, *written);
        });
        if (matching == drawn.cend()) {
            qCDebug(lcTextLayer) << "The glyphs of font" << number.unparse(' ').c_str()
                                 << "are not the ones drawn; its map is left as it is";
            continue;
        }
        const QMap<uint, QString> entries = labelled(*written, codes, matching->second);
        if (entries == *written)
            continue;
        const QByteArray data = toUnicodeMap(entries);
        map.replaceStreamData(data.toStdString(), QPDFObjectHandle::newNull(),
                              QPDFObjectHandle::newNull());
        changed = true;
    }
    return changed;
}

// Gives each page whose box is `box` give or take a point the box `box` exactly; whether
// any changed.
bool setPageBoxes(QPDF &pdf, const QRectF &box)
{
    bool changed = false;
    for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        QPDFObjectHandle written = page.getAttribute("/MediaBox", false);
        if (!written.isRectangle())
            continue;
        const QPDFObjectHandle::Rectangle was = written.getArrayAsRectangle();
        if (std::abs(was.urx - was.llx - box.width()) > 1
            || std::abs(was.ury - was.lly - box.height()) > 1)
            continue;
        QPDFObjectHandle exact = QPDFObjectHandle::newArray();
        for (const qreal edge : {box.left(), box.top(), box.right(), box.bottom()})
            exact.appendItem(QPDFObjectHandle::newReal(edge, 4));
        page.getObjectHandle().replaceKey("/MediaBox", exact);
        changed = true;
    }
    return changed;
}

} // namespace

bool PdfTextLayer::rewriteFile(const QString &path, const QList<Text> &texts, QString *error,
                               const std::optional<QRectF> &pageBox)
{
    std::map<QString, FontGlyphs> drawn;
    for (const Text &text : texts) {
        if (!appendDrawnGlyphs(text.text, text.font, drawn)) {
            setError(error, u"a text drawn on more than one line: %1"_s.arg(text.text.left(40)));
            return false;
        }
    }

    // Only a file: reading a pipe or a device back would wait for, or take, what others
    // write to it. A link is followed, and the file it points to is the one replaced.
    if (!QFileInfo(path).isFile()) {
        setError(error, u"%1 is not a file"_s.arg(path));
        return false;
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        setError(error, u"cannot read %1: %2"_s.arg(path, in.errorString()));
        return false;
    }
    const QByteArray pdf = in.readAll();
    in.close();

    QByteArray corrected;
    try {
        QPDF file;
        file.setSuppressWarnings(true);
        const QByteArray name = QFile::encodeName(path);
        file.processMemoryFile(name.constData(), pdf.constData(), size_t(pdf.size()));
        bool changed = relabelFonts(file, drawn);
        if (pageBox)
            changed = setPageBoxes(file, *pageBox) || changed;
        if (!changed)
            return true;
        QPDFWriter writer(file);
        writer.setOutputMemory();
        // The other streams go out as Qt compressed them; the same input gives the same file.
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setDeterministicID(true);
        writer.write();
        const std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        corrected = QByteArray(reinterpret_cast<const char *>(buffer->getBuffer()),
                               qsizetype(buffer->getSize()));
    } catch (const std::exception &exception) {
        setError(error, u"cannot rewrite %1: %2"_s.arg(path, QString::fromUtf8(exception.what())));
        return false;
    }

    // Written over in place: the file is one of the caller's own, the scratch file a
    // PDF is written to before it replaces the file the user named, and a write that fails
    // leaves it cut short, which the caller's check of the finished file finds.
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || out.write(corrected) != corrected.size() || !out.flush()) {
        setError(error, u"cannot write %1: %2"_s.arg(path, out.errorString()));
        return false;
    }
    return true;
}
