// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptlist.h"

#include "database.h"
#include "databaseerror.h"
#include "datetext.h"
#include "money.h"
#include "receiptbook.h"
#include "receiptsearch.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "storedamount.h"

#include <QCollator>
#include <QLocale>
#include <QThread>

#include <algorithm>
#include <utility>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <numeric>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// The column a sort reads, as tb_receipt names it; empty for sorts that need none.
QString sortColumn(ListSort sort)
{
    switch (sort) {
    case ListSort::ReceiptNo:
        return u"receiptNo"_s;
    case ListSort::ReceiptDate:
        return u"receiptDate"_s;
    case ListSort::Payer:
        return u"payer"_s;
    case ListSort::Reason1:
        return u"reason1"_s;
    case ListSort::Reason2:
        return u"reason2"_s;
    case ListSort::Remark:
        return u"remark"_s;
    case ListSort::Paytype:
        return u"paytype"_s;
    case ListSort::Payee:
        return u"payee"_s;
    case ListSort::Approve:
        return u"approve"_s;
    case ListSort::Accountant:
        return u"accountant"_s;
    case ListSort::CreateDate:
        return u"createDate"_s;
    case ListSort::Book:
    case ListSort::Total:
    case ListSort::Status:
        return {};
    }
    return {};
}

// Texts sorted as people read them: digit runs by value (receipt numbers of different
// lengths, "2号" before "10号"), case not counting, Chinese in the zh_CN collation. An empty
// text comes before any other, even one of characters the collation ignores.
bool collatesAsText(ListSort sort)
{
    return sort != ListSort::ReceiptDate && sort != ListSort::CreateDate
        && !sortColumn(sort).isEmpty();
}

QCollator listCollator()
{
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// The value of a text of 1 to 18 ASCII digits; nothing for any other text.
std::optional<qint64> digitsValue(const QString &text)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// The rank of each distinct text under the collation: equal texts share one. Receipt
// numbers are digits, which the collation orders by value: ranked by value without ICU
// when every text is one, and no two texts share a value.
std::vector<int> collationRanks(const QList<QString> &distinct)
{
    std::vector<std::pair<qint64, int>> values;
    values.reserve(size_t(distinct.size()));
    for (qsizetype i = 0; i < distinct.size(); ++i) {
        const std::optional<qint64> value = digitsValue(distinct.at(i));
        if (!value)
            break;
        values.emplace_back(*value, int(i));
    }
    if (values.size() == size_t(distinct.size())) {
        std::sort(values.begin(), values.end());
        const bool unique = std::adjacent_find(values.cbegin(), values.cend(),
                                               [](const auto &a, const auto &b) {
                                                   return a.first == b.first;
                                               })
            == values.cend();
        if (unique) {
            std::vector<int> ranks(values.size());
            for (size_t rank = 0; rank < values.size(); ++rank)
                ranks[size_t(values[rank].second)] = int(rank);
            return ranks;
        }
    }
    const QCollator collator = listCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(distinct.size()));
    for (const QString &text : distinct)
        keys.push_back(collator.sortKey(text));
    const auto compare = [&](int a, int b) {
        const bool aEmpty = distinct.at(a).isEmpty(), bEmpty = distinct.at(b).isEmpty();
        if (aEmpty || bEmpty)
            return aEmpty == bEmpty ? 0 : (aEmpty ? -1 : 1);
        return keys[size_t(a)].compare(keys[size_t(b)]);
    };
    std::vector<int> order(size_t(distinct.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return compare(a, b) < 0; });
    std::vector<int> ranks(order.size());
    int rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && compare(order[i - 1], order[i]) != 0)
            ++rank;
        ranks[size_t(order[i])] = rank;
    }
    return ranks;
}

// A row a list cannot show: no id or number, or a date that does not read. The lists
// have always left such rows out and counted them.
bool isUnreadable(ResultSet &rows, StoredDateTimeReader &dates)
{
    if (!rows.bytesForColumnIndex(2) || !rows.bytesForColumnIndex(3))
        return true;
    for (const int column : {4, 5}) {
        const std::optional<QString> text = rows.stringForColumnIndex(column);
        if (!text || !dates.read(*text).isValid())
            return true;
    }
    return false;
}

// A list's own connection on a worker thread: read only and quiet; it gives way to this
// program's saves, for a search reading a whole book holds the file's shared lock for
// seconds, past the time a save waits for it; and it stops at once when its read is given
// up, where a search that finds little would run to its end before it next looked.
void prepareReader(Database &database, const std::atomic_bool *cancel)
{
    database.setOpenReadOnly(true);
    database.setLogsErrors(false);
    database.setYieldsToWriters(true);
    database.setYieldsTo(Database::YieldsTo::ForegroundWriters);
    database.setCancel(cancel);
}

// A statement that gave way to a save is run again; but not for ever, should saves come
// faster than it can read.
constexpr int giveWayLimit = 100;

// Whether a read stopped on `code` to let a save through, and is to be tried again: not
// when it was given up.
bool gaveWay(const DatabaseError &failure, const std::atomic_bool *cancel)
{
    return failure.kind() == DatabaseError::Kind::Interrupted && !(cancel && *cancel);
}

} // namespace

int ReceiptList::collate(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return a.isEmpty() == b.isEmpty() ? 0 : (a.isEmpty() ? -1 : 1);
    const std::optional<qint64> va = digitsValue(a), vb = digitsValue(b);
    if (va && vb && *va != *vb)
        return *va < *vb ? -1 : 1;
    static const QCollator collator = listCollator();
    return collator.compare(a, b);
}

ReceiptList::ReceiptList(ReceiptBook &book, QObject *parent)
    : QObject(parent)
    , m_book(book)
{
    connect(&m_book, &ReceiptBook::changed, this, &ReceiptList::apply);
    connect(&m_book, &ReceiptBook::replaced, this, [this] {
        if (m_read)
            reload();
    });
}

ReceiptList::~ReceiptList()
{
    *m_cancel = true;
    for (QThread *worker : std::as_const(m_workers)) {
        worker->disconnect(this);
        worker->wait();
    }
}

void ReceiptList::setRange(const QString &begin, const QString &end)
{
    if (m_read && begin == m_begin && end == m_end) {
        refresh();
        return;
    }
    m_begin = begin;
    m_end = end;
    reload();
}

void ReceiptList::setSearch(const QString &text)
{
    if (m_read && text.trimmed() == m_search.trimmed()) {
        m_search = text;
        return;
    }
    m_search = text;
    reload();
}

