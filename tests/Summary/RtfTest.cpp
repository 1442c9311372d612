#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace BookMaker;

namespace {

struct TRead
{
    bool Ok = false;
    TBookInfo Info{};
};

TRead ReadRtf(const QTemporaryDir& dir, const QByteArray& bytes, const char* name = "book")
{
    const QString path = dir.path() + "/" + name + ".rtf";
    WriteBytes(path, bytes);
    TRead read;
    read.Ok = ShippedLibraries().GetFileInfo(path, read.Info);
    return read;
}

// A document whose information group holds `title` written as given.
QByteArray WithTitle(const QByteArray& header, const QByteArray& title)
{
    return "{\\rtf1\\ansi" + header + "{\\fonttbl{\\f0 Arial;}}{\\info{\\title " + title +
           "}}\\pard Body\\par}";
}

TEST(RtfTest, InformationGroupInCodePageBytesAndUnicodeEscapes)
{
    QTemporaryDir dir;
    for (const bool unicodeEscapes : {false, true}) {
        SCOPED_TRACE(unicodeEscapes);
        TRtf book;
        book.CodePage = 936;
        book.UnicodeEscapes = unicodeEscapes;
        book.Title = QStringLiteral("红楼梦 {第一回}");
        book.Subject = QStringLiteral("古典小说");
        book.Author = QStringLiteral("曹雪芹");
        book.Operator = "Typist";
        book.Keywords = QStringLiteral("红学, novel");
        book.Comment = QStringLiteral("第一行\n第二行 \\ end");
        book.Category = "Fiction";
        book.Company = QStringLiteral("人民文学出版社");
        book.Created = QDateTime(QDate(1982, 3, 7), QTime(9, 5));
        book.Revised = QDateTime(QDate(2021, 11, 30), QTime(23, 59));
        book.Pages = 1606;
        book.Words = 731017;
        book.Chars = 1070000;
        book.Version = 12;
        book.Cover = Picture(300, 400, Qt::red);
        const QString path = dir.path() + "/hongloumeng.rtf";
        WriteBytes(path, Rtf(book));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        const std::pair<TBookInfoOffset, QString> expected[] = {
            {biTitle, QStringLiteral("红楼梦 {第一回}")},
            {biSubject, QStringLiteral("古典小说")},
            {biAuthor, QStringLiteral("曹雪芹")}, // never the operator
            {biKeywords, QStringLiteral("红学, novel")},
            {biComment, QStringLiteral("第一行\n第二行 \\ end")},
            {biCategory, "Fiction"},
            {biPublisher, QStringLiteral("人民文学出版社")},
            {biCreationDate, "1982-03-07 09:05"},
            {biModificationDate, "2021-11-30 23:59"},
            {biPageCount, "1606"},
            {biWordCount, "731017"},
            {biCharCount, "1070000"},
            {biRevision, "12"}};
        for (const auto& [offset, text] : expected)
            EXPECT_EQ(BookInfoText(info, offset), text) << offset;
        const QImage thumbnail = ThumbnailOf(path);
        ASSERT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), QSize(84, 112));
        EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));
    }
}

