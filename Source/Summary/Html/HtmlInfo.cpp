// Web pages (HTML, XHTML) and zipped web pages (HTMLZ: a page, its package document and its
// pictures in one archive). A page tells its title and metadata in its head and shows its cover
// as its first picture; a zipped page names both in its package document, and its page fills
// in what the package leaves out. Which of the two a file is, its first bytes decide.
#include "HtmlHead.h"
#include "HtmlzPackage.h"
#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QFile>
#include <QImageReader>
#include <QSet>
#include <QStringEncoder>

#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

constexpr qint64 MaxXmlSize = 8 * 1024 * 1024;
// Pictures decoded in search of a cover before giving up.

bool IsArchive(const char* fileName)
{
    QFile file;
    if (!OpenBookFile(file, fileName)) return false;
    const QByteArray magic = file.read(4);
    return magic == QByteArrayLiteral("PK\x03\x04") || magic == QByteArrayLiteral("PK\x05\x06");
}

void PutFacts(TBookInfo* out, const THtmlFacts& facts, const char* fileName)
{
    PutText(out, biTitle, facts.Title.isEmpty() ? BookBaseName(fileName) : facts.Title);
    PutText(out, biAuthor, JoinAuthors(facts.Authors));
    PutText(out, biPublisher, facts.Publisher);
    PutText(out, biSubject, facts.Subjects.join(QStringLiteral("; ")));
    PutText(out, biKeywords, facts.Keywords);
    PutText(out, biComment, facts.Description, true);
    PutText(out, biCreationDate, BookDate(facts.Created));
    PutText(out, biModificationDate, BookDate(facts.Modified));
    PutText(out, biLanguage, facts.Language);
    PutText(out, biIdentifier, facts.Identifier);
}

// ---- A page on disk

bool ReadPageHead(const char* fileName, QByteArray& bytes)
{
    QFile file;
    if (!OpenBookFile(file, fileName)) return false;
    bytes = file.read(MaxHtmlHead);
    return file.error() == QFileDevice::NoError;
}

// The paths on disk `source` may name: relative to the page and inside the page's folder tree
// (a page on a reader has no business with the rest of the disk), never an address elsewhere.
// A relative URL is percent-encoded; the bytes it encodes are UTF-8, or GB18030 in pages made
// on Chinese Windows, so both readings are tried.
QList<QByteArray> LocalPicturePaths(const char* pageName, QString source)
{
    source.replace(QLatin1Char('\\'), QLatin1Char('/')); // written on Windows
    const qsizetype colon = source.indexOf(u':');
    const qsizetype slash = source.indexOf(u'/');
    // "http:", "data:", "file:" and drive letters all put a colon before any slash.
    if (source.isEmpty() || source.startsWith(u'/') || source.startsWith(u'#') ||
        (colon >= 0 && (slash < 0 || colon < slash)))
        return {};
    for (qsizetype i = 0; i < source.size(); ++i)
        if (source[i] == u'?' || source[i] == u'#') {
            source.truncate(i);
            break;
        }

    const QByteArray page(pageName);
    const qsizetype pageSlash = page.lastIndexOf('/');
    const QByteArray folder = pageSlash < 0 ? QByteArray(".") : page.left(pageSlash);
    QStringEncoder gb18030("GB18030");
    const QByteArray encodings[] = {source.toUtf8(), gb18030(source)};
    QList<QByteArray> paths;
    for (const QByteArray& encoded : encodings) {
        QList<QByteArray> parts;
        bool outside = false;
        for (const QByteArray& part : QByteArray::fromPercentEncoding(encoded).split('/')) {
            if (part.isEmpty() || part == ".") continue;
            if (part != "..") {
                parts << part;
            } else if (parts.isEmpty()) {
                outside = true;
                break;
            } else {
                parts.removeLast();
            }
        }
        if (outside || parts.isEmpty()) continue;
        const QByteArray path = folder + '/' + parts.join('/');
        if (path.contains('\0')) continue;
        if (!paths.contains(path)) paths << path;
    }
    return paths;
}

