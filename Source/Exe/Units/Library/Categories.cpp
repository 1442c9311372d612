#include "Categories.h"

#include "BookInfoCache.h"
#include "Codec936.h"
#include "DriveTable.h"
#include "FileAttributes.h"
#include "FileInfo.h"
#include "FileNames.h"
#include "Folders.h"
#include "FormatFileSize.h"
#include "IniFile.h"
#include "ModelGuard.h"

#include <QDateTime>
#include <QFile>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <time.h>
#include <strings.h>
#include <unistd.h>

namespace {

using TModelLockGuard = std::lock_guard<TModelGuard::TLock>;

QString StripTrailingSlash(const QString& path)
{
    return path.endsWith(u'/') ? path.left(path.size() - 1) : path;
}

// Only ASCII letters fold, as the names have always been compared.
bool SameTextAscii(const QString& a, const QString& b)
{
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x >= u'a' && x <= u'z') x -= 32;
        if (y >= u'a' && y <= u'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

QString UpperAscii(const QString& text)
{
    QString result = text;
    for (QChar& c : result)
        if (c.unicode() >= u'a' && c.unicode() <= u'z') c = QChar(c.unicode() - 32);
    return result;
}

bool HasLnkExtension(const QString& name)
{
    return name.endsWith(QLatin1String(".lnk"), Qt::CaseInsensitive);
}

bool FolderExists(const QString& path)
{
    struct stat st;
    return stat(FileNames::Encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const QString& path)
{
    struct stat st;
    return stat(FileNames::Encode(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Entries a Windows machine marks hidden or system: on a FAT volume the attribute itself, and on
// every file system the folders and files Windows always creates with those attributes, which
// keep their names but lose their attributes when copied elsewhere.
bool IsHiddenEntry(int dirFd, const char* name, bool isDir, bool onFat)
{
    static const char* const folders[] = {"System Volume Information", "$RECYCLE.BIN", "RECYCLER"};
    static const char* const files[] = {"desktop.ini", "Thumbs.db"};
    if (isDir) {
        for (const char* n : folders)
            if (strcasecmp(name, n) == 0) return true;
    } else {
        for (const char* n : files)
            if (strcasecmp(name, n) == 0) return true;
    }
    return onFat && FileAttributes::HiddenOrSystem(dirFd, name);
}

// Walks a folder the way a find-first/find-next loop does: entries in the file system's
// order, names starting with "." (the hidden ones, and "." and "..") left out. `visit` returns
// false to stop.
template <typename TVisit> void EnumerateFolder(const QString& folder, TVisit visit)
{
    const QByteArray path = FileNames::Encode(folder);
    DIR* dir = opendir(path.constData());
    if (!dir) return;
    const int dirFd = dirfd(dir);
    const bool onFat = FileAttributes::OnFatVolume(dirFd);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st;
            if (fstatat(dirFd, entry->d_name, &st, 0) != 0) continue; // dangling link
            isDir = S_ISDIR(st.st_mode);
            if (!isDir && !S_ISREG(st.st_mode)) continue;
            // A link to this folder or one above it would make shelves inside themselves for
            // ever (and the search would walk them): it is left out.
            if (isDir && entry->d_type == DT_LNK &&
                FileNames::LeadsBackUp(path + '/' + entry->d_name))
                continue;
        } else if (!isDir && entry->d_type != DT_REG) {
            continue; // devices, sockets and pipes are no books
        }
        if (IsHiddenEntry(dirFd, entry->d_name, isDir, onFat)) continue;
        if (!visit(TSearchRec{FileNames::Decode(entry->d_name), isDir})) break;
    }
    closedir(dir);
}

// The same form the book libraries write their dates in, whatever the locale: it reads well
// beside Chinese text and sorts as text in the date columns.
QString FormatFileTime(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The stop flag of the walk running on this thread: a book the search is reading stops as soon as
// the search is asked to stop.
thread_local const std::atomic<bool>* WalkStop = nullptr;

QString LocalLibraryOverride;
QString HomeFileOverride;
std::function<void(TItemBase*)> ViewNodeFreedHook;

} // namespace

bool SettledFile(const struct stat& st)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - st.st_mtim.tv_sec > 2;
}

// ---------------------------------------------------------------------------------------------
// TItemBase

TItemBase::TItemBase(const QString& name, const QString& path)
{
    TItemBase::SetPath(path);
    FState = isModifiable | isContainer;
    FName = name;
}

TItemBase::~TItemBase()
{
    MarkFreed();
}

std::weak_ptr<void> TItemBase::LifeToken() const
{
    if (!FLife) FLife = std::make_shared<char>(0);
    return FLife;
}

void TItemBase::SetViewNodeFreedHook(std::function<void(TItemBase*)> hook)
{
    ViewNodeFreedHook = std::move(hook);
}

void TItemBase::SetName(const QString& name)
{
    FName = name;
}

void TItemBase::SetPath(const QString& path)
{
    FPath = path;
}

bool TItemBase::Load()
{
    return true;
}

TItemStates TItemBase::GetState()
{
    return FState;
}

QString TItemBase::GetFullPath() const
{
    return FParent ? FParent->GetFullPath() + FPath : FPath;
}

void TItemBase::Reload()
{
    ModelGuard().BeforeChange();
    FLoaded = false;
    EnsureLoaded();
}

void TItemBase::EnsureLoaded()
{
    if (FLoaded.load()) return;
    {
        TModelLockGuard lock(ModelGuard().Lock());
        if (FLoaded.load()) return; // the other thread loaded it while this one waited
        Load();
        FLoaded = true;
    }
    DoLoaded();
}

bool TItemBase::DoProgress(TItemBase* item)
{
    bool abort = false;
    if (OnProgress && ModelGuard().OnMainThread()) OnProgress(this, item, abort);
    return abort;
}

void TItemBase::DoLoaded()
{
    if (OnLoaded && ModelGuard().OnMainThread()) OnLoaded(this);
}

TItemStates TItemBase::FollowExistence(bool exists)
{
    if (exists)
        FState &= ~isMissing;
    else
        FState |= isMissing;
    return FState;
}

// ---------------------------------------------------------------------------------------------
// TFileItem

TFileItem::TFileItem(const QString& fullFileName) : TItemBase(QString(), QString())
{
    TFileItem::SetPath(fullFileName);
}

TFileItem::~TFileItem()
{
    MarkFreed();
    if (ViewNode && ViewNodeFreedHook) ViewNodeFreedHook(this);
    // The search results list books they do not own; a book that goes away takes itself out,
    // so the results never hold a freed book.
    if (FSearchOwner) {
        TSearchResultCategory* owner = FSearchOwner;
        owner->Items().Extract(this);
        owner->ItemRemoved(this);
    }
}

void TFileItem::SetPath(const QString& path)
{
    FFileName = path.mid(path.lastIndexOf(u'/') + 1);
    FPath = FFileName;
    // A name that is not UTF-8 (GBK from Chinese Windows) is shown readable; the file name and
    // the path keep the real bytes.
    FName = FileNames::Display(FFileName);
}

TBookInfo TFileItem::Info() const
{
    TBookInfo info{};
    UnpackBookInfo(FInfo.constData(), FInfo.size(), &info);
    return info;
}

QString TFileItem::InfoText(TBookInfoOffset field) const
{
    const QByteArrayView block = PackedBookInfoBlock(FInfo, field / BOOKINFO_BLOCK_SIZE);
    if (block.isEmpty()) return {};
    const int length = std::min<int>(static_cast<unsigned char>(block[0]), int(block.size()) - 1);
    return Cp936::ToUnicode(block.constData() + 1, length);
}

bool TFileItem::Encrypted() const
{
    const QByteArrayView block = PackedBookInfoBlock(FInfo, biEncrypted / BOOKINFO_BLOCK_SIZE);
    return !block.isEmpty() && block[0] != 0;
}

QByteArray TFileItem::CacheKeyPath() const
{
    const QString fullPath = GetFullPath();
    for (const TCategory* c = Parent(); c; c = c->Parent()) {
        const auto* reader = dynamic_cast<const TReaderCategory*>(c);
        if (!reader) continue;
        const QString root = reader->Path();
        if (!root.isEmpty() && fullPath.startsWith(root))
            return FileNames::Encode(fullPath.mid(root.size()));
        break;
    }
    return FileNames::Encode(fullPath);
}

bool TFileItem::ReadBook(const QString& fullPath, const QByteArray& cacheKeyPath,
                         const std::function<bool()>& abort, TBookRead& read)
{
    struct stat st;
    if (fullPath.section(u'/', -1).startsWith(u'.') ||
        stat(FileNames::Encode(fullPath).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return true; // not there: an empty record, as a missing book shows
    read.Found = true;
    read.Size = st.st_size;
    read.MTimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    read.Info = std::make_unique<TBookInfo>();

    const TBookCacheKey key{cacheKeyPath, read.Size, read.MTimeNs};
    TBookInfoCache& cache = TBookInfoCache::Shared();
    if (!cacheKeyPath.isEmpty() && cache.Find(key, *read.Info)) return true;

    bool stopped = false;
    const auto query = [&abort, &stopped] {
        if (!stopped && abort && abort()) stopped = true;
        return stopped;
    };
    FileInfoManager().GetFileInfo(fullPath, *read.Info, query);
    if (stopped) return false;

    if (BookInfoText(*read.Info, biCreationDate).isEmpty()) {
        struct statx sx;
        QDateTime created;
        if (statx(AT_FDCWD, FileNames::Encode(fullPath).constData(), 0, STATX_BTIME, &sx) == 0 &&
            (sx.stx_mask & STATX_BTIME))
            created = QDateTime::fromSecsSinceEpoch(sx.stx_btime.tv_sec);
        else
            created = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec); // no birth time kept here
        SetBookInfoText(*read.Info, biCreationDate, FormatFileTime(created));
    }
    if (BookInfoText(*read.Info, biModificationDate).isEmpty())
        SetBookInfoText(*read.Info, biModificationDate,
                        FormatFileTime(QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec)));

    // A file changed within the last moments may still be changing within the same time stamp:
    // it is read again next time rather than remembered under a time that does not tell.
    if (!cacheKeyPath.isEmpty() && SettledFile(st)) cache.Put(key, *read.Info);
    return true;
}

void TFileItem::Publish(TBookRead& read)
{
    if (!read.Found) {
        // The file has vanished: an empty record; size keeps its last value.
        FInfo.clear();
        return;
    }
    FSize = read.Size;
    FMTimeNs = read.MTimeNs;
    FSizeText = FormatFileSize(FSize);
    FInfo = read.Info ? PackBookInfo(*read.Info) : QByteArray();
}

namespace {

// Only the main thread's handler pumps events; the search's reads stop when it stops.
std::function<bool()> ReadAbort(TFileItem* item)
{
    const std::atomic<bool>* stop = WalkStop;
    return [item, stop] { return (stop && stop->load()) || item->DoProgress(nullptr); };
}

} // namespace

bool TFileItem::Load()
{
    TBookRead read;
    if (!ReadBook(GetFullPath(), CacheKeyPath(), ReadAbort(this), read)) return false;
    Publish(read);
    return read.Found;
}

void TFileItem::EnsureLoaded()
{
    if (Loaded()) return;
    TModelGuard& guard = ModelGuard();
    QString fullPath;
    QByteArray cacheKeyPath;
    {
        std::lock_guard<TModelGuard::TLock> lock(guard.Lock());
        if (Loaded()) return;
        fullPath = GetFullPath();
        cacheKeyPath = CacheKeyPath();
    }
    TBookRead read;
    if (!ReadBook(fullPath, cacheKeyPath, ReadAbort(this), read))
        return; // stopped: left unread for a later look
    bool published = false;
    {
        std::lock_guard<TModelGuard::TLock> lock(guard.Lock());
        // The other thread may have read it meanwhile; the first to finish wins.
        if (!Loaded()) {
            Publish(read);
            SetLoaded(true);
            published = true;
        }
    }
    if (published) DoLoaded();
}

bool TFileItem::AcceptRead(TBookRead& read)
{
    {
        std::lock_guard<TModelGuard::TLock> lock(ModelGuard().Lock());
        if (Loaded()) return false;
        Publish(read);
        SetLoaded(true);
    }
    DoLoaded();
    return true;
}

TItemStates TFileItem::GetState()
{
    return FollowExistence(FileExists(GetFullPath()));
}

void TFileItem::Reload()
{
    ModelGuard().BeforeChange();
    TItemBase::Reload();
}

// ---------------------------------------------------------------------------------------------
// TItemList

TItemList::~TItemList()
{
    Clear();
}

int TItemList::IndexOf(const TItemBase* object) const
{
    const auto it = std::find(FList.begin(), FList.end(), object);
    return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

int TItemList::Add(TItemBase* object)
{
    // The worker may be reading this list (appending can move its storage) and will read the
    // new object's parent.
    TModelLockGuard lock(ModelGuard().Lock());
    FList.push_back(object);
    if (FOwner) FOwner->ItemAdded(object);
    return Count() - 1;
}

void TItemList::Delete(int index)
{
    if (!FOwner || FOwner->OwnsListed()) ModelGuard().BeforeChange();
    TItemBase* object = FList[static_cast<size_t>(index)];
    {
        TModelLockGuard lock(ModelGuard().Lock());
        FList.erase(FList.begin() + index);
    }
    if (FOwner) FOwner->ItemRemoved(object);
}

int TItemList::Remove(TItemBase* object)
{
    const int index = IndexOf(object);
    if (index >= 0) Delete(index);
    return index;
}

TItemBase* TItemList::Extract(TItemBase* object)
{
    const int index = IndexOf(object);
    if (index < 0) return nullptr;
    TModelLockGuard lock(ModelGuard().Lock());
    FList.erase(FList.begin() + index);
    return object;
}

void TItemList::Exchange(int first, int second)
{
    TModelLockGuard lock(ModelGuard().Lock());
    std::swap(FList[static_cast<size_t>(first)], FList[static_cast<size_t>(second)]);
}

void TItemList::Clear()
{
    if (FList.empty()) return;
    if (!FOwner || FOwner->OwnsListed()) ModelGuard().BeforeChange();
    while (!FList.empty())
        Delete(Count() - 1);
}

// ---------------------------------------------------------------------------------------------
// TCategory

TCategory::TCategory(const QString& name, const QString& path, TCategoryKind kind,
                     TItemStates state)
    : TItemBase(name, path), FKind(kind)
{
    SetState(state);
}

TCategory::~TCategory()
{
    MarkFreed();
    // Books first, then the child categories, each list from its last entry.
    FItems.reset();
    FCategories.reset();
}

bool TCategory::Load()
{
    Clear();
    return true;
}

void TCategory::ItemAdded(TItemBase* object)
{
    object->FParent = this;
}

void TCategory::ItemRemoved(TItemBase* object)
{
    delete object;
}

bool TCategory::HasChildren()
{
    return Loaded() && CategoryCount() > 0;
}

void TCategory::SetLoadMode(TLoadMode mode)
{
    FLoadMode = mode;
    Reload();
}

void TCategory::Clear()
{
    if (FLoadMode != lmCategoriesOnly && FItems) {
        if (OwnsListed()) ModelGuard().BeforeChange();
        std::unique_ptr<TItemList> items = std::move(FItems);
        items.reset();
    }
    if (FLoadMode != lmItemsOnly && FCategories) {
        for (int i = FCategories->Count() - 1; i >= 0; --i)
            if (Category(i)->GetKind() != ckTask) FCategories->Delete(i);
    }
}

TItemList& TCategory::Items()
{
    if (!FItems) {
        TModelLockGuard lock(ModelGuard().Lock());
        if (!FItems) FItems = std::make_unique<TItemList>(this);
    }
    return *FItems;
}

TItemList& TCategory::Categories()
{
    if (!FCategories) {
        TModelLockGuard lock(ModelGuard().Lock());
        if (!FCategories) FCategories = std::make_unique<TItemList>(this);
    }
    return *FCategories;
}

int TCategory::IndexOfCategory(const QString& name) const
{
    for (int i = 0; i < CategoryCount(); ++i)
        if (SameTextAscii(Category(i)->Name(), name)) return i;
    return -1;
}

int TCategory::IndexOfItem(const QString& fullPath) const
{
    if (ItemCount() == 0) return -1;
    // Names compare as the file system that holds them does: a reader formatted on Windows
    // ignores letter case, the computer's own disks do not.
    const Qt::CaseSensitivity cs =
        DriveTable::IgnoresCase(FileNames::Encode(fullPath).toStdString()) ? Qt::CaseInsensitive
                                                                           : Qt::CaseSensitive;
    for (int i = 0; i < ItemCount(); ++i)
        if ((*FItems)[i]->GetFullPath().compare(fullPath, cs) == 0) return i;
    return -1;
}

QString TCategory::UniqueCategoryName(const QString& baseName) const
{
    if (IndexOfCategory(baseName) < 0) return baseName;
    for (qint64 i = 1; i < (qint64(1) << 31); ++i) {
        const QString candidate = QStringLiteral("%1 (%2)").arg(baseName).arg(i);
        if (IndexOfCategory(candidate) < 0) return candidate;
    }
    return baseName;
}

// ---------------------------------------------------------------------------------------------
// TBrowserCategory

TBrowserCategory::TBrowserCategory(const QString& name, const QString& url)
    : TCategory(name, url, ckBrowser, 0)
{
}

QString TBrowserCategory::HomeFileName()
{
    return HomeFileOverride.isEmpty() ? Folders::ProgramFolder() + QStringLiteral("home.dll")
                                      : HomeFileOverride;
}

void TBrowserCategory::SetHomeFileName(const QString& fileName)
{
    HomeFileOverride = fileName;
}

QString TBrowserCategory::GetFullPath() const
{
    return FPath;
}

bool TBrowserCategory::HasChildren()
{
    EnsureLoaded();
    return TCategory::HasChildren();
}

bool TBrowserCategory::Load()
{
    if (!FIsHome || FLoadMode == lmCategoriesOnly) return true;
    const bool result = TCategory::Load();

    const TIniFile home(HomeFileName());
    const QString section = QStringLiteral("Home");
    // A value without a scheme names a page that ships in the program folder (the manual).
    const auto resolve = [](const QString& value) {
        const QUrl url(value);
        if (url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1) return value;
        return QUrl::fromLocalFile(Folders::ProgramFolder() + value).toString();
    };
    const QString url0 = home.ReadString(section, QStringLiteral("0"), QString());
    if (!url0.isEmpty()) FPath = resolve(url0);

    QStringList keys = home.ReadSection(section);
    std::sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    for (const QString& key : keys) {
        if (key.isEmpty() || key == QLatin1String("0")) continue;
        const QString value = home.ReadString(section, key, QString());
        if (value.isEmpty()) continue;
        const qsizetype dot = key.indexOf(u'.');
        auto* page = new TBrowserCategory(dot >= 0 ? key.mid(dot + 1) : key, resolve(value));
        page->SetIsHome(false);
        Categories().Add(page);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Folder categories

TFileSystemCategory::TFileSystemCategory(const QString& name, const QString& path,
                                         TItemStates state)
    : TCategory(name, path, ckList, state)
{
    TFileSystemCategory::SetPath(path);
    FName = name;
}

void TFileSystemCategory::SetPath(const QString& path)
{
    const QString folder = StripTrailingSlash(path);
    FName = folder.mid(folder.lastIndexOf(u'/') + 1);
    FPath = FName.isEmpty() ? QString() : FName + u'/';
}

QString TFileSystemCategory::FolderPath() const
{
    if (StripTrailingSlash(FPath).isEmpty()) return QString();
    return StripTrailingSlash(GetFullPath());
}

TItemStates TFileSystemCategory::GetState()
{
    const QString folder = FolderPath();
    return FollowExistence(!folder.isEmpty() && FolderExists(folder));
}

bool TFileSystemCategory::HasChildren()
{
    const bool inherited = TCategory::HasChildren();
    if (inherited || Loaded()) return inherited;
    const QString folder = FolderPath();
    if (folder.isEmpty()) return false;
    bool found = false;
    EnumerateFolder(folder, [&](const TSearchRec& entry) {
        found = entry.IsDirectory && !HasLnkExtension(entry.Name);
        return !found;
    });
    return found;
}

bool TFileSystemCategory::Load()
{
    const bool result = TCategory::Load();
    const QString folder = FolderPath();
    if (folder.isEmpty()) return result;
    const QString parentPath = folder + u'/';
    EnumerateFolder(folder, [&](const TSearchRec& entry) {
        if (HasLnkExtension(entry.Name)) return true;
        if (entry.IsDirectory) {
            if (FLoadMode == lmItemsOnly) return true;
            if (TCategory* child = CreateChildCategory(parentPath, entry)) {
                Categories().Add(child);
                return !DoProgress(child);
            }
        } else {
            if (FLoadMode == lmCategoriesOnly) return true;
            if (TItemBase* item = CreateItem(parentPath, entry)) {
                Items().Add(item);
                return !DoProgress(item);
            }
        }
        return true;
    });
    return result;
}

TCategory* TFileSystemCategory::CreateChildCategory(const QString& parentPath,
                                                    const TSearchRec& entry)
{
    return new TFileSystemCategory(FileNames::Display(entry.Name), parentPath + entry.Name,
                                   isModifiable | isContainer);
}

TItemBase* TFileSystemCategory::CreateItem(const QString& parentPath, const TSearchRec& entry)
{
    return new TFileItem(parentPath + entry.Name);
}

TRootFileSystemCategory::TRootFileSystemCategory(const QString& name, const QString& path)
    : TFileSystemCategory(name, path, isContainer)
{
    TRootFileSystemCategory::SetPath(path);
    FName = name;
}

void TRootFileSystemCategory::SetPath(const QString& path)
{
    FPath = path.endsWith(u'/') ? path : path + u'/';
}

TReaderCategory::TReaderCategory(const QString& name, const QString& path)
    : TRootFileSystemCategory(name, path)
{
}

TCategory* TReaderCategory::CreateChildCategory(const QString& parentPath, const TSearchRec& entry)
{
    // The reader's own system folders at its root stay out of sight.
    if (SameTextAscii(entry.Name, QStringLiteral("xal")) ||
        SameTextAscii(entry.Name, QStringLiteral("_sys_")))
        return nullptr;
    return TRootFileSystemCategory::CreateChildCategory(parentPath, entry);
}

static_assert(TReaderCategory::IdentitySize == sizeof(TDeviceIdentity));

void TReaderCategory::SetIdentity(const void* identity)
{
    if (identity)
        std::memcpy(FIdentity, identity, IdentitySize);
    else
        std::memset(FIdentity, 0, IdentitySize);
}

void TReaderCategory::Attach(const QString& name, const QString& rootFolder, char drive,
                             const void* identity)
{
    const bool mounted = !rootFolder.isEmpty() &&
                         DriveTable::IsMountedFolder(FileNames::Encode(rootFolder).toStdString());
    {
        TModelLockGuard lock(ModelGuard().Lock());
        FName = name;
        FPath = rootFolder;
        FDriveLetter = drive;
        FRootWasMounted = mounted;
        SetIdentity(identity);
    }
    if (OnChange) OnChange(this);
}

void TReaderCategory::Detach()
{
    // The search may be walking this reader's folders: it stops before they go.
    ModelGuard().BeforeChange();
    {
        TModelLockGuard lock(ModelGuard().Lock());
        FName = QStringLiteral("阅读器书库");
        FDriveLetter = 0;
        FPath.clear();
        FRootWasMounted = false;
    }
    // Zeroed before anyone is told: a store page refreshed by OnChange must read "".
    SetIdentity(nullptr);
    if (OnChange) OnChange(this);
}

bool TReaderCategory::VolumePresent() const
{
    if (!FDriveLetter || StripTrailingSlash(FPath).isEmpty()) return false;
    const QByteArray root = FileNames::Encode(FPath);
    if (FRootWasMounted) return DriveTable::IsMountedFolder(root.toStdString());
    return FolderExists(FPath);
}

TReaderCategory* ReaderOf(TItemBase* item)
{
    for (TItemBase* i = item; i; i = i->Parent())
        if (auto* reader = dynamic_cast<TReaderCategory*>(i)) return reader;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Search results and the root

TSearchResultCategory::TSearchResultCategory(const QString& name, const QString& path)
    : TCategory(name, path, ckList, 0)
{
}

TSearchResultCategory::~TSearchResultCategory()
{
    // Emptied while this class's hooks still apply: the listed books belong to others.
    if (ItemCount() > 0) Items().Clear();
}

bool TSearchResultCategory::Load()
{
    return true;
}

void TSearchResultCategory::ItemAdded(TItemBase* object)
{
    if (auto* item = dynamic_cast<TFileItem*>(object)) item->FSearchOwner = this;
}

void TSearchResultCategory::ItemRemoved(TItemBase* object)
{
    if (auto* item = dynamic_cast<TFileItem*>(object)) item->FSearchOwner = nullptr;
}

QString TSystemCategory::LocalLibraryPath()
{
    return LocalLibraryOverride.isEmpty() ? Folders::DataFolder() + QStringLiteral("Storages/")
                                          : LocalLibraryOverride;
}

void TSystemCategory::SetLocalLibraryPath(const QString& path)
{
    LocalLibraryOverride = path;
}

QString TSystemCategory::StoreHomeUrl()
{
    return QStringLiteral("https://store.vadaziv.example/");
}

TSystemCategory::TSystemCategory() : TCategory(QString(), QString(), ckList, 0)
{
    FReaderMonitor = std::make_unique<TReaderMonitor>(this);
    Categories().Add(new TBrowserCategory(QStringLiteral("网上书城"), StoreHomeUrl()));
    Categories().Add(new TRootFileSystemCategory(QStringLiteral("本地书库"), LocalLibraryPath()));
    Categories().Add(new TReaderCategory(QStringLiteral("阅读器书库"), QString()));
    Categories().Add(new TReaderCategory(QStringLiteral("阅读器书库"), QString()));
    RescanReaders();
}

TSystemCategory::~TSystemCategory()
{
    FReaderMonitor.reset();
}

void TSystemCategory::Clear() {}

void TSystemCategory::RescanReaders()
{
    if (FReaderMonitor) FReaderMonitor->RescanReaders();
}

void TSystemCategory::OrderReaders()
{
    if (FReaderMonitor) FReaderMonitor->OrderReaders();
}

char TSystemCategory::SlotDriveLetter(int slot) const
{
    return ReaderSlot(slot)->DriveLetter();
}

void TSystemCategory::AttachSlot(int slot, const QString& name, const QString& rootFolder,
                                 char drive, const TDeviceIdentity& identity)
{
    ReaderSlot(slot)->Attach(name, rootFolder, drive, &identity);
}

void TSystemCategory::EmptySlot(int slot)
{
    ReaderSlot(slot)->Detach();
}

void TSystemCategory::ForgetSlotIdentity(int slot)
{
    ReaderSlot(slot)->ForgetIdentity();
    if (OnIdentityLost) OnIdentityLost();
}

void TSystemCategory::ExchangeSlots()
{
    Categories().Exchange(2, 3);
}

bool TSystemCategory::HasSearchResults() const
{
    return CategoryCount() > 0 && dynamic_cast<TSearchResultCategory*>(Child(CategoryCount() - 1));
}

TSearchResultCategory* TSystemCategory::FindSearchResults()
{
    if (!HasSearchResults())
        Categories().Add(new TSearchResultCategory(QStringLiteral("搜索结果"), QString()));
    return static_cast<TSearchResultCategory*>(Child(CategoryCount() - 1));
}

// ---------------------------------------------------------------------------------------------
// Search matching

TKeywordList SplitKeywords(const QString& text)
{
    TKeywordList keywords;
    const auto separator = [](QChar c) { return c == u',' || c == u' ' || c.unicode() < 32; };
    qsizetype i = 0;
    const qsizetype n = text.size();
    // Leading separators (blanks and control characters) are skipped, as in a comma list.
    while (i < n && separator(text[i]) && text[i] != u',')
        ++i;
    while (i < n) {
        QString word;
        if (text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        word += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                word += text[i++];
            }
            // Text right after the closing quote belongs to the same keyword.
            while (i < n && !separator(text[i]))
                word += text[i++];
        } else {
            while (i < n && !separator(text[i]))
                word += text[i++];
        }
        keywords.push_back(TKeyword{UpperAscii(word), false});
        if (i >= n) break;
        // Skip blanks up to and including one comma, then blanks again.
        while (i < n && separator(text[i]) && text[i] != u',')
            ++i;
        if (i < n && text[i] == u',') {
            ++i;
            while (i < n && separator(text[i]) && text[i] != u',')
                ++i;
            if (i >= n) keywords.push_back(TKeyword{}); // a trailing comma ends with an empty one
        }
    }
    return keywords;
}

bool MatchesKeywords(TFileItem* item, TKeywordList& keywords, QStringList& scratch,
                     unsigned char flags)
{
    scratch.clear();
    if (flags & sfFileName) scratch.append(item->Name());
    const struct
    {
        unsigned char Flag;
        TBookInfoOffset Field;
    } fields[] = {{sfTitle, biTitle},    {sfSubject, biSubject},     {sfCategory, biCategory},
                  {sfAuthor, biAuthor},  {sfPublisher, biPublisher}, {sfKeywords, biKeywords},
                  {sfComment, biComment}};
    for (const auto& f : fields)
        if (flags & f.Flag) scratch.append(item->InfoText(f.Field));
    return MatchesKeywordTexts(scratch, keywords);
}

bool MatchesKeywordTexts(const QStringList& texts, TKeywordList& keywords)
{
    if (texts.isEmpty() || keywords.empty()) return false;
    for (TKeyword& k : keywords)
        k.Found = false;
    size_t found = 0;
    for (const QString& text : texts) {
        const QString upper = UpperAscii(text);
        for (TKeyword& k : keywords) {
            if (k.Found || k.Text.isEmpty() || !upper.contains(k.Text)) continue;
            k.Found = true;
            if (++found == keywords.size()) return true;
        }
    }
    return false;
}

void WalkCategory(TCategory* category, const std::atomic<bool>& stop,
                  const std::function<void(TFileItem*)>& visit)
{
    TModelGuard& guard = ModelGuard();
    struct TStopScope
    {
        const std::atomic<bool>* Saved;
        explicit TStopScope(const std::atomic<bool>* stop) : Saved(WalkStop) { WalkStop = stop; }
        ~TStopScope() { WalkStop = Saved; }
    } stopScope(&stop);
    {
        if (!guard.LockForStep(stop)) return;
        std::unique_lock<TModelGuard::TLock> lock(guard.Lock(), std::adopt_lock);
        category->EnsureLoaded();
    }
    // Nothing the walk points at is freed while it runs (the main thread stops the walk first),
    // but lists may grow, so every index is checked again under the lock. A book is read without
    // the lock (its read takes the lock only to publish), so the main thread never waits for it.
    for (int i = 0;; ++i) {
        TFileItem* item = nullptr;
        {
            if (!guard.LockForStep(stop)) return;
            std::unique_lock<TModelGuard::TLock> lock(guard.Lock(), std::adopt_lock);
            if (i >= category->ItemCount()) break;
            item = dynamic_cast<TFileItem*>(category->Items()[i]);
        }
        if (!item) continue;
        item->EnsureLoaded();
        if (!item->Loaded()) return; // the read was stopped
        if (!guard.LockForStep(stop)) return;
        std::unique_lock<TModelGuard::TLock> lock(guard.Lock(), std::adopt_lock);
        visit(item);
    }
    for (int i = 0;; ++i) {
        TCategory* child = nullptr;
        {
            if (!guard.LockForStep(stop)) return;
            std::unique_lock<TModelGuard::TLock> lock(guard.Lock(), std::adopt_lock);
            if (i >= category->CategoryCount()) break;
            child = category->Category(i);
        }
        WalkCategory(child, stop, visit);
    }
}
