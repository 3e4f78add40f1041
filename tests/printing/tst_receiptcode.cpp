// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookcare.h"
#include "booklock.h"
#include "bookproof.h"
#include "clock.h"
#include "printjob.h"
#include "printsettings.h"
#include "receiptbook.h"
#include "receiptpagelayout.h"
#include "receiptprinter.h"
#include "receiptproof.h"
#include "testsupport.h"

#include <QGuiApplication>
#include <QPrinter>
#include <QProcess>
#include <QtTest>

#include <optional>

using namespace Qt::StringLiterals;
using Verdict = ReceiptProof::Answer::Verdict;
Q_DECLARE_METATYPE(PrintOptions)

namespace {

constexpr qreal pointsPerMm = 72 / 25.4;
const QRectF page(0, 0, ReceiptPrinter::paperWidth, ReceiptPrinter::paperHeight);

std::unique_ptr<QPrinter> pdfPrinter(const QString &path)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    return printer;
}

// The text as a person types it on a full-width keyboard: every ASCII character in its
// full-width form.
QString fullWidth(const QString &text)
{
    QString wide;
    for (const QChar c : text)
        wide += c.unicode() > 0x20 && c.unicode() < 0x7f ? QChar(c.unicode() + 0xfee0) : c;
    return wide;
}

} // namespace

// The code on every printed receipt: printed through the real print path, read back from
// the page as a scanner reads it, and answered by the book, on a file and on a server.
class tst_ReceiptCode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_pdftoppm = QStandardPaths::findExecutable(u"pdftoppm"_s);
        m_zbarimg = QStandardPaths::findExecutable(u"zbarimg"_s);
    }
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        Clock::pin(QDateTime(QDate(2024, 5, 1), QTime(9, 30)));
        m_env->createDatabase();
        for (const auto &[payer, total] : {std::pair(u"甲"_s, 12.5), std::pair(u"乙"_s, 20.0)})
            QVERIFY(!saveNewReceipt(payer, total).isEmpty());
    }
    void cleanup()
    {
        m_env.reset();
        Clock::unpin();
    }

    void aPrintedReceiptReadsBackAndVerifies_data();
    void aPrintedReceiptReadsBackAndVerifies();
    void whatHappenedSinceItWasPrintedIsNamed_data();
    void whatHappenedSinceItWasPrintedIsNamed();
    void aChainRewrittenFromItsStartNoLongerVerifies();
    void codesThisBookDidNotPrint_data();
    void codesThisBookDidNotPrint();
    void typedTextIsMadePlain_data();
    void typedTextIsMadePlain();
    void noCodeWhereNoneBelongs_data();
    void noCodeWhereNoneBelongs();
    void thePreviewShowsTheCode();
    void theCodeStandsWhereTheFormLeavesRoom_data();
    void theCodeStandsWhereTheFormLeavesRoom();
    void theCommandAnswersWhileTheWindowIsOpen();

private:
    bool canScan() const { return !m_pdftoppm.isEmpty() && !m_zbarimg.isEmpty(); }
    QString path(const QString &name) const { return QDir(m_env->documentsPath()).filePath(name); }
    // The link of the newest history row of the receipt, as the book keeps it.
    QString newestLink(const QString &id) const
    {
        return m_env->queryRaw(u"select c.hash from tb_chain c join tb_history h on h.id = "
                               u"c.historyId where h.receiptId = '%1' order by c.link desc "
                               u"limit 1"_s.arg(id));
    }
    // The first page of the PDF at 150 dpi, read by zbarimg: the code's text, or nothing
    // when the page has no code it can read.
    std::optional<QString> scan(const QString &pdf) const
    {
        const QString stem = pdf.chopped(4);
        QProcess render;
        render.start(m_pdftoppm, {u"-r"_s, u"150"_s, u"-png"_s, u"-singlefile"_s, pdf, stem});
        if (!render.waitForFinished(60000) || render.exitCode() != 0) {
            qWarning("pdftoppm: %s", render.readAllStandardError().constData());
            return std::nullopt;
        }
        QProcess reader;
        reader.start(m_zbarimg, {u"--raw"_s, u"-q"_s, stem + u".png"_s});
        reader.waitForFinished(60000);
        const QString text = QString::fromUtf8(reader.readAllStandardOutput()).trimmed();
        if (reader.exitCode() != 0 || text.isEmpty())
            return std::nullopt;
        return text;
    }
    // The receipt `id` printed to a PDF with `options` as the print dialog prints it, and
    // its code read back from the page.
    std::optional<QString> printAndScan(const QString &id, const PrintOptions &options = {})
    {
        const QString pdf = path(u"r%1.pdf"_s.arg(++m_printed));
        QString error;
        if (!ReceiptPrinter::printReceipts(*pdfPrinter(pdf), {id}, &error, options)) {
            qWarning("%s", qUtf8Printable(error));
            return std::nullopt;
        }
        return scan(pdf);
    }
    ReceiptProof::Answer verify(const QString &text) const
    {
        ReceiptProof::Answer answer;
        QString error;
        if (!BookCare::verifyReceipt(text, &answer, &error))
            answer.text = u"unread: "_s + error;
        return answer;
    }

    std::unique_ptr<TestEnvironment> m_env;
    QString m_pdftoppm;
    QString m_zbarimg;
    int m_printed = 0;
};

