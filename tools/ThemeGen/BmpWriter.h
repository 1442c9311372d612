#pragma once

#include <QByteArray>
#include <QImage>

// The skin's pictures are Windows bitmaps. Qt writes only the plain 24-bit form and never an
// alpha channel, so the theme generator writes both forms itself, byte for byte the same on
// every run.
namespace BmpWriter {
// Bottom-up 24-bit bitmap with the 40-byte header; alpha is dropped.
QByteArray Encode24(const QImage& image);
// Bottom-up 32-bit bitmap with the 108-byte header and an alpha mask, for pictures that are
// shown over backgrounds the skin cannot know (the tray). Pixels are stored unpremultiplied.
QByteArray Encode32(const QImage& image);
} // namespace BmpWriter
