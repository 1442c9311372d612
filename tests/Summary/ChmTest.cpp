#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QStringEncoder>
#include <QTemporaryDir>

using namespace BookMaker;

namespace {

QByteArray Encoded(const char* codec, const QString& text)
{
    QStringEncoder encoder(codec);
    return encoder.encode(text);
}

TEST(ChmTest, TheTitleIsReadInTheCodePageOfTheBooksLocale)
{
    QTemporaryDir dir;
    struct TCase
    {
        quint32 Locale;
        const char* Codec;
        QString Title;
        const char* Language;
    };
    const QList<TCase> cases = {
        {0x0804, "GB18030", QString::fromUtf8("中文书名"), "zh-CN"},
        {0x0404, "Big5", QString::fromUtf8("中文書名"), "zh-TW"},
        {0x0419, "windows-1251", QString::fromUtf8("Книга"), "ru"},
        {0x0407, "windows-1252", QString::fromUtf8("Bücher"), "de"},
        {0x0409, "UTF-8", QString::fromUtf8("Plain “quoted” title"), "en-US"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Codec);
        const QString path = dir.path() + "/book.chm";
        WriteBytes(path,
                   Chm({{"#SYSTEM", ChmSystem(c.Locale, Encoded(c.Codec, c.Title), "index.htm")},
                        {"index.htm", "<html><body>x</body></html>"}},
                       c.Locale));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), c.Title);
        EXPECT_EQ(BookInfoText(info, biLanguage), c.Language);
    }
}

TEST(ChmTest, TitleFallsBackToTheDefaultTopicThenTheFileName)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/Help Book.chm";
    // No title in "#SYSTEM": the default topic's <title>, in the header's locale.
    WriteBytes(
        path, Chm({{"#SYSTEM", ChmSystem(0, {}, "/html/start.htm")},
                   {"html/start.htm", "<HTML><HEAD><TITLE>" +
                                          Encoded("GB18030", QString::fromUtf8("帮助 &amp; 说明")) +
                                          "</TITLE></HEAD></HTML>"}},
                  0x0804));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biTitle), QString::fromUtf8("帮助 & 说明"));
    EXPECT_EQ(BookInfoText(info, biLanguage), "zh-CN");

    // No "#SYSTEM" at all, or one cut short.
    for (const QByteArray& system : {QByteArray(), ChmSystem(0x0409, "Lost", "x.htm").left(14)}) {
        WriteBytes(path, Chm({{"#SYSTEM", system}, {"a.htm", "<p>x</p>"}}, 0x0409));
        TBookInfo bare{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, bare));
        EXPECT_EQ(BookInfoText(bare, biTitle), "Help Book");
    }
}

TEST(ChmTest, CoverIsAPictureNamedCoverOrTheFirstPictureOfTheDefaultTopic)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/book.chm";
    const QByteArray page = "<html><body><p title=\"<img src=decoy.jpg>\">Intro</p>"
                            "<IMG  alt='x' SRC=\"../pics/front%20page.png#top\"><img src=b.jpg>"
                            "</body></html>";
    const QList<TZipEntry> common = {{"#SYSTEM", ChmSystem(0x0409, "Book", "html/index.htm")},
                                     {"html/index.htm", page},
                                     {"pics/front page.png", Picture(300, 400, Qt::blue, "PNG")},
                                     {"html/decoy.jpg", Picture(60, 80, Qt::green)},
                                     {"html/b.jpg", Picture(60, 80, Qt::green)}};
    WriteBytes(path, Chm(common, 0x0409));
    QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(thumbnail.size(), QSize(84, 112));
    EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::blue));

    // A picture named as the cover wins, in any case of letters and folder.
    QList<TZipEntry> named = common;
    named.append({"images/Cover.JPG", Picture(300, 400, Qt::red)});
    WriteBytes(path, Chm(named, 0x0409));
    thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));

    // A page without pictures, or pointing at a missing one or out of the book: no cover.
    for (const QByteArray& html : {QByteArray("<p>text</p>"), QByteArray("<img src=gone.png>"),
                                   QByteArray("<img src='http://example.invalid/a.png'>"),
                                   QByteArray("<img src=\"unterminated")}) {
        WriteBytes(path,
                   Chm({{"#SYSTEM", ChmSystem(0x0409, "Book", "index.htm")}, {"index.htm", html}},
                       0x0409));
        EXPECT_TRUE(ThumbnailOf(path).isNull());
    }
}

TEST(ChmTest, DamagedFilesGiveWhatCanBeReadAndNeverCrash)
{
    QTemporaryDir dir;
    const QByteArray whole = Chm({{"#SYSTEM", ChmSystem(0x0804, "Title", "index.htm")},
                                  {"index.htm", "<img src=cover.jpg>"},
                                  {"cover.jpg", Picture(60, 80, Qt::red)}},
                                 0x0804);
    const QString path = dir.path() + "/broken.chm";
    for (const qsizetype size : {qsizetype(0), qsizetype(3), qsizetype(0x60), qsizetype(0x80),
                                 qsizetype(0x200), whole.size() - 100}) {
        WriteBytes(path, whole.left(size));
        TBookInfo info{};
        if (ShippedLibraries().GetFileInfo(path, info)) {
            EXPECT_FALSE(BookInfoText(info, biTitle).isEmpty());
        }
        ThumbnailOf(path);
    }
    // Directory entries that point past the end of the file.
    QByteArray wild = whole;
    const qsizetype entry = wild.indexOf("/cover.jpg");
    ASSERT_GT(entry, 0);
    wild[entry + 11] = '\x7f'; // its offset
    wild[entry + 12] = '\x8f'; // its length becomes a long number
    WriteBytes(path, wild);
    TBookInfo info{};
    ShippedLibraries().GetFileInfo(path, info);
    EXPECT_TRUE(ThumbnailOf(path).isNull());

    WriteBytes(path, QByteArray("ITSF") + QByteArray(200, '\xff'));
    TBookInfo junk{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(path, junk));
}

} // namespace
