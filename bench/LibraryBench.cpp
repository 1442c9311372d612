// Listing a bookshelf: Load of a folder category of 10,000 books (no book is read), and the
// memory the model keeps per listed book.
#include "Categories.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <malloc.h>

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

} // namespace

BENCHMARK_MAIN();
