// The default book-information library: plain-text books, pictures and, for every file, its
// dates. The program asks it when no plug-in reads a format, or when a plug-in wants the
// default to run as well. ShowProperties is its alone.
#include "FileNames.h"
#include "PropertiesDialog.h"
#include "SummaryCommon.h"
#include "TextBook.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFileInfo>
#include <QImageReader>

#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

bool IsPicture(const QString& extension)
{
    static const QStringList pictures = {"jpg", "jpeg", "png", "bmp", "gif", "webp", "tif", "tiff"};
    return pictures.contains(extension);
}

bool IsText(const QString& extension)
{
    return extension == QLatin1String("txt") || extension == QLatin1String("text");
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info) return 0;
    // Asked by the file's bytes: its name need not be UTF-8.
    struct statx sx;
    if (statx(AT_FDCWD, fileName, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0 ||
        !S_ISREG(sx.stx_mode))
        return 0;
    // Filled in a copy, so a read that fails or is stopped leaves the caller's record alone.
    TBookInfo out = *info;
    if (sx.stx_mask & STATX_BTIME)
        PutDate(&out, biCreationDate,
                QDateTime::fromSecsSinceEpoch(sx.stx_btime.tv_sec).toLocalTime());
    PutDate(&out, biModificationDate,
            QDateTime::fromSecsSinceEpoch(sx.stx_mtime.tv_sec).toLocalTime());

    const QString extension = LowerExtension(fileName);
    if (IsText(extension)) {
        TTextFacts facts;
        if (!ReadTextBook(fileName, facts, abort)) return 0;
        PutText(&out, biTitle, facts.Title.isEmpty() ? BookBaseName(fileName) : facts.Title);
        if (!facts.Author.isEmpty()) PutText(&out, biAuthor, facts.Author);
        if (facts.Counted) {
            PutNumber(&out, biCharCount, facts.Characters);
            PutNumber(&out, biWordCount, facts.Words);
        }
    } else if (IsPicture(extension)) {
        PutText(&out, biTitle, BookBaseName(fileName));
    }
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || !IsPicture(LowerExtension(fileName))) return 0;
    if (Stopped(abort)) return 0;
    QFile file;
    if (!OpenBookFile(file, fileName)) return 0;
    const QImage image = DecodeScaled(&file, WantedSize(thumbnail));
    if (Stopped(abort)) return 0;
    return PutThumbnail(thumbnail, image) ? 1 : 0;
}

EXPORT int ShowProperties(void* parentWindow, const char* fileName)
{
    if (!fileName) return 0;
    return ShowPropertiesDialog(static_cast<QWidget*>(parentWindow), FileNames::Decode(fileName));
}
