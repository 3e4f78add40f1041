// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dayreport.h"
#include "pdftextlayer.h"

#include <QFont>
#include <QLineF>
#include <QList>
#include <QRectF>
#include <QString>

class QPainter;
class QPrinter;

// The day's report laid out on A4 portrait pages, in points: the header's title, the day
// and the desk; every receipt of the day in number order (a voided one with its reason);
// the receipts of earlier days voided on it; totals by payment method and in all, counts,
// the first and last number and those missing between them; the closing; the lines to
// sign. A table that runs on repeats its heading on the next page, and every page says
// "第 i 页 / 共 N 页". The print dialog, the preview and the PDF all draw these pages.
class DayReportPages
{
public:
    explicit DayReportPages(const DayReport &report);

    static QSizeF pageSize(); // A4 in points
    int pageCount() const { return int(m_pages.size()); }
    // Draws page `page` on a painter whose units are points from the page's corner.
    void paint(QPainter &painter, int page) const;
    // Every page on `printer`, each on a sheet of its own; false when the printer does not
    // take them.
    bool print(QPrinter &printer) const;
    // Every text drawn, page after page, in drawing order (for the PDF's text layer).
    QList<PdfTextLayer::Text> texts() const;
    // Writes the report as a PDF file at `path` with text that can be searched and copied.
    bool writePdf(const QString &path, QString *error) const;

private:
    struct Text
    {
        QRectF rect;
        QString text;
        QFont font;
        int flags = 0;
    };
    struct Page
    {
        QList<Text> texts;
        QList<QLineF> lines;
    };
    QList<Page> m_pages;
};
