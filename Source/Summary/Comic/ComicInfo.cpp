// Comic book archives that are not ZIP: CBR (RAR 4 and 5), CB7 (7z) and CBT (tar, plain or
// compressed). The pictures are the pages, the first one in reading order is the cover, and a
// "ComicInfo.xml" inside names the book. Readers also meet ZIP files renamed to .cbr, so ZIP
// is read here too.
//
// RAR and 7z archives may be solid: stepping over an entry then means decompressing it. A
// walk therefore counts what it may cost (the sizes the entries declare), stops after a fixed
// budget, a fixed number of entries or a fixed time, and keeps what it learnt by then.
#include "SummaryCommon.h"

#include <QElapsedTimer>
#include <QHash>
#include <QStringDecoder>

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <memory>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

constexpr int MaxEntries = 100000;
// Bytes a walk may decompress to step over entries: a few large comics, some seconds of work.
constexpr qint64 MaxWalkBytes = 512LL * 1024 * 1024;
constexpr qint64 MaxComicInfoSize = 4 * 1024 * 1024;
constexpr qint64 MaxWalkMilliseconds = 20000;

bool IsPicture(const QString& name)
{
    if (name.startsWith(QLatin1String("__MACOSX/"))) return false;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return false;
    const QString suffix = name.mid(dot + 1).toLower();
    for (const char* known : {"jpg", "jpeg", "png", "gif", "bmp", "webp"})
        if (suffix == QLatin1String(known)) return true;
    return false;
}

// Entry names as text: libarchive converts what it knows the encoding of (RAR and 7z store
// Unicode); raw bytes of old archives are UTF-8 or else GB18030.
QString EntryName(archive_entry* entry)
{
    if (const char* utf8 = archive_entry_pathname_utf8(entry)) return QString::fromUtf8(utf8);
    const char* raw = archive_entry_pathname(entry);
    if (!raw) return {};
    const QByteArray bytes(raw);
    QStringDecoder utf8Decoder(QStringDecoder::Utf8);
    QString name = utf8Decoder.decode(bytes);
    if (!utf8Decoder.hasError()) return name;
    QStringDecoder gb("GB18030");
    return gb.decode(bytes);
}

struct TEntry
{
    int Index = -1;
    QString Name;
    bool IsFile = false;
    bool Encrypted = false;
};

// One pass over an archive's entries with the limits above.
class TArchiveWalk
{
public:
    TArchiveWalk(const char* fileName, TAbortQuery abort)
        : FArchive(archive_read_new()), FAbort(abort)
    {
        if (!FArchive) return;
        archive_read_support_format_rar(FArchive);
        archive_read_support_format_rar5(FArchive);
        archive_read_support_format_7zip(FArchive);
        archive_read_support_format_tar(FArchive);
        archive_read_support_format_zip(FArchive);
        // Only the filters libarchive decodes itself: the others would start outside programs.
        archive_read_support_filter_gzip(FArchive);
        archive_read_support_filter_bzip2(FArchive);
        archive_read_support_filter_xz(FArchive);
        archive_read_support_filter_lzma(FArchive);
        FOpen = archive_read_open_filename(FArchive, fileName, 64 * 1024) == ARCHIVE_OK;
        FClock.start();
    }
    ~TArchiveWalk()
    {
        if (FArchive) archive_read_free(FArchive);
    }
    TArchiveWalk(const TArchiveWalk&) = delete;
    TArchiveWalk& operator=(const TArchiveWalk&) = delete;

    bool IsOpen() const { return FOpen; }
    bool Aborted() const { return FAborted; }
    // Whether the archive said that some of its entries (or its names) are encrypted.
    bool HasEncryption() const
    {
        return FArchive && archive_read_has_encrypted_entries(FArchive) > 0;
    }

    // The next entry; false at the end, on damage, or when a limit is reached.
    bool Next(TEntry& entry)
    {
        if (!FOpen || FDone) return false;
        if (Stopped(FAbort)) {
            FAborted = FDone = true;
            return false;
        }
        // Moving past the previous entry decompresses it where skipping cannot seek: counted
        // before it is done.
        if (FEntries > 0 && SkipCostsDecompression()) FCost += FLastSize;
        if (FEntries >= MaxEntries || FCost > MaxWalkBytes ||
            FClock.elapsed() > MaxWalkMilliseconds) {
            FDone = true;
            return false;
        }
        archive_entry* header = nullptr;
        const int result = archive_read_next_header(FArchive, &header);
        if ((result != ARCHIVE_OK && result != ARCHIVE_WARN) || !header) {
            FDone = true;
            return false;
        }
        FLastSize =
            archive_entry_size_is_set(header) ? qMax<qint64>(0, archive_entry_size(header)) : 0;
        entry.Index = FEntries++;
        entry.Name = EntryName(header);
        entry.IsFile = archive_entry_filetype(header) == AE_IFREG;
        entry.Encrypted = archive_entry_is_encrypted(header) != 0;
        return true;
    }

