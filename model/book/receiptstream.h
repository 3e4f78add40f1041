// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"
#include "receiptfilter.h"
#include "receiptrow.h"

#include <QHash>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class Database;
class DatabaseError;
class ResultSet;

// The receipts of a date range as the lists show them (highest number first, void
// reasons filled in, the search applied to each), read one at a time from the book, so
// a range of a million receipts never sits in memory. For exports; the lists keep their
// own load. A stream holds a read open until it ends or is destroyed.
class ReceiptStream
{
public:
    // Shared: on the program's connection, on its thread. Own: on a read-only connection
    // of its own, opened here, so the stream may then be read on another thread.
    enum class Connection { Shared, Own };

    // beginDate and endDate are bounds as the lists keep them ("2024-05-01 00:00:00").
    ReceiptStream(const QString &beginDate, const QString &endDate,
                  const ReceiptFilter &filter = ReceiptFilter(),
                  Connection connection = Connection::Shared);
    // The receipts of `rows` (rowids) in that order, as a sorted list shows them, read a
    // few hundred at a time on a read-only connection of its own. A row gone meanwhile is
    // left out.
    explicit ReceiptStream(const QList<qint64> &rows);
    ~ReceiptStream();
    ReceiptStream(const ReceiptStream &) = delete;
    ReceiptStream &operator=(const ReceiptStream &) = delete;

    // The next receipt the search finds, valid until the next call; null at the end and
    // on a failure, which error() then tells.
    const Receipt *next();
    // Why the read failed ("读取收据失败：…"), empty while all is well. The receipts given
    // before the failure are not all there are.
    QString error() const { return m_error; }
    // The rows so far left out because they cannot be read, as the lists leave them out.
    int skippedRows() const { return m_skippedRows; }
    // What the lists' banner says of them; empty when none was left out.
    QString skippedNotice() const;

private:
    friend class ReceiptReadAhead; // takes the receipt next() gave instead of copying it

    void fail(const QString &reason);
    bool openOwn();
    const Receipt *nextOfRows();
    QString describeFailure(const DatabaseError &failure) const;

    ReceiptFilter m_filter;
    QHash<QString, QString> m_voidReasons;
    std::unique_ptr<Database> m_ownDatabase; // outlives the rows read from it
    std::unique_ptr<ResultSet> m_resultSet;
    std::optional<ReceiptRowMapper> m_mapper;
    std::optional<Receipt> m_current;
    QString m_error;
    int m_skippedRows = 0;
    bool m_done = false;
    // Reading by rows: those still to read, and the batch read last.
    QList<qint64> m_rows;
    qsizetype m_nextRow = 0;
    QList<Receipt> m_batch;
    qsizetype m_nextInBatch = 0;
    bool m_byRows = false;
};

// Reads a stream of its own connection (Connection::Own) on a thread of its own, a few
// hundred receipts ahead of the caller: an export writes one batch while the next is read.
// Memory stays flat: the reading waits while a few batches are waiting to be written.
class ReceiptReadAhead
{
public:
    // Starts reading stream, which must outlive this and is not to be touched meanwhile.
    explicit ReceiptReadAhead(ReceiptStream &stream);
    // Stops the reading (the rows not yet read are left unread) and waits for it.
    ~ReceiptReadAhead();
    ReceiptReadAhead(const ReceiptReadAhead &) = delete;
    ReceiptReadAhead &operator=(const ReceiptReadAhead &) = delete;

    // As ReceiptStream::next(), in the same order.
    const Receipt *next();
    // As the stream's, once the reading is over: they stop it first (as the destructor).
    QString error();
    int skippedRows();
    QString skippedNotice();

private:
    void read();
    void stop();

    ReceiptStream &m_stream;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<Receipt>> m_ready;
    bool m_finished = false; // the reading thread is done with the stream
    bool m_stopping = false;
    std::vector<Receipt> m_batch; // the batch being given out
    size_t m_nextInBatch = 0;
    std::thread m_thread;
};
