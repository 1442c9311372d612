#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>

namespace {

QByteArray Fixture()
{
    QFile f(QStringLiteral(KORVEL_FIXTURES "/two-pages.djvu"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(DjvuTest, MetadataPagesAndAThumbnailOfTheFirstPage)
{
    QTemporaryDir dir;
    // A name in Chinese: the library opens it by its bytes.
    const QString path = dir.path() + QString::fromUtf8("/西飞.djvu");
    WriteBytes(path, Fixture());
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biTitle), QString::fromUtf8("夜航西飞"));
    EXPECT_EQ(BookInfoText(info, biAuthor), "Beryl Markham & Ann Other");
    EXPECT_EQ(BookInfoText(info, biPublisher), "North Point");
    EXPECT_EQ(BookInfoText(info, biSubject), "Memoir");
    EXPECT_EQ(BookInfoText(info, biKeywords), "flight, Africa");
    EXPECT_EQ(BookInfoText(info, biComment), "First line.\nSecond line.");
    EXPECT_EQ(BookInfoText(info, biCreationDate), "1942-06");
    EXPECT_EQ(BookInfoText(info, biPageCount), "2");

    // 120 x 160 fits 84 x 112; red above, blue below (rows are not upside down).
    const QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(thumbnail.size(), QSize(84, 112));
    EXPECT_TRUE(NearColor(thumbnail.pixel(42, 20), QColor(220, 30, 30), 40));
    EXPECT_TRUE(NearColor(thumbnail.pixel(42, 92), QColor(30, 30, 220), 40));
    // A smaller box gives a smaller picture, rendered at that size.
    EXPECT_EQ(ThumbnailOf(path, 30, 30).size(), QSize(22, 30));
}

TEST(DjvuTest, DamagedFilesGiveWhatCanBeReadAndNeverHang)
{
    QTemporaryDir dir;
    const QByteArray whole = Fixture();
    ASSERT_GT(whole.size(), 500);
    const QString path = dir.path() + "/broken.djvu";

    // The last page's data is missing: the first page and the metadata are still there.
    WriteBytes(path, whole.left(whole.size() - 100));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biPageCount), "2");
    EXPECT_EQ(BookInfoText(info, biPublisher), "North Point");
    EXPECT_FALSE(ThumbnailOf(path).isNull());

    for (const qsizetype size : {qsizetype(0), qsizetype(4), qsizetype(16), qsizetype(64),
                                 whole.size() / 2, whole.size() * 2 / 3}) {
        WriteBytes(path, whole.left(size));
        TBookInfo cut{};
        if (ShippedLibraries().GetFileInfo(path, cut)) {
            EXPECT_FALSE(BookInfoText(cut, biTitle).isEmpty());
        }
        ThumbnailOf(path);
    }
    QByteArray flipped = whole;
    for (qsizetype i = 200; i < 260; ++i)
        flipped[i] = static_cast<char>(flipped[i] ^ 0x5a);
    WriteBytes(path, flipped);
    TBookInfo damaged{};
    ShippedLibraries().GetFileInfo(path, damaged);
    ThumbnailOf(path);

    WriteBytes(dir.path() + "/text.djvu", "AT&TFORM but not really a DjVu file");
    TBookInfo text{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(dir.path() + "/text.djvu", text));
    EXPECT_TRUE(ThumbnailOf(dir.path() + "/text.djvu").isNull());
}

unsigned char StopAlways()
{
    return 1;
}

int Polls = 0;
unsigned char StopAfterSomePolls()
{
    return ++Polls > 2;
}

TEST(DjvuTest, AStopEndsTheWait)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/book.djvu";
    WriteBytes(path, Fixture());
    QLibrary library(KORVEL_BIN_DIR "/ficomp/libdjvu.so");
    auto getFileInfo = reinterpret_cast<TGetFileInfoProc>(library.resolve("GetFileInfo"));
    auto getThumbnail = reinterpret_cast<TGetThumbnailProc>(library.resolve("GetThumbnail"));
    ASSERT_TRUE(getFileInfo && getThumbnail);
    TBookInfo info{};
    EXPECT_FALSE(getFileInfo(path.toUtf8().constData(), &info, StopAlways));
    // Stopped somewhere inside the decoding: no record, no pixels, and nothing left behind.
    for (int i = 0; i < 3; ++i) {
        Polls = 0;
        TThumbnailInfo thumbnail{90, 112, nullptr};
        if (getThumbnail(path.toUtf8().constData(), &thumbnail, StopAfterSomePolls))
            std::free(thumbnail.Pixels);
        Polls = 0;
        getFileInfo(path.toUtf8().constData(), &info, StopAfterSomePolls);
    }
}

} // namespace
