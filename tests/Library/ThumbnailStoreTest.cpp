// The desktop's thumbnail cache: what a look-up accepts and turns down, what Store writes
// against the freedesktop.org rules, and the file URIs that name thumbnails.
#include "ThumbnailStore.h"
#include "FileNames.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <functional>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

using ThumbnailStore::TFound;

namespace {

// A picture no two pixels of which are alike, so a mix-up of rows or channels shows.
QImage Cover(int width = 90, int height = 112)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 2, y * 2, (x * y) & 0xFF, 128 + (x + y) % 128));
    return image;
}

QByteArray Png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray Chunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    const QByteArray body = type + data;
    QByteArray crc(4, '\0');
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), body.size())),
                 crc.data());
    return chunk + body + crc;
}

// The keys written after the pixels, just before IEND (the standard allows it).
QByteArray WithTrailingKeys(const QByteArray& png, const QByteArray& uri, qint64 mtime)
{
    QByteArray out = png;
    out.insert(png.size() - 12,
               Chunk("tEXt", "Thumb::URI" + QByteArray(1, '\0') + uri) +
                   Chunk("tEXt", "Thumb::MTime" + QByteArray(1, '\0') + QByteArray::number(mtime)));
    return out;
}

// The picture with its header claiming `width` x `height` (checksum fixed).
QByteArray WithDeclaredSize(const QByteArray& png, quint32 width, quint32 height)
{
    QByteArray out = png;
    qToBigEndian(width, out.data() + 16);
    qToBigEndian(height, out.data() + 20);
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(out.constData() + 12), 17)),
                 out.data() + 29);
    return out;
}

bool SamePixels(const QImage& a, const QImage& b)
{
    return a.size() == b.size() &&
           a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

// Runs `work` on a thread of its own that obeys file permissions even when the tests run as
// root: capabilities belong to each thread, so the thread drops the ones that override them.
template <typename F> void AsOrdinaryUser(F work)
{
    std::thread thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (::syscall(SYS_capget, &header, data) == 0) {
            for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
                data[capability / 32].effective &= ~(1u << (capability % 32));
            ::syscall(SYS_capset, &header, data);
        }
        work();
    });
    thread.join();
}

mode_t ModeOf(const QString& path)
{
    struct stat status;
    return ::stat(FileNames::Encode(path).constData(), &status) == 0 ? status.st_mode & 07777
                                                                     : mode_t(-1);
}

class ThumbnailStoreTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FCache.isValid() && FBooks.isValid());
        FOldCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", FileNames::Encode(FCache.path()));
        FBook = FBooks.path() + QStringLiteral("/书 #1.epub");
        FOther = FBooks.path() + QStringLiteral("/moved/书 #1.epub");
    }
    void TearDown() override { qputenv("XDG_CACHE_HOME", FOldCache); }

    QString Md5Name(const QString& path) const
    {
        return QString::fromLatin1(
                   QCryptographicHash::hash(ThumbnailStore::FileUri(path), QCryptographicHash::Md5)
                       .toHex()) +
               ".png";
    }
    QString ThumbnailPath(const char* size, const QString& path) const
    {
        return FCache.path() + "/thumbnails/" + size + "/" + Md5Name(path);
    }
    void Put(const char* size, const QString& path, const QByteArray& bytes) const
    {
        QDir().mkpath(FCache.path() + "/thumbnails/" + size);
        QFile file(ThumbnailPath(size, path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray Read(const char* size, const QString& path) const
    {
        QFile file(ThumbnailPath(size, path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir FCache;
    QTemporaryDir FBooks;
    QByteArray FOldCache;
    QString FBook;
    QString FOther;
};

TEST_F(ThumbnailStoreTest, FindAcceptsOnlyThumbnailsWhoseKeysMatchTheFileNow)
{
    const QImage cover = Cover();
    // A thumbnail as another program writes it: Qt puts long texts into zTXt chunks.
    auto foreign = [&](const QString& path, qint64 mtime, QSize size) {
        QImage image = Cover(size.width(), size.height());
        image.setText("Thumb::URI", QString::fromLatin1(ThumbnailStore::FileUri(path)));
        image.setText("Thumb::MTime", QString::number(mtime));
        return Png(image);
    };
    struct TCase
    {
        const char* Name;
        std::function<void()> Prepare;
        qint64 MTime;
        TFound Expected;
        QSize Size = {}; // of the picture found
    };
    const TCase cases[] = {
        {"written by Store", [&] { ThumbnailStore::Store(FBook, 1000, 5, cover); }, 1000,
         TFound::Picture, cover.size()},
        {"file changed since", [&] { ThumbnailStore::Store(FBook, 1000, 5, cover); }, 1001,
         TFound::Miss},
        {"thumbnail of the file before it moved here",
         [&] { ThumbnailStore::Store(FOther, 1000, 5, cover); }, 1000, TFound::Miss},
        {"another file's thumbnail under this name",
         [&] {
             Put("normal", FBook, foreign(FOther, 1000, {64, 64}));
         },
         1000, TFound::Miss},
        {"damaged pixels",
         [&] {
             ThumbnailStore::Store(FBook, 1000, 5, cover);
             QByteArray png = Read("normal", FBook);
             const qsizetype idat = png.indexOf("IDAT");
             for (qsizetype i = idat + 8; i < idat + 40; ++i)
                 png[i] = char(png[i] ^ 0x5A);
             Put("normal", FBook, png);
         },
         1000, TFound::Miss},
        {"cut short",
         [&] {
             ThumbnailStore::Store(FBook, 1000, 5, cover);
             Put("normal", FBook, Read("normal", FBook).chopped(200));
         },
         1000, TFound::Miss},
        {"not a PNG", [&] { Put("normal", FBook, "GIF89a and then some"); }, 1000, TFound::Miss},
        {"a PNG without keys", [&] { Put("normal", FBook, Png(cover)); }, 1000, TFound::Miss},
        {"a PNG declaring an absurd size",
         [&] {
             Put("normal", FBook, WithDeclaredSize(foreign(FBook, 1000, {8, 8}), 60000, 60000));
         },
         1000, TFound::Miss},
        {"keys after the pixels",
         [&] {
             Put("normal", FBook,
                 WithTrailingKeys(Png(cover), ThumbnailStore::FileUri(FBook), 1000));
         },
         1000, TFound::Picture, cover.size()},
        {"large/ from another program when normal/ has none",
         [&] {
             Put("large", FBook, foreign(FBook, 1000, {256, 200}));
         },
         1000,
         TFound::Picture,
         {256, 200}},
        {"large/ when the one in normal/ is out of date",
         [&] {
             ThumbnailStore::Store(FBook, 999, 5, cover);
             Put("large", FBook, foreign(FBook, 1000, {256, 200}));
         },
         1000,
         TFound::Picture,
         {256, 200}},
        {"xx-large/ only",
         [&] {
             Put("xx-large", FBook, foreign(FBook, 1000, {1024, 700}));
         },
         1000,
         TFound::Picture,
         {1024, 700}},
        {"failure mark", [&] { ThumbnailStore::StoreFailure(FBook, 1000, 5); }, 1000,
         TFound::KnownFailure},
        {"failure mark, file changed since", [&] { ThumbnailStore::StoreFailure(FBook, 1000, 5); },
         1001, TFound::Miss},
        {"a picture wins over a failure mark",
         [&] {
             ThumbnailStore::StoreFailure(FBook, 1000, 5);
             ThumbnailStore::Store(FBook, 1000, 5, cover);
         },
         1000, TFound::Picture, cover.size()},
        {"nothing there", [] {}, 1000, TFound::Miss},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QDir(FCache.path() + "/thumbnails").removeRecursively();
        c.Prepare();
        QImage image(1, 1, QImage::Format_RGB32);
        EXPECT_EQ(ThumbnailStore::Find(FBook, c.MTime, image), c.Expected);
        if (c.Expected != TFound::Picture) {
            EXPECT_TRUE(image.isNull());
            continue;
        }
        EXPECT_EQ(image.size(), c.Size);
        if (c.Size == cover.size()) {
            EXPECT_TRUE(SamePixels(image, cover));
        }
    }
}

TEST_F(ThumbnailStoreTest, StoreWritesWhatTheStandardAsks)
{
    const QImage wide = Cover(600, 300);
    ASSERT_TRUE(ThumbnailStore::Store(FBook, 1700000000, 123456, wide));
    const QByteArray uri = ThumbnailStore::FileUri(FBook);
    const QString folder = FCache.path() + "/thumbnails/normal";
    // Only the thumbnail: no temporary file is left beside it.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList({QString::fromLatin1(
                               QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
                           ".png"}));
    const QString file = ThumbnailPath("normal", FBook);
    EXPECT_EQ(ModeOf(file), mode_t(0600));
    EXPECT_EQ(ModeOf(folder), mode_t(0700));
    EXPECT_EQ(ModeOf(FCache.path() + "/thumbnails"), mode_t(0700));

    const QImage thumbnail(file, "png");
    EXPECT_EQ(thumbnail.size(), QSize(128, 64));
    EXPECT_EQ(thumbnail.text("Thumb::URI"), QString::fromLatin1(uri));
    EXPECT_EQ(thumbnail.text("Thumb::MTime"), "1700000000");
    EXPECT_EQ(thumbnail.text("Thumb::Size"), "123456");
    EXPECT_EQ(thumbnail.text("Software"), "Korvel");
    // Plain tEXt before the pixels, as the standard says, even for a long URI.
    const QByteArray bytes = Read("normal", FBook);
    const qsizetype key = bytes.indexOf("tEXtThumb::URI" + QByteArray(1, '\0') + uri);
    EXPECT_GT(key, 0);
    EXPECT_LT(key, bytes.indexOf("IDAT"));

    // A picture that is small enough is kept as it is; a failure mark goes to our own folder.
    ASSERT_TRUE(ThumbnailStore::Store(FOther, 5, 1, Cover(20, 30)));
    EXPECT_EQ(QImageReader(ThumbnailPath("normal", FOther)).size(), QSize(20, 30));
    ASSERT_TRUE(ThumbnailStore::StoreFailure(FOther, 5, 1));
    const QString mark = FCache.path() + "/thumbnails/fail/korvel-1.0/" + Md5Name(FOther);
    EXPECT_EQ(QImage(mark).text("Thumb::URI"),
              QString::fromLatin1(ThumbnailStore::FileUri(FOther)));
    EXPECT_EQ(ModeOf(mark), mode_t(0600));
    EXPECT_EQ(ModeOf(FCache.path() + "/thumbnails/fail/korvel-1.0"), mode_t(0700));
}

TEST_F(ThumbnailStoreTest, AFolderThatCannotBeWrittenIsNoError)
{
    const QString thumbnails = FCache.path() + "/thumbnails";
    struct TCase
    {
        const char* Name;
        std::function<void()> Prepare;
    };
    const TCase cases[] = {
        {"folders without write permission",
         [&] {
             QDir().mkpath(thumbnails + "/normal");
             QDir().mkpath(thumbnails + "/fail");
             for (const QString& f : {thumbnails + "/normal", thumbnails + "/fail", thumbnails})
                 ::chmod(FileNames::Encode(f).constData(), 0500);
         }},
        {"a file where the thumbnails folder belongs",
         [&] {
             QFile file(thumbnails);
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         }},
    };
    auto writable = [&] {
        for (const QString& f : {thumbnails, thumbnails + "/normal", thumbnails + "/fail"})
            ::chmod(FileNames::Encode(f).constData(), 0700);
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        writable();
        QFile::remove(thumbnails);
        QDir(thumbnails).removeRecursively();
        c.Prepare();
        AsOrdinaryUser([&] {
            EXPECT_FALSE(ThumbnailStore::Store(FBook, 1000, 5, Cover()));
            EXPECT_FALSE(ThumbnailStore::StoreFailure(FBook, 1000, 5));
            QImage image;
            EXPECT_EQ(ThumbnailStore::Find(FBook, 1000, image), TFound::Miss);
        });
    }
    writable();
}

TEST_F(ThumbnailStoreTest, ReadersNeverSeeAHalfWrittenThumbnail)
{
    const QImage cover = Cover();
    ASSERT_TRUE(ThumbnailStore::Store(FBook, 1000, 5, cover));
    std::atomic<bool> done{false};
    std::atomic<int> stored{0};
    std::thread writer([&] {
        for (int i = 0; i < 150; ++i)
            stored += ThumbnailStore::Store(FBook, 1000, 5, cover);
        done = true;
    });
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            while (!done) {
                QImage image;
                if (ThumbnailStore::Find(FBook, 1000, image) != TFound::Picture ||
                    !SamePixels(image, cover))
                    ++bad;
            }
        });
    writer.join();
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(stored, 150);
    EXPECT_EQ(bad, 0);
}