void tst_ReceiptCode::aPrintedReceiptReadsBackAndVerifies_data()
{
    QTest::addColumn<PrintOptions>("options");
    QTest::newRow("full page") << PrintOptions();
    QTest::newRow("values only") << PrintOptions {.content = PrintOptions::Content::ValuesOnly};
    QTest::newRow("moved by the offsets") << PrintOptions {.offsetX = -4, .offsetY = 6.5};
    QTest::newRow("elsewhere on the paper") << PrintOptions {.codeX = 210, .codeY = 2};
}

// The code holds the number, the day, the amount and the newest link before the print:
// the print's own row comes after it, and the code still verifies.
void tst_ReceiptCode::aPrintedReceiptReadsBackAndVerifies()
{
    QFETCH(PrintOptions, options);
    if (!canScan())
        QSKIP("pdftoppm (poppler-utils) or zbarimg (zbar-tools) is not installed");
    const QString before = newestLink(u"ID-甲"_s);
    QCOMPARE(before.size(), 64);
    const std::optional<QString> code = printAndScan(u"ID-甲"_s, options);
    QVERIFY(code);
    QCOMPARE(*code, u"QUENTA1|No.0000001|2024-05-01|12.50|"_s + before.left(16));
    QVERIFY(newestLink(u"ID-甲"_s) != before); // the print's row
    const ReceiptProof::Answer answer = verify(*code);
    QCOMPARE(answer.verdict, Verdict::Genuine);
    QVERIFY2(answer.text.startsWith(u"真实，未改动\nNo.0000001，收款日期 2024-05-01，金额 ¥12.50，"
                                    u"交款单位 甲\n"_s),
             qPrintable(answer.text));
}

void tst_ReceiptCode::whatHappenedSinceItWasPrintedIsNamed_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("first"); // the answer's first line

    const auto row = [](const char *change, Verdict verdict, const QString &first) {
        QTest::newRow(change) << QString::fromLatin1(change) << int(verdict) << first;
    };
    row("printed again", Verdict::Genuine, u"真实，未改动"_s);
    row("another receipt edited", Verdict::Genuine, u"真实，未改动"_s);
    row("edited", Verdict::Changed, u"已改动：2024-05-01 09:30 修改 金额 12.50 → 20.00"_s);
    row("voided", Verdict::Changed, u"已改动：2024-05-01 09:30 作废（原因 写错了）"_s);
    row("deleted", Verdict::Changed, u"已改动：2024-05-01 09:30 已删除"_s);
    row("deleted and restored", Verdict::Changed,
        u"已改动：2024-05-01 09:30 已删除；2024-05-01 09:30 恢复"_s);
    row("amount changed behind the program", Verdict::Changed,
        u"已改动：账本中的 No.0000001 与它的记录不符：收款金额 12.50 → 99.00（不是由本程序改的）"_s);
    row("void added behind the program", Verdict::Changed,
        u"已改动：账本中的 No.0000001 被作废，却没有作废记录"_s);
    row("its record rewritten without its link", Verdict::Changed,
        u"已改动：记录链的第 1 条记录已被改动或删除（不是由本程序改的）"_s);
}

