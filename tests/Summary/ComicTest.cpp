#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QLibrary>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <functional>

using namespace BookMaker;

namespace {

// A 7z archive (LZMA, solid) written with libarchive.
QByteArray SevenZip(const QList<TZipEntry>& entries)
{
    QByteArray out(8 * 1024 * 1024, '\0');
    size_t used = 0;
    archive* a = archive_write_new();
    archive_write_set_format_7zip(a);
    if (archive_write_open_memory(a, out.data(), static_cast<size_t>(out.size()), &used) !=
        ARCHIVE_OK)
        return {};
    for (const TZipEntry& entry : entries) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, entry.Name.toUtf8().constData());
        archive_entry_set_size(e, entry.Bytes.size());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_write_header(a, e);
        archive_write_data(a, entry.Bytes.constData(), static_cast<size_t>(entry.Bytes.size()));
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    out.truncate(static_cast<qsizetype>(used));
    return out;
}

struct TFormat
{
    const char* Extension;
    std::function<QByteArray(const QList<TZipEntry>&)> Make;
};

const QList<TFormat>& Formats()
{
    static const QList<TFormat> formats = {{"cbt", Tar}, {"cbr", StoredRar}, {"cb7", SevenZip}};
    return formats;
}

const QByteArray ComicXml =
    "<?xml version=\"1.0\"?><ComicInfo><Title>Night Watch</Title><Writer>A, B</Writer>"
    "<Publisher>Dark Press</Publisher><Genre>Noir</Genre><Tags>city, rain</Tags>"
    "<Summary>One.\nTwo.</Summary><LanguageISO>en</LanguageISO>"
    "<Year>2001</Year><Month>2</Month><Day>3</Day></ComicInfo>";

TEST(ComicTest, EveryFormatGivesComicInfoPagesAndTheFirstPageInNameOrder)
{
    QTemporaryDir dir;
    // Archive order and plain string order both put a blue page first; "page2" comes before
    // "page10" for a reader.
    const QList<TZipEntry> entries = {{"page10.jpg", Picture(60, 80, Qt::blue)},
                                      {"notes.txt", "x"},
                                      {"page2.jpg", Picture(300, 400, Qt::red)},
                                      {"page3.png", Picture(60, 80, Qt::blue, "PNG")},
                                      {"ComicInfo.xml", ComicXml}};
    for (const TFormat& format : Formats()) {
        SCOPED_TRACE(format.Extension);
        const QString path = dir.path() + "/comic." + format.Extension;
        WriteBytes(path, format.Make(entries));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), "Night Watch");
        EXPECT_EQ(BookInfoText(info, biAuthor), "A & B");
        EXPECT_EQ(BookInfoText(info, biPublisher), "Dark Press");
        EXPECT_EQ(BookInfoText(info, biCategory), "Noir");
        EXPECT_EQ(BookInfoText(info, biKeywords), "city, rain");
        EXPECT_EQ(BookInfoText(info, biComment), "One.\nTwo.");
        EXPECT_EQ(BookInfoText(info, biLanguage), "en");
        EXPECT_EQ(BookInfoText(info, biCreationDate), "2001-02-03");
        EXPECT_EQ(BookInfoText(info, biPageCount), "3");
        const QImage thumbnail = ThumbnailOf(path);
        ASSERT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), QSize(84, 112));
        EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));

        // Already in order, in a folder: the first picture is the cover.
        const QString sorted = dir.path() + "/sorted." + format.Extension;
        WriteBytes(sorted, format.Make({{"x/01.jpg", Picture(60, 80, Qt::green)},
                                        {"x/02.jpg", Picture(60, 80, Qt::blue)}}));
        EXPECT_TRUE(NearColor(ThumbnailOf(sorted).pixel(40, 50), Qt::green));
    }
}

