// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptstream.h"

#include "database.h"
#include "databaseerror.h"
#include "receiptbook.h"
#include "sqlitehelper.h"

using namespace Qt::StringLiterals;

namespace {

// The rows and the order of the lists' load. A range that holds every stored date (the
// whole book, as an export of everything asks) is read along the number index: sorting
// all its rows would cost more than the rest of the read (a second for a million).
QString rangeStatementFor(Database &database, const QString &begin, const QString &end)
{
    // A planner that takes no hint (a server's) makes that choice itself.
    if (database.dialect().indexHint(u"idx_receipt_receiptNo"_s).isEmpty())
        return ReceiptBook::rangeStatement(begin, end);
    bool whole = false;
    {
        // Only a choice between two reads of the same rows: a failure here is told by the
        // read itself.
        const bool logs = database.logsErrors();
        database.setLogsErrors(false);
        if (std::unique_ptr<ResultSet> span
            = database.executeQuery(ReceiptBook::dateSpanStatement());
            span && span->next()) {
            const std::optional<QString> first = span->stringForColumnIndex(0);
            const std::optional<QString> last = span->stringForColumnIndex(1);
            whole = first && last && begin <= *first && *last <= end;
        }
        database.setLogsErrors(logs);
    }
    return whole ? ReceiptBook::rangeStatementByNumber(begin, end)
                 : ReceiptBook::rangeStatement(begin, end);
}

} // namespace

ReceiptStream::ReceiptStream(const QString &beginDate, const QString &endDate,
                             const ReceiptFilter &filter, Connection connection)
    : m_filter(filter)
    // Few receipts are voided: their reasons are read whole, as the lists read them,
    // before the rows, so each row finds its own without a query.
    , m_voidReasons(ReceiptBook::shared().voidReasons())
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (connection == Connection::Shared) {
        if (helper.open())
            m_resultSet = helper.query(rangeStatementFor(helper.db(), beginDate, endDate));
        if (!m_resultSet)
            fail(helper.lastError());
        return;
    }
    if (openOwn())
        m_resultSet
            = m_ownDatabase->executeQuery(rangeStatementFor(*m_ownDatabase, beginDate, endDate));
    if (!m_resultSet)
        fail(describeFailure(m_ownDatabase->lastError()));
}

ReceiptStream::ReceiptStream(const QList<qint64> &rows)
    : m_voidReasons(ReceiptBook::shared().voidReasons())
    , m_rows(rows)
    , m_byRows(true)
{
    if (!openOwn())
        fail(describeFailure(m_ownDatabase->lastError()));
}

bool ReceiptStream::openOwn()
{
    m_ownDatabase = std::make_unique<Database>(SQLiteHelper::shared().dbURL(),
                                               Database::OpenMode::ExistingFileOnly);
    m_ownDatabase->setOpenReadOnly(true);
    return m_ownDatabase->open();
}

const Receipt *ReceiptStream::nextOfRows()
{
    while (!m_done) {
        if (m_nextInBatch < m_batch.size()) {
            m_current = m_batch.at(m_nextInBatch++);
            return &*m_current;
        }
        if (m_nextRow >= m_rows.size()) {
            m_done = true;
            m_current.reset();
            return nullptr;
        }
        // A batch at a time, each its own short read: no read stays open between them.
        const QList<qint64> batch = m_rows.mid(m_nextRow, 500);
        m_nextRow += batch.size();
        std::unique_ptr<ResultSet> rows
            = m_ownDatabase->executeQuery(ReceiptBook::rowsStatement(batch));
        if (!rows) {
            fail(describeFailure(m_ownDatabase->lastError()));
            return nullptr;
        }
        QHash<qint64, Receipt> byRow;
        std::optional<ReceiptRowMapper> mapper;
        while (rows->next()) {
            if (!mapper)
                mapper.emplace(*rows, u"receiptNo"_s);
            if (!mapper->missingColumn().isEmpty()) {
                fail(u"数据库缺少列 %1"_s.arg(mapper->missingColumn()));
                return nullptr;
            }
            if (std::optional<Receipt> receipt = mapper->map())
                byRow.insert(rows->int64ForColumnIndex(0), std::move(*receipt));
            else
                ++m_skippedRows;
        }
        if (rows->hasError()) {
            fail(describeFailure(rows->error()));
            return nullptr;
        }
        m_batch.clear();
        m_nextInBatch = 0;
        for (const qint64 row : batch) {
            auto found = byRow.find(row);
            if (found == byRow.end())
                continue;
            if (const auto reason = m_voidReasons.constFind(found->id);
                reason != m_voidReasons.constEnd())
                found->voidReason = reason.value();
            m_batch.append(std::move(*found));
        }
    }
    return nullptr;
}