void ReceiptList::setSort(ListSort sort, Qt::SortOrder order)
{
    if (m_read && sort == m_sort && order == m_order)
        return;
    // Numbers of digits, all of one length, read as they count: by number the list is the
    // book's order (highest first) or that order turned round, without reading it again.
    const auto byNumber = [](ListSort s, Qt::SortOrder o) -> std::optional<bool> {
        if (s == ListSort::Book)
            return false;
        if (s == ListSort::ReceiptNo)
            return o == Qt::AscendingOrder;
        return std::nullopt;
    };
    const std::optional<bool> wasAscending = byNumber(m_sort, m_order);
    const std::optional<bool> ascending = byNumber(sort, order);
    const bool turnedRound = sort == m_sort && order != m_order;
    m_sort = sort;
    m_order = order;
    if (m_read && m_complete && m_error.isEmpty() && m_uniformNumbers && wasAscending
        && ascending) {
        if (*wasAscending != *ascending) {
            Q_EMIT aboutToReset();
            dropPages();
            std::reverse(m_entries.begin(), m_entries.end());
            m_runStarts.clear();
            Q_EMIT reset();
        }
        return;
    }
    // Rows held are sorted as they are only while the book holds what they were read
    // from: another program's change shows with the list read again, as it always has.
    const bool heldUpToDate = m_read && m_error.isEmpty() && m_uniformNumbers
        && (m_complete || m_sorting) && m_readAt && m_book.changeCounter() == m_readAt;
    // The same column the other way: the rows turned round, and those equal under the
    // column, as the sort that put them so knew them, turned back to the book's order.
    if (turnedRound && heldUpToDate && m_complete && !m_runStarts.empty()
        && m_runStarts.size() == m_entries.size()) {
        Q_EMIT aboutToReset();
        dropPages();
        const size_t n = m_entries.size();
        std::reverse(m_entries.begin(), m_entries.end());
        // A run began at i; turned round, one begins after where it ended.
        std::vector<bool> starts(n);
        for (size_t i = 0; i < n; ++i)
            starts[i] = i == 0 || m_runStarts[n - i];
        m_runStarts.swap(starts);
        for (size_t first = 0, last = 0; first < n; first = last) {
            last = first + 1;
            while (last < n && !m_runStarts[last])
                ++last;
            std::reverse(m_entries.begin() + qsizetype(first), m_entries.begin() + qsizetype(last));
        }
        Q_EMIT reset();
        return;
    }
    // Any other order of rows held whose numbers tell the book's order: sorted as they
    // are, by the column's values alone, read by rowid; the range is not read again.
    if (heldUpToDate) {
        sortHeld();
        return;
    }
    reload();
}

