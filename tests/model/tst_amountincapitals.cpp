// SPDX-License-Identifier: GPL-3.0-or-later
#include "amountincapitals.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class tst_AmountInCapitals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void capitals_data();
    void capitals();
    void notANumber_data();
    void notANumber();
    void rewrite_data();
    void rewrite();
};

void tst_AmountInCapitals::capitals_data()
{
    QTest::addColumn<QString>("amount");
    QTest::addColumn<QString>("expected");

    // The worked examples.
    QTest::newRow("0.0") << u"0.0"_s << u"零元整"_s;
    QTest::newRow("0.5") << u"0.5"_s << u"零元伍角整"_s;
    QTest::newRow("0.05") << u"0.05"_s << u"零元零角伍分"_s;
    QTest::newRow("10.0") << u"10.0"_s << u"拾元整"_s;
    QTest::newRow("12.3") << u"12.3"_s << u"拾贰元叁角整"_s;
    QTest::newRow("30.03") << u"30.03"_s << u"叁拾元零角叁分"_s;
    QTest::newRow("100.05") << u"100.05"_s << u"壹佰元零角伍分"_s;
    QTest::newRow("110.0") << u"110.0"_s << u"壹佰壹拾元整"_s;
    QTest::newRow("1005.0") << u"1005.0"_s << u"壹仟零伍元整"_s;
    QTest::newRow("100010.0") << u"100010.0"_s << u"拾万零壹拾元整"_s;
    QTest::newRow("10000.01") << u"10000.01"_s << u"壹万元零角壹分"_s;
    QTest::newRow("1234567.89") << u"1234567.89"_s << u"壹佰贰拾叁万肆仟伍佰陆拾柒元捌角玖分"_s;
    QTest::newRow("100000001.0") << u"100000001.0"_s << u"壹亿零壹元整"_s;
    QTest::newRow("-5.5") << u"-5.5"_s << u"负伍元伍角整"_s;

    // Inner zeros exactly as the spell-out table gives them.
    QTest::newRow("1010") << u"1010.0"_s << u"壹仟零壹拾元整"_s;
    QTest::newRow("10010") << u"10010.0"_s << u"壹万零壹拾元整"_s;
    QTest::newRow("1000001") << u"1000001.0"_s << u"壹佰万零壹元整"_s;
    QTest::newRow("100001000") << u"100001000.0"_s << u"壹亿零壹仟元整"_s;
    QTest::newRow("101000000") << u"101000000.0"_s << u"壹亿壹佰万元整"_s;

    // Fractions below one fen do not count; rounding may carry into the yuan.
    QTest::newRow("0.009") << u"0.009"_s << u"零元整"_s;
    QTest::newRow("10.004") << u"10.004"_s << u"拾元整"_s;
    QTest::newRow("9.999") << u"9.999"_s << u"拾元整"_s;
    QTest::newRow("12.346") << u"12.346"_s << u"拾贰元叁角伍分"_s;
    QTest::newRow("-0.001") << u"-0.001"_s << u"零元整"_s;

    // Other spellings the number grammar allows.
    QTest::newRow("no point") << u"10"_s << u"拾元整"_s;
    QTest::newRow("point only") << u"7."_s << u"柒元整"_s;
    QTest::newRow("no integer digits") << u".5"_s << u"零元伍角整"_s;
    QTest::newRow("plus sign") << u"+3.0"_s << u"叁元整"_s;
    QTest::newRow("exponent") << u"1.5e3"_s << u"壹仟伍佰元整"_s;
}

void tst_AmountInCapitals::capitals()
{
    QFETCH(QString, amount);
    QFETCH(QString, expected);
    QCOMPARE(amountInCapitals(amount), expected);
}

void tst_AmountInCapitals::notANumber_data()
{
    QTest::addColumn<QString>("amount");
    for (const QString &text :
         {u"nan"_s, u"NaN"_s, u"inf"_s, u"-inf"_s, u"0x10"_s, u" 1"_s, u"1 "_s, u"1e"_s, u"1,000"_s,
          u""_s, u"."_s, u"-"_s, u"1.2.3"_s, u"壹"_s, u"１２"_s, u"1e999"_s, u"12元"_s})
        QTest::newRow(qPrintable(u"\""_s + text + u"\""_s)) << text;
}

void tst_AmountInCapitals::notANumber()
{
    QFETCH(QString, amount);
    QCOMPARE(amountInCapitals(amount), QString());
}

void tst_AmountInCapitals::rewrite_data()
{
    QTest::addColumn<QString>("spellOut");
    QTest::addColumn<bool>("wholeYuan");
    QTest::addColumn<QString>("expected");
    // Inputs amountInCapitals never passes on (every numeral and the whole-yuan flag are
    // covered through it above).
    QTest::newRow("no spell-out") << QString() << false << u"元整"_s;
    QTest::newRow("third digit dropped") << u"十二点三四五"_s << false << u"拾贰元叁角肆分"_s;
    QTest::newRow("units kept") << u"负一亿〇三万点〇"_s << false << u"负壹亿零叁万元零角整"_s;
}

void tst_AmountInCapitals::rewrite()
{
    QFETCH(QString, spellOut);
    QFETCH(bool, wholeYuan);
    QFETCH(QString, expected);
    QCOMPARE(capitalsFromSpellOut(spellOut, wholeYuan), expected);
}

QTEST_GUILESS_MAIN(tst_AmountInCapitals)
#include "tst_amountincapitals.moc"
