#pragma once

#include "BookInfo.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "DeviceMonitor.h"

class TCategory;
class TItemList;
class TSearchResultCategory;

// State flags of an item (one byte).
enum TItemState : unsigned char
{
    isModifiable = 1, // the user may rename and delete it
    isContainer = 2,  // shelves and books may be put into it
    isMissing = 4,    // its file or folder does not exist at the moment
};
using TItemStates = unsigned char;

// Which page of the main window shows a category.
enum TCategoryKind : unsigned char
{
    ckBrowser = 0,
    ckList = 1,
    ckTask = 2,
};

// Which lists Load fills and Clear empties.
enum TLoadMode : unsigned char
{
    lmAll = 0,
    lmItemsOnly = 1,
    lmCategoriesOnly = 2,
};

// A directory entry as enumeration hands it to the factories.
struct TSearchRec
{
    QString Name;
    bool IsDirectory = false;
};

// Anything shown in the navigator or the book list. Objects load their content lazily, the
// first time a view or the search asks for it, and tell the views through two events.
//
// C++ constructors call virtual functions statically, so every class whose path rule differs
// re-applies SetPath at the end of its own constructor, followed by the explicit name: the
// result is the one the most-derived rule gives, with the explicit name winning.
class TItemBase
{
public:
    using TProgressEvent = std::function<void(TItemBase* sender, TItemBase* item, bool& abort)>;
    using TNotifyEvent = std::function<void(TItemBase* sender)>;

    TItemBase(const QString& name, const QString& path);
    virtual ~TItemBase();
    TItemBase(const TItemBase&) = delete;
    TItemBase& operator=(const TItemBase&) = delete;

    const QString& Name() const { return FName; }
    const QString& Path() const { return FPath; }
    TItemStates State() const { return FState; }
    bool Loaded() const { return FLoaded.load(); }
    TCategory* Parent() const { return FParent; }

    virtual void SetName(const QString& name);
    virtual void SetPath(const QString& path);
    virtual bool Load();
    virtual TItemStates GetState();
    virtual QString GetFullPath() const;
    virtual void Reload();
    virtual void EnsureLoaded();

    // Fires OnProgress; returns the handler's abort answer. View events fire only on the
    // thread that owns the views: a load run by the search worker is silent.
    bool DoProgress(TItemBase* item);
    void DoLoaded();

    // Opaque handle of the view that shows this object; the model never interprets it.
    void* ViewNode = nullptr;
    // Told when a book that a view shows (ViewNode set) is freed, so the view drops its row
    // whoever frees the book.
    static void SetViewNodeFreedHook(std::function<void(TItemBase*)> hook);
    TProgressEvent OnProgress;
    TNotifyEvent OnLoaded;

    // Expires when the object is freed; what TItemRef watches. Main thread only.
    std::weak_ptr<void> LifeToken() const;

protected:
    // Called first by the destructors: from here on every TItemRef to the object reads null.
    void MarkFreed() { FLife.reset(); }

    void SetState(TItemStates state) { FState = state; }
    void SetLoaded(bool loaded) { FLoaded = loaded; }
    // Sets or clears isMissing to follow `exists`.
    TItemStates FollowExistence(bool exists);

    QString FName;
    QString FPath;

private:
    friend class TCategory;
    TItemStates FState = 0;
    std::atomic<bool> FLoaded{false};
    TCategory* FParent = nullptr;
    mutable std::shared_ptr<char> FLife; // made on the first LifeToken
};

// A weak handle to a model object: reads null once the object has been freed. Held by work that
// must outlive an event pump or a posted step without keeping the object from going (the
// lifetime rule in LongWork.h).
template <typename T> class TItemRef
{
public:
    TItemRef() = default;
    TItemRef(T* object) : FObject(object)
    {
        if (object) FLife = object->LifeToken();
    }
    T* Get() const { return FObject && !FLife.expired() ? FObject : nullptr; }
    explicit operator bool() const { return Get() != nullptr; }

private:
    T* FObject = nullptr;
    std::weak_ptr<void> FLife;
};

struct stat;

// True when the file was last changed more than two seconds ago. Time stamps are coarse (two
// seconds on FAT, a clock tick elsewhere), so a file written just now could be written again
// with the same size and time: only settled files are remembered by their time (their
// information, their shared cover).
bool SettledFile(const struct stat& st);

