#include "Subclasses.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPaintEvent>
#include <QPixmap>
#include <QWidget>

#include "rkView.h"
#include "SkinItemDelegate.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QTreeView>

#include <algorithm>

// ---------------------------------------------------------------------------------------------

void TControlSubclass::Install()
{
    if (FInstalled || !Control()) return;
    Control()->installEventFilter(this);
    FInstalled = true;
}

void TControlSubclass::Uninstall()
{
    if (!FInstalled) return;
    if (Control()) Control()->removeEventFilter(this);
    FInstalled = false;
}

bool TControlSubclass::HandleMessage(QEvent*)
{
    return false;
}

bool TControlSubclass::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Control() && Manager()) return HandleMessage(event);
    return false;
}

void TWinControlSubclass::Install()
{
    TControlSubclass::Install();
    if (!Control()) return;
    const QMargins margins = FrameMargins();
    if (margins.isNull()) return;
    FSavedMargins = Control()->contentsMargins();
    FMarginsSet = true;
    Control()->setContentsMargins(margins);
    Control()->update();
}

void TWinControlSubclass::Uninstall()
{
    if (FMarginsSet && Control()) {
        Control()->setContentsMargins(FSavedMargins);
        Control()->update();
    }
    FMarginsSet = false;
    TControlSubclass::Uninstall();
}

// ---------------------------------------------------------------------------------------------

void TDrawingSubclass::Refresh()
{
    if (Control()) Control()->update();
}

QRect TDrawingSubclass::AdjustClientRect(const QRect& rect) const
{
    return rect;
}

void TDrawingSubclass::PaintBorder(QPainter&, const QRect&) const {}
void TDrawingSubclass::PaintBackground(QPainter&, const QRect&) const {}
void TDrawingSubclass::PaintClient(QPainter&, const QRect&) const {}

