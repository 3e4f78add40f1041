// SPDX-License-Identifier: GPL-3.0-or-later
#include "voidaction.h"

#include "appstore.h"
#include "messagebox.h"
#include "money.h"
#include "receiptbook.h"
#include "receiptlist.h"
#include "toast.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The selected receipts the list shows, in its order.
QList<Receipt> selectedReceipts(ReceiptList &list)
{
    QList<Receipt> selected;
    for (const qsizetype row : list.rowsOf(AppStore::shared().selection())) {
        if (std::optional<Receipt> receipt = list.at(row))
            selected.append(std::move(*receipt));
    }
    return selected;
}

} // namespace

QString VoidAction::selectedNumbers(ReceiptList &list)
{
    QStringList numbers;
    for (const Receipt &receipt : selectedReceipts(list))
        numbers.append(u"No."_s + receipt.receiptNo);
    std::sort(numbers.begin(), numbers.end());
    const qsizetype count = numbers.size();
    if (count > 10)
        numbers = numbers.mid(0, 10) << u"…"_s;
    return u"%1，共 %2 张"_s.arg(numbers.join(u"、"_s), Money::groupedDigits(count));
}

bool VoidAction::selectionIsVoided(ReceiptList &list)
{
    const QList<Receipt> selected = selectedReceipts(list);
    return !selected.isEmpty()
        && std::all_of(selected.cbegin(), selected.cend(),
                       [](const Receipt &receipt) { return receipt.voidReason.has_value(); });
}

QString VoidAction::title(ReceiptList &list)
{
    return selectionIsVoided(list) ? u"撤销作废"_s : u"作废"_s;
}

bool VoidAction::run(QWidget *parent, ReceiptList &list, Toast *errorToast)
{
    QStringList ids;
    for (const Receipt &receipt : selectedReceipts(list))
        ids.append(receipt.id);
    if (ids.isEmpty())
        return false;
    const QString about = selectedNumbers(list);
    QString error;
    bool done = false;
    if (selectionIsVoided(list)) {
        if (!MessageBox::confirmUnvoid(parent, about))
            return false;
        done = ReceiptBook::shared().unvoidReceipts(ids, &error);
    } else {
        const std::optional<QString> reason
            = MessageBox::askVoidReason(parent, about, ReceiptBook::shared().earlierVoidReasons());
        if (!reason)
            return false;
        // Trimmed here too: the dialog never gives spaces, but the reason is stored as
        // given and shown in the list and on paper.
        done = ReceiptBook::shared().voidReceipts(ids, reason->trimmed(), &error);
    }
    if (!done)
        errorToast->show(error);
    return done;
}

QString VoidAction::editRefusal()
{
    return u"已作废的收据不能修改"_s;
}
