// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptproof.h"

#include "bookproof.h"
#include "database.h"
#include "databaseerror.h"
#include "datetext.h"
#include "failure.h"
#include "money.h"
#include "receipthistory.h"
#include "receiptnumber.h"
#include "receiptrow.h"
#include "recordchain.h"
#include "schemaupgrade.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <array>

using namespace Qt::StringLiterals;

namespace {

const QString codeMark = u"QUENTA1"_s;
const QString numberMark = u"No."_s;
// How many hex digits of the link the code carries: 64 bits, which no other record of a
// book shares by chance.
constexpr int linkDigits = 16;

QString amountOf(const Receipt &receipt)
{
    if (const std::optional<qint64> fen = Money::fenOf(receipt))
        return Money::format(*fen, false);
    return {};
}

// One history row of a receipt with its link, as the proof reads it.
struct Row
{
    qint64 link = 0;
    QByteArray hash;
    // The link of the row before it; nothing when no such link is in the chain.
    std::optional<QByteArray> previous;
    std::array<std::optional<QByteArray>, RecordChain::fieldCount> fields;

    QString time() const { return QString::fromUtf8(fields[0].value_or(QByteArray())); }
    QString action() const { return QString::fromUtf8(fields[1].value_or(QByteArray())); }
    QJsonObject detail() const
    {
        return QJsonDocument::fromJson(fields[4].value_or(QByteArray())).object();
    }
    // Whether the row still reads as it was linked: another program that changed a field of
    // it, or took the row before it away, did not link it again.
    bool linksAgain() const
    {
        if (!previous && link != 1)
            return false;
        std::array<std::optional<QByteArrayView>, RecordChain::fieldCount> views;
        for (size_t i = 0; i < views.size(); ++i) {
            if (fields[i])
                views[i] = QByteArrayView(*fields[i]);
        }
        return RecordChain::link(previous.value_or(QByteArray()), views) == hash;
    }
};

// What the code says that its record does not: empty when they agree.
QString disagreement(const ReceiptProof::Code &code, const QJsonObject &recorded)
{
    QStringList parts;
    const QString number = recorded.value(u"receiptNo"_s).toString();
    if (number != code.receiptNo)
        parts << u"单号 No.%1（记录为 No.%2）"_s.arg(code.receiptNo, number);
    const QString day = recorded.value(u"receiptDate"_s).toString().left(10);
    if (day != code.day)
        parts << u"收款日期 %1（记录为 %2）"_s.arg(code.day, day);
    const std::optional<qint64> fen
        = Money::fenFromText(recorded.value(u"total"_s).toString().toLatin1());
    if (fen != code.fen)
        parts << u"金额 %1（记录为 %2）"_s.arg(Money::format(code.fen),
                                               fen ? Money::format(*fen)
                                                   : recorded.value(u"total"_s).toString());
    return parts.join(u"；"_s);
}

// A row after the print, as a treasurer reads it: "2024-05-02 10:05 修改 金额 10.00 → 20.00".
QString toldChange(const Row &row)
{
    const QString when = row.time().left(16);
    const std::optional<HistoryAction> action = ReceiptHistory::actionFromName(row.action());
    if (!action)
        return u"%1 %2"_s.arg(when, row.action());
    const QJsonObject detail = row.detail();
    switch (*action) {
    case HistoryAction::Update: {
        HistoryEntry entry;
        entry.action = *action;
        entry.detail = detail;
        const QString changes = ReceiptHistory::changeSummary(entry);
        return changes.isEmpty() ? u"%1 修改"_s.arg(when) : u"%1 修改 %2"_s.arg(when, changes);
    }
    case HistoryAction::Void:
        return u"%1 作废（原因 %2）"_s.arg(when, detail.value(u"reason"_s).toString());
    case HistoryAction::Delete:
        return u"%1 已删除"_s.arg(when);
    default:
        return u"%1 %2"_s.arg(when, ReceiptHistory::actionText(*action));
    }
}

// The void reason the receipt has after `rows` (in chain order), as they record it.
std::optional<QString> recordedVoid(const QList<Row> &rows)
{
    std::optional<QString> reason;
    for (const Row &row : rows) {
        const QString action = row.action();
        const QString given = row.detail().value(u"reason"_s).toString();
        if (action == u"void"_s)
            reason = given;
        else if (action == u"unvoid"_s || action == u"insert"_s)
            reason.reset();
        else if (action == u"restore"_s || action == u"import"_s || action == u"chain"_s)
            reason = given.isEmpty() ? std::nullopt : std::optional<QString>(given);
    }
    return reason;
}

class Verifier
{
public:
    Verifier(Database &book, const ReceiptProof::Code &code, ReceiptProof::Answer &answer)
        : m_book(book)
        , m_code(code)
        , m_answer(answer)
    { }

