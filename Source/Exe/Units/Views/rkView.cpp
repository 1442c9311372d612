#include "rkView.h"

#include "rkViewAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <iterator>
#include <unordered_set>

namespace {

// Division rounding toward minus infinity, for the band tint's negative steps.
int FloorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

int CeilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

constexpr Qt::KeyboardModifiers AnyModifier =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// Up to this many cells entering or leaving the selection are announced one by one; a larger
// change (select all, a long band) is announced as one change of the whole grid.
constexpr size_t MaxCellAnnouncements = 16;

} // namespace

TrkViewLayout TrkViewLayout::Compute(int clientWidth, int clientHeight, int count, int cellWidth,
                                     int cellHeight, int cellOffset, int cellSpace,
                                     int scrollBarWidth)
{
    TrkViewLayout l;
    l.PitchX = std::max(1, cellWidth + cellSpace);
    l.PitchY = std::max(1, cellHeight + cellSpace);
    l.LeftMargin = cellOffset;
    if (count <= 0) return l;

    // A trial without the scroll bar decides whether its width must be reserved.
    const int trial = std::max(1, (clientWidth - 2 * cellOffset) / l.PitchX);
    const int trialRows = CeilDiv(count, trial);
    const int w = clientHeight + cellSpace - cellOffset < trialRows * l.PitchY + cellOffset
                      ? scrollBarWidth
                      : 0;
    l.Columns = std::max(1, (clientWidth - 2 * cellOffset - w) / l.PitchX);
    l.Available = clientHeight + cellSpace - cellOffset;
    l.Content = CeilDiv(count, l.Columns) * l.PitchY + cellOffset;
    l.ScrollActive = l.Available < l.Content;
    l.MaxScroll = l.ScrollActive ? l.Content - l.Available : 0;
    return l;
}

TrkView::TrkView(QWidget* parent) : QAbstractScrollArea(parent)
{
    FColor = QApplication::palette().color(QPalette::Base);
    FColorSel = QApplication::palette().color(QPalette::Highlight);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    // Every pixel comes from the off-screen image; nothing is erased first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    SetBorderStyle(bsSingle);
    FTimer.setInterval(AutoScrollInterval);
    connect(&FTimer, &QTimer::timeout, this, &TrkView::AutoScrollTick);
    InstallViewAccessibility();
}

TrkView::~TrkView() = default;

// ---- properties

void TrkView::SetCellWidth(int value)
{
    if (value == FCellWidth || value <= 0) return;
    FCellWidth = value;
    CalcView();
    Repaint();
}

void TrkView::SetCellHeight(int value)
{
    if (value == FCellHeight || value <= 0) return;
    FCellHeight = value;
    CalcView();
    Repaint();
}

void TrkView::SetCellOffset(int value)
{
    if (value == FCellOffset || value < 0) return;
    FCellOffset = value;
    CalcView();
    Repaint();
}

void TrkView::SetCellSpace(int value)
{
    if (value == FCellSpace || value < 0) return;
    FCellSpace = value;
    CalcView();
    Repaint();
}

void TrkView::SetColor(const QColor& value)
{
    FColor = value.toRgb();
    Repaint();
}

void TrkView::SetColorSel(const QColor& value)
{
    FColorSel = value.toRgb();
    Repaint();
}

void TrkView::SetHotTracking(bool value)
{
    FHotTracking = value;
    if (!value && FHotIndex != -1) {
        FHotIndex = -1;
        Repaint();
    }
}

