// SPDX-License-Identifier: GPL-3.0-or-later
// Renders a sample receipt to a PNG for the README, or prints it to a PDF. The receipt goes through
// a fresh database in a temporary folder and is read back by AppStore::loadSelected, so the picture
// shows a stored receipt exactly as the print job would print it. A third argument names one of the
// receipts at the limits of what the form takes, to look at how the page copes with them, or
// "voided" for the sample voided after it was stored, as printing finds it in the book.

#include "amountincapitals.h"
#include "appstore.h"
#include "companystore.h"
#include "printjob.h"
#include "receiptbook.h"
#include "receiptprinter.h"
#include "samplereceipt.h"

#include <QDir>
#include <QGuiApplication>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// The sample receipt changed to one at the limits, and the header it is printed under;
// false for a name not known.
bool applyVariant(const QString &name, Receipt &receipt, Company &company)
{
    const auto setTotal = [&](double total) {
        receipt.total = total;
        receipt.totalBig = amountInCapitals(amountText(total));
    };
    if (name == u"largest"_s) {
        setTotal(999999999999.99);
    } else if (name == u"negative"_s) {
        setTotal(-999999999999.99);
    } else if (name == u"long"_s) {
        // Every value far longer than its cell.
        receipt.payer = u"杭州青禾文化传播有限公司"_s.repeated(5);
        receipt.reason1 = u"2024年第二季度场地租金及设备使用费"_s.repeated(4);
        receipt.reason2 = QString(300, u'W');
        receipt.remark = u"银行转账已到账，发票随后寄出。"_s.repeated(20);
        receipt.paytype = u"银行转账（招商银行杭州分行）"_s;
        receipt.payee = u"欧阳青禾文化传播"_s;
        receipt.approve = u"陈建国陈建国陈建国陈建国"_s;
        receipt.accountant = u"李敏"_s;
        setTotal(-999999999999.99);
    } else if (name == u"voided"_s) {
        // Stored first and voided after, as the user does: the print reads it from the book.
        receipt.voidReason = u"金额填错，已重开"_s;
    } else if (name == u"title"_s) {
        company.title = u"北京市海淀区启明教育培训中心收款收据"_s;
        receipt.receiptNo = u"9223372036854775807"_s;
    } else {
        return name.isEmpty();
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr,
                     "usage: quenta_renderreceipt <out.png|out.pdf> [dpi] "
                     "[largest|negative|long|title|voided]\n");
        return 2;
    }
    const qreal dpi = args.size() > 2 ? args.at(2).toDouble() : 200;

    QTemporaryDir documents;
    qputenv("QUENTA_DOCUMENTS_DIR", documents.path().toUtf8());

    AppStore &store = AppStore::shared();
    Receipt receipt = sampleReceipt();
    Company company = CompanyStore::shared().company();
    if (!applyVariant(args.value(3), receipt, company)) {
        std::fprintf(stderr, "unknown receipt %s\n", qPrintable(args.at(3)));
        return 2;
    }
    store.setReceiptEdit(receipt);
    if (!store.insertReceipt()) {
        std::fprintf(stderr, "could not store the sample receipt\n");
        return 1;
    }
    QString error;
    if (receipt.voidReason
        && !ReceiptBook::shared().voidReceipts({receipt.id}, *receipt.voidReason, &error)) {
        std::fprintf(stderr, "could not void the sample receipt: %s\n", qPrintable(error));
        return 1;
    }
    store.setSelectedId(receipt.id);
    store.loadSelected(false);
    CompanyStore::shared().setCompany(company);

    // A PDF goes through the print job itself, text layer and all.
    if (args.at(1).endsWith(u".pdf"_s, Qt::CaseInsensitive)) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(args.at(1));
        QString error;
        if (!ReceiptPrinter::printCurrentReceipt(printer, &error)) {
            std::fprintf(stderr, "could not write %s: %s\n", qPrintable(args.at(1)),
                         qPrintable(error));
            return 1;
        }
        return 0;
    }
    const QImage image = PrintJob::currentReceipt().image(dpi);
    if (image.isNull() || !image.save(args.at(1))) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
