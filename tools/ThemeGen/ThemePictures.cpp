#include "ThemePictures.h"
#include "ThemePalette.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace {
using namespace ThemePalette;

// Frames of the tool-button strips: normal, hot, pressed, disabled, down.
constexpr int FrameCount = 5;

QColor ButtonFill(int frame)
{
    switch (frame) {
    case 1:
        return Hot;
    case 2:
        return Pressed;
    case 4:
        return Chosen;
    default:
        return Bar;
    }
}

QColor IconColor(int frame)
{
    switch (frame) {
    case 0:
        return Ink2;
    case 3:
        return Faint;
    case 4:
        return Accent;
    default:
        return Ink;
    }
}

// Fills a rectangle given in 1x pixels; whole numbers stay on the pixel grid at every scale.
void Box(QPainter& p, qreal x, qreal y, qreal w, qreal h, const QColor& c)
{
    p.fillRect(QRectF(x, y, w, h), c);
}

// A one-pixel outline inside the rectangle (x, y, w, h), square corners, on the grid.
void Outline(QPainter& p, qreal x, qreal y, qreal w, qreal h, const QColor& c)
{
    Box(p, x, y, w, 1, c);
    Box(p, x, y + h - 1, w, 1, c);
    Box(p, x, y + 1, 1, h - 2, c);
    Box(p, x + w - 1, y + 1, 1, h - 2, c);
}

QPen Stroke(const QColor& c, qreal width = 2, Qt::PenCapStyle cap = Qt::FlatCap)
{
    return QPen(c, width, Qt::SolidLine, cap, Qt::MiterJoin);
}

// ---- the button strips --------------------------------------------------------------------

// The backgrounds sit on the flat toolbar colour, so the rounded shape's edge pixels are
// blended with exactly the colour around the button.
void ButtonFrame(QPainter& p, int frame, int w, int h, qreal inset, qreal radius)
{
    if (frame == 0 || frame == 3) return;
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(inset + 0.5, inset + 0.5, w - 2 * inset - 1, h - 2 * inset - 1);
    p.setPen(frame == 4 ? QPen(ChosenLine, 1) : Qt::NoPen);
    p.setBrush(ButtonFill(frame));
    p.drawRoundedRect(r, radius, radius);
}

// ---- icons, 24 units for the main toolbar, 16 for the browser's ----------------------------

void IconOpenBook(QPainter& p, const QColor& c)
{
    // Two pages that dip toward the spine; the outer edges stay on the grid.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    for (const int side : {-1, 1}) {
        const qreal outer = 12 + side * 9;
        QPainterPath page;
        page.moveTo(12, 19);
        page.quadTo(12 + side * 4, 16, outer, 17);
        page.lineTo(outer, 5);
        page.quadTo(12 + side * 4, 4, 12, 7);
        p.drawPath(page);
    }
    p.drawLine(QPointF(12, 7), QPointF(12, 19));
}

void IconList(QPainter& p, const QColor& c)
{
    for (int row = 0; row < 3; ++row) {
        const int y = 5 + row * 6;
        Box(p, 3, y, 3, 3, c);
        Box(p, 9, y, 12, 3, c);
    }
}

void IconThumbs(QPainter& p, const QColor& c)
{
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 2; ++col)
            Outline(p, 3 + col * 10, 3 + row * 10, 8, 8, c),
                Outline(p, 4 + col * 10, 4 + row * 10, 6, 6, c);
}

void IconPlus(QPainter& p, const QColor& c)
{
    Box(p, 7, 2, 2, 12, c);
    Box(p, 2, 7, 12, 2, c);
}

void IconArrow(QPainter& p, const QColor& c, bool forward)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.save();
    if (forward) {
        p.translate(16, 0);
        p.scale(-1, 1);
    }
    Box(p, 3, 7, 10, 2, c);
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF{{8, 3}, {3.5, 8}, {8, 13}});
    p.restore();
}

void IconStop(QPainter& p, const QColor& c)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Stroke(c, 2, Qt::SquareCap));
    p.drawLine(QPointF(4, 4), QPointF(12, 12));
    p.drawLine(QPointF(12, 4), QPointF(4, 12));
}

