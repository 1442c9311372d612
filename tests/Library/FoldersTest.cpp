#include "Categories.h"
#include "FileInfo.h"
#include "FileNames.h"
#include "FileOperations.h"
#include "LibraryTestUtil.h"
#include "../Support/FakeRoot.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QStringList FilesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(folder.size() + 1);
    files.sort();
    return files;
}

} // namespace

TEST(Folders, EnumerationSkipsHiddenLinksAndReservedReaderFolders)
{
    QTemporaryDir dir;
    const QString r = dir.path();
    for (const char* f :
         {"book.epub", ".hidden.txt", "shortcut.LNK", "deep/_sys_/x.txt", "Xal/sys.bin",
          "_SYS_/fw.bin", "ordinary/a.txt", "folder.lnk/b.txt", ".config/c.txt"})
        MakeFile(r + "/" + f);
    ASSERT_EQ(symlink("/nonexistent/target", QFile::encodeName(r + "/dangling.txt").constData()),
              0);

    TReaderCategory reader(QStringLiteral("阅读器书库 E:"), r);
    reader.EnsureLoaded();
    EXPECT_EQ(NamesOf(reader.Items()), QStringList({"book.epub"}));
    EXPECT_EQ(NamesOf(reader.Categories()), QStringList({"deep", "ordinary"}));
    TCategory* deep = reader.Category(reader.IndexOfCategory("deep"));
    deep->EnsureLoaded();
    EXPECT_EQ(NamesOf(deep->Categories()), QStringList({"_sys_"})); // only hidden at the root
    EXPECT_EQ(deep->State(), isModifiable | isContainer);

    // The local library root hides nothing of those names.
    TRootFileSystemCategory root(QStringLiteral("本地书库"), r);
    root.EnsureLoaded();
    EXPECT_EQ(NamesOf(root.Categories()), QStringList({"Xal", "_SYS_", "deep", "ordinary"}));
}

TEST(Folders, HasChildrenProbesUnloadedFolders)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("only-books/a.txt"));
    MakeFolder(dir.filePath("with-shelf/sub"));
    MakeFolder(dir.filePath("with-link/x.lnk"));
    MakeFolder(dir.filePath("reserved/xal"));
    TRootFileSystemCategory root(QStringLiteral("r"), dir.path());
    root.EnsureLoaded();
    for (int i = 0; i < root.CategoryCount(); ++i) {
        TCategory* c = root.Category(i);
        const bool expected = c->Name() == "with-shelf" || c->Name() == "reserved";
        EXPECT_EQ(c->HasChildren(), expected) << qPrintable(c->Name());
        EXPECT_FALSE(c->Loaded());
    }
    // A reader whose only folder is reserved offers children until it is loaded.
    TReaderCategory reader(QStringLiteral("阅读器书库 E:"), dir.filePath("reserved"));
    EXPECT_TRUE(reader.HasChildren());
    reader.EnsureLoaded();
    EXPECT_FALSE(reader.HasChildren());
}

TEST(Folders, EmptyReaderSlotAndVanishedFiles)
{
    for (const QString& path : {QString(), QStringLiteral("/")}) {
        TReaderCategory slot(QStringLiteral("阅读器书库"), path);
        if (path.isEmpty()) slot.SetPath(QString());
        EXPECT_TRUE(slot.GetState() & isMissing);
        EXPECT_FALSE(slot.HasChildren());
        slot.EnsureLoaded();
        EXPECT_EQ(slot.ItemCount() + slot.CategoryCount(), 0);
    }

    QTemporaryDir dir;
    MakeFile(dir.filePath("shelf/book.txt"), "12345");
    TRootFileSystemCategory root(QStringLiteral("r"), dir.path());
    root.EnsureLoaded();
    TCategory* shelf = root.Category(0);
    shelf->EnsureLoaded();
    TFileItem* book = shelf->Item(0);
    book->EnsureLoaded();
    EXPECT_EQ(book->Size(), 5);
    EXPECT_EQ(book->SizeText(), QStringLiteral("5 B"));
    // The dates come from the file when no library gave them, in the libraries' own form
    // whatever the locale.
    EXPECT_FALSE(BookInfoText(book->Info(), biCreationDate).isEmpty());
    EXPECT_EQ(BookInfoText(book->Info(), biModificationDate),
              QFileInfo(dir.filePath("shelf/book.txt"))
                  .lastModified()
                  .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    book->Reload();
    QLocale::setDefault(previous);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(BookInfoText(book->Info(), biCreationDate))
                    .hasMatch())
        << qPrintable(BookInfoText(book->Info(), biCreationDate));
    EXPECT_FALSE(book->GetState() & isMissing);

    QFile::remove(dir.filePath("shelf/book.txt"));
    EXPECT_TRUE(book->GetState() & isMissing);
    book->Reload();
    EXPECT_TRUE(book->Loaded());
    EXPECT_TRUE(BookInfoText(book->Info(), biCreationDate).isEmpty()); // an empty record
    QDir(dir.filePath("shelf")).removeRecursively();
    EXPECT_TRUE(shelf->GetState() & isMissing);
}

