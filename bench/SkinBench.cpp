// The skin at start-up: loading "skin.ini" from its archive, and the typed look-ups the panes
// make while they are set up (a first parse, then answers from the cache).

#include "SkinFixture.h"
#include "Skins.h"
#include "ZipSkinRes.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A skin of the usual size: 12 sections of 20 keys, and one 150 x 30 tool-button strip.
struct TBenchSkin
{
    QTemporaryDir Dir;
    QString Path;
    TBenchSkin()
    {
        QByteArray ini;
        for (int s = 0; s < 12; ++s) {
            ini += "[Section" + QByteArray::number(s) + "]\r\n";
            for (int k = 0; k < 20; ++k)
                ini += "Key" + QByteArray::number(k) + " = " + QByteArray::number(k * 7) + ",128," +
                       QByteArray::number(s) + "\r\n";
        }
        ini += "[Images]\r\nStrip=strip.bmp\r\n";
        Path = Dir.filePath("theme.zip");
        WriteZip(Path, {{"skin.ini", ini}, {"strip.bmp", ImageBytes(150, 30, qRgb(1, 2, 3))}});
    }
};

TBenchSkin& Skin()
{
    static TBenchSkin skin;
    return skin;
}

void BM_LoadSkinIni(benchmark::State& state)
{
    for (auto _ : state) {
        TSkinManager skins;
        skins.SetResource(std::make_shared<TZipSkinResource>(Skin().Path, QString()));
        benchmark::DoNotOptimize(skins.HasValue("Section3", "Key4"));
    }
}
BENCHMARK(BM_LoadSkinIni)->Unit(benchmark::kMicrosecond);

// 240 colours parsed for the first time (the cache is emptied by reloading outside the clock).
void BM_FirstColorLookups(benchmark::State& state)
{
    TSkinManager skins;
    const auto resource = std::make_shared<TZipSkinResource>(Skin().Path, QString());
    const QStringList sections = [] {
        QStringList l;
        for (int s = 0; s < 12; ++s)
            l << QStringLiteral("Section%1").arg(s);
        return l;
    }();
    for (auto _ : state) {
        state.PauseTiming();
        skins.SetResource(nullptr);
        skins.SetResource(resource);
        state.ResumeTiming();
        for (const QString& section : sections)
            for (int k = 0; k < 20; ++k)
                benchmark::DoNotOptimize(
                    skins.GetColor(section, QStringLiteral("Key%1").arg(k), 0));
    }
    state.SetItemsProcessed(state.iterations() * 240);
}
BENCHMARK(BM_FirstColorLookups)->Unit(benchmark::kMicrosecond);

void BM_CachedColorLookup(benchmark::State& state)
{
    TSkinManager skins;
    skins.SetResource(std::make_shared<TZipSkinResource>(Skin().Path, QString()));
    const QString section = QStringLiteral("Section5"), key = QStringLiteral("Key9");
    skins.GetColor(section, key, 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(skins.GetColor(section, key, 0));
}
BENCHMARK(BM_CachedColorLookup);

// A bitmap's first read opens the archive, extracts and decodes the entry.
void BM_FirstBitmapLookup(benchmark::State& state)
{
    TSkinManager skins;
    const auto resource = std::make_shared<TZipSkinResource>(Skin().Path, QString());
    for (auto _ : state) {
        state.PauseTiming();
        skins.SetResource(nullptr);
        skins.SetResource(resource);
        state.ResumeTiming();
        const QImage* bitmap = nullptr;
        benchmark::DoNotOptimize(skins.GetBitmap("Images", "Strip", bitmap));
    }
}
BENCHMARK(BM_FirstBitmapLookup)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
