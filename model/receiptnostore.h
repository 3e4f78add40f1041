#pragma once

#include "sharedinstance.h"

#include <QObject>
#include <QUuid>

// The stored numbering setting: the next number to issue and the minimum number of
// digits a receipt number is padded to.
struct ReceiptNoSetting
{
    QUuid id;
    qint64 numLong = 7;
    qint64 currNum = 1;
    friend bool operator==(const ReceiptNoSetting &, const ReceiptNoSetting &) = default;
};

// Keeps the numbering setting (table tb_receiptNo), finds the next number no receipt
// uses and writes it into the receipt being edited. Creating the shared instance loads
// the setting and fills in the first number at once.
class ReceiptNoStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ReceiptNoSetting receiptNoSetting READ receiptNoSetting WRITE setReceiptNoSetting
                   NOTIFY receiptNoSettingChanged)

public:
    // A receipt number never pads beyond this many digits, whatever length is set, so
    // a mistyped length cannot make a text of billions of zeros.
    static constexpr qint64 maximumNumberLength = 64;

    static ReceiptNoStore &shared();

    ReceiptNoSetting receiptNoSetting() const { return m_setting; }
    void setReceiptNoSetting(const ReceiptNoSetting &setting);

    // The number text of a setting: currNum padded with zeros to numLong digits.
    static QString receiptNumberText(const ReceiptNoSetting &setting);

    void loadSetting();
    void applyReceiptNo();
    // Moves currNum to the first number whose text no receipt uses (one indexed count
    // query per candidate), applies it to the receipt being edited and saves.
    void nextReceiptNo();
    bool saveSetting();

Q_SIGNALS:
    void receiptNoSettingChanged();

private:
    friend class SharedInstance<ReceiptNoStore>;
    ReceiptNoStore();

    ReceiptNoSetting m_setting;
};