TEST(FileOperations, CreateAndRenameBookshelves)
{
    QTemporaryDir dir;
    TRootFileSystemCategory root(QStringLiteral("r"), dir.path());
    root.EnsureLoaded();
    const int index = CreateBookshelf(&root, QStringLiteral("新建书架"));
    ASSERT_EQ(index, 0);
    EXPECT_TRUE(QFileInfo(dir.filePath("新建书架")).isDir());
    EXPECT_EQ(root.Category(0)->GetFullPath(), dir.filePath("新建书架/"));

    EXPECT_EQ(CreateBookshelf(&root, QStringLiteral("新建书架")), -EEXIST);
    for (const char* bad : {"a/b", ".hidden", ""})
        EXPECT_EQ(CreateBookshelf(&root, QString::fromUtf8(bad)), -EINVAL) << bad;
    EXPECT_EQ(root.CategoryCount(), 1);

    // Renaming keeps loaded children valid: their paths follow the folder.
    TCategory* shelf = root.Category(0);
    MakeFile(dir.filePath("新建书架/sub/book.txt"));
    shelf->EnsureLoaded();
    TCategory* sub = shelf->Category(0);
    sub->EnsureLoaded();
    ASSERT_EQ(RenameBookshelf(shelf, QStringLiteral("科幻 小说")), 0);
    EXPECT_EQ(shelf->Name(), QStringLiteral("科幻 小说"));
    EXPECT_EQ(sub->Item(0)->GetFullPath(), dir.filePath("科幻 小说/sub/book.txt"));
    EXPECT_FALSE(sub->Item(0)->GetState() & isMissing);

    // Never over an existing folder; the model stays as it was.
    MakeFolder(dir.filePath("taken"));
    EXPECT_EQ(RenameBookshelf(shelf, QStringLiteral("taken")), -EEXIST);
    EXPECT_EQ(shelf->Name(), QStringLiteral("科幻 小说"));
    EXPECT_TRUE(QFileInfo(dir.filePath("科幻 小说/sub/book.txt")).exists());
}

// A reader's FAT or exFAT file system refuses some characters and drops a dot or blank at the
// end: such names are refused on a reader before anything is written (the shelf would not be
// found again under its name), and taken on the computer.
TEST(FileOperations, ReaderShelfNamesFollowItsFileSystem)
{
    const std::pair<const char*, qsizetype> names[] = {
        {"新建书架", -1}, {"a.b c", -1}, {" lead", -1}, {"a:b", 1}, {"q?", 1},
        {"x|y", 1},       {"\"q\"", 0},  {"a\\b", 1},   {"<>", 0},  {"a*", 1},
        {"tab\tx", 3},    {"ends.", 4},  {"ends ", 4},  {"a/b", 1}};
    for (const auto& [name, at] : names)
        EXPECT_EQ(RefusedOnReader(QString::fromUtf8(name)), at) << name;

    QTemporaryDir dir;
    MakeFile(dir.filePath("reader/shelf/book.txt"));
    TReaderCategory reader(QStringLiteral("阅读器书库 E:"), QString());
    reader.Attach(QStringLiteral("阅读器书库 E:"), dir.filePath("reader/"), 'E', nullptr);
    reader.EnsureLoaded();
    TCategory* shelf = reader.Category(reader.IndexOfCategory("shelf"));
    TRootFileSystemCategory local(QStringLiteral("本地书库"), dir.filePath("local"));
    MakeFolder(dir.filePath("local"));
    local.EnsureLoaded();
    for (const char* name : {"a:b", "ends.", "ends "}) {
        EXPECT_EQ(CreateBookshelf(&reader, QString::fromUtf8(name)), -EINVAL) << name;
        EXPECT_EQ(RenameBookshelf(shelf, QString::fromUtf8(name)), -EINVAL) << name;
        EXPECT_GE(CreateBookshelf(&local, QString::fromUtf8(name)), 0) << name;
    }
    EXPECT_EQ(shelf->Name(), QStringLiteral("shelf"));
    EXPECT_EQ(QDir(dir.filePath("reader"))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"shelf"});
    EXPECT_EQ(reader.CategoryCount(), 1);
}

