// Books read for the views on the reading pool, what is remembered of them across runs, and the
// bounded cover cache; with the shipped book libraries on real files.
#include "BookReader.h"
#include "Categories.h"
#include "CoverCache.h"
#include "FileInfo.h"
#include "ThumbnailStore.h"

#include "LibraryTestUtil.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QThread>

#include <sys/stat.h>
#include <utime.h>

namespace {

// A picture with detail in it, so that scaling differences would show.
QImage Picture(int seed)
{
    QImage image(600, 900, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 600, 900);
    g.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 200, 230));
    g.setColorAt(1, QColor::fromHsv((seed * 71) % 360, 120, 60));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    for (int i = 0; i < 40; ++i)
        p.drawLine(0, i * 23, 600, 900 - i * 23);
    return image;
}

// A web page book with a title, an author and a picture beside it (its cover).
void MakeHtmlBook(const QString& folder, const QString& name, const QString& title, int seed)
{
    // The picture in a folder of its own, so the shelf lists only the book.
    MakeFolder(folder + "/pics");
    const QString picture = QStringLiteral("pics/") + name + QStringLiteral(".png");
    ASSERT_TRUE(Picture(seed).save(folder + "/" + picture));
    const QString page = QStringLiteral("<html><head><meta charset=\"utf-8\"><title>%1</title>"
                                        "<meta name=\"author\" content=\"作者%2\"></head>"
                                        "<body><img src=\"%3\"><p>text</p></body></html>")
                             .arg(title)
                             .arg(seed)
                             .arg(picture);
    MakeFile(folder + "/" + name + QStringLiteral(".html"), page.toUtf8());
}

// Sets a file's modification time (seconds since the epoch); books older than a few seconds are
// the ones that are remembered.
void SetTime(const QString& path, qint64 seconds)
{
    struct utimbuf times{time_t(seconds), time_t(seconds)};
    ASSERT_EQ(utime(QFile::encodeName(path).constData(), &times), 0);
}

const qint64 LongAgo = QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)).toSecsSinceEpoch();

bool PumpUntil(const std::function<bool()>& done, int ms = 60000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return done();
}

QString TitleOf(const TBookRead& read)
{
    return read.Info ? BookInfoText(*read.Info, biTitle) : QString();
}

class CoversTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The desktop's thumbnails of this test only.
        qputenv("XDG_CACHE_HOME", FCache.path().toUtf8());
    }
    QTemporaryDir FBooks, FCache;
};

// What was read of a book is reused while the file is unchanged, whatever its contents are
// now, and read again as soon as its size or time changes or it moves.
TEST_F(CoversTest, InformationIsRememberedUntilTheFileChanges)
{
    const QString folder = FBooks.path() + "/shelf";
    MakeHtmlBook(folder, "book", "First title", 1);
    const QString path = folder + "/book.html";
    SetTime(path, LongAgo);

    TBookRead first;
    ASSERT_TRUE(TFileItem::ReadBook(path, QFile::encodeName(path), {}, first));
    EXPECT_EQ(TitleOf(first), "First title");

    // Same size and time, other contents: only the remembered record can say "First title".
    QByteArray page = ReadFile(path);
    page.replace("First title", "Other title");
    MakeFile(path, page);
    SetTime(path, LongAgo);

    struct TCase
    {
        const char* What;
        std::function<void()> Change;
        QString Path;
        QString Title;
    };
    const QString moved = FBooks.path() + "/moved/book.html";
    const TCase cases[] = {
        {"unchanged", [] {}, path, "First title"},
        {"time changed", [&] { SetTime(path, LongAgo + 60); }, path, "Other title"},
        {"size changed",
         [&] {
             MakeFile(path, page + "    ");
             SetTime(path, LongAgo + 60);
         },
         path, "Other title"},
        {"moved",
         [&] {
             MakeFolder(FBooks.path() + "/moved/pics");
             ASSERT_TRUE(
                 QFile::copy(folder + "/pics/book.png", FBooks.path() + "/moved/pics/book.png"));
             ASSERT_TRUE(QFile::rename(path, moved));
             SetTime(moved, LongAgo);
         },
         moved, "Other title"},
    };
    for (const TCase& c : cases) {
        c.Change();
        TBookRead read;
        ASSERT_TRUE(TFileItem::ReadBook(c.Path, QFile::encodeName(c.Path), {}, read)) << c.What;
        EXPECT_EQ(TitleOf(read), c.Title) << c.What;
    }
}

