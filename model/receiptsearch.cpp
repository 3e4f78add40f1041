// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptsearch.h"

#include "engine.h"
#include "money.h"
#include "receiptbook.h"
#include "sqlliteral.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const char16_t *const searchedColumns[]
    = {u"receiptNo", u"payer", u"reason1", u"reason2", u"remark", u"paytype", u"payee"};

// Longer literals are written once in the statement rather than once per column.
constexpr qsizetype shortLiteral = 1000;
// SQLite refuses GLOB patterns of more bytes than 50,000; longer texts are compared in
// pieces of this many characters.
constexpr qsizetype longestPattern = 40000;
constexpr qsizetype pieceLength = 2000;
// The index is asked for the first characters of a longer text; the rows it finds are
// checked against the whole text anyway.
constexpr qsizetype indexedLength = 64;

// The letters whose case partners SQLite's trigram index (its Unicode tables as of SQLite
// 3.40) does not take for one another as QString does (Cherokee, Georgian Mtavruli, the
// later Cyrillic and Latin additions, ...): the index cannot be asked for a run of text
// with one of them in it when letters are found in any case.
constexpr std::pair<char32_t, char32_t> unfoldedByIndex[]
    = {{0x025C, 0x025C},   {0x0261, 0x0261},   {0x026A, 0x026A},   {0x026C, 0x026C},
       {0x0282, 0x0282},   {0x0287, 0x0287},   {0x029D, 0x029E},   {0x037F, 0x037F},
       {0x03F3, 0x03F3},   {0x0412, 0x0412},   {0x0414, 0x0414},   {0x041E, 0x041E},
       {0x0421, 0x0422},   {0x042A, 0x042A},   {0x0432, 0x0432},   {0x0434, 0x0434},
       {0x043E, 0x043E},   {0x0441, 0x0442},   {0x044A, 0x044A},   {0x0462, 0x0463},
       {0x0528, 0x052F},   {0x10D0, 0x10FA},   {0x10FD, 0x10FF},   {0x13A0, 0x13F5},
       {0x13F8, 0x13FD},   {0x1C80, 0x1C88},   {0x1C90, 0x1CBA},   {0x1CBD, 0x1CBF},
       {0x1D8E, 0x1D8E},   {0x2C2F, 0x2C2F},   {0x2C5F, 0x2C5F},   {0xA64A, 0xA64B},
       {0xA698, 0xA69B},   {0xA794, 0xA794},   {0xA796, 0xA79F},   {0xA7AB, 0xA7AE},
       {0xA7B0, 0xA7CA},   {0xA7D0, 0xA7D1},   {0xA7D6, 0xA7D9},   {0xA7F5, 0xA7F6},
       {0xAB53, 0xAB53},   {0xAB70, 0xABBF},   {0x104B0, 0x104D3}, {0x104D8, 0x104FB},
       {0x10570, 0x1057A}, {0x1057C, 0x1058A}, {0x1058C, 0x10592}, {0x10594, 0x10595},
       {0x10597, 0x105A1}, {0x105A3, 0x105B1}, {0x105B3, 0x105B9}, {0x105BB, 0x105BC},
       {0x10C80, 0x10CB2}, {0x10CC0, 0x10CF2}, {0x118A0, 0x118DF}, {0x16E40, 0x16E7F},
       {0x1E900, 0x1E943}};

// The characters that one case folding makes the same (k, K and the Kelvin sign K), for
// every character that has others: the characters a case-insensitive QString search takes
// for one another.
const QHash<char32_t, QString> &foldClasses()
{
    static const QHash<char32_t, QString> classes = [] {
        QHash<char32_t, QList<char32_t>> byFold;
        for (char32_t c = 0; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const char32_t folded = QChar::toCaseFolded(c);
            if (folded != c || byFold.contains(c))
                byFold[folded].append(c);
        }
        QHash<char32_t, QString> result;
        for (auto it = byFold.cbegin(); it != byFold.cend(); ++it) {
            QList<char32_t> members = it.value();
            if (!members.contains(it.key()))
                members.prepend(it.key());
            if (members.size() < 2)
                continue;
            const QString text = QString::fromUcs4(members.constData(), members.size());
            for (const char32_t member : std::as_const(members))
                result.insert(member, text);
        }
        return result;
    }();
    return classes;
}

