#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace BookMaker;

namespace {

TBookInfo InfoOf(const QString& path, bool* ok = nullptr)
{
    TBookInfo info{};
    const bool read = ShippedLibraries().GetFileInfo(path, info);
    if (ok) *ok = read;
    return info;
}

class EpubTest : public ::testing::Test
{
protected:
    QString Path(const QString& name) const { return FDir.path() + "/" + name; }
    QTemporaryDir FDir;
};

TEST_F(EpubTest, MetadataOfEpub2AndEpub3)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        TEpub book;
        book.Version = version;
        book.Title = QStringLiteral("三国演义");
        book.Creators = {{QStringLiteral("罗贯中"), "aut"},
                         {"Second Author", ""},
                         {QStringLiteral("译者"), "trl"}};
        book.Subjects = {QStringLiteral("小说"), QStringLiteral("历史")};
        book.Publisher = QStringLiteral("人民文学出版社");
        book.Description = QStringLiteral("<p>第一段 &amp; more</p><p>第二段</p>");
        book.Date = "2020-05-17";
        book.Modified = "2021-01-02T03:04:05Z";
        book.Identifier = "urn:isbn:9787020008728";
        book.Language = "zh-CN";
        const QString path = Path(QStringLiteral("book%1.epub").arg(version));
        ASSERT_TRUE(WriteEpub(path, book));
        bool ok = false;
        const TBookInfo info = InfoOf(path, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("三国演义"));
        EXPECT_EQ(BookInfoText(info, biAuthor), QStringLiteral("罗贯中 & Second Author"));
        EXPECT_EQ(BookInfoText(info, biSubject), QStringLiteral("小说; 历史"));
        EXPECT_EQ(BookInfoText(info, biPublisher), QStringLiteral("人民文学出版社"));
        EXPECT_EQ(BookInfoText(info, biComment), QStringLiteral("第一段 & more\n第二段"));
        EXPECT_EQ(BookInfoText(info, biCreationDate), "2020-05-17");
        EXPECT_EQ(BookInfoText(info, biModificationDate), "2021-01-02 03:04:05");
        EXPECT_EQ(BookInfoText(info, biIdentifier), "urn:isbn:9787020008728");
        EXPECT_EQ(BookInfoText(info, biLanguage), "zh-CN");
        EXPECT_EQ(info.Data[biEncrypted], 0);
    }
}

TEST_F(EpubTest, CoverIsFoundEveryWayBooksNameIt)
{
    // The cover is red; a blue picture comes first in the manifest as a decoy.
    const struct
    {
        TCoverStyle Style;
        int Version;
        const char* Name;
    } cases[] = {
        {TCoverStyle::Properties, 3, "cover-image property"},
        {TCoverStyle::MetaCover, 2, "meta cover"},
        {TCoverStyle::GuidePage, 2, "guide cover page"},
        {TCoverStyle::FirstPage, 2, "first page picture"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TEpub book;
        book.Version = c.Version;
        book.Cover = c.Style;
        book.CoverBytes = Picture(600, 800, Qt::red);
        ASSERT_TRUE(WriteEpub(Path("cover.epub"), book));
        const QImage thumbnail = ThumbnailOf(Path("cover.epub"));
        ASSERT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), QSize(84, 112));
        EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));
    }
    TEpub plain;
    ASSERT_TRUE(WriteEpub(Path("plain.epub"), plain));
    EXPECT_TRUE(ThumbnailOf(Path("plain.epub")).isNull());
}

TEST_F(EpubTest, EncryptionBeyondFontObfuscationMarksTheBook)
{
    auto encryption = [](const char* algorithm) {
        return QByteArray("<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
                          "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData>"
                          "<enc:EncryptionMethod Algorithm=\"") +
               algorithm + "\"/></enc:EncryptedData></encryption>";
    };
    const std::pair<QByteArray, int> cases[] = {
        {{}, 0},
        {encryption("http://www.idpf.org/2008/embedding"), 0},
        {encryption("http://www.w3.org/2001/04/xmlenc#aes128-cbc"), 1},
    };
    for (const auto& [xml, flag] : cases) {
        TEpub book;
        book.EncryptionXml = xml;
        ASSERT_TRUE(WriteEpub(Path("locked.epub"), book));
        bool ok = false;
        EXPECT_EQ(InfoOf(Path("locked.epub"), &ok).Data[biEncrypted], flag) << xml.constData();
        EXPECT_TRUE(ok);
    }
}

TEST_F(EpubTest, LongTitleIsCutWholeCharacters)
{
    TEpub book;
    book.Title = QString(300, QChar(0x4E66));
    book.OpfFolder.clear(); // the package document at the root
    ASSERT_TRUE(WriteEpub(Path("long.epub"), book));
    const TBookInfo info = InfoOf(Path("long.epub"));
    EXPECT_EQ(info.Data[biTitle], 254);
    EXPECT_EQ(BookInfoText(info, biTitle), QString(127, QChar(0x4E66)));
}

} // namespace
