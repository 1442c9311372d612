#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <thread>

using namespace BookMaker;

namespace {

// The main thread and the search worker read books at the same time. Two threads reading the
// same books of every format must get exactly what one thread alone gets.
TEST(ConcurrencyTest, TwoThreadsReadTheSameBooksAsOneDoes)
{
    QTemporaryDir dir;
    const QByteArray cover = Picture(300, 400, Qt::red);
    TEpub epub;
    epub.Title = QStringLiteral("并发");
    epub.Cover = TCoverStyle::MetaCover;
    epub.CoverBytes = cover;
    ASSERT_TRUE(WriteEpub(dir.path() + "/a.epub", epub));
    ASSERT_TRUE(WritePdf(dir.path() + "/b.pdf", 3, "Pdf", "Maker"));
    WriteBytes(dir.path() + "/c.fb2", Fb2("Fb2", {"A B"}, cover));
    TMobi mobi;
    mobi.Cover = cover;
    WriteBytes(dir.path() + "/d.mobi", Mobi(mobi));
    ASSERT_TRUE(WriteZip(dir.path() + "/e.cbz", {{"1.jpg", cover}}));
    WriteBytes(dir.path() + "/f.txt", QStringLiteral("《书》 text\n").repeated(20000).toUtf8());
    const QStringList books = {"a.epub", "b.pdf", "c.fb2", "d.mobi", "e.cbz", "f.txt"};

    struct TSeen
    {
        TBookInfo Info{};
        QImage Thumbnail;
    };
    QList<TSeen> alone;
    for (const QString& book : books) {
        TSeen seen;
        ShippedLibraries().GetFileInfo(dir.path() + "/" + book, seen.Info);
        seen.Thumbnail = ThumbnailOf(dir.path() + "/" + book);
        alone << seen;
    }

    auto reader = [&](int& mismatches) {
        for (int round = 0; round < 10; ++round)
            for (qsizetype i = 0; i < books.size(); ++i) {
                TSeen seen;
                ShippedLibraries().GetFileInfo(dir.path() + "/" + books[i], seen.Info);
                seen.Thumbnail = ThumbnailOf(dir.path() + "/" + books[i]);
                if (std::memcmp(&seen.Info, &alone[i].Info, sizeof(TBookInfo)) != 0 ||
                    seen.Thumbnail != alone[i].Thumbnail)
                    ++mismatches;
            }
    };
    int first = 0, second = 0;
    std::thread a(reader, std::ref(first));
    std::thread b(reader, std::ref(second));
    a.join();
    b.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_FALSE(alone[0].Thumbnail.isNull());
}

} // namespace
