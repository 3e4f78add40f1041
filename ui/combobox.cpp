#include "combobox.h"

#include <QCompleter>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStringListModel>

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
    // put characters the user did not type into the field.
    auto *completer = new QCompleter(this);
    completer->setModel(model());
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    setCompleter(completer);

    connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString &text) {
        if (!m_updating)
            Q_EMIT textEdited(text);
    });
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_items.size())
            Q_EMIT textEdited(m_items.at(index));
    });
    connect(completer, qOverload<const QString &>(&QCompleter::activated), this,
            [this](const QString &text) {
                if (!m_updating)
                    Q_EMIT textEdited(text);
            });
}

void ComboBox::setItems(const QStringList &items)
{
    if (items == m_items)
        return;
    m_items = items;
    const QString typed = lineEdit()->text();
    const int cursor = lineEdit()->cursorPosition();
    m_updating = true;
    {
        const QSignalBlocker blocker(this);
        clear();
        addItems(items);
        setCurrentIndex(-1);
        lineEdit()->setText(typed);
        lineEdit()->setCursorPosition(cursor);
    }
    m_updating = false;
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
}

int ComboBox::indexOfItem(const QString &text) const
{
    const QString wanted = text.normalized(QString::NormalizationForm_C);
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items.at(i).normalized(QString::NormalizationForm_C) == wanted)
            return i;
    }
    return -1;
}

void ComboBox::focusInEvent(QFocusEvent *event)
{
    QComboBox::focusInEvent(event);
    Q_EMIT editingChanged(true);
}

void ComboBox::focusOutEvent(QFocusEvent *event)
{
    QComboBox::focusOutEvent(event);
    Q_EMIT editingChanged(false);
}
