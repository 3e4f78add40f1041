// SPDX-License-Identifier: GPL-3.0-or-later
#include "formnumber.h"

#include "failure.h"
#include "receiptbook.h"
#include "receiptnumber.h"
#include "receiptnumbering.h"
#include "seriestables.h"
#include "sqlitehelper.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString textOf(const ReceiptSeries &series, int year, qint64 value)
{
    return series.isDefault() ? ReceiptNumbering::numberText({{}, series.numLong, value})
                              : SeriesNumber::text(series, year, value);
}

// The value of `number` when it is a number of `series` (of `year`, where its prefix names
// one); plain digits count as one of any series.
std::optional<qint64> valueIn(const ReceiptSeries &series, int year, const QString &number)
{
    if (ReceiptNumber::isPlain(number)) {
        const QString digits = ReceiptNumber::valueDigits(number);
        if (digits.size() > 18)
            return std::nullopt;
        return digits.toLongLong();
    }
    const std::optional<SeriesNumber::Identity> identity = SeriesNumber::identify(number, {series});
    if (!identity || (identity->year != 0 && identity->year != year))
        return std::nullopt;
    return identity->value;
}

// What the history says of one receipt: printed under `value` (its number now), printed under
// another number, and the spoiled form it was meant for.
struct Past
{
    bool printedAsNow = false;
    bool printedOtherwise = false;
    QString spoiled;
};

bool readPast(const QString &id, const ReceiptSeries &series, int year, qint64 value, Past *past,
              QString *error)
{
    *past = {};
    QString reason;
    const std::optional<QList<HistoryEntry>> history
        = ReceiptBook::shared().history({}, {}, {}, id, &reason);
    if (!history)
        return fail(error, u"读取收据的历史失败：%1"_s.arg(reason));
    for (const HistoryEntry &entry : *history) {
        if (entry.action == HistoryAction::Print) {
            (valueIn(series, year, entry.receiptNo) == value ? past->printedAsNow
                                                              : past->printedOtherwise)
                = true;
        } else if (entry.action == HistoryAction::Spoil && past->spoiled.isEmpty()) {
            past->spoiled = entry.receiptNo;
        }
    }
    return true;
}

// The lowest number of `book` that no page was printed on and no spoiled form took (past its
// last when there is none left), read up from its first: a number with no use, or one whose
// receipt was never printed under it, has its form still blank.
std::optional<qint64> nextBlankForm(const ReceiptSeries &series, int year, const PaperBook &book,
                                    QString *error)
{
    QList<ReceiptBook::NumberUse> uses;
    if (!ReceiptBook::shared().readNumberUses(series, year, book.first, book.last, &uses, error))
        return std::nullopt;
    qint64 next = book.first;
    for (const ReceiptBook::NumberUse &use : std::as_const(uses)) {
        if (use.value != next)
            break;
        if (use.kind != ReceiptBook::NumberUse::Kind::Spoiled) {
            Past past;
            if (use.receiptId.isEmpty())
                break;
            if (!readPast(use.receiptId, series, year, use.value, &past, error))
                return std::nullopt;
            if (!past.printedAsNow)
                break;
        }
        ++next;
    }
    return next;
}

} // namespace

