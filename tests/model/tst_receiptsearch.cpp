// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupservice.h"
#include "database.h"
#include "receiptfilter.h"
#include "receiptrow.h"
#include "receiptsearch.h"
#include "receiptsearchindex.h"
#include "schemaupgrade.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <sqlite3.h>

#include <random>

using namespace Qt::StringLiterals;

// The lists' search done by SQLite finds exactly what the search over loaded receipts finds,
// with the trigram index and without it, and the index stays right through every write.
class tst_ReceiptSearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sameAsFilter_data();
    void sameAsFilter();
    void indexFoldsAsQt();
    void indexFollowsWrites();
    void olderBookIsIndexedInTheBackground();
    void foreignCodeIsRefused_data();
    void foreignCodeIsRefused();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

namespace {

const QString firstDay = u"2024-01-01 00:00:00"_s;
const QString lastDay = u"2024-12-31 23:59:59"_s;

QSet<QString> filterIds(Database &database, const QString &text)
{
    std::unique_ptr<ResultSet> rows = database.executeQuery(
        u"select * from tb_receipt where isDeleted <> 1 and receiptDate between '%1' and '%2'"_s
            .arg(firstDay, lastDay));
    ReceiptRowMapper mapper(*rows, u"receiptNo"_s);
    const ReceiptFilter filter(text);
    QSet<QString> ids;
    while (rows->next()) {
        const std::optional<Receipt> receipt = mapper.map();
        if (receipt && filter.matches(*receipt))
            ids.insert(receipt->id);
    }
    return ids;
}

std::optional<QSet<QString>> searchIds(Database &database, const QString &text, bool indexed)
{
    std::unique_ptr<ResultSet> rows = database.executeQuery(
        u"select r.id from tb_receipt r where "_s
        + ReceiptSearch(text).listCondition(firstDay, lastDay, indexed, u"r"_s));
    if (!rows)
        return std::nullopt;
    QSet<QString> ids;
    while (rows->next())
        ids.insert(rows->stringForColumnIndex(0).value_or(QString()));
    if (rows->hasError())
        return std::nullopt;
    return ids;
}

// Receipts of texts that trip up searches: wildcards of LIKE and GLOB, quotes, letters
// whose case folding reaches beyond ASCII, full-width forms, and totals stored oddly.
bool addNastyReceipts(Database &database, int count, int firstNumber = 1)
{
    static const QStringList pieces = {u"房租"_s,
                                       u"物业管理费"_s,
                                       u"北京星河文化传媒有限公司"_s,
                                       u"王's 五金店"_s,
                                       u"%"_s,
                                       u"_"_s,
                                       u"'"_s,
                                       u"\""_s,
                                       u"\\"_s,
                                       u"*"_s,
                                       u"?"_s,
                                       u"[a]"_s,
                                       u"Abc"_s,
                                       u"aBC"_s,
                                       u"KELVIN \u212A"_s,
                                       u"\u017Fs"_s,
                                       u"ＡＢｃ"_s,
                                       u"ΣΑΣ σας"_s,
                                       u"Straße"_s,
                                       u"µ"_s,
                                       u"İi"_s,
                                       u"现金"_s,
                                       u"680"_s,
                                       u"  "_s,
                                       u"\U00010400\U00010428"_s};
    static const QStringList totals = {
        u"680"_s,    u"680.00"_s, u"0680"_s,  u"680.004"_s, u"680.005"_s, u"-680"_s,    u"680.5"_s,
        u"680.50"_s, u"12.3"_s,   u"abc"_s,   u""_s,        u"1e3"_s,     u"680."_s,    u".5"_s,
        u" 680"_s,   u"0"_s,      u"-0.00"_s, u"0.01"_s,    u"12"_s,      u"1,234.50"_s};
    std::mt19937 random(42 + firstNumber);
    const auto text = [&random] {
        QString t;
        for (int n = int(random() % 4); n > 0; --n)
            t += pieces.at(int(random() % pieces.size()));
        return t;
    };
    QStringList sql {u"begin;"_s};
    for (int i = firstNumber; i < firstNumber + count; ++i) {
        const QString total = totals.at(int(random() % totals.size()));
        sql.append(u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, reason2, "
                   u"remark, paytype, payee, createDate, total, isDeleted) values "
                   u"(%1, %2, '2024-%3-10 09:00:00', %4, %5, %6, %7, %8, %9, "
                   u"'2024-01-01 09:00:00', %10, %11);"_s
                       .arg(sqlQuote(u"ID%1"_s.arg(i)),
                            sqlQuote(u"%1"_s.arg(i, 7, 10, QChar(u'0'))),
                            u"%1"_s.arg(i % 12 + 1, 2, 10, QChar(u'0')), sqlQuote(text()),
                            sqlQuote(text()), sqlQuote(text()), sqlQuote(text()), sqlQuote(text()),
                            sqlQuote(text()))
                       .arg(total == u"12"_s ? u"12"_s : sqlQuote(total),
                            i % 10 == 0 ? u"'1'"_s : u"'0'"_s));
    }
    sql.append(u"commit;"_s);
    return database.executeStatements(sql.join(u'\n'));
}

bool indexIsIntact(Database &database)
{
    return database.executeStatements(
        u"insert into fts_receipt (fts_receipt, rank) values ('integrity-check', 1)"_s);
}

} // namespace

