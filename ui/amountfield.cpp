#include "amountfield.h"

#include <QAction>
#include <QLocale>
#include <QStyle>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {
// Also the partial forms met while typing ("-", ".", "12."), which parse() reads as 0 or
// as the digits so far.
const QRegularExpression &numberPattern()
{
    static const QRegularExpression pattern(u"[+-]?[0-9]*(\\.[0-9]*)?"_s);
    return pattern;
}
} // namespace

AmountField::AmountField(QWidget *parent)
    : QLineEdit(parent)
{
    setValidator(new QRegularExpressionValidator(numberPattern(), this));
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(displayText(0));
    connect(this, &QLineEdit::textEdited, this, &AmountField::onTextEdited);
}

std::optional<double> AmountField::parse(const QString &text)
{
    static const QRegularExpression whole(
        QRegularExpression::anchoredPattern(numberPattern().pattern()));
    if (!whole.match(text).hasMatch())
        return std::nullopt;
    bool hasDigit = false;
    for (const QChar c : text)
        hasDigit = hasDigit || c.isDigit();
    if (!hasDigit)
        return 0.0;
    QString plain = text;
    if (plain.endsWith(u'.'))
        plain.chop(1);
    bool ok = false;
    const double value = plain.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value == 0 ? 0.0 : value; // no "-0"
}

QString AmountField::displayText(double amount)
{
    QString text = QLocale().toString(amount, 'f', 3);
    const QString point = QLocale().decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(point))
            text.chop(point.size());
    }
    return text;
}

QString AmountField::editText(double amount)
{
    // Typing starts on an empty field rather than behind a "0" that would have to go.
    if (amount == 0)
        return {};
    return QString::number(amount, 'f', QLocale::FloatingPointShortest);
}

void AmountField::setUnreadable(bool unreadable)
{
    if (unreadable == m_unreadable)
        return;
    m_unreadable = unreadable;
    setToolTip(unreadable ? u"金额无法识别"_s : QString());
    // The warning sign sits at the field's left, away from the right-aligned digits.
    if (unreadable) {
        auto *action = addAction(style()->standardIcon(QStyle::SP_MessageBoxWarning),
                                 QLineEdit::LeadingPosition);
        action->setObjectName(u"unreadableAction"_s);
        action->setToolTip(u"金额无法识别"_s);
    } else if (QAction *action = findChild<QAction *>(u"unreadableAction"_s)) {
        removeAction(action);
        delete action;
    }
}

void AmountField::showUnreadable(const QString &storedText)
{
    setUnreadable(true);
    m_amount = 0;
    m_acceptedText = storedText;
    setText(storedText);
}

void AmountField::setAmount(double amount)
{
    setUnreadable(false);
    if (hasFocus()) {
        const std::optional<double> typed = parse(text());
        if (typed && *typed == amount) {
            m_amount = amount;
            return;
        }
        m_amount = amount;
        m_acceptedText = editText(amount);
        setText(m_acceptedText);
        return;
    }
    m_amount = amount;
    const QString shown = displayText(amount);
    if (text() != shown)
        setText(shown);
}

void AmountField::onTextEdited(const QString &text)
{
    const std::optional<double> value = parse(text);
    if (!value)
        return; // the validator lets nothing else through
    setUnreadable(false);
    if (std::abs(*value) >= refusedFrom) {
        const int cursor = std::min<int>(cursorPosition(), int(m_acceptedText.size()));
        setText(m_acceptedText);
        setCursorPosition(cursor);
        Q_EMIT amountRefused();
        return;
    }
    m_acceptedText = text;
    m_amount = *value;
    Q_EMIT amountEdited(*value);
}

void AmountField::focusInEvent(QFocusEvent *event)
{
    // An unreadable stored text stays, to be corrected or typed over.
    if (!m_unreadable) {
        m_acceptedText = editText(m_amount);
        setText(m_acceptedText);
    }
    QLineEdit::focusInEvent(event);
    if (m_unreadable)
        selectAll();
}

void AmountField::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (!m_unreadable)
        setText(displayText(m_amount));
}
