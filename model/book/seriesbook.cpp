// SPDX-License-Identifier: GPL-3.0-or-later
// The book's numbers by series and paper book: what is used of a range, the next number of a
// series or of its book in use, a receipt of a series issued, and a spoiled form recorded.
#include "receiptbook.h"

#include "failure.h"
#include "receiptnumbering.h"
#include "receiptrow.h"
#include "writescope.h"

#include <QJsonObject>

#include <algorithm>
#include <limits>
#include <map>

using namespace Qt::StringLiterals;

namespace {

qint64 digitCount(qint64 value)
{
    return QString::number(value).size();
}

qint64 power10(qint64 digits)
{
    qint64 p = 1;
    for (qint64 i = 0; i < digits && p <= std::numeric_limits<qint64>::max() / 10; ++i)
        p *= 10;
    return p;
}

// The numbers of [first, last] of a series in a year, as a condition on a table's
// ltrim(receiptNo, '0') (the index of numbers by value both tables have): for each count of
// digits, the texts between the lowest and the highest, of that length. A prefix never
// starts with a zero, so that it is kept whole by ltrim.
QString rangeCondition(const ReceiptSeries &series, int year, qint64 first, qint64 last)
{
    const QString prefix = SeriesNumber::prefixIn(series, year);
    QStringList parts;
    for (qint64 digits = digitCount(first); digits <= digitCount(last); ++digits) {
        const qint64 low = std::max(first, digits == 1 ? 0 : power10(digits - 1));
        const qint64 high = std::min(last, power10(digits) - 1);
        if (low > high)
            continue;
        if (series.isDefault()) {
            parts << u"(ltrim(receiptNo, '0') between %1 and %2 and length(ltrim(receiptNo, '0')) = %3)"_s
                         .arg(sqlQuote(QString::number(low)), sqlQuote(QString::number(high)))
                         .arg(digits);
        } else {
            const qint64 width = std::max(series.numLong, digits);
            parts << u"(ltrim(receiptNo, '0') between %1 and %2 and length(receiptNo) = %3)"_s
                         .arg(sqlQuote(prefix + QString::number(low).rightJustified(width, u'0')),
                              sqlQuote(prefix + QString::number(high).rightJustified(width, u'0')))
                         .arg(prefix.size() + width);
        }
    }
    return parts.isEmpty() ? u"0 = 1"_s : u"("_s + parts.join(u" or "_s) + u")"_s;
}

// The value of a stored number of `series` in `year`; nothing when it is not one of them.
std::optional<qint64> valueIn(const ReceiptSeries &series, int year, const QString &number)
{
    const QString prefix = SeriesNumber::prefixIn(series, year);
    if (!number.startsWith(prefix))
        return std::nullopt;
    const QString digits = number.mid(prefix.size());
    if (!ReceiptNumber::isPlain(digits))
        return std::nullopt;
    const QString value = ReceiptNumber::valueDigits(digits);
    if (value.size() > 18)
        return std::nullopt;
    return value.toLongLong();
}

QString inList(const QStringList &texts)
{
    QStringList quoted;
    for (const QString &text : texts)
        quoted << sqlQuote(text);
    return quoted.join(u", "_s);
}

QString usedUpText(const ReceiptSeries &series)
{
    return u"类别“%1”的收据本已全部用完或已缴销：请先在收据本登记中登记新的收据本"_s.arg(series.name);
}

} // namespace

std::optional<bool> ReceiptBook::seriesNumberUsed(const ReceiptSeries &series, int year, qint64 value)
{
    const QString texts = inList(SeriesNumber::spellings(series, year, value));
    const std::optional<qint64> used = connection().count(
        u"select (select count(*) from tb_receipt where ltrim(receiptNo, '0') in (%1)) + "
        u"(select count(*) from tb_history where ltrim(receiptNo, '0') in (%1))"_s.arg(
            series.isDefault() ? sqlQuote(numberValueKey(QString::number(value))) : texts));
    if (!used)
        return std::nullopt;
    return *used > 0;
}

