// SPDX-License-Identifier: GPL-3.0-or-later
#include "benchdata.h"

#include "amountincapitals.h"
#include "clock.h"

#include "recordchain.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Counts up whenever fillReceipts makes a different book.
constexpr int bookVersion = 5;

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

namespace {

// Deterministic, so every made book of one size holds the same receipts.
struct Random
{
    quint64 state = 0x5151'2015'0000'0001ULL;
    quint64 next()
    {
        quint64 z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // A version 4 UUID in its upper-case text form, as the program makes ids.
    std::string uuid()
    {
        const quint64 high = (next() & ~0xf000ULL) | 0x4000ULL;
        const quint64 low = (next() & ~(3ULL << 62)) | (2ULL << 62);
        char text[37];
        std::snprintf(text, sizeof text, "%08llX-%04llX-%04llX-%04llX-%012llX",
                      (unsigned long long)(high >> 32), (unsigned long long)((high >> 16) & 0xffff),
                      (unsigned long long)(high & 0xffff), (unsigned long long)(low >> 48),
                      (unsigned long long)(low & 0xffffffffffffULL));
        return text;
    }
};

std::string utf8(const QString &text)
{
    return text.toStdString();
}

void appendJsonString(std::string &json, const std::string &text)
{
    json += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\')
            json += '\\';
        json += c;
    }
    json += '"';
}

// The receipt as the history keeps it: compact JSON with its keys in the order the
// program's JSON objects keep them (sorted), `reason` added for a void.
std::string receiptJson(const std::string *fields, const std::string &reason)
{
    // fields: id receiptNo receiptDate payer reason1 reason2 remark paytype payee approve
    // accountant creator createDate total totalBig isDeleted
    static const struct
    {
        const char *key;
        int field; // -1: the void reason
    } keys[] = {{"accountant", 10}, {"approve", 9},    {"createDate", 12}, {"creator", 11},
                {"id", 0},          {"isDeleted", 15}, {"payee", 8},       {"payer", 3},
                {"paytype", 7},     {"reason", -1},    {"reason1", 4},     {"reason2", 5},
                {"receiptDate", 2}, {"receiptNo", 1},  {"remark", 6},      {"total", 13},
                {"totalBig", 14}};
    std::string json = "{";
    for (const auto &key : keys) {
        if (key.field < 0 && reason.empty())
            continue;
        if (json.size() > 1)
            json += ',';
        appendJsonString(json, key.key);
        json += ':';
        appendJsonString(json, key.field < 0 ? reason : fields[key.field]);
    }
    return json + '}';
}

// 2,000 payers: the first seven as earlier books had them (the searches measured look for
// them), then every city, name and kind of organisation put together.
std::vector<std::string> payerNames()
{
    static const char *first[]
        = {"北京星河文化传媒有限公司", "王's 五金店",  "张三",
           "上海浦东新区第二小学",     "李四（个人）", "广州市天河区社区服务中心",
           "成都蜀香餐饮管理有限公司"};
    static const char *cities[]
        = {"杭州", "南京", "武汉", "西安", "苏州", "天津", "重庆", "长沙", "郑州",
           "青岛", "沈阳", "大连", "厦门", "福州", "合肥", "昆明", "南昌", "济南",
           "太原", "贵阳", "南宁", "兰州", "宁波", "无锡", "佛山"};
    static const char *names[] = {"明远", "华信", "恒达", "东方", "新世纪", "金桥", "同心", "长青",
                                  "博雅", "瑞丰", "安泰", "宏图", "启航",   "永和", "嘉禾", "德润"};
    static const char *kinds[] = {"贸易有限公司", "培训学校", "物业管理处", "商行", "科技有限公司"};
    std::vector<std::string> payers(std::begin(first), std::end(first));
    for (int k = 0; payers.size() < 2000; ++k)
        payers.push_back(std::string(cities[k % 25]) + names[(k / 25) % 16] + kinds[(k / 400) % 5]);
    return payers;
}

} // namespace

