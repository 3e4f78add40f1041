// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "receiptbook.h"
#include "receiptfilter.h"
#include "receiptlist.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QCollator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <sqlite3.h>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

// The lists' reads held up at will. While slowSearch is set, SQLite's instr(), which a
// search runs on each column of every row it reads, takes a millisecond on the lists' own
// connections (not on the window's thread): a search of 25,000 receipts then holds the
// book's shared lock for minutes, as a search of a million does for seconds.
std::atomic_bool slowSearch = false;
std::atomic_int slowCalls = 0;

void slowInstr(sqlite3_context *context, int, sqlite3_value **values)
{
    if (sqlite3_value_type(values[0]) == SQLITE_NULL
        || sqlite3_value_type(values[1]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    if (slowSearch && QThread::currentThread() != QCoreApplication::instance()->thread()) {
        ++slowCalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto text = [&](int i) {
        return std::string_view(reinterpret_cast<const char *>(sqlite3_value_text(values[i])),
                                size_t(sqlite3_value_bytes(values[i])));
    };
    const std::string_view haystack = text(0), needle = text(1);
    const size_t at = haystack.find(needle);
    if (at == std::string_view::npos)
        return sqlite3_result_int(context, 0);
    // Counted in characters, as SQLite counts them: the bytes that begin one.
    const auto characters = std::count_if(haystack.begin(), haystack.begin() + qsizetype(at),
                                          [](char c) { return (uchar(c) & 0xc0) != 0x80; });
    sqlite3_result_int64(context, characters + 1);
}

int addSlowInstr(sqlite3 *db, char **, const sqlite3_api_routines *)
{
    return sqlite3_create_function(db, "instr", 2, SQLITE_UTF8, nullptr, &slowInstr, nullptr,
                                   nullptr);
}

} // namespace

// The rows of a list and their totals, as a list shows them.
struct Shown
{
    QStringList ids;
    qint64 count = 0, fen = 0, voided = 0;
    friend bool operator==(const Shown &, const Shown &) = default;
};

namespace QTest {
template<>
char *toString(const Shown &shown)
{
    return qstrdup(QStringLiteral("%1 (count %2, fen %3, voided %4)")
                       .arg(shown.ids.join(u' '))
                       .arg(shown.count)
                       .arg(shown.fen)
                       .arg(shown.voided)
                       .toUtf8()
                       .constData());
}
} // namespace QTest

class tst_ReceiptList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void changesReachTheRowsInPlace_data();
    void changesReachTheRowsInPlace();
    void oneReadServesEveryList();
    void anotherProgramsChangeIsSeenWhenShownAgain();
    void sortByNumberAsTheBookHasIt();
    void sortAgainAsAReadSorts_data();
    void sortAgainAsAReadSorts();
    void aLongListKeepsItsRowsWhileSorted();
    void sortedAgainAfterAnotherProgramsChange();
    void longRangeReadOnAThread_data();
    void longRangeReadOnAThread();
    void aSearchKeepsTheRowsUntilItsFirstPage();
    void aSaveWhileTheListsRead_data();
    void aSaveWhileTheListsRead();

private:
    static Shown shown(ReceiptList &list)
    {
        Shown result;
        for (qsizetype row = 0; row < list.size(); ++row)
            result.ids.append(list.idAt(row));
        result.count = list.totals().count;
        result.fen = list.totals().fen;
        result.voided = list.totals().voided;
        return result;
    }
    // The same list read afresh, to compare the one kept up to date with.
    Shown readAfresh(ListSort sort, Qt::SortOrder order, const QString &search)
    {
        ReceiptList fresh(ReceiptBook::shared());
        fresh.setSort(sort, order);
        fresh.setSearch(search);
        fresh.setRange(begin, end);
        return shown(fresh);
    }
    // The list the lists should show, found by ReceiptFilter in the whole range as read.
    Shown filtered(const QString &search)
    {
        QList<Receipt> range;
        receiptsDated(begin, end, &range);
        Shown expected;
        const ReceiptFilter filter(search);
        for (const Receipt &receipt : range) {
            if (!filter.matches(receipt))
                continue;
            expected.ids.append(receipt.id);
            if (receipt.voidReason) {
                ++expected.voided;
                continue;
            }
            ++expected.count;
            expected.fen += qRound64(receipt.total * 100);
        }
        return expected;
    }
    Receipt newReceipt(const QString &id, const QString &payer, double total)
    {
        Receipt receipt;
        receipt.id = id;
        receipt.receiptNo = u"9999999"_s; // taken or not, the book gives the next free one
        receipt.receiptDate = QDateTime(QDate(2024, 5, 2), QTime(0, 0));
        receipt.payer = payer;
        receipt.reason1 = u"房租"_s;
        receipt.total = total;
        return receipt;
    }

    std::unique_ptr<TestEnvironment> m_env;
    const QString begin = u"2024-05-01 00:00:00"_s;
    const QString end = u"2024-05-31 23:59:59"_s;
};

void tst_ReceiptList::init()
{
    m_env = std::make_unique<TestEnvironment>();
    m_env->createDatabase();
    // 300 receipts over May and one in June, of five payers and many amounts; a few
    // voided, so the status and the totals have something to tell.
    QVERIFY(m_env->execRaw(onEngine(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 300) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, createDate, "
        u"isDeleted) select 'R' || i, printf('%07d', i), printf('2024-05-%02d 00:00:00', 1 + i % "
        u"31), char(0x7532 + i % 5) || '公司', '房租', printf('%d.%02d', i * 7 % 500, i % 100), "
        u"printf('2024-05-%02d 10:00:%02d', 1 + i % 31, i % 60), '0' from n;"_s,
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, createDate, "
        u"isDeleted) select 'R' || i, lpad(i::text, 7, '0'), format('2024-05-%s 00:00:00', "
        u"lpad((1 + i % 31)::text, 2, '0')), chr(30002 + i % 5) || '公司', '房租', "
        u"format('%s.%s', i * 7 % 500, lpad((i % 100)::text, 2, '0')), format('2024-05-%s "
        u"10:00:%s', lpad((1 + i % 31)::text, 2, '0'), lpad((i % 60)::text, 2, '0')), 0 "
        u"from generate_series(1, 300) as i;"_s)
        + u"insert into tb_receipt (id, receiptNo, receiptDate, payer, total, createDate, isDeleted) "
          u"values ('J1', '0000301', '2024-06-01 00:00:00', '甲', '5', '2024-06-01 00:00:00', '0');"
          u"insert into tb_void (receiptId, reason, voidDate) select 'R' || i, '写错', "
          u"'2024-06-01 00:00:00' from (select 10 as i union select 20 union select 30) as v;"
          u"update tb_receiptNo set currNum = '302';"_s));
}

