// EPUB 2 and 3 and the OEBPS 1 books before them: the package document's metadata, the cover
// and the encryption flag.
#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

constexpr qint64 MaxXmlSize = 8 * 1024 * 1024;

struct TCreator
{
    QString Name;
    QString Id;
    QString Role;
};

struct TTitle
{
    QString Text;
    QString Id;
};

struct TManifestItem
{
    QString Id;
    QString Href; // resolved to an entry name
    QString MediaType;
    QString Properties;
};

// What the package document says about the book.
struct TPackage
{
    QString OpfPath;
    QString UniqueId;
    QList<TTitle> Titles;
    QList<TCreator> Creators;
    QStringList Subjects;
    QString Publisher;
    QString Description;
    QString PublicationDate;
    QString ModificationDate;
    QList<std::pair<QString, QString>> Identifiers; // id, value
    QString Language;
    QString CoverId;    // EPUB 2: <meta name="cover" content="...">
    QString GuideCover; // resolved entry name
    QList<TManifestItem> Manifest;
    QString FirstSpineId;
    QMultiHash<QString, QString> Roles; // EPUB 3: refined creator roles by id
    QHash<QString, QString> TitleTypes; // EPUB 3: refined title types by id
};

// The package document the container names, when the archive holds it.
QString RootfilePath(const TZipReader& zip, TAbortQuery abort)
{
    QByteArray bytes;
    if (!zip.Read(QStringLiteral("META-INF/container.xml"), bytes, MaxXmlSize, abort)) return {};
    QXmlStreamReader xml(ResolveHtmlEntities(bytes));
    QString first;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("rootfile")) continue;
        const QString path = xml.attributes().value(QLatin1String("full-path")).toString();
        if (zip.IndexOf(path) < 0) continue;
        const auto type = xml.attributes().value(QLatin1String("media-type"));
        if (type == QLatin1String("application/oebps-package+xml")) return path;
        if (first.isEmpty()) first = path;
    }
    return first;
}

// Metadata elements are matched by local name and, for the capitalised OEBPS 1 names
// (dc:Title, dc:Creator), without regard to case.
bool Is(QStringView name, const char* wanted)
{
    return name.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0;
}

bool ReadPackage(const TZipReader& zip, TPackage& package, TAbortQuery abort)
{
    package.OpfPath = RootfilePath(zip, abort);
    if (package.OpfPath.isEmpty()) {
        // Some tools forget the container or name a document that is not there; take the
        // first package document the archive holds.
        for (const QString& name : zip.Names())
            if (name.endsWith(QLatin1String(".opf"), Qt::CaseInsensitive)) {
                package.OpfPath = name;
                break;
            }
    }
    QByteArray bytes;
    if (package.OpfPath.isEmpty() || !zip.Read(package.OpfPath, bytes, MaxXmlSize, abort))
        return false;

    // Undeclared HTML entities (&nbsp;) would stop the reader in the middle of the metadata.
    QXmlStreamReader xml(ResolveHtmlEntities(bytes));
    bool inMetadata = false;
    int elements = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && Is(xml.name(), "metadata")) inMetadata = false;
        if (!xml.isStartElement()) continue;
        if ((++elements & 1023) == 0 && Stopped(abort)) return false;
        const QStringView name = xml.name();
        const QXmlStreamAttributes attributes = xml.attributes();
        auto attribute = [&](const char* key) {
            return attributes.value(QLatin1String(key)).toString().trimmed();
        };
        if (name == QLatin1String("package")) {
            package.UniqueId = attribute("unique-identifier");
        } else if (Is(name, "metadata")) {
            inMetadata = true;
        } else if (inMetadata && (Is(name, "dc-metadata") || Is(name, "x-metadata"))) {
            // OEBPS 1 groups the elements one level deeper; their children are read below.
        } else if (inMetadata && name == QLatin1String("meta")) {
            const QString property = attribute("property");
            if (attribute("name") == QLatin1String("cover")) {
                package.CoverId = attribute("content");
            } else if (property == QLatin1String("dcterms:modified")) {
                package.ModificationDate =
                    xml.readElementText(QXmlStreamReader::IncludeChildElements);
            } else if (property == QLatin1String("role") ||
                       property == QLatin1String("title-type")) {
                const QString refines = attribute("refines");
                const QString value =
                    xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                if (refines.startsWith(QLatin1Char('#')) && !value.isEmpty()) {
                    if (property == QLatin1String("role"))
                        package.Roles.insert(refines.mid(1), value);
                    else
                        package.TitleTypes.insert(refines.mid(1), value);
                }
            }
        } else if (inMetadata) {
            const QString id = attribute("id");
            QString event;
            for (const QXmlStreamAttribute& a : attributes)
                if (a.name() == QLatin1String("event")) event = a.value().toString();
            QString role;
            for (const QXmlStreamAttribute& a : attributes)
                if (a.name() == QLatin1String("role")) role = a.value().toString();
            const QString text =
                xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            if (Is(name, "title")) {
                if (!text.isEmpty()) package.Titles.append({text, id});
            } else if (Is(name, "creator")) {
                if (!text.isEmpty()) package.Creators.append({text, id, role});
            } else if (Is(name, "subject")) {
                if (!text.isEmpty()) package.Subjects << text;
            } else if (Is(name, "publisher")) {
                if (package.Publisher.isEmpty()) package.Publisher = text;
            } else if (Is(name, "description")) {
                if (package.Description.isEmpty()) package.Description = text;
            } else if (Is(name, "date")) {
                if (event == QLatin1String("modification"))
                    package.ModificationDate = text;
                else if (package.PublicationDate.isEmpty() || event == QLatin1String("publication"))
                    package.PublicationDate = text;
            } else if (Is(name, "identifier")) {
                package.Identifiers.append({id, text});
            } else if (Is(name, "language")) {
                if (package.Language.isEmpty()) package.Language = text;
            }
        } else if (name == QLatin1String("item")) {
            package.Manifest.append({attribute("id"),
                                     ResolveHref(package.OpfPath, attribute("href")),
                                     attribute("media-type"), attribute("properties")});
        } else if (name == QLatin1String("itemref")) {
            if (package.FirstSpineId.isEmpty()) package.FirstSpineId = attribute("idref");
        } else if (name == QLatin1String("reference")) {
            if (attribute("type").compare(QLatin1String("cover"), Qt::CaseInsensitive) == 0 &&
                package.GuideCover.isEmpty())
                package.GuideCover = ResolveHref(package.OpfPath, attribute("href"));
        }
    }
    // A damaged document still gives what was read before the damage.
    return !package.Titles.isEmpty() || !package.Manifest.isEmpty() ||
           xml.error() == QXmlStreamReader::NoError;
}

