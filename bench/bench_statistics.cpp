// SPDX-License-Identifier: GPL-3.0-or-later
// Measures 收据统计 against 100,000 receipts over ten years: ReceiptStatistics::compute
// for one year (about 10,000 receipts) in each grouping (target: at most 100 ms), and
// for all ten years, for comparison.
// Run by hand: build-dir/bin/bench_statistics

#include "benchdata.h"
#include "receiptstatistics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;
using Grouping = ReceiptStatistics::Grouping;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (BenchData::prepareDatabase(dir.path()).isEmpty())
        return 1;

    const struct
    {
        const char *name;
        Grouping grouping;
    } groupings[] = {
        {"month", Grouping::Month},
        {"payer", Grouping::Payer},
        {"reason", Grouping::Reason},
        {"payment method", Grouping::Paytype},
    };
    const struct
    {
        const char *name;
        QString begin, end;
        bool target;
    } ranges[] = {
        {"2020", u"2020-01-01 00:00:00"_s, u"2020-12-31 23:59:59"_s, true},
        {"all ten years", u"2015-01-01 00:00:00"_s, u"2024-12-31 23:59:59"_s, false},
    };
    bool met = true;
    for (const auto &range : ranges) {
        for (const auto &grouping : groupings) {
            QList<double> ms;
            qint64 receipts = 0;
            for (int run = 0; run < 5; ++run) {
                QElapsedTimer timer;
                timer.start();
                const auto rows = ReceiptStatistics::compute(range.begin, range.end,
                                                             grouping.grouping);
                ms.append(timer.nsecsElapsed() / 1e6);
                if (!rows)
                    return 1;
                receipts = 0;
                for (const ReceiptStatistics::Row &row : *rows)
                    receipts += row.count;
            }
            const double median = BenchData::median(ms);
            if (range.target) {
                met = met && median <= 100;
                std::printf("statistics of %s by %s: %lld receipts in %.1f ms (target <= 100 ms) "
                            "%s\n",
                            range.name, grouping.name, qlonglong(receipts), median,
                            BenchData::verdict(median <= 100));
            } else {
                std::printf("statistics of %s by %s: %lld receipts in %.1f ms\n", range.name,
                            grouping.name, qlonglong(receipts), median);
            }
        }
    }
    return met ? 0 : 2;
}
