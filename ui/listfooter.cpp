// SPDX-License-Identifier: GPL-3.0-or-later
#include "listfooter.h"

#include "appstore.h"
#include "filedialogs.h"
#include "messagebox.h"
#include "money.h"
#include "receiptexport.h"
#include "receiptfilter.h"
#include "receiptpart.h"
#include "toast.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QString yuan(qint64 fen)
{
    return u"¥"_s + Money::format(fen);
}

// "20240501" of the range text "2024-05-01 00:00:00".
QString dayOf(const QString &dateText)
{
    return dateText.left(10).remove(u'-');
}

} // namespace

ListFooter::ListFooter(ReceiptPart *receiptPart, QWidget *parent)
    : QWidget(parent)
    , m_store(AppStore::shared())
    , m_receiptPart(receiptPart)
    , m_totalsLabel(new QLabel(this))
    , m_exportButton(new QPushButton(u"导出…"_s, this))
    , m_successToast(new Toast(Toast::Kind::Success, 3s, parent))
    , m_errorToast(new Toast(Toast::Kind::Error, 4s, parent))
{
    m_successToast->setObjectName(u"exportSuccessToast"_s);
    m_errorToast->setObjectName(u"exportErrorToast"_s);
    m_totalsLabel->setObjectName(u"totalsLabel"_s);
    m_totalsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_exportButton->setObjectName(u"exportButton"_s);
    m_exportButton->setAccessibleName(u"导出"_s);
    m_exportButton->setToolTip(u"把列表中显示的收据保存为 Excel 或 CSV 文件"_s);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_totalsLabel, 1);
    row->addWidget(m_exportButton);

    connect(m_exportButton, &QPushButton::clicked, this, &ListFooter::exportShown);
    connect(m_receiptPart, &ReceiptPart::shownRowsChanged, this, &ListFooter::updateTotals);
    // Every list shares the store's selection; only the one on screen needs to count it.
    const auto updateShown = [this] {
        if (isVisible())
            updateTotals();
    };
    connect(&m_store, &AppStore::selectionChanged, this, updateShown);
    connect(&m_store, &AppStore::selectedIdChanged, this, updateShown);
    updateTotals();
}

void ListFooter::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTotals();
}

QString ListFooter::totalsText() const
{
    return m_totalsLabel->text();
}

void ListFooter::updateTotals()
{
    const QList<Receipt> &receipts = m_store.receipts();
    const ReceiptTotals shown = ReceiptTotals::of(receipts, m_receiptPart->shownRows());
    QString text = u"共 %1 张  合计 %2"_s.arg(shown.count).arg(yuan(shown.fen));
    if (shown.voided > 0)
        text += u"  另有作废 %1 张，不计入合计"_s.arg(shown.voided);
    if (shown.unreadable > 0)
        text += u"  其中 %1 张金额无法识别，未计入合计"_s.arg(shown.unreadable);
    // One selected row is the row being worked on, not a choice of rows to add up.
    // Only rows shown as selected count: a selection left from before an edit or a
    // blanked form is no longer highlighted, nor acted on.
    const QList<int> selectedRows
        = m_store.selectedId() ? m_receiptPart->selectedShownRows() : QList<int>();
    if (selectedRows.size() >= 2) {
        // Counted as the sum is: the voided rows of the selection are named apart.
        const ReceiptTotals selected = ReceiptTotals::of(receipts, selectedRows);
        text += u"    已选 %1 张  合计 %2"_s.arg(selected.count).arg(yuan(selected.fen));
        if (selected.voided > 0)
            text += u"  另有作废 %1 张"_s.arg(selected.voided);
    }
    m_totalsLabel->setText(text);
}

void ListFooter::exportShown()
{
    const QList<int> rows = m_receiptPart->shownRows();
    const QString target = FileDialogs::exportFileName(
        window(), u"导出列表"_s,
        u"收据-%1-%2.xlsx"_s.arg(dayOf(m_store.beginDate()), dayOf(m_store.endDate())));
    if (target.isEmpty())
        return;
    ReceiptTotals written;
    QString error;
    QStringList cutCells;
    if (ReceiptExport::write(target, m_store.receipts(), rows, &written, &error, &cutCells)) {
        // The file lists the voided rows too, but the sum leaves them out: so does the count.
        QString text = u"已导出 %1 张收据，合计 %2"_s.arg(written.count).arg(yuan(written.fen));
        if (written.voided > 0)
            text += u"，另有作废 %1 张"_s.arg(written.voided);
        if (written.unreadable > 0)
            text += u"，其中 %1 张金额无法识别，未计入合计"_s.arg(written.unreadable);
        m_successToast->show(text);
        // Told in a message that stays: the file lacks part of what the book holds.
        if (!cutCells.isEmpty())
            MessageBox::warning(window(), u"导出的文字不完整"_s,
                                ReceiptExport::cutCellsNotice(cutCells));
    } else {
        m_errorToast->show(u"导出失败：%1"_s.arg(error));
    }
}
