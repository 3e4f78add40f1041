// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptnumbering.h"
#include "sharedinstance.h"

#include <QObject>

#include <optional>

// Keeps the numbering setting (table tb_receiptNo), finds the next number no receipt
// uses and writes it into the receipt being edited. Creating the shared instance loads
// the setting and fills in the first number at once.
class ReceiptNoStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ReceiptNoSetting receiptNoSetting READ receiptNoSetting WRITE setReceiptNoSetting
                   NOTIFY receiptNoSettingChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)

public:
    // Whether the number in the receipt being edited may be issued. A number is never
    // taken for free on a failed check: numbering stops until a check succeeds, and while
    // the stored setting is no number ("-5", "abc") until it is set again.
    // Stopped: the series cannot issue (its paper books used up, a series gone); stopText()
    // says why.
    enum class Status { Ready, CheckFailed, Exhausted, SettingInvalid, Stopped };
    Q_ENUM(Status)

    static constexpr qint64 maximumNumberLength = ReceiptNumbering::maximumNumberLength;
    // The longest minimum length the settings screen takes: longer numbers run over the
    // receipt's title on the form and the paper.
    static constexpr qint64 longestNumberLength = 18;

    static ReceiptNoStore &shared();

    ReceiptNoSetting receiptNoSetting() const { return m_setting; }
    void setReceiptNoSetting(const ReceiptNoSetting &setting);

    // The number text of a setting: currNum padded with zeros to numLong digits.
    static QString receiptNumberText(const ReceiptNoSetting &setting);

    Status status() const { return m_status; }
    QString stopText() const { return m_stopText; }
    // What the form says while numbering is stopped; empty when Ready.
    static QString statusText(Status status);

    // Whether this number may not be given: a stored receipt carries it (in any padding,
    // or as another program wrote it), or the history shows it was issued once: *taken.
    // False when the check could not be made (a lock, a damaged file).
    static bool isTaken(const QString &number, qint64 value, bool *taken,
                        QString *error = nullptr);
    // The counter as stored now (the highest of its rows); nothing when it cannot be read
    // or is no number.
    static std::optional<qint64> storedCounter();
    // The setting as stored now; nothing when it cannot be read or is no number.
    static std::optional<ReceiptNoSetting> storedSetting();
    // The statement that writes a setting to every row of tb_receiptNo.
    static QString saveStatement(const ReceiptNoSetting &setting);

    void loadSetting();
    void applyReceiptNo();
    // Moves currNum to the first number that no receipt uses and the history never issued
    // (a few indexed count queries per candidate), from the stored counter when that is
    // ahead, applies it to the receipt being edited and saves, in one transaction.
    // Where the search starts: at the stored counter when another program moved it past
    // this one's (a form taking its next number), or at the setting as it is (the user
    // setting the counter, back too if so chosen).
    enum class Counter { Forward, AsSet };
    void nextReceiptNo(Counter counter = Counter::Forward);
    // The setting a save just stored, whose number the save found free as it wrote, and
    // the form's next receipt showing it without asking the book again (false when no save
    // left one since the numbering last moved: then nextReceiptNo()).
    void takeCheckedNext(const ReceiptNoSetting &setting);
    // The same for the form's series: the number a save of it found free next.
    void takeCheckedNext(const QString &seriesNumber);
    bool showCheckedNext();
    // Stores the setting as the user set it, with a chained record of what it changed.
    bool saveSetting();

private:
    // Writes the setting; as the user set it (not the counter moved past a number taken),
    // with a record of the change in the same transaction.
    bool writeSetting(bool setByUser);

Q_SIGNALS:
    void receiptNoSettingChanged();
    void statusChanged();

private:
    friend class SharedInstance<ReceiptNoStore>;
    ReceiptNoStore();

    void setStatus(Status status);
    // The next number of the form's series when it is not the default one.
    void nextInSeries(const QString &series);
    // With paper books of the default series: the number the search starts at, the next of
    // the book in use from `from` on; nothing (numbering stopped) when none is left.
    std::optional<qint64> fitIntoBooks(qint64 numLong, qint64 from);

    ReceiptNoSetting m_setting;
    Status m_status = Status::Ready;
    QString m_stopText;
    // m_setting is stored as it is and its number was found free by the last save.
    bool m_checkedNext = false;
    // The form's series' next number found free by the last save, if any.
    QString m_checkedSeriesNext;
};