TEST(FileOperations, AddBook)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("in/new book.txt"), "new");
    MakeFile(dir.filePath("lib/shelf/old.txt"), "old");
    MakeFile(dir.filePath("in/old.txt"), "replacement");
    TRootFileSystemCategory shelf(QStringLiteral("s"), dir.filePath("lib/shelf"));
    shelf.EnsureLoaded();
    ASSERT_EQ(shelf.ItemCount(), 1);

    EXPECT_EQ(AddBook(&shelf, dir.filePath("lib/shelf/old.txt")), -2); // its own file
    EXPECT_EQ(ReadFile(dir.filePath("lib/shelf/old.txt")), "old");
    EXPECT_EQ(AddBook(&shelf, dir.filePath("in/old.txt")), 0); // overwritten, existing item
    EXPECT_EQ(ReadFile(dir.filePath("lib/shelf/old.txt")), "replacement");
    EXPECT_EQ(AddBook(&shelf, dir.filePath("in/new book.txt")), 1);
    EXPECT_EQ(shelf.Item(1)->GetFullPath(), dir.filePath("lib/shelf/new book.txt"));
    EXPECT_EQ(AddBook(&shelf, dir.filePath("in/missing.txt")), -1);
    EXPECT_EQ(shelf.ItemCount(), 2);
    EXPECT_EQ(FilesUnder(dir.filePath("lib")),
              QStringList({"shelf/new book.txt", "shelf/old.txt"}));
}

TEST(FileOperations, AFailedCopyLeavesNoHalfWrittenBook)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("in/book.txt"), QByteArray(256 * 1024, 'x'));
    MakeFile(dir.filePath("shelf/book.txt"), "the old copy");
    TRootFileSystemCategory shelf(QStringLiteral("s"), dir.filePath("shelf"));
    shelf.EnsureLoaded();

    // A file size limit stands in for a full disk or an unplugged reader.
    int result;
    TFileItem* item;
    {
        TFileSizeLimit limit(4096);
        result = AddBook(&shelf, dir.filePath("in/book.txt"));
        item = shelf.Item(0);
    }

    EXPECT_EQ(result, -1);
    EXPECT_EQ(ReadFile(dir.filePath("shelf/book.txt")), "the old copy");
    EXPECT_EQ(FilesUnder(dir.filePath("shelf")), QStringList({"book.txt"})); // no temporary left
    EXPECT_EQ(shelf.ItemCount(), 1);
    EXPECT_EQ(shelf.Item(0), item);
}

TEST(FileOperations, DeleteBooksAndShelves)
{
    // Inside the home folder, so the trash used is the user's own.
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/korvel-XXXXXX"));
    MakeFile(dir.filePath("shelf/a.txt"));
    MakeFile(dir.filePath("shelf/b.txt"));
    MakeFile(dir.filePath("gone/c.txt"));
    MakeFile(dir.filePath("trashed/d.txt"));
    TRootFileSystemCategory root(QStringLiteral("r"), dir.path());
    root.EnsureLoaded();
    TCategory* shelf = root.Category(root.IndexOfCategory("shelf"));
    shelf->EnsureLoaded();
    TFileItem* a = shelf->Item(shelf->IndexOfItem(dir.filePath("shelf/a.txt")));
    TFileItem* b = shelf->Item(shelf->IndexOfItem(dir.filePath("shelf/b.txt")));

    EXPECT_TRUE(DeleteBook(a, false));
    EXPECT_FALSE(QFile::exists(dir.filePath("shelf/a.txt")));
    EXPECT_TRUE(DeleteBook(a, false)); // already gone counts as deleted
    const TOwnTrash trashHere(dir.filePath("data"));
    EXPECT_TRUE(DeleteBook(b, true));
    EXPECT_FALSE(QFile::exists(dir.filePath("shelf/b.txt")));
    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    EXPECT_EQ(trash, dir.filePath("data/Trash/files"));
    EXPECT_TRUE(QDir(trash).entryList().filter("b").size() >= 1) << qPrintable(trash);
    EXPECT_EQ(shelf->ItemCount(), 2); // the model is the caller's to change

    EXPECT_EQ(DeleteBookshelf(root.Category(root.IndexOfCategory("gone")), false), 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone")));
    EXPECT_EQ(DeleteBookshelf(root.Category(root.IndexOfCategory("gone")), false), -ENOENT);
    EXPECT_EQ(DeleteBookshelf(root.Category(root.IndexOfCategory("trashed")), true), 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("trashed")));
}

