#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtEndian>

using namespace BookMaker;

namespace {

TUmd FullBook()
{
    TUmd book;
    book.Title = QStringLiteral("三国演义");
    book.Author = QStringLiteral("罗贯中");
    book.Year = "2010";
    book.Month = "8";
    book.Day = "22";
    book.Type = QStringLiteral("历史小说");
    book.Publisher = QStringLiteral("人民文学出版社");
    book.Vendor = QStringLiteral("书店");
    // More text than one block holds, so that the cover comes after several data chunks.
    book.Text = QStringLiteral("滚滚长江东逝水，浪花淘尽英雄。\n").repeated(4000);
    book.Cover = Picture(300, 400, Qt::red);
    return book;
}

TEST(UmdTest, AttributesAndCover)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/sanguo.umd";
    WriteBytes(path, Umd(FullBook()));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("三国演义"));
    EXPECT_EQ(BookInfoText(info, biAuthor), QStringLiteral("罗贯中"));
    EXPECT_EQ(BookInfoText(info, biPublisher), QStringLiteral("人民文学出版社"));
    EXPECT_EQ(BookInfoText(info, biCategory), QStringLiteral("历史小说"));
    EXPECT_EQ(BookInfoText(info, biCreationDate), "2010-08-22");
    const QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(thumbnail.size(), QSize(84, 112));
    EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));
}

TEST(UmdTest, MissingPartsAndDates)
{
    QTemporaryDir dir;
    const struct
    {
        const char* Name;
        QString Year, Month, Day, Date;
    } dates[] = {{"no date", "", "", "", ""},
                 {"year only", "1999", "", "", "1999"},
                 {"bad month", "1999", "13", "2", "1999"},
                 {"bad day", "1999", "2", "x", "1999-02"},
                 {"not a year", "MMX", "1", "1", ""}};
    for (const auto& d : dates) {
        SCOPED_TRACE(d.Name);
        TUmd book;
        book.Title.clear();
        book.Year = d.Year;
        book.Month = d.Month;
        book.Day = d.Day;
        const QString path = dir.path() + QStringLiteral("/无题.umd");
        WriteBytes(path, Umd(book));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("无题"));
        EXPECT_EQ(BookInfoText(info, biAuthor), "");
        EXPECT_EQ(BookInfoText(info, biCreationDate), d.Date);
        EXPECT_TRUE(ThumbnailOf(path).isNull());
    }
}

TEST(UmdTest, LyingLengthsAndCutFilesNeverCrash)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/book.umd";
    TUmd small = FullBook();
    small.Text = "Short.";
    const QByteArray bytes = Umd(small);
    const qsizetype coverChunk = bytes.indexOf(QByteArray("#\x82\x00", 3));
    const qsizetype coverData = bytes.indexOf('$', coverChunk);
    ASSERT_GT(coverChunk, 0);
    ASSERT_GT(coverData, coverChunk);
    auto patched = [&](qsizetype at, const QByteArray& with) {
        QByteArray b = bytes;
        b.replace(at, with.size(), with);
        return b;
    };
    QByteArray huge(4, '\xFF'), tiny(4, 0), plusOne(4, 0);
    qToLittleEndian<quint32>(quint32(bytes.size() - coverData + 1), plusOne.data());
    qToLittleEndian<quint32>(3, tiny.data());
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        QString Title;
    } cases[] = {
        // The title attribute starts at 12 (after the magic and the header chunk); its length
        // byte is at 16 and its four characters end at 25.
        {"title length below its header", patched(16, QByteArray(1, '\x02')), "book"},
        {"garbage after the title", patched(25, "garbage!"), QStringLiteral("三国演义")},
        {"cover longer than the file", patched(coverData + 5, plusOne), QStringLiteral("三国演义")},
        {"cover length of 4 GiB", patched(coverData + 5, huge), QStringLiteral("三国演义")},
        {"cover length below its header", patched(coverData + 5, tiny), QStringLiteral("三国演义")},
        {"no data after the cover attribute", bytes.left(coverData), QStringLiteral("三国演义")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteBytes(path, c.Bytes);
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), c.Title);
        EXPECT_TRUE(ThumbnailOf(path).isNull());
    }

    // Every cut of the file: no information without the whole magic, and never a crash.
    for (qsizetype size = 0; size < bytes.size(); size += size < 200 ? 1 : 97) {
        SCOPED_TRACE(size);
        WriteBytes(path, bytes.left(size));
        TBookInfo info{};
        EXPECT_EQ(ShippedLibraries().GetFileInfo(path, info), size >= 4);
        ThumbnailOf(path);
    }
    WriteBytes(path, "\x89\x9B\x9A\xDF" + bytes.mid(4));
    TBookInfo info{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(path, info));
}

} // namespace
