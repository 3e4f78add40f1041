// SPDX-License-Identifier: GPL-3.0-or-later
// What the user feels in the real window (offscreen) on a large book, each figure beside
// raw libsqlite3 doing the same work in the same run:
//   - opening 全部收据 from the sidebar: until the table first paints rows, until it
//     holds every row, and the longest gap of a 10 ms timer meanwhile (the window's
//     longest stall); raw: the list's query for the first 50 rows and for all of them;
//   - resident memory with 全部收据 open;
//   - a keystroke in its search field, until the window has redrawn; raw: the first 50
//     rows matching the text;
//   - sorting it by each main column (header clicks, each way), until the rows are all
//     in the new order, and the longest stall meanwhile; raw: the first 50 rows in that
//     order;
//   - 增加 on 开单 after 全部收据 was viewed, click to redrawn window; raw: the receipt's
//     row, its history row and the numbering counter's row in one transaction;
//   - 保存修改 of a receipt opened from 全部收据; raw: the update and its history row;
//   - 作废 and 删除 of a receipt in 全部收据, from the dialog's answer to the redrawn
//     window; raw: the void's rows, or the history row and the delete.
// Run by hand: build-dir/bin/bench_book [--receipts N] [runs]
// (or QUENTA_BENCH_RECEIPTS=N; 100,000 by default; QUENTA_BENCH_ONLY=sort for the open
// and the sorts alone, QUENTA_BENCH_ONLY=write for the open and the writes alone). Exits 0
// when every target is met, 2 when one is missed, 1 when it could not run.

#include "appstore.h"
#include "benchdata.h"
#include "clock.h"
#include "contentview.h"
#include "database.h"
#include "listfooter.h"
#include "receiptbook.h"
#include "receipttablemodel.h"
#include "recordchain.h"
#include "sidebar.h"
#include "sqlitehelper.h"
#include "startup.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// The targets, on two cores.
constexpr double firstRowsTargetMs = 300;
constexpr double stallTargetMs = 100;
constexpr double memoryTargetMb = 150;
constexpr double keystrokeTargetMs = 50;
constexpr double sortTargetMs = 500;
constexpr double writeTargetRatio = 1.5;

bool allMet = true;

// The label padded to 44 columns as a terminal shows it (a Chinese character takes two).
QByteArray label(const char *what)
{
    QString text = QString::fromUtf8(what);
    int width = 0;
    for (const QChar c : std::as_const(text))
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return (text + QString(std::max(0, 44 - width), u' ')).toUtf8();
}

void report(const char *what, double figure, const char *unit, double target, const QString &anchor)
{
    const bool met = figure <= target;
    allMet = allMet && met;
    std::printf("%s %9.1f %-3s target <= %.0f %-3s %-6s %s\n", label(what).constData(), figure,
                unit, target, unit, BenchData::verdict(met), qPrintable(anchor));
    std::fflush(stdout);
}

void reportRatio(const char *what, double ms, double rawMs)
{
    const double ratio = ms / rawMs;
    const bool met = ratio <= writeTargetRatio;
    allMet = allMet && met;
    std::printf("%s %9.1f ms  %.1fx raw (target <= %.1fx)  %-6s raw libsqlite3 %.1f ms\n",
                label(what).constData(), ms, ratio, writeTargetRatio, BenchData::verdict(met),
                rawMs);
    std::fflush(stdout);
}

