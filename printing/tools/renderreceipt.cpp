// Renders a sample receipt to a PNG for the README. The receipt goes through a fresh
// database in a temporary folder and is read back by AppStore::loadSelected, so the
// picture shows a stored receipt exactly as the print job would print it.

#include "amountincapitals.h"
#include "appstore.h"
#include "printhelper.h"
#include "printview.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: quenta_renderreceipt <out.png> [dpi]\n");
        return 2;
    }
    const qreal dpi = args.size() > 2 ? args.at(2).toDouble() : 200;

    QTemporaryDir documents;
    qputenv("QUENTA_DOCUMENTS_DIR", documents.path().toUtf8());

    AppStore &store = AppStore::shared();
    Receipt receipt = store.receiptEdit();
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
    store.setReceiptEdit(receipt);
    if (!store.insertReceipt()) {
        std::fprintf(stderr, "could not store the sample receipt\n");
        return 1;
    }
    store.setSelectedId(receipt.id);
    store.loadSelected(false);

    const QImage image
        = PrintHelper::renderReceiptImage(PrintView::paperWidth, PrintView::paperHeight, dpi);
    if (image.isNull() || !image.save(args.at(1))) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
