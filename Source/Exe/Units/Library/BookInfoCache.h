#pragma once

#include "BookInfo.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <mutex>

// What identifies one read of a book: its path (raw bytes; for books on a reader the path
// relative to the reader's root, so the same reader plugged in again finds its books), its size
// and its modification time in nanoseconds since the epoch.
struct TBookCacheKey
{
    QByteArray Path;
    qint64 Size = 0;
    qint64 MTimeNs = 0;
};

// A record with only its non-empty blocks: for each block with a nonzero byte, in ascending
// order, its number, the count of bytes kept less one, and its bytes up to its last nonzero
// byte. A typical book's 4352 bytes become a few hundred.
QByteArray PackBookInfo(const TBookInfo& info);
// Checks packed blocks and, given `info`, fills its blocks (the caller zeroed it); false when
// the bytes are not packed blocks.
bool UnpackBookInfo(const char* data, qsizetype size, TBookInfo* info);
// The kept bytes of one block of packed blocks; empty when the block is all zero.
QByteArrayView PackedBookInfoBlock(QByteArrayView packed, int block);

// Remembers the information read from books across runs, so a shelf of thousands of books is
// not read again by the plug-ins on every start and every plug. A record is reused only while
// the book's path, size and modification time are the ones it was read with.
//
// Records are kept packed: only the non-empty blocks of the 4352-byte record, each cut after its
// last nonzero byte, so a typical book costs a few hundred bytes in memory and fewer on disk.
// The file is an append-only log (a versioned header, then records each with its length and a
// CRC-32), so remembering a book costs one short append, batched by 64; a crash can at worst
// tear the last record, which the next load drops. The price is superseded records on disk:
// the file is rewritten from memory (atomically) when more than half of it is superseded or it
// was found damaged. Writing is best effort: after the first failure (read-only folder, full
// disk) the cache keeps working in memory only for the rest of the run.
//
// Thread-safe. Find holds one mutex for a lookup and a copy and never waits for the disk once
// the file is loaded (the first call of any method loads it); file writes happen outside that
// mutex, serialised by a second one.
class TBookInfoCache
{
public:
    // The cache kept in `fileName`; the file is read on first use, and written as entries come.
    explicit TBookInfoCache(const QString& fileName);
    ~TBookInfoCache(); // writes what is still pending
    TBookInfoCache(const TBookInfoCache&) = delete;
    TBookInfoCache& operator=(const TBookInfoCache&) = delete;

    // The record stored for exactly this path, size and time; false (record untouched) otherwise.
    bool Find(const TBookCacheKey& key, TBookInfo& info);
    // Remembers the record for the path, replacing whatever was stored for that path before.
    void Put(const TBookCacheKey& key, const TBookInfo& info);
    // Writes pending entries now.
    void Flush();
    int Count() const; // entries held (for tests and benchmarks)
    // The process's cache: Folders::BookCacheFolder() + "BookInfo.cache", made on first use.
    static TBookInfoCache& Shared();

private:
    struct TEntry
    {
        qint64 Size = 0;
        qint64 MTimeNs = 0;
        QByteArray Packed;    // the non-empty blocks, see Pack
        bool Pending = false; // changed since it was last written; its path is in FPending
    };

    void EnsureLoaded();
    void Load();
    // Writes pending entries (or the whole file when it must be rewritten). With `wait` false
    // it gives up at once when another thread is writing: that thread or a later call takes
    // the entries along.
    void WritePending(bool wait);
    // Header and every entry; marks them written. Called with FMutex held.
    QByteArray SnapshotLocked();
    // Replaces the file with `bytes`: 1 written, 0 failed.
    int Rewrite(const QByteArray& bytes);
    // Appends to a file of `expectedSize` bytes: 1 written, 0 failed, -1 the file is gone or
    // not the size we left it (so it must be made again).
    int Append(const QByteArray& bytes, qint64 expectedSize);

    const QString FFileName;
    const QByteArray FNativeName;

    std::mutex FMutex;      // the entries and the counters below
    std::mutex FWriteMutex; // one writer of the file at a time; taken before FMutex
    std::atomic<bool> FLoaded{false};
    QHash<QByteArray, TEntry> FEntries;
    QList<QByteArray> FPending; // paths of entries to append, in the order they came
    qint64 FFileBytes = 0;      // record bytes in the file, superseded ones included
    qint64 FWrittenBytes = 0;   // record bytes in the file of entries still current
    bool FFileMissing = false;  // no file of ours: the first write makes it
    bool FRewrite = false;      // the file is damaged or not ours: the next write replaces it
    bool FWriteFailed = false;  // a write failed this run: no more are tried
};
