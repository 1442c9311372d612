#include "AtomicFile.h"

#include "FileNames.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

namespace {

mode_t CurrentUmask()
{
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

// The temporary file beside a target: a short name of its own, so a target whose name is as long
// as the file system allows still gets one.
static QByteArray TemporaryPattern(const QByteArray& folder)
{
    return folder + "/.korvel-XXXXXX";
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = FileNames::Encode(path);
    const QByteArray folder = FileNames::Encode(QFileInfo(path).absolutePath());
    QByteArray pattern = TemporaryPattern(folder);

    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;

    struct stat old;
    const mode_t mode =
        stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());
    bool ok = fchmod(fd, mode) == 0 || errno == EPERM;
    ok = ok && WriteAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(pattern.constData(), target.constData()) == 0;
    if (!ok) {
        unlink(pattern.constData());
        return false;
    }
    // Make the rename itself durable.
    const int dir = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

int CopyFileAtomically(const QString& source, const QString& target)
{
    TCopyBatch batch;
    const int error = batch.Add(source, target);
    return error ? error : batch.Commit();
}

namespace {

// Copies what is left of `in` to `out` in slices, by the kernel where both file systems allow
// (no copy through this process, and on some file systems no copy at all), otherwise through a
// buffer. Asks `progress` after every slice.
int CopyContents(int in, int out, qint64 size, const TCopyBatch::TProgress& progress)
{
    constexpr size_t slice = 8 << 20;
    qint64 done = 0;
    bool kernel = true;
    std::vector<char> buffer;
    for (;;) {
        ssize_t n = -1;
        if (kernel) {
            n = copy_file_range(in, nullptr, out, nullptr, slice, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                kernel = false;
                continue;
            }
        } else {
            if (buffer.empty()) buffer.resize(1 << 20);
            n = read(in, buffer.data(), buffer.size());
            if (n > 0 && !WriteAll(out, buffer.data(), static_cast<size_t>(n)))
                return errno ? errno : EIO;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        done += n;
        if (progress && !progress(done, size)) return ECANCELED;
    }
}

} // namespace

TCopyBatch::~TCopyBatch()
{
    Abort();
}

int TCopyBatch::Add(const QString& source, const QString& target, const TProgress& progress)
{
    const QByteArray from = FileNames::Encode(source);
    QByteArray pattern = TemporaryPattern(FileNames::Encode(QFileInfo(target).absolutePath()));

    const int in = open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        close(in);
        return error ? error : EINVAL;
    }
    const int out = mkostemp(pattern.data(), O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        close(in);
        return error;
    }
    int error = CopyContents(in, out, st.st_size, progress);
    close(in);
    if (!error && fchmod(out, st.st_mode & 07777) != 0 && errno != EPERM) error = errno;
    // The copy keeps the book's dates, as a copy in a file manager does.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (!error && futimens(out, times) != 0 && errno != EPERM) error = errno;
    if (close(out) != 0 && !error) error = errno;
    if (error) {
        unlink(pattern.constData());
        return error;
    }
    FPending.push_back({pattern, FileNames::Encode(target)});
    return 0;
}

int TCopyBatch::Commit()
{
    int error = 0;
    // One flush per file system for the whole batch: as cheap as a "sync" after a plain copy,
    // and no copy is in place before its bytes are on the device. A single copy only flushes
    // itself.
    std::vector<dev_t> flushed;
    for (const TPending& p : FPending) {
        struct stat st;
        if (stat(p.Temporary.constData(), &st) != 0) {
            error = errno;
            break;
        }
        const bool single = FPending.size() == 1;
        if (!single && std::find(flushed.begin(), flushed.end(), st.st_dev) != flushed.end())
            continue;
        const int fd = open(p.Temporary.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || (single ? fsync(fd) : syncfs(fd)) != 0) error = errno;
        if (fd >= 0) close(fd);
        if (error) break;
        flushed.push_back(st.st_dev);
    }
    std::vector<QByteArray> folders;
    size_t placed = 0;
    for (; !error && placed < FPending.size(); ++placed) {
        const TPending& p = FPending[placed];
        if (rename(p.Temporary.constData(), p.Target.constData()) != 0) {
            error = errno;
            break;
        }
        const QByteArray folder = p.Target.left(p.Target.lastIndexOf('/') + 1);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    // The renames themselves made durable.
    for (const QByteArray& folder : folders) {
        const int dir = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) continue;
        if (fsync(dir) != 0 && !error) error = errno;
        close(dir);
    }
    FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(placed));
    Abort();
    return error;
}

void TCopyBatch::Abort()
{
    for (const TPending& p : FPending)
        unlink(p.Temporary.constData());
    FPending.clear();
}
