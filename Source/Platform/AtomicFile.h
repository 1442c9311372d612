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
