// SPDX-License-Identifier: GPL-3.0-or-later
#include "printsettings.h"

#include "preferences.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Keys and defaults in one place; the values are text like every other preference.
const QString offsetXKey = u"print/offsetX"_s;
const QString offsetYKey = u"print/offsetY"_s;
const QString contentKey = u"print/content"_s;
const QString sideLabelKey = u"print/sideLabel"_s;
const QString reprintMarkKey = u"print/reprintMark"_s;
const QString fixedRemarkKey = u"print/fixedRemark"_s;
const QString yuanSignKey = u"print/yuanSign"_s;
const QString numberOnFormKey = u"print/numberOnForm"_s;
const QString receiptCodeKey = u"print/receiptCode"_s;
const QString codeXKey = u"print/codeX"_s;
const QString codeYKey = u"print/codeY"_s;
const QString valuesOnlyText = u"values"_s;
const QString fullText = u"full"_s;
// Written by every version since the first: the names stay.
const QString lastPrinterKey = u"lastPrinter"_s;
const QString lastPrintFolderKey = u"lastPrintFolder"_s;

QString formChoiceKey(PrintSettings::FormChoice choice)
{
    switch (choice) {
    case PrintSettings::FormChoice::Paytype:
        return u"paytype"_s;
    case PrintSettings::FormChoice::Payee:
        return u"payee"_s;
    case PrintSettings::FormChoice::Approve:
        return u"approve"_s;
    case PrintSettings::FormChoice::Accountant:
        return u"accountant"_s;
    }
    return {};
}

double offsetFrom(const QString &text, double fallback = 0.0)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : fallback;
}

bool flagFrom(const QString &text, bool fallback)
{
    if (text == u"1"_s)
        return true;
    if (text == u"0"_s)
        return false;
    return fallback;
}

QString flagText(bool flag)
{
    return flag ? u"1"_s : u"0"_s;
}

double normalizedIn(double value, double lowest, double highest, double fallback)
{
    if (!std::isfinite(value))
        return fallback;
    const double clamped = std::clamp(value, lowest, highest);
    // Whole tenths: the spin box shows one decimal, and the file must say what it shows.
    return std::round(clamped * 10) / 10;
}

double normalizedOffset(double value)
{
    return normalizedIn(value, PrintOptions::minOffset, PrintOptions::maxOffset, 0);
}

} // namespace

PrintOptions PrintOptions::normalized() const
{
    PrintOptions result = *this;
    result.offsetX = normalizedOffset(offsetX);
    result.offsetY = normalizedOffset(offsetY);
    const PrintOptions defaults;
    result.codeX = normalizedIn(codeX, 0, maxCodeX, defaults.codeX);
    result.codeY = normalizedIn(codeY, 0, maxCodeY, defaults.codeY);
    return result;
}

PrintSettings &PrintSettings::shared()
{
    static PrintSettings instance;
    return instance;
}

PrintOptions PrintSettings::options() const
{
    const PrintOptions defaults;
    PrintOptions options;
    options.offsetX = offsetFrom(Preferences::value(offsetXKey));
    options.offsetY = offsetFrom(Preferences::value(offsetYKey));
    options.content = Preferences::value(contentKey) == valuesOnlyText
        ? PrintOptions::Content::ValuesOnly
        : PrintOptions::Content::FullReceipt;
    options.sideLabel = flagFrom(Preferences::value(sideLabelKey), defaults.sideLabel);
    options.reprintMark = flagFrom(Preferences::value(reprintMarkKey), defaults.reprintMark);
    options.fixedRemark = flagFrom(Preferences::value(fixedRemarkKey), defaults.fixedRemark);
    options.yuanSign = flagFrom(Preferences::value(yuanSignKey), defaults.yuanSign);
    options.numberOnForm = flagFrom(Preferences::value(numberOnFormKey), defaults.numberOnForm);
    options.receiptCode = flagFrom(Preferences::value(receiptCodeKey), defaults.receiptCode);
    options.codeX = offsetFrom(Preferences::value(codeXKey), defaults.codeX);
    options.codeY = offsetFrom(Preferences::value(codeYKey), defaults.codeY);
    return options.normalized();
}

void PrintSettings::setOptions(const PrintOptions &options)
{
    const PrintOptions stored = options.normalized();
    if (stored == this->options())
        return;
    Preferences::setValue(offsetXKey, QString::number(stored.offsetX, 'f', 1));
    Preferences::setValue(offsetYKey, QString::number(stored.offsetY, 'f', 1));
    Preferences::setValue(contentKey,
                          stored.content == PrintOptions::Content::ValuesOnly ? valuesOnlyText
                                                                              : fullText);
    Preferences::setValue(sideLabelKey, flagText(stored.sideLabel));
    Preferences::setValue(reprintMarkKey, flagText(stored.reprintMark));
    Preferences::setValue(fixedRemarkKey, flagText(stored.fixedRemark));
    Preferences::setValue(yuanSignKey, flagText(stored.yuanSign));
    Preferences::setValue(numberOnFormKey, flagText(stored.numberOnForm));
    Preferences::setValue(receiptCodeKey, flagText(stored.receiptCode));
    Preferences::setValue(codeXKey, QString::number(stored.codeX, 'f', 1));
    Preferences::setValue(codeYKey, QString::number(stored.codeY, 'f', 1));
    Q_EMIT changed();
}

QString PrintSettings::formChoice(FormChoice choice) const
{
    return Preferences::value(formChoiceKey(choice));
}

void PrintSettings::setFormChoice(FormChoice choice, const QString &value)
{
    Preferences::setValue(formChoiceKey(choice), value);
}

QString PrintSettings::lastPrinter() const
{
    return Preferences::value(lastPrinterKey);
}

QString PrintSettings::lastPrintFolder() const
{
    return Preferences::value(lastPrintFolderKey);
}

void PrintSettings::setLastTarget(const QString &printer, const QString &pdfPath)
{
    const bool toFile = !pdfPath.isEmpty();
    Preferences::setValue(lastPrinterKey, toFile ? QString() : printer);
    // A printer keeps the folder of the last file: "Print to File" offers it again.
    if (toFile)
        Preferences::setValue(lastPrintFolderKey, QFileInfo(pdfPath).absolutePath());
}
