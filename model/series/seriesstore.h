// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiptseries.h"
#include "seriestables.h"
#include "sharedinstance.h"

#include <QObject>
#include <QSet>

// The book's series of numbers as the screens keep them: the list (the default first), the
// series the entry form issues from (remembered, like the payment method), and which series
// have paper books. Read once for each book, and again after every change of them here or
// at another desk; the book's own checks at each save stay the truth.
class ReceiptSeriesStore : public QObject
{
    Q_OBJECT

public:
    static ReceiptSeriesStore &shared();

    const QList<ReceiptSeries> &series() const { return m_series; }
    bool hasSeveral() const { return m_series.size() > 1; }
    // The series of `name`; the default for an empty name or one unknown.
    ReceiptSeries named(const QString &name) const;
    // The form's series: its name, empty for the default.
    QString current() const;
    void setCurrent(const QString &name);
    // Whether the series of `name` (empty: the default) has paper books, as last read.
    bool hasBooks(const QString &name) const;
    // The book of that series not returned that holds `value`, as last read.
    std::optional<PaperBook> openBookHolding(const QString &name, qint64 value) const;

    // Reads the series and the books' series again (after a change, another book).
    void reload();
    // Adds a series, with a chained record of it; false with why not.
    bool add(const ReceiptSeries &series, QString *error = nullptr);
    // Sets the length of a series' numbers; false with why not.
    bool setLength(const QString &name, qint64 numLong, QString *error = nullptr);

Q_SIGNALS:
    void seriesChanged();
    void currentChanged();

private:
    friend class SharedInstance<ReceiptSeriesStore>;
    ReceiptSeriesStore();

    QList<ReceiptSeries> m_series;
    QSet<QString> m_withBooks;
    QList<PaperBook> m_books;
    QString m_current;
};
