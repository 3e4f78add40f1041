// SPDX-License-Identifier: GPL-3.0-or-later
#include "formnumber.h"
#include "paperbooks.h"
#include "receiptbook.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// Printing values only on forms of a paper book that carry their numbers: when the form in
// the printer has to be asked for, and which answers let the print go out.
class tst_FormNumber : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        QString error;
        QVERIFY2(PaperBooks::add({}, 12501, 12550, u"张三"_s, nullptr, &error), qPrintable(error));
        for (const QString &payer : {u"甲"_s, u"乙"_s, u"丙"_s})
            QVERIFY2(!saveNewReceipt(payer, 10, &error).isEmpty(), qPrintable(error));
        QCOMPARE(number(u"甲"_s), u"0012501"_s);
        QCOMPARE(number(u"丙"_s), u"0012503"_s);
    }
    void cleanup() { m_env.reset(); }

    // In the order a desk goes: each receipt printed on the next form is not asked for; one
    // that skips a blank form, a reprint and a receipt moved by a spoiled form are.
    void whenItAsks()
    {
        QVERIFY(!ask(u"甲"_s, {}).needed); // the number prints: nothing to ask
        QCOMPARE(ask(u"甲"_s, {}).reasons, QStringList());
        QVERIFY(!ask(u"甲"_s).needed);
        QVERIFY(ReceiptBook::shared().recordPrint(u"ID-甲"_s));

        FormNumber::Question skipping = ask(u"丙"_s);
        QVERIFY(skipping.needed);
        QCOMPARE(skipping.expected, u"0012502"_s);
        QCOMPARE(skipping.reasons,
                 QStringList(u"收据本 0012501–0012550 中下一张未打印的收据纸是 No.0012502"_s));
        QVERIFY(!ask(u"乙"_s).needed);
        QVERIFY(ReceiptBook::shared().recordPrint(u"ID-乙"_s));
        QVERIFY(!ask(u"丙"_s).needed);

        FormNumber::Question reprint = ask(u"甲"_s);
        QVERIFY(reprint.needed);
        QCOMPARE(reprint.expected, u"0012503"_s);
        QCOMPARE(reprint.reasons.value(0), u"No.0012501 打印过，这次是补打"_s);

        // 丙's form jams: the receipt goes to 0012504, whose form is now the next blank one.
        QString error;
        QVERIFY2(ReceiptBook::shared().spoil(u"0012503"_s, u"卡纸"_s, nullptr, &error),
                 qPrintable(error));
        FormNumber::Question moved = ask(u"丙"_s);
        QCOMPARE(moved.receiptNo, u"0012504"_s);
        QVERIFY(moved.needed);
        QCOMPARE(moved.expected, u"0012504"_s);
        QCOMPARE(moved.reasons, QStringList(u"No.0012504 是 No.0012503 登记废票后改用的单号"_s));
    }

    // The answer is the first receipt's number in any padding, or nothing prints; several
    // receipts go on numbered forms together only when their numbers follow each other.
    void answers()
    {
        const FormNumber::Question question = ask(u"乙"_s);
        QCOMPARE(FormNumber::refusal(question, u" 12502"_s), QString());
        QCOMPARE(FormNumber::refusal(question, u"0012502"_s), QString());
        QCOMPARE(FormNumber::refusal(question, u"12501"_s),
                 u"打印机中收据纸的单号 No.0012501 与这张收据 No.0012502 不同：请放入 No.0012502 "
                 u"的收据纸；0012501 如已损坏，请先登记废票"_s);
        QVERIFY(FormNumber::refusal(question, {}).contains(u"请填写"_s));
        QVERIFY(FormNumber::refusal(question, u"XF-12502"_s).contains(u"No.XF-12502 与这张收据"_s));

        FormNumber::Question batch;
        QVERIFY(FormNumber::ask(numbered(), {receipt(u"乙"_s), receipt(u"丙"_s)}, &batch));
        QCOMPARE(batch.pages, 2);
        QVERIFY(FormNumber::refusal(batch, u"12503"_s).contains(u"与要打印的第一张收据 No.0012502"_s));
        QString error;
        QVERIFY(!FormNumber::ask(numbered(), {receipt(u"甲"_s), receipt(u"丙"_s)}, &batch, &error));
        QVERIFY2(error.contains(u"No.0012501 之后是 No.0012503"_s), qPrintable(error));
        QVERIFY(ReceiptBook::shared().recordPrint(u"ID-丙"_s));
        QVERIFY(!FormNumber::ask(numbered(), {receipt(u"乙"_s), receipt(u"丙"_s)}, &batch, &error));
        QVERIFY2(error.startsWith(u"No.0012503 打印过"_s), qPrintable(error));
    }

private:
    static PrintOptions numbered()
    {
        return {.content = PrintOptions::Content::ValuesOnly, .numberOnForm = true};
    }
    static std::optional<Receipt> receipt(const QString &payer)
    {
        return storedReceipt(u"ID-"_s + payer);
    }
    static QString number(const QString &payer)
    {
        return receipt(payer).value_or(Receipt()).receiptNo;
    }
    // What printing the receipt of `payer` asks; the options print the number when null.
    static FormNumber::Question ask(const QString &payer,
                                    std::optional<PrintOptions> options = numbered())
    {
        FormNumber::Question question;
        QString error;
        [&] { QVERIFY2(FormNumber::ask(options.value_or(PrintOptions()), {receipt(payer)},
                                       &question, &error),
                       qPrintable(error)); }();
        return question;
    }

    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(tst_FormNumber)
#include "tst_formnumber.moc"
