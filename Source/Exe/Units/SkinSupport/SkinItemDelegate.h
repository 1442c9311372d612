#pragma once

#include "Skins.h"

#include <QColor>
#include <QPointer>
#include <QStyledItemDelegate>

class QAbstractItemView;

// A text colour that reads on `background`: `preferred` when it stands out clearly enough
// (a contrast ratio of at least 4.5 to 1), otherwise black or white, whichever stands out more.
// Skins choose selection colours freely; the text drawn on them must follow.
QColor ReadableTextColor(const QColor& background, const QColor& preferred);

// Draws the cells of a skinned tree or list: the standard cell, plus the skin's colour for the
// focused row's text, bold top-level nodes, alternating row colours and grid lines, and the
// skin's row height. What the model says about a cell (a missing book's grey) still wins.
// On a selected focused row the skin's focus colour is used only where it reads on the
// selection; a skin's text colour is made for its background, not for its selection.
class TSkinItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit TSkinItemDelegate(QAbstractItemView* view);

    QColor FocusedTextColor;   // invalid: the palette's
    bool BoldTopLevel = false; // top-level nodes bold, deeper ones not
    TColor OddRowColor = 0;    // the second, fourth, ... row; 0: none
    TColor OtherRowColor = 0;  // every other row (and odd rows without a colour); 0: none
    int ItemHeight = 0;        // 0: the cell's own height
    bool GridLines = false;
    QColor GridLineColor{0, 0, 0};
    Qt::PenStyle GridLineStyle = Qt::SolidLine;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QPointer<QAbstractItemView> FView;
};
