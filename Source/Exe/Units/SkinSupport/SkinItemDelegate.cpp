#include "SkinItemDelegate.h"

#include <QAbstractItemView>
#include <QPainter>

TSkinItemDelegate::TSkinItemDelegate(QAbstractItemView* view)
    : QStyledItemDelegate(view), FView(view)
{
}

void TSkinItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (BoldTopLevel) option->font.setBold(!index.parent().isValid());
    if (FocusedTextColor.isValid() && FView && FView->currentIndex().isValid() &&
        FView->currentIndex().row() == index.row() &&
        FView->currentIndex().parent() == index.parent() &&
        !index.data(Qt::ForegroundRole).isValid()) {
        option->palette.setColor(QPalette::Text, FocusedTextColor);
        option->palette.setColor(QPalette::HighlightedText, FocusedTextColor);
    }
}

void TSkinItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    // The row colour goes under the cell; the selection, when there is one, is drawn over it.
    const TColor row = (index.row() % 2 == 1 && OddRowColor != 0) ? OddRowColor : OtherRowColor;
    if (row != 0) {
        const QColor c = ColorToQColor(row);
        if (c.isValid()) painter->fillRect(option.rect, c);
    }
    QStyledItemDelegate::paint(painter, option, index);
    if (GridLines) {
        painter->save();
        painter->setPen(QPen(GridLineColor, 1, GridLineStyle));
        const QRect r = option.rect;
        painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        painter->drawLine(r.right(), r.top(), r.right(), r.bottom());
        painter->restore();
    }
}

QSize TSkinItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (ItemHeight > 0) size.setHeight(ItemHeight);
    return size;
}