TEST(ComicTest, MissingOrUnusableComicInfoFallsBackToTheFileName)
{
    QTemporaryDir dir;
    // A ComicInfo.xml over 4 MiB is not read; a date that is no date is dropped.
    const QByteArray huge =
        "<ComicInfo><Title>Too Big</Title>" + QByteArray(4 * 1024 * 1024, ' ') + "</ComicInfo>";
    const QList<std::pair<QList<TZipEntry>, QString>> cases = {
        {{{"readme.txt", "x"}}, "0"},
        {{{"ComicInfo.xml", huge}, {"a.png", Picture(10, 10, Qt::red, "PNG")}}, "1"},
        {{{"ComicInfo.xml", "<ComicInfo><Year>later</Year><Month>13</Month>"},
          {"__MACOSX/._a.jpg", "x"}},
         "0"}};
    for (const auto& [entries, pages] : cases) {
        const QString path = dir.path() + "/Plain Name.cbt";
        WriteBytes(path, Tar(entries));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), "Plain Name");
        EXPECT_EQ(BookInfoText(info, biPageCount), pages);
        EXPECT_EQ(BookInfoText(info, biCreationDate), "");
    }
    EXPECT_TRUE(ThumbnailOf(dir.path() + "/Plain Name.cbt").isNull());
}

TEST(ComicTest, DamagedArchivesGiveWhatCanBeReadAndNeverCrash)
{
    QTemporaryDir dir;
    const QList<TZipEntry> entries = {{"01.jpg", Picture(200, 300, Qt::red)},
                                      {"02.jpg", Picture(200, 300, Qt::blue)},
                                      {"ComicInfo.xml", ComicXml}};
    for (const TFormat& format : Formats()) {
        SCOPED_TRACE(format.Extension);
        const QByteArray whole = format.Make(entries);
        const QString path = dir.path() + "/broken." + format.Extension;
        for (const qsizetype size :
             {qsizetype(0), qsizetype(10), whole.size() / 3, whole.size() / 2, whole.size() - 40}) {
            WriteBytes(path, whole.left(size));
            TBookInfo info{};
            if (ShippedLibraries().GetFileInfo(path, info)) {
                EXPECT_FALSE(BookInfoText(info, biTitle).isEmpty());
            }
            ThumbnailOf(path);
        }
        // Flipped bytes in the middle of the data.
        QByteArray flipped = whole;
        for (qsizetype i = whole.size() / 3; i < whole.size() / 3 + 64 && i < whole.size(); ++i)
            flipped[i] = static_cast<char>(~flipped[i]);
        WriteBytes(path, flipped);
        TBookInfo info{};
        ShippedLibraries().GetFileInfo(path, info);
        ThumbnailOf(path);
    }
    // Not an archive at all.
    WriteBytes(dir.path() + "/text.cbr", QByteArray("just some text, no archive").repeated(40));
    TBookInfo info{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(dir.path() + "/text.cbr", info));

    // A stored RAR cut inside its first picture still names the comic.
    const QByteArray rar = StoredRar(entries);
    WriteBytes(dir.path() + "/cut.cbr", rar.left(rar.size() / 4));
    TBookInfo cut{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(dir.path() + "/cut.cbr", cut));
    EXPECT_EQ(BookInfoText(cut, biTitle), "cut");
}

int Polls = 0;
unsigned char StopOnThirdPoll()
{
    return ++Polls >= 3;
}

TEST(ComicTest, AStopDuringTheWalkEndsTheRead)
{
    QTemporaryDir dir;
    QList<TZipEntry> entries;
    for (int i = 0; i < 20; ++i)
        entries.append({QString("%1.png").arg(i), Picture(8, 8, Qt::red, "PNG")});
    const QString path = dir.path() + "/many.cb7";
    WriteBytes(path, SevenZip(entries));
    QLibrary library(KORVEL_BIN_DIR "/ficomp/libcomic.so");
    auto getFileInfo = reinterpret_cast<TGetFileInfoProc>(library.resolve("GetFileInfo"));
    ASSERT_TRUE(getFileInfo);
    TBookInfo info{};
    Polls = 0;
    EXPECT_FALSE(getFileInfo(path.toUtf8().constData(), &info, StopOnThirdPoll));
    EXPECT_EQ(BookInfoText(info, biTitle), "");
    Polls = -1000;
    EXPECT_TRUE(getFileInfo(path.toUtf8().constData(), &info, StopOnThirdPoll));
    EXPECT_EQ(BookInfoText(info, biPageCount), "20");
}

} // namespace
