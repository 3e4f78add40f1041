// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the lists' search done by SQLite on a book of 100,000 receipts (--receipts N for
// another size): a book as the version before the search index kept it is brought up to
// date (the schema step) and its index filled in the background's batches; then the count
// of the receipts a text finds, for texts of one, two, three and six Chinese characters,
// a Latin text and an amount, over all ten years and over one month, with the index and
// by reading the receipts (as before the index is filled). And what the index adds to the
// file.
// Run by hand: build-dir/bin/bench_search [--receipts N]

#include "benchdata.h"
#include "database.h"
#include "receiptsearch.h"
#include "receiptsearchindex.h"
#include "schemaupgrade.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

double megabytesOf(const QString &path)
{
    return QFileInfo(path).size() / 1048576.0;
}

// Milliseconds of one count, and the count.
double countMilliseconds(Database &database, const QString &where, qint64 *count)
{
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<ResultSet> rows
        = database.executeQuery(u"select count(*) from tb_receipt r where "_s + where);
    *count = rows && rows->next() ? rows->int64ForColumnIndex(0) : -1;
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    const int size = BenchData::bookSize(&arguments);
    QTemporaryDir dir;
    const QString path = BenchData::prepareDatabase(dir.path(), size);
    if (path.isEmpty())
        return 1;

    // The book as the version before the index: without it, and compacted.
    {
        Database database(path);
        if (!database.open()
            || !database.executeStatements(
                u"drop trigger trg_receipt_search_insert; drop trigger trg_receipt_search_delete; "
                u"drop trigger trg_receipt_search_update; drop table fts_receipt; "
                u"drop table tb_searchIndex; pragma user_version = 1; vacuum;"_s))
            return 1;
    }
    const double before = megabytesOf(path);
    QElapsedTimer timer;
    {
        Database database(path);
        database.open();
        timer.start();
        SchemaUpgrade::apply(database);
        std::printf("Schema step (empty index and triggers): %.0f ms\n",
                    timer.nsecsElapsed() / 1e6);
    }
    timer.start();
    int batches = 0;
    double longestBatch = 0;
    qint64 last = 0;
    const bool filled = ReceiptSearchIndex::fill(path, [&](qint64, qint64) {
        ++batches;
        const qint64 now = timer.nsecsElapsed();
        longestBatch = std::max(longestBatch, (now - last) / 1e6);
        last = now;
    });
    std::printf("Fill: %s in %.1f s, %d batches of %d receipts, the longest %.0f ms\n",
                filled ? "complete" : "FAILED", timer.nsecsElapsed() / 1e9, batches,
                ReceiptSearchIndex::batchSize, longestBatch);
    std::printf("Book: %.1f MB before, %.1f MB with the index (+%.1f MB)\n", before,
                megabytesOf(path), megabytesOf(path) - before);

    // A copy to look at afterwards, when asked for.
    if (const QString keep = qEnvironmentVariable("QUENTA_BENCH_KEEP"); !keep.isEmpty())
        QFile::copy(path, keep);

    Database database(path);
    if (!database.open() || !ReceiptSearchIndex::isReady(database))
        return 1;
    const struct
    {
        const char *name;
        QString text;
    } texts[] = {
        {"1 Chinese character", u"房"_s},
        {"2 Chinese characters", u"房租"_s},
        {"3 Chinese characters", u"物业管"_s},
        {"6 Chinese characters", u"北京星河文化"_s},
        {"Latin (with a quote)", u"王'S 五金"_s},
        {"Latin, not found", u"Trading"_s},
        {"amount", u"2500"_s},
    };
    const struct
    {
        const char *name;
        QString begin, end;
    } ranges[] = {
        {"ten years", u"2015-01-01 00:00:00"_s, u"2024-12-31 23:59:59"_s},
        {"one month", u"2020-03-01 00:00:00"_s, u"2020-03-31 23:59:59"_s},
    };
    std::printf("\n%-24s %-10s %10s %12s %12s\n", "text", "range", "found", "index ms", "scan ms");
    for (const auto &range : ranges) {
        for (const auto &text : texts) {
            const ReceiptSearch search(text.text);
            double times[2];
            qint64 counts[2];
            for (const bool indexed : {true, false}) {
                QList<double> runs;
                for (int run = 0; run < 3; ++run) {
                    runs.append(countMilliseconds(
                        database, search.listCondition(range.begin, range.end, indexed, u"r"_s),
                        &counts[indexed ? 0 : 1]));
                }
                times[indexed ? 0 : 1] = BenchData::median(runs);
            }
            std::printf("%-24s %-10s %10lld %12.1f %12.1f%s\n", text.name, range.name,
                        (long long)counts[0], times[0], times[1],
                        counts[0] == counts[1] ? "" : "  (counts differ!)");
        }
    }
    return 0;
}
