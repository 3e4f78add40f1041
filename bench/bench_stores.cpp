// Measures the stores against a database of 100,000 receipts:
//   (a) AppStore::loadReceipts for stat_all against stepping the same query over raw
//       libsqlite3 and reading all 16 columns as text (target: at most 3 times slower);
//   (b) ReceiptNoStore::nextReceiptNo with 1,000 consecutive numbers taken, per candidate;
//   (c) resident memory of the 100,000 loaded receipts (target: under 100 MB).
// Run by hand: build-dir/bin/bench_stores

#include "appstore.h"
#include "clock.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int receiptCount = 100000;

qint64 residentKilobytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

bool exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", error ? error : "?");
        sqlite3_free(error);
        return false;
    }
    return true;
}

// Fills tb_receipt with receipts numbered 0000001 … 0100000, dated over ten years.
bool fill(const QString &path)
{
    static const char16_t *payers[]
        = {u"北京星河文化传媒有限公司", u"王's 五金店",  u"张三",
           u"上海浦东新区第二小学",     u"李四（个人）", u"广州市天河区社区服务中心",
           u"成都蜀香餐饮管理有限公司"};
    static const char16_t *reasons[]
        = {u"房租", u"物业管理费", u"培训费", u"押金", u"会议场地租赁费用", u"水电费"};
    static const char16_t *paytypes[] = {u"现金", u"银行转账", u"微信", u"支付宝"};

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr)
        != SQLITE_OK)
        return false;
    exec(db, "begin");
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into tb_receipt values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       "?, '0')",
                       -1, &insert, nullptr);
    const QDate first(2015, 1, 1);
    for (int i = 0; i < receiptCount; ++i) {
        const QDate day = first.addDays(qint64(i) * 3650 / receiptCount);
        const QTime time(8 + i % 10, i % 60, (i * 7) % 60);
        const double total = (i % 5000) * 10.0 + (i % 100) / 100.0;
        const QStringList values = {
            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
            u"%1"_s.arg(i + 1, 7, 10, QChar(u'0')),
            day.toString(u"yyyy-MM-dd 00:00:00"),
            QString::fromUtf16(payers[i % 7]),
            QString::fromUtf16(reasons[i % 6]),
            i % 3 ? QString() : u"第%1期"_s.arg(i % 12 + 1),
            i % 4 ? QString() : u"请妥善保管本收据"_s,
            QString::fromUtf16(paytypes[i % 4]),
            u"王会计"_s,
            u"赵经理"_s,
            u"钱出纳"_s,
            QString(),
            QDateTime(day, time).toString(u"yyyy-MM-dd HH:mm:ss"),
            QString::number(total, 'f', QLocale::FloatingPointShortest),
            u"壹万贰仟叁佰肆拾伍元陆角柒分"_s,
        };
        for (int c = 0; c < values.size(); ++c) {
            const QByteArray bytes = values.at(c).toUtf8();
            sqlite3_bind_text(insert, c + 1, bytes.constData(), int(bytes.size()),
                              SQLITE_TRANSIENT);
        }
        if (sqlite3_step(insert) != SQLITE_DONE)
            return false;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool ok = exec(db, "commit");
    sqlite3_close(db);
    return ok;
}

// Steps the query and reads every column as text: the floor for any load.
qint64 rawLoadNanoseconds(const QString &path, const QString &sql, qint64 *rows)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr);
    qint64 count = 0;
    size_t bytes = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (int c = 0; c < 16; ++c) {
            if (const unsigned char *text = sqlite3_column_text(statement, c))
                bytes += text[0] + size_t(sqlite3_column_bytes(statement, c));
        }
        ++count;
    }
    sqlite3_finalize(statement);
    const qint64 elapsed = timer.nsecsElapsed();
    sqlite3_close(db);
    [[maybe_unused]] static volatile size_t sink;
    sink = bytes; // keeps the reads
    *rows = count;
    return elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    // As the application does: see Clock::cacheLocalTimeZone.
    Clock::cacheLocalTimeZone();
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("QUENTA_DOCUMENTS_DIR", dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(u"config"_s).toUtf8());
    Clock::pin(QDateTime(QDate(2025, 6, 1), QTime(12, 0)));

    const QString path = SQLiteHelper::shared().dbURL();
    std::printf("Filling %d receipts…\n", receiptCount);
    if (!fill(path)) {
        std::fprintf(stderr, "could not fill %s\n", qPrintable(path));
        return 1;
    }

    // (a) The list of everything against the raw floor; best of three runs each.
    AppStore &store = AppStore::shared();
    store.setSelectionNav(NavigationItem::stat_all);
    store.applyRangePreset();
    const QString sql
        = u"select *\nfrom  tb_Receipt\nwhere isDeleted <> 1\nand   ReceiptDate between "_s
        + sqlQuote(store.beginDate()) + u" and "_s + sqlQuote(store.endDate())
        + u"\norder by ReceiptNo desc"_s;

    qint64 rawBest = std::numeric_limits<qint64>::max(), rawRows = 0;
    for (int run = 0; run < 3; ++run)
        rawBest = std::min(rawBest, rawLoadNanoseconds(path, sql, &rawRows));

    const qint64 rssBefore = residentKilobytes();
    qint64 storeBest = std::numeric_limits<qint64>::max();
    qint64 rssLoaded = 0;
    for (int run = 0; run < 3; ++run) {
        store.setReceipts({});
        QElapsedTimer timer;
        timer.start();
        store.loadReceipts();
        storeBest = std::min(storeBest, timer.nsecsElapsed());
        rssLoaded = std::max(rssLoaded, residentKilobytes());
    }
    const qsizetype loaded = store.receipts().size();
    const double ratio = double(storeBest) / double(rawBest);
    std::printf("loadReceipts (stat_all): %lld receipts in %.1f ms\n", qlonglong(loaded),
                storeBest / 1e6);
    std::printf("raw libsqlite3 (16 columns as text): %lld rows in %.1f ms\n", qlonglong(rawRows),
                rawBest / 1e6);
    std::printf("ratio: %.2fx (target <= 3x) %s\n", ratio, ratio <= 3.0 ? "OK" : "MISSED");

    // (c) Memory held by the loaded receipts.
    const double heldMb = (rssLoaded - rssBefore) / 1024.0;
    std::printf("resident memory: %.1f MB in all, %.1f MB for %lld receipts (target < 100 MB) %s\n",
                rssLoaded / 1024.0, heldMb, qlonglong(loaded), heldMb < 100 ? "OK" : "MISSED");

    // (b) Numbering through 1,000 taken numbers: 99001 … 100000 are taken, 100001 is free.
    ReceiptNoStore &numbers = ReceiptNoStore::shared();
    ReceiptNoSetting setting = numbers.receiptNoSetting();
    setting.currNum = receiptCount - 999;
    numbers.setReceiptNoSetting(setting);
    QElapsedTimer timer;
    timer.start();
    numbers.nextReceiptNo();
    const qint64 elapsed = timer.nsecsElapsed();
    const qint64 candidates = numbers.receiptNoSetting().currNum - (receiptCount - 999) + 1;
    std::printf("nextReceiptNo: %lld candidates in %.1f ms, %.1f µs per candidate (ends on %s)\n",
                qlonglong(candidates), elapsed / 1e6, elapsed / 1e3 / double(candidates),
                qPrintable(store.receiptEdit().receiptNo));
    return 0;
}