void TrkView::SetBorderStyle(TrkBorderStyle value)
{
    FBorderStyle = value;
    setFrameStyle(value == bsSingle ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
    CalcView();
}

int TrkView::ScrollBarWidth() const
{
    return verticalScrollBar()->sizeHint().width();
}
int TrkView::ClientWidth() const
{
    return contentsRect().width();
}
int TrkView::ClientHeight() const
{
    return contentsRect().height();
}

int TrkView::ScrollPos() const
{
    return FLayout.ScrollActive ? verticalScrollBar()->value() : 0;
}

void TrkView::SetScrollPos(int position)
{
    if (!FLayout.ScrollActive) return;
    verticalScrollBar()->setValue(std::clamp(position, 0, FLayout.MaxScroll));
    Repaint();
}

// ---- items and layout

void TrkView::Clear()
{
    FItems.Clear();
    FSelection.Clear();
    verticalScrollBar()->setValue(0);
    CalcView();
    FFocusIndex = -1;
    FAnchorIndex = -1;
    FHotIndex = -1;
    Repaint();
}

// The main window edits Items directly (books deleted or moved away); an index that now lies
// beyond the end must not be used to look an item up.
void TrkView::ClampIndexes()
{
    const int count = FItems.Count();
    if (FFocusIndex >= count) FFocusIndex = -1;
    if (FAnchorIndex >= count) FAnchorIndex = -1;
    if (FHotIndex >= count) FHotIndex = -1;
}

void TrkView::CalcView()
{
    if (FInCalcView) return;
    FInCalcView = true;
    ClampIndexes();
    FLayout = TrkViewLayout::Compute(ClientWidth(), ClientHeight(), FItems.Count(), FCellWidth,
                                     FCellHeight, FCellOffset, FCellSpace, ScrollBarWidth());
    QScrollBar* bar = verticalScrollBar();
    if (FLayout.ScrollActive) {
        bar->setRange(0, FLayout.MaxScroll);
        bar->setPageStep(FLayout.Available);
        bar->setSingleStep(FLayout.PitchY);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    } else {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        bar->setRange(0, 0);
    }
    // The owner calls this after every change of Items, so this is where the change is told.
    if (FItems.ChangeCount() != FAnnouncedItems) AnnounceItems();
    FInCalcView = false;
}

void TrkView::BeginUpdate()
{
    ++FUpdating;
}

void TrkView::EndUpdate()
{
    if (FUpdating > 0 && --FUpdating == 0) {
        CalcView();
        Repaint();
    }
}

QRect TrkView::ItemRect(int index) const
{
    const int columns = std::max(1, FLayout.Columns);
    const int left = (index % columns) * FLayout.PitchX + FLayout.LeftMargin;
    const int top = FCellOffset + (index / columns) * FLayout.PitchY;
    return QRect(left, top, FCellWidth, FCellHeight - 1);
}

int TrkView::ItemIndexAt(QPoint point) const
{
    const int count = FItems.Count();
    if (count == 0) return -1;
    const int lm = FLayout.LeftMargin;
    const int x = point.x();
    if (x < lm || x >= lm + FLayout.Columns * FLayout.PitchX) return -1;
    const int column = (x - lm) / FLayout.PitchX;
    const int cellLeft = lm + column * FLayout.PitchX;
    if (x > cellLeft + FCellWidth) return -1;

    const int y = point.y() + ScrollPos();
    if (y < FCellOffset) return -1;
    const int row = (y - FCellOffset) / FLayout.PitchY;
    if (y > FCellOffset + row * FLayout.PitchY + FCellHeight) return -1;
    const qint64 index = qint64(row) * FLayout.Columns + column;
    return index < count ? int(index) : -1;
}

int64_t TrkView::ItemAt(QPoint point) const
{
    const int index = ItemIndexAt(point);
    return index < 0 ? -1 : FItems.Get(index);
}

void TrkView::ScrollIntoView(int index)
{
    if (index < 0 || index >= FItems.Count()) return;
    const QRect r = ItemRect(index);
    const int top = r.top();
    const int bottom = r.top() + r.height(); // exclusive
    int p = ScrollPos();
    if (top < p) p = top - FCellSpace;
    if (bottom > p + ClientHeight()) p = bottom - ClientHeight() + 2;
    SetScrollPos(p);
    Repaint();
}

// ---- painting

void TrkView::Repaint()
{
    viewport()->update();
}

const QImage& TrkView::PaintOffscreen()
{
    const int p = std::clamp(ScrollPos(), 0, FLayout.MaxScroll);
    const int clientHeight = ClientHeight();
    const QSize size(std::max(1, viewport()->width()), std::max(1, clientHeight));
    if (FImage.size() != size) FImage = QImage(size, QImage::Format_RGB32);
    FImage.fill(FColor);
    if (FUpdating > 0 || FItems.Count() == 0) return FImage;

    QPainter painter(&FImage);
    const int columns = FLayout.Columns;
    int row = 0;
    int top = FCellOffset;
    if (FLayout.ScrollActive) {
        row = (p + FCellSpace - FCellOffset) / FLayout.PitchY;
        top = FCellOffset + row * FLayout.PitchY - p;
    }

    // A large selection is looked up through a set, so painting stays cheap after select-all.
    std::unordered_set<int64_t> selected;
    const bool useSet = FSelection.Count() > 32;
    if (useSet)
        for (int i = 0; i < FSelection.Count(); ++i)
            selected.insert(FSelection.Get(i));
    auto isSelected = [&](int64_t value) {
        return useSet ? selected.count(value) > 0 : FSelection.IndexOf(value) >= 0;
    };

    const int count = FItems.Count();
    for (int i = row * columns; i < count; ++i) {
        const int left = (i % columns) * FLayout.PitchX + FLayout.LeftMargin;
        if (top > clientHeight) break;
        const QRect cell(left, top, FCellWidth, FCellHeight);
        if (top + FCellHeight > 0 && OnCellPaint) {
            const int64_t value = FItems.Get(i);
            TsvItemState state = isSelected(value) ? svSelected : svNormal;
            if (i == FHotIndex) state = svHot;
            painter.save();
            OnCellPaint(this, painter, cell, i, value, state);
            painter.restore();
        }
        if ((i + 1) % columns == 0) top += FLayout.PitchY;
        if (top >= clientHeight) break;
    }
    painter.end();

    if (FBandActive && FBandStart.x() != FBandEnd.x() && FBandStart.y() != FBandEnd.y()) {
        const int w = FImage.width();
        auto toClientY = [&](int y) { return y - p + FCellOffset; };
        const int x1 = std::clamp(std::min(FBandStart.x(), FBandEnd.x()), 0, w - 2);
        const int x2 = std::clamp(std::max(FBandStart.x(), FBandEnd.x()), 0, w - 2);
        const int y1 =
            std::clamp(toClientY(std::min(FBandStart.y(), FBandEnd.y())), 0, clientHeight - 1);
        const int y2 =
            std::clamp(toClientY(std::max(FBandStart.y(), FBandEnd.y())), 0, clientHeight - 1);
        const int sr = FColorSel.red(), sg = FColorSel.green(), sb = FColorSel.blue();
        for (int y = y1; y <= y2; ++y) {
            auto* line = reinterpret_cast<QRgb*>(FImage.scanLine(y));
            for (int x = x1; x <= x2; ++x) {
                const QRgb v = line[x];
                const int r = qRed(v), g = qGreen(v), b = qBlue(v);
                line[x] =
                    qRgb(r + FloorDiv(sr - r, 8), g + FloorDiv(sg - g, 8), b + FloorDiv(sb - b, 8));
            }
        }
        const QRgb outline = FColorSel.rgb();
        for (int x = x1; x <= x2; ++x) {
            reinterpret_cast<QRgb*>(FImage.scanLine(y1))[x] = outline;
            reinterpret_cast<QRgb*>(FImage.scanLine(y2))[x] = outline;
        }
        for (int y = y1; y <= y2; ++y) {
            auto* line = reinterpret_cast<QRgb*>(FImage.scanLine(y));
            line[x1] = line[x2] = outline;
        }
    }
    return FImage;
}

void TrkView::paintEvent(QPaintEvent*)
{
    PaintOffscreen();
    QPainter painter(viewport());
    painter.drawImage(0, 0, FImage);
}

void TrkView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    CalcView();
    Repaint();
}

