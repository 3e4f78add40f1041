// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "paperbooks.h"
#include "a4pages.h"

#include <QDateTime>
#include <QFont>
#include <QLineF>
#include <QList>
#include <QRectF>
#include <QString>

#include <optional>

class QPainter;
class QPrinter;

// The reconciliation of paper books (收据本核销表) laid out on A4 portrait pages, in points:
// the header's title, when it was made and at which desk; then each book on pages of its
// own: its series, numbers, holder, registration and state, what became of its numbers in
// counts (已开 with their sum, 作废, 废票, 未用), every number used with what became of it,
// the numbers not used as runs, and the lines for the holder, the one who checks it and
// the accountant to sign. A book's table that runs on repeats its heading on the next
// page, and every page says "第 i 页 / 共 N 页". The print dialog, the preview and the PDF
// all draw these pages.
class PaperBookPages : public A4Pages
{
public:
    struct Report
    {
        // The header's title (收据抬头), when the report was made and by which desk.
        QString title;
        QDateTime made;
        QString desk;
        QList<PaperBooks::Account> accounts;
    };
    // The report of the books as the book holds them now (all of them, or those of
    // `only`, given as their series and first numbers); nothing with why not.
    static std::optional<Report> read(QString *error,
                                      const QList<std::pair<QString, qint64>> &only = {});

    explicit PaperBookPages(const Report &report);

    // "0012541–0012550、0012560": numbers of `series` as runs, lowest first, each run of
    // two or more numbers from its first to its last.
    static QString runsText(const QList<qint64> &values, const ReceiptSeries &series);
};