// The main title where the book marks one (a subtitle may come first), else the first.
QString Title(const TPackage& package)
{
    for (const TTitle& title : package.Titles)
        if (!title.Id.isEmpty() && package.TitleTypes.value(title.Id).compare(
                                       QLatin1String("main"), Qt::CaseInsensitive) == 0)
            return title.Text;
    return package.Titles.isEmpty() ? QString() : package.Titles.first().Text;
}

// Creators marked as authors, and those marked as nothing; editors, illustrators and the
// like only for a book that names no author at all.
QString Authors(const TPackage& package)
{
    QStringList authors, everyone;
    for (const TCreator& creator : package.Creators) {
        QStringList roles = package.Roles.values(creator.Id);
        if (!creator.Role.isEmpty()) roles << creator.Role;
        if (creator.Id.isEmpty() && creator.Role.isEmpty()) roles.clear();
        bool author = roles.isEmpty();
        for (const QString& role : roles)
            author = author || role.compare(QLatin1String("aut"), Qt::CaseInsensitive) == 0;
        if (author) authors << creator.Name;
        everyone << creator.Name;
    }
    return JoinAuthors(authors.isEmpty() ? everyone : authors);
}

QString Identifier(const TPackage& package)
{
    for (const auto& [id, value] : package.Identifiers)
        if (!id.isEmpty() && id == package.UniqueId) return value;
    return package.Identifiers.isEmpty() ? QString() : package.Identifiers.first().second;
}

// True when the book carries encryption other than font obfuscation (which only scrambles
// embedded fonts and leaves the book readable).
bool IsEncrypted(const TZipReader& zip, TAbortQuery abort)
{
    if (zip.IndexOf(QStringLiteral("META-INF/rights.xml")) >= 0) return true;
    QByteArray bytes;
    const qsizetype index = zip.IndexOf(QStringLiteral("META-INF/encryption.xml"));
    if (index < 0) return false;
    if (!zip.Read(index, bytes, MaxXmlSize, abort)) return true;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("EncryptionMethod")) {
            const auto algorithm = xml.attributes().value(QLatin1String("Algorithm"));
            if (algorithm != QLatin1String("http://www.idpf.org/2008/embedding") &&
                algorithm != QLatin1String("http://ns.adobe.com/pdf/enc#RC"))
                return true;
        }
    }
    return false;
}

const TManifestItem* ItemById(const TPackage& package, const QString& id)
{
    for (const TManifestItem& item : package.Manifest)
        if (item.Id == id) return &item;
    return nullptr;
}