void tst_ReceiptSearch::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_env->createDatabase();
    Database database(m_env->databasePath());
    QVERIFY(database.open());
    QVERIFY(addNastyReceipts(database, 3000));
    // One long remark, longer than a single GLOB pattern may be.
    const QString longText = QString(u"Ab房"_s).repeated(5000);
    QVERIFY(database.executeStatements(
        u"update tb_receipt set remark = %1 where id = 'ID7';"
        u"update tb_receipt set reason2 = 'x*?[a]\"\"\" \u212A\u212Ak' where id = 'ID8';"
        u"update tb_receipt set remark = '\u13A0 \u1C80\u1C80\u1C80 xyz' where id = 'ID9';"_s.arg(
            sqlQuote(longText))));
    QVERIFY(ReceiptSearchIndex::isReady(database));
    QVERIFY(indexIsIntact(database));
}

void tst_ReceiptSearch::sameAsFilter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("finds");
    QTest::newRow("empty") << u"  "_s << true;
    QTest::newRow("one Chinese") << u"房"_s << true;
    QTest::newRow("two Chinese") << u"房租"_s << true;
    QTest::newRow("three Chinese") << u"物业管"_s << true;
    QTest::newRow("six Chinese") << u"北京星河文化"_s << true;
    QTest::newRow("none") << u"无此单位"_s << false;
    QTest::newRow("Latin, another case") << u"abc"_s << true;
    QTest::newRow("Latin across pieces") << u"Cabc"_s << true;
    QTest::newRow("Kelvin sign by k") << u"kkk"_s << true;
    QTest::newRow("long s by s") << u"SSS"_s << true;
    QTest::newRow("one letter") << u"k"_s << true;
    QTest::newRow("Greek final sigma") << u"ΣΑΣ"_s << true;
    QTest::newRow("full-width") << u"ａｂＣ"_s << true;
    QTest::newRow("sharp s") << u"STRASSE"_s << false;
    QTest::newRow("rounded ve by ve") << u"ввв"_s << true;
    QTest::newRow("Cherokee, beyond the index's folding")
        << u"\uAB70 \u0432\u0432\u0432 XYZ"_s << true;
    QTest::newRow("Deseret, exact only") << u"\U00010428\U00010428"_s << false;
    QTest::newRow("percent") << u"%"_s << true;
    QTest::newRow("underscore") << u"_"_s << true;
    QTest::newRow("quote") << u"王's"_s << true;
    QTest::newRow("double quote") << u"\"\"\""_s << true;
    QTest::newRow("backslash") << u"\\"_s << true;
    QTest::newRow("glob wildcards") << u"*?[a]"_s << true;
    QTest::newRow("bracket") << u"[A"_s << true;
    QTest::newRow("injection") << u"'); drop table tb_receipt; --"_s << false;
    QTest::newRow("amount") << u"680"_s << true;
    QTest::newRow("amount with fen") << u"680.5"_s << true;
    QTest::newRow("negative amount") << u"-680.00"_s << true;
    QTest::newRow("zero") << u"0"_s << true;
    QTest::newRow("amount 12") << u"12"_s << true;
    QTest::newRow("receipt number") << u"0001234"_s << true;
    QTest::newRow("long cased text") << QString(u"aB房"_s).repeated(4000) << true;
    QTest::newRow("1 MB cased") << QString(u"a"_s).repeated(1 << 20) << false;
    QTest::newRow("10 MB Chinese") << QString(u"房"_s).repeated(5 << 20) << false;
}

