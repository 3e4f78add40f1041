// SPDX-License-Identifier: GPL-3.0-or-later
#include "combobox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QWindow>

namespace {

// On the drop-down's list: Down with no row highlighted highlights the first.
class PopupCursor : public QObject
{
public:
    explicit PopupCursor(QComboBox *comboBox)
        : QObject(comboBox)
        , m_comboBox(comboBox)
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The event's kind first: the box is not asked anything while it is being
        // destroyed, when its list is told of its children going.
        if (event->type() != QEvent::KeyPress)
            return false;
        QAbstractItemView *view = m_comboBox->view();
        if (watched != view || view->selectionModel()->hasSelection())
            return false;
        const auto *press = static_cast<QKeyEvent *>(event);
        if (press->key() != Qt::Key_Down || press->modifiers() != Qt::NoModifier)
            return false;
        const QModelIndex first = m_comboBox->model()->index(0, m_comboBox->modelColumn(),
                                                             m_comboBox->rootModelIndex());
        if (!first.isValid())
            return false;
        view->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
        return true;
    }

private:
    QComboBox *m_comboBox;
};

} // namespace

void showPopupCursor(QComboBox *comboBox)
{
    comboBox->view()->installEventFilter(new PopupCursor(comboBox));
}

ComboBox::ComboBox(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(true);
    // Return must not add the typed text to the offered list: the list belongs to its
    // lookup table and is changed only on its settings screen.
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(15);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);

    // A popup of the offered texts that contain what is typed; inline completion would
    // put characters the user did not type into the field. QComboBox takes the case
    // sensitivity of its completer for its own look-up of the typed text on Return and
    // on leaving the field: case-insensitive, it would turn a typed "abc" into an offered
    // "ABC".
    auto *completer = new QCompleter(model(), this);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    completer->setFilterMode(Qt::MatchContains);
    setCompleter(completer);

    // The completion popup swallows the press that closes it, and Qt replays that press
    // only where the popup could grab the pointer. The press is handed on here instead,
    // everywhere, so Qt must not replay it a second time.
    QAbstractItemView *popup = completer->popup();
    popup->setAttribute(Qt::WA_NoMouseReplay);
    popup->installEventFilter(this);
    // While the popup is open, the completer eats this box's focus-out, so a focus moved
    // to another widget without a press on the popup (a press Qt delivers straight to
    // that widget, a program moving the focus) would leave the popup open and taking the
    // keys, and the editing here unfinished.
    m_focusConnection = connect(
        qApp, &QApplication::focusChanged, this, [this, popup](QWidget *old, QWidget *now) {
            if (old != this || !now || isAncestorOf(now) || !popup->isVisible())
                return;
            popup->hide();
            if (m_editing) {
                QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
                QCoreApplication::sendEvent(this, &out);
            }
        });

    // Whatever changes the text other than setText and setItems comes from the user: a
    // keystroke, a pick from the drop-down, a pick or a highlight in the completion
    // popup. What the field shows is what the receipt gets. (QComboBox's own look-up on
    // Return and on leaving, now case-sensitive, only re-selects an offered text equal to
    // the shown one and changes no text.)
    connect(lineEdit(), &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_updating)
            Q_EMIT textEdited(text);
    });
    // Runs after QComboBox's own look-up (connected when the line edit was made), which
    // compares code units and keeps a stale index when nothing matches.
    connect(lineEdit(), &QLineEdit::editingFinished, this, &ComboBox::selectEqualItem);
    showPopupCursor(this);
}

void ComboBox::showPopup()
{
    selectEqualItem();
    QComboBox::showPopup();
}

ComboBox::~ComboBox()
{
    // The application outlives this box and may report a focus change while the base
    // class is being destroyed.
    disconnect(m_focusConnection);
}

void ComboBox::setItems(const QStringList &items)
{
    if (items == m_items)
        return;
    m_items = items;
    m_composedItems.clear();
    m_composedItems.reserve(items.size());
    for (const QString &item : items)
        m_composedItems.append(item.normalized(QString::NormalizationForm_C));
    const int index = indexOfItem(lineEdit()->text());
    changeKeepingText([this, items, index] {
        clear();
        addItems(items);
        setCurrentIndex(index);
    });
}

QString ComboBox::text() const
{
    return lineEdit()->text();
}

void ComboBox::setText(const QString &text)
{
    if (lineEdit()->text() == text)
        return;
    m_updating = true;
    {
        const QSignalBlocker blocker(this);
        lineEdit()->setText(text);
    }
    m_updating = false;
    selectEqualItem();
}

int ComboBox::indexOfItem(const QString &text) const
{
    return int(m_composedItems.indexOf(text.normalized(QString::NormalizationForm_C)));
}

bool ComboBox::eventFilter(QObject *watched, QEvent *event)
{
    QAbstractItemView *popup = completer()->popup();
    if (watched == popup && event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (!popup->rect().contains(press->position().toPoint())) {
            popup->hide();
            forwardPress(*press);
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void ComboBox::focusInEvent(QFocusEvent *event)
{
    QComboBox::focusInEvent(event);
    m_editing = true;
    Q_EMIT editingChanged(true);
}

void ComboBox::focusOutEvent(QFocusEvent *event)
{
    QComboBox::focusOutEvent(event);
    m_editing = false;
    Q_EMIT editingChanged(false);
}

// Makes the offered text equal to the shown one (or none) current, so the drop-down opens
// on it, without touching the text: a decomposed form the user typed stays decomposed.
void ComboBox::selectEqualItem()
{
    const int index = indexOfItem(lineEdit()->text());
    if (index != currentIndex())
        changeKeepingText([this, index] { setCurrentIndex(index); });
}

void ComboBox::changeKeepingText(const std::function<void()> &change)
{
    const QString shown = lineEdit()->text();
    const int cursor = lineEdit()->cursorPosition();
    m_updating = true;
    {
        const QSignalBlocker blocker(this);
        change();
        if (lineEdit()->text() != shown) {
            lineEdit()->setText(shown);
            lineEdit()->setCursorPosition(cursor);
        }
    }
    m_updating = false;
}

// Gives the press that closed the completion popup to the widget of this window under
// it, as if the popup had not been there: one click on another field both closes the
// popup and moves there.
void ComboBox::forwardPress(const QMouseEvent &press)
{
    QWidget *target = QApplication::widgetAt(press.globalPosition().toPoint());
    QWindow *handle = window()->windowHandle();
    if (!target || target->window() != window() || !handle)
        return;
    // A posted press is not spontaneous, and Qt moves the focus only for spontaneous
    // ones; this is its rule: the nearest enabled widget that takes focus by click.
    for (QWidget *widget = target; widget; widget = widget->parentWidget()) {
        if (widget->isEnabled() && (widget->focusPolicy() & Qt::ClickFocus) == Qt::ClickFocus) {
            widget->setFocus(Qt::MouseFocusReason);
            break;
        }
        if (widget->isWindow() || widget->hasFocus())
            break;
    }
    // Posted to the window, as Qt replays a press, so that the window tracks the pressed
    // widget and sends it the release.
    const QPointF local = handle->mapFromGlobal(press.globalPosition());
    auto *copy = new QMouseEvent(QEvent::MouseButtonPress, local, local, press.globalPosition(),
                                 press.button(), press.buttons(), press.modifiers(),
                                 press.pointingDevice());
    copy->setTimestamp(press.timestamp());
    QCoreApplication::postEvent(handle, copy);
}
