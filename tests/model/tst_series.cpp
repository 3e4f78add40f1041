// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "bookcare.h"
#include "bookproof.h"
#include "clock.h"
#include "dayreport.h"
#include "paperbooks.h"
#include "receiptbook.h"
#include "receiptimport.h"
#include "receiptnostore.h"
#include "seriesstore.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

using namespace Qt::StringLiterals;

// Series of numbers and the paper books they are printed on: each series numbered apart, a
// yearly one starting again on 1 January, numbers that follow the book in the printer, a
// spoiled form, a book returned only when each of its numbers is accounted for; on either
// engine and with several desks at once.
class tst_Series : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
        Clock::pin(QDateTime(QDate(2024, 5, 2), QTime(9, 30)));
    }
    void cleanup()
    {
        m_env.reset();
        Clock::unpin();
    }

    void seriesAreNumberedApart();
    void aYearlySeriesStartsAgainOnTheFirstOfJanuary();
    void numbersFollowThePaperBook();
    void spoiledFormsAreAccountedFor();
    void importTakesOnlyKnownPrefixes();
    void desksTakeNumbersFromOnePaperBook();

private:
    // A new receipt saved as the form saves it, in the form's series; its number.
    static QString save(const QString &payer, QDate day = {}, QString *error = nullptr)
    {
        AppStore &store = AppStore::shared();
        store.newReceipt();
        Receipt edit = store.receiptEdit();
        edit.id.clear();
        edit.payer = payer;
        edit.reason1 = u"学费"_s;
        edit.total = 100;
        if (day.isValid())
            edit.receiptDate = QDateTime(day, QTime(0, 0));
        store.setReceiptEdit(edit);
        QString why;
        if (!store.insertReceipt(&why)) {
            if (error)
                *error = why;
            return {};
        }
        return store.receiptEdit().receiptNo;
    }
    static void useSeries(const QString &name)
    {
        ReceiptSeriesStore::shared().setCurrent(name);
        ReceiptNoStore::shared().nextReceiptNo();
    }
    static QString shown() { return AppStore::shared().receiptEdit().receiptNo; }
    bool proves()
    {
        BookProof::Verdict verdict;
        QString error;
        return BookCare::verify({}, &verdict, &error) && verdict.whole;
    }
    static QStringList lines()
    {
        QList<PaperBooks::Account> accounts;
        QStringList found;
        if (!PaperBooks::accounts(&accounts))
            return {u"unread"_s};
        for (const PaperBooks::Account &account : accounts)
            found << PaperBooks::line(account);
        return found;
    }

    std::unique_ptr<TestEnvironment> m_env;
};

void tst_Series::seriesAreNumberedApart()
{
    ReceiptSeriesStore &series = ReceiptSeriesStore::shared();
    QVERIFY(!series.hasSeveral());
    QString error;
    QVERIFY2(series.add({u"学费"_s, u"XF{yyyy}-"_s, 4, true}, &error), qPrintable(error));
    QVERIFY2(series.add({u"物业费"_s, u"WY-"_s, 5, false}, &error), qPrintable(error));
    // Two prefixes that can print alike, a prefix ending in a digit, a yearly series without
    // its year, a look-alike character: refused, each with why.
    QVERIFY(!series.add({u"乙"_s, u"XF2026-"_s, 4, false}, &error));
    QVERIFY(error.contains(u"学费"_s));
    QVERIFY(!series.add({u"丙"_s, u"AB{yyyy}"_s, 4, false}, &error));
    QVERIFY(!series.add({u"丁"_s, u"QT-"_s, 4, true}, &error));
    QVERIFY(!series.add({u"戊"_s, u"Ｗ\u200B-"_s, 4, false}, &error));
    QCOMPARE(series.series().size(), 3);

    // The book's own numbering goes on as before, beside the others.
    QCOMPARE(save(u"甲"_s), u"0000001"_s);
    useSeries(u"学费"_s);
    QCOMPARE(shown(), u"XF2024-0001"_s);
    QCOMPARE(save(u"乙"_s), u"XF2024-0001"_s);
    QCOMPARE(save(u"丙"_s), u"XF2024-0002"_s);
    useSeries(u"物业费"_s);
    QCOMPARE(save(u"丁"_s), u"WY-00001"_s);
    useSeries({});
    QCOMPARE(save(u"戊"_s), u"0000002"_s);
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"3"_s);
    // Remembered, as the payment method is.
    useSeries(u"学费"_s);
    SharedInstance<ReceiptSeriesStore>::reset();
    QCOMPARE(ReceiptSeriesStore::shared().current(), u"学费"_s);

    // The full number everywhere: found by it, in the history, and the book proves.
    std::optional<QString> id;
    QVERIFY(ReceiptBook::shared().readIdOfNumber(u"XF2024-0002"_s, &id));
    QVERIFY(id);
    const std::optional<QList<HistoryEntry>> history = ReceiptBook::shared().history(u"XF2024"_s);
    QVERIFY(history);
    QCOMPARE(history->size(), 2);
    QVERIFY(proves());
    // Another program storing a series number in another padding: the next is past it.
    QVERIFY(m_env->storeReceipt(u"OTHER"_s, u"XF2024-03"_s, dayText()));
    ReceiptBook::SeriesNext next;
    QVERIFY(ReceiptBook::shared().nextInSeries(u"学费"_s, QDate(2024, 5, 2), &next));
    QCOMPARE(next.number, u"XF2024-0004"_s);
}

