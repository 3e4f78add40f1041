// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookproof.h"

#include "database.h"
#include "databaseerror.h"
#include "failure.h"
#include "money.h"
#include "receipthistory.h"
#include "receiptnumber.h"
#include "receiptrow.h"
#include "recordchain.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <array>

using namespace Qt::StringLiterals;

namespace {

// The rows read at a time: the chain and the receipts are read in runs, so that a book of
// any size is read in little memory on either engine.
constexpr int rowsPerRead = 5000;

// A receipt's fields as a history row holds them, with the names a treasurer reads.
struct Field
{
    const char16_t *key;
    const char16_t *label;
};

constexpr Field fields[] = {
    {u"id", u"编号"},           {u"receiptNo", u"单号"},   {u"receiptDate", u"收款日期"},
    {u"payer", u"交款单位"},    {u"reason1", u"收款事由"}, {u"reason2", u"其它说明"},
    {u"remark", u"备注信息"},   {u"paytype", u"收款方式"}, {u"payee", u"收款人"},
    {u"approve", u"核准"},      {u"accountant", u"会计"},  {u"creator", u"开票人"},
    {u"createDate", u"开单时间"}, {u"total", u"收款金额"}, {u"totalBig", u"大写金额"},
    {u"isDeleted", u"删除标记"},
};

// A field's value as both sides are compared: the day of a date (the book keeps the day
// only), an amount in fen where it reads as one.
QString comparable(QStringView key, const QString &value)
{
    if (key == u"receiptDate")
        return value.left(10);
    if (key == u"total") {
        if (const std::optional<qint64> fen = Money::fenFromText(value.toLatin1()))
            return Money::format(*fen, false);
    }
    return value;
}

QByteArray digestOf(const QJsonObject &receipt)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const Field &field : fields) {
        const QStringView key(field.key);
        const QByteArray value = comparable(key, receipt.value(key).toString()).toUtf8();
        hash.addData(QByteArray::number(value.size()) + ':');
        hash.addData(value);
    }
    return hash.result().left(16);
}

// What the record says of one receipt: its newest row, and the state the rows leave it in.
struct Recorded
{
    qint64 link = 0;
    QString receiptNo;
    QByteArray digest;
    QJsonObject receipt; // kept only when asked for a message
    bool gone = false;
    bool voided = false;
    QString reason;
    bool seen = false;
};

QString numberOf(const QString &receiptNo)
{
    return u"No."_s + receiptNo;
}

QString alteredText(qint64 link)
{
    return u"第 %1 条记录已被改动或删除"_s.arg(link);
}

// What differs between the receipt a row left and the one stored, field by field.
QString differences(const QJsonObject &recorded, const QJsonObject &stored)
{
    QStringList parts;
    for (const Field &field : fields) {
        const QStringView key(field.key);
        const QString before = recorded.value(key).toString();
        const QString after = stored.value(key).toString();
        if (comparable(key, before) != comparable(key, after))
            parts << u"%1 %2 → %3"_s.arg(QString::fromUtf16(field.label),
                                         comparable(key, before), comparable(key, after));
    }
    return parts.join(u"；"_s);
}

class Proof
{
public:
    Proof(Database &book, BookProof::Verdict *verdict, const std::atomic_bool *cancel)
        : m_book(book)
        , m_verdict(*verdict)
        , m_cancel(cancel)
    { }

    // False only when the book could not be read; the first check that finds something
    // ends the proof.
    bool run(QString *error)
    {
        m_verdict = {};
        for (const auto step : {&Proof::readChain, &Proof::readHead, &Proof::readUnlinked,
                                &Proof::readReceipts, &Proof::readVoids, &Proof::checkGone,
                                &Proof::readCounter}) {
            if (!(this->*step)(error))
                return false;
            if (!m_verdict.problem.isEmpty())
                return true;
        }
        m_verdict.whole = true;
        return true;
    }

private:
    bool failed(QString *error)
    {
        if (m_cancel && *m_cancel)
            return false;
        return fail(error, u"读取账本失败：%1"_s.arg(m_book.lastError().message()));
    }
    bool failedRows(const ResultSet &rows, QString *error)
    {
        return fail(error, u"读取账本失败：%1"_s.arg(rows.error().message()));
    }
    bool cancelled() const { return m_cancel && *m_cancel; }

