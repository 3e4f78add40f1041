// SPDX-License-Identifier: GPL-3.0-or-later
#include "daydialogs.h"

#include "bookproof.h"
#include "clock.h"
#include "datepicker.h"
#include "dayreport.h"
#include "dayreportpages.h"
#include "filedialogs.h"
#include "messagebox.h"
#include "money.h"
#include "receiptbook.h"

#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QString summaryOf(const DayReport &report)
{
    return u"%1：%2 张收据，合计 %3（作废 %4 张）"_s.arg(report.day.toString(u"yyyy-MM-dd"_s))
        .arg(report.receipts.size())
        .arg(u"¥"_s + Money::format(report.total.fen))
        .arg(report.voided);
}

// The two windows' top: a day to pick, its label with the mnemonic, and the line that says
// what the day holds, in the dialog's layout.
struct DayField
{
    QVBoxLayout *layout;
    QDateEdit *picker;
    QLabel *said;
};

DayField dayField(QDialog &dialog, const QString &name, const QString &label)
{
    auto *layout = new QVBoxLayout(&dialog);
    QDateEdit *picker = createDatePicker(name + u"Date"_s, label, &dialog, Clock::now().date());
    auto *form = new QFormLayout;
    form->addRow(label + u"(&D)"_s, picker);
    layout->addLayout(form);
    auto *said = new QLabel(&dialog);
    said->setObjectName(name + u"Summary"_s);
    said->setWordWrap(true);
    layout->addWidget(said);
    return {layout, picker, said};
}

} // namespace

void DayDialogs::closeDay(QWidget *parent)
{
    ReceiptBook &book = ReceiptBook::shared();
    QString error;
    const std::optional<QList<DayClosing>> closings = book.closings(&error);
    if (!closings) {
        MessageBox::warning(parent, u"日结"_s, u"无法读取日结：%1"_s.arg(error));
        return;
    }
    QDialog dialog(parent);
    dialog.setObjectName(u"closeDayDialog"_s);
    dialog.setWindowTitle(u"日结"_s);
    const auto [layout, picker, said] = dayField(dialog, u"closeDay"_s, u"日结到"_s);
    picker->setMaximumDate(Clock::now().date());
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    QPushButton *close = buttons->addButton(u"日结(&C)"_s, QDialogButtonBox::AcceptRole);
    close->setObjectName(u"closeDayButton"_s);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    const QDate closedTo = closings->isEmpty() ? QDate() : closings->constLast().closedTo;
    const auto describe = [&] {
        const QDate day = picker->date();
        QString text = closedTo.isValid() ? u"账本已日结到 %1。"_s.arg(closedTo.toString(u"yyyy-MM-dd"_s))
                                          : u"账本还没有日结过。"_s;
        if (closedTo.isValid() && day <= closedTo) {
            close->setEnabled(false);
            said->setText(text + u"这一天已经日结。"_s);
            return;
        }
        close->setEnabled(true);
        DayReport report;
        QString problem;
        if (DayReport::read(book, day, &report, &problem))
            text += u"\n"_s + summaryOf(report);
        said->setText(text
                      + u"\n\n日结后，%1 及以前的收据不能再修改、删除或补开，只能作废；"
                        u"日结不能撤销。"_s.arg(day.toString(u"yyyy-MM-dd"_s)));
    };
    QObject::connect(picker, &QDateEdit::dateChanged, &dialog, describe);
    describe();
    if (dialog.exec() != QDialog::Accepted)
        return;
    DayClosing closing;
    if (!book.closeDays(picker->date(), &closing, &error)) {
        MessageBox::warning(parent, u"日结"_s, u"日结失败：%1"_s.arg(error));
        return;
    }
    MessageBox::information(parent, u"日结"_s,
                            u"已日结到 %1。链尾 %2：记在收款日报上，日后可用“校验账本”核对。"_s.arg(
                                closing.closedTo.toString(u"yyyy-MM-dd"_s),
                                BookProof::shortHead(closing.head)));
}

void DayDialogs::dayReport(QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setObjectName(u"dayReportDialog"_s);
    dialog.setWindowTitle(u"收款日报"_s);
    const auto [layout, picker, said] = dayField(dialog, u"dayReport"_s, u"日期"_s);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QPushButton *previewButton = buttons->addButton(u"预览(&V)…"_s, QDialogButtonBox::ActionRole);
    QPushButton *printButton = buttons->addButton(u"打印(&P)…"_s, QDialogButtonBox::ActionRole);
    QPushButton *pdfButton = buttons->addButton(u"保存为 PDF(&S)…"_s, QDialogButtonBox::ActionRole);
    pdfButton->setObjectName(u"dayReportPdfButton"_s);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    // The report as the book holds the day now, read each time it is asked for.
    const auto read = [&]() -> std::optional<DayReport> {
        DayReport report;
        QString error;
        if (!DayReport::read(ReceiptBook::shared(), picker->date(), &report, &error)) {
            MessageBox::warning(&dialog, u"收款日报"_s, u"无法读取收据：%1"_s.arg(error));
            return std::nullopt;
        }
        return report;
    };
    const auto describe = [&] {
        if (const std::optional<DayReport> report = read())
            said->setText(summaryOf(*report)
                          + (report->closing ? u"，已日结"_s : u"，尚未日结"_s));
    };
    QObject::connect(picker, &QDateEdit::dateChanged, &dialog, describe);
    describe();
    const auto printOn = [&dialog](const DayReportPages &pages, QPrinter &printer) {
        if (!pages.print(printer))
            MessageBox::warning(&dialog, u"收款日报"_s, u"打印机没有接收打印任务"_s);
    };
    QObject::connect(previewButton, &QPushButton::clicked, &dialog, [&] {
        const std::optional<DayReport> report = read();
        if (!report)
            return;
        const DayReportPages pages(*report);
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        QPrintPreviewDialog preview(&printer, &dialog);
        preview.setWindowTitle(u"收款日报预览"_s);
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &dialog,
                         [&](QPrinter *target) { printOn(pages, *target); });
        preview.exec();
    });
    QObject::connect(printButton, &QPushButton::clicked, &dialog, [&] {
        const std::optional<DayReport> report = read();
        if (!report)
            return;
        const DayReportPages pages(*report);
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        QPrintDialog ask(&printer, &dialog);
        ask.setWindowTitle(u"打印收款日报"_s);
        if (ask.exec() == QDialog::Accepted)
            printOn(pages, printer);
    });
    QObject::connect(pdfButton, &QPushButton::clicked, &dialog, [&] {
        const std::optional<DayReport> report = read();
        if (!report)
            return;
        const QString suggested = QDir(QStandardPaths::writableLocation(
                                           QStandardPaths::DocumentsLocation))
                                      .filePath(u"收款日报 %1.pdf"_s.arg(
                                          report->day.toString(u"yyyy-MM-dd"_s)));
        const QString path = FileDialogs::saveFileName(&dialog, u"保存收款日报"_s, suggested,
                                                       u"PDF 文件 (*.pdf)"_s);
        if (path.isEmpty())
            return;
        QString error;
        if (DayReportPages(*report).writePdf(path, &error))
            MessageBox::information(&dialog, u"收款日报"_s,
                                    u"已保存：%1"_s.arg(QDir::toNativeSeparators(path)));
        else
            MessageBox::warning(&dialog, u"收款日报"_s, error);
    });
    dialog.exec();
}
