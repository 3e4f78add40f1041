// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// Checks the generated template database: what every statement of the program takes
// for granted about its tables, columns, indexes and first rows.
class tst_Template : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_db = std::make_unique<Database>(m_env->createDatabase());
        QVERIFY(m_db->open());
    }
    void cleanup()
    {
        m_db.reset();
        m_env.reset();
    }

    void tables_data();
    void tables();
    void queriesUseIndexes_data();
    void queriesUseIndexes();
    void firstRows();

private:
    QStringList column(const QString &sql);
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<Database> m_db;
};

QStringList tst_Template::column(const QString &sql)
{
    QStringList values;
    std::unique_ptr<ResultSet> rows = m_db->executeQuery(sql);
    while (rows && rows->next())
        values.append(rows->stringForColumnIndex(0).value_or(u"<null>"_s));
    return values;
}

void tst_Template::tables_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns");
    const QStringList lookup = {u"id"_s, u"content"_s};
    QTest::newRow("tb_receipt") << u"tb_receipt"_s
                                << QStringList({u"id"_s, u"receiptNo"_s, u"receiptDate"_s,
                                                u"payer"_s, u"reason1"_s, u"reason2"_s, u"remark"_s,
                                                u"paytype"_s, u"payee"_s, u"approve"_s,
                                                u"accountant"_s, u"creator"_s, u"createDate"_s,
                                                u"total"_s, u"totalBig"_s, u"isDeleted"_s});
    QTest::newRow("tb_receiptNo") << u"tb_receiptNo"_s << QStringList({u"numLong"_s, u"currNum"_s});
    QTest::newRow("tb_company") << u"tb_company"_s
                                << QStringList({u"id"_s, u"title"_s, u"label"_s, u"remark"_s});
    for (const QString &table :
         {u"tb_payer"_s, u"tb_reason1"_s, u"tb_reason2"_s, u"tb_remark"_s, u"tb_paytype"_s})
        QTest::newRow(qPrintable(table)) << table << lookup;
    QTest::newRow("tb_account") << u"tb_account"_s
                                << QStringList({u"id"_s, u"userName"_s, u"password"_s, u"power"_s,
                                                u"status"_s});
    QTest::newRow("tb_void") << u"tb_void"_s
                             << QStringList({u"receiptId"_s, u"reason"_s, u"voidDate"_s});
}

void tst_Template::tables()
{
    QFETCH(QString, table);
    QFETCH(QStringList, columns);
    // The nine tables of receipts and settings, tb_void and tb_history (with SQLite's own
    // sqlite_sequence for its id), and the schema version.
    QCOMPARE(column(u"select count(*) from sqlite_master where type = 'table'"_s),
             QStringList(u"12"_s));
    QCOMPARE(column(u"pragma user_version"_s), QStringList(u"1"_s));
    QCOMPARE(column(u"select name from pragma_table_info('%1')"_s.arg(table)), columns);
    // TEXT affinity everywhere: numbers come back exactly as the program wrote them
    // (a receipt number keeps its leading zeros).
    QCOMPARE(column(u"select distinct upper(type) from pragma_table_info('%1')"_s.arg(table)),
             QStringList(u"TEXT"_s));
}

void tst_Template::queriesUseIndexes_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("index");
    QTest::newRow("number taken") << u"select count(*)\nfrom tb_receipt\nwhere receiptNo = '1';"_s
                                  << u"idx_receipt_receiptNo"_s;
    QTest::newRow("date range") << u"select *\nfrom  tb_Receipt\nwhere isDeleted <> 1\n"
                                   u"and   ReceiptDate between '2024-05-01 00:00:00' and "
                                   u"'2024-05-01 23:59:59'\norder by ReceiptNo desc"_s
                                << u"idx_receipt_receiptDate"_s;
}

void tst_Template::queriesUseIndexes()
{
    QFETCH(QString, sql);
    QFETCH(QString, index);
    std::unique_ptr<ResultSet> plan = m_db->executeQuery(u"explain query plan "_s + sql);
    QVERIFY(plan);
    QString details;
    while (plan->next())
        details += plan->stringForColumn(u"detail"_s).value_or(QString()) + u'\n';
    // A SEARCH through the index, not a SCAN of the table (nor of a whole index).
    QVERIFY2(details.contains(u"SEARCH tb_receipt USING "_s, Qt::CaseInsensitive)
                 && (details.contains(u"USING INDEX "_s + index)
                     || details.contains(u"USING COVERING INDEX "_s + index)),
             qPrintable(details));
    QVERIFY2(!details.contains(u"SCAN"_s), qPrintable(details));
}

void tst_Template::firstRows()
{
    // One header row, with a side label of 1 to 8 characters.
    QCOMPARE(column(u"select title || '|' || remark || '|' || length(id) || '|' || "
                    u"(length(label) between 1 and 8) from tb_company"_s),
             QStringList(u"收款收据||36|1"_s));
    QCOMPARE(column(u"select numLong || ',' || currNum from tb_receiptNo"_s),
             QStringList(u"7,1"_s));
    QCOMPARE(column(u"select content from tb_paytype order by content"_s),
             QStringList({u"微信"_s, u"支付宝"_s, u"现金"_s, u"银行转账"_s}));
    QCOMPARE(column(u"select count(*) from tb_receipt"_s), QStringList(u"0"_s));
}

QTEST_GUILESS_MAIN(tst_Template)
#include "tst_template.moc"
