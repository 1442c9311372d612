// Listing a bookshelf: Load of a folder category of 10,000 books (no book is read), and the
// memory the model keeps per listed book. The book-information cache: loading a file of 10,000
// books, looking all of them up, storing them, and the memory it keeps per book.
#include "BookInfoCache.h"
#include "Categories.h"
#include "FileInfo.h"
#include "../tests/Support/TypicalBooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <vector>

namespace {

const QTemporaryDir& Shelf()
{
    static QTemporaryDir dir;
    static bool made = false;
    if (!made) {
        for (int i = 0; i < 10000; ++i) {
            QFile f(dir.filePath(QStringLiteral("第%1本 book %1.epub").arg(i)));
            f.open(QIODevice::WriteOnly);
        }
        made = true;
    }
    return dir;
}

void BM_ListShelfOf10000Books(benchmark::State& state)
{
    const QString path = Shelf().path();
    TRootFileSystemCategory shelf(QStringLiteral("shelf"), path);
    for (auto _ : state) {
        shelf.Reload();
        benchmark::DoNotOptimize(shelf.ItemCount());
    }
    state.counters["books"] = shelf.ItemCount();
}
BENCHMARK(BM_ListShelfOf10000Books)->Unit(benchmark::kMillisecond);

void BM_MemoryPerListedBook(benchmark::State& state)
{
    const QString path = Shelf().path();
    double perBook = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        auto* shelf = new TRootFileSystemCategory(QStringLiteral("shelf"), path);
        shelf->EnsureLoaded();
        const size_t after = mallinfo2().uordblks;
        perBook = double(after - before) / shelf->ItemCount();
        delete shelf;
    }
    state.counters["bytes_per_book"] = perBook;
}
BENCHMARK(BM_MemoryPerListedBook)->Iterations(3)->Unit(benchmark::kMillisecond);

constexpr int kCachedBooks = 10000;

TBookCacheKey CachedKey(int i)
{
    return {TypicalBookPath(i), 100000 + i, 1700000000'000000000LL + i};
}

// A cache file of 10,000 books, written once.
QString CacheFile()
{
    static QTemporaryDir dir;
    static const QString file = [] {
        const QString name = dir.filePath(QStringLiteral("BookInfo.cache"));
        TBookInfoCache cache(name);
        for (int i = 0; i < kCachedBooks; ++i)
            cache.Put(CachedKey(i), TypicalBookInfo(i));
        return name;
    }();
    return file;
}

void BM_BookCacheStore10000(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("BookInfo.cache"));
    std::vector<TBookCacheKey> keys;
    std::vector<TBookInfo> infos;
    for (int i = 0; i < kCachedBooks; ++i) {
        keys.push_back(CachedKey(i));
        infos.push_back(TypicalBookInfo(i));
    }
    for (auto _ : state) {
        QFile::remove(name);
        TBookInfoCache cache(name);
        for (int i = 0; i < kCachedBooks; ++i)
            cache.Put(keys[i], infos[i]);
        cache.Flush();
    }
    state.counters["file_bytes"] = QFileInfo(name).size();
    state.SetItemsProcessed(state.iterations() * kCachedBooks);
}
BENCHMARK(BM_BookCacheStore10000)->Unit(benchmark::kMillisecond);

void BM_BookCacheLoad10000(benchmark::State& state)
{
    const QString name = CacheFile();
    for (auto _ : state) {
        TBookInfoCache cache(name);
        benchmark::DoNotOptimize(cache.Count());
    }
    state.counters["books"] = TBookInfoCache(name).Count();
}
BENCHMARK(BM_BookCacheLoad10000)->Unit(benchmark::kMillisecond);

void BM_BookCacheFind10000(benchmark::State& state)
{
    TBookInfoCache cache(CacheFile());
    std::vector<TBookCacheKey> keys;
    for (int i = 0; i < kCachedBooks; ++i)
        keys.push_back(CachedKey(i));
    cache.Count(); // loaded before timing
    TBookInfo info;
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const TBookCacheKey& key : keys)
            hits += cache.Find(key, info);
        benchmark::DoNotOptimize(info);
    }
    if (hits != kCachedBooks) state.SkipWithError("not every book was found");
    state.SetItemsProcessed(state.iterations() * kCachedBooks);
}
BENCHMARK(BM_BookCacheFind10000)->Unit(benchmark::kMillisecond);

void BM_BookCacheMemoryPerBook(benchmark::State& state)
{
    const QString name = CacheFile();
    double perBook = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        auto* cache = new TBookInfoCache(name);
        const int count = cache->Count();
        const size_t after = mallinfo2().uordblks;
        perBook = double(after - before) / count;
        delete cache;
    }
    state.counters["bytes_per_book"] = perBook;
}
BENCHMARK(BM_BookCacheMemoryPerBook)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
