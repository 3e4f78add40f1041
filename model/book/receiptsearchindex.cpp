// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptsearchindex.h"

#include "database.h"

#include <QThread>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 whole = std::numeric_limits<qint64>::max();

std::optional<qint64> firstNumber(Database &database, const QString &sql)
{
    std::unique_ptr<ResultSet> rows = database.executeQuery(sql);
    if (!rows || !rows->next() || !rows->stringForColumnIndex(0))
        return std::nullopt;
    return rows->int64ForColumnIndex(0);
}

std::optional<qint64> filledTo(Database &database)
{
    return firstNumber(database, u"select max(filledTo) from tb_searchIndex"_s);
}

const QString columns = u"receiptNo, payer, reason1, reason2, remark, paytype, payee"_s;

// Indexes the next batch of receipts above the mark and moves the mark past them, in one
// transaction; the new mark, or nothing on failure.
std::optional<qint64> fillBatch(Database &database)
{
    if (!database.executeStatements(u"begin immediate"_s))
        return std::nullopt;
    const auto rollback = [&database]() -> std::optional<qint64> {
        database.executeStatements(u"rollback"_s);
        return std::nullopt;
    };
    const std::optional<qint64> from = filledTo(database);
    if (!from)
        return rollback();
    if (*from == whole) {
        database.executeStatements(u"commit"_s);
        return whole;
    }
    // The last rowid of this batch; every one when fewer are left.
    const qint64 to = firstNumber(database,
                                  u"select rowid from tb_receipt where rowid > %1 "
                                  u"order by rowid limit 1 offset %2"_s.arg(*from)
                                      .arg(ReceiptSearchIndex::batchSize - 1))
                          .value_or(whole);
    const bool ok = database.executeStatements(
        u"insert into fts_receipt (rowid, %1) select rowid, %1 from tb_receipt "
        u"where rowid > %2 and rowid <= %3;\n"
        u"update tb_searchIndex set filledTo = %3;"_s.arg(columns)
            .arg(*from)
            .arg(to));
    if (!ok || !database.executeStatements(u"commit"_s))
        return rollback();
    return to;
}

} // namespace

ReceiptSearchIndex::ReceiptSearchIndex(const QString &databasePath, QObject *parent)
    : QObject(parent)
    , m_databasePath(databasePath)
{ }

ReceiptSearchIndex::~ReceiptSearchIndex()
{
    stop();
}

bool ReceiptSearchIndex::isReady(Database &database)
{
    const bool logs = database.logsErrors();
    database.setLogsErrors(false);
    const bool ready = filledTo(database) == whole;
    database.setLogsErrors(logs);
    return ready;
}

bool ReceiptSearchIndex::reset(Database &database)
{
    if (!database.executeStatements(u"begin immediate"_s))
        return false;
    if (database.executeStatements(u"insert into fts_receipt (fts_receipt) values ('delete-all');\n"
                                   u"update tb_searchIndex set filledTo = -9223372036854775808;"_s)
        && database.executeStatements(u"commit"_s))
        return true;
    database.executeStatements(u"rollback"_s);
    return false;
}

bool ReceiptSearchIndex::fill(const QString &databasePath,
                              const std::function<void(qint64, qint64)> &progress,
                              const std::atomic_bool *stop)
{
    Database database(databasePath, Database::OpenMode::ExistingFileOnly);
    // Its batches wait for a list's read to end: interrupted at each one, a search that
    // reads every receipt (as it must until the index is whole) would never end.
    database.setWritesInBackground(true);
    if (!database.open())
        return false;
    std::optional<qint64> mark = filledTo(database);
    if (!mark)
        return false;
    const qint64 total = firstNumber(database, u"select count(*) from tb_receipt"_s).value_or(0);
    qint64 done = *mark == whole
        ? total
        : firstNumber(database, u"select count(*) from tb_receipt where rowid <= %1"_s.arg(*mark))
              .value_or(0);
    // A batch that fails (the book held by another writer past the busy timeout) ends the
    // run; the next one goes on from the last batch written.
    while (mark && *mark != whole && !(stop && *stop)) {
        mark = fillBatch(database);
        if (mark && progress) {
            done = *mark == whole ? total : std::min(total, done + batchSize);
            progress(done, total);
        }
    }
    if (mark != whole)
        return false;
    // The amounts' index, which a book made before the search index lacks: the search for
    // an amount reads every receipt of the range without it.
    database.executeStatements(u"create index if not exists idx_receipt_totalValue "
                               u"on tb_receipt (cast(total as real))"_s);
    // And the lists' index, which reads a long range in the book's order a part at a
    // time without sorting it (model/book/receiptlist.cpp).
    database.executeStatements(u"create index if not exists idx_receipt_list "
                               u"on tb_receipt (receiptNo, receiptDate, isDeleted)"_s);
    return true;
}

void ReceiptSearchIndex::start()
{
    if (isRunning())
        return;
    delete m_thread;
    m_stop = false;
    m_thread = QThread::create([this] {
        const bool ready = fill(
            m_databasePath,
            [this](qint64 done, qint64 total) {
                QMetaObject::invokeMethod(this,
                                          [this, done, total] { Q_EMIT progressed(done, total); });
            },
            &m_stop);
        QMetaObject::invokeMethod(this, [this, ready] { Q_EMIT finished(ready); });
    });
    m_thread->start(QThread::LowPriority);
}

bool ReceiptSearchIndex::isRunning() const
{
    return m_thread && m_thread->isRunning();
}

void ReceiptSearchIndex::stop()
{
    if (!m_thread)
        return;
    m_stop = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}