std::optional<qint64> ReceiptBook::highestUsed(const ReceiptSeries &series, int year, qint64 first,
                                               qint64 last)
{
    const QString condition = rangeCondition(series, year, first, last);
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select receiptNo from tb_receipt where %1 union select receiptNo from tb_history where %1"_s
            .arg(condition));
    if (!rows)
        return std::nullopt;
    qint64 highest = 0;
    while (rows->next()) {
        const std::optional<qint64> value
            = valueIn(series, year, rows->stringForColumnIndex(0).value_or(QString()));
        if (value && *value >= first && *value <= last)
            highest = std::max(highest, *value);
    }
    if (rows->hasError())
        return std::nullopt;
    return highest;
}

std::optional<qint64> ReceiptBook::nextInBooks(const ReceiptSeries &series, int year, qint64 from,
                                               const QList<PaperBook> &books, QString *why,
                                               PaperBook *inUse)
{
    why->clear();
    QList<PaperBook> ordered = books;
    std::sort(ordered.begin(), ordered.end(),
              [](const PaperBook &a, const PaperBook &b) { return a.first < b.first; });
    for (const PaperBook &book : ordered) {
        if (book.returned)
            continue;
        const std::optional<qint64> highest = highestUsed(series, year, book.first, book.last);
        if (!highest)
            return std::nullopt;
        if (*highest >= book.last)
            continue;
        const qint64 next = std::max({book.first, *highest + 1, from});
        if (next > book.last)
            continue;
        if (inUse) {
            *inUse = book;
            inUse->highestUsed = *highest;
            inUse->state = PaperBook::State::InUse;
        }
        return next;
    }
    *why = usedUpText(series);
    return std::nullopt;
}

bool ReceiptBook::nextInSeries(const QString &name, QDate day, SeriesNext *next, QString *error)
{
    bool found = false;
    const std::optional<ReceiptSeries> series = SeriesTables::named(connection(), name, false, &found);
    if (!series)
        return fail(error, u"读取收据类别失败：%1"_s.arg(lastError()));
    if (!found)
        return fail(error, u"没有收据类别“%1”"_s.arg(name));
    const int year = day.year();
    std::optional<qint64> value;
    if (series->isDefault()) {
        value = ReceiptNumbering::storedCounter(connection());
    } else {
        value = SeriesTables::counter(connection(), series->name, SeriesTables::counterYear(*series, year));
    }
    const std::optional<QList<PaperBook>> books
        = SeriesTables::books(connection(), series->isDefault() ? QString() : series->name);
    if (!value || !books)
        return fail(error, u"读取单号失败：%1"_s.arg(lastError()));
    *next = {};
    qint64 from = 0;
    for (;;) {
        if (!books->isEmpty()) {
            QString why;
            PaperBook book;
            const std::optional<qint64> inBook = nextInBooks(*series, year, from, *books, &why, &book);
            if (!inBook)
                return fail(error, why.isEmpty() ? u"读取收据本失败：%1"_s.arg(lastError()) : why);
            value = *inBook;
            next->book = book;
        }
        const std::optional<bool> used = seriesNumberUsed(*series, year, *value);
        if (!used)
            return fail(error, ReceiptNumbering::checkFailedText());
        if (!*used)
            break;
        if (*value == std::numeric_limits<qint64>::max())
            return fail(error, ReceiptNumbering::exhaustedText());
        from = ++*value;
    }
    next->value = *value;
    next->number = series->isDefault()
        ? ReceiptNumbering::numberText({{}, series->numLong, *value})
        : SeriesNumber::text(*series, year, *value);
    return true;
}

