#include "appstore.h"

#include "amountincapitals.h"
#include "clock.h"
#include "database.h"
#include "daterange.h"
#include "datetext.h"
#include "preferences.h"
#include "receiptnostore.h"
#include "receiptrow.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

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
    m_receiptEdit.paytype = Preferences::value(u"paytype"_s);
    m_receiptEdit.payee = Preferences::value(u"payee"_s);
    m_receiptEdit.approve = Preferences::value(u"approve"_s);
    m_receiptEdit.accountant = Preferences::value(u"accountant"_s);
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
    setReceiptEdit(blank);
}

void AppStore::loadReceipts()
{
    const QString sql
        = u"select *\nfrom  tb_Receipt\nwhere isDeleted <> 1\nand   ReceiptDate between "_s
        + sqlQuote(m_beginDate) + u" and "_s + sqlQuote(m_endDate) + u"\norder by ReceiptNo desc"_s;
    setReceipts({});

    QList<Receipt> loaded;
    if (std::unique_ptr<ResultSet> resultSet = SQLiteHelper::shared().query(sql)) {
        const ReceiptRowMapper mapper(*resultSet, u"ReceiptNo"_s);
        while (resultSet->next()) {
            if (std::optional<Receipt> receipt = mapper.map())
                loaded.append(std::move(*receipt));
        }
    }
    setReceipts(loaded);
}

void AppStore::loadSelected(bool forEditing)
{
    if (!m_selectedId)
        return;
    const QString sql
        = u"select *\nfrom tb_receipt\nwhere id = "_s + sqlQuote(*m_selectedId) + u";"_s;
    std::unique_ptr<ResultSet> resultSet = SQLiteHelper::shared().query(sql);
    if (!resultSet)
        return;
    const ReceiptRowMapper mapper(*resultSet, u"receiptNo"_s);
    while (resultSet->next()) {
        const std::optional<Receipt> receipt = mapper.map();
        if (!receipt)
            continue;
        setReceiptPrint(receipt);
        if (forEditing)
            setReceiptEdit(*receipt);
    }
}

bool AppStore::insertReceipt()
{
    const Receipt &r = m_receiptEdit;
    const QStringList values = {
        r.id,
        r.receiptNo,
        formatDateText(r.receiptDate, DateText::dayStart),
        r.payer,
        r.reason1,
        r.reason2,
        r.remark,
        r.paytype,
        r.payee,
        r.approve,
        r.accountant,
        r.creator,
        formatDateText(Clock::now(), DateText::dateTime),
        amountText(r.total),
        r.totalBig,
        QString::number(r.isDeleted),
    };
    QString sql = u"insert into tb_receipt (\nId,\nreceiptNo ,\nreceiptDate ,\npayer ,\nreason1 ,\n"
                  u"reason2 ,\nremark ,\npaytype ,\npayee ,\napprove ,\naccountant ,\ncreator ,\n"
                  u"createDate ,\ntotal ,\ntotalBig,\nisDeleted\n)\nvalues (\n"_s;
    for (qsizetype i = 0; i < values.size(); ++i)
        sql += sqlQuote(values.at(i)) + (i + 1 < values.size() ? u",\n"_s : u"\n);"_s);

    if (!SQLiteHelper::shared().write(sql))
        return false;
    QList<Receipt> receipts = m_receipts;
    receipts.append(m_receiptEdit);
    setReceipts(receipts);
    return true;
}

bool AppStore::updateReceipt()
{
    if (!m_selectedId)
        return false;
    const Receipt &r = m_receiptEdit;
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
    if (!SQLiteHelper::shared().write(sql))
        return false;
    loadReceipts();
    return true;
}

void AppStore::deleteSelected()
{
    // Single-quoted: SQLite builds without double-quoted string literals read "A" as
    // a column name and refuse the statement.
    const QString sql
        = u"delete from tb_receipt\nwhere  id in ("_s + sqlQuoteList(m_selection) + u");"_s;
    if (SQLiteHelper::shared().write(sql))
        loadReceipts();
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