bool fillReceipts(const QString &path, int count)
{
    static const char *reasons[]
        = {"房租", "物业管理费", "培训费", "押金", "会议场地租赁费用", "水电费"};
    static const char *paytypes[] = {"现金", "银行转账", "微信", "支付宝"};
    static const char *voidReasons[] = {"开错了", "金额写错", "交款单位写错"};
    const std::vector<std::string> payers = payerNames();

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr)
        != SQLITE_OK) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(path));
        sqlite3_close(db);
        return false;
    }
    // Links the history rows it writes as the program does.
    RecordChain::addLinkFunction(db);
    // One transaction without a journal: a made book is thrown away whole when this fails.
    bool ok = exec(db,
                   "pragma journal_mode = off; pragma synchronous = off; "
                   "pragma cache_size = -400000; begin");
    sqlite3_stmt *receipt = nullptr, *history = nullptr, *voided = nullptr, *payer = nullptr;
    ok = ok
        && sqlite3_prepare_v2(db,
                              "insert into tb_receipt values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                              "?, ?, ?, ?, ?, ?)",
                              -1, &receipt, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(db,
                              "insert into tb_history (time, action, receiptId, receiptNo, "
                              "detail) values (?, ?, ?, ?, ?)",
                              -1, &history, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(db,
                              "insert into tb_void (receiptId, reason, voidDate) "
                              "values (?, ?, ?)",
                              -1, &voided, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(db, "insert into tb_payer (id, content) values (?, ?)", -1, &payer,
                              nullptr)
            == SQLITE_OK;
    Random random;
    const auto bind = [](sqlite3_stmt *statement, int column, const std::string &text) {
        sqlite3_bind_text(statement, column, text.data(), int(text.size()), SQLITE_STATIC);
    };
    const auto step = [&ok](sqlite3_stmt *statement) {
        ok = ok && sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
    };
    for (const std::string &name : payers) {
        const std::string id = random.uuid();
        bind(payer, 1, id);
        bind(payer, 2, name);
        step(payer);
    }

    // What repeats is made once: the days, and the 5,000 amounts with their capitals.
    const QDate firstDay(2015, 1, 1);
    std::vector<std::string> days;
    for (QDate day = firstDay; day <= QDate(2025, 1, 1); day = day.addDays(1))
        days.push_back(utf8(day.toString(u"yyyy-MM-dd")));
    std::vector<std::string> totals, capitals;
    for (int k = 0; k < 5000; ++k) {
        // Never nothing (a receipt of 0.00 cannot be saved again); 12340.34 is among them.
        const qint64 fen = qint64(k + 1) * 1000 + (k + 1) % 100;
        // As the entry form writes them: 10.0, 10.01.
        const QString text = amountText(fen / 100.0);
        totals.push_back(utf8(text));
        capitals.push_back(utf8(amountInCapitals(text)));
    }
    const std::string insertAction = "insert", voidAction = "void", none, zero = "0";
    const std::string payee = "王会计", approve = "赵经理", accountant = "钱出纳";
    std::string fields[16];
    char text[64];
    for (int i = 0; ok && i < count; ++i) {
        const qint64 dayIndex = qint64(i) * 3650 / count;
        fields[0] = random.uuid();
        std::snprintf(text, sizeof text, "%07d", i + 1);
        fields[1] = text;
        fields[2] = days[dayIndex] + " 00:00:00";
        fields[3] = payers[random.next() % payers.size()];
        fields[4] = reasons[i % 6];
        if (i % 3 == 0) {
            std::snprintf(text, sizeof text, "第%d期", i % 12 + 1);
            fields[5] = text;
        } else {
            fields[5].clear();
        }
        fields[6] = i % 4 ? none : std::string("请妥善保管本收据");
        fields[7] = paytypes[i % 4];
        fields[8] = payee;
        fields[9] = approve;
        fields[10] = accountant;
        fields[11].clear();
        std::snprintf(text, sizeof text, " %02d:%02d:%02d", 8 + i % 10, i % 60, (i * 7) % 60);
        fields[12] = days[dayIndex] + text;
        fields[13] = totals[i % 5000];
        fields[14] = capitals[i % 5000];
        fields[15] = zero;
        for (int c = 0; c < 16; ++c)
            bind(receipt, c + 1, fields[c]);
        step(receipt);

        const std::string json = receiptJson(fields, none);
        bind(history, 1, fields[12]);
        bind(history, 2, insertAction);
        bind(history, 3, fields[0]);
        bind(history, 4, fields[1]);
        bind(history, 5, json);
        step(history);

        if (i % 100 == 42) {
            const std::string reason = voidReasons[(i / 100) % 3];
            const std::string voidDate = days[dayIndex + 1] + text;
            bind(voided, 1, fields[0]);
            bind(voided, 2, reason);
            bind(voided, 3, voidDate);
            step(voided);
            const std::string voidJson = receiptJson(fields, reason);
            bind(history, 1, voidDate);
            bind(history, 2, voidAction);
            bind(history, 3, fields[0]);
            bind(history, 4, fields[1]);
            bind(history, 5, voidJson);
            step(history);
        }
    }
    if (ok) {
        const QByteArray counter
            = "update tb_receiptNo set currNum = '" + QByteArray::number(count + 1) + "'";
        ok = exec(db, counter.constData());
    }
    if (!ok)
        std::fprintf(stderr, "could not write into %s: %s\n", qPrintable(path), sqlite3_errmsg(db));
    for (sqlite3_stmt *statement : {receipt, history, voided, payer})
        sqlite3_finalize(statement);
    ok = exec(db, ok ? "commit" : "rollback") && ok;
    sqlite3_close(db);
    return ok;
}

int bookSize(QStringList *arguments)
{
    int size = receiptCount;
    const QString fromEnvironment = qEnvironmentVariable("QUENTA_BENCH_RECEIPTS");
    if (!fromEnvironment.isEmpty())
        size = fromEnvironment.toInt();
    const qsizetype at = arguments->indexOf(u"--receipts"_s);
    if (at >= 0 && at + 1 < arguments->size()) {
        size = arguments->at(at + 1).toInt();
        arguments->remove(at, 2);
    }
    return std::max(1, size);
}

QString cachedBook(int count)
{
    QString folder = qEnvironmentVariable("QUENTA_BENCH_CACHE");
    if (folder.isEmpty())
        folder = QDir(QCoreApplication::applicationDirPath()).filePath(u"../bench-cache"_s);
    folder = QDir::cleanPath(folder);
    // Named by what it holds: a book made before fillReceipts changed is not reused.
    const QString path = QDir(folder).filePath(u"book-v%1-%2.db"_s.arg(bookVersion).arg(count));
    if (QFile::exists(path))
        return path;
    QDir().mkpath(folder);
    const QString partial = path + u".partial"_s;
    QFile::remove(partial);
    if (!QFile::copy(SQLiteHelper::templatePath(), partial)) {
        std::fprintf(stderr, "could not copy the template %s to %s\n",
                     qPrintable(SQLiteHelper::templatePath()), qPrintable(partial));
        return {};
    }
    QFile(partial).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    std::printf("Making a book of %d receipts in %s…\n", count, qPrintable(folder));
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    if (!fillReceipts(partial, count) || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return {};
    }
    std::printf("Made in %.1f s\n", timer.nsecsElapsed() / 1e9);
    // What making it took is handed back, so it is not counted in this process's memory.
    malloc_trim(0);
    return path;
}

void pointAt(const QString &folder)
{
    qputenv("QUENTA_DOCUMENTS_DIR", folder.toUtf8());
    qputenv("XDG_CONFIG_HOME", QDir(folder).filePath(u"config"_s).toUtf8());
}

QString prepareDatabase(const QString &folder, int count)
{
    pointAt(folder);
    const QString book = cachedBook(count);
    if (book.isEmpty())
        return {};
    const QString path = QDir(folder).filePath(u"Tovalin.db"_s);
    QFile::remove(path);
    if (!QFile::copy(book, path)) {
        std::fprintf(stderr, "could not copy %s to %s\n", qPrintable(book), qPrintable(path));
        return {};
    }
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    std::printf("A book of %d receipts at %s\n", count, qPrintable(path));
    std::fflush(stdout);
    return path;
}

qint64 rawNanoseconds(const QString &path, const QString &sql, qint64 *rows)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr)
        != SQLITE_OK) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(path));
        sqlite3_close(db);
        return -1;
    }
    // Links the history rows it writes as the program does.
    RecordChain::addLinkFunction(db);
    // Waits for a lock as any program sharing the book would, rather than failing at once.
    sqlite3_busy_timeout(db, 10000);
    const QByteArray text = sql.toUtf8();
    const char *next = text.constData();
    qint64 count = 0;
    size_t bytes = 0;
    bool ok = true;
    QElapsedTimer timer;
    timer.start();
    while (ok && next && *next) {
        sqlite3_stmt *statement = nullptr;
        ok = sqlite3_prepare_v2(db, next, -1, &statement, &next) == SQLITE_OK;
        if (!statement)
            continue; // only white space was left
        count = 0;
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                if (const unsigned char *value = sqlite3_column_text(statement, c))
                    bytes += value[0] + size_t(sqlite3_column_bytes(statement, c));
            }
            ++count;
        }
        ok = result == SQLITE_DONE;
        sqlite3_finalize(statement);
    }
    const qint64 elapsed = timer.nsecsElapsed();
    if (!ok)
        std::fprintf(stderr, "raw SQL failed: %s\n", sqlite3_errmsg(db));
    sqlite3_close(db);
    [[maybe_unused]] static volatile size_t sink;
    sink = bytes; // keeps the reads
    if (rows)
        *rows = count;
    return ok ? elapsed : -1;
}