// A book on a reader is remembered by its place on the reader, so the same reader mounted
// elsewhere finds what was read.
TEST_F(CoversTest, ReaderBooksAreRememberedByTheirPlaceOnTheReader)
{
    const QString first = FBooks.path() + "/mount1/";
    const QString second = FBooks.path() + "/mount2/";
    MakeHtmlBook(first + "Books", "book", "On the reader", 2);
    SetTime(first + "Books/book.html", LongAgo);

    TReaderCategory reader(QStringLiteral("阅读器"), first);
    reader.EnsureLoaded();
    const int shelf = reader.IndexOfCategory("Books");
    ASSERT_GE(shelf, 0);
    TCategory* books = reader.Category(shelf);
    books->EnsureLoaded();
    ASSERT_EQ(books->ItemCount(), 1);
    EXPECT_EQ(books->Item(0)->CacheKeyPath(), QByteArray("Books/book.html"));
    books->Item(0)->EnsureLoaded();
    EXPECT_EQ(BookInfoText(books->Item(0)->Info(), biTitle), "On the reader");

    // The reader comes back at another place, and its book has been changed in place without
    // changing size or time (only the remembered record can give the first title).
    ASSERT_TRUE(QDir().rename(first, second));
    QByteArray page = ReadFile(second + "Books/book.html");
    page.replace("On the reader", "Changed here!");
    MakeFile(second + "Books/book.html", page);
    SetTime(second + "Books/book.html", LongAgo);
    TReaderCategory again(QStringLiteral("阅读器"), second);
    again.EnsureLoaded();
    TCategory* shelfAgain = again.Category(again.IndexOfCategory("Books"));
    shelfAgain->EnsureLoaded();
    shelfAgain->Item(0)->EnsureLoaded();
    EXPECT_EQ(BookInfoText(shelfAgain->Item(0)->Info(), biTitle), "On the reader");
}

// A cover made fresh and the same cover taken from the desktop's thumbnail cache are the same
// pixels; the shared thumbnail is there for file managers.
TEST_F(CoversTest, CoverIsTheSameFreshOrFromTheThumbnailCache)
{
    const QString folder = FBooks.path() + "/shelf";
    MakeHtmlBook(folder, "book", "Covered", 3);
    const QString path = folder + "/book.html";
    SetTime(path, LongAgo);

    const QImage fresh = TBookReader::MakeCover(path, {});
    ASSERT_FALSE(fresh.isNull());
    EXPECT_LE(fresh.width(), TBookReader::CoverWidth);
    EXPECT_LE(fresh.height(), TBookReader::CoverHeight);
    EXPECT_TRUE(fresh.width() == TBookReader::CoverWidth ||
                fresh.height() == TBookReader::CoverHeight);

    QImage shared;
    ASSERT_EQ(ThumbnailStore::Find(path, LongAgo, shared), ThumbnailStore::TFound::Picture);
    EXPECT_LE(std::max(shared.width(), shared.height()), 128);

    // Without its picture the book could give no cover: this one comes from the cache.
    ASSERT_TRUE(QFile::remove(folder + "/pics/book.png"));
    const QImage cached = TBookReader::MakeCover(path, {});
    ASSERT_EQ(cached.size(), fresh.size());
    EXPECT_EQ(cached.format(), fresh.format());
    EXPECT_TRUE(cached == fresh);

    // A book without a cover is remembered as such, and asked again once it changed.
    const QString plain = folder + "/plain.html";
    MakeFile(plain, "<html><head><title>No picture</title></head><body>x</body></html>");
    SetTime(plain, LongAgo);
    EXPECT_TRUE(TBookReader::MakeCover(plain, {}).isNull());
    QImage none;
    EXPECT_EQ(ThumbnailStore::Find(plain, LongAgo, none), ThumbnailStore::TFound::KnownFailure);
    SetTime(plain, LongAgo + 5);
    EXPECT_EQ(ThumbnailStore::Find(plain, LongAgo + 5, none), ThumbnailStore::TFound::Miss);
}

