// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pdftextlayer.h"
#include "receiptpagelayout.h"

#include <QLineF>
#include <QList>
#include <QRectF>
#include <QString>

class QPainter;

// The page that shows how the printer places the receipt: a millimetre grid measured from
// the paper's top-left corner, and the outline and name of every field where the receipt
// would put it with the given settings. Printed on the receipt paper, it tells the user
// how far to move the contents. Drawn like the receipt: in points, one per pixel.
class AlignmentPage
{
public:
    static constexpr qreal gridStepMm = 5;
    static constexpr qreal labelStepMm = 10;

    struct Field
    {
        ReceiptPageLayout::Item item;
        QString name;
        QRectF rect;
    };
    struct Label
    {
        QString text;
        QRectF rect;
    };

    AlignmentPage(const QRectF &pageRect, const PrintOptions &options, const Company &company);

    // Grid lines across the whole page: the vertical ones left to right, then the
    // horizontal ones top to bottom.
    const QList<QLineF> &gridLines() const { return m_gridLines; }
    // Millimetre figures along the top and left edges, every labelStepMm.
    const QList<Label> &labels() const { return m_labels; }
    const QList<Field> &fields() const { return m_fields; }
    // Every text paint() draws, in the order it draws them: the labels, then the names.
    QList<PdfTextLayer::Text> texts() const;

    void paint(QPainter &painter) const;

private:
    QRectF m_pageRect;
    QList<QLineF> m_gridLines;
    QList<Label> m_labels;
    QList<Field> m_fields;
};
