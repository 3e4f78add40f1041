// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dayreport.h"
#include "a4pages.h"

// The day's report laid out on A4 portrait pages, in points: the header's title, the day
// and the desk; every receipt of the day in number order (a voided one with its reason);
// the receipts of earlier days voided on it; totals by payment method and in all, counts,
// the first and last number and those missing between them; the closing; the lines to
// sign. A table that runs on repeats its heading on the next page, and every page says
// "第 i 页 / 共 N 页". The print dialog, the preview and the PDF all draw these pages.
class DayReportPages : public A4Pages
{
public:
    explicit DayReportPages(const DayReport &report);
};
