// SPDX-License-Identifier: GPL-3.0-or-later
#include "alignmentpage.h"
#include "appstore.h"
#include "companystore.h"
#include "printhelper.h"
#include "printsettingsdialog.h"
#include "printview.h"
#include "testsupport.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;

namespace {
constexpr qreal pointsPerMm = 72 / 25.4;
const QRectF page(0, 0, PrintView::paperWidth, PrintView::paperHeight);
} // namespace

class tst_PrintSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_environment = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_environment.reset(); }

    // A line every 5 mm from the paper's top-left corner, a figure every 10 mm, and the
    // fields where the receipt puts them at the offset.
    void alignmentGrid_data()
    {
        QTest::addColumn<QPointF>("mm");
        QTest::newRow("no offset") << QPointF(0, 0);
        QTest::newRow("offset") << QPointF(4.5, -2.3);
    }
    void alignmentGrid()
    {
        QFETCH(QPointF, mm);
        const PrintOptions options {.offsetX = mm.x(), .offsetY = mm.y()};
        const Company company = CompanyStore::shared().company();
        const AlignmentPage alignment(page, options, company);
        QList<qreal> xs;
        QList<qreal> ys;
        for (const QLineF &line : alignment.gridLines()) {
            if (line.x1() == line.x2())
                xs.append(line.x1());
            else
                ys.append(line.y1());
        }
        QCOMPARE(xs.size(), 48); // 241 mm
        QCOMPARE(ys.size(), 18); // 93 mm
        for (qsizetype i = 0; i < xs.size(); ++i)
            QVERIFY(qAbs(xs[i] - (i + 1) * 5 * pointsPerMm) < 1e-9);
        for (qsizetype i = 0; i < ys.size(); ++i)
            QVERIFY(qAbs(ys[i] - (i + 1) * 5 * pointsPerMm) < 1e-9);
        QStringList labels;
        for (const auto &label : alignment.labels())
            labels.append(label.text);
        QCOMPARE(labels.size(), 24 + 9);
        QCOMPARE(labels.first(), u"10"_s);
        QVERIFY(labels.contains(u"240"_s) && labels.endsWith(u"90"_s));

        const ReceiptPageLayout plain(page, std::nullopt, company, ReceiptPageOptions::from({}));
        QStringList names;
        for (const auto &field : alignment.fields()) {
            names.append(field.name);
            const auto *text = plain.find(field.item);
            QVERIFY(text);
            QCOMPARE(field.rect.topLeft(),
                     text->cell.united(text->rect).topLeft() + mm * pointsPerMm);
        }
        for (const QString &name : {u"编号"_s, u"日期"_s, u"交款单位"_s, u"金额（大写）"_s,
                                    u"金额（小写）"_s, u"收款方式"_s, u"会计"_s, u"右侧标签"_s})
            QVERIFY2(names.contains(name), qPrintable(name));
    }

    void alignmentPdf()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"grid.pdf"_s);
        QVERIFY(PrintHelper::printAlignmentPageToFile({}, path, page.width(), page.height()));
        const QString tool = QStandardPaths::findExecutable(u"pdftotext"_s);
        if (tool.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QProcess process;
        process.start(tool, {path, u"-"_s});
        process.waitForFinished(60000);
        const QString text = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY(text.contains(u"交款单位"_s) && text.contains(u"240"_s));
        QCOMPARE(text.count(u'\f'), 1); // one page
    }

    // The preview follows every change at once; 确定 saves, 取消 does not.
    void dialog_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("确定") << true;
        QTest::newRow("取消") << false;
    }
    void dialog()
    {
        QFETCH(bool, accept);
        PrintSettingsDialog dialog;
        auto *preview = dialog.findChild<PrintView *>();
        auto *offsetX = dialog.findChild<QDoubleSpinBox *>(u"offsetXSpin"_s);
        auto *content = dialog.findChild<QComboBox *>(u"contentCombo"_s);
        auto *displaced = dialog.findChild<QLabel *>(u"displacedLabel"_s);
        QVERIFY(preview && offsetX && content && displaced);
        QCOMPARE(offsetX->minimum(), -30.0);
        QCOMPARE(offsetX->maximum(), 30.0);
        const QRectF before = preview->pageLayout().find(Item::Payer)->rect;
        offsetX->setValue(12.5);
        QCOMPARE(preview->pageLayout().find(Item::Payer)->rect,
                 before.translated(12.5 * pointsPerMm, 0));
        QVERIFY(displaced->isHidden());
        offsetX->setValue(30);
        QVERIFY(!displaced->isHidden() && displaced->text().contains(u"右侧标签"_s));
        content->setCurrentIndex(content->findText(u"仅打印内容"_s));
        QVERIFY(preview->pageLayout().rules().isEmpty());
        QVERIFY(displaced->isHidden()); // no side label on a page of values only
        accept ? dialog.accept() : dialog.reject();
        const PrintOptions saved = PrintSettings::shared().options();
        QCOMPARE(saved.offsetX, accept ? 30.0 : 0.0);
        QCOMPARE(saved.content,
                 accept ? PrintOptions::Content::ValuesOnly : PrintOptions::Content::FullReceipt);
    }

private:
    std::unique_ptr<TestEnvironment> m_environment;
};

QTEST_MAIN(tst_PrintSettings)
#include "tst_printsettings.moc"
