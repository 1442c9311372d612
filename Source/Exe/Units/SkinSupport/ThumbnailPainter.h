#pragma once

#include "BookInfo.h"
#include "rkView.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

// What the cell painter needs of a book. The library model implements it (or adapts to it), so
// the painter stays free of the model and can be tested with plain objects.
class TThumbnailBook
{
public:
    virtual ~TThumbnailBook() = default;
    // Asks for the book's information when it has not been read yet; cheap once loaded. Called
    // on every paint and hint, so only books that are shown are ever read.
    virtual void EnsureLoaded() = 0;
    // The book list's first column.
    virtual QString Name() const = 0;
    // The author field of the book's information.
    virtual QString Author() const = 0;
    // The cover, fitted into the cover box; null while it is being made and when the book has
    // none (the cell then shows the placeholder of its file type in the box).
    virtual QImage Cover() const = 0;
    // The book's file is gone (the item's isMissing state).
    virtual bool IsMissing() const = 0;
    // The file's full path; its extension picks the placeholder picture.
    virtual QString FullPath() const = 0;
};

// Every input of the cell painter that the skin may set, with the values used when the skin
// gives none. The skin manager fills one of these from its "Thumbnail" section.
struct TThumbnailSkin
{
    QColor Color;                       // "Color": the view's background (default: window)
    QColor ActiveFontColor;             // "ActiveFontColor": text of selected cells (window text)
    QColor InactiveFontColor;           // "InactiveFontColor": text of missing books (grey text)
    std::optional<QSize> ThumbnailSize; // "ThumbnailSize": the view's cell size
    QFont CaptionFont;                  // "Font"
    QColor CaptionFontColor;            // the font's own colour (window text)
    int CornerSize = 0;                 // "CornerSize"
    QColor SelectionColor;              // "SelectionColor" (highlight)
    QColor FrameColor{255, 255, 255};   // "FrameColor"
    QColor ShadowColor{255, 255, 255};  // "ShadowColor"
    bool BorderWhenInvalid = false;     // "ThumbnailBorderWhenInvalid"
    QImage InvalidImage;                // "InvalidImage"; null when absent
    QHash<QString, QImage> ExtensionImages; // section "Images", keys in lower case

    // The default values, with the system colours of the current palette.
    static TThumbnailSkin Defaults();
};

// Paints the cells of the thumbnail view and answers its hints: a rounded selection, the
// cover in a box with a five-ring shadow (or a placeholder for its file type), the name and
// the author below it. It asks OnGetItem for the book of a cell, so only visible books are
// loaded.
class TThumbnailPainter
{
public:
    using TGetItem = std::function<TThumbnailBook*(TrkView* sender, int64_t value)>;

    explicit TThumbnailPainter(TThumbnailSkin skin = TThumbnailSkin::Defaults());

    TGetItem OnGetItem;
    const TThumbnailSkin& Skin() const { return FSkin; }

    // Gives the view the skin's colour and cell size and takes over its cell painting, hints
    // and cell texts; Release hands them back.
    void Attach(TrkView* view);
    void Release(TrkView* view);

    void PaintCell(TrkView* view, QPainter& canvas, const QRect& cell, int idxA, int64_t idx,
                   TsvItemState state);
    void HintShow(TrkView* view, int64_t idx, int column, QString& text, bool& show);
    // The cell's name and author in words, for assistive technology.
    void CellText(TrkView* view, int64_t idx, QString& text);

    // c1 moved n fifths of the way toward c2, each channel rounded and held within 0..255.
    static QColor Blend(const QColor& c1, const QColor& c2, int n);

    // The thumbnail box when the book gives no size.
    static constexpr int DefaultThumbWidth = 90;
    static constexpr int DefaultThumbHeight = 112;

private:
    TThumbnailBook* Item(TrkView* view, int64_t value) const;

    TThumbnailSkin FSkin;
};
