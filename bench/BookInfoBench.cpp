// Books per second for each format: information and thumbnail of one book, read through the
// manager and the shipped libraries, on the calling thread (one core). The corpora are made
// at start the same way the tests make their books.
#include "BookMaker.h"
#include "FileInfo.h"
#include "SummaryCommon.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
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
    Write(root + "/cover.jpg", cover); // the pictures of the web pages
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
        // A document of 1 MB of text, its one picture after the text and no package thumbnail
        // (what word processors write by default): the whole text is looked through.
        TDocx docx;
        docx.Title = QStringLiteral("文档 ") + n;
        docx.Creator = QStringLiteral("作者");
        docx.Pages = 300;
        docx.Text = QString::fromUtf8(MegabyteOfText(i));
        docx.Media = {{"image1.jpeg", cover}};
        docx.Shown = {"image1.jpeg"};
        WriteDocx(root + "/" + n + ".docx", docx);
        // A page of 1 MB with its metadata in the head and its picture beside it on disk.
        const QByteArray head = "<html lang=\"zh\"><head><meta charset=\"utf-8\"><title>" +
                                QStringLiteral("网页 ").toUtf8() + n.toUtf8() +
                                "</title><meta name=\"author\" content=\"Author\">"
                                "<meta name=\"description\" content=\"Description.\"></head>"
                                "<body><p><img src=\"cover.jpg\"></p><pre>";
        Write(root + "/" + n + ".html", head + MegabyteOfText(i) + "</pre></body></html>");
        THtmlz htmlz;
        htmlz.Title = QStringLiteral("书 ") + n;
        htmlz.Authors = {QStringLiteral("作者")};
        htmlz.Description = "<p>" + QString("Description. ").repeated(40) + "</p>";
        htmlz.Cover = cover;
        htmlz.Page = QString::fromUtf8(head + MegabyteOfText(i) + "</pre></body></html>");
        WriteZip(root + "/" + n + ".htmlz", HtmlzEntries(htmlz));
        // Comics of 40 pages, the cover sorted first but packed last.
        QList<TZipEntry> pages = {{"ComicInfo.xml", "<ComicInfo><Title>Comic " + n.toUtf8() +
                                                        "</Title></ComicInfo>"}};
        for (int page = 40; page >= 1; --page)
            pages.append({QStringLiteral("page%1.jpg").arg(page), cover});
        Write(root + "/" + n + ".cbt", Tar(pages));
        Write(root + "/" + n + ".cbr", StoredRar(pages));
        Write(root + "/" + n + ".chm",
              Chm({{"#SYSTEM", ChmSystem(0x0804, "Help " + n.toUtf8(), "html/index.htm")},
                   {"html/index.htm", "<html><title>x</title><img src=\"../images/front.jpg\">"},
                   {"images/front.jpg", cover}},
                  0x0804));
        // DjVu cannot be generated here: the two-page fixture stands in.
        QFile::copy(QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                        "/../tests/fixtures/two-pages.djvu",
                    root + "/" + n + ".djvu");
        TRtf rtf;
        rtf.Title = QStringLiteral("书 ") + n;
        rtf.Author = QStringLiteral("作者");
        rtf.CodePage = 936;
        rtf.UnicodeEscapes = true;
        rtf.Comment = QString("Description. ").repeated(40);
        rtf.Cover = cover;
        rtf.Body = QString::fromUtf8(MegabyteOfText(i)).left(100000);
        Write(root + "/" + n + ".rtf", Rtf(rtf));
        TUmd umd;
        umd.Title = QStringLiteral("书 ") + n;
        umd.Author = QStringLiteral("作者");
        umd.Text = QString::fromUtf8(MegabyteOfText(i));
        umd.Cover = cover;
        Write(root + "/" + n + ".umd", Umd(umd));
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

// A 600 x 900 cover as PNG: smooth gradients, the way a rendered cover is saved with 16 bits
// per channel, or the same picture with 8.
QByteArray PngCover(bool sixteenBits)
{
    QImage image(600, 900, QImage::Format_RGBX64);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgba64*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = QRgba64::fromRgba64(quint16(x * 109), quint16(y * 72), quint16(x * y / 9),
                                          0xFFFF);
    }
    if (!sixteenBits) image = image.convertToFormat(QImage::Format_RGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The covers a book library decodes: the PNG above at 16 or 8 bits per channel, or the
// 1200 x 1600 JPEG cover of the generated books.
QByteArray CoverBytes(const char* kind)
{
    const QByteArray name(kind);
    if (name == "jpeg") return LargeCover();
    return PngCover(name == "png16");
}

// One cover from its bytes to the 90 x 112 thumbnail a book library hands over.
void DecodeCover(benchmark::State& state, const char* kind)
{
    const QByteArray bytes = CoverBytes(kind);
    for (auto _ : state) {
        TThumbnailInfo thumbnail{90, 112, nullptr};
        if (!Summary::PutThumbnail(&thumbnail, Summary::DecodeScaled(bytes, QSize(90, 112))))
            state.SkipWithError("no thumbnail");
        ReleaseThumbnail(thumbnail);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("covers");
}

// The same through Qt's own reader, scaled the way it can scale while decoding (to twice the
// box, as the libraries asked it to): the yardstick.
void DecodeCoverWithQt(benchmark::State& state, const char* kind)
{
    QByteArray bytes = CoverBytes(kind);
    for (auto _ : state) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setScaledSize(Summary::FitInside(reader.size(), QSize(180, 224)));
        TThumbnailInfo thumbnail{90, 112, nullptr};
        if (!Summary::PutThumbnail(&thumbnail, reader.read())) state.SkipWithError("no thumbnail");
        ReleaseThumbnail(thumbnail);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("covers");
}

} // namespace

BENCHMARK_CAPTURE(DecodeCover, Png16_600x900, "png16")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeCover, Png8_600x900, "png8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeCover, Jpeg_1200x1600, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeCoverWithQt, Png16_600x900, "png16")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeCoverWithQt, Png8_600x900, "png8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeCoverWithQt, Jpeg_1200x1600, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Epub_1200x1600_cover, "epub")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Pdf_20_pages, "pdf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Txt_1MB, "txt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Fb2_1200x1600_cover, "fb2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Mobi_1200x1600_cover, "mobi")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Docx_1MB_1200x1600_picture_after_text, "docx")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Html_1MB_1200x1600_picture_beside, "html")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Htmlz_1MB_1200x1600_cover, "htmlz")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Cbt_40_pages_cover_last, "cbt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Cbr_stored_40_pages_cover_last, "cbr")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Chm_1200x1600_topic_picture, "chm")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Djvu_two_small_pages, "djvu")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Rtf_1200x1600_cover, "rtf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBooks, Umd_1MB_1200x1600_cover, "umd")->Unit(benchmark::kMillisecond);

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
