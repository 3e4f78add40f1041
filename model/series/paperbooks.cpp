// SPDX-License-Identifier: GPL-3.0-or-later
#include "paperbooks.h"

#include "clock.h"
#include "failure.h"
#include "money.h"
#include "seriesstore.h"
#include "sqlitehelper.h"
#include "transaction.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 largestBook = 10000;

QString keyOf(const QString &series)
{
    return series == SeriesNumber::defaultName() ? QString() : series;
}

std::optional<ReceiptSeries> seriesOf(const QList<ReceiptSeries> &all, const QString &key)
{
    for (const ReceiptSeries &series : all) {
        if (key.isEmpty() ? series.isDefault() : series.name == key)
            return series;
    }
    return std::nullopt;
}

// The states of books as their numbers say, the earliest of each series with numbers left
// in use.
bool judge(QList<PaperBook> &books, const QList<ReceiptSeries> &all, QString *error)
{
    ReceiptBook &book = ReceiptBook::shared();
    QSet<QString> inUse;
    for (PaperBook &paper : books) {
        const std::optional<ReceiptSeries> series = seriesOf(all, paper.series);
        if (!series)
            continue;
        const std::optional<qint64> highest = book.highestUsed(*series, 0, paper.first, paper.last);
        if (!highest)
            return fail(error, u"读取收据本的单号失败：%1"_s.arg(SQLiteHelper::shared().lastError()));
        paper.highestUsed = *highest;
        if (paper.returned)
            paper.state = PaperBook::State::Returned;
        else if (*highest >= paper.last)
            paper.state = PaperBook::State::UsedUp;
        else if (!inUse.contains(paper.series)) {
            paper.state = PaperBook::State::InUse;
            inUse.insert(paper.series);
        } else {
            paper.state = PaperBook::State::Unused;
        }
    }
    return true;
}

QString shownName(const QString &key)
{
    return key.isEmpty() ? SeriesNumber::defaultName() : key;
}

QString numberOf(const ReceiptSeries &series, qint64 value)
{
    return SeriesNumber::text(series, 0, value);
}

} // namespace

bool PaperBooks::list(QList<PaperBook> *books, QString *error)
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    const std::optional<QList<ReceiptSeries>> all = SeriesTables::all(helper, error);
    if (!all)
        return false;
    const std::optional<QList<PaperBook>> stored = SeriesTables::books(helper);
    if (!stored)
        return fail(error, u"读取收据本失败：%1"_s.arg(helper.lastError()));
    *books = *stored;
    return judge(*books, *all, error);
}

bool PaperBooks::accounts(QList<Account> *accounts, QString *error)
{
    accounts->clear();
    QList<PaperBook> books;
    if (!list(&books, error))
        return false;
    const std::optional<QList<ReceiptSeries>> all = SeriesTables::all(SQLiteHelper::shared(), error);
    if (!all)
        return false;
    for (const PaperBook &book : books) {
        Account account;
        account.book = book;
        account.series = seriesOf(*all, book.series).value_or(ReceiptSeries {shownName(book.series), u"?"_s});
        if (!ReceiptBook::shared().readNumberUses(account.series, 0, book.first, book.last,
                                                  &account.uses, error))
            return false;
        qint64 expected = book.first;
        for (const ReceiptBook::NumberUse &use : account.uses) {
            for (; expected < use.value; ++expected)
                account.unusedNumbers.append(expected);
            expected = use.value + 1;
            switch (use.kind) {
            case ReceiptBook::NumberUse::Kind::Issued:
                ++account.issued;
                account.issuedFen += Money::fenFromYuan(use.total).value_or(0);
                break;
            case ReceiptBook::NumberUse::Kind::Voided:
                ++account.voided;
                break;
            case ReceiptBook::NumberUse::Kind::Deleted:
                ++account.deleted;
                break;
            case ReceiptBook::NumberUse::Kind::Spoiled:
                ++account.spoiled;
                break;
            }
        }
        for (; expected <= book.last; ++expected)
            account.unusedNumbers.append(expected);
        account.unused = account.unusedNumbers.size();
        accounts->append(account);
    }
    return true;
}

QString PaperBooks::line(const Account &account)
{
    return u"%1 %2-%3 已开 %4 作废 %5 废票 %6 未用 %7 %8"_s.arg(
        shownName(account.book.series), numberOf(account.series, account.book.first),
        numberOf(account.series, account.book.last), QString::number(account.issued),
        QString::number(account.voided + account.deleted), QString::number(account.spoiled),
        QString::number(account.unused), SeriesTables::stateText(account.book.state));
}

