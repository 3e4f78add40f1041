// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookcare.h"
#include "bookproof.h"
#include "clock.h"
#include "receiptbook.h"
#include "receipthistory.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// The book's record chain and its proof: every change the program makes keeps the book
// provable; whatever another program or a desk's role changes behind it is named.
class tst_BookProof : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        Clock::pin(QDateTime(QDate(2024, 5, 1), QTime(9, 30)));
        m_env->createDatabase();
        // Five receipts, 10.00 to 50.00: the third changed, the fourth voided and voided
        // no more, the fifth deleted and brought back, the second printed, the first voided.
        ReceiptBook &book = ReceiptBook::shared();
        for (int i = 1; i <= 5; ++i)
            QVERIFY(!saveNewReceipt(u"甲%1"_s.arg(i), 10.0 * i).isEmpty());
        Receipt third = *storedReceipt(u"ID-甲3"_s);
        third.remark = u"改过"_s;
        QVERIFY(book.update(third.id, third));
        QVERIFY(book.voidReceipts({u"ID-甲4"_s}, u"写错了"_s));
        QVERIFY(book.unvoidReceipts({u"ID-甲4"_s}));
        QVERIFY(book.remove({u"ID-甲5"_s}));
        const QList<HistoryEntry> deleted = book.history(u"0000005"_s).value_or(QList<HistoryEntry>());
        QVERIFY(!deleted.isEmpty() && deleted.first().action == HistoryAction::Delete);
        QVERIFY(book.restoreDeleted(deleted.first()));
        QVERIFY(book.recordPrint(u"ID-甲2"_s));
        QVERIFY(book.voidReceipts({u"ID-甲1"_s}, u"重开"_s));
    }
    void cleanup()
    {
        m_env.reset();
        Clock::unpin();
    }

    void everyChangeTheProgramMakesIsProved();
    void whatChangedBehindTheProgramIsNamed_data();
    void whatChangedBehindTheProgramIsNamed();
    void aChainRewrittenFromItsStartIsCaughtByAHeadKnownBefore();
    void theCommandSaysWhatItFound();

private:
    BookProof::Verdict verify(const QString &head = {})
    {
        BookProof::Verdict verdict;
        QString error;
        if (!BookCare::verify(head, &verdict, &error))
            verdict.problem = u"unread: "_s + error;
        return verdict;
    }
    std::unique_ptr<TestEnvironment> m_env;
};

void tst_BookProof::everyChangeTheProgramMakesIsProved()
{
    const BookProof::Verdict verdict = verify();
    QVERIFY2(verdict.whole, qPrintable(verdict.problem));
    QCOMPARE(verdict.records, m_env->countRaw(u"select count(*) from tb_history"_s));
    QCOMPARE(verdict.records, 12);
    QCOMPARE(verdict.head, m_env->queryRaw(u"select head from tb_chainHead"_s));
    QCOMPARE(verdict.head.size(), 64);
    // A head printed before, in either case, is one of the book's.
    QVERIFY(verify(BookProof::shortHead(verdict.head)).whole);
    QVERIFY(verify(m_env->queryRaw(u"select hash from tb_chain where link = 3"_s)).whole);
    QCOMPARE(verify(u"0123456789ABCDEF"_s).problem, u"账本中没有链尾 0123456789ABCDEF：记录链已被改写"_s);
}

