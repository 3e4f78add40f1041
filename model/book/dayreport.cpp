// SPDX-License-Identifier: GPL-3.0-or-later
#include "dayreport.h"

#include <set>

#include "companystore.h"
#include "failure.h"
#include "money.h"
#include "receiptnumber.h"

#include <algorithm>

using namespace Qt::StringLiterals;

bool DayReport::read(ReceiptBook &book, QDate day, DayReport *report, QString *error)
{
    *report = {};
    if (!day.isValid())
        return fail(error, u"日期无效"_s);
    DayReport &r = *report;
    r.day = day;
    r.title = CompanyStore::shared().company().title;
    r.desk = ReceiptBook::deskName();
    ReceiptBook::DayRead read;
    if (!book.readDay(day, &read, error))
        return false;
    r.receipts = std::move(read.receipts);
    r.voidedLater = std::move(read.voidedLater);
    if (!book.readSpoiledOn(day, &r.spoiled, error))
        return false;
    QString problem;
    const std::optional<QList<DayClosing>> closings = book.closings(&problem);
    if (!closings)
        return fail(error, u"读取日结失败：%1"_s.arg(problem));
    for (const DayClosing &closing : *closings) {
        if (closing.closedTo >= day) {
            r.closing = closing;
            break;
        }
    }

    for (const Receipt &receipt : r.receipts) {
        if (receipt.voidReason) {
            ++r.voided;
            continue;
        }
        const std::optional<qint64> fen = Money::fenOf(receipt);
        if (!fen) {
            ++r.unreadable;
            continue;
        }
        auto found = std::find_if(r.byPaytype.begin(), r.byPaytype.end(),
                                  [&](const Total &t) { return t.paytype == receipt.paytype; });
        if (found == r.byPaytype.end())
            found = r.byPaytype.insert(r.byPaytype.end(), Total {receipt.paytype, 0, 0});
        ++found->count;
        found->fen += *fen;
        ++r.total.count;
        r.total.fen += *fen;
    }

    // The numbers between the first and the last that the day lacks, by value, written in
    // the padding of the day's first number.
    QList<qint64> values;
    for (const Receipt &receipt : r.receipts) {
        if (ReceiptNumber::isPlain(receipt.receiptNo) && receipt.receiptNo.size() <= 18)
            values.append(receipt.receiptNo.toLongLong());
    }
    if (!r.receipts.isEmpty()) {
        r.firstNumber = r.receipts.constFirst().receiptNo;
        r.lastNumber = r.receipts.constLast().receiptNo;
    }
    // A spoiled form's number is used, not missing.
    std::set<qint64> spoiled;
    for (const ReceiptBook::NumberUse &use : r.spoiled) {
        if (ReceiptNumber::isPlain(use.receiptNo) && use.receiptNo.size() <= 18)
            spoiled.insert(use.receiptNo.toLongLong());
    }
    if (!values.isEmpty()) {
        const qsizetype width = r.firstNumber.size();
        for (qsizetype i = 1; i < values.size(); ++i) {
            const qint64 from = values.at(i - 1) + 1;
            const qint64 to = values.at(i);
            if (to <= from)
                continue;
            // Counted, not walked: a gap may span billions of numbers.
            const auto spoiledFrom = spoiled.lower_bound(from);
            const auto spoiledTo = spoiled.lower_bound(to);
            r.missingCount += to - from - std::distance(spoiledFrom, spoiledTo);
            for (qint64 v = from; v < to && r.missing.size() < missingShown; ++v) {
                if (!spoiled.contains(v))
                    r.missing.append(QString::number(v).rightJustified(width, u'0'));
            }
        }
    }
    return true;
}

QString DayReport::statusOf(const Receipt &receipt)
{
    return receipt.voidReason ? u"作废"_s : u"正常"_s;
}