void tst_ReceiptList::cleanup()
{
    m_env.reset();
}

void tst_ReceiptList::changesReachTheRowsInPlace_data()
{
    QTest::addColumn<int>("sort");
    QTest::addColumn<Qt::SortOrder>("order");
    QTest::addColumn<QString>("search");
    QTest::newRow("book's order") << int(ListSort::Book) << Qt::AscendingOrder << QString();
    QTest::newRow("payer") << int(ListSort::Payer) << Qt::AscendingOrder << QString();
    QTest::newRow("amount, descending") << int(ListSort::Total) << Qt::DescendingOrder << QString();
    QTest::newRow("number") << int(ListSort::ReceiptNo) << Qt::AscendingOrder << QString();
    QTest::newRow("status") << int(ListSort::Status) << Qt::AscendingOrder << QString();
    QTest::newRow("date, searched") << int(ListSort::ReceiptDate) << Qt::AscendingOrder
                                    << u"申"_s;
}

// Each change of the book reaches a list read before it as the list would be read after
// it, without reading the list again, for a few statements.
void tst_ReceiptList::changesReachTheRowsInPlace()
{
    QFETCH(int, sort);
    QFETCH(Qt::SortOrder, order);
    QFETCH(QString, search);
    ReceiptBook &book = ReceiptBook::shared();
    ReceiptList list(book);
    list.setSort(ListSort(sort), order);
    list.setSearch(search);
    list.setRange(begin, end);
    QVERIFY(list.size() > 50);
    list.at(0); // a page held, as on screen
    QSignalSpy reads(&list, &ReceiptList::aboutToReset);
    Database &connection = SQLiteHelper::shared().db();

    const auto check = [&](const char *what, const std::function<bool()> &change) {
        const qint64 before = connection.statementsSent();
        QVERIFY2(change(), what);
        const qint64 sent = connection.statementsSent() - before;
        QCOMPARE(reads.count(), 0);
        QCOMPARE(shown(list), readAfresh(ListSort(sort), order, search));
        // The write's own statements, then the list's: a handful, not one a receipt.
        QVERIFY2(sent < 100, qPrintable(u"%1: %2 statements"_s.arg(QLatin1String(what)).arg(sent)));
    };
    check("issue", [&] { return book.issue(newReceipt(u"N1"_s, u"申公司"_s, 123.45)); });
    check("issue out of the range", [&] {
        Receipt june = newReceipt(u"N2"_s, u"乙公司"_s, 1);
        june.receiptDate = QDateTime(QDate(2024, 6, 2), QTime(0, 0));
        return book.issue(june);
    });
    Receipt edited = *storedReceipt(u"R7"_s);
    edited.payer = u"申公司"_s;
    edited.total = 0.01;
    check("update", [&] { return book.update(u"R7"_s, edited); });
    edited.receiptDate = QDateTime(QDate(2024, 6, 3), QTime(0, 0));
    check("update out of the range", [&] { return book.update(u"R7"_s, edited); });
    check("void", [&] { return book.voidReceipts({u"R12"_s, u"R17"_s}, u"作废"_s); });
    check("unvoid", [&] { return book.unvoidReceipts({u"R10"_s}); });
    check("remove", [&] { return book.remove({u"R12"_s, u"R22"_s, u"N1"_s}); });
    const std::optional<QList<HistoryEntry>> history = book.history(u"0000022"_s);
    QVERIFY(history && !history->isEmpty());
    check("restore", [&] { return book.restoreDeleted(history->first()); });
}