void IconRefresh(QPainter& p, const QColor& c)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Stroke(c, 2));
    p.setBrush(Qt::NoBrush);
    // Most of a circle, open at the upper right, with the arrowhead at its end.
    p.drawArc(QRectF(3, 3, 10, 10), 60 * 16, 280 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(QPolygonF{{9, 1}, {14, 4.5}, {9, 8}});
}

void IconHome(QPainter& p, const QColor& c)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF{{2, 8}, {8, 2.5}, {14, 8}});
    p.setRenderHint(QPainter::Antialiasing, false);
    Box(p, 4, 8, 2, 6, c);
    Box(p, 10, 8, 2, 6, c);
    Box(p, 4, 13, 8, 1, c);
}

// ---- a five-by-seven letter set for the covers, drawn cell by cell -------------------------

struct TGlyph
{
    char Letter;
    std::array<const char*, 7> Rows;
};

constexpr TGlyph Glyphs[] = {
    {'B', {"11110", "10001", "10001", "11110", "10001", "10001", "11110"}},
    {'C', {"01110", "10001", "10000", "10000", "10000", "10001", "01110"}},
    {'D', {"11110", "10001", "10001", "10001", "10001", "10001", "11110"}},
    {'E', {"11111", "10000", "10000", "11110", "10000", "10000", "11111"}},
    {'F', {"11111", "10000", "10000", "11110", "10000", "10000", "10000"}},
    {'I', {"01110", "00100", "00100", "00100", "00100", "00100", "01110"}},
    {'M', {"10001", "11011", "10101", "10101", "10001", "10001", "10001"}},
    {'O', {"01110", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'P', {"11110", "10001", "10001", "11110", "10000", "10000", "10000"}},
    {'T', {"11111", "00100", "00100", "00100", "00100", "00100", "00100"}},
    {'U', {"10001", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'X', {"10001", "10001", "01010", "00100", "01010", "10001", "10001"}},
    {'Z', {"11111", "00001", "00010", "00100", "01000", "10000", "11111"}},
    {'2', {"01110", "10001", "00001", "00010", "00100", "01000", "11111"}},
    {'?', {"01110", "10001", "00001", "00010", "00100", "00000", "00100"}},
};

const TGlyph* FindGlyph(char letter)
{
    for (const TGlyph& g : Glyphs)
        if (g.Letter == letter) return &g;
    return nullptr;
}

// Width of a word in cells: five per letter and one between letters.
int WordCells(const char* word)
{
    const int n = int(strlen(word));
    return n * 6 - 1;
}

void DrawWord(QPainter& p, const char* word, qreal x, qreal y, qreal cell, const QColor& c)
{
    for (const char* ch = word; *ch; ++ch, x += 6 * cell) {
        const TGlyph* g = FindGlyph(*ch);
        if (!g) continue;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->Rows[row][col] == '1') Box(p, x + col * cell, y + row * cell, cell, cell, c);
    }
}

// ---- covers --------------------------------------------------------------------------------

constexpr int CoverWidth = 90;
constexpr int CoverHeight = 112;

// A plain printed cover: a spine in the format's colour, a few title rules and the format's
// name on a label. Square edges on the grid, so it looks right on any cell background; the four
// corners are cut by one key-coloured pixel. The cover is drawn with the colour of its
// bottom-left pixel as the transparent one, so that pixel must be the key colour: otherwise
// the spine and the label (drawn in the same tone) would vanish.
void Cover(QPainter& p, const QColor& tone, const char* label)
{
    const QColor rule =
        QColor::fromRgbF(tone.redF() * 0.25 + 0.75 * 0.92, tone.greenF() * 0.25 + 0.75 * 0.91,
                         tone.blueF() * 0.25 + 0.75 * 0.88);
    Box(p, 0, 0, CoverWidth, CoverHeight, Paper);
    Outline(p, 0, 0, CoverWidth, CoverHeight, QColor(0xC9, 0xC2, 0xB4));
    Box(p, 0, 0, 9, CoverHeight, tone);
    Box(p, 9, 1, 1, CoverHeight - 2, tone.darker(125));
    Box(p, 0, 0, 1, 1, ThemeKeyColor);
    Box(p, 0, CoverHeight - 1, 1, 1, ThemeKeyColor);
    Box(p, CoverWidth - 1, 0, 1, 1, ThemeKeyColor);
    Box(p, CoverWidth - 1, CoverHeight - 1, 1, 1, ThemeKeyColor);

    Box(p, 20, 18, 56, 4, rule);
    Box(p, 20, 26, 42, 4, rule);
    Box(p, 20, 38, 28, 2, rule);

    const qreal cell = 2;
    const qreal labelW = 62;
    const qreal labelH = 26;
    const qreal lx = 10 + (CoverWidth - 10 - labelW) / 2;
    const qreal ly = 70;
    Box(p, lx, ly, labelW, labelH, tone);
    const qreal ww = WordCells(label) * cell;
    DrawWord(p, label, lx + int((labelW - ww) / 2), ly + 6, cell, Paper);
}

void InvalidCover(QPainter& p)
{
    Box(p, 0, 0, CoverWidth, CoverHeight, QColor(0xF4, 0xF2, 0xED));
    // A dashed edge: the book is not there to be shown.
    const QColor dash(0xB9, 0xB3, 0xA7);
    for (int x = 0; x < CoverWidth; x += 6) {
        Box(p, x, 0, 3, 1, dash);
        Box(p, x, CoverHeight - 1, 3, 1, dash);
    }
    for (int y = 0; y < CoverHeight; y += 6) {
        Box(p, 0, y, 1, 3, dash);
        Box(p, CoverWidth - 1, y, 1, 3, dash);
    }
    const qreal cell = 4;
    DrawWord(p, "?", (CoverWidth - 5 * cell) / 2, (CoverHeight - 7 * cell) / 2, cell, Muted);
}

// ---- tray icons: a small reader with a badge -----------------------------------------------

void Reader(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor edge(0x3E, 0x3C, 0x38);
    Box(p, 2, 0, 11, 16, QColor(0xF5, 0xF3, 0xEE));
    Outline(p, 2, 0, 11, 16, edge);
    Box(p, 4, 2, 7, 9, QColor(0xD9, 0xD4, 0xC9));
    Box(p, 5, 4, 5, 1, Muted);
    Box(p, 5, 6, 4, 1, Muted);
    Box(p, 5, 8, 5, 1, Muted);
    Box(p, 6, 13, 3, 1, edge);
}

// A round badge over the lower right corner; its mark is drawn by the caller around (11.5, 11.5).
void Badge(QPainter& p, const QColor& fill)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(7.5, 7.5, 8, 8));
    p.setRenderHint(QPainter::Antialiasing, false);
}

