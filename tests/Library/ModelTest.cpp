#include "Categories.h"
#include "LibraryTestUtil.h"

#include <QUrl>

namespace {

// A category that counts its loads and the frees of its children.
class TCountingCategory : public TCategory
{
public:
    using TCategory::TCategory;
    bool Load() override
    {
        ++Loads;
        return TCategory::Load();
    }
    int Loads = 0;
};

class TTrackedItem : public TFileItem
{
public:
    TTrackedItem(const QString& path, int* freed) : TFileItem(path), FFreed(freed) {}
    ~TTrackedItem() override { ++*FFreed; }

private:
    int* FFreed;
};

} // namespace

TEST(Model, ConstructorsApplyTheMostDerivedPathRule)
{
    TFileItem book(QStringLiteral("/books/科幻/三体.epub"));
    EXPECT_EQ(book.Name(), QStringLiteral("三体.epub"));
    EXPECT_EQ(book.Path(), QStringLiteral("三体.epub"));
    EXPECT_EQ(book.FileName(), QStringLiteral("三体.epub"));
    EXPECT_EQ(book.State(), isModifiable | isContainer);

    TFileSystemCategory shelf(QStringLiteral("Shown"), QStringLiteral("/a/b/folder/"), 3);
    EXPECT_EQ(shelf.Name(), QStringLiteral("Shown")); // the explicit name wins
    EXPECT_EQ(shelf.Path(), QStringLiteral("folder/"));
    EXPECT_EQ(shelf.GetKind(), ckList);

    TRootFileSystemCategory root(QStringLiteral("本地书库"), QStringLiteral("/data/Storages"));
    EXPECT_EQ(root.Path(), QStringLiteral("/data/Storages/"));
    EXPECT_EQ(root.State(), isContainer);

    TReaderCategory slot(QStringLiteral("阅读器书库"), QString());
    EXPECT_EQ(slot.Path(), QStringLiteral("/"));
    EXPECT_EQ(slot.DriveLetter(), 0);

    // Full paths: root, shelf folder with "/", file name.
    auto* sub =
        new TFileSystemCategory(QStringLiteral("科幻"), QStringLiteral("/data/Storages/科幻"), 3);
    root.Categories().Add(sub);
    auto* item = new TFileItem(QStringLiteral("/elsewhere/三体.epub"));
    sub->Items().Add(item);
    EXPECT_EQ(item->GetFullPath(), QStringLiteral("/data/Storages/科幻/三体.epub"));
    EXPECT_EQ(item->Parent(), sub);
}

TEST(Model, UniqueCategoryNames)
{
    TCategory c(QString(), QString(), ckList, 0);
    EXPECT_EQ(c.UniqueCategoryName(QStringLiteral("新建书架")), QStringLiteral("新建书架"));
    c.Categories().Add(new TCategory(QStringLiteral("新建书架"), QString(), ckList, 0));
    c.Categories().Add(new TCategory(QStringLiteral("新建书架 (1)"), QString(), ckList, 0));
    EXPECT_EQ(c.UniqueCategoryName(QStringLiteral("新建书架")), QStringLiteral("新建书架 (2)"));
    c.Categories().Add(new TCategory(QStringLiteral("Shelf"), QString(), ckList, 0));
    EXPECT_EQ(c.UniqueCategoryName(QStringLiteral("SHELF")), QStringLiteral("SHELF (1)"));
    EXPECT_EQ(c.IndexOfCategory(QStringLiteral("shelf")), 2);
    // Only ASCII letters fold.
    EXPECT_EQ(c.IndexOfCategory(QStringLiteral("新建书架 (1)")), 1);
}

TEST(Model, LazyLoadingRunsLoadOnceAndReloadAgain)
{
    TCountingCategory c(QString(), QString(), ckList, 0);
    int loadedEvents = 0;
    c.OnLoaded = [&](TItemBase*) { ++loadedEvents; };
    EXPECT_EQ(c.ItemCount(), 0);
    EXPECT_EQ(c.CategoryCount(), 0);
    EXPECT_FALSE(c.Loaded());
    c.EnsureLoaded();
    c.EnsureLoaded();
    EXPECT_EQ(c.Loads, 1);
    EXPECT_EQ(loadedEvents, 1);
    c.Reload();
    EXPECT_EQ(c.Loads, 2);
    EXPECT_EQ(loadedEvents, 2);
}

