#include "SkinItemDelegate.h"

#include <QAbstractItemView>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// The relative luminance of a colour, as contrast ratios are defined on it.
double Luminance(const QColor& c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QColor ReadableTextColor(const QColor& background, const QColor& preferred)
{
    if (preferred.isValid() && Contrast(preferred, background) >= 4.5) return preferred;
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    return Contrast(black, background) >= Contrast(white, background) ? black : white;
}

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
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            option->palette.setColor(
                group, QPalette::HighlightedText,
                ReadableTextColor(option->palette.color(group, QPalette::Highlight),
                                  FocusedTextColor));
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