void tst_ReceiptCode::whatHappenedSinceItWasPrintedIsNamed()
{
    QFETCH(QString, change);
    QFETCH(int, verdict);
    QFETCH(QString, first);
    if (!canScan())
        QSKIP("pdftoppm (poppler-utils) or zbarimg (zbar-tools) is not installed");
    const std::optional<QString> code = printAndScan(u"ID-甲"_s);
    QVERIFY(code);
    QCOMPARE(verify(*code).verdict, Verdict::Genuine);

    ReceiptBook &book = ReceiptBook::shared();
    const auto edited = [](const QString &id, double total) {
        Receipt receipt = *storedReceipt(id);
        receipt.total = total;
        return ReceiptBook::shared().update(id, receipt);
    };
    if (change == u"printed again") {
        QVERIFY(printAndScan(u"ID-甲"_s));
    } else if (change == u"another receipt edited") {
        QVERIFY(edited(u"ID-乙"_s, 21));
    } else if (change == u"edited") {
        QVERIFY(edited(u"ID-甲"_s, 20));
    } else if (change == u"voided") {
        QVERIFY(book.voidReceipts({u"ID-甲"_s}, u"写错了"_s));
    } else if (change.startsWith(u"deleted")) {
        QVERIFY(book.remove({u"ID-甲"_s}));
        if (change.endsWith(u"restored")) {
            const QList<HistoryEntry> deleted
                = book.history(u"0000001"_s).value_or(QList<HistoryEntry>());
            QVERIFY(!deleted.isEmpty() && deleted.first().action == HistoryAction::Delete);
            QVERIFY(book.restoreDeleted(deleted.first()));
        }
    } else if (change == u"amount changed behind the program") {
        QVERIFY(m_env->execRaw(u"update tb_receipt set total = '99.00' where id = 'ID-甲'"_s));
    } else if (change == u"void added behind the program") {
        QVERIFY(m_env->execRaw(u"insert into tb_void (receiptId, reason, voidDate) values "
                               u"('ID-甲', 'x', '2024-05-01 10:00:00')"_s));
    } else {
        QVERIFY(m_env->execRaw(u"update tb_history set detail = replace(detail, '甲', '丁') "
                               u"where receiptId = 'ID-甲' and action = 'insert'"_s));
    }
    const ReceiptProof::Answer answer = verify(*code);
    QCOMPARE(answer.text.section(u'\n', 0, 0), first);
    QCOMPARE(int(answer.verdict), verdict);
}

// One who rewrites every history row with another amount and links them all again, as
// the program would, leaves a book that proves itself: the printed code does not.
void tst_ReceiptCode::aChainRewrittenFromItsStartNoLongerVerifies()
{
    if (!canScan())
        QSKIP("pdftoppm (poppler-utils) or zbarimg (zbar-tools) is not installed");
    const std::optional<QString> code = printAndScan(u"ID-甲"_s);
    QVERIFY(code);
    const QString rewrite
        = u"create temp table kept as select * from tb_history order by id; "
          u"delete from tb_history; delete from tb_chain; "
          u"update tb_chainHead set rows = 0, head = ''; "
          u"update tb_receipt set total = '99.00' where id = 'ID-甲'; "
          u"insert into tb_history %1 select id, time, action, receiptId, "
          u"receiptNo, replace(detail, '\"total\":\"12.5\"', '\"total\":\"99.0\"'), "
          u"desk from kept order by id"_s;
    QVERIFY(m_env->execRaw(
        onEngine(rewrite.arg(QString()), rewrite.arg(u"overriding system value"_s))));
    BookProof::Verdict proof;
    QString error;
    QVERIFY2(BookCare::verify({}, &proof, &error), qPrintable(error));
    QVERIFY2(proof.whole, qPrintable(proof.problem));

    const ReceiptProof::Answer answer = verify(*code);
    QCOMPARE(answer.verdict, Verdict::Changed);
    QCOMPARE(answer.text.section(u'\n', 0, 0),
             u"已改动：账本的记录链里没有这张收据打印时的记录，账本可能被改写过"_s);
    // The code's link is a head known from before, as a day report's is.
    QVERIFY(BookCare::verify(code->section(u'|', -1), &proof, &error));
    QVERIFY(!proof.whole);
}