TEST(Model, ClearFollowsTheLoadModeAndKeepsTaskChildren)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("a.txt"));
    MakeFile(dir.filePath("shelf/b.txt"));
    TRootFileSystemCategory root(QStringLiteral("root"), dir.path());
    root.EnsureLoaded();
    ASSERT_EQ(root.CategoryCount(), 1);
    ASSERT_EQ(root.ItemCount(), 1);
    auto* task = new TCategory(QStringLiteral("downloads"), QString(), ckTask, 0);
    root.Categories().Add(task);
    TCategory* shelf = root.Category(0);
    shelf->ViewNode = &root;
    root.Items()[0]->ViewNode = &root;

    root.SetLoadMode(lmItemsOnly);
    EXPECT_EQ(root.Category(0), shelf); // the same child objects, their view handles intact
    EXPECT_EQ(shelf->ViewNode, &root);
    ASSERT_EQ(root.ItemCount(), 1);
    EXPECT_EQ(root.Items()[0]->ViewNode, nullptr); // a new object

    MakeFile(dir.filePath("c.txt"));
    root.SetLoadMode(lmCategoriesOnly);
    EXPECT_EQ(root.ItemCount(), 1); // books kept, shelves rebuilt
    EXPECT_EQ(NamesOf(root.Categories()), QStringList({"downloads", "shelf"}));

    root.SetLoadMode(lmAll);
    EXPECT_EQ(root.ItemCount(), 2);
    EXPECT_EQ(root.Category(0), task); // kind ckTask survives, listed first now
    EXPECT_EQ(root.CategoryCount(), 2);
}

TEST(Model, OwnershipAndSearchResults)
{
    int freed = 0;
    TCategory shelf(QString(), QString(), ckList, 0);
    TSearchResultCategory results(QStringLiteral("搜索结果"), QString());
    auto* a = new TTrackedItem(QStringLiteral("/x/a.txt"), &freed);
    auto* b = new TTrackedItem(QStringLiteral("/x/b.txt"), &freed);
    auto* c = new TTrackedItem(QStringLiteral("/x/c.txt"), &freed);
    for (auto* item : {a, b, c}) {
        shelf.Items().Add(item);
        results.Items().Add(item);
        EXPECT_EQ(item->SearchOwner(), &results);
        EXPECT_EQ(item->Parent(), &shelf); // the results do not take the parent
    }
    // Deleting from the results frees nothing.
    results.Items().Remove(a);
    EXPECT_EQ(freed, 0);
    EXPECT_EQ(a->SearchOwner(), nullptr);

    // A book freed by its own shelf leaves the results too.
    shelf.Items().Remove(b);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(results.ItemCount(), 1);
    EXPECT_EQ(results.Items()[0], c);

    // Clearing the results keeps the books in their shelf.
    results.Clear();
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(c->SearchOwner(), nullptr);
    EXPECT_EQ(shelf.ItemCount(), 2);

    // Reloading a shelf whose books are listed empties them from the results.
    results.Items().Add(c);
    shelf.Clear();
    EXPECT_EQ(freed, 3);
    EXPECT_EQ(results.ItemCount(), 0);
}

TEST(Model, SearchResultsDestroyedBeforeTheirBooks)
{
    int freed = 0;
    TCategory shelf(QString(), QString(), ckList, 0);
    {
        TSearchResultCategory results(QStringLiteral("搜索结果"), QString());
        auto* a = new TTrackedItem(QStringLiteral("/x/a.txt"), &freed);
        shelf.Items().Add(a);
        results.Items().Add(a);
    }
    EXPECT_EQ(freed, 0);
    EXPECT_EQ(shelf.Item(0)->SearchOwner(), nullptr);
}

TEST(Model, SystemCategoryChildren)
{
    QTemporaryDir dir;
    TSystemCategory::SetLocalLibraryPath(dir.filePath("Storages/"));
    TSystemCategory root;
    ASSERT_EQ(root.CategoryCount(), 4);
    const struct
    {
        const char* Name;
        TItemStates State;
        TCategoryKind Kind;
    } expected[] = {{"网上书城", 0, ckBrowser},
                    {"本地书库", isContainer, ckList},
                    {"阅读器书库", isContainer, ckList},
                    {"阅读器书库", isContainer, ckList}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(root.Child(i)->Name(), QString::fromUtf8(expected[i].Name));
        EXPECT_EQ(root.Child(i)->State(), expected[i].State);
        EXPECT_EQ(root.Child(i)->GetKind(), expected[i].Kind);
    }
    EXPECT_EQ(root.LocalLibrary()->GetFullPath(), dir.filePath("Storages/"));
    // The program never creates the library folder: missing until the installer made it.
    EXPECT_TRUE(root.LocalLibrary()->GetState() & isMissing);
    MakeFolder(dir.filePath("Storages"));
    EXPECT_FALSE(root.LocalLibrary()->GetState() & isMissing);

    root.SetLoadMode(lmAll); // Clear does nothing for the root
    EXPECT_EQ(root.CategoryCount(), 4);
    EXPECT_FALSE(root.HasSearchResults());
    TSearchResultCategory* results = root.FindSearchResults();
    EXPECT_EQ(root.FindSearchResults(), results);
    EXPECT_EQ(root.CategoryCount(), 5);
    EXPECT_EQ(results->Name(), QStringLiteral("搜索结果"));
    EXPECT_TRUE(root.HasSearchResults());
    TSystemCategory::SetLocalLibraryPath(QString());
}