TEST(FileOperations, CopyAndMoveBooks)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("from/第一 本.txt"), "one");
    MakeFile(dir.filePath("from/second book.txt"), "two");
    MakeFile(dir.filePath("to/second book.txt"), "old");
    TRootFileSystemCategory from(QStringLiteral("f"), dir.filePath("from"));
    TRootFileSystemCategory to(QStringLiteral("t"), dir.filePath("to"));
    from.EnsureLoaded();
    QList<TFileItem*> books;
    for (int i = 0; i < from.ItemCount(); ++i)
        books << from.Item(i);

    ASSERT_TRUE(CopyOrMoveBooks(&to, books, false));
    EXPECT_EQ(ReadFile(dir.filePath("to/second book.txt")), "two");
    EXPECT_EQ(ReadFile(dir.filePath("to/第一 本.txt")), "one");
    EXPECT_EQ(FilesUnder(dir.filePath("from")).size(), 2);

    // Moving books onto the shelf they are in keeps them.
    ASSERT_TRUE(CopyOrMoveBooks(&from, books, true));
    EXPECT_EQ(FilesUnder(dir.filePath("from")).size(), 2);

    QFile::remove(dir.filePath("to/第一 本.txt"));
    ASSERT_TRUE(CopyOrMoveBooks(&to, books, true));
    EXPECT_TRUE(FilesUnder(dir.filePath("from")).isEmpty());
    EXPECT_EQ(FilesUnder(dir.filePath("to")), QStringList({"second book.txt", "第一 本.txt"}));
    EXPECT_FALSE(CopyOrMoveBooks(&to, books, true)); // the sources are gone now
}

TEST(FileOperations, MoveAcrossFileSystemsDeletesTheSourceLast)
{
    QTemporaryDir here;
    QTemporaryDir other(QStringLiteral("/dev/shm/korvel-XXXXXX"));
    struct stat a, b;
    if (!other.isValid() || stat(QFile::encodeName(here.path()), &a) != 0 ||
        stat(QFile::encodeName(other.path()), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system here";

    MakeFile(other.filePath("reader/shelf/x.txt"), "x");
    MakeFile(other.filePath("reader/shelf/deeper/y.txt"), "y");
    MakeFile(other.filePath("reader/z.txt"), "z");
    MakeFile(here.filePath("lib/shelf/x.txt"), "old x");
    TRootFileSystemCategory reader(QStringLiteral("r"), other.filePath("reader"));
    TRootFileSystemCategory lib(QStringLiteral("l"), here.filePath("lib"));
    reader.EnsureLoaded();

    EXPECT_EQ(CopyOrMoveBookshelf(reader.Category(0), &lib, true), 0);
    EXPECT_EQ(FilesUnder(here.filePath("lib")), QStringList({"shelf/deeper/y.txt", "shelf/x.txt"}));
    EXPECT_EQ(ReadFile(here.filePath("lib/shelf/x.txt")), "x");
    EXPECT_FALSE(QFileInfo::exists(other.filePath("reader/shelf")));

    ASSERT_TRUE(CopyOrMoveBooks(&lib, {reader.Item(0)}, true));
    EXPECT_EQ(ReadFile(here.filePath("lib/z.txt")), "z");
    EXPECT_FALSE(QFile::exists(other.filePath("reader/z.txt")));
}

TEST(FileOperations, CopyOrMoveBookshelf)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("lib/科幻/a.txt"), "a");
    MakeFile(dir.filePath("lib/科幻/sub/b.txt"), "b");
    MakeFile(dir.filePath("lib/target/科幻/a.txt"), "old");
    MakeFile(dir.filePath("lib/target/科幻/keep.txt"), "keep");
    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    TCategory* scifi = lib.Category(lib.IndexOfCategory("科幻"));
    TCategory* target = lib.Category(lib.IndexOfCategory("target"));

    EXPECT_EQ(CopyOrMoveBookshelf(scifi, scifi, false), -EINVAL); // not into itself
    ASSERT_EQ(CopyOrMoveBookshelf(scifi, target, false), 0);
    EXPECT_EQ(FilesUnder(dir.filePath("lib/target")),
              QStringList({"科幻/a.txt", "科幻/keep.txt", "科幻/sub/b.txt"}));
    EXPECT_EQ(ReadFile(dir.filePath("lib/target/科幻/a.txt")), "a");

    MakeFile(dir.filePath("lib/科幻/a.txt"), "newer");
    ASSERT_EQ(CopyOrMoveBookshelf(scifi, target, true), 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("lib/科幻")));
    EXPECT_EQ(ReadFile(dir.filePath("lib/target/科幻/a.txt")), "newer");
    EXPECT_TRUE(scifi->GetState() & isMissing);
}

