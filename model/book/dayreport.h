// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"
#include "receiptbook.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The day's report (收款日报): every receipt of one day with its totals, what a cashier
// hands over with the money and the stubs at the end of the day, signed by 收款人, 复核 and
// 会计. What it says is gathered here; printing/ lays it out.
struct DayReport
{
    QDate day;
    // The header's title (收据抬头), and the desk that made the report.
    QString title;
    QString desk;
    // The receipts dated on the day, lowest number first, with their voids.
    QList<Receipt> receipts;
    // Receipts of earlier days voided on this one (跨日作废): told here, where the money
    // changes, not on their own day's report.
    QList<Receipt> voidedLater;
    // The forms recorded as spoiled (废票) on the day, with their reasons: their numbers are
    // used, and not missing.
    QList<ReceiptBook::NumberUse> spoiled;

    struct Total
    {
        QString paytype;
        int count = 0;
        qint64 fen = 0;
    };
    // The receipts counted (not voided) by payment method, in the order first met, and
    // in all.
    QList<Total> byPaytype;
    Total total;
    int voided = 0;
    // An amount the program cannot read is not counted: the report says how many.
    int unreadable = 0;

    // The day's first and last number, and every number between them no receipt of the
    // day carries (there should be none), the first `missingShown` of them listed.
    QString firstNumber;
    QString lastNumber;
    QStringList missing;
    qint64 missingCount = 0;
    static constexpr int missingShown = 200;

    // The closing that closed the day, when one has.
    std::optional<DayClosing> closing;

    // Reads the day from the book. False with the reason when it cannot be read.
    static bool read(ReceiptBook &book, QDate day, DayReport *report, QString *error);
    // The status of a receipt as the report writes it: 正常, 作废.
    static QString statusOf(const Receipt &receipt);
};
