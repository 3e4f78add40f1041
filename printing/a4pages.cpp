// SPDX-License-Identifier: GPL-3.0-or-later
#include "a4pages.h"

#include "outputfile.h"
#include "receiptpagelayout.h"

#include <QPageSize>
#include <QPainter>
#include <QPrinter>

#include <algorithm>

using namespace Qt::StringLiterals;

QFont A4Report::reportFont(qreal size, bool bold)
{
    QFont font = ReceiptPageLayout::font(ReceiptPageLayout::FontRole::Caption);
    font.setPixelSize(int(size));
    if (bold)
        font.setWeight(QFont::Bold);
    return font;
}

QSizeF A4Pages::pageSize()
{
    return QPageSize(QPageSize::A4).sizePoints();
}

void A4Pages::paint(QPainter &painter, int page) const
{
    if (page < 0 || page >= m_pages.size())
        return;
    const Page &p = m_pages.at(page);
    painter.save();
    painter.setPen(QPen(Qt::black, 0.6));
    for (const QLineF &line : p.lines)
        painter.drawLine(line);
    for (const Text &text : p.texts) {
        painter.setFont(text.font);
        painter.drawText(text.rect, text.flags, text.text);
    }
    painter.restore();
}

QList<PdfTextLayer::Text> A4Pages::texts() const
{
    QList<PdfTextLayer::Text> drawn;
    for (const Page &page : m_pages) {
        for (const Text &text : page.texts)
            drawn.append({text.text, text.font});
    }
    return drawn;
}

bool A4Pages::print(QPrinter &printer) const
{
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QRectF paper = printer.paperRect(QPrinter::Point);
    const qreal scale = printer.resolution() / 72.0;
    for (int page = 0; page < pageCount(); ++page) {
        if (page > 0 && !printer.newPage())
            return false;
        painter.save();
        painter.scale(scale, scale);
        // A page other than A4 gets the report at its top left, as large as it fits.
        const qreal fit = std::min({1.0, paper.width() / pageSize().width(),
                                    paper.height() / pageSize().height()});
        painter.scale(fit, fit);
        paint(painter, page);
        painter.restore();
    }
    return painter.end();
}

bool A4Pages::writePdf(const QString &path, QString *error) const
{
    QString reason;
    const bool written = OutputFile::writeReplacing(
        path,
        [this](const QString &scratch, QString *why) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setPageOrientation(QPageLayout::Portrait);
            printer.setPageMargins(QMarginsF(0, 0, 0, 0));
            printer.setDocName(m_title);
            printer.setCreator(u"Quenta"_s);
            printer.setOutputFileName(scratch);
            if (!print(printer)) {
                *why = u"PDF 文件没有写完"_s;
                return false;
            }
            QString layer;
            if (!PdfTextLayer::rewriteFile(scratch, texts(), &layer))
                qWarning("The text of the PDF %s could not be corrected: %s",
                         qUtf8Printable(m_title), qUtf8Printable(layer));
            return true;
        },
        &reason);
    if (!written && error)
        *error = u"无法写入文件 %1：%2"_s.arg(path, reason);
    return written;
}
