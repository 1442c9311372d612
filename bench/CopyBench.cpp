// Copying 300 books of 0.3 to 1.2 MB into another folder: through the program's copy (each book
// under a temporary name, one flush for the batch, then the renames) and, in the same run, with
// "cp" followed by "sync". Both are durable when they end.
#include "AtomicFile.h"
#include "Categories.h"
#include "FileOperations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <unistd.h>

namespace {

QTemporaryDir& Work()
{
    // Beside the benchmark, on the disk the program's data would be on, not in a memory folder.
    static QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/copybench-XXXXXX"));
    static bool made = false;
    if (!made) {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> size(300 * 1024, 1200 * 1024);
        QDir().mkpath(dir.filePath("source"));
        for (int i = 0; i < 300; ++i) {
            QByteArray bytes(size(random), '\0');
            for (qsizetype b = 0; b < bytes.size(); b += 4096)
                bytes[b] = char(random());
            QFile f(dir.filePath(QStringLiteral("source/第%1本.epub").arg(i)));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
        }
        made = true;
        sync();
    }
    return dir;
}

void FreshTarget()
{
    QDir(Work().filePath("target")).removeRecursively();
    QDir().mkpath(Work().filePath("target"));
    sync(); // every run starts with nothing left to write
}

void BM_CopyThroughTheProgram(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        FreshTarget();
        TRootFileSystemCategory source(QStringLiteral("s"), Work().filePath("source"));
        TRootFileSystemCategory target(QStringLiteral("t"), Work().filePath("target"));
        source.EnsureLoaded();
        QList<TFileItem*> books;
        for (int i = 0; i < source.ItemCount(); ++i)
            books << source.Item(i);
        state.ResumeTiming();
        if (CopyOrMoveBooks(&target, books, false, TBooksProgress()) != 0)
            state.SkipWithError("the copy failed");
    }
    state.counters["books"] = 300;
}
BENCHMARK(BM_CopyThroughTheProgram)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a copy costs when every book is made durable on its own (as the program did before).
void BM_CopyEachBookDurableOnItsOwn(benchmark::State& state)
{
    const QStringList names = QDir(Work().filePath("source")).entryList(QDir::Files);
    for (auto _ : state) {
        state.PauseTiming();
        FreshTarget();
        state.ResumeTiming();
        for (const QString& name : names)
            if (CopyFileAtomically(Work().filePath("source/") + name,
                                   Work().filePath("target/") + name) != 0)
                state.SkipWithError("the copy failed");
    }
    state.counters["books"] = 300;
}
BENCHMARK(BM_CopyEachBookDurableOnItsOwn)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_CopyWithCpAndSync(benchmark::State& state)
{
    const QByteArray command = "cp -p '" + QFile::encodeName(Work().filePath("source")) +
                               "'/* '" + QFile::encodeName(Work().filePath("target")) +
                               "'/ && sync";
    for (auto _ : state) {
        state.PauseTiming();
        FreshTarget();
        state.ResumeTiming();
        if (std::system(command.constData()) != 0) state.SkipWithError("cp failed");
    }
    state.counters["books"] = 300;
}
BENCHMARK(BM_CopyWithCpAndSync)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
