#include "BookTestSupport.h"
#include "FileNames.h"

#include "SummaryCommon.h"
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <algorithm>

namespace {

QByteArray Encode(const QString& text, const char* codec, bool bom)
{
    QStringEncoder encoder(codec, bom ? QStringConverter::Flag::WriteBom
                                      : QStringConverter::Flag::Default);
    return encoder(text);
}

struct TInfo
{
    bool Ok = false;
    TBookInfo Record{};
    QString operator[](TBookInfoOffset offset) const { return BookInfoText(Record, offset); }
};

TInfo InfoOf(const QString& path, const TFileInfoManager::TAbortHandler& abort = {})
{
    TInfo info;
    info.Ok = ShippedLibraries().GetFileInfo(path, info.Record, abort);
    return info;
}

class SummaryTest : public ::testing::Test
{
protected:
    QString Path(const QString& name) const { return FDir.path() + "/" + name; }
    QTemporaryDir FDir;
};

TEST_F(SummaryTest, TextBooksInEveryEncodingGiveTheSameFacts)
{
    // 25 characters (white space does not count) and 12 words (each Chinese character is one,
    // "hello" and "world" one each); the title and author lines name the book.
    const QString text = QStringLiteral("《红楼梦》\r\n作者：曹雪芹\r\nhello world, 你好！\r\n");
    const struct
    {
        const char* Codec;
        bool Bom;
    } cases[] = {{"UTF-8", false},   {"UTF-8", true},     {"UTF-16LE", true},
                 {"UTF-16BE", true}, {"UTF-16LE", false}, {"GB18030", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Codec) + (c.Bom ? " with BOM" : ""));
        const QString path = Path(QStringLiteral("book.txt"));
        WriteBytes(path, Encode(text, c.Codec, c.Bom));
        const TInfo info = InfoOf(path);
        ASSERT_TRUE(info.Ok);
        EXPECT_EQ(info[biTitle], QStringLiteral("红楼梦"));
        EXPECT_EQ(info[biAuthor], QStringLiteral("曹雪芹"));
        EXPECT_EQ(info[biCharCount], "25");
        EXPECT_EQ(info[biWordCount], "12");
    }
}

// Chinese text without ASCII has few zero bytes in UTF-16, and Big5 shares its byte ranges with
// GB18030: each is still told from the others, and the counts match the text's own.
TEST_F(SummaryTest, Big5AndUtf16WithoutMarkAreRecognised)
{
    const QString simplified =
        QStringLiteral("《红楼梦》\n作者：曹雪芹\n第一回　甄士隐梦幻识通灵　贾雨村风尘怀闺秀\n"
                       "此开卷第一回也。作者自云：因曾历过一番梦幻之后，故将真事隐去。\n");
    const QString traditional =
        QStringLiteral("書名：紅樓夢\n作者：曹雪芹\n第一回　甄士隱夢幻識通靈　賈雨村風塵懷閨秀\n"
                       "此開卷第一回也。作者自云：因曾歷過一番夢幻之後，故將真事隱去。\n");
    const struct
    {
        const char* Codec;
        const QString& Text;
        const char* Title;
    } cases[] = {
        {"Big5", traditional, "紅樓夢"},    {"GB18030", traditional, "紅樓夢"},
        {"GB18030", simplified, "红楼梦"},  {"UTF-16LE", simplified, "红楼梦"},
        {"UTF-16BE", simplified, "红楼梦"}, {"UTF-16LE", traditional, "紅樓夢"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Codec) + " " + c.Title);
        const QString path = Path(QStringLiteral("book.txt"));
        const QByteArray bytes = Encode(c.Text, c.Codec, false);
        ASSERT_FALSE(bytes.contains('?')); // the codec holds every character
        WriteBytes(path, bytes);
        const TInfo info = InfoOf(path);
        ASSERT_TRUE(info.Ok);
        EXPECT_EQ(info[biTitle], QString::fromUtf8(c.Title));
        EXPECT_EQ(info[biAuthor], QStringLiteral("曹雪芹"));
        const auto visible =
            std::count_if(c.Text.begin(), c.Text.end(), [](QChar ch) { return !ch.isSpace(); });
        EXPECT_EQ(info[biCharCount], QString::number(visible));
    }
}

TEST_F(SummaryTest, TitleFallsBackToTheFileName)
{
    for (const char* name : {"plain.txt", "a.b.TXT"}) {
        const QString path = Path(QString::fromLatin1(name));
        WriteBytes(path, "just some words\nand more of them\n");
        const TInfo info = InfoOf(path);
        ASSERT_TRUE(info.Ok);
        EXPECT_EQ(info[biTitle], QFileInfo(path).completeBaseName());
        EXPECT_EQ(info[biWordCount], "7");
        // The file's modification date is the directory entry's.
        EXPECT_EQ(info[biModificationDate],
                  QFileInfo(path).lastModified().toString("yyyy-MM-dd HH:mm:ss"));
    }
    // An empty book still has its name and zero counts.
    WriteBytes(Path("empty.txt"), "");
    const TInfo empty = InfoOf(Path("empty.txt"));
    ASSERT_TRUE(empty.Ok);
    EXPECT_EQ(empty[biTitle], "empty");
    EXPECT_EQ(empty[biCharCount], "0");
}

