#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace BookMaker;

namespace {

class DocxTest : public ::testing::Test
{
protected:
    QString Path(const QString& name) const { return FDir.path() + "/" + name; }
    QTemporaryDir FDir;
};

using TFields = QList<std::pair<TBookInfoOffset, QString>>;

void ExpectFields(const TBookInfo& info, const TFields& fields)
{
    for (const auto& [offset, text] : fields)
        EXPECT_EQ(BookInfoText(info, offset), text) << "block at " << offset;
}

TEST_F(DocxTest, PropertiesOfTheDocument)
{
    TDocx book;
    book.Title = QStringLiteral("三国演义");
    book.Creator = QStringLiteral("罗贯中; Second Author");
    book.Subject = QStringLiteral("历史小说");
    book.Description = QStringLiteral("第一段\n第二段");
    book.Keywords = "three kingdoms, history";
    book.Category = QStringLiteral("古典");
    book.Created = "2020-05-17T10:20:30Z";
    book.Modified = "2021-01-02T03:04:05Z";
    book.Revision = "7";
    book.Language = "zh-CN";
    book.Identifier = "urn:isbn:9787020008728";
    book.Company = QStringLiteral("人民文学出版社");
    book.Pages = 12;
    book.Words = 3456;
    book.Characters = 7890;
    const QString path = Path("book.docx");
    ASSERT_TRUE(WriteDocx(path, book));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    ExpectFields(info, {{biTitle, QStringLiteral("三国演义")},
                        {biAuthor, QStringLiteral("罗贯中 & Second Author")},
                        {biSubject, QStringLiteral("历史小说")},
                        {biComment, QStringLiteral("第一段\n第二段")},
                        {biKeywords, "three kingdoms, history"},
                        {biCategory, QStringLiteral("古典")},
                        {biPublisher, QStringLiteral("人民文学出版社")},
                        {biCreationDate, "2020-05-17 10:20:30"},
                        {biModificationDate, "2021-01-02 03:04:05"},
                        {biRevision, "7"},
                        {biLanguage, "zh-CN"},
                        {biIdentifier, "urn:isbn:9787020008728"},
                        {biPageCount, "12"},
                        {biWordCount, "3456"},
                        {biCharCount, "7890"}});
    EXPECT_EQ(info.Data[biEncrypted], 0);
}

TEST_F(DocxTest, DamagedDocumentsGiveWhatCanBeRead)
{
    TDocx full;
    full.Title = "Kept";
    full.Subject = "Also kept";
    full.Creator = "Lost Author";
    full.Company = "Company";
    full.Pages = 3;
    auto replace = [](QList<TZipEntry> entries, const QString& name, const QByteArray& bytes) {
        for (TZipEntry& e : entries)
            if (e.Name == name) e.Bytes = bytes;
        return entries;
    };
    auto coreOf = [&](const TDocx& book) {
        for (const TZipEntry& e : DocxEntries(book))
            if (e.Name == "docProps/core.xml") return e.Bytes;
        return QByteArray();
    };
    const QByteArray core = coreOf(full);
    const QByteArray cutCore = core.left(core.indexOf("Lost") + 2);
    const QByteArray junkApp =
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "extended-properties\"><Pages>-3</Pages><Words>many</Words>"
        "<Characters>99999999999999999999999</Characters><Company>Company</Company></Properties>";
    // The package names its properties at a place of its own choosing.
    QList<TZipEntry> moved;
    for (TZipEntry e : DocxEntries(full)) {
        if (e.Name == "_rels/.rels") e.Bytes.replace("docProps/core.xml", "meta/props.xml");
        if (e.Name == "docProps/core.xml") e.Name = "meta/props.xml";
        moved << e;
    }
    TDocx bare;
    bare.Properties = false;
    // Entities that expand a billionfold.
    QByteArray laughs = "<!DOCTYPE cp:coreProperties [<!ENTITY l0 \"lollollollol\">";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                  ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    laughs += "]>";
    QByteArray laughingCore = core;
    laughingCore.replace("<cp:coreProperties", laughs + "<cp:coreProperties");
    laughingCore.replace("Kept", "&l9;");

    const struct
    {
        const char* Name;
        QList<TZipEntry> Entries;
        TFields Fields;
    } cases[] = {
        {"no-props", DocxEntries(bare), {{biTitle, "no-props"}, {biPageCount, ""}}},
        {"cut-core",
         replace(DocxEntries(full), "docProps/core.xml", cutCore),
         {{biTitle, "Kept"}, {biSubject, "Also kept"}, {biAuthor, ""}, {biPageCount, "3"}}},
        {"junk-counts",
         replace(DocxEntries(full), "docProps/app.xml", junkApp),
         {{biTitle, "Kept"},
          {biPageCount, ""},
          {biWordCount, ""},
          {biCharCount, ""},
          {biPublisher, "Company"}}},
        {"moved-core", moved, {{biTitle, "Kept"}, {biAuthor, "Lost Author"}}},
        {"laughs",
         replace(DocxEntries(full), "docProps/core.xml", laughingCore),
         {{biTitle, "laughs"}, {biPageCount, "3"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = Path(QString(c.Name) + ".docx");
        ASSERT_TRUE(WriteZip(path, c.Entries));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        ExpectFields(info, c.Fields);
        EXPECT_TRUE(ThumbnailOf(path).isNull());
    }

    // What is no archive at all gives nothing, and breaks nothing.
    ASSERT_TRUE(WriteDocx(Path("whole.docx"), full));
    QFile whole(Path("whole.docx"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    for (const QByteArray& broken : {bytes.left(bytes.size() / 2), QByteArray("not a zip")}) {
        WriteBytes(Path("broken.docx"), broken);
        TBookInfo info{};
        EXPECT_FALSE(ShippedLibraries().GetFileInfo(Path("broken.docx"), info));
        EXPECT_TRUE(ThumbnailOf(Path("broken.docx")).isNull());
    }
}

TEST_F(DocxTest, PasswordProtectedDocumentIsNamedAndFlagged)
{
    // A compound file whose directory holds the encrypted package's stream.
    QByteArray file("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    file += QByteArray(1000, '\0');
    for (const char c : QByteArray("EncryptionInfoEncryptedPackage"))
        file.append(c).append('\0');
    WriteBytes(Path("secret.docx"), file);
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(Path("secret.docx"), info));
    EXPECT_EQ(BookInfoText(info, biTitle), "secret");
    EXPECT_EQ(info.Data[biEncrypted], 1);

    // The same container without it is some other file.
    WriteBytes(Path("other.docx"), file.left(1008));
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(Path("other.docx"), info));
}

TEST_F(DocxTest, CoverIsTheThumbnailOrElseTheFirstPictureShown)
{
    const QByteArray red = Picture(60, 80, Qt::red, "PNG");
    const QByteArray blue = Picture(60, 80, Qt::blue, "PNG");
    const QByteArray emf("\x01\x00\x00\x00 not a picture Qt reads", 28);
    const struct
    {
        const char* Name;
        QByteArray Thumbnail;
        const char* ThumbnailFormat;
        QList<TZipEntry> Media;
        QStringList Shown;
        bool HasCover;
    } cases[] = {
        // The package thumbnail wins over what the document shows.
        {"thumbnail",
         Picture(60, 80, Qt::red),
         "jpeg",
         {{"image1.png", blue}},
         {"image1.png"},
         true},
        // An EMF thumbnail cannot be decoded: the document's first picture, not the first name.
        {"emf-thumbnail",
         emf,
         "emf",
         {{"image1.png", blue}, {"image2.png", red}},
         {"image2.png", "image1.png"},
         true},
        // A first picture Qt cannot decode gives way to the next one shown.
        {"emf-first",
         {},
         "",
         {{"image1.emf", emf}, {"image3.png", red}},
         {"image1.emf", "image3.png"},
         true},
        // Nothing shown: the media folder in name order, "image2" before "image10".
        {"name-order",
         {},
         "",
         {{"image10.png", blue}, {"image2.png", red}, {"image1.emf", emf}},
         {},
         true},
        {"no-pictures", {}, "", {}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TDocx book;
        book.Thumbnail = c.Thumbnail;
        book.ThumbnailFormat = c.ThumbnailFormat;
        book.Media = c.Media;
        book.Shown = c.Shown;
        const QString path = Path(QString(c.Name) + ".docx");
        ASSERT_TRUE(WriteDocx(path, book));
        const QImage thumbnail = ThumbnailOf(path);
        ASSERT_EQ(thumbnail.isNull(), !c.HasCover);
        if (c.HasCover) {
            EXPECT_EQ(thumbnail.size(), QSize(60, 80));
            EXPECT_TRUE(NearColor(thumbnail.pixel(30, 40), Qt::red));
        }
    }
}

TEST_F(DocxTest, LinkedPicturesAreNeverFollowed)
{
    // A picture linked from outside the package (a web address) is no cover; the stored one is.
    TDocx book;
    book.Media = {{"image1.png", Picture(60, 80, Qt::red, "PNG")}};
    book.Shown = {"image1.png"};
    QList<TZipEntry> entries = DocxEntries(book);
    for (TZipEntry& e : entries) {
        if (e.Name == "word/_rels/document.xml.rels")
            e.Bytes.replace("</Relationships>",
                            "<Relationship Id=\"rIdWeb\" Type=\"http://schemas.openxmlformats.org/"
                            "officeDocument/2006/relationships/image\" "
                            "Target=\"http://example.invalid/cover.png\" "
                            "TargetMode=\"External\"/></Relationships>");
        if (e.Name == "word/document.xml")
            e.Bytes.replace("<w:body>", "<w:body><w:p><w:r><w:drawing><a:blip r:embed=\"rIdWeb\"/>"
                                        "</w:drawing></w:r></w:p>");
    }
    ASSERT_TRUE(WriteZip(Path("linked.docx"), entries));
    const QImage thumbnail = ThumbnailOf(Path("linked.docx"));
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_TRUE(NearColor(thumbnail.pixel(30, 40), Qt::red));
}

} // namespace