// A GLOB pattern matching `codePoints` exactly, letters of a case in any case.
QString globOf(const QList<uint> &codePoints, qsizetype from, qsizetype count, bool anyCase)
{
    QString pattern;
    for (qsizetype i = from; i < from + count; ++i) {
        const char32_t c = codePoints.at(i);
        const QString one = QString::fromUcs4(&c, 1);
        if (anyCase) {
            if (const auto found = foldClasses().constFind(c); found != foldClasses().cend()) {
                pattern += u'[' + *found + u']';
                continue;
            }
        }
        pattern += (c == u'*' || c == u'?' || c == u'[') ? u'[' + one + u']' : one;
    }
    return pattern;
}

QStringList columnsOf(const QString &table)
{
    QStringList columns;
    for (const char16_t *column : searchedColumns)
        columns.append(table + u'.' + QString::fromUtf16(column));
    return columns;
}

// `test` (with %1 for the column and %2 for the literal) over every searched column.
QString anyColumn(const QString &table, const QString &test, const QString &literal)
{
    QStringList tests;
    if (literal.size() <= shortLiteral) {
        for (const QString &column : columnsOf(table))
            tests.append(test.arg(column, literal));
        return u'(' + tests.join(u" or "_s) + u')';
    }
    for (const QString &column : columnsOf(table))
        tests.append(test.arg(column, u"t"_s));
    return u"exists (select 1 from (select %1 as t) where %2)"_s.arg(literal,
                                                                     tests.join(u" or "_s));
}

} // namespace

ReceiptSearch::ReceiptSearch(const QString &text)
    : m_text(text.trimmed())
{
    // As ReceiptFilter reads the text.
    static const QRegularExpression amount(u"^-?[0-9]+(\\.[0-9]{1,2})?$"_s);
    if (amount.match(m_text).hasMatch())
        m_amountFen = Money::fenFromYuan(m_text.toDouble());
    m_hasCase = std::any_of(m_text.cbegin(), m_text.cend(),
                            [](QChar c) { return c.isLower() || c.isUpper() || c.isTitleCase(); });
}

QString ReceiptSearch::condition(bool indexed, const QString &table) const
{
    if (m_text.isEmpty())
        return m_dialect ? m_dialect->inDialect(u"1"_s, u"true"_s) : u"1"_s;
    if (m_dialect && !m_dialect->keepsSearchIndex()) {
        if (!m_amountFen)
            return serverTextCondition(table);
        return u'(' + serverTextCondition(table) + u" or "_s + serverAmountCondition(table) + u')';
    }
    if (!m_amountFen)
        return textCondition(indexed, table);
    return u'(' + textCondition(indexed, table) + u" or "_s + amountCondition(table) + u')';
}

QString ReceiptSearch::serverTextCondition(const QString &table) const
{
    // Letters in any case as the server folds them (ilike); other texts as they are.
    QStringList tests;
    if (m_hasCase) {
        QString escaped = m_text;
        escaped.replace(u'\\', u"\\\\"_s).replace(u'%', u"\\%"_s).replace(u'_', u"\\_"_s);
        const QString pattern = sqlQuote(u'%' + escaped + u'%');
        for (const QString &column : columnsOf(table))
            tests.append(u"%1 ilike %2 escape '\\'"_s.arg(column, pattern));
    } else {
        const QString text = sqlQuote(m_text);
        for (const QString &column : columnsOf(table))
            tests.append(u"strpos(%1, %2) > 0"_s.arg(column, text));
    }
    return u'(' + tests.join(u" or "_s) + u')';
}

QString ReceiptSearch::serverAmountCondition(const QString &table) const
{
    // A plain decimal number, its fen rounded half away from zero, as the lists read it.
    return u"(case when %1.total ~ '^-?[0-9]+([.][0-9]+)?$' then round(cast(%1.total as "
           u"numeric) * 100) end) = %2"_s.arg(table, QString::number(*m_amountFen));
}

QString ReceiptSearch::listCondition(const QString &beginDate, const QString &endDate, bool indexed,
                                     const QString &table, qint64 receiptsInRange) const
{
    if (receiptsInRange >= 0 && receiptsInRange < indexPaysFrom)
        indexed = false;
    QString where = u"%1 and %2.receiptDate between %3 and %4"_s.arg(
        ReceiptBook::liveCondition(table), table, sqlQuote(beginDate), sqlQuote(endDate));
    if (!m_text.isEmpty())
        where += u" and "_s + condition(indexed, table);
    return where;
}

