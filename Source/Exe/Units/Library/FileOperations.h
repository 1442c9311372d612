#pragma once

#include <QList>
#include <QString>

#include <functional>

class TCategory;
class TFileItem;

// The operations on bookshelves and books. They work on the file system first and bring the
// model up to date only where the caller expects it; a failed operation leaves the model as it
// was. They never show dialogs: integer results are 0 (or an index) on success and a negated
// errno value on failure, for the caller to turn into a message.
//
// Copies are always written to a temporary file in the target folder and renamed into place,
// and a move across file systems deletes its source only after the copy is complete.

// Whether the shelf's folder may be used now: 0, or -ENODEV when it lies on a reader whose volume
// has gone (or in a reader slot that holds none), -ENOENT when its path is empty, relative, the
// file-system root, or no folder. Every operation below checks its shelves this way first and
// writes nothing when they fail.
int CheckShelf(TCategory* category);

// Where in `name` the first character lies that a reader's file system (FAT or exFAT) refuses,
// \ / : * ? " < > | or a control character, or would silently drop, a dot or blank at the
// end; -1 when there is none. A shelf so named on a reader would not be found again.
qsizetype RefusedOnReader(const QString& name);

// Creates the folder `name` inside `parent` and appends a shelf for it. Returns its index in
// parent's Categories, or a negated errno (EEXIST when it exists, EINVAL for a name that would
// not be a single visible folder, or that the reader's file system refuses).
int CreateBookshelf(TCategory* parent, const QString& name);

// Deletes the shelf's folder, to the trash or for good (always for good on a reader, which has no
// recycle bin). The model is not changed. A root (the local library, a reader) is never deleted:
// -EPERM.
int DeleteBookshelf(TCategory* category, bool toTrash);

// Told how many of the shelf's files are deleted and how many there are; false stops.
using TDeleteProgress = std::function<bool(int done, int total)>;
// The same with progress for a delete for good, file by file (a move to the trash is one step):
// -ECANCELED when `progress` stopped it, with the files deleted so far gone.
int DeleteBookshelf(TCategory* category, bool toTrash, const TDeleteProgress& progress);

// Copies or moves the source shelf's folder into the target shelf's folder; same-named files
// there are overwritten. The model is not changed.
int CopyOrMoveBookshelf(TCategory* source, TCategory* target, bool move);

// Renames the shelf's folder (never over an existing one) and then the category. Names are
// checked as for CreateBookshelf.
int RenameBookshelf(TCategory* category, const QString& newName);

// Copies a file into the shelf, overwriting a file of that name. Returns the index of its item
// (an existing one of the same path, or a new one); -1 when the copy failed; -2 when the source
// is that very file.
int AddBook(TCategory* category, const QString& sourceFile);

// Deletes the book's file, to the trash or for good (always for good on a reader); true only when
// the file is gone (also when it already was). The model is not changed.
bool DeleteBook(TFileItem* item, bool toTrash);

// Copies or moves the books' files into the target shelf, overwriting same-named files. True on
// success. The model is not changed.
bool CopyOrMoveBooks(TCategory* target, const QList<TFileItem*>& items, bool move);

// Told which book (index in the list) is being copied, how many of its bytes are copied and its
// size; false stops the copy.
using TBooksProgress = std::function<bool(int book, qint64 done, qint64 total)>;

// The same with progress and the reason: 0, -ECANCELED when `progress` stopped it, or a negated
// errno (ENOSPC for a full reader). Moves within one file system are renames; copies are made
// durable once for the whole batch before they appear under their names. Books copied completely
// before a failure or a stop stay (a moved book's source goes only once its copy is in place);
// the one in progress leaves nothing behind.
int CopyOrMoveBooks(TCategory* target, const QList<TFileItem*>& items, bool move,
                    const TBooksProgress& progress);