// What Windows creates on every volume with the hidden and system attributes keeps its name
// but not its attributes when it reaches another file system: the names alone hide it.
TEST(Folders, WindowsSystemEntriesAreNotListed)
{
    QTemporaryDir dir;
    const QString r = dir.path();
    for (const char* f : {"System Volume Information/IndexerVolumeGuid", "$RECYCLE.BIN/S-1-5/x",
                          "recycler/INFO2", "Thumbs.db/in-a-folder.txt", "shelf/a.txt",
                          "desktop.ini", "THUMBS.DB", "RECYCLER", "book.txt"})
        MakeFile(r + "/" + f);
    TRootFileSystemCategory root(QStringLiteral("本地书库"), r);
    root.EnsureLoaded();
    // Folder names hide folders only, file names files only.
    EXPECT_EQ(NamesOf(root.Items()), QStringList({"RECYCLER", "book.txt"}));
    EXPECT_EQ(NamesOf(root.Categories()), QStringList({"Thumbs.db", "shelf"}));
    MakeFolder(r + "/only-system/$RECYCLE.BIN");
    TRootFileSystemCategory onlySystem(QStringLiteral("x"), r + "/only-system");
    EXPECT_FALSE(onlySystem.HasChildren());
}

// A link to the folder it lies in, or above, would be a shelf inside itself for ever; a link to a
// folder elsewhere is an ordinary shelf, and the search sees every book once.
TEST(Folders, LinksBackUpAreNoShelves)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("lib/shelf/book.txt"));
    MakeFile(dir.filePath("outside/elsewhere.txt"));
    const QString shelf = dir.filePath("lib/shelf/");
    for (const auto& [name, target] :
         {std::pair{"loop", "."}, {"up", ".."}, {"top", "/"}, {"other", "../../outside"}})
        ASSERT_EQ(symlink(target, QFile::encodeName(shelf + name).constData()), 0) << name;
    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    TCategory* s = lib.Category(lib.IndexOfCategory("shelf"));
    s->EnsureLoaded();
    EXPECT_EQ(NamesOf(s->Categories()), QStringList({"other"}));
    QStringList seen;
    std::atomic<bool> stop{false};
    WalkCategory(&lib, stop, [&](TFileItem* item) { seen << item->Name(); });
    seen.sort();
    EXPECT_EQ(seen, QStringList({"book.txt", "elsewhere.txt"}));
}

