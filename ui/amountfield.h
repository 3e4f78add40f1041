// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineEdit>

#include <optional>

// The entry form's number field for an amount of yuan. It takes only what reads as a
// decimal number with at most two decimals (optional sign, digits, one point; full-width
// forms and grouping commas are read as such) and reports each accepted edit as the
// number typed, so the receipt holds exactly what was typed. While it has no focus
// it shows the amount as the lists do (12,345.60); editing shows the plain digits.
class AmountField : public QLineEdit
{
    Q_OBJECT

public:
    // The largest amount the capitals are written for is just below 10^12 yuan; an
    // amount that rounds to 10^12 at the fen is refused.
    static constexpr double refusedFrom = 999999999999.995;

    explicit AmountField(QWidget *parent);

    // Shows an amount set from elsewhere (a load, a blank form). While the user types,
    // a value equal to what the field holds leaves the text alone, so "12." stays as
    // typed when its 12 comes back from the store.
    void setAmount(double amount);
    // Shows a stored amount the program could not read, as it is stored and marked, so
    // that the user types it again; amount() is 0 until then.
    void showUnreadable(const QString &storedText);
    bool isUnreadable() const { return m_unreadable; }
    double amount() const { return m_amount; }

    // The number a typed text stands for: empty text, a lone sign or point count as 0;
    // nothing when the text is not a number.
    static std::optional<double> parse(const QString &text);
    static QString displayText(double amount);
    static QString editText(double amount);

Q_SIGNALS:
    void amountEdited(double amount);
    // A typed amount too large to write in capitals; the field went back to the last
    // accepted text.
    void amountRefused();
    // A paste that is not an amount was refused whole.
    void pasteRefused(const QString &pasted);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void onTextEdited(const QString &text);

    void setUnreadable(bool unreadable);
    void reportRefusedPaste(const QString &before, const QString &replaced);

    double m_amount = 0;
    QString m_acceptedText;
    bool m_unreadable = false;
};