// A picture file, decoded for the box. Only a regular file of bounded size is read: a page
// may name a device or a pipe that would never end.
QImage LocalPicture(const QByteArray& path, const QSize& box)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return {};
    struct stat status;
    QFile file;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > MaxPartSize ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return DecodeScaled(&file, box);
}

unsigned char PageInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    QByteArray bytes;
    if (!ReadPageHead(fileName, bytes)) return 0;
    const THtmlHead head = ReadHtmlHead(bytes, abort);
    if (Stopped(abort)) return 0;
    TBookInfo out = *info;
    PutFacts(&out, FactsOf(head), fileName);
    std::memcpy(info, &out, sizeof out);
    return 1;
}

unsigned char PageThumbnail(const char* fileName, TThumbnailInfo* thumbnail, TAbortQuery abort)
{
    QByteArray bytes;
    if (!ReadPageHead(fileName, bytes)) return 0;
    const THtmlHead head = ReadHtmlHead(bytes, abort);
    const QSize box = WantedSize(thumbnail);
    int tries = 0;
    for (const QString& source : head.Images) {
        for (const QByteArray& path : LocalPicturePaths(fileName, source)) {
            if (tries >= TZipCoverPicker::MaxTries || Stopped(abort)) return 0;
            if (!MayDecodePicture(QString::fromUtf8(path))) continue;
            ++tries;
            if (PutThumbnail(thumbnail, LocalPicture(path, box))) return 1;
        }
    }
    return 0;
}

// ---- A zipped page

bool IsPageName(const QString& name)
{
    return name.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".xhtml"), Qt::CaseInsensitive);
}

// The archive's page: "index.html", else the first page at the top, else the first anywhere.
qsizetype PageEntry(const TZipReader& zip)
{
    const qsizetype index = zip.Find(QStringLiteral("index.html"));
    if (index >= 0) return index;
    qsizetype anywhere = -1;
    for (qsizetype i = 0; i < zip.Names().size(); ++i) {
        if (!IsPageName(zip.Names()[i])) continue;
        if (!zip.Names()[i].contains(u'/')) return i;
        if (anywhere < 0) anywhere = i;
    }
    return anywhere;
}

qsizetype PackageEntry(const TZipReader& zip)
{
    const qsizetype index = zip.Find(QStringLiteral("metadata.opf"));
    if (index >= 0) return index;
    for (qsizetype i = 0; i < zip.Names().size(); ++i)
        if (zip.Names()[i].endsWith(QLatin1String(".opf"), Qt::CaseInsensitive)) return i;
    return -1;
}

// The first bytes of an entry. The page of a zipped book holds the whole book and its metadata
// sits at the top, so the rest is never inflated.
QByteArray ReadEntryHead(const char* fileName, qsizetype index, TAbortQuery abort)
{
    if (index < 0) return {};
    int error = 0;
    zip_t* archive = zip_open(fileName, ZIP_RDONLY, &error);
    if (!archive) return {};
    QByteArray bytes;
    if (zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0)) {
        constexpr qsizetype chunk = 256 * 1024;
        bytes.resize(MaxHtmlHead);
        qsizetype used = 0;
        while (used < bytes.size() && !Stopped(abort)) {
            const zip_int64_t got =
                zip_fread(file, bytes.data() + used,
                          static_cast<zip_uint64_t>(qMin(chunk, bytes.size() - used)));
            if (got <= 0) break;
            used += static_cast<qsizetype>(got);
        }
        bytes.resize(used);
        zip_fclose(file);
    }
    zip_discard(archive);
    return bytes;
}

THtmlzPackage ReadPackage(const TZipReader& zip, TAbortQuery abort)
{
    const qsizetype index = PackageEntry(zip);
    QByteArray bytes;
    if (index < 0 || !zip.Read(index, bytes, MaxXmlSize, abort)) return {};
    return ReadHtmlzPackage(bytes, zip.Names()[index], abort);
}

