// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptcelldelegate.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>
#include <memory>

bool ReceiptCellDelegate::plain(const QStyleOptionViewItem &option)
{
    return option.icon.isNull() && !option.text.isEmpty() && !option.font.strikeOut()
        && !option.font.underline() && !(option.features & QStyleOptionViewItem::HasCheckIndicator)
        && !(option.features & QStyleOptionViewItem::WrapText)
        && option.direction == Qt::LeftToRight;
}

ReceiptCellDelegate::Laid *ReceiptCellDelegate::laid(const QString &text, const QFont &font) const
{
    Laid *found = m_laid.object(text);
    if (found && found->font == font)
        return found;
    auto made = std::make_unique<Laid>();
    made->font = font;
    made->text.setTextFormat(Qt::PlainText);
    made->text.setText(text);
    made->text.prepare({}, font);
    // A line break, a tab or another control character: the style's own way of showing it.
    made->simple = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    });
    Laid *kept = made.get();
    m_laid.insert(text, made.release());
    return kept;
}

void ReceiptCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QWidget *widget = cell.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    if (!plain(cell)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The text where and as the style draws it: in the style's rect for it, inside the
    // focus frame's margin; elided by the style when the column is too narrow.
    const QString shown = cell.text;
    cell.text.clear();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget)
                               .adjusted(margin, 0, -margin, 0);
    Laid *text = laid(shown, cell.font);
    if (!text->simple || text->text.size().width() > textRect.width()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The panel, the selection and the focus frame: the style's, without the text.
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
        : (cell.state & QStyle::State_Active)                               ? QPalette::Normal
                                                                             : QPalette::Inactive;
    // Placed as the style places a line: across the text's rect by the alignment (to the
    // fraction of a pixel), down it by the line's height in whole pixels.
    const qreal width = text->text.size().width();
    qreal x = textRect.x();
    if (cell.displayAlignment & Qt::AlignRight)
        x += textRect.width() - width;
    else if (cell.displayAlignment & Qt::AlignHCenter)
        x += (textRect.width() - width) / 2;
    const QRect line = QStyle::alignedRect(
        cell.direction, cell.displayAlignment & Qt::AlignVertical_Mask,
        QSize(textRect.width(), int(text->text.size().height())), textRect);
    painter->save();
    painter->setPen(cell.palette.color(group, (cell.state & QStyle::State_Selected)
                                                  ? QPalette::HighlightedText
                                                  : QPalette::Text));
    painter->setFont(cell.font);
    painter->drawStaticText(QPointF(x, line.top()), text->text);
    painter->restore();
}

QSize ReceiptCellDelegate::sizeHint(const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    if (!plain(cell))
        return QStyledItemDelegate::sizeHint(option, index);
    Laid *text = laid(cell.text, cell.font);
    if (!text->simple)
        return QStyledItemDelegate::sizeHint(option, index);
    if (text->sizeHint.isEmpty())
        text->sizeHint = QStyledItemDelegate::sizeHint(option, index);
    return text->sizeHint;
}