void TrkView::scrollContentsBy(int, int)
{
    Repaint();
}

// ---- mouse

void TrkView::FireSelecting()
{
    AnnounceFocus();
    AnnounceSelection();
    if (OnSelecting) OnSelecting(this, FSelection.Count());
}

void TrkView::mousePressEvent(QMouseEvent* event)
{
    MouseDown(event);
}

void TrkView::MouseDown(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    ClampIndexes();
    if (FItems.Count() == 0) return;
    FTimer.stop();
    if (FJustDblClicked) return;

    const QPoint pos = event->position().toPoint();
    const Qt::MouseButton button = event->button();
    const Qt::KeyboardModifiers mods = event->modifiers();
    const int oldScroll = ScrollPos();
    if (button == Qt::LeftButton || button == Qt::RightButton) {
        const int hit = ItemIndexAt(pos);
        if (hit == -1) {
            FSelection.Clear();
            FFocusIndex = -1;
            if (FMultipleSelection) {
                FBandActive = true;
                FBandStart = FBandEnd = QPoint(pos.x(), pos.y() + ScrollPos() - FCellOffset);
                FScrollSpeed = 0;
                FTimer.start();
            }
        } else {
            const int64_t value = FItems.Get(hit);
            const bool shift = mods & Qt::ShiftModifier;
            const bool ctrl = mods & Qt::ControlModifier;
            if (FMultipleSelection) {
                if (shift && !ctrl) {
                    FSelection.Clear();
                    const int from = FFocusIndex < 0 ? 0 : FFocusIndex;
                    const int step = hit >= from ? 1 : -1;
                    for (int i = from;; i += step) {
                        FSelection.Add(FItems.Get(i));
                        if (i == hit) break;
                    }
                } else if (ctrl && !shift) {
                    const int at = FSelection.IndexOf(value);
                    if (at >= 0)
                        FSelection.Delete(at);
                    else
                        FSelection.Add(value);
                } else if (!shift && !ctrl) {
                    // A plain click on a selected item keeps the selection, so that it can
                    // be dragged as a whole.
                    if (FSelection.IndexOf(value) < 0) {
                        FSelection.Clear();
                        FSelection.Add(value);
                    }
                }
            } else {
                FSelection.Clear();
                FSelection.Add(value);
            }
            FFocusIndex = hit;
            ScrollIntoView(hit);
        }
        Repaint();
        FireSelecting();
        FAnchorIndex = FFocusIndex;
    }
    if (OnMouseDown) OnMouseDown(this, button, mods, pos.x(), pos.y() - (ScrollPos() - oldScroll));
}