    bool run(QString *error)
    {
        std::optional<QString> receiptId;
        bool numberKnown = false;
        if (!findPrinted(&receiptId, &numberKnown, error))
            return false;
        if (receiptId)
            return proveReceipt(*receiptId, error);
        // The receipt's own rows do not hold the link: the chain is searched for it, along
        // its links in the order of their text (any index on them serves the range).
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select c.link, h.detail from tb_chain c left join tb_history h on h.id = "
            u"c.historyId where c.hash >= $1 and c.hash < $2 limit 1"_s,
            {m_code.link, m_code.link + u'g'});
        if (!rows)
            return failed(error);
        if (rows->next()) {
            const QJsonObject recorded
                = QJsonDocument::fromJson(rows->bytesForColumnIndex(1).value_or("").toByteArray())
                      .object();
            const QString differs = disagreement(m_code, recorded);
            return answer(ReceiptProof::Answer::Verdict::NotItsRecord,
                          u"二维码与它所指的记录不符：%1"_s.arg(
                              differs.isEmpty() ? u"第 %1 条记录不是这张收据的"_s.arg(
                                  rows->int64ForColumnIndex(0))
                                                : differs));
        }
        if (rows->hasError())
            return failed(*rows, error);
        if (numberKnown)
            return answer(ReceiptProof::Answer::Verdict::Changed,
                          u"已改动：账本的记录链里没有这张收据打印时的记录，账本可能被改写过\n"
                          u"账本中有 No.%1，但它打印时的记录（%2）已不在记录链中"_s.arg(
                              m_code.receiptNo, m_code.link));
        return answer(ReceiptProof::Answer::Verdict::NotInBook, u"本账本没有这张收据"_s);
    }

private:
    bool failed(QString *error)
    {
        return fail(error, u"读取账本失败：%1"_s.arg(m_book.lastError().message()));
    }
    bool failed(const ResultSet &rows, QString *error)
    {
        return fail(error, u"读取账本失败：%1"_s.arg(rows.error().message()));
    }
    bool answer(ReceiptProof::Answer::Verdict verdict, const QString &text)
    {
        m_answer.verdict = verdict;
        m_answer.text = text;
        return true;
    }