bool PaperBooks::add(const QString &seriesName, qint64 first, qint64 last, const QString &holder,
                     PaperBook *added, QString *error)
{
    const QString key = keyOf(seriesName);
    if (first < 1 || last < first)
        return fail(error, u"收据本的起止单号有误：起始单号须不小于 1，且不大于终止单号"_s);
    if (last - first + 1 > largestBook)
        return fail(error, u"一本收据本最多 %1 张（%2 张太多）"_s.arg(largestBook).arg(last - first + 1));
    if (holder.size() > 40)
        return fail(error, u"领用人不能超过 40 个字"_s);
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    if (!helper.open() || !transaction.begin())
        return fail(error, u"登记收据本失败：%1"_s.arg(helper.lastError()));
    // The series locked as a save locks it: a desk does not issue from a book half made.
    bool found = false;
    const std::optional<ReceiptSeries> series = SeriesTables::named(helper, key, true, &found);
    if (!series)
        return fail(error, u"登记收据本失败：%1"_s.arg(helper.lastError()));
    if (!found)
        return fail(error, u"没有收据类别“%1”"_s.arg(seriesName));
    if (series->yearly || series->prefix.contains(QString::fromUtf16(SeriesNumber::yearToken)))
        return fail(error, u"类别“%1”的单号带年份或每年从 1 开始，印好单号的收据本不能用于它"_s.arg(series->name));
    if (QString::number(last).size() > 18)
        return fail(error, u"终止单号太大"_s);
    const std::optional<QList<PaperBook>> books = SeriesTables::books(helper, key);
    if (!books)
        return fail(error, u"登记收据本失败：%1"_s.arg(helper.lastError()));
    for (const PaperBook &other : *books) {
        if (first <= other.last && other.first <= last)
            return fail(error, u"与已登记的收据本 %1 重叠"_s.arg(SeriesTables::rangeText(other, *series)));
    }
    PaperBook book;
    book.series = key;
    book.first = first;
    book.last = last;
    book.holder = holder.trimmed();
    book.registered = Clock::now();
    book.desk = ReceiptBook::deskName();
    const QString what = u"%1 %2%3"_s.arg(series->name, SeriesTables::rangeText(book, *series),
                                          book.holder.isEmpty() ? QString() : u"，领用人 "_s + book.holder);
    if (!SeriesTables::addBook(helper, book)
        || !ReceiptBook::shared().recordSetting(u"收据本"_s, {{u"登记"_s, QJsonArray {QJsonValue(), what}}})
        || !transaction.commit())
        return fail(error, u"登记收据本失败：%1"_s.arg(helper.lastError()));
    if (added)
        *added = book;
    if (SharedInstance<ReceiptSeriesStore>::exists())
        ReceiptSeriesStore::shared().reload();
    return true;
}

bool PaperBooks::returnBook(const QString &seriesName, qint64 number, QString *error)
{
    const QString key = keyOf(seriesName);
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    if (!helper.open() || !transaction.begin())
        return fail(error, u"缴销失败：%1"_s.arg(helper.lastError()));
    bool found = false;
    const std::optional<ReceiptSeries> series = SeriesTables::named(helper, key, true, &found);
    if (!series || !found)
        return fail(error, found ? u"缴销失败：%1"_s.arg(helper.lastError())
                                 : u"没有收据类别“%1”"_s.arg(seriesName));
    const std::optional<QList<PaperBook>> books = SeriesTables::books(helper, key);
    if (!books)
        return fail(error, u"缴销失败：%1"_s.arg(helper.lastError()));
    const auto book = std::find_if(books->begin(), books->end(),
                                   [number](const PaperBook &b) { return b.holds(number); });
    if (book == books->end())
        return fail(error, u"没有登记含单号 %1 的收据本"_s.arg(numberOf(*series, number)));
    const QString range = SeriesTables::rangeText(*book, *series);
    if (book->returned)
        return fail(error, u"收据本 %1 已缴销"_s.arg(range));
    QList<ReceiptBook::NumberUse> uses;
    if (!ReceiptBook::shared().readNumberUses(*series, 0, book->first, book->last, &uses, error))
        return false;
    QStringList missing;
    qint64 count = 0;
    qint64 expected = book->first;
    const auto note = [&](qint64 value) {
        ++count;
        if (missing.size() < 10)
            missing << numberOf(*series, value);
    };
    for (const ReceiptBook::NumberUse &use : uses) {
        for (; expected < use.value; ++expected)
            note(expected);
        expected = use.value + 1;
    }
    for (; expected <= book->last; ++expected)
        note(expected);
    if (count > 0)
        return fail(error, u"收据本 %1 还有 %2 个单号没有着落：%3%4。开出、作废或登记废票之后才能缴销"_s.arg(
                               range, QString::number(count), missing.join(u"、"_s),
                               count > missing.size() ? u" 等"_s : QString()));
    if (!SeriesTables::markReturned(helper, *book, Clock::now())
        || !ReceiptBook::shared().recordSetting(u"收据本"_s, {{u"缴销"_s, QJsonArray {QJsonValue(), u"%1 %2"_s.arg(series->name, range)}}})
        || !transaction.commit())
        return fail(error, u"缴销失败：%1"_s.arg(helper.lastError()));
    if (SharedInstance<ReceiptSeriesStore>::exists())
        ReceiptSeriesStore::shared().reload();
    return true;
}

std::optional<PaperBook> PaperBooks::bookOf(const QString &series, qint64 value)
{
    const std::optional<QList<PaperBook>> books = SeriesTables::books(SQLiteHelper::shared(), keyOf(series));
    if (!books)
        return std::nullopt;
    for (const PaperBook &book : *books) {
        if (book.holds(value))
            return book;
    }
    return std::nullopt;
}
