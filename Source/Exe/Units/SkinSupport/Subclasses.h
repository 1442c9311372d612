#pragma once

#include "Skins.h"
#include "ThumbnailPainter.h"

#include <QColor>
#include <QMargins>
#include <QPen>
#include <QPointer>

class QLabel;
class QPainter;
class QRect;

// Hooks a control's events: every event goes to HandleMessage while the subclass has a manager.
// Uninstall gives the control back exactly as it was handled before.
class TControlSubclass : public TSubclass
{
    Q_OBJECT
public:
    using TSubclass::TSubclass;
    void Install() override;
    void Uninstall() override;

protected:
    // True when the event was handled here and the control must not see it.
    virtual bool HandleMessage(QEvent* event);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool FInstalled = false;
};

// A subclass of a control that has a frame of its own: installing it lays the control out
// again at once, so a frame the subclass adds takes effect without waiting for a resize.
class TWinControlSubclass : public TControlSubclass
{
    Q_OBJECT
public:
    using TControlSubclass::TControlSubclass;
    void Install() override;
    void Uninstall() override;

protected:
    // The control's margins while the subclass is installed; none by default.
    virtual QMargins FrameMargins() const { return {}; }

private:
    QMargins FSavedMargins;
    bool FMarginsSet = false;
};

// What a drawing subclass takes over of its control's painting.
enum TPaintPart
{
    ppErase = 1, // the background under the control's contents
    ppPaint = 2, // the contents area
    ppFrame = 4, // the frame around the contents (and the space it needs)
};

// Draws a control from the skin: the background and contents fill, the frame, and the frame's
// room at the control's edges, each only when PaintParts asks for it.
class TDrawingSubclass : public TWinControlSubclass
{
    Q_OBJECT
public:
    using TWinControlSubclass::TWinControlSubclass;
    void Refresh() override;
    virtual int PaintParts() const { return ppErase | ppPaint | ppFrame; }
    // Shrinks a rectangle of the control by the frame.
    virtual QRect AdjustClientRect(const QRect& rect) const;
    virtual void PaintBorder(QPainter& painter, const QRect& rect) const;
    virtual void PaintBackground(QPainter& painter, const QRect& rect) const;
    virtual void PaintClient(QPainter& painter, const QRect& rect) const;

protected:
    bool HandleMessage(QEvent* event) override;
    QMargins FrameMargins() const override;
};

// A frame cut from one background picture in nine pieces by the offset (left, top, right,
// bottom): corners copied as they are, edges stretched along their length, and the centre
// stretched over the fill. A side whose offset is 0 or less has no border.
class TBorderDrawingSubclass : public TDrawingSubclass
{
    Q_OBJECT
public:
    using TDrawingSubclass::TDrawingSubclass;
    void ReadSkin() override;
    QRect AdjustClientRect(const QRect& rect) const override;
    void PaintBorder(QPainter& painter, const QRect& rect) const override;
    void PaintBackground(QPainter& painter, const QRect& rect) const override;
    void PaintClient(QPainter& painter, const QRect& rect) const override;

    const QImage& Background() const { return FBackground; }
    const TSkinRect& Offset() const { return FOffset; }

protected:
    // Background and offset from the section's "Background" and "Offset".
    void ReadFrame();

    // Shallow copies of the manager's pictures (an empty picture when the skin has none): they
    // share its pixels and stay valid even if the manager's skin is unloaded.
    QImage FBackground;
    TSkinRect FOffset;
};

// The toolbar: three slices of the background picture (left, stretched middle, right) laid
// behind its buttons; it paints nothing else itself.
class TToolbarSubclass : public TBorderDrawingSubclass
{
    Q_OBJECT
public:
    using TBorderDrawingSubclass::TBorderDrawingSubclass;
    void ReadSkin() override;
    int PaintParts() const override { return 0; }

protected:
    bool HandleMessage(QEvent* event) override;

private:
    void Arrange();
    QPointer<QLabel> FLeft, FMiddle, FRight;
};

// The navigator pane: the whole nine-piece frame and fill, the panel colour, and a grip on
// its right edge.
class TNavigatorSubclass : public TBorderDrawingSubclass
{
    Q_OBJECT
public:
    using TBorderDrawingSubclass::TBorderDrawingSubclass;
    void ReadSkin() override;
    void PaintBorder(QPainter& painter, const QRect& rect) const override;
    // The pane may be resized by dragging its right edge: true when `x` (in the pane's
    // coordinates) is on that edge.
    bool OnSizingEdge(int x) const;
    void Release() override;

protected:
    // The sizing edge: the pointer's shape over it, and dragging it to widen or narrow the
    // pane (within a splitter, the neighbour gives or takes the difference).
    bool HandleMessage(QEvent* event) override;

private:
    void DragTo(int globalX);