// A name in GBK (from an archive made on Chinese Windows) is no UTF-8: the book is still read by
// its real bytes, and the title made from its name is readable.
TEST_F(SummaryTest, ANameThatIsNotUtf8IsReadAndNamed)
{
    const QByteArray bytes = QFile::encodeName(FDir.path()) + "/\xBA\xEC\xC2\xA5\xC3\xCE.txt";
    const int fd = ::open(bytes.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "just some words\n", 16), 16);
    ::close(fd);
    const QString path = FileNames::Decode(bytes);
    const TInfo info = InfoOf(path);
    ASSERT_TRUE(info.Ok);
    EXPECT_EQ(info[biTitle], QStringLiteral("红楼梦"));
    EXPECT_EQ(info[biWordCount], "3");
    EXPECT_FALSE(info[biModificationDate].isEmpty());
}

TEST_F(SummaryTest, CountsSurviveCharactersSplitAcrossReadChunks)
{
    // About 2 MB in 3- and 4-byte UTF-8 and 2- and 4-byte GB18030 characters, so some character
    // straddles every 1 MB chunk boundary; an odd leading byte shifts the boundaries. (UTF-8 is
    // counted in its bytes, the others as decoded text.)
    QString unit = QStringLiteral("汉字ab 𠀀 ");
    QString text = QStringLiteral("x ");
    for (int i = 0; i < 150000; ++i)
        text += unit;
    for (const char* codec : {"UTF-8", "GB18030", "UTF-16BE"}) {
        SCOPED_TRACE(codec);
        // (UTF-16 with its mark: the zero bytes of surrogates blur the guess without one.)
        const bool mark = QByteArray(codec).startsWith("UTF-16");
        WriteBytes(Path("long.txt"), Encode(text, codec, mark));
        const TInfo info = InfoOf(Path("long.txt"));
        ASSERT_TRUE(info.Ok);
        EXPECT_EQ(info[biCharCount], QString::number(1 + 150000 * 5));
        EXPECT_EQ(info[biWordCount], QString::number(1 + 150000 * 4));
    }
}

TEST_F(SummaryTest, StoppedReadLeavesTheRecordAlone)
{
    WriteBytes(Path("book.txt"), QByteArray(3 * 1024 * 1024, 'a'));
    TBookInfo record{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(Path("book.txt"), record, [n = 0]() mutable {
        return ++n > 1; // the manager's own query passes, the library's poll stops
    }));
    EXPECT_EQ(record.Data[biTitle], 0);
    EXPECT_EQ(record.Data[biModificationDate], 0);
    EXPECT_FALSE(InfoOf(Path("missing.txt")).Ok);
    EXPECT_FALSE(InfoOf(FDir.path()).Ok); // a folder is no book
}

TEST_F(SummaryTest, PictureThumbnailsKeepTheirAspectInsideTheBox)
{
    const struct
    {
        const char* Name;
        int Width, Height;
        const char* Format;
        QSize Expected;
    } cases[] = {
        {"cover.jpg", 1200, 1600, "JPEG", {84, 112}},
        {"wide.png", 300, 100, "PNG", {90, 30}},
        {"small.bmp", 40, 50, "BMP", {40, 50}}, // never enlarged
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteBytes(Path(c.Name), Picture(c.Width, c.Height, Qt::red, c.Format));
        const QImage thumbnail = ThumbnailOf(Path(c.Name));
        ASSERT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), c.Expected);
        EXPECT_TRUE(
            NearColor(thumbnail.pixel(thumbnail.width() / 2, thumbnail.height() / 2), Qt::red));
    }
    // Text has no picture; a damaged picture gives none.
    WriteBytes(Path("book.txt"), "text");
    EXPECT_TRUE(ThumbnailOf(Path("book.txt")).isNull());
    WriteBytes(Path("broken.jpg"), Picture(100, 100, Qt::red).left(40));
    EXPECT_TRUE(ThumbnailOf(Path("broken.jpg")).isNull());
}

TEST(SummaryTextBlocks, TextIsCutAtACharacterBoundary)
{
    const QString han(200, QChar(0x4E2D));                                // two bytes each
    const QString emoji = QString::fromUcs4(U"\U0001F600").repeated(100); // four bytes each
    const struct
    {
        QString Text;
        int Bytes;
        QString Kept;
    } cases[] = {
        {han, 254, han.left(127)},
        {"a" + han, 255, "a" + han.left(127)},
        {emoji, 252, emoji.left(2 * 63)},
        {"ab" + emoji, 254, "ab" + emoji.left(2 * 63)},
        {"  two\n\tlines  ", 9, "two lines"},
    };
    for (const auto& c : cases) {
        TBookInfo info{};
        Summary::PutText(&info, biTitle, c.Text);
        EXPECT_EQ(info.Data[biTitle], c.Bytes);
        EXPECT_EQ(Summary::GetText(&info, biTitle), c.Kept);
        EXPECT_EQ(info.Data[biSubject], 0); // the next block is untouched
    }
    // A field the book lacks does not blank what another library put there.
    TBookInfo info{};
    Summary::PutText(&info, biCreationDate, "2020-01-01");
    Summary::PutText(&info, biCreationDate, " \n ");
    EXPECT_EQ(Summary::GetText(&info, biCreationDate), "2020-01-01");
}

} // namespace
