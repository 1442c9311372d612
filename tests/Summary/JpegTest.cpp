// JPEG covers decoded by libjpeg itself: upright as their EXIF data says, at the smallest of the
// decoder's scales that covers the box, looking like what Qt's own reader gives; damaged data
// gives nothing.
#include "JpegReader.h"
#include "SummaryCommon.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

namespace {

const QColor Corners[4] = {QColor(220, 30, 30), QColor(30, 200, 30), QColor(30, 30, 220),
                           QColor(230, 230, 40)};

// Four quarters of different colours, so that any turn or mirror shows.
QImage Quarters(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = width / 2, h = height / 2;
    painter.fillRect(0, 0, w, h, Corners[0]);
    painter.fillRect(w, 0, width - w, h, Corners[1]);
    painter.fillRect(0, h, w, height - h, Corners[2]);
    painter.fillRect(w, h, width - w, height - h, Corners[3]);
    return image;
}

QByteArray Encode(const QImage& image, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

// An EXIF block with only the orientation tag, put right after the start marker.
QByteArray WithOrientation(const QByteArray& jpeg, int orientation, bool bigEndian)
{
    auto u16 = [&](int v) {
        const char high = char(v >> 8), low = char(v & 0xFF);
        QByteArray two(2, '\0');
        two[0] = bigEndian ? high : low;
        two[1] = bigEndian ? low : high;
        return two;
    };
    QByteArray tiff = bigEndian ? QByteArray("MM") : QByteArray("II");
    tiff += u16(42);
    tiff += bigEndian ? QByteArray("\0\0\0\x08", 4) : QByteArray("\x08\0\0\0", 4);
    tiff += u16(1);                                              // one entry
    tiff += u16(0x0112) + u16(3);                                // orientation, SHORT
    tiff += bigEndian ? QByteArray("\0\0\0\x01", 4) : QByteArray("\x01\0\0\0", 4); // count 1
    tiff += u16(orientation) + QByteArray(2, '\0');
    tiff += QByteArray(4, '\0'); // no next IFD
    const QByteArray data = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(data.size()) + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    return jpeg.left(2) + segment + data + jpeg.mid(2);
}

bool Near(QRgb pixel, QRgb expected)
{
    return qAbs(qRed(pixel) - qRed(expected)) <= 40 &&
           qAbs(qGreen(pixel) - qGreen(expected)) <= 40 &&
           qAbs(qBlue(pixel) - qBlue(expected)) <= 40;
}

// The colours at the centres of the four quarters agree.
void ExpectSameQuarters(const QImage& ours, const QImage& qt, const char* what)
{
    ASSERT_FALSE(ours.isNull()) << what;
    for (const QPointF at : {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75),
                             QPointF(0.75, 0.75)}) {
        const QRgb mine = ours.pixel(int(at.x() * ours.width()), int(at.y() * ours.height()));
        const QRgb theirs = qt.pixel(int(at.x() * qt.width()), int(at.y() * qt.height()));
        EXPECT_TRUE(Near(mine, theirs)) << what << " at " << at.x() << "," << at.y() << ": "
                                        << std::hex << mine << " vs " << theirs;
    }
}

QImage QtReads(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    return reader.read();
}

TEST(JpegTest, EveryOrientationComesUprightAsQtTurnsIt)
{
    const QByteArray plain = Encode(Quarters(160, 120));
    for (const bool bigEndian : {true, false}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QByteArray bytes = WithOrientation(plain, orientation, bigEndian);
            const QImage qt = QtReads(bytes);
            ASSERT_FALSE(qt.isNull());
            ASSERT_EQ(qt.size(), orientation >= 5 ? QSize(120, 160) : QSize(160, 120))
                << orientation;
            QImage ours;
            ASSERT_EQ(Summary::ReadJpeg(QByteArrayView(bytes), QSize(40, 40), ours),
                      Summary::TJpegRead::Decoded);
            // A quarter of the picture covers the 40 x 40 box's part.
            EXPECT_EQ(ours.size(), qt.size() / 4) << orientation;
            const std::string what = "orientation " + std::to_string(orientation) +
                                     (bigEndian ? " MM" : " II");
            ExpectSameQuarters(ours, qt, what.c_str());
        }
    }
}

