// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"

#include "amountincapitals.h"
#include "clock.h"
#include "daterange.h"
#include "datetext.h"
#include "failure.h"
#include "printsettings.h"
#include "receiptbook.h"
#include "receiptnostore.h"
#include "seriesstore.h"
#include "recentvalues.h"
#include "recordid.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// A blank form's capitals, as the form writes them for any amount it is given: the same
// "零元整" at the first start as after a save.
QString zeroCapitals()
{
    return amountInCapitals(amountText(0));
}

} // namespace

AppStore &AppStore::shared()
{
    return SharedInstance<AppStore>::get();
}

AppStore::AppStore()
{
    // Every committed change reaches the held range in place, whoever made it here.
    connect(&ReceiptBook::shared(), &ReceiptBook::changed, this, &AppStore::applyChange);
    // A save must not overwrite what another desk wrote meanwhile.
    connect(&ReceiptBook::shared(), &ReceiptBook::changedElsewhere, this,
            [this](const BookChange &change) {
                const QString id = m_receiptEdit.id;
                // Another desk may have taken the number a new receipt shows.
                if (id.isEmpty()
                    && (change.kind == BookChange::Kind::Issued
                        || change.kind == BookChange::Kind::Restored))
                    moveShownNumberWhenTaken();
                if (id.isEmpty() || !change.ids.contains(id))
                    return;
                QString what;
                ReceiptBook::Refusal refusal = ReceiptBook::Refusal::None;
                switch (change.kind) {
                case BookChange::Kind::Updated:
                    what = u"修改"_s;
                    refusal = ReceiptBook::Refusal::Changed;
                    break;
                case BookChange::Kind::Voided:
                    what = u"作废"_s;
                    refusal = ReceiptBook::Refusal::Voided;
                    break;
                case BookChange::Kind::Removed:
                    what = u"删除"_s;
                    refusal = ReceiptBook::Refusal::Removed;
                    break;
                default:
                    return;
                }
                const QString message = u"该收据已在其他电脑上"_s + what;
                std::optional<Receipt> stored;
                if (refusal != ReceiptBook::Refusal::Removed)
                    ReceiptBook::shared().read(id, &stored);
                m_refusal = EditRefusal::of(
                    refusal, id, message, m_opened && m_opened->id == id ? m_opened : std::nullopt,
                    stored);
                Q_EMIT editChangedElsewhere(message);
            });
    const QDateTime now = Clock::now();
    m_receiptEdit.receiptDate = now;
    m_receiptEdit.createDate = now;
    m_receiptEdit.totalBig = zeroCapitals();
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
    m_keptTyping.reset();
    ReceiptNoStore &numbering = ReceiptNoStore::shared();
    if (!numbering.showCheckedNext())
        numbering.nextReceiptNo();
    setSelectedId(std::nullopt);
    Receipt blank = m_receiptEdit;
    blank.id.clear();
    blank.payer.clear();
    blank.reason1.clear();
    blank.reason2.clear();
    blank.remark.clear();
    blank.total = 0;
    blank.totalBig = zeroCapitals();
    blank.unreadableTotal.reset();
    setReceiptEdit(blank);
}

void AppStore::loadReceipts()
{
    // A load that fails keeps the rows of the last good one and says so: an empty list
    // would tell the user that receipts which exist are not there.
    ReceiptBook::RangeRead read;
    QString error;
    if (!ReceiptBook::shared().readRange(m_beginDate, m_endDate, &read, &error)) {
        setLoadError(error);
        return;
    }
    setLoadError({}, read.skipped);
    m_loaded = true;
    setReceipts(read.receipts);
}

void AppStore::applyChange(const BookChange &change)
{
    // The receipt open in the form, voided or deleted by this program itself (from a list):
    // its save compares with it as it is now, and tells what the book says of it.
    if (m_opened && !change.elsewhere && change.ids.contains(m_opened->id)) {
        if (change.kind == BookChange::Kind::Removed)
            m_opened.reset();
        else if (change.kind != BookChange::Kind::Updated) // the form's own save keeps it
            ReceiptBook::shared().read(m_opened->id, &m_opened);
    }
    // Nothing held (no range read yet): nothing to bring up to date.
    if (!m_loaded)
        return;
    std::optional<QList<Receipt>> fresh;
    if (change.kind != BookChange::Kind::Removed) {
        fresh = ReceiptBook::shared().readRows(change.rows);
        if (!fresh) {
            // Unknown how the rows look now: read the range again rather than show
            // them as they were.
            loadReceipts();
            return;
        }
    }
    bool touched = false;
    for (const QString &id : change.ids) {
        const auto held = std::find_if(m_receipts.begin(), m_receipts.end(),
                                       [&](const Receipt &receipt) { return receipt.id == id; });
        const qsizetype at = held == m_receipts.end() ? -1 : held - m_receipts.begin();
        const Receipt *now = nullptr;
        if (fresh) {
            for (const Receipt &receipt : std::as_const(*fresh)) {
                if (receipt.id == id)
                    now = &receipt;
            }
        }
        const bool belongs = now && now->isDeleted != 1
            && formatDateText(now->receiptDate, DateText::dateTime) >= m_beginDate
            && formatDateText(now->receiptDate, DateText::dateTime) <= m_endDate;
        if (at >= 0 && belongs) {
            m_receipts[at] = *now;
        } else if (at >= 0) {
            m_receipts.removeAt(at);
        } else if (belongs) {
            // Where the range's order (highest number first) puts it.
            const auto place
                = std::find_if(m_receipts.begin(), m_receipts.end(), [&](const Receipt &receipt) {
                      return receipt.receiptNo < now->receiptNo;
                  });
            m_receipts.insert(place - m_receipts.begin(), *now);
        } else {
            continue;
        }
        touched = true;
    }
    if (touched)
        Q_EMIT receiptsChanged();
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
    return loadNotice(m_loadError, m_skippedRows);
}