TEST(ThumbnailStoreNames, FileUriEscapesLikeGLib)
{
    const struct
    {
        QString Path;
        const char* Uri;
    } cases[] = {
        {"/home/user/My Books/a b.epub", "file:///home/user/My%20Books/a%20b.epub"},
        {"/x/100%.txt", "file:///x/100%25.txt"},
        {"/x/#1?.txt", "file:///x/%231%3F.txt"},
        {QStringLiteral("/书/中文.epub"), "file:///%E4%B9%A6/%E4%B8%AD%E6%96%87.epub"},
        // GBK bytes from an archive made on Chinese Windows: the bytes themselves, escaped.
        {FileNames::Decode("/x/\xD6\xD0\xCE\xC4.txt"), "file:///x/%D6%D0%CE%C4.txt"},
        {"/x/!$&'()*+,-.:=@_~", "file:///x/!$&'()*+,-.:=@_~"},
        {"/x/;[]{}|\\^`\"<>", "file:///x/%3B%5B%5D%7B%7D%7C%5C%5E%60%22%3C%3E"},
        {QString::fromLatin1("/x/\x01\x7F") + QChar(0xE9), "file:///x/%01%7F%C3%A9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ThumbnailStore::FileUri(c.Path), QByteArray(c.Uri)) << c.Path.toStdString();
}

TEST(ThumbnailStoreNames, FolderFollowsTheEnvironment)
{
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", "/home/someone");
    qputenv("XDG_CACHE_HOME", "/var/cache/me/");
    EXPECT_EQ(ThumbnailStore::Folder(), "/var/cache/me/thumbnails/");
    qunsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(ThumbnailStore::Folder(), "/home/someone/.cache/thumbnails/");
    qputenv("XDG_CACHE_HOME", "relative/cache"); // not absolute: ignored
    EXPECT_EQ(ThumbnailStore::Folder(), "/home/someone/.cache/thumbnails/");
    qputenv("XDG_CACHE_HOME", oldCache);
    qputenv("HOME", oldHome);
}

} // namespace
