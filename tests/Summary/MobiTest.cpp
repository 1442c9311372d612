#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtEndian>

#include <cstring>

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

// A PalmDoc book: the PalmDB header named `name` of type TEXtREAd, record 0 with the reader's
// saved position at offset 12, and one text record.
QByteArray PalmDoc(const QByteArray& name, quint32 position)
{
    QByteArray zero(16, 0);
    qToBigEndian<quint16>(1, zero.data());     // no compression
    qToBigEndian<quint32>(5, zero.data() + 4); // text length
    qToBigEndian<quint16>(1, zero.data() + 8); // text records
    qToBigEndian<quint16>(4096, zero.data() + 10);
    qToBigEndian<quint32>(position, zero.data() + 12);
    QByteArray file(78 + 2 * 8 + 2, 0);
    std::memcpy(file.data(), name.constData(), static_cast<size_t>(qMin(name.size(), 31)));
    std::memcpy(file.data() + 60, "TEXtREAd", 8);
    qToBigEndian<quint16>(2, file.data() + 76);
    qToBigEndian<quint32>(quint32(file.size()), file.data() + 78);
    qToBigEndian<quint32>(quint32(file.size() + zero.size()), file.data() + 86);
    return file + zero + "Hello";
}

TEST(MobiTest, EncryptedOnlyWhereTheHeaderSaysSo)
{
    QTemporaryDir dir;
    TMobi locked;
    locked.Encryption = 1;
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        const char* Title;
        int Flag;
    } cases[] = {
        {"PalmDoc with a saved reading position", PalmDoc("Palm Book", 0x00020003), "Palm Book", 0},
        {"PalmDoc at the start", PalmDoc("Palm Book", 0), "Palm Book", 0},
        {"MOBI header with encryption", Mobi(locked), "Book", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = dir.path() + "/book.prc";
        WriteBytes(path, c.Bytes);
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), c.Title);
        EXPECT_EQ(info.Data[biEncrypted], c.Flag);
        EXPECT_TRUE(ThumbnailOf(path).isNull());
    }
    // Record 0 cut short: no book, no crash.
    WriteBytes(dir.path() + "/short.prc", PalmDoc("Short", 7).left(78 + 16 + 10));
    TBookInfo info{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(dir.path() + "/short.prc", info));
}

} // namespace
