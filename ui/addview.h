// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class AmountField;
class AppStore;
class ComboBox;
class QComboBox;
class EditConflictBar;
class FittedLabel;
class LookupPicker;
class QDate;
class QDateEdit;
class QLabel;
class QLineEdit;
class QToolButton;
class Toast;

// The receipt entry form ("开单"): shows AppStore::receiptEdit and writes every edit
// straight back to it. An empty id means a new receipt (add, add and print), any other
// id a stored one being changed (save, cancel). While shown it keeps the capitals in
// step with the amount and remembers the payment method, payee, approver and
// accountant for the next start. One instance, owned by the sidebar.
class AddView : public QWidget
{
    Q_OBJECT

public:
    explicit AddView(QWidget *parent);

    // The actions of the four buttons.
    void add();
    void addAndPrint();
    void saveChanges();
    void cancel();
    // 打印预览 (Ctrl+Shift+P, and the form's context menu): the form as it would print.
    // 打印 there saves the form first, as 增加并打印 and 保存修改 do, then prints the
    // stored receipt.
    void preview();
    // Puts the cursor in 交款单位, where a receipt begins.
    void focusFirstField();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *createHeader(QWidget *parent);
    QWidget *createBody(QWidget *parent);
    QWidget *createFooter(QWidget *parent);

    void showReceipt();
    void showNumberStatus();
    // The 类别 picker as the book's series and the form are now.
    void showSeries();
    // After a save from a paper book: when the next number is in another book, asks for
    // that book to be put in the printer.
    void askForNextBook(const QString &saved, const QString &next);
    // A new receipt blanked by a list action comes back when the form is shown again.
    void restoreDraft();
    // Typing on a new receipt, or an edit that differs from the stored receipt (or one
    // whose stored receipt is gone).
    bool hasUnsavedWork() const;
    void onReceiptEditChanged();
    // Runs a save with the form's redisplay held: on its way the receipt passes through
    // states nobody needs to see (stored with its id, then blanked for the next one), and
    // showing each would lay the form out and paint it again. The form then shows the
    // receipt as the save left it, once.
    void holdingDisplay(const std::function<void()> &save);
    void updateCapitals();
    void rememberChoices();
    void editReceipt(const std::function<void(Receipt &)> &change);
    // The first failing check shows its message; true when all pass.
    bool validate();
    // Gives the receipt its id and stores it; on failure the id goes again, so the form
    // stays a new receipt with everything typed.
    bool insertNew();
    // 保存修改 with a print of the stored receipt in between.
    void saveAndPrint();
    // After a receipt was stored and the form blanked: says which one it was (the form
    // stays for the next receipt, so nothing else shows it) and puts the cursor in
    // 交款单位 for the next.
    void showSaved(const QString &number, QDate date);
    // Puts the refusal of the receipt in the form on the bar over it (the keyboard to the
    // bar with `focus`), or hides the bar when there is none; true when it shows one.
    enum class BarFocus { Leave, Take };
    bool showEditRefusal(BarFocus focus);
    // The bar's choices: the stored receipt opened again, the typing saved as a new one, or
    // the typing put back over the receipt opened again.
    void reopen();
    void saveAsNew();
    void restoreTyping();
    // After the store put a stored receipt in the form while it is shown: its amount and
    // choices are what the capitals and the remembered choices are measured against.
    void followStoredReceipt();
    // Marks a receipt date that is not today: the form keeps the date for the next
    // receipt, which must not carry it on unnoticed.
    void showDateNote();

    AppStore &m_store;
    Toast *m_errorToast;
    // Longer than an error: a changed receipt number has to be written on the form.
    Toast *m_noticeToast;
    EditConflictBar *m_conflictBar;

    FittedLabel *m_titleLabel = nullptr;
    QLabel *m_sideLabel = nullptr;
    QLabel *m_receiptNoLabel = nullptr;
    // 类别: the series the new receipt's number is of, shown when the book has several.
    QComboBox *m_seriesComboBox = nullptr;
    QLabel *m_numberStatusLabel = nullptr;
    QDateEdit *m_receiptDateEdit = nullptr;
    QLabel *m_dateNoteLabel = nullptr;
    // Whether the date field is styled as not today's; unset before it is first styled.
    std::optional<bool> m_dateStyledNotToday;
    QLabel *m_savedLabel = nullptr;
    ComboBox *m_payerComboBox = nullptr;
    ComboBox *m_reason1ComboBox = nullptr;
    ComboBox *m_reason2ComboBox = nullptr;
    ComboBox *m_remarkComboBox = nullptr;
    QLineEdit *m_totalBigLineEdit = nullptr;
    AmountField *m_totalLineEdit = nullptr;
    LookupPicker *m_paytypeComboBox = nullptr;
    LookupPicker *m_payeeComboBox = nullptr;
    LookupPicker *m_approveComboBox = nullptr;
    LookupPicker *m_accountantComboBox = nullptr;
    QToolButton *m_addButton = nullptr;
    QToolButton *m_addPrintButton = nullptr;
    QToolButton *m_saveButton = nullptr;
    QToolButton *m_cancelButton = nullptr;
    // While above 0, changes to the receipt are shown when the outermost hold ends.
    int m_displayHolds = 0;
    bool m_displayPending = false;
    // While the store loads a stored receipt into the form: not the cashier's edit.
    bool m_loadingStored = false;

    // The amount the capitals were last written for, and the four choices as last
    // written to the preferences: changes are measured against these.
    double m_capitalsTotal = 0;
    QStringList m_rememberedChoices;
    // The screen the window showed before the form: 取消修改 of an edit goes back there.
    std::optional<NavigationItem> m_cameFrom;
    bool m_shownBefore = false;
    // The number put in the form because another desk took the one shown before; marked
    // while the form shows it.
    QString m_movedNumber;
    void showNumber();
};
