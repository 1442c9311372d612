#include "FileOperations.h"

#include "FileNames.h"

#include "AtomicFile.h"
#include "Categories.h"
#include "ModelGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <vector>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Native(const QString& path)
{
    return FileNames::Encode(path);
}

QString StripSlash(const QString& path)
{
    return path.endsWith(u'/') && path.size() > 1 ? path.left(path.size() - 1) : path;
}

// A shelf name must stay one visible folder: no separator, no NUL, not hidden.
bool ValidShelfName(const QString& name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(QChar(0)) &&
           !name.startsWith(u'.');
}

bool SameFile(const QString& a, const QString& b)
{
    struct stat sa, sb;
    return stat(Native(a).constData(), &sa) == 0 && stat(Native(b).constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool Exists(const QString& path)
{
    struct stat st;
    return lstat(Native(path).constData(), &st) == 0;
}

// Deletes a file, or a folder and everything in it file by file, telling `progress` how far it
// is; links are removed, never followed. Returns 0, ECANCELED when told to stop, or an errno
// value.
int RemoveForGood(const QString& path, const TDeleteProgress& progress = {})
{
    std::vector<QByteArray> files;
    std::vector<QByteArray> folders; // deepest last
    struct stat top;
    if (lstat(Native(path).constData(), &top) != 0) return errno;
    if (S_ISDIR(top.st_mode))
        for (std::vector<QByteArray> pending{Native(path)}; !pending.empty();) {
            const QByteArray folder = pending.back();
            pending.pop_back();
            folders.push_back(folder);
            DIR* dir = opendir(folder.constData());
            if (!dir) return errno;
            while (dirent* entry = readdir(dir)) {
                if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
                const QByteArray child = folder + '/' + entry->d_name;
                struct stat st;
                if (lstat(child.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                    pending.push_back(child);
                else
                    files.push_back(child);
            }
            closedir(dir);
        }
    else
        files.push_back(Native(path));
    const int total = static_cast<int>(files.size());
    for (int i = 0; i < total; ++i) {
        if (unlink(files[size_t(i)].constData()) != 0 && errno != ENOENT) return errno;
        if (progress && !progress(i + 1, total)) return ECANCELED;
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        if (rmdir(it->constData()) != 0 && errno != ENOENT) return errno;
    return 0;
}

int MoveToTrash(const QString& path)
{
    if (!Exists(path)) return ENOENT;
    if (FileNames::HasForeignBytes(path)) {
        // The trash is reached by name as text, which a name that is not UTF-8 cannot be: it
        // goes there under its readable name (a free one beside it).
        const QString folder = path.left(path.lastIndexOf(u'/') + 1);
        const QString readable = FileNames::Display(path.mid(folder.size()));
        QString renamed = folder + readable;
        for (int i = 1; Exists(renamed); ++i)
            renamed = folder + QStringLiteral("%1 (%2)").arg(readable).arg(i);
        if (renameat2(AT_FDCWD, Native(path).constData(), AT_FDCWD, Native(renamed).constData(),
                      RENAME_NOREPLACE) != 0)
            return errno;
        const int error = MoveToTrash(renamed);
        if (error) rename(Native(renamed).constData(), Native(path).constData());
        return error;
    }
    // Without the data folder the trash cannot be set up there, and the file would be moved
    // to a "files" folder below the current directory instead.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    errno = 0;
    QString inTrash;
    if (!QFile::moveToTrash(path, &inTrash)) return errno ? errno : EACCES;
    if (!QFileInfo(inTrash).isAbsolute()) {
        // Put it back rather than leave it somewhere the user would never look.
        rename(FileNames::Encode(inTrash).constData(), Native(path).constData());
        return EACCES;
    }
    return 0;
}

// Runs `step` (source entry, target entry) for every entry of the folder `source` but "." and
// "..", and stops at the first error, which it returns.
int ForEachEntry(const QString& source, const QString& target,
                 const std::function<int(const QString&, const QString&)>& step)
{
    DIR* dir = opendir(Native(source).constData());
    if (!dir) return errno;
    int error = 0;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        const QString name = FileNames::Decode(entry->d_name);
        error = step(source + u'/' + name, target + u'/' + name);
        if (error) break;
    }
    closedir(dir);
    return error;
}

// One copy of files and folders. The files go through one batch, made durable once at the end;
// the folders it made get the source's permissions only after that, so a read-only shelf is
// filled before it becomes read-only.
class TTreeCopy
{
public:
    // Copies a file or a whole folder to `target`, merging into an existing folder and
    // overwriting same-named files. A link is copied as what it points to (a book's content, a
    // folder's books), except a link back to the folder it lies in or above, which would never
    // end, and a dangling one. Returns 0 or an errno value; stops at the first failure.
    int Copy(const QString& source, const QString& target)
    {
        struct stat st;
        if (lstat(Native(source).constData(), &st) != 0) return errno;
        if (S_ISLNK(st.st_mode)) {
            if (stat(Native(source).constData(), &st) != 0) return 0; // dangling: nothing to copy
            if (S_ISDIR(st.st_mode) && FileNames::LeadsBackUp(Native(source))) return 0;
        }
        if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? FBatch.Add(source, target) : 0;

        struct stat existing;
        if (mkdir(Native(target).constData(), 0700) == 0)
            FModes.emplace_back(Native(target), st.st_mode & 07777);
        else if (errno != EEXIST || stat(Native(target).constData(), &existing) != 0 ||
                 !S_ISDIR(existing.st_mode))
            return errno == EEXIST ? ENOTDIR : errno;
        return ForEachEntry(source, target,
                            [this](const QString& s, const QString& t) { return Copy(s, t); });
    }

    // Puts what was copied completely in place (also after a failure: those copies stay) and
    // gives the folders their permissions. Returns `error`, or the first error of this step.
    int Finish(int error)
    {
        const int committed = FBatch.Commit();
        if (!error) error = committed;
        for (auto it = FModes.rbegin(); it != FModes.rend(); ++it)
            if (chmod(it->first.constData(), it->second) != 0 && !error) error = errno;
        FModes.clear();
        return error;
    }

private:
    TCopyBatch FBatch;
    std::vector<std::pair<QByteArray, mode_t>> FModes; // folders this copy made, outer first
};

int CopyEntry(const QString& source, const QString& target)
{
    TTreeCopy copy;
    return copy.Finish(copy.Copy(source, target));
}

// Moves a file or folder to `target`: a rename where it can, otherwise a complete copy, made
// durable, followed by the deletion of the source.
int MoveEntry(const QString& source, const QString& target)
{
    struct stat src, dst;
    if (lstat(Native(source).constData(), &src) != 0) return errno;
    const bool targetExists = lstat(Native(target).constData(), &dst) == 0;
    if (S_ISDIR(src.st_mode) && targetExists) {
        if (!S_ISDIR(dst.st_mode)) return ENOTDIR;
        // Merge: move the contents one by one, then drop the emptied folder.
        if (const int error = ForEachEntry(source, target, MoveEntry)) return error;
        return rmdir(Native(source).constData()) == 0 ? 0 : errno;
    }
    if (targetExists && S_ISDIR(dst.st_mode)) return EISDIR;
    if (rename(Native(source).constData(), Native(target).constData()) == 0) return 0;
    if (errno != EXDEV) return errno;
    const int error = CopyEntry(source, target);
    return error ? error : RemoveForGood(source);
}

} // namespace

int CheckShelf(TCategory* category)
{
    if (!category) return -ENOENT;
    if (TReaderCategory* reader = ReaderOf(category))
        if (!reader->VolumePresent()) return -ENODEV;
    const QString path = StripSlash(category->GetFullPath());
    if (path.isEmpty() || path == QLatin1String("/") || !path.startsWith(u'/')) return -ENOENT;
    struct stat st;
    if (stat(Native(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return -ENOENT;
    return 0;
}

qsizetype RefusedOnReader(const QString& name)
{
    static const QString refused = QStringLiteral("\\/:*?\"<>|");
    for (qsizetype i = 0; i < name.size(); ++i)
        if (name.at(i).unicode() < 32 || refused.contains(name.at(i))) return i;
    if (name.endsWith(u'.') || name.endsWith(u' ')) return name.size() - 1;
    return -1;
}

int CreateBookshelf(TCategory* parent, const QString& name)
{
    if (!ValidShelfName(name) || (ReaderOf(parent) && RefusedOnReader(name) >= 0)) return -EINVAL;
    if (const int error = CheckShelf(parent)) return error;
    const QString path = parent->GetFullPath() + name;
    if (mkdir(Native(path).constData(), 0777) != 0) return -errno;
    return parent->Categories().Add(
        new TFileSystemCategory(name, path, isModifiable | isContainer));
}

int DeleteBookshelf(TCategory* category, bool toTrash)
{
    return DeleteBookshelf(category, toTrash, TDeleteProgress());
}

int DeleteBookshelf(TCategory* category, bool toTrash, const TDeleteProgress& progress)
{
    if (!category || !category->Parent() || dynamic_cast<TRootFileSystemCategory*>(category) ||
        !(category->State() & isModifiable))
        return -EPERM;
    if (const int error = CheckShelf(category)) return error;
    const QString path = StripSlash(category->GetFullPath());
    if (path.isEmpty() || path == QLatin1String("/")) return -EINVAL;
    // A reader has no recycle bin: a trash folder on it would keep the space taken.
    if (ReaderOf(category)) toTrash = false;
    const int error = toTrash        ? MoveToTrash(path)
                      : Exists(path) ? RemoveForGood(path, progress)
                                     : ENOENT;
    if (!error && Exists(path)) return -EIO; // never report a folder that is still there as gone
    return -error;
}

int CopyOrMoveBookshelf(TCategory* source, TCategory* target, bool move)
{
    if (const int error = CheckShelf(source)) return error;
    if (const int error = CheckShelf(target)) return error;
    const QString from = StripSlash(source->GetFullPath());
    const QString into = StripSlash(target->GetFullPath());
    if (from.isEmpty() || into.isEmpty()) return -EINVAL;
    // A folder cannot go inside itself.
    if (into == from || into.startsWith(from + u'/')) return -EINVAL;
    const QString to = into + u'/' + from.mid(from.lastIndexOf(u'/') + 1);
    if (SameFile(from, to)) return 0;
    return -(move ? MoveEntry(from, to) : CopyEntry(from, to));
}

int RenameBookshelf(TCategory* category, const QString& newName)
{
    if (!ValidShelfName(newName) || (ReaderOf(category) && RefusedOnReader(newName) >= 0))
        return -EINVAL;
    if (const int error = CheckShelf(category)) return error;
    const QString oldPath = StripSlash(category->GetFullPath());
    const QString newPath = oldPath.left(oldPath.lastIndexOf(u'/') + 1) + newName;
    if (SameFile(oldPath, newPath)) {
        // Only the letter case changes, on a file system that ignores it: the new name "exists"
        // as the folder itself, so the rename goes through a name of its own.
        if (oldPath == newPath) return 0;
        const QString step = oldPath.left(oldPath.lastIndexOf(u'/') + 1) +
                             QStringLiteral(".korvel-rename-%1").arg(getpid());
        if (renameat2(AT_FDCWD, Native(oldPath).constData(), AT_FDCWD, Native(step).constData(),
                      RENAME_NOREPLACE) != 0)
            return -errno;
        if (rename(Native(step).constData(), Native(newPath).constData()) != 0) {
            const int error = errno;
            rename(Native(step).constData(), Native(oldPath).constData());
            return -error;
        }
    } else if (renameat2(AT_FDCWD, Native(oldPath).constData(), AT_FDCWD,
                         Native(newPath).constData(), RENAME_NOREPLACE) != 0) {
        // Never over an existing folder, as a plain move of a folder behaves.
        return -errno;
    }
    ModelGuard().BeforeChange();
    category->SetName(newName);
    category->SetPath(newPath);
    return 0;
}

int AddBook(TCategory* category, const QString& sourceFile)
{
    if (CheckShelf(category) != 0) return -1;
    const QString target =
        category->GetFullPath() + sourceFile.mid(sourceFile.lastIndexOf(u'/') + 1);
    if (sourceFile == target || SameFile(sourceFile, target)) return -2;
    if (CopyFileAtomically(sourceFile, target) != 0) return -1;
    const int existing = category->IndexOfItem(target);
    if (existing >= 0) return existing;
    return category->Items().Add(new TFileItem(target));
}

bool DeleteBook(TFileItem* item, bool toTrash)
{
    if (CheckShelf(item->Parent()) != 0) return false;
    const QString path = item->GetFullPath();
    if (!Exists(path)) return true;
    if (ReaderOf(item)) toTrash = false; // no recycle bin on a reader
    if (toTrash) {
        if (MoveToTrash(path) != 0) return false;
    } else if (unlink(Native(path).constData()) != 0 && errno != ENOENT) {
        return false;
    }
    // Success only when the file is really gone.
    return !Exists(path);
}

int CopyOrMoveBooks(TCategory* target, const QList<TFileItem*>& items, bool move,
                    const TBooksProgress& progress)
{
    if (const int error = CheckShelf(target)) return error;
    for (TFileItem* item : items)
        if (const int error = CheckShelf(item->Parent())) return error;
    const QString folder = target->GetFullPath();
    TCopyBatch batch;
    QStringList copiedToMove; // sources that go once their copies are in place
    int error = 0;
    for (qsizetype i = 0; i < items.size() && !error; ++i) {
        const QString from = items[i]->GetFullPath();
        const QString to = folder + items[i]->FileName();
        const auto tell = [&](qint64 done, qint64 total) {
            return !progress || progress(int(i), done, total);
        };
        if (SameFile(from, to)) { // already there: nothing to copy, nothing to delete
            if (!tell(0, 0)) error = ECANCELED;
            continue;
        }
        if (move) {
            struct stat dst;
            if (lstat(Native(to).constData(), &dst) == 0 && S_ISDIR(dst.st_mode)) {
                error = EISDIR;
                break;
            }
            if (rename(Native(from).constData(), Native(to).constData()) == 0) {
                if (!tell(0, 0)) error = ECANCELED;
                continue;
            }
            if (errno != EXDEV) {
                error = errno;
                break;
            }
        }
        error = batch.Add(from, to, tell);
        if (!error && move) copiedToMove << from;
    }
    // The books copied completely stay, also when a later one failed or the user stopped.
    const int committed = batch.Commit();
    if (!committed)
        for (const QString& from : copiedToMove)
            unlink(Native(from).constData());
    return -(error ? error : committed);
}

bool CopyOrMoveBooks(TCategory* target, const QList<TFileItem*>& items, bool move)
{
    return CopyOrMoveBooks(target, items, move, TBooksProgress()) == 0;
}
