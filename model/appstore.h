// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "editrefusal.h"
#include "receipt.h"
#include "receiptbook.h"
#include "sharedinstance.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

// Holds what the receipt screens share: the receipts of the current date range, the
// list selection, the receipt being entered or edited, the receipt to print, the range
// and the current sidebar destination. Loads and saves tb_receipt. One instance per
// process; creating it reads the remembered form choices but not the database.
class AppStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(std::optional<NavigationItem> selectionNav READ selectionNav WRITE setSelectionNav
                   NOTIFY selectionNavChanged)
    Q_PROPERTY(QString beginDate READ beginDate WRITE setBeginDate NOTIFY beginDateChanged)
    Q_PROPERTY(QString endDate READ endDate WRITE setEndDate NOTIFY endDateChanged)
    Q_PROPERTY(QList<Receipt> receipts READ receipts WRITE setReceipts NOTIFY receiptsChanged)
    Q_PROPERTY(std::optional<QString> selectedId READ selectedId WRITE setSelectedId NOTIFY
                   selectedIdChanged)
    Q_PROPERTY(QSet<QString> selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(std::optional<Receipt> receiptPrint READ receiptPrint WRITE setReceiptPrint NOTIFY
                   receiptPrintChanged)
    Q_PROPERTY(Receipt receiptEdit READ receiptEdit WRITE setReceiptEdit NOTIFY receiptEditChanged)
    Q_PROPERTY(QString loadError READ loadError NOTIFY loadErrorChanged)

public:
    enum class RangeBound { Begin, End };

    static AppStore &shared();

    std::optional<NavigationItem> selectionNav() const { return m_selectionNav; }
    void setSelectionNav(std::optional<NavigationItem> selectionNav);
    QString beginDate() const { return m_beginDate; }
    void setBeginDate(const QString &beginDate);
    QString endDate() const { return m_endDate; }
    void setEndDate(const QString &endDate);
    const QList<Receipt> &receipts() const { return m_receipts; }
    void setReceipts(const QList<Receipt> &receipts);
    std::optional<QString> selectedId() const { return m_selectedId; }
    void setSelectedId(const std::optional<QString> &selectedId);
    QSet<QString> selection() const { return m_selection; }
    void setSelection(const QSet<QString> &selection);
    std::optional<Receipt> receiptPrint() const { return m_receiptPrint; }
    void setReceiptPrint(const std::optional<Receipt> &receiptPrint);
    Receipt receiptEdit() const { return m_receiptEdit; }
    void setReceiptEdit(const Receipt &receiptEdit);

    // Why the last loadReceipts() failed ("读取收据失败：…"), empty after a good load. A
    // failed load keeps the receipts of the last good one.
    QString loadError() const { return m_loadError; }
    // How many rows of the range the last good load left out because they cannot be read
    // (a date not of the form yyyy-MM-dd HH:mm:ss, no number); loadErrorChanged tells.
    int skippedRows() const { return m_skippedRows; }
    // What the list's banner says: loadError, else the rows left out; empty when all is well.
    QString loadNotice() const;
    // What a list's banner says of a read that failed with `error`, or left out
    // `skippedRows` rows it cannot read; empty when all is well.
    static QString loadNotice(const QString &error, int skippedRows);
    // What the last good insertReceipt() has to say besides the number (it was found
    // stored after the connection broke), in Chinese; empty for an ordinary save.
    QString saveNote() const { return m_saveNote; }

    // Blanks the form for the next receipt and takes the next free number. Keeps the
    // date, the payment method, payee, approver, accountant and the capitals text.
    void newReceipt();
    // The receipts whose date lies between beginDate and endDate, highest number first.
    void loadReceipts();
    // Reads the receipt of selectedId into receiptPrint, and into receiptEdit as well
    // when forEditing is set. Nothing changes when there is no such receipt: true only
    // when the receipt was read, false with the reason ("读取收据失败：…") otherwise.
    bool loadSelected(bool forEditing, QString *error = nullptr);
    // Puts receiptPrint, as loadSelected() read it, into the form to be edited, as
    // loadSelected(true) does: its saves are compared with it.
    void editLoaded();
    // Reads the stored receipt of `id` as it is now into *receipt (nothing: gone); false
    // when it cannot be read.
    bool readReceipt(const QString &id, std::optional<Receipt> *receipt,
                     QString *error = nullptr) const;
    // Why the stored receipt open in the form can no longer take its save, when that is so
    // (changed, voided or deleted since it was opened: another save would be refused too);
    // nothing otherwise, and for a new receipt.
    std::optional<EditRefusal> editRefusal() const;
    // Makes the receipt in the form, as typed, a new receipt under the next free number,
    // for an edit the stored receipt can no longer take: the stored one stays as it is.
    void keepEditAsNew();
    // Opens the receipt of editRefusal() again as it is stored now, as the list's 修改
    // does, and keeps what the form held (keptTyping()). False, and nothing changes, when
    // it cannot be read.
    bool reopenRefused();
    // What the form held before reopenRefused(), while that receipt is in the form.
    std::optional<Receipt> keptTyping() const;
    // Puts the fields kept by reopenRefused() back over the receipt opened again: saved,
    // they replace what the other desk stored, which the form has shown by then.
    void restoreTyping();
    // Stores receiptEdit under its number, or under the next free one when another copy
    // of the program took that number meanwhile (receiptNoReassigned tells which).
    // False with the reason, in Chinese.
    bool insertReceipt(QString *error = nullptr);
    // Fails when no stored receipt was changed (deleted meanwhile), and, for a receipt
    // opened with loadSelected(true) or editLoaded(), when the stored one is no longer as
    // it was read then (changed, voided or deleted elsewhere): what was typed is not
    // written over it.
    bool updateReceipt(QString *error = nullptr);
    // Deletes every receipt of selection for good, then reloads the list. False with the
    // reason ("删除失败：…") in error when nothing was deleted.
    bool deleteSelected(QString *error = nullptr);

    // Sets the list range from selectionNav (today, yesterday, this month, this year,
    // everything up to the end of this year), as of Clock::now().
    void applyRangePreset();
    // A date picked for one end of the range becomes its bound, then the list reloads.
    void setRangeBound(RangeBound bound, const QDateTime &dateTime);
    // The first day of a range (bounds as the lists keep them) as the screens show it and
    // name its exports: a range open at its start (全部) begins on the day of its first
    // receipt, or today while it has none, rather than on 1970-01-01. The range itself
    // stays open, so a receipt dated earlier later on is still in it.
    static QDate shownBeginDay(const QString &begin, const QString &end);

Q_SIGNALS:
    void selectionNavChanged();
    void beginDateChanged();
    void endDateChanged();
    void receiptsChanged();
    void selectedIdChanged();
    void selectionChanged();
    void receiptPrintChanged();
    void receiptEditChanged();
    void loadErrorChanged();
    // A new receipt was stored.
    void receiptSaved();
    // The receipt just saved got `number` instead of the one the form showed.
    void receiptNoReassigned(const QString &number);
    // Another desk of a shared book stored a receipt under the number the new receipt in
    // the form showed (`taken`): the form shows the next free one (`shown`) instead, before
    // anything is written on numbered paper.
    void shownNumberTaken(const QString &taken, const QString &shown);
    // Another desk of a shared book changed, voided or deleted the receipt open in the
    // form ("该收据已在其他电脑上修改"): its save is refused until it is opened again
    // (editRefusal() tells the rest).
    void editChangedElsewhere(const QString &message);

private:
    friend class SharedInstance<AppStore>;
    AppStore();
    void setLoadError(const QString &error, int skippedRows = 0);
    // Brings the held range up to date with one committed change, row by row.
    void applyChange(const BookChange &change);
    void moveShownNumberWhenTaken();
    // The form's texts just saved are offered again on the next receipt (RecentValues).
    void rememberTexts();

    std::optional<NavigationItem> m_selectionNav = NavigationItem::add;
    QString m_beginDate;
    QString m_endDate;
    QList<Receipt> m_receipts;
    std::optional<QString> m_selectedId;
    QSet<QString> m_selection;
    std::optional<Receipt> m_receiptPrint;
    Receipt m_receiptEdit;
    QString m_loadError;
    // The receipt whose save was refused for good, or that another desk changed while it
    // was open here, and what became of it.
    std::optional<EditRefusal> m_refusal;
    // The receipt as it was read when opened for editing (or as its last save stored it).
    std::optional<Receipt> m_opened;
    // The form's fields before reopenRefused() read the stored receipt over them.
    std::optional<Receipt> m_keptTyping;
    int m_skippedRows = 0;
    QString m_saveNote;
    // Whether a range was read: only then are changes brought into it.
    bool m_loaded = false;
};
