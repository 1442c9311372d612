#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// Replaces `path` with `bytes` so that at any moment the file holds either its old or its new
// contents in full: a temporary file beside it is written, every write checked, flushed to
// disk and renamed over the target. A file that existed keeps its permissions. On failure the
// temporary file is removed, the old file is untouched and false is returned.
//
// (QSaveFile is not used: with a file size limit or a full disk it can report success for a
// short write.)
bool WriteFileAtomically(const QString& path, const QByteArray& bytes);

// Copies the file `source` to `target` the same way: the copy is written to a hidden temporary
// file in the target's folder, flushed, given the source's permissions and times and renamed over
// `target`, so an interrupted copy (an unplugged reader, a full disk) never leaves a
// half-written file under the real name. Returns 0 or an errno value.
int CopyFileAtomically(const QString& source, const QString& target);

// Copies files so that they are safe on their device before anyone is told they are there, at
// the cost of one flush for the whole batch rather than one per file: Add copies each file to a
// temporary name beside its target (by the kernel where the file systems allow), Commit makes
// every copy durable with one sync per file system, renames each into place and syncs the
// folders. A batch that is not committed (cancelled, failed, or interrupted by an unplugged
// reader) leaves no file under a real name: its temporary files are removed.
class TCopyBatch
{
public:
    // Told the bytes copied so far of the file being added and its size; false cancels.
    using TProgress = std::function<bool(qint64 done, qint64 total)>;

    TCopyBatch() = default;
    ~TCopyBatch();
    TCopyBatch(const TCopyBatch&) = delete;
    TCopyBatch& operator=(const TCopyBatch&) = delete;

    // Copies `source` (a regular file, links followed) to a temporary file in `target`'s folder,
    // with the source's permissions and times. 0, ECANCELED when `progress` said stop, or an
    // errno value; a failed or cancelled copy leaves nothing behind.
    int Add(const QString& source, const QString& target, const TProgress& progress = {});
    // Makes the copies durable and puts them in place, in the order added. 0 or an errno value;
    // on failure what was not yet renamed is removed.
    int Commit();
    // Removes the copies not yet committed.
    void Abort();
    int Count() const { return static_cast<int>(FPending.size()); }

private:
    struct TPending
    {
        QByteArray Temporary;
        QByteArray Target;
    };
    std::vector<TPending> FPending;
};

// Writes all `size` bytes to `fd`, going on after interrupted and short writes; false on an
// error.
bool WriteAll(int fd, const char* data, size_t size);