std::optional<ReceiptBook::Issue> ReceiptBook::issueInSeriesInOneStatement(const Receipt &receipt,
                                                                          const QString &name,
                                                                          const QString &note)
{
    connection().db().closeIfServerHungUp();
    if (!connection().open())
        return std::nullopt;
    Receipt kept = receipt;
    kept.receiptNo.clear(); // the statement gives it
    kept.createDate = Clock::now();
    kept.receiptDate = QDateTime(kept.receiptDate.date(), QTime(0, 0)); // as stored
    const std::array<QString, ColumnCount> values = columnValues(kept, kept.createDate);
    QStringList parameters {name, QString::number(kept.receiptDate.date().year())};
    for (int column = 0; column < ColumnCount; ++column) {
        if (column != ReceiptNoColumn)
            parameters << values[size_t(column)];
    }
    parameters << stored(Clock::now()) << ReceiptHistory::actionName(HistoryAction::Insert)
               << historyDetail(kept, {}) << deskName() << deskChannel()
               << payloadOf(BookChange {BookChange::Kind::Issued, {kept.id}, {}});
    QStringList placeholders;
    for (qsizetype i = 1; i <= parameters.size(); ++i)
        placeholders << u"$%1"_s.arg(i);
    std::unique_ptr<ResultSet> rows = connection().query(
        u"call quenta_issue_in_series(%1, null, null, null, null)"_s.arg(placeholders.join(u", "_s)),
        parameters);
    if (!rows || !rows->next()) {
        if (connection().db().lastError().kind() != DatabaseError::Kind::ConnectionLost) {
            if (!isProcedureMissing())
                return notSaved(u"保存失败：%1"_s.arg(connection().lastError()));
            bookFacts().seriesIssues = false;
            return std::nullopt;
        }
        // The statement went out and its answer never came: the receipt's id says.
        if (std::optional<Issue> refused = settleLostIssue(kept))
            return *refused;
        std::optional<Receipt> landed;
        read(kept.id, &landed);
        const std::optional<qint64> row = rowOf(kept.id);
        tell(BookChange::Kind::Issued, {kept.id}, {row.value_or(0)});
        Issue result;
        result.saved = true;
        result.receiptNo = landed ? landed->receiptNo : QString();
        result.id = kept.id;
        result.note = u"连接在保存确认之前中断；已查明 No.%1 已经存入账本"_s.arg(result.receiptNo);
        return result;
    }
    const QString outcome = rows->stringForColumnIndex(0).value_or(QString());
    if (outcome == u"missing"_s)
        return notSaved(u"保存失败：没有收据类别“%1”"_s.arg(name));
    if (outcome == u"used up"_s) {
        const std::optional<ReceiptSeries> series = SeriesTables::named(connection(), name, false);
        return notSaved(usedUpText(series.value_or(ReceiptSeries {name})));
    }
    if (outcome != u"issued"_s)
        return std::nullopt; // the transaction decides, and says what went wrong
    Issue result;
    result.saved = true;
    result.receiptNo = rows->stringForColumnIndex(1).value_or(QString());
    const qint64 row = rows->int64ForColumnIndex(2);
    result.nextInSeries = rows->stringForColumnIndex(3).value_or(QString());
    result.id = kept.id;
    result.note = note;
    connection().countOwnServerChanges(1);
    tell(BookChange::Kind::Issued, {kept.id}, {row});
    return result;
}

