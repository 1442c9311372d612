// The book-information cache on real files: every check is made by a fresh cache object reading
// the file a previous one wrote, as after a restart of the program.
#include "BookInfoCache.h"
#include "FileInfo.h"
#include "LibraryTestUtil.h"
#include "../Support/TypicalBooks.h"

#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Under the sanitizers malloc's own statistics see nothing; their allocator counts instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define KORVEL_SANITIZED_HEAP 1
#endif

namespace {

// A record like the plug-ins make, with a few things a careless packer would lose: a byte past
// a text's end, a block filled to its last byte, the encrypted flag.
TBookInfo MakeInfo(int n)
{
    TBookInfo info;
    memset(&info, 0, sizeof info);
    SetBookInfoText(info, biTitle, QStringLiteral("第%1本书 Book %1").arg(n));
    SetBookInfoText(info, biAuthor, QStringLiteral("作者%1").arg(n % 7));
    if (n % 3 == 0) SetBookInfoText(info, biComment, QString(300, u'长')); // cut to 255 bytes
    info.Data[biKeywords + 100] = 0x11;
    info.Data[biReserved3 + 255] = static_cast<unsigned char>(n | 1);
    info.Data[biEncrypted] = static_cast<unsigned char>(n % 2);
    return info;
}

// Book i as stored in its `generation`th run: the same size every time.
TBookInfo BookInfo(int i, int generation)
{
    TBookInfo info = MakeInfo(i);
    SetBookInfoText(info, biRevision, QString::number(generation));
    return info;
}

bool Same(const TBookInfo& a, const TBookInfo& b)
{
    return memcmp(a.Data, b.Data, sizeof a.Data) == 0;
}

// The ten books of the first run; the last has a name that is not UTF-8 (GBK bytes and a stray
// byte), as archives from Chinese Windows bring.
QByteArray BookPath(int i)
{
    if (i == 9) return QByteArray("shelf/\xc4\xa7\xb7\xa8\xca\xe9 \xff.epub");
    return QByteArray("shelf/") + QByteArray::number(i) + "/第" + QByteArray::number(i) + "本.epub";
}

TBookCacheKey BookKey(int i, int generation = 0)
{
    return {BookPath(i), 1000 + i, 1700000000'000000000LL + i * 1000 + generation};
}

const TBookCacheKey kLater{QByteArray("later/\x80\x81.txt"), 5, 6};

qint64 FileSize(const QString& path)
{
    return QFileInfo(path).size();
}

void EditFile(const QString& path, const std::function<void(QByteArray&)>& edit)
{
    QByteArray bytes = ReadFile(path);
    edit(bytes);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class BookCache : public ::testing::Test
{
protected:
    QString CacheFile() const { return FDir.filePath(QStringLiteral("cache/BookInfo.cache")); }

    // The first run: the ten books, in order.
    void StoreTen(const QString& file, int generation = 0)
    {
        TBookInfoCache cache(file);
        for (int i = 0; i < 10; ++i)
            cache.Put(BookKey(i, generation), BookInfo(i, generation));
    }

    QTemporaryDir FDir;
};

struct TRestartCase
{
    const char* Name;
    int Generations = 1;                        // runs storing the ten books, each anew
    std::function<void(const QString&)> Damage; // done to the file after those runs
    int MinKept = 10, MaxKept = 10;             // how many of the ten (in order) still hit
    TBookCacheKey Look;                         // one more look-up in the checking run
    int Expect = -1;                            // the first run's book it finds, or -1
};

// The damage done to a cache file between two runs.
void FlipMiddle(const QString& file)
{
    EditFile(file, [](QByteArray& b) {
        for (qsizetype i = b.size() / 2; i < b.size() / 2 + 4; ++i)
            b[i] = static_cast<char>(b[i] ^ 0x5a);
    });
}

void ChopEnd(const QString& file)
{
    EditFile(file, [](QByteArray& b) { b.chop(5); });
}

void Scramble(const QString& file)
{
    EditFile(file, [](QByteArray& b) {
        std::mt19937 random(7);
        for (char& c : b)
            c = static_cast<char>(random());
    });
}

// The header is 8 bytes of magic, then the version, little-endian.
void BumpVersion(const QString& file)
{
    EditFile(file, [](QByteArray& b) { b[8] = static_cast<char>(b[8] + 1); });
}

// Sparse: zeros after the records, no disk used.
void GrowPastBound(const QString& file)
{
    ASSERT_EQ(truncate(QFile::encodeName(file).constData(), 257 << 20), 0);
}

} // namespace

TEST_F(BookCache, RestartsKeepWhatIsUnchangedAndRecoverFromDamage)
{
    const TBookCacheKey three = BookKey(3);
    const TRestartCase cases[] = {
        {"hit (also a name that is not UTF-8)", 1, {}, 10, 10, BookKey(9), 9},
        {"changed size", 1, {}, 10, 10, {three.Path, three.Size + 1, three.MTimeNs}},
        {"changed time", 1, {}, 10, 10, {three.Path, three.Size, three.MTimeNs + 1}},
        {"moved", 1, {}, 10, 10, {"other/" + three.Path, three.Size, three.MTimeNs}},
        // Stored three times: two thirds of the file superseded, so it is rewritten.
        {"stored again and again: newest wins", 3, {}, 10, 10, BookKey(3, 0)},
        {"bytes flipped in the middle", 1, FlipMiddle, 3, 9, {}},
        {"truncated in the last record", 1, ChopEnd, 9, 9, {}},
        {"garbage", 1, Scramble, 0, 0, {}},
        {"a header of another version", 1, BumpVersion, 0, 0, {}},
        {"a file over 256 MB", 1, GrowPastBound, 0, 0, {}},
    };

    for (const TRestartCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("cache/BookInfo.cache"));
        for (int g = 0; g < c.Generations; ++g)
            StoreTen(file, g);
        const int newest = c.Generations - 1;
        if (newest > 0) {
            // One record per book: as large as a file only ever given the newest records.
            const QString reference = dir.filePath(QStringLiteral("reference.cache"));
            StoreTen(reference, newest);
            EXPECT_EQ(FileSize(file), FileSize(reference));
        }
        if (c.Damage) c.Damage(file);

        int kept = 0;
        {
            TBookInfoCache cache(file);
            // The books hit in order up to the damage and none after it, each with its record
            // exactly as it was stored, all 4352 bytes.
            for (int i = 0; i < 10; ++i) {
                TBookInfo info;
                memset(&info, 0x5a, sizeof info);
                const bool hit = cache.Find(BookKey(i, newest), info);
                if (hit && kept == i) {
                    ++kept;
                    EXPECT_TRUE(Same(info, BookInfo(i, newest))) << i;
                } else {
                    EXPECT_FALSE(hit) << i << " hit after a damaged record";
                }
            }
            EXPECT_GE(kept, c.MinKept);
            EXPECT_LE(kept, c.MaxKept);
            EXPECT_EQ(cache.Count(), kept);

            TBookInfo info;
            memset(&info, 0x5a, sizeof info);
            const TBookInfo untouched = info;
            if (c.Expect < 0) {
                EXPECT_FALSE(cache.Find(c.Look, info));
                EXPECT_TRUE(Same(info, untouched)) << "a miss changed the record";
            } else {
                ASSERT_TRUE(cache.Find(c.Look, info));
                EXPECT_TRUE(Same(info, BookInfo(c.Expect, 0)));
            }
            cache.Put(kLater, MakeInfo(77));
        }

        // The file was rebuilt from the good records: what came later survives a restart too.
        TBookInfoCache cache(file);
        EXPECT_EQ(cache.Count(), kept + 1);
        TBookInfo info;
        ASSERT_TRUE(cache.Find(kLater, info));
        EXPECT_TRUE(Same(info, MakeInfo(77)));
        for (int i = 0; i < kept; ++i)
            EXPECT_TRUE(cache.Find(BookKey(i, newest), info)) << i;
        EXPECT_LT(FileSize(file), 64 * 1024);
    }
}

TEST_F(BookCache, StoredTwiceInOneRunIsWrittenOnce)
{
    {
        TBookInfoCache cache(CacheFile());
        cache.Put(BookKey(1), MakeInfo(1));
        cache.Put(BookKey(1, 1), MakeInfo(2));
        cache.Put(BookKey(1, 1), MakeInfo(2)); // read again, nothing new
    }
    const QString reference = FDir.filePath(QStringLiteral("reference.cache"));
    TBookInfoCache(reference).Put(BookKey(1, 1), MakeInfo(2));
    EXPECT_EQ(FileSize(CacheFile()), FileSize(reference));

    TBookInfoCache cache(CacheFile());
    TBookInfo info;
    EXPECT_FALSE(cache.Find(BookKey(1), info));
    ASSERT_TRUE(cache.Find(BookKey(1, 1), info));
    EXPECT_TRUE(Same(info, MakeInfo(2)));
}

// No folder to write in: the cache works for this run and leaves nothing behind.
TEST_F(BookCache, WorksInMemoryWhereNothingCanBeWritten)
{
    MakeFile(FDir.filePath(QStringLiteral("a file")));
    MakeFolder(FDir.filePath(QStringLiteral("ro")));
    ASSERT_EQ(chmod(QFile::encodeName(FDir.filePath(QStringLiteral("ro"))).constData(), 0555), 0);
    const bool canWriteAnyway =
        access(QFile::encodeName(FDir.filePath("ro")).constData(), W_OK) == 0;

    const struct
    {
        const char* Name;
        QString File;
    } places[] = {
        {"a read-only folder", FDir.filePath(QStringLiteral("ro/BookInfo.cache"))},
        {"a folder that cannot be made",
         FDir.filePath(QStringLiteral("a file/BookInfo/BookInfo.cache"))},
    };
    for (const auto& place : places) {
        SCOPED_TRACE(place.Name);
        if (canWriteAnyway && place.File.contains(QStringLiteral("/ro/"))) {
            std::printf("[ SKIPPED  ] %s: the user may write in read-only folders\n", place.Name);
            continue;
        }
        {
            TBookInfoCache cache(place.File);
            for (int i = 0; i < 200; ++i) // several batches
                cache.Put({"book " + QByteArray::number(i), i, i}, MakeInfo(i));
            cache.Flush();
            TBookInfo info;
            for (int i = 0; i < 200; ++i) {
                ASSERT_TRUE(cache.Find({"book " + QByteArray::number(i), i, i}, info)) << i;
                EXPECT_TRUE(Same(info, MakeInfo(i)));
            }
            EXPECT_EQ(cache.Count(), 200);
        }
        EXPECT_FALSE(QFileInfo::exists(place.File));
        EXPECT_EQ(TBookInfoCache(place.File).Count(), 0);
    }
    EXPECT_TRUE(QDir(FDir.filePath(QStringLiteral("ro")))
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    chmod(QFile::encodeName(FDir.filePath(QStringLiteral("ro"))).constData(), 0755);
}

// A full disk in the middle of a run: the torn append is taken back, nothing more is tried this
// run (even once there would be room), and the next run finds the books written before.
TEST_F(BookCache, AFullDiskStopsWritingForTheRun)
{
    StoreTen(CacheFile());
    const qint64 before = FileSize(CacheFile());
    {
        TBookInfoCache cache(CacheFile());
        {
            TFileSizeLimit full(static_cast<rlim_t>(before + 100));
            for (int i = 0; i < 64; ++i) // one batch: its append fails part way
                cache.Put({"new " + QByteArray::number(i), i, i}, MakeInfo(i));
        }
        for (int i = 64; i < 200; ++i)
            cache.Put({"new " + QByteArray::number(i), i, i}, MakeInfo(i));
        cache.Flush();
        EXPECT_EQ(FileSize(CacheFile()), before);
        TBookInfo info;
        for (int i = 0; i < 200; ++i)
            EXPECT_TRUE(cache.Find({"new " + QByteArray::number(i), i, i}, info)) << i;
    }
    EXPECT_EQ(FileSize(CacheFile()), before);
    TBookInfoCache cache(CacheFile());
    EXPECT_EQ(cache.Count(), 10);
    TBookInfo info;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(cache.Find(BookKey(i), info)) << i;
        EXPECT_TRUE(Same(info, BookInfo(i, 0)));
    }
}

// Four threads (the search worker, the pool, the window) storing and looking up at once, batches
// written meanwhile; a few paths are stored by every thread with its own time, so entries are
// replaced under the others' look-ups. The sanitizers report any unguarded access.
TEST_F(BookCache, ThreadsStoreAndFindAtOnceAndARestartFindsEverything)
{
    constexpr int kThreads = 4, kKeys = 2000, kShared = 50;
    auto key = [](int t, int i) {
        return TBookCacheKey{"t" + QByteArray::number(t) + "/\xb1\xbe " + QByteArray::number(i), i,
                             t};
    };
    auto shared = [](int t, int i) {
        return TBookCacheKey{"shared/" + QByteArray::number(i), i, t};
    };
    {
        TBookInfoCache cache(CacheFile());
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                std::mt19937 random(t);
                TBookInfo info;
                for (int i = 0; i < kKeys; ++i) {
                    cache.Put(key(t, i), MakeInfo(t * kKeys + i));
                    if (i % 40 == 0) cache.Put(shared(t, i / 40), MakeInfo(9000 + i / 40));
                    const int other = static_cast<int>(random() % kThreads);
                    const int j = static_cast<int>(random() % kKeys);
                    if (cache.Find(key(other, j), info) && !Same(info, MakeInfo(other * kKeys + j)))
                        ++wrong;
                    if (cache.Find(shared(other, j % kShared), info) &&
                        !Same(info, MakeInfo(9000 + j % kShared)))
                        ++wrong;
                    if (i % 500 == 0) cache.Flush();
                    ASSERT_TRUE(cache.Find(key(t, i), info));
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(cache.Count(), kThreads * kKeys + kShared);
    }

    TBookInfoCache cache(CacheFile());
    EXPECT_EQ(cache.Count(), kThreads * kKeys + kShared);
    TBookInfo info;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kKeys; ++i) {
            ASSERT_TRUE(cache.Find(key(t, i), info)) << t << " " << i;
            ASSERT_TRUE(Same(info, MakeInfo(t * kKeys + i))) << t << " " << i;
        }
    for (int i = 0; i < kShared; ++i) {
        int hits = 0;
        for (int t = 0; t < kThreads; ++t)
            hits += cache.Find(shared(t, i), info);
        EXPECT_EQ(hits, 1) << i; // the one stored last
    }
}

// Records are mostly empty; the cache keeps only what is in them.
TEST_F(BookCache, TenThousandBooksCostWellUnderTenMegabytes)
{
    constexpr int kBooks = 10000;
    {
        TBookInfoCache cache(CacheFile());
        for (int i = 0; i < kBooks; ++i)
            cache.Put({TypicalBookPath(i), i, i}, TypicalBookInfo(i));
    }
    auto allocated = [] {
#ifdef KORVEL_SANITIZED_HEAP
        return static_cast<qint64>(__sanitizer_get_current_allocated_bytes());
#else
        return static_cast<qint64>(mallinfo2().uordblks);
#endif
    };
    const qint64 before = allocated();
    auto* cache = new TBookInfoCache(CacheFile());
    ASSERT_EQ(cache->Count(), kBooks);
    const qint64 used = allocated() - before;
    std::printf("[   INFO   ] %d books: %lld bytes in memory, %lld per book; file %lld bytes\n",
                kBooks, static_cast<long long>(used), static_cast<long long>(used / kBooks),
                static_cast<long long>(FileSize(CacheFile())));
    EXPECT_LT(used, 10 << 20);
    delete cache;
}
