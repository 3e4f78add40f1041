// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QThread;

// The work on the whole receipt book that the window must not wait for: SQLiteHelper's
// quick check that the start left for later, and the automatic backups. Each job runs on a
// worker thread with a connection of its own to the book, opened for reading only (the
// shared connection belongs to the window's thread), and reports back on the thread that
// made this object. One job at a time. Owned by the window: its destructor stops a copy
// between two steps and waits for the worker.
class BookMaintenance : public QObject
{
    Q_OBJECT

public:
    explicit BookMaintenance(QObject *parent = nullptr);
    ~BookMaintenance() override;

    // The quick check when the first open left it for later, then an automatic backup
    // when the last is over a day old and the book may be backed up. False (and nothing
    // started) while another job runs.
    bool checkAndBackUpIfDue();
    // An automatic backup now (after so many saved receipts). False while another job
    // runs: a backup is being made then anyway.
    bool backUp();

    bool isRunning() const { return m_thread != nullptr; }
    // Blocks until the running job is done and reported.
    void waitForDone();

Q_SIGNALS:
    // The quick check found the book damaged; SQLiteHelper has been told (noteDamage), so
    // the book is read only from now on. Emitted before backupFailed.
    void damageFound(const QString &damage);
    // An automatic backup was due and failed (or was refused for a damaged book): why, in
    // Chinese.
    void backupFailed(const QString &error);
    // The job is done, whatever it found.
    void finished();

private:
    struct Outcome;
    enum class Check { Pending, No };
    enum class Backup { IfDue, Now };
    bool start(Check check, Backup backup);
    void report();

    QThread *m_thread = nullptr;
    quint64 m_job = 0;
    std::shared_ptr<Outcome> m_outcome;
    std::shared_ptr<std::atomic_bool> m_cancel;
};