// Hands the window everything queued, paint requests included, until nothing is left.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// Processes events until done() or the time is up; false when it is.
bool waitFor(const std::function<bool()> &done, int timeoutMs = 120000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The longest gap between two ticks of a 10 ms timer: how long the window did not answer.
class StallWatch
{
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_timer.start(10);
    }
    double stopMs()
    {
        tick();
        m_timer.stop();
        return m_longest / 1e6;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// The moment the receipt table first paints while it has rows.
class FirstRowsPaint : public QObject
{
public:
    void arm(const QElapsedTimer *clock)
    {
        m_clock = clock;
        m_at = -1;
    }
    qint64 at() const { return m_at; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_clock && m_at < 0 && event->type() == QEvent::Paint) {
            auto *table = qobject_cast<QTableView *>(watched->parent());
            if (table && table->viewport() == watched
                && table->objectName() == u"receiptTableView"_s && table->model()
                && table->model()->rowCount() > 0)
                m_at = m_clock->nsecsElapsed();
        }
        return false;
    }

private:
    const QElapsedTimer *m_clock = nullptr;
    qint64 m_at = -1;
};

class Window
{
public:
    // Whether the list on screen has all its rows and has counted them (a long range is
    // read behind the window, its first page shown meanwhile).
    bool listRead() const
    {
        auto *footer = screen() ? screen()->findChild<ListFooter *>() : nullptr;
        return footer && footer->totalsText().startsWith(u"共"_s);
    }
    Window() { m_window.show(); }
    bool ready()
    {
        settle();
        return row(u"全部收据"_s) && row(u"今天收据"_s) && row(u"开单"_s);
    }
    QListWidgetItem *row(const QString &title) const
    {
        QListWidget *list = m_window.sidebar()->list();
        const QList<QListWidgetItem *> items = list->findItems(title, Qt::MatchExactly);
        return items.size() == 1 ? items.first() : nullptr;
    }
    void click(const QString &title)
    {
        QListWidget *list = m_window.sidebar()->list();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(row(title)).center());
    }
    QWidget *screen() const { return m_window.sidebar()->currentScreen(); }
    QTableView *table() const { return screen()->findChild<QTableView *>(u"receiptTableView"_s); }
    int rows() const
    {
        QTableView *view = table();
        return view && view->model() ? view->model()->rowCount() : -1;
    }
    template<typename T>
    T *find(const QString &name) const
    {
        return m_window.findChild<T *>(name);
    }

private:
    ContentView m_window;
};

// Types text into a field as an input method commits it: one key event carrying it.
void type(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QCoreApplication::sendEvent(field, &press);
}

double ms(qint64 nanoseconds)
{
    return nanoseconds / 1e6;
}

// The best of `runs` raw runs of sql, in milliseconds; -1 when it failed.
double rawBestMs(const QString &path, const QString &sql, int runs, qint64 *rows = nullptr)
{
    qint64 best = -1;
    for (int run = 0; run < runs; ++run) {
        const qint64 elapsed = BenchData::rawNanoseconds(path, sql, rows);
        if (elapsed < 0)
            return -1;
        best = best < 0 ? elapsed : std::min(best, elapsed);
    }
    return ms(best);
}

// The first screenful of a list's query, read as raw SQLite reads it fastest: in the
// receipt number's index order, stopping after 50 rows.
QString firstRows(QString query)
{
    query.replace(u"from  tb_Receipt\n"_s,
                  u"from  tb_Receipt indexed by idx_receipt_receiptNo\n"_s);
    return query + u"\nlimit 50"_s;
}

