#include "ThumbnailPainter.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

// The extension of a path without its dot; empty when the file name has none.
QString Extension(const QString& path)
{
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > slash ? path.mid(dot + 1) : QString();
}

// One line, cut with an ellipsis when it does not fit, centred when it does.
void DrawLine(QPainter& canvas, const QRect& rect, const QString& text)
{
    if (rect.width() <= 0 || rect.height() <= 0 || text.isEmpty()) return;
    const QFontMetrics metrics(canvas.font());
    QString line = text;
    line.replace(u'\n', u' ').replace(u'\r', u' ');
    int flags = Qt::AlignTop | Qt::TextSingleLine;
    if (metrics.horizontalAdvance(line) <= rect.width())
        flags |= Qt::AlignHCenter;
    else
        line = metrics.elidedText(line, Qt::ElideRight, rect.width());
    canvas.save();
    canvas.setClipRect(rect, Qt::IntersectClip);
    canvas.drawText(rect, flags, line);
    canvas.restore();
}

} // namespace

TThumbnailSkin TThumbnailSkin::Defaults()
{
    const QPalette palette = QApplication::palette();
    TThumbnailSkin skin;
    skin.Color = palette.color(QPalette::Base);
    skin.ActiveFontColor = palette.color(QPalette::Text);
    skin.InactiveFontColor = palette.color(QPalette::Disabled, QPalette::Text);
    skin.CaptionFont = QApplication::font();
    skin.CaptionFontColor = palette.color(QPalette::Text);
    skin.SelectionColor = palette.color(QPalette::Highlight);
    return skin;
}

TThumbnailPainter::TThumbnailPainter(TThumbnailSkin skin) : FSkin(std::move(skin)) {}

void TThumbnailPainter::Attach(TrkView* view)
{
    view->SetColor(FSkin.Color);
    if (FSkin.ThumbnailSize) {
        view->SetCellWidth(FSkin.ThumbnailSize->width());
        view->SetCellHeight(FSkin.ThumbnailSize->height());
    }
    view->OnHintShow = [this](TrkView* sender, int64_t idx, int column, QString& text, bool& show) {
        HintShow(sender, idx, column, text, show);
    };
    view->OnCellPaint = [this](TrkView* sender, QPainter& canvas, const QRect& cell, int idxA,
                               int64_t idx, TsvItemState state) {
        PaintCell(sender, canvas, cell, idxA, idx, state);
    };
    view->OnCellText = [this](TrkView* sender, int64_t idx, QString& text) {
        CellText(sender, idx, text);
    };
}

void TThumbnailPainter::Release(TrkView* view)
{
    view->OnHintShow = nullptr;
    view->OnCellPaint = nullptr;
    view->OnCellText = nullptr;
}

TThumbnailBook* TThumbnailPainter::Item(TrkView* view, int64_t value) const
{
    return OnGetItem ? OnGetItem(view, value) : nullptr;
}

QColor TThumbnailPainter::Blend(const QColor& c1, const QColor& c2, int n)
{
    auto channel = [n](int a, int b) {
        const float v = float(a) + float(n) * (float(b - a) / 5.0f);
        return std::clamp(int(std::lround(v)), 0, 255);
    };
    const QColor a = c1.toRgb();
    const QColor b = c2.toRgb();
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                  channel(a.blue(), b.blue()));
}

void TThumbnailPainter::PaintCell(TrkView* view, QPainter& canvas, const QRect& cell, int,
                                  int64_t idx, TsvItemState state)
{
    const QColor viewColor = view->Color();
    canvas.fillRect(cell, viewColor);
    const QRect r = cell.adjusted(4, 4, -4, -4);
    const bool selected = state != svNormal; // hot cells look selected

    if (selected && r.width() > 0 && r.height() > 0) {
        canvas.save();
        canvas.setPen(QPen(FSkin.FrameColor, 1));
        canvas.setBrush(FSkin.SelectionColor);
        if (FSkin.CornerSize > 0) {
            canvas.setRenderHint(QPainter::Antialiasing);
            const qreal radius = FSkin.CornerSize / 2.0;
            canvas.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
        } else {
            canvas.drawRect(r.adjusted(0, 0, -1, -1));
        }
        canvas.restore();
    }

    TThumbnailBook* item = Item(view, idx);
    if (!item) return;
    item->EnsureLoaded();

    const QImage cover = item->Cover();
    const bool hasImage = !cover.isNull();
    const int tw = hasImage ? cover.width() : DefaultThumbWidth;
    const int th = hasImage ? cover.height() : DefaultThumbHeight;
    int x = r.left() + (r.width() - tw) / 2;
    int y = r.top() + 12;

    if (FSkin.BorderWhenInvalid || hasImage) {
        const QColor background = selected ? FSkin.SelectionColor : viewColor;
        // The outermost ring has the background's colour, the innermost is nearest the
        // shadow's; each ring's inside is filled with the background.
        for (int n = 5; n >= 1; --n) {
            const QRect ring(x - n, y - n, tw + 2 * n, th + 2 * n);
            canvas.fillRect(ring, Blend(FSkin.ShadowColor, background, n));
            canvas.fillRect(ring.adjusted(1, 1, -1, -1), background);
        }
    }

    if (hasImage) {
        canvas.drawImage(x, y, cover);
    } else {
        const QString ext = Extension(item->FullPath()).toLower();
        QImage picture;
        if (!ext.isEmpty()) picture = FSkin.ExtensionImages.value(ext);
        if (picture.isNull()) picture = FSkin.InvalidImage;
        if (!picture.isNull()) {
            const QSize size = picture.deviceIndependentSize().toSize();
            canvas.drawImage(x + (tw - size.width()) / 2, y + (th - size.height()) / 2, picture);
        }
    }

    QRect text(QPoint(cell.left() + 16, cell.top() + 28 + th),
               QPoint(cell.left() + cell.width() - 16 - 1, cell.top() + cell.height() - 16 - 1));
    canvas.save();
    canvas.setBrush(Qt::NoBrush);
    QFont font = FSkin.CaptionFont;
    canvas.setFont(font);
    if (item->IsMissing())
        canvas.setPen(FSkin.InactiveFontColor);
    else if (selected)
        canvas.setPen(FSkin.ActiveFontColor);
    else
        canvas.setPen(FSkin.CaptionFontColor);

    const int h = QFontMetrics(font).height();
    const int gap = (text.height() - 2 * h) / 3;
    text.setTop(text.top() + gap);
    DrawLine(canvas, text, item->Name());

    text.setTop(text.top() + h + gap);
    font.setBold(false);
    canvas.setFont(font);
    DrawLine(canvas, text, item->Author());
    canvas.restore();
}

void TThumbnailPainter::HintShow(TrkView* view, int64_t idx, int, QString& text, bool& show)
{
    TThumbnailBook* item = Item(view, idx);
    if (!item) return;
    item->EnsureLoaded();
    text = item->Name();
    show = true;
    // Only names that the cell cuts get a hint.
    const QFontMetrics metrics(FSkin.CaptionFont);
    show = metrics.horizontalAdvance(text) > view->CellWidth() - 8;
}

void TThumbnailPainter::CellText(TrkView* view, int64_t idx, QString& text)
{
    TThumbnailBook* item = Item(view, idx);
    if (!item) return;
    item->EnsureLoaded();
    // The two lines the cell paints, in their order.
    text = item->Name();
    const QString author = item->Author();
    if (!author.isEmpty()) text += QStringLiteral(", ") + author;
}
