// SPDX-License-Identifier: GPL-3.0-or-later
// One printed page: ReceiptPrinter::printCurrentReceipt of a filled-in receipt to a PDF on
// the receipt paper (target: within 0.2 s). The first page, which loads the CJK fonts
// and the print engine, is reported on its own; the rest as best and median.
// Run by hand: build-dir/bin/bench_print [pages]

#include "appstore.h"
#include "benchdata.h"
#include "receiptprinter.h"
#include "samplereceipt.h"
#include "startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr double targetMs = 200;

} // namespace

int main(int argc, char **argv)
{
    BenchData::prepareProcess();
    QApplication app(argc, argv);
    // The program's font, as the printed page uses it.
    Startup::setUpApplication(app);
    const int pages = std::max(2, app.arguments().value(1, u"15"_s).toInt());

    QTemporaryDir dir;
    BenchData::pointAt(dir.path());
    AppStore::shared().setReceiptPrint(sampleReceipt());

    QList<double> times;
    qint64 bytes = 0;
    for (int page = 0; page < pages; ++page) {
        const QString path = dir.filePath(u"page%1.pdf"_s.arg(page));
        QElapsedTimer timer;
        timer.start();
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        if (!ReceiptPrinter::printCurrentReceipt(printer)) {
            std::fprintf(stderr, "could not print to %s\n", qPrintable(path));
            return 1;
        }
        times << timer.nsecsElapsed() / 1e6;
        bytes = QFileInfo(path).size();
    }
    const double first = times.takeFirst();
    const double best = *std::min_element(times.cbegin(), times.cend());
    std::printf("one page as PDF (%lld bytes): first %.1f ms (loads the fonts and the engine; "
                "not held to the target)\n",
                qlonglong(bytes), first);
    std::printf("one page as PDF, %lld pages after the first: best %.1f ms, median %.1f ms "
                "(target <= %.0f ms) %s\n",
                qlonglong(times.size()), best, BenchData::median(times), targetMs,
                BenchData::verdict(BenchData::median(times) <= targetMs));
    return BenchData::median(times) <= targetMs ? 0 : 2;
}
