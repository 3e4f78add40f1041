// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sharedinstance.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

class ReceiptBook;
struct Receipt;

// The texts typed on the newest receipts, for the form's combo boxes to offer after their
// lookup list's own entries: a payer typed once comes back on the next receipt without
// being written into the payers' list, which only its settings screen changes. Read from
// the book when the form is shown (reload()); a save of the form only puts its own texts
// first (remember()), so that a save sends the book no more statements than before. One
// instance per process.
class RecentValues : public QObject
{
    Q_OBJECT

public:
    enum class Field { Payer, Reason1, Reason2, Remark };
    static constexpr int fieldCount = 4;
    // How many of the newest receipts are read: weeks of a busy desk's typing, yet one
    // short read, also from a server across town.
    static constexpr int receiptCount = 500;

    static RecentValues &shared();
    explicit RecentValues(ReceiptBook &book, QObject *parent = nullptr);

    // The distinct texts of `field` on the newest receipts, newest first; empty ones left
    // out, and one of texts that differ only in their composition.
    QStringList values(Field field) const;
    // `listed` (a lookup list's entries) followed by the recent texts of `field` it does not
    // hold already (compared as the combo box compares, in composed form).
    QStringList offered(Field field, const QStringList &listed) const;
    // Reads the texts again, in one statement. A read that fails keeps those of the last
    // good one: an offer that is a little old does no harm, an empty one loses the typing.
    void reload();
    // Puts the texts of `receipt`, just saved, first, without asking the book.
    void remember(const Receipt &receipt);

Q_SIGNALS:
    void valuesChanged();

private:
    friend class SharedInstance<RecentValues>;
    RecentValues();
    void setValues(const std::array<QStringList, fieldCount> &values);

    ReceiptBook &m_book;
    std::array<QStringList, fieldCount> m_values;
};