void tst_ReceiptSearch::sameAsFilter()
{
    QFETCH(QString, text);
    QFETCH(bool, finds);
    Database database(m_env->databasePath());
    QVERIFY(database.open());
    const QSet<QString> expected = filterIds(database, text);
    QCOMPARE(!expected.isEmpty(), finds);
    for (const bool indexed : {true, false}) {
        const std::optional<QSet<QString>> found = searchIds(database, text, indexed);
        QVERIFY2(found, indexed ? "with the index" : "without the index");
        QCOMPARE(*found, expected);
    }
}

// The index is asked first and its rows are then checked exactly, so it must find at least
// what a case-insensitive QString search finds: for every letter it is asked for, all the
// letters that one case folding makes the same.
void tst_ReceiptSearch::indexFoldsAsQt()
{
    QHash<char32_t, QList<char32_t>> classes;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF)
            classes[QChar::toCaseFolded(c)].append(c);
    }
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
    const auto closing = qScopeGuard([db] { sqlite3_close(db); });
    QCOMPARE(sqlite3_exec(db, "create virtual table t using fts5(a, tokenize='trigram')", nullptr,
                          nullptr, nullptr),
             SQLITE_OK);
    QStringList missed;
    for (auto it = classes.cbegin(); it != classes.cend(); ++it) {
        if (it.value().size() < 2)
            continue;
        sqlite3_exec(db, "delete from t", nullptr, nullptr, nullptr);
        for (const char32_t member : it.value()) {
            const QByteArray row = u"insert into t (rowid, a) values (%1, '%2')"_s.arg(member)
                                       .arg(QString::fromUcs4(&member, 1).repeated(3))
                                       .toUtf8();
            QCOMPARE(sqlite3_exec(db, row.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        }
        for (const char32_t asked : it.value()) {
            const QByteArray query = u"select count(*) from t where t match '\"%1\"'"_s
                                         .arg(QString::fromUcs4(&asked, 1).repeated(3))
                                         .toUtf8();
            sqlite3_stmt *statement = nullptr;
            QCOMPARE(sqlite3_prepare_v2(db, query.constData(), -1, &statement, nullptr), SQLITE_OK);
            QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
            if (sqlite3_column_int(statement, 0) != it.value().size()
                && ReceiptSearch::indexFoldsCaseOf(asked))
                missed.append(u"U+%1"_s.arg(uint(asked), 4, 16, QChar(u'0')));
            sqlite3_finalize(statement);
        }
    }
    QCOMPARE(missed.join(u" "_s), QString());
}

void tst_ReceiptSearch::indexFollowsWrites()
{
    TestEnvironment env;
    env.createDatabase();
    const QString id = saveNewReceipt(u"华信 Trading"_s, 680);
    QVERIFY(!id.isEmpty());
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.write(
        u"update tb_receipt set payer = '东方 Books', receiptDate = '2024-05-01 00:00:00' "
        u"where id = %1"_s.arg(sqlQuote(id))));
    QVERIFY(saveNewReceipt(u"gone"_s, 1).size() > 0);
    QVERIFY(helper.write(u"delete from tb_receipt where payer = 'gone'"_s));
    // A deleted receipt put back with its id, and the whole book restored from a backup
    // made before the last change.
    QVERIFY(helper.write(u"delete from tb_receipt where id = %1"_s.arg(sqlQuote(id))));
    QVERIFY(helper.write(
        receiptInsertSql(id, u"0000001"_s, u"2024-05-01 00:00:00"_s, u"东方 Books"_s)));
    const QString saved = QDir(env.documentsPath()).filePath(u"saved.db"_s);
    QVERIFY(BackupService::backup(saved));
    QVERIFY(
        helper.write(u"update tb_receipt set payer = '东方' where id = %1"_s.arg(sqlQuote(id))));
    QString error;
    QVERIFY2(BackupService::restore(saved, &error), qPrintable(error));
    // Another program, over its own connection.
    QVERIFY(
        env.execRaw(receiptInsertSql(u"X1"_s, u"X1"_s, u"2024-06-01 00:00:00"_s, u"BOOKS 社"_s)));
    Database database(env.databasePath());
    QVERIFY(database.open());
    QVERIFY(indexIsIntact(database));
    QCOMPARE(searchIds(database, u"books"_s, true), QSet<QString>({id, u"X1"_s}));
    QCOMPARE(searchIds(database, u"trading"_s, true), QSet<QString>());
    QCOMPARE(searchIds(database, u"gone"_s, true), QSet<QString>());
}