// Every list screen visited holds its rows: a change reads its rows once for them all,
// and each list still shows them as the book has them now.
void tst_ReceiptList::oneReadServesEveryList()
{
    ReceiptBook &book = ReceiptBook::shared();
    Database &connection = SQLiteHelper::shared().db();
    const auto sentFor = [&](const std::function<bool()> &change) {
        const qint64 before = connection.statementsSent();
        return change() ? connection.statementsSent() - before : -1;
    };
    std::vector<std::unique_ptr<ReceiptList>> lists;
    Receipt edited = *storedReceipt(u"R7"_s);
    // A receipt issued first, as by a desk open a while (a shared book's desk reads the
    // counter once).
    Receipt first = newReceipt(u"N0"_s, u"丁"_s, 9);
    first.receiptNo = u"0000400"_s;
    QVERIFY(book.issue(first));
    qint64 update = 0, issue = 0;
    for (int count = 1; count <= 3; ++count) {
        lists.push_back(std::make_unique<ReceiptList>(book));
        lists.back()->setRange(begin, end);
        for (const std::unique_ptr<ReceiptList> &list : lists)
            list->at(0); // its top on screen
        edited.remark = u"改过 %1"_s.arg(count);
        const qint64 updated = sentFor([&] { return book.update(u"R7"_s, edited); });
        Receipt added = newReceipt(u"N%1"_s.arg(count), u"丁"_s, count);
        added.receiptNo = u"000040%1"_s.arg(count); // each at the top of the lists
        const qint64 issued = sentFor([&] { return book.issue(added); });
        if (count == 1)
            std::tie(update, issue) = std::pair(updated, issued);
        QCOMPARE(updated, update);
        QCOMPARE(issued, issue);
        for (const std::unique_ptr<ReceiptList> &list : lists) {
            QCOMPARE(shown(*list), readAfresh(ListSort::Book, Qt::AscendingOrder, {}));
            QCOMPARE(list->at(list->rowOf(u"R7"_s).value())->remark, edited.remark);
        }
    }
}