    // The rows of the code's number, in any padding, on the index of the numbers' values:
    // the receipt whose row has the code's link into *receiptId; whether the book knows the
    // number at all into *numberKnown.
    bool findPrinted(std::optional<QString> *receiptId, bool *numberKnown, QString *error)
    {
        const bool plain = ReceiptNumber::isPlain(m_code.receiptNo);
        QString key = m_code.receiptNo;
        QString condition = u"receiptNo = $1"_s;
        if (plain) {
            key = ReceiptNumber::valueDigits(m_code.receiptNo);
            // Zero's key is the empty text, which no stored number is.
            if (key == u"0"_s)
                key.clear();
            condition = u"ltrim(receiptNo, '0') = $1 and receiptNo <> ''"_s;
        }
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select c.hash, receiptId from tb_history join tb_chain c on c.historyId = "
            u"tb_history.id where %1 order by c.link"_s.arg(condition),
            {key});
        if (!rows)
            return failed(error);
        while (rows->next()) {
            *numberKnown = true;
            if (rows->bytesForColumnIndex(0).value_or("").startsWith(m_code.link.toLatin1())) {
                m_printedHash = rows->bytesForColumnIndex(0)->toByteArray();
                *receiptId = rows->stringForColumnIndex(1).value_or(QString());
                return true;
            }
        }
        if (rows->hasError())
            return failed(*rows, error);
        if (*numberKnown)
            return true;
        // A receipt stored without history (written by another program) is known too.
        rows = m_book.executeQuery(u"select count(*) from tb_receipt where %1"_s.arg(condition),
                                   {key});
        if (!rows || !rows->next())
            return rows ? failed(*rows, error) : failed(error);
        *numberKnown = rows->int64ForColumnIndex(0) > 0;
        return true;
    }

    // Every row of the receipt, each with the link before it, in chain order.
    bool readRows(const QString &receiptId, QList<Row> *read, QString *error)
    {
        std::unique_ptr<ResultSet> rows = m_book.executeQuery(
            u"select c.link, c.hash, p.hash, h.time, h.action, h.receiptId, h.receiptNo, "
            u"h.detail, h.desk from tb_history h join tb_chain c on c.historyId = h.id left "
            u"join tb_chain p on p.link = c.link - 1 where h.receiptId = $1 order by c.link"_s,
            {receiptId});
        if (!rows)
            return failed(error);
        while (rows->next()) {
            Row row;
            row.link = rows->int64ForColumnIndex(0);
            row.hash = rows->bytesForColumnIndex(1).value_or("").toByteArray();
            if (const std::optional<QByteArrayView> previous = rows->bytesForColumnIndex(2))
                row.previous = previous->toByteArray();
            for (int i = 0; i < RecordChain::fieldCount; ++i) {
                if (const std::optional<QByteArrayView> field = rows->bytesForColumnIndex(3 + i))
                    row.fields[size_t(i)] = field->toByteArray();
            }
            read->append(std::move(row));
        }
        if (rows->hasError())
            return failed(*rows, error);
        return true;
    }

    bool proveReceipt(const QString &receiptId, QString *error)
    {
        QList<Row> rows;
        if (!readRows(receiptId, &rows, error))
            return false;
        const auto printed = std::find_if(rows.cbegin(), rows.cend(), [this](const Row &row) {
            return row.hash == m_printedHash;
        });
        if (printed == rows.cend()) // a row without a receipt id: not a receipt's record
            return answer(ReceiptProof::Answer::Verdict::NotItsRecord,
                          u"二维码与它所指的记录不符：那条记录不是这张收据的"_s);
        for (const Row &row : std::as_const(rows)) {
            // A row changed, or the one before it taken away with its link.
            if (!row.linksAgain())
                return answer(
                    ReceiptProof::Answer::Verdict::Changed,
                    u"已改动：记录链的第 %1 条记录已被改动或删除（不是由本程序改的）"_s.arg(
                        row.previous || row.link == 1 ? row.link : row.link - 1));
        }
        const QJsonObject recorded = printed->detail();
        if (const QString differs = disagreement(m_code, recorded); !differs.isEmpty())
            return answer(ReceiptProof::Answer::Verdict::NotItsRecord,
                          u"二维码与它所指的记录不符：%1"_s.arg(differs));

        // What happened since: prints only, or what changed the receipt.
        QStringList changes;
        if (printed->action() == u"delete"_s)
            changes << toldChange(*printed);
        qsizetype reprints = 0;
        for (auto row = printed + 1; row != rows.cend(); ++row) {
            if (row->action() == u"print"_s)
                ++reprints;
            else
                changes << toldChange(*row);
        }
        const QString printedAt = u"打印时的记录：第 %1 条（%2 %3）"_s.arg(printed->link)
                                      .arg(printed->time().left(16), toldAction(*printed));
        if (!changes.isEmpty())
            return answer(ReceiptProof::Answer::Verdict::Changed,
                          u"已改动："_s + changes.join(u"；"_s) + u'\n' + printedAt);

        // Nothing recorded since: the receipt and its void as stored must be what the
        // newest row says.
        std::optional<Receipt> stored;
        std::optional<QString> voided;
        if (!readStored(receiptId, &stored, &voided, error))
            return false;
        const QString number = u"No."_s + m_code.receiptNo;
        if (!stored)
            return answer(ReceiptProof::Answer::Verdict::Changed,
                          u"已改动：%1 已从账本中消失，没有删除记录\n%2"_s.arg(number, printedAt));
        const QString differs
            = BookProof::differences(rows.constLast().detail(), ReceiptHistory::toJson(*stored));
        if (!differs.isEmpty())
            return answer(ReceiptProof::Answer::Verdict::Changed,
                          u"已改动：账本中的 %1 与它的记录不符：%2（不是由本程序改的）\n%3"_s.arg(
                              number, differs, printedAt));
        const std::optional<QString> recordedReason = recordedVoid(rows);
        if (recordedReason != voided) {
            const QString what = !voided ? u"作废已被撤掉，却没有记录"_s
                : !recordedReason        ? u"被作废，却没有作废记录"_s
                                  : u"作废原因与记录不符：%1 → %2"_s.arg(*recordedReason, *voided);
            return answer(ReceiptProof::Answer::Verdict::Changed,
                          u"已改动：账本中的 %1 %2\n%3"_s.arg(number, what, printedAt));
        }
        QString text = u"真实，未改动\n%1，收款日期 %2，金额 ¥%3，交款单位 %4"_s.arg(
            number, m_code.day, Money::format(m_code.fen), stored->payer);
        if (voided)
            text += u"\n这张收据已作废（原因 %1），打印时已盖作废章"_s.arg(*voided);
        text += u'\n' + printedAt;
        if (reprints > 0)
            text += u"\n此后又打印过 %1 次"_s.arg(reprints);
        return answer(ReceiptProof::Answer::Verdict::Genuine, text);
    }

    static QString toldAction(const Row &row)
    {
        const std::optional<HistoryAction> action = ReceiptHistory::actionFromName(row.action());
        return action ? ReceiptHistory::actionText(*action) : row.action();
    }

    bool readStored(const QString &receiptId, std::optional<Receipt> *stored,
                    std::optional<QString> *voided, QString *error)
    {
        std::unique_ptr<ResultSet> rows
            = m_book.executeQuery(u"select * from tb_receipt where id = $1"_s, {receiptId});
        if (!rows)
            return failed(error);
        std::optional<ReceiptRowMapper> mapper;
        while (rows->next()) {
            if (!mapper)
                mapper.emplace(*rows, u"receiptNo"_s);
            *stored = mapper->map();
            if (!*stored)
                return fail(error, u"读取账本失败：No.%1 无法读取"_s.arg(m_code.receiptNo));
        }
        if (rows->hasError())
            return failed(*rows, error);
        rows = m_book.executeQuery(u"select reason from tb_void where receiptId = $1"_s,
                                   {receiptId});
        if (!rows)
            return failed(error);
        while (rows->next())
            *voided = rows->stringForColumnIndex(0).value_or(QString());
        if (rows->hasError())
            return failed(*rows, error);
        return true;
    }

    Database &m_book;
    const ReceiptProof::Code &m_code;
    ReceiptProof::Answer &m_answer;
    QByteArray m_printedHash;
};

} // namespace

