// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever text goes through sqlQuote into an insert comes back unchanged from a select,
// and never runs as SQL of its own (the table is still there with exactly one row).

#include "database.h"
#include "sqlliteral.h"

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Database *db = [] {
        auto *database = new Database(u":memory:"_s);
        database->setLogsErrors(false);
        if (!database->open()
            || !database->executeStatements(u"create table t (id text, content text);"_s))
            std::abort();
        return database;
    }();

    const QString value = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!db->executeStatements(u"delete from t;"_s))
        std::abort();
    if (!db->executeStatements(u"insert into t (id, content) values ('1', "_s + sqlQuote(value)
                               + u");"_s))
        std::abort();

    auto rows = db->executeQuery(
        u"select content, (select count(*) from t) from t where content = "_s + sqlQuote(value));
    if (!rows || !rows->next())
        std::abort();
    if (rows->stringForColumnIndex(0) != value || rows->intForColumnIndex(1) != 1)
        std::abort();
    rows->close();
    return 0;
}
