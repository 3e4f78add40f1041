// SPDX-License-Identifier: GPL-3.0-or-later
#include "alignmentpage.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;

namespace {

constexpr qreal pointsPerMm = 72 / 25.4;
constexpr int labelSize = 6;
constexpr int fieldNameSize = 7;
constexpr qreal gridWidth = 0.25;
// Every labelled line is drawn darker, so that counting millimetres on paper is easy.
constexpr QRgb gridInk = 0xb0b0b0;
constexpr QRgb labelledGridInk = 0x606060;
constexpr QRgb fieldInk = 0x1a5fb4;

QFont pageFont(int pixelSize)
{
    QFont font = ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Caption);
    font.setPixelSize(pixelSize);
    return font;
}

bool labelled(qreal mm)
{
    return std::fmod(mm + 0.001, AlignmentPage::labelStepMm) < 0.01;
}

} // namespace

AlignmentPage::AlignmentPage(const QRectF &pageRect, const PrintOptions &options,
                             const Company &company)
    : m_pageRect(pageRect)
{
    const QFontMetricsF metrics(pageFont(labelSize));
    // Whole steps only, counted in steps so that rounding never adds or drops a line.
    const int columns = int(std::floor(pageRect.width() / (gridStepMm * pointsPerMm) + 1e-6));
    const int rows = int(std::floor(pageRect.height() / (gridStepMm * pointsPerMm) + 1e-6));
    for (int i = 1; i <= columns; ++i) {
        const qreal x = pageRect.left() + i * gridStepMm * pointsPerMm;
        m_gridLines.append(QLineF(x, pageRect.top(), x, pageRect.bottom()));
        if (labelled(i * gridStepMm)) {
            const QString text = QString::number(i * gridStepMm);
            const qreal width = metrics.horizontalAdvance(text);
            m_labels.append(
                {text, QRectF(x - width / 2, pageRect.top() + 1, width, metrics.height())});
        }
    }
    for (int i = 1; i <= rows; ++i) {
        const qreal y = pageRect.top() + i * gridStepMm * pointsPerMm;
        m_gridLines.append(QLineF(pageRect.left(), y, pageRect.right(), y));
        if (labelled(i * gridStepMm)) {
            const QString text = QString::number(i * gridStepMm);
            m_labels.append({text,
                             QRectF(pageRect.left() + 1, y - metrics.height() / 2,
                                    metrics.horizontalAdvance(text), metrics.height())});
        }
    }

    // The fields of the blank form, each its whole cell, at the settings' offset: where a
    // value of any length may go, not where one sample value happens to end.
    const ReceiptPageLayout layout(pageRect, std::nullopt, company,
                                   ReceiptPageOptions::from(options));
    for (const ReceiptPageLayout::TextItem &text : layout.textItems()) {
        if (!ReceiptPageLayout::isValue(text.item) && text.item != Item::SideLabel)
            continue;
        const QRectF rect = text.cell.united(text.rect);
        if (!m_fields.isEmpty() && m_fields.last().item == text.item) {
            m_fields.last().rect = m_fields.last().rect.united(rect);
            continue;
        }
        m_fields.append({text.item, ReceiptPageLayout::itemName(text.item), rect});
    }
}

void AlignmentPage::paint(QPainter &painter) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(m_pageRect, Qt::white);
    for (const QLineF &line : m_gridLines) {
        const qreal mm = (line.x1() == line.x2() ? line.x1() - m_pageRect.left()
                                                 : line.y1() - m_pageRect.top())
            / pointsPerMm;
        painter.setPen(QPen(QColor::fromRgb(labelled(mm) ? labelledGridInk : gridInk), gridWidth));
        painter.drawLine(line);
    }
    const QFont labelFont = pageFont(labelSize);
    painter.setFont(labelFont);
    painter.setPen(Qt::black);
    const QFontMetricsF labelMetrics(labelFont);
    for (const Label &label : m_labels)
        painter.drawText(QPointF(label.rect.left(), label.rect.top() + labelMetrics.ascent()),
                         label.text);

    const QFont nameFont = pageFont(fieldNameSize);
    painter.setFont(nameFont);
    const QFontMetricsF nameMetrics(nameFont);
    const QColor ink = QColor::fromRgb(fieldInk);
    for (const Field &field : m_fields) {
        painter.setPen(QPen(ink, 0.75));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(field.rect);
        // The name inside the outline's top-left corner, on white so the grid does not
        // run through it.
        const QRectF nameRect(field.rect.left() + 1, field.rect.top() + 1,
                              nameMetrics.horizontalAdvance(field.name), nameMetrics.height());
        painter.fillRect(nameRect, Qt::white);
        painter.setPen(ink);
        painter.drawText(QPointF(nameRect.left(), nameRect.top() + nameMetrics.ascent()),
                         field.name);
    }
    painter.restore();
}

QList<PdfTextLayer::Text> AlignmentPage::texts() const
{
    QList<PdfTextLayer::Text> texts;
    const QFont labelFont = pageFont(labelSize);
    for (const Label &label : m_labels)
        texts.append({label.text, labelFont});
    const QFont nameFont = pageFont(fieldNameSize);
    for (const Field &field : m_fields)
        texts.append({field.name, nameFont});
    return texts;
}
