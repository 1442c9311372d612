#include "ThumbnailStore.h"

#include "AtomicFile.h"
#include "FileNames.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QtEndian>

#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ThumbnailStore {

namespace {

// The folders for each size, in the order a look-up tries them.
const char* const SizeFolders[] = {"normal/", "large/", "x-large/", "xx-large/"};
const char FailureFolder[] = "fail/korvel-1.0/";
constexpr int NormalSide = 128;
// The largest thumbnail the standard knows is 1024 x 1024; a file claiming far more is no
// thumbnail, and is refused before anything is decoded.
constexpr int MaxSide = 2048;
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

const char KeyUri[] = "Thumb::URI";
const char KeyMTime[] = "Thumb::MTime";

// The bytes GLib leaves as they are in a file URI; every other one becomes %XX.
bool Unescaped(uchar c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return QByteArrayView("!$&'()*+,-./:=@_~").contains(char(c));
}

QString FileName(const QByteArray& uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".png");
}

// The keys of a thumbnail against the file now; false when either is missing or differs.
bool KeysMatch(const QString& uri, const QString& mtime, const QByteArray& wantedUri,
               qint64 wantedMTime)
{
    bool ok = false;
    const qint64 value = mtime.trimmed().toLongLong(&ok);
    return ok && value == wantedMTime && uri == QLatin1String(wantedUri);
}

// Reads the thumbnail at `path` when its keys say it belongs to the file; `image` may be null
// when only the keys matter (a failure mark). The keys are taken from the decoded picture:
// QImageReader::text() splits a key at its first colon, so it cannot be asked for "Thumb::URI"
// beforehand. Thumbnails are small, so decoding one costs little; only the size the header
// declares is checked first.
bool ReadValid(const QString& path, const QByteArray& uri, qint64 mtime, QImage* image)
{
    const QByteArray name = FileNames::Encode(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat status;
    QFile file;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > MaxFileBytes ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    QImageReader reader(&file, "png");
    reader.setAllocationLimit(int(qint64(MaxSide) * MaxSide * 8 >> 20));
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxSide || size.height() > MaxSide) return false;
    QImage picture = reader.read();
    if (picture.isNull() || !KeysMatch(picture.text(QLatin1String(KeyUri)),
                                       picture.text(QLatin1String(KeyMTime)), uri, mtime))
        return false;
    if (image) *image = std::move(picture);
    return true;
}

// A tEXt chunk: length, type, "key\0value", CRC of type and data.
QByteArray TextChunk(const QByteArray& key, const QByteArray& value)
{
    const QByteArray body = "tEXt" + key + '\0' + value;
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(body.size() - 4), chunk.data());
    chunk += body;
    const uLong crc =
        crc32(0L, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()));
    QByteArray tail(4, '\0');
    qToBigEndian(quint32(crc), tail.data());
    return chunk + tail;
}

// The picture as PNG with the keys as tEXt chunks right after the header, where readers find
// them without decoding the pixels. (Qt's writer would compress long values into zTXt, and
// would also copy any text the picture brought along, such as another file's keys.)
QByteArray EncodePng(const QImage& image, const QByteArray& uri, qint64 mtime, qint64 fileSize)
{
    // A view of the pixels without the picture's own texts (in a format that needs no colour
    // table, which the view would not have).
    const QImage pixels = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                        : QImage::Format_RGB32);
    const QImage bare(pixels.constBits(), pixels.width(), pixels.height(), pixels.bytesPerLine(),
                      pixels.format());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(bare)) return {};
    // Signature (8 bytes), then IHDR: length, type, 13 bytes of data, CRC.
    constexpr qsizetype headerEnd = 8 + 4 + 4 + 13 + 4;
    if (png.size() < headerEnd || png.mid(12, 4) != "IHDR") return {};
    QByteArray keys = TextChunk(KeyUri, uri) + TextChunk(KeyMTime, QByteArray::number(mtime));
    if (fileSize >= 0) keys += TextChunk("Thumb::Size", QByteArray::number(fileSize));
    keys += TextChunk("Software", "Korvel");
    png.insert(headerEnd, keys);
    return png;
}

// Makes the folder and any missing parent, new ones only for the user (0700).
bool MakeFolder(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    if (::mkdir(path.constData(), 0700) == 0 || errno == EEXIST) return true;
    if (errno != ENOENT) return false;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0 || !MakeFolder(path.left(slash))) return false;
    return ::mkdir(path.constData(), 0700) == 0 || errno == EEXIST;
}

// Writes `bytes` under a temporary name in `folder` (mode 0600) and renames it to `name`, so a
// reader never sees a half-written thumbnail under the real name.
bool WriteInto(const QString& folder, const QString& name, const QByteArray& bytes)
{
    if (bytes.isEmpty()) return false;
    const QByteArray encoded = FileNames::Encode(folder);
    if (!MakeFolder(encoded)) return false;
    QByteArray temporary = encoded + ".korvel-" + name.toLatin1() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    ok = ok && WriteAll(fd, bytes.constData(), size_t(bytes.size()));
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), (encoded + name.toLatin1()).constData()) == 0;
    if (!ok) ::unlink(temporary.constData());
    return ok;
}

} // namespace

QByteArray FileUri(const QString& absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray path = FileNames::Encode(absolutePath);
    QByteArray uri("file://");
    uri.reserve(7 + path.size() * 3);
    for (const char c : path) {
        const auto byte = uchar(c);
        if (Unescaped(byte)) {
            uri += c;
        } else {
            uri += '%';
            uri += hex[byte >> 4];
            uri += hex[byte & 0xF];
        }
    }
    return uri;
}

QString Folder()
{
    // A relative XDG_CACHE_HOME is invalid and ignored, as the base directory rules say.
    QByteArray cache = qgetenv("XDG_CACHE_HOME");
    if (!cache.startsWith('/')) cache = qgetenv("HOME") + "/.cache";
    while (cache.size() > 1 && cache.endsWith('/'))
        cache.chop(1);
    return FileNames::Decode(cache + "/thumbnails/");
}

TFound Find(const QString& absolutePath, qint64 mtimeSeconds, QImage& image)
{
    const QByteArray uri = FileUri(absolutePath);
    const QString name = FileName(uri);
    const QString folder = Folder();
    for (const char* size : SizeFolders)
        if (ReadValid(folder + QLatin1String(size) + name, uri, mtimeSeconds, &image))
            return TFound::Picture;
    image = QImage();
    if (ReadValid(folder + QLatin1String(FailureFolder) + name, uri, mtimeSeconds, nullptr))
        return TFound::KnownFailure;
    return TFound::Miss;
}

bool Store(const QString& absolutePath, qint64 mtimeSeconds, qint64 fileSize, const QImage& image)
{
    if (image.isNull()) return false;
    const QImage fitted =
        image.width() > NormalSide || image.height() > NormalSide
            ? image.scaled(NormalSide, NormalSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : image;
    const QByteArray uri = FileUri(absolutePath);
    return WriteInto(Folder() + QLatin1String(SizeFolders[0]), FileName(uri),
                     EncodePng(fitted, uri, mtimeSeconds, fileSize));
}

bool StoreFailure(const QString& absolutePath, qint64 mtimeSeconds, qint64 fileSize)
{
    // The smallest picture there is: the keys are what counts.
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    const QByteArray uri = FileUri(absolutePath);
    return WriteInto(Folder() + QLatin1String(FailureFolder), FileName(uri),
                     EncodePng(mark, uri, mtimeSeconds, fileSize));
}

} // namespace ThumbnailStore