    QImage FSplitter;
    bool FDragging = false;
    int FDragStartX = 0;
    int FDragStartWidth = 0;
    bool FTrackingSet = false;
};

// The panels around the tree and around the right-hand pages: the nine-piece frame as a
// border, the panel colour inside.
class TTreeContainerSubclass : public TBorderDrawingSubclass
{
    Q_OBJECT
public:
    using TBorderDrawingSubclass::TBorderDrawingSubclass;
    void ReadSkin() override;
    int PaintParts() const override { return ppFrame; }
};

class TClientContainerSubclass : public TTreeContainerSubclass
{
    Q_OBJECT
public:
    using TTreeContainerSubclass::TTreeContainerSubclass;
    void ReadSkin() override;
};

// The panes that scroll draw no frame of their own: they configure their control and hook its
// paint events instead.
class TScrollableSubclass : public TBorderDrawingSubclass
{
    Q_OBJECT
public:
    using TBorderDrawingSubclass::TBorderDrawingSubclass;
    int PaintParts() const override { return 0; }
};

class QAbstractItemDelegate;
class QTreeView;
class TSkinItemDelegate;

// The navigator tree and the book and task lists: fonts, colours, selection colours and row
// height from the section, and their cells drawn through a delegate that adds what the skin
// asks for (the focused row's text colour, bold top-level nodes, row colours, grid lines).
// Release gives the view its previous delegate back.
class TVirtualTreeSubclass : public TScrollableSubclass
{
    Q_OBJECT
public:
    TVirtualTreeSubclass(TSkinManager* manager, QWidget* control, const QString& section);
    ~TVirtualTreeSubclass() override;
    void Release() override;
    const TSkinItemDelegate* Delegate() const;
    // "InactiveFontColor": the text of items whose file or folder is gone. The view's model
    // draws those rows itself, so the window hands this colour on to it.
    const QColor& InactiveFontColor() const { return FInactiveFontColor; }

protected:
    QTreeView* View() const;
    // Fonts, colours, selection colours, row height and, when "LineStyle" has a value, the
    // grid lines; then the delegate goes in.
    void ReadCommon(bool gridLines);
    QPointer<TSkinItemDelegate> FDelegate; // the view's child while it is in use

private:
    QPointer<QAbstractItemDelegate> FPrevious;
    QColor FInactiveFontColor;
};

// The navigator tree also draws the skin's tree lines ("LineStyle" 1 dotted, 2 solid in
// "LineColor") from each node to its parent's column, over the tree's own painting.
class TTreeSubclass : public TVirtualTreeSubclass
{
    Q_OBJECT
public:
    using TVirtualTreeSubclass::TVirtualTreeSubclass;
    void ReadSkin() override;
    void Release() override;
    bool TreeLines() const { return FTreeLines; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PaintLines(QPainter& painter) const;

    bool FTreeLines = false;
    QPen FLinePen;
    QPointer<QWidget> FViewport;
};

// The lists also draw their header: every column's background from the caption picture
// (stretched) or the caption colour, a grid line below and at the right of each column, and the
// caption in the caption font.
class TListSubclass : public TVirtualTreeSubclass
{
    Q_OBJECT
public:
    using TVirtualTreeSubclass::TVirtualTreeSubclass;
    void ReadSkin() override;
    void Release() override;
    // Draws the header's visible part into `painter` (in the header's coordinates).
    void PaintHeader(QPainter& painter, const QRect& update) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QImage FCaption;
    QColor FCaptionColor;     // the header's background without a picture
    QColor FCaptionTextColor; // the caption font's colour
    QPointer<QWidget> FHeaderViewport;
};

// The thumbnail view: its colours, cell size, caption font, selection and shadow, and the
// pictures of books without a cover, all from the section; the view's cells and hints are then
// painted by a TThumbnailPainter with those values. Every picture is read here, so nothing
// is parsed (or can fail) while the view paints.
class TThumbnailSubclass : public TScrollableSubclass
{
    Q_OBJECT
public:
    TThumbnailSubclass(TSkinManager* manager, QWidget* control, const QString& section);
    ~TThumbnailSubclass() override;
    void ReadSkin() override;
    void Release() override;

    // Gives the book behind a cell's value; without it no cell shows a book.
    TThumbnailPainter::TGetItem OnGetItem;
    const TThumbnailPainter* Painter() const { return FPainter.get(); }

private:
    std::unique_ptr<TThumbnailPainter> FPainter;
};

// A copy of a skin picture in which the colour of its bottom-left pixel is transparent (a
// picture that has an alpha channel of its own is kept as it is).
QImage TransparentPicture(const QImage& picture);

// Gives a control the panel colour of a skin colour value.
void SetControlColor(QWidget* control, TColor color);
