// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"

#include "amountincapitals.h"
#include "clock.h"
#include "database.h"
#include "daterange.h"
#include "datetext.h"
#include "printsettings.h"
#include "receiptactions.h"
#include "receipthistory.h"
#include "receiptissue.h"
#include "receiptnostore.h"
#include "receiptrow.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

AppStore &AppStore::shared()
{
    return SharedInstance<AppStore>::get();
}

AppStore::AppStore()
{
    const QDateTime now = Clock::now();
    m_receiptEdit.receiptDate = now;
    m_receiptEdit.createDate = now;
    m_receiptEdit.totalBig = u"零"_s;
    const PrintSettings &settings = PrintSettings::shared();
    using Choice = PrintSettings::FormChoice;
    m_receiptEdit.paytype = settings.formChoice(Choice::Paytype);
    m_receiptEdit.payee = settings.formChoice(Choice::Payee);
    m_receiptEdit.approve = settings.formChoice(Choice::Approve);
    m_receiptEdit.accountant = settings.formChoice(Choice::Accountant);
}

// Every assignment notifies, also when the value is the same: the screens redraw from
// the store and rely on hearing about each assignment.
void AppStore::setSelectionNav(std::optional<NavigationItem> selectionNav)
{
    m_selectionNav = selectionNav;
    Q_EMIT selectionNavChanged();
}

void AppStore::setBeginDate(const QString &beginDate)
{
    m_beginDate = beginDate;
    Q_EMIT beginDateChanged();
}

void AppStore::setEndDate(const QString &endDate)
{
    m_endDate = endDate;
    Q_EMIT endDateChanged();
}

void AppStore::setReceipts(const QList<Receipt> &receipts)
{
    m_receipts = receipts;
    Q_EMIT receiptsChanged();
}

void AppStore::setSelectedId(const std::optional<QString> &selectedId)
{
    m_selectedId = selectedId;
    Q_EMIT selectedIdChanged();
}

void AppStore::setSelection(const QSet<QString> &selection)
{
    m_selection = selection;
    Q_EMIT selectionChanged();
}

void AppStore::setReceiptPrint(const std::optional<Receipt> &receiptPrint)
{
    m_receiptPrint = receiptPrint;
    Q_EMIT receiptPrintChanged();
}

void AppStore::setReceiptEdit(const Receipt &receiptEdit)
{
    m_receiptEdit = receiptEdit;
    Q_EMIT receiptEditChanged();
}

void AppStore::newReceipt()
{
    ReceiptNoStore::shared().nextReceiptNo();
    setSelectedId(std::nullopt);
    Receipt blank = m_receiptEdit;
    blank.id.clear();
    blank.payer.clear();
    blank.reason1.clear();
    blank.reason2.clear();
    blank.remark.clear();
    blank.total = 0;
    blank.unreadableTotal.reset();
    setReceiptEdit(blank);
}

void AppStore::loadReceipts()
{
    const QString sql
        = u"select *\nfrom  tb_Receipt\nwhere isDeleted <> 1\nand   ReceiptDate between "_s
        + sqlQuote(m_beginDate) + u" and "_s + sqlQuote(m_endDate) + u"\norder by ReceiptNo desc"_s;

    // A load that fails keeps the rows of the last good one and says so: an empty list
    // would tell the user that receipts which exist are not there.
    SQLiteHelper &helper = SQLiteHelper::shared();
    QString error;
    QList<Receipt> loaded;
    int skipped = 0;
    if (std::unique_ptr<ResultSet> resultSet = helper.query(sql)) {
        // Columns are looked up after the first step: a statement prepared before another
        // program changed the table is prepared again by that step, with other columns.
        std::optional<ReceiptRowMapper> mapper;
        while (resultSet->next()) {
            if (!mapper) {
                mapper.emplace(*resultSet, u"ReceiptNo"_s);
                if (!mapper->missingColumn().isEmpty()) {
                    error = u"数据库缺少列 %1"_s.arg(mapper->missingColumn());
                    break;
                }
            }
            if (std::optional<Receipt> receipt = mapper->map())
                loaded.append(std::move(*receipt));
            else
                ++skipped;
        }
        if (resultSet->hasError())
            error = helper.noteFailure(resultSet->errorCode(), resultSet->errorMessage());
    } else {
        error = helper.lastError();
    }
    if (!error.isEmpty()) {
        setLoadError(u"读取收据失败："_s + error);
        return;
    }
    const QHash<QString, QString> voided = ReceiptActions::voidReasons();
    if (!voided.isEmpty()) {
        for (Receipt &receipt : loaded) {
            const auto found = voided.constFind(receipt.id);
            if (found != voided.constEnd())
                receipt.voidReason = found.value();
        }
    }
    setLoadError({}, skipped);
    setReceipts(loaded);
}

