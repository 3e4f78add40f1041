// SPDX-License-Identifier: GPL-3.0-or-later
#include "statisticsview.h"

#include "appstore.h"
#include "clock.h"
#include "datepicker.h"
#include "daterange.h"
#include "datetext.h"
#include "filedialogs.h"
#include "messagebox.h"
#include "money.h"
#include "receiptexport.h"
#include "receiptstatistics.h"
#include "statisticschart.h"
#include "statisticsexport.h"
#include "toast.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Grouping = ReceiptStatistics::Grouping;

namespace {

// A cell that a header click sorts by its value (a month, a count, a sum in fen), not
// by the text shown: "¥1,000.00" goes after "¥200.00".
class Cell : public QTableWidgetItem
{
public:
    Cell(const QString &text, const QVariant &sortKey, Qt::Alignment alignment = Qt::AlignLeft)
        : QTableWidgetItem(text)
        , m_sortKey(sortKey)
    {
        setTextAlignment(alignment | Qt::AlignVCenter);
        setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }

    bool operator<(const QTableWidgetItem &other) const override
    {
        const QVariant otherKey = static_cast<const Cell &>(other).m_sortKey;
        if (m_sortKey.typeId() == QMetaType::QString)
            return QString::localeAwareCompare(m_sortKey.toString(), otherKey.toString()) < 0;
        return m_sortKey.toLongLong() < otherKey.toLongLong();
    }

private:
    QVariant m_sortKey;
};

} // namespace

StatisticsView::StatisticsView(QWidget *parent)
    : QWidget(parent)
    , m_beginDateEdit(createDatePicker(u"statisticsBeginDateEdit"_s, u"起始时间"_s, this))
    , m_endDateEdit(createDatePicker(u"statisticsEndDateEdit"_s, u"结束时间"_s, this))
    , m_groupingBox(new QComboBox(this))
    , m_table(new QTableWidget(this))
    , m_chart(new StatisticsChart(this))
    , m_errorLabel(new QLabel(this))
    , m_totalsLabel(new QLabel(this))
    , m_exportButton(new QPushButton(u"导出…"_s, this))
    , m_successToast(new Toast(Toast::Kind::Success, 3s, this))
    , m_errorToast(new Toast(Toast::Kind::Error, 4s, this))
{
    setObjectName(u"statisticsView"_s);
    m_groupingBox->setObjectName(u"groupingBox"_s);
    m_groupingBox->setAccessibleName(u"分组方式"_s);
    m_groupingBox->addItem(u"按月份"_s, int(Grouping::Month));
    m_groupingBox->addItem(u"按交款单位"_s, int(Grouping::Payer));
    m_groupingBox->addItem(u"按收款事由"_s, int(Grouping::Reason));
    m_groupingBox->addItem(u"按收款方式"_s, int(Grouping::Paytype));

    m_table->setObjectName(u"statisticsTable"_s);
    m_table->setAccessibleName(u"收据统计"_s);
    m_table->setColumnCount(3);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(false);
    // Tab goes on to 导出… rather than through every cell.
    m_table->setTabKeyNavigation(false);

    m_errorLabel->setObjectName(u"statisticsErrorLabel"_s);
    m_errorLabel->setStyleSheet(u"QLabel { color: #b3261e; }"_s);
    m_errorLabel->setVisible(false);
    m_totalsLabel->setObjectName(u"statisticsTotalsLabel"_s);
    m_totalsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_exportButton->setObjectName(u"statisticsExportButton"_s);
    m_exportButton->setAccessibleName(u"导出"_s);
    m_exportButton->setToolTip(u"把统计表保存为 Excel 或 CSV 文件"_s);
    m_successToast->setObjectName(u"statisticsExportSuccessToast"_s);
    m_errorToast->setObjectName(u"statisticsExportErrorToast"_s);

    auto *bar = new QHBoxLayout;
    bar->addStretch();
    auto *beginLabel = new QLabel(u"起始时间"_s, this);
    beginLabel->setBuddy(m_beginDateEdit);
    bar->addWidget(beginLabel);
    bar->addWidget(m_beginDateEdit);
    bar->addSpacing(20);
    auto *endLabel = new QLabel(u"结束时间"_s, this);
    endLabel->setBuddy(m_endDateEdit);
    bar->addWidget(endLabel);
    bar->addWidget(m_endDateEdit);
    bar->addSpacing(12);
    const struct
    {
        const char16_t *title;
        const char16_t *name;
        Preset preset;
    } presets[] = {
        {u"本月", u"monthPresetButton", Preset::Month},
        {u"今年", u"yearPresetButton", Preset::Year},
        {u"全部", u"allPresetButton", Preset::All},
    };
    for (const auto &preset : presets) {
        auto *button = new QPushButton(QString::fromUtf16(preset.title), this);
        button->setObjectName(QString::fromUtf16(preset.name));
        connect(button, &QPushButton::clicked, this,
                [this, which = preset.preset] { applyPreset(which); });
        bar->addWidget(button);
    }
    bar->addSpacing(12);
    bar->addWidget(m_groupingBox);
    bar->addStretch();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(11, 21, 11, 11);
    column->setSpacing(11);
    column->addLayout(bar);
    column->addWidget(m_errorLabel);
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_table);
    splitter->addWidget(m_chart);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    m_chart->setMinimumWidth(280);
    column->addWidget(splitter, 1);
    auto *footer = new QHBoxLayout;
    footer->addWidget(m_totalsLabel, 1);
    footer->addWidget(m_exportButton);
    column->addLayout(footer);

    connect(m_beginDateEdit, &QDateEdit::dateChanged, this, &StatisticsView::refresh);
    connect(m_endDateEdit, &QDateEdit::dateChanged, this, &StatisticsView::refresh);
    connect(m_groupingBox, &QComboBox::currentIndexChanged, this, &StatisticsView::refresh);
    connect(m_exportButton, &QPushButton::clicked, this, &StatisticsView::exportShown);
}

void StatisticsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The first opening starts on this month; later ones keep the user's range and
    // read the book again, which may have changed meanwhile.
    if (!m_rangeSet) {
        m_rangeSet = true;
        applyPreset(Preset::Month);
    } else {
        refresh();
    }
}

void StatisticsView::applyPreset(Preset preset)
{
    const NavigationItem item = preset == Preset::Month ? NavigationItem::stat_month
        : preset == Preset::Year                        ? NavigationItem::stat_year
                                                        : NavigationItem::stat_all;
    const DateRange range = rangePreset(item, Clock::now());
    {
        const QSignalBlocker beginBlocker(m_beginDateEdit);
        const QSignalBlocker endBlocker(m_endDateEdit);
        // 全部 begins on the first receipt's day, not on 1970-01-01.
        m_beginDateEdit->setDate(AppStore::shownBeginDay(range.begin, range.end));
        m_endDateEdit->setDate(parseDateText(range.end, DateText::dateTime).date());
    }
    refresh();
}

void StatisticsView::refresh()
{
    const auto grouping = Grouping(m_groupingBox->currentData().toInt());
    const QString begin
        = formatDateText(QDateTime(m_beginDateEdit->date(), QTime(0, 0)), DateText::dateTime);
    const QString end
        = formatDateText(QDateTime(m_endDateEdit->date(), QTime(23, 59, 59)), DateText::dateTime);
    const std::optional<QList<ReceiptStatistics::Row>> rows
        = ReceiptStatistics::compute(begin, end, grouping);
    m_errorLabel->setVisible(!rows);
    m_errorLabel->setText(u"读取收据失败，无法统计"_s);
    m_rows = rows.value_or(QList<ReceiptStatistics::Row>());
    m_exportButton->setEnabled(rows.has_value());

    // Months run in calendar order, as the bars do; the other groups largest first. A
    // header click sorts the table itself; a new grouping starts from its own order.
    if (grouping == Grouping::Month) {
        std::sort(m_rows.begin(), m_rows.end(),
                  [](const auto &a, const auto &b) { return a.key < b.key; });
    }
    if (grouping != m_shownGrouping) {
        m_shownGrouping = grouping;
        m_table->horizontalHeader()->setSortIndicator(
            grouping == Grouping::Month ? 0 : 2,
            grouping == Grouping::Month ? Qt::AscendingOrder : Qt::DescendingOrder);
    }
    // Filled unsorted: with sorting on, each row would move away as its cells came in.
    m_table->setSortingEnabled(false);
    m_table->setHorizontalHeaderLabels({groupTitle(), u"张数"_s, u"合计"_s});
    m_table->setRowCount(int(m_rows.size()));
    qint64 count = 0;
    qint64 fen = 0;
    qint64 unreadable = 0;
    for (int row = 0; row < m_rows.size(); ++row) {
        const ReceiptStatistics::Row &group = m_rows.at(row);
        // A name of megabytes (typed or pasted into 交款单位) is shown cut short, with its
        // beginning as the tooltip; measuring it whole would stall the screen.
        const QString name = StatisticsExport::groupName(group);
        auto *nameCell = new Cell(name.size() > 80 ? name.left(79) + u'…' : name, group.key);
        if (name.size() > 80)
            nameCell->setToolTip(name.left(1000));
        m_table->setItem(row, 0, nameCell);
        m_table->setItem(row, 1,
                         new Cell(Money::groupedDigits(group.count), group.count, Qt::AlignRight));
        auto *total = new Cell(u"¥"_s + Money::format(group.fen), group.fen, Qt::AlignRight);
        if (group.unreadable > 0)
            total->setToolTip(u"其中 %1 张金额无法识别，未计入合计"_s.arg(
                Money::groupedDigits(group.unreadable)));
        m_table->setItem(row, 2, total);
        count += group.count;
        fen += group.fen;
        unreadable += group.unreadable;
    }
    m_table->setSortingEnabled(true);
    m_table->resizeColumnsToContents();
    // Wide enough for a long payer and a large sum, but never so wide that the bars go.
    const int minimumWidths[] = {200, 70, 140};
    const int maximumWidths[] = {360, 120, 240};
    for (int col = 0; col < 3; ++col)
        m_table->setColumnWidth(col, std::clamp(m_table->columnWidth(col), minimumWidths[col],
                                                maximumWidths[col]));
    m_table->setMinimumWidth(m_table->horizontalHeader()->length() + m_table->frameWidth() * 2
                             + 20);
    m_chart->show(m_rows, grouping);

    QString totals;
    if (rows) {
        totals = u"共 %1 组  %2 张  合计 ¥%3"_s.arg(
            Money::groupedDigits(m_rows.size()), Money::groupedDigits(count), Money::format(fen));
        if (unreadable > 0)
            totals
                += u"  其中 %1 张金额无法识别，未计入合计"_s.arg(Money::groupedDigits(unreadable));
        // Counted apart, as the lists do: the groups count only what they add up.
        const std::optional<qint64> voided = ReceiptStatistics::voidedCount(begin, end);
        if (!voided)
            totals += u"  （作废的收据不计入）"_s;
        else if (*voided > 0)
            totals += u"  另有作废 %1 张，不计入合计"_s.arg(Money::groupedDigits(*voided));
    }
    m_totalsLabel->setText(totals);
}

QString StatisticsView::groupTitle() const
{
    return m_groupingBox->currentText().mid(1); // "按月份" → "月份"
}

void StatisticsView::exportShown()
{
    const QString range = m_beginDateEdit->date().toString(u"yyyyMMdd"_s) + u'-'
        + m_endDateEdit->date().toString(u"yyyyMMdd"_s);
    const QString target = FileDialogs::exportFileName(
        window(), u"导出统计"_s, u"收据统计-%1-%2.xlsx"_s.arg(groupTitle(), range));
    if (target.isEmpty())
        return;
    QString error;
    QStringList cutCells;
    if (!StatisticsExport::write(target, groupTitle(), m_rows, &error, &cutCells)) {
        m_errorToast->show(u"导出失败：%1"_s.arg(error));
        return;
    }
    m_successToast->show(u"已导出 %1 组统计"_s.arg(Money::groupedDigits(m_rows.size())));
    if (!cutCells.isEmpty())
        MessageBox::warning(window(), u"导出的文字不完整"_s,
                            ReceiptExport::cutCellsNotice(cutCells));
}
