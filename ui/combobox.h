// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QStringList>

#include <functional>

class QMouseEvent;

// Keeps the cursor of the drop-down of `comboBox` in sight: with no entry current, Qt opens
// the list with an unshown cursor on its first row, and Down went on from there to the
// second. Down then highlights the first row.
void showPopupCursor(QComboBox *comboBox);

// An editable text field with a drop-down of offered texts (a lookup list) and
// completion from them. The user may type anything; nothing forces the text to be one
// of the offered texts. Every change the user makes (a keystroke, a pick from the
// drop-down or the completion popup) is reported by textEdited, so the form can write
// it to the receipt at once.
class ComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ComboBox(QWidget *parent = nullptr);
    ~ComboBox() override;

    // Replaces the offered texts, keeping what is typed and where the cursor is.
    void setItems(const QStringList &items);
    QStringList items() const { return m_items; }

    QString text() const;
    // Shows a text set from elsewhere (a loaded or blanked receipt) without reporting
    // it as an edit.
    void setText(const QString &text);

    // The index of the first offered text equal to `text` under Unicode canonical
    // equivalence (a composed and a decomposed form match), or -1.
    int indexOfItem(const QString &text) const;

    // Opens on the offered text equal to the typed one, highlighted: the text may have been
    // typed since the box last looked it up.
    void showPopup() override;

Q_SIGNALS:
    void textEdited(const QString &text);
    void editingChanged(bool editing);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void selectEqualItem();
    void changeKeepingText(const std::function<void()> &change);
    void forwardPress(const QMouseEvent &press);

    QStringList m_items;
    // m_items in composed form, as indexOfItem compares them: normalised once per list,
    // not on every text the form sets.
    QStringList m_composedItems;
    bool m_updating = false;
    bool m_editing = false; // has had a focus-in and no focus-out since
    QMetaObject::Connection m_focusConnection;
};