void TrkView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Only the left button opens; a quick second press of another button is a plain press.
    if (event->button() == Qt::LeftButton) DblClick();
    MouseDown(event);
}

void TrkView::DblClick()
{
    FJustDblClicked = true;
    if (OnDblClick) OnDblClick(this);
}

void TrkView::SelectBand()
{
    const int x1 = std::min(FBandStart.x(), FBandEnd.x());
    const int x2 = std::max(FBandStart.x(), FBandEnd.x());
    const int y1 = std::min(FBandStart.y(), FBandEnd.y());
    const int y2 = std::max(FBandStart.y(), FBandEnd.y());
    FSelection.Clear();
    const int count = FItems.Count();
    const int columns = FLayout.Columns;
    if (count == 0 || x1 == x2 || y1 == y2) return;
    const int rows = CeilDiv(count, columns);
    // Only the rows the band can touch are looked at.
    const int firstRow = std::max(0, FloorDiv(y1 - FCellHeight, FLayout.PitchY));
    const int lastRow = std::min(rows - 1, FloorDiv(y2, FLayout.PitchY));
    for (int row = firstRow; row <= lastRow; ++row) {
        const int top = row * FLayout.PitchY;
        if (std::max(top, y1) >= std::min(top + FCellHeight, y2)) continue;
        for (int column = 0; column < columns; ++column) {
            const int index = row * columns + column;
            if (index >= count) break;
            const int left = column * FLayout.PitchX + FLayout.LeftMargin;
            if (std::max(left, x1) < std::min(left + FCellWidth, x2))
                FSelection.Add(FItems.Get(index));
        }
    }
}

