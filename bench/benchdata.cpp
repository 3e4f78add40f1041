// SPDX-License-Identifier: GPL-3.0-or-later
#include "benchdata.h"

#include "clock.h"

#include "sqlitehelper.h"
#include "sqlliteral.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QStringList>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

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

} // namespace

namespace BenchData {

bool fillReceipts(const QString &path, int count)
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
        != SQLITE_OK) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(path));
        sqlite3_close(db);
        return false;
    }
    // One transaction: 100,000 separate commits would take minutes and measure nothing.
    exec(db, "begin");
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into tb_receipt values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       "?, '0')",
                       -1, &insert, nullptr);
    const QDate first(2015, 1, 1);
    bool ok = insert != nullptr;
    for (int i = 0; ok && i < count; ++i) {
        const QDate day = first.addDays(qint64(i) * 3650 / count);
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
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    if (!ok)
        std::fprintf(stderr, "could not insert into %s: %s\n", qPrintable(path),
                     sqlite3_errmsg(db));
    sqlite3_finalize(insert);
    ok = exec(db, ok ? "commit" : "rollback") && ok;
    sqlite3_close(db);
    return ok;
}

void pointAt(const QString &folder)
{
    qputenv("QUENTA_DOCUMENTS_DIR", folder.toUtf8());
    qputenv("XDG_CONFIG_HOME", QDir(folder).filePath(u"config"_s).toUtf8());
}

QString prepareDatabase(const QString &folder, int count)
{
    pointAt(folder);
    // The helper copies the template into the documents folder the first time it is asked.
    const QString path = SQLiteHelper::shared().dbURL();
    if (!QFile::exists(path)) {
        std::fprintf(stderr, "no database at %s\n", qPrintable(path));
        return {};
    }
    std::printf("Filling %d receipts…\n", count);
    std::fflush(stdout);
    return fillReceipts(path, count) ? path : QString();
}

qint64 rawLoadNanoseconds(const QString &path, const QString &query, qint64 *rows)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, query.toUtf8().constData(), -1, &statement, nullptr);
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

QString listQuery(const QString &beginDate, const QString &endDate)
{
    return u"select *\nfrom  tb_Receipt\nwhere isDeleted <> 1\nand   ReceiptDate between "_s
        + sqlQuote(beginDate) + u" and "_s + sqlQuote(endDate) + u"\norder by ReceiptNo desc"_s;
}

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

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

const char *verdict(bool met)
{
    return met ? "OK" : "MISSED";
}

void prepareProcess()
{
    Clock::cacheLocalTimeZone();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
}

} // namespace BenchData
