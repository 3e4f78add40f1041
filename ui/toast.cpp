// SPDX-License-Identifier: GPL-3.0-or-later
#include "toast.h"

#include "icons.h"

#include <QAccessible>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

// Covers the whole window and swallows its input while the notification is up, the
// way a sheet holds its window.
class ToastOverlay : public QWidget
{
public:
    // `takesInput`: it holds the keyboard and the pointer; else both pass it by.
    ToastOverlay(QWidget *window, Toast::Kind kind, const QString &text, bool takesInput)
        : QWidget(window)
    {
        setObjectName(u"toastOverlay"_s);
        // It takes the focus, so a screen reader says the message.
        setAccessibleName(text);
        setAttribute(Qt::WA_NoMousePropagation);
        setAttribute(Qt::WA_TransparentForMouseEvents, !takesInput);
        setFocusPolicy(takesInput ? Qt::StrongFocus : Qt::NoFocus);
        setGeometry(window->rect());
        window->installEventFilter(this);

        auto *panel = new QFrame(this);
        panel->setObjectName(u"toastPanel"_s);
        panel->setAttribute(Qt::WA_TransparentForMouseEvents, !takesInput);
        panel->setStyleSheet(u"#toastPanel { background: palette(window); border: 1px solid "
                             u"palette(mid); border-radius: 8px; }"_s);
        auto *row = new QHBoxLayout(panel);
        row->setContentsMargins(18, 12, 18, 12);
        row->setSpacing(10);
        auto *icon = new QLabel(panel);
        icon->setPixmap(Icons::bundled(kind == Toast::Kind::Success ? u"checkmark.circle.fill"_s
                                                                    : u"xmark.circle.fill"_s)
                            .pixmap(22, 22));
        m_label = new QLabel(text, panel);
        m_label->setObjectName(u"toastText"_s);
        row->addWidget(icon);
        row->addWidget(m_label);

        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(0, 40, 0, 0);
        column->addWidget(panel, 0, Qt::AlignHCenter | Qt::AlignTop);
        column->addStretch();
    }

    void setText(const QString &text)
    {
        m_label->setText(text);
        setAccessibleName(text);
    }

protected:
    // Shortcuts reach the window before its focused widget: claiming every key here keeps
    // Ctrl+S and the like from acting behind the notification.
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        return QWidget::event(event);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parent() && event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        return false;
    }
    void keyPressEvent(QKeyEvent *) override { }
    void mousePressEvent(QMouseEvent *) override { }

private:
    QLabel *m_label;
};

} // namespace

Toast::Toast(Kind kind, std::chrono::milliseconds duration, QWidget *screen)
    : QObject(screen)
    , m_kind(kind)
    , m_duration(duration)
    , m_screen(screen)
    , m_timer(new QTimer(this))
{
    setObjectName(kind == Kind::Success ? u"successToast"_s : u"errorToast"_s);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Toast::close);
}

Toast::~Toast()
{
    delete m_overlay;
}

void Toast::show(const QString &text)
{
    show(text, Input::Taken);
}

void Toast::showLeavingFocus(const QString &text)
{
    show(text, Input::Left);
}

void Toast::show(const QString &text, Input input)
{
    m_text = text;
    QWidget *window = m_screen->window();
    if (m_overlay && m_input != input)
        delete m_overlay;
    m_input = input;
    if (m_overlay) {
        static_cast<ToastOverlay *>(m_overlay.data())->setText(text);
    } else {
        m_focusBefore = window->focusWidget();
        m_overlay = new ToastOverlay(window, m_kind, text, input == Input::Taken);
        m_overlay->show();
        m_overlay->raise();
        if (input == Input::Taken) {
            m_overlay->setFocus();
        } else {
            // Not focused, it would go unsaid: told to a screen reader as an alert.
            QAccessibleEvent alert(m_overlay, QAccessible::Alert);
            QAccessible::updateAccessibility(&alert);
        }
    }
    m_timer->start(m_duration);
    if (!m_shown) {
        m_shown = true;
        Q_EMIT shownChanged(true);
    }
}

void Toast::close()
{
    m_timer->stop();
    const bool hadFocus = m_overlay && m_overlay->window()->focusWidget() == m_overlay;
    delete m_overlay;
    // The keyboard user goes on where they were (the field a failed check was typed in)
    // rather than wherever Qt would move the focus of a deleted widget.
    if (hadFocus && m_focusBefore && m_focusBefore->isVisible())
        m_focusBefore->setFocus(Qt::OtherFocusReason);
    if (m_shown) {
        m_shown = false;
        Q_EMIT shownChanged(false);
    }
}
