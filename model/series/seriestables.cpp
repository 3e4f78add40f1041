// SPDX-License-Identifier: GPL-3.0-or-later
#include "seriestables.h"

#include "database.h"
#include "datetext.h"
#include "receiptnumbering.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

using namespace Qt::StringLiterals;

namespace {

QString timeText(const QDateTime &time)
{
    return formatDateText(time, DateText::dateTime);
}

} // namespace

std::optional<QList<ReceiptSeries>> SeriesTables::all(SQLiteHelper &connection, QString *error)
{
    QList<ReceiptSeries> series;
    const std::optional<ReceiptNoSetting> setting = ReceiptNumbering::stored(connection);
    series.append({SeriesNumber::defaultName(), {}, setting ? setting->numLong : 7, false});
    std::unique_ptr<ResultSet> rows = connection.query(
        u"select name, prefix, numLong, yearly from tb_series order by name"_s);
    if (!rows) {
        if (connection.tableCount({u"tb_series"_s}) == 0)
            return series;
        if (error)
            *error = connection.lastError();
        return std::nullopt;
    }
    while (rows->next()) {
        series.append({rows->stringForColumnIndex(0).value_or(QString()),
                       rows->stringForColumnIndex(1).value_or(QString()),
                       rows->int64ForColumnIndex(2), rows->int64ForColumnIndex(3) != 0});
    }
    if (rows->hasError()) {
        if (error)
            *error = connection.noteFailure(rows->error());
        return std::nullopt;
    }
    return series;
}

std::optional<ReceiptSeries> SeriesTables::named(SQLiteHelper &connection, const QString &name,
                                                 bool lock, bool *found)
{
    if (found)
        *found = false;
    if (name.isEmpty() || name == SeriesNumber::defaultName()) {
        const std::optional<ReceiptNoSetting> setting = ReceiptNumbering::stored(
            connection, lock ? ReceiptNumbering::Lock::UntilCommit : ReceiptNumbering::Lock::None);
        if (!setting)
            return std::nullopt;
        if (found)
            *found = true;
        return ReceiptSeries {SeriesNumber::defaultName(), {}, setting->numLong, false};
    }
    const QString rowLock = lock ? connection.db().dialect().rowLockClause().trimmed() : QString();
    std::unique_ptr<ResultSet> rows = connection.query(
        u"select name, prefix, numLong, yearly from tb_series where name = $1 "_s + rowLock, {name});
    if (!rows)
        return std::nullopt;
    ReceiptSeries series;
    if (rows->next()) {
        series = {rows->stringForColumnIndex(0).value_or(QString()),
                  rows->stringForColumnIndex(1).value_or(QString()), rows->int64ForColumnIndex(2),
                  rows->int64ForColumnIndex(3) != 0};
        if (found)
            *found = true;
    }
    if (rows->hasError())
        return std::nullopt;
    return series;
}

QString SeriesTables::counterYear(const ReceiptSeries &series, int year)
{
    return series.yearly ? QString::number(year) : QString();
}

std::optional<qint64> SeriesTables::counter(SQLiteHelper &connection, const QString &series,
                                            const QString &year)
{
    std::unique_ptr<ResultSet> rows = connection.query(
        u"select currNum from tb_seriesCounter where series = $1 and year = $2"_s, {series, year});
    if (!rows)
        return std::nullopt;
    qint64 next = 1;
    if (rows->next())
        next = std::max<qint64>(1, rows->int64ForColumnIndex(0));
    if (rows->hasError())
        return std::nullopt;
    return next;
}

bool SeriesTables::setCounter(SQLiteHelper &connection, const QString &series, const QString &year,
                              qint64 next)
{
    return connection.write(
        u"insert into tb_seriesCounter (series, year, currNum) values (%1, %2, %3) on conflict "
        u"(series, year) do update set currNum = excluded.currNum"_s.arg(
            sqlQuote(series), sqlQuote(year), QString::number(next)),
        SQLiteHelper::Changes::AtLeastOne);
}

