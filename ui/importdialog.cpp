// SPDX-License-Identifier: GPL-3.0-or-later
#include "importdialog.h"

#include "money.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
// Pixels: about as wide as the table of problems the dialog may show under it.
constexpr int longestPath = 640;
} // namespace

ImportDialog::ImportDialog(const QString &file, const BookImport::Result &checked,
                           const QStringList &notes, QWidget *parent)
    : QDialog(parent)
    , m_importable(checked.ok)
{
    setWindowTitle(u"导入收据"_s);
    setObjectName(u"importDialog"_s);
    auto *layout = new QVBoxLayout(this);
    // The file on a line of its own, never broken: a path wrapped with the sentence after
    // it no longer reads as one name. One too long for the dialog loses its middle (the
    // folder nearest the root and the name stay), and shows whole as the tooltip.
    const QString name = QDir::toNativeSeparators(file);
    auto *fileLabel = new QLabel(this);
    fileLabel->setObjectName(u"importFileLabel"_s);
    fileLabel->setText(fileLabel->fontMetrics().elidedText(name, Qt::ElideMiddle, longestPath));
    fileLabel->setToolTip(name);
    fileLabel->setTextFormat(Qt::PlainText);
    fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(fileLabel);

    QString summary;
    if (checked.ok) {
        summary = u"检查无误：%1 张收据，合计 ¥%2"_s.arg(Money::groupedDigits(checked.count),
                                                         Money::format(checked.fen));
        if (checked.voided > 0)
            summary
                += u"（其中作废 %1 张，不计入合计）"_s.arg(Money::groupedDigits(checked.voided));
        summary += u"。"_s;
        if (!checked.renumbered.isEmpty())
            summary += u"\n%1 张收据的单号已被占用，将改用下表中的新单号。"_s.arg(
                Money::groupedDigits(checked.renumbered.size()));
    } else {
        summary = u"文件中有 %1 处问题，没有导入任何收据。请改正文件后再导入："_s.arg(
            Money::groupedDigits(checked.problemCount));
    }
    if (!notes.isEmpty())
        summary += u'\n' + notes.join(u'\n');
    auto *label = new QLabel(summary, this);
    label->setObjectName(u"importSummaryLabel"_s);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);

    const bool problems = !checked.ok;
    const qsizetype rows = problems ? checked.problems.size() : checked.renumbered.size();
    if (rows > 0) {
        auto *table = new QTableWidget(int(rows), 2, this);
        table->setObjectName(problems ? u"importProblemTable"_s : u"importRenumberTable"_s);
        table->setAccessibleName(problems ? u"导入问题"_s : u"改用的新单号"_s);
        table->setHorizontalHeaderLabels(problems ? QStringList {u"行"_s, u"问题"_s}
                                                  : QStringList {u"原单号"_s, u"新单号"_s});
        table->verticalHeader()->hide();
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->horizontalHeader()->setStretchLastSection(true);
        for (int row = 0; row < rows; ++row) {
            QString first, second;
            if (problems) {
                const BookImport::Problem &problem = checked.problems.at(row);
                first = problem.row > 0 ? QString::number(problem.row) : u"—"_s;
                second = problem.reason;
            } else {
                std::tie(first, second) = checked.renumbered.at(row);
            }
            table->setItem(row, 0, new QTableWidgetItem(first));
            table->setItem(row, 1, new QTableWidgetItem(second));
        }
        table->resizeColumnToContents(0);
        table->setMinimumSize(560, 240);
        layout->addWidget(table);
        if (problems && checked.problemCount > checked.problems.size())
            layout->addWidget(
                new QLabel(u"只列出了前 %1 处问题。"_s.arg(checked.problems.size()), this));
    }

    auto *buttons = new QDialogButtonBox(this);
    if (checked.ok) {
        QPushButton *import = buttons->addButton(u"导入"_s, QDialogButtonBox::AcceptRole);
        import->setObjectName(u"importButton"_s);
        import->setDefault(true);
        buttons->addButton(u"取消"_s, QDialogButtonBox::RejectRole);
    } else {
        // Numbers taken are the one problem a renumbering mends; every other row needs the
        // file changed.
        const bool onlyNumbers = checked.problemCount == checked.problems.size()
            && std::all_of(checked.problems.cbegin(), checked.problems.cend(),
                           [](const BookImport::Problem &p) { return p.numberTaken; });
        if (onlyNumbers) {
            QPushButton *renumber
                = buttons->addButton(u"改用新单号导入…"_s, QDialogButtonBox::AcceptRole);
            renumber->setObjectName(u"renumberButton"_s);
        }
        buttons->addButton(u"关闭"_s, QDialogButtonBox::RejectRole)->setDefault(true);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