ReceiptBook::Issue ReceiptBook::issueInSeries(const Receipt &receipt, const QString &name,
                                              const QString &note)
{
    if (dialect().runsProcedures() && bookFacts().seriesIssues) {
        if (std::optional<Issue> result = issueInSeriesInOneStatement(receipt, name, note))
            return *result;
    }
    const auto failed = [this](const QString &what) {
        return notSaved(u"%1：%2"_s.arg(what, connection().lastError()) + keptWhenLost());
    };
    WriteScope transaction(connection());
    if (!transaction.begin())
        return failed(u"保存失败"_s);
    // The series locked first: desks saving at once take its numbers one after another.
    bool found = false;
    const std::optional<ReceiptSeries> series = SeriesTables::named(connection(), name, true, &found);
    if (!series)
        return failed(u"保存失败"_s);
    if (!found)
        return notSaved(u"保存失败：没有收据类别“%1”"_s.arg(name));
    const int year = receipt.receiptDate.date().year();
    const QString counterYear = SeriesTables::counterYear(*series, year);
    const std::optional<qint64> counter = SeriesTables::counter(connection(), series->name, counterYear);
    const std::optional<QList<PaperBook>> books = SeriesTables::books(connection(), series->name);
    if (!counter || !books)
        return failed(u"保存失败"_s);
    qint64 value = *counter;
    qint64 from = 0;
    for (;;) {
        if (!books->isEmpty()) {
            QString why;
            const std::optional<qint64> inBook = nextInBooks(*series, year, from, *books, &why);
            if (!inBook)
                return why.isEmpty() ? failed(u"保存失败"_s) : notSaved(why);
            value = *inBook;
        }
        const std::optional<bool> used = seriesNumberUsed(*series, year, value);
        if (!used)
            return failed(ReceiptNumbering::checkFailedText());
        if (!*used)
            break;
        if (value == std::numeric_limits<qint64>::max())
            return notSaved(ReceiptNumbering::exhaustedText());
        from = ++value;
    }
    Receipt kept = receipt;
    kept.receiptNo = SeriesNumber::text(*series, year, value);
    kept.createDate = Clock::now();
    kept.receiptDate = QDateTime(kept.receiptDate.date(), QTime(0, 0)); // as stored
    if (!connection().write(insertStatement(kept, kept.createDate))
        || !recordHistory(HistoryAction::Insert, kept)
        || !SeriesTables::setCounter(connection(), series->name, counterYear,
                                     std::max(*counter, value < std::numeric_limits<qint64>::max()
                                                            ? value + 1 : value)))
        return failed(u"保存失败"_s);
    const std::optional<qint64> row = rowOf(kept.id);
    if (!row)
        return failed(u"保存失败"_s);
    QString told = note;
    if (!transaction.commit(BookChange {BookChange::Kind::Issued, {kept.id}, {*row}})) {
        if (!transaction.outcomeUnknown())
            return failed(u"保存失败"_s);
        if (std::optional<Issue> refused = settleLostIssue(kept))
            return *refused;
        told = u"连接在保存确认之前中断；已查明 No.%1 已经存入账本"_s.arg(kept.receiptNo);
    }
    tell(BookChange::Kind::Issued, {kept.id}, {*row});
    Issue result;
    result.saved = true;
    result.receiptNo = kept.receiptNo;
    result.counter = value + 1;
    result.id = kept.id;
    result.note = told;
    return result;
}

bool ReceiptBook::readNumberUses(const ReceiptSeries &series, int year, qint64 first, qint64 last,
                                 QList<NumberUse> *uses, QString *error)
{
    uses->clear();
    const QString condition = rangeCondition(series, year, first, last);
    std::map<qint64, NumberUse> byValue;
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select receiptNo, action, receiptId, time, detail from tb_history where action in "
        u"('spoil', 'delete') and %1 order by id"_s.arg(condition));
    if (!rows)
        return fail(error, u"读取收据本的单号失败：%1"_s.arg(lastError()));
    while (rows->next()) {
        const QString number = rows->stringForColumnIndex(0).value_or(QString());
        const std::optional<qint64> value = valueIn(series, year, number);
        if (!value || *value < first || *value > last)
            continue;
        NumberUse use;
        use.value = *value;
        use.receiptNo = number;
        const bool spoiled = rows->stringForColumnIndex(1) == u"spoil"_s;
        use.kind = spoiled ? NumberUse::Kind::Spoiled : NumberUse::Kind::Deleted;
        use.receiptId = rows->stringForColumnIndex(2).value_or(QString());
        use.date = parseDateText(rows->stringForColumnIndex(3).value_or(QString()), DateText::dateTime);
        const QJsonObject detail
            = QJsonDocument::fromJson(rows->stringForColumnIndex(4).value_or(QString()).toUtf8()).object();
        if (spoiled) {
            use.reason = detail.value(u"spoilReason"_s).toString();
            use.renumbered = detail.value(u"renumbered"_s).toString();
        } else
            use.total = detail.value(u"total"_s).toString().toDouble();
        // A spoiled form stays spoiled, whatever came after.
        const auto it = byValue.find(*value);
        if (it == byValue.end() || it->second.kind != NumberUse::Kind::Spoiled)
            byValue[*value] = use;
    }
    if (rows->hasError())
        return fail(error, u"读取收据本的单号失败：%1"_s.arg(rows->error().message()));
    rows = connection().query(
        u"select r.receiptNo, r.id, r.receiptDate, r.total, r.isDeleted, v.reason from tb_receipt r "
        u"left join tb_void v on v.receiptId = r.id where %1"_s.arg(
            QString(condition).replace(u"receiptNo"_s, u"r.receiptNo"_s)));
    if (!rows)
        return fail(error, u"读取收据本的单号失败：%1"_s.arg(lastError()));
    while (rows->next()) {
        const QString number = rows->stringForColumnIndex(0).value_or(QString());
        const std::optional<qint64> value = valueIn(series, year, number);
        if (!value || *value < first || *value > last)
            continue;
        NumberUse use;
        use.value = *value;
        use.receiptNo = number;
        use.receiptId = rows->stringForColumnIndex(1).value_or(QString());
        use.date = parseDateText(rows->stringForColumnIndex(2).value_or(QString()), DateText::dateTime);
        use.total = rows->stringForColumnIndex(3).value_or(QString()).toDouble();
        const std::optional<QString> reason = rows->stringForColumnIndex(5);
        if (rows->int64ForColumnIndex(4) == 1)
            use.kind = NumberUse::Kind::Deleted;
        else if (reason)
            use.kind = NumberUse::Kind::Voided;
        use.reason = reason.value_or(QString());
        // A spoiled form stays spoiled, whatever receipt came to carry its number since.
        const auto it = byValue.find(*value);
        if (it == byValue.end() || it->second.kind != NumberUse::Kind::Spoiled)
            byValue[*value] = use;
    }
    if (rows->hasError())
        return fail(error, u"读取收据本的单号失败：%1"_s.arg(rows->error().message()));
    for (const auto &[value, use] : byValue)
        uses->append(use);
    return true;
}

