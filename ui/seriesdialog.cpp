// SPDX-License-Identifier: GPL-3.0-or-later
#include "seriesdialog.h"

#include "clock.h"
#include "messagebox.h"
#include "receiptbook.h"
#include "seriesstore.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

SeriesSection::SeriesSection(QWidget *parent)
    : QWidget(parent)
    , m_table(new QTableWidget(this))
    , m_addButton(new QPushButton(u"添加类别…"_s, this))
{
    setObjectName(u"SeriesSection"_s);
    m_table->setObjectName(u"seriesTable"_s);
    m_table->setAccessibleName(u"收据类别"_s);
    m_addButton->setObjectName(u"addSeriesButton"_s);
    m_table->setColumnCount(5);
    m_table->setHorizontalHeaderLabels({u"类别"_s, u"前缀"_s, u"单号长度"_s, u"每年从 1 开始"_s, u"下一张"_s});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setMaximumHeight(200);
    auto *title = new QLabel(u"收据类别：每个类别的单号分别编号；只有一个类别时，开单界面与以前一样"_s, this);
    title->setWordWrap(true);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_addButton);
    buttons->addStretch();
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(title);
    column->addWidget(m_table);
    column->addLayout(buttons);
    connect(m_addButton, &QPushButton::clicked, this, &SeriesSection::addSeries);
    connect(&ReceiptSeriesStore::shared(), &ReceiptSeriesStore::seriesChanged, this,
            &SeriesSection::showSeries);
    showSeries();
}

void SeriesSection::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showSeries();
}

void SeriesSection::showSeries()
{
    const QList<ReceiptSeries> &all = ReceiptSeriesStore::shared().series();
    m_table->setRowCount(int(all.size()));
    const QDate today = Clock::now().date();
    for (int row = 0; row < all.size(); ++row) {
        const ReceiptSeries &series = all.at(row);
        ReceiptBook::SeriesNext next;
        const QString nextText = ReceiptBook::shared().nextInSeries(series.name, today, &next)
            ? u"No."_s + next.number
            : u"—"_s;
        const QStringList cells = {series.name, series.isDefault() ? u"（无）"_s : series.prefix,
                                   QString::number(series.numLong),
                                   series.yearly ? u"是"_s : u"否"_s, nextText};
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    m_table->resizeColumnsToContents();
}

void SeriesSection::addSeries()
{
    QDialog dialog(this);
    dialog.setObjectName(u"addSeriesDialog"_s);
    dialog.setWindowTitle(u"添加收据类别"_s);
    auto *name = new QLineEdit(&dialog);
    name->setObjectName(u"seriesName"_s);
    name->setPlaceholderText(u"如：学费"_s);
    auto *prefix = new QLineEdit(&dialog);
    prefix->setObjectName(u"seriesPrefix"_s);
    prefix->setPlaceholderText(u"如：XF{yyyy}-（{yyyy} 为年份）"_s);
    auto *digits = new QSpinBox(&dialog);
    digits->setObjectName(u"seriesDigits"_s);
    digits->setRange(1, 12);
    digits->setValue(4);
    auto *yearly = new QCheckBox(u"每年从 1 开始"_s, &dialog);
    yearly->setObjectName(u"seriesYearly"_s);
    auto *preview = new QLabel(&dialog);
    preview->setObjectName(u"seriesPreview"_s);
    const auto showPreview = [&] {
        const ReceiptSeries series {name->text(), prefix->text(), digits->value(), yearly->isChecked()};
        QString why;
        preview->setText(SeriesNumber::check(series, ReceiptSeriesStore::shared().series(), &why)
                             ? u"第一张：No."_s + SeriesNumber::text(series, Clock::now().date().year(), 1)
                             : why);
    };
    for (QLineEdit *field : {name, prefix})
        connect(field, &QLineEdit::textChanged, &dialog, showPreview);
    connect(digits, &QSpinBox::valueChanged, &dialog, showPreview);
    connect(yearly, &QCheckBox::toggled, &dialog, showPreview);
    auto *form = new QFormLayout;
    form->addRow(u"名称"_s, name);
    form->addRow(u"前缀"_s, prefix);
    form->addRow(u"单号长度"_s, digits);
    form->addRow(QString(), yearly);
    form->addRow(u"预览"_s, preview);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(u"添加"_s);
    buttons->button(QDialogButtonBox::Cancel)->setText(u"取消"_s);
    auto *column = new QVBoxLayout(&dialog);
    column->addLayout(form);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        QString error;
        if (ReceiptSeriesStore::shared().add(
                {name->text(), prefix->text(), digits->value(), yearly->isChecked()}, &error))
            dialog.accept();
        else
            preview->setText(error);
    });
    showPreview();
    dialog.exec();
}
