// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "backupservice.h"
#include "bookcare.h"
#include "bookproof.h"
#include "clock.h"
#include "companystore.h"
#include "dayreport.h"
#include "dayreportpages.h"
#include "money.h"
#include "receiptbook.h"
#include "receiptimport.h"
#include "receiptnostore.h"
#include "testsupport.h"

#include <QGuiApplication>
#include <QtTest>

using namespace Qt::StringLiterals;

// Closed days (日结), the day's report and the records of the book's settings: what a
// closing keeps, on either engine and whatever program writes; what the report of a day
// says against the lists; how a setting's change stays provable.
class tst_DayClosing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
        // 1 May: 甲1–甲3 (10.00, 20.00, 30.00); 2 May: 乙1 (40.00), 乙2 (50.00).
        Clock::pin(QDateTime(m_second, QTime(9, 30)));
        for (int i = 1; i <= 3; ++i)
            QVERIFY(save(u"甲%1"_s.arg(i), 10.0 * i, m_first));
        for (int i = 1; i <= 2; ++i)
            QVERIFY(save(u"乙%1"_s.arg(i), 30.0 + 10.0 * i, m_second));
    }
    void cleanup()
    {
        m_env.reset();
        Clock::unpin();
    }

    void aClosedDayKeepsItsReceipts();
    void importAndRestoreRespectAClosing();
    void theDayReportSaysWhatTheListShows();
    void settingsChangesAreRecordedAndProved();
    void aClosingRemovedBehindTheProgramIsCaught();
    void theCommandsCloseAndReport();

private:
    // A new receipt of `day` saved as the form saves it.
    static bool save(const QString &payer, double total, QDate day)
    {
        AppStore &store = AppStore::shared();
        store.newReceipt();
        Receipt edit = store.receiptEdit();
        edit.id = u"ID-"_s + payer;
        edit.payer = payer;
        edit.reason1 = u"房租"_s;
        edit.total = total;
        edit.receiptDate = QDateTime(day, QTime(0, 0));
        store.setReceiptEdit(edit);
        return store.insertReceipt();
    }
    BookProof::Verdict verify()
    {
        BookProof::Verdict verdict;
        QString error;
        if (!BookCare::verify({}, &verdict, &error))
            verdict.problem = u"unread: "_s + error;
        return verdict;
    }
    QString file(const QString &name) const { return QDir(m_env->documentsPath()).filePath(name); }

    std::unique_ptr<TestEnvironment> m_env;
    const QDate m_first {2024, 5, 1};
    const QDate m_second {2024, 5, 2};
};

void tst_DayClosing::aClosedDayKeepsItsReceipts()
{
    ReceiptBook &book = ReceiptBook::shared();
    QString error;
    QVERIFY(!book.closeDays(m_second.addDays(1), nullptr, &error));
    QVERIFY2(error.contains(u"不能日结今天以后"_s), qPrintable(error));
    DayClosing closing;
    QVERIFY2(book.closeDays(m_first, &closing, &error), qPrintable(error));
    QCOMPARE(closing.closedTo, m_first);
    QCOMPARE(closing.head, m_env->queryRaw(u"select head from tb_chainHead"_s));
    QVERIFY(book.isClosed(m_first) && !book.isClosed(m_second));
    QVERIFY(!book.closeDays(m_first, nullptr, &error));
    QVERIFY2(error.contains(u"已日结"_s), qPrintable(error));

    // Neither edited nor deleted, nor un-voided; voided, yes.
    Receipt first = *storedReceipt(u"ID-甲1"_s);
    first.remark = u"改过"_s;
    QVERIFY(!book.update(first.id, first, &error));
    QVERIFY2(error.contains(u"已日结"_s), qPrintable(error));
    QVERIFY(!book.remove({u"ID-甲2"_s}, &error));
    QVERIFY2(error.contains(u"已日结"_s), qPrintable(error));
    QVERIFY2(book.voidReceipts({u"ID-甲3"_s}, u"写错了"_s, &error), qPrintable(error));
    QVERIFY(!book.unvoidReceipts({u"ID-甲3"_s}, &error));
    QVERIFY2(error.contains(u"已日结"_s), qPrintable(error));
    // No receipt dated into the closed day, new or moved there.
    Receipt late = *storedReceipt(u"ID-乙1"_s);
    late.receiptDate = QDateTime(m_first, QTime(0, 0));
    QVERIFY(!book.update(late.id, late, &error));
    QVERIFY2(error.contains(u"已日结"_s), qPrintable(error));
    Receipt backDated = late;
    backDated.id = u"ID-补开"_s;
    backDated.receiptNo = u"0000099"_s;
    QVERIFY(!book.issue(backDated, nullptr, &error));
    QVERIFY2(error.contains(u"已日结"_s), qPrintable(error));
    // The open day goes on as before.
    Receipt open = *storedReceipt(u"ID-乙1"_s);
    open.remark = u"改过"_s;
    QVERIFY2(book.update(open.id, open, &error), qPrintable(error));
    QCOMPARE(storedReceipt(u"ID-甲1"_s)->remark, QString());

    // Another program, or a desk's role with psql, meets the same rule.
    const QString amount = m_env->queryRaw(u"select total from tb_receipt where id = 'ID-甲1'"_s);
    QVERIFY(!m_env->execRaw(u"update tb_receipt set total = '1.00' where id = 'ID-甲1'"_s));
    QVERIFY(!m_env->execRaw(u"delete from tb_receipt where id = 'ID-甲2'"_s));
    QVERIFY(!m_env->execRaw(u"delete from tb_void where receiptId = 'ID-甲3'"_s));
    QVERIFY(!m_env->execRaw(u"delete from tb_closing"_s));
    QVERIFY(!m_env->execRaw(u"update tb_closing set closedTo = '2000-01-01'"_s));
    QCOMPARE(m_env->queryRaw(u"select total from tb_receipt where id = 'ID-甲1'"_s), amount);

    // The closing is a record of the chain, and the book proves itself.
    const QList<HistoryEntry> history = book.history().value_or(QList<HistoryEntry>());
    const auto closed = std::find_if(history.begin(), history.end(), [](const HistoryEntry &e) {
        return e.action == HistoryAction::Close;
    });
    QVERIFY(closed != history.end());
    QCOMPARE(ReceiptHistory::changeSummary(*closed), u"日结到 2024-05-01"_s);
    const BookProof::Verdict verdict = verify();
    QVERIFY2(verdict.whole, qPrintable(verdict.problem));
}