void tst_Series::aYearlySeriesStartsAgainOnTheFirstOfJanuary()
{
    QVERIFY(ReceiptSeriesStore::shared().add({u"学费"_s, u"XF{yyyy}-"_s, 4, true}));
    QVERIFY(ReceiptSeriesStore::shared().add({u"押金"_s, u"YJ-"_s, 4, false}));
    Clock::pin(QDateTime(QDate(2024, 12, 31), QTime(23, 58)));
    useSeries(u"学费"_s);
    QCOMPARE(save(u"甲"_s, QDate(2024, 12, 31)), u"XF2024-0001"_s);
    QCOMPARE(save(u"乙"_s, QDate(2024, 12, 31)), u"XF2024-0002"_s);
    useSeries(u"押金"_s);
    QCOMPARE(save(u"丙"_s, QDate(2024, 12, 31)), u"YJ-0001"_s);

    Clock::pin(QDateTime(QDate(2025, 1, 1), QTime(0, 1)));
    useSeries(u"学费"_s);
    QCOMPARE(save(u"丁"_s, QDate(2025, 1, 1)), u"XF2025-0001"_s);
    // A receipt of last year entered now takes last year's next number.
    QCOMPARE(save(u"戊"_s, QDate(2024, 12, 31)), u"XF2024-0003"_s);
    QCOMPARE(save(u"己"_s, QDate(2025, 1, 1)), u"XF2025-0002"_s);
    // A series that does not start again runs on.
    useSeries(u"押金"_s);
    QCOMPARE(save(u"庚"_s, QDate(2025, 1, 1)), u"YJ-0002"_s);
    QVERIFY(proves());
}

