// SPDX-License-Identifier: GPL-3.0-or-later
// amountInCapitals over a few thousand varied amounts: whole yuan, jiao and fen, zeros
// inside the digits, from 0.01 up to hundreds of billions. Reports microseconds per
// conversion, the first conversion (ICU loading its rules) on its own.
// Run by hand: build-dir/bin/bench_amount [rounds]

#include "amountincapitals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <random>

using namespace Qt::StringLiterals;

namespace {

// The amounts as the entry form stores them (amountText of a double). Fixed seed: every
// run converts the same texts.
QStringList amounts(int count)
{
    std::mt19937_64 random(20250601);
    QStringList texts;
    texts.reserve(count);
    for (int i = 0; i < count; ++i) {
        double amount = 0;
        switch (i % 6) {
        case 0: // whole yuan of any size
            amount = double(random() % 1000000000);
            break;
        case 1: // yuan, jiao and fen
            amount = double(random() % 100000000) / 100;
            break;
        case 2: // small amounts, some below one yuan
            amount = double(random() % 10000) / 100;
            break;
        case 3: { // zeros inside the digits: 10005.05, 3000000.3, 100000001
            static const double zeroed[] = {10005.05, 3000000.3, 100000001, 20.02, 1000.5};
            amount = zeroed[random() % 5] * double(1 + random() % 9);
            break;
        }
        case 4: // up to the hundreds of billions
            amount = double(random() % 100000000000000ULL) / 100;
            break;
        default: // round amounts: whole hundreds and thousands
            amount = double((random() % 1000) * 100);
            break;
        }
        texts << amountText(amount);
    }
    return texts;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(1, app.arguments().value(1, u"5"_s).toInt());
    const QStringList texts = amounts(5000);

    QElapsedTimer timer;
    timer.start();
    const QString first = amountInCapitals(texts.first());
    const qint64 firstNs = timer.nsecsElapsed();

    qint64 best = std::numeric_limits<qint64>::max();
    qsizetype characters = 0, empty = 0;
    for (int round = 0; round < rounds; ++round) {
        characters = empty = 0;
        timer.start();
        for (const QString &text : texts) {
            const QString capitals = amountInCapitals(text);
            characters += capitals.size();
            empty += capitals.isEmpty();
        }
        best = std::min(best, timer.nsecsElapsed());
    }
    if (empty) {
        std::fprintf(stderr, "%lld amounts gave no capitals\n", qlonglong(empty));
        return 1;
    }
    std::printf("amountInCapitals: first conversion %.1f µs (%s → %s)\n", firstNs / 1e3,
                qPrintable(texts.first()), qPrintable(first));
    std::printf("amountInCapitals: %lld amounts in %.2f ms (best of %d rounds), "
                "%.2f µs per conversion, %.1f characters on average (no target set)\n",
                qlonglong(texts.size()), best / 1e6, rounds, best / 1e3 / double(texts.size()),
                double(characters) / double(texts.size()));
    return 0;
}