QString ReceiptSearch::textCondition(bool indexed, const QString &table) const
{
    const QList<uint> codePoints = m_text.toUcs4();
    QString exact;
    if (!m_hasCase) {
        exact = anyColumn(table, u"instr(%1, %2) > 0"_s, sqlQuote(m_text));
    } else if (const QString pattern = globOf(codePoints, 0, codePoints.size(), true);
               pattern.toUtf8().size() <= longestPattern) {
        exact = anyColumn(table, u"%1 glob %2"_s, sqlQuote(u'*' + pattern + u'*'));
    } else {
        // Too long for one pattern: every place in a long enough text is tried, piece by
        // piece. Only texts at least as long as the searched one get that far.
        QStringList selects;
        for (const QString &column : columnsOf(table))
            selects.append(u"select "_s + column);
        QStringList pieces;
        for (qsizetype from = 0; from < codePoints.size(); from += pieceLength) {
            const qsizetype count = std::min(pieceLength, codePoints.size() - from);
            pieces.append(u"(%1, %2, %3)"_s.arg(from).arg(count).arg(
                sqlQuote(globOf(codePoints, from, count, true))));
        }
        exact = u"exists (with recursive f(c) as (%1), q(o, n, g) as (values %2), "
                u"p(c, i) as (select c, 1 from f where length(c) >= %3 "
                u"union all select c, i + 1 from p where i + %3 <= length(c)) "
                u"select 1 from p where not exists "
                u"(select 1 from q where not substr(p.c, p.i + o, n) glob g))"_s
                    .arg(selects.join(u" union all "_s), pieces.join(u", "_s))
                    .arg(codePoints.size());
    }
    const std::optional<QString> phrase = indexPhrase(indexed);
    if (!phrase)
        return exact;
    return u"(%1.rowid in (select rowid from fts_receipt where fts_receipt match %2) and %3)"_s.arg(
        table, sqlQuote(*phrase), exact);
}

std::optional<QString> ReceiptSearch::indexPhrase(bool indexed) const
{
    // The index splits texts into runs of three characters; a NUL ends its query. It is
    // asked for the longest run of the text it folds as QString does (any part of the text
    // is in every text that holds the whole).
    if (!indexed || m_text.isEmpty() || m_text.contains(QChar(0)))
        return std::nullopt;
    const QList<uint> codePoints = m_text.toUcs4();
    qsizetype runFrom = 0, runLength = 0;
    for (qsizetype from = 0, i = 0; i <= codePoints.size(); ++i) {
        if (i == codePoints.size() || (m_hasCase && !indexFoldsCaseOf(codePoints.at(i)))) {
            if (i - from > runLength) {
                runFrom = from;
                runLength = i - from;
            }
            from = i + 1;
        }
    }
    if (runLength < 3)
        return std::nullopt;
    QString phrase
        = QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()) + runFrom,
                            std::min<qsizetype>(indexedLength, runLength));
    phrase.replace(u'"', u"\"\""_s);
    return u'"' + phrase + u'"';
}

bool ReceiptSearch::indexFoldsCaseOf(char32_t c)
{
    return std::none_of(std::begin(unfoldedByIndex), std::end(unfoldedByIndex),
                        [c](const auto &range) { return c >= range.first && c <= range.second; });
}

QString ReceiptSearch::amountCondition(const QString &table) const
{
    // The stored text read as the lists read it: a plain decimal number, its fen rounded
    // half away from zero on the third decimal. The numeric test first finds the few rows
    // near the amount through idx_receipt_totalValue (it must stay the index's expression
    // word for word).
    const qint64 fen = *m_amountFen;
    const QString text = u"cast(%1.total as text)"_s.arg(table);
    const QString digits = u"(case when %1 glob '-*' then substr(%1, 2) else %1 end)"_s.arg(text);
    const QString point = u"instr(%1 || '.', '.')"_s.arg(digits);
    const QString fraction = u"(substr(%1, %2 + 1) || '000')"_s.arg(digits, point);
    return u"(cast(%1.total as real) between %2 and %3"
           u" and %4 <> '' and %4 not glob '*[^0-9.]*' and %4 not glob '*.*.*'"
           u" and %4 not glob '.*' and %4 not glob '*.'"
           u" and (case when %5 glob '-*' then -1 else 1 end)"
           u" * (cast(substr(%4, 1, %6 - 1) as integer) * 100"
           u" + cast(substr(%7, 1, 2) as integer) + (substr(%7, 3, 1) >= '5')) = %8)"_s.arg(
               table, QString::number((fen - 1) / 100.0, 'f', 2),
               QString::number((fen + 1) / 100.0, 'f', 2), digits, text, point, fraction,
               QString::number(fen));
}