void tst_ReceiptCode::codesThisBookDidNotPrint_data()
{
    QTest::addColumn<QString>("code"); // <link>: the link the receipt 0000001 was printed with
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("first");

    const QString printed = u"QUENTA1|No.0000001|2024-05-01|12.50|<link>"_s;
    const QString foreign = u"0123456789abcdef"_s;
    QTest::newRow("neither the number nor the link") << u"QUENTA1|No.0009999|2024-05-01|12.50|"_s
            + foreign << int(Verdict::NotInBook) << u"本账本没有这张收据"_s;
    QTest::newRow("the number without its link")
        << u"QUENTA1|No.0000001|2024-05-01|12.50|"_s + foreign << int(Verdict::Changed)
        << u"已改动：账本的记录链里没有这张收据打印时的记录，账本可能被改写过"_s;
    QTest::newRow("another amount")
        << QString(printed).replace(u"12.50"_s, u"99.50"_s) << int(Verdict::NotItsRecord)
        << u"二维码与它所指的记录不符：金额 99.50（记录为 12.50）"_s;
    QTest::newRow("another day")
        << QString(printed).replace(u"2024-05-01"_s, u"2024-05-02"_s) << int(Verdict::NotItsRecord)
        << u"二维码与它所指的记录不符：收款日期 2024-05-02（记录为 2024-05-01）"_s;
    QTest::newRow("another receipt's number")
        << QString(printed).replace(u"0000001"_s, u"0000002"_s) << int(Verdict::NotItsRecord)
        << u"二维码与它所指的记录不符：单号 No.0000002（记录为 No.0000001）"_s;
    QTest::newRow("a number the book never had")
        << QString(printed).replace(u"0000001"_s, u"0009999"_s) << int(Verdict::NotItsRecord)
        << u"二维码与它所指的记录不符：单号 No.0009999（记录为 No.0000001）"_s;
    const QString notACode = u"这不是 Quenta 收据上的二维码"_s;
    QTest::newRow("a web address")
        << u"https://example.com/?No.0000001"_s << int(Verdict::NotACode) << notACode;
    QTest::newRow("another program's code") << QString(printed).replace(u"QUENTA1"_s, u"QUENTA2"_s)
                                            << int(Verdict::NotACode) << notACode;
    QTest::newRow("no day") << QString(printed).replace(u"2024-05-01"_s, u"2024-13-01"_s)
                            << int(Verdict::NotACode) << notACode;
    QTest::newRow("a short link") << QString(printed).replace(u"<link>"_s, u"0123abcd"_s)
                                  << int(Verdict::NotACode) << notACode;
    QTest::newRow("grouped amount") << QString(printed).replace(u"12.50"_s, u"1,012.50"_s)
                                    << int(Verdict::NotACode) << notACode;
}

void tst_ReceiptCode::codesThisBookDidNotPrint()
{
    QFETCH(QString, code);
    QFETCH(int, verdict);
    QFETCH(QString, first);
    const QString link = newestLink(u"ID-甲"_s).left(16);
    QVERIFY(ReceiptBook::shared().recordPrint(u"ID-甲"_s));
    const ReceiptProof::Answer answer = verify(code.replace(u"<link>"_s, link));
    QCOMPARE(answer.text.section(u'\n', 0, 0), first);
    QCOMPARE(int(answer.verdict), verdict);
}

void tst_ReceiptCode::typedTextIsMadePlain_data()
{
    QTest::addColumn<QString>("typed"); // <code>: the code as printed
    QTest::newRow("full-width") << u"<wide>"_s;
    QTest::newRow("zero-width marks")
        << u"\u200b<code>\u200d"_s; // more are put inside the text below
    QTest::newRow("spaces and a line end around it") << u" \u3000<code>\r\n"_s;
    QTest::newRow("capital hex digits") << u"<upper>"_s;
}

// What a scanner set to another keyboard, an input method or a copy from a chat gives
// still reads as the code.
void tst_ReceiptCode::typedTextIsMadePlain()
{
    QFETCH(QString, typed);
    const QString link = newestLink(u"ID-甲"_s).left(16);
    const QString code = u"QUENTA1|No.0000001|2024-05-01|12.50|"_s + link;
    QVERIFY(ReceiptBook::shared().recordPrint(u"ID-甲"_s));
    QString spaced = code;
    spaced.insert(10, u'\u2060').insert(20, u'\ufeff').insert(30, u'\u200b');
    typed.replace(u"<wide>"_s, fullWidth(code))
        .replace(u"<upper>"_s, code.section(u'|', 0, -2) + u'|' + link.toUpper())
        .replace(u"<code>"_s, spaced);
    QCOMPARE(ReceiptProof::parse(typed)->link, link);
    const ReceiptProof::Answer answer = verify(typed);
    QVERIFY2(answer.verdict == Verdict::Genuine, qPrintable(answer.text));
}

