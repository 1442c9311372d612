#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

class QIODevice;

// JPEG covers read with libjpeg itself. The decoder scales by 1/2, 1/4 or 1/8 inside its
// inverse DCT and writes 32-bit pixels straight into the picture's rows, so a 1200 x 1600 cover
// for a 90 x 112 box is decoded at 150 x 200 and never converted. Qt's reader stops at the step
// above the size asked for, decodes to 24-bit rows, converts them and scales once more.
namespace Summary {

// True when `head` starts like a JPEG stream (SOI followed by a marker).
bool IsJpeg(QByteArrayView head);

enum class TJpegRead {
    Decoded,    // the picture is in `image`
    Failed,     // damaged beyond what the decoder recovers from
    NotHandled, // a colour space read here not (CMYK, YCCK): another reader may try
};

// Decodes at the smallest of the decoder's scales at which the picture still covers the part
// of `box` it fits in keeping its aspect ratio (full size when `box` is empty), with the
// orientation its EXIF data gives applied, as QImage::Format_RGB32. Pictures with a side over
// 30000 pixels, or needing more than 128 MB to decode, fail. The device is read from its
// current position. A stream cut short keeps what was decoded, the rest grey, as Qt's reader
// does.
TJpegRead ReadJpeg(QIODevice* device, const QSize& box, QImage& image);
TJpegRead ReadJpeg(QByteArrayView bytes, const QSize& box, QImage& image);

} // namespace Summary
