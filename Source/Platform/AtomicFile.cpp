#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>

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
    const QByteArray target = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
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
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    QByteArray pattern = TemporaryPattern(QFile::encodeName(QFileInfo(target).absolutePath()));

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
    int error = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer, static_cast<size_t>(n))) {
            error = errno ? errno : EIO;
            break;
        }
    }
    close(in);
    if (!error && fchmod(out, st.st_mode & 07777) != 0 && errno != EPERM) error = errno;
    // The copy keeps the book's dates, as a copy in a file manager does.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (!error && futimens(out, times) != 0 && errno != EPERM) error = errno;
    if (!error && fsync(out) != 0) error = errno;
    if (close(out) != 0 && !error) error = errno;
    if (!error && rename(pattern.constData(), to.constData()) != 0) error = errno;
    if (error) unlink(pattern.constData());
    return error;
}