void tst_ReceiptCode::noCodeWhereNoneBelongs_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("switched off") << u"switched off"_s;
    QTest::newRow("the test page") << u"test page"_s;
    QTest::newRow("a receipt not stored") << u"not stored"_s;
    QTest::newRow("a copy changed since it was read") << u"changed copy"_s;
}

void tst_ReceiptCode::noCodeWhereNoneBelongs()
{
    QFETCH(QString, page);
    if (!canScan())
        QSKIP("pdftoppm (poppler-utils) or zbarimg (zbar-tools) is not installed");
    const QString pdf = path(u"none.pdf"_s);
    std::unique_ptr<QPrinter> printer = pdfPrinter(pdf);
    QString error;
    if (page == u"switched off") {
        QVERIFY(ReceiptPrinter::printReceipts(*printer, {u"ID-甲"_s}, &error,
                                              PrintOptions {.receiptCode = false}));
    } else if (page == u"test page") {
        QVERIFY(ReceiptPrinter::printAlignmentPage(*printer, PrintOptions(), &error));
    } else {
        Receipt receipt = *storedReceipt(u"ID-甲"_s);
        if (page == u"not stored")
            receipt.id.clear();
        else
            receipt.payer = u"丁"_s;
        const PrintJob job = PrintJob::forReceipt(receipt);
        QCOMPARE(job.code(0), QString());
        QVERIFY(job.print(*printer, &error));
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(QFileInfo(pdf).size() > 0);
    QCOMPARE(scan(pdf), std::nullopt);
}

// The preview draws what the paper will carry: a stored receipt's own code, and on the
// entry form's receipt not saved yet a stand-in where its code will be. Such a preview is
// never printed itself.
void tst_ReceiptCode::thePreviewShowsTheCode()
{
    if (!canScan())
        QSKIP("pdftoppm (poppler-utils) or zbarimg (zbar-tools) is not installed");
    const auto scanImage = [this](const PrintJob &job) -> std::optional<QString> {
        const QString png = path(u"preview.png"_s);
        if (!job.image(150).save(png))
            return std::nullopt;
        QProcess reader;
        reader.start(m_zbarimg, {u"--raw"_s, u"-q"_s, png});
        reader.waitForFinished(60000);
        const QString text = QString::fromUtf8(reader.readAllStandardOutput()).trimmed();
        return reader.exitCode() == 0 && !text.isEmpty() ? std::optional(text) : std::nullopt;
    };
    const Receipt stored = *storedReceipt(u"ID-甲"_s);
    const std::optional<QString> own = scanImage(PrintJob::formPreview(stored));
    QVERIFY(own);
    QCOMPARE(own->section(u'|', -1), newestLink(u"ID-甲"_s).left(16));
    QCOMPARE(scanImage(*PrintJob::forIds({u"ID-甲"_s})), own);

    Receipt typed = stored;
    typed.id.clear();
    typed.receiptNo = u"0000003"_s;
    const PrintJob preview = PrintJob::formPreview(typed);
    QCOMPARE(scanImage(preview), u"QUENTA1|No.0000003|2024-05-01|12.50|0000000000000000"_s);
    QString error;
    QVERIFY(!preview.print(*pdfPrinter(path(u"preview.pdf"_s)), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(path(u"preview.pdf"_s)));
    QCOMPARE(verify(preview.code(0)).verdict, Verdict::NotInBook);
}

void tst_ReceiptCode::theCodeStandsWhereTheFormLeavesRoom_data()
{
    QTest::addColumn<PrintOptions>("options");
    QTest::addColumn<bool>("voided");
    QTest::newRow("full page") << PrintOptions() << false;
    QTest::newRow("values only") << PrintOptions {.content = PrintOptions::Content::ValuesOnly}
                                 << false;
    QTest::newRow("voided, a reprint") << PrintOptions {.reprintMark = true} << true;
}

// Where the code goes by default, nothing of the form is: no text, however long, and not
// the table, which a page of values only has printed on its paper. The code leaves
// everything else where it was.
void tst_ReceiptCode::theCodeStandsWhereTheFormLeavesRoom()
{
    QFETCH(PrintOptions, options);
    QFETCH(bool, voided);
    Receipt receipt = printableReceipt();
    receipt.payer = QString(80, u'长');
    receipt.paytype = QString(30, u'转');
    if (voided)
        receipt.voidReason = u"写错了"_s;
    const Company company {u"C1"_s, QString(60, u'收'), u"第二联 交财务"_s, u"开户行：工商银行"_s};
    const QString code = u"QUENTA1|No.0000042|2024-05-01|1234.50|0123456789abcdef"_s;
    const ReceiptPageLayout with(page, receipt, company,
                                 ReceiptPageOptions::from(options, true, code));
    QVERIFY(!with.codeModules().isEmpty());
    QVERIFY2(with.partsUnderCode().isEmpty(), qPrintable(with.partsUnderCode().join(u'、')));
    const qreal side = PrintOptions::codeSide * pointsPerMm;
    QCOMPARE(with.codeRect(),
             QRectF(QPointF(options.codeX, options.codeY) * pointsPerMm, QSizeF(side, side)));
    // The symbol keeps its quiet zone inside the square.
    const qreal mm = pointsPerMm;
    QVERIFY(with.codeRect().adjusted(mm, mm, -mm, -mm).contains(with.codeModules().boundingRect()));

    // Without the code the page is the same but for the code.
    options.receiptCode = false;
    const ReceiptPageLayout without(page, receipt, company,
                                    ReceiptPageOptions::from(options, true, code));
    QVERIFY(without.codeRect().isEmpty());
    QCOMPARE(without.textItems().size(), with.textItems().size());
    for (qsizetype i = 0; i < with.textItems().size(); ++i) {
        QCOMPARE(without.textItems()[i].text, with.textItems()[i].text);
        QCOMPARE(without.textItems()[i].rect, with.textItems()[i].rect);
    }
    QCOMPARE(without.rules(), with.rules());
    QCOMPARE(without.tableRect(), with.tableRect());

    // The offsets move it with everything else, and never off the paper.
    options.receiptCode = true;
    options.offsetX = 10;
    options.offsetY = 3;
    const ReceiptPageLayout moved(page, receipt, company,
                                  ReceiptPageOptions::from(options, true, code));
    QCOMPARE(moved.codeRect(), with.codeRect().translated(10 * pointsPerMm, 3 * pointsPerMm));
    QVERIFY(moved.partsUnderCode().isEmpty());
    options.offsetX = -30;
    const ReceiptPageLayout pushed(page, receipt, company,
                                   ReceiptPageOptions::from(options, true, code));
    QCOMPARE(pushed.codeRect().left(), page.left());
    QVERIFY(!pushed.partsUnderCode().isEmpty()); // the table came under it
}

// A read-only verb: a book held by an open window answers all the same.
void tst_ReceiptCode::theCommandAnswersWhileTheWindowIsOpen()
{
    if (!canScan())
        QSKIP("pdftoppm (poppler-utils) or zbarimg (zbar-tools) is not installed");
    const std::optional<QString> code = printAndScan(u"ID-乙"_s);
    QVERIFY(code);
    std::optional<BookLock> window;
    if (!TestEnvironment::onServer()) {
        window.emplace(m_env->databasePath());
        QVERIFY(window->tryLock());
    }
    Run run = runQuenta({u"--verify-receipt"_s, *code});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith(u"真实，未改动\nNo.0000002，"_s), qPrintable(run.out));
    run = runQuenta({u"--verify-receipt"_s, fullWidth(*code)});
    QCOMPARE(run.status, 0);
    window.reset();

    Receipt receipt = *storedReceipt(u"ID-乙"_s);
    receipt.payer = u"丙"_s;
    QVERIFY(ReceiptBook::shared().update(receipt.id, receipt));
    run = runQuenta({u"--verify-receipt"_s, *code});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.out.startsWith(u"已改动：2024-05-01 09:30 修改 交款单位 乙 → 丙\n"_s),
             qPrintable(run.out));
}

QUENTA_GUI_TEST_MAIN(tst_ReceiptCode)
#include "tst_receiptcode.moc"