bool FormNumber::ask(const PrintOptions &options, const QList<std::optional<Receipt>> &receipts,
                     Question *question, QString *error)
{
    *question = {};
    if (!options.leavesNumberToForm())
        return true;
    // The numbers as the book has them now: a spoiled form may have moved a receipt since the
    // copy to be printed was read.
    QList<Receipt> pages;
    for (const std::optional<Receipt> &copy : receipts) {
        if (!copy || copy->id.isEmpty())
            continue;
        std::optional<Receipt> now;
        QString reason;
        if (!ReceiptBook::shared().read(copy->id, &now, &reason))
            return fail(error, reason);
        pages.append(now.value_or(*copy));
    }
    if (pages.isEmpty())
        return true;
    const std::optional<QList<ReceiptSeries>> all = SeriesTables::all(SQLiteHelper::shared(), error);
    if (!all)
        return false;

    const Receipt &first = pages.constFirst();
    question->receiptNo = first.receiptNo;
    question->expected = first.receiptNo;
    question->pages = pages.size();
    const std::optional<SeriesNumber::Identity> identity = SeriesNumber::identify(first.receiptNo, *all);
    if (identity) {
        question->series = all->at(identity->series);
        question->year = identity->year;
        question->value = identity->value;
    } else {
        // A number no series gives (another program's): judged by its text.
        question->value = -1;
    }

    // Several pages go on the forms after the first, one each: only receipts that follow
    // each other, none of them printed before, are sure to find their own.
    for (qsizetype page = 1; page < pages.size(); ++page) {
        const Receipt &receipt = pages.at(page);
        const std::optional<SeriesNumber::Identity> next = SeriesNumber::identify(receipt.receiptNo, *all);
        if (!identity || !next || next->series != identity->series || next->year != identity->year
            || next->value != identity->value + page)
            return fail(error, u"收据纸上已印单号，一次只能打印单号相连的收据：No.%1 之后是 No.%2。"
                               u"请逐张打印或选单号相连的收据"_s
                                   .arg(pages.at(page - 1).receiptNo, receipt.receiptNo));
        Past past;
        if (!readPast(receipt.id, question->series, question->year, next->value, &past, error))
            return false;
        if (past.printedAsNow || past.printedOtherwise || !past.spoiled.isEmpty())
            return fail(error, u"No.%1 打印过或在废票后改过单号：收据纸上已印单号，请单独打印这张收据"_s
                                   .arg(receipt.receiptNo));
    }

    Past past;
    if (!readPast(first.id, question->series, question->year, question->value, &past, error))
        return false;
    if (past.printedAsNow || (past.printedOtherwise && past.spoiled.isEmpty()))
        question->reasons << u"No.%1 打印过，这次是补打"_s.arg(first.receiptNo);
    if (!past.spoiled.isEmpty())
        question->reasons << u"No.%1 是 No.%2 登记废票后改用的单号"_s.arg(first.receiptNo, past.spoiled);

    // The form the book expects in the printer: the next blank one of the receipt's book.
    if (identity) {
        const QString key = question->series.isDefault() ? QString() : question->series.name;
        const std::optional<QList<PaperBook>> books = SeriesTables::books(SQLiteHelper::shared(), key);
        if (!books)
            return fail(error, u"读取收据本失败：%1"_s.arg(SQLiteHelper::shared().lastError()));
        const auto book = std::find_if(books->cbegin(), books->cend(), [&](const PaperBook &b) {
            return b.holds(question->value);
        });
        if (book == books->cend() && !books->isEmpty()) {
            question->reasons << u"No.%1 不在登记的收据本内"_s.arg(first.receiptNo);
        } else if (book != books->cend()) {
            const std::optional<qint64> blank
                = nextBlankForm(question->series, question->year, *book, error);
            if (!blank)
                return false;
            const QString range = SeriesTables::rangeText(*book, question->series);
            if (*blank > book->last) {
                question->reasons << u"收据本 %1 的收据纸都已打印过"_s.arg(range);
            } else if (*blank != question->value) {
                question->expected = textOf(question->series, question->year, *blank);
                question->reasons
                    << u"收据本 %1 中下一张未打印的收据纸是 No.%2"_s.arg(range, question->expected);
            }
        }
    }
    question->needed = !question->reasons.isEmpty();
    return true;
}

QString FormNumber::refusal(const Question &question, const QString &typed)
{
    const QString number = ReceiptNumber::trimmed(typed);
    if (number.isEmpty())
        return u"请填写打印机中收据纸上印的单号"_s;
    std::optional<qint64> value;
    if (question.value >= 0) {
        value = valueIn(question.series, question.year, number);
        if (value == question.value)
            return {};
    } else if (number == question.receiptNo
               || (ReceiptNumber::isPlain(number) && ReceiptNumber::isPlain(question.receiptNo)
                   && ReceiptNumber::valueDigits(number)
                       == ReceiptNumber::valueDigits(question.receiptNo))) {
        return {};
    }
    if (std::none_of(number.cbegin(), number.cend(), [](QChar c) { return c.isDigit(); }))
        return u"“%1”不是单号：请填写打印机中收据纸上印的单号"_s.arg(number);
    const QString shown = value ? textOf(question.series, question.year, *value) : number;
    const QString which = question.pages > 1 ? u"要打印的第一张收据"_s : u"这张收据"_s;
    return u"打印机中收据纸的单号 No.%1 与%2 No.%3 不同：请放入 No.%3 的收据纸；%1 如已损坏，"
           u"请先登记废票"_s
        .arg(shown, which, question.receiptNo);
}