TThemePicture Strip(const QString& name, int w, int h, std::function<void(QPainter&, int)> draw,
                    TThemePicture::TKind kind)
{
    TThemePicture pic;
    pic.Name = name;
    pic.Width = w;
    pic.Height = h;
    pic.Frames = FrameCount;
    pic.Kind = kind;
    // Icons are blended into the button face of their own frame; the button strips themselves
    // sit on the toolbar.
    if (kind == TThemePicture::pkKeyed)
        pic.Background = [](int frame) { return ButtonFill(frame); };
    else
        pic.Background = [](int) { return Bar; };
    pic.Draw = std::move(draw);
    return pic;
}

TThemePicture Single(const QString& name, int w, int h, TThemePicture::TKind kind, QColor back,
                     std::function<void(QPainter&, int)> draw)
{
    TThemePicture pic;
    pic.Name = name;
    pic.Width = w;
    pic.Height = h;
    pic.Kind = kind;
    pic.Background = [back](int) { return back; };
    pic.Draw = std::move(draw);
    return pic;
}
} // namespace

QImage TThemePicture::Render(int scale) const
{
    const int frameW = Width * scale;
    QImage image(frameW * Frames, Height * scale, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int f = 0; f < Frames; ++f) {
        QPainter p(&image);
        p.translate(f * frameW, 0);
        p.scale(scale, scale);
        p.setClipRect(QRectF(0, 0, Width, Height));
        if (Kind != pkAlpha) p.fillRect(QRectF(0, 0, Width, Height), Background(f));
        Draw(p, f);
    }
    if (Kind == pkKeyed) {
        for (int f = 0; f < Frames; ++f) {
            const QRgb back = Background(f).rgba();
            for (int y = 0; y < image.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = f * frameW; x < (f + 1) * frameW; ++x)
                    if (line[x] == back) line[x] = ThemeKeyColor.rgba();
            }
        }
    }
    if (Kind == pkAlpha) {
        // Fully transparent pixels carry the key colour too, for readers that ignore alpha.
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(line[x]) == 0) line[x] = qRgba(255, 0, 255, 0);
        }
    }
    return image;
}

