#include "AppIcon.h"
#include "ThemePalette.h"

#include <QPainter>
#include <QPainterPath>

#include <vector>

namespace AppIcon {
namespace {

using namespace ThemePalette;
// The teal of what is chosen, one step darker for the tile's foot.
const QColor AccentDark{0x24, 0x57, 0x5E};

struct TShape
{
    QPainterPath Path;
    QColor Fill;   // invalid: not filled
    QColor Stroke; // invalid: not stroked
    qreal Width = 0;
};

QPainterPath RoundedRect(qreal x, qreal y, qreal w, qreal h, qreal r)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return path;
}

std::vector<TShape> Shapes()
{
    std::vector<TShape> shapes;
    // The tile, with a darker band at its foot for depth.
    shapes.push_back({RoundedRect(4, 4, 56, 56, 12), AccentDark, {}, 0});
    shapes.push_back({RoundedRect(4, 4, 56, 53, 12), Accent, {}, 0});
    // The reader and its screen.
    shapes.push_back({RoundedRect(17, 10, 30, 44, 4), Paper, {}, 0});
    shapes.push_back({RoundedRect(20, 14, 24, 30, 1.5), Panel, {}, 0});
    // An open book on the screen: two pages dipping toward the spine.
    QPainterPath book;
    for (const int side : {-1, 1}) {
        const qreal outer = 32 + side * 9;
        book.moveTo(32, 36);
        book.quadTo(32 + side * 4, 33, outer, 34);
        book.lineTo(outer, 22);
        book.quadTo(32 + side * 4, 21, 32, 24);
    }
    book.moveTo(32, 24);
    book.lineTo(32, 36);
    shapes.push_back({book, {}, Ink2, 2});
    // The page-turn key below the screen.
    QPainterPath key;
    key.addRoundedRect(QRectF(28, 47, 8, 3), 1.5, 1.5);
    shapes.push_back({key, Muted, {}, 0});
    return shapes;
}

QString Number(qreal v)
{
    return QString::number(v, 'g', 6);
}

QString SvgPath(const QPainterPath& path)
{
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            d += QStringLiteral("M%1 %2").arg(Number(e.x), Number(e.y));
            break;
        case QPainterPath::LineToElement:
            d += QStringLiteral("L%1 %2").arg(Number(e.x), Number(e.y));
            break;
        case QPainterPath::CurveToElement: {
            const QPainterPath::Element c2 = path.elementAt(i + 1);
            const QPainterPath::Element to = path.elementAt(i + 2);
            d += QStringLiteral("C%1 %2 %3 %4 %5 %6")
                     .arg(Number(e.x), Number(e.y), Number(c2.x), Number(c2.y), Number(to.x),
                          Number(to.y));
            i += 2;
            break;
        }
        case QPainterPath::CurveToDataElement:
            break;
        }
    }
    return d;
}

} // namespace

QImage Render(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    for (const TShape& s : Shapes()) {
        p.setBrush(s.Fill.isValid() ? QBrush(s.Fill) : Qt::NoBrush);
        p.setPen(s.Stroke.isValid()
                     ? QPen(s.Stroke, s.Width, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin)
                     : Qt::NoPen);
        p.drawPath(s.Path);
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QByteArray Svg()
{
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" "
                                 "height=\"64\" viewBox=\"0 0 64 64\">\n");
    for (const TShape& s : Shapes()) {
        svg += QStringLiteral("  <path d=\"%1\" fill=\"%2\"")
                   .arg(SvgPath(s.Path), s.Fill.isValid() ? s.Fill.name() : QStringLiteral("none"));
        if (s.Stroke.isValid())
            svg += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\" stroke-linejoin=\"round\"")
                       .arg(s.Stroke.name(), Number(s.Width));
        svg += QStringLiteral("/>\n");
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace AppIcon
