// PNG covers decoded by libpng straight to 8 bits: every kind of PNG must give what Qt's own
// reader gives, and damaged files nothing.
#include "SummaryCommon.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QtEndian>

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <functional>
#include <vector>

namespace {

// What to write: the kind of PNG and its optional palette and transparency.
struct TKind
{
    const char* Name;
    int ColourType;
    int Depth;
    bool Interlaced = false;
    int PaletteSize = 0;    // palette entries (colours follow a fixed pattern)
    int PaletteAlphas = 0;  // how many of them get an alpha (tRNS)
    bool ColourKey = false; // a tRNS colour for gray or RGB: sample value 1 in every channel
    int Tolerance = 0;      // 16-bit channels keep their high byte; Qt rounds
};

int Channels(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1; // palette index
    }
}

void Append(png_structp png, png_bytep data, size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<char*>(data), qsizetype(length));
}

void Flush(png_structp) {}

// Writes the PNG with libpng itself, so that every colour type and depth can be made (Qt's
// writer makes few of them). `sample(x, y, channel)` gives values in 0 .. 2^depth - 1.
QByteArray WritePng(const TKind& kind, int width, int height,
                    const std::function<unsigned(int, int, int)>& sample)
{
    const int channels = Channels(kind.ColourType);
    const size_t rowBytes = (size_t(width) * channels * kind.Depth + 7) / 8;
    std::vector<std::vector<png_byte>> rows(height, std::vector<png_byte>(rowBytes, 0));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                const unsigned value = sample(x, y, c);
                const size_t bit = (size_t(x) * channels + c) * kind.Depth;
                png_byte* at = rows[y].data() + bit / 8;
                if (kind.Depth == 16) {
                    at[0] = png_byte(value >> 8);
                    at[1] = png_byte(value);
                } else if (kind.Depth == 8) {
                    at[0] = png_byte(value);
                } else {
                    at[0] |= png_byte(value << (8 - kind.Depth - bit % 8));
                }
            }
    std::vector<png_bytep> pointers;
    for (auto& row : rows)
        pointers.push_back(row.data());
    std::vector<png_color> palette(size_t(kind.PaletteSize));
    for (int i = 0; i < kind.PaletteSize; ++i)
        palette[size_t(i)] = {png_byte(i * 67), png_byte(255 - i * 13), png_byte(i * i)};
    std::vector<png_byte> alphas(size_t(kind.PaletteAlphas));
    for (int i = 0; i < kind.PaletteAlphas; ++i)
        alphas[size_t(i)] = png_byte(i * 255 / qMax(1, kind.PaletteAlphas - 1));
    png_color_16 key{0, 1, 1, 1, 1};

    QByteArray bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &bytes, Append, Flush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), kind.Depth, kind.ColourType,
                 kind.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (kind.PaletteSize) png_set_PLTE(png, info, palette.data(), kind.PaletteSize);
    if (kind.PaletteAlphas) png_set_tRNS(png, info, alphas.data(), kind.PaletteAlphas, nullptr);
    if (kind.ColourKey) png_set_tRNS(png, info, nullptr, 0, &key);
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// Samples that differ in every channel and pixel, alpha from transparent to opaque.
unsigned Busy(const TKind& kind, int x, int y, int c)
{
    const unsigned top = (1u << kind.Depth) - 1;
    if (kind.ColourType == PNG_COLOR_TYPE_PALETTE)
        return unsigned(x + 3 * y) % unsigned(kind.PaletteSize);
    if (kind.ColourKey && (x + y) % 5 == 0) return 1; // the transparent colour
    return (unsigned(x) * 2654435761u + unsigned(y) * 40503u + unsigned(c) * 977u) % (top + 1);
}

// Smooth gradients, the way a cover looks, for comparing scaled pictures.
unsigned Smooth(const TKind& kind, int x, int y, int c)
{
    const unsigned top = (1u << kind.Depth) - 1;
    if (kind.ColourType == PNG_COLOR_TYPE_PALETTE)
        return unsigned(y / 25) % unsigned(kind.PaletteSize);
    return unsigned(quint64(top) * unsigned(x * (c + 1) + y * (3 - c % 3)) /
                    unsigned(150 * 4 + 200 * 3));
}

