#pragma once

#include "FileInfo.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QString>

// The libraries as the program ships them: the build's "ficomp" folder with its map.
inline TFileInfoManager& ShippedLibraries()
{
    static TFileInfoManager manager(QStringLiteral(KORVEL_BIN_DIR "/ficomp/"));
    return manager;
}

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

// A thumbnail read through the shipped libraries, as a QImage (null when none was produced).
inline QImage ThumbnailOf(const QString& path, int width = 90, int height = 112)
{
    TThumbnailInfo thumbnail{width, height, nullptr};
    if (!ShippedLibraries().GetThumbnail(path, thumbnail)) return {};
    QImage image(reinterpret_cast<const uchar*>(thumbnail.Pixels), thumbnail.Width,
                 thumbnail.Height, thumbnail.Width * 4, QImage::Format_ARGB32);
    image = image.copy();
    ReleaseThumbnail(thumbnail);
    return image;
}

// A picture with a solid colour, encoded in `format`.
inline QByteArray Picture(int width, int height, QColor color, const char* format = "JPEG")
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 85);
    return bytes;
}

// Red, green and blue within a small distance (lossy formats move colours slightly).
inline bool NearColor(QRgb pixel, QColor expected, int tolerance = 24)
{
    return qAbs(qRed(pixel) - expected.red()) <= tolerance &&
           qAbs(qGreen(pixel) - expected.green()) <= tolerance &&
           qAbs(qBlue(pixel) - expected.blue()) <= tolerance;
}
