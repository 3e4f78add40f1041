// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QList>
#include <QPointer>

// A one-line label centred in its row that gives way to the widgets beside it: it keeps
// clear of them, shrinking its font (down to half) and, past that, eliding. The receipt
// title does this so that a long title never runs over the receipt number.
class FittedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit FittedLabel(QWidget *parent);

    // The row the label is centred in, and the widgets in that row it must not overlap.
    // Call after the label's font is set: that is the size the text is drawn at when
    // there is room.
    void keepClearOf(QWidget *row, const QList<QWidget *> &obstacles);
    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }
    // The font size the text is drawn at, as a share of the label's own font size.
    qreal scale() const { return m_scale; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fit();

    QString m_fullText;
    QFont m_baseFont;
    QPointer<QWidget> m_row;
    QList<QPointer<QWidget>> m_obstacles;
    qreal m_scale = 1;
    bool m_fitting = false;
};
