#include "FileInfo.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

// A private "ficomp" folder with copies of the recording libraries (A and C ask for the default
// library on files with "need" in their name, B never does, E has no exports, "libsummary.so"
// is the default library S) and a map written by the test.
class FileInfoManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FFolder = FDir.path() + "/ficomp/";
        QDir().mkpath(FFolder);
        const QString plugins = QStringLiteral(KORVEL_TEST_PLUGINS) + "/";
        for (auto [from, to] : {std::pair{"libRecordingA.so", "libA.so"},
                                {"libRecordingB.so", "libB.so"},
                                {"libRecordingC.so", "libC.so"},
                                {"libRecordingEmpty.so", "libE.so"},
                                {"libRecordingSummary.so", "libsummary.so"}})
            ASSERT_TRUE(QFile::copy(plugins + from, FFolder + to)) << from;
        WriteFile(FFolder + "notalib.so", "this is not a library\n");
        FLog = FDir.path() + "/calls.log";
        setenv("KORVEL_TEST_PLUGIN_LOG", QFile::encodeName(FLog).constData(), 1);
    }
    void TearDown() override { unsetenv("KORVEL_TEST_PLUGIN_LOG"); }

    static void WriteFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    void WriteMap(const QByteArray& map) { WriteFile(FFolder + "fimap.ini", map); }

    // The calls the libraries saw since the last look, one per line.
    QStringList Calls()
    {
        QFile f(FLog);
        QStringList lines;
        if (f.open(QIODevice::ReadOnly))
            lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        f.remove();
        return lines;
    }

    // The title the libraries wrote for a book, "-" when the call answered false.
    static QString Title(TFileInfoManager& manager, const QString& book,
                         const TFileInfoManager::TAbortHandler& abort = {})
    {
        TBookInfo info{};
        if (!manager.GetFileInfo("/books/" + book, info, abort)) return "-";
        return BookInfoText(info, biTitle);
    }

    QTemporaryDir FDir;
    QString FFolder;
    QString FLog;
};

