// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdftextlayer.h"

#include <QFile>
#include <QGlyphRun>
#include <QHash>
#include <QLoggingCategory>
#include <QMap>
#include <QRawFont>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTextLayout>

#include <map>
#include <numeric>
#include <optional>

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
// Reading PDF syntax

struct Token
{
    enum Kind { Number, Name, String, Operator, ArrayOpen, ArrayClose, DictOpen, DictClose, Bad };
    Kind kind;
    QByteArray value; // a name without its slash, a string decoded
};

bool isWhite(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(char c)
{
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{'
        || c == '}' || c == '/' || c == '%';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The tokens of a content stream or a CMap. Anything it cannot read ends in a Bad token.
class Tokenizer
{
public:
    explicit Tokenizer(const QByteArray &data)
        : m_data(data)
    { }

    std::optional<Token> next()
    {
        skipWhiteAndComments();
        if (m_pos >= m_data.size())
            return std::nullopt;
        const char c = m_data[m_pos];
        if (c == '(')
            return literalString();
        if (c == '<') {
            if (peek(1) == '<') {
                m_pos += 2;
                return Token {Token::DictOpen, {}};
            }
            return hexString();
        }
        if (c == '>') {
            if (peek(1) != '>')
                return bad();
            m_pos += 2;
            return Token {Token::DictClose, {}};
        }
        if (c == '[' || c == ']') {
            ++m_pos;
            return Token {c == '[' ? Token::ArrayOpen : Token::ArrayClose, {}};
        }
        if (c == '{' || c == '}') {
            ++m_pos;
            return Token {Token::Operator, QByteArray(1, c)};
        }
        if (c == ')')
            return bad();
        const bool name = c == '/';
        if (name)
            ++m_pos;
        const qsizetype start = m_pos;
        while (m_pos < m_data.size() && !isWhite(m_data[m_pos]) && !isDelimiter(m_data[m_pos]))
            ++m_pos;
        const QByteArray word = m_data.mid(start, m_pos - start);
        if (name)
            return Token {Token::Name, word};
        if (word.isEmpty())
            return bad();
        const char first = word[0];
        const bool number
            = (first >= '0' && first <= '9') || first == '+' || first == '-' || first == '.';
        return Token {number ? Token::Number : Token::Operator, word};
    }

private:
    char peek(qsizetype ahead) const
    {
        return m_pos + ahead < m_data.size() ? m_data[m_pos + ahead] : '\0';
    }

    Token bad()
    {
        m_pos = m_data.size();
        return {Token::Bad, {}};
    }

    void skipWhiteAndComments()
    {
        while (m_pos < m_data.size()) {
            if (isWhite(m_data[m_pos])) {
                ++m_pos;
            } else if (m_data[m_pos] == '%') {
                while (m_pos < m_data.size() && m_data[m_pos] != '\n' && m_data[m_pos] != '\r')
                    ++m_pos;
            } else {
                return;
            }
        }
    }

    Token literalString()
    {
        QByteArray value;
        int depth = 0;
        while (++m_pos < m_data.size()) {
            char c = m_data[m_pos];
            if (c == '(') {
                ++depth;
            } else if (c == ')') {
                if (depth-- == 0) {
                    ++m_pos;
                    return {Token::String, value};
                }
            } else if (c == '\r') {
                // An end of line in a string reads as a line feed, whichever it was.
                if (peek(1) == '\n')
                    ++m_pos;
                c = '\n';
            } else if (c == '\\') {
                if (++m_pos >= m_data.size())
                    break;
                c = m_data[m_pos];
                switch (c) {
                case 'n':
                    c = '\n';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case 't':
                    c = '\t';
                    break;
                case 'b':
                    c = '\b';
                    break;
                case 'f':
                    c = '\f';
                    break;
                case '\r':
                    if (peek(1) == '\n')
                        ++m_pos;
                    continue;
                case '\n':
                    continue;
                default:
                    if (c >= '0' && c <= '7') {
                        int code = c - '0';
                        for (int i = 0; i < 2 && peek(1) >= '0' && peek(1) <= '7'; ++i)
                            code = code * 8 + (m_data[++m_pos] - '0');
                        c = char(code);
                    }
                    break;
                }
            }
            value += c;
        }
        return bad();
    }

    Token hexString()
    {
        QByteArray value;
        int high = -1;
        while (++m_pos < m_data.size()) {
            const char c = m_data[m_pos];
            if (c == '>') {
                ++m_pos;
                if (high >= 0)
                    value += char(high << 4);
                return {Token::String, value};
            }
            if (isWhite(c))
                continue;
            const int digit = hexValue(c);
            if (digit < 0)
                break;
            if (high < 0) {
                high = digit;
            } else {
                value += char(high << 4 | digit);
                high = -1;
            }
        }
        return bad();
    }

    const QByteArray m_data;
    qsizetype m_pos = 0;
};

// Where the dictionary that starts at `from` ("<<") ends, just after its ">>"; -1 when it
// does not end. Strings inside it may hold brackets of either kind.
qsizetype dictionaryEnd(const QByteArray &data, qsizetype from)
{
    int depth = 0;
    for (qsizetype i = from; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '<' && i + 1 < data.size() && data[i + 1] == '<') {
            ++depth;
            ++i;
        } else if (c == '>' && i + 1 < data.size() && data[i + 1] == '>') {
            ++i;
            if (--depth == 0)
                return i + 1;
        } else if (c == '(') {
            int parens = 0;
            for (; i < data.size(); ++i) {
                if (data[i] == '\\')
                    ++i;
                else if (data[i] == '(')
                    ++parens;
                else if (data[i] == ')' && --parens == 0)
                    break;
            }
        } else if (c == '<') {
            i = data.indexOf('>', i);
            if (i < 0)
                return -1;
        }
    }
    return -1;
}

// The first match of `pattern` in a piece of PDF syntax; the bytes are read as Latin-1, so
// that positions and captures keep their byte values.
QRegularExpressionMatch matchIn(const QByteArray &data, const QString &pattern)
{
    return QRegularExpression(pattern).match(QString::fromLatin1(data));
}

// ---------------------------------------------------------------------------------------
// The file

struct Stream
{
    QByteArray dictionary;
    QByteArray data; // decoded
};

// A PDF in the form QPrinter writes it: the header, numbered objects of generation 0,
// one classic cross-reference table listing every one of them, and its trailer. Objects
// can be replaced and the table rebuilt around them.
class PdfFile
{
public:
    bool parse(const QByteArray &pdf)
    {
        m_pdf = pdf;
        if (!m_pdf.startsWith("%PDF-"))
            return false;
        const qsizetype startxref = m_pdf.lastIndexOf("startxref");
        if (startxref < 0)
            return false;
        const auto end = matchIn(m_pdf.mid(startxref), u"^startxref\\s+(\\d+)\\s+%%EOF\\s*$"_s);
        if (!end.hasMatch())
            return false;
        m_xref = end.captured(1).toLongLong();
        const qsizetype trailer = m_pdf.indexOf("trailer", m_xref);
        if (m_xref <= 0 || m_xref >= startxref || !m_pdf.mid(m_xref).startsWith("xref")
            || trailer < m_xref + 4 || trailer > startxref)
            return false;

        // Subsections of "first count" and count entries of "offset generation n|f".
        const QList<QByteArray> table
            = m_pdf.mid(m_xref + 4, trailer - m_xref - 4).simplified().split(' ');
        QMap<qsizetype, int> byOffset;
        bool freeHead = false;
        qsizetype i = 0;
        while (i + 1 < table.size()) {
            bool ok1 = false;
            bool ok2 = false;
            const int first = table[i].toInt(&ok1);
            const int count = table[i + 1].toInt(&ok2);
            i += 2;
            if (!ok1 || !ok2 || first < 0 || count < 0 || i + 3 * qsizetype(count) > table.size())
                return false;
            for (int k = 0; k < count; ++k, i += 3) {
                const int number = first + k;
                const qsizetype offset = table[i].toLongLong(&ok1);
                if (!ok1 || m_offsets.contains(number) || (number == 0 && freeHead))
                    return false;
                if (table[i + 2] == "f" && number == 0) {
                    freeHead = true;
                } else if (table[i + 2] == "n" && table[i + 1].toInt(&ok2) == 0 && ok2 && number > 0
                           && offset > 0 && offset < m_xref && !byOffset.contains(offset)) {
                    m_offsets.insert(number, offset);
                    byOffset.insert(offset, number);
                } else {
                    return false;
                }
            }
        }
        if (i != table.size())
            return false;
        m_size = int(m_offsets.size()) + 1;
        if (!freeHead || m_offsets.isEmpty() || m_offsets.lastKey() != m_size - 1)
            return false;

        // The trailer: kept as it is, so it must not point at anything the rebuilt table
        // does not hold.
        m_trailer = m_pdf.mid(trailer + 7, startxref - trailer - 7);
        const auto size = matchIn(m_trailer, u"/Size\\s+(\\d+)"_s);
        if (!size.hasMatch() || size.captured(1).toInt() != m_size || m_trailer.contains("/Prev")
            || m_trailer.contains("/XRefStm") || m_trailer.contains("/Encrypt"))
            return false;

        // Each object runs to the next one, the last to the table.
        for (auto it = byOffset.cbegin(); it != byOffset.cend(); ++it) {
            const auto next = std::next(it);
            const qsizetype stop = next == byOffset.cend() ? m_xref : next.key();
            const QByteArray bytes = m_pdf.mid(it.key(), stop - it.key());
            const QByteArray header = QByteArray::number(it.value()) + " 0 obj";
            if (!bytes.startsWith(header) || bytes.size() == header.size()
                || (!isWhite(bytes[header.size()]) && !isDelimiter(bytes[header.size()]))
                || !bytes.trimmed().endsWith("endobj"))
                return false;
            m_spans.insert(it.value(), {it.key(), stop});
        }
        return true;
    }

    QList<int> numbers() const { return m_offsets.keys(); }

    // What lies between "N 0 obj" and "endobj".
    QByteArray body(int number) const
    {
        const auto span = m_spans.value(number, {0, 0});
        const QByteArray bytes = m_pdf.mid(span.first, span.second - span.first);
        const qsizetype from = bytes.indexOf("obj") + 3;
        return bytes.mid(from, bytes.lastIndexOf("endobj") - from);
    }

    // A stream object's dictionary and data, decoded when it is Flate-compressed.
    std::optional<Stream> stream(int number) const
    {
        const QByteArray object = body(number);
        qsizetype at = 0;
        while (at < object.size() && isWhite(object[at]))
            ++at;
        if (!object.mid(at).startsWith("<<"))
            return std::nullopt;
        const qsizetype dictEnd = dictionaryEnd(object, at);
        if (dictEnd < 0)
            return std::nullopt;
        Stream stream {object.mid(at, dictEnd - at), {}};
        at = dictEnd;
        while (at < object.size() && isWhite(object[at]))
            ++at;
        if (object.mid(at, 6) != "stream")
            return std::nullopt;
        at += 6;
        if (object.mid(at, 2) == "\r\n")
            at += 2;
        else if (object.mid(at, 1) == "\n")
            at += 1;
        else
            return std::nullopt;

        const auto lengthMatch
            = matchIn(stream.dictionary, u"/Length\\s+(\\d+)(?:\\s+(\\d+)\\s+R)?"_s);
        if (!lengthMatch.hasMatch())
            return std::nullopt;
        bool ok = false;
        qsizetype length = lengthMatch.captured(1).toLongLong(&ok);
        if (!lengthMatch.captured(2).isNull()) {
            if (lengthMatch.captured(2) != u"0"_s || !m_spans.contains(int(length)))
                return std::nullopt;
            length = body(int(length)).trimmed().toLongLong(&ok);
        }
        if (!ok || length < 0 || at + length > object.size()
            || object.mid(at + length).trimmed() != "endstream")
            return std::nullopt;
        const QByteArray raw = object.mid(at, length);

        if (stream.dictionary.contains("/DecodeParms"))
            return std::nullopt;
        // No filter, or Flate alone.
        const auto filter
            = matchIn(stream.dictionary, u"/Filter\\s*(?:/(\\w+)|\\[\\s*/(\\w+)\\s*\\])"_s);
        if (!filter.hasMatch()) {
            if (stream.dictionary.contains("/Filter"))
                return std::nullopt;
            stream.data = raw;
        } else {
            if (filter.captured(1) + filter.captured(2) != u"FlateDecode"_s)
                return std::nullopt;
            // qUncompress wants the size first; it grows its buffer when that is too small.
            QByteArray sized(4, '\0');
            sized[3] = 1;
            stream.data = qUncompress(sized + raw);
            if (stream.data.isEmpty() && !raw.isEmpty())
                return std::nullopt;
        }
        return stream;
    }

    // The file with whole objects replaced (each "N 0 obj ... endobj\n"), the rest as it
    // was, and a cross-reference table for the new offsets.
    QByteArray rebuilt(const QHash<int, QByteArray> &replaced) const
    {
        QList<std::pair<qsizetype, int>> order;
        for (auto it = m_spans.cbegin(); it != m_spans.cend(); ++it)
            order.append({it.value().first, it.key()});
        std::sort(order.begin(), order.end());
        QByteArray out = m_pdf.left(order.first().first);
        QList<qsizetype> offsets(m_size, 0);
        for (const auto &[start, number] : order) {
            offsets[number] = out.size();
            const auto span = m_spans.value(number);
            out += replaced.contains(number) ? replaced.value(number)
                                             : m_pdf.mid(span.first, span.second - span.first);
        }
        const qsizetype xref = out.size();
        out += "xref\n0 " + QByteArray::number(m_size) + "\n0000000000 65535 f \n";
        for (int number = 1; number < m_size; ++number)
            out += QByteArray::number(offsets[number]).rightJustified(10, '0') + " 00000 n \n";
        out += "trailer" + m_trailer + "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        return out;
    }

private:
    QByteArray m_pdf;
    QMap<int, qsizetype> m_offsets;
    QHash<int, std::pair<qsizetype, qsizetype>> m_spans;
    QByteArray m_trailer;
    qsizetype m_xref = 0;
    int m_size = 0;
};

// The codes shown in each font resource of a content stream, in order, as the bytes of
// the shown strings. False when the stream holds anything that cannot be followed.
bool collectShownBytes(const QByteArray &content, QHash<QByteArray, QByteArray> &shown)
{
    Tokenizer tokens(content);
    QList<Token> operands;
    QByteArray font;
    QList<QByteArray> savedFonts;
    std::optional<QByteArray> array;
    while (const std::optional<Token> token = tokens.next()) {
        switch (token->kind) {
        case Token::Bad:
            return false;
        case Token::ArrayOpen:
            if (array)
                return false;
            array = QByteArray();
            break;
        case Token::ArrayClose:
            if (!array)
                return false;
            operands.append(Token {Token::ArrayClose, *array});
            array.reset();
            break;
        case Token::String:
            if (array)
                *array += token->value;
            else
                operands.append(*token);
            break;
        case Token::Operator: {
            const QByteArray &op = token->value;
            // Inline image data is binary and cannot be tokenised.
            if (array || op == "BI" || op == "ID")
                return false;
            if (op == "q") {
                savedFonts.append(font);
            } else if (op == "Q") {
                if (savedFonts.isEmpty())
                    return false;
                font = savedFonts.takeLast();
            } else if (op == "Tf") {
                if (operands.size() < 2 || operands[operands.size() - 2].kind != Token::Name)
                    return false;
                font = operands[operands.size() - 2].value;
            } else if (op == "Tj" || op == "'" || op == "\"" || op == "TJ") {
                const Token::Kind wanted = op == "TJ" ? Token::ArrayClose : Token::String;
                if (operands.isEmpty() || operands.last().kind != wanted || font.isEmpty())
                    return false;
                shown[font] += operands.last().value;
            }
            operands.clear();
            break;
        }
        default:
            if (!array)
                operands.append(*token);
            break;
        }
    }
    return !array;
}

QString fromUtf16BigEndian(const QByteArray &bytes)
{
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
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

uint codeOf(const QByteArray &bytes)
{
    uint code = 0;
    for (const char c : bytes)
        code = code << 8 | uchar(c);
    return code;
}

// A ToUnicode CMap of two-byte codes: the text before its mappings, the mappings, and the
// text after them, so that only the mappings are written anew.
struct ToUnicodeMap
{
    QByteArray head;
    QMap<uint, QString> entries;
    QByteArray tail;

    bool parse(const QByteArray &data)
    {
        const QByteArray begin = "endcodespacerange";
        const qsizetype space = data.indexOf("begincodespacerange");
        const qsizetype from = data.indexOf(begin);
        const qsizetype to = data.indexOf("endcmap");
        if (space < 0 || from < space || to < from
            || data.mid(space + 19, from - space - 19).simplified() != "<0000> <FFFF>")
            return false;
        head = data.left(from + begin.size());
        tail = data.mid(to);

        Tokenizer tokens(data.mid(from + begin.size(), to - from - begin.size()));
        QList<Token> operands;
        // The arrays of a block's ranges; an ArrayClose operand's value is its index here.
        QList<QList<QByteArray>> arrays;
        bool inArray = false;
        while (const std::optional<Token> token = tokens.next()) {
            if (token->kind == Token::ArrayOpen && !inArray) {
                inArray = true;
                arrays.append(QList<QByteArray>());
            } else if (token->kind == Token::ArrayClose && inArray) {
                inArray = false;
                operands.append(Token {Token::ArrayClose, QByteArray::number(arrays.size() - 1)});
            } else if (token->kind == Token::String && inArray) {
                arrays.last().append(token->value);
            } else if (inArray || token->kind == Token::Bad) {
                return false;
            } else if (token->kind == Token::Operator) {
                if (token->value == "endbfchar") {
                    if (operands.size() % 2 != 0)
                        return false;
                    for (qsizetype i = 0; i < operands.size(); i += 2) {
                        if (operands[i].kind != Token::String || operands[i].value.size() != 2
                            || operands[i + 1].kind != Token::String)
                            return false;
                        entries.insert(codeOf(operands[i].value),
                                       fromUtf16BigEndian(operands[i + 1].value));
                    }
                } else if (token->value == "endbfrange") {
                    if (operands.size() % 3 != 0)
                        return false;
                    for (qsizetype i = 0; i < operands.size(); i += 3) {
                        if (operands[i].kind != Token::String || operands[i].value.size() != 2
                            || operands[i + 1].kind != Token::String
                            || operands[i + 1].value.size() != 2)
                            return false;
                        const uint low = codeOf(operands[i].value);
                        const uint high = codeOf(operands[i + 1].value);
                        if (high < low)
                            return false;
                        if (operands[i + 2].kind == Token::ArrayClose) {
                            const QList<QByteArray> array
                                = arrays.value(operands[i + 2].value.toInt());
                            if (array.size() != qsizetype(high - low) + 1)
                                return false;
                            for (uint code = low; code <= high; ++code)
                                entries.insert(code, fromUtf16BigEndian(array[code - low]));
                        } else if (operands[i + 2].kind == Token::String) {
                            QString text = fromUtf16BigEndian(operands[i + 2].value);
                            if (text.isEmpty())
                                return false;
                            for (uint code = low; code <= high; ++code) {
                                entries.insert(code, text);
                                text.back() = QChar(char16_t(text.back().unicode() + 1));
                            }
                        } else {
                            return false;
                        }
                    }
                } else if (token->value != "beginbfchar" && token->value != "beginbfrange") {
                    return false;
                }
                operands.clear();
                arrays.clear();
            } else {
                operands.append(*token);
            }
        }
        return !inArray && operands.isEmpty();
    }

    QByteArray written() const
    {
        QByteArray out = head + '\n';
        QList<uint> codes = entries.keys();
        for (qsizetype from = 0; from < codes.size(); from += 100) {
            const qsizetype count = std::min<qsizetype>(100, codes.size() - from);
            out += QByteArray::number(count) + " beginbfchar\n";
            for (qsizetype i = from; i < from + count; ++i) {
                out += '<' + QByteArray::number(codes[i], 16).toUpper().rightJustified(4, '0')
                    + "> <" + toUtf16Hex(entries.value(codes[i])) + ">\n";
            }
            out += "endbfchar\n";
        }
        return out + tail;
    }
};

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

} // namespace

QByteArray PdfTextLayer::withDrawnText(const QByteArray &pdf, const QList<Text> &texts)
{
    PdfFile file;
    if (!file.parse(pdf)) {
        qCDebug(lcTextLayer) << "Not a PDF in the form Qt writes; its text is left as it is";
        return pdf;
    }

    // The one page, its content and its fonts.
    static const QString pageType = u"/Type\\s*/Page(?![A-Za-z0-9])"_s;
    QList<int> pages;
    for (int number : file.numbers()) {
        if (matchIn(file.body(number), pageType).hasMatch())
            pages.append(number);
    }
    if (pages.size() != 1) {
        qCDebug(lcTextLayer) << "Not a single page; its text is left as it is";
        return pdf;
    }
    const QByteArray page = file.body(pages.first());
    QList<int> contentObjects;
    const auto contents = matchIn(page, u"/Contents\\s*(?:(\\d+)\\s+0\\s+R|\\[([^\\]]*)\\])"_s);
    if (!contents.hasMatch())
        return pdf;
    if (!contents.captured(1).isNull()) {
        contentObjects.append(contents.captured(1).toInt());
    } else {
        static const QRegularExpression reference(u"(\\d+)\\s+0\\s+R"_s);
        for (auto it = reference.globalMatch(contents.captured(2)); it.hasNext();)
            contentObjects.append(it.next().captured(1).toInt());
    }
    QByteArray content;
    for (int number : contentObjects) {
        const std::optional<Stream> stream = file.stream(number);
        if (!stream)
            return pdf;
        content += stream->data + '\n';
    }
    QHash<QByteArray, QByteArray> shown;
    if (!collectShownBytes(content, shown)) {
        qCDebug(lcTextLayer) << "Page content that cannot be followed; its text is left as it is";
        return pdf;
    }

    QByteArray resources = page;
    const auto resourcesReference = matchIn(page, u"/Resources\\s+(\\d+)\\s+0\\s+R"_s);
    if (resourcesReference.hasMatch())
        resources = file.body(resourcesReference.captured(1).toInt());
    const auto fontDictionary = matchIn(resources, u"/Font\\s*<<([^<>]*)>>"_s);
    QMap<QByteArray, int> fontResources;
    static const QRegularExpression fontEntry(u"/([^\\s/<>\\[\\]()]+)\\s+(\\d+)\\s+0\\s+R"_s);
    for (auto it = fontEntry.globalMatch(fontDictionary.captured(1)); it.hasNext();) {
        const auto entry = it.next();
        fontResources.insert(entry.captured(1).toLatin1(), entry.captured(2).toInt());
    }

    std::map<QString, FontGlyphs> drawn;
    for (const Text &text : texts) {
        if (!appendDrawnGlyphs(text.text, text.font, drawn))
            return pdf;
    }

    // A map shared by two fonts (which Qt does not write) could not be right for both.
    QHash<int, int> mapUsers;
    for (int number : std::as_const(fontResources)) {
        const auto toUnicode = matchIn(file.body(number), u"/ToUnicode\\s+(\\d+)\\s+0\\s+R"_s);
        if (toUnicode.hasMatch())
            ++mapUsers[toUnicode.captured(1).toInt()];
    }

    QHash<int, QByteArray> replaced;
    QSet<int> seenFonts;
    for (auto it = fontResources.cbegin(); it != fontResources.cend(); ++it) {
        const QByteArray bytes = shown.value(it.key());
        if (bytes.isEmpty() || bytes.size() % 2 != 0 || seenFonts.contains(it.value()))
            continue;
        seenFonts.insert(it.value());
        const QByteArray font = file.body(it.value());
        const auto toUnicode = matchIn(font, u"/ToUnicode\\s+(\\d+)\\s+0\\s+R"_s);
        if (!matchIn(font, u"/Subtype\\s*/Type0\\b"_s).hasMatch()
            || !matchIn(font, u"/Encoding\\s*/Identity-H\\b"_s).hasMatch() || !toUnicode.hasMatch())
            continue;
        const int mapObject = toUnicode.captured(1).toInt();
        if (mapUsers.value(mapObject) != 1)
            continue;
        const std::optional<Stream> mapStream = file.stream(mapObject);
        ToUnicodeMap map;
        if (!mapStream || mapStream->dictionary.contains("/Filter") || !map.parse(mapStream->data))
            continue;

        QList<uint> codes;
        for (qsizetype i = 0; i < bytes.size(); i += 2)
            codes.append(codeOf(bytes.mid(i, 2)));
        const FontGlyphs *matching = nullptr;
        for (const auto &[key, glyphs] : drawn) {
            if (showsDrawnGlyphs(codes, glyphs, map.entries)) {
                matching = &glyphs;
                break;
            }
        }
        if (!matching) {
            qCDebug(lcTextLayer) << "The glyphs of font" << it.key()
                                 << "are not the ones drawn; its map is left as it is";
            continue;
        }

        // A code drawn for several texts keeps the first; a code drawn only where it shows
        // no character of its own is taken out of the map.
        QHash<uint, QString> labels;
        QSet<uint> silent;
        for (qsizetype i = 0; i < codes.size(); ++i) {
            const DrawnGlyph &glyph = matching->glyphs[i];
            if (!glyph.known)
                continue;
            if (glyph.text.isEmpty())
                silent.insert(codes[i]);
            else if (!labels.contains(codes[i]))
                labels.insert(codes[i], glyph.text);
        }
        QMap<uint, QString> entries = map.entries;
        for (auto label = labels.cbegin(); label != labels.cend(); ++label)
            entries.insert(label.key(), label.value());
        for (uint code : std::as_const(silent)) {
            if (!labels.contains(code))
                entries.remove(code);
        }
        if (entries == map.entries)
            continue;
        map.entries = entries;
        const QByteArray data = map.written();
        replaced.insert(mapObject,
                        QByteArray::number(mapObject) + " 0 obj\n<< /Length "
                            + QByteArray::number(data.size()) + " >>\nstream\n" + data
                            + "\nendstream\nendobj\n");
    }
    return replaced.isEmpty() ? pdf : file.rebuilt(replaced);
}

void PdfTextLayer::rewriteFile(const QString &path, const QList<Text> &texts)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return;
    const QByteArray pdf = in.readAll();
    in.close();
    const QByteArray corrected = withDrawnText(pdf, texts);
    if (corrected == pdf)
        return;
    // Written beside and then renamed, so that a failed write leaves Qt's file.
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    if (out.open(QIODevice::WriteOnly) && out.write(corrected) == corrected.size())
        out.commit();
}