    // The current entry's bytes, up to `limit`; false when it is larger, damaged or stopped.
    bool Read(QByteArray& bytes, qint64 limit)
    {
        bytes.clear();
        char chunk[64 * 1024];
        for (;;) {
            if (Stopped(FAbort)) {
                FAborted = FDone = true;
                return false;
            }
            const la_ssize_t n = archive_read_data(FArchive, chunk, sizeof chunk);
            if (n == 0) break;
            if (n < 0 || bytes.size() + n > limit) return false;
            bytes.append(chunk, static_cast<qsizetype>(n));
            FCost += n;
            if (FCost > MaxWalkBytes) return false;
        }
        // Its bytes are read now; stepping over it costs nothing more.
        FLastSize = 0;
        return true;
    }

private:
    bool SkipCostsDecompression() const
    {
        const int format = archive_format(FArchive) & ARCHIVE_FORMAT_BASE_MASK;
        return format == ARCHIVE_FORMAT_RAR || format == ARCHIVE_FORMAT_RAR_V5 ||
               format == ARCHIVE_FORMAT_7ZIP ||
               archive_filter_code(FArchive, 0) != ARCHIVE_FILTER_NONE;
    }

    archive* FArchive;
    TAbortQuery FAbort;
    QElapsedTimer FClock;
    bool FOpen = false;
    bool FDone = false;
    bool FAborted = false;
    int FEntries = 0;
    qint64 FLastSize = 0;
    qint64 FCost = 0;
};

bool IsComicInfo(const QString& name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return QStringView(name).mid(slash + 1).compare(QLatin1String("ComicInfo.xml"),
                                                    Qt::CaseInsensitive) == 0;
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    TArchiveWalk walk(fileName, abort);
    if (!walk.IsOpen()) return 0;
    int pages = 0;
    bool encrypted = false;
    QHash<QString, QString> comic;
    bool comicAtRoot = false;
    TEntry entry;
    while (walk.Next(entry)) {
        if (!entry.IsFile) continue;
        encrypted = encrypted || entry.Encrypted;
        if (IsPicture(entry.Name)) {
            ++pages;
        } else if (!comicAtRoot && !entry.Encrypted && IsComicInfo(entry.Name)) {
            // The one at the top wins over one in a folder.
            const bool atRoot = !entry.Name.contains(QLatin1Char('/'));
            if (!comic.isEmpty() && !atRoot) continue;
            QByteArray bytes;
            if (walk.Read(bytes, MaxComicInfoSize)) {
                comic = ParseComicInfo(bytes);
                comicAtRoot = atRoot;
            }
        }
    }
    if (walk.Aborted()) return 0;
    // A recognised archive that breaks early (truncated, names encrypted) still gives its name.
    encrypted = encrypted || walk.HasEncryption();

    TBookInfo out = *info;
    PutComicInfo(&out, comic, fileName);
    PutNumber(&out, biPageCount, pages);
    if (encrypted) out.Data[biEncrypted] = 1;
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    // Archives are usually packed in page order, so the first picture is read on the way;
    // only when a later name sorts before it does a second pass fetch the real cover.
    QString best;
    int bestIndex = -1;
    int readIndex = -1;
    QByteArray bytes;
    {
        TArchiveWalk walk(fileName, abort);
        TEntry entry;
        while (walk.Next(entry)) {
            if (!entry.IsFile || entry.Encrypted || !IsPicture(entry.Name)) continue;
            if (bestIndex >= 0 && !NaturalLess(entry.Name, best)) continue;
            best = entry.Name;
            bestIndex = entry.Index;
            if (readIndex < 0) {
                readIndex = entry.Index;
                if (!walk.Read(bytes, MaxPartSize)) bytes.clear();
            }
        }
        if (walk.Aborted()) return 0;
    }
    if (bestIndex < 0) return 0;
    if (bestIndex != readIndex) {
        bytes.clear();
        TArchiveWalk walk(fileName, abort);
        TEntry entry;
        while (walk.Next(entry))
            if (entry.Index == bestIndex) {
                if (!walk.Read(bytes, MaxPartSize)) return 0;
                break;
            }
    }
    if (bytes.isEmpty()) return 0;
    return PutThumbnail(thumbnail, DecodeScaled(bytes, WantedSize(thumbnail))) ? 1 : 0;
}