// What one read of a book found, before it is published to its item. It is made apart from
// the item, so that the thread reading (the search worker, the reading pool) holds no lock and
// no pointer into the model while a library reads the file.
struct TBookRead
{
    bool Found = false;       // the file was there
    qint64 Size = 0;
    qint64 MTimeNs = 0;       // modification time, nanoseconds since the epoch
    std::unique_ptr<TBookInfo> Info;
};

// One book file. Its information record is kept packed, and only once it has been read, so a
// shelf (or a search) of thousands of books costs little memory. Its cover is not kept here:
// covers are made when a cell is painted and held in a bounded cache (CoverCache.h), so
// reading books for a search costs no pictures.
class TFileItem : public TItemBase
{
public:
    explicit TFileItem(const QString& fullFileName);
    ~TFileItem() override;

    void SetPath(const QString& path) override;
    bool Load() override;
    TItemStates GetState() override;
    void Reload() override;
    // Reads the book without holding the model lock and takes the lock only to publish what it
    // read, so neither thread waits for the other's reading.
    void EnsureLoaded() override;

    // Reads the book at `fullPath` without touching any item: the information comes from the
    // cache of what was read before when the file is unchanged (`cacheKeyPath` names it there),
    // else from the book libraries, and is then remembered. False when `abort` stopped the read.
    static bool ReadBook(const QString& fullPath, const QByteArray& cacheKeyPath,
                         const std::function<bool()>& abort, TBookRead& read);
    // The name the book is remembered under: for a book on a reader its path relative to the
    // reader's root (the same reader plugged in again, wherever it is mounted, finds it), else
    // its full path. Main thread, or under the model lock.
    QByteArray CacheKeyPath() const;
    // Publishes a read made elsewhere (the reading pool) unless the book was read meanwhile;
    // fires OnLoaded when it did. Main thread.
    bool AcceptRead(TBookRead& read);

    // File size in bytes (64-bit: books over 2 GB keep their real size).
    qint64 Size() const { return FSize; }
    // The file's modification time when it was read; 0 until then.
    qint64 MTimeNs() const { return FMTimeNs; }
    const QString& SizeText() const { return FSizeText; }
    // All zero until the book has been read. A copy: the item keeps only the record's
    // non-empty blocks (a few hundred bytes rather than 4352 per book read).
    TBookInfo Info() const;
    // One text of the record, empty until the book has been read.
    QString InfoText(TBookInfoOffset field) const;
    bool Encrypted() const;
    const QString& FileName() const { return FFileName; }
    TSearchResultCategory* SearchOwner() const { return FSearchOwner; }

private:
    friend class TSearchResultCategory;
    void Publish(TBookRead& read);

    qint64 FSize = 0;
    qint64 FMTimeNs = 0;
    QString FSizeText;
    QByteArray FInfo; // the record's packed blocks (BookInfoCache.h); empty: all zero
    QString FFileName;
    TSearchResultCategory* FSearchOwner = nullptr;
};

// The owning list of a category: adding makes the owner the object's parent (through the
// owner's ItemAdded), deleting reports ItemRemoved, which frees the object for plain
// categories. Extract takes an object out without reporting.
class TItemList
{
public:
    explicit TItemList(TCategory* owner) : FOwner(owner) {}
    ~TItemList();
    TItemList(const TItemList&) = delete;
    TItemList& operator=(const TItemList&) = delete;

    TCategory* Owner() const { return FOwner; }
    int Count() const { return static_cast<int>(FList.size()); }
    TItemBase* operator[](int index) const { return FList[static_cast<size_t>(index)]; }
    int IndexOf(const TItemBase* object) const;

    int Add(TItemBase* object);
    void Delete(int index);
    // Deletes the object when listed; returns its former index or -1.
    int Remove(TItemBase* object);
    // Takes the object out without telling the owner; returns it, or nullptr when not listed.
    TItemBase* Extract(TItemBase* object);
    // Exchanges two entries without telling the owner.
    void Exchange(int first, int second);
    // Deletes every object, last first.
    void Clear();

private:
    TCategory* FOwner;
    std::vector<TItemBase*> FList;
};

// A node of the navigator: child categories and items, loaded lazily.
class TCategory : public TItemBase
{
public:
    TCategory(const QString& name, const QString& path, TCategoryKind kind, TItemStates state);
    ~TCategory() override;

    bool Load() override;