bool IsImageName(const QString& name)
{
    static const QRegularExpression image(QStringLiteral("\\.(jpe?g|png|gif|bmp|webp)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    return image.match(name).hasMatch();
}

// The value of the first src, href or xlink:href attribute in a tag's text, or "".
QStringView ImageSource(QStringView tag)
{
    static const QString names[] = {QStringLiteral("src"), QStringLiteral("xlink:href"),
                                    QStringLiteral("href")};
    const qsizetype n = tag.size();
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (!tag[i].isSpace()) continue;
        for (const QString& name : names) {
            qsizetype j = i + 1;
            if (!tag.mid(j).startsWith(name, Qt::CaseInsensitive)) continue;
            j += name.size();
            while (j < n && tag[j].isSpace())
                ++j;
            if (j >= n || tag[j] != u'=') continue;
            ++j;
            while (j < n && tag[j].isSpace())
                ++j;
            if (j >= n || (tag[j] != u'"' && tag[j] != u'\'')) continue;
            const qsizetype start = ++j;
            // The value ends at the next quote of either kind, as a page writer meant it.
            while (j < n && tag[j] != u'"' && tag[j] != u'\'')
                ++j;
            if (j < n && j > start) return tag.mid(start, j - start);
        }
    }
    return {};
}

// The first picture a page shows, as an entry name. A scanner, not a pattern: every tag is
// looked at once, so a page of unclosed tags costs no more than its length.
QString FirstImageOfPage(const TZipReader& zip, const QString& page, TAbortQuery abort)
{
    QByteArray bytes;
    if (!zip.Read(page, bytes, MaxXmlSize, abort)) return {};
    const QString html = QString::fromUtf8(bytes);
    const QStringView text(html);
    const qsizetype n = text.size();
    for (qsizetype at = text.indexOf(u'<'); at >= 0 && at < n; at = text.indexOf(u'<', at + 1)) {
        qsizetype name = at + 1;
        qsizetype end = name;
        while (end < n && (text[end].isLetterOrNumber() || text[end] == u'_' || text[end] == u':'))
            ++end;
        QStringView tagName = text.mid(name, end - name);
        const qsizetype colon = tagName.lastIndexOf(u':');
        if (colon >= 0) tagName = tagName.mid(colon + 1);
        if (tagName.compare(u"img", Qt::CaseInsensitive) != 0 &&
            tagName.compare(u"image", Qt::CaseInsensitive) != 0)
            continue;
        qsizetype close = text.indexOf(u'>', end);
        if (close < 0) close = n;
        const QStringView value = ImageSource(text.mid(end, close - end));
        if (!value.isEmpty()) return ResolveHref(page, value.toString());
        // Without a closing '>' the tag runs to the end, and so would every later one.
        if (close == n) break;
        at = close;
    }
    return {};
}

QString CoverEntry(const TZipReader& zip, const TPackage& package, TAbortQuery abort)
{
    for (const TManifestItem& item : package.Manifest)
        if (item.Properties.split(QLatin1Char(' ')).contains(QLatin1String("cover-image")))
            return item.Href;
    if (!package.CoverId.isEmpty()) {
        if (const TManifestItem* item = ItemById(package, package.CoverId)) return item->Href;
        // Some books name the picture's path instead of its id.
        const QString href = ResolveHref(package.OpfPath, package.CoverId);
        if (zip.IndexOf(href) >= 0) return href;
    }
    if (!package.GuideCover.isEmpty()) {
        if (IsImageName(package.GuideCover)) return package.GuideCover;
        const QString image = FirstImageOfPage(zip, package.GuideCover, abort);
        if (!image.isEmpty()) return image;
    }
    if (const TManifestItem* first = ItemById(package, package.FirstSpineId))
        return FirstImageOfPage(zip, first->Href, abort);
    return {};
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info) return 0;
    const TZipReader zip(fileName);
    TPackage package;
    if (!zip.IsOpen() || !ReadPackage(zip, package, abort) || Stopped(abort)) return 0;
    TBookInfo out = *info;
    PutText(&out, biTitle, Title(package));
    PutText(&out, biAuthor, Authors(package));
    PutText(&out, biSubject, package.Subjects.join(QStringLiteral("; ")));
    PutText(&out, biPublisher, package.Publisher);
    PutText(&out, biComment, PlainTextFromHtml(package.Description), true);
    PutText(&out, biCreationDate, NormalizeDate(package.PublicationDate));
    PutText(&out, biModificationDate, NormalizeDate(package.ModificationDate));
    PutText(&out, biIdentifier, Identifier(package));
    PutText(&out, biLanguage, package.Language);
    out.Data[biEncrypted] = IsEncrypted(zip, abort) ? 1 : 0;
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail) return 0;
    const TZipReader zip(fileName);
    TPackage package;
    if (!zip.IsOpen() || !ReadPackage(zip, package, abort)) return 0;
    const QString cover = CoverEntry(zip, package, abort);
    QByteArray bytes;
    if (cover.isEmpty() || Stopped(abort) || !zip.Read(cover, bytes, MaxPartSize, abort)) return 0;
    return PutThumbnail(thumbnail, DecodeScaled(bytes, WantedSize(thumbnail))) ? 1 : 0;
}