TEST(JpegTest, KindsAndScalesAsQtReadsThem)
{
    struct TCase
    {
        const char* Name;
        QImage Picture;
        bool Progressive;
        QSize Box;
        QSize Expected;
    };
    const QImage big = Quarters(1200, 1600);
    const TCase cases[] = {
        {"a large cover in a thumbnail box: an eighth", big, false, QSize(90, 112), {150, 200}},
        {"progressive", big, true, QSize(90, 112), {150, 200}},
        {"a box needing more than a quarter: a half", big, false, QSize(500, 500), {600, 800}},
        {"an empty box: full size", Quarters(160, 120), false, QSize(), {160, 120}},
        {"a box larger than the picture", Quarters(160, 120), false, QSize(500, 500), {160, 120}},
        {"gray", Quarters(160, 120).convertToFormat(QImage::Format_Grayscale8), false,
         QSize(90, 112), {160, 120}},
        {"odd sides", Quarters(97, 61), false, QSize(20, 20), {25, 16}},
    };
    for (const TCase& c : cases) {
        const QByteArray bytes = Encode(c.Picture, c.Progressive);
        QImage fromBytes;
        ASSERT_EQ(Summary::ReadJpeg(QByteArrayView(bytes), c.Box, fromBytes),
                  Summary::TJpegRead::Decoded)
            << c.Name;
        EXPECT_EQ(fromBytes.size(), c.Expected) << c.Name;
        EXPECT_EQ(fromBytes.format(), QImage::Format_RGB32) << c.Name;
        ExpectSameQuarters(fromBytes, QtReads(bytes), c.Name);

        // From a device, read from where it stands, the same picture.
        QBuffer buffer;
        buffer.setData(QByteArray("prefix") + bytes);
        buffer.open(QIODevice::ReadOnly);
        buffer.seek(6);
        QImage fromDevice;
        ASSERT_EQ(Summary::ReadJpeg(&buffer, c.Box, fromDevice), Summary::TJpegRead::Decoded);
        EXPECT_EQ(fromDevice, fromBytes) << c.Name;
        // And through the common entry point.
        EXPECT_EQ(Summary::DecodeScaled(bytes, c.Box), fromBytes) << c.Name;
    }
}

TEST(JpegTest, CutShortKeepsTheTopAndDamageGivesNothing)
{
    const QByteArray bytes = Encode(Quarters(320, 240));
    QImage half;
    ASSERT_EQ(Summary::ReadJpeg(QByteArrayView(bytes.left(bytes.size() / 2)), QSize(), half),
              Summary::TJpegRead::Decoded);
    EXPECT_EQ(half.size(), QSize(320, 240));
    EXPECT_TRUE(Near(half.pixel(40, 20), Corners[0].rgb()));
    EXPECT_TRUE(Near(half.pixel(280, 20), Corners[1].rgb()));

    QBuffer cut;
    cut.setData(bytes.left(bytes.size() / 2));
    cut.open(QIODevice::ReadOnly);
    QImage fromDevice;
    ASSERT_EQ(Summary::ReadJpeg(&cut, QSize(), fromDevice), Summary::TJpegRead::Decoded);
    EXPECT_TRUE(Near(fromDevice.pixel(40, 20), Corners[0].rgb()));

    // A header that promises more than the limits allow, a header cut off, and no picture.
    QByteArray huge = bytes;
    const qsizetype sof = huge.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xFF); // height 0xFFxx: over 30000
    QImage image;
    for (const QByteArray& damaged : {huge, bytes.left(40), QByteArray("\xFF\xD8\xFF", 3)}) {
        EXPECT_EQ(Summary::ReadJpeg(QByteArrayView(damaged), QSize(90, 112), image),
                  Summary::TJpegRead::Failed);
        EXPECT_TRUE(image.isNull());
        EXPECT_TRUE(Summary::DecodeScaled(damaged, QSize(90, 112)).isNull());
    }
    // A damaged EXIF block is ignored: the picture stays as stored.
    QByteArray badExif = WithOrientation(bytes, 6, true);
    badExif[4 + 2 + 6 + 4] = char(0x7F); // the first IFD's offset far beyond the block
    ASSERT_EQ(Summary::ReadJpeg(QByteArrayView(badExif), QSize(), image),
              Summary::TJpegRead::Decoded);
    EXPECT_EQ(image.size(), QSize(320, 240));
}

} // namespace