std::vector<TThemePicture> ThemePictures()
{
    using K = TThemePicture;
    std::vector<TThemePicture> all;

    // Main toolbar: 50 high, flat, a hairline at the bottom. Three slices of 8, 32 and 8.
    all.push_back(Single("toolbar", 48, 50, K::pkOpaque, Bar, [](QPainter& p, int) {
        Box(p, 0, 0, 48, 1, QColor(0xFF, 0xFF, 0xFF));
        Box(p, 0, 49, 48, 1, Line);
    }));

    // Navigator: no frame but a 6-pixel right edge that the user drags; the grip sits on it. The
    // client card beside it draws the dividing line.
    all.push_back(Single("navigator", 32, 32, K::pkOpaque, Panel, [](QPainter&, int) {}));
    all.push_back(Single("splitter", 6, 36, K::pkOpaque, Panel, [](QPainter& p, int) {
        for (int i = 0; i < 5; ++i)
            Box(p, 2, 6 + i * 5, 2, 2, Faint);
    }));

    // The tree's container: padding in the panel colour around the tree.
    all.push_back(Single("treecontainer", 24, 24, K::pkOpaque, Panel, [](QPainter&, int) {}));

    // The right-hand pages sit on a card with a hairline edge and rounded corners.
    all.push_back(Single("clientcontainer", 16, 16, K::pkOpaque, Panel, [](QPainter& p, int) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Line, 1));
        p.setBrush(Paper);
        p.drawRoundedRect(QRectF(0.5, 4.5, 11, 7), 4, 4);
        p.setRenderHint(QPainter::Antialiasing, false);
        Box(p, 1, 5, 14, 6, Paper);
        Box(p, 0, 5, 1, 6, Line);
        Box(p, 15, 5, 1, 6, Line);
        Box(p, 5, 4, 6, 1, Line);
        Box(p, 5, 11, 6, 1, Line);
    }));

    // The list header, stretched under every column.
    all.push_back(Single("listheader", 4, 28, K::pkOpaque, HeaderBottom, [](QPainter& p, int) {
        QLinearGradient g(0, 0, 0, 28);
        g.setColorAt(0, HeaderTop);
        g.setColorAt(1, HeaderBottom);
        p.fillRect(QRectF(0, 0, 4, 28), g);
    }));

    // Tool buttons: backgrounds and icons, five frames each.
    all.push_back(Strip(
        "toolbutton", 44, 40, [](QPainter& p, int f) { ButtonFrame(p, f, 44, 40, 2, 6); },
        K::pkOpaque));
    all.push_back(Strip(
        "browsebutton", 32, 28, [](QPainter& p, int f) { ButtonFrame(p, f, 32, 28, 2, 5); },
        K::pkOpaque));
    const auto icon24 = [&](const QString& name, void (*draw)(QPainter&, const QColor&)) {
        all.push_back(Strip(
            name, 24, 24, [draw](QPainter& p, int f) { draw(p, IconColor(f)); }, K::pkKeyed));
    };
    icon24("open", IconOpenBook);
    icon24("viewlist", IconList);
    icon24("viewthumb", IconThumbs);
    const auto icon16 = [&](const QString& name,
                            std::function<void(QPainter&, const QColor&)> draw) {
        all.push_back(Strip(
            name, 16, 16, [draw](QPainter& p, int f) { draw(p, IconColor(f)); }, K::pkKeyed));
    };
    icon16("browsenew", IconPlus);
    icon16("browseback", [](QPainter& p, const QColor& c) { IconArrow(p, c, false); });
    icon16("browsenext", [](QPainter& p, const QColor& c) { IconArrow(p, c, true); });
    icon16("browsestop", IconStop);
    icon16("browserefresh", IconRefresh);
    icon16("browsehome", IconHome);

    // Tree icons over the tree's colour: the fixed places and the user's bookshelves.
    all.push_back(Single("treefixed", 16, 16, K::pkKeyed, Panel, [](QPainter& p, int) {
        Box(p, 2, 3, 3, 10, Accent);
        Box(p, 6, 2, 3, 11, Ink2);
        Box(p, 10, 4, 3, 9, Muted);
        Box(p, 7, 4, 1, 1, Panel);
        Box(p, 1, 13, 14, 2, Ink2);
    }));
    all.push_back(Single("treeshelf", 16, 16, K::pkKeyed, Panel, [](QPainter& p, int) {
        Box(p, 1, 3, 6, 2, Accent);
        Box(p, 1, 5, 14, 9, Accent);
        Box(p, 2, 6, 12, 7, Chosen);
        Box(p, 4, 8, 8, 1, ChosenLine);
        Box(p, 4, 10, 5, 1, ChosenLine);
    }));
    // The list's row icon: a closed book.
    all.push_back(Single("listbook", 16, 16, K::pkKeyed, Paper, [](QPainter& p, int) {
        Box(p, 3, 1, 10, 14, Accent);
        Box(p, 5, 1, 1, 14, Accent.darker(130));
        Box(p, 6, 12, 7, 2, Paper);
        Box(p, 7, 4, 4, 1, Chosen);
    }));

    // Placeholder covers for books without a picture of their own, and the invalid item.
    struct TCoverTone
    {
        const char* Ext;
        const char* Label;
        QColor Tone;
    };
    const TCoverTone covers[] = {
        {"epub", "EPUB", QColor(0x3D, 0x7A, 0x64)}, {"pdf", "PDF", QColor(0xA5, 0x4A, 0x3E)},
        {"txt", "TXT", QColor(0x5E, 0x66, 0x70)},   {"mobi", "MOBI", QColor(0xB0, 0x7A, 0x2A)},
        {"fb2", "FB2", QColor(0x3E, 0x62, 0x94)},   {"cbz", "CBZ", QColor(0x7A, 0x55, 0x8A)},
    };
    for (const TCoverTone& c : covers)
        all.push_back(Single(QStringLiteral("cover-") + c.Ext, CoverWidth, CoverHeight, K::pkKeyed,
                             ThemeKeyColor, [c](QPainter& p, int) { Cover(p, c.Tone, c.Label); }));
    all.push_back(Single("invalid", CoverWidth, CoverHeight, K::pkKeyed, ThemeKeyColor,
                         [](QPainter& p, int) { InvalidCover(p); }));

    // Tray icons of the update window: idle, writing firmware, downloading, failed.
    all.push_back(
        Single("tray-idle", 16, 16, K::pkAlpha, QColor(), [](QPainter& p, int) { Reader(p); }));
    all.push_back(Single("tray-writing", 16, 16, K::pkAlpha, QColor(), [](QPainter& p, int) {
        Reader(p);
        Badge(p, QColor(0xB0, 0x7A, 0x2A));
        // An arrow into a bar: the image going onto the reader.
        Box(p, 11, 9, 1, 3, Qt::white);
        Box(p, 10, 11, 3, 1, Qt::white);
        Box(p, 9, 13, 5, 1, Qt::white);
    }));
    all.push_back(Single("tray-downloading", 16, 16, K::pkAlpha, QColor(), [](QPainter& p, int) {
        Reader(p);
        Badge(p, Accent);
        Box(p, 11, 9, 1, 4, Qt::white);
        Box(p, 9, 11, 5, 1, Qt::white);
        Box(p, 10, 12, 3, 1, Qt::white);
    }));
    all.push_back(Single("tray-failed", 16, 16, K::pkAlpha, QColor(), [](QPainter& p, int) {
        Reader(p);
        Badge(p, QColor(0xB2, 0x3A, 0x30));
        Box(p, 11, 9, 1, 3, Qt::white);
        Box(p, 11, 13, 1, 1, Qt::white);
    }));
    return all;
}