void tst_DayClosing::importAndRestoreRespectAClosing()
{
    QString error;
    const QString backup = file(u"before.db"_s);
    if (!TestEnvironment::onServer())
        QVERIFY2(BookCare::backUp(backup, &error), qPrintable(error));
    QVERIFY(ReceiptBook::shared().closeDays(m_first, nullptr, &error));

    // A row dated into the closed day is refused with its row; nothing is imported.
    QVERIFY(writeFile(file(u"a.csv"_s), "\xEF\xBB\xBF收据单号,收款日期,交款单位,收款金额,状态,作废原因\r\n"
                                        "0000050,2024-05-02,丙,1.00,,\r\n"
                                        "0000051,2024-05-01,丁,2.00,,\r\n"));
    std::unique_ptr<BookImport::Source> source = ReceiptImport::open(file(u"a.csv"_s), &error);
    QVERIFY2(source, qPrintable(error));
    BookImport::Result result;
    QVERIFY(!ReceiptBook::shared().importReceipts(*source, {}, &result, &error));
    QCOMPARE(result.problems.size(), 1);
    QCOMPARE(result.problems.first().row, 3);
    QVERIFY2(result.problems.first().reason.contains(u"已日结"_s),
             qPrintable(result.problems.first().reason));
    QCOMPARE(m_env->receiptCount(), 5);

    // A backup from before the closing would open the day again.
    if (TestEnvironment::onServer())
        return;
    RestoreCheck check;
    QVERIFY(!BackupService::checkRestoreFile(backup, &check, &error));
    QCOMPARE(error, u"备份中没有日结，账本已日结到 2024-05-01：恢复它会让已日结的日子又能修改，没有恢复"_s);
}

void tst_DayClosing::theDayReportSaysWhatTheListShows()
{
    ReceiptBook &book = ReceiptBook::shared();
    // On 2 May: 乙3 (60.00) by transfer, then voided; 甲2 of the day before voided too.
    QVERIFY(save(u"乙3"_s, 60.0, m_second));
    Receipt third = *storedReceipt(u"ID-乙3"_s);
    third.paytype = u"转账"_s;
    QVERIFY(book.update(third.id, third));
    QVERIFY(save(u"乙4"_s, 70.0, m_second));
    QVERIFY(book.voidReceipts({u"ID-乙4"_s}, u"重开"_s));
    QVERIFY(book.voidReceipts({u"ID-甲2"_s}, u"退款"_s));

    DayReport report;
    QString error;
    QVERIFY2(DayReport::read(book, m_second, &report, &error), qPrintable(error));
    QCOMPARE(report.receipts.size(), 4);
    QCOMPARE(report.receipts.first().receiptNo, u"0000004"_s);
    QCOMPARE(report.lastNumber, u"0000007"_s);
    QCOMPARE(report.voided, 1);
    QCOMPARE(report.voidedLater.size(), 1);
    QCOMPARE(report.voidedLater.first().receiptNo, u"0000002"_s);
    QCOMPARE(report.voidedLater.first().voidReason, u"退款"_s);
    QCOMPARE(report.missingCount, 0);
    QVERIFY(!report.closing);
    // The totals are the list's for the same day, voided receipts left out.
    QList<Receipt> listed;
    QVERIFY(receiptsDated(u"2024-05-02 00:00:00"_s, u"2024-05-02 23:59:59"_s,
                          &listed));
    qint64 fen = 0;
    for (const Receipt &receipt : listed)
        fen += receipt.voidReason ? 0 : Money::fenOf(receipt).value_or(0);
    QCOMPARE(report.total.fen, fen);
    QCOMPARE(report.total.fen, 15000);
    QCOMPARE(report.byPaytype.size(), 2);
    QCOMPARE(report.byPaytype.at(1).paytype, u"转账"_s);
    QCOMPARE(report.byPaytype.at(1).fen, 6000);

    // A number gone from the day shows between the first and the last.
    QVERIFY(book.remove({u"ID-乙2"_s}));
    QVERIFY(book.closeDays(m_second, nullptr, &error));
    QVERIFY(DayReport::read(book, m_second, &report, &error));
    QCOMPARE(report.missing, QStringList {u"0000005"_s});
    QVERIFY(report.closing && report.closing->closedTo == m_second);

    // The PDF reads back as it was laid out, page by page.
    const QString pdf = file(u"day.pdf"_s);
    QVERIFY2(DayReportPages(report).writePdf(pdf, &error), qPrintable(error));
    // pdftotext joins what is set close, the page numbers among them.
    const QString text = pdfToText(pdf).remove(u' ');
    if (text.isEmpty())
        QSKIP("pdftotext is not installed");
    for (const QString &expected :
         {u"收款日报"_s, u"2024-05-02"_s, u"0000006"_s, u"跨日作废"_s, u"退款"_s, u"转账"_s,
          u"合计：2张，¥100.00"_s, u"缺号（1个）：No.0000005"_s, u"已日结"_s,
          BookProof::shortHead(report.closing->head), u"复核："_s, u"第1页/共1页"_s})
        QVERIFY2(text.contains(expected), qPrintable(expected + u" not in:\n"_s + text));

    // A long day runs on over pages, each numbered.
    for (int i = 0; i < 120; ++i)
        report.receipts.append(report.receipts.first());
    const DayReportPages pages(report);
    QVERIFY(pages.pageCount() >= 3);
    QVERIFY(pages.writePdf(pdf, &error));
    QVERIFY(pdfToText(pdf).remove(u' ').contains(u"第%1页/共%1页"_s.arg(pages.pageCount())));
}

