// Word documents (DOCX): the package's core and extended properties, and a cover from the
// package thumbnail or else the first picture the document shows. A password-protected
// document is no ZIP at all but a compound file around the encrypted package; it is named and
// flagged, nothing more can be read.
#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>
#include <string_view>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

constexpr qint64 MaxXmlSize = 8 * 1024 * 1024;
// Pictures decoded in search of a cover before giving up: a document of a thousand drawings
// must not cost a thousand decodes.
// Picture references taken from the document before falling back to the media folder.
constexpr int MaxShownPictures = 4;

struct TRelationship
{
    QString Id;
    QString Type;   // the last segment of the type URI: "image", "core-properties", ...
    QString Target; // resolved to an entry name; empty for external targets
};

// Where the package keeps its parts. The relationships name them; the usual names stand in
// when the relationships are missing or point nowhere.
struct TParts
{
    QString Core;
    QString App;
    QString Document;
    QStringList Thumbnails;
};

// Children of a property part's root by local name; a repeated property keeps every value.
using TProperties = QHash<QString, QStringList>;

// The relationships of `part` ("" for the package itself), from its ".rels" entry.
QList<TRelationship> Relationships(const TZipReader& zip, const QString& part, TAbortQuery abort)
{
    const qsizetype slash = part.lastIndexOf(u'/');
    const QString rels = part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) +
                         QStringLiteral(".rels");
    QList<TRelationship> out;
    QByteArray bytes;
    if (!zip.Read(zip.Find(rels), bytes, MaxXmlSize, abort)) return out;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("Relationship")) continue;
        if ((out.size() & 1023) == 1023 && Stopped(abort)) break;
        const QXmlStreamAttributes attributes = xml.attributes();
        const QStringView type = attributes.value(QLatin1String("Type"));
        TRelationship relationship;
        relationship.Id = attributes.value(QLatin1String("Id")).toString();
        relationship.Type = type.mid(type.lastIndexOf(u'/') + 1).toString();
        // An external target is a link to elsewhere (a web address): never followed.
        if (attributes.value(QLatin1String("TargetMode"))
                .compare(QLatin1String("External"), Qt::CaseInsensitive) != 0)
            relationship.Target =
                ResolveHref(part, attributes.value(QLatin1String("Target")).toString());
        out << relationship;
    }
    return out;
}

TParts PackageParts(const TZipReader& zip, TAbortQuery abort)
{
    TParts parts;
    auto pick = [&](QString& part, const QString& target) {
        if (part.isEmpty() && zip.Find(target) >= 0) part = target;
    };
    for (const TRelationship& r : Relationships(zip, QString(), abort)) {
        if (r.Target.isEmpty()) continue;
        if (r.Type == QLatin1String("core-properties"))
            pick(parts.Core, r.Target);
        else if (r.Type == QLatin1String("extended-properties"))
            pick(parts.App, r.Target);
        else if (r.Type == QLatin1String("officeDocument"))
            pick(parts.Document, r.Target);
        else if (r.Type == QLatin1String("thumbnail"))
            parts.Thumbnails << r.Target;
    }
    pick(parts.Core, QStringLiteral("docProps/core.xml"));
    pick(parts.App, QStringLiteral("docProps/app.xml"));
    pick(parts.Document, QStringLiteral("word/document.xml"));
    for (const QString& name : zip.Names())
        if (name.startsWith(QLatin1String("docProps/thumbnail."), Qt::CaseInsensitive) &&
            !parts.Thumbnails.contains(name))
            parts.Thumbnails << name;
    return parts;
}

TProperties Properties(const TZipReader& zip, const QString& part, TAbortQuery abort)
{
    TProperties properties;
    QByteArray bytes;
    if (!zip.Read(zip.Find(part), bytes, MaxXmlSize, abort)) return properties;
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement()) return properties;
    int count = 0;
    while (xml.readNextStartElement()) {
        if ((++count & 1023) == 0 && Stopped(abort)) break;
        const QString name = xml.name().toString();
        const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        // A value cut off by damage is not the value the document holds.
        if (xml.hasError()) break;
        properties[name] << text.trimmed();
    }
    return properties;
}