// A copy keeps the book's modification time; a link is copied as the book it points to; a link
// back up is left out; a name as long as the file system allows copies too.
TEST(FileOperations, CopiesKeepDatesFollowLinksAndTakeLongNames)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("lib/shelf/old.txt"), "old");
    const struct timespec times[2] = {{978307200, 0}, {978307200, 0}}; // 2001-01-01
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(dir.filePath("lib/shelf/old.txt")).constData(),
                        times, 0),
              0);
    MakeFile(dir.filePath("outside/real.txt"), "the real book");
    ASSERT_EQ(symlink("../../outside/real.txt",
                      QFile::encodeName(dir.filePath("lib/shelf/link.txt")).constData()),
              0);
    ASSERT_EQ(symlink(".", QFile::encodeName(dir.filePath("lib/shelf/loop")).constData()), 0);
    MakeFolder(dir.filePath("lib/target"));
    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    TCategory* shelf = lib.Category(lib.IndexOfCategory("shelf"));
    TCategory* target = lib.Category(lib.IndexOfCategory("target"));

    ASSERT_EQ(CopyOrMoveBookshelf(shelf, target, false), 0);
    struct stat st;
    ASSERT_EQ(stat(QFile::encodeName(dir.filePath("lib/target/shelf/old.txt")).constData(), &st),
              0);
    EXPECT_EQ(st.st_mtim.tv_sec, 978307200);
    ASSERT_EQ(lstat(QFile::encodeName(dir.filePath("lib/target/shelf/link.txt")).constData(), &st),
              0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(dir.filePath("lib/target/shelf/link.txt")), "the real book");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("lib/target/shelf/loop")));

    // 83 Chinese characters and ".epub": 254 bytes, one short of the limit of most file systems.
    const QString longName = QString(83, QChar(0x4E66)) + QStringLiteral(".epub");
    ASSERT_EQ(QFile::encodeName(longName).size(), 254);
    MakeFile(dir.filePath("source/") + longName, "long");
    shelf->EnsureLoaded();
    const int index = AddBook(shelf, dir.filePath("source/") + longName);
    ASSERT_GE(index, 0);
    EXPECT_EQ(ReadFile(dir.filePath("lib/shelf/") + longName), "long");
    ASSERT_TRUE(CopyOrMoveBooks(target, {shelf->Item(index)}, false));
    EXPECT_EQ(ReadFile(dir.filePath("lib/target/") + longName), "long");
}

// An ordinary user copies a read-only shelf: the copy is filled before it is made read-only.
// (The tests run as root, whom permissions do not stop; the copy runs in a child process that
// has become an ordinary user.)
TEST(FileOperations, AReadOnlyShelfCopiesForAnOrdinaryUser)
{
    QTemporaryDir dir;
    constexpr uid_t nobody = 65534;
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    MakeFile(dir.filePath("lib/ro/book.txt"), "read only");
    MakeFolder(dir.filePath("lib/target"));
    for (const char* p : {"lib", "lib/ro", "lib/ro/book.txt", "lib/target"})
        ASSERT_EQ(chown(QFile::encodeName(dir.filePath(p)).constData(), nobody, nobody), 0) << p;
    ASSERT_EQ(chmod(QFile::encodeName(dir.filePath("lib/ro")).constData(), 0555), 0);

    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    TCategory* ro = lib.Category(lib.IndexOfCategory("ro"));
    TCategory* target = lib.Category(lib.IndexOfCategory("target"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(2);
        _exit(CopyOrMoveBookshelf(ro, target, false) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(dir.filePath("lib/target/ro/book.txt")), "read only");
    struct stat st;
    ASSERT_EQ(stat(QFile::encodeName(dir.filePath("lib/target/ro")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0555u);
}

// A reader has no recycle bin: a book or shelf deleted there is gone for good, even when the
// caller asked for the trash; nothing lands in the user's trash.
TEST(FileOperations, DeletingOnAReaderIsForGood)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("reader/shelf/book.txt"));
    MakeFile(dir.filePath("reader/gone/other.txt"));
    // A trash of this test's own, to see that nothing went there.
    const TOwnTrash trashHere(dir.filePath("data"));
    TReaderCategory reader(QStringLiteral("阅读器书库 E:"), QString());
    reader.Attach(QStringLiteral("阅读器书库 E:"), dir.filePath("reader/"), 'E', nullptr);
    reader.EnsureLoaded();
    TCategory* shelf = reader.Category(reader.IndexOfCategory("shelf"));
    shelf->EnsureLoaded();
    ASSERT_TRUE(DeleteBook(shelf->Item(0), true));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("reader/shelf/book.txt")));
    EXPECT_EQ(DeleteBookshelf(reader.Category(reader.IndexOfCategory("gone")), true), 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("reader/gone")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("data/Trash")));
    EXPECT_TRUE(FilesUnder(dir.filePath("reader")).isEmpty());
    // The root is never deleted.
    EXPECT_EQ(DeleteBookshelf(&reader, false), -EPERM);
}

