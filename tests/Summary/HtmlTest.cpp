#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

using namespace BookMaker;

namespace {

using TFields = QList<std::pair<TBookInfoOffset, QString>>;

void ExpectFields(const TBookInfo& info, const TFields& fields)
{
    for (const auto& [offset, text] : fields)
        EXPECT_EQ(BookInfoText(info, offset), text) << "block at " << offset;
}

QByteArray Gbk(const QString& text)
{
    QStringEncoder encoder("GB18030");
    return encoder(text);
}

class HtmlTest : public ::testing::Test
{
protected:
    QString Path(const QString& name) const { return FDir.path() + "/" + name; }
    TBookInfo InfoOf(const QString& name, const QByteArray& bytes, bool* ok = nullptr)
    {
        WriteBytes(Path(name), bytes);
        TBookInfo info{};
        const bool read = ShippedLibraries().GetFileInfo(Path(name), info);
        if (ok) *ok = read;
        return info;
    }
    QTemporaryDir FDir;
};

TEST_F(HtmlTest, HeadMetadataDublinCoreFirst)
{
    const QString withDublinCore = QStringLiteral(R"(<!DOCTYPE html>
<html lang="zh-CN"><head>
<meta charset="utf-8">
<!-- <title>Not this</title> -->
<script>var s = "<title>Nor this</title>";</script>
<title>Page title &amp; more</title>
<meta name="author" content="Plain Author">
<meta name="description" content="A page&#39;s description">
<meta name="keywords" content="one, two">
<meta name="generator" content="Editor 1.0">
<meta name="DC.Title" content="真正的书名">
<meta name="dc.creator" content="作者甲">
<meta name="DC.creator" content="作者乙">
<meta name=DC.Publisher content=出版社>
<meta name="DC.subject" content="小说">
<meta name="DC.subject" content="历史">
<meta name="DC.date" content="2019-03-04">
<meta name="DCTERMS.modified" content="2020-01-02T03:04">
<meta name="DC.identifier" content="urn:isbn:123">
</head><body><p>Text</p></body></html>)");
    const QString plain = QStringLiteral(
        "<html><head><TITLE>Page title &amp; more</TITLE>"
        "<meta content='Plain Author' name='author'><meta name=description content=\"Short\">"
        "<meta name=\"DC.language\" content=\"en\"></head><body>"
        "<svg><title>In the body</title></svg></body></html>");
    const struct
    {
        const char* Name;
        QString Page;
        TFields Fields;
    } cases[] = {
        {"dublin-core.html",
         withDublinCore,
         {{biTitle, QStringLiteral("真正的书名")},
          {biAuthor, QStringLiteral("作者甲 & 作者乙")},
          {biPublisher, QStringLiteral("出版社")},
          {biSubject, QStringLiteral("小说; 历史")},
          {biKeywords, "one, two"},
          {biComment, "A page's description"},
          {biCreationDate, "2019-03-04"},
          {biModificationDate, "2020-01-02 03:04"},
          {biLanguage, "zh-CN"},
          {biIdentifier, "urn:isbn:123"}}},
        {"plain.htm",
         plain,
         {{biTitle, "Page title & more"},
          {biAuthor, "Plain Author"},
          {biComment, "Short"},
          {biLanguage, "en"},
          {biPublisher, ""}}},
        {"nothing.xhtml", "<p>Just text</p>", {{biTitle, "nothing"}, {biAuthor, ""}}},
        {"empty.html", "", {{biTitle, "empty"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        bool ok = false;
        const TBookInfo info = InfoOf(c.Name, c.Page.toUtf8(), &ok);
        ASSERT_TRUE(ok);
        ExpectFields(info, c.Fields);
    }
}

TEST_F(HtmlTest, CharsetFromMarkOrDeclarationOrBytes)
{
    const QString title = QStringLiteral("红楼梦");
    auto page = [&](const QByteArray& head, const QByteArray& titleBytes) {
        return "<html><head>" + head + "<title>" + titleBytes + "</title></head></html>";
    };
    QStringEncoder utf16(QStringConverter::Utf16LE);
    // A page longer than what is read (its first MiB), the end of the read cutting a character
    // in two.
    constexpr qsizetype read = 1024 * 1024;
    QByteArray longPage = page("", title.toUtf8()) + "<body><p>";
    if ((read - longPage.size()) % 3 == 0) longPage += ' ';
    while (longPage.size() < read + 1024)
        longPage += QStringLiteral("红").toUtf8();
    // "蠠" is E8 A0 A0 in UTF-8: bytes that, taken one by one, are Latin-1's no-break space.
    const QString spaceLike = QStringLiteral("蠠 … 蠠");
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        QString Title;
    } cases[] = {
        {"a character cut by the end of the read", longPage, title},
        {"utf-8 bytes like no-break spaces", page("", spaceLike.toUtf8()), spaceLike},
        {"meta charset", page("<meta charset=\"gbk\">", Gbk(title)), title},
        {"http-equiv",
         page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">",
              Gbk(title)),
         title},
        {"xml declaration", "<?xml version=\"1.0\" encoding=\"GBK\"?>\n" + page("", Gbk(title)),
         title},
        {"mark beats declaration", "\xEF\xBB\xBF" + page("<meta charset=\"gbk\">", title.toUtf8()),
         title},
        {"utf-16 with mark",
         QByteArray("\xFF\xFE", 2) + QByteArray(utf16(QString::fromUtf8(page("", title.toUtf8())))),
         title},
        {"undeclared gbk", page("", Gbk(title)), title},
        {"undeclared utf-8", page("", title.toUtf8()), title},
        {"declared utf-8 wrongly", page("<meta charset=\"utf-8\">", Gbk(title)), title},
        {"latin-1 read as windows-1252",
         page("<meta charset=\"iso-8859-1\">", "Caf\xE9 \x93quoted\x94"),
         QStringLiteral("Café “quoted”")},
        {"unknown charset", page("<meta charset=\"x-nonsense\">", title.toUtf8()), title},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        bool ok = false;
        const TBookInfo info = InfoOf("page.html", c.Bytes, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(BookInfoText(info, biTitle), c.Title);
    }
}

TEST_F(HtmlTest, BrokenMarkupGivesWhatCanBeRead)
{
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        TFields Fields;
    } cases[] = {
        {"title without end", "<html><head><title>Lost   end", {{biTitle, "Lost end"}}},
        {"quote that never closes",
         "<title>Kept</title><meta name=\"author\" content=\"Never closed><meta name=x>",
         {{biTitle, "Kept"}, {biAuthor, "Never closed><meta name=x>"}}},
        {"comment that never closes", "<!-- <title>Hidden</title>", {{biTitle, "page"}}},
        {"stray brackets", "<<<>>< title><a <b =c ><title>T</title>", {{biTitle, "T"}}},
        // Only the top of a page is read: a title after the first MiB is not looked for.
        {"metadata too far down",
         QByteArray(1100 * 1024, ' ') + "<title>Late</title>",
         {{biTitle, "page"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        bool ok = false;
        const TBookInfo info = InfoOf("page.html", c.Bytes, &ok);
        ASSERT_TRUE(ok);
        ExpectFields(info, c.Fields);
    }
    TBookInfo info{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(Path("missing.html"), info));
}

TEST_F(HtmlTest, CoverIsTheFirstLocalPicture)
{
    // The book sits in a folder of its own; a blue picture waits outside it and at an absolute
    // path, red ones inside. Only a red one may become the cover.
    ASSERT_TRUE(QDir().mkpath(Path("book/images")));
    const QByteArray blue = Picture(60, 80, Qt::blue, "PNG");
    const QByteArray red = Picture(60, 80, Qt::red, "PNG");
    WriteBytes(Path("outside.png"), blue);
    WriteBytes(Path("book/images/cover art.png"), red);
    WriteBytes(Path("book/images/missing-not.png"), blue);
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("book/pipe.png")).constData(), 0600), 0);
    const QString refused = "<img src=\"http://example.invalid/a.png\">"
                            "<img src=\"data:image/png;base64,AAAA\">"
                            "<img src=\"" +
                            Path("outside.png") +
                            "\">"
                            "<img src=\"../outside.png\">"
                            "<img src=\"images/../../outside.png\">"
                            "<img src=\"pipe.png\">"
                            "<img src=\"missing.png\">";
    // A name in GB18030 bytes on disk, as an archive made on Chinese Windows leaves it.
    const QByteArray gbkName = Gbk(QStringLiteral("封面.png"));
    const QByteArray gbkPath = QFile::encodeName(Path("book/")) + gbkName;
    FILE* f = std::fopen(gbkPath.constData(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(red.constData(), 1, static_cast<size_t>(red.size()), f);
    std::fclose(f);
    // Qt's own removal cannot name it: it goes by its bytes.
    const auto removeGbkFile = qScopeGuard([&] { ::unlink(gbkPath.constData()); });

    const struct
    {
        const char* Name;
        QByteArray Page;
        bool HasCover;
    } cases[] = {
        {"relative with backslash and escapes",
         ("<html><body>" + refused + "<img src=\"images\\cover%20art.png?x=1#top\"></body></html>")
             .toUtf8(),
         true},
        {"name in the page's own encoding",
         "<meta charset=\"gbk\"><body><img alt=x src=" + gbkName + "></body>", true},
        {"percent-encoded gbk name",
         "<body><img src=\"" + gbkName.toPercentEncoding() + "\"></body>", true},
        {"nothing local", ("<body>" + refused + "</body>").toUtf8(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteBytes(Path("book/page.html"), c.Page);
        const QImage thumbnail = ThumbnailOf(Path("book/page.html"));
        ASSERT_EQ(thumbnail.isNull(), !c.HasCover);
        if (c.HasCover) {
            EXPECT_TRUE(NearColor(thumbnail.pixel(30, 40), Qt::red));
        }
    }
}

TEST_F(HtmlTest, ZippedPageReadsPackageThenPage)
{
    THtmlz book;
    book.Title = QStringLiteral("围城");
    book.Authors = {QStringLiteral("钱锺书")};
    book.Subjects = {QStringLiteral("小说")};
    book.Publisher = QStringLiteral("人民文学出版社");
    book.Description = "<p>First &amp; second</p><p>Third</p>";
    book.Date = "0101-01-01T00:00:00+00:00"; // the mark of "no date"
    book.Identifier = "urn:uuid:1234";
    book.Cover = Picture(60, 80, Qt::red);
    // The page knows what the package leaves out (keywords, language), and a title of its own
    // that the package's overrides.
    book.Page = "<html lang=\"zh\"><head><title>index</title>"
                "<meta name=\"keywords\" content=\"classic\">"
                "<meta name=\"DC.date.modified\" content=\"2022-02-02\"></head>"
                "<body><img src=\"images/decoy.png\"></body></html>";
    QList<TZipEntry> entries = HtmlzEntries(book);
    entries.append({"images/decoy.png", Picture(10, 10, Qt::blue, "PNG")});
    const QString path = Path("book.htmlz");
    ASSERT_TRUE(WriteZip(path, entries));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    ExpectFields(info, {{biTitle, QStringLiteral("围城")},
                        {biAuthor, QStringLiteral("钱锺书")},
                        {biSubject, QStringLiteral("小说")},
                        {biPublisher, QStringLiteral("人民文学出版社")},
                        {biComment, "First & second\nThird"},
                        {biCreationDate, ""},
                        {biModificationDate, "2022-02-02"},
                        {biIdentifier, "urn:uuid:1234"},
                        {biKeywords, "classic"},
                        {biLanguage, "zh"}});
    const QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_TRUE(NearColor(thumbnail.pixel(30, 40), Qt::red));
}

TEST_F(HtmlTest, ZippedPageCoverEveryWayItIsNamed)
{
    const QByteArray red = Picture(60, 80, Qt::red, "PNG");
    const QByteArray blue = Picture(60, 80, Qt::blue, "PNG");
    auto opf = [](const QString& inside) {
        return ("<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" "
                "version=\"2.0\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                "<dc:title>T</dc:title>" +
                inside + "</package>")
            .toUtf8();
    };
    const QByteArray page = "<html><body><img src=\"images/first.png\"></body></html>";
    const struct
    {
        const char* Name;
        QList<TZipEntry> Entries;
        bool HasCover;
    } cases[] = {
        {"guide page",
         {{"index.html", page},
          {"metadata.opf",
           opf("</metadata><guide><reference type=\"cover\" href=\"titlepage.xhtml\"/></guide>")},
          {"titlepage.xhtml", "<html><body><img src=\"pics/c.png\"/></body></html>"},
          {"pics/c.png", red},
          {"images/first.png", blue}},
         true},
        {"cover-image property",
         {{"index.html", page},
          {"metadata.opf", opf("</metadata><manifest><item id=\"x\" href=\"art/c.png\" "
                               "properties=\"cover-image\"/></manifest>")},
          {"art/c.png", red},
          {"images/first.png", blue}},
         true},
        {"named cover missing, a cover file there",
         {{"index.html", page},
          {"metadata.opf", opf("<meta name=\"cover\" content=\"gone.jpg\"/></metadata>")},
          {"images/first.png", blue},
          {"Cover.PNG", red}},
         true},
        {"no package: the page's first picture",
         {{"index.html", page}, {"images/first.png", red}},
         true},
        {"no picture anywhere", {{"index.html", "<p>x</p>"}, {"metadata.opf", opf("")}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = Path("cover.htmlz");
        ASSERT_TRUE(WriteZip(path, c.Entries));
        const QImage thumbnail = ThumbnailOf(path);
        ASSERT_EQ(thumbnail.isNull(), !c.HasCover);
        if (c.HasCover) {
            EXPECT_TRUE(NearColor(thumbnail.pixel(30, 40), Qt::red));
        }
    }
}

TEST_F(HtmlTest, DamagedZippedPages)
{
    THtmlz book;
    book.Title = "Kept";
    book.Authors = {"Lost"};
    QList<TZipEntry> cut = HtmlzEntries(book);
    for (TZipEntry& e : cut)
        if (e.Name == "metadata.opf") e.Bytes = e.Bytes.left(e.Bytes.indexOf("Lost") + 2);
    const struct
    {
        const char* Name;
        QList<TZipEntry> Entries;
        TFields Fields;
    } cases[] = {
        {"cut package", cut, {{biTitle, "Kept"}, {biAuthor, ""}}},
        {"no package",
         {{"index.html", "<title>From the page</title>"}},
         {{biTitle, "From the page"}}},
        {"nothing inside", {{"readme.txt", "x"}}, {{biTitle, "book"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(WriteZip(Path("book.htmlz"), c.Entries));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(Path("book.htmlz"), info));
        ExpectFields(info, c.Fields);
    }
    // A zipped page that is a plain page after all is read as one.
    bool ok = false;
    EXPECT_EQ(BookInfoText(InfoOf("plain.htmlz", "<title>Plain</title>", &ok), biTitle), "Plain");
    EXPECT_TRUE(ok);
    // Half an archive is none.
    ASSERT_TRUE(WriteZip(Path("whole.htmlz"), HtmlzEntries(book)));
    QFile whole(Path("whole.htmlz"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    WriteBytes(Path("half.htmlz"), whole.readAll().left(200));
    TBookInfo info{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(Path("half.htmlz"), info));
    EXPECT_TRUE(ThumbnailOf(Path("half.htmlz")).isNull());
}

} // namespace