// The raw writes, each done right after the window's, so both meet the disk in the same
// state: the same rows in one transaction, over their own connection, with the book's own
// journal and synchronous settings (a commit's fsync included). Each raw receipt is taken
// out again, untimed, before the window writes next. The raw connection reads the book's
// schema before its clock starts, as the window's did long before: the first statement
// on a new connection parses the schema (about 0.2-0.3 ms with the search index's tables
// and triggers), which is no part of a write.
class RawWrites
{
public:
    explicit RawWrites(const QString &path)
        : m_path(path)
    { }
    // sql over a connection of its own that has read the book's schema already, as the
    // window's has: the time of the write alone, in milliseconds; -1 when it failed.
    double timed(const QString &sql) const
    {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(m_path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr)
            != SQLITE_OK) {
            sqlite3_close(db);
            return -1;
        }
        // Links the history rows it writes as the program does.
        RecordChain::addLinkFunction(db);
        sqlite3_busy_timeout(db, 10000);
        bool ok = sqlite3_exec(db, "select count(*) from sqlite_schema", nullptr, nullptr, nullptr)
            == SQLITE_OK;
        QElapsedTimer timer;
        timer.start();
        ok = ok
            && sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        const qint64 elapsed = timer.nsecsElapsed();
        if (!ok)
            std::fprintf(stderr, "raw SQL failed: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return ok ? ms(elapsed) : -1;
    }
    double add()
    {
        const QString id = nextId();
        // The window's save moves the numbering counter in the same transaction: the raw
        // one writes that row too (its values as they are, so the window's next number
        // stays the one it expects).
        const QString sql = u"begin immediate;\n"_s + insertSql(id)
            + u"\nupdate tb_receiptNo set numLong = numLong, currNum = currNum;\ncommit;"_s;
        const double elapsed = timed(sql);
        remove(id);
        return elapsed;
    }
    double edit()
    {
        return timedOnOwnReceipt(
            u"begin immediate;\nupdate tb_receipt set remark = '改过' where id = '%1';\n"
            u"insert into tb_history (time, action, receiptId, receiptNo, detail) select "
            u"datetime('now'), 'update', id, receiptNo, "
            u"'{\"changes\":{\"remark\":[\"\",\"改过\"]}}' "
            u"from tb_receipt where id = '%1';\ncommit;"_s);
    }
    // A void: the reason's row and the history row that keeps it.
    double voidOne()
    {
        return timedOnOwnReceipt(
            u"begin immediate;\ninsert into tb_void values ('%1', '开错了', datetime('now'));\n"
            u"insert into tb_history (time, action, receiptId, receiptNo, detail) select "
            u"datetime('now'), 'void', id, receiptNo, '{\"reason\":\"开错了\"}' "
            u"from tb_receipt where id = '%1';\ncommit;"_s);
    }
    // A delete: the receipt kept whole in its history row, then gone.
    double deleteOne()
    {
        return timedOnOwnReceipt(
            u"begin immediate;\n"
            u"insert into tb_history (time, action, receiptId, receiptNo, detail) select "
            u"datetime('now'), 'delete', id, receiptNo, json_object('payer', payer, 'reason1', "
            u"reason1, 'total', total, 'receiptDate', receiptDate) from tb_receipt where id = '%1';\n"
            u"delete from tb_receipt where id = '%1';\ncommit;"_s);
    }

private:
    QString nextId() const { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }
    QString insertSql(const QString &id) const { return BenchData::rawInsertSql(id, u"9000001"_s); }
    // sql (its %1 the id) timed on a receipt of its own, written before and taken out after,
    // untimed.
    double timedOnOwnReceipt(const QString &sql)
    {
        const QString id = nextId();
        BenchData::rawNanoseconds(m_path, insertSql(id));
        const double elapsed = timed(sql.arg(id));
        BenchData::rawNanoseconds(m_path, u"delete from tb_void where receiptId = '%1';"_s.arg(id));
        remove(id);
        return elapsed;
    }
    void remove(const QString &id) const
    {
        BenchData::rawNanoseconds(m_path,
                                  u"delete from tb_history where receiptId = '%1';\n"
                                  u"delete from tb_receipt where id = '%1';"_s.arg(id));
    }
    QString m_path;
};

} // namespace

