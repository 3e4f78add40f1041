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
#include "schemaupgrade.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <array>
#include <limits>
#include <span>
#include <thread>

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

// The members a proof reads of a history row's detail: the receipt's fields in the order
// of `fields`, then the reason of a void.
constexpr size_t memberCount = std::size(fields) + 1;
using Members = std::array<std::optional<QByteArray>, memberCount>;

// A JSON string from `at` (its opening quote), unescaped into UTF-8; `at` ends past it. A
// string without escapes is given without a copy: it lives as long as `json`.
std::optional<QByteArray> jsonString(QByteArrayView json, qsizetype &at)
{
    const qsizetype begin = ++at;
    while (at < json.size() && json[at] != '"' && json[at] != '\\')
        ++at;
    if (at < json.size() && json[at] == '"')
        return QByteArray::fromRawData(json.data() + begin, at++ - begin);
    QByteArray text(json.data() + begin, at - begin);
    for (; at < json.size(); ++at) {
        const char c = json[at];
        if (c == '"') {
            ++at;
            return text;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++at >= json.size())
            return std::nullopt;
        switch (json[at]) {
        case 'b': text += '\b'; break;
        case 'f': text += '\f'; break;
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case 'u': {
            const auto unit = [&json](qsizetype from) -> std::optional<char16_t> {
                if (from + 4 > json.size())
                    return std::nullopt;
                bool ok = false;
                const uint value = QByteArray(json.data() + from, 4).toUInt(&ok, 16);
                return ok ? std::optional<char16_t>(char16_t(value)) : std::nullopt;
            };
            const std::optional<char16_t> first = unit(at + 1);
            if (!first)
                return std::nullopt;
            at += 4;
            QString units = QString(QChar(*first));
            if (QChar::isHighSurrogate(*first) && at + 2 < json.size() && json[at + 1] == '\\'
                && json[at + 2] == 'u') {
                if (const std::optional<char16_t> second = unit(at + 3)) {
                    units += QChar(*second);
                    at += 6;
                }
            }
            text += units.toUtf8();
            break;
        }
        default:
            text += json[at];
        }
    }
    return std::nullopt;
}

// The string members of a JSON object that a proof reads, unescaped, into *members (by
// the order of `fields`, then "reason"); every other member is passed over. False for a
// text that is not one object. A history row's detail is read this way a million times in
// a proof, where a whole document would be built each time.
bool readMembers(QByteArrayView json, Members *members)
{
    static const std::array<QByteArray, memberCount> keys = [] {
        std::array<QByteArray, memberCount> names;
        for (size_t i = 0; i < std::size(fields); ++i)
            names[i] = QString::fromUtf16(fields[i].key).toLatin1();
        names[memberCount - 1] = "reason";
        return names;
    }();
    members->fill(std::nullopt);
    qsizetype at = 0;
    const auto skipSpace = [&] {
        while (at < json.size()
               && (json[at] == ' ' || json[at] == '\n' || json[at] == '\r' || json[at] == '\t'))
            ++at;
    };
    skipSpace();
    if (at >= json.size() || json[at] != '{')
        return false;
    ++at;
    for (;;) {
        skipSpace();
        if (at < json.size() && json[at] == '}')
            return true;
        if (at >= json.size() || json[at] != '"')
            return false;
        const std::optional<QByteArray> key = jsonString(json, at);
        skipSpace();
        if (!key || at >= json.size() || json[at] != ':')
            return false;
        ++at;
        skipSpace();
        if (at >= json.size())
            return false;
        if (json[at] == '"') {
            std::optional<QByteArray> value = jsonString(json, at);
            if (!value)
                return false;
            for (size_t i = 0; i < memberCount; ++i) {
                if (keys[i] == *key) {
                    (*members)[i] = std::move(value);
                    break;
                }
            }
        } else {
            // Another value: passed over to its end, the strings in it read as strings.
            int depth = 0;
            while (at < json.size()) {
                const char c = json[at];
                if (c == '"') {
                    if (!jsonString(json, at))
                        return false;
                    continue;
                }
                if (depth == 0 && (c == ',' || c == '}'))
                    break;
                if (c == '{' || c == '[')
                    ++depth;
                else if (c == '}' || c == ']')
                    --depth;
                ++at;
            }
        }
        skipSpace();
        if (at < json.size() && json[at] == ',') {
            ++at;
            continue;
        }
        return at < json.size() && json[at] == '}';
    }
}

