// SPDX-License-Identifier: GPL-3.0-or-later
#include "printdialogs.h"

#include "messagebox.h"
#include "money.h"
#include "printjob.h"
#include "printsettings.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QWidget *dialogParent(QWidget *parent)
{
    return parent ? parent : QApplication::activeWindow();
}

// The busy cursor and a small modal progress window while the pages are produced and
// handed to the print system. Producing is quick for one page, but handing a job to a
// slow queue is not.
class ProgressIndication
{
public:
    explicit ProgressIndication(QWidget *parent)
        : m_dialog(u"正在打印…"_s, QString(), 0, 0, parent)
    {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_dialog.setWindowTitle(u"打印"_s);
        m_dialog.setWindowModality(Qt::ApplicationModal);
        m_dialog.setMinimumDuration(0);
        m_dialog.show();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~ProgressIndication() { QGuiApplication::restoreOverrideCursor(); }

private:
    QProgressDialog m_dialog;
};

// The printer the dialog offers first: the one used last, or a file in the same folder
// as the last one.
void offerLastTarget(QPrinter &printer, const QString &documentName)
{
    const PrintSettings &settings = PrintSettings::shared();
    const QString lastPrinter = settings.lastPrinter();
    const QString lastFolder = settings.lastPrintFolder();
    if (!lastFolder.isEmpty() && lastPrinter.isEmpty() && QFileInfo(lastFolder).isDir())
        printer.setOutputFileName(QDir(lastFolder).filePath(documentName + u".pdf"_s));
    else if (!lastPrinter.isEmpty())
        printer.setPrinterName(lastPrinter);
}

QString dialogTitle(const PrintJob &job)
{
    if (job.kind() == PrintJob::Kind::AlignmentPage)
        return job.documentName();
    return job.pageCount() > 1 ? u"打印 %1 张收据"_s.arg(Money::groupedDigits(job.pageCount()))
                               : u"打印收据"_s;
}

// Asks for the printer; false when the user cancels. With no printer installed the
// dialog still offers "Print to File (PDF)".
bool askPrinter(QWidget *parent, QPrinter &printer, const PrintJob &job)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(dialogTitle(job));
    dialog.setOption(QAbstractPrintDialog::PrintToFile);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setMinMax(1, job.pageCount());
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

bool PrintDialogs::print(QWidget *parent, const PrintJob &job)
{
    if (job.pageCount() == 0)
        return false;
    parent = dialogParent(parent);
    QPrinter printer(QPrinter::HighResolution);
    // The paper before and after the target: the dialog shows the receipt paper for the
    // printer it offers, and a printer set by name comes with its own default paper.
    job.preparePrinter(printer);
    offerLastTarget(printer, job.documentName());
    job.preparePrinter(printer);
    if (!askPrinter(parent, printer, job))
        return false;
    // Choosing another printer, "Print to File" among them, resets the paper to that
    // printer's default; the job puts the receipt paper back, and fits the pages onto the
    // printer's own paper where it has none.
    PrintSettings::shared().setLastTarget(printer.printerName(), printer.outputFileName());
    QString error;
    QString notice;
    bool printed = false;
    {
        const ProgressIndication progress(parent);
        printed = job.print(printer, &error, &notice);
    }
    if (!printed)
        MessageBox::warning(parent, u"打印失败"_s, error);
    else if (!notice.isEmpty())
        MessageBox::information(parent, u"已按打印机的纸张打印"_s, notice);
    return printed;
}

bool PrintDialogs::preview(QWidget *parent, const PrintJob &job)
{
    if (job.pageCount() == 0)
        return false;
    // Only the paper matters to the preview: a PDF printer has every size, and no print
    // queue is asked about a page that is not going out.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    job.preparePrinter(printer);

    QDialog dialog(dialogParent(parent));
    dialog.setObjectName(u"printPreviewDialog"_s);
    dialog.setWindowTitle(u"打印预览 - "_s + job.documentName());
    auto *view = new QPrintPreviewWidget(&printer, &dialog);
    view->setObjectName(u"printPreviewWidget"_s);
    view->setAccessibleName(u"打印预览"_s);
    // The whole page in view, however wide the window: a receipt is much wider than high.
    view->setZoomMode(QPrintPreviewWidget::FitInView);
    QObject::connect(view, &QPrintPreviewWidget::paintRequested, &dialog, [&job](QPrinter *target) {
        QPainter painter(target);
        job.paintPages(painter, *target);
    });

    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *print = buttons->addButton(u"打印(&P)…"_s, QDialogButtonBox::AcceptRole);
    print->setObjectName(u"previewPrintButton"_s);
    print->setDefault(true);
    QPushButton *zoomIn = buttons->addButton(u"放大(&I)"_s, QDialogButtonBox::ActionRole);
    zoomIn->setShortcut(QKeySequence::ZoomIn);
    QPushButton *zoomOut = buttons->addButton(u"缩小(&O)"_s, QDialogButtonBox::ActionRole);
    zoomOut->setShortcut(QKeySequence::ZoomOut);
    buttons->addButton(u"关闭"_s, QDialogButtonBox::RejectRole);
    QObject::connect(zoomIn, &QPushButton::clicked, view, [view] { view->zoomIn(); });
    QObject::connect(zoomOut, &QPushButton::clicked, view, [view] { view->zoomOut(); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(view, 1);
    layout->addWidget(buttons);
    dialog.resize(960, 480);
    return dialog.exec() == QDialog::Accepted;
}
