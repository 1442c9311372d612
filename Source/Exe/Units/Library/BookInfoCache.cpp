#include "BookInfoCache.h"

#include "AtomicFile.h"
#include "FileNames.h"
#include "Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

// The file: a header of 16 bytes (the magic below, the version and four zero bytes, numbers
// little-endian), then records, each:
//   u32 payload length, u32 CRC-32 of the length bytes and the payload,
//   payload: i64 size, i64 modification time (ns), u16 path length, the path, the packed blocks.
// Packed blocks: for each block with a nonzero byte, in ascending order, u8 block number,
// u8 (bytes kept - 1) and the block's bytes up to its last nonzero byte.

namespace {

constexpr char kMagic[8] = {'K', 'v', 'B', 'o', 'o', 'k', '\r', '\n'};
constexpr quint32 kVersion = 1;
constexpr qsizetype kHeaderSize = 16;
constexpr qsizetype kRecordHead = 8;    // length and CRC
constexpr qsizetype kFixedPayload = 18; // size, time and path length
constexpr qsizetype kMaxPath = 0xFFFF;
constexpr qsizetype kMaxPacked = BOOKINFO_BLOCKS * (2 + BOOKINFO_BLOCK_SIZE);
constexpr qsizetype kMaxPayload = kFixedPayload + kMaxPath + kMaxPacked;
// A file beyond these is not loaded: something went wrong, and reading it would cost more
// than reading the books again.
constexpr qint64 kMaxFileBytes = qint64(256) << 20;
constexpr qsizetype kMaxEntries = 1000000;
constexpr qsizetype kBatch = 64;

quint32 Crc(const char* record, qsizetype payload)
{
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(record), 4);
    return static_cast<quint32>(crc32(crc, reinterpret_cast<const Bytef*>(record + kRecordHead),
                                      static_cast<uInt>(payload)));
}

qsizetype RecordBytes(const QByteArray& path, const QByteArray& packed)
{
    return kRecordHead + kFixedPayload + path.size() + packed.size();
}

void AppendRecord(QByteArray& out, const QByteArray& path, qint64 size, qint64 mtime,
                  const QByteArray& packed)
{
    const qsizetype payload = kFixedPayload + path.size() + packed.size();
    const qsizetype at = out.size();
    out.resize(at + kRecordHead + payload);
    char* p = out.data() + at;
    qToLittleEndian<quint32>(static_cast<quint32>(payload), p);
    qToLittleEndian<qint64>(size, p + 8);
    qToLittleEndian<qint64>(mtime, p + 16);
    qToLittleEndian<quint16>(static_cast<quint16>(path.size()), p + 24);
    memcpy(p + 26, path.constData(), static_cast<size_t>(path.size()));
    memcpy(p + 26 + path.size(), packed.constData(), static_cast<size_t>(packed.size()));
    qToLittleEndian<quint32>(Crc(p, payload), p + 4);
}

QByteArray Header()
{
    QByteArray header(kHeaderSize, '\0');
    memcpy(header.data(), kMagic, sizeof kMagic);
    qToLittleEndian<quint32>(kVersion, header.data() + 8);
    return header;
}

} // namespace

QByteArray PackBookInfo(const TBookInfo& info)
{
    char buffer[kMaxPacked];
    qsizetype n = 0;
    for (int b = 0; b < BOOKINFO_BLOCKS; ++b) {
        const unsigned char* block = info.Data + b * BOOKINFO_BLOCK_SIZE;
        int length = BOOKINFO_BLOCK_SIZE;
        while (length > 0 && block[length - 1] == 0)
            --length;
        if (length == 0) continue;
        buffer[n++] = static_cast<char>(b);
        buffer[n++] = static_cast<char>(length - 1);
        memcpy(buffer + n, block, static_cast<size_t>(length));
        n += length;
    }
    return QByteArray(buffer, n);
}

bool UnpackBookInfo(const char* data, qsizetype size, TBookInfo* info)
{
    int last = -1;
    qsizetype at = 0;
    while (at < size) {
        if (size - at < 2) return false;
        const int block = static_cast<unsigned char>(data[at]);
        const int length = static_cast<unsigned char>(data[at + 1]) + 1;
        if (block >= BOOKINFO_BLOCKS || block <= last || size - at - 2 < length) return false;
        if (info) memcpy(info->Data + block * BOOKINFO_BLOCK_SIZE, data + at + 2, length);
        at += 2 + length;
        last = block;
    }
    return true;
}

QByteArrayView PackedBookInfoBlock(QByteArrayView packed, int block)
{
    qsizetype at = 0;
    while (at + 2 <= packed.size()) {
        const int number = static_cast<unsigned char>(packed[at]);
        const qsizetype length = static_cast<unsigned char>(packed[at + 1]) + 1;
        if (at + 2 + length > packed.size() || number > block) break;
        if (number == block) return packed.sliced(at + 2, length);
        at += 2 + length;
    }
    return {};
}

