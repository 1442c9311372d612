// Costs of the platform layer on the paths that run often: reading an INI file the size of the
// settings file, decoding book texts from code page 936, and formatting file sizes for a list.
#include "Codec936.h"
#include "FormatFileSize.h"
#include "IniFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QString SettingsLikeText()
{
    QString text =
        QStringLiteral("[Window]\nTop=100\nLeft=100\nWidth=831\nHeight=404\nState=Normal\n"
                       "[Login]\nSavePassword=0\nUserName=读者\nPassword=\n"
                       "[Controls]\nShowThumbnail=1\n[Update]\nAutoRunUpdate=0\n[ListHeader]\n");
    for (int i = 1; i <= 17; ++i)
        text += QStringLiteral("Position%1=%2\nWidth%1=120\nVisible%1=1\n").arg(i).arg(i - 1);
    return text;
}

void BM_IniReadSettingsFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Korvel.ini");
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(Cp936::FromUnicode(SettingsLikeText()));
    }
    for (auto _ : state) {
        TIniFile ini(path);
        int sum = 0;
        for (int i = 1; i <= 17; ++i)
            sum += ini.ReadInteger("ListHeader", QStringLiteral("Width%1").arg(i), 0);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_IniReadSettingsFile);

void BM_IniWriteAndSaveSettingsFile(benchmark::State& state)
{
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("Korvel.ini"));
    ini.SetText(SettingsLikeText());
    for (auto _ : state) {
        for (int i = 1; i <= 17; ++i)
            ini.WriteInteger("ListHeader", QStringLiteral("Width%1").arg(i), i);
        benchmark::DoNotOptimize(ini.UpdateFile());
    }
}
BENCHMARK(BM_IniWriteAndSaveSettingsFile);

void BM_DecodeCp936(benchmark::State& state)
{
    QString text;
    while (text.size() < state.range(0))
        text += QStringLiteral("第一章 书虫的故事。The reader's tale. ");
    const QByteArray bytes = Cp936::FromUnicode(text);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cp936::ToUnicode(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_DecodeCp936)->Arg(256)->Arg(1 << 20);

void BM_FormatFileSize(benchmark::State& state)
{
    std::int64_t n = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatFileSize(n));
        n = n * 7 + 1;
        if (n > (1LL << 50)) n = 1;
    }
}
BENCHMARK(BM_FormatFileSize);

} // namespace

BENCHMARK_MAIN();