// The shared connection's failures are noted where the program's other reads note theirs;
// an own connection's are only described, from whatever thread reads it.
QString ReceiptStream::describeFailure(const DatabaseError &failure) const
{
    return m_ownDatabase ? failure.message() : SQLiteHelper::shared().noteFailure(failure);
}

ReceiptStream::~ReceiptStream() = default;

QString ReceiptStream::skippedNotice() const
{
    if (m_skippedRows == 0)
        return {};
    return u"有 %1 张收据无法读出（日期或单号无法识别），没有列出，也不计入合计"_s.arg(
        m_skippedRows);
}

void ReceiptStream::fail(const QString &reason)
{
    m_error = u"读取收据失败："_s + reason;
    m_done = true;
    m_current.reset();
    m_mapper.reset();
    m_resultSet.reset();
}

const Receipt *ReceiptStream::next()
{
    if (m_byRows)
        return nextOfRows();
    while (!m_done) {
        if (!m_resultSet->next()) {
            if (m_resultSet->hasError()) {
                fail(describeFailure(m_resultSet->error()));
                return nullptr;
            }
            m_done = true;
            m_current.reset();
            m_mapper.reset();
            m_resultSet.reset();
            return nullptr;
        }
        // Columns are looked up after the first step, as the lists do: a statement
        // prepared before another program changed the table is prepared again by it.
        if (!m_mapper) {
            m_mapper.emplace(*m_resultSet, u"receiptNo"_s);
            if (!m_mapper->missingColumn().isEmpty()) {
                fail(u"数据库缺少列 %1"_s.arg(m_mapper->missingColumn()));
                return nullptr;
            }
        }
        m_current = m_mapper->map();
        if (!m_current) {
            ++m_skippedRows;
            continue;
        }
        if (!m_voidReasons.isEmpty()) {
            const auto found = m_voidReasons.constFind(m_current->id);
            if (found != m_voidReasons.constEnd())
                m_current->voidReason = found.value();
        }
        if (m_filter.matches(*m_current))
            return &*m_current;
    }
    return nullptr;
}

namespace {

// Receipts in a batch, and batches read but not yet written: enough that neither thread
// waits on the other for each row, little enough to keep memory flat (about 1 MB).
constexpr size_t readAheadBatch = 256;
constexpr size_t readAheadBatches = 4;

} // namespace

ReceiptReadAhead::ReceiptReadAhead(ReceiptStream &stream)
    : m_stream(stream)
{
    m_thread = std::thread([this] { read(); });
}

ReceiptReadAhead::~ReceiptReadAhead()
{
    stop();
}

void ReceiptReadAhead::read()
{
    for (;;) {
        std::vector<Receipt> batch;
        batch.reserve(readAheadBatch);
        bool atEnd = false;
        while (batch.size() < readAheadBatch) {
            if (!m_stream.next()) {
                atEnd = true;
                break;
            }
            // The stream's next call gives m_current a new value whatever it holds.
            batch.push_back(std::move(*m_stream.m_current));
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopping || m_ready.size() < readAheadBatches; });
        if (m_stopping || atEnd) {
            if (!m_stopping && !batch.empty())
                m_ready.push_back(std::move(batch));
            m_finished = true;
            m_changed.notify_all();
            return;
        }
        m_ready.push_back(std::move(batch));
        m_changed.notify_all();
    }
}

const Receipt *ReceiptReadAhead::next()
{
    if (m_nextInBatch < m_batch.size())
        return &m_batch[m_nextInBatch++];
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_finished; });
    if (m_ready.empty()) {
        m_batch.clear();
        m_nextInBatch = 0;
        return nullptr;
    }
    m_batch = std::move(m_ready.front());
    m_ready.pop_front();
    m_changed.notify_all();
    m_nextInBatch = 1;
    return &m_batch[0];
}

void ReceiptReadAhead::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

QString ReceiptReadAhead::error()
{
    stop();
    return m_stream.error();
}

int ReceiptReadAhead::skippedRows()
{
    stop();
    return m_stream.skippedRows();
}

QString ReceiptReadAhead::skippedNotice()
{
    stop();
    return m_stream.skippedNotice();
}