TEST_F(FileInfoManagerTest, MapRulesChooseTheLibrary)
{
    struct TCase
    {
        const char* Map;
        int Plugins;
        std::vector<std::pair<const char*, const char*>> Books; // book, expected title
    };
    const TCase cases[] = {
        // The first line naming an extension wins, ignoring case; both libraries load.
        {"txt=libA.so\r\nTXT,doc=libB.so\r\n",
         2,
         {{"a.txt", "A"}, {"b.TxT", "A"}, {"c.doc", "B"}, {"d.pdf", "-"}}},
        // Comments and lines without a name or a value are ignored; blanks and empty pieces
        // around the extensions are dropped.
        {"; pdf=libA.so\n=libA.so\npdf=\nno equals sign\n  pdf , , epub  =  libB.so  \n",
         1,
         {{"a.pdf", "B"}, {"b.EPUB", "B"}, {"c.txt", "-"}}},
        // "*" takes files without extension and with an unmapped one; a dot in a folder name is
        // no extension, nor is a trailing dot.
        {"txt=libA.so\n*=libB.so\n",
         2,
         {{"a.txt", "A"}, {"noext", "B"}, {"b.zzz", "B"}, {"dir.d/noext", "B"}, {"c.", "B"}}},
        // Without "*" such files get nothing.
        {"txt=libA.so\n", 1, {{"noext", "-"}, {"b.zzz", "-"}}},
        // A library that does not load is skipped silently, so a later line takes its extension.
        {"txt=missing.so\ntxt=notalib.so\ntxt=libB.so\n", 1, {{"a.txt", "B"}}},
        // A library without exports stays loaded and is simply not called.
        {"txt=libE.so\n*=libB.so\n", 2, {{"a.txt", "-"}, {"b.pdf", "B"}}},
        // An empty map.
        {"", 0, {{"a.txt", "-"}, {"noext", "-"}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Map);
        WriteMap(c.Map);
        TFileInfoManager manager(FFolder);
        EXPECT_TRUE(manager.Loaded());
        EXPECT_EQ(manager.PluginCount(), c.Plugins);
        for (auto [book, title] : c.Books)
            EXPECT_EQ(Title(manager, book), title) << book;
    }
}

TEST_F(FileInfoManagerTest, MissingMapIsEmpty)
{
    TFileInfoManager manager(FFolder);
    EXPECT_TRUE(manager.Loaded());
    EXPECT_EQ(manager.PluginCount(), 0);
    EXPECT_EQ(manager.SupportedFilter(), "");
    EXPECT_EQ(Title(manager, "a.txt"), "-");
    Calls();
    EXPECT_EQ(Title(manager, ""), "-");
    EXPECT_TRUE(Calls().isEmpty());
}

TEST_F(FileInfoManagerTest, InformationRunsDefaultFirstThumbnailPluginFirst)
{
    WriteMap("txt=libA.so\npdf=libB.so\n");
    TFileInfoManager manager(FFolder);
    Calls();

    TBookInfo info{};
    EXPECT_TRUE(manager.GetFileInfo("/books/need.txt", info));
    EXPECT_EQ(Calls(), QStringList({"A NeedDefaultSummaryInfo need.txt", "S GetFileInfo need.txt",
                                    "A GetFileInfo need.txt"}));
    EXPECT_EQ(BookInfoText(info, biTitle), "A"); // the plug-in wrote last
    EXPECT_EQ(info.Data[biReserved3 + 'S' % 200], 1);
    EXPECT_EQ(info.Data[biReserved3 + 'A' % 200], 1);

    TThumbnailInfo thumbnail{90, 112, nullptr};
    EXPECT_TRUE(manager.GetThumbnail("/books/need.txt", thumbnail));
    EXPECT_EQ(Calls(), QStringList({"A NeedDefaultSummaryInfo need.txt", "A GetThumbnail need.txt",
                                    "S GetThumbnail need.txt"}));
    ASSERT_NE(thumbnail.Pixels, nullptr);
    EXPECT_EQ(thumbnail.Pixels[0], uint32_t('S')); // the default's picture is kept
    ReleaseThumbnail(thumbnail);
    EXPECT_EQ(thumbnail.Pixels, nullptr);

    // Without the request for the default only the plug-in runs; B has no such export.
    for (const char* book : {"plain.txt", "need.pdf"}) {
        const QString b = QString::fromLatin1(book);
        const QString lib = b.endsWith("txt") ? "A" : "B";
        TBookInfo other{};
        EXPECT_TRUE(manager.GetFileInfo("/books/" + b, other));
        TThumbnailInfo picture{90, 112, nullptr};
        EXPECT_TRUE(manager.GetThumbnail("/books/" + b, picture));
        EXPECT_EQ(picture.Pixels[0], uint32_t(lib[0].unicode()));
        ReleaseThumbnail(picture);
        QStringList expected;
        if (lib == "A") expected << "A NeedDefaultSummaryInfo " + b;
        expected << lib + " GetFileInfo " + b;
        if (lib == "A") expected << "A NeedDefaultSummaryInfo " + b;
        expected << lib + " GetThumbnail " + b;
        EXPECT_EQ(Calls(), expected);
    }
}

TEST_F(FileInfoManagerTest, FailingLibrariesKeepWhatWasProduced)
{
    WriteMap("txt=libA.so\n");
    TFileInfoManager manager(FFolder);

    // The plug-in's answer is the result, even when the default filled the record.
    TBookInfo info{};
    EXPECT_FALSE(manager.GetFileInfo("/books/need_noA.txt", info));
    EXPECT_EQ(BookInfoText(info, biTitle), "S");

    // A default without a picture keeps the plug-in's, and its success.
    TThumbnailInfo thumbnail{90, 112, nullptr};
    EXPECT_TRUE(manager.GetThumbnail("/books/need_noS.txt", thumbnail));
    ASSERT_NE(thumbnail.Pixels, nullptr);
    EXPECT_EQ(thumbnail.Pixels[0], uint32_t('A'));
    ReleaseThumbnail(thumbnail);

    // Nothing produced: the record stays as the caller left it.
    TThumbnailInfo none{90, 112, nullptr};
    EXPECT_FALSE(manager.GetThumbnail("/books/need_fail.txt", none));
    EXPECT_EQ(none.Pixels, nullptr);
    EXPECT_EQ(none.Width, 90);
}

TEST_F(FileInfoManagerTest, AbortIsAskedBeforeEachCallAndPassedToTheLibraries)
{
    WriteMap("txt=libA.so\n");
    TFileInfoManager manager(FFolder);
    // Queries in order: before the default, the default's poll, before the plug-in, the
    // plug-in's poll. Once a stop is asked for it stays asked for.
    struct TCase
    {
        int StopAt;
        const char* Title;
        QStringList Calls;
    };
    const QString n = "A NeedDefaultSummaryInfo need.txt", s = "S GetFileInfo need.txt",
                  a = "A GetFileInfo need.txt";
    const TCase cases[] = {
        {1, "-", {n}},        {2, "-", {n, s, "S stopped need.txt"}},
        {3, "S", {n, s}},     {4, "-", {n, s, a, "A stopped need.txt"}},
        {99, "A", {n, s, a}},
    };
    Calls();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.StopAt);
        int asked = 0;
        const QString title = Title(manager, "need.txt", [&] { return ++asked >= c.StopAt; });
        EXPECT_EQ(title, c.Title);
        EXPECT_EQ(Calls(), c.Calls);
    }
    // Outside a call nobody answers.
    EXPECT_FALSE(TFileInfoManager::QueryAbort());
    TThumbnailInfo thumbnail{90, 112, nullptr};
    EXPECT_FALSE(manager.GetThumbnail("/books/need.txt", thumbnail, [] { return true; }));
    EXPECT_EQ(Calls(), QStringList({n}));
}

