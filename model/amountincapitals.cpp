// SPDX-License-Identifier: GPL-3.0-or-later
#include "amountincapitals.h"

#include "money.h"

#include <QLocale>
#include <QRegularExpression>

#include <unicode/rbnf.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

bool matchesNumberGrammar(const QString &text)
{
    static const QRegularExpression grammar(
        u"\\A[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?\\z"_s);
    return grammar.match(text).hasMatch();
}

// ICU's rule-based spell-out for zh_CN gives exactly the numerals the rewrite expects:
// 〇 for zero, 十 without a leading 一, 〇 between separated digits, 负 and 点.
QString spellOut(double value)
{
    // Building the formatter parses the locale's rule set; keep one per thread.
    thread_local std::unique_ptr<icu::RuleBasedNumberFormat> formatter = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto made = std::make_unique<icu::RuleBasedNumberFormat>(icu::URBNF_SPELLOUT,
                                                                 icu::Locale("zh", "CN"), status);
        if (U_FAILURE(status))
            made.reset();
        return made;
    }();
    if (!formatter)
        return {};
    icu::UnicodeString text;
    formatter->format(value, text);
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace

QString capitalsFromSpellOut(const QString &spellOut, bool wholeYuan)
{
    static constexpr char16_t numerals[] = u"一二三四五六七八九十百千〇";
    static constexpr char16_t capitals[] = u"壹贰叁肆伍陆柒捌玖拾佰仟零";

    QString rewritten = spellOut;
    for (QChar &c : rewritten) {
        for (int i = 0; numerals[i]; ++i) {
            if (c.unicode() == numerals[i]) {
                c = QChar(capitals[i]);
                break;
            }
        }
    }

    const QStringList pieces = rewritten.split(u'点');
    const QString &integerPart = pieces.first();
    if (wholeYuan || pieces.size() < 2)
        return integerPart + u"元整"_s;

    const QString &fraction = pieces.at(1);
    QString result = integerPart + u"元"_s;
    if (fraction.isEmpty())
        return result + u"整"_s;
    result += fraction.at(0) + u"角"_s;
    if (fraction.size() == 1)
        return result + u"整"_s;
    return result + fraction.at(1) + u"分"_s;
}

QString amountInCapitals(const QString &amountText)
{
    if (!matchesNumberGrammar(amountText))
        return {};
    bool ok = false;
    const double amount = amountText.toDouble(&ok);
    if (!ok || !std::isfinite(amount))
        return {};

    // At most two fraction digits are spelled: round to whole fen first, on the decimal
    // text as every figure and total rounds (2.675 is 2.68 there and here), so 9.999
    // becomes 10 rather than 9点九九九.
    const std::optional<qint64> fen = Money::fenFromText(amountText.toLatin1());
    const double rounded
        = fen ? double(*fen) / 100 : QString::number(amount, 'f', 2).toDouble();

    // Whether the amount is whole is decided from the text the user's amount came as,
    // not from the spell-out: 10.004 is whole, 0.01 is not.
    bool wholeYuan = true;
    const QStringList pieces = amountText.split(u'.');
    if (pieces.size() == 2) {
        bool fractionOk = false;
        const double fraction = (u"0."_s + pieces.at(1)).toDouble(&fractionOk);
        wholeYuan = !fractionOk || fraction < 0.01;
    }
    return capitalsFromSpellOut(spellOut(rounded == 0 ? 0.0 : rounded), wholeYuan);
}

QString amountText(double amount)
{
    if (!std::isfinite(amount))
        return QString::number(amount);
    QString text = QString::number(amount, 'f', QLocale::FloatingPointShortest);
    if (!text.contains(u'.'))
        text += u".0"_s;
    return text;
}
