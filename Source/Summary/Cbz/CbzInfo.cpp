// Comic book archives (CBZ): the first picture in name order is the cover, the pictures are
// the pages, and a "ComicInfo.xml" inside, when there is one, names the book.
#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

// The picture entries in the order a reader shows them: "page2" before "page10".
QStringList Pages(const TZipReader& zip)
{
    static const QRegularExpression image(QStringLiteral("\\.(jpe?g|png|gif|bmp|webp)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    QStringList pages;
    for (const QString& name : zip.Names())
        if (image.match(name).hasMatch() && !name.startsWith(QLatin1String("__MACOSX/")))
            pages << name;
    std::stable_sort(pages.begin(), pages.end(), NaturalLess);
    return pages;
}

QHash<QString, QString> ComicInfo(const TZipReader& zip, TAbortQuery abort)
{
    const qsizetype index = zip.IndexOf(QStringLiteral("ComicInfo.xml"), Qt::CaseInsensitive);
    QByteArray bytes;
    if (index < 0 || !zip.Read(index, bytes, 4 * 1024 * 1024, abort)) return {};
    return ParseComicInfo(bytes);
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    const TZipReader zip(fileName);
    if (!zip.IsOpen()) return 0;
    const QStringList pages = Pages(zip);
    const QHash<QString, QString> comic = ComicInfo(zip, abort);
    if (Stopped(abort)) return 0;
    TBookInfo out = *info;
    PutComicInfo(&out, comic, fileName);
    PutNumber(&out, biPageCount, pages.size());
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    const TZipReader zip(fileName);
    const QStringList pages = Pages(zip);
    QByteArray bytes;
    if (pages.isEmpty() || !zip.Read(pages.first(), bytes, MaxPartSize, abort)) return 0;
    return PutThumbnail(thumbnail, DecodeScaled(bytes, WantedSize(thumbnail))) ? 1 : 0;
}
