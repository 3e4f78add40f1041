// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCache>
#include <QFont>
#include <QSize>
#include <QStaticText>
#include <QStyledItemDelegate>

// Draws the cells of a receipt list as the style draws them, but lays out each text once:
// a list shows the same texts on every repaint (and the same payee or payment method on
// many rows), and laying out the text is most of drawing a cell. A cell with an icon, a
// struck-through font, a line break or other control character, text that does not fit
// its column or a right-to-left layout is drawn by the style itself.
class ReceiptCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    struct Laid
    {
        QFont font;
        QStaticText text;
        bool simple = true; // one line of printable characters
        QSize sizeHint; // as the style gives it; empty until asked
    };
    // The text laid out in font, from the cache or now.
    Laid *laid(const QString &text, const QFont &font) const;
    // Whether the fast path draws this cell.
    static bool plain(const QStyleOptionViewItem &option);

    mutable QCache<QString, Laid> m_laid {4000};
};
