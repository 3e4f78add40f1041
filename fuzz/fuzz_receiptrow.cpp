// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary column values (NULLs, numbers, invalid UTF-8, dates of any shape) in a
// receipt row: mapping must never crash, and a row it accepts keeps its id and number.

#include "database.h"
#include "receiptrow.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Database *db = [] {
        auto *database = new Database(u":memory:"_s);
        database->setLogsErrors(false);
        if (!database->open()
            || !database->executeStatements(
                u"create table tb_receipt (id, receiptNo, receiptDate, payer, reason1, "
                u"reason2, remark, paytype, payee, approve, accountant, creator, createDate, "
                u"total, totalBig, isDeleted);"_s))
            std::abort();
        return database;
    }();

    // Sixteen fields separated by 0xFF; a field's first byte picks its SQL type.
    std::string fields[16];
    int count = 0;
    for (size_t i = 0; i < size && count < 16; ++i) {
        if (data[i] == 0xFF)
            ++count;
        else
            fields[count].push_back(char(data[i]));
    }

    sqlite3 *handle = db->handle();
    sqlite3_exec(handle, "delete from tb_receipt;", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(handle, "insert into tb_receipt values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                       -1, &insert, nullptr);
    for (int column = 0; column < 16; ++column) {
        const std::string &field = fields[column];
        const int slot = column + 1;
        if (field.empty()) {
            sqlite3_bind_null(insert, slot);
        } else if (field[0] == 'i') {
            sqlite3_bind_int64(insert, slot, std::strtoll(field.c_str() + 1, nullptr, 10));
        } else if (field[0] == 'r') {
            sqlite3_bind_double(insert, slot, std::strtod(field.c_str() + 1, nullptr));
        } else if (field[0] == 'b') {
            sqlite3_bind_blob(insert, slot, field.data() + 1, int(field.size() - 1),
                              SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_text(insert, slot, field.data(), int(field.size()), SQLITE_TRANSIENT);
        }
    }
    sqlite3_step(insert);
    sqlite3_finalize(insert);

    auto rows = db->executeQuery(u"select * from tb_receipt"_s);
    if (!rows)
        std::abort();
    const ReceiptRowMapper mapper(*rows, u"ReceiptNo"_s);
    while (rows->next()) {
        const std::optional<Receipt> receipt = mapper.map();
        if (receipt
            && (receipt->id.isNull() || !receipt->receiptDate.isValid()
                || !receipt->createDate.isValid()))
            std::abort();
    }
    return 0;
}
