// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookmaintenance.h"

#include "backupservice.h"
#include "database.h"
#include "sqlitehelper.h"

#include <QThread>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// How often the check is tried when saves (or another program's lock) keep interrupting
// it, with longer pauses each time; it is left undone after that, as with a lock at the
// first open.
constexpr int checkAttempts = 30;

} // namespace

struct BookMaintenance::Outcome
{
    // The quick check's findings; nothing when it did not run (not asked for, a lock, a
    // file that does not open: the window's connection tells those itself).
    std::optional<QString> damage;
    bool backupFailed = false;
    QString backupError;
};

BookMaintenance::BookMaintenance(QObject *parent)
    : QObject(parent)
{ }

BookMaintenance::~BookMaintenance()
{
    if (m_thread) {
        // A copy stops between two steps, a check at once.
        m_cancel->store(true);
        Database::interruptYieldingConnections();
        m_thread->wait();
        delete m_thread;
    }
}

bool BookMaintenance::checkAndBackUpIfDue()
{
    return start(SQLiteHelper::shared().isFileCheckPending() ? Check::Pending : Check::No,
                 Backup::IfDue);
}

bool BookMaintenance::backUp()
{
    return start(Check::No, Backup::Now);
}

bool BookMaintenance::start(Check check, Backup backup)
{
    if (m_thread)
        return false;
    // Read here, on the window's thread: the worker touches nothing shared.
    SQLiteHelper &helper = SQLiteHelper::shared();
    // A shared book has no file to check or copy: its server keeps it (pg_dump, or
    // quenta --backup).
    if (!helper.isAvailable() || !helper.livesInAFile())
        return false;
    const QString book = helper.dbURL();
    const QString knownDamage = helper.damage();
    const QStringList unknown = helper.schemaReport().unknownObjects;

    auto outcome = std::make_shared<Outcome>();
    auto cancel = std::make_shared<std::atomic_bool>(false);
    m_outcome = outcome;
    m_cancel = cancel;
    m_thread = QThread::create([=] {
        QString damage = knownDamage;
        if (check == Check::Pending) {
            Database database(book, Database::OpenMode::ExistingFileOnly);
            database.setOpenReadOnly(true);
            database.setLogsErrors(false);
            // The check holds the book's shared lock while it reads the whole file, which
            // a save must wait out: it gives way to a save and starts over a little later.
            database.setYieldsToWriters(true);
            if (database.open()) {
                for (int attempt = 1; attempt <= checkAttempts && !cancel->load(); ++attempt) {
                    outcome->damage = SQLiteHelper::quickCheck(database);
                    if (outcome->damage)
                        break;
                    QThread::msleep(std::min(attempt * 100, 2000));
                }
            }
            damage = outcome->damage.value_or(QString());
        }
        if (cancel->load())
            return;
        QString error = BackupService::automaticBackupRefusal(damage, unknown);
        if (error.isEmpty()) {
            const bool made = backup == Backup::IfDue
                ? BackupService::backupIfDueFrom(book, &error, cancel.get())
                : BackupService::backUpFrom(book, &error, cancel.get());
            if (made)
                error.clear();
        }
        outcome->backupFailed = !error.isEmpty();
        outcome->backupError = error;
    });
    m_thread->setObjectName(u"BookMaintenance"_s);
    // Queued to this thread; a signal of a job already reported by waitForDone() is stale.
    const quint64 job = ++m_job;
    connect(m_thread, &QThread::finished, this, [this, job] {
        if (job == m_job)
            report();
    });
    m_thread->start(QThread::LowPriority);
    return true;
}

void BookMaintenance::waitForDone()
{
    if (!m_thread)
        return;
    m_thread->wait();
    report();
}

void BookMaintenance::report()
{
    // Once per job: from waitForDone() or from the thread's finished signal, whichever
    // comes first.
    if (!m_thread)
        return;
    m_thread->wait(); // it has sent finished(); now it has ended too
    delete m_thread;
    m_thread = nullptr;
    const std::shared_ptr<Outcome> outcome = std::move(m_outcome);
    if (outcome->damage && !outcome->damage->isEmpty()) {
        SQLiteHelper::shared().noteDamage(*outcome->damage);
        Q_EMIT damageFound(*outcome->damage);
    } else if (outcome->damage) {
        SQLiteHelper::shared().noteDamage(QString());
    }
    if (outcome->backupFailed)
        Q_EMIT backupFailed(outcome->backupError);
    Q_EMIT finished();
}