TEST(Model, StorePagesComeFromTheHomeFile)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home.dll");
    // Code page 936 text: 书城首页 and 排行榜 and 在线用户手册.
    MakeFile(home,
             "[Home]\r\n2.\xCA\xE9\xB3\xC7\xCA\xD7\xD2\xB3=https://store.example/index\r\n"
             "0=https://store.example/\r\n1.\xC5\xC5\xD0\xD0\xB0\xF1=https://store.example/top\r\n"
             "Empty=\r\nplain=https://store.example/plain\r\n"
             "3.\xD4\xDA\xCF\xDF\xD3\xC3\xBB\xA7\xCA\xD6\xB2\xE1=Manual/index.html\r\n");
    TBrowserCategory::SetHomeFileName(home);
    TBrowserCategory store(QStringLiteral("网上书城"), QStringLiteral("https://builtin.example/"));
    EXPECT_TRUE(store.HasChildren());
    EXPECT_EQ(store.GetFullPath(), QStringLiteral("https://store.example/"));
    ASSERT_EQ(store.CategoryCount(), 4);
    EXPECT_EQ(store.Category(0)->Name(), QStringLiteral("排行榜"));
    EXPECT_EQ(store.Category(1)->Name(), QStringLiteral("书城首页"));
    EXPECT_EQ(store.Category(2)->Name(), QStringLiteral("在线用户手册"));
    EXPECT_TRUE(QUrl(store.Category(2)->GetFullPath()).isLocalFile());
    EXPECT_TRUE(store.Category(2)->GetFullPath().endsWith(QStringLiteral("Manual/index.html")));
    EXPECT_EQ(store.Category(3)->Name(), QStringLiteral("plain"));
    EXPECT_EQ(store.Category(3)->GetFullPath(), QStringLiteral("https://store.example/plain"));
    EXPECT_FALSE(static_cast<TBrowserCategory*>(store.Category(0))->IsHome());
    EXPECT_FALSE(store.Category(0)->HasChildren());

    // A missing home file: the built-in address and no sub-pages.
    TBrowserCategory::SetHomeFileName(dir.filePath("none.dll"));
    TBrowserCategory bare(QStringLiteral("网上书城"), QStringLiteral("https://builtin.example/"));
    EXPECT_FALSE(bare.HasChildren());
    EXPECT_EQ(bare.GetFullPath(), QStringLiteral("https://builtin.example/"));
    TBrowserCategory::SetHomeFileName(QString());
}

TEST(Search, KeywordSplitting)
{
    const struct
    {
        const char* Text;
        QStringList Keywords;
    } cases[] = {
        {"harry,potter", {"HARRY", "POTTER"}},
        {"  Harry  Potter ", {"HARRY", "POTTER"}},
        {"\"Harry Potter\",三体", {"HARRY POTTER", "三体"}},
        {"\"say \"\"hi\"\"\"", {"SAY \"HI\""}},
        {"a\tb", {"A", "B"}},
        {",", {"", ""}},
        {"", {}},
        {"   ", {}},
        {"ä-é", {"ä-é"}}, // only ASCII letters change case
    };
    for (const auto& c : cases) {
        QStringList got;
        for (const TKeyword& k : SplitKeywords(QString::fromUtf8(c.Text)))
            got << k.Text;
        EXPECT_EQ(got, c.Keywords) << c.Text;
    }
}

TEST(Search, EveryKeywordInSomeSelectedField)
{
    const auto match = [](QStringList texts, const char* query) {
        TKeywordList keywords = SplitKeywords(QString::fromUtf8(query));
        return MatchesKeywordTexts(texts, keywords);
    };
    // Title "Harry", author "Potter".
    EXPECT_TRUE(match({"Harry", "Potter"}, "HARRY,POTTER"));
    EXPECT_FALSE(match({"Harry"}, "HARRY,POTTER"));
    EXPECT_TRUE(match({"三体 全集"}, "三体"));
    EXPECT_FALSE(match({"anything"}, ",")); // empty keywords never match
    EXPECT_FALSE(match({}, "harry"));       // no field selected
    EXPECT_FALSE(match({"harry"}, ""));     // no keyword at all

    TFileItem item(QStringLiteral("/x/Harry Potter.txt"));
    TKeywordList keywords = SplitKeywords(QStringLiteral("potter"));
    QStringList scratch{"left over"};
    EXPECT_TRUE(MatchesKeywords(&item, keywords, scratch, sfFileName));
    EXPECT_EQ(scratch, QStringList({"Harry Potter.txt"}));
    EXPECT_FALSE(MatchesKeywords(&item, keywords, scratch, sfTitle | sfAuthor)); // no information
    EXPECT_FALSE(MatchesKeywords(&item, keywords, scratch, 0));
}