// Whether two texts of `key` say the same: the day of a date, an amount in fen.
bool sameValue(QStringView key, QByteArrayView recorded, QByteArrayView stored)
{
    if (key == u"receiptDate")
        return recorded.first(std::min<qsizetype>(10, recorded.size()))
            == stored.first(std::min<qsizetype>(10, stored.size()));
    if (key == u"total") {
        const std::optional<qint64> a = Money::fenFromText(recorded);
        const std::optional<qint64> b = Money::fenFromText(stored);
        if (a && b)
            return *a == *b;
    }
    if (key == u"isDeleted")
        return recorded.trimmed() == stored.trimmed();
    return recorded == stored;
}

QString numberOf(const QString &receiptNo)
{
    return u"No."_s + receiptNo;
}

QString alteredText(qint64 link)
{
    return u"第 %1 条记录已被改动或删除"_s.arg(link);
}

} // namespace

QString BookProof::differences(const QJsonObject &recorded, const QJsonObject &stored)
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

namespace {

// The newest history row of the receipt `r` (of those whose action is in `actions`, when
// given), found along the history's index of receipts.
QString newestRow(const QString &actions = {})
{
    return u"(select h.id from tb_history h join tb_chain c on c.historyId = h.id where "
           u"h.receiptId = r.id%1 order by c.link desc limit 1)"_s.arg(
               actions.isEmpty() ? QString() : u" and h.action in (%1)"_s.arg(actions));
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
    using Step = bool (Proof::*)(QString *);
    static std::array<Step, 3> chainSteps()
    {
        return {&Proof::readChain, &Proof::readHead, &Proof::readUnlinked};
    }
    static std::array<Step, 4> receiptSteps()
    {
        return {&Proof::readReceipts, &Proof::readGone, &Proof::readStrayVoids,
                &Proof::readClosings};
    }
    bool run(std::span<const Step> steps, QString *error)
    {
        for (const Step step : steps) {
            if (!(this->*step)(error))
                return false;
            if (!m_verdict.problem.isEmpty())
                return true;
        }
        return true;
    }
    // The counter, once the chain has been read (by `chain`).
    bool runCounter(const Proof &chain, QString *error)
    {
        m_highestIssued = chain.m_highestIssued;
        m_highestNumber = chain.m_highestNumber;
        m_setCounter = chain.m_setCounter;
        return readCounter(error);
    }

private:
    bool failed(QString *error)
    {
        if (cancelled())
            return false;
        return fail(error, u"读取账本失败：%1"_s.arg(m_book.lastError().message()));
    }
    bool failedRows(const ResultSet &rows, QString *error)
    {
        if (cancelled())
            return false;
        return fail(error, u"读取账本失败：%1"_s.arg(rows.error().message()));
    }
    bool cancelled() const { return m_cancel && *m_cancel; }

    // The chain link by link, each linked again from its row, in runs of rows.
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
                if (link != expected || !rows->bytesForColumnIndex(2)) {
                    m_verdict.problem = alteredText(expected);
                    return true;
                }
                for (int i = 0; i < RecordChain::fieldCount; ++i)
                    values[size_t(i)] = rows->bytesForColumnIndex(3 + i);
                const QByteArray linked = RecordChain::link(previous, values);
                if (rows->bytesForColumnIndex(1) != QByteArrayView(linked)) {
                    m_verdict.problem = alteredText(link);
                    return true;
                }
                noteIssued(values[1].value_or(""), values[3].value_or(""),
                           values[4].value_or(""));
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

    // A number the counter must have passed: one issued since the chain began (what came
    // before proves nothing of the counter).
    void noteIssued(QByteArrayView action, QByteArrayView number, QByteArrayView detail)
    {
        if (action == "chain") {
            m_highestIssued = -1;
            m_highestNumber.clear();
            m_setCounter = 0;
            return;
        }
        // The counter as the user set it (the record says so): what was issued before no
        // longer binds it, but it may not be behind what was set.
        if (action == "setting" && detail.contains(QByteArrayView("当前单号"))) {
            const QJsonArray change = QJsonDocument::fromJson(detail.toByteArray())
                                          .object()
                                          .value(u"changes"_s)
                                          .toObject()
                                          .value(u"当前单号"_s)
                                          .toArray();
            m_highestIssued = -1;
            m_highestNumber.clear();
            m_setCounter = change.at(1).toInteger();
            return;
        }
        if ((action != "insert" && action != "import" && action != "restore")
            || !ReceiptNumber::isPlain(QString::fromLatin1(number)) || number.size() > 18)
            return;
        const qint64 value = number.toLongLong();
        if (value >= m_highestIssued) {
            m_highestIssued = value;
            m_highestNumber = QString::fromLatin1(number);
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

    static constexpr size_t fieldCount = std::size(fields);
    struct Columns
    {
        std::array<int, fieldCount> values {};
        // quenta_action; its detail, the state's action and detail and the void follow it.
        int action = -1;
    };

    // Every stored receipt beside its newest row, and its void beside the newest row that
    // says whether it is voided, in runs of receipts.
    bool readReceipts(QString *error)
    {
        // The actions that say whether a receipt is voided: mostly its newest row is one.
        const QString stateActions
            = u"'insert', 'void', 'unvoid', 'delete', 'restore', 'import', 'chain'"_s;
        qint64 after = std::numeric_limits<qint64>::min();
        const QString sql
            = u"select r.rowid as quenta_row, r.*, n.action as quenta_action, n.detail as "
              u"quenta_detail, s.action as quenta_state, s.detail as quenta_state_detail, "
              u"v.reason as quenta_void from tb_receipt r left join tb_history n on n.id = %1 "
              u"left join tb_history s on s.id = case when n.action in (%2) then n.id else %3 "
              u"end left join tb_void v on v.receiptId = r.id "
              u"where r.rowid > %4 order by r.rowid limit %5"_s.arg(
                  newestRow(), stateActions, newestRow(stateActions));
        for (;;) {
            std::unique_ptr<ResultSet> rows = m_book.executeQuery(sql.arg(after).arg(rowsPerRead));
            if (!rows)
                return failed(error);
            int read = 0;
            std::optional<ReceiptRowMapper> mapper;
            Columns columns;
            while (rows->next()) {
                ++read;
                after = rows->int64ForColumnIndex(0);
                if (!mapper) {
                    mapper.emplace(*rows, u"receiptNo"_s);
                    for (size_t i = 0; i < std::size(fields); ++i) {
                        columns.values[i] = rows->columnIndexForName(QString::fromUtf16(fields[i].key));
                    }
                    columns.action = rows->columnIndexForName(u"quenta_action"_s);
                }
                if (!checkReceipt(*rows, *mapper, columns))
                    return true;
            }
            if (rows->hasError())
                return failedRows(*rows, error);
            if (cancelled())
                return false;
            if (read < rowsPerRead)
                return true;
        }
    }

    // False when it found what does not agree (the verdict then says what).
    bool checkReceipt(ResultSet &rows, const ReceiptRowMapper &mapper, const Columns &columns)
    {
        const int action = columns.action;
        const QString number = rows.stringForColumnIndex(columns.values[1]).value_or(QString());
        const std::optional<QByteArrayView> newest = rows.bytesForColumnIndex(action);
        if (!newest) {
            m_verdict.problem = u"%1 没有开单记录"_s.arg(numberOf(number));
            return false;
        }
        if (*newest == "delete") {
            m_verdict.problem = u"%1 已删除，却仍在账本中"_s.arg(numberOf(number));
            return false;
        }
        const QByteArrayView detail = rows.bytesForColumnIndex(action + 1).value_or("");
        bool same = readMembers(detail, &m_members);
        for (size_t i = 0; same && i < std::size(fields); ++i)
            same = sameValue(fields[i].key, m_members[i].value_or(QByteArray()),
                             rows.bytesForColumnIndex(columns.values[i]).value_or(""));
        if (!same) {
            // Told as a treasurer reads it, each side as the program reads a receipt: a text
            // another version wrote otherwise, but of the same meaning, is no change.
            const QJsonObject was = QJsonDocument::fromJson(detail.toByteArray()).object();
            const std::optional<Receipt> stored = mapper.map();
            const QString changes = stored
                ? BookProof::differences(was, ReceiptHistory::toJson(*stored))
                : u"无法读取"_s;
            if (!changes.isEmpty()) {
                m_verdict.problem = u"%1 与记录不符：%2"_s.arg(numberOf(number), changes);
                return false;
            }
        }
        // Voided as the newest row about its voids says, with that reason.
        const QByteArrayView state = rows.bytesForColumnIndex(action + 2).value_or("");
        QByteArray reason;
        if ((state == "void" || state == "restore" || state == "import" || state == "chain")
            && readMembers(rows.bytesForColumnIndex(action + 3).value_or(""), &m_members))
            reason = m_members[memberCount - 1].value_or(QByteArray());
        const bool voided = state == "void" || !reason.isEmpty();
        const std::optional<QByteArrayView> stored = rows.bytesForColumnIndex(action + 4);
        if (voided && !stored) {
            m_verdict.problem = u"%1 的作废已被撤掉，却没有记录"_s.arg(numberOf(number));
            return false;
        }
        if (!voided && stored) {
            m_verdict.problem = u"%1 被作废，却没有作废记录"_s.arg(numberOf(number));
            return false;
        }
        if (voided && *stored != QByteArrayView(reason)) {
            m_verdict.problem = u"%1 的作废原因与记录不符：%2 → %3"_s.arg(
                numberOf(number), QString::fromUtf8(reason), QString::fromUtf8(*stored));
            return false;
        }
        return true;
    }

    // A receipt the record keeps that is neither stored nor deleted: only the history of
    // receipts no longer stored is looked at.
    bool readGone(QString *error)
    {
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select h.receiptNo from tb_history h join tb_chain c on c.historyId = h.id "
            u"where h.receiptId is not null and not exists (select 1 from tb_receipt r where "
            u"r.id = h.receiptId) and h.action <> 'delete' and c.link = (select max(c2.link) "
            u"from tb_history h2 join tb_chain c2 on c2.historyId = h2.id where h2.receiptId "
            u"= h.receiptId) limit 1"_s);
        if (!rows)
            return failed(error);
        if (rows->next())
            m_verdict.problem = u"%1 已从账本中消失，没有删除记录"_s.arg(
                numberOf(rows->stringForColumnIndex(0).value_or(QString())));
        else if (rows->hasError())
            return failedRows(*rows, error);
        return true;
    }

    // A void of no stored receipt.
    bool readStrayVoids(QString *error)
    {
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select receiptId from tb_void v where not exists (select 1 from tb_receipt r "
            u"where r.id = v.receiptId) limit 1"_s);
        if (!rows)
            return failed(error);
        if (rows->next())
            m_verdict.problem = u"有一张不在账本中的收据被作废（编号 %1）"_s.arg(
                rows->stringForColumnIndex(0).value_or(QString()));
        else if (rows->hasError())
            return failedRows(*rows, error);
        return true;
    }

    // Every closing as its record says: none removed, none added past the chain.
    bool readClosings(QString *error)
    {
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select closedTo from tb_closing order by closedTo"_s);
        if (!rows) {
            // A book from before closings has none to prove.
            if (m_book.lastError().kind() == DatabaseError::Kind::MissingTable)
                return true;
            return failed(error);
        }
        QStringList stored;
        while (rows->next())
            stored.append(rows->stringForColumnIndex(0).value_or(QString()));
        if (rows->hasError())
            return failedRows(*rows, error);
        rows = m_book.executeQuery(
            u"select h.detail from tb_history h join tb_chain c on c.historyId = h.id where "
            u"h.action = 'close' and h.receiptId is null order by c.link"_s);
        if (!rows)
            return failed(error);
        QStringList recorded;
        while (rows->next()) {
            recorded.append(QJsonDocument::fromJson(rows->bytesForColumnIndex(0).value_or("").toByteArray())
                                .object()
                                .value(u"closedTo"_s)
                                .toString());
        }
        if (rows->hasError())
            return failedRows(*rows, error);
        recorded.sort();
        for (const QString &day : recorded) {
            if (!stored.contains(day)) {
                m_verdict.problem = u"到 %1 的日结已被删除或改动"_s.arg(day);
                return true;
            }
        }
        for (const QString &day : stored) {
            if (!recorded.contains(day)) {
                m_verdict.problem = u"到 %1 的日结没有日结记录"_s.arg(day);
                return true;
            }
        }
        return true;
    }

    bool readCounter(QString *error)
    {
        if (m_highestNumber.isEmpty() && m_setCounter <= 0)
            return true;
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(u"select currNum from tb_receiptNo"_s);
        if (!rows)
            return failed(error);
        while (rows->next()) {
            bool number = false;
            const qint64 next
                = rows->stringForColumnIndex(0).value_or(QString()).trimmed().toLongLong(&number);
            if (!m_highestNumber.isEmpty() && (!number || next <= m_highestIssued))
                m_verdict.problem
                    = u"收据单号计数器落后于已开出的 %1"_s.arg(numberOf(m_highestNumber));
            else if (m_highestNumber.isEmpty() && (!number || next < m_setCounter))
                m_verdict.problem
                    = u"收据单号计数器低于记录中设置的 %1，没有设置记录"_s.arg(m_setCounter);
        }
        if (rows->hasError())
            return failedRows(*rows, error);
        return true;
    }

    Database &m_book;
    BookProof::Verdict &m_verdict;
    const std::atomic_bool *m_cancel;
    qint64 m_highestIssued = -1;
    // The counter as a record last set it, when nothing was issued since.
    qint64 m_setCounter = 0;
    QString m_highestNumber;
    Members m_members;
};

} // namespace

bool BookProof::verify(Database &book, Verdict *verdict, QString *error,
                       const std::atomic_bool *cancel, Database *second)
{
    *verdict = {};
    Proof chain(book, verdict, cancel);
    Verdict receiptsVerdict;
    Proof receipts(second ? *second : book, &receiptsVerdict, cancel);
    bool receiptsRead = true;
    QString receiptsError;
    // The chain and the receipts read at once, each on a connection and a core of its own.
    std::thread beside;
    if (second)
        beside = std::thread(
            [&] { receiptsRead = receipts.run(Proof::receiptSteps(), &receiptsError); });
    const bool chainRead = chain.run(Proof::chainSteps(), error);
    if (beside.joinable())
        beside.join();
    if (!chainRead)
        return false;
    if (verdict->problem.isEmpty()) {
        if (!second)
            receiptsRead = receipts.run(Proof::receiptSteps(), &receiptsError);
        if (!receiptsRead)
            return fail(error, receiptsError);
        verdict->problem = receiptsVerdict.problem;
    }
    if (verdict->problem.isEmpty() && !chain.runCounter(chain, error))
        return false;
    verdict->whole = verdict->problem.isEmpty();
    return true;
}

bool BookProof::proveFile(const QString &path, QString *error)
{
    Database file(path, Database::OpenMode::ExistingFileOnly);
    file.setOpenReadOnly(true);
    file.setLogsErrors(false);
    file.setReadsWholeBook(true);
    if (!file.open())
        return fail(error, u"无法打开文件：%1"_s.arg(file.lastError().message()));
    if (SchemaUpgrade::version(file) < 5)
        return true;
    // The chain alone: whether its receipts agree with it is told by the proof of the book
    // once restored, as of any book.
    Verdict verdict;
    QString unread;
    Proof chain(file, &verdict, nullptr);
    if (!chain.run(Proof::chainSteps(), &unread))
        return fail(error, u"无法校验文件的记录链：%1"_s.arg(unread));
    if (!verdict.problem.isEmpty())
        return fail(error, u"文件的记录链不符：%1。这个文件在备份之后被改动过，没有恢复"_s.arg(
                               verdict.problem));
    return true;
}

QString BookProof::storedHead(Database &book)
{
    if (book.dialect().livesInAFile() && SchemaUpgrade::version(book) < 5)
        return {};
    std::unique_ptr<ResultSet> rows = book.executeQuery(u"select head from tb_chainHead"_s);
    if (!rows || !rows->next())
        return {};
    return rows->stringForColumnIndex(0).value_or(QString());
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
