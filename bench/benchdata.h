// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The database every benchmark measures against, so their figures describe the same data.
namespace BenchData {

constexpr int receiptCount = 100000;

// The size of the book a benchmark measures: `--receipts N` among arguments (taken out of
// them), else the environment variable QUENTA_BENCH_RECEIPTS, else receiptCount.
int bookSize(QStringList *arguments);

// Adds a book of `count` receipts to the database file at path, as the program would have
// written them one by one, in one transaction: numbered 0000001 upwards and dated evenly
// over the ten years 2015–2024, amounts from 10.01 to 50,000.00, each with its 开单 row
// in the history; 2,000 payers (also in the 交款单位 list), reasons and payment methods
// come round from short lists, one receipt in three has an 其它说明, one in four a 备注;
// one in a hundred is voided a day later (its tb_void row and its 作废 history row).
// The numbering counter is left at the next free number. False (with a message on
// stderr) when a row could not be written.
bool fillReceipts(const QString &path, int count = receiptCount);

// A book of `count` receipts made from the template and kept in the cache folder
// (QUENTA_BENCH_CACHE, else bench-cache beside the build's bin folder): made the first
// time it is asked for, then reused. Its path, or an empty text on failure.
QString cachedBook(int count);

// As the application starts (Clock::cacheLocalTimeZone), on the offscreen platform unless
// another is asked for, without the platform's chatter. Call before the QApplication.
void prepareProcess();

// Points the program's database and preferences into folder (QUENTA_DOCUMENTS_DIR,
// XDG_CONFIG_HOME), for this process and the ones it starts.
void pointAt(const QString &folder);

// pointAt(folder), then puts a copy of the cached book of `count` receipts there as the
// program's database. Its path, or an empty text on failure.
QString prepareDatabase(const QString &folder, int count = receiptCount);

// Runs sql (one or more statements) on the file over raw libsqlite3 with its own
// connection, stepping and reading every row of the last statement. The nanoseconds it
// took, -1 (with a message on stderr) on failure; *rows (when given) gets the rows read.
qint64 rawNanoseconds(const QString &path, const QString &sql, qint64 *rows = nullptr);

// A receipt's 开单 row pair as the program writes it, for raw write anchors: the insert
// statements of a receipt with this id and number and of its history row.
QString rawInsertSql(const QString &id, const QString &receiptNo);

// Kilobytes shown with one decimal as megabytes.
double megabytes(qint64 kilobytes);

// The query AppStore::loadReceipts runs for a list between two stored date texts.
QString listQuery(const QString &beginDate, const QString &endDate);

// Steps query over raw libsqlite3 and reads every column as text: the floor for any
// load of the list. The nanoseconds from prepare to finalize; *rows gets the row count.
qint64 rawLoadNanoseconds(const QString &path, const QString &query, qint64 *rows);

// Resident set size of this process in kilobytes, -1 when /proc cannot be read.
qint64 residentKilobytes();

// Median of a list of figures (the mean of the middle two for an even count).
double median(QList<double> values);

// "OK" or "MISSED", for the lines every benchmark ends its figures with.
const char *verdict(bool met);

} // namespace BenchData
