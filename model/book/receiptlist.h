// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"
#include "receiptfilter.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Database;
class QThread;
class ReceiptBook;
struct BookChange;

// What a receipt list can be sorted by besides the book's own order (highest number
// first): the columns of the list.
enum class ListSort {
    Book,
    ReceiptNo,
    ReceiptDate,
    Payer,
    Total,
    Reason1,
    Reason2,
    Remark,
    Paytype,
    Payee,
    Approve,
    Accountant,
    CreateDate,
    Status,
};

// The receipts one list screen shows: a date range of the book, searched and sorted, held
// as the order of its rows (a rowid, an amount and a number a receipt, 24 bytes) while the
// receipts themselves are read from the book a page at a time, for the rows on screen and
// near them. A million receipts so cost 24 MB and one pass over the book, not 800 MB.
// Sorted again, the rows held are sorted, the column's values read by rowid in one pass
// (a column clicked again turns round the values held from its sort), not the range.
//
// Changes the book tells (ReceiptBook::changed) reach the rows in place: a new receipt
// is put where the order puts it (a binary search over the rows), a changed one is read
// again, a removed one leaves; totals follow. Only a row that cannot be read reads the
// list again.
class ReceiptList : public QObject
{
    Q_OBJECT

public:
    explicit ReceiptList(ReceiptBook &book, QObject *parent = nullptr);
    ~ReceiptList() override;

    // What is listed. Each reads the book again only when something changed: the range, the
    // search, the order, or the book itself since the last read (another program's writes
    // too). bounds as the lists keep them: "2024-05-01 00:00:00".
    void setRange(const QString &begin, const QString &end);
    void setSearch(const QString &text);
    // Stable: rows equal under the column keep the book's order.
    void setSort(ListSort sort, Qt::SortOrder order);
    // Reads the list again if the book changed since the last read.
    void refresh();
    // Reads the list again whatever changed.
    void reload();

    qsizetype size() const { return qsizetype(m_entries.size()); }
    // The receipt of a row, read with its page on first use; nothing when the row is out
    // of range or its page cannot be read (then error() tells).
    std::optional<Receipt> at(qsizetype row);
    // The same without a copy: valid until the list changes or reads another page.
    const Receipt *rowAt(qsizetype row);
    // The id of a row (reads its page).
    QString idAt(qsizetype row);
    bool isVoided(qsizetype row) const;
    // The row of the receipt `id`, or nothing when the list does not show it.
    std::optional<qsizetype> rowOf(const QString &id);
    // The rows of the receipts of `ids` the list shows, in the list's order.
    QList<qsizetype> rowsOf(const QSet<QString> &ids);

    // False while a large range is still being read on its worker thread: the rows so
    // far are the first page, and the totals are not known yet.
    bool isComplete() const { return m_complete; }
    // What the list shows, counted as its footer counts it.
    const ReceiptTotals &totals() const { return m_totals; }
    ReceiptTotals totalsOf(const QList<qsizetype> &rows) const;
    // The rowids in the order shown, for an export of exactly what is shown.
    QList<qint64> shownRowids() const;

    // Why the last read failed ("读取收据失败：…"), empty after a good read; a failed read
    // keeps the rows of the last good one.
    QString error() const { return m_error; }
    // Rows of the range left out because they cannot be read (a date not of the form
    // yyyy-MM-dd HH:mm:ss, no number), as the lists have always left them out.
    int skippedRows() const { return m_skipped; }

Q_SIGNALS:
    void aboutToReset();
    void reset();
    void rowsAboutToBeInserted(qsizetype first, qsizetype last);
    void rowsInserted();
    void rowsAboutToBeRemoved(qsizetype first, qsizetype last);
    void rowsRemoved();
    void rowsChanged(qsizetype first, qsizetype last);
    // The totals, the error or the skipped rows changed.
    void totalsChanged();

private:
    struct Entry
    {
        qint64 row;
        // The amount in fen; unreadable when the stored text is not an amount.
        qint64 fen;
        // The receipt number's value while every number of the list is digits of one
        // length (m_uniformNumbers): then the book's order is this, highest first.
        qint64 number;
        static constexpr qint64 unreadable = std::numeric_limits<qint64>::min();
    };

