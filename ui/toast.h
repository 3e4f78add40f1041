// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>

class QLabel;
class QTimer;
class QWidget;

// A transient notification: an icon and a message on a panel over the screen's window,
// which takes no other input until the panel closes by itself after its duration.
// Each screen owns one per kind ("successToast", "errorToast"); tests find them by
// object name and read text() and isShown().
class Toast : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool shown READ isShown NOTIFY shownChanged)

public:
    enum class Kind { Success, Error };

    Toast(Kind kind, std::chrono::milliseconds duration, QWidget *screen);
    ~Toast() override;

    // Shows `text`; a second call while shown replaces the text and starts the
    // duration again.
    void show(const QString &text);
    // Shows `text` on a panel that takes neither the keyboard nor the pointer: the field
    // the focus was put in first (the one a failed check names) takes the typing at once,
    // rather than losing it to the panel until it closes.
    void showLeavingFocus(const QString &text);
    void close();

    bool isShown() const { return m_shown; }
    QString text() const { return m_text; }
    Kind kind() const { return m_kind; }
    std::chrono::milliseconds duration() const { return m_duration; }

Q_SIGNALS:
    void shownChanged(bool shown);

private:
    enum class Input { Taken, Left };
    void show(const QString &text, Input input);

    Kind m_kind;
    std::chrono::milliseconds m_duration;
    QWidget *m_screen;
    QTimer *m_timer;
    QPointer<QWidget> m_overlay;
    QPointer<QWidget> m_focusBefore;
    QString m_text;
    Input m_input = Input::Taken;
    bool m_shown = false;
};
