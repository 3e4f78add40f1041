// One printed page: PrintHelper::printReceiptToFile of a filled-in receipt to a PDF, the
// paper of PrintView (target: within 0.2 s). The first page, which loads the CJK fonts
// and the print engine, is reported on its own; the rest as best and median.
// Run by hand: build-dir/bin/bench_print [pages]

#include "amountincapitals.h"
#include "appstore.h"
#include "benchdata.h"
#include "clock.h"
#include "printhelper.h"
#include "printview.h"
#include "startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr double targetMs = 200;

Receipt sampleReceipt()
{
    Receipt receipt = AppStore::shared().receiptEdit();
    receipt.id = u"6F1C2A9E-3B7D-4E21-9A55-0C8D7E4B1F30"_s;
    receipt.receiptNo = u"0000128"_s;
    receipt.receiptDate = QDateTime(QDate(2024, 5, 18), QTime(10, 30));
    receipt.payer = u"杭州青禾文化传播有限公司"_s;
    receipt.reason1 = u"2024年第二季度场地租金"_s;
    receipt.reason2 = u"含物业管理费"_s;
    receipt.remark = u"银行转账已到账"_s;
    receipt.paytype = u"银行转账"_s;
    receipt.payee = u"王丽"_s;
    receipt.approve = u"陈建国"_s;
    receipt.accountant = u"李敏"_s;
    receipt.total = 12800.5;
    receipt.totalBig = amountInCapitals(amountText(receipt.total));
    return receipt;
}

} // namespace

int main(int argc, char **argv)
{
    Clock::cacheLocalTimeZone();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
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
        if (!PrintHelper::printReceiptToFile(path, PrintView::paperWidth, PrintView::paperHeight)) {
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