TEST(RtfTest, TextDecoding)
{
    QTemporaryDir dir;
    const struct
    {
        const char* Name;
        QByteArray Header, Title;
        QString Expected;
    } cases[] = {
        {"GBK bytes", "\\ansicpg936", "\\'c4\\'e3\\'ba\\'c3", QStringLiteral("你好")},
        // Big5 trail bytes may be ASCII letters: one character from a \'xx and a plain byte.
        {"Big5 trail letter", "\\ansicpg950", "\\'a7A\\'a6n", QStringLiteral("你好")},
        {"Cyrillic", "\\ansicpg1251", "\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2", QStringLiteral("Привет")},
        {"Western", "\\ansicpg1252", "Caf\\'e9", QStringLiteral("Café")},
        {"unknown page", "\\ansicpg12345", "Caf\\'e9", QStringLiteral("Café")},
        {"no page", "", "Caf\\'e9", QStringLiteral("Café")},
        {"raw 8-bit bytes", "\\ansicpg936", "\xc4\xe3\xba\xc3", QStringLiteral("你好")},
        {"unicode, default skip", "", "\\u20320?\\u22909?", QStringLiteral("你好")},
        {"unicode, two fallback bytes", "\\ansicpg936",
         "\\uc2\\u20320\\'c4\\'e3\\u22909\\'ba\\'c3!", QStringLiteral("你好!")},
        {"unicode, no fallback", "", "\\uc0\\u20320\\u22909 x", QStringLiteral("你好x")},
        {"unicode, negative", "", "\\u-21504?", QStringLiteral("가")},
        {"surrogate pair", "", "\\u-10179?\\u-8704?", QStringLiteral("😀")},
        {"lone surrogate", "", "\\u-10179?x", QStringLiteral("\uFFFDx")},
        {"fallback ends with its group", "", "{\\uc3\\u20320 a}b", QStringLiteral("你b")},
        {"escapes", "", "a\\\\b\\{c\\}", QStringLiteral("a\\b{c}")},
        {"symbols", "", "a\\emdash b\\endash c\\~d\\_e\\-f\\lquote g\\rquote",
         QStringLiteral("a—b–c d‑ef‘g’")},
        {"formatting inside", "", "A {\\b bold} {\\i\\fs20 title}", "A bold title"},
        {"ignorable group inside", "", "Kept{\\*\\bkmkstart x} text", "Kept text"},
        {"unicode twin", "\\ansicpg1252",
         "?}{\\upr{\\title ?}{\\*\\ud{\\title \\u20320?\\u22909?}}", QStringLiteral("你好")},
        {"line breaks in the file", "", "Two\r\n words", "Two words"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRead read = ReadRtf(dir, WithTitle(c.Header, c.Title));
        ASSERT_TRUE(read.Ok);
        EXPECT_EQ(BookInfoText(read.Info, biTitle), c.Expected);
    }
}

TEST(RtfTest, BrokenDocumentsGiveWhatCanBeRead)
{
    QTemporaryDir dir;
    const QByteArray deep(100000, '{');
    const QByteArray deepEnd(100000, '}');
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        QString Title, Author;
    } cases[] = {
        {"cut inside a field", "{\\rtf1{\\info{\\author Ann}{\\title Half ti", "Half ti", "Ann"},
        {"cut after a backslash", "{\\rtf1{\\info{\\title T}{\\author A\\", "T", "A"},
        {"cut inside a hex byte", "{\\rtf1{\\info{\\title T}{\\author A\\'c", "T", "A"},
        {"bad hex byte", "{\\rtf1{\\info{\\title T\\'zz}}}", "Tzz", ""},
        {"no closing braces", "{\\rtf1{\\info{\\title T}{\\author A", "T", "A"},
        {"too many closing braces", "{\\rtf1{\\info{\\title T}}}}}}{\\info{\\title Late}}", "T",
         ""},
        {"huge \\bin swallows the rest", "{\\rtf1\\bin99999999999999 {\\info{\\title T}}}", "book",
         ""},
        {"negative \\bin", "{\\rtf1\\bin-5 {\\info{\\title T}}}", "T", ""},
        {"\\bin hides braces", "{\\rtf1{\\bin3 }}}{\\info{\\title T}}}", "T", ""},
        {"huge numbers", "{\\rtf1\\uc99999999999999999999{\\info{\\title T\\u99999999999 x}}}", "T",
         ""},
        {"long control word", "{\\rtf1{\\info{\\title T\\" + QByteArray(5000, 'a') + "5 x}}}", "Tx",
         ""},
        {"deep nesting before the information",
         "{\\rtf1" + deep + deepEnd + "{\\info{\\title Deep}}}", "Deep", ""},
        {"information beyond the depth limit",
         "{\\rtf1" + QByteArray(300, '{') + "{\\info{\\title Lost}}" + QByteArray(300, '}') + "}",
         "book", ""},
        {"deep nesting never closed", "{\\rtf1{\\info{\\title T}}" + deep, "T", ""},
        {"no information group", "{\\rtf1\\ansi Plain text only.\\par}", "book", ""},
        {"bad dates", "{\\rtf1{\\info{\\creatim\\yr0\\mo5}{\\revtim\\yr2020\\mo13}}}", "book", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRead read = ReadRtf(dir, c.Bytes);
        ASSERT_TRUE(read.Ok);
        EXPECT_EQ(BookInfoText(read.Info, biTitle), c.Title);
        EXPECT_EQ(BookInfoText(read.Info, biAuthor), c.Author);
        EXPECT_TRUE(ThumbnailOf(dir.path() + "/book.rtf").isNull());
    }
    // Only the year of a revision in month 13 stands; a creation in year 0 is no date.
    const TRead dates = ReadRtf(dir, cases[std::size(cases) - 1].Bytes);
    EXPECT_EQ(BookInfoText(dates.Info, biCreationDate), "");
    EXPECT_EQ(BookInfoText(dates.Info, biModificationDate), "2020");

    for (const QByteArray& notRtf : {QByteArray(), QByteArray("Plain text"), QByteArray("{\\rt"),
                                     QByteArray("\xEF\xBB\xBF{\\rtx1}")}) {
        SCOPED_TRACE(notRtf.constData());
        EXPECT_FALSE(ReadRtf(dir, notRtf).Ok);
        EXPECT_TRUE(ThumbnailOf(dir.path() + "/book.rtf").isNull());
    }
}

TEST(RtfTest, FirstJpegOrPngPictureIsTheCover)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/pictures.rtf";
    const QByteArray png = Picture(60, 80, Qt::blue, "PNG");
    const QByteArray jpeg = Picture(60, 80, Qt::red);
    // A metafile first (not a picture the decoders know), then the PNG with an identifier
    // group of hex digits that is not picture data, then a JPEG.
    WriteBytes(path, "{\\rtf1{\\info{\\title Pictures}}"
                     "{\\pict\\wmetafile8\\picw10\\pich10 0100090000}"
                     "{\\*\\shppict{\\pict\\pngblip{\\*\\blipuid 00ff00ff}\r\n" +
                         png.toHex() + "}}{\\pict\\jpegblip " + jpeg.toHex() + "}}");
    QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_TRUE(NearColor(thumbnail.pixel(30, 40), Qt::blue));

    // Picture bytes may come raw after \bin.
    WriteBytes(path, "{\\rtf1{\\pict\\jpegblip\\bin" + QByteArray::number(jpeg.size()) + " " +
                         jpeg + "}}");
    thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_TRUE(NearColor(thumbnail.pixel(30, 40), Qt::red));

    // A picture cut short, or one of a kind the decoders do not know, is no cover; the
    // information is still there.
    for (const QByteArray& broken :
         {"{\\rtf1{\\info{\\title T}}{\\pict\\pngblip " + png.toHex().left(40),
          "{\\rtf1{\\info{\\title T}}{\\pict\\emfblip " + png.toHex() + "}}",
          "{\\rtf1{\\info{\\title T}}{\\pict\\jpegblip\\bin999999 " + jpeg.left(10)}) {
        WriteBytes(path, broken);
        EXPECT_TRUE(ThumbnailOf(path).isNull());
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), "T");
    }
}

} // namespace