void AppStore::setLoadError(const QString &error, int skippedRows)
{
    if (error == m_loadError && skippedRows == m_skippedRows)
        return;
    m_loadError = error;
    m_skippedRows = skippedRows;
    Q_EMIT loadErrorChanged();
}

QString AppStore::loadNotice() const
{
    if (!m_loadError.isEmpty())
        return m_loadError;
    if (m_skippedRows > 0)
        return u"有 %1 张收据无法读出（日期或单号无法识别），没有列出，也不计入合计"_s.arg(
            m_skippedRows);
    return {};
}

bool AppStore::loadSelected(bool forEditing)
{
    if (!m_selectedId)
        return false;
    const std::optional<Receipt> receipt = readReceipt(*m_selectedId);
    if (!receipt)
        return false;
    setReceiptPrint(receipt);
    if (forEditing)
        setReceiptEdit(*receipt);
    return true;
}

std::optional<Receipt> AppStore::readReceipt(const QString &id) const
{
    const QString sql = u"select *\nfrom tb_receipt\nwhere id = "_s + sqlQuote(id) + u";"_s;
    std::unique_ptr<ResultSet> resultSet = SQLiteHelper::shared().query(sql);
    if (!resultSet)
        return std::nullopt;
    std::optional<ReceiptRowMapper> mapper; // after the first step, as in loadReceipts()
    std::optional<Receipt> found;
    while (resultSet->next()) {
        if (!mapper)
            mapper.emplace(*resultSet, u"receiptNo"_s);
        if (!mapper->missingColumn().isEmpty())
            return std::nullopt;
        if (std::optional<Receipt> receipt = mapper->map())
            found = std::move(receipt);
    }
    if (resultSet->hasError())
        return std::nullopt;
    // A receipt whose void cannot be read is not read: printed, it could lack its stamp.
    if (found && !ReceiptActions::readVoidReason(id, &found->voidReason))
        return std::nullopt;
    return found;
}

bool AppStore::insertReceipt()
{
    if (m_receiptEdit.unreadableTotal) {
        m_saveError = u"金额无法识别，请重新输入金额"_s;
        return false;
    }
    const IssueResult result = issueReceipt(Receipt(m_receiptEdit));
    m_saveError = result.error;
    if (!result.saved)
        return false;
    const bool reassigned = result.receiptNo != m_receiptEdit.receiptNo;
    if (reassigned) {
        Receipt edit = m_receiptEdit;
        edit.receiptNo = result.receiptNo;
        setReceiptEdit(edit);
    }
    QList<Receipt> receipts = m_receipts;
    receipts.append(m_receiptEdit);
    setReceipts(receipts);
    Q_EMIT receiptSaved();
    if (reassigned)
        Q_EMIT receiptNoReassigned(result.receiptNo);
    return true;
}