QString AppStore::loadNotice(const QString &error, int skippedRows)
{
    if (!error.isEmpty())
        return error;
    if (skippedRows > 0)
        return u"有 %1 张收据无法读出（日期或单号无法识别），没有列出，也不计入合计"_s.arg(
            skippedRows);
    return {};
}

bool AppStore::loadSelected(bool forEditing, QString *error)
{
    if (!m_selectedId)
        return fail(error, u"没有选中收据"_s);
    std::optional<Receipt> receipt;
    QString reason;
    if (!readReceipt(*m_selectedId, &receipt, &reason))
        return fail(error, u"读取收据失败：%1"_s.arg(reason));
    if (!receipt)
        return fail(error, u"这张收据已不在账本中（也许已在其他电脑上删除）"_s);
    setReceiptPrint(receipt);
    if (forEditing)
        editLoaded();
    return true;
}

void AppStore::editLoaded()
{
    if (!m_receiptPrint)
        return;
    // Opened again, it is read as the other desk left it.
    m_refusal.reset();
    m_keptTyping.reset();
    m_opened = m_receiptPrint;
    setReceiptEdit(*m_receiptPrint);
}

bool AppStore::readReceipt(const QString &id, std::optional<Receipt> *receipt,
                           QString *error) const
{
    return ReceiptBook::shared().read(id, receipt, error);
}

void AppStore::rememberTexts()
{
    if (SharedInstance<RecentValues>::exists())
        RecentValues::shared().remember(m_receiptEdit);
}

void AppStore::moveShownNumberWhenTaken()
{
    if (!SharedInstance<ReceiptNoStore>::exists())
        return;
    const QString shown = m_receiptEdit.receiptNo;
    bool taken = false;
    if (shown.isEmpty() || !ReceiptNoStore::isTaken(shown, shown.toLongLong(), &taken) || !taken)
        return;
    ReceiptNoStore::shared().nextReceiptNo();
    if (m_receiptEdit.receiptNo != shown)
        Q_EMIT shownNumberTaken(shown, m_receiptEdit.receiptNo);
}

bool AppStore::insertReceipt(QString *error)
{
    if (m_receiptEdit.unreadableTotal)
        return fail(error, u"金额无法识别，请重新输入金额"_s);
    // A receipt without an id is given one here, as it is stored.
    Receipt issued = m_receiptEdit;
    if (issued.id.isEmpty())
        issued.id = newRecordId();
    IssueResult result;
    m_saveNote.clear();
    // The form's series: the book's own numbering, or the one picked under 类别.
    const QString series = ReceiptSeriesStore::shared().current();
    if (!ReceiptBook::shared().issue(issued, &result, error, series))
        return false;
    m_saveNote = result.note;
    // The counter as the issue left it, so the next number starts past this one.
    if (SharedInstance<ReceiptNoStore>::exists() && !series.isEmpty() && !result.nextInSeries.isEmpty())
        ReceiptNoStore::shared().takeCheckedNext(result.nextInSeries);
    if (SharedInstance<ReceiptNoStore>::exists() && series.isEmpty()) {
        ReceiptNoStore &numbering = ReceiptNoStore::shared();
        // With paper books, the next number is the book's, which the numbering finds; the
        // save's next one is the book's too while it stays in the same book.
        const ReceiptSeriesStore &seriesStore = ReceiptSeriesStore::shared();
        const auto sameBook = [&] {
            const std::optional<PaperBook> was = seriesStore.openBookHolding({}, result.receiptNo.toLongLong());
            const std::optional<PaperBook> next
                = seriesStore.openBookHolding({}, result.nextChecked->currNum);
            return was && next && was->first == next->first;
        };
        if (result.nextChecked && (!seriesStore.hasBooks(series) || sameBook())) {
            numbering.takeCheckedNext(*result.nextChecked);
        } else if (result.counter > numbering.receiptNoSetting().currNum) {
            ReceiptNoSetting moved = numbering.receiptNoSetting();
            moved.currNum = result.counter;
            numbering.setReceiptNoSetting(moved);
        }
    }
    const bool reassigned = result.receiptNo != m_receiptEdit.receiptNo;
    if (reassigned || (!result.id.isEmpty() && result.id != m_receiptEdit.id)) {
        Receipt edit = m_receiptEdit;
        edit.receiptNo = result.receiptNo;
        if (!result.id.isEmpty())
            edit.id = result.id;
        setReceiptEdit(edit);
    }
    // The lists hear of the new row from the book and show it where it belongs; the
    // range held here is not read again for one receipt. Nor are the recent texts.
    rememberTexts();
    Q_EMIT receiptSaved();
    if (reassigned)
        Q_EMIT receiptNoReassigned(result.receiptNo);
    return true;
}