// Thousands of covers asked for: the cache keeps no more than its capacity.
TEST_F(CoversTest, CoverCacheStaysBoundedOverThousandsOfBooks)
{
    constexpr int Books = 2000;
    const QString folder = FBooks.path() + "/many";
    MakeFolder(folder + "/pics");
    ASSERT_TRUE(Picture(4).scaled(120, 180).save(folder + "/pics/cover.png"));
    for (int i = 0; i < Books; ++i) {
        const QString path = folder + QStringLiteral("/%1.html").arg(i, 4, 10, QChar('0'));
        MakeFile(path, QStringLiteral("<html><head><title>第%1本</title></head><body>"
                                      "<img src=\"pics/cover.png\"></body></html>")
                           .arg(i)
                           .toUtf8());
        SetTime(path, LongAgo);
    }
    TRootFileSystemCategory shelf(QStringLiteral("书架"), folder + "/");
    shelf.EnsureLoaded();
    ASSERT_EQ(shelf.ItemCount(), Books);

    TBookReader reader(2);
    constexpr int Capacity = 50;
    TCoverCache covers(&reader, Capacity);
    for (int i = 0; i < Books; ++i) {
        TFileItem* item = shelf.Item(i);
        item->EnsureLoaded();
        EXPECT_TRUE(covers.Cover(item).isNull()); // made on the pool, never on the spot
        QCoreApplication::processEvents();
        EXPECT_LE(covers.Count(), Capacity);
    }
    ASSERT_TRUE(PumpUntil([&] { return covers.Pending() == 0 && reader.Outstanding() == 0; }));
    EXPECT_LE(covers.Count(), Capacity);
    EXPECT_GT(covers.Count(), 0);
    // A cover dropped from memory comes back when it is shown again.
    TFileItem* first = shelf.Item(0);
    bool known = false;
    QImage cover;
    ASSERT_TRUE(PumpUntil([&] {
        cover = covers.Cover(first, &known);
        return known;
    }));
    EXPECT_FALSE(cover.isNull());
    EXPECT_LE(covers.Count(), Capacity);
}

// Every queued job ends exactly once on the main thread, also when it is dropped, and a pool
// that goes away with work queued neither hangs nor calls anybody afterwards.
TEST_F(CoversTest, PoolEndsEveryJobOnceAndStopsCleanly)
{
    const QString folder = FBooks.path() + "/pool";
    for (int i = 0; i < 8; ++i) {
        MakeHtmlBook(folder, QString::number(i), QStringLiteral("书%1").arg(i), i);
        SetTime(folder + QStringLiteral("/%1.html").arg(i), LongAgo);
    }
    auto reader = std::make_unique<TBookReader>(2);
    QList<QString> ended;
    int stopped = 0;
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    for (int i = 0; i < 8; ++i) {
        TBookReader::TJob job;
        job.FullPath = folder + QStringLiteral("/%1.html").arg(i);
        job.CacheKeyPath = QFile::encodeName(job.FullPath);
        job.Info = true;
        job.Cover = true;
        job.Done = [&, path = job.FullPath, mainThread](TBookReader::TResult& result) {
            EXPECT_EQ(QThread::currentThreadId(), mainThread);
            ended << path;
            if (result.Stopped) {
                ++stopped;
                return;
            }
            EXPECT_TRUE(result.Read.Found);
            EXPECT_FALSE(result.Cover.isNull());
        };
        reader->Queue(std::move(job), i % 2 == 0);
    }
    reader->DropWaiting();
    ASSERT_TRUE(PumpUntil([&] { return reader->Outstanding() == 0; }));
    EXPECT_EQ(ended.size(), 8);
    EXPECT_EQ(QSet<QString>(ended.begin(), ended.end()).size(), 8);

    int calledAfter = 0;
    for (int i = 0; i < 200; ++i) {
        TBookReader::TJob job;
        job.FullPath = folder + QStringLiteral("/%1.html").arg(i % 8);
        job.Cover = true;
        job.Done = [&calledAfter](TBookReader::TResult&) { ++calledAfter; };
        reader->Queue(std::move(job), true);
    }
    reader.reset();
    const int before = calledAfter;
    QCoreApplication::processEvents();
    EXPECT_EQ(calledAfter, before);
    (void)stopped;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    SetFileInfoFolder(QStringLiteral(KORVEL_BIN_DIR "/ficomp/"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