bool AppStore::updateReceipt()
{
    if (!m_selectedId)
        return false;
    const Receipt &r = m_receiptEdit;
    // An amount that could not be read when the receipt was loaded is never written
    // back: the form asks for it to be typed again first.
    if (r.unreadableTotal) {
        m_saveError = u"金额无法识别，请重新输入金额"_s;
        return false;
    }
    const QString sql = u"update tb_Receipt\nset    receiptDate = "_s
        + sqlQuote(formatDateText(r.receiptDate, DateText::dayStart))
        + u",\n       payer       = "_s + sqlQuote(r.payer) + u",\n       reason1     = "_s
        + sqlQuote(r.reason1) + u",\n       reason2     = "_s + sqlQuote(r.reason2)
        + u",\n       remark      = "_s + sqlQuote(r.remark) + u",\n       paytype     = "_s
        + sqlQuote(r.paytype) + u",\n       payee       = "_s + sqlQuote(r.payee)
        + u",\n       approve     = "_s + sqlQuote(r.approve) + u",\n       accountant  = "_s
        + sqlQuote(r.accountant) + u",\n       total       = "_s + sqlQuote(amountText(r.total))
        + u",\n       totalBig    = "_s + sqlQuote(r.totalBig) + u"\nwhere  id          = "_s
        + sqlQuote(*m_selectedId) + u" ;"_s;

    // The update and its history row in one transaction: both or neither.
    SQLiteHelper &helper = SQLiteHelper::shared();
    const auto failed = [&](const QString &why) {
        m_saveError = why.isEmpty() ? u"保存失败：%1"_s.arg(helper.lastError()) : why;
        return false;
    };
    if (!helper.open())
        return failed({});
    Transaction transaction(helper.db());
    if (!transaction.begin()) {
        helper.noteFailure(transaction.errorCode(), transaction.errorMessage());
        return failed({});
    }
    const std::optional<Receipt> before = readReceipt(*m_selectedId);
    if (!before)
        return failed(u"保存失败：要保存的记录已不存在"_s);
    if (before->voidReason)
        return failed(u"已作废的收据不能修改"_s);
    if (!helper.write(sql, SQLiteHelper::Changes::AtLeastOne))
        return failed({});
    const std::optional<Receipt> after = readReceipt(*m_selectedId);
    if (!after)
        return failed({});
    const QJsonObject beforeJson = ReceiptHistory::toJson(*before);
    const QJsonObject afterJson = ReceiptHistory::toJson(*after);
    QJsonObject changes;
    for (auto it = afterJson.constBegin(); it != afterJson.constEnd(); ++it) {
        if (beforeJson.value(it.key()) != it.value())
            changes.insert(it.key(), QJsonArray({beforeJson.value(it.key()), it.value()}));
    }
    if (!ReceiptHistory::record(HistoryAction::Update, *after, {{u"changes"_s, changes}}))
        return failed({});
    if (!transaction.commit()) {
        helper.noteFailure(transaction.errorCode(), transaction.errorMessage());
        return failed({});
    }
    m_saveError.clear();
    loadReceipts();
    return true;
}

bool AppStore::deleteSelected(QString *error)
{
    // Single-quoted: SQLite builds without double-quoted string literals read "A" as
    // a column name and refuse the statement.
    const QString sql
        = u"delete from tb_receipt\nwhere  id in ("_s + sqlQuoteList(m_selection) + u");"_s;
    // Gone from the book, but not lost: the history keeps each deleted receipt whole, in
    // the same transaction as the delete. Any step that fails undoes the others and is
    // told: the rows stay, and the user must not think them gone.
    SQLiteHelper &helper = SQLiteHelper::shared();
    const auto failed = [&](const QString &reason) {
        if (error)
            *error = u"删除失败："_s + (reason.isEmpty() ? helper.lastError() : reason);
        return false;
    };
    if (!helper.open())
        return failed({});
    Transaction transaction(helper.db());
    if (!transaction.begin()) {
        helper.noteFailure(transaction.errorCode(), transaction.errorMessage());
        return failed({});
    }
    QList<Receipt> deleted;
    for (const QString &id : std::as_const(m_selection)) {
        if (std::optional<Receipt> receipt = readReceipt(id)) {
            deleted.append(std::move(*receipt));
            continue;
        }
        // Gone already (another program deleted it): nothing to keep. Stored but not
        // read: its history row could not be written, so nothing is deleted.
        const std::optional<qint64> stored
            = helper.count(u"select count(*) from tb_receipt where id = %1"_s.arg(sqlQuote(id)));
        if (stored != 0)
            return failed({});
    }
    if (!helper.write(sql))
        return failed({});
    for (const Receipt &receipt : std::as_const(deleted)) {
        // A voided receipt keeps its void in the history, to come back voided.
        const QJsonObject voided
            = receipt.voidReason ? ReceiptActions::voidDetail(receipt.id) : QJsonObject();
        if ((receipt.voidReason && voided.isEmpty())
            || !ReceiptHistory::record(HistoryAction::Delete, receipt, voided))
            return failed({});
    }
    if (!helper.write(
            u"delete from tb_void where receiptId in (%1);"_s.arg(sqlQuoteList(m_selection))))
        return failed({});
    if (!transaction.commit()) {
        helper.noteFailure(transaction.errorCode(), transaction.errorMessage());
        return failed({});
    }
    loadReceipts();
    return true;
}

void AppStore::applyRangePreset()
{
    const DateRange range = rangePreset(m_selectionNav, Clock::now());
    setBeginDate(range.begin);
    setEndDate(range.end);
}

void AppStore::setRangeBound(RangeBound bound, const QDateTime &dateTime)
{
    const QString text = formatDateText(dateTime, DateText::dateTime);
    if (bound == RangeBound::Begin)
        setBeginDate(text);
    else
        setEndDate(text);
    loadReceipts();
}
