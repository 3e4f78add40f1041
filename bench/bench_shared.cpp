// SPDX-License-Identifier: GPL-3.0-or-later
// A shared book against the same book as a file, on a PostgreSQL server of the
// benchmark's own on loopback (a cluster in /tmp, commits durable: synchronous_commit on,
// fsync and full-page writes on as a real server has them, shared_buffers 128 MB), each
// figure beside raw libsqlite3 / libpq doing the same work in the same run:
//   - a save as the 开单 form saves (AppStore::insertReceipt), median; raw: one
//     transaction that locks the numbering row, checks the number, inserts the receipt
//     and its history row, moves the counter (and NOTIFYs on the server) and commits;
//   - the whole book listed (ReceiptList over every date): until its first rows are read,
//     and until every row is in and counted; raw: the list's query, every column read as
//     text (on the server once right after the copy, without targets; then as the desks
//     see it);
//   - four desks saving at once (four processes of this program), receipts per second,
//     and that no number is stored twice.
// The shared book is made from the file with the program's own copy (--create-shared-book
// --from), its desks connect over TCP to 127.0.0.1 as the desk role it grants.
// Run by hand: build-dir/bin/bench_shared [--receipts N] [saves]
// (or QUENTA_BENCH_RECEIPTS=N; 100,000 by default). Exits 0 when every target is met, 2
// when one is missed, 1 when it could not run. QUENTA_BENCH_TRACE=1 prints, on stderr, the
// time into each raw save after each of its statements, and the server's log of every
// statement of 2 ms or more while the shared book is measured.

#include "appstore.h"
#include "benchdata.h"
#include "delayrelay.h"
#include "pgconnection.h"
#include "pgtestserver.h"
#include "receiptbook.h"
#include "receiptlist.h"
#include "receiptnostore.h"
#include "paperbooks.h"
#include "seriesstore.h"
#include "recordchain.h"
#include "sharedbook.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>

#include <tuple>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The targets, on two cores.
constexpr double saveTargetRatio = 2.0;
constexpr double listTargetRatio = 3.0;
constexpr double firstRowsTargetMs = 300;

constexpr int desks = 4;
constexpr int savesPerDesk = 50;
const QString deskRole = u"bench_desk"_s;
const QString deskPassword = u"bench-desk"_s;
// Every date a book can hold.
const QString firstDate = u"0001-01-01 00:00:00"_s;
const QString lastDate = u"9999-12-31 23:59:59"_s;

bool allMet = true;

double ms(qint64 nanoseconds)
{
    return nanoseconds / 1e6;
}

QByteArray label(const char *what)
{
    QString text = QString::fromUtf8(what);
    int width = 0;
    for (const QChar c : std::as_const(text))
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return (text + QString(std::max(0, 44 - width), u' ')).toUtf8();
}

void reportRatio(const char *what, double figure, double raw, double target, const char *anchor)
{
    const double ratio = figure / raw;
    const bool met = target <= 0 || ratio <= target;
    allMet = allMet && met;
    if (target > 0)
        std::printf("%s %9.2f ms  %.2fx raw (target <= %.1fx)  %-6s %s %.2f ms\n",
                    label(what).constData(), figure, ratio, target, BenchData::verdict(met), anchor,
                    raw);
    else
        std::printf("%s %9.2f ms  %.2fx raw (no target)            %s %.2f ms\n",
                    label(what).constData(), figure, ratio, anchor, raw);
    std::fflush(stdout);
}

void report(const char *what, double figure, double target, const QString &note)
{
    const bool met = figure <= target;
    allMet = allMet && met;
    std::printf("%s %9.2f ms  target <= %.0f ms           %-6s %s\n", label(what).constData(),
                figure, target, BenchData::verdict(met), qPrintable(note));
    std::fflush(stdout);
}

bool isServer(const QString &book)
{
    return book.startsWith(u"postgresql://"_s);
}

