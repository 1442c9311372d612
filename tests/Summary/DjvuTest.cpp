#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>

#include <unistd.h>

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

// Bytes this process has read so far, by any means.
qint64 BytesRead()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:")) return line.mid(6).trimmed().toLongLong();
    return -1;
}

// A bundled book on a reader is not read whole for its page count and first page: only up to
// the end of that page (here the two pages are followed by 64 MB the book does not use).
TEST(DjvuTest, ABundledBookIsReadOnlyAsFarAsItsFirstPage)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/long.djvu";
    WriteBytes(path, Fixture());
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 64 << 20), 0); // sparse
    const qint64 before = BytesRead();
    ASSERT_GE(before, 0);
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biPageCount), "2");
    EXPECT_EQ(BookInfoText(info, biPublisher), "North Point");
    EXPECT_FALSE(ThumbnailOf(path).isNull());
    EXPECT_LT(BytesRead() - before, 64 << 10);
}

// A book cut short while it is read or just after (another program rewrites it, the reader
// leaves): a mapping of the file would take the whole program down on the next access, and the
// decoder's threads may outlive a call that stopped early. The book is never mapped, while it
// is read as well as after.
QString CutPath;
int StopAtPoll = 0;
int CutPolls = 0;
bool SawMapping = false;
bool BookIsMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(QFile::encodeName(CutPath));
}
unsigned char CutTheBookAndStop()
{
    SawMapping = SawMapping || BookIsMapped();
    if (++CutPolls == StopAtPoll) {
        ::truncate(QFile::encodeName(CutPath).constData(), 0);
        return 1;
    }
    return 0;
}

TEST(DjvuTest, ABookCutShortWhileItIsReadIsNeverMapped)
{
    QTemporaryDir dir;
    CutPath = dir.path() + "/book.djvu";
    QLibrary library(KORVEL_BIN_DIR "/ficomp/libdjvu.so");
    auto getFileInfo = reinterpret_cast<TGetFileInfoProc>(library.resolve("GetFileInfo"));
    auto getThumbnail = reinterpret_cast<TGetThumbnailProc>(library.resolve("GetThumbnail"));
    ASSERT_TRUE(getFileInfo && getThumbnail);
    const QByteArray name = QFile::encodeName(CutPath);
    SawMapping = false;
    for (int round = 0; round < 12; ++round) {
        // The first rounds read to the end, the others are cut and stopped along the way.
        StopAtPoll = round < 2 ? 1000 : round;
        WriteBytes(CutPath, Fixture());
        CutPolls = 0;
        TThumbnailInfo thumbnail{90, 112, nullptr};
        const bool made = getThumbnail(name.constData(), &thumbnail, CutTheBookAndStop);
        if (made) std::free(thumbnail.Pixels);
        if (round < 2) EXPECT_TRUE(made);
        WriteBytes(CutPath, Fixture());
        CutPolls = 0;
        TBookInfo info{};
        getFileInfo(name.constData(), &info, CutTheBookAndStop);
        ::truncate(name.constData(), 0);
    }
    EXPECT_FALSE(SawMapping);
    EXPECT_FALSE(BookIsMapped());
}

} // namespace