    virtual TCategoryKind GetKind() const { return FKind; }
    virtual void ItemAdded(TItemBase* object);
    virtual void ItemRemoved(TItemBase* object);
    virtual bool HasChildren();
    virtual void SetLoadMode(TLoadMode mode);
    virtual void Clear();
    // Whether deleting from this category's lists frees the objects (the search results do
    // not): only then must a running walk stop first.
    virtual bool OwnsListed() const { return true; }

    TCategoryKind Kind() const { return FKind; }
    TLoadMode LoadMode() const { return FLoadMode; }
    // Created empty on first access.
    TItemList& Items();
    TItemList& Categories();
    // Do not create the lists.
    int ItemCount() const { return FItems ? FItems->Count() : 0; }
    int CategoryCount() const { return FCategories ? FCategories->Count() : 0; }
    TFileItem* Item(int index) const { return static_cast<TFileItem*>((*FItems)[index]); }
    TCategory* Category(int index) const { return static_cast<TCategory*>((*FCategories)[index]); }

    // Child category named `name` (ASCII letter case ignored), or -1.
    int IndexOfCategory(const QString& name) const;
    // Item whose full path is `fullPath`, or -1. Paths compare as the file system that holds
    // them does: letter case is ignored on FAT, exFAT and NTFS volumes, not elsewhere.
    int IndexOfItem(const QString& fullPath) const;
    // `baseName`, or "baseName (n)" with the smallest n no child category uses.
    QString UniqueCategoryName(const QString& baseName) const;

protected:
    TCategoryKind FKind;
    TLoadMode FLoadMode = lmAll;

private:
    std::unique_ptr<TItemList> FItems;
    std::unique_ptr<TItemList> FCategories;
};

// A store page, identified by its URL; the home page reads its sub-pages from "home.dll".
class TBrowserCategory : public TCategory
{
public:
    TBrowserCategory(const QString& name, const QString& url);

    bool Load() override;
    QString GetFullPath() const override;
    bool HasChildren() override;

    bool IsHome() const { return FIsHome; }
    void SetIsHome(bool value) { FIsHome = value; }

    // The home file; tests point it elsewhere.
    static QString HomeFileName();
    static void SetHomeFileName(const QString& fileName);

private:
    bool FIsHome = true;
};

// A bookshelf: a folder on the computer or on a reader. Its Path is the folder name with "/".
class TFileSystemCategory : public TCategory
{
public:
    TFileSystemCategory(const QString& name, const QString& path, TItemStates state);

    void SetPath(const QString& path) override;
    TItemStates GetState() override;
    bool HasChildren() override;
    bool Load() override;

    virtual TCategory* CreateChildCategory(const QString& parentPath, const TSearchRec& entry);
    virtual TItemBase* CreateItem(const QString& parentPath, const TSearchRec& entry);

protected:
    // The folder path without its trailing "/": empty for a reader slot without a drive.
    QString FolderPath() const;
};

// A top-level folder: its Path is absolute and ends with "/".
class TRootFileSystemCategory : public TFileSystemCategory
{
public:
    TRootFileSystemCategory(const QString& name, const QString& path);
    void SetPath(const QString& path) override;
};

// The root folder of an attached reader, or an empty slot.
class TReaderCategory : public TRootFileSystemCategory
{
public:
    static constexpr int IdentitySize = 88;
    using TChangeEvent = std::function<void(TReaderCategory* sender)>;

    TReaderCategory(const QString& name, const QString& path);

    TCategory* CreateChildCategory(const QString& parentPath, const TSearchRec& entry) override;

    // "A" to "Z", or 0 when no reader is in the slot.
    char DriveLetter() const { return FDriveLetter; }
    void SetDriveLetter(char letter) { FDriveLetter = letter; }
    // The reader's identity record, all zero when the slot is empty.
    const unsigned char* Identity() const { return FIdentity; }
    void SetIdentity(const void* identity);

    // The two states of a reader slot. Attach: name, path (the drive's root folder, set as is),
    // drive letter and identity, then OnChange. Detach: the empty name, no drive letter, an
    // empty path and a zero identity, then OnChange, so whoever OnChange tells reads no
    // identifier of a reader that has gone.
    void Attach(const QString& name, const QString& rootFolder, char drive, const void* identity);
    void Detach();
    // The reader has left but the slot's change waits (LongWork.h): only its identity goes now.
    void ForgetIdentity() { SetIdentity(nullptr); }