bool SeriesTables::add(SQLiteHelper &connection, const ReceiptSeries &series)
{
    return connection.write(
        u"insert into tb_series (name, prefix, numLong, yearly) values (%1, %2, %3, %4)"_s.arg(
            sqlQuote(series.name), sqlQuote(series.prefix), QString::number(series.numLong),
            series.yearly ? u"1"_s : u"0"_s),
        SQLiteHelper::Changes::AtLeastOne);
}

bool SeriesTables::update(SQLiteHelper &connection, const ReceiptSeries &series)
{
    return connection.write(u"update tb_series set numLong = %1, yearly = %2 where name = %3"_s.arg(
                                QString::number(series.numLong), series.yearly ? u"1"_s : u"0"_s,
                                sqlQuote(series.name)),
                            SQLiteHelper::Changes::AtLeastOne);
}

std::optional<QList<PaperBook>> SeriesTables::books(SQLiteHelper &connection,
                                                    const std::optional<QString> &series)
{
    const QString key = series && *series == SeriesNumber::defaultName() ? QString() : series.value_or(QString());
    std::unique_ptr<ResultSet> rows = connection.query(
        u"select series, first, last, holder, time, desk, returned from tb_paperBook%1 order by "
        u"series, first"_s.arg(series ? u" where series = $1"_s : QString()),
        series ? QStringList {key} : QStringList {});
    QList<PaperBook> found;
    if (!rows) {
        if (connection.tableCount({u"tb_paperBook"_s}) == 0)
            return found;
        return std::nullopt;
    }
    while (rows->next()) {
        PaperBook book;
        book.series = rows->stringForColumnIndex(0).value_or(QString());
        book.first = rows->int64ForColumnIndex(1);
        book.last = rows->int64ForColumnIndex(2);
        book.holder = rows->stringForColumnIndex(3).value_or(QString());
        book.registered = parseDateText(rows->stringForColumnIndex(4).value_or(QString()),
                                        DateText::dateTime);
        book.desk = rows->stringForColumnIndex(5).value_or(QString());
        if (const std::optional<QString> returned = rows->stringForColumnIndex(6))
            book.returned = parseDateText(*returned, DateText::dateTime);
        found.append(book);
    }
    if (rows->hasError())
        return std::nullopt;
    return found;
}

bool SeriesTables::addBook(SQLiteHelper &connection, const PaperBook &book)
{
    return connection.write(
        u"insert into tb_paperBook (series, first, last, holder, time, desk, returned) values "
        u"(%1, %2, %3, %4, %5, %6, null)"_s.arg(
            sqlQuote(book.series), QString::number(book.first), QString::number(book.last),
            sqlQuote(book.holder), sqlQuote(timeText(book.registered)), sqlQuote(book.desk)),
        SQLiteHelper::Changes::AtLeastOne);
}

bool SeriesTables::markReturned(SQLiteHelper &connection, const PaperBook &book,
                                const QDateTime &time)
{
    return connection.write(
        u"update tb_paperBook set returned = %1 where series = %2 and first = %3 and returned is "
        u"null"_s.arg(sqlQuote(timeText(time)), sqlQuote(book.series), QString::number(book.first)),
        SQLiteHelper::Changes::AtLeastOne);
}

QString SeriesTables::stateText(PaperBook::State state)
{
    switch (state) {
    case PaperBook::State::Unused:
        return u"未用"_s;
    case PaperBook::State::InUse:
        return u"在用"_s;
    case PaperBook::State::UsedUp:
        return u"已用完"_s;
    case PaperBook::State::Returned:
        return u"已缴销"_s;
    }
    return {};
}

QString SeriesTables::rangeText(const PaperBook &book, const ReceiptSeries &series)
{
    return SeriesNumber::text(series, 0, book.first) + u"–"_s + SeriesNumber::text(series, 0, book.last);
}