// The raw side of a save: the same statements over a connection of its own, opened before
// the clock starts. The raw receipt takes a number of its own and is taken out again,
// untimed, so the program's numbering is not disturbed.
class RawSave
{
public:
    virtual ~RawSave() = default;
    // The time of one save in milliseconds, -1 when it failed.
    double save()
    {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const QString number = u"9000001"_s;
        const QStringList statements = {
            begin(),
            lockNumbering(),
            u"select count(*) from tb_receipt where receiptNo = '%1'"_s.arg(number),
            BenchData::rawInsertSql(id, number),
            u"update tb_receiptNo set numLong = numLong, currNum = currNum"_s,
        };
        QElapsedTimer timer;
        timer.start();
        bool ok = true;
        static const bool trace = qEnvironmentVariableIsSet("QUENTA_BENCH_TRACE");
        for (const QString &sql : statements) {
            ok = ok && run(sql);
            if (trace)
                std::fprintf(stderr, "%.2f ", ms(timer.nsecsElapsed()));
        }
        ok = ok && notify(id);
        if (trace)
            std::fprintf(stderr, "%.2f ", ms(timer.nsecsElapsed()));
        ok = ok && run(u"commit"_s);
        if (trace)
            std::fprintf(stderr, "%.2f\n", ms(timer.nsecsElapsed()));
        const qint64 elapsed = timer.nsecsElapsed();
        ok = ok && run(cleanup(id));
        return ok ? ms(elapsed) : -1;
    }

protected:
    virtual QString begin() const = 0;
    virtual QString lockNumbering() const = 0;
    virtual bool notify(const QString &id) = 0;
    // Takes the raw receipt out again.
    virtual QString cleanup(const QString &id) const = 0;
    virtual bool run(const QString &sql) = 0;
};

class RawSqliteSave : public RawSave
{
public:
    explicit RawSqliteSave(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr)
            != SQLITE_OK)
            return;
        sqlite3_busy_timeout(m_db, 10000);
        // Links the history rows it writes as the program does.
        RecordChain::addLinkFunction(m_db);
        // The schema read before any timing, as the program's connection has long done.
        run(u"select count(*) from sqlite_schema"_s);
    }
    ~RawSqliteSave() override { sqlite3_close(m_db); }

protected:
    QString begin() const override { return u"begin immediate"_s; }
    QString lockNumbering() const override { return u"select * from tb_receiptNo"_s; }
    bool notify(const QString &) override { return true; }
    QString cleanup(const QString &id) const override
    {
        return u"delete from tb_history where receiptId = '%1';\n"
               u"delete from tb_receipt where id = '%1'"_s.arg(id);
    }
    bool run(const QString &sql) override
    {
        // Every row of every statement stepped through.
        const QByteArray text = sql.toUtf8();
        const char *rest = text.constData();
        while (rest && *rest) {
            sqlite3_stmt *statement = nullptr;
            if (sqlite3_prepare_v2(m_db, rest, -1, &statement, &rest) != SQLITE_OK) {
                std::fprintf(stderr, "raw SQL failed: %s\n", sqlite3_errmsg(m_db));
                return false;
            }
            if (!statement)
                continue;
            int step = SQLITE_ROW;
            while ((step = sqlite3_step(statement)) == SQLITE_ROW) { }
            sqlite3_finalize(statement);
            if (step != SQLITE_DONE) {
                std::fprintf(stderr, "raw SQL failed: %s\n", sqlite3_errmsg(m_db));
                return false;
            }
        }
        return true;
    }

private:
    sqlite3 *m_db = nullptr;
};

