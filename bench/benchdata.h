// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The database every benchmark measures against, so their figures describe the same data.
namespace BenchData {

constexpr int receiptCount = 100000;

// Adds `count` receipts to the tb_receipt of the database file at path, numbered 0000001
// upwards and dated over the ten years from 2015. Payers, reasons and payment methods come
// round from short lists; one receipt in three has an 其它说明, one in four a 备注.
// False (with a message on stderr) when the file cannot be opened or a row not written.
bool fillReceipts(const QString &path, int count = receiptCount);

// As the application starts (Clock::cacheLocalTimeZone), on the offscreen platform unless
// another is asked for, without the platform's chatter. Call before the QApplication.
void prepareProcess();

// Points the program's database and preferences into folder (QUENTA_DOCUMENTS_DIR,
// XDG_CONFIG_HOME), for this process and the ones it starts.
void pointAt(const QString &folder);

// pointAt(folder), then puts the template copy there and fills it. The path of the
// database, or an empty text on failure.
QString prepareDatabase(const QString &folder, int count = receiptCount);

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