QString First(const TProperties& properties, const char* name)
{
    for (const QString& value : properties.value(QLatin1String(name)))
        if (!value.isEmpty()) return value;
    return {};
}

// A count from the extended properties, when it is one.
void PutCount(TBookInfo* out, TBookInfoOffset offset, const TProperties& app, const char* name)
{
    bool ok = false;
    const qint64 value = First(app, name).toLongLong(&ok);
    if (ok && value >= 0) PutNumber(out, offset, value);
}

// Several authors are written in one property, separated by semicolons.
QString Authors(const TProperties& core)
{
    QStringList authors;
    for (const QString& value : core.value(QStringLiteral("creator")))
        authors << value.split(QLatin1Char(';'));
    return JoinAuthors(authors);
}

// True for a compound file that holds an encrypted package. Its directory names the streams
// in UTF-16; the file is scanned for that name once, in pieces.
bool IsEncryptedPackage(const char* fileName, TAbortQuery abort)
{
    static const char magic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    static const QByteArray stream = [] {
        QByteArray name;
        for (const char c : QByteArrayView("EncryptedPackage"))
            name.append(c).append('\0');
        return name;
    }();
    QFile file;
    if (!OpenBookFile(file, fileName) || file.read(8) != QByteArray(magic, 8)) return false;
    constexpr qint64 piece = 1024 * 1024;
    QByteArray window;
    for (qint64 seen = 0; seen < MaxPartSize; seen += piece) {
        if (Stopped(abort)) return false;
        const QByteArray bytes = file.read(piece);
        if (bytes.isEmpty()) break;
        // Keep the tail of the last piece, so a name split between two pieces is found too.
        window = window.right(stream.size() - 1) + bytes;
        if (window.contains(stream)) return true;
    }
    return false;
}

// The pictures the document shows, in the order it shows them (the first few).
QStringList ShownPictures(const TZipReader& zip, const QString& document, TAbortQuery abort)
{
    QHash<QString, QString> images; // relationship id -> entry
    for (const TRelationship& r : Relationships(zip, document, abort))
        if (r.Type == QLatin1String("image") && !r.Target.isEmpty()) images.insert(r.Id, r.Target);
    QStringList shown;
    // A document without picture relationships shows none: its text need not be read.
    if (images.isEmpty()) return shown;
    QByteArray bytes;
    if (!zip.Read(zip.Find(document), bytes, MaxPartSize, abort)) return shown;
    // DrawingML pictures (<a:blip r:embed>) and the older VML ones (<v:imagedata r:id>), found
    // by a scan of the start tags: parsing a long document as XML costs several times more, and
    // only these attributes are wanted. A value counts only when it names an image relationship.
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    int tags = 0;
    for (size_t at = text.find('<');
         at != std::string_view::npos && shown.size() < MaxShownPictures;
         at = text.find('<', at + 1)) {
        if ((++tags & 4095) == 0 && Stopped(abort)) break;
        size_t end = at + 1;
        while (end < text.size() && !isBlank(text[end]) && text[end] != '>' && text[end] != '/')
            ++end;
        std::string_view name = text.substr(at + 1, end - at - 1);
        if (const size_t colon = name.rfind(':'); colon != std::string_view::npos)
            name.remove_prefix(colon + 1);
        if (name != "blip" && name != "imagedata") continue;
        const size_t close = text.find('>', end);
        if (close == std::string_view::npos) break;
        // name="value" or name='value' pairs up to the end of the tag.
        std::string_view rest = text.substr(end, close - end);
        while (!rest.empty()) {
            const size_t eq = rest.find('=');
            if (eq == std::string_view::npos || eq + 1 >= rest.size()) break;
            std::string_view attribute = rest.substr(0, eq);
            while (!attribute.empty() && isBlank(attribute.back()))
                attribute.remove_suffix(1);
            const size_t start = attribute.find_last_of(" \t\r\n");
            if (start != std::string_view::npos) attribute.remove_prefix(start + 1);
            size_t q = eq + 1;
            while (q < rest.size() && isBlank(rest[q]))
                ++q;
            if (q >= rest.size() || (rest[q] != '"' && rest[q] != '\'')) break;
            const size_t valueEnd = rest.find(rest[q], q + 1);
            if (valueEnd == std::string_view::npos) break;
            if (const size_t colon = attribute.rfind(':'); colon != std::string_view::npos)
                attribute.remove_prefix(colon + 1);
            if (attribute == "embed" || attribute == "id") {
                const std::string_view value = rest.substr(q + 1, valueEnd - q - 1);
                const QString target =
                    images.value(QString::fromUtf8(value.data(), qsizetype(value.size())));
                if (!target.isEmpty() && !shown.contains(target)) shown << target;
            }
            rest.remove_prefix(valueEnd + 1);
        }
        at = close;
    }
    return shown;
}

