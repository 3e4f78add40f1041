// SPDX-License-Identifier: GPL-3.0-or-later
// One side of a race on one receipt book: saves `count` receipts the way the entry form
// does (blank the form, which takes the next number; fill it in; save), pausing between
// taking the number and saving so that the other process can take the same number.
// Prints "saved N refused M reassigned K" when done. A third argument names the series the
// form issues from ("-": the book's own), its paper books then followed as the window does.
#include "appstore.h"
#include "receiptnostore.h"
#include "seriesstore.h"

#include <QCoreApplication>
#include <QThread>
#include <QUuid>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3 && arguments.size() != 4)
        return 2;
    if (arguments.size() == 4)
        ReceiptSeriesStore::shared().setCurrent(arguments.at(3) == u"-" ? QString() : arguments.at(3));
    const int count = arguments.at(1).toInt();
    const int pauseMs = arguments.at(2).toInt();
    AppStore &store = AppStore::shared();
    ReceiptNoStore::shared();
    int saved = 0;
    int refused = 0;
    int reassigned = 0;
    QObject::connect(&store, &AppStore::receiptNoReassigned, &app, [&] { ++reassigned; });
    for (int i = 0; i < count; ++i) {
        store.newReceipt();
        QThread::msleep(pauseMs);
        Receipt receipt = store.receiptEdit();
        receipt.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        receipt.payer = QStringLiteral("甲");
        receipt.reason1 = QStringLiteral("房租");
        receipt.total = 1;
        store.setReceiptEdit(receipt);
        if (store.insertReceipt())
            ++saved;
        else
            ++refused;
    }
    std::printf("saved %d refused %d reassigned %d\n", saved, refused, reassigned);
    return 0;
}