TBookInfoCache::TBookInfoCache(const QString& fileName)
    : FFileName(fileName), FNativeName(FileNames::Encode(fileName))
{
}

TBookInfoCache::~TBookInfoCache()
{
    WritePending(true);
}

TBookInfoCache& TBookInfoCache::Shared()
{
    static TBookInfoCache cache(Folders::BookCacheFolder() + QStringLiteral("BookInfo.cache"));
    return cache;
}

bool TBookInfoCache::Find(const TBookCacheKey& key, TBookInfo& info)
{
    EnsureLoaded();
    std::lock_guard lock(FMutex);
    const auto it = FEntries.constFind(key.Path);
    if (it == FEntries.cend() || it->Size != key.Size || it->MTimeNs != key.MTimeNs) return false;
    memset(info.Data, 0, sizeof info.Data);
    UnpackBookInfo(it->Packed.constData(), it->Packed.size(), &info);
    return true;
}

void TBookInfoCache::Put(const TBookCacheKey& key, const TBookInfo& info)
{
    // The file format gives a path 16 bits; no real path comes near.
    if (key.Path.size() > kMaxPath) return;
    QByteArray packed = PackBookInfo(info);
    EnsureLoaded();
    bool write = false;
    {
        std::lock_guard lock(FMutex);
        auto it = FEntries.find(key.Path);
        if (it != FEntries.end()) {
            if (it->Size == key.Size && it->MTimeNs == key.MTimeNs && it->Packed == packed)
                return; // read again, nothing new: the file need not grow
            if (!it->Pending) FWrittenBytes -= RecordBytes(it.key(), it->Packed);
            it->Size = key.Size;
            it->MTimeNs = key.MTimeNs;
            // Moved, not shared: no other thread ever holds a reference to what the entries
            // own, so they are freed only under the lock.
            it->Packed = std::move(packed);
        } else {
            // Beyond the bound a load would refuse; new books are simply read each time.
            if (FEntries.size() >= kMaxEntries) return;
            // A copy of its own, sized to fit, whatever the caller's array holds.
            const QByteArray path(key.Path.constData(), key.Path.size());
            it = FEntries.insert(path, TEntry{key.Size, key.MTimeNs, std::move(packed), false});
        }
        if (!it->Pending && !FWriteFailed) {
            it->Pending = true;
            FPending.append(it.key());
        }
        write = FPending.size() >= kBatch;
    }
    if (write) WritePending(false);
}

void TBookInfoCache::Flush()
{
    WritePending(true);
}

int TBookInfoCache::Count() const
{
    auto* self = const_cast<TBookInfoCache*>(this);
    self->EnsureLoaded();
    std::lock_guard lock(self->FMutex);
    return static_cast<int>(FEntries.size());
}

void TBookInfoCache::EnsureLoaded()
{
    if (FLoaded.load(std::memory_order_acquire)) return;
    std::lock_guard lock(FMutex);
    if (FLoaded.load(std::memory_order_relaxed)) return;
    Load();
    FLoaded.store(true, std::memory_order_release);
}