void tst_ReceiptList::anotherProgramsChangeIsSeenWhenShownAgain()
{
    ReceiptList list(ReceiptBook::shared());
    list.setRange(begin, end);
    const qsizetype before = list.size();
    QSignalSpy reads(&list, &ReceiptList::aboutToReset);
    // Shown again with nothing changed: not read again.
    list.setRange(begin, end);
    QCOMPARE(reads.count(), 0);
    // Another program's save: read again when the list is next shown.
    QVERIFY(m_env->storeReceipt(u"X"_s, u"0000400"_s, u"2024-05-09 00:00:00"_s, u"丙"_s, 2));
    list.setRange(begin, end);
    QCOMPARE(reads.count(), 1);
    QCOMPARE(list.size(), before + 1);
    QCOMPARE(list.idAt(0), u"X"_s);
    // Another program deletes the receipt stored last; one issued here then takes its
    // rowid, and the list, not read again meanwhile, shows the new one once, in its place.
    // (A server never gives a rowid again, and tells its desks of a delete.)
    if (TestEnvironment::onServer())
        return;
    QVERIFY(m_env->execRaw(u"delete from tb_receipt where id = 'X';"_s));
    QVERIFY(ReceiptBook::shared().issue(newReceipt(u"N"_s, u"丁"_s, 3)));
    QCOMPARE(list.rowsOf({u"N"_s}).size(), 1);
    QCOMPARE(list.idAt(0), u"N"_s);
    QCOMPARE(list.size(), before + 1);
}

// Numbers of digits of one length sort by number as the book orders them: turned round
// without reading; a number of another form makes the sort read and collate again.
void tst_ReceiptList::sortByNumberAsTheBookHasIt()
{
    ReceiptList list(ReceiptBook::shared());
    list.setRange(begin, end);
    Database &connection = SQLiteHelper::shared().db();
    for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        const qint64 before = connection.statementsSent();
        list.setSort(ListSort::ReceiptNo, order);
        QCOMPARE(connection.statementsSent(), before);
        QCOMPARE(shown(list), readAfresh(ListSort::ReceiptNo, order, {}));
    }
    list.setSort(ListSort::ReceiptNo, Qt::AscendingOrder);
    QVERIFY(m_env->storeReceipt(u"Z"_s, u"12"_s, u"2024-05-09 00:00:00"_s, u"丙"_s, 2));
    list.refresh();
    QCOMPARE(list.idAt(0), u"R1"_s);
    QVERIFY(list.rowOf(u"Z"_s) == 11 || list.rowOf(u"Z"_s) == 12); // beside 0000012, by value
    list.setSort(ListSort::Book, Qt::AscendingOrder);
    list.setSort(ListSort::ReceiptNo, Qt::DescendingOrder);
    QCOMPARE(shown(list), readAfresh(ListSort::ReceiptNo, Qt::DescendingOrder, {}));
}

void tst_ReceiptList::sortAgainAsAReadSorts_data()
{
    QTest::addColumn<int>("sort");
    QTest::addColumn<QString>("search");
    QTest::newRow("number") << int(ListSort::ReceiptNo) << QString();
    QTest::newRow("date") << int(ListSort::ReceiptDate) << QString();
    QTest::newRow("payer") << int(ListSort::Payer) << QString();
    QTest::newRow("amount") << int(ListSort::Total) << QString();
    QTest::newRow("reason, all alike") << int(ListSort::Reason1) << QString();
    QTest::newRow("remark") << int(ListSort::Remark) << QString();
    QTest::newRow("made") << int(ListSort::CreateDate) << QString();
    QTest::newRow("status") << int(ListSort::Status) << QString();
    QTest::newRow("book's order") << int(ListSort::Book) << QString();
    QTest::newRow("payer, searched") << int(ListSort::Payer) << u"公司"_s;
    QTest::newRow("remark, searched") << int(ListSort::Remark) << u"申"_s;
}

// A list sorted again, from an order other than the book's, shows its rows as a list read
// in that order does: ties in the book's order, texts as the collation has them, and a
// receipt saved afterwards where that order puts it.
void tst_ReceiptList::sortAgainAsAReadSorts()
{
    QFETCH(int, sort);
    QFETCH(QString, search);
    // Remarks whose order is not their bytes': digit runs by value, letters in any case,
    // empty and none.
    QVERIFY(m_env->execRaw(u"update tb_receipt set remark = case rowid % 6 when 0 then '10号' "
                           u"when 1 then '2号' when 2 then 'b' when 3 then 'A' when 4 then '' "
                           u"end"_s));
    ReceiptBook &book = ReceiptBook::shared();
    ReceiptList list(book);
    list.setSort(ListSort::Remark, Qt::DescendingOrder);
    list.setSearch(search);
    list.setRange(begin, end);
    QVERIFY(list.size() > 10);
    for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        list.setSort(ListSort(sort), order);
        QCOMPARE(shown(list), readAfresh(ListSort(sort), order, search));
    }
    QVERIFY(book.issue(newReceipt(u"N1"_s, u"申公司"_s, 12)));
    QCOMPARE(shown(list), readAfresh(ListSort(sort), Qt::DescendingOrder, search));
    // From the book's order turned round.
    list.setSort(ListSort::ReceiptNo, Qt::AscendingOrder);
    list.setSort(ListSort(sort), Qt::AscendingOrder);
    QCOMPARE(shown(list), readAfresh(ListSort(sort), Qt::AscendingOrder, search));
}