// The document's media folder ("word/media/") in name order.
QStringList MediaByName(const TZipReader& zip, const QString& document)
{
    const QString folder = document.left(document.lastIndexOf(u'/') + 1) + QStringLiteral("media/");
    QStringList media;
    for (const QString& name : zip.Names())
        if (name.startsWith(folder, Qt::CaseInsensitive) && name.size() > folder.size())
            media << name;
    std::stable_sort(media.begin(), media.end(), NaturalLess);
    return media;
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    const TZipReader zip(fileName);
    if (!zip.IsOpen()) {
        if (!IsEncryptedPackage(fileName, abort)) return 0;
        TBookInfo out = *info;
        PutText(&out, biTitle, BookBaseName(fileName));
        out.Data[biEncrypted] = 1;
        std::memcpy(info, &out, sizeof out);
        return 1;
    }
    const TParts parts = PackageParts(zip, abort);
    const TProperties core = Properties(zip, parts.Core, abort);
    const TProperties app = Properties(zip, parts.App, abort);
    if (Stopped(abort)) return 0;

    TBookInfo out = *info;
    QString title = First(core, "title");
    if (title.isEmpty()) title = BookBaseName(fileName);
    PutText(&out, biTitle, title);
    PutText(&out, biAuthor, Authors(core));
    PutText(&out, biSubject, First(core, "subject"));
    PutText(&out, biComment, First(core, "description"), true);
    PutText(&out, biKeywords, First(core, "keywords"));
    PutText(&out, biCategory, First(core, "category"));
    // The package has no publisher; the company that wrote the document is the nearest.
    PutText(&out, biPublisher, First(app, "Company"));
    PutText(&out, biCreationDate, NormalizeDate(First(core, "created")));
    PutText(&out, biModificationDate, NormalizeDate(First(core, "modified")));
    PutText(&out, biRevision, First(core, "revision"));
    PutText(&out, biLanguage, First(core, "language"));
    PutText(&out, biIdentifier, First(core, "identifier"));
    PutCount(&out, biPageCount, app, "Pages");
    PutCount(&out, biWordCount, app, "Words");
    PutCount(&out, biCharCount, app, "Characters");
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    const TZipReader zip(fileName);
    if (!zip.IsOpen()) return 0;
    TZipCoverPicker picker(zip, thumbnail, abort);
    const TParts parts = PackageParts(zip, abort);
    for (const QString& name : parts.Thumbnails)
        if (picker.Try(name)) return 1;
    for (const QString& name : ShownPictures(zip, parts.Document, abort))
        if (picker.Try(name)) return 1;
    for (const QString& name : MediaByName(zip, parts.Document))
        if (picker.Try(name)) return 1;
    return 0;
}
