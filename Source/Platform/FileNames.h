#pragma once

#include <QByteArray>
#include <QString>

// File names are bytes. Most are UTF-8, but archives made on Chinese Windows bring names in
// GBK, which no UTF-8 decoder can turn into text and back. The program keeps every path as a
// QString that maps back to the very same bytes: valid UTF-8 decodes as usual, and each byte
// that is not part of valid UTF-8 becomes one code unit U+DC80 + byte (a lone low surrogate,
// which no real text contains). Every file-system call encodes with EncodeFileName; what the
// user sees goes through DisplayFileName.
namespace FileNames {

// The bytes of a path for the file system.
QByteArray Encode(const QString& path);
// A path from the file system, losing nothing.
QString Decode(const QByteArray& bytes);
inline QString Decode(const char* bytes)
{
    return Decode(QByteArray(bytes));
}

// Whether a file or folder is there (links followed), and a file's size (-1 when it is not).
bool Exists(const QString& path);
qint64 Size(const QString& path);

// The path of the file that Qt's own widgets (the open dialog) call `qtPath`: they decode names
// that are not UTF-8 with losses, so such a name is looked up among the folder's entries.
// Returns `qtPath` itself when it names a file as it is, or when nothing matches.
QString FromQtPath(const QString& qtPath);

// True when `link` (given by its bytes) leads to a folder that holds it: its own folder, one
// above, or the root. Following it would walk in a circle.
bool LeadsBackUp(const QByteArray& link);

// True when the path holds bytes that are not UTF-8.
bool HasForeignBytes(const QString& path);

// What to show for a name or a path: each component with bytes that are not UTF-8 is read as
// GB18030 (the code page those names come from); other components are shown as they are.
// (In the platform library; the rest of this unit is a library of its own that the book
// libraries link too.)
QString Display(const QString& path);

} // namespace FileNames
