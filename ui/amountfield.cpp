// SPDX-License-Identifier: GPL-3.0-or-later
#include "amountfield.h"

#include "money.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QRegularExpression>
#include <QStyle>
#include <QValidator>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {
// Also the partial forms met while typing ("-", ".", "12."), which parse() reads as 0 or
// as the digits so far. Two decimals at most: the capitals and the paper name the fen,
// so a third decimal would make one receipt carry two amounts.
const QRegularExpression &numberPattern()
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(u"[+-]?[0-9]*(\\.[0-9]{0,2})?"_s));
    return pattern;
}

// What a Chinese input method or a copied figure brings, in the field's own terms:
// full-width digits, point and minus as their ASCII forms, the ideographic full stop as
// the point, and grouping commas and spaces dropped ("1,234.50" is 1234.50).
QString normalized(const QString &text)
{
    QString plain;
    plain.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0xFF10 && u <= 0xFF19)
            plain.append(QChar(u'0' + (u - 0xFF10)));
        else if (u == 0xFF0E || u == 0x3002)
            plain.append(u'.');
        else if (u == 0xFF0D || u == 0x2212)
            plain.append(u'-');
        else if (u == 0xFF0B)
            plain.append(u'+');
        else if (u == u',' || u == 0xFF0C || u == u' ' || u == 0x3000)
            continue;
        else
            plain.append(c);
    }
    return plain;
}

// Takes what is typed or pasted whole or not at all: an edit whose text, once
// normalized, is not an amount is refused by the line edit as one piece ("1e5" does not
// become 15).
class AmountValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        // QLineEdit asks its validator about texts the program sets as well: those (the
        // grouped display form, an unreadable stored text) are shown as they are.
        const auto *field = qobject_cast<const QWidget *>(parent());
        if (field && !field->hasFocus())
            return Acceptable;
        const QString plain = normalized(input);
        if (!numberPattern().match(plain).hasMatch())
            return Invalid;
        if (plain != input) {
            pos = int(normalized(input.left(pos)).size());
            input = plain;
        }
        return Acceptable;
    }
};
} // namespace

AmountField::AmountField(QWidget *parent)
    : QLineEdit(parent)
{
    setValidator(new AmountValidator(this));
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(displayText(0));
    connect(this, &QLineEdit::textEdited, this, &AmountField::onTextEdited);
}

std::optional<double> AmountField::parse(const QString &text)
{
    if (!numberPattern().match(text).hasMatch())
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
    // As the lists, the history and the totals show amounts.
    return Money::shown(amount);
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

void AmountField::keyPressEvent(QKeyEvent *event)
{
    if (!event->matches(QKeySequence::Paste))
        return QLineEdit::keyPressEvent(event);
    const QString before = text();
    const QString replaced = selectedText();
    QLineEdit::keyPressEvent(event);
    reportRefusedPaste(before, replaced);
}

void AmountField::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu();
    if (QAction *paste = menu->findChild<QAction *>(u"edit-paste"_s)) {
        const QString before = text();
        const QString replaced = selectedText();
        connect(
            paste, &QAction::triggered, this,
            [this, before, replaced] { reportRefusedPaste(before, replaced); },
            Qt::QueuedConnection);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void AmountField::reportRefusedPaste(const QString &before, const QString &replaced)
{
    // The line edit takes back an edit its validator refuses; an unchanged text after a
    // paste of something else is that refusal.
    const QString pasted = QGuiApplication::clipboard()->text();
    if (text() == before && !pasted.isEmpty() && normalized(pasted) != normalized(replaced))
        Q_EMIT pasteRefused(pasted);
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
