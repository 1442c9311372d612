#pragma once

#include <QByteArray>
#include <QString>

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

// Writes all `size` bytes to `fd`, going on after interrupted and short writes; false on an
// error.
bool WriteAll(int fd, const char* data, size_t size);