QMargins TDrawingSubclass::FrameMargins() const
{
    if (!(PaintParts() & ppFrame)) return {};
    // The frame's room is what AdjustClientRect takes from a rectangle.
    const QRect outer(0, 0, 10000, 10000);
    const QRect inner = AdjustClientRect(outer);
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

bool TDrawingSubclass::HandleMessage(QEvent* event)
{
    if (event->type() != QEvent::Paint) return false;
    const int parts = PaintParts();
    if (!(parts & (ppErase | ppPaint | ppFrame))) return false;
    QWidget* control = Control();
    // The contents first: our fill when we take it over, otherwise the control's own painting.
    if (parts & (ppErase | ppPaint)) {
        QPainter painter(control);
        const QRect client = control->contentsRect();
        if (parts & ppErase) PaintBackground(painter, client);
        if (parts & ppPaint) PaintClient(painter, client);
    } else {
        // The control's own handler, reached past the filters so this hook is not re-entered.
        static_cast<QObject*>(control)->event(event);
    }
    if (parts & ppFrame) {
        QPainter painter(control);
        const QRect whole = control->rect();
        // The frame is drawn around the contents only, never over them.
        painter.setClipRegion(QRegion(whole).subtracted(QRegion(AdjustClientRect(whole))));
        PaintBorder(painter, whole);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

void TBorderDrawingSubclass::ReadSkin()
{
    FBackground = QImage();
    FOffset = {};
}

void TBorderDrawingSubclass::ReadFrame()
{
    const QImage* background = nullptr;
    FBackground = Manager()->GetBitmap(Section(), QStringLiteral("Background"), background)
                      ? *background
                      : QImage();
    if (!Manager()->GetRect(Section(), QStringLiteral("Offset"), FOffset)) FOffset = {};
}

QRect TBorderDrawingSubclass::AdjustClientRect(const QRect& rect) const
{
    // Without a picture there is no frame, so the contents keep the whole control.
    if (FBackground.isNull()) return rect;
    const int w = LogicalSize(FBackground).width();
    const int h = LogicalSize(FBackground).height();
    int x0 = rect.left(), y0 = rect.top(), x1 = rect.left() + rect.width(),
        y1 = rect.top() + rect.height();
    if (FOffset.Top > 0) y0 += FOffset.Top;
    if (FOffset.Left > 0) x0 += FOffset.Left;
    if (FOffset.Right > 0) x1 -= w - FOffset.Right;
    if (FOffset.Bottom > 0) y1 -= h - FOffset.Bottom;
    return QRect(x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
}

void TBorderDrawingSubclass::PaintBorder(QPainter& painter, const QRect& rect) const
{
    if (FBackground.isNull()) return;
    const QImage& bmp = FBackground;
    const int w = LogicalSize(bmp).width(), h = LogicalSize(bmp).height();
    // A switched-off side is 0 wide; a negative offset counts as 0 in every piece.
    const int left = std::max(FOffset.Left, 0), top = std::max(FOffset.Top, 0);
    const int right = FOffset.Right, bottom = FOffset.Bottom;
    const int r = right >= 1 ? right : w;
    const int b = bottom >= 1 ? bottom : h;
    const int x0 = rect.left(), y0 = rect.top();
    const int x1 = rect.left() + rect.width(), y1 = rect.top() + rect.height();
    const auto stretch = [&](QRect dst, QRect src) {
        if (dst.width() > 0 && dst.height() > 0 && src.width() > 0 && src.height() > 0)
            painter.drawImage(QRectF(dst), bmp, DeviceRect(bmp, src));
    };
    const auto copy = [&](QPoint at, QRect src) {
        if (src.width() > 0 && src.height() > 0)
            painter.drawImage(QRectF(at, src.size()), bmp, DeviceRect(bmp, src));
    };
    const int edgeHeight = (y1 - y0) - top - (h - b);
    const int edgeWidth = (x1 - x0) - left - (w - r);
    if (FOffset.Left > 0) {
        stretch(QRect(x0, y0 + top, left, edgeHeight), QRect(0, top, left, b - top));
        if (FOffset.Top > 0) copy(QPoint(x0, y0), QRect(0, 0, left, top));
        if (bottom > 0) copy(QPoint(x0, y1 - (h - bottom)), QRect(0, bottom, left, h - bottom));
    }
    if (right > 0) {
        const int d = w - right;
        stretch(QRect(x1 - d, y0 + top, d, edgeHeight), QRect(right, top, d, b - top));
        if (FOffset.Top > 0) copy(QPoint(x1 - d, y0), QRect(right, 0, d, top));
        if (bottom > 0)
            copy(QPoint(x1 - d, y1 - (h - bottom)), QRect(right, bottom, d, h - bottom));
    }
    if (FOffset.Top > 0)
        stretch(QRect(x0 + left, y0, edgeWidth, top), QRect(left, 0, r - left, top));
    if (bottom > 0)
        stretch(QRect(x0 + left, y1 - (h - bottom), edgeWidth, h - bottom),
                QRect(left, bottom, r - left, h - bottom));
}

void TBorderDrawingSubclass::PaintBackground(QPainter& painter, const QRect& rect) const
{
    if (FBackground.isNull()) return;
    const int left = std::max(FOffset.Left, 0), top = std::max(FOffset.Top, 0);
    const int r = FOffset.Right >= 1 ? FOffset.Right : LogicalSize(FBackground).width();
    const int b = FOffset.Bottom >= 1 ? FOffset.Bottom : LogicalSize(FBackground).height();
    const QRect centre(left, top, r - left, b - top);
    if (centre.width() > 0 && centre.height() > 0 && !rect.isEmpty())
        painter.drawImage(QRectF(rect), FBackground, DeviceRect(FBackground, centre));
}

void TBorderDrawingSubclass::PaintClient(QPainter& painter, const QRect& rect) const
{
    PaintBackground(painter, rect);
}

// ---------------------------------------------------------------------------------------------

void SetControlColor(QWidget* control, TColor color)
{
    const QColor c = ColorToQColor(color);
    if (!control || !c.isValid()) return;
    QPalette palette = control->palette();
    palette.setColor(QPalette::Window, c);
    control->setPalette(palette);
    control->setAutoFillBackground(true);
}

void TToolbarSubclass::ReadSkin()
{
    TBorderDrawingSubclass::ReadSkin();
    ReadFrame();
    if (FBackground.isNull()) return;
    const QImage& bmp = FBackground;
    const int w = LogicalSize(bmp).width(), h = LogicalSize(bmp).height();
    const auto slice = [&](int x, int width) {
        auto* label = new QLabel(Control());
        label->setObjectName(QStringLiteral("SkinSlice"));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (width > 0) {
            QImage piece = bmp.copy(DeviceRect(bmp, QRect(x, 0, width, h)).toRect());
            piece.setDevicePixelRatio(bmp.devicePixelRatio());
            label->setPixmap(QPixmap::fromImage(piece));
        }
        label->setScaledContents(true);
        label->lower();
        label->show();
        return label;
    };
    const int left = std::clamp(FOffset.Left, 0, w);
    const int right = std::clamp(FOffset.Right, left, w);
    // Made middle first so that, sent to the back one after the other, the ends stay on top.
    FMiddle = slice(left, right - left);
    FLeft = slice(0, left);
    FRight = slice(right, w - right);
    Arrange();
}

void TToolbarSubclass::Arrange()
{
    if (!FLeft || !FMiddle || !FRight || !Control()) return;
    const int height = Control()->height();
    const auto widthOf = [](const QLabel* label) {
        return label->pixmap().isNull() ? 0
                                        : qRound(label->pixmap().deviceIndependentSize().width());
    };
    const int leftWidth = widthOf(FLeft);
    const int rightWidth = widthOf(FRight);
    const int width = Control()->width();
    FLeft->setGeometry(0, 0, leftWidth, height);
    FRight->setGeometry(width - rightWidth, 0, rightWidth, height);
    FMiddle->setGeometry(leftWidth, 0, std::max(0, width - leftWidth - rightWidth), height);
}

bool TToolbarSubclass::HandleMessage(QEvent* event)
{
    if (event->type() == QEvent::Resize) Arrange();
    return false;
}

void TNavigatorSubclass::ReadSkin()
{
    TBorderDrawingSubclass::ReadSkin();
    ReadFrame();
    const QImage* splitter = nullptr;
    FSplitter = Manager()->GetBitmap(Section(), QStringLiteral("Splitter"), splitter) ? *splitter
                                                                                      : QImage();
    SetControlColor(Control(), Manager()->GetColor(Section(), QStringLiteral("Color"), clBtnFace));
    // The pointer's shape follows the sizing edge even with no button held.
    if (!FBackground.isNull() && FOffset.Right > 0 && !Control()->hasMouseTracking()) {
        Control()->setMouseTracking(true);
        FTrackingSet = true;
    }
}

void TNavigatorSubclass::PaintBorder(QPainter& painter, const QRect& rect) const
{
    TBorderDrawingSubclass::PaintBorder(painter, rect);
    if (FSplitter.isNull() || FOffset.Right <= 0) return;
    const int x1 = rect.left() + rect.width();
    const QSize size = LogicalSize(FSplitter);
    painter.drawImage(
        QRectF(QPointF(x1 - size.width(), rect.top() + (rect.height() - size.height()) / 2), size),
        FSplitter);
}

void TNavigatorSubclass::Release()
{
    if (FTrackingSet && Control()) Control()->setMouseTracking(false);
    FTrackingSet = false;
}

bool TNavigatorSubclass::HandleMessage(QEvent* event)
{
    QWidget* pane = Control();
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (FDragging) {
            DragTo(qRound(e->globalPosition().x()));
            return true;
        }
        if (OnSizingEdge(qRound(e->position().x())))
            pane->setCursor(Qt::SizeHorCursor);
        else
            pane->unsetCursor();
        break;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton && OnSizingEdge(qRound(e->position().x()))) {
            FDragging = true;
            FDragStartX = qRound(e->globalPosition().x());
            FDragStartWidth = pane->width();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (FDragging && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            FDragging = false;
            return true;
        }
        break;
    case QEvent::Leave:
        if (!FDragging) pane->unsetCursor();
        break;
    default:
        break;
    }
    return TBorderDrawingSubclass::HandleMessage(event);
}

void TNavigatorSubclass::DragTo(int globalX)
{
    QWidget* pane = Control();
    const int wanted = std::max(pane->minimumWidth(), FDragStartWidth + globalX - FDragStartX);
    auto* splitter = qobject_cast<QSplitter*>(pane->parentWidget());
    const int index = splitter ? splitter->indexOf(pane) : -1;
    if (!splitter || index < 0 || index + 1 >= splitter->count()) {
        pane->resize(std::min(wanted, pane->maximumWidth()), pane->height());
        return;
    }
    QList<int> sizes = splitter->sizes();
    const int total = sizes[index] + sizes[index + 1];
    const int neighbourMin = splitter->widget(index + 1)->minimumSizeHint().width();
    const int width = std::clamp(wanted, 0, std::max(0, total - neighbourMin));
    sizes[index] = width;
    sizes[index + 1] = total - width;
    splitter->setSizes(sizes);
}

bool TNavigatorSubclass::OnSizingEdge(int x) const
{
    if (FBackground.isNull() || FOffset.Right <= 0 || !Control()) return false;
    return LogicalSize(FBackground).width() - FOffset.Right >= Control()->width() - x;
}

void TTreeContainerSubclass::ReadSkin()
{
    TBorderDrawingSubclass::ReadSkin();
    ReadFrame();
    SetControlColor(Control(), Manager()->GetColor(Section(), QStringLiteral("Color"), clBtnFace));
}

void TClientContainerSubclass::ReadSkin()
{
    TTreeContainerSubclass::ReadSkin();
    const TSkinFont* font = nullptr;
    if (Manager()->GetFont(Section(), QStringLiteral("Font"), font)) {
        Control()->setFont(font->Font);
        QPalette palette = Control()->palette();
        const QColor c = ColorToQColor(font->Color);
        if (c.isValid()) {
            palette.setColor(QPalette::WindowText, c);
            palette.setColor(QPalette::Text, c);
            Control()->setPalette(palette);
        }
    }
}

// ---------------------------------------------------------------------------------------------

QImage TransparentPicture(const QImage& picture)
{
    if (picture.isNull() || picture.hasAlphaChannel()) return picture;
    return KeyedOut(picture, picture.pixel(0, picture.height() - 1));
}

TThumbnailSubclass::TThumbnailSubclass(TSkinManager* manager, QWidget* control,
                                       const QString& section)
    : TScrollableSubclass(manager, control, section)
{
}

TThumbnailSubclass::~TThumbnailSubclass() = default;

void TThumbnailSubclass::ReadSkin()
{
    TScrollableSubclass::ReadSkin();
    auto* view = qobject_cast<TrkView*>(Control());
    if (!view) throw std::invalid_argument("the thumbnail subclass needs a thumbnail view");
    TSkinManager& skins = *Manager();
    const QString& s = Section();
    const auto color = [&](const char* key, TColor fallback) {
        return ColorToQColor(skins.GetColor(s, QLatin1String(key), fallback));
    };
    // Three colours of this section are plain numbers, not colour names.
    const auto number = [&](const char* key, TColor fallback) {
        return ColorToQColor(skins.GetInteger(s, QLatin1String(key), fallback));
    };

    TThumbnailSkin skin = TThumbnailSkin::Defaults();
    skin.Color = color("Color", clWindow);
    skin.ActiveFontColor = color("ActiveFontColor", clWindowText);
    skin.InactiveFontColor = color("InactiveFontColor", clGrayText);
    QPoint size;
    if (skins.GetPoint(s, QStringLiteral("ThumbnailSize"), size))
        skin.ThumbnailSize = QSize(std::clamp(size.x(), 1, MaxSkinCellSize),
                                   std::clamp(size.y(), 1, MaxSkinCellSize));
    // Without a font of its own the view's font is used, in the window's text colour.
    skin.CaptionFont = view->font();
    const TSkinFont* font = nullptr;
    if (skins.GetFont(s, QStringLiteral("Font"), font)) {
        skin.CaptionFont = font->Font;
        skin.CaptionFontColor = ColorToQColor(font->Color);
    }
    skin.CornerSize = std::clamp(skins.GetInteger(s, QStringLiteral("CornerSize"), 0), 0,
                                 MaxSkinCellSize);
    skin.SelectionColor = number("SelectionColor", clHighlight);
    skin.FrameColor = number("FrameColor", clWhite);
    skin.ShadowColor = number("ShadowColor", clWhite);
    skin.BorderWhenInvalid = skins.GetBool(s, QStringLiteral("ThumbnailBorderWhenInvalid"), false);
    const QImage* picture = nullptr;
    if (skins.GetBitmap(s, QStringLiteral("InvalidImage"), picture))
        skin.InvalidImage = TransparentPicture(*picture);
    // The placeholders of books without a cover, by file extension. Keys of "Images" that
    // name no picture (the tool buttons' offsets) simply give none.
    const QString images = QStringLiteral("Images");
    for (const QString& key : skins.Keys(images)) {
        if (skins.GetBitmap(images, key, picture))
            skin.ExtensionImages.insert(key, TransparentPicture(*picture));
    }

    FPainter = std::make_unique<TThumbnailPainter>(skin);
    FPainter->OnGetItem = [this](TrkView* sender, int64_t value) -> TThumbnailBook* {
        return OnGetItem ? OnGetItem(sender, value) : nullptr;
    };
    FPainter->Attach(view);
}

void TThumbnailSubclass::Release()
{
    if (auto* view = qobject_cast<TrkView*>(Control()); view && FPainter) FPainter->Release(view);
}

// ---------------------------------------------------------------------------------------------

TVirtualTreeSubclass::TVirtualTreeSubclass(TSkinManager* manager, QWidget* control,
                                           const QString& section)
    : TScrollableSubclass(manager, control, section)
{
}

TVirtualTreeSubclass::~TVirtualTreeSubclass()
{
    // Freed with its view when the view goes first; otherwise Release has handed the view its
    // old delegate back and ours is no longer used.
    if (FDelegate && !FDelegate->parent()) delete FDelegate.data();
}

const TSkinItemDelegate* TVirtualTreeSubclass::Delegate() const
{
    return FDelegate.data();
}

QTreeView* TVirtualTreeSubclass::View() const
{
    auto* view = qobject_cast<QTreeView*>(Control());
    if (!view) throw std::invalid_argument("a tree or list subclass needs a tree view");
    return view;
}

void TVirtualTreeSubclass::ReadCommon(bool gridLines)
{
    QTreeView* view = View();
    TSkinManager& skins = *Manager();
    const QString& s = Section();
    const auto color = [&](const char* key, TColor fallback) {
        return ColorToQColor(skins.GetColor(s, QLatin1String(key), fallback));
    };
    auto delegate = std::make_unique<TSkinItemDelegate>(view);

    const TSkinFont* font = nullptr;
    QPalette palette = view->palette();
    if (skins.GetFont(s, QStringLiteral("Font"), font)) {
        view->setFont(font->Font);
        const QColor c = ColorToQColor(font->Color);
        if (c.isValid()) palette.setColor(QPalette::Text, c);
    }
    if (skins.HasValue(s, QStringLiteral("LineStyle"))) {
        const int style = skins.GetInteger(s, QStringLiteral("LineStyle"), 0);
        if (gridLines && (style == 1 || style == 2)) {
            delegate->GridLines = true;
            delegate->GridLineStyle = style == 1 ? Qt::DotLine : Qt::SolidLine;
            if (style == 2) delegate->GridLineColor = color("LineColor", clBlack);
        }
    }
    delegate->FocusedTextColor = color("ActiveFontColor", clWindowText);
    FInactiveFontColor = color("InactiveFontColor", clGrayText);
    const QColor base = color("Color", clWindow);
    if (base.isValid()) palette.setColor(QPalette::Base, base);
    if (skins.HasValue(s, QStringLiteral("SelectionColor"))) {
        const QColor selection = color("SelectionColor", clHighlight);
        palette.setColor(QPalette::Active, QPalette::Highlight, selection);
        palette.setColor(QPalette::Inactive, QPalette::Highlight, selection);
    }
    if (skins.HasValue(s, QStringLiteral("InactiveSelectionColor")))
        palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         color("InactiveSelectionColor", clHighlight));
    // The desktop's highlighted text is chosen for the desktop's highlight; on the skin's
    // selection colours the selected rows take the skin's text where it reads on them.
    if (skins.HasValue(s, QStringLiteral("SelectionColor")) ||
        skins.HasValue(s, QStringLiteral("InactiveSelectionColor")))
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::HighlightedText,
                             ReadableTextColor(palette.color(group, QPalette::Highlight),
                                               palette.color(group, QPalette::Text)));
    // A height is a number read with the colour syntax, as the skin files have always had it.
    if (skins.HasValue(s, QStringLiteral("ItemHeight")))
        delegate->ItemHeight =
            std::clamp(skins.GetColor(s, QStringLiteral("ItemHeight"), 0), 0, MaxSkinCellSize);
    view->setPalette(palette);

    FDelegate = delegate.release();
    FPrevious = view->itemDelegate();
    view->setItemDelegate(FDelegate);
}

void TVirtualTreeSubclass::Release()
{
    auto* view = qobject_cast<QTreeView*>(Control());
    if (!view || !FDelegate) return;
    if (view->itemDelegate() == FDelegate) view->setItemDelegate(FPrevious);
    FDelegate->setParent(nullptr);
}

void TTreeSubclass::ReadSkin()
{
    TScrollableSubclass::ReadSkin();
    QTreeView* view = View();
    view->setRootIsDecorated(Manager()->GetBool(Section(), QStringLiteral("ShowButton"), false));
    if (Manager()->HasValue(Section(), QStringLiteral("LineStyle"))) {
        const int style = Manager()->GetInteger(Section(), QStringLiteral("LineStyle"), 0);
        FTreeLines = style == 1 || style == 2;
        if (style == 1) FLinePen = QPen(view->palette().color(QPalette::Mid), 1, Qt::DotLine);
        if (style == 2)
            FLinePen = QPen(
                ColorToQColor(Manager()->GetColor(Section(), QStringLiteral("LineColor"), clBlack)),
                1, Qt::SolidLine);
    }
    ReadCommon(false);
    FDelegate->BoldTopLevel = true;
    if (FTreeLines) {
        FViewport = view->viewport();
        FViewport->installEventFilter(this);
        FViewport->update();
    }
}

void TTreeSubclass::Release()
{
    if (FViewport) {
        FViewport->removeEventFilter(this);
        FViewport->update();
    }
    TVirtualTreeSubclass::Release();
}

bool TTreeSubclass::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FViewport && FViewport && event->type() == QEvent::Paint && Manager()) {
        // The tree paints itself first (the viewport hands the event to the view); the lines
        // go over its rows' left parts, where nothing else is drawn.
        static_cast<QObject*>(FViewport)->event(event);
        QPainter painter(FViewport);
        PaintLines(painter);
        return true;
    }
    return TVirtualTreeSubclass::eventFilter(watched, event);
}

