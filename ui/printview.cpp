// SPDX-License-Identifier: GPL-3.0-or-later
#include "printview.h"

#include "appstore.h"
#include "printjob.h"
#include "receiptprinter.h"

#include <QPainter>

#include <cmath>

PrintView::PrintView(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
    connect(&AppStore::shared(), &AppStore::receiptPrintChanged, this, [this] {
        readReceipt();
        update();
    });
    connect(&CompanyStore::shared(), &CompanyStore::companyChanged, this,
            qOverload<>(&QWidget::update));
    connect(&PrintSettings::shared(), &PrintSettings::changed, this, qOverload<>(&QWidget::update));
    readReceipt();
}

void PrintView::readReceipt()
{
    // As a job would print it, with the history and the code read whatever the options
    // say, so that ticking 补打 or 二维码 shows the mark or the code at once.
    PrintOptions options = PrintSettings::shared().options();
    options.reprintMark = true;
    options.receiptCode = true;
    const PrintJob job = PrintJob::currentReceipt(options);
    m_receipt = job.receipts().value(0);
    m_printedBefore = job.isReprint(0);
    m_code = job.code(0);
    if (m_code.isEmpty())
        m_code = PrintJob::standInCode(m_receipt);
}

void PrintView::setOptions(const PrintOptions &options)
{
    m_options = options;
    update();
}

ReceiptPageLayout PrintView::pageLayout() const
{
    const PrintOptions options = m_options.value_or(PrintSettings::shared().options());
    return ReceiptPageLayout(
        QRectF(0, 0, ReceiptPrinter::paperWidth, ReceiptPrinter::paperHeight), m_receipt,
        CompanyStore::shared().company(),
        ReceiptPageLayout::Options::from(options, options.reprintMark && m_printedBefore, m_code));
}

QSize PrintView::sizeHint() const
{
    return QSize(int(std::ceil(ReceiptPrinter::paperWidth)),
                 int(std::ceil(ReceiptPrinter::paperHeight)));
}

void PrintView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The fraction of a pixel the page does not cover stays white like the paper.
    painter.fillRect(rect(), Qt::white);
    pageLayout().paint(painter);
}
