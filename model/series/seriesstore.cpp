// SPDX-License-Identifier: GPL-3.0-or-later
#include "seriesstore.h"

#include "preferences.h"
#include "receiptbook.h"
#include "seriestables.h"
#include "sqlitehelper.h"
#include "transaction.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

const QString currentKey = u"form/series"_s;

QString describe(const ReceiptSeries &series)
{
    return u"前缀 %1，单号长度 %2%3"_s.arg(series.prefix).arg(series.numLong).arg(
        series.yearly ? u"，每年从 1 开始"_s : QString());
}

} // namespace

ReceiptSeriesStore &ReceiptSeriesStore::shared()
{
    return SharedInstance<ReceiptSeriesStore>::get();
}

ReceiptSeriesStore::ReceiptSeriesStore()
{
    m_current = Preferences::value(currentKey);
    reload();
    ReceiptBook &book = ReceiptBook::shared();
    connect(&book, &ReceiptBook::replaced, this, &ReceiptSeriesStore::reload);
}

void ReceiptSeriesStore::reload()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    const std::optional<QList<ReceiptSeries>> all = SeriesTables::all(helper);
    m_series = all.value_or(QList<ReceiptSeries> {{SeriesNumber::defaultName(), {}, 7, false}});
    m_withBooks.clear();
    m_books.clear();
    if (const std::optional<QList<PaperBook>> books = SeriesTables::books(helper)) {
        m_books = *books;
        for (const PaperBook &book : *books)
            m_withBooks.insert(book.series);
    }
    Q_EMIT seriesChanged();
}

ReceiptSeries ReceiptSeriesStore::named(const QString &name) const
{
    for (const ReceiptSeries &series : m_series) {
        if (series.name == name)
            return series;
    }
    return m_series.value(0);
}

QString ReceiptSeriesStore::current() const
{
    // A series that is gone (another book, a restore) is the default again.
    const ReceiptSeries series = named(m_current);
    return series.isDefault() ? QString() : series.name;
}

void ReceiptSeriesStore::setCurrent(const QString &name)
{
    const QString chosen = named(name).isDefault() ? QString() : name;
    if (chosen == current())
        return;
    m_current = chosen;
    Preferences::setValue(currentKey, chosen);
    Q_EMIT currentChanged();
}

bool ReceiptSeriesStore::hasBooks(const QString &name) const
{
    return m_withBooks.contains(name == SeriesNumber::defaultName() ? QString() : name);
}

std::optional<PaperBook> ReceiptSeriesStore::openBookHolding(const QString &name, qint64 value) const
{
    const QString key = name == SeriesNumber::defaultName() ? QString() : name;
    for (const PaperBook &book : m_books) {
        if (book.series == key && !book.returned && book.holds(value))
            return book;
    }
    return std::nullopt;
}

bool ReceiptSeriesStore::add(const ReceiptSeries &series, QString *error)
{
    if (!SeriesNumber::check(series, m_series, error))
        return false;
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    // Judged again against the book as it is now: another desk may have added one. The
    // book's own numbering is held first, so that two desks adding series at once are judged
    // one after the other (two prefixes that print alike could otherwise both pass).
    const bool begun = helper.open() && transaction.begin()
        && SeriesTables::named(helper, {}, true).has_value();
    const std::optional<QList<ReceiptSeries>> stored = begun ? SeriesTables::all(helper, error)
                                                             : std::nullopt;
    if (!stored) {
        if (error && error->isEmpty())
            *error = helper.lastError();
        return false;
    }
    if (!SeriesNumber::check(series, *stored, error))
        return false;
    const QJsonObject changes {{series.name, QJsonArray {QJsonValue(), describe(series)}}};
    if (!SeriesTables::add(helper, series)
        || !ReceiptBook::shared().recordSetting(u"收据类别"_s, changes) || !transaction.commit()) {
        if (error)
            *error = u"保存收据类别失败：%1"_s.arg(helper.lastError());
        return false;
    }
    reload();
    return true;
}

bool ReceiptSeriesStore::setLength(const QString &name, qint64 numLong, QString *error)
{
    ReceiptSeries changed = named(name);
    if (changed.isDefault() || changed.name != name) {
        if (error)
            *error = u"没有收据类别“%1”"_s.arg(name);
        return false;
    }
    const ReceiptSeries before = changed;
    changed.numLong = numLong;
    QList<ReceiptSeries> others = m_series;
    others.removeIf([&name](const ReceiptSeries &s) { return s.name == name; });
    if (!SeriesNumber::check(changed, others, error))
        return false;
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    const QJsonObject changes {{name, QJsonArray {describe(before), describe(changed)}}};
    if (!helper.open() || !transaction.begin() || !SeriesTables::update(helper, changed)
        || !ReceiptBook::shared().recordSetting(u"收据类别"_s, changes) || !transaction.commit()) {
        if (error)
            *error = u"保存收据类别失败：%1"_s.arg(helper.lastError());
        return false;
    }
    reload();
    return true;
}
