// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptprinter.h"

#include "printjob.h"

using namespace Qt::StringLiterals;

QString ReceiptPrinter::paperName()
{
    return u"241 × 93 mm"_s;
}

bool ReceiptPrinter::printReceipts(QPrinter &printer, const QStringList &ids, QString *error,
                                   std::optional<PrintOptions> options, QString *notice)
{
    const std::optional<PrintJob> job = PrintJob::forIds(ids, error, options);
    return job && job->print(printer, error, notice);
}

bool ReceiptPrinter::printAlignmentPage(QPrinter &printer, const PrintOptions &options,
                                        QString *error, QString *notice)
{
    return PrintJob::alignmentPage(options).print(printer, error, notice);
}

bool ReceiptPrinter::printCurrentReceipt(QPrinter &printer, QString *error, QString *notice)
{
    return PrintJob::currentReceipt().print(printer, error, notice);
}
