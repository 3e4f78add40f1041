// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class Database;
class QThread;

// The trigram index the lists search through (fts_receipt, kept in step with tb_receipt
// by triggers). A new book has it whole; a book made before it has it empty after the
// upgrade, and fill() builds it batch by batch, each batch a short transaction that also
// records how far it got (tb_searchIndex.filledTo), so that a fill cut short goes on from
// there at the next start and the window's own writes are never held up for long. Until
// it is whole, the search reads the receipts themselves (ReceiptSearch, without the index).
class ReceiptSearchIndex : public QObject
{
    Q_OBJECT

public:
    // Receipts indexed in one transaction.
    static constexpr int batchSize = 5000;

    explicit ReceiptSearchIndex(const QString &databasePath, QObject *parent = nullptr);
    ~ReceiptSearchIndex() override;

    // Whether the book's index covers every receipt. False when the book has no index
    // (a book only read, made by an older program) or cannot be read.
    static bool isReady(Database &database);

    // Empties the index, to be filled again from the start: for a book whose index no
    // longer matches its receipts (a program that renumbered the rows, as a reload of an
    // SQL dump does). False when the book has no index or could not be written.
    static bool reset(Database &database);

    // Fills the index of the book at databasePath over a connection of its own, on the
    // calling thread, reporting after every batch the receipts indexed so far and the
    // receipts there are. Stops after the batch in which `stop` became true. True when
    // the index is whole at the end; the index of the amounts (idx_receipt_totalValue) is
    // then made too when the book lacks it.
    static bool fill(const QString &databasePath,
                     const std::function<void(qint64 done, qint64 total)> &progress = {},
                     const std::atomic_bool *stop = nullptr);

    // Runs fill() on a worker thread; progressed and finished arrive on this object's
    // thread. Does nothing while a fill runs.
    void start();
    bool isRunning() const;
    // Asks a running fill to stop after its batch and waits for it.
    void stop();

Q_SIGNALS:
    void progressed(qint64 done, qint64 total);
    void finished(bool ready);

private:
    QString m_databasePath;
    QThread *m_thread = nullptr;
    std::atomic_bool m_stop = false;
};