QString rawInsertSql(const QString &id, const QString &receiptNo)
{
    const QString now = QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss");
    const QString quotedId = sqlQuote(id), quotedNo = sqlQuote(receiptNo);
    const QString detail
        = uR"({"accountant":"钱出纳","approve":"赵经理","createDate":"%1","creator":"","id":"%2",)"
          uR"("isDeleted":"0","payee":"王会计","payer":"杭州明远贸易有限公司","paytype":"现金",)"
          uR"("reason1":"房租","reason2":"","receiptDate":"%1","receiptNo":"%3","remark":"",)"
          uR"("total":"1234.5","totalBig":"壹仟贰佰叁拾肆元伍角整"})"_s.arg(now, id, receiptNo);
    return u"insert into tb_receipt values (%1, %2, %3, '杭州明远贸易有限公司', '房租', '', '', "
           u"'现金', '王会计', '赵经理', '钱出纳', '', %3, '1234.5', '壹仟贰佰叁拾肆元伍角整', "
           u"'0');\n"_s.arg(quotedId, quotedNo, sqlQuote(now))
        + u"insert into tb_history (time, action, receiptId, receiptNo, detail) "
          u"values (%1, 'insert', %2, %3, %4);"_s.arg(sqlQuote(now), quotedId, quotedNo,
                                                      sqlQuote(detail));
}

double megabytes(qint64 kilobytes)
{
    return kilobytes / 1024.0;
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
