// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// The search of the receipt lists done by SQLite: the typed text as a condition on the
// rows of tb_receipt that holds for exactly the receipts ReceiptFilter finds for it (the
// text, trimmed, in the receipt number, 交款单位, 收款事由, 其它说明, 备注信息, 收款方式 or
// 收款人 — Latin and other letters in any case, by the same case folding — or, when the
// text reads as an amount, a receipt of that amount in fen). The typed text enters the
// statement only as quoted literals, whatever it holds. One difference is left: a stored
// total of more than 15 significant digits that is not a double's shortest text
// ("680.00000000000001"), which the lists cannot read, counts here as the amount it rounds
// to (SQLite has no shortest text of a double to compare it with).
//
// With the trigram index (ReceiptSearchIndex::isReady) a text of three characters or more
// is first looked up there, and the rows found are checked against the exact condition;
// shorter texts and books whose index is not filled yet read every row of the range.
class SqlDialect;

class ReceiptSearch
{
public:
    explicit ReceiptSearch(const QString &text = {});

    bool isEmpty() const { return m_text.isEmpty(); }
    // The book's engine: one without the search index (a server) is asked in its own
    // spelling, and every row of the range is read. A file's when not set.
    void setDialect(const SqlDialect &dialect) { m_dialect = &dialect; }

    // The condition, over the columns of tb_receipt as `table` names them in the query
    // ("1" for an empty text). `indexed`: the search index is whole.
    QString condition(bool indexed, const QString &table = QStringLiteral("tb_receipt")) const;

    // Below this many receipts in a range, reading them all is quicker than asking the
    // index for a common text (its rows are found wherever they are in the book): on a
    // book of 1,000,000, a month of 8,000 receipts is read in under 10 ms, while the index
    // takes 170–260 ms for a text a third of all receipts hold.
    static constexpr qint64 indexPaysFrom = 20000;

    // The rows of a list between two stored date texts ("yyyy-MM-dd HH:mm:ss") that the
    // text finds: what follows "where" in a query of tb_receipt. With `receiptsInRange`
    // (when known) below indexPaysFrom, the index is not asked.
    QString listCondition(const QString &beginDate, const QString &endDate, bool indexed,
                          const QString &table = QStringLiteral("tb_receipt"),
                          qint64 receiptsInRange = -1) const;

    // Whether the trigram index takes `c` for every character a case-insensitive QString
    // search takes it for.
    static bool indexFoldsCaseOf(char32_t c);

    // Whether the condition asks the search index (`indexed`: the index is whole); one
    // that does not reads every receipt of the range.
    bool asksIndex(bool indexed) const { return indexPhrase(indexed).has_value(); }

private:
    QString textCondition(bool indexed, const QString &table) const;
    // What the index is asked for: the text's longest run it can find, as a phrase.
    std::optional<QString> indexPhrase(bool indexed) const;
    QString amountCondition(const QString &table) const;

    QString serverTextCondition(const QString &table) const;
    QString serverAmountCondition(const QString &table) const;

    QString m_text;
    std::optional<qint64> m_amountFen;
    const SqlDialect *m_dialect = nullptr;
    bool m_hasCase = false;
};
