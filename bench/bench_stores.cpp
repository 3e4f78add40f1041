// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the stores against a database of 100,000 receipts:
//   (a) AppStore::loadReceipts for stat_all against stepping the same query over raw
//       libsqlite3 and reading all 16 columns as text (target: at most 3 times slower);
//   (b) ReceiptNoStore::nextReceiptNo with 1,000 consecutive numbers taken, per candidate;
//   (c) resident memory of the 100,000 loaded receipts (target: under 100 MB);
//   (d) insertReceipt, one write transaction per receipt (number check, insert, counter);
//   (e) the checks of the first open: SQLite's quick check of the whole file, and making
//       the unique index on receipt numbers for a book made by an older version
//       (targets: the quick check under 1 s, so every start can afford it).
// Run by hand: build-dir/bin/bench_stores

#include "appstore.h"
#include "benchdata.h"
#include "clock.h"
#include "receiptnostore.h"
#include "recordchain.h"
#include "sqlitehelper.h"
#include "stores.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <limits>

using namespace Qt::StringLiterals;

using BenchData::receiptCount;

int main(int argc, char **argv)
{
    // As the application does: see Clock::cacheLocalTimeZone.
    Clock::cacheLocalTimeZone();
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Clock::pin(QDateTime(QDate(2025, 6, 1), QTime(12, 0)));

    const QString path = BenchData::prepareDatabase(dir.path());
    if (path.isEmpty())
        return 1;

    // (a) The list of everything against the raw floor; best of three runs each.
    AppStore &store = AppStore::shared();
    store.setSelectionNav(NavigationItem::stat_all);
    store.applyRangePreset();
    const QString sql = BenchData::listQuery(store.beginDate(), store.endDate());

    qint64 rawBest = std::numeric_limits<qint64>::max(), rawRows = 0;
    for (int run = 0; run < 3; ++run)
        rawBest = std::min(rawBest, BenchData::rawLoadNanoseconds(path, sql, &rawRows));

    const qint64 rssBefore = BenchData::residentKilobytes();
    qint64 storeBest = std::numeric_limits<qint64>::max();
    qint64 rssLoaded = 0;
    for (int run = 0; run < 3; ++run) {
        store.setReceipts({});
        QElapsedTimer timer;
        timer.start();
        store.loadReceipts();
        storeBest = std::min(storeBest, timer.nsecsElapsed());
        rssLoaded = std::max(rssLoaded, BenchData::residentKilobytes());
    }
    const qsizetype loaded = store.receipts().size();
    const double ratio = double(storeBest) / double(rawBest);
    std::printf("loadReceipts (stat_all): %lld receipts in %.1f ms\n", qlonglong(loaded),
                storeBest / 1e6);
    std::printf("raw libsqlite3 (16 columns as text): %lld rows in %.1f ms\n", qlonglong(rawRows),
                rawBest / 1e6);
    std::printf("ratio: %.2fx (target <= 3x) %s\n", ratio, BenchData::verdict(ratio <= 3.0));

    // (c) Memory held by the loaded receipts.
    const double heldMb = (rssLoaded - rssBefore) / 1024.0;
    std::printf("resident memory: %.1f MB in all, %.1f MB for %lld receipts (target < 100 MB) %s\n",
                rssLoaded / 1024.0, heldMb, qlonglong(loaded), BenchData::verdict(heldMb < 100));

    // (b) Numbering through 1,000 taken numbers: 99001 … 100000 are taken, 100001 is free.
    // The book's stored counter is set back too (after the store, made now, has numbered
    // on from it), or the numbering would start from it.
    ReceiptNoStore &numbers = ReceiptNoStore::shared();
    BenchData::rawNanoseconds(path,
                              u"update tb_receiptNo set currNum = '%1'"_s.arg(receiptCount - 999));
    ReceiptNoSetting setting = numbers.receiptNoSetting();
    setting.currNum = receiptCount - 999;
    numbers.setReceiptNoSetting(setting);
    QElapsedTimer timer;
    timer.start();
    numbers.nextReceiptNo();
    const qint64 elapsed = timer.nsecsElapsed();
    const qint64 candidates = numbers.receiptNoSetting().currNum - (receiptCount - 999) + 1;
    std::printf("nextReceiptNo: %lld candidates in %.1f ms, %.1f µs per candidate (ends on %s)\n",
                qlonglong(candidates), elapsed / 1e6, elapsed / 1e3 / double(candidates),
                qPrintable(store.receiptEdit().receiptNo));
    // (d) Saves: each in its own transaction, with the fsync of its commit.
    constexpr int saves = 50;
    QList<double> saveMs;
    for (int i = 0; i < saves; ++i) {
        store.newReceipt();
        Receipt edit = store.receiptEdit();
        edit.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        edit.payer = u"北京华信科技有限公司"_s;
        edit.reason1 = u"房租"_s;
        edit.total = 1280.5;
        store.setReceiptEdit(edit);
        QElapsedTimer save;
        save.start();
        if (QString error; !store.insertReceipt(&error)) {
            std::fprintf(stderr, "insertReceipt failed: %s\n", qPrintable(error));
            return 1;
        }
        saveMs.append(save.nsecsElapsed() / 1e6);
    }
    std::printf("insertReceipt: median %.2f ms per receipt over %d saves\n",
                BenchData::median(saveMs), saves);

    // (e) The first open's checks, on a fresh connection each time.
    resetSharedStores();
    QList<double> checkMs;
    for (int run = 0; run < 3; ++run) {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        QElapsedTimer check;
        check.start();
        sqlite3_exec(db, "PRAGMA quick_check(5)", nullptr, nullptr, nullptr);
        checkMs.append(check.nsecsElapsed() / 1e6);
        sqlite3_close(db);
    }
    const double quickCheck = *std::min_element(checkMs.cbegin(), checkMs.cend());
    std::printf("PRAGMA quick_check of %d receipts: %.0f ms (target < 1000 ms) %s\n",
                receiptCount + saves, quickCheck, BenchData::verdict(quickCheck < 1000));
    {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        // Links the history rows it writes as the program does.
        RecordChain::addLinkFunction(db);
        sqlite3_exec(db,
                     "drop index idx_receipt_receiptNo; "
                     "create index idx_receipt_receiptNo on tb_receipt (receiptNo);",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    QElapsedTimer firstOpen;
    firstOpen.start();
    const bool opened = SQLiteHelper::shared().open();
    const double upgradeMs = firstOpen.nsecsElapsed() / 1e6;
    resetSharedStores();
    firstOpen.restart();
    SQLiteHelper::shared().open();
    const double plainOpenMs = firstOpen.nsecsElapsed() / 1e6;
    std::printf("first open: %.0f ms with nothing to mend, %.0f ms when it makes the unique "
                "index of an older book%s\n",
                plainOpenMs, upgradeMs, opened ? "" : " (failed)");
    return ratio <= 3.0 && heldMb < 100 && quickCheck < 1000 ? 0 : 2;
}
