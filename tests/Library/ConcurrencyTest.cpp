// The search walks the library on its own thread while the user keeps working. These tests
// reload, free, rename and add while a walker runs, again and again; the sanitizers (address,
// and thread in its own build) report any object used after it was freed or touched by both
// threads at once.
#include "Categories.h"
#include "FileInfo.h"
#include "FileOperations.h"
#include "LibraryTestUtil.h"
#include "ModelGuard.h"

#include <atomic>
#include <random>
#include <thread>

namespace {

class TWalker
{
public:
    explicit TWalker(TCategory* root) : FRoot(root) {}
    ~TWalker() { Stop(); }

    void Start()
    {
        if (FThread.joinable()) return;
        FStop = false;
        ModelGuard().WalkStarted();
        FThread = std::thread([this] {
            while (!FStop) {
                int seen = 0;
                WalkCategory(FRoot, FStop, [&](TFileItem* item) {
                    ++seen;
                    // What the matcher reads.
                    FChars +=
                        BookInfoText(item->Info(), biCreationDate).size() + item->Name().size();
                });
                if (!FStop) {
                    ++FCompleteWalks;
                    FLastCount = seen;
                }
            }
        });
    }

    void Stop()
    {
        FStop = true;
        if (FThread.joinable()) {
            FThread.join();
            ModelGuard().WalkEnded();
        }
    }

    bool Running() const { return FThread.joinable(); }
    int CompleteWalks() const { return FCompleteWalks; }
    int LastCount() const { return FLastCount; }

private:
    TCategory* FRoot;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<int> FCompleteWalks{0};
    std::atomic<int> FLastCount{0};
    std::atomic<long> FChars{0};
};

void MakeLibrary(const QString& root, int shelves, int books)
{
    for (int s = 0; s < shelves; ++s)
        for (int b = 0; b < books; ++b) {
            MakeFile(QStringLiteral("%1/shelf %2/book %3.txt").arg(root).arg(s).arg(b));
            if (b % 10 == 0)
                MakeFile(QStringLiteral("%1/shelf %2/sub/deep %3.txt").arg(root).arg(s).arg(b));
        }
}

} // namespace

TEST(Concurrency, AWalkSeesEveryBookOfAnUnchangedLibrary)
{
    ModelGuard().SetMainThread();
    QTemporaryDir dir;
    MakeLibrary(dir.path(), 5, 20); // 100 books and 10 deep ones
    TRootFileSystemCategory root(QStringLiteral("r"), dir.path());
    TWalker walker(&root);
    walker.Start();
    while (walker.CompleteWalks() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    walker.Stop();
    EXPECT_EQ(walker.LastCount(), 110);
    EXPECT_TRUE(root.Loaded());
}

TEST(Concurrency, TheModelChangesWhileAWalkerRuns)
{
    ModelGuard().SetMainThread();
    QTemporaryDir dir;
    MakeLibrary(dir.path(), 6, 30);
    TRootFileSystemCategory root(QStringLiteral("r"), dir.path());
    TSearchResultCategory results(QStringLiteral("搜索结果"), QString());
    TWalker walker(&root);
    int stops = 0;
    ModelGuard().SetStopWalkers([&] {
        ++stops;
        walker.Stop();
    });

    std::mt19937 random(7);
    MakeFile(dir.filePath("incoming.txt"), "new book");
    for (int round = 0; round < 150; ++round) {
        walker.Start();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
        root.EnsureLoaded(); // loads race with the walker's loads
        switch (round % 6) {
        case 0:
            root.SetLoadMode(lmAll);
            break;
        case 1:
            if (root.CategoryCount() > 0) {
                TCategory* shelf = root.Category(static_cast<int>(random() % root.CategoryCount()));
                shelf->EnsureLoaded();
                for (int i = 0; i < shelf->ItemCount(); i += 3)
                    results.Items().Add(shelf->Item(i));
                shelf->SetLoadMode(lmItemsOnly); // frees books listed in the results
            }
            break;
        case 2:
            if (root.CategoryCount() > 0) root.Categories().Delete(root.CategoryCount() - 1);
            break;
        case 3:
            AddBook(&root, dir.filePath("incoming.txt")); // appends while the walker reads
            CreateBookshelf(&root, root.UniqueCategoryName(QStringLiteral("新建书架")));
            break;
        case 4:
            if (root.CategoryCount() > 0) {
                TCategory* shelf = root.Category(0);
                RenameBookshelf(shelf, shelf->Name() + QStringLiteral("x"));
            }
            break;
        case 5:
            for (int i = 0; i < root.ItemCount(); ++i)
                root.Item(i)->Reload();
            results.Clear();
            break;
        }
        // No freed book may stay listed: every listed one still answers for its shelf.
        for (int i = 0; i < results.ItemCount(); ++i)
            EXPECT_EQ(results.Item(i)->SearchOwner(), &results);
    }
    walker.Stop();
    ModelGuard().SetStopWalkers(nullptr);
    EXPECT_GT(stops, 0);
}

TEST(Concurrency, EmptyingTheSearchResultsLetsTheWalkGoOn)
{
    ModelGuard().SetMainThread();
    QTemporaryDir dir;
    MakeLibrary(dir.path(), 3, 10);
    TRootFileSystemCategory root(QStringLiteral("r"), dir.path());
    root.EnsureLoaded();
    TCategory* shelf = root.Category(0);
    shelf->EnsureLoaded();
    TSearchResultCategory results(QStringLiteral("搜索结果"), QString());
    TWalker walker(&root);
    int stops = 0;
    ModelGuard().SetStopWalkers([&] {
        ++stops;
        walker.Stop();
    });
    walker.Start();
    // The results list books they do not own: emptying them frees nothing the walk holds.
    for (int i = 0; i < shelf->ItemCount(); ++i) results.Items().Add(shelf->Item(i));
    results.Items().Remove(shelf->Item(0));
    results.Clear();
    EXPECT_EQ(stops, 0);
    EXPECT_TRUE(walker.Running());
    walker.Stop();
    ModelGuard().SetStopWalkers(nullptr);
}