    // The chain link by link, each linked again from its row; the state each receipt's
    // rows leave it in.
    bool readChain(QString *error)
    {
        QByteArray previous;
        qint64 expected = 1;
        for (;;) {
            std::unique_ptr<ResultSet> rows = m_book.executeQuery(
                u"select c.link, c.hash, h.id, h.time, h.action, h.receiptId, h.receiptNo, "
                u"h.detail, h.desk from tb_chain c left join tb_history h on h.id = c.historyId "
                u"where c.link >= %1 order by c.link limit %2"_s.arg(expected).arg(rowsPerRead));
            if (!rows)
                return failed(error);
            int read = 0;
            std::array<std::optional<QByteArrayView>, RecordChain::fieldCount> values;
            while (rows->next()) {
                ++read;
                const qint64 link = rows->int64ForColumnIndex(0);
                const QByteArray hash = rows->bytesForColumnIndex(1).value_or("").toByteArray();
                if (link != expected || !rows->bytesForColumnIndex(2)) {
                    m_verdict.problem = alteredText(expected);
                    return true;
                }
                for (int i = 0; i < RecordChain::fieldCount; ++i)
                    values[size_t(i)] = rows->bytesForColumnIndex(3 + i);
                const QByteArray linked = RecordChain::link(previous, values);
                if (linked != hash) {
                    m_verdict.problem = alteredText(link);
                    return true;
                }
                takeRow(link, *rows);
                previous = linked;
                ++expected;
            }
            if (rows->hasError())
                return failedRows(*rows, error);
            if (cancelled())
                return false;
            if (read < rowsPerRead)
                break;
        }
        m_verdict.records = expected - 1;
        m_verdict.head = QString::fromLatin1(previous);
        return true;
    }

    void takeRow([[maybe_unused]] qint64 link, ResultSet &rows)
    {
        const std::optional<HistoryAction> action
            = ReceiptHistory::actionFromName(rows.stringForColumnIndex(4).value_or(QString()));
        const QString id = rows.stringForColumnIndex(5).value_or(QString());
        // What came before the chain began proves nothing of the counter.
        if (action == HistoryAction::ChainStart) {
            m_highestIssued = -1;
            m_highestNumber.clear();
        }
        if (!action || id.isEmpty())
            return;
        const QJsonObject detail
            = QJsonDocument::fromJson(rows.bytesForColumnIndex(7).value_or("").toByteArray())
                  .object();
        Recorded &receipt = m_recorded[id];
        receipt.link = link;
        receipt.receiptNo = rows.stringForColumnIndex(6).value_or(QString());
        receipt.digest = digestOf(detail);
        receipt.gone = false;
        switch (*action) {
        case HistoryAction::Insert:
            receipt.voided = false;
            break;
        case HistoryAction::Void:
            receipt.voided = true;
            receipt.reason = detail.value(u"reason"_s).toString();
            break;
        case HistoryAction::Unvoid:
            receipt.voided = false;
            break;
        case HistoryAction::Delete:
            receipt.gone = true;
            receipt.voided = false;
            break;
        case HistoryAction::Restore:
        case HistoryAction::Import:
            receipt.voided = detail.contains(u"reason"_s);
            receipt.reason = detail.value(u"reason"_s).toString();
            break;
        case HistoryAction::Update:
        case HistoryAction::Print:
        case HistoryAction::ChainStart:
            break;
        }
        // A number the counter must have passed: one issued since the chain began.
        if ((*action == HistoryAction::Insert || *action == HistoryAction::Import
             || *action == HistoryAction::Restore)
            && ReceiptNumber::isPlain(receipt.receiptNo) && receipt.receiptNo.size() <= 18) {
            const qint64 value = receipt.receiptNo.toLongLong();
            if (value >= m_highestIssued) {
                m_highestIssued = value;
                m_highestNumber = receipt.receiptNo;
            }
        }
    }

