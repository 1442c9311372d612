// What a drive question costs: the drive table brought in step with the mount table under its
// lock, and the identification library's answers, on a fake root with a few volumes.
#include "../tests/Support/FakeRoot.h"
#include "DevID.h"
#include "DriveTable.h"
#include "Orvid.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <dlfcn.h>

namespace {

struct TWorld
{
    TWorld() : Folder(MakeFolder()), Root(Folder)
    {
        Root.Activate();
        for (int i = 0; i < 4; ++i) {
            TFakeRoot::TDisk disk;
            disk.Name = "sd" + std::string(1, static_cast<char>('b' + i));
            disk.Minor = static_cast<unsigned>(16 * (i + 1));
            disk.Product = std::string("MassSto\x01\x01\x02\x03\x04\x02\x56\x00\x07", 16);
            Root.Mount("/media/user/V" + std::to_string(i), Root.AddDisk(disk));
        }
    }
    ~TWorld()
    {
        TFakeRoot::Deactivate();
        std::filesystem::remove_all(Folder);
    }
    static std::filesystem::path MakeFolder()
    {
        char pattern[] = "/tmp/korvel-drive-bench-XXXXXX";
        return mkdtemp(pattern);
    }
    std::filesystem::path Folder;
    TFakeRoot Root;
};

void BM_Synchronize(benchmark::State& state)
{
    TWorld world;
    for (auto _ : state)
        benchmark::DoNotOptimize(DriveTable::Synchronize());
}
BENCHMARK(BM_Synchronize);

// The monitor's drive list at start-up: the type of every letter from A to Z.
void BM_DriveTypesAToZ(benchmark::State& state)
{
    TWorld world;
    for (auto _ : state)
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            benchmark::DoNotOptimize(DriveTable::DriveType(letter));
}
BENCHMARK(BM_DriveTypesAToZ);

void BM_IsReaderDrive(benchmark::State& state)
{
    TWorld world;
    for (auto _ : state)
        benchmark::DoNotOptimize(IsReaderDrive('E'));
}
BENCHMARK(BM_IsReaderDrive);

void BM_GetDeviceID(benchmark::State& state)
{
    TWorld world;
    TDeviceIdentity identity;
    for (auto _ : state) {
        std::memset(&identity, 0, sizeof identity);
        benchmark::DoNotOptimize(GetDeviceID('E', &identity));
    }
}
BENCHMARK(BM_GetDeviceID);

} // namespace

BENCHMARK_MAIN();