    struct ReadRequest
    {
        QString columns;
        QString where;
        ListSort sort;
        Qt::SortOrder order;
        bool keepsVoids;
        // Only the first rows: as many as this, when above 0.
        qint64 limit = 0;
        // Read through the lists' index a part at a time (else in one read).
        bool byParts = false;
        // The column saying whether the row is voided ('t'), read with the rows by a book
        // far away rather than in a read of its own; -1 when the voids are read apart. From
        // makeRequest(): where that column would go, when a read of few rows may ask it.
        int voidColumn = -1;
    };
    // Rows read in one statement, each its own short read of the book.
    static constexpr qint64 chunkSize = 20000;
    struct ReadResult
    {
        std::deque<Entry> entries;
        QSet<qint64> voided;
        ReceiptTotals totals;
        int skipped = 0;
        QString error;
        // Every number read is digits, all of one length: their order as texts is their
        // order as numbers.
        bool uniformNumbers = true;
        qsizetype numberLength = -1;
        // The highest rowid read.
        qint64 highestRow = 0;
    };
    struct ReadJob
    {
        quint64 generation = 0;
        std::shared_ptr<std::atomic_bool> cancel;
        ReadResult result;
    };
    ReadRequest makeRequest();
    // What a sort of rows already read needs: the rows, and the column's values read by
    // rowid when the sort is by a column (of the whole book when the list holds most of
    // it, else of the rows `where` picks).
    struct SortJob
    {
        std::deque<Entry> entries;
        QSet<qint64> voided;
        ListSort sort = ListSort::Book;
        Qt::SortOrder order = Qt::AscendingOrder;
        QString where;
        quint64 generation = 0;
        std::shared_ptr<std::atomic_bool> cancel;
        // Set by the sort: false when a row's value was not found (another program
        // changed the book) or the read failed.
        bool sorted = false;
        // Where the sorted rows equal under the column begin.
        std::vector<bool> runStarts;
    };
    static void sortRows(Database *database, SortJob &job);
    // Sorts the rows held in the list's order without reading the range again.
    void sortHeld();
    void finishSort(SortJob &job);
    qint64 numberOf(const QString &receiptNo);
    // Reads on a thread of its own, with its own connection; `done` has the result on this
    // thread unless another read was started meanwhile.
    void readOnThread(const ReadRequest &request, std::function<void(ReadResult)> done);
    static ReadResult scan(Database &database, const ReadRequest &request,
                           const std::atomic_bool *cancel);
    void take(ReadResult result, bool partial);
    void finishRead(ReadResult result);
    void apply(const BookChange &change);
    void applyVoid(const BookChange &change, bool voided);
    bool replace(const BookChange &change, bool moveRows);
    bool place(const Receipt &receipt, qint64 row);
    // Whether the receipt, as it is now, still sorts between the rows either side of
    // `index`, so it keeps its place.
    bool staysAt(qsizetype index, const Receipt &receipt);
    void removeAt(qsizetype index);
    int compare(const Receipt &a, bool aVoided, const Receipt &b, bool bVoided) const;
    QString sortedText(const Receipt &receipt) const;
    // Two texts as a text column sorts them.
    static int collate(const QString &a, const QString &b);
    bool belongs(const Receipt &receipt) const;
    void countIn(const Entry &entry, int sign);
    std::optional<qsizetype> indexOfRow(qint64 row) const;
    const QList<Receipt> *page(qsizetype index);
    void dropPages()
    {
        m_pages.clear();
        m_pageUse.clear();
    }
    // Forgets the pages from the one holding `index` on: a row in or out there moves every
    // row after it.
    void dropPagesFrom(qsizetype index);
    // Takes the first page's receipts read beside the count, when they are its rows.
    void keepFirstPage(std::optional<QList<std::pair<qint64, Receipt>>> &read);
    // Brings the row at `index` to its amount and void, in place; `now` is the receipt as
    // the book holds it, when it was read.
    void updateAt(qsizetype index, qint64 fen, bool voided, const Receipt *now);

    ReceiptBook &m_book;
    QString m_begin;
    QString m_end;
    QString m_search;
    ListSort m_sort = ListSort::Book;
    Qt::SortOrder m_order = Qt::AscendingOrder;
    bool m_read = false;
    // The book's change counter when the list was last read or brought up to date.
    std::optional<qint64> m_readAt;

    // A deque: a new receipt mostly goes to the top (or, sorted the other way round, the
    // bottom), which costs nothing here and a move of the whole order in a vector.
    std::deque<Entry> m_entries;
    // No row held has a higher rowid: a receipt stored since with a higher one is new here.
    qint64 m_highestRow = 0;
    QSet<qint64> m_voided;
    ReceiptTotals m_totals;
    QString m_error;
    int m_skipped = 0;

    // Ranges of fewer receipts are read at once, on the window's thread.
    static constexpr qint64 readAtOnceBelow = 20000;
    bool m_complete = true;
    // The rows held are those of the read before, kept on screen until the first page of
    // the read under way is there.
    bool m_stale = false;
    // Where rows equal under the sort's column begin in m_entries, a bit a row, from the
    // sort that put them so; emptied by any change of the rows.
    std::vector<bool> m_runStarts;
    // A sort of the rows held runs on its worker thread.
    bool m_sorting = false;
    // The condition the rows were read under.
    QString m_where;
    bool m_uniformNumbers = false;
    qsizetype m_numberLength = -1;
    quint64 m_generation = 0;
    std::shared_ptr<std::atomic_bool> m_cancel = std::make_shared<std::atomic_bool>(false);
    QList<QThread *> m_workers;

    static constexpr qsizetype pageSize = 100;
    static constexpr qsizetype pagesKept = 40;
    QHash<qsizetype, QList<Receipt>> m_pages;
    QList<qsizetype> m_pageUse;
};