const TKind Kinds[] = {
    {"RGB 8", PNG_COLOR_TYPE_RGB, 8},
    {"RGBA 8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
    {"RGB 8 with a transparent colour", PNG_COLOR_TYPE_RGB, 8, false, 0, 0, true},
    {"palette 8 with alphas for part of it", PNG_COLOR_TYPE_PALETTE, 8, false, 200, 37},
    {"palette 2", PNG_COLOR_TYPE_PALETTE, 2, false, 4, 2},
    {"gray 8", PNG_COLOR_TYPE_GRAY, 8},
    {"gray 4", PNG_COLOR_TYPE_GRAY, 4},
    {"gray 1 with a transparent level", PNG_COLOR_TYPE_GRAY, 1, false, 0, 0, true},
    {"gray and alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
    {"RGB 16", PNG_COLOR_TYPE_RGB, 16, false, 0, 0, false, 1},
    {"RGBA 16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 0, 0, false, 1},
    {"gray 16", PNG_COLOR_TYPE_GRAY, 16, false, 0, 0, false, 1},
    {"gray and alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, 0, 0, false, 1},
    {"RGBA 8 interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true},
    {"RGB 16 interlaced", PNG_COLOR_TYPE_RGB, 16, true, 0, 0, false, 1},
    {"palette 8 interlaced", PNG_COLOR_TYPE_PALETTE, 8, true, 16, 16},
};

// The largest difference of any channel; pixels transparent in both count as equal (Qt keeps
// no colour for a transparent gray level). `premultiplied` compares what is seen: colour in
// proportion to alpha.
int Difference(const QImage& a, const QImage& b, bool premultiplied = false)
{
    if (a.size() != b.size() || a.isNull()) return 256;
    const auto format = premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
    const QImage x = a.convertToFormat(format);
    const QImage y = b.convertToFormat(format);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column) {
            if (qAlpha(p[column]) == 0 && qAlpha(q[column]) == 0) continue;
            for (const int shift : {0, 8, 16, 24})
                worst = qMax(worst, qAbs(int((p[column] >> shift) & 0xFF) -
                                         int((q[column] >> shift) & 0xFF)));
        }
    }
    return worst;
}

QImage FromDevice(QByteArray bytes, const QSize& box)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return Summary::DecodeScaled(&buffer, box);
}

TEST(PngCovers, EveryKindDecodesAsQtDecodesIt)
{
    for (const TKind& kind : Kinds) {
        SCOPED_TRACE(kind.Name);
        const QByteArray png =
            WritePng(kind, 37, 23, [&](int x, int y, int c) { return Busy(kind, x, y, c); });
        ASSERT_FALSE(png.isEmpty());
        const QImage expected = QImage::fromData(png);
        ASSERT_FALSE(expected.isNull());
        // A box this size needs no scaling: the pictures are compared pixel by pixel.
        const QImage fromBytes = Summary::DecodeScaled(png, QSize(40, 40));
        EXPECT_EQ(fromBytes.format(), QImage::Format_ARGB32);
        EXPECT_LE(Difference(fromBytes, expected), kind.Tolerance);
        EXPECT_LE(Difference(FromDevice(png, QSize(40, 40)), expected), kind.Tolerance);
    }
}

TEST(PngCovers, ScaledCoversShowWhatTheWholePictureShows)
{
    for (const TKind& kind : Kinds) {
        SCOPED_TRACE(kind.Name);
        const QByteArray png =
            WritePng(kind, 150, 200, [&](int x, int y, int c) { return Smooth(kind, x, y, c); });
        // DecodeScaled decodes to twice the box it is given: 66 x 88 is not a whole fraction,
        // so input pixels are shared between output pixels.
        const QImage cover = Summary::DecodeScaled(png, QSize(33, 44));
        ASSERT_EQ(cover.size(), QSize(66, 88));
        EXPECT_EQ(cover.format(), QImage::Format_ARGB32);
        EXPECT_EQ(Difference(FromDevice(png, QSize(33, 44)), cover), 0);
        // Within rounding of the whole picture scaled smoothly (compared as seen: colour in
        // proportion to alpha, since the average is taken of unpremultiplied values).
        const QImage whole = QImage::fromData(png).convertToFormat(QImage::Format_ARGB32);
        EXPECT_LE(Difference(cover,
                             whole.scaled(66, 88, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                             true),
                  2);
        // Eight-bit colour without interlacing is averaged exactly as Qt's own reader scales
        // while reading, so those covers stay what they were to the last bit. (The other kinds
        // Qt's reader decodes whole and scales with its own filter, which strays far from the
        // average where there is alpha: those covers change, for the better.)
        const bool readerScales =
            kind.Depth == 8 && !kind.Interlaced &&
            (kind.ColourType == PNG_COLOR_TYPE_RGB || kind.ColourType == PNG_COLOR_TYPE_RGB_ALPHA);
        if (readerScales) {
            QByteArray copy = png;
            QBuffer buffer(&copy);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            reader.setScaledSize(QSize(66, 88));
            EXPECT_EQ(Difference(cover, reader.read()), 0);
        }
    }
}

TEST(PngCovers, DamagedOrHugePngsGiveNoPicture)
{
    const TKind rgb{"RGB 8", PNG_COLOR_TYPE_RGB, 8};
    const QByteArray png =
        WritePng(rgb, 64, 64, [&](int x, int y, int c) { return Busy(rgb, x, y, c); });
    const qsizetype idat = png.indexOf("IDAT");
    ASSERT_GT(idat, 0);
    // The picture's header claiming another size, its checksum made right.
    auto withSize = [&](quint32 width, quint32 height, bool interlaced) {
        QByteArray bytes = png;
        qToBigEndian(width, bytes.data() + 16);
        qToBigEndian(height, bytes.data() + 20);
        bytes[28] = interlaced ? 1 : 0;
        qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData() + 12), 17)),
                     bytes.data() + 29);
        return bytes;
    };
    QByteArray flipped = png;
    for (qsizetype i = idat + 10; i < idat + 30; ++i)
        flipped[i] = char(flipped[i] ^ 0x33);
    const struct
    {
        const char* Name;
        QByteArray Bytes;
    } cases[] = {
        {"cut in the pixel data", png.left(idat + 60)},
        {"cut after the signature", png.left(8)},
        {"damaged pixel data", flipped},
        {"wider than any cover", withSize(40000, 10, false)},
        {"gigabytes to hold, interlaced", withSize(29000, 29000, true)},
        {"more rows declared than there are", withSize(64, 20000, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_TRUE(Summary::DecodeScaled(c.Bytes, QSize(90, 112)).isNull());
        EXPECT_TRUE(FromDevice(c.Bytes, QSize(90, 112)).isNull());
    }
    EXPECT_FALSE(Summary::DecodeScaled(png, QSize(90, 112)).isNull()); // the intact one
}

} // namespace
