// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

// The program's dialogs, in one place so tests can answer them in advance instead of
// facing a modal window (as KeePassXC does).
namespace MessageBox {

// "确认" / "永久删除？" with a destructive "删除" and the cancel button "取消"; `about`
// names what would go ("No.0000003、No.0000005，共 2 张"). True when the user chose 删除.
bool confirmDelete(QWidget *parent, const QString &about = {});

// "用这个备份替换现有的数据库？" naming the file and what it holds, with "恢复" and
// "取消" (the default). True for 恢复.
bool confirmRestore(QWidget *parent, const QString &file, const QString &contents);

// "撤销作废？" naming the receipts, with "撤销作废" and "取消" (the default). True for
// 撤销作废.
bool confirmUnvoid(QWidget *parent, const QString &about);

// Asks why the receipts `about` names are voided, offering `earlierReasons`
// (VoidDialog). The reason without the spaces around it, or nothing when cancelled.
std::optional<QString> askVoidReason(QWidget *parent, const QString &about,
                                     const QStringList &earlierReasons);

// "打印所选 N 张收据？" before the list prints several receipts as one job, with "打印"
// and "取消" (the default). True for 打印.
bool confirmPrint(QWidget *parent, qsizetype count);

// 核对收据纸的单号: the receipt goes on a form that carries its number already, and the
// book cannot vouch for the form in the printer. `about` says which receipt and why it
// asks; the field for the number on the form is filled in with `expected`, 打印 (the
// default) and 取消. The number as typed, or nothing when cancelled.
std::optional<QString> askFormNumber(QWidget *parent, const QString &about,
                                     const QString &expected);

// "解除另一台计算机的锁定？" with `about` (whose lock, where), "解除锁定" and "退出" (the
// default). True for 解除锁定.
bool confirmTakeOverLock(QWidget *parent, const QString &about);

// "再导入一次？" for a file the book took before (`when` it did), with "再导入一次" and
// "取消" (the default). True for 再导入一次.
bool confirmImportAgain(QWidget *parent, const QString &file, const QString &when);

// "缴销这本收据本？" naming the book and what became of its numbers, with "缴销" and "取消"
// (the default). True for 缴销.
bool confirmReturnBook(QWidget *parent, const QString &about);

// After a spoiled form whose receipt took the next number: `said` (what became of both
// numbers), asking to print the receipt now under `number`, with "打印" and "以后再打印"
// (the default). True for 打印.
bool confirmReprint(QWidget *parent, const QString &said, const QString &number);

// "放弃未保存的修改？" with "放弃" and "继续编辑" (the default). True for 放弃.
bool confirmDiscard(QWidget *parent);

// "无法打开共享账本" at the start, with `text` (which book, why), 重试 (the default; 输入密码…
// when `passwordWanted`), 使用本机账本 and 退出 (Esc). While a test answer is set: true
// answers UseLocalBook, false Quit.
enum class UnreachableBookChoice { Retry, UseLocalBook, Quit };
UnreachableBookChoice askUnreachableBook(QWidget *parent, const QString &text, bool passwordWanted);

// A message with one button "好" whose text can be selected and copied (an address).
void information(QWidget *parent, const QString &title, const QString &text);

// A blocking error message with one button, for failures the program cannot go on
// from (the database at start).
void critical(QWidget *parent, const QString &title, const QString &text);

// A message the user should read before going on, with one button "好".
void warning(QWidget *parent, const QString &title, const QString &text);

// Tests: while set, dialogs are not shown; confirmations answer `deleteChosen` and each
// dialog's text is kept for lastText(), which a new answer clears.
void setTestAnswer(std::optional<bool> deleteChosen);
QString lastText();
// Tests: what askVoidReason answers while the test answer is true (false: cancelled),
// as typed, spaces included. A new answer clears it.
void setTestReason(const QString &reason);
// Tests: what askFormNumber answers while the test answer is true (false: cancelled);
// nothing answers the number it offered. A new answer clears it.
void setTestFormNumber(const std::optional<QString> &number);
// Tests: the reasons askVoidReason last offered.
QStringList lastOfferedReasons();

} // namespace MessageBox