void tst_DayClosing::settingsChangesAreRecordedAndProved()
{
    // The header changed in the settings.
    CompanyStore &company = CompanyStore::shared();
    Company header = company.company();
    const QString before = header.title;
    header.title = u"新抬头"_s;
    company.setCompany(header);
    QVERIFY(company.save());
    // The counter set back by the user, on purpose: recorded, and so no break.
    ReceiptNoStore &numbering = ReceiptNoStore::shared();
    ReceiptNoSetting setting = numbering.receiptNoSetting();
    setting.currNum = 2;
    numbering.setReceiptNoSetting(setting);
    QVERIFY(numbering.saveSetting());

    const QList<HistoryEntry> history
        = ReceiptBook::shared().history().value_or(QList<HistoryEntry>());
    QStringList settings;
    for (const HistoryEntry &entry : history) {
        if (entry.action == HistoryAction::Setting)
            settings << ReceiptHistory::changeSummary(entry);
    }
    QCOMPARE(settings,
             (QStringList {u"收据单号：当前单号 6 → 2"_s,
                           u"收据抬头：收据抬头 %1 → 新抬头"_s.arg(before)}));
    BookProof::Verdict verdict = verify();
    QVERIFY2(verdict.whole, qPrintable(verdict.problem));
    // Set back behind the program's back, it is not.
    QVERIFY(m_env->execRaw(u"update tb_receiptNo set currNum = '1'"_s));
    QCOMPARE(verify().problem, u"收据单号计数器低于记录中设置的 2，没有设置记录"_s);
}

void tst_DayClosing::aClosingRemovedBehindTheProgramIsCaught()
{
    QVERIFY(ReceiptBook::shared().closeDays(m_first));
    // Only the book's owner can take the rule away to do it.
    QVERIFY(m_env->execRaw(onEngine(
        u"drop trigger trg_closing_final_delete; delete from tb_closing"_s,
        u"alter table tb_closing disable trigger trg_closing_final; delete from tb_closing"_s)));
    QCOMPARE(verify().problem, u"到 2024-05-01 的日结已被删除或改动"_s);
}

void tst_DayClosing::theCommandsCloseAndReport()
{
    QCOMPARE(runQuenta({u"--close-day"_s, u"2024-5-1"_s}).status, 2);
    QCOMPARE(runQuenta({u"--day-report"_s, u"2024-05-01"_s}).status, 2);
    Run run = runQuenta({u"--close-day"_s, u"2024-05-01"_s});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith(u"已日结到 2024-05-01：当日 3 张收据，合计 ¥60.00，作废 0 张；链尾 "_s),
             qPrintable(run.out + run.err));
    run = runQuenta({u"--close-day"_s, u"2024-05-01"_s});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(u"已日结"_s), qPrintable(run.err));
    run = runQuenta({u"--day-report"_s, u"2024-05-01"_s, file(u"r.pdf"_s)});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith(u"1 页，3 张收据，合计 ¥60.00："_s), qPrintable(run.out + run.err));
    QVERIFY(QFileInfo::exists(file(u"r.pdf"_s)));
}

QUENTA_GUI_TEST_MAIN(tst_DayClosing)
#include "tst_dayclosing.moc"
