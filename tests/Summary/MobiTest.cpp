#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace BookMaker;

namespace {

TEST(MobiTest, HeadersExthAndCoverInEveryExtension)
{
    QTemporaryDir dir;
    TMobi book;
    book.Title = QStringLiteral("水浒传");
    book.Author = QStringLiteral("施耐庵");
    book.Publisher = "Press";
    book.Description = "<p>Heroes &amp; outlaws</p>";
    book.Subject = "Fiction";
    book.Date = "2018-07-01T00:00:00+00:00";
    book.Cover = Picture(300, 400, Qt::red);
    const QByteArray bytes = Mobi(book);
    for (const char* ext : {"mobi", "azw", "azw3", "prc"}) {
        SCOPED_TRACE(ext);
        const QString path = dir.path() + "/book." + ext;
        WriteBytes(path, bytes);
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("水浒传"));
        EXPECT_EQ(BookInfoText(info, biAuthor), QStringLiteral("施耐庵"));
        EXPECT_EQ(BookInfoText(info, biPublisher), "Press");
        EXPECT_EQ(BookInfoText(info, biComment), "Heroes & outlaws");
        EXPECT_EQ(BookInfoText(info, biSubject), "Fiction");
        EXPECT_EQ(BookInfoText(info, biCreationDate), "2018-07-01 00:00:00");
        EXPECT_EQ(info.Data[biEncrypted], 0);
        const QImage thumbnail = ThumbnailOf(path);
        ASSERT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), QSize(84, 112));
        EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));
    }
}

TEST(MobiTest, UpdatedTitleCodePage1252AndEncryption)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/book.mobi";
    TMobi book;
    book.Utf8 = false;
    book.Title = QStringLiteral("Old name");
    book.UpdatedTitle = QStringLiteral("Caf\u00E9 stories");
    book.Author = QStringLiteral("Ren\u00E9e Roe");
    book.Encryption = 2;
    WriteBytes(path, Mobi(book));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("Caf\u00E9 stories"));
    EXPECT_EQ(BookInfoText(info, biAuthor), QStringLiteral("Ren\u00E9e Roe"));
    EXPECT_EQ(info.Data[biEncrypted], 1);
    EXPECT_TRUE(ThumbnailOf(path).isNull()); // no cover record
}

} // namespace
