#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The desktop's shared thumbnail cache: covers Korvel makes are seen by file managers, and
// covers they made are reused.
//
// Thumbnails follow the freedesktop.org layout: "<md5 of the file's URI>.png" in normal/ (up to
// 128 x 128), large/, x-large/ and xx-large/ below $XDG_CACHE_HOME/thumbnails, each carrying the
// file's URI and modification time, which must both match for it to count. Nothing is kept in
// memory and no index is read: a look-up tries to open a few files, most of which are not there
// (which fails at once), so the functions can be called from any number of threads. The price
// is that the URI must be spelled exactly as the desktop's file managers spell it, byte for
// byte, and a thumbnail that is there is decoded before its keys can be checked.
namespace ThumbnailStore {

// "file://..." escaped as GLib does, from the path's raw bytes.
QByteArray FileUri(const QString& absolutePath);
// "$XDG_CACHE_HOME/thumbnails/" (or "$HOME/.cache/thumbnails/"), ending in "/"; read from the
// environment on every call (tests change it).
QString Folder();
enum class TFound
{
    Miss,
    Picture,
    KnownFailure
};
// Looks for a valid thumbnail of the file whose modification time is `mtimeSeconds`: normal/,
// then large/, x-large/, xx-large/; then our failure mark. A file whose keys do not match, that
// is not a PNG, or is damaged, counts as a miss. On Picture, `image` holds it (any format).
TFound Find(const QString& absolutePath, qint64 mtimeSeconds, QImage& image);
// Writes `image` (scaled down to fit 128 x 128 when larger) as normal/<md5>.png with the keys
// (and Thumb::Size = fileSize, Software = "Korvel"). False when it could not be written (a
// read-only cache folder is no error worth showing: the caller just goes on).
bool Store(const QString& absolutePath, qint64 mtimeSeconds, qint64 fileSize, const QImage& image);
// Remembers that the file has no cover (fail/korvel-1.0/<md5>.png), so it is not read again
// until it changes.
bool StoreFailure(const QString& absolutePath, qint64 mtimeSeconds, qint64 fileSize);

} // namespace ThumbnailStore
