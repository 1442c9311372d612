#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QStringEncoder>
#include <QTemporaryDir>

using namespace BookMaker;

namespace {

const QString TitleInfoExtras = QStringLiteral(
    "<genre>sf_fantasy</genre><genre>adventure</genre>"
    "<annotation><p>第一段 <emphasis>重点</emphasis></p><p>Second</p></annotation>"
    "<keywords>magic, dragons</keywords><date value=\"2019-03-04\">2019</date><lang>zh</lang>");

TEST(Fb2Test, DescriptionAndCoverOfPlainAndZippedBooks)
{
    QTemporaryDir dir;
    const QByteArray fb2 =
        Fb2(QStringLiteral("西游记"), {QStringLiteral("吴 承恩"), "Jane Roe"},
            Picture(300, 400, Qt::red), TitleInfoExtras, QStringLiteral("中华书局"));
    WriteBytes(dir.path() + "/book.fb2", fb2);
    ASSERT_TRUE(WriteZip(dir.path() + "/book.fb2.zip", {{"readme.txt", "x"}, {"book.fb2", fb2}}));
    for (const char* name : {"book.fb2", "book.fb2.zip"}) {
        SCOPED_TRACE(name);
        const QString path = dir.path() + "/" + name;
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("西游记"));
        EXPECT_EQ(BookInfoText(info, biAuthor), QStringLiteral("吴 承恩 & Jane Roe"));
        EXPECT_EQ(BookInfoText(info, biCategory), "sf_fantasy, adventure");
        EXPECT_EQ(BookInfoText(info, biComment), QStringLiteral("第一段 重点\nSecond"));
        EXPECT_EQ(BookInfoText(info, biKeywords), "magic, dragons");
        EXPECT_EQ(BookInfoText(info, biCreationDate), "2019-03-04");
        EXPECT_EQ(BookInfoText(info, biPublisher), QStringLiteral("中华书局"));
        EXPECT_EQ(BookInfoText(info, biLanguage), "zh");

        const QImage thumbnail = ThumbnailOf(path);
        ASSERT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), QSize(84, 112));
        EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));
    }
    // A ZIP without a FictionBook inside is no book.
    ASSERT_TRUE(WriteZip(dir.path() + "/other.zip", {{"readme.txt", "x"}}));
    TBookInfo info{};
    EXPECT_FALSE(ShippedLibraries().GetFileInfo(dir.path() + "/other.zip", info));
}

TEST(Fb2Test, DeclaredEncodingIsHonoured)
{
    QTemporaryDir dir;
    QString text =
        QString::fromUtf8(Fb2(QStringLiteral("Война и мир"), {QStringLiteral("Лев Толстой")}, {}));
    text.replace("encoding=\"UTF-8\"", "encoding=\"windows-1251\"");
    QStringEncoder encoder("windows-1251");
    WriteBytes(dir.path() + "/ru.fb2", encoder(text));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(dir.path() + "/ru.fb2", info));
    EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("Война и мир"));
    EXPECT_EQ(BookInfoText(info, biAuthor), QStringLiteral("Лев Толстой"));
    EXPECT_TRUE(ThumbnailOf(dir.path() + "/ru.fb2").isNull()); // no cover in this one
}

} // namespace
