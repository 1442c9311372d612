#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <functional>
#include <vector>

class QPainter;

// One picture of the default skin, described once in 1x units and rendered at any whole scale,
// so the 100 % and the 200 % bitmaps always have the same geometry.
struct TThemePicture
{
    enum TKind
    {
        pkOpaque, // copied as it is (frames, backgrounds, strips of the buttons)
        pkKeyed,  // drawn over its background, whose exact colour then becomes the key colour
        pkAlpha,  // drawn over nothing and kept with its alpha channel (tray icons)
    };

    QString Name;   // the entry's name without ".bmp"
    int Width = 0;  // of one frame, at 1x
    int Height = 0; // at 1x
    int Frames = 1; // frames side by side
    TKind Kind = pkOpaque;
    // The colour a frame is filled with before drawing; for pkKeyed pictures this is what the
    // key colour replaces, so icons blend their edges into the background they will be seen on.
    std::function<QColor(int frame)> Background;
    std::function<void(QPainter& p, int frame)> Draw;

    QImage Render(int scale) const;
};

// The key colour of the skin's pictures: pixels of this colour are not drawn.
inline const QColor ThemeKeyColor{255, 0, 255};

// Every picture of the default skin.
std::vector<TThemePicture> ThemePictures();
