// SPDX-License-Identifier: GPL-3.0-or-later
#include "editrefusal.h"

#include "money.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

// A value as the sentence quotes it: long texts cut, so that the notice stays one line.
QString quoted(const QString &text)
{
    constexpr qsizetype longest = 20;
    if (text.isEmpty())
        return u"（空）"_s;
    return u"「%1」"_s.arg(text.size() > longest ? text.left(longest - 1) + u'…' : text);
}

QString amountOf(const Receipt &receipt)
{
    if (receipt.unreadableTotal)
        return quoted(*receipt.unreadableTotal);
    const std::optional<qint64> fen = Money::fenFromYuan(receipt.total);
    return fen ? Money::format(*fen) : quoted(QString::number(receipt.total));
}

} // namespace

EditRefusal EditRefusal::of(ReceiptBook::Refusal kind, const QString &receiptId,
                            const QString &reason, const std::optional<Receipt> &opened,
                            const std::optional<Receipt> &stored)
{
    EditRefusal refusal;
    refusal.kind = kind;
    refusal.receiptId = receiptId;
    refusal.reason = reason;
    if (kind == ReceiptBook::Refusal::Voided && stored && stored->voidReason)
        refusal.detail = u"作废原因："_s + quoted(*stored->voidReason);
    else if (kind == ReceiptBook::Refusal::Changed && opened && stored)
        refusal.detail = changes(*opened, *stored);
    return refusal;
}

QString EditRefusal::changes(const Receipt &opened, const Receipt &stored)
{
    QStringList changed;
    const auto compare = [&](const QString &label, const QString &before, const QString &now) {
        if (before != now)
            changed.append(u"%1改为%2"_s.arg(label, quoted(now)));
    };
    const QString dateFormat = u"yyyy-MM-dd"_s;
    if (opened.receiptDate.date() != stored.receiptDate.date())
        changed.append(u"收款日期改为 %1"_s.arg(stored.receiptDate.date().toString(dateFormat)));
    compare(u"交款单位"_s, opened.payer, stored.payer);
    compare(u"收款事由"_s, opened.reason1, stored.reason1);
    compare(u"其它说明"_s, opened.reason2, stored.reason2);
    compare(u"备注信息"_s, opened.remark, stored.remark);
    if (opened.total != stored.total || opened.unreadableTotal != stored.unreadableTotal)
        changed.append(u"金额改为 %1"_s.arg(amountOf(stored)));
    compare(u"收款方式"_s, opened.paytype, stored.paytype);
    compare(u"收款人"_s, opened.payee, stored.payee);
    compare(u"核准"_s, opened.approve, stored.approve);
    compare(u"会计"_s, opened.accountant, stored.accountant);
    return changed.join(u"，"_s);
}