void TTreeSubclass::PaintLines(QPainter& painter) const
{
    QTreeView* view = View();
    if (!view || !view->model()) return;
    const int indent = view->indentation();
    const int root = view->rootIsDecorated() ? 1 : 0;
    const int dx = -view->horizontalScrollBar()->value();
    // The column of the lines that lead to the nodes of a level.
    const auto column = [&](int level) { return dx + (level + root - 1) * indent + indent / 2; };
    const auto hasNextSibling = [&](const QModelIndex& index) {
        return index.sibling(index.row() + 1, 0).isValid();
    };
    painter.setPen(FLinePen);
    const int bottom = FViewport->height();
    for (QModelIndex index = view->indexAt(QPoint(0, 0)); index.isValid();
         index = view->indexBelow(index)) {
        const QRect row = view->visualRect(index);
        if (row.top() >= bottom) break;
        int level = 0;
        for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
            ++level;
        if (level + root < 1) continue;
        const int y = row.center().y();
        const int x = column(level);
        painter.drawLine(x, y, dx + (level + root) * indent - 1, y);
        painter.drawLine(x, row.top(), x, hasNextSibling(index) ? row.bottom() : y);
        // The lines of the ancestors that go on below this row.
        int ancestorLevel = level - 1;
        for (QModelIndex a = index.parent(); a.isValid() && ancestorLevel + root >= 1;
             a = a.parent(), --ancestorLevel)
            if (hasNextSibling(a))
                painter.drawLine(column(ancestorLevel), row.top(), column(ancestorLevel),
                                 row.bottom());
    }
}

