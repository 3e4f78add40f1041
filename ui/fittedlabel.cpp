// SPDX-License-Identifier: GPL-3.0-or-later
#include "fittedlabel.h"

#include <QEvent>
#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace {
constexpr qreal smallestScale = 0.5;
constexpr int gap = 12;
} // namespace

FittedLabel::FittedLabel(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setWordWrap(false);
}

void FittedLabel::keepClearOf(QWidget *row, const QList<QWidget *> &obstacles)
{
    m_baseFont = font();
    m_row = row;
    row->installEventFilter(this);
    for (QWidget *obstacle : obstacles) {
        m_obstacles.append(obstacle);
        obstacle->installEventFilter(this);
    }
    fit();
}

void FittedLabel::setFullText(const QString &text)
{
    m_fullText = text;
    setAccessibleName(text);
    setToolTip(QString());
    fit();
}

bool FittedLabel::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::LayoutRequest:
        fit();
        break;
    default:
        break;
    }
    return QLabel::eventFilter(watched, event);
}

void FittedLabel::fit()
{
    if (m_fitting || !m_row)
        return;
    m_fitting = true;
    // Centred where its parent is centred (its place in the row's layout): as wide as
    // twice the room between that centre and the nearest edge of an obstacle.
    const QWidget *place = parentWidget() && parentWidget() != m_row ? parentWidget() : this;
    const int centre = place->mapTo(m_row, place->rect().center()).x();
    int halfRoom = std::min(centre, m_row->width() - centre);
    for (const QPointer<QWidget> &obstacle : std::as_const(m_obstacles)) {
        if (!obstacle || !obstacle->isVisible())
            continue;
        const QRect placed(obstacle->mapTo(m_row, QPoint(0, 0)), obstacle->size());
        if (placed.right() < centre)
            halfRoom = std::min(halfRoom, centre - placed.right() - gap);
        else if (placed.left() > centre)
            halfRoom = std::min(halfRoom, placed.left() - centre - gap);
    }
    const int room = std::max(1, 2 * halfRoom);
    // A few pixels short of the room: rounding the shrunk size must not make it elide.
    const qreal usable = std::max(1, room - 4);
    const qreal natural = QFontMetricsF(m_baseFont).horizontalAdvance(m_fullText);
    m_scale = natural > usable ? std::max(smallestScale, usable / natural * 0.98) : 1.0;
    QFont drawn = m_baseFont;
    if (drawn.pixelSize() > 0)
        drawn.setPixelSize(std::max(1, int(std::floor(drawn.pixelSize() * m_scale))));
    else
        drawn.setPointSizeF(drawn.pointSizeF() * m_scale);
    setFont(drawn);
    const QString shown = QFontMetricsF(drawn).elidedText(m_fullText, Qt::ElideRight, room);
    setText(shown);
    setToolTip(shown != m_fullText ? m_fullText : QString());
    setMaximumWidth(room);
    m_fitting = false;
}
