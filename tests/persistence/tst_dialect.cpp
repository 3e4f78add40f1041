// SPDX-License-Identifier: GPL-3.0-or-later
// The questions every engine answers in its own words: run on a file and, as
// tst_dialect_server, on a shared book, with the same expectations.
#include "database.h"
#include "databaseerror.h"
#include "sqlitehelper.h"
#include "testsupport.h"
#include "transaction.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class tst_Dialect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_env->createDatabase();
    }
    void cleanup() { m_env.reset(); }

    void theBookTellsItsTablesIndexesAndColumns();
    void dataVersionMovesForOtherWritersOnly();
    void aTransactionIsWholeOrNothing();
    void theDialectsWordsRunOnItsEngine();
    void failuresAreToldAlike();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void tst_Dialect::theBookTellsItsTablesIndexesAndColumns()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.open());
    QCOMPARE(helper.tableCount({u"tb_receipt"_s, u"tb_void"_s, u"tb_nosuch"_s}), 2);
    QCOMPARE(helper.tableCount({u"tb_history"_s}), 1);
    QCOMPARE(helper.hasIndex(u"idx_receipt_list"_s), true);
    QCOMPARE(helper.hasIndex(u"idx_nosuch"_s), false);

    const std::optional<QStringList> columns = helper.columnNames(u"tb_receiptNo"_s);
    QVERIFY(columns);
    QStringList lower;
    for (const QString &column : *columns)
        lower.append(column.toLower());
    QCOMPARE(lower, QStringList({u"numlong"_s, u"currnum"_s}));
    QCOMPARE(helper.columnNames(u"tb_nosuch"_s), QStringList());
}

void tst_Dialect::dataVersionMovesForOtherWritersOnly()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.open());
    const std::optional<qint64> before = helper.dataVersion();
    QVERIFY(before);

    // This connection's own write, counted as its own.
    helper.beginOwnWrite();
    QVERIFY(helper.write(u"insert into tb_void (receiptId, reason, voidDate) values ('own', "
                         u"'x', '2024-01-01 00:00:00')"_s));
    helper.endOwnWrite(true);
    QCOMPARE(helper.dataVersion(), before);

    // Another connection's.
    QVERIFY(m_env->storeReceipt(u"ELSEWHERE"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));
    const std::optional<qint64> after = helper.dataVersion();
    QVERIFY(after);
    QVERIFY(*after != *before);
}

void tst_Dialect::aTransactionIsWholeOrNothing()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.open());
    Database &database = helper.db();
    {
        Transaction transaction(database);
        QVERIFY(transaction.begin());
        QVERIFY(database.isInTransaction());
        QVERIFY(helper.write(u"update tb_receiptNo set currNum = '77'"_s));
        // Gone out of scope uncommitted: rolled back.
    }
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"1"_s);
    {
        Transaction transaction(database);
        QVERIFY(transaction.begin());
        QVERIFY(helper.write(u"update tb_receiptNo set currNum = '78'"_s));
        QVERIFY(transaction.commit());
    }
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"78"_s);
    // A file ends its transaction with the commit; a server's connection stays open.
    QCOMPARE(database.isInTransaction(), TestEnvironment::onServer());
}

