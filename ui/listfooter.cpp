// SPDX-License-Identifier: GPL-3.0-or-later
#include "listfooter.h"

#include "appstore.h"
#include "filedialogs.h"
#include "messagebox.h"
#include "money.h"
#include "receiptexport.h"
#include "receiptfilter.h"
#include "receiptlist.h"
#include "receiptpart.h"
#include "receiptstream.h"
#include "toast.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <limits>
#include <memory>
#include <optional>

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

QString dayOf(QDate date)
{
    return date.toString(u"yyyyMMdd"_s);
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
    connect(&m_receiptPart->list(), &ReceiptList::totalsChanged, this, updateShown);
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
    const ReceiptList &list = m_receiptPart->list();
    if (!list.isComplete()) {
        // A large range is still being read: its first rows are shown, not yet counted.
        m_totalsLabel->setText(u"正在读取收据…"_s);
        return;
    }
    const ReceiptTotals &shown = list.totals();
    QString text
        = u"共 %1 张  合计 %2"_s.arg(Money::groupedDigits(shown.count)).arg(yuan(shown.fen));
    if (shown.voided > 0)
        text += u"  另有作废 %1 张，不计入合计"_s.arg(Money::groupedDigits(shown.voided));
    if (shown.unreadable > 0)
        text += u"  其中 %1 张金额无法识别，未计入合计"_s.arg(
            Money::groupedDigits(shown.unreadable));
    // One selected row is the row being worked on, not a choice of rows to add up.
    // Only rows shown as selected count: a selection left from before an edit or a
    // blanked form is no longer highlighted, nor acted on.
    const QList<int> selectedRows
        = m_store.selectedId() ? m_receiptPart->selectedShownRows() : QList<int>();
    if (selectedRows.size() >= 2) {
        // Counted as the sum is: the voided rows of the selection are named apart.
        const ReceiptTotals selected
            = list.totalsOf(QList<qsizetype>(selectedRows.cbegin(), selectedRows.cend()));
        text += u"    已选 %1 张  合计 %2"_s.arg(Money::groupedDigits(selected.count))
                    .arg(yuan(selected.fen));
        if (selected.voided > 0)
            text += u"  另有作废 %1 张"_s.arg(Money::groupedDigits(selected.voided));
    }
    m_totalsLabel->setText(text);
}

void ListFooter::exportShown()
{
    const ReceiptList &list = m_receiptPart->list();
    if (!list.isComplete()) {
        m_errorToast->show(u"列表还在读取，请稍候再导出"_s);
        return;
    }
    const qsizetype shownCount = list.size();
    const QString target = FileDialogs::exportFileName(
        window(), u"导出列表"_s,
        u"收据-%1-%2.xlsx"_s.arg(
            dayOf(AppStore::shownBeginDay(m_store.beginDate(), m_store.endDate())),
            dayOf(m_store.endDate())));
    if (target.isEmpty())
        return;

    // In the order of the book the rows are read again, one by one, with the list's range
    // and search. A list the user sorted is written in the order shown, its rows read from
    // the book a few hundred at a time: the book has no such order to read them in. The
    // file is written on a thread of its own (the book read on a connection of its own),
    // so the window paints and the export can be stopped, even while an Excel workbook is
    // being packed at the end.
    std::optional<ReceiptStream> stream;
    if (m_receiptPart->isSortedByUser())
        stream.emplace(list.shownRowids());
    else
        stream.emplace(m_store.beginDate(), m_store.endDate(),
                       ReceiptFilter(m_receiptPart->searchText()), ReceiptStream::Connection::Own);
    const ReceiptExport::Source source = [&](QString *error) {
        const Receipt *receipt = stream->next();
        if (!receipt)
            *error = stream->error();
        return receipt;
    };
    std::atomic<qint64> writtenSoFar = 0;
    std::atomic<bool> stop = false;
    const ReceiptExport::Progress told = [&](qint64 count) {
        writtenSoFar = count;
        return !stop;
    };
    ReceiptTotals written;
    QString error;
    QStringList cutCells;
    bool done = false;
    const std::unique_ptr<QThread> worker(QThread::create(
        [&] { done = ReceiptExport::write(target, source, &written, &error, &cutCells, told); }));
    worker->start();
    // A short export is over before anyone would see a dialog, and the window takes no
    // input meanwhile; a long one shows its progress, and the dialog keeps the window's
    // controls from acting while the file is written.
    if (!worker->wait(QDeadlineTimer(200))) {
        const int expected = int(std::min<qsizetype>(shownCount, std::numeric_limits<int>::max()));
        QProgressDialog progress(u"正在导出 %1 张收据…"_s.arg(Money::groupedDigits(shownCount)),
                                 u"取消"_s, 0, expected, window());
        progress.setObjectName(u"exportProgressDialog"_s);
        progress.setWindowTitle(u"导出列表"_s);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        progress.setAutoReset(false);
        progress.setAutoClose(false);
        // Asked on a timer rather than told by QThread::finished, which could come before
        // the loop runs.
        QEventLoop loop;
        QTimer tick;
        connect(&tick, &QTimer::timeout, &progress, [&] {
            if (progress.wasCanceled())
                stop = true;
            if (worker->isFinished())
                loop.quit();
            else
                progress.setValue(int(std::min<qint64>(writtenSoFar, std::max(expected - 1, 0))));
        });
        progress.show();
        tick.start(50);
        loop.exec();
        worker->wait();
    }
    const bool canceled = stop;
    if (done) {
        // The file lists the voided rows too, but the sum leaves them out: so does the count.
        QString text = u"已导出 %1 张收据，合计 %2"_s.arg(Money::groupedDigits(written.count))
                           .arg(yuan(written.fen));
        if (written.voided > 0)
            text += u"，另有作废 %1 张"_s.arg(Money::groupedDigits(written.voided));
        if (written.unreadable > 0)
            text += u"，其中 %1 张金额无法识别，未计入合计"_s.arg(
                Money::groupedDigits(written.unreadable));
        m_successToast->show(text);
        // Told in a message that stays: the file lacks part of what the book holds.
        if (!cutCells.isEmpty())
            MessageBox::warning(window(), u"导出的文字不完整"_s,
                                ReceiptExport::cutCellsNotice(cutCells));
    } else if (!canceled) {
        m_errorToast->show(u"导出失败：%1"_s.arg(error));
    }
}
