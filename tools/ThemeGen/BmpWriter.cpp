#include "BmpWriter.h"

#include <cstdint>

namespace {
void Put16(QByteArray& out, uint16_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void Put32(QByteArray& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

// 96 dots per inch, as pixels per metre.
constexpr uint32_t PixelsPerMetre = 3780;

QByteArray Encode(const QImage& source, int bitsPerPixel)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width();
    const int h = image.height();
    const int bytesPerPixel = bitsPerPixel / 8;
    const int stride = (w * bytesPerPixel + 3) & ~3;
    const uint32_t infoSize = bitsPerPixel == 32 ? 108 : 40;
    const uint32_t dataOffset = 14 + infoSize;
    const uint32_t dataSize = uint32_t(stride) * uint32_t(h);

    QByteArray out;
    out.reserve(int(dataOffset + dataSize));
    out.append("BM", 2);
    Put32(out, dataOffset + dataSize);
    Put32(out, 0);
    Put32(out, dataOffset);

    Put32(out, infoSize);
    Put32(out, uint32_t(w));
    Put32(out, uint32_t(h)); // positive: rows run bottom-up
    Put16(out, 1);
    Put16(out, uint16_t(bitsPerPixel));
    Put32(out, bitsPerPixel == 32 ? 3 : 0); // BI_BITFIELDS carries the alpha mask
    Put32(out, dataSize);
    Put32(out, PixelsPerMetre);
    Put32(out, PixelsPerMetre);
    Put32(out, 0);
    Put32(out, 0);
    if (bitsPerPixel == 32) {
        Put32(out, 0x00FF0000); // red
        Put32(out, 0x0000FF00); // green
        Put32(out, 0x000000FF); // blue
        Put32(out, 0xFF000000); // alpha
        Put32(out, 0x73524742); // "sRGB"
        for (int i = 0; i < 12; ++i)
            Put32(out, 0); // end points and gamma, unused for sRGB
    }

    for (int y = h - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const int start = out.size();
        for (int x = 0; x < w; ++x) {
            const QRgb p = line[x];
            out.append(char(qBlue(p)));
            out.append(char(qGreen(p)));
            out.append(char(qRed(p)));
            if (bitsPerPixel == 32) out.append(char(qAlpha(p)));
        }
        while (out.size() - start < stride)
            out.append('\0');
    }
    return out;
}
} // namespace

QByteArray BmpWriter::Encode24(const QImage& image)
{
    return Encode(image, 24);
}

QByteArray BmpWriter::Encode32(const QImage& image)
{
    return Encode(image, 32);
}
