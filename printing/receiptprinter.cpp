// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptprinter.h"

#include "printjob.h"

using namespace Qt::StringLiterals;

QString ReceiptPrinter::paperName()
{
    return u"241 × 93 mm"_s;
}

bool ReceiptPrinter::printReceipts(QPrinter &printer, const QStringList &ids, QString *error,
                                   std::optional<PrintOptions> options)
{
    const std::optional<PrintJob> job = PrintJob::forIds(ids, error, options);
    return job && job->print(printer, error);
}

bool ReceiptPrinter::printAlignmentPage(QPrinter &printer, const PrintOptions &options,
                                        QString *error)
{
    return PrintJob::alignmentPage(options).print(printer, error);
}

bool ReceiptPrinter::printCurrentReceipt(QPrinter &printer, QString *error)
{
    return PrintJob::currentReceipt().print(printer, error);
}