bool ReceiptBook::readSpoiledOn(QDate day, QList<NumberUse> *spoiled, QString *error)
{
    spoiled->clear();
    const QString begin = day.toString(u"yyyy-MM-dd"_s);
    std::unique_ptr<ResultSet> rows = connection().query(
        u"select receiptNo, receiptId, time, detail from tb_history where action = 'spoil' and "
        u"receiptNo is not null and time >= $1 and time < $2 order by id"_s,
        {begin, day.addDays(1).toString(u"yyyy-MM-dd"_s)});
    if (!rows)
        return fail(error, u"读取废票失败：%1"_s.arg(lastError()));
    while (rows->next()) {
        NumberUse use;
        use.kind = NumberUse::Kind::Spoiled;
        use.receiptNo = rows->stringForColumnIndex(0).value_or(QString());
        use.receiptId = rows->stringForColumnIndex(1).value_or(QString());
        use.date = parseDateText(rows->stringForColumnIndex(2).value_or(QString()), DateText::dateTime);
        const QJsonObject detail
            = QJsonDocument::fromJson(rows->stringForColumnIndex(3).value_or(QString()).toUtf8()).object();
        use.reason = detail.value(u"spoilReason"_s).toString();
        use.renumbered = detail.value(u"renumbered"_s).toString();
        spoiled->append(use);
    }
    if (rows->hasError())
        return fail(error, u"读取废票失败：%1"_s.arg(rows->error().message()));
    return true;
}

