// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "printaction.h"
#include "printsettingsdialog.h"
#include "printview.h"
#include "receiptprinter.h"
#include "testsupport.h"
#include "uitesthelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;

namespace {

constexpr qreal pointsPerMm = 72 / 25.4;

// Chooses "Print to File (PDF)" in the print dialog, aimed at `path`; empty when it did,
// else what was missing.
QString printToFile(QPrintDialog *dialog, const QString &path)
{
    auto *printers = dialog->findChild<QComboBox *>(u"printers"_s);
    auto *fileName = dialog->findChild<QLineEdit *>(u"filename"_s);
    const int pdfEntry = printers ? printers->findText(u"PDF"_s, Qt::MatchContains) : -1;
    if (pdfEntry < 0 || !fileName)
        return u"no print-to-file entry"_s;
    printers->setCurrentIndex(pdfEntry);
    fileName->setText(path);
    return {};
}

} // namespace

// 打印设置, the on-screen page, and the print dialog the screens print through (the preview:
// tst_addview).
class tst_PrintSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_output = std::make_unique<QTemporaryDir>();
    }
    void cleanup()
    {
        // A dialog that never came must not be answered in a later test.
        qDeleteAll(findChildren<QTimer *>());
        m_output.reset();
        m_environment.reset();
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
        const QRectF before = preview->pageLayout().find(Item::Payer)->rect;
        offsetX->setValue(12.5);
        QCOMPARE(preview->pageLayout().find(Item::Payer)->rect,
                 before.translated(12.5 * pointsPerMm, 0));
        QVERIFY(displaced->isHidden());
        offsetX->setValue(30);
        QVERIFY(!displaced->isHidden());
        // Chinese text runs on without a space before 超出.
        QVERIFY2(displaced->text().startsWith(u"偏移过大：右侧标签"_s)
                     && displaced->text().contains(u"超出纸张，"_s)
                     && !displaced->text().contains(u" 超出"_s),
                 qPrintable(displaced->text()));
        // 金额前加 ¥ is for paper printed values only; a full receipt always has its ¥.
        auto *yuanSign = dialog.findChild<QCheckBox *>(u"yuanSignCheck"_s);
        QVERIFY(yuanSign && yuanSign->isChecked() && !yuanSign->isEnabled());
        QTest::mouseClick(yuanSign, Qt::LeftButton);
        QVERIFY(yuanSign->isChecked());
        content->setCurrentIndex(content->findText(u"仅打印内容"_s));
        QVERIFY(preview->pageLayout().rules().isEmpty());
        QVERIFY(displaced->isHidden()); // no side label on a page of values only
        QVERIFY(yuanSign->isEnabled() && preview->pageLayout().find(Item::YuanSign));
        QTest::mouseClick(yuanSign, Qt::LeftButton);
        QVERIFY(!yuanSign->isChecked() && !preview->pageLayout().find(Item::YuanSign));
        accept ? dialog.accept() : dialog.reject();
        const PrintOptions saved = PrintSettings::shared().options();
        QCOMPARE(saved.offsetX, accept ? 30.0 : 0.0);
        QCOMPARE(saved.content,
                 accept ? PrintOptions::Content::ValuesOnly : PrintOptions::Content::FullReceipt);
        QCOMPARE(saved.yuanSign, !accept);
        // Opened again, the dialog shows what was saved.
        PrintSettingsDialog again;
        QCOMPARE(again.findChild<QCheckBox *>(u"yuanSignCheck"_s)->isChecked(), !accept);
    }

    // The code stands where its boxes put it (a sample code on the blank form, so that its
    // place can be set), the dialog says what it covers, and it goes with its switch; the
    // choices are saved with the others.
    void codeIsPlacedAndSwitchedOff()
    {
        PrintSettingsDialog dialog;
        auto *preview = dialog.findChild<PrintView *>();
        auto *code = dialog.findChild<QCheckBox *>(u"receiptCodeCheck"_s);
        auto *codeX = dialog.findChild<QDoubleSpinBox *>(u"codeXSpin"_s);
        auto *codeY = dialog.findChild<QDoubleSpinBox *>(u"codeYSpin"_s);
        auto *displaced = dialog.findChild<QLabel *>(u"displacedLabel"_s);
        QVERIFY(code && codeX && codeY && displaced);
        QVERIFY(code->isChecked() && codeX->isEnabled());
        QCOMPARE(preview->pageLayout().codeRect().topLeft(), QPointF(1, 38.5) * pointsPerMm);
        QVERIFY(displaced->isHidden());
        codeX->setValue(PrintOptions::maxCodeX + 5); // held on the paper
        QCOMPARE(codeX->value(), PrintOptions::maxCodeX);
        codeX->setValue(40);
        codeY->setValue(30);
        QCOMPARE(preview->pageLayout().codeRect().topLeft(), QPointF(40, 30) * pointsPerMm);
        QVERIFY2(!displaced->isHidden() && displaced->text().startsWith(u"二维码压住了交款单位"_s)
                     && displaced->text().contains(u"表格"_s),
                 qPrintable(displaced->text()));
        code->setChecked(false);
        QVERIFY(preview->pageLayout().codeRect().isEmpty());
        QVERIFY(!codeX->isEnabled() && !codeY->isEnabled() && displaced->isHidden());
        dialog.accept();
        const PrintOptions saved = PrintSettings::shared().options();
        QVERIFY(!saved.receiptCode);
        QCOMPARE(QPointF(saved.codeX, saved.codeY), QPointF(40, 30));
        PrintSettingsDialog again;
        QVERIFY(!again.findChild<QCheckBox *>(u"receiptCodeCheck"_s)->isChecked());
        QCOMPARE(again.findChild<QDoubleSpinBox *>(u"codeXSpin"_s)->value(), 40.0);
    }

    void viewDrawsTheLayout()
    {
        AppStore::shared().setReceiptPrint(printableReceipt(u"0000042"_s, u"甲公司"_s));
        PrintView view; // a point of paper a pixel
        QCOMPARE(view.size(), QSize(684, 264));
        const QImage picture = view.grab().toImage();
        const QRectF table = view.pageLayout().tableRect();
        QCOMPARE(picture.pixelColor(1, 1), QColor(Qt::white));
        QCOMPARE_LT(picture.pixelColor(int(table.center().x()), int(table.top())).lightness(), 128);
        // Loading another receipt shows it at once.
        AppStore::shared().setReceiptPrint(printableReceipt(u"7"_s, u"乙方"_s));
        QCOMPARE(view.pageLayout().text(Item::Number), u"No.7"_s);
    }

    // The preview shows the receipt as a print would now: not voided once the void was
    // undone (the store's copy still says voided), and with 补打 once it was printed.
    void previewReadsTheBook()
    {
        Receipt loaded = storeReceipt();
        loaded.voidReason = u"开错了"_s;
        AppStore::shared().setReceiptPrint(loaded);
        PrintOptions options = PrintSettings::shared().options();
        options.reprintMark = true;
        PrintSettings::shared().setOptions(options);
        {
            PrintSettingsDialog dialog;
            const ReceiptPageLayout page = dialog.findChild<PrintView *>()->pageLayout();
            QVERIFY(!page.find(Item::VoidStamp));
            QVERIFY(!page.find(Item::ReprintMark));
        }
        QVERIFY(m_environment->execRaw(
            u"insert into tb_history (time, action, receiptId, receiptNo) values "
            u"('2024-05-02 09:00:00', 'print', '%1', '0000001')"_s.arg(loaded.id)));
        PrintSettingsDialog dialog;
        auto *reprintMark = dialog.findChild<QCheckBox *>(u"reprintMarkCheck"_s);
        QVERIFY(dialog.findChild<PrintView *>()->pageLayout().find(Item::ReprintMark));
        reprintMark->setChecked(false);
        QVERIFY(!dialog.findChild<PrintView *>()->pageLayout().find(Item::ReprintMark));
    }

    // Through the print dialog, to "Print to File": the receipt asked for, on its paper
    // (the dialog resets the paper to the chosen printer's), recorded, and the folder
    // offered next time. Cancelled, nothing at all.
    void printDialog_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("print") << true;
        QTest::newRow("cancel prints nothing") << false;
    }
    void printDialog()
    {
        QFETCH(bool, accept);
        const Receipt receipt = storeReceipt();
        const QString path = m_output->filePath(u"dialog.pdf"_s);
        QString problem = u"no print dialog"_s;
        whenModal<QPrintDialog>(this, [&](QPrintDialog *dialog) {
            // A change while the dialog is open does not reach the job already asked for.
            AppStore::shared().setReceiptPrint(printableReceipt(u"0000002"_s, u"乙公司"_s));
            problem = printToFile(dialog, path);
            problem.isEmpty() && accept ? dialog->accept() : dialog->reject();
        });
        QCOMPARE(PrintAction::printReceipt(), accept);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(QFile::exists(path), accept);
        QCOMPARE(printsRecorded(), accept ? 1 : 0);
        QCOMPARE(PrintSettings::shared().lastPrintFolder(),
                 accept ? QFileInfo(path).absolutePath() : QString());
        if (!accept)
            return;
        QCOMPARE(pdfPages(path), (QStringList {u"241.0 × 93.0 mm"_s, u"page"_s}));
        const QString text = pdfToText(path);
        if (text.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QVERIFY(text.contains(receipt.payer) && !text.contains(u"乙公司"_s));
    }

private:
    Receipt storeReceipt()
    {
        const Receipt receipt = printableReceipt(u"0000001"_s, u"甲公司"_s);
        m_environment->createDatabase();
        [&] {
            QVERIFY(m_environment->storeReceipt(receipt.id, receipt.receiptNo,
                                                u"2024-05-01 00:00:00"_s, receipt.payer));
        }();
        AppStore::shared().setReceiptPrint(receipt);
        return receipt;
    }
    int printsRecorded() const
    {
        return m_environment->countRaw(u"select count(*) from tb_history where action = 'print'"_s);
    }

    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<QTemporaryDir> m_output;
};

QTEST_MAIN(tst_PrintSettings)
#include "tst_printsettings.moc"