void tst_Series::numbersFollowThePaperBook()
{
    ReceiptSeriesStore::shared();
    QString error;
    QVERIFY2(PaperBooks::add({}, 101, 103, u"张三"_s, nullptr, &error), qPrintable(error));
    QVERIFY(PaperBooks::add({}, 201, 202, u"张三"_s, nullptr, &error));
    QVERIFY(!PaperBooks::add({}, 100, 101, {}, nullptr, &error));
    QVERIFY(error.contains(u"重叠"_s));
    QCOMPARE(lines(), QStringList({u"默认 0000101-0000103 已开 0 作废 0 废票 0 未用 3 在用"_s,
                                   u"默认 0000201-0000202 已开 0 作废 0 废票 0 未用 2 未用"_s}));
    ReceiptNoStore::shared().nextReceiptNo();
    QCOMPARE(shown(), u"0000101"_s);
    QCOMPARE(save(u"甲"_s), u"0000101"_s);
    QCOMPARE(save(u"乙"_s), u"0000102"_s);
    QCOMPARE(save(u"丙"_s), u"0000103"_s);
    // The book's last number used: the next book.
    AppStore::shared().newReceipt();
    QCOMPARE(shown(), u"0000201"_s);
    QCOMPARE(lines().at(0), u"默认 0000101-0000103 已开 3 作废 0 废票 0 未用 0 已用完"_s);
    QCOMPARE(save(u"丁"_s), u"0000201"_s);
    // Another program (or a desk's psql) cannot put a number outside the books, nor move,
    // remove or un-return a book.
    QVERIFY(!m_env->storeReceipt(u"OUT"_s, u"0000150"_s, dayText()));
    QVERIFY(!m_env->execRaw(u"update tb_paperBook set last = 160 where first = 101"_s));
    QVERIFY(!m_env->execRaw(u"delete from tb_paperBook"_s));
    QVERIFY(m_env->storeReceipt(u"IN"_s, u"0000202"_s, dayText()));
    // Every book used: the form says why and the save is refused.
    ReceiptNoStore::shared().nextReceiptNo();
    QCOMPARE(ReceiptNoStore::shared().status(), ReceiptNoStore::Status::Stopped);
    QVERIFY(ReceiptNoStore::statusText(ReceiptNoStore::Status::Stopped).contains(u"已全部用完"_s));
    QVERIFY(save(u"戊"_s, {}, &error).isEmpty());
    QVERIFY2(error.contains(u"收据本"_s), qPrintable(error));

    // A series of its own books: refused outside them too, and a yearly one has none.
    QVERIFY(ReceiptSeriesStore::shared().add({u"物业费"_s, u"WY-"_s, 4, false}));
    QVERIFY(ReceiptSeriesStore::shared().add({u"学费"_s, u"XF{yyyy}-"_s, 4, true}));
    QVERIFY(!PaperBooks::add(u"学费"_s, 1, 50, {}, nullptr, &error));
    QVERIFY(PaperBooks::add(u"物业费"_s, 11, 12, {}, nullptr, &error));
    useSeries(u"物业费"_s);
    QCOMPARE(save(u"己"_s), u"WY-0011"_s);
    QCOMPARE(save(u"庚"_s), u"WY-0012"_s);
    QVERIFY(save(u"辛"_s, {}, &error).isEmpty());
}

void tst_Series::spoiledFormsAreAccountedFor()
{
    ReceiptSeriesStore::shared();
    QVERIFY(PaperBooks::add({}, 1, 5, u"张三"_s));
    QCOMPARE(save(u"甲"_s), u"0000001"_s);
    QCOMPARE(save(u"乙"_s), u"0000002"_s);
    ReceiptBook &book = ReceiptBook::shared();
    // The form of 0000002 jammed: the receipt is printed again on the next form.
    ReceiptBook::Spoiled spoiled;
    QString error;
    QVERIFY2(book.spoil(u"0000002"_s, u"卡纸"_s, &spoiled, &error), qPrintable(error));
    QCOMPARE(spoiled.renumbered, u"0000003"_s);
    std::optional<QString> id;
    QVERIFY(book.readIdOfNumber(u"0000003"_s, &id) && id);
    const std::optional<QList<HistoryEntry>> history = book.history({}, {}, {}, *id);
    QVERIFY(history && !history->isEmpty());
    QCOMPARE(history->first().action, HistoryAction::Spoil);
    QVERIFY(ReceiptHistory::changeSummary(history->first()).contains(u"改开 No.0000003"_s));
    // The lists mark it: printed again after its form was spoiled.
    QVERIFY(book.knownSpoiledForms().value(*id).contains(u"No.0000002（卡纸）"_s));
    // A blank form spoiled in the printer, then the form shows the one after it.
    QVERIFY(book.spoil(u"4"_s, u"打印错位"_s, &spoiled, &error));
    QVERIFY(spoiled.renumbered.isEmpty());
    ReceiptNoStore::shared().nextReceiptNo();
    QCOMPARE(shown(), u"0000005"_s);
    // Refused: spoiled twice, a form not reached yet, a number of no series.
    QVERIFY(!book.spoil(u"0000004"_s, u"卡纸"_s, &spoiled, &error));
    QVERIFY(!book.spoil(u"0000006"_s, u"卡纸"_s, &spoiled, &error));
    QVERIFY(!book.spoil(u"ZZ-0001"_s, u"卡纸"_s, &spoiled, &error));
    QVERIFY(!book.spoil(u"0000001"_s, u" "_s, &spoiled, &error));

    // The day report lists them, and counts no number missing.
    DayReport report;
    QVERIFY2(DayReport::read(book, QDate(2024, 5, 2), &report, &error), qPrintable(error));
    QCOMPARE(report.spoiled.size(), 2);
    QCOMPARE(report.spoiled.first().renumbered, u"0000003"_s);
    QCOMPARE(report.missingCount, 0);

    // Returning the book waits for its last number.
    QCOMPARE(lines(), QStringList({u"默认 0000001-0000005 已开 2 作废 0 废票 2 未用 1 在用"_s}));
    QVERIFY(!PaperBooks::returnBook({}, 3, &error));
    QVERIFY2(error.contains(u"0000005"_s), qPrintable(error));
    QCOMPARE(save(u"丙"_s), u"0000005"_s);
    QVERIFY2(PaperBooks::returnBook({}, 3, &error), qPrintable(error));
    QCOMPARE(lines(), QStringList({u"默认 0000001-0000005 已开 3 作废 0 废票 2 未用 0 已缴销"_s}));
    QVERIFY(!PaperBooks::returnBook({}, 3, &error));
    QVERIFY(!m_env->execRaw(u"update tb_paperBook set returned = null"_s));
    QVERIFY(proves());
}