    // The head every write moves with its link: a last row removed with its link shows.
    bool readHead(QString *error)
    {
        std::unique_ptr<ResultSet> rows
            = m_book.executeQuery(u"select rows, head from tb_chainHead"_s);
        if (!rows)
            return failed(error);
        if (!rows->next()) {
            if (rows->hasError())
                return failedRows(*rows, error);
            m_verdict.problem = u"记录链的链尾已被删除"_s;
            return true;
        }
        const qint64 count = rows->int64ForColumnIndex(0);
        const QString head = rows->stringForColumnIndex(1).value_or(QString());
        if (count != m_verdict.records || head != m_verdict.head)
            m_verdict.problem = alteredText(std::max(count, m_verdict.records));
        return true;
    }

    // A history row the trigger did not link was written by another program past it.
    bool readUnlinked(QString *error)
    {
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select min(id) from tb_history h where not exists (select 1 from tb_chain c "
            u"where c.historyId = h.id)"_s);
        if (!rows || !rows->next())
            return rows ? failedRows(*rows, error) : failed(error);
        if (rows->bytesForColumnIndex(0))
            m_verdict.problem = u"第 %1 号记录不在记录链中（不是由本程序写入的）"_s.arg(
                rows->int64ForColumnIndex(0));
        return true;
    }

    // Every stored receipt as its newest row left it.
    bool readReceipts(QString *error)
    {
        qint64 after = std::numeric_limits<qint64>::min();
        for (;;) {
            std::unique_ptr<ResultSet> rows = m_book.executeQuery(
                u"select rowid as quenta_row, * from tb_receipt where rowid > %1 order by rowid "
                u"limit %2"_s.arg(after).arg(rowsPerRead));
            if (!rows)
                return failed(error);
            int read = 0;
            std::optional<ReceiptRowMapper> mapper;
            int idColumn = -1;
            int numberColumn = -1;
            while (rows->next()) {
                ++read;
                after = rows->int64ForColumnIndex(0);
                if (!mapper) {
                    mapper.emplace(*rows, u"receiptNo"_s);
                    idColumn = rows->columnIndexForName(u"id"_s);
                    numberColumn = rows->columnIndexForName(u"receiptNo"_s);
                }
                const std::optional<Receipt> receipt = mapper->map();
                const QString id = rows->stringForColumnIndex(idColumn).value_or(QString());
                const QString number = rows->stringForColumnIndex(numberColumn).value_or(QString());
                const auto found = m_recorded.find(id);
                if (found == m_recorded.end() || id.isEmpty()) {
                    m_verdict.problem = u"%1 没有开单记录"_s.arg(numberOf(number));
                    return true;
                }
                found->seen = true;
                if (found->gone) {
                    m_verdict.problem = u"%1 已删除，却仍在账本中"_s.arg(numberOf(number));
                    return true;
                }
                if (!receipt) {
                    m_verdict.problem = u"%1 无法读取，与记录不符"_s.arg(numberOf(number));
                    return true;
                }
                const QJsonObject stored = ReceiptHistory::toJson(*receipt);
                if (digestOf(stored) != found->digest) {
                    m_verdict.problem = u"%1 与记录不符：%2"_s.arg(
                        numberOf(found->receiptNo), differences(recordedOf(found->link), stored));
                    return true;
                }
            }
            if (rows->hasError())
                return failedRows(*rows, error);
            if (cancelled())
                return false;
            if (read < rowsPerRead)
                return true;
        }
    }