class RawPgSave : public RawSave
{
public:
    explicit RawPgSave(const QString &uri)
        : m_conn(PQconnectdb(uri.toUtf8().constData()))
    { }
    ~RawPgSave() override { PQfinish(m_conn); }

protected:
    QString begin() const override { return u"begin"_s; }
    QString lockNumbering() const override { return u"select * from tb_receiptNo for update"_s; }
    bool notify(const QString &id) override
    {
        return run(
            u"select pg_notify('%1', 'issued %2 100001')"_s.arg(ReceiptBook::deskChannel(), id));
    }
    // A desk may only add to the history: its row stays, as the program's rows do.
    QString cleanup(const QString &id) const override
    {
        return u"delete from tb_receipt where id = '%1'"_s.arg(id);
    }
    bool run(const QString &sql) override
    {
        PGresult *result = PQexec(m_conn, sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!ok)
            std::fprintf(stderr, "raw SQL failed: %s\n", PQerrorMessage(m_conn));
        PQclear(result);
        return ok;
    }

private:
    PGconn *m_conn;
};

// Raw libpq reading the list's query, every column as text: the milliseconds, -1 on
// failure; *rows gets the rows read.
double rawPgListMs(const QString &uri, const QString &query, qint64 *rows)
{
    PGconn *conn = PQconnectdb(uri.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        std::fprintf(stderr, "raw libpq: %s\n", PQerrorMessage(conn));
        PQfinish(conn);
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    PGresult *result = PQexec(conn, query.toUtf8().constData());
    const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK;
    size_t bytes = 0;
    const int count = ok ? PQntuples(result) : 0;
    const int columns = ok ? PQnfields(result) : 0;
    for (int row = 0; row < count; ++row) {
        for (int column = 0; column < columns; ++column)
            bytes += size_t(PQgetvalue(result, row, column)[0])
                + size_t(PQgetlength(result, row, column));
    }
    PQclear(result);
    const qint64 elapsed = timer.nsecsElapsed();
    PQfinish(conn);
    if (rows)
        *rows = count;
    // The sum kept, so that the reads are not left out.
    if (bytes == 1)
        std::printf(" ");
    return ok ? ms(elapsed) : -1;
}

// --measure: the save and the list on QUENTA_BOOK, in this process; with `listOnly` the
// list alone, without its targets.
// The form filled in as a cashier fills it, under a new id; that id.
QString fillForm(AppStore &store)
{
    Receipt receipt = store.receiptEdit();
    receipt.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    receipt.payer = u"杭州明远贸易有限公司"_s;
    receipt.reason1 = u"房租"_s;
    receipt.paytype = u"现金"_s;
    receipt.total = 1234.5;
    store.setReceiptEdit(receipt);
    return receipt.id;
}

int measure(int saves, bool listOnly)
{
    const QString book = qEnvironmentVariable("QUENTA_BOOK");
    const bool server = isServer(book);
    AppStore &store = AppStore::shared();
    ReceiptNoStore::shared();

    std::unique_ptr<RawSave> raw;
    if (server)
        raw = std::make_unique<RawPgSave>(book);
    else
        raw = std::make_unique<RawSqliteSave>(book);
    QList<double> program, rawSaves;
    // Three saves first, untimed: the first statements of a connection prepare its way.
    for (int i = 0; !listOnly && i < saves + 3; ++i) {
        store.newReceipt();
        fillForm(store);
        // Each goes first every other time: a commit may find the disk busy with the
        // one before it.
        const bool rawFirst = i % 2 == 1;
        const double rawBefore = rawFirst ? raw->save() : 0;
        QElapsedTimer timer;
        timer.start();
        QString error;
        const bool saved = store.insertReceipt(&error);
        const qint64 elapsed = timer.nsecsElapsed();
        if (!saved) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
            return 1;
        }
        QCoreApplication::processEvents();
        const double rawMs = rawFirst ? rawBefore : raw->save();
        if (rawMs < 0)
            return 1;
        if (i >= 3) {
            program << ms(elapsed);
            rawSaves << rawMs;
        }
    }
    if (!listOnly)
        reportRatio("增加 (insertReceipt, median)", BenchData::median(program),
                    BenchData::median(rawSaves), server ? saveTargetRatio : 0,
                    server ? "raw libpq" : "raw libsqlite3");

    // The same saves in a series of its own, and in a series from a paper book, beside the
    // saves of the book's own numbering just measured.
    for (const auto &[series, prefix, books] :
         {std::tuple {u"学费"_s, u"XF{yyyy}-"_s, false}, std::tuple {u"物业费"_s, u"WY-"_s, true}}) {
        if (listOnly)
            break;
        ReceiptSeriesStore &seriesStore = ReceiptSeriesStore::shared();
        QString error;
        if (seriesStore.named(series).isDefault()
            && (!seriesStore.add({series, prefix, 4, !books}, &error)
                || (books && !PaperBooks::add(series, 1, 5000, u"张三"_s, nullptr, &error)))) {
            std::fprintf(stderr, "no series: %s\n", qPrintable(error));
            return 1;
        }
        seriesStore.setCurrent(series);
        QList<double> inSeries;
        for (int i = 0; i < saves + 3; ++i) {
            store.newReceipt();
            fillForm(store);
            QElapsedTimer timer;
            timer.start();
            if (!store.insertReceipt(&error)) {
                std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
                return 1;
            }
            if (i >= 3)
                inSeries << ms(timer.nsecsElapsed());
        }
        seriesStore.setCurrent({});
        store.newReceipt();
        reportRatio(books ? "增加 in a series from a paper book" : "增加 in a series (学费)",
                    BenchData::median(inSeries), BenchData::median(program), 0,
                    "the book's own numbering");
    }

    // The whole book listed, the best of three.
    double firstBest = 1e18, allBest = 1e18;
    qsizetype listed = 0;
    for (int run = 0; run < 3; ++run) {
        ReceiptList list(ReceiptBook::shared());
        QElapsedTimer timer;
        timer.start();
        list.setRange(firstDate, lastDate);
        // The first rows as the window shows them: as soon as the list holds any.
        while (list.size() == 0 && !list.isComplete() && timer.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (qsizetype row = 0; row < std::min<qsizetype>(50, list.size()); ++row)
            list.at(row);
        const qint64 first = timer.nsecsElapsed();
        while (!list.isComplete() && timer.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const qint64 all = timer.nsecsElapsed();
        if (!list.isComplete() || !list.error().isEmpty()) {
            std::fprintf(stderr, "list failed: %s\n", qPrintable(list.error()));
            return 1;
        }
        listed = list.size();
        firstBest = std::min(firstBest, ms(first));
        allBest = std::min(allBest, ms(all));
    }
    const QString query = BenchData::listQuery(firstDate, lastDate);
    double rawBest = 1e18;
    qint64 rawRows = 0;
    for (int run = 0; run < 3; ++run) {
        const double rawMs = server ? rawPgListMs(book, query, &rawRows)
                                    : ms(BenchData::rawLoadNanoseconds(book, query, &rawRows));
        if (rawMs < 0)
            return 1;
        rawBest = std::min(rawBest, rawMs);
    }
    if (listOnly) {
        std::printf("%s %9.2f ms  (no target)                  %lld rows listed\n",
                    label("全部收据 (ReceiptList), first 50 rows read").constData(), firstBest,
                    qlonglong(listed));
    } else {
        report("全部收据 (ReceiptList), first 50 rows read", firstBest, firstRowsTargetMs,
               u"%1 rows listed"_s.arg(listed));
    }
    reportRatio("全部收据 (ReceiptList), every row in and counted", allBest, rawBest,
                listOnly ? 0 : listTargetRatio,
                server ? "raw libpq, all rows" : "raw libsqlite3, all rows");
    if (rawRows != listed)
        std::printf("(raw read %lld rows, the list %lld)\n", qlonglong(rawRows), qlonglong(listed));
    return allMet ? 0 : 2;
}

// --desk COUNT: saves COUNT receipts on QUENTA_BOOK as the form does, one after another;
// prints "saved N refused M from T0 to T1" (milliseconds since the epoch).
int desk(int count)
{
    AppStore &store = AppStore::shared();
    ReceiptNoStore::shared();
    int saved = 0, refused = 0;
    const qint64 from = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < count; ++i) {
        store.newReceipt();
        Receipt receipt = store.receiptEdit();
        receipt.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        receipt.payer = u"甲"_s;
        receipt.reason1 = u"房租"_s;
        receipt.total = 1;
        store.setReceiptEdit(receipt);
        if (store.insertReceipt())
            ++saved;
        else
            ++refused;
        QCoreApplication::processEvents();
    }
    std::printf("saved %d refused %d from %lld to %lld\n", saved, refused, qlonglong(from),
                qlonglong(QDateTime::currentMSecsSinceEpoch()));
    return 0;
}

// --far DELAY: what a desk DELAY ms each way from its server waits for, through a relay of
// this program's own on the way to the server of QUENTA_BOOK: for each thing a cashier
// does, the median time of a few and the round trips it took (least and most).
int far(int delayMs, bool paperBook)
{
    QUrl url(qEnvironmentVariable("QUENTA_BOOK"));
    DelayRelay relay(url.port(), delayMs);
    if (relay.port() == 0) {
        std::fprintf(stderr, "the relay cannot listen\n");
        return 1;
    }
    url.setPort(relay.port());
    qputenv("QUENTA_BOOK", url.toString().toUtf8());
    AppStore &store = AppStore::shared();
    ReceiptNoStore::shared();
    store.newReceipt();
    const auto fill = [&store] { return fillForm(store); };
    // One saved first: the connection made and its statements planned, as at a desk
    // that has been open a while.
    fill();
    if (!store.insertReceipt())
        return 1;
    store.newReceipt();
    const auto untilListed = [](ReceiptList &list) {
        QElapsedTimer waited;
        waited.start();
        while (list.size() == 0 && !list.isComplete() && waited.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        for (qsizetype row = 0; row < std::min<qsizetype>(50, list.size()); ++row)
            list.at(row);
        return list.error().isEmpty() && list.size() > 0;
    };
    const QString today = QDate::currentDate().toString(u"yyyy-MM-dd"_s);
    QStringList saved;
    QString saveError;
    struct Action
    {
        const char *what;
        std::function<bool()> run;
    };
    const QList<Action> actions = {
        {"增加 (the save and the next number)",
         [&] {
             const QString id = fill();
             const bool ok = store.insertReceipt(&saveError);
             store.newReceipt();
             saved << id;
             return ok;
         }},
        {"保存修改 (the save and the form emptied)",
         [&] {
             Receipt receipt = store.receiptEdit();
             receipt.remark = QUuid::createUuid().toString();
             store.setReceiptEdit(receipt);
             const bool ok = store.updateReceipt(&saveError);
             store.newReceipt();
             return ok;
         }},
        {"作废",
         [&] { return ReceiptBook::shared().voidReceipts({saved.takeFirst()}, u"开错了"_s); }},
        {"今天收据, first rows read",
         [&] {
             ReceiptList list(ReceiptBook::shared());
             list.setRange(today + u" 00:00:00"_s, today + u" 23:59:59"_s);
             return untilListed(list);
         }},
        {"全部收据, first 50 rows read",
         [&] {
             ReceiptList list(ReceiptBook::shared());
             list.setRange(firstDate, lastDate);
             return untilListed(list);
         }},
        // A series of its own (XF2026-0001 …), numbered apart under the series' lock; and a
        // series issued from a paper book (WY-0001 …), the book's next number.
        {"增加 in a series (学费)",
         [&] {
             fill();
             const bool ok = store.insertReceipt(&saveError);
             store.newReceipt();
             return ok;
         }},
        {"增加 in a series from a paper book (物业费)",
         [&] {
             fill();
             const bool ok = store.insertReceipt(&saveError);
             store.newReceipt();
             return ok;
         }},
        {"a search keystroke in 全部收据 (星), first rows",
         [&] {
             ReceiptList list(ReceiptBook::shared());
             list.setRange(firstDate, lastDate);
             untilListed(list);
             while (!list.isComplete())
                 QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
             relay.resetTrips();
             list.setSearch(u"星"_s);
             return untilListed(list);
         }},
    };
    // The book's own numbering from a paper book: only the save, the book registered first.
    QList<Action> measured = actions;
    if (paperBook) {
        measured = {actions.first()};
        measured.first().what = "增加 from a paper book (the book's own numbering)";
        const qint64 next = ReceiptNoStore::shared().receiptNoSetting().currNum;
        if (!PaperBooks::add({}, next, next + 999, u"张三"_s, nullptr, &saveError)) {
            std::fprintf(stderr, "no paper book: %s\n", qPrintable(saveError));
            return 1;
        }
        store.newReceipt();
    }
    std::printf("-- %d ms each way from the server%s\n", delayMs, paperBook ? ", a paper book" : "");
    constexpr int runs = 5;
    for (qsizetype index = 0; index < measured.size(); ++index) {
        const Action &action = measured[index];
        QList<double> times;
        long fewest = 1L << 40, most = 0;
        for (int run = 0; run < runs; ++run) {
            if (index == 1) {
                // A receipt saved (the form emptied) and then opened for editing, untimed.
                fill();
                if (!store.insertReceipt())
                    return 1;
                const QString id = store.receiptEdit().id;
                store.newReceipt();
                store.setSelectedId(id);
                if (!store.loadSelected(true))
                    return 1;
            }
            if (index == 2 && saved.isEmpty())
                return 1;
            // Untimed: the form put on the series of the action (made when the book has
            // none yet, the paper book with it), and back on the book's own numbering after.
            const QByteArrayView what(action.what);
            const QString series = what.startsWith("增加 in a series (") ? u"学费"_s
                : what.startsWith("增加 in a series from") ? u"物业费"_s
                                                           : QString();
            ReceiptSeriesStore &seriesStore = ReceiptSeriesStore::shared();
            if (!series.isEmpty() && seriesStore.named(series).isDefault()) {
                const bool made = series == u"学费"_s
                    ? seriesStore.add({series, u"XF{yyyy}-"_s, 4, true}, &saveError)
                    : seriesStore.add({series, u"WY-"_s, 4, false}, &saveError)
                        && PaperBooks::add(series, 1, 5000, u"张三"_s, nullptr, &saveError);
                if (!made) {
                    std::fprintf(stderr, "no series: %s\n", qPrintable(saveError));
                    return 1;
                }
            }
            if (seriesStore.current() != series) {
                seriesStore.setCurrent(series);
                store.newReceipt();
            }
            QCoreApplication::processEvents();
            relay.resetTrips();
            QElapsedTimer timer;
            timer.start();
            const bool ok = action.run();
            const qint64 elapsed = timer.nsecsElapsed();
            const long trips = relay.trips();
            if (!ok) {
                std::fprintf(stderr, "%s failed: %s\n", action.what, qPrintable(saveError));
                return 1;
            }
            times << ms(elapsed);
            fewest = std::min(fewest, trips);
            most = std::max(most, trips);
        }
        std::printf("%s %9.1f ms  round trips %ld%s\n", label(action.what).constData(),
                    BenchData::median(times), fewest,
                    most != fewest ? qPrintable(u"–%1"_s.arg(most)) : "");
        std::fflush(stdout);
    }
    return 0;
}

// Runs this program with `arguments` on `book`, its output passed through.
int child(const QString &book, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QUENTA_BOOK"_s, book);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return 1;
    return process.exitCode();
}

// Counts over the book: receipts, and numbers stored more than once.
struct BookCounts
{
    qint64 receipts = -1;
    qint64 duplicates = -1;
};

BookCounts countBook(const QString &book)
{
    const QString receipts = u"select count(*) from tb_receipt"_s;
    const QString duplicates = u"select count(*) from (select receiptNo from tb_receipt "
                               u"group by receiptNo having count(*) > 1) as twice"_s;
    BookCounts counts;
    if (isServer(book)) {
        PgConnection connection(book);
        if (!connection.open())
            return counts;
        if (auto rows = connection.executeQuery(receipts))
            counts.receipts = rows->int64(0, 0).value_or(-1);
        if (auto rows = connection.executeQuery(duplicates))
            counts.duplicates = rows->int64(0, 0).value_or(-1);
        return counts;
    }
    sqlite3 *db = nullptr;
    sqlite3_open_v2(book.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const auto count = [db](const QString &sql) -> qint64 {
        sqlite3_stmt *statement = nullptr;
        qint64 value = -1;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return value;
    };
    counts.receipts = count(receipts);
    counts.duplicates = count(duplicates);
    sqlite3_close(db);
    return counts;
}

// Four desks saving at once on book: receipts per second, and no number twice.
bool race(const QString &book)
{
    const BookCounts before = countBook(book);
    QList<QProcess *> processes;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QUENTA_BOOK"_s, book);
    for (int i = 0; i < desks; ++i) {
        auto *process = new QProcess;
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QCoreApplication::applicationFilePath(),
                       {u"--desk"_s, QString::number(savesPerDesk)});
        processes << process;
    }
    qint64 saved = 0, refused = 0, from = 0, to = 0;
    bool ok = true;
    for (QProcess *process : std::as_const(processes)) {
        ok = process->waitForFinished(-1) && process->exitCode() == 0 && ok;
        // The desk's last line (the program may say where its book is before it).
        const QStringList lines
            = QString::fromUtf8(process->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        const QStringList words = lines.value(lines.size() - 1).split(u' ', Qt::SkipEmptyParts);
        if (words.size() < 8) {
            ok = false;
            continue;
        }
        saved += words.at(1).toLongLong();
        refused += words.at(3).toLongLong();
        const qint64 start = words.at(5).toLongLong(), end = words.at(7).toLongLong();
        from = from == 0 ? start : std::min(from, start);
        to = std::max(to, end);
    }
    qDeleteAll(processes);
    const BookCounts after = countBook(book);
    const bool unique = after.duplicates == 0 && after.receipts - before.receipts == saved;
    ok = ok && unique && refused == 0;
    const double seconds = std::max<qint64>(1, to - from) / 1000.0;
    std::printf("%s %9.1f /s  %lld saved, %lld refused, %lld numbers stored twice, %lld "
                "receipts added  %s\n",
                label("4 desks saving at once (receipts per second)").constData(), saved / seconds,
                qlonglong(saved), qlonglong(refused), qlonglong(after.duplicates),
                qlonglong(after.receipts - before.receipts), BenchData::verdict(ok));
    std::fflush(stdout);
    return ok;
}

// The server made durable as a real one is: fsync and full-page writes on (the test
// server turns them off), synchronous_commit on (the default), shared buffers of 128 MB
// (the default; the test server keeps 16 MB); restarted to take them.
bool makeDurable(PgTestServer &server)
{
    for (const QString &setting : {u"fsync = on"_s, u"full_page_writes = on"_s,
                                   u"synchronous_commit = on"_s, u"shared_buffers = '128MB'"_s}) {
        if (!server.execute(u"alter system set "_s + setting))
            return false;
    }
    return server.stop() && server.start();
}

} // namespace

int main(int argc, char **argv)
{
    BenchData::prepareProcess();
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    if (arguments.value(1) == u"--measure"_s)
        return measure(std::max(1, arguments.value(2).toInt()), false);
    if (arguments.value(1) == u"--list"_s)
        return measure(0, true);
    if (arguments.value(1) == u"--far"_s)
        return far(arguments.value(2).toInt(), arguments.value(3) == u"--paper-book"_s);
    if (arguments.value(1) == u"--desk"_s)
        return desk(std::max(1, arguments.value(2).toInt()));

    const int size = BenchData::bookSize(&arguments);
    const int saves = std::max(1, arguments.value(1, u"50"_s).toInt());
    QTemporaryDir folder;
    const QString cached = BenchData::cachedBook(size);
    const QString file = folder.filePath(u"Tovalin.db"_s);
    if (cached.isEmpty() || !QFile::copy(cached, file)) {
        std::fprintf(stderr, "no book of %d receipts\n", size);
        return 1;
    }
    BenchData::pointAt(folder.path());

    PgTestServer &server = PgTestServer::shared();
    if (!server.isRunning() || !makeDurable(server)) {
        std::fprintf(stderr, "no server: %s\n%s\n", qPrintable(server.startError()),
                     qPrintable(server.logTail()));
        return 1;
    }
    {
        PgConnection admin(server.socketUri(u"postgres"_s));
        admin.open();
        QStringList settings;
        for (const QString &name : {u"fsync"_s, u"synchronous_commit"_s, u"full_page_writes"_s,
                                    u"shared_buffers"_s, u"server_version"_s}) {
            const auto rows = admin.executeQuery(u"show "_s + name);
            settings << name + u" "_s + (rows ? rows->text(0, 0).value_or(u"?"_s) : u"?"_s);
        }
        std::printf("Server on 127.0.0.1:%d: %s\n", server.port(),
                    qPrintable(settings.join(u", "_s)));
    }
    const QString database = server.createDatabase();
    if (database.isEmpty() || !server.createRole(deskRole, deskPassword)) {
        std::fprintf(stderr, "no database or role on the server\n");
        return 1;
    }
    // The desks' password from libpq's environment, as a desk without a .pgpass gives it.
    qputenv("PGPASSWORD", deskPassword.toUtf8());
    QString error;
    QElapsedTimer timer;
    timer.start();
    const std::optional<qint64> copied
        = SharedBook::create(server.socketUri(database), file, deskRole, &error);
    if (!copied) {
        std::fprintf(stderr, "--create-shared-book failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s %9.1f s   %lld receipts copied\n",
                label("--create-shared-book --from the file").constData(), timer.elapsed() / 1000.0,
                qlonglong(*copied));
    const QString uri = server.tcpUri(database, deskRole);
    // The list right after the copy, which analyses the tables it fills (without their
    // statistics a server plans the list's reads as for a few rows), apart and without
    // targets; then analysed again, and every figure measured as the desks will see it.
    std::printf("\n-- shared book fresh from the copy\n");
    std::fflush(stdout);
    if (child(uri, {u"--list"_s}) == 1)
        return 1;
    if (!server.execute(u"analyze"_s, database)) {
        std::fprintf(stderr, "analyze failed\n");
        return 1;
    }

    int status = 0;
    for (const auto &[engine, book] :
         {std::pair {u"SQLite book"_s, file},
          std::pair {u"shared book (loopback TCP), analysed"_s, uri}}) {
        std::printf("\n-- %s, %d receipts\n", qPrintable(engine), size);
        std::fflush(stdout);
        const bool traced = isServer(book) && qEnvironmentVariableIsSet("QUENTA_BENCH_TRACE");
        if (traced)
            server.execute(u"alter system set log_min_duration_statement = 2;"_s)
                && server.execute(u"select pg_reload_conf()"_s);
        const int rc = child(book, {u"--measure"_s, QString::number(saves)});
        if (traced) {
            QFile log(server.folder() + u"/server.log"_s);
            if (log.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "%s\n", log.readAll().right(20000).constData());
        }
        if (rc == 1)
            return 1;
        status = std::max(status, rc);
        if (!race(book))
            status = std::max(status, 2);
    }
    // A desk across town: the same book through a relay that holds each way back.
    std::printf("\n-- a desk far from its server (relay of the benchmark's own)\n");
    std::fflush(stdout);
    for (const int delay : {0, 25}) {
        if (child(uri, {u"--far"_s, QString::number(delay)}) == 1)
            return 1;
    }
    // Last, as it leaves the book's own numbering in a paper book.
    if (child(uri, {u"--far"_s, u"25"_s, u"--paper-book"_s}) == 1)
        return 1;
    return status;
}