void TrkView::EndBand()
{
    const bool wasActive = FBandActive;
    FBandActive = false;
    FTimer.stop();
    if (wasActive) Repaint();
}

void TrkView::mouseMoveEvent(QMouseEvent* event)
{
    FJustDblClicked = false;
    if (!(event->buttons() & Qt::LeftButton)) EndBand();
    const QPoint pos = event->position().toPoint();
    if (FBandActive) {
        const int y = pos.y();
        const int h = ClientHeight();
        FScrollSpeed = y < 0 ? -(y * y) : y > h ? (y - h) * (y - h) : 0;
        if (event->modifiers() & Qt::ShiftModifier) FScrollSpeed *= 2;
        FBandEnd = QPoint(pos.x(), y + ScrollPos() - FCellOffset);
        SelectBand();
        FireSelecting();
        Repaint();
    } else if (FHotTracking) {
        viewport()->unsetCursor();
        const int hot = ItemIndexAt(pos);
        if (hot != FHotIndex) {
            FHotIndex = hot;
            Repaint();
        }
    }
}

void TrkView::AutoScrollTick()
{
    if (!FBandActive) {
        FTimer.stop();
        return;
    }
    if (FScrollSpeed != 0) {
        const int p = ScrollPos();
        const int visibleTop = p - FCellOffset;
        const int visibleBottom = ClientHeight() + p - FCellOffset;
        FBandEnd.setY((FScrollSpeed < 0 ? visibleTop : visibleBottom) + FScrollSpeed);
        if (FLayout.ScrollActive) SetScrollPos(p + FScrollSpeed);
        Repaint();
    }
    SelectBand();
    FireSelecting();
}

void TrkView::mouseReleaseEvent(QMouseEvent* event)
{
    FBandActive = false;
    FTimer.stop();
    Repaint();
    if (OnMouseUp) {
        const QPoint pos = event->position().toPoint();
        OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
    }
}

void TrkView::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (!FLayout.ScrollActive || delta == 0) {
        event->ignore();
        return;
    }
    // One row per wheel message, whatever its size.
    const int p = ScrollPos();
    SetScrollPos(delta < 0 ? std::min(p + FLayout.PitchY, FLayout.MaxScroll)
                           : std::max(0, p - FLayout.PitchY));
    event->accept();
    Repaint();
}

// ---- keys and hints

