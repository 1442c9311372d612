#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtEndian>

using namespace BookMaker;

namespace {

// Hostile and damaged books of every format. Each must come back (the test's time limit
// catches a hang) without a crash or a read outside its buffers (the sanitizers catch those),
// and without inventing a cover.
class BadInputTest : public ::testing::Test
{
protected:
    struct TResult
    {
        bool Info;
        TBookInfo Record{};
        bool Thumbnail;
    };
    TResult Read(const QString& name, const QByteArray& bytes)
    {
        const QString path = FDir.path() + "/" + name;
        WriteBytes(path, bytes);
        TResult result{};
        result.Info = ShippedLibraries().GetFileInfo(path, result.Record);
        result.Thumbnail = !ThumbnailOf(path).isNull();
        return result;
    }
    QString ZipPath(const QString& name) const { return FDir.path() + "/" + name; }
    QByteArray ReadBack(const QString& name) const
    {
        QFile f(ZipPath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir FDir;
};

QByteArray Laughs()
{
    QByteArray dtd = "<!DOCTYPE package [\n<!ENTITY lol \"lollollollollollollollollollol\">\n";
    for (int i = 1; i <= 9; ++i)
        dtd += "<!ENTITY lol" + QByteArray::number(i) + " \"" +
               QByteArray("&lol" + (i > 1 ? QByteArray::number(i - 1) : QByteArray()) + ";")
                   .repeated(10) +
               "\">\n";
    return dtd + "]>\n";
}

TEST_F(BadInputTest, ZipBooksThatAreBombsExplosionsOrDamaged)
{
    TEpub book;
    book.Cover = TCoverStyle::Properties;
    book.CoverBytes = Picture(300, 400, Qt::red);
    const QList<TZipEntry> good = EpubEntries(book);

    // A package document that inflates to 20 MB, beyond what any real one needs.
    QList<TZipEntry> bomb = good;
    for (TZipEntry& e : bomb)
        if (e.Name.endsWith(".opf")) e.Bytes += QByteArray(20 * 1024 * 1024, ' ');
    ASSERT_TRUE(WriteZip(ZipPath("bomb.epub"), bomb));
    EXPECT_LT(ReadBack("bomb.epub").size(), 200 * 1024);

    // A package document whose entities would expand to gigabytes.
    QList<TZipEntry> laughs = good;
    for (TZipEntry& e : laughs)
        if (e.Name.endsWith(".opf")) {
            e.Bytes.replace("<package", Laughs() + "<package");
            e.Bytes.replace("<dc:title>Book</dc:title>", "<dc:title>&lol9;</dc:title>");
        }
    ASSERT_TRUE(WriteZip(ZipPath("laughs.epub"), laughs));

    // The cover named by the package does not exist; the container points nowhere.
    QList<TZipEntry> noCover = good;
    noCover.removeIf([](const TZipEntry& e) { return e.Name.endsWith(".jpg"); });
    ASSERT_TRUE(WriteZip(ZipPath("nocover.epub"), noCover));

    const QByteArray whole = ReadBack("nocover.epub");
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        bool Info;
        bool Thumbnail;
    } cases[] = {
        {"bomb.epub", ReadBack("bomb.epub"), false, false},
        {"laughs.epub", ReadBack("laughs.epub"), false, false},
        {"nocover.epub", whole, true, false},
        {"truncated.epub", whole.left(whole.size() / 2), false, false},
        {"empty.epub", {}, false, false},
        {"text.epub", "not a zip at all", false, false},
        // As a comic the bomb is harmless: its pictures are small and intact.
        {"bomb.cbz", ReadBack("bomb.epub"), true, true},
        {"truncated.fb2.zip", whole.left(whole.size() / 2), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TResult result = Read(c.Name, c.Bytes);
        EXPECT_EQ(result.Info, c.Info);
        EXPECT_EQ(result.Thumbnail, c.Thumbnail);
        EXPECT_LT(BookInfoText(result.Record, biTitle).size(), 256);
    }
}

TEST_F(BadInputTest, XmlBooksThatExplodeOrBreakOff)
{
    const QByteArray fb2 = Fb2("Title", {"A B"}, Picture(30, 40, Qt::red));
    QByteArray laughs = fb2;
    laughs.replace("<FictionBook", Laughs().replace("package", "FictionBook") + "<FictionBook");
    laughs.replace("<book-title>Title</book-title>", "<book-title>&lol9;</book-title>");
    QByteArray badBase64 = fb2;
    badBase64.replace("<binary id=\"cover.jpg\" content-type=\"image/jpeg\">",
                      "<binary id=\"cover.jpg\" content-type=\"image/jpeg\">!!!!@@@@");
    const struct
    {
        const char* Name;
        QByteArray Bytes;
    } cases[] = {
        {"laughs.fb2", laughs},
        {"truncated.fb2", fb2.left(fb2.indexOf("<binary") + 60)},
        {"cut-description.fb2", fb2.left(fb2.indexOf("</title-info>"))},
        {"garbage.fb2", QByteArray(5000, '\xFF')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TResult result = Read(c.Name, c.Bytes);
        EXPECT_FALSE(result.Thumbnail);
        EXPECT_LT(result.Record.Data[biTitle], 255);
    }
    // Characters that are not base64 are skipped, so the picture still decodes or is refused
    // cleanly: either way no crash.
    Read("badbase64.fb2", badBase64);
}

TEST_F(BadInputTest, MobiHeadersWithOffsetsPastTheEnd)
{
    TMobi book;
    book.Title = "Good Title";
    book.Author = "Someone";
    book.Cover = Picture(30, 40, Qt::red);
    const QByteArray good = Mobi(book);
    const qsizetype record0 = qFromBigEndian<quint32>(good.constData() + 78);
    auto patched = [&](qsizetype at, quint32 value) {
        QByteArray b = good;
        qToBigEndian(value, b.data() + at);
        return b;
    };
    const qsizetype exth = record0 + 16 + 232;
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        bool Info;
        bool Thumbnail;
    } cases[] = {
        {"good.mobi", good, true, true},
        {"record-count.mobi", patched(76 - 2, 0xFFFFFFFF), false, false},
        {"record-offset.mobi", patched(78 + 8, 0x7FFFFFF0), true, false},
        {"name-offset.mobi", patched(record0 + 84, 0xFFFFFFF0), true, true},
        {"name-length.mobi", patched(record0 + 88, 0xFFFFFFFF), true, true},
        {"header-length.mobi", patched(record0 + 20, 0xFFFFFFF0), true, true},
        {"exth-length.mobi", patched(exth + 4, 0xFFFFFFFF), true, true},
        {"exth-count.mobi", patched(exth + 8, 0xFFFFFFFF), true, true},
        // The cover offset is lost with the broken record; the first picture stands in.
        {"exth-record.mobi", patched(exth + 12 + 4, 0xFFFFFFFF), true, true},
        {"first-image.mobi", patched(record0 + 108, 0xFFFFFFF0), true, false},
        {"truncated.mobi", good.left(record0 + 40), true, false},
        {"header-only.mobi", good.left(70), false, false},
        {"empty.azw3", {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TResult result = Read(c.Name, c.Bytes);
        EXPECT_EQ(result.Info, c.Info);
        EXPECT_EQ(result.Thumbnail, c.Thumbnail);
    }
}

// Markup that made pattern matching backtrack for minutes: a first page of 100,000 unclosed
// picture tags, and a description of unclosed tags and ampersands. Read in time proportional to
// their size; the bound below only catches a hang, it is far above the milliseconds they take.
TEST_F(BadInputTest, MarkupThatWouldBacktrack)
{
    TEpub book;
    book.Cover = TCoverStyle::FirstPage;
    book.CoverBytes = Picture(30, 40, Qt::red);
    book.Description = QString("<br ").repeated(50000) + QString("&").repeated(50000) +
                       QString("<p").repeated(50000);
    QList<TZipEntry> entries = EpubEntries(book);
    for (TZipEntry& e : entries)
        if (e.Name.endsWith("page1.xhtml"))
            e.Bytes = "<html><body>" + QByteArray("<img ").repeated(100000) + "</body></html>";
    ASSERT_TRUE(WriteZip(ZipPath("tags.epub"), entries));

    QElapsedTimer clock;
    clock.start();
    const TResult result = Read("tags.epub", ReadBack("tags.epub"));
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_TRUE(result.Info);
    EXPECT_FALSE(result.Thumbnail);

    // The same page with the picture named at last, after the unclosed tags, is still found.
    for (TZipEntry& e : entries)
        if (e.Name.endsWith("page1.xhtml"))
            e.Bytes = "<html><body><svg:image   XLINK:HREF = '../images/cover%20art.jpg'/>" +
                      QByteArray("<img ").repeated(1000) + "</body></html>";
    ASSERT_TRUE(WriteZip(ZipPath("late.epub"), entries));
    EXPECT_TRUE(Read("late.epub", ReadBack("late.epub")).Thumbnail);
}

TEST_F(BadInputTest, PicturesThatClaimHugeSizes)
{
    // A PNG header that claims 100000 x 100000 pixels, then nothing.
    QByteArray png = Picture(10, 10, Qt::red, "PNG");
    qToBigEndian<quint32>(100000, png.data() + 16);
    qToBigEndian<quint32>(100000, png.data() + 20);
    EXPECT_FALSE(Read("huge.png", png).Thumbnail);
    QList<TZipEntry> pages = {{"001.png", png}};
    ASSERT_TRUE(WriteZip(ZipPath("huge.cbz"), pages));
    EXPECT_FALSE(Read("huge.cbz", ReadBack("huge.cbz")).Thumbnail);
}

} // namespace