int main(int argc, char **argv)
{
    BenchData::prepareProcess();
    QApplication app(argc, argv);
    Startup::setUpApplication(app);
    QStringList arguments = app.arguments().mid(1);
    const int size = BenchData::bookSize(&arguments);
    const int runs = std::max(1, arguments.value(0, u"3"_s).toInt());

    QTemporaryDir dir;
    const QString path = BenchData::prepareDatabase(dir.path(), size);
    if (path.isEmpty())
        return 1;
    // A fixed today after the book's ten years: 今天收据 is empty, 全部收据 holds them all.
    Clock::pin(QDateTime(QDate(2025, 6, 1), QTime(12, 0)));
    const qint64 memoryBeforeKb = BenchData::residentKilobytes();

    Window window;
    if (!window.ready()) {
        std::fprintf(stderr, "no 全部收据, 今天收据 or 开单 row in the sidebar\n");
        return 1;
    }
    std::printf("%d receipts, best (or median where said) of %d runs\n", size, runs);

    // Opening 全部收据 as a click on its row does; 今天收据 (empty) between runs, so every
    // run opens it from another list.
    FirstRowsPaint paint;
    app.installEventFilter(&paint);
    StallWatch stall;
    qint64 firstBest = -1, allBest = -1, firstOpen = -1, firstAll = -1;
    QList<double> stalls;
    for (int run = 0; run < runs; ++run) {
        window.click(u"今天收据"_s);
        settle();
        QElapsedTimer clock;
        paint.arm(&clock);
        stall.start();
        clock.start();
        window.click(u"全部收据"_s);
        if (!waitFor([&] { return window.rows() >= size && window.listRead(); })) {
            std::fprintf(stderr, "全部收据 shows %d rows, not %d\n", window.rows(), size);
            return 1;
        }
        settle();
        const qint64 all = clock.nsecsElapsed();
        waitFor([&] { return paint.at() >= 0; }, 10000);
        QTest::qWait(300); // what the window does after the rows are in counts too
        stalls << stall.stopMs();
        const qint64 first = paint.at() >= 0 ? paint.at() : all;
        // The first open reads the book; later ones find nothing changed and read nothing.
        if (run == 0) {
            firstOpen = first;
            firstAll = all;
        }
        firstBest = firstBest < 0 ? first : std::min(firstBest, first);
        allBest = allBest < 0 ? all : std::min(allBest, all);
    }
    paint.arm(nullptr);
    AppStore &store = AppStore::shared();
    const QString listQuery = BenchData::listQuery(store.beginDate(), store.endDate());
    qint64 rawRows = 0;
    const double rawAllMs = rawBestMs(path, listQuery, runs, &rawRows);
    const double rawFirstMs = rawBestMs(path, firstRows(listQuery), runs);
    report("open 全部收据 first, first rows painted", ms(firstOpen), "ms", firstRowsTargetMs,
           u"raw first 50 rows %1 ms"_s.arg(rawFirstMs, 0, 'f', 1));
    std::printf("%s %9.1f ms  (no target)                raw all %lld rows %.1f ms\n",
                label("open 全部收据 first, all rows counted").constData(), ms(firstAll),
                qlonglong(rawRows), rawAllMs);
    std::printf("%s %9.1f ms  (nothing changed: not read again)\n",
                label("open 全部收据 again, all rows counted").constData(), ms(allBest));
    QStringList eachStall;
    for (const double stallMs : std::as_const(stalls))
        eachStall << QString::number(stallMs, 'f', 0);
    report("longest stall of a 10 ms timer meanwhile",
           *std::max_element(stalls.cbegin(), stalls.cend()), "ms", stallTargetMs,
           u"each run: %1 ms"_s.arg(eachStall.join(u", "_s)));
    const qint64 memoryKb = BenchData::residentKilobytes();
    report("memory with 全部收据 open (RSS)", BenchData::megabytes(memoryKb), "MB", memoryTargetMb,
           u"before the window %1 MB"_s.arg(BenchData::megabytes(memoryBeforeKb), 0, 'f', 1));

    // QUENTA_BENCH_ONLY=sort: the list's open and its sorts, nothing else.
    const bool onlySort = qEnvironmentVariable("QUENTA_BENCH_ONLY") == u"sort"_s;
    // QUENTA_BENCH_ONLY=write: the list's open, then 增加 and 保存修改, nothing between.
    const bool onlyWrites = qEnvironmentVariable("QUENTA_BENCH_ONLY") == u"write"_s;
    // A keystroke in the search field: each character typed, then taken back.
    auto *search = window.screen()->findChild<QLineEdit *>(u"searchField"_s);
    if (!search) {
        std::fprintf(stderr, "no search field on 全部收据\n");
        return 1;
    }
    if (!onlySort && !onlyWrites) {
        QList<double> keystrokes;
        QList<double> searched; // until the rows found are all in, and counted
        const QStringList typed = {u"星"_s, u"河"_s, u"1"_s, u"2"_s};
        for (int run = 0; run < runs; ++run) {
            search->setFocus();
            for (const QString &text : typed) {
                QElapsedTimer clock;
                clock.start();
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
                QCoreApplication::sendEvent(search, &press);
                settle();
                keystrokes << ms(clock.nsecsElapsed());
                waitFor([&] { return window.listRead(); });
                searched << ms(clock.nsecsElapsed());
            }
            for (qsizetype i = 0; i < typed.size(); ++i) {
                QElapsedTimer clock;
                clock.start();
                QTest::keyClick(search, Qt::Key_Backspace);
                settle();
                keystrokes << ms(clock.nsecsElapsed());
                waitFor([&] { return window.listRead(); });
                searched << ms(clock.nsecsElapsed());
            }
        }
        const QString matching
            = u"(payer like '%星%' or reason1 like '%星%' or reason2 like '%星%' "
              u"or remark like '%星%' or paytype like '%星%' or payee like '%星%' "
              u"or receiptNo like '%星%')"_s;
        QString searchQuery = listQuery;
        searchQuery.replace(u"\norder by"_s, u"\nand   "_s + matching + u"\norder by"_s);
        const double rawSearchMs = rawBestMs(path, firstRows(searchQuery), runs);
        std::printf("%s %9.1f ms  median of %lld\n",
                    label("a keystroke in the search field").constData(),
                    BenchData::median(keystrokes), qlonglong(keystrokes.size()));
        std::printf("%s %9.1f ms  median, slowest %.1f ms\n",
                    label("a search, until its rows are all counted").constData(),
                    BenchData::median(searched),
                    *std::max_element(searched.cbegin(), searched.cend()));
        report("a keystroke in the search field, slowest",
               *std::max_element(keystrokes.cbegin(), keystrokes.cend()), "ms", keystrokeTargetMs,
               u"raw first 50 rows with 星 %1 ms"_s.arg(rawSearchMs, 0, 'f', 1));
    }

    // A click on a column's header, as the user sorts: each column clicked twice (one
    // way, then the other), until the rows are all in the new order and counted, with the
    // longest stall meanwhile. Raw: the first 50 rows in that order.
    QHeaderView *header = window.table()->horizontalHeader();
    struct SortedColumn
    {
        int column;
        QString rawOrder;
    };
    const QList<SortedColumn> sortedColumns = {
        {ReceiptTableModel::PayerColumn, u"payer"_s},
        {ReceiptTableModel::ReceiptDateColumn, u"receiptDate"_s},
        {ReceiptTableModel::TotalColumn, u"cast(total as real)"_s},
        {ReceiptTableModel::Reason1Column, u"reason1"_s},
        {ReceiptTableModel::PayeeColumn, u"payee"_s},
        {ReceiptTableModel::CreateDateColumn, u"createDate"_s},
        {ReceiptTableModel::StatusColumn,
         u"exists (select 1 from tb_void v where v.receiptId = tb_Receipt.id)"_s},
        {ReceiptTableModel::ReceiptNoColumn, u"ReceiptNo"_s},
    };
    for (const SortedColumn &sorted : onlyWrites ? QList<SortedColumn>() : sortedColumns) {
        qint64 slowest = 0;
        double longestStall = 0;
        for (int run = 0; run < 2 * runs; ++run) {
            // Where the header is now: a sort fits the columns to the rows it shows.
            const QPoint onHeader(header->sectionViewportPosition(sorted.column)
                                      + header->sectionSize(sorted.column) / 2,
                                  header->height() / 2);
            QElapsedTimer clock;
            stall.start();
            clock.start();
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onHeader);
            settle();
            // Waited for as the window waits, asleep until an event comes (the stall
            // watch's at the latest): polling would take a core from the sort's thread.
            while (!window.listRead() && clock.elapsed() < 120000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            settle();
            slowest = std::max(slowest, clock.nsecsElapsed());
            longestStall = std::max(longestStall, stall.stopMs());
        }
        QString ordered = listQuery;
        ordered.replace(u"order by ReceiptNo desc"_s, u"order by %1"_s.arg(sorted.rawOrder));
        const QString title
            = window.table()->model()->headerData(sorted.column, Qt::Horizontal).toString();
        report(qPrintable(u"sort by %1 (header click, slowest)"_s.arg(title)), ms(slowest), "ms",
               sortTargetMs,
               u"raw first 50 rows in that order %1 ms"_s.arg(
                   rawBestMs(path, ordered + u"\nlimit 50"_s, 1), 0, 'f', 1));
        report(qPrintable(u"  longest stall meanwhile"_s), longestStall, "ms", stallTargetMs,
               QString());
    }
    if (!onlyWrites)
        report("memory after the sorts (RSS)", BenchData::megabytes(BenchData::residentKilobytes()),
               "MB", memoryTargetMb, QString());
    if (onlySort) {
        std::printf("%d receipts: %s\n", size, allMet ? "every target met" : "some targets MISSED");
        return allMet ? 0 : 2;
    }

    // 增加 on 开单, with 全部收据 viewed just before.
    window.click(u"全部收据"_s);
    settle();
    window.click(u"开单"_s);
    settle();
    auto *payer = window.find<QComboBox>(u"payerComboBox"_s);
    auto *reason = window.find<QComboBox>(u"reason1ComboBox"_s);
    auto *remark = window.find<QComboBox>(u"remarkComboBox"_s);
    auto *amount = window.find<QLineEdit>(u"totalLineEdit"_s);
    auto *add = window.find<QToolButton>(u"addButton"_s);
    auto *save = window.find<QToolButton>(u"saveButton"_s);
    if (!payer || !reason || !remark || !amount || !add || !save) {
        std::fprintf(stderr, "开单 lacks a field or button this benchmark uses\n");
        return 1;
    }
    RawWrites raw(path);
    QList<double> adds, rawAdds, addsHandled;
    // The statements the window sends the book for one save, its reads included.
    const Database &book = SQLiteHelper::shared().db();
    qint64 addStatements = 0, editStatements = 0;
    for (int run = 0; run < runs; ++run) {
        type(payer->lineEdit(), u"杭州明远贸易有限公司"_s);
        type(reason->lineEdit(), u"房租"_s);
        type(amount, u"1234.5"_s);
        settle();
        const qint64 sentBefore = book.statementsSent();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(add, Qt::LeftButton);
        addsHandled << ms(clock.nsecsElapsed());
        settle();
        adds << ms(clock.nsecsElapsed());
        addStatements = book.statementsSent() - sentBefore;
        rawAdds << raw.add();
    }
    qint64 stored = 0;
    BenchData::rawNanoseconds(path, u"select id from tb_receipt"_s, &stored);
    if (stored != size + runs) {
        std::fprintf(stderr, "增加 stored %lld receipts, not %d\n", qlonglong(stored - size), runs);
        return 1;
    }

    // 保存修改 of a receipt opened from 全部收据 (its first row, with 修改).
    QList<double> edits, rawEdits, editsHandled;
    for (int run = 0; run < runs; ++run) {
        // From another list: 全部收据 on screen already would not look at the book again.
        window.click(u"今天收据"_s);
        settle();
        window.click(u"全部收据"_s);
        settle();
        // The raw writes between runs were another program's: the list is read again.
        waitFor([&] { return window.listRead(); });
        QTableView *table = window.table();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(table->model()->index(run, 0)).center());
        settle();
        auto *edit = window.screen()->findChild<QPushButton *>(u"editButton"_s);
        if (!edit || !edit->isEnabled()) {
            std::fprintf(stderr, "修改 is not offered for the first row of 全部收据\n");
            return 1;
        }
        QTest::mouseClick(edit, Qt::LeftButton);
        settle();
        if (!save->isVisible()) {
            std::fprintf(stderr, "修改 did not open the receipt on 开单\n");
            return 1;
        }
        type(remark->lineEdit(), u"改过 %1"_s.arg(run + 1));
        settle();
        const qint64 sentBefore = book.statementsSent();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(save, Qt::LeftButton);
        editsHandled << ms(clock.nsecsElapsed());
        settle();
        edits << ms(clock.nsecsElapsed());
        editStatements = book.statementsSent() - sentBefore;
        rawEdits << raw.edit();
    }
    qint64 edited = 0;
    BenchData::rawNanoseconds(path, u"select id from tb_history where action = 'update'"_s,
                              &edited);
    if (edited != runs) {
        std::fprintf(stderr, "保存修改 changed %lld receipts, not %d\n", qlonglong(edited), runs);
        return 1;
    }

    // 作废 and 删除 of a receipt selected in 全部收据, from the dialog's answer (the reason
    // given, the deletion confirmed) to the window redrawn: the calls the two buttons make
    // once answered.
    QList<double> voids, rawVoids, deletes, rawDeletes;
    for (int run = 0; run < runs; ++run) {
        for (const bool voiding : {true, false}) {
            QTableView *table = window.table();
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                              table->visualRect(table->model()->index(run, 0)).center());
            settle();
            AppStore &store = AppStore::shared();
            const std::optional<QString> id = store.selectedId();
            if (!id) {
                std::fprintf(stderr, "no receipt is selected in 全部收据\n");
                return 1;
            }
            QString error;
            QElapsedTimer clock;
            clock.start();
            bool done = false;
            if (voiding) {
                done = ReceiptBook::shared().voidReceipts({*id}, u"开错了"_s, &error);
            } else {
                done = store.deleteSelected(&error);
                store.setSelection({});
            }
            settle();
            (voiding ? voids : deletes) << ms(clock.nsecsElapsed());
            if (!done) {
                std::fprintf(stderr, "%s failed: %s\n", voiding ? "作废" : "删除",
                             qPrintable(error));
                return 1;
            }
            (voiding ? rawVoids : rawDeletes) << (voiding ? raw.voidOne() : raw.deleteOne());
            // The raw writes were another program's: the list reads the book again.
            window.click(u"今天收据"_s);
            settle();
            window.click(u"全部收据"_s);
            waitFor([&] { return window.listRead(); });
            settle();
        }
    }

    reportRatio("增加 after 全部收据 was viewed (median)", BenchData::median(adds),
                BenchData::median(rawAdds));
    reportRatio("保存修改 of a receipt from 全部收据 (median)", BenchData::median(edits),
                BenchData::median(rawEdits));
    reportRatio("作废 of a receipt in 全部收据 (median)", BenchData::median(voids),
                BenchData::median(rawVoids));
    reportRatio("删除 of a receipt in 全部收据 (median)", BenchData::median(deletes),
                BenchData::median(rawDeletes));
    // The part before the redraw: written, and every list brought up to date.
    std::printf("%s %9.1f ms / %.1f ms  (before the window redraws)\n",
                label("增加 / 保存修改, the click handled").constData(),
                BenchData::median(addsHandled), BenchData::median(editsHandled));
    std::printf("%s %9lld / %lld  (the last run's, reads included)\n",
                label("增加 / 保存修改, statements sent").constData(), qlonglong(addStatements),
                qlonglong(editStatements));

    std::printf("%d receipts: %s\n", size, allMet ? "every target met" : "some targets MISSED");
    return allMet ? 0 : 2;
}
