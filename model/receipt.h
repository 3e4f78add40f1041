// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QMetaType>
#include <QString>

#include <optional>

// One receipt as stored in tb_receipt. A plain value: two receipts are equal when all
// their fields are.
struct Receipt
{
    QString id;
    QString receiptNo;
    QDateTime receiptDate;
    QString payer;
    QString reason1;
    QString reason2;
    QString remark;
    QString paytype;
    QString payee;
    QString approve;
    QString accountant;
    QString creator;
    QDateTime createDate;
    double total = 0;
    QString totalBig;
    qint64 isDeleted = 0;
    // The stored total as it is, when it is not a plain decimal number the program can
    // read (total is then 0). Such a receipt is shown as stored and marked, and its amount
    // must be typed again before it can be saved.
    std::optional<QString> unreadableTotal;
    // Set when the receipt is voided (作废): the reason given. Kept in tb_void, not in
    // tb_receipt; a voided receipt keeps its number and stays listed.
    std::optional<QString> voidReason;

    friend bool operator==(const Receipt &, const Receipt &) = default;
};

size_t qHash(const Receipt &receipt, size_t seed = 0);

// The sidebar destinations, in menu order. settings_payee and settings_dictionary
// have no menu entry.
enum class NavigationItem {
    add,
    stat_today,
    stat_yesterday,
    stat_month,
    stat_year,
    stat_all,
    settings_account,
    settings_payer,
    settings_reason1,
    settings_reason2,
    settings_remark,
    settings_company,
    settings_receiptNo,
    settings_paytype,
    settings_payee,
    settings_dictionary,
};

inline size_t qHash(NavigationItem item, size_t seed = 0)
{
    return ::qHash(static_cast<int>(item), seed);
}