bool TrkView::event(QEvent* event)
{
    // The grid wants Tab and Backtab like every other key, so they do not move the focus on.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // Arrows, Enter and Escape reach keyPressEvent rather than a window shortcut.
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return true;
        default:
            break;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TrkView::keyPressEvent(QKeyEvent* event)
{
    auto passOn = [&] {
        if (OnKeyDown) OnKeyDown(this, event);
    };
    ClampIndexes();
    const int count = FItems.Count();
    if (count == 0) {
        passOn();
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & AnyModifier;
    const bool shift = mods & Qt::ShiftModifier;

    if (FFocusIndex == -1 && FSelection.Count() == 0) {
        if (mods == Qt::NoModifier) {
            FFocusIndex = 0;
            FAnchorIndex = 0;
            Repaint();
            FireSelecting();
            passOn();
        } else {
            FireSelecting();
        }
        return;
    }

    const int f = FFocusIndex;
    int focus = f;
    bool handled = true;
    const int p = ScrollPos();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Opens like a double click; the next click is not swallowed as a double click's
        // second press would be.
        if (OnDblClick) OnDblClick(this);
        break;
    case Qt::Key_PageUp:
        SetScrollPos(std::max(0, p - ClientHeight()));
        break;
    case Qt::Key_PageDown:
        SetScrollPos(std::min(p + ClientHeight(), FLayout.MaxScroll));
        break;
    case Qt::Key_End:
        SetScrollPos(FLayout.MaxScroll);
        break;
    case Qt::Key_Home:
        if (mods & Qt::ControlModifier) SetScrollPos(0);
        break;
    case Qt::Key_Left:
        if (f - 1 >= 0) focus = f - 1;
        break;
    case Qt::Key_Right:
        if (f + 1 < count) focus = f + 1;
        break;
    case Qt::Key_Up:
        if (f - FLayout.Columns >= 0) focus = f - FLayout.Columns;
        break;
    case Qt::Key_Down:
        if (f + FLayout.Columns < count) focus = f + FLayout.Columns;
        break;
    default:
        handled = false;
    }

    if (focus != f) {
        FSelection.Clear();
        FFocusIndex = focus;
        ScrollIntoView(focus);
        if (shift) {
            if (FAnchorIndex >= 0) {
                const int step = focus >= FAnchorIndex ? 1 : -1;
                for (int i = FAnchorIndex;; i += step) {
                    FSelection.Add(FItems.Get(i));
                    if (i == focus) break;
                }
            }
        } else {
            FSelection.Add(FItems.Get(focus));
        }
        Repaint();
    }
    if (!shift) FAnchorIndex = FFocusIndex;
    FireSelecting();
    if (!handled) passOn();
}

bool TrkView::ShowHintAt(QPoint clientPoint, QPoint globalPoint)
{
    const int index = ItemIndexAt(clientPoint);
    if (index < 0 || !OnHintShow || !FShowHint) return false;
    QString text;
    bool show = false;
    OnHintShow(this, FItems.Get(index), -1, text, show);
    if (!show || text.isEmpty() || FBandActive) return false;
    const QRect cell = ItemRect(index);
    const QRect area(cell.left(), cell.top() - ScrollPos() + 1, FCellWidth, FCellHeight);
    QToolTip::showText(globalPoint, text, viewport(), area, HintHidePause);
    return true;
}

bool TrkView::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip: {
        auto* help = static_cast<QHelpEvent*>(event);
        if (!ShowHintAt(help->pos(), help->globalPos())) {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    case QEvent::Leave:
        if (FHotIndex != -1) {
            FHotIndex = -1;
            Repaint();
        }
        break;
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

// ---- single cells and assistive technology

QString TrkView::CellText(int index) const
{
    QString text;
    if (index >= 0 && index < FItems.Count() && OnCellText)
        OnCellText(const_cast<TrkView*>(this), FItems.Get(index), text);
    return text;
}

bool TrkView::IsItemSelected(int index) const
{
    return index >= 0 && index < FItems.Count() && FSelection.IndexOf(FItems.Get(index)) >= 0;
}

void TrkView::FocusItem(int index)
{
    if (index < 0 || index >= FItems.Count()) return;
    FSelection.Clear();
    FSelection.Add(FItems.Get(index));
    FFocusIndex = FAnchorIndex = index;
    ScrollIntoView(index);
    Repaint();
    FireSelecting();
}

void TrkView::SelectItem(int index, bool selected)
{
    if (index < 0 || index >= FItems.Count()) return;
    const int64_t value = FItems.Get(index);
    const int at = FSelection.IndexOf(value);
    if (selected && at < 0) {
        if (!FMultipleSelection) FSelection.Clear();
        FSelection.Add(value);
    } else if (!selected && at >= 0) {
        FSelection.Delete(at);
    }
    FFocusIndex = FAnchorIndex = index;
    ScrollIntoView(index);
    Repaint();
    FireSelecting();
}

void TrkView::OpenItem(int index)
{
    if (index < 0 || index >= FItems.Count()) return;
    const int64_t value = FItems.Get(index);
    // Like the double click's first press: a cell of a larger selection opens with the rest.
    if (FSelection.IndexOf(value) < 0) {
        FSelection.Clear();
        FSelection.Add(value);
    }
    FFocusIndex = FAnchorIndex = index;
    ScrollIntoView(index);
    Repaint();
    FireSelecting();
    if (OnDblClick) OnDblClick(this);
}

void TrkView::SelectionChanged()
{
    Repaint();
    AnnounceFocus();
    AnnounceSelection();
}

void TrkView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    // The screen reader is led on from the grid to its focused cell.
    FAnnouncedFocus = -1;
    AnnounceFocus();
}

void TrkView::AnnounceItems()
{
    FAnnouncedItems = FItems.ChangeCount();
    // Cells are asked for afresh after a reset, so what was told before no longer counts.
    FAnnouncedSelection.clear();
    FAnnouncedFocus = -1;
    ViewItemsChanged(this);
    if (!ViewEventsWanted()) return;
    QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::ModelReset);
    SendViewEvent(&event);
    for (int i = 0; i < FSelection.Count(); ++i)
        FAnnouncedSelection.push_back(FSelection.Get(i));
    std::sort(FAnnouncedSelection.begin(), FAnnouncedSelection.end());
    FAnnouncedSelection.erase(std::unique(FAnnouncedSelection.begin(), FAnnouncedSelection.end()),
                              FAnnouncedSelection.end());
}

void TrkView::AnnounceFocus()
{
    if (FFocusIndex == FAnnouncedFocus) return;
    FAnnouncedFocus = FFocusIndex;
    if (!ViewEventsWanted() || !hasFocus() || FFocusIndex < 0 || FFocusIndex >= FItems.Count())
        return;
    QAccessibleEvent event(this, QAccessible::Focus);
    event.setChild(FFocusIndex);
    SendViewEvent(&event);
}

void TrkView::AnnounceSelection()
{
    if (!ViewEventsWanted()) {
        // Nothing listens: the next listener starts from an empty selection.
        FAnnouncedSelection.clear();
        return;
    }
    std::vector<int64_t> now;
    now.reserve(size_t(FSelection.Count()));
    for (int i = 0; i < FSelection.Count(); ++i)
        now.push_back(FSelection.Get(i));
    std::sort(now.begin(), now.end());
    now.erase(std::unique(now.begin(), now.end()), now.end());
    std::vector<int64_t> added;
    std::vector<int64_t> removed;
    std::set_difference(now.begin(), now.end(), FAnnouncedSelection.begin(),
                        FAnnouncedSelection.end(), std::back_inserter(added));
    std::set_difference(FAnnouncedSelection.begin(), FAnnouncedSelection.end(), now.begin(),
                        now.end(), std::back_inserter(removed));
    FAnnouncedSelection = std::move(now);
    if (added.empty() && removed.empty()) return;

    const auto announce = [this](QAccessible::Event type, int child) {
        QAccessibleEvent event(this, type);
        event.setChild(child);
        SendViewEvent(&event);
    };
    if (added.size() + removed.size() > MaxCellAnnouncements) {
        announce(QAccessible::SelectionWithin, -1);
        return;
    }
    if (added.size() == 1 && FAnnouncedSelection.size() == 1) {
        // The selection is now this one cell.
        const int index = FItems.IndexOf(added.front());
        if (index >= 0) announce(QAccessible::Selection, index);
        return;
    }
    // Values no longer among the items have no cell left to name.
    for (int64_t value : removed)
        if (const int index = FItems.IndexOf(value); index >= 0)
            announce(QAccessible::SelectionRemove, index);
    for (int64_t value : added)
        if (const int index = FItems.IndexOf(value); index >= 0)
            announce(QAccessible::SelectionAdd, index);
}