    QJsonObject recordedOf(qint64 link)
    {
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select h.detail from tb_chain c join tb_history h on h.id = c.historyId "
            u"where c.link = %1"_s.arg(link));
        if (!rows || !rows->next())
            return {};
        return QJsonDocument::fromJson(rows->bytesForColumnIndex(0).value_or("").toByteArray())
            .object();
    }

    bool readVoids(QString *error)
    {
        std::unique_ptr<ResultSet> rows
            = m_book.executeQuery(u"select receiptId, reason from tb_void"_s);
        if (!rows)
            return failed(error);
        QHash<QString, QString> voids;
        while (rows->next())
            voids.insert(rows->stringForColumnIndex(0).value_or(QString()),
                         rows->stringForColumnIndex(1).value_or(QString()));
        if (rows->hasError())
            return failedRows(*rows, error);
        for (auto it = m_recorded.cbegin(); it != m_recorded.cend(); ++it) {
            const auto found = voids.constFind(it.key());
            if (it->voided && found == voids.constEnd() && !it->gone) {
                m_verdict.problem = u"%1 的作废已被撤掉，却没有记录"_s.arg(numberOf(it->receiptNo));
                return true;
            }
            if (found != voids.constEnd() && !it->voided) {
                m_verdict.problem = u"%1 被作废，却没有作废记录"_s.arg(numberOf(it->receiptNo));
                return true;
            }
            if (found != voids.constEnd() && found.value() != it->reason) {
                m_verdict.problem = u"%1 的作废原因与记录不符：%2 → %3"_s.arg(
                    numberOf(it->receiptNo), it->reason, found.value());
                return true;
            }
            voids.remove(it.key());
        }
        if (!voids.isEmpty())
            m_verdict.problem = u"有一张不在记录中的收据被作废（编号 %1）"_s.arg(voids.cbegin().key());
        return true;
    }

    // A receipt the record keeps that is neither stored nor deleted.
    bool checkGone(QString *)
    {
        for (auto it = m_recorded.cbegin(); it != m_recorded.cend(); ++it) {
            if (!it->seen && !it->gone) {
                m_verdict.problem
                    = u"%1 已从账本中消失，没有删除记录"_s.arg(numberOf(it->receiptNo));
                return true;
            }
        }
        return true;
    }

    bool readCounter(QString *error)
    {
        if (m_highestNumber.isEmpty())
            return true;
        std::unique_ptr<ResultSet> rows
            = m_book.executeQuery(u"select currNum from tb_receiptNo"_s);
        if (!rows)
            return failed(error);
        while (rows->next()) {
            bool number = false;
            const qint64 next
                = rows->stringForColumnIndex(0).value_or(QString()).trimmed().toLongLong(&number);
            if (!number || next <= m_highestIssued)
                m_verdict.problem
                    = u"收据单号计数器落后于已开出的 %1"_s.arg(numberOf(m_highestNumber));
        }
        if (rows->hasError())
            return failedRows(*rows, error);
        return true;
    }

    Database &m_book;
    BookProof::Verdict &m_verdict;
    const std::atomic_bool *m_cancel;
    QHash<QString, Recorded> m_recorded;
    qint64 m_highestIssued = -1;
    QString m_highestNumber;
};

} // namespace

bool BookProof::verify(Database &book, Verdict *verdict, QString *error,
                       const std::atomic_bool *cancel)
{
    return Proof(book, verdict, cancel).run(error);
}

QString BookProof::shortHead(const QString &head)
{
    return head.left(16).toUpper();
}

bool BookProof::containsHead(Database &book, const QString &given, bool *found, QString *error)
{
    static const QRegularExpression hex(u"^[0-9A-Fa-f]{16,64}$"_s);
    if (!hex.match(given).hasMatch())
        return fail(error, u"链尾应为 16 到 64 位十六进制数字：%1"_s.arg(given));
    // Every link is 64 lower-case digits: the given ones begin one.
    std::unique_ptr<ResultSet> rows = book.executeQuery(
        u"select count(*) from tb_chain where substr(hash, 1, %1) = $1"_s.arg(given.size()),
        {given.toLower()});
    if (!rows || !rows->next())
        return fail(error, u"读取账本失败：%1"_s.arg(book.lastError().message()));
    *found = rows->int64ForColumnIndex(0) > 0;
    return true;
}
