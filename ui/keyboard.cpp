#include "keyboard.h"

#include <QAbstractButton>
#include <QShortcut>

using namespace Qt::StringLiterals;

namespace {

// The name the tooltip starts with: a text button's own text, an icon button's name.
QString actionName(const QAbstractButton *button)
{
    return button->text().isEmpty() ? button->accessibleName() : button->text();
}

} // namespace

QString Keyboard::toolTip(const QString &name, const QList<QKeySequence> &keys)
{
    return u"%1 (%2)"_s.arg(name, QKeySequence::listToString(keys, QKeySequence::NativeText));
}

void Keyboard::setShortcut(QAbstractButton *button, const QKeySequence &key)
{
    button->setShortcut(key);
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
        if (button->isVisible() && button->isEnabled())
            button->click();
    });
    button->setToolTip(toolTip(actionName(button), {key}));
    return shortcut;
}
