// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookimport.h"

#include "failure.h"
#include "money.h"
#include "receiptnumber.h"
#include "receiptseries.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

using namespace BookImport;

QString tooLong(const QString &label, qsizetype limit)
{
    return u"%1超过 %2 个字符"_s.arg(label).arg(limit);
}

} // namespace

bool BookImport::checkReceipt(const Receipt &r, QString *error)
{
    if (r.receiptNo.trimmed().isEmpty())
        return fail(error, u"必填：收据单号"_s);
    if (r.receiptNo.size() > numberLengthLimit)
        return fail(error, tooLong(u"收据单号"_s, numberLengthLimit));
    // Digits only: a look-alike (full-width, or beside an invisible character) prints as a
    // stored number does, and would bring that number in a second time.
    // A number of a series (XF2024-0007) has its prefix judged by the book it goes into.
    if (!SeriesNumber::looksLikeSeriesNumber(r.receiptNo) && !ReceiptNumber::check(r.receiptNo, error))
        return false;
    if (!r.receiptDate.isValid())
        return fail(error, u"必填：收款日期"_s);
    if (r.payer.trimmed().isEmpty())
        return fail(error, u"必填：交款单位"_s);
    if (r.unreadableTotal)
        return fail(error, u"收款金额“%1”不是金额"_s.arg(*r.unreadableTotal));
    const std::optional<qint64> fen = Money::fenFromYuan(r.total);
    if (!fen || *fen > largestFen || *fen < -largestFen)
        return fail(error, u"收款金额超过上限 999,999,999,999.99"_s);
    const std::pair<const QString *, const char16_t *> texts[] = {
        {&r.payer, u"交款单位"}, {&r.reason1, u"收款事由"},      {&r.paytype, u"收款方式"},
        {&r.payee, u"收款人"},   {&r.approve, u"核准"},          {&r.accountant, u"会计"},
        {&r.creator, u"开单人"}, {&r.totalBig, u"金额（大写）"},
    };
    for (const auto &[text, label] : texts) {
        if (text->size() > textLengthLimit)
            return fail(error, tooLong(QString::fromUtf16(label), textLengthLimit));
    }
    if (r.reason2.size() > longTextLengthLimit)
        return fail(error, tooLong(u"其它说明"_s, longTextLengthLimit));
    if (r.remark.size() > longTextLengthLimit)
        return fail(error, tooLong(u"备注信息"_s, longTextLengthLimit));
    if (r.voidReason && r.voidReason->trimmed().isEmpty())
        return fail(error, u"已作废的收据缺少作废原因"_s);
    if (r.voidReason && r.voidReason->size() > longTextLengthLimit)
        return fail(error, tooLong(u"作废原因"_s, longTextLengthLimit));
    return true;
}

QString BookImport::digestOf(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QString BookImport::report(const Result &result, qsizetype lines)
{
    QStringList out;
    for (const Problem &problem : result.problems) {
        if (out.size() >= lines)
            break;
        out << (problem.row > 0 ? u"第 %1 行：%2"_s.arg(problem.row).arg(problem.reason)
                                : problem.reason);
    }
    if (result.problemCount > out.size())
        out << u"……共 %1 处问题"_s.arg(result.problemCount);
    for (const auto &[from, to] : result.renumbered) {
        if (out.size() >= lines) {
            out << u"……共 %1 张收据改了单号"_s.arg(result.renumbered.size());
            break;
        }
        out << u"单号 %1 → %2"_s.arg(from, to);
    }
    return out.join(u'\n');
}