bool AppStore::updateReceipt(QString *error)
{
    if (!m_selectedId)
        return fail(error, u"没有选中收据"_s);
    // An amount that could not be read when the receipt was loaded is never written
    // back: the form asks for it to be typed again first.
    if (m_receiptEdit.unreadableTotal)
        return fail(error, u"金额无法识别，请重新输入金额"_s);
    if (m_refusal && m_refusal->receiptId == *m_selectedId)
        return fail(error, m_refusal->reason);
    // The save itself compares the stored receipt with the one opened: another desk's
    // change may be committed while its notice is still on the way.
    std::optional<Receipt> opened;
    if (m_opened && m_opened->id == *m_selectedId)
        opened = m_opened;
    ReceiptBook::Refusal refusal = ReceiptBook::Refusal::None;
    QString reason;
    if (!ReceiptBook::shared().update(*m_selectedId, m_receiptEdit, &reason,
                                      opened ? &*opened : nullptr, &refusal)) {
        if (refusal != ReceiptBook::Refusal::None) {
            std::optional<Receipt> stored;
            if (refusal != ReceiptBook::Refusal::Removed)
                ReceiptBook::shared().read(*m_selectedId, &stored);
            m_refusal = EditRefusal::of(refusal, *m_selectedId, reason, opened, stored);
        }
        return fail(error, reason);
    }
    if (opened)
        m_opened = opened;
    rememberTexts();
    return true;
}

std::optional<EditRefusal> AppStore::editRefusal() const
{
    if (!m_refusal || m_receiptEdit.id.isEmpty() || m_refusal->receiptId != m_receiptEdit.id)
        return std::nullopt;
    return m_refusal;
}

void AppStore::keepEditAsNew()
{
    m_refusal.reset();
    m_opened.reset();
    m_keptTyping.reset();
    setSelectedId(std::nullopt);
    Receipt edit = m_receiptEdit;
    edit.id.clear();
    edit.voidReason.reset();
    edit.isDeleted = 0;
    setReceiptEdit(edit);
    ReceiptNoStore::shared().nextReceiptNo();
}

bool AppStore::reopenRefused()
{
    const std::optional<EditRefusal> refusal = editRefusal();
    if (!refusal || !refusal->canReopen())
        return false;
    const Receipt typed = m_receiptEdit;
    setSelectedId(refusal->receiptId);
    if (!loadSelected(true))
        return false;
    m_keptTyping = typed;
    return true;
}

std::optional<Receipt> AppStore::keptTyping() const
{
    if (!m_keptTyping || m_keptTyping->id != m_receiptEdit.id)
        return std::nullopt;
    return m_keptTyping;
}

void AppStore::restoreTyping()
{
    const std::optional<Receipt> typed = keptTyping();
    if (!typed)
        return;
    m_keptTyping.reset();
    // The fields the form edits; the number, the creation and the void stay the stored
    // receipt's.
    Receipt edit = m_receiptEdit;
    edit.receiptDate = typed->receiptDate;
    edit.payer = typed->payer;
    edit.reason1 = typed->reason1;
    edit.reason2 = typed->reason2;
    edit.remark = typed->remark;
    edit.total = typed->total;
    edit.unreadableTotal = typed->unreadableTotal;
    edit.totalBig = typed->totalBig;
    edit.paytype = typed->paytype;
    edit.payee = typed->payee;
    edit.approve = typed->approve;
    edit.accountant = typed->accountant;
    setReceiptEdit(edit);
}

bool AppStore::deleteSelected(QString *error)
{
    return ReceiptBook::shared().remove(m_selection, error);
}

void AppStore::applyRangePreset()
{
    const DateRange range = rangePreset(m_selectionNav, Clock::now());
    setBeginDate(range.begin);
    setEndDate(range.end);
}

QDate AppStore::shownBeginDay(const QString &begin, const QString &end)
{
    if (begin != openRangeBegin)
        return parseDateText(begin, DateText::dateTime).date();
    return ReceiptBook::shared()
        .firstReceiptDay(begin, end)
        .value_or(Clock::now().toLocalTime().date());
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
