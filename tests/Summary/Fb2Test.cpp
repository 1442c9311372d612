#include "BookMaker.h"
#include "BookTestSupport.h"
#include "SummaryCommon.h"

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

TEST(Fb2Test, UndeclaredHtmlEntitiesDoNotCutTheDescription)
{
    QTemporaryDir dir;
    QString text = QString::fromUtf8(Fb2("Title", {"Jane Roe"}, {}, {}, "Press"));
    text.replace("<book-title>Title</book-title>",
                 "<book-title>Caf&eacute;&nbsp;&mdash; &amp; more</book-title>");
    text.replace("<first-name>Jane</first-name>", "<first-name>Jane&nbsp;&unknown;</first-name>");
    WriteBytes(dir.path() + "/entities.fb2", text.toUtf8());
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(dir.path() + "/entities.fb2", info));
    EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("Caf\u00E9 \u2014 & more"));
    EXPECT_EQ(BookInfoText(info, biAuthor), QStringLiteral("Jane &unknown; Roe"));
    EXPECT_EQ(BookInfoText(info, biPublisher), "Press"); // read after the entities
}

// The description opens the book and the cover may close it: a book larger than any part the
// libraries read whole still gives both, plain or zipped; cut short it gives what is there.
TEST(Fb2Test, BooksLargerThanAnyPartReadWhole)
{
    QTemporaryDir dir;
    const QByteArray small = Fb2(QStringLiteral("大书"), {"Jane Roe"}, Picture(300, 400, Qt::red));
    const qsizetype bodyEnd = small.indexOf("</body>");
    ASSERT_GT(bodyEnd, 0);
    const QByteArray paragraph = "<p>Line of the long book, more or less like any other.</p>\n";
    QByteArray padding;
    padding.reserve(Summary::MaxPartSize + 2 * 1024 * 1024);
    while (padding.size() < Summary::MaxPartSize + 1024 * 1024)
        padding += paragraph;
    const QByteArray large = small.left(bodyEnd) + padding + small.mid(bodyEnd);
    padding.clear();
    WriteBytes(dir.path() + "/large.fb2", large);
    ASSERT_TRUE(WriteZip(dir.path() + "/large.fb2.zip", {{"large.fb2", large}}));
    // Cut inside the cover's text: the description is still there, the picture is not.
    WriteBytes(dir.path() + "/cut.fb2", large.left(large.size() - 200));
    const struct
    {
        const char* Name;
        bool Cover;
    } cases[] = {{"large.fb2", true}, {"large.fb2.zip", true}, {"cut.fb2", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = dir.path() + "/" + c.Name;
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("大书"));
        EXPECT_EQ(BookInfoText(info, biAuthor), "Jane Roe");
        const QImage thumbnail = ThumbnailOf(path);
        ASSERT_EQ(thumbnail.isNull(), !c.Cover);
        if (c.Cover) {
            EXPECT_TRUE(NearColor(thumbnail.pixel(42, 56), Qt::red));
        }
    }
}

} // namespace