    // Whether the root was a mounted volume when the reader attached; such a reader's folders
    // may only be written while that volume is still mounted there.
    bool RootWasMounted() const { return FRootWasMounted; }
    // True while the slot holds a reader whose volume is still where it was attached.
    bool VolumePresent() const;

    TChangeEvent OnChange;

private:
    char FDriveLetter = 0;
    bool FRootWasMounted = false;
    unsigned char FIdentity[IdentitySize] = {};
};

// The search hits: lists books other categories own and never frees them.
class TSearchResultCategory : public TCategory
{
public:
    TSearchResultCategory(const QString& name, const QString& path);
    ~TSearchResultCategory() override;
    bool Load() override;
    bool OwnsListed() const override { return false; }
    void ItemAdded(TItemBase* object) override;
    void ItemRemoved(TItemBase* object) override;
};

// The invisible root: the store, the local library and the two reader slots, then the
// search results once a search has run. It owns the reader monitor, which fills the slots.
class TSystemCategory : public TCategory, public TReaderSlots
{
public:
    TSystemCategory();
    ~TSystemCategory() override;

    TReaderMonitor* ReaderMonitor() const { return FReaderMonitor.get(); }

    void Clear() override;

    TCategory* Child(int index) const { return Category(index); }
    bool HasSearchResults() const;
    TSearchResultCategory* FindSearchResults();

    TBrowserCategory* Store() const { return static_cast<TBrowserCategory*>(Child(0)); }
    TRootFileSystemCategory* LocalLibrary() const
    {
        return static_cast<TRootFileSystemCategory*>(Child(1));
    }
    TReaderCategory* ReaderSlot(int slot) const
    {
        return static_cast<TReaderCategory*>(Child(2 + slot));
    }

    // Runs the reader monitor's arrival for every drive letter from A to Z.
    virtual void RescanReaders();
    // Puts the reader with the lower drive letter into slot one.
    void OrderReaders();

    // The reader slots as the monitor sees them.
    char SlotDriveLetter(int slot) const override;
    void AttachSlot(int slot, const QString& name, const QString& rootFolder, char drive,
                    const TDeviceIdentity& identity) override;
    void EmptySlot(int slot) override;
    void ExchangeSlots() override;
    void ForgetSlotIdentity(int slot) override;
    // Told when a reader's identity went ahead of its slot's change (LongWork.h).
    std::function<void()> OnIdentityLost;

    // Where the local library lives; tests point it elsewhere before creating the root.
    static QString LocalLibraryPath();
    static void SetLocalLibraryPath(const QString& path);
    // The store's built-in home page.
    static QString StoreHomeUrl();

private:
    std::unique_ptr<TReaderMonitor> FReaderMonitor;
};

// The reader slot whose branch holds `item` (the slot itself included), or nullptr.
TReaderCategory* ReaderOf(TItemBase* item);

// One keyword of a search, with its found-flag for the match in progress.
struct TKeyword
{
    QString Text; // upper case (ASCII letters)
    bool Found = false;
};
using TKeywordList = std::vector<TKeyword>;

// Splits the search box text: commas, blanks and control characters separate keywords,
// double quotes keep them together ("" inside quotes is one quote), ASCII letters become
// upper case. Empty keywords are kept: they never match.
TKeywordList SplitKeywords(const QString& text);

// Search field flags.
enum TSearchField : unsigned char
{
    sfFileName = 1,
    sfTitle = 2,
    sfSubject = 4,
    sfCategory = 8,
    sfAuthor = 16,
    sfPublisher = 32,
    sfKeywords = 64,
    sfComment = 128,
    sfAll = 255,
};

// Walks a category as the search does (loading it first): its books in list order, then each child
// category in list order, recursively, loading each on the way. Meant for a worker thread: each
// step takes the model lock, and the walk ends as soon as `stop` is set. `visit` runs under the
// lock.
void WalkCategory(TCategory* category, const std::atomic<bool>& stop,
                  const std::function<void(TFileItem*)>& visit);

// True when every keyword occurs in at least one of the texts (upper-cased ASCII letters).
bool MatchesKeywordTexts(const QStringList& texts, TKeywordList& keywords);

// True when every keyword occurs in at least one of the fields that `flags` selects.
bool MatchesKeywords(TFileItem* item, TKeywordList& keywords, QStringList& scratch,
                     unsigned char flags);