bool ReceiptBook::spoil(const QString &typed, const QString &reasonTyped, Spoiled *spoiled,
                        QString *error)
{
    const QString reason = reasonTyped.trimmed();
    if (reason.isEmpty())
        return fail(error, u"请填写废票原因（卡纸、打错等）"_s);
    if (reason.size() > 200)
        return fail(error, u"废票原因不能超过 200 个字"_s);
    const QString number = ReceiptNumber::trimmed(typed);
    WriteScope transaction(connection());
    if (!transaction.begin())
        return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
    const std::optional<QList<ReceiptSeries>> all = SeriesTables::all(connection(), error);
    if (!all)
        return false;
    const std::optional<SeriesNumber::Identity> identity = SeriesNumber::identify(number, *all);
    if (!identity)
        return fail(error, u"“%1”不是本账本任何类别的单号"_s.arg(number));
    // Locked as a save locks it: the number a desk is about to issue is not spoiled under it.
    bool found = false;
    const std::optional<ReceiptSeries> series
        = SeriesTables::named(connection(), all->at(identity->series).name, true, &found);
    if (!series || !found)
        return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
    const int year = identity->year;
    const qint64 value = identity->value;
    const QString key = series->isDefault() ? QString() : series->name;
    const std::optional<QList<PaperBook>> books = SeriesTables::books(connection(), key);
    if (!books)
        return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
    const auto book = std::find_if(books->begin(), books->end(),
                                   [value](const PaperBook &b) { return b.holds(value); });
    if (!books->isEmpty() && (book == books->end() || book->returned))
        return fail(error, u"No.%1 不在未缴销的收据本内"_s.arg(number));

    // What the number is now: a receipt's (live, voided, deleted) or free, spoiled already.
    QList<NumberUse> uses;
    if (!readNumberUses(*series, year, value, value, &uses, error))
        return false;
    const QString counterYear = SeriesTables::counterYear(*series, year);
    const std::optional<qint64> counter = series->isDefault()
        ? ReceiptNumbering::storedCounter(connection())
        : SeriesTables::counter(connection(), series->name, counterYear);
    if (!counter)
        return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
    std::optional<Receipt> receipt;
    if (!uses.isEmpty()) {
        const NumberUse &use = uses.front();
        switch (use.kind) {
        case NumberUse::Kind::Spoiled:
            return fail(error, u"No.%1 已登记为废票"_s.arg(number));
        case NumberUse::Kind::Voided:
            return fail(error, u"No.%1 已作废：作废的收据不再登记废票"_s.arg(use.receiptNo));
        case NumberUse::Kind::Deleted:
            return fail(error, u"No.%1 的收据已删除，不能登记废票"_s.arg(use.receiptNo));
        case NumberUse::Kind::Issued:
            receipt = readNow(use.receiptId);
            if (!receipt)
                return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
            break;
        }
    } else {
        // A form not reached yet is still in the book: only the one in the printer, or one
        // passed over, is spoiled.
        QString why;
        std::optional<qint64> reached = *counter;
        if (!books->isEmpty())
            reached = nextInBooks(*series, year, 0, *books, &why);
        if (reached && value > *reached)
            return fail(error, u"No.%1 还没有用到：下一张收据是 No.%2"_s.arg(
                                   number, series->isDefault()
                                       ? ReceiptNumbering::numberText({{}, series->numLong, *reached})
                                       : SeriesNumber::text(*series, year, *reached)));
    }
    const QString spoiledText = receipt ? receipt->receiptNo
        : series->isDefault()           ? ReceiptNumbering::numberText({{}, series->numLong, value})
                                        : SeriesNumber::text(*series, year, value);
    const std::optional<QString> desk = historyDesk();
    QJsonObject detail;
    detail.insert(u"spoilReason"_s, reason);
    detail.insert(u"spoiled"_s, spoiledText);
    qint64 nextCounter = std::max(*counter, value + 1);
    std::optional<qint64> row;
    if (receipt) {
        // The receipt meant for the form goes to the next free number of its series, past
        // the spoiled one (its record below already holds that one).
        qint64 candidate = std::max(*counter, value + 1);
        qint64 from = candidate;
        for (;;) {
            if (!books->isEmpty()) {
                QString why;
                const std::optional<qint64> inBook = nextInBooks(*series, year, from, *books, &why);
                if (!inBook)
                    return fail(error, why.isEmpty() ? u"登记废票失败：%1"_s.arg(lastError()) : why);
                candidate = *inBook;
            }
            const std::optional<bool> used = seriesNumberUsed(*series, year, candidate);
            if (!used)
                return fail(error, ReceiptNumbering::checkFailedText());
            if (!*used && candidate != value)
                break;
            from = ++candidate;
        }
        Receipt moved = *receipt;
        moved.receiptNo = series->isDefault()
            ? ReceiptNumbering::numberText({{}, series->numLong, candidate})
            : SeriesNumber::text(*series, year, candidate);
        detail.insert(u"renumbered"_s, moved.receiptNo);
        if (!connection().write(u"update tb_receipt set receiptNo = %1 where id = %2"_s.arg(
                                    sqlQuote(moved.receiptNo), sqlQuote(moved.id)),
                                SQLiteHelper::Changes::AtLeastOne))
            return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
        // The record names the spoiled number and holds the receipt as it is now.
        QJsonObject whole = ReceiptHistory::toJson(moved);
        for (auto it = detail.constBegin(); it != detail.constEnd(); ++it)
            whole.insert(it.key(), it.value());
        if (!connection().write(historyInsert(desk.has_value())
                                    + u"(%1, 'spoil', %2, %3, %4%5);"_s.arg(
                                        sqlQuote(stored(Clock::now())), sqlQuote(moved.id),
                                        sqlQuote(spoiledText),
                                        sqlQuote(QString::fromUtf8(QJsonDocument(whole).toJson(QJsonDocument::Compact))),
                                        desk ? u", "_s + sqlQuote(*desk) : QString()),
                                SQLiteHelper::Changes::AtLeastOne))
            return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
        nextCounter = std::max(nextCounter, candidate + 1);
        row = rowOf(moved.id);
        if (spoiled)
            *spoiled = {spoiledText, moved.id, moved.receiptNo};
    } else {
        if (!connection().write(historyInsert(desk.has_value())
                                    + u"(%1, 'spoil', null, %2, %3%4);"_s.arg(
                                        sqlQuote(stored(Clock::now())), sqlQuote(spoiledText),
                                        sqlQuote(QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact))),
                                        desk ? u", "_s + sqlQuote(*desk) : QString()),
                                SQLiteHelper::Changes::AtLeastOne))
            return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
        if (spoiled)
            *spoiled = {spoiledText, {}, {}};
    }
    // The counter moves past the numbers the spoil used, never back.
    bool counted = true;
    if (nextCounter > *counter) {
        if (series->isDefault()) {
            const std::optional<ReceiptNoSetting> setting = ReceiptNumbering::stored(connection());
            counted = setting
                && connection().write(ReceiptNumbering::saveStatement({{}, setting->numLong, nextCounter}));
        } else {
            counted = SeriesTables::setCounter(connection(), series->name, counterYear, nextCounter);
        }
    }
    const std::optional<BookChange> told = receipt && row
        ? std::optional<BookChange>(BookChange {BookChange::Kind::Updated, {receipt->id}, {*row}})
        : std::nullopt;
    if (!counted || !transaction.commit(told))
        return fail(error, u"登记废票失败：%1"_s.arg(lastError()));
    bookFacts().spoiledForms.reset();
    if (told)
        tell(told->kind, told->ids, told->rows);
    return true;
}

QHash<QString, QString> ReceiptBook::knownSpoiledForms()
{
    BookFacts &facts = bookFacts();
    if (!facts.spoiledForms) {
        QHash<QString, QString> forms;
        // Along the index of spoiled forms only.
        std::unique_ptr<ResultSet> rows = connection().query(
            u"select receiptId, receiptNo, detail from tb_history where action = 'spoil' and "
            u"receiptId is not null order by id"_s);
        while (rows && rows->next()) {
            const QJsonObject detail = QJsonDocument::fromJson(
                rows->stringForColumnIndex(2).value_or(QString()).toUtf8()).object();
            QString &text = forms[rows->stringForColumnIndex(0).value_or(QString())];
            if (!text.isEmpty())
                text += u"、"_s;
            text += u"No.%1（%2）"_s.arg(rows->stringForColumnIndex(1).value_or(QString()),
                                       detail.value(u"spoilReason"_s).toString());
        }
        // Unread (a lock held elsewhere): no mark until the book changes, rather than a wait
        // for the lock at every cell drawn.
        facts.spoiledForms = (!rows || rows->hasError()) ? QHash<QString, QString>() : forms;
    }
    return *facts.spoiledForms;
}
