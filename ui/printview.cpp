// SPDX-License-Identifier: GPL-3.0-or-later
#include "printview.h"

#include "appstore.h"
#include "receiptprinter.h"

#include <QPainter>

#include <cmath>

PrintView::PrintView(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
    connect(&AppStore::shared(), &AppStore::receiptPrintChanged, this,
            qOverload<>(&QWidget::update));
    connect(&CompanyStore::shared(), &CompanyStore::companyChanged, this,
            qOverload<>(&QWidget::update));
    connect(&PrintSettings::shared(), &PrintSettings::changed, this, qOverload<>(&QWidget::update));
}

void PrintView::setOptions(const PrintOptions &options)
{
    m_options = options;
    update();
}

ReceiptPageLayout PrintView::pageLayout() const
{
    return ReceiptPageLayout(
        QRectF(0, 0, ReceiptPrinter::paperWidth, ReceiptPrinter::paperHeight),
        AppStore::shared().receiptPrint(), CompanyStore::shared().company(),
        ReceiptPageLayout::Options::from(m_options.value_or(PrintSettings::shared().options())));
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
