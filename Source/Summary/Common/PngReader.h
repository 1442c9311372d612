#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

class QIODevice;

// PNG covers read with libpng straight to 8 bits per channel. Qt's own reader turns a 16-bit
// PNG into 64-bit pixels and scales those, which costs several times the decoding itself; here
// every PNG becomes 8-bit ARGB, and a picture larger than needed is averaged down row by row
// while it is read, so the whole picture is never held. Interlaced pictures are the exception:
// their rows arrive in passes, so they are read whole and scaled afterwards.
namespace Summary {

// True when `head` starts with the PNG signature.
bool IsPng(QByteArrayView head);

// The picture at the largest size that fits in `box` keeping its aspect ratio (never larger
// than the picture itself; an empty box means full size), as QImage::Format_ARGB32 (not
// premultiplied). Null for damaged or truncated data, a side over 30000 pixels or more than
// 128 MB of pixels to hold. The device is read from its current position.
QImage ReadPng(QIODevice* device, const QSize& box);
QImage ReadPng(QByteArrayView bytes, const QSize& box);

} // namespace Summary
