// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class ReceiptList;
class QWidget;
class Toast;

// 作废 and 撤销作废 of the receipts selected in a list (AppStore::selection, as `list`
// shows them), as the list's button and its context menu do them.
namespace VoidAction {

// "No.0000001、No.0000003，共 2 张": the selected receipts in number order, the first ten
// named, so a wrong selection is seen before it is acted on.
QString selectedNumbers(ReceiptList &list);

// True when every selected receipt the list shows is voided: the action then undoes the
// void rather than voiding.
bool selectionIsVoided(ReceiptList &list);
// 作废 or 撤销作废, for what the action would do now.
QString title(ReceiptList &list);

// Asks for the reason (or, to undo, for confirmation) and acts on every selected receipt.
// A failure is shown on `errorToast` and changes nothing. True when something changed.
bool run(QWidget *parent, ReceiptList &list, Toast *errorToast);

// The message a 修改 of a voided receipt is refused with.
QString editRefusal();

} // namespace VoidAction