void tst_ReceiptSearch::olderBookIsIndexedInTheBackground()
{
    TestEnvironment env;
    const QString path = env.createDatabase();
    SQLiteHelper::resetShared();
    {
        // A book as the version before the index made it.
        Database database(path);
        QVERIFY(database.open());
        QVERIFY(database.executeStatements(
            u"drop trigger trg_receipt_search_insert; drop trigger trg_receipt_search_update; "
            u"drop trigger trg_receipt_search_delete; drop table fts_receipt; "
            u"drop table tb_searchIndex; pragma user_version = 1;"_s));
        QVERIFY(addNastyReceipts(database, 3 * ReceiptSearchIndex::batchSize, 1));
        const SchemaReport report = SchemaUpgrade::apply(database);
        QCOMPARE(report.version, 1);
        QCOMPARE(SchemaUpgrade::version(database), SchemaUpgrade::currentVersion);
        QCOMPARE(SchemaUpgrade::unknownObjects(database, SQLiteHelper::templatePath()),
                 QStringList());
        QVERIFY(!ReceiptSearchIndex::isReady(database));
        QCOMPARE(searchIds(database, u"abc"_s, false), filterIds(database, u"abc"_s));
    }

    // Cut short after the first batch; writes in between, below and above the mark.
    std::atomic_bool stop = false;
    QVERIFY(!ReceiptSearchIndex::fill(
        path, [&stop](qint64, qint64) { stop = true; }, &stop));
    QVERIFY(env.execRaw(u"update tb_receipt set payer = 'Abc 甲' where id = 'ID2';"
                        u"update tb_receipt set payer = 'Abc 乙' where id = 'ID14000';"
                        u"delete from tb_receipt where id = 'ID3';"_s));
    QVERIFY(
        env.execRaw(receiptInsertSql(u"NEW"_s, u"NEW"_s, u"2024-06-01 00:00:00"_s, u"abc 新"_s)));

    ReceiptSearchIndex index(path);
    QSignalSpy finished(&index, &ReceiptSearchIndex::finished);
    QSignalSpy progressed(&index, &ReceiptSearchIndex::progressed);
    index.start();
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(progressed.last().at(0), progressed.last().at(1));

    Database database(path);
    QVERIFY(database.open());
    QVERIFY(ReceiptSearchIndex::isReady(database));
    QVERIFY(indexIsIntact(database));
    QCOMPARE(SchemaUpgrade::unknownObjects(database, SQLiteHelper::templatePath()), QStringList());
    std::unique_ptr<ResultSet> plan
        = database.executeQuery(u"explain query plan select id from tb_receipt r where "_s
                                + ReceiptSearch(u"680"_s).condition(true, u"r"_s));
    QString steps;
    while (plan && plan->next())
        steps += plan->stringForColumnIndex(3).value_or(QString()) + u'\n';
    QVERIFY2(steps.contains(u"idx_receipt_totalValue"_s), qPrintable(steps));
    for (const QString &text : {u"abc"_s, u"Abc 乙"_s, u"物业管理"_s})
        QCOMPARE(searchIds(database, text, true), filterIds(database, text));

    // Made again from the start.
    QVERIFY(ReceiptSearchIndex::reset(database));
    QVERIFY(!ReceiptSearchIndex::isReady(database));
    QCOMPARE(searchIds(database, u"物业管理"_s, true), QSet<QString>());
    QVERIFY(ReceiptSearchIndex::fill(path));
    QVERIFY(ReceiptSearchIndex::isReady(database));
    QVERIFY(indexIsIntact(database));
}

// The index's own triggers belong to the book; another trigger, or one of their names that
// does something else, is still code the book should not carry.
void tst_ReceiptSearch::foreignCodeIsRefused_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("unknown");
    QTest::newRow("the template's own") << QString() << QStringList();
    QTest::newRow("another trigger")
        << u"create trigger mute before insert on tb_receipt begin select raise(ignore); end"_s
        << QStringList(u"触发器 mute（表 tb_receipt）"_s);
    QTest::newRow("a trigger of the index's name")
        << u"drop trigger trg_receipt_search_delete; create trigger trg_receipt_search_delete "
           u"after delete on tb_receipt begin delete from tb_history; end"_s
        << QStringList(u"触发器 trg_receipt_search_delete（表 tb_receipt）"_s);
}

void tst_ReceiptSearch::foreignCodeIsRefused()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, unknown);
    TestEnvironment env;
    Database database(env.createDatabase());
    QVERIFY(database.open());
    QVERIFY(sql.isEmpty() || database.executeStatements(sql));
    QCOMPARE(SchemaUpgrade::unknownObjects(database, SQLiteHelper::templatePath()), unknown);
}

QTEST_GUILESS_MAIN(tst_ReceiptSearch)
#include "tst_receiptsearch.moc"
