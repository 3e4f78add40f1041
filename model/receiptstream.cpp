// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptstream.h"

#include "database.h"
#include "databaseerror.h"
#include "receiptbook.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

using namespace Qt::StringLiterals;

ReceiptStream::ReceiptStream(const QString &beginDate, const QString &endDate,
                             const ReceiptFilter &filter, Connection connection)
    : m_filter(filter)
    // Few receipts are voided: their reasons are read whole, as the lists read them,
    // before the rows, so each row finds its own without a query.
    , m_voidReasons(ReceiptBook::shared().voidReasons())
{
    // The rows and the order of the lists' load.
    const QString sql
        = u"select * from tb_receipt where isDeleted <> 1 and receiptDate between "
          u"%1 and %2 order by receiptNo desc"_s.arg(sqlQuote(beginDate), sqlQuote(endDate));
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (connection == Connection::Shared) {
        m_resultSet = helper.query(sql);
        if (!m_resultSet)
            fail(helper.lastError());
        return;
    }
    m_ownDatabase
        = std::make_unique<Database>(helper.dbURL(), Database::OpenMode::ExistingFileOnly);
    m_ownDatabase->setOpenReadOnly(true);
    if (m_ownDatabase->open())
        m_resultSet = m_ownDatabase->executeQuery(sql);
    if (!m_resultSet)
        fail(describeFailure(m_ownDatabase->lastErrorCode(), m_ownDatabase->lastErrorMessage()));
}

// The shared connection's failures are noted where the program's other reads note theirs;
// an own connection's are only described, from whatever thread reads it.
QString ReceiptStream::describeFailure(int code, const QString &message) const
{
    return m_ownDatabase ? describeDatabaseError(code, message)
                         : SQLiteHelper::shared().noteFailure(code, message);
}

ReceiptStream::~ReceiptStream() = default;

QString ReceiptStream::skippedNotice() const
{
    if (m_skippedRows == 0)
        return {};
    return u"有 %1 张收据无法读出（日期或单号无法识别），没有列出，也不计入合计"_s.arg(
        m_skippedRows);
}

void ReceiptStream::fail(const QString &reason)
{
    m_error = u"读取收据失败："_s + reason;
    m_done = true;
    m_current.reset();
    m_mapper.reset();
    m_resultSet.reset();
}

const Receipt *ReceiptStream::next()
{
    while (!m_done) {
        if (!m_resultSet->next()) {
            if (m_resultSet->hasError()) {
                fail(describeFailure(m_resultSet->errorCode(), m_resultSet->errorMessage()));
                return nullptr;
            }
            m_done = true;
            m_current.reset();
            m_mapper.reset();
            m_resultSet.reset();
            return nullptr;
        }
        // Columns are looked up after the first step, as the lists do: a statement
        // prepared before another program changed the table is prepared again by it.
        if (!m_mapper) {
            m_mapper.emplace(*m_resultSet, u"receiptNo"_s);
            if (!m_mapper->missingColumn().isEmpty()) {
                fail(u"数据库缺少列 %1"_s.arg(m_mapper->missingColumn()));
                return nullptr;
            }
        }
        m_current = m_mapper->map();
        if (!m_current) {
            ++m_skippedRows;
            continue;
        }
        if (!m_voidReasons.isEmpty()) {
            const auto found = m_voidReasons.constFind(m_current->id);
            if (found != m_voidReasons.constEnd())
                m_current->voidReason = found.value();
        }
        if (m_filter.matches(*m_current))
            return &*m_current;
    }
    return nullptr;
}