// Each change another program or a desk's role could make with the book's own tools.
void tst_BookProof::whatChangedBehindTheProgramIsNamed_data()
{
    QTest::addColumn<QString>("sqlite");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("problem");
    const auto same = [](const char *name, const QString &sql, const QString &problem) {
        QTest::newRow(name) << sql << sql << problem;
    };
    same("amount", u"update tb_receipt set total = '99999.00' where receiptNo = '0000003'"_s,
         u"No.0000003 与记录不符：收款金额 30.00 → 99999.00"_s);
    same("payer and amount",
         u"update tb_receipt set payer = '乙', total = '21.00' where receiptNo = '0000002'"_s,
         u"No.0000002 与记录不符：交款单位 甲2 → 乙；收款金额 20.00 → 21.00"_s);
    same("marked deleted", u"update tb_receipt set isDeleted = 1 where receiptNo = '0000004'"_s,
         u"No.0000004 与记录不符：删除标记 0 → 1"_s);
    same("every field but the id",
         u"update tb_receipt set receiptDate = '2023-01-01 00:00:00' where receiptNo = '0000001'"_s,
         u"No.0000001 与记录不符：收款日期 2024-05-01 → 2023-01-01"_s);
    same("a history row removed",
         u"delete from tb_history where id = (select historyId from tb_chain where link = 4)"_s,
         u"第 4 条记录已被改动或删除"_s);
    same("a history row changed",
         u"update tb_history set detail = replace(detail, '改过', '没改') where action = 'update'"_s,
         u"第 6 条记录已被改动或删除"_s);
    // Rows 3 and 4 exchanged in the chain's order, every row kept as it was.
    same("two history rows moved",
         u"update tb_chain set historyId = -historyId where link in (3, 4); "
         u"update tb_chain set historyId = -(select historyId from tb_chain where link = 4) "
         u"where link = 3; "
         u"update tb_chain set historyId = (select min(id) from tb_history where id not in "
         u"(select historyId from tb_chain where historyId > 0)) where link = 4"_s,
         u"第 3 条记录已被改动或删除"_s);
    same("the newest row removed with its link",
         u"delete from tb_history where id = (select max(id) from tb_history); "
         u"delete from tb_chain where link = 12"_s,
         u"第 12 条记录已被改动或删除"_s);
    same("a receipt without history",
         u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, reason2, remark, "
         u"paytype, payee, approve, accountant, creator, createDate, total, totalBig, isDeleted) "
         u"values ('X', '0000101', '2024-05-01 00:00:00', '丙', '', '', '', '', '', '', '', '', "
         u"'2024-05-01 09:30:00', '5.00', '', 0)"_s,
         u"No.0000101 没有开单记录"_s);
    same("a receipt taken out", u"delete from tb_receipt where receiptNo = '0000002'"_s,
         u"No.0000002 已从账本中消失，没有删除记录"_s);
    same("a void added",
         u"insert into tb_void (receiptId, reason, voidDate) values ('ID-甲2', 'x', "
         u"'2024-05-01 10:00:00')"_s,
         u"No.0000002 被作废，却没有作废记录"_s);
    same("a void taken away", u"delete from tb_void where receiptId = 'ID-甲1'"_s,
         u"No.0000001 的作废已被撤掉，却没有记录"_s);
    same("the counter set back", u"update tb_receiptNo set currNum = '3'"_s,
         u"收据单号计数器落后于已开出的 No.0000005"_s);
    QTest::newRow("a history row written past the chain")
        << u"drop trigger trg_history_chain; insert into tb_history (time, action) values "
           u"('t', 'print')"_s
        << u"alter table tb_history disable trigger trg_history_chain; insert into tb_history "
           u"(time, action) values ('t', 'print')"_s
        << u"第 13 号记录不在记录链中（不是由本程序写入的）"_s;
}

void tst_BookProof::whatChangedBehindTheProgramIsNamed()
{
    QFETCH(QString, sqlite);
    QFETCH(QString, server);
    QFETCH(QString, problem);
    QVERIFY(verify().whole);
    QVERIFY(m_env->execRaw(onEngine(sqlite, server)));
    const BookProof::Verdict verdict = verify();
    QVERIFY(!verdict.whole);
    QCOMPARE(verdict.problem, problem);
}

// One who rewrites every history row and links them all again, as the program would, leaves
// a book that proves itself: only a head known from before tells the rewrite.
void tst_BookProof::aChainRewrittenFromItsStartIsCaughtByAHeadKnownBefore()
{
    const QString head = verify().head;
    QVERIFY(m_env->execRaw(onEngine(
        u"create temp table kept as select * from tb_history order by id; "
        u"delete from tb_history; delete from tb_chain; "
        u"update tb_chainHead set rows = 0, head = ''; "
        u"update tb_receipt set total = '99.00' where receiptNo = '0000003'; "
        u"insert into tb_history select id, time, action, receiptId, receiptNo, "
        u"replace(detail, '\"total\":\"30.0\"', '\"total\":\"99.0\"'), desk from kept order by id"_s,
        u"create temp table kept as select * from tb_history order by id; "
        u"delete from tb_history; delete from tb_chain; "
        u"update tb_chainHead set rows = 0, head = ''; "
        u"update tb_receipt set total = '99.00' where receiptNo = '0000003'; "
        u"insert into tb_history overriding system value select id, time, action, receiptId, "
        u"receiptNo, replace(detail, '\"total\":\"30.0\"', '\"total\":\"99.0\"'), desk from kept order by id"_s)));
    const BookProof::Verdict rewritten = verify();
    QVERIFY2(rewritten.whole, qPrintable(rewritten.problem));
    QVERIFY(rewritten.head != head);
    QCOMPARE(verify(BookProof::shortHead(head)).problem,
             u"账本中没有链尾 %1：记录链已被改写"_s.arg(BookProof::shortHead(head)));
}

void tst_BookProof::theCommandSaysWhatItFound()
{
    const QString head = BookProof::shortHead(verify().head);
    Run run = runQuenta({u"--verify"_s, u"--head"_s, head});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, u"账本完整：12 条记录，链尾 %1\n"_s.arg(head));
    QVERIFY(m_env->execRaw(u"update tb_receipt set total = '99999.00' where receiptNo = '0000003'"_s));
    run = runQuenta({u"--verify"_s});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, u"No.0000003 与记录不符：收款金额 30.00 → 99999.00\n"_s);
    QCOMPARE(runQuenta({u"--head"_s, head}).status, 2);
    // An export names the state of the book it was made from.
    const QString exported = QDir(m_env->documentsPath()).filePath(u"out.csv"_s);
    run = runQuenta({u"--export"_s, exported});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.endsWith(u"，链尾 %1\n"_s.arg(head)), qPrintable(run.out));
    QCOMPARE(runQuenta({u"--verify"_s, u"--head"_s, u"xyz"_s}).status, 1);
}

QTEST_GUILESS_MAIN(tst_BookProof)
#include "tst_bookproof.moc"