QString ReceiptProof::codeText(const Receipt &receipt, const QString &link)
{
    return QStringList {codeMark, numberMark + receipt.receiptNo,
                        formatDateText(receipt.receiptDate, DateText::date), amountOf(receipt),
                        link.left(linkDigits).toLower()}
        .join(u'|');
}

QString ReceiptProof::normalized(const QString &typed)
{
    QString text = typed.normalized(QString::NormalizationForm_KC);
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Format; });
    return text.trimmed();
}

std::optional<ReceiptProof::Code> ReceiptProof::parse(const QString &typed)
{
    static const QRegularExpression day(u"^\\d{4}-\\d{2}-\\d{2}$"_s);
    static const QRegularExpression amount(u"^-?\\d{1,16}\\.\\d{2}$"_s);
    static const QRegularExpression link(u"^[0-9A-Fa-f]{%1}$"_s.arg(linkDigits));
    const QStringList parts = normalized(typed).split(u'|');
    if (parts.size() < 5 || parts.constFirst().compare(codeMark, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // The three fields after the number have forms of their own: a number that holds a "|"
    // (another program's) is all that stands between.
    const qsizetype count = parts.size();
    const QString number = parts.mid(1, count - 4).join(u'|');
    if (!number.startsWith(numberMark, Qt::CaseInsensitive) || number.size() == numberMark.size())
        return std::nullopt;
    Code code;
    code.receiptNo = number.mid(numberMark.size());
    code.day = parts[count - 3];
    const QString figures = parts[count - 2];
    code.link = parts[count - 1].toLower();
    if (!day.match(code.day).hasMatch() || !QDate::fromString(code.day, DateText::date).isValid()
        || !amount.match(figures).hasMatch() || !link.match(code.link).hasMatch())
        return std::nullopt;
    const std::optional<qint64> fen = Money::fenFromText(figures.toLatin1());
    if (!fen)
        return std::nullopt;
    code.fen = *fen;
    return code;
}

bool ReceiptProof::verify(Database &book, const QString &typed, Answer *answer, QString *error)
{
    *answer = {};
    const std::optional<Code> code = parse(typed);
    if (!code) {
        answer->text = u"这不是 Quenta 收据上的二维码"_s;
        return true;
    }
    if (book.dialect().livesInAFile() && SchemaUpgrade::version(book) < 5) {
        answer->verdict = Answer::Verdict::NoChain;
        answer->text = u"这个账本来自旧版本，没有记录链，无法验证收据"_s;
        return true;
    }
    return Verifier(book, *code, *answer).run(error);
}

QString ReceiptProof::newestRecordStatement()
{
    return u"select c.hash, h.detail from tb_history h join tb_chain c on c.historyId = h.id "
           u"where h.receiptId = $1 order by c.link desc limit 1"_s;
}

QString ReceiptProof::linkToPrint(const Receipt &receipt, QByteArrayView link,
                                  QByteArrayView detail)
{
    static const QRegularExpression hex(u"^[0-9a-f]{64}$"_s);
    const QString linkText = QString::fromLatin1(link);
    if (!hex.match(linkText).hasMatch() || receipt.unreadableTotal)
        return {};
    const QJsonObject recorded = QJsonDocument::fromJson(detail.toByteArray()).object();
    if (recorded.isEmpty()
        || !BookProof::differences(recorded, ReceiptHistory::toJson(receipt)).isEmpty())
        return {};
    return linkText;
}
