// The firmware writer end to end: a deflated package is unpacked into the working file, copied
// in blocks to a target folder, flushed, read back and compared. The figure is image bytes per
// second; peak memory shows that the writer's buffers do not grow with the image.
#include "DeviceStream.h"
#include "QuietFirmwareHost.h"

#include <algorithm>
#include <sys/resource.h>
#include <zip.h>

#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A package "fw.zip" with a ".pkg" entry holding `size` bytes of image that do not compress.
// The entry is written to a file in pieces and packed from there, so making the package does
// not raise the process's peak memory.
QString MakePackage(const QTemporaryDir& dir, qint64 size)
{
    const QString entryPath = dir.filePath(QStringLiteral("fw.pkg"));
    {
        QFile entry(entryPath);
        entry.open(QIODevice::WriteOnly);
        QByteArray header(16 + 20, '\0');
        const auto length = static_cast<quint32>(size);
        for (int i = 0; i < 4; ++i)
            header += static_cast<char>((length >> (8 * i)) & 0xFF);
        entry.write(header);
        QRandomGenerator random(42);
        QByteArray piece(1 << 20, '\0');
        for (qint64 done = 0; done < size; done += piece.size()) {
            random.fillRange(reinterpret_cast<quint32*>(piece.data()), piece.size() / 4);
            entry.write(piece.constData(), std::min<qint64>(piece.size(), size - done));
        }
    }
    const QString path = dir.filePath(QStringLiteral("fw.zip"));
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    zip_source_t* source = zip_source_file(zip, QFile::encodeName(entryPath).constData(), 0, -1);
    zip_file_add(zip, "fw.pkg", source, ZIP_FL_ENC_UTF_8);
    zip_close(zip);
    QFile::remove(entryPath);
    return path;
}

long PeakRssKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_WriteImage(benchmark::State& state)
{
    const qint64 size = state.range(0) << 20;
    QTemporaryDir dir;
    const QString package = MakePackage(dir, size);
    const QString target = dir.filePath(QStringLiteral("READER/_sys_/update/updatepackage.bin"));
    TQuietHost host;
    const long before = PeakRssKib();
    for (auto _ : state) {
        if (!WriteImage(host, 0x5601, package, target)) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["peak_rss_growth_KiB"] = static_cast<double>(PeakRssKib() - before);
    state.counters["peak_rss_KiB"] = static_cast<double>(PeakRssKib());
}
BENCHMARK(BM_WriteImage)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