// A book is found by its path ignoring letter case on a volume whose file system ignores it (as
// the mount table says), and by its exact path elsewhere; a rename that changes only the case
// works.
TEST(Folders, LetterCaseFollowsTheVolume)
{
    QTemporaryDir dir;
    TFakeRoot root(std::filesystem::path(dir.filePath("root").toStdString()));
    root.Activate();
    struct TLeave
    {
        ~TLeave() { TFakeRoot::Deactivate(); }
    } leave; // the other tests see the real system again, however this one ends
    root.Mount("/media/user/FAT", {8, 17}); // a vfat line
    const QString fat = dir.filePath("root/media/user/FAT/shelf");
    MakeFile(fat + "/Book.TXT");
    MakeFile(dir.filePath("plain/Book.TXT"));
    TRootFileSystemCategory onFat(QStringLiteral("f"), fat);
    onFat.EnsureLoaded();
    EXPECT_EQ(onFat.IndexOfItem(fat + "/book.txt"), 0);
    TRootFileSystemCategory plain(QStringLiteral("p"), dir.filePath("plain"));
    plain.EnsureLoaded();
    EXPECT_EQ(plain.IndexOfItem(dir.filePath("plain/book.txt")), -1);
    EXPECT_EQ(plain.IndexOfItem(dir.filePath("plain/Book.TXT")), 0);

    MakeFolder(dir.filePath("lib/Shelf"));
    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    ASSERT_EQ(RenameBookshelf(lib.Category(0), QStringLiteral("SHELF")), 0);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("lib/SHELF")));
}

// A copy of several books that stops, because the user cancels in the middle of a big book or
// because the device is full: the books copied completely stay, the one in hand leaves nothing
// behind, and a moved book leaves its shelf only once its copy is in place.
TEST(FileOperations, ABatchThatStopsKeepsWhatWasCopied)
{
    QTemporaryDir dir;
    MakeFile(dir.filePath("lib/from/1.txt"), QByteArray(2048, '1'));
    MakeFile(dir.filePath("lib/from/2.txt"), QByteArray(20 << 20, '2')); // read in slices
    MakeFile(dir.filePath("lib/from/3.txt"), QByteArray(2048, '3'));
    MakeFolder(dir.filePath("lib/to"));
    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    TCategory* from = lib.Category(lib.IndexOfCategory("from"));
    TCategory* to = lib.Category(lib.IndexOfCategory("to"));
    from->EnsureLoaded();
    QList<TFileItem*> books;
    for (const char* name : {"1.txt", "2.txt", "3.txt"})
        books << from->Item(from->IndexOfItem(dir.filePath("lib/from/") + name));

    // Cancelled once the second book is partly copied.
    int calls = 0;
    const int cancelled = CopyOrMoveBooks(to, books, false, [&](int book, qint64 done, qint64) {
        ++calls;
        return !(book == 1 && done > 0);
    });
    EXPECT_EQ(cancelled, -ECANCELED);
    EXPECT_EQ(FilesUnder(dir.filePath("lib/to")), QStringList({"1.txt"}));
    EXPECT_GE(calls, 2);

    // The device is full (a file size limit stands in for it).
    QDir(dir.filePath("lib/to")).removeRecursively();
    MakeFolder(dir.filePath("lib/to"));
    int full;
    {
        TFileSizeLimit limit(1024);
        full = CopyOrMoveBooks(to, {books[0], books[2]}, false, TBooksProgress());
    }
    EXPECT_EQ(full, -EFBIG);
    EXPECT_TRUE(FilesUnder(dir.filePath("lib/to")).isEmpty()); // nothing half-written

    // A whole batch: every book in place with its contents.
    ASSERT_EQ(CopyOrMoveBooks(to, books, false, TBooksProgress()), 0);
    EXPECT_EQ(FilesUnder(dir.filePath("lib/to")), QStringList({"1.txt", "2.txt", "3.txt"}));
    EXPECT_EQ(ReadFile(dir.filePath("lib/to/2.txt")), QByteArray(20 << 20, '2'));
}