// A list too long to sort on the window's thread keeps showing its rows, in the order they
// had, until they are sorted.
void tst_ReceiptList::aLongListKeepsItsRowsWhileSorted()
{
    QVERIFY(m_env->execRaw(onEngine(
        u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 25000) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, total, createDate, "
        u"isDeleted) select 'L' || i, printf('1%06d', i), printf('2024-05-%02d %02d:00:00', "
        u"1 + i % 31, i % 3), '乙' || (i * 7 / 25000), '1', '2024-06-01 00:00:00', '0' from n;"_s,
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, total, createDate, "
        u"isDeleted) select 'L' || i, '1' || lpad(i::text, 6, '0'), format('2024-05-%s "
        u"%s:00:00', lpad((1 + i % 31)::text, 2, '0'), lpad((i % 3)::text, 2, '0')), '乙' || "
        u"(i * 7 / 25000), '1', "
        u"'2024-06-01 00:00:00', 0 from generate_series(1, 25000) as i;"_s)));
    ReceiptList list(ReceiptBook::shared());
    list.setRange(begin, end);
    QTRY_VERIFY_WITH_TIMEOUT(list.isComplete(), 60000);
    const qsizetype rows = list.size();
    QCOMPARE(rows, 25300);
    const QString first = list.idAt(0);
    QSignalSpy resets(&list, &ReceiptList::reset);
    list.setSort(ListSort::ReceiptDate, Qt::DescendingOrder);
    QCOMPARE(list.size(), rows);
    QCOMPARE(list.idAt(0), first);
    QTRY_VERIFY_WITH_TIMEOUT(list.isComplete(), 60000);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(list.size(), rows);
    const QString expected = m_env->queryRaw(
        onEngine(u"select group_concat(id, ' ') from (select id from tb_receipt where isDeleted "
                 u"<> 1 and receiptDate between '%1' and '%2' order by receiptDate desc, "
                 u"receiptNo desc)"_s,
                 u"select string_agg(id, ' ' order by receiptDate desc, receiptNo desc) from "
                 u"tb_receipt where isDeleted <> 1 and receiptDate between '%1' and '%2'"_s)
            .arg(begin, end));
    QCOMPARE(shown(list).ids.join(u' '), expected);

    // By a text column, read in parts at once: 乙0 to 乙3 in the first rows, 乙3 to 乙6 in
    // the last. Ties stay in the book's order, highest number first.
    list.setSort(ListSort::Payer, Qt::AscendingOrder);
    QTRY_VERIFY_WITH_TIMEOUT(list.isComplete(), 60000);
    QList<QStringList> rowsByPayer;
    const QStringList lines
        = m_env->queryRaw(onEngine(u"select group_concat(payer || ' ' || id, '|') from (select "
                                   u"payer, id from tb_receipt where isDeleted <> 1 and "
                                   u"receiptDate between '%1' and '%2' order by receiptNo desc)"_s,
                                   u"select string_agg(payer || ' ' || id, '|' order by "
                                   u"receiptNo desc) from tb_receipt where isDeleted <> 1 and "
                                   u"receiptDate between '%1' and '%2'"_s)
                              .arg(begin, end))
              .split(u'|');
    for (const QString &line : lines)
        rowsByPayer.append(line.split(u' '));
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    std::stable_sort(rowsByPayer.begin(), rowsByPayer.end(),
                     [&](const QStringList &a, const QStringList &b) {
                         return collator.compare(a.at(0), b.at(0)) < 0;
                     });
    QStringList byPayer;
    for (const QStringList &row : std::as_const(rowsByPayer))
        byPayer.append(row.at(1));
    QCOMPARE(shown(list).ids, byPayer);
}

