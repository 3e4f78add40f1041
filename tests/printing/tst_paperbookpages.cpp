// SPDX-License-Identifier: GPL-3.0-or-later
#include "paperbookpages.h"
#include "paperbooks.h"
#include "receiptbook.h"
#include "testsupport.h"

#include <QGuiApplication>
#include <QtTest>

using namespace Qt::StringLiterals;

// The reconciliation sheets of paper books (收据本核销表), read back from the PDF as a user
// searching it would: what became of each number, the unused ones as runs, the pages of a
// book too long for one, and the command that writes them.
class tst_PaperBookPages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
    }
    void cleanup() { m_env.reset(); }

    void theSheetSaysWhatBecameOfEachNumber();
    void aLongBookRunsOnOverNumberedPages();

private:
    QString file(const QString &name) const { return QDir(m_env->documentsPath()).filePath(name); }
    std::unique_ptr<TestEnvironment> m_env;
};

void tst_PaperBookPages::theSheetSaysWhatBecameOfEachNumber()
{
    QString error;
    QVERIFY2(PaperBooks::add({}, 1, 20, u"张三"_s, nullptr, &error), qPrintable(error));
    // 0000001 issued, 0000002 voided, 0000003 issued then spoiled (its receipt moves to
    // 0000005), the blank 0000004 spoiled; 0000006–0000020 left.
    for (const QString &payer : {u"甲"_s, u"乙"_s, u"丙"_s})
        QVERIFY2(!saveNewReceipt(payer, 10, &error).isEmpty(), qPrintable(error));
    ReceiptBook &book = ReceiptBook::shared();
    QVERIFY(book.voidReceipts({u"ID-乙"_s}, u"退款"_s));
    ReceiptBook::Spoiled spoiled;
    QVERIFY2(book.spoil(u"0000004"_s, u"污损"_s, &spoiled, &error), qPrintable(error));
    QVERIFY2(book.spoil(u"0000003"_s, u"卡纸"_s, &spoiled, &error), qPrintable(error));
    QCOMPARE(spoiled.renumbered, u"0000005"_s);

    const std::optional<PaperBookPages::Report> report = PaperBookPages::read(&error);
    QVERIFY2(report, qPrintable(error));
    const QString pdf = file(u"books.pdf"_s);
    QVERIFY2(PaperBookPages(*report).writePdf(pdf, &error), qPrintable(error));
    // pdftotext joins what is set close.
    const QString text = pdfToText(pdf).remove(u' ');
    if (text.isEmpty())
        QSKIP("pdftotext is not installed");
    for (const QString &expected :
         {u"收据本核销表"_s, u"0000001–0000020（20张）"_s, u"领用人：张三"_s, u"状态：在用"_s,
          u"已开2（合计¥20.00）"_s, u"作废1"_s, u"废票2"_s, u"未用15"_s, u"作废原因：退款"_s,
          u"废票原因：卡纸，收据改为No.0000005"_s, u"废票原因：污损"_s, u"未用单号（15个）：0000006–0000020"_s,
          u"核销人："_s, u"会计："_s, u"第1页/共1页"_s})
        QVERIFY2(text.contains(expected), qPrintable(expected + u" not in:\n"_s + text));

    // Runs: a single number alone, two or more from first to last.
    QCOMPARE(PaperBookPages::runsText({3, 5, 6, 7, 9, 10}, report->accounts.first().series),
             u"0000003、0000005–0000007、0000009–0000010"_s);

    // The command prints its line and writes the same sheets.
    Run run = runQuenta({u"--paper-books"_s, file(u"cli.pdf"_s)});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out.trimmed(), u"默认 0000001-0000020 已开 2 作废 1 废票 2 未用 15 在用"_s);
    QVERIFY(pdfToText(file(u"cli.pdf"_s)).remove(u' ').contains(u"废票原因：卡纸"_s));
    QCOMPARE(runQuenta({u"--paper-books"_s, file(u"cli.txt"_s)}).status, 2);
    QVERIFY(!QFileInfo::exists(file(u"cli.txt"_s)));
}

void tst_PaperBookPages::aLongBookRunsOnOverNumberedPages()
{
    PaperBookPages::Report report;
    report.title = u"某单位"_s;
    PaperBooks::Account account;
    account.book.first = 1;
    account.book.last = 400;
    account.series = {u"默认"_s, {}, 7, false};
    for (qint64 value = 1; value <= 300; ++value) {
        ReceiptBook::NumberUse use;
        use.value = value;
        use.receiptNo = SeriesNumber::text(account.series, 0, value);
        use.total = 1;
        account.uses << use;
    }
    for (qint64 value = 301; value <= 400; ++value)
        account.unusedNumbers << value;
    report.accounts = {account, account};
    const PaperBookPages pages(report);
    QVERIFY(pages.pageCount() >= 6);
    const QString pdf = file(u"long.pdf"_s);
    QString error;
    QVERIFY2(pages.writePdf(pdf, &error), qPrintable(error));
    const QString text = pdfToText(pdf).remove(u' ');
    if (text.isEmpty())
        QSKIP("pdftotext is not installed");
    // Every page numbered; each book starts a page with the report's heading, and each page
    // it runs on to names the book again and repeats its table's heading.
    const int count = pages.pageCount();
    for (int page = 1; page <= count; ++page)
        QVERIFY2(text.contains(u"第%1页/共%2页"_s.arg(page).arg(count)), qPrintable(text.left(400)));
    QCOMPARE(text.count(u"某单位收据本核销表"_s), 2);
    QCOMPARE(text.count(u"（续）收据本默认0000001–0000400"_s), count - 2);
    // (The lines to sign may go on a page of their own, without the table.)
    QVERIFY2(text.count(u"去向"_s) >= count - 2, qPrintable(QString::number(text.count(u"去向"_s))));
    QCOMPARE(text.count(u"核销人："_s), 2);
}

QUENTA_GUI_TEST_MAIN(tst_PaperBookPages)
#include "tst_paperbookpages.moc"
