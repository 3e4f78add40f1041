// Renders a sample receipt to a PNG for the README. The receipt goes through a fresh
// database in a temporary folder and is read back by AppStore::loadSelected, so the
// picture shows a stored receipt exactly as the print job would print it.

#include "appstore.h"
#include "printhelper.h"
#include "printview.h"
#include "samplereceipt.h"

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
    const Receipt receipt = sampleReceipt();
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