// Sorted after another program changed the book, a list shows the book as it is now.
void tst_ReceiptList::sortedAgainAfterAnotherProgramsChange()
{
    ReceiptList list(ReceiptBook::shared());
    list.setRange(begin, end);
    list.setSort(ListSort::Payer, Qt::AscendingOrder);
    QVERIFY(m_env->storeReceipt(u"X"_s, u"0000400"_s, u"2024-05-09 00:00:00"_s, u"丙"_s, 2));
    QVERIFY(m_env->execRaw(u"delete from tb_receipt where id = 'R5'"_s));
    for (const Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
        list.setSort(ListSort::Payer, order);
        QCOMPARE(shown(list), readAfresh(ListSort::Payer, order, {}));
    }
    QVERIFY(m_env->execRaw(u"delete from tb_receipt where id = 'R6'"_s));
    list.setSort(ListSort::Total, Qt::AscendingOrder);
    QCOMPARE(shown(list), readAfresh(ListSort::Total, Qt::AscendingOrder, {}));
}

void tst_ReceiptList::longRangeReadOnAThread_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("searchBefore"); // a search left while its read was running
    QTest::newRow("whole range") << QString() << QString();
    QTest::newRow("one character, read row by row") << u"甲"_s << QString();
    QTest::newRow("through the search index") << u"甲公司"_s << QString();
    QTest::newRow("search changed while reading") << u"申"_s << u"甲"_s;
}

// A range too long to read at once is read on a thread: its first page shows before the
// rest, and once every row is in, the list is the book's list, searched as the lists
// search, with its totals; a read made useless by another search never shows.
void tst_ReceiptList::longRangeReadOnAThread()
{
    QFETCH(QString, search);
    QFETCH(QString, searchBefore);
    QVERIFY(m_env->execRaw(
        onEngine(
            u"with recursive n(i) as (select 1000 union all select i + 1 from n where i < 26000) "
            u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, "
            u"createDate, isDeleted) select 'L' || i, printf('%07d', i), printf('2024-05-%02d "
            u"00:00:00', 1 + i % 31), char(0x7532 + i % 3) || '公司', '学费', printf('%d.%02d', "
            u"i % 900, i % 100), '2024-05-01 09:00:00', '0' from n;"_s,
            u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, "
            u"createDate, isDeleted) select 'L' || i, lpad(i::text, 7, '0'), format('2024-05-%s "
            u"00:00:00', lpad((1 + i % 31)::text, 2, '0')), chr(30002 + i % 3) || '公司', '学费', "
            u"format('%s.%s', i % 900, lpad((i % 100)::text, 2, '0')), '2024-05-01 09:00:00', 0 "
            u"from generate_series(1000, 26000) as i;"_s)
        + u"insert into tb_void (receiptId, reason, voidDate) select 'L' || i, '重开', "
          u"'2024-06-01 00:00:00' from (select 1500 as i union select 25999) as v;"_s));
    ReceiptBook &book = ReceiptBook::shared();
    const Shown expected = filtered(search);
    QVERIFY(expected.ids.size() > 8000);

    ReceiptList list(book);
    list.setSearch(searchBefore);
    list.setRange(begin, end);
    QVERIFY(!list.isComplete());
    if (search.isEmpty())
        QCOMPARE(list.size(), 100); // the first page, at once
    list.setSearch(search);
    // The rows shown stay until the search's first rows are there: never an empty table
    // in between.
    if (searchBefore.isEmpty())
        QCOMPARE(list.size(), 100);
    QTRY_VERIFY_WITH_TIMEOUT(list.isComplete(), 120000);
    QCOMPARE(shown(list), expected);
}