TEST_F(FileInfoManagerTest, EachThreadIsAskedByItsOwnHandler)
{
    WriteMap("*=libB.so\n");
    TFileInfoManager manager(FFolder);
    unsetenv("KORVEL_TEST_PLUGIN_LOG");
    std::atomic<int> wrongThread = 0;
    auto reader = [&](bool stop, int& succeeded) {
        const auto self = std::this_thread::get_id();
        for (int i = 0; i < 300; ++i) {
            int asked = 0;
            TBookInfo info{};
            const auto handler = [&] {
                if (std::this_thread::get_id() != self) ++wrongThread;
                // Let the first query pass, so the library's own poll decides.
                return ++asked > 1 && stop;
            };
            if (manager.GetFileInfo("/books/x.bin", info, handler)) ++succeeded;
        }
    };
    int stoppedOk = 0, runningOk = 0;
    std::thread stopping(reader, true, std::ref(stoppedOk));
    std::thread running(reader, false, std::ref(runningOk));
    stopping.join();
    running.join();
    EXPECT_EQ(wrongThread, 0);
    EXPECT_EQ(stoppedOk, 0);
    EXPECT_EQ(runningOk, 300);
}

TEST_F(FileInfoManagerTest, SupportedFilterListsRealExtensionsInOrder)
{
    const std::pair<const char*, const char*> cases[] = {
        {"*=libA.so\ntxt=libA.so\nPDF=libB.so\n", "*.PDF;*.txt"},
        {"txt,pdf=libA.so\nchm=libB.so\nPDF=libB.so\n", "*.chm;*.pdf;*.txt"},
        {"*=libA.so\n", ""},
    };
    for (auto [map, filter] : cases) {
        WriteMap(map);
        EXPECT_EQ(TFileInfoManager(FFolder).SupportedFilter(), filter) << map;
    }
}

TEST_F(FileInfoManagerTest, LibrariesUnloadInReverseOrder)
{
    WriteMap("txt=libA.so\npdf=libB.so\nepub=libC.so\n");
    {
        TFileInfoManager manager(FFolder);
        EXPECT_EQ(manager.PluginCount(), 3);
        Calls();
    }
    EXPECT_EQ(Calls(), QStringList({"C unload -", "B unload -", "A unload -", "S unload -"}));
}

TEST_F(FileInfoManagerTest, PropertiesGoToTheDefaultLibraryAndItsAbsenceIsHarmless)
{
    WriteMap("txt=libA.so\n");
    {
        TFileInfoManager manager(FFolder);
        Calls();
        manager.ShowProperties(nullptr, "/books/a.txt");
        EXPECT_EQ(Calls(), QStringList({"S ShowProperties a.txt"}));
    }
    QFile::remove(FFolder + "libsummary.so");
    TFileInfoManager manager(FFolder);
    EXPECT_FALSE(manager.HasSummary());
    manager.ShowProperties(nullptr, "/books/a.txt");
    // The plug-in still answers; the default it asks for is simply not there.
    EXPECT_EQ(Title(manager, "need.txt"), "A");
    TThumbnailInfo thumbnail{90, 112, nullptr};
    EXPECT_TRUE(manager.GetThumbnail("/books/need.txt", thumbnail));
    ReleaseThumbnail(thumbnail);
    Calls();
}

} // namespace