void TListSubclass::ReadSkin()
{
    TScrollableSubclass::ReadSkin();
    QTreeView* view = View();
    TSkinManager& skins = *Manager();
    const QString& s = Section();
    const TSkinFont* font = nullptr;
    if (skins.GetFont(s, QStringLiteral("CaptionFont"), font))
        view->header()->setFont(font->Font);
    else
        font = nullptr;
    ReadCommon(true);
    FDelegate->OddRowColor = skins.GetColor(s, QStringLiteral("RowOddColor"), 0);
    FDelegate->OtherRowColor = skins.GetColor(s, QStringLiteral("RowOrdColor"), 0);
    // Only a colour the skin gives: the header's text is dark by default, so a dark default
    // background would make the captions unreadable.
    const QColor caption =
        skins.HasValue(s, QStringLiteral("CaptionColor"))
            ? ColorToQColor(skins.GetColor(s, QStringLiteral("CaptionColor"), clWindowText))
            : QColor();
    FCaptionColor = caption;
    if (font) FCaptionTextColor = ColorToQColor(font->Color);
    const QImage* picture = nullptr;
    if (skins.GetBitmap(s, QStringLiteral("CaptionImage"), picture)) FCaption = *picture;
    FHeaderViewport = view->header()->viewport();
    FHeaderViewport->installEventFilter(this);
    FHeaderViewport->update();
    if (caption.isValid()) {
        QPalette palette = view->header()->palette();
        palette.setColor(QPalette::Button, caption);
        palette.setColor(QPalette::Window, caption);
        view->header()->setPalette(palette);
    }
    if (skins.HasValue(s, QStringLiteral("CaptionHeight"))) {
        const int height = skins.GetColor(s, QStringLiteral("CaptionHeight"), 0);
        if (height > 0) view->header()->setFixedHeight(height);
    }
}