// The package's metadata, with the page's head for what the package lacks.
THtmlFacts Merge(const THtmlzPackage& package, THtmlFacts facts)
{
    auto over = [](auto& field, const auto& value) {
        if (!value.isEmpty()) field = value;
    };
    over(facts.Title, package.Title);
    over(facts.Authors, package.Authors);
    over(facts.Publisher, package.Publisher);
    over(facts.Subjects, package.Subjects);
    over(facts.Description, package.Description);
    over(facts.Created, package.Created);
    over(facts.Modified, package.Modified);
    over(facts.Language, package.Language);
    over(facts.Identifier, package.Identifier);
    return facts;
}

// The pictures a page inside the archive shows, as entry names.
QStringList PagePictures(const char* fileName, const TZipReader& zip, qsizetype page,
                         TAbortQuery abort)
{
    QStringList pictures;
    if (page < 0) return pictures;
    const THtmlHead head = ReadHtmlHead(ReadEntryHead(fileName, page, abort), abort);
    for (const QString& source : head.Images) {
        const qsizetype colon = source.indexOf(u':');
        const qsizetype slash = source.indexOf(u'/');
        if (colon >= 0 && (slash < 0 || colon < slash)) continue; // an address elsewhere
        const QString entry = ResolveHref(zip.Names()[page], source);
        if (!entry.isEmpty()) pictures << entry;
    }
    return pictures;
}

// Entries called "cover" with a picture's extension, the shallowest first.
QStringList CoverNamedEntries(const TZipReader& zip)
{
    QStringList covers;
    for (const QString& name : zip.Names()) {
        const QString base = name.mid(name.lastIndexOf(u'/') + 1);
        if (base.startsWith(QLatin1String("cover."), Qt::CaseInsensitive) &&
            MayDecodePicture(base) && base.size() > 6)
            covers << name;
    }
    std::stable_sort(covers.begin(), covers.end(), [](const QString& a, const QString& b) {
        return a.count(u'/') < b.count(u'/');
    });
    return covers;
}

unsigned char ArchiveInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    const TZipReader zip(fileName);
    if (!zip.IsOpen()) return 0;
    const THtmlzPackage package = ReadPackage(zip, abort);
    const qsizetype page = PageEntry(zip);
    THtmlFacts facts;
    if (page >= 0)
        facts = FactsOf(ReadHtmlHead(ReadEntryHead(fileName, page, abort), abort));
    if (Stopped(abort)) return 0;
    TBookInfo out = *info;
    PutFacts(&out, Merge(package, facts), fileName);
    std::memcpy(info, &out, sizeof out);
    return 1;
}

unsigned char ArchiveThumbnail(const char* fileName, TThumbnailInfo* thumbnail, TAbortQuery abort)
{
    const TZipReader zip(fileName);
    if (!zip.IsOpen()) return 0;
    TZipCoverPicker picker(zip, thumbnail, abort);
    const THtmlzPackage package = ReadPackage(zip, abort);
    for (const QString& name : package.CoverEntries)
        if (picker.Try(name)) return 1;
    if (!package.GuideCoverPage.isEmpty())
        for (const QString& name :
             PagePictures(fileName, zip, zip.Find(package.GuideCoverPage), abort))
            if (picker.Try(name)) return 1;
    for (const QString& name : CoverNamedEntries(zip))
        if (picker.Try(name)) return 1;
    for (const QString& name : PagePictures(fileName, zip, PageEntry(zip), abort))
        if (picker.Try(name)) return 1;
    return 0;
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    return IsArchive(fileName) ? ArchiveInfo(fileName, info, abort)
                               : PageInfo(fileName, info, abort);
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    return IsArchive(fileName) ? ArchiveThumbnail(fileName, thumbnail, abort)
                               : PageThumbnail(fileName, thumbnail, abort);
}
