// SPDX-License-Identifier: GPL-3.0-or-later
#include "database.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// Checks the generated template database: what every statement of the program takes
// for granted about its tables and indexes. (Its columns and first rows are what every
// other test starts from.)
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

    void tables();
    void queriesUseIndexes_data();
    void queriesUseIndexes();

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

void tst_Template::tables()
{
    // The nine tables of receipts and settings, tb_void and tb_history (with SQLite's own
    // sqlite_sequence for its id), the search index (its virtual table, four tables of its
    // own and tb_searchIndex), the record chain (tb_chain, tb_chainHead), the closed days
    // (tb_closing), the series and paper books (tb_series, tb_seriesCounter, tb_paperBook)
    // and the schema version.
    QCOMPARE(column(u"select count(*) from sqlite_master where type = 'table'"_s),
             QStringList(u"24"_s));
    QCOMPARE(column(u"pragma user_version"_s), QStringList(u"7"_s));
    // TEXT affinity in every table but the history, the chain and the index's mark: numbers come back exactly as the
    // program wrote them (a receipt number keeps its leading zeros).
    QCOMPARE(
        column(u"select distinct upper(c.type) from sqlite_master t, pragma_table_info(t.name) c "
               u"where t.type = 'table' and t.name like 'tb\\_%' escape '\\' "
               u"and t.name not in ('tb_history', 'tb_searchIndex', 'tb_chain', 'tb_chainHead', "
               u"'tb_series', 'tb_seriesCounter', 'tb_paperBook')"_s),
        QStringList(u"TEXT"_s));
}

void tst_Template::queriesUseIndexes_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("index");
    const QString receipts = u"tb_receipt"_s;
    QTest::newRow("number taken") << u"select count(*)\nfrom tb_receipt\nwhere receiptNo = '1';"_s
                                  << receipts << u"idx_receipt_receiptNo"_s;
    QTest::newRow("date range") << u"select *\nfrom  tb_Receipt\nwhere isDeleted <> 1\n"
                                   u"and   ReceiptDate between '2024-05-01 00:00:00' and "
                                   u"'2024-05-01 23:59:59'\norder by ReceiptNo desc"_s
                                << receipts << u"idx_receipt_receiptDate"_s;
    // A number's other paddings, and whether the history shows it issued, on a book of a
    // million receipts.
    QTest::newRow("number in another padding")
        << u"select count(*) from tb_receipt where ltrim(receiptNo, '0') = '1' and receiptNo <> ''"_s
        << receipts << u"idx_receipt_receiptNoValue"_s;
    QTest::newRow("number issued")
        << u"select count(*) from tb_history where ltrim(receiptNo, '0') = '1' and receiptNo <> ''"_s
        << u"tb_history"_s << u"idx_history_receiptNoValue"_s;
}

void tst_Template::queriesUseIndexes()
{
    QFETCH(QString, sql);
    QFETCH(QString, table);
    QFETCH(QString, index);
    std::unique_ptr<ResultSet> plan = m_db->executeQuery(u"explain query plan "_s + sql);
    QVERIFY(plan);
    QString details;
    while (plan->next())
        details += plan->stringForColumn(u"detail"_s).value_or(QString()) + u'\n';
    // A SEARCH through the index, not a SCAN of the table (nor of a whole index).
    QVERIFY2(details.contains(u"SEARCH %1 USING "_s.arg(table), Qt::CaseInsensitive)
                 && (details.contains(u"USING INDEX "_s + index)
                     || details.contains(u"USING COVERING INDEX "_s + index)),
             qPrintable(details));
    QVERIFY2(!details.contains(u"SCAN"_s), qPrintable(details));
}

QTEST_GUILESS_MAIN(tst_Template)
#include "tst_template.moc"