void tst_Series::importTakesOnlyKnownPrefixes()
{
    QVERIFY(ReceiptSeriesStore::shared().add({u"学费"_s, u"XF{yyyy}-"_s, 4, true}));
    const QString csv = QDir(m_env->documentsPath()).filePath(u"in.csv"_s);
    const auto import = [&](const QString &rows, BookImport::Result *result) {
        if (!writeFile(csv, (u"收据单号,收款日期,交款单位,收款事由,收款金额\n"_s + rows).toUtf8()))
            return false;
        QString error;
        std::unique_ptr<BookImport::Source> source = ReceiptImport::open(csv, &error);
        return source && ReceiptBook::shared().importReceipts(*source, {}, result, &error);
    };
    BookImport::Result result;
    QVERIFY(!import(u"XF2024-7,2024-05-01,甲,学费,10\nZZ-0001,2024-05-01,乙,学费,10\n"
                    u"XF2023-0001,2024-05-01,丙,学费,10\nXF2024-0\u200B8,2024-05-01,丁,学费,10\n"_s,
                    &result));
    QCOMPARE(result.problemCount, 3);
    QVERIFY(result.problems.at(0).reason.contains(u"前缀"_s));
    QVERIFY(result.problems.at(1).reason.contains(u"年份"_s));
    QVERIFY(import(u"XF2024-7,2024-05-01,甲,学费,10\n"_s, &result));
    std::optional<QString> id;
    QVERIFY(ReceiptBook::shared().readIdOfNumber(u"XF2024-0007"_s, &id) && id);
    // The series goes on past what was brought.
    ReceiptBook::SeriesNext next;
    QVERIFY(ReceiptBook::shared().nextInSeries(u"学费"_s, QDate(2024, 6, 1), &next));
    QCOMPARE(next.number, u"XF2024-0008"_s);
}

void tst_Series::desksTakeNumbersFromOnePaperBook()
{
    // Four desks on a shared book (two programs on a file), each saving as the form does,
    // from one paper book: every number once, none passed over, then the book is used up.
    const int desks = TestEnvironment::onServer() ? 4 : 2;
    const int each = 12;
    ReceiptSeriesStore::shared();
    QVERIFY(PaperBooks::add({}, 501, 500 + desks * each, u"张三"_s));
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < desks; ++i) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        processes.back()->start(QCoreApplication::applicationDirPath() + u"/quenta_numberingrace"_s,
                                {QString::number(each), u"2"_s, u"-"_s});
    }
    for (const auto &process : processes) {
        QVERIFY(process->waitForFinished(240000));
        QCOMPARE(process->exitCode(), 0);
        const QString said = QString::fromUtf8(process->readAllStandardOutput()).trimmed().split(u'\n').last();
        QVERIFY2(said.startsWith(u"saved %1 refused 0"_s.arg(each)), qPrintable(said));
    }
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_receipt"_s), desks * each);
    QCOMPARE(m_env->countRaw(u"select count(distinct receiptNo) from tb_receipt where "
                             u"cast(receiptNo as integer) between 501 and %1"_s.arg(500 + desks * each)),
             desks * each);
    QCOMPARE(lines().at(0), u"默认 0000501-%1 已开 %2 作废 0 废票 0 未用 0 已用完"_s.arg(
                                QString::number(500 + desks * each).rightJustified(7, u'0'))
                                .arg(desks * each));
    QString error;
    QVERIFY(save(u"甲"_s, {}, &error).isEmpty());
    QVERIFY(proves());
}

QTEST_GUILESS_MAIN(tst_Series)
#include "tst_series.moc"
