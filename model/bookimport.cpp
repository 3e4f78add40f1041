// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookimport.h"

#include "backupservice.h"
#include "bookfile.h"
#include "database.h"
#include "money.h"
#include "receiptnumber.h"
#include "receiptrow.h"

#include <QCryptographicHash>
#include <QFile>
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
            *error = u"无法打开 %1：%2"_s.arg(m_path, m_database.lastErrorMessage());
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
            *error = u"无法读取 %1 中的收据：%2"_s.arg(m_path, m_database.lastErrorMessage());
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
            problems->append({m_row + 1, u"读取收据失败：%1"_s.arg(m_receipts->errorMessage())});
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

QString tooLong(const QString &label, qsizetype limit)
{
    return u"%1超过 %2 个字符"_s.arg(label).arg(limit);
}

} // namespace

QString BookImport::checkReceipt(const Receipt &r)
{
    if (r.receiptNo.trimmed().isEmpty())
        return u"必填：收据单号"_s;
    if (r.receiptNo.size() > numberLengthLimit)
        return tooLong(u"收据单号"_s, numberLengthLimit);
    // Digits only: a look-alike (full-width, or beside an invisible character) prints as a
    // stored number does, and would bring that number in a second time.
    if (const QString problem = ReceiptNumber::problem(r.receiptNo); !problem.isEmpty())
        return problem;
    if (!r.receiptDate.isValid())
        return u"必填：收款日期"_s;
    if (r.payer.trimmed().isEmpty())
        return u"必填：交款单位"_s;
    if (r.unreadableTotal)
        return u"收款金额“%1”不是金额"_s.arg(*r.unreadableTotal);
    const std::optional<qint64> fen = Money::fenFromYuan(r.total);
    if (!fen || *fen > largestFen || *fen < -largestFen)
        return u"收款金额超过上限 999,999,999,999.99"_s;
    const std::pair<const QString *, const char16_t *> texts[] = {
        {&r.payer, u"交款单位"}, {&r.reason1, u"收款事由"},      {&r.paytype, u"收款方式"},
        {&r.payee, u"收款人"},   {&r.approve, u"核准"},          {&r.accountant, u"会计"},
        {&r.creator, u"开单人"}, {&r.totalBig, u"金额（大写）"},
    };
    for (const auto &[text, label] : texts) {
        if (text->size() > textLengthLimit)
            return tooLong(QString::fromUtf16(label), textLengthLimit);
    }
    if (r.reason2.size() > longTextLengthLimit)
        return tooLong(u"其它说明"_s, longTextLengthLimit);
    if (r.remark.size() > longTextLengthLimit)
        return tooLong(u"备注信息"_s, longTextLengthLimit);
    if (r.voidReason && r.voidReason->trimmed().isEmpty())
        return u"已作废的收据缺少作废原因"_s;
    if (r.voidReason && r.voidReason->size() > longTextLengthLimit)
        return tooLong(u"作废原因"_s, longTextLengthLimit);
    return {};
}

std::unique_ptr<BookImport::Source> BookImport::openBook(const QString &path, QString *error)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty() && canonical == QFileInfo(BookFile::path()).canonicalFilePath()) {
        *error = u"这是正在使用的数据库文件，不能导入它自己"_s;
        return nullptr;
    }
    // The check of a backup before a restore: a damaged file, a foreign one or one with
    // triggers of its own is refused before any of it is read.
    const RestoreCheck found = BackupService::checkBook(path);
    if (!found.ok) {
        *error = found.problem;
        return nullptr;
    }
    auto source = std::make_unique<BookSource>(path);
    if (!source->open(error))
        return nullptr;
    return source;
}

QString BookImport::digestOf(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QString BookImport::report(const Result &result, qsizetype lines)
{
    QStringList out;
    for (const Problem &problem : result.problems) {
        if (out.size() >= lines)
            break;
        out << (problem.row > 0 ? u"第 %1 行：%2"_s.arg(problem.row).arg(problem.reason)
                                : problem.reason);
    }
    if (result.problemCount > out.size())
        out << u"……共 %1 处问题"_s.arg(result.problemCount);
    for (const auto &[from, to] : result.renumbered) {
        if (out.size() >= lines) {
            out << u"……共 %1 张收据改了单号"_s.arg(result.renumbered.size());
            break;
        }
        out << u"单号 %1 → %2"_s.arg(from, to);
    }
    return out.join(u'\n');
}
