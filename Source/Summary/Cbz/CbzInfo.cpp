// Comic book archives (CBZ): the first picture in name order is the cover, the pictures are
// the pages, and a "ComicInfo.xml" inside, when there is one, names the book.
#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

// Compares names as a reader orders pages: runs of digits by their value, the rest ignoring
// case. (The system collator ignores numbers in the C locale, so it is not used.)
bool NaturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            QStringView da = QStringView(a).mid(i, ei - i), db = QStringView(b).mid(j, ej - j);
            while (da.size() > 1 && da[0] == QLatin1Char('0'))
                da = da.mid(1);
            while (db.size() > 1 && db[0] == QLatin1Char('0'))
                db = db.mid(1);
            if (da.size() != db.size()) return da.size() < db.size();
            if (const int c = da.compare(db); c != 0) return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a[i].toCaseFolded(), cb = b[j].toCaseFolded();
        if (ca != cb) return ca < cb;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

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
    QHash<QString, QString> fields;
    const qsizetype index = zip.IndexOf(QStringLiteral("ComicInfo.xml"), Qt::CaseInsensitive);
    QByteArray bytes;
    if (index < 0 || !zip.Read(index, bytes, 4 * 1024 * 1024, abort)) return fields;
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement()) return fields;
    while (xml.readNextStartElement())
        fields.insert(xml.name().toString(),
                      xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
    return fields;
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
    QString title = comic.value(QStringLiteral("Title"));
    if (title.isEmpty()) title = BookBaseName(fileName);
    PutText(&out, biTitle, title);
    PutText(&out, biAuthor,
            JoinAuthors(comic.value(QStringLiteral("Writer")).split(QLatin1Char(','))));
    PutText(&out, biPublisher, comic.value(QStringLiteral("Publisher")));
    PutText(&out, biCategory, comic.value(QStringLiteral("Genre")));
    PutText(&out, biKeywords, comic.value(QStringLiteral("Tags")));
    PutText(&out, biComment, comic.value(QStringLiteral("Summary")), true);
    PutText(&out, biLanguage, comic.value(QStringLiteral("LanguageISO")));
    QString date = comic.value(QStringLiteral("Year"));
    for (const char* part : {"Month", "Day"}) {
        const QString value = comic.value(QLatin1String(part));
        if (date.isEmpty() || value.isEmpty()) break;
        date += QLatin1Char('-') + value.rightJustified(2, QLatin1Char('0'));
    }
    PutText(&out, biCreationDate, date);
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
