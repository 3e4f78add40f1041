// SPDX-License-Identifier: GPL-3.0-or-later
// The reader of another Quenta book for an import: its receipts, their voids and
// history, and its lookup lists.
#include "bookimport.h"

#include "backupservice.h"
#include "bookfile.h"
#include "database.h"
#include "receiptrow.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

using namespace BookImport;

// The receipts of another book in the order they were stored, each with its void and
// its history there.
class BookSource : public Source
{
public:
    explicit BookSource(const QString &path)
        : m_path(path)
        , m_database(path, Database::OpenMode::ExistingFileOnly)
    {
        m_database.setOpenReadOnly(true);
        m_database.setLogsErrors(false);
    }

    bool open(QString *error)
    {
        if (!m_database.open()) {
            *error = u"无法打开 %1：%2"_s.arg(m_path, m_database.lastError().detail());
            return false;
        }
        // Voids are few; they are read at once, the history a receipt at a time.
        if (std::unique_ptr<ResultSet> voids
            = m_database.executeQuery(u"select receiptId, reason, voidDate from tb_void"_s)) {
            while (voids->next())
                m_voids.insert(voids->stringForColumnIndex(0).value_or(QString()),
                               {voids->stringForColumnIndex(1).value_or(QString()),
                                voids->stringForColumnIndex(2).value_or(QString())});
        }
        m_receipts = m_database.executeQuery(u"select * from tb_receipt order by rowid"_s);
        if (!m_receipts) {
            *error = u"无法读取 %1 中的收据：%2"_s.arg(m_path, m_database.lastError().detail());
            return false;
        }
        return true;
    }

    bool next(Item *item, QList<Problem> *problems) override
    {
        while (m_receipts->next()) {
            ++m_row;
            if (!m_mapper)
                m_mapper.emplace(*m_receipts, u"receiptNo"_s);
            std::optional<Receipt> receipt = m_mapper->map();
            if (!receipt) {
                problems->append({m_row, u"这张收据缺少单号或日期，无法读取"_s});
                continue;
            }
            *item = Item {m_row, std::move(*receipt), {}, {}};
            const auto voided = m_voids.constFind(item->receipt.id);
            if (voided != m_voids.constEnd()) {
                item->receipt.voidReason = voided->first;
                item->voidDate = voided->second;
            }
            const QJsonArray history = historyOf(item->receipt.id);
            if (!history.isEmpty())
                item->historyExtra.insert(u"sourceHistory"_s, history);
            return true;
        }
        if (m_receipts->hasError())
            problems->append({m_row + 1, u"读取收据失败：%1"_s.arg(m_receipts->error().detail())});
        return false;
    }

    QString fileName() const override { return QFileInfo(m_path).fileName(); }

    QList<std::pair<QString, QString>> lookupEntries() override
    {
        QList<std::pair<QString, QString>> entries;
        const std::pair<const char16_t *, const char16_t *> lists[] = {
            {u"tb_payer", u"content"},  {u"tb_reason1", u"content"}, {u"tb_reason2", u"content"},
            {u"tb_remark", u"content"}, {u"tb_paytype", u"content"}, {u"tb_account", u"userName"},
        };
        for (const auto &[table, column] : lists) {
            const QString name = QString::fromUtf16(table);
            std::unique_ptr<ResultSet> rows = m_database.executeQuery(
                u"select %1 from %2 order by rowid"_s.arg(QString::fromUtf16(column), name));
            while (rows && rows->next()) {
                const QString text = rows->stringForColumnIndex(0).value_or(QString());
                if (!text.isEmpty())
                    entries.append({name, text});
            }
        }
        return entries;
    }

private:
    QJsonArray historyOf(const QString &id)
    {
        QJsonArray history;
        std::unique_ptr<ResultSet> rows = m_database.executeQuery(
            u"select time, action, detail from tb_history where receiptId = ? order by id"_s, {id});
        while (rows && rows->next()) {
            history.append(QJsonObject {
                {u"time"_s, rows->stringForColumnIndex(0).value_or(QString())},
                {u"action"_s, rows->stringForColumnIndex(1).value_or(QString())},
                {u"detail"_s,
                 QJsonDocument::fromJson(rows->stringForColumnIndex(2).value_or(QString()).toUtf8())
                     .object()},
            });
        }
        return history;
    }

    QString m_path;
    Database m_database;
    std::unique_ptr<ResultSet> m_receipts;
    std::optional<ReceiptRowMapper> m_mapper;
    QHash<QString, std::pair<QString, QString>> m_voids;
    qint64 m_row = 0;
};

} // namespace

std::unique_ptr<BookImport::Source> BookImport::openBook(const QString &path, QString *error)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty() && canonical == QFileInfo(BookFile::path()).canonicalFilePath()) {
        *error = u"这是正在使用的数据库文件，不能导入它自己"_s;
        return nullptr;
    }
    // The check of a backup before a restore: a damaged file, a foreign one or one with
    // triggers of its own is refused before any of it is read.
    if (!BackupService::checkBook(path, nullptr, error))
        return nullptr;
    auto source = std::make_unique<BookSource>(path);
    if (!source->open(error))
        return nullptr;
    return source;
}