void ReceiptList::sortHeld()
{
    ++m_generation;
    *m_cancel = true;
    m_cancel = std::make_shared<std::atomic_bool>(false);
    auto job = std::make_shared<SortJob>();
    job->entries = m_entries;
    job->voided = m_voided;
    job->sort = m_sort;
    job->order = m_order;
    job->where = m_where;
    job->generation = m_generation;
    job->cancel = m_cancel;
    SQLiteHelper &connection = m_book.connection();
    // Numbers are held: only the other columns are read.
    const bool byColumn = m_sort != ListSort::ReceiptNo && !sortColumn(m_sort).isEmpty();
    if (size() < readAtOnceBelow || (byColumn && !connection.open())) {
        sortRows(byColumn && connection.open() ? &connection.db() : nullptr, *job);
        finishSort(*job);
        return;
    }
    // A long list is sorted on a thread of its own, its rows shown in the order they had
    // meanwhile; the window stays live.
    m_sorting = true;
    m_complete = false;
    Q_EMIT totalsChanged();
    const QString path = connection.dbURL();
    QThread *worker = QThread::create([job, path, byColumn] {
        if (!byColumn) {
            sortRows(nullptr, *job);
            return;
        }
        Database own(path, Database::OpenMode::ExistingFileOnly);
        prepareReader(own, job->cancel.get());
        if (own.open())
            sortRows(&own, *job);
    });
    connect(worker, &QThread::finished, this, [this, job, worker] {
        m_workers.removeOne(worker);
        if (job->generation != m_generation)
            return;
        finishSort(*job);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_workers.append(worker);
    worker->start(QThread::LowPriority);
}

void ReceiptList::finishSort(SortJob &job)
{
    m_sorting = false;
    m_complete = true;
    if (!job.sorted) {
        // The column could not be read for every row (another program changed the book):
        // the range is read again, sorted.
        reload();
        return;
    }
    Q_EMIT aboutToReset();
    dropPages();
    m_entries.swap(job.entries);
    m_runStarts.swap(job.runStarts);
    Q_EMIT reset();
    Q_EMIT totalsChanged();
    // The rows in their old order go now, and with them what the sort's thread held:
    // tens of megabytes glibc would keep for the process otherwise (freed blocks that
    // large raise its threshold for mapping blocks of their own, and later ones stay).
    job.entries = {};
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Sorts job.entries by the job's column, rows equal under it in the book's order (highest
// number first), as a read of the range sorts them. The column's values are read from the
// book by rowid: in one pass over the table (the dates over their index, in their order)
// when the rows are most of it, else those of the list's condition.
void ReceiptList::sortRows(Database *database, SortJob &job)
{
    std::deque<Entry> &entries = job.entries;
    const size_t n = entries.size();
    const QString column = job.sort == ListSort::ReceiptNo ? QString() : sortColumn(job.sort);

    // The rows in the book's order first (unless they are in it, or in it turned round),
    // then in the column's, each a stable radix sort: ties keep the book's order. The
    // book's order is worked out on a thread of its own while the column is read.
    std::vector<quint32> order(n);
    std::vector<quint32> spare(n);
    const auto sortBy = [&order, &spare, n](const auto &keyOf, bool ascending) {
        qint64 low = std::numeric_limits<qint64>::max(), high = std::numeric_limits<qint64>::min();
        for (size_t i = 0; i < n; ++i) {
            low = std::min(low, keyOf(i));
            high = std::max(high, keyOf(i));
        }
        const auto digits = [&](quint32 i) {
            return ascending ? quint64(keyOf(i)) - quint64(low) : quint64(high) - quint64(keyOf(i));
        };
        const quint64 bits = n > 0 ? quint64(high) - quint64(low) : 0;
        std::vector<quint32> counts(65537);
        // Passes of 16 bits, as many as the widest value needs.
        for (int shift = 0; shift < 64 && (bits >> shift) != 0; shift += 16) {
            std::fill(counts.begin(), counts.end(), 0u);
            for (const quint32 i : order)
                ++counts[((digits(i) >> shift) & 0xffff) + 1];
            for (size_t d = 1; d < counts.size(); ++d)
                counts[d] += counts[d - 1];
            for (const quint32 i : order)
                spare[counts[(digits(i) >> shift) & 0xffff]++] = i;
            order.swap(spare);
        }
    };
    const auto orderAsTheBook = [&] {
        std::iota(order.begin(), order.end(), 0u);
        // Held apart from the rows: each pass reads them in no order.
        std::vector<qint64> numbers(n);
        for (size_t i = 0; i < n; ++i)
            numbers[i] = entries[i].number;
        const auto before = [&](size_t a, size_t b) {
            return numbers[a] != numbers[b] ? numbers[a] > numbers[b]
                                            : entries[a].row > entries[b].row;
        };
        bool inBookOrder = true, turnedRound = true;
        for (size_t i = 1; i < n && (inBookOrder || turnedRound); ++i) {
            inBookOrder = inBookOrder && before(i - 1, i);
            turnedRound = turnedRound && before(i, i - 1);
        }
        if (inBookOrder)
            return;
        if (turnedRound) {
            std::reverse(order.begin(), order.end());
            return;
        }
        sortBy([&](size_t i) { return numbers[i]; }, false);
        // Numbers are one a receipt but for a book made before they had to be: then the
        // rowids order a number's receipts.
        bool shared = false;
        for (size_t i = 1; i < n && !shared; ++i)
            shared = numbers[order[i - 1]] == numbers[order[i]];
        if (shared) {
            std::iota(order.begin(), order.end(), 0u);
            sortBy([&](size_t i) { return entries[i].row; }, false);
            sortBy([&](size_t i) { return numbers[i]; }, false);
        }
    };
    std::jthread bookOrdering;
    if (column.isEmpty())
        orderAsTheBook();
    else
        bookOrdering = std::jthread(orderAsTheBook);

    std::vector<qint64> keys(n);
    if (column.isEmpty()) {
        for (size_t i = 0; i < n; ++i) {
            const Entry &entry = entries[i];
            switch (job.sort) {
            case ListSort::ReceiptNo:
                keys[i] = entry.number;
                break;
            case ListSort::Total:
                // By value; an amount that cannot be read sorts as 0, where it always has.
                keys[i] = entry.fen == Entry::unreadable ? 0 : entry.fen;
                break;
            case ListSort::Status:
                keys[i] = job.voided.contains(entry.row) ? 1 : 0;
                break;
            default:
                keys[i] = 0;
                break;
            }
        }
    } else {
        if (!database)
            return;
        constexpr qint64 missing = std::numeric_limits<qint64>::min();
        std::unique_ptr<ResultSet> bounds
            = database->executeQuery(u"select min(rowid), max(rowid) from tb_receipt"_s);
        if (!bounds || !bounds->next())
            return;
        const qint64 lowest = bounds->int64ForColumnIndex(0);
        const qint64 highest = bounds->int64ForColumnIndex(1);
        bounds.reset();
        // Rowids of the book, mostly one after another: a value a rowid in an array.
        const bool whole = lowest >= 0 && highest < 4 * qint64(n);
        std::vector<qint64> byRow;
        QHash<qint64, qint64> byRowSparse;
        if (whole)
            byRow.assign(size_t(highest) + 1, missing);
        const bool byText = collatesAsText(job.sort);
        // The values of one part of the table: texts as their place among the part's
        // distinct texts, dates as yyyyMMddHHmmss. Each part writes its own rows' places.
        struct Part
        {
            QString sql;
            QList<QByteArray> distinct;
            qint64 firstRow = 0, lastRow = -1; // of byRow
            bool read = false;
        };
        const auto readPartOnce = [&](Database &from, Part &part) -> DatabaseError {
            QHash<QByteArrayView, qint64> distinctIndex;
            std::unique_ptr<ResultSet> rows = from.executeQuery(part.sql);
            if (!rows)
                return from.lastError();
            QByteArrayView previous;
            qint64 previousValue = missing;
            qint64 count = 0;
            while (rows->next()) {
                if ((++count & 0xffff) == 0 && job.cancel && *job.cancel)
                    return {};
                const qint64 row = rows->int64ForColumnIndex(0);
                const QByteArrayView text
                    = rows->bytesForColumnIndex(1).value_or(QByteArrayView());
                qint64 value = previousValue;
                if (!byText) {
                    // Dates sort as stored: yyyyMMddHHmmss.
                    value = 0;
                    for (const char c : text) {
                        if (c >= '0' && c <= '9')
                            value = value * 10 + (c - '0');
                    }
                } else if (value == missing || text != previous) {
                    auto found = distinctIndex.constFind(text);
                    if (found == distinctIndex.constEnd()) {
                        part.distinct.append(text.toByteArray());
                        found = distinctIndex.insert(QByteArrayView(part.distinct.constLast()),
                                                     part.distinct.size() - 1);
                    }
                    value = *found;
                    previous = QByteArrayView(part.distinct.at(qsizetype(value)));
                    previousValue = value;
                }
                if (whole) {
                    if (row >= part.firstRow && row <= part.lastRow)
                        byRow[size_t(row)] = value;
                } else {
                    byRowSparse.insert(row, value);
                }
            }
            part.read = !rows->hasError();
            return rows->error();
        };
        // A part read again after it gave way to a save starts afresh: its rows are
        // written again, and a row gone meanwhile must not keep a place from before.
        const auto readPart = [&](Database &from, Part &part) {
            for (int attempt = 0;; ++attempt) {
                if (!gaveWay(readPartOnce(from, part), job.cancel.get()) || attempt == giveWayLimit)
                    return;
                part.distinct.clear();
                if (whole)
                    std::fill(byRow.begin() + part.firstRow, byRow.begin() + part.lastRow + 1,
                              missing);
                else
                    byRowSparse.clear();
            }
        };
        const QString select = u"select rowid, %1 from tb_receipt"_s.arg(column);
        std::vector<Part> parts;
        if (!whole) {
            parts.push_back({select + u" where (%1)"_s.arg(job.where), {}, 0, -1, false});
        } else if (job.sort == ListSort::ReceiptDate) {
            // Through its index: a tenth of the table.
            parts.push_back({select + u" order by receiptDate"_s, {}, 0, highest, false});
        } else if (n < size_t(readAtOnceBelow) || !database->dialect().stepsRowsLazily()) {
            parts.push_back({select, {}, 0, highest, false});
        } else {
            // A long column is read in two halves of the rowids at once, the second over a
            // connection of its own: reading the table is most of such a sort. Each row is
            // read once, by one half.
            const qint64 middle = lowest + (highest - lowest) / 2;
            parts.push_back({select + u" where rowid <= %1"_s.arg(middle), {}, 0, middle, false});
            parts.push_back(
                {select + u" where rowid > %1"_s.arg(middle), {}, middle + 1, highest, false});
        }
        std::jthread secondReader;
        if (parts.size() > 1) {
            secondReader = std::jthread([&, path = database->databasePath()] {
                Database own(path, Database::OpenMode::ExistingFileOnly);
                prepareReader(own, job.cancel.get());
                if (own.open())
                    readPart(own, parts[1]);
            });
        }
        readPart(*database, parts[0]);
        if (secondReader.joinable())
            secondReader.join();
        if (!std::all_of(parts.begin(), parts.end(), [](const Part &part) { return part.read; }))
            return;
        // One list of the distinct texts: a later part's places are moved to theirs in it.
        QList<QByteArray> distinct = std::move(parts[0].distinct);
        if (byText && parts.size() > 1) {
            QHash<QByteArrayView, qint64> distinctIndex;
            distinctIndex.reserve(distinct.size());
            for (qsizetype i = 0; i < distinct.size(); ++i)
                distinctIndex.insert(QByteArrayView(distinct.at(i)), i);
            std::vector<qint64> moved;
            for (const QByteArray &text : std::as_const(parts[1].distinct)) {
                auto found = distinctIndex.constFind(QByteArrayView(text));
                if (found == distinctIndex.constEnd()) {
                    distinct.append(text);
                    found = distinctIndex.insert(QByteArrayView(distinct.constLast()),
                                                 distinct.size() - 1);
                }
                moved.push_back(*found);
            }
            for (qint64 row = parts[1].firstRow; row <= parts[1].lastRow; ++row) {
                qint64 &value = byRow[size_t(row)];
                if (value != missing)
                    value = moved[size_t(value)];
            }
        }
        std::vector<int> ranks;
        if (byText) {
            QList<QString> texts;
            texts.reserve(distinct.size());
            for (const QByteArray &text : std::as_const(distinct))
                texts.append(QString::fromUtf8(text));
            ranks = collationRanks(texts);
        }
        for (size_t i = 0; i < n; ++i) {
            const qint64 row = entries[i].row;
            const qint64 value = whole ? (row >= 0 && row <= highest ? byRow[size_t(row)] : missing)
                                       : byRowSparse.value(row, missing);
            if (value == missing)
                return;
            keys[i] = byText ? ranks[size_t(value)] : value;
        }
    }
    if (job.cancel && *job.cancel)
        return;

    if (bookOrdering.joinable())
        bookOrdering.join();
    sortBy([&](size_t i) { return keys[i]; }, job.order == Qt::AscendingOrder);
    spare = {};
    // Where rows equal under the column begin, for a click the other way.
    job.runStarts.assign(n, false);
    for (size_t i = 0; i < n; ++i)
        job.runStarts[i] = i == 0 || keys[order[i]] != keys[order[i - 1]];
    keys = {};
    // The rows gathered in their order: each read where it was (from an array, quicker to
    // reach at random than a deque), written one after another.
    std::deque<Entry> sorted;
    {
        const std::vector<Entry> unsorted(entries.begin(), entries.end());
        entries = {};
        for (const quint32 i : order)
            sorted.push_back(unsorted[i]);
    }
    entries.swap(sorted);
    job.sorted = true;
}

void ReceiptList::refresh()
{
    if (m_read && m_readAt && m_book.changeCounter() == m_readAt)
        return;
    reload();
}

void ReceiptList::reload()
{
    m_read = true;
    m_sorting = false;
    // A read still running is of no use now.
    ++m_generation;
    *m_cancel = true;
    m_cancel = std::make_shared<std::atomic_bool>(false);
    dropPages();
    ReadRequest request = makeRequest();
    // Only a read of few rows takes their voids with them (a long range's read would ask
    // once for each of its rows).
    const int voidColumn = std::exchange(request.voidColumn, -1);
    m_where = request.where;
    // A range of a few thousand receipts is read at once; a larger one on a thread of its
    // own, so the window stays live, its first page shown meanwhile when the order allows.
    SQLiteHelper &connection = m_book.connection();
    const QString counted
        = u"from (select 1 from tb_receipt where receiptDate between %1 and %2 limit %3) as counted"_s
              .arg(sqlQuote(m_begin), sqlQuote(m_end))
              .arg(readAtOnceBelow);
    std::optional<qint64> inRange;
    std::optional<qint64> changesThen;
    const SqlDialect &dialect = m_book.dialect();
    // Far from the book, the book's change count comes with the count of the range, and
    // so do the first page's receipts in the book's order (with their voids), which the
    // read of the range then need not ask for again.
    std::optional<QList<std::pair<qint64, Receipt>>> firstPage;
    if (dialect.isRemote()) {
        QStringList asked {u"select count(*), (%1) "_s.arg(dialect.dataVersionStatement()) + counted};
        if (request.sort == ListSort::Book && m_book.keepsVoids() == true)
            asked.append(ReceiptBook::firstRowsStatement(request.where, pageSize));
        std::vector<std::unique_ptr<ResultSet>> answers = connection.queryEach(asked);
        if (!answers.empty() && answers[0]->next() && !answers[0]->hasError()) {
            inRange = answers[0]->int64ForColumnIndex(0);
            changesThen = connection.dataVersionOf(answers[0]->int64ForColumnIndex(1));
        }
        if (answers.size() > 1)
            firstPage = m_book.receiptsOf(*answers[1], true);
    } else {
        inRange = connection.count(u"select count(*) "_s + counted);
    }
    const auto readAt = [&] { return changesThen ? changesThen : m_book.changeCounter(); };
    if (!inRange || *inRange < readAtOnceBelow || !connection.open()) {
        m_readAt = readAt();
        // Few rows: found through the dates' index and sorted, in one read. Far from the
        // book, each with its void: one round trip fewer.
        ReadRequest atOnce = request;
        atOnce.byParts = false;
        if (voidColumn >= 0) {
            atOnce.columns
                += u", exists (select 1 from tb_void v where v.receiptId = tb_receipt.id)"_s;
            atOnce.voidColumn = voidColumn;
        }
        ReadResult result = scan(connection.db(), atOnce, nullptr);
        if (!result.error.isEmpty()) {
            if (const QString missing = m_book.missingColumn(); !missing.isEmpty())
                result.error = u"数据库缺少列 %1"_s.arg(missing);
        }
        Q_EMIT aboutToReset();
        m_stale = false;
        take(std::move(result), false);
        keepFirstPage(firstPage);
        Q_EMIT reset();
        Q_EMIT totalsChanged();
        return;
    }

    // A search the index cannot answer reads every receipt of the range; its first page,
    // found along the lists' index in the book's order, shows as soon as it is known.
    const bool headOnThread = request.sort == ListSort::Book && !request.byParts
        && !ReceiptSearch(m_search).asksIndex(m_book.searchIndexReady())
        && m_book.hasIndex(u"idx_receipt_list"_s);
    m_complete = false;
    const bool headAtOnce = request.sort == ListSort::Book && request.byParts;
    if (!headAtOnce && !m_entries.empty() && m_error.isEmpty()) {
        // The rows shown stay until the first rows of the read are there: a table emptied
        // for a moment at each keystroke flickers.
        m_stale = true;
    } else {
        // Meanwhile: the first page in the book's order, read through its index at once.
        Q_EMIT aboutToReset();
        m_stale = false;
        if (headAtOnce) {
            ReadRequest first = request;
            first.limit = pageSize;
            ReadResult head = scan(connection.db(), first, nullptr);
            if (head.error.isEmpty()) {
                take(std::move(head), true);
                keepFirstPage(firstPage);
            }
        } else {
            m_entries.clear();
            m_totals = {};
        }
        Q_EMIT reset();
        Q_EMIT totalsChanged();
    }

    m_readAt = readAt();
    readOnThread(request, [this](ReadResult result) {
        *m_cancel = true; // a first page still being looked for is not needed now
        finishRead(std::move(result));
    });
    if (headOnThread) {
        ReadRequest first = request;
        first.byParts = true;
        first.limit = pageSize;
        readOnThread(first, [this](ReadResult head) {
            if (m_complete || (!m_entries.empty() && !m_stale) || !head.error.isEmpty()
                || head.entries.empty())
                return;
            Q_EMIT aboutToReset();
            m_stale = false;
            take(std::move(head), true);
            Q_EMIT reset();
            Q_EMIT totalsChanged();
        });
    }
}

void ReceiptList::readOnThread(const ReadRequest &request, std::function<void(ReadResult)> done)
{
    auto job = std::make_shared<ReadJob>();
    job->generation = m_generation;
    job->cancel = m_cancel;
    const QString path = m_book.connection().dbURL();
    QThread *worker = QThread::create([job, request, path] {
        Database own(path, Database::OpenMode::ExistingFileOnly);
        prepareReader(own, job->cancel.get());
        if (!own.open()) {
            job->result.error = own.lastError().message();
            return;
        }
        job->result = scan(own, request, job->cancel.get());
    });
    connect(worker, &QThread::finished, this, [this, job, worker, done = std::move(done)] {
        m_workers.removeOne(worker);
        // A read of an earlier range, search or order is of no use now.
        if (job->generation != m_generation)
            return;
        done(std::move(job->result));
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_workers.append(worker);
    worker->start(QThread::LowPriority);
}

void ReceiptList::finishRead(ReadResult result)
{
    m_complete = true;
    const bool stale = std::exchange(m_stale, false);
    if (!result.error.isEmpty()) {
        m_error = u"读取收据失败："_s + result.error;
        // Rows kept from before the read are not what was asked for.
        if (stale) {
            Q_EMIT aboutToReset();
            m_entries.clear();
            m_totals = {};
            Q_EMIT reset();
        }
        Q_EMIT totalsChanged();
        return;
    }
    // The first page shown meanwhile is the same rows: the rest follow it, and the
    // selection and the scroll position stay.
    const size_t shown = m_entries.size();
    const bool follows = shown > 0 && shown <= result.entries.size()
        && std::equal(m_entries.cbegin(), m_entries.cend(), result.entries.cbegin(),
                      [](const Entry &a, const Entry &b) { return a.row == b.row; });
    if (follows && result.entries.size() > shown) {
        Q_EMIT rowsAboutToBeInserted(qsizetype(shown), qsizetype(result.entries.size()) - 1);
        take(std::move(result), false);
        Q_EMIT rowsInserted();
    } else if (follows) {
        take(std::move(result), false);
    } else {
        Q_EMIT aboutToReset();
        take(std::move(result), false);
        Q_EMIT reset();
    }
    Q_EMIT totalsChanged();
}

ReceiptList::ReadRequest ReceiptList::makeRequest()
{
    const QString sortBy = sortColumn(m_sort);
    // One pass over the range in the book's order: what each row needs to be placed,
    // counted and found again, and no more. The search is SQLite's, through the search
    // index once it is whole; a small range is read row by row, quicker than the index.
    ReceiptSearch search(m_search);
    search.setDialect(m_book.dialect());
    QString where = ReceiptBook::liveCondition() + u" and receiptDate between %1 and %2"_s.arg(sqlQuote(m_begin),
                                                                            sqlQuote(m_end));
    if (!search.isEmpty()) {
        const std::optional<qint64> small = m_book.connection().count(
            u"select count(*) from (select 1 from tb_receipt where receiptDate between %1 and %2 "
            u"limit %3) as counted"_s.arg(sqlQuote(m_begin), sqlQuote(m_end))
                .arg(ReceiptSearch::indexPaysFrom));
        where = search.listCondition(m_begin, m_end, m_book.searchIndexReady(), u"tb_receipt"_s,
                                     small.value_or(-1));
    }
    const SqlDialect &dialect = m_book.dialect();
    // quote() tells a NULL number from the text 'NULL' (quote_nullable() on a server).
    QString columns = u"rowid, total, id, receiptNo, receiptDate, createDate, %1"_s.arg(
        dialect.inDialect(u"quote(receiptNo)"_s, u"quote_nullable(receiptNo)"_s));
    if (!sortBy.isEmpty())
        columns += u", "_s + sortBy;
    // Unknown whether the book keeps voids (it could not be asked): the voids are read all
    // the same, and a failure to read them fails the read, rather than voided receipts
    // being counted as valid.
    ReadRequest request {columns, where, m_sort, m_order, m_book.keepsVoids() != false};
    // Far from the book, a read of few rows can take each row's void with it.
    if (dialect.isRemote() && m_book.keepsVoids() == true)
        request.voidColumn = sortBy.isEmpty() ? 7 : 8;
    // A long range without a search is read through the lists' index in the book's order,
    // a part at a time; a search is one read, its rows found through the search index.
    request.byParts = search.isEmpty() && m_book.hasIndex(u"idx_receipt_list"_s);
    return request;
}

ReceiptList::ReadResult ReceiptList::scan(Database &database, const ReadRequest &request,
                                          const std::atomic_bool *cancel)
{
    ReadResult result;
    std::vector<Entry> entries;
    QList<int> distinctOfRow;
    QHash<QString, int> distinctIndex;
    QList<QString> distinct;
    std::vector<qint64> dateKeys; // dates sort as stored: yyyyMMddHHmmss
    StoredDateTimeReader dates;
    constexpr int sortIndex = 7;
    const bool byText = collatesAsText(request.sort);
    const bool byDate = request.sort == ListSort::ReceiptDate || request.sort == ListSort::CreateDate;
    const auto failed = [&](const DatabaseError &failure) {
        result.error = failure.message();
        return result;
    };
    // In the book's order, a chunk at a time, each its own short read: between two, a save
    // (of this program or another) gets the lock it waits for, and a long range never
    // holds up a writer for longer than one chunk takes.
    QString after; // the place the last chunk ended at, as a condition
    qsizetype numberLength = -1;
    // A chunk that gave way to a save is read again from where it began, as if the save
    // had come between two chunks; what it had read so far goes.
    int gaveWayCount = 0;
    const auto readAgain = [&](const DatabaseError &failure) {
        return gaveWay(failure, cancel) && ++gaveWayCount <= giveWayLimit;
    };
    for (;;) {
        const size_t entriesBefore = entries.size();
        const qsizetype distinctRowsBefore = distinctOfRow.size();
        const size_t dateKeysBefore = dateKeys.size();
        const int skippedBefore = result.skipped;
        const bool uniformBefore = result.uniformNumbers;
        const qsizetype numberLengthBefore = numberLength;
        const qint64 highestBefore = result.highestRow;
        const qint64 chunk = request.limit > 0 ? request.limit
                                               : (request.byParts ? chunkSize : -1);
        const QString sql
            = u"select %1 from tb_receipt%2 where (%3)%4 order by receiptNo desc, rowid desc "
              u"limit %5"_s.arg(request.columns,
                                request.byParts ? database.dialect().indexHint(u"idx_receipt_list"_s)
                                                : QString(),
                                request.where, after)
                  .arg(chunk < 0 ? database.dialect().noLimit() : QString::number(chunk));
        std::unique_ptr<ResultSet> rows = database.executeQuery(sql);
        if (!rows) {
            if (readAgain(database.lastError()))
                continue;
            return failed(database.lastError());
        }
        qint64 inChunk = 0;
        QString lastNumber;
        qint64 lastRow = 0;
        while (rows->next()) {
            ++inChunk;
            lastNumber = rows->stringForColumnIndex(6).value_or(u"NULL"_s);
            lastRow = rows->int64ForColumnIndex(0);
            if ((entries.size() & 0xfff) == 0 && cancel && *cancel)
                return {};
            if (isUnreadable(*rows, dates)) {
                ++result.skipped;
                continue;
            }
            qint64 numberValue = 0;
            if (result.uniformNumbers) {
                const QByteArrayView number = rows->bytesForColumnIndex(3).value_or("");
                if (numberLength < 0)
                    numberLength = number.size();
                result.uniformNumbers
                    = number.size() == numberLength && number.size() > 0 && number.size() <= 18;
                for (qsizetype i = 0; result.uniformNumbers && i < number.size(); ++i) {
                    const char c = number[i];
                    result.uniformNumbers = c >= '0' && c <= '9';
                    numberValue = numberValue * 10 + (c - '0');
                }
            }
            const std::optional<QByteArrayView> totalText = rows->bytesForColumnIndex(1);
            const std::optional<double> yuan = readStoredAmount(totalText.value_or(""));
            const std::optional<qint64> fen = yuan ? Money::fenFromYuan(*yuan) : std::nullopt;
            entries.push_back(
                {rows->int64ForColumnIndex(0), fen.value_or(Entry::unreadable), numberValue});
            if (request.voidColumn >= 0
                && rows->bytesForColumnIndex(request.voidColumn) == QByteArrayView("t"))
                result.voided.insert(entries.back().row);
            result.highestRow = std::max(result.highestRow, entries.back().row);
            if (byText) {
                const QString text = rows->stringForColumnIndex(sortIndex).value_or(QString());
                auto found = distinctIndex.constFind(text);
                if (found == distinctIndex.constEnd()) {
                    found = distinctIndex.insert(text, int(distinct.size()));
                    distinct.append(text);
                }
                distinctOfRow.append(*found);
            } else if (byDate) {
                qint64 key = 0;
                for (const char c : rows->bytesForColumnIndex(sortIndex).value_or("")) {
                    if (c >= '0' && c <= '9')
                        key = key * 10 + (c - '0');
                }
                dateKeys.push_back(key);
            }
        }
        if (rows->hasError()) {
            if (cancel && *cancel)
                return {};
            if (!readAgain(rows->error()))
                return failed(rows->error());
            entries.resize(entriesBefore);
            distinctOfRow.resize(distinctRowsBefore);
            dateKeys.resize(dateKeysBefore);
            result.skipped = skippedBefore;
            result.uniformNumbers = uniformBefore;
            numberLength = numberLengthBefore;
            result.highestRow = highestBefore;
            continue;
        }
        if (chunk < 0 || inChunk < chunk || request.limit > 0)
            break;
        if (cancel && *cancel)
            return {};
        after = u" and (receiptNo, rowid) < (%1, %2)"_s.arg(lastNumber).arg(lastRow);
    }

    QSet<qint64> &voided = result.voided;
    if (request.keepsVoids && request.voidColumn < 0) {
        // A page asks only after its own rows; a whole range after every void of the book,
        // fewer lookups than one per row.
        QString ofRows;
        if (request.limit > 0) {
            QStringList rowids;
            for (const Entry &entry : entries)
                rowids.append(QString::number(entry.row));
            ofRows = u" where r.rowid in (%1)"_s.arg(rowids.join(u','));
        }
        for (;;) {
            std::unique_ptr<ResultSet> voids = database.executeQuery(
                u"select r.rowid from tb_void v join tb_receipt r on r.id = v.receiptId"_s
                + ofRows);
            if (!voids) {
                if (readAgain(database.lastError()))
                    continue;
                return failed(database.lastError());
            }
            while (voids->next())
                voided.insert(voids->int64ForColumnIndex(0));
            if (!voids->hasError())
                break;
            if (cancel && *cancel)
                return {};
            if (!readAgain(voids->error()))
                return failed(voids->error());
            voided.clear();
        }
    }

    // Counted where they were read: the window's thread only takes the result. Of the
    // voids, those of the rows read are kept.
    QSet<qint64> voidedShown;
    for (const Entry &entry : entries) {
        if (!voided.contains(entry.row)) {
            ++result.totals.count;
            if (entry.fen == Entry::unreadable)
                ++result.totals.unreadable;
            else
                result.totals.fen += entry.fen;
        } else {
            ++result.totals.voided;
            voidedShown.insert(entry.row);
        }
    }
    voided.swap(voidedShown);

    result.numberLength = numberLength;
    if (request.sort != ListSort::Book) {
        std::vector<qint64> keys(entries.size());
        if (byText) {
            const std::vector<int> ranks = collationRanks(distinct);
            for (size_t i = 0; i < keys.size(); ++i)
                keys[i] = ranks[size_t(distinctOfRow.at(qsizetype(i)))];
        } else if (byDate) {
            keys.swap(dateKeys);
        } else if (request.sort == ListSort::Total) {
            // By value: as text 20.25 would come after 20.5. An amount that cannot be read
            // sorts as 0, where it always has.
            for (size_t i = 0; i < keys.size(); ++i)
                keys[i] = entries[i].fen == Entry::unreadable ? 0 : entries[i].fen;
        } else if (request.sort == ListSort::Status) {
            // Valid ones first, whatever the reasons of the voided ones.
            for (size_t i = 0; i < keys.size(); ++i)
                keys[i] = voided.contains(entries[i].row) ? 1 : 0;
        }
        std::vector<int> order(entries.size());
        std::iota(order.begin(), order.end(), 0);
        if (request.order == Qt::AscendingOrder)
            std::stable_sort(order.begin(), order.end(),
                             [&](int a, int b) { return keys[size_t(a)] < keys[size_t(b)]; });
        else
            std::stable_sort(order.begin(), order.end(),
                             [&](int a, int b) { return keys[size_t(a)] > keys[size_t(b)]; });
        std::vector<Entry> sorted;
        sorted.reserve(entries.size());
        for (const int i : order)
            sorted.push_back(entries[size_t(i)]);
        entries.swap(sorted);
    }
    // Made here, off the window's thread, in the shape the list keeps.
    result.entries.assign(entries.cbegin(), entries.cend());
    return result;
}

void ReceiptList::take(ReadResult result, bool partial)
{
    dropPages();
    if (!result.error.isEmpty()) {
        // The rows of the last good read stay, under the message.
        m_error = u"读取收据失败："_s + result.error;
        return;
    }
    m_entries.swap(result.entries);
    m_highestRow = result.highestRow;
    m_runStarts.clear();
    m_voided.swap(result.voided);
    m_totals = result.totals;
    m_skipped = result.skipped;
    m_uniformNumbers = result.uniformNumbers;
    m_numberLength = result.numberLength;
    m_error.clear();
    m_complete = !partial;
}

void ReceiptList::keepFirstPage(std::optional<QList<std::pair<qint64, Receipt>>> &read)
{
    // Kept only when they are the rows the list shows first, in its order: a save between
    // the two reads, or an order of the list's own, leaves the page to be read as any other.
    const qsizetype shown = std::min(size(), pageSize);
    if (!read || read->size() != shown || shown == 0)
        return;
    QList<Receipt> page;
    for (qsizetype i = 0; i < shown; ++i) {
        if ((*read)[i].first != m_entries[size_t(i)].row)
            return;
        page.append(std::move((*read)[i].second));
    }
    m_pages.insert(0, page);
    m_pageUse.append(0);
}

void ReceiptList::countIn(const Entry &entry, int sign)
{
    if (m_voided.contains(entry.row)) {
        m_totals.voided += sign;
        return;
    }
    m_totals.count += sign;
    if (entry.fen == Entry::unreadable)
        m_totals.unreadable += sign;
    else
        m_totals.fen += sign * entry.fen;
}

ReceiptTotals ReceiptList::totalsOf(const QList<qsizetype> &rows) const
{
    ReceiptTotals totals;
    for (const qsizetype row : rows) {
        if (row < 0 || row >= size())
            continue;
        const Entry &entry = m_entries[size_t(row)];
        if (m_voided.contains(entry.row)) {
            ++totals.voided;
            continue;
        }
        ++totals.count;
        if (entry.fen == Entry::unreadable)
            ++totals.unreadable;
        else
            totals.fen += entry.fen;
    }
    return totals;
}

QList<qint64> ReceiptList::shownRowids() const
{
    QList<qint64> rows;
    rows.reserve(size());
    for (const Entry &entry : m_entries)
        rows.append(entry.row);
    return rows;
}

bool ReceiptList::isVoided(qsizetype row) const
{
    return row >= 0 && row < size() && m_voided.contains(m_entries[size_t(row)].row);
}

const QList<Receipt> *ReceiptList::page(qsizetype index)
{
    auto found = m_pages.constFind(index);
    if (found == m_pages.constEnd()) {
        QList<qint64> rows;
        const qsizetype first = index * pageSize;
        const qsizetype last = std::min(size(), first + pageSize);
        for (qsizetype row = first; row < last; ++row)
            rows.append(m_entries[size_t(row)].row);
        std::optional<QList<Receipt>> read = m_book.readRows(rows);
        if (!read || read->size() != rows.size())
            return nullptr;
        if (m_pages.size() >= pagesKept) {
            m_pages.remove(m_pageUse.takeFirst());
        }
        found = m_pages.insert(index, *read);
    }
    m_pageUse.removeOne(index);
    m_pageUse.append(index);
    return &found.value();
}

std::optional<Receipt> ReceiptList::at(qsizetype row)
{
    if (const Receipt *receipt = rowAt(row))
        return *receipt;
    return std::nullopt;
}

const Receipt *ReceiptList::rowAt(qsizetype row)
{
    if (row < 0 || row >= size())
        return nullptr;
    const QList<Receipt> *rows = page(row / pageSize);
    if (!rows)
        return nullptr;
    return &rows->at(row % pageSize);
}

QString ReceiptList::idAt(qsizetype row)
{
    const Receipt *receipt = rowAt(row);
    return receipt ? receipt->id : QString();
}

std::optional<qsizetype> ReceiptList::indexOfRow(qint64 row) const
{
    // A changed row is mostly one on screen or near it, among the pages held.
    for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
        const qsizetype first = page.key() * pageSize;
        const qsizetype last = std::min(size(), first + pageSize);
        for (qsizetype i = first; i < last; ++i) {
            if (m_entries[size_t(i)].row == row)
                return i;
        }
    }
    const auto found = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                    [row](const Entry &entry) { return entry.row == row; });
    if (found == m_entries.cend())
        return std::nullopt;
    return qsizetype(found - m_entries.cbegin());
}

std::optional<qsizetype> ReceiptList::rowOf(const QString &id)
{
    const QList<qsizetype> rows = rowsOf({id});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

QList<qsizetype> ReceiptList::rowsOf(const QSet<QString> &ids)
{
    QList<qsizetype> rows;
    if (ids.isEmpty())
        return rows;
    // Selected rows are mostly rows on screen, whose pages are held: found there without
    // asking the book, which another program may hold locked.
    QSet<QString> unseen = ids;
    for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
        for (qsizetype i = 0; i < page->size(); ++i) {
            if (unseen.remove(page->at(i).id))
                rows.append(page.key() * pageSize + i);
        }
    }
    QSet<qint64> wanted;
    for (const QString &id : std::as_const(unseen)) {
        if (const std::optional<qint64> row = m_book.rowOf(id))
            wanted.insert(*row);
    }
    for (size_t i = 0; i < m_entries.size() && !wanted.isEmpty(); ++i) {
        if (wanted.remove(m_entries[i].row))
            rows.append(qsizetype(i));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool ReceiptList::belongs(const Receipt &receipt) const
{
    const QString date = formatDateText(receipt.receiptDate, DateText::dateTime);
    return receipt.isDeleted != 1 && date >= m_begin && date <= m_end
        && ReceiptFilter(m_search).matches(receipt);
}

// Where `a` comes against `b` in the list's order: below 0 before it. The sort's column
// first (as read() sorts it), then the book's order (highest number first, as SQLite
// compares texts), which the stable sort kept for rows equal under the column.
int ReceiptList::compare(const Receipt &a, bool aVoided, const Receipt &b, bool bVoided) const
{
    int byColumn = 0;
    switch (m_sort) {
    case ListSort::Book:
        break;
    case ListSort::ReceiptDate:
        byColumn = formatDateText(a.receiptDate, DateText::dateTime)
                       .compare(formatDateText(b.receiptDate, DateText::dateTime));
        break;
    case ListSort::CreateDate:
        byColumn = formatDateText(a.createDate, DateText::dateTime)
                       .compare(formatDateText(b.createDate, DateText::dateTime));
        break;
    case ListSort::Total: {
        const qint64 fa = Money::fenOf(a).value_or(0), fb = Money::fenOf(b).value_or(0);
        byColumn = fa < fb ? -1 : (fb < fa ? 1 : 0);
        break;
    }
    case ListSort::Status:
        byColumn = int(aVoided) - int(bVoided);
        break;
    default:
        byColumn = collate(sortedText(a), sortedText(b));
        break;
    }
    if (byColumn != 0)
        return m_order == Qt::AscendingOrder ? byColumn : -byColumn;
    const QByteArray na = a.receiptNo.toUtf8(), nb = b.receiptNo.toUtf8();
    return nb < na ? -1 : (na < nb ? 1 : 0);
}

QString ReceiptList::sortedText(const Receipt &receipt) const
{
    switch (m_sort) {
    case ListSort::ReceiptNo:
        return receipt.receiptNo;
    case ListSort::Payer:
        return receipt.payer;
    case ListSort::Reason1:
        return receipt.reason1;
    case ListSort::Reason2:
        return receipt.reason2;
    case ListSort::Remark:
        return receipt.remark;
    case ListSort::Paytype:
        return receipt.paytype;
    case ListSort::Payee:
        return receipt.payee;
    case ListSort::Approve:
        return receipt.approve;
    case ListSort::Accountant:
        return receipt.accountant;
    default:
        return {};
    }
}

// Puts a receipt the list lacks where the list's order puts it: a binary search over the
// rows, each one it looks at read alone unless its page is held. False when the rows it
// needs cannot be read.
bool ReceiptList::place(const Receipt &receipt, qint64 row)
{
    const bool voided = receipt.voidReason.has_value();
    qsizetype low = 0, high = size();
    // A new receipt mostly belongs at either end: tried first, before the halving.
    const auto before = [&](qsizetype index) -> std::optional<bool> {
        std::optional<Receipt> there;
        if (const auto held = m_pages.constFind(index / pageSize); held != m_pages.constEnd())
            there = held->at(index % pageSize);
        else if (std::optional<QList<Receipt>> read = m_book.readRows({m_entries[size_t(index)].row});
                 read && read->size() == 1)
            there = read->first();
        if (!there)
            return std::nullopt;
        return compare(*there, isVoided(index), receipt, voided) < 0;
    };
    if (high > 0) {
        const std::optional<bool> afterFirst = before(0);
        if (!afterFirst)
            return false;
        if (!*afterFirst) {
            high = 0;
        } else {
            const std::optional<bool> afterLast = before(high - 1);
            if (!afterLast)
                return false;
            if (*afterLast)
                low = high;
            else
                low = 1;
        }
    }
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        const std::optional<bool> after = before(middle);
        if (!after)
            return false;
        if (*after)
            low = middle + 1;
        else
            high = middle;
    }
    const Entry entry {row, Money::fenOf(receipt).value_or(Entry::unreadable),
                       numberOf(receipt.receiptNo)};
    Q_EMIT rowsAboutToBeInserted(low, low);
    dropPagesFrom(low);
    m_entries.insert(m_entries.begin() + low, entry);
    m_highestRow = std::max(m_highestRow, row);
    m_runStarts.clear();
    if (voided)
        m_voided.insert(row);
    countIn(entry, 1);
    Q_EMIT rowsInserted();
    return true;
}

// The value of a receipt number the list now holds, as the book's order counts it; the
// list's numbers stop being all of one form when it is not digits of their length.
qint64 ReceiptList::numberOf(const QString &receiptNo)
{
    if (!m_uniformNumbers)
        return 0;
    if (m_numberLength < 0)
        m_numberLength = receiptNo.size();
    const std::optional<qint64> value = digitsValue(receiptNo);
    m_uniformNumbers = receiptNo.size() == m_numberLength && value.has_value();
    return value.value_or(0);
}

void ReceiptList::removeAt(qsizetype index)
{
    Q_EMIT rowsAboutToBeRemoved(index, index);
    dropPagesFrom(index);
    countIn(m_entries[size_t(index)], -1);
    m_voided.remove(m_entries[size_t(index)].row);
    m_entries.erase(m_entries.begin() + index);
    m_runStarts.clear();
    Q_EMIT rowsRemoved();
}

void ReceiptList::applyVoid(const BookChange &change, bool voided)
{
    // The rows as they are now (with the void's reason), for the pages that hold them.
    const std::optional<QList<Receipt>> receipts = m_book.readRows(change.rows);
    for (qsizetype i = 0; i < change.rows.size(); ++i) {
        const std::optional<qsizetype> index = indexOfRow(change.rows.at(i));
        if (!index)
            continue;
        const Receipt *now = nullptr;
        if (receipts) {
            for (const Receipt &receipt : *receipts) {
                if (receipt.id == change.ids.value(i))
                    now = &receipt;
            }
        }
        updateAt(*index, m_entries[size_t(*index)].fen, voided, now);
    }
}

void ReceiptList::updateAt(qsizetype index, qint64 fen, bool voided, const Receipt *now)
{
    Entry &entry = m_entries[size_t(index)];
    m_runStarts.clear();
    countIn(entry, -1);
    entry.fen = fen;
    if (voided)
        m_voided.insert(entry.row);
    else
        m_voided.remove(entry.row);
    countIn(entry, 1);
    // The page holding the row keeps it as the book has it now; without it, the page is
    // read again when it is next shown.
    const auto held = m_pages.find(index / pageSize);
    if (held != m_pages.end()) {
        if (now)
            (*held)[index % pageSize] = *now;
        else {
            m_pages.erase(held);
            m_pageUse.removeOne(index / pageSize);
        }
    }
    Q_EMIT rowsChanged(index, index);
}

void ReceiptList::dropPagesFrom(qsizetype index)
{
    const qsizetype first = index / pageSize;
    for (auto page = m_pages.begin(); page != m_pages.end();) {
        if (page.key() >= first) {
            m_pageUse.removeOne(page.key());
            page = m_pages.erase(page);
        } else {
            ++page;
        }
    }
}

// The rows of a change as the book holds them now: each one the list shows, or now
// should, read again and put where it belongs. False when they cannot be read.
bool ReceiptList::replace(const BookChange &change, bool moveRows)
{
    const std::optional<QList<Receipt>> receipts = m_book.readRows(change.rows);
    if (!receipts)
        return false;
    // A receipt just issued or brought back is not among the rows held, unless another
    // program deleted the row that had its rowid since they were read: only a rowid that
    // is not past every one held is looked for.
    const bool newRows = change.kind == BookChange::Kind::Issued
        || change.kind == BookChange::Kind::Restored;
    // Only the sort's column, or the status, moves a row; the book's order never does.
    const bool movable = moveRows || (m_sort != ListSort::Book && m_sort != ListSort::Status);
    for (qsizetype i = 0; i < change.rows.size(); ++i) {
        const qint64 row = change.rows.at(i);
        const auto found = std::find_if(receipts->cbegin(), receipts->cend(),
                                        [&](const Receipt &r) { return r.id == change.ids.value(i); });
        std::optional<qsizetype> index;
        if (!newRows || row <= m_highestRow)
            index = indexOfRow(row);
        const bool shown = found != receipts->cend() && belongs(*found);
        if (index && shown && !newRows && (!movable || staysAt(*index, *found))) {
            m_entries[size_t(*index)].number = numberOf(found->receiptNo);
            updateAt(*index, Money::fenOf(*found).value_or(Entry::unreadable),
                     found->voidReason.has_value(), &*found);
            continue;
        }
        if (index)
            removeAt(*index);
        if (shown && !place(*found, row))
            return false;
    }
    return true;
}

bool ReceiptList::staysAt(qsizetype index, const Receipt &receipt)
{
    const bool voided = receipt.voidReason.has_value();
    if (index > 0) {
        const std::optional<Receipt> before = at(index - 1);
        if (!before || compare(*before, isVoided(index - 1), receipt, voided) >= 0)
            return false;
    }
    if (index + 1 < size()) {
        const std::optional<Receipt> after = at(index + 1);
        if (!after || compare(receipt, voided, *after, isVoided(index + 1)) >= 0)
            return false;
    }
    return true;
}

void ReceiptList::apply(const BookChange &change)
{
    // A list never read has nothing to bring up to date; it reads when it is shown. One
    // being read may or may not see the change: read again.
    if (!m_read)
        return;
    if (!m_complete) {
        reload();
        return;
    }
    bool readAgain = false;
    switch (change.kind) {
    case BookChange::Kind::Voided:
    case BookChange::Kind::Unvoided:
        // Sorted by status, a void moves its row: read again, like any other change.
        if (m_sort == ListSort::Status)
            readAgain = !replace(change, true);
        else
            applyVoid(change, change.kind == BookChange::Kind::Voided);
        break;
    case BookChange::Kind::Removed:
        for (const qint64 row : change.rows) {
            if (const std::optional<qsizetype> index = indexOfRow(row))
                removeAt(*index);
        }
        break;
    case BookChange::Kind::Issued:
    case BookChange::Kind::Restored:
    case BookChange::Kind::Updated:
        readAgain = !replace(change, false);
        break;
    }
    if (readAgain) {
        reload();
        return;
    }
    Q_EMIT totalsChanged();
}
