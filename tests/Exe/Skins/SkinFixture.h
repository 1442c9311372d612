#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

#include <zip.h>

// Writes a ZIP archive with the given entries (name, bytes) to `path`; false on failure.
// With a password, every entry is encrypted with it.
inline bool WriteZip(const QString& path, const QList<QPair<QString, QByteArray>>& entries,
                     const char* password = nullptr)
{
    int error = 0;
    zip_t* archive = zip_open(path.toLocal8Bit().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) return false;
    for (const auto& [name, bytes] : entries) {
        // libzip reads the buffer when the archive is closed, so it must own a copy.
        void* copy = malloc(static_cast<size_t>(bytes.size()) + 1);
        memcpy(copy, bytes.constData(), static_cast<size_t>(bytes.size()));
        zip_source_t* source =
            zip_source_buffer(archive, copy, static_cast<zip_uint64_t>(bytes.size()), 1);
        const zip_int64_t index =
            source ? zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_OVERWRITE)
                   : -1;
        if (index < 0) {
            if (source) zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        if (password && zip_file_set_encryption(archive, static_cast<zip_uint64_t>(index),
                                                ZIP_EM_AES_256, password) != 0) {
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

// The file bytes of a picture in the given format ("BMP" or "PNG").
inline QByteArray EncodedImage(const QImage& image, const char* format = "BMP")
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A picture of the given size and colour in the given format.
inline QByteArray ImageBytes(int width, int height, QRgb color, const char* format = "BMP")
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return EncodedImage(image, format);
}
