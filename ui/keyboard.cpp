// SPDX-License-Identifier: GPL-3.0-or-later
#include "keyboard.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QShortcut>

using namespace Qt::StringLiterals;

namespace {

// The name the tooltip starts with: a text button's own text, an icon button's name.
QString actionName(const QAbstractButton *button)
{
    return button->text().isEmpty() ? button->accessibleName() : button->text();
}

// What leaving the focused field would have taken from it, taken before a shortcut acts:
// a key press does not move the focus, so the field would otherwise keep a value typed
// but not yet committed (a spin box's text, a line edit that commits on editingFinished).
void commitFocusedField()
{
    QWidget *focus = QApplication::focusWidget();
    if (auto *spinBox = qobject_cast<QAbstractSpinBox *>(focus)) {
        spinBox->interpretText();
    } else if (auto *lineEdit = qobject_cast<QLineEdit *>(focus)) {
        if (lineEdit->hasAcceptableInput())
            Q_EMIT lineEdit->editingFinished();
    }
}

// Sees the shortcut event before the button does.
class CommitBeforeShortcut : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Shortcut)
            commitFocusedField();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

QString Keyboard::toolTip(const QString &name, const QList<QKeySequence> &keys)
{
    return u"%1 (%2)"_s.arg(name, QKeySequence::listToString(keys, QKeySequence::NativeText));
}

void Keyboard::setShortcut(QAbstractButton *button, const QKeySequence &key)
{
    button->setShortcut(key);
    button->installEventFilter(new CommitBeforeShortcut(button));
    button->setToolTip(toolTip(actionName(button), {key}));
}

QShortcut *Keyboard::addScopedShortcut(QWidget *scope, const QKeySequence &key,
                                       QAbstractButton *button)
{
    auto *shortcut = new QShortcut(key, scope);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    // Hidden buttons are skipped too: the lookup editors hide 删除 while nothing is
    // selected rather than disabling it.
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isVisible() && button->isEnabled()) {
            commitFocusedField();
            button->click();
        }
    });
    button->setToolTip(toolTip(actionName(button), {key}));
    return shortcut;
}