void tst_Dialect::theDialectsWordsRunOnItsEngine()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.open());
    const SqlDialect &dialect = helper.db().dialect();
    QVERIFY(m_env->storeReceipt(u"R1"_s, u"0000001"_s, u"2024-05-01 00:00:00"_s));

    // Nulls compared as values.
    QCOMPARE(helper.count(u"select count(*) from tb_receipt where payer %1 null"_s.arg(
                 dialect.isDistinctFrom())),
             1);
    QCOMPARE(helper.count(u"select count(*) from tb_receipt where payer %1 payer"_s.arg(
                 dialect.isDistinctFrom())),
             0);
    // A subquery in a from clause, its rows locked inside a transaction, a read through an
    // index, a limit that limits nothing.
    QCOMPARE(helper.count(u"select count(*) from (select 1 from tb_receipt)"_s
                          + dialect.subqueryAlias(u"inner_rows"_s)),
             1);
    {
        Transaction transaction(helper.db());
        QVERIFY(transaction.begin());
        std::unique_ptr<ResultSet> locked
            = helper.query(u"select id from tb_receipt where id = 'R1'"_s + dialect.rowLockClause());
        QVERIFY(locked);
        QVERIFY(locked->next());
        QCOMPARE(locked->stringForColumnIndex(0), u"R1"_s);
    }
    QCOMPARE(helper.count(u"select count(*) from (select id from tb_receipt%1 where isDeleted <> 1 "
                          u"order by receiptNo limit %2)%3"_s
                              .arg(dialect.indexHint(u"idx_receipt_list"_s), dialect.noLimit(),
                                   dialect.subqueryAlias(u"listed"_s))),
             1);
    // A change notice, where the engine tells other connections, is a statement it runs.
    const QString notice = dialect.changeNoticeStatement(u"quenta_test"_s, u"it's"_s);
    QCOMPARE(notice.isEmpty(), !TestEnvironment::onServer());
    if (!notice.isEmpty())
        QVERIFY(helper.write(notice));
    // A file checks itself and finds itself whole; a server has nothing to check here.
    QCOMPARE(SQLiteHelper::quickCheck(helper.db()), QString());
}

void tst_Dialect::failuresAreToldAlike()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.open());
    Database &database = helper.db();
    database.setLogsErrors(false);
    QVERIFY(!helper.query(u"select nosuchcolumn from tb_receipt"_s));
    QCOMPARE(helper.lastError(), u"数据库缺少列 nosuchcolumn"_s);
    QVERIFY(!helper.query(u"select 1 from tb_nosuchtable"_s));
    QCOMPARE(helper.lastError(), u"数据库缺少表 tb_nosuchtable"_s);
    // The same text for the same failure on either engine.
    QCOMPARE(database.lastError().message(), helper.lastError());
    QCOMPARE(database.lastError().kind(), DatabaseError::Kind::MissingTable);

    // Two receipts of one number: refused as a conflict, in the same words.
    QVERIFY(m_env->storeReceipt(u"R1"_s, u"0000009"_s, u"2024-05-01 00:00:00"_s));
    QVERIFY(!helper.write(receiptInsertSql(u"R2"_s, u"0000009"_s, u"2024-05-01 00:00:00"_s,
                                           u"乙"_s, 2.0)));
    QVERIFY2(helper.lastError().startsWith(u"数据与已有记录冲突"_s), qPrintable(helper.lastError()));
    QCOMPARE(m_env->receiptCount(), 1);
    // The connection still answers after a failed statement.
    QCOMPARE(helper.count(u"select count(*) from tb_receipt"_s), 1);

    // Reads asked together: each one's rows in order; one that fails fails them all, and
    // says why as a single read would.
    std::vector<std::unique_ptr<ResultSet>> answers = helper.queryEach(
        {u"select count(*) from tb_receipt"_s, u"select receiptNo from tb_receipt"_s});
    QCOMPARE(answers.size(), size_t(2));
    QVERIFY(answers[0]->next());
    QCOMPARE(answers[0]->int64ForColumnIndex(0), 1);
    QVERIFY(answers[1]->next());
    QCOMPARE(answers[1]->stringForColumnIndex(0), u"0000009"_s);
    QVERIFY(!answers[1]->next() && !answers[1]->hasError());
    answers.clear();
    QVERIFY(helper.queryEach({u"select 1"_s, u"select nosuchcolumn from tb_receipt"_s,
                              u"select 2"_s})
                .empty());
    QCOMPARE(helper.lastError(), u"数据库缺少列 nosuchcolumn"_s);
    database.setLogsErrors(true);
}

QTEST_GUILESS_MAIN(tst_Dialect)
#include "tst_dialect.moc"
