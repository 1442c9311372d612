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

// A book with a hand-written package document at `opfPath`, named by the container as
// `containerPath`.
bool WriteRawEpub(const QString& path, const QString& opfPath, const QString& containerPath,
                  const QByteArray& opf)
{
    const QByteArray container =
        "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
        "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
        "full-path=\"" +
        containerPath.toUtf8() +
        "\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
    return WriteZip(path, {{"mimetype", "application/epub+zip", true},
                           {"META-INF/container.xml", container},
                           {opfPath, opf}});
}

QByteArray Opf(const QByteArray& metadata, const char* version = "3.0")
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"") +
           version +
           "\" unique-identifier=\"uid\"><metadata "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
           "xmlns:opf=\"http://www.idpf.org/2007/opf\">" +
           metadata + "</metadata><manifest/><spine/></package>";
}

TEST_F(EpubTest, TitlesCreatorsAndEntitiesAsBooksWriteThem)
{
    const struct
    {
        const char* Name;
        QByteArray Opf;
        const char* Title;
        const char* Author;
        const char* Comment;
    } cases[] = {
        {"the main title, not the subtitle that comes first",
         Opf("<dc:title id=\"t2\">A subtitle</dc:title><dc:title id=\"t1\">The main</dc:title>"
             "<meta refines=\"#t1\" property=\"title-type\">main</meta>"
             "<meta refines=\"#t2\" property=\"title-type\">subtitle</meta>"),
         "The main", "", ""},
        {"without title types the first title",
         Opf("<dc:title>First</dc:title><dc:title>Second</dc:title>"), "First", "", ""},
        {"EPUB 3 roles: authors only, however the roles come",
         Opf("<meta refines=\"#c2\" property=\"role\" scheme=\"marc:relators\">edt</meta>"
             "<dc:title>T</dc:title><dc:creator id=\"c1\">An Author</dc:creator>"
             "<dc:creator id=\"c2\">An Editor</dc:creator>"
             "<dc:creator id=\"c3\">Drawer And Writer</dc:creator>"
             "<dc:creator id=\"c4\">An Illustrator</dc:creator>"
             "<meta refines=\"#c1\" property=\"role\" scheme=\"marc:relators\">aut</meta>"
             "<meta refines=\"#c3\" property=\"role\" scheme=\"marc:relators\">ill</meta>"
             "<meta refines=\"#c3\" property=\"role\" scheme=\"marc:relators\">aut</meta>"
             "<meta refines=\"#c4\" property=\"role\" scheme=\"marc:relators\">ill</meta>"),
         "T", "An Author & Drawer And Writer", ""},
        {"EPUB 2 roles",
         Opf("<dc:title>T</dc:title><dc:creator opf:role=\"edt\">An Editor</dc:creator>"
             "<dc:creator opf:role=\"aut\">An Author</dc:creator>",
             "2.0"),
         "T", "An Author", ""},
        {"no author named: the other creators stand in",
         Opf("<dc:title>T</dc:title><dc:creator opf:role=\"edt\">An Editor</dc:creator>"
             "<dc:creator opf:role=\"ill\">An Illustrator</dc:creator>",
             "2.0"),
         "T", "An Editor & An Illustrator", ""},
        {"undeclared HTML entities and a bare ampersand",
         Opf("<dc:title>Caf&eacute;&nbsp;Society &mdash; Part&nbsp;1<![CDATA[ &amp;]]></dc:title>"
             "<dc:creator>Jane &amp; John &copy;</dc:creator>"
             "<dc:description>Tom & Jerry &madeup; &#x4E2D;</dc:description>"),
         "Caf\u00E9 Society \u2014 Part 1 &amp;", "Jane & John \u00A9",
         "Tom & Jerry &madeup; \u4E2D"},
        {"OEBPS 1 metadata",
         "<?xml version=\"1.0\"?><package unique-identifier=\"id\"><metadata><dc-metadata "
         "xmlns:dc=\"http://purl.org/dc/elements/1.0/\" "
         "xmlns:oebpackage=\"http://openebook.org/namespaces/oeb-package/1.0/\">"
         "<dc:Title>Old Book</dc:Title><dc:Creator role=\"aut\">Old Author</dc:Creator>"
         "<dc:Creator role=\"edt\">Old Editor</dc:Creator>"
         "<dc:Description>From 1999</dc:Description></dc-metadata>"
         "<x-metadata><meta name=\"price\" content=\"1\"/></x-metadata></metadata>"
         "<manifest/><spine/></package>",
         "Old Book", "Old Author", "From 1999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(
            WriteRawEpub(Path("raw.epub"), "OEBPS/content.opf", "OEBPS/content.opf", c.Opf));
        bool ok = false;
        const TBookInfo info = InfoOf(Path("raw.epub"), &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(BookInfoText(info, biTitle), QString::fromUtf8(c.Title));
        EXPECT_EQ(BookInfoText(info, biAuthor), QString::fromUtf8(c.Author));
        EXPECT_EQ(BookInfoText(info, biComment), QString::fromUtf8(c.Comment));
    }
}

TEST_F(EpubTest, ContainerNamingAMissingPackageFallsBackToTheOneThere)
{
    const QByteArray opf = Opf("<dc:title>Found anyway</dc:title>");
    ASSERT_TRUE(WriteRawEpub(Path("moved.epub"), "content/book.opf", "OEBPS/content.opf", opf));
    bool ok = false;
    const TBookInfo info = InfoOf(Path("moved.epub"), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(BookInfoText(info, biTitle), "Found anyway");
    // Nothing to fall back on: no book.
    ASSERT_TRUE(WriteZip(Path("empty.epub"), {{"mimetype", "application/epub+zip", true}}));
    InfoOf(Path("empty.epub"), &ok);
    EXPECT_FALSE(ok);
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
