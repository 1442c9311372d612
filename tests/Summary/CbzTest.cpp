#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace BookMaker;

namespace {

TEST(CbzTest, FirstPictureInNameOrderIsTheCover)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/comic.cbz";
    // Archive order and plain string order both put a blue page first; "page2" comes before
    // "page10" for a reader.
    ASSERT_TRUE(
        WriteZip(path, {{"page10.jpg", Picture(60, 80, Qt::blue)},
                        {"notes.txt", "x"},
                        {"page2.jpg", Picture(300, 400, Qt::red)},
                        {"page3.png", Picture(60, 80, Qt::blue, "PNG")},
                        {"ComicInfo.xml", "<?xml version=\"1.0\"?><ComicInfo>"
                                          "<Title>Night Watch</Title><Writer>A, B</Writer>"
                                          "<Year>2001</Year><Month>2</Month></ComicInfo>"}}));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biTitle), "Night Watch");
    EXPECT_EQ(BookInfoText(info, biAuthor), "A & B");
    EXPECT_EQ(BookInfoText(info, biPageCount), "3");
    EXPECT_EQ(BookInfoText(info, biCreationDate), "2001-02");
    const QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(thumbnail.size(), QSize(84, 112));
    EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));

    // Without pictures or comic information: the file name and no cover.
    ASSERT_TRUE(WriteZip(dir.path() + "/empty.cbz", {{"readme.txt", "x"}}));
    TBookInfo empty{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(dir.path() + "/empty.cbz", empty));
    EXPECT_EQ(BookInfoText(empty, biTitle), "empty");
    EXPECT_EQ(BookInfoText(empty, biPageCount), "0");
    EXPECT_TRUE(ThumbnailOf(dir.path() + "/empty.cbz").isNull());
}

TEST(ShippedMap, NamesEveryFormatAndTheRest)
{
    EXPECT_TRUE(ShippedLibraries().HasSummary());
    EXPECT_EQ(ShippedLibraries().PluginCount(), 14);
    EXPECT_EQ(ShippedLibraries().SupportedFilter(),
              "*.azw;*.azw3;*.bmp;*.cb7;*.cbr;*.cbt;*.cbz;*.chm;*.djv;*.djvu;*.docx;*.epub;"
              "*.fb2;*.gif;*.htm;*.html;*.htmlz;*.jpeg;*.jpg;*.mobi;*.pdf;*.png;*.prc;*.rtf;"
              "*.txt;*.umd;*.xhtml;*.zip");
}

} // namespace
