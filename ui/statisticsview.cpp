// SPDX-License-Identifier: GPL-3.0-or-later
#include "statisticsview.h"

#include "clock.h"
#include "daterange.h"
#include "datetext.h"
#include "money.h"
#include "receiptstatistics.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;
using Grouping = ReceiptStatistics::Grouping;

namespace {

QDateEdit *createDatePicker(const QString &name, const QString &label, QWidget *parent)
{
    auto *picker = new QDateEdit(parent);
    picker->setObjectName(name);
    picker->setAccessibleName(label);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(u"yyyy-MM-dd"_s);
    picker->setFixedWidth(140);
    return picker;
}

QTableWidgetItem *cell(const QString &text, Qt::Alignment alignment = Qt::AlignLeft)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

StatisticsView::StatisticsView(QWidget *parent)
    : QWidget(parent)
    , m_beginDateEdit(createDatePicker(u"statisticsBeginDateEdit"_s, u"起始时间"_s, this))
    , m_endDateEdit(createDatePicker(u"statisticsEndDateEdit"_s, u"结束时间"_s, this))
    , m_groupingBox(new QComboBox(this))
    , m_table(new QTableWidget(this))
    , m_errorLabel(new QLabel(this))
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

    m_errorLabel->setObjectName(u"statisticsErrorLabel"_s);
    m_errorLabel->setStyleSheet(u"QLabel { color: #b3261e; }"_s);
    m_errorLabel->setVisible(false);

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
    column->addWidget(m_table, 1);

    connect(m_beginDateEdit, &QDateEdit::dateChanged, this, &StatisticsView::refresh);
    connect(m_endDateEdit, &QDateEdit::dateChanged, this, &StatisticsView::refresh);
    connect(m_groupingBox, &QComboBox::currentIndexChanged, this, &StatisticsView::refresh);
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
        m_beginDateEdit->setDate(parseDateText(range.begin, DateText::dateTime).date());
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

    const QString keyTitle = m_groupingBox->currentText().mid(1); // "按月份" → "月份"
    m_table->setHorizontalHeaderLabels({keyTitle, u"张数"_s, u"合计"_s});
    m_table->setRowCount(0);
    if (!rows)
        return;
    m_table->setRowCount(int(rows->size()));
    for (int row = 0; row < rows->size(); ++row) {
        const ReceiptStatistics::Row &group = rows->at(row);
        m_table->setItem(row, 0, cell(group.key.isEmpty() ? u"（未填写）"_s : group.key));
        m_table->setItem(row, 1, cell(QString::number(group.count), Qt::AlignRight));
        QTableWidgetItem *total = cell(u"¥"_s + Money::format(group.fen), Qt::AlignRight);
        if (group.unreadable > 0)
            total->setToolTip(u"其中 %1 张金额无法识别，未计入合计"_s.arg(group.unreadable));
        m_table->setItem(row, 2, total);
    }
    m_table->resizeColumnsToContents();
    // Room for a long payer and a large sum even when the groups are short.
    const int minimumWidths[] = {240, 80, 160};
    for (int col = 0; col < 3; ++col)
        m_table->setColumnWidth(col, std::max(m_table->columnWidth(col), minimumWidths[col]));
}