void TBookInfoCache::Load()
{
    const int fd = open(FNativeName.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            FFileMissing = true;
        else
            FRewrite = true; // there but unreadable: replaced if the folder lets us
        return;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // Never write over a folder or a device that happens to bear the name.
        close(fd);
        FWriteFailed = true;
        return;
    }
    if (st.st_size > kMaxFileBytes) {
        close(fd);
        FRewrite = true;
        return;
    }
    QByteArray data(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, static_cast<size_t>(data.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    close(fd);
    data.truncate(got);

    const char* p = data.constData();
    const qsizetype size = data.size();
    if (size < kHeaderSize || memcmp(p, kMagic, sizeof kMagic) != 0 ||
        qFromLittleEndian<quint32>(p + 8) != kVersion) {
        FRewrite = true; // not ours, or another version: replaced
        return;
    }
    qsizetype at = kHeaderSize;
    qsizetype records = 0;
    bool damaged = false;
    while (at < size) {
        if (size - at < kRecordHead || ++records > kMaxEntries) {
            damaged = true;
            break;
        }
        const char* r = p + at;
        const qsizetype payload = qFromLittleEndian<quint32>(r);
        if (payload < kFixedPayload || payload > kMaxPayload || payload > size - at - kRecordHead ||
            qFromLittleEndian<quint32>(r + 4) != Crc(r, payload)) {
            damaged = true;
            break;
        }
        const qsizetype pathLength = qFromLittleEndian<quint16>(r + 24);
        const qsizetype packedLength = payload - kFixedPayload - pathLength;
        const char* packed = r + kRecordHead + kFixedPayload + pathLength;
        if (packedLength < 0 || !UnpackBookInfo(packed, packedLength, nullptr)) {
            damaged = true;
            break;
        }
        const QByteArray path(r + 26, pathLength);
        auto it = FEntries.find(path);
        if (it == FEntries.end())
            it = FEntries.insert(path, TEntry());
        else
            FWrittenBytes -= RecordBytes(it.key(), it->Packed); // superseded by this one
        it->Size = qFromLittleEndian<qint64>(r + 8);
        it->MTimeNs = qFromLittleEndian<qint64>(r + 16);
        it->Packed = QByteArray(packed, packedLength);
        FWrittenBytes += kRecordHead + payload;
        at += kRecordHead + payload;
    }
    FFileBytes = at - kHeaderSize;
    FRewrite = damaged || (FFileBytes - FWrittenBytes) * 2 > FFileBytes;
}

QByteArray TBookInfoCache::SnapshotLocked()
{
    qsizetype total = 0;
    for (auto it = FEntries.cbegin(); it != FEntries.cend(); ++it)
        total += RecordBytes(it.key(), it->Packed);
    QByteArray bytes = Header();
    bytes.reserve(kHeaderSize + total);
    // What was written before first, then what came since in the order it came, so the file
    // stays in the order books were read (a damaged file then loses the newest records).
    for (auto it = FEntries.cbegin(); it != FEntries.cend(); ++it)
        if (!it->Pending) AppendRecord(bytes, it.key(), it->Size, it->MTimeNs, it->Packed);
    for (const QByteArray& path : std::as_const(FPending)) {
        TEntry& entry = FEntries[path];
        AppendRecord(bytes, path, entry.Size, entry.MTimeNs, entry.Packed);
        entry.Pending = false;
    }
    FPending.clear();
    FFileBytes = FWrittenBytes = total;
    FFileMissing = FRewrite = false;
    return bytes;
}

void TBookInfoCache::WritePending(bool wait)
{
    EnsureLoaded();
    std::unique_lock writing(FWriteMutex, std::defer_lock);
    if (wait)
        writing.lock();
    else if (!writing.try_lock())
        return;

    QByteArray bytes;
    bool rewrite = false;
    qint64 expectedSize = 0;
    {
        std::lock_guard lock(FMutex);
        if (FWriteFailed || (FPending.isEmpty() && !FRewrite)) return;
        // No file and nothing to keep: nothing to make.
        if (FFileMissing && FEntries.isEmpty()) return;
        qsizetype added = 0;
        for (const QByteArray& path : std::as_const(FPending))
            added += RecordBytes(path, FEntries.value(path).Packed);
        const qint64 total = FFileBytes + added;
        const qint64 superseded = FFileBytes - FWrittenBytes;
        rewrite = FRewrite || FFileMissing || superseded * 2 > total;
        if (rewrite) {
            bytes = SnapshotLocked();
        } else {
            expectedSize = kHeaderSize + FFileBytes;
            bytes.reserve(added);
            for (const QByteArray& path : std::as_const(FPending)) {
                TEntry& entry = FEntries[path];
                AppendRecord(bytes, path, entry.Size, entry.MTimeNs, entry.Packed);
                entry.Pending = false;
            }
            FPending.clear();
            FFileBytes += added;
            FWrittenBytes += added;
        }
    }

    int result = rewrite ? Rewrite(bytes) : Append(bytes, expectedSize);
    if (result < 0) {
        // The file is gone or was changed behind our back: appending would put our records
        // after something the next load stops at. Make it again from memory.
        {
            std::lock_guard lock(FMutex);
            bytes = SnapshotLocked();
        }
        result = Rewrite(bytes);
    }
    if (result == 0) {
        std::lock_guard lock(FMutex);
        FWriteFailed = true;
        for (const QByteArray& path : std::as_const(FPending))
            FEntries[path].Pending = false;
        FPending.clear();
    }
}

int TBookInfoCache::Rewrite(const QByteArray& bytes)
{
    const QString folder = QFileInfo(FFileName).absolutePath();
    if (!QDir().mkpath(folder)) return 0;
    return WriteFileAtomically(FFileName, bytes) ? 1 : 0;
}

int TBookInfoCache::Append(const QByteArray& bytes, qint64 expectedSize)
{
    const int fd = open(FNativeName.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? -1 : 0;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return 0;
    }
    if (st.st_size != expectedSize) {
        close(fd);
        return -1;
    }
    bool ok = WriteAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    // A short write (a full disk) would leave a torn record; take it back where we can.
    if (!ok) {
        [[maybe_unused]] const int undone = ftruncate(fd, st.st_size);
    }
    ok = close(fd) == 0 && ok;
    return ok ? 1 : 0;
}