void TListSubclass::Release()
{
    if (FHeaderViewport) {
        FHeaderViewport->removeEventFilter(this);
        FHeaderViewport->update();
    }
    TVirtualTreeSubclass::Release();
}

bool TListSubclass::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FHeaderViewport && FHeaderViewport && event->type() == QEvent::Paint &&
        Manager()) {
        QPainter painter(FHeaderViewport);
        PaintHeader(painter, static_cast<QPaintEvent*>(event)->rect());
        return true;
    }
    return TVirtualTreeSubclass::eventFilter(watched, event);
}

void TListSubclass::PaintHeader(QPainter& painter, const QRect& update) const
{
    QTreeView* view = View();
    if (!view || !FHeaderViewport) return;
    QHeaderView* header = view->header();
    const int height = FHeaderViewport->height();
    const QColor background =
        FCaptionColor.isValid() ? FCaptionColor : header->palette().color(QPalette::Button);
    const auto fill = [&](const QRect& r) {
        if (FCaption.isNull())
            painter.fillRect(r, background);
        else
            painter.drawImage(QRectF(r), FCaption, QRectF(FCaption.rect()));
    };
    const QColor line = FDelegate && FDelegate->GridLines ? FDelegate->GridLineColor
                                                          : header->palette().color(QPalette::Mid);
    const QColor text = FCaptionTextColor.isValid() ? FCaptionTextColor
                                                    : header->palette().color(QPalette::ButtonText);
    painter.setFont(header->font());
    int end = 0;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (header->isSectionHidden(logical)) continue;
        const QRect r(header->sectionViewportPosition(logical), 0, header->sectionSize(logical),
                      height);
        end = std::max(end, r.left() + r.width());
        if (!r.intersects(update)) continue;
        fill(r);
        painter.setPen(line);
        painter.drawLine(r.left(), height - 1, r.left() + r.width() - 1, height - 1);
        painter.drawLine(r.left() + r.width() - 1, 0, r.left() + r.width() - 1, height - 1);
        painter.setPen(text);
        const QRect inner = r.adjusted(6, 0, -6, -1);
        const QString caption =
            header->model() ? header->model()->headerData(logical, Qt::Horizontal).toString()
                            : QString();
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(caption, Qt::ElideRight, inner.width()));
    }
    // The part right of the last column.
    const QRect rest(end, 0, FHeaderViewport->width() - end, height);
    if (rest.width() > 0 && rest.intersects(update)) {
        fill(rest);
        painter.setPen(line);
        painter.drawLine(rest.left(), height - 1, rest.left() + rest.width() - 1, height - 1);
    }
}
