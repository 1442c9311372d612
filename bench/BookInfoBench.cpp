// Books per second for each format: information and thumbnail of one book, read through the
// manager and the shipped libraries, on the calling thread (one core). The corpora are made
// at start the same way the tests make their books.
#include "BookMaker.h"
#include "FileInfo.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QTemporaryDir>

using namespace BookMaker;

namespace {

constexpr int BooksPerFormat = 16;

QTemporaryDir* Corpus = nullptr;

TFileInfoManager& Libraries()
{
    static TFileInfoManager manager(QStringLiteral(KORVEL_BIN_DIR "/ficomp/"));
    return manager;
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

// About 1 MB of mixed Chinese and English prose in UTF-8.
QByteArray MegabyteOfText(int seed)
{
    QString paragraph = QStringLiteral("《第%1部》\n作者：某人\n").arg(seed);
    const QString line = QStringLiteral(
        "天下大势，分久必合，合久必分。The quick brown fox jumps over the lazy dog, 123 times.\n");
    QByteArray bytes = paragraph.toUtf8();
    const QByteArray lineBytes = line.toUtf8();
    while (bytes.size() < 1024 * 1024)
        bytes += lineBytes;
    return bytes;
}

void MakeCorpus()
{
    Corpus = new QTemporaryDir;
    const QString root = Corpus->path();
    const QByteArray cover = LargeCover();
    for (int i = 0; i < BooksPerFormat; ++i) {
        const QString n = QString::number(i);
        TEpub epub;
        epub.Title = QStringLiteral("书 ") + n;
        epub.Creators = {{QStringLiteral("作者"), "aut"}};
        epub.Description = "<p>" + QString("Description. ").repeated(40) + "</p>";
        epub.Cover = TCoverStyle::Properties;
        epub.CoverBytes = cover;
        WriteEpub(root + "/" + n + ".epub", epub);
        WritePdf(root + "/" + n + ".pdf", 20, "Book " + n, "Author");
        Write(root + "/" + n + ".txt", MegabyteOfText(i));
        Write(root + "/" + n + ".fb2", Fb2("Book " + n, {"First Last"}, cover));
        TMobi mobi;
        mobi.Title = "Book " + n;
        mobi.Author = "Author";
        mobi.Cover = cover;
        Write(root + "/" + n + ".mobi", Mobi(mobi));
    }
}

void ReadBooks(benchmark::State& state, const char* extension)
{
    int i = 0;
    int failures = 0;
    for (auto _ : state) {
        const QString path =
            Corpus->path() + QStringLiteral("/%1.%2").arg(i++ % BooksPerFormat).arg(extension);
        TBookInfo info{};
        failures += !Libraries().GetFileInfo(path, info);
        TThumbnailInfo thumbnail{90, 112, nullptr};
        failures += !Libraries().GetThumbnail(path, thumbnail) && QString(extension) != "txt";
        ReleaseThumbnail(thumbnail);
        benchmark::DoNotOptimize(info);
    }
    if (failures) state.SkipWithError("a book could not be read");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("books");
}

} // namespace

BENCHMARK_CAPTURE(ReadBooks, Epub_1200x1600_cover, "epub")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Pdf_20_pages, "pdf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Txt_1MB, "txt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Fb2_1200x1600_cover, "fb2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Mobi_1200x1600_cover, "mobi")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    MakeCorpus();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete Corpus;
    return 0;
}