// A search of a long range shows the rows it replaces until its first page is found: the
// table never stands empty in between, as it did for the quarter second a one-character
// search of 200,000 receipts takes to find its first rows.
void tst_ReceiptList::aSearchKeepsTheRowsUntilItsFirstPage()
{
    QVERIFY(m_env->execRaw(onEngine(
        u"with recursive n(i) as (select 1000 union all select i + 1 from n where i < 26000) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, "
        u"createDate, isDeleted) select 'L' || i, printf('%07d', i), printf('2024-05-%02d "
        u"00:00:00', 1 + i % 31), char(0x7532 + i % 3) || '公司', '学费', '1', "
        u"'2024-05-01 09:00:00', '0' from n;"_s,
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, "
        u"createDate, isDeleted) select 'L' || i, lpad(i::text, 7, '0'), format('2024-05-%s "
        u"00:00:00', lpad((1 + i % 31)::text, 2, '0')), chr(30002 + i % 3) || '公司', '学费', "
        u"'1', '2024-05-01 09:00:00', 0 from generate_series(1000, 26000) as i;"_s)));
    ReceiptList list(ReceiptBook::shared());
    list.setRange(begin, end);
    QTRY_VERIFY_WITH_TIMEOUT(list.isComplete(), 60000);
    const Shown before = shown(list);
    QVERIFY(before.ids.size() > 25000);

    QSignalSpy resets(&list, &ReceiptList::reset);
    list.setSearch(u"申"_s);
    QVERIFY(!list.isComplete());
    QCOMPARE(resets.count(), 0);
    QCOMPARE(list.size(), qsizetype(before.ids.size()));
    QCOMPARE(list.idAt(0), before.ids.first());

    // Then the rows the search finds, all at once: the first page, or the whole list.
    QTRY_VERIFY_WITH_TIMEOUT(resets.count() > 0, 60000);
    QCOMPARE(resets.count(), 1);
    QVERIFY(list.size() > 0);
    for (qsizetype row = 0; row < list.size(); ++row)
        QCOMPARE(list.at(row)->payer, u"申公司"_s);
    QTRY_VERIFY_WITH_TIMEOUT(list.isComplete(), 120000);
    QCOMPARE(shown(list), filtered(u"申"_s));
}

void tst_ReceiptList::aSaveWhileTheListsRead_data()
{
    QTest::addColumn<QStringList>("typed"); // the search field after each key
    QTest::newRow("searches typed and cleared") << QStringList {
        u"星"_s, u"星河"_s, u"星河华"_s, QString(), u"0"_s, u"005"_s, u"00543"_s, QString()};
    QTest::newRow("a search still reading") << QStringList {u"星"_s};
}

// The lists read on connections of their own, and a search reads every receipt of the
// range: it holds the book's shared lock for as long as that takes, which a save must
// wait out to commit. Neither the reads given up as the search changed nor the one still
// running may make the save fail: they give way to it, and the one that is still of use
// reads again, the new receipt with the rest.
void tst_ReceiptList::aSaveWhileTheListsRead()
{
    QUENTA_SKIP_ON_SERVER("a file's lock");
    QFETCH(QStringList, typed);
    QVERIFY(m_env->execRaw(
        u"with recursive n(i) as (select 1000 union all select i + 1 from n where i < 26000) "
        u"insert into tb_receipt (id, receiptNo, receiptDate, payer, reason1, total, createDate, "
        u"isDeleted) select 'L' || i, printf('%07d', i), printf('2024-05-%02d 00:00:00', 1 + i "
        u"% 31), case when i % 7 = 0 then '星河文化' else char(0x7532 + i % 3) || '公司' end, "
        u"'学费', printf('%d.%02d', i % 900, i % 100), '2024-05-01 09:00:00', '0' from n;"
        u"update tb_receiptNo set currNum = '26001';"_s));
    ReceiptBook &book = ReceiptBook::shared();
    QVERIFY(SQLiteHelper::shared().open()); // the window's connection, as it was before any list
    slowCalls = 0;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&addSlowInstr));
    slowSearch = true;
    const auto restore = qScopeGuard([] {
        slowSearch = false;
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&addSlowInstr));
    });

    ReceiptList list(book);
    list.setRange(begin, end);
    // As fast as a hand types: each search has begun reading when the next key comes.
    for (const QString &text : std::as_const(typed)) {
        list.setSearch(text);
        QTest::qWait(100);
    }
    QTRY_VERIFY(slowCalls > 0);
    QString error;
    const bool saved = book.issue(newReceipt(u"NEW"_s, u"星河文化"_s, 12.5), nullptr, &error);
    slowSearch = false;
    QVERIFY2(saved, qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(list.isComplete(), 60000);
    QCOMPARE(list.error(), QString());
    QVERIFY(list.rowOf(u"NEW"_s));
    QCOMPARE(shown(list), filtered(typed.constLast()));
}

QTEST_GUILESS_MAIN(tst_ReceiptList)
#include "tst_receiptlist.moc"
