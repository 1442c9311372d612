#pragma once

#include "rkIntegerList.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QTimer>

#include <functional>
#include <vector>

class QPainter;

// The state a cell is painted in; hot wins over selected.
enum TsvItemState
{
    svNormal = 0,
    svSelected = 1,
    svHot = 2
};

enum TrkBorderStyle
{
    bsNone,
    bsSingle
};

// The numbers the grid's layout comes down to. Kept apart from the widget so that the
// arithmetic can be checked for any client size and scroll-bar width.
struct TrkViewLayout
{
    int PitchX = 0;
    int PitchY = 0;
    int Columns = 1;
    int LeftMargin = 0;
    bool ScrollActive = false;
    int Available = 0; // client height + space - offset
    int Content = 0;   // rows * pitch y + offset
    int MaxScroll = 0; // the largest scroll position

    static TrkViewLayout Compute(int clientWidth, int clientHeight, int count, int cellWidth,
                                 int cellHeight, int cellOffset, int cellSpace, int scrollBarWidth);
};

// The thumbnail grid. It knows nothing of books: each item is a 64-bit value (the main window
// stores book-list rows in it) and every cell is drawn by OnCellPaint, so the same grid serves
// any skin. It owns what a grid of thousands of cells needs to feel right: its own layout and
// pixel scrolling, painting only the visible rows into one off-screen image, selection with
// Shift and Ctrl, hot tracking, a rubber band that scrolls the view when dragged past an edge,
// keyboard navigation and hints for names the cells cut. Screen readers see it as a list of its
// cells (rkViewAccessible.h).
class TrkView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit TrkView(QWidget* parent = nullptr);
    ~TrkView() override;

    // Events. Idx is the item value, IdxA its index in Items.
    std::function<void(TrkView* sender, QPainter& canvas, const QRect& cell, int idxA, int64_t idx,
                       TsvItemState state)>
        OnCellPaint;
    std::function<void(TrkView* sender, int64_t idx, int column, QString& text, bool& show)>
        OnHintShow;
    std::function<void(TrkView* sender, int count)> OnSelecting;
    std::function<void(TrkView* sender)> OnDblClick;
    std::function<void(TrkView* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                       int y)>
        OnMouseDown;
    std::function<void(TrkView* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                       int y)>
        OnMouseUp;
    std::function<void(TrkView* sender, QKeyEvent* event)> OnKeyDown;
    // What a cell shows, in words, for assistive technology; whoever paints the cells answers.
    std::function<void(TrkView* sender, int64_t idx, QString& text)> OnCellText;

    TIntList& Items() { return FItems; }
    TIntList& Selection() { return FSelection; }
    const TIntList& Items() const { return FItems; }
    const TIntList& Selection() const { return FSelection; }

    void Clear();
    void CalcView();
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return FUpdating > 0; }

    // The cell of an index in content coordinates (not scrolled). Right is left + CellWidth and
    // bottom top + CellHeight - 1, both exclusive, so the rectangle is one pixel shorter than
    // the cell; scrolling into view relies on that.
    QRect ItemRect(int index) const;
    int ItemIndexAt(QPoint clientPoint) const;
    int64_t ItemAt(QPoint clientPoint) const;
    void ScrollIntoView(int index);

    // Single cells by index, as assistive technology works on them; an index out of range does
    // nothing. Each change fires OnSelecting like the mouse and the keys do.
    QString CellText(int index) const;
    bool IsItemSelected(int index) const;
    // Focuses the cell and makes it the whole selection, as an arrow key does.
    void FocusItem(int index);
    // Adds the cell to the selection or takes it out (with single selection, selecting replaces
    // the selection), and focuses it, as a Ctrl+click does.
    void SelectItem(int index, bool selected);
    // What a double click on the cell does: the cell becomes the selection unless it belongs to
    // it already, then OnDblClick.
    void OpenItem(int index);
    // The owner changed Selection itself: repaint, and tell assistive technology.
    void SelectionChanged();

    int CellWidth() const { return FCellWidth; }
    void SetCellWidth(int value);
    int CellHeight() const { return FCellHeight; }
    void SetCellHeight(int value);
    int CellOffset() const { return FCellOffset; }
    void SetCellOffset(int value);
    int CellSpace() const { return FCellSpace; }
    void SetCellSpace(int value);
    QColor Color() const { return FColor; }
    void SetColor(const QColor& value);
    QColor ColorSel() const { return FColorSel; }
    void SetColorSel(const QColor& value);
    bool MultipleSelection() const { return FMultipleSelection; }
    void SetMultipleSelection(bool value) { FMultipleSelection = value; }
    bool HotTracking() const { return FHotTracking; }
    void SetHotTracking(bool value);
    bool CellSelect() const { return FCellSelect; }
    void SetCellSelect(bool value) { FCellSelect = value; }
    TrkBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TrkBorderStyle value);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool value) { FShowHint = value; }

    int FocusIndex() const { return FFocusIndex; }
    int AnchorIndex() const { return FAnchorIndex; }
    int HotIndex() const { return FHotIndex; }
    const TrkViewLayout& Layout() const { return FLayout; }
    int ScrollPos() const;
    void SetScrollPos(int position);
    int ScrollBarWidth() const;
    int ClientWidth() const;
    int ClientHeight() const;
    bool BandActive() const { return FBandActive; }
    // The band's start and end in band coordinates (client x, content y - CellOffset).
    QPoint BandStart() const { return FBandStart; }
    QPoint BandEnd() const { return FBandEnd; }
    int AutoScrollSpeed() const { return FScrollSpeed; }
    bool AutoScrollRunning() const { return FTimer.isActive(); }

    // Paints the whole client area into the off-screen image and returns it; painting the
    // control copies the same image.
    const QImage& PaintOffscreen();

    // One tick of the 15 ms auto-scroll timer while banding.
    void AutoScrollTick();

    static constexpr int AutoScrollInterval = 15;
    static constexpr int HintHidePause = 120000;

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void Repaint();
    void ClampIndexes();
    void MouseDown(QMouseEvent* event);
    void DblClick();
    void SelectBand();
    void EndBand();
    void FireSelecting();
    bool ShowHintAt(QPoint clientPoint, QPoint globalPoint);
    // Tells assistive technology what changed since it was last told: the items, the focused
    // cell, the selection. Does nothing while no assistive technology listens.
    void AnnounceItems();
    void AnnounceFocus();
    void AnnounceSelection();

    TIntList FItems;
    TIntList FSelection;
    TrkViewLayout FLayout;

    int FCellWidth = 150;
    int FCellHeight = 150;
    int FCellOffset = 10;
    int FCellSpace = 10;
    QColor FColor;
    QColor FColorSel;
    bool FMultipleSelection = false;
    bool FHotTracking = true;
    bool FCellSelect = true;
    TrkBorderStyle FBorderStyle = bsSingle;
    bool FShowHint = true;

    int FFocusIndex = -1;
    int FAnchorIndex = -1;
    int FHotIndex = -1;

    bool FBandActive = false;
    QPoint FBandStart;
    QPoint FBandEnd;
    int FScrollSpeed = 0;
    QTimer FTimer;

    QImage FImage;
    int FUpdating = 0;
    bool FJustDblClicked = false;
    bool FInCalcView = false;

    // What assistive technology was last told.
    uint64_t FAnnouncedItems = 0;
    int FAnnouncedFocus = -1;
    std::vector<int64_t> FAnnouncedSelection; // sorted
};
