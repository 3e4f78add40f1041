// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pdftextlayer.h"

#include <QFont>
#include <QLineF>
#include <QList>
#include <QRectF>
#include <QString>

class QPainter;
class QPrinter;

// What the reports' layouts share: their margins and footer, their font, a table's column.
namespace A4Report {
inline constexpr qreal margin = 48;
inline constexpr qreal footerHeight = 24;
// The reports' text at `size` pixels, bold or not.
QFont reportFont(qreal size, bool bold = false);
struct ColumnSpec
{
    const char16_t *title;
    qreal width;
    bool right = false;
};
} // namespace A4Report

// Pages of a report on A4 portrait, in points, as its layout placed their texts and lines:
// what the print dialog, the preview and the PDF of every report draw alike.
class A4Pages
{
public:
    static QSizeF pageSize(); // A4 in points
    int pageCount() const { return int(m_pages.size()); }
    // Draws page `page` on a painter whose units are points from the page's corner.
    void paint(QPainter &painter, int page) const;
    // Every page on `printer`, each on a sheet of its own; false when the printer does not
    // take them.
    bool print(QPrinter &printer) const;
    // Every text drawn, page after page, in drawing order (for the PDF's text layer).
    QList<PdfTextLayer::Text> texts() const;
    // Writes the pages as a PDF file at `path` with text that can be searched and copied.
    bool writePdf(const QString &path, QString *error) const;

protected:
    // `title`: the PDF's document name.
    explicit A4Pages(const QString &title)
        : m_title(title)
    { }

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

private:
    QString m_title;
};