// Names in GBK bytes, as archives made on Chinese Windows bring them: listed readable, and
// found, searched, read, copied, moved, added, renamed and deleted by their real bytes; a
// delete reports success only when the file is gone.
TEST(Folders, NamesThatAreNotUtf8WorkLikeAnyOther)
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    const QByteArray gbkBook = "\xBA\xEC\xC2\xA5\xC3\xCE.txt"; // 红楼梦.txt
    const QByteArray gbkShelf = "\xCA\xE9\xBC\xDC";            // 书架
    const auto writeRaw = [](const QByteArray& path, const char* text) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_GT(::write(fd, text, strlen(text)), 0);
        ::close(fd);
    };
    ASSERT_EQ(mkdir(root + "/lib", 0755), 0);
    ASSERT_EQ(mkdir(root + "/lib/" + gbkShelf, 0755), 0);
    writeRaw(root + "/lib/" + gbkShelf + "/" + gbkBook, "a book");
    MakeFolder(dir.filePath("lib/other"));
    MakeFolder(dir.filePath("lib/moved"));

    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    const int s = lib.IndexOfCategory(QStringLiteral("书架"));
    ASSERT_GE(s, 0);
    TCategory* shelf = lib.Category(s);
    shelf->EnsureLoaded();
    ASSERT_EQ(shelf->ItemCount(), 1);
    TFileItem* book = shelf->Item(0);
    EXPECT_EQ(book->Name(), QStringLiteral("红楼梦.txt"));
    EXPECT_FALSE(book->GetState() & isMissing);
    book->EnsureLoaded();
    EXPECT_EQ(book->Size(), 6);
    QStringList scratch;
    TKeywordList keywords = SplitKeywords(QStringLiteral("红楼"));
    EXPECT_TRUE(MatchesKeywords(book, keywords, scratch, sfFileName));

    TCategory* other = lib.Category(lib.IndexOfCategory("other"));
    TCategory* moved = lib.Category(lib.IndexOfCategory("moved"));
    ASSERT_TRUE(CopyOrMoveBooks(other, {book}, false));
    struct stat st;
    EXPECT_EQ(stat(root + "/lib/other/" + gbkBook, &st), 0);
    other->EnsureLoaded();
    EXPECT_EQ(AddBook(other, FileNames::Decode(root + "/lib/" + gbkShelf + "/" + gbkBook)), 0);
    ASSERT_TRUE(CopyOrMoveBooks(moved, {book}, true));
    EXPECT_EQ(stat(root + "/lib/moved/" + gbkBook, &st), 0);
    EXPECT_NE(stat(root + "/lib/" + gbkShelf + "/" + gbkBook, &st), 0);

    ASSERT_EQ(RenameBookshelf(shelf, QStringLiteral("novels")), 0);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("lib/novels")));

    ASSERT_EQ(other->ItemCount(), 1);
    EXPECT_TRUE(DeleteBook(other->Item(0), false));
    EXPECT_NE(stat(root + "/lib/other/" + gbkBook, &st), 0);
    moved->EnsureLoaded();
    ASSERT_EQ(moved->ItemCount(), 1);
    // A trash of this test's own, so that nothing from other runs is in it.
    const TOwnTrash trashHere(dir.filePath("data"));
    EXPECT_TRUE(DeleteBook(moved->Item(0), true)); // to the trash, under its readable name
    EXPECT_NE(stat(root + "/lib/moved/" + gbkBook, &st), 0);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("data/Trash/files/红楼梦.txt"))));
}

// A shelf deleted for good goes file by file with its progress told, and stops when asked: the
// files deleted so far are gone, the others stay; links inside are removed, never followed.
TEST(FileOperations, DeletingAShelfForGoodShowsProgressAndStops)
{
    QTemporaryDir dir;
    for (int i = 0; i < 5; ++i)
        MakeFile(dir.filePath(QStringLiteral("lib/big/sub/%1.txt").arg(i)));
    MakeFile(dir.filePath("outside/kept.txt"));
    ASSERT_EQ(symlink(QFile::encodeName(dir.filePath("outside")).constData(),
                      QFile::encodeName(dir.filePath("lib/big/link")).constData()),
              0);
    TRootFileSystemCategory lib(QStringLiteral("l"), dir.filePath("lib"));
    lib.EnsureLoaded();
    TCategory* big = lib.Category(lib.IndexOfCategory("big"));

    QList<int> seen;
    EXPECT_EQ(DeleteBookshelf(big, false, [&](int done, int total) {
                  seen << done;
                  EXPECT_EQ(total, 6); // five books and the link
                  return done < 2;
              }),
              -ECANCELED);
    EXPECT_EQ(seen, QList<int>({1, 2}));
    EXPECT_EQ(FilesUnder(dir.filePath("lib/big")).size() +
                  int(QFileInfo(dir.filePath("lib/big/link")).isSymLink()),
              4);
    seen.clear();
    EXPECT_EQ(DeleteBookshelf(big, false, [&](int done, int) {
                  seen << done;
                  return true;
              }),
              0);
    EXPECT_EQ(seen, QList<int>({1, 2, 3, 4}));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("lib/big")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("outside/kept.txt")));
}
