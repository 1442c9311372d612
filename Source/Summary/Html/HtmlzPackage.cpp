#include "HtmlzPackage.h"

#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QXmlStreamReader>

namespace Summary {

namespace {

struct TCreator
{
    QString Name;
    QString Id;
    QString Role;
};

bool IsPictureName(const QString& name)
{
    static const char* const suffixes[] = {".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp"};
    for (const char* suffix : suffixes)
        if (name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive)) return true;
    return false;
}

} // namespace

THtmlzPackage ReadHtmlzPackage(const QByteArray& bytes, const QString& path, TAbortQuery abort)
{
    THtmlzPackage package;
    QList<TCreator> creators;
    QHash<QString, QString> roles;                  // refined creator roles by id
    QHash<QString, QString> manifest;               // id -> entry
    QList<std::pair<QString, QString>> identifiers; // id, value
    QString uniqueId, coverId, coverImage, guideCover;

    QXmlStreamReader xml(bytes);
    bool inMetadata = false;
    int elements = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == QLatin1String("metadata")) inMetadata = false;
        if (!xml.isStartElement()) continue;
        if ((++elements & 1023) == 0 && Stopped(abort)) break;
        const QStringView name = xml.name();
        const QXmlStreamAttributes attributes = xml.attributes();
        // By local name: writers differ in the prefix they give the package's attributes.
        auto attribute = [&](const char* key) {
            for (const QXmlStreamAttribute& a : attributes)
                if (a.name() == QLatin1String(key)) return a.value().trimmed().toString();
            return QString();
        };
        if (name == QLatin1String("package")) {
            uniqueId = attribute("unique-identifier");
        } else if (name == QLatin1String("metadata")) {
            inMetadata = true;
        } else if (inMetadata && name == QLatin1String("meta")) {
            const QString property = attribute("property");
            if (attribute("name") == QLatin1String("cover")) {
                if (coverId.isEmpty()) coverId = attribute("content");
            } else if (property == QLatin1String("dcterms:modified")) {
                const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                if (package.Modified.isEmpty()) package.Modified = text.trimmed();
            } else if (property == QLatin1String("role")) {
                const QString refines = attribute("refines");
                const QString role = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                if (refines.startsWith(QLatin1Char('#'))) roles[refines.mid(1)] = role.trimmed();
            }
        } else if (inMetadata) {
            const QString id = attribute("id");
            const QString role = attribute("role");
            const QString event = attribute("event");
            const QString text =
                xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            if (xml.hasError()) break; // cut off by damage: not what the book says
            if (text.isEmpty()) continue;
            if (name == QLatin1String("title")) {
                if (package.Title.isEmpty()) package.Title = text;
            } else if (name == QLatin1String("creator")) {
                creators.append({text, id, role});
            } else if (name == QLatin1String("subject")) {
                package.Subjects << text;
            } else if (name == QLatin1String("publisher")) {
                if (package.Publisher.isEmpty()) package.Publisher = text;
            } else if (name == QLatin1String("description")) {
                if (package.Description.isEmpty()) package.Description = PlainTextFromHtml(text);
            } else if (name == QLatin1String("date")) {
                if (event == QLatin1String("modification")) {
                    if (package.Modified.isEmpty()) package.Modified = text;
                } else if (package.Created.isEmpty() || event == QLatin1String("publication")) {
                    package.Created = text;
                }
            } else if (name == QLatin1String("identifier")) {
                identifiers.append({id, text});
            } else if (name == QLatin1String("language")) {
                if (package.Language.isEmpty()) package.Language = text;
            }
        } else if (name == QLatin1String("item")) {
            const QString entry = ResolveHref(path, attribute("href"));
            manifest.insert(attribute("id"), entry);
            if (coverImage.isEmpty() && attribute("properties")
                                            .split(QLatin1Char(' '))
                                            .contains(QLatin1String("cover-image")))
                coverImage = entry;
        } else if (name == QLatin1String("reference")) {
            if (guideCover.isEmpty() &&
                attribute("type").compare(QLatin1String("cover"), Qt::CaseInsensitive) == 0)
                guideCover = ResolveHref(path, attribute("href"));
        }
    }

    QStringList everyone;
    for (const TCreator& creator : creators) {
        const QString role = !creator.Role.isEmpty() ? creator.Role : roles.value(creator.Id);
        if (role.isEmpty() || role == QLatin1String("aut")) package.Authors << creator.Name;
        everyone << creator.Name;
    }
    if (package.Authors.isEmpty()) package.Authors = everyone;
    for (const auto& [id, value] : identifiers)
        if (!id.isEmpty() && id == uniqueId) package.Identifier = value;
    if (package.Identifier.isEmpty() && !identifiers.isEmpty())
        package.Identifier = identifiers.first().second;

    auto add = [&](const QString& entry) {
        if (!entry.isEmpty() && !package.CoverEntries.contains(entry))
            package.CoverEntries << entry;
    };
    add(coverImage);
    if (!coverId.isEmpty()) {
        // The cover meta names a manifest item, or in some books the picture's path.
        add(manifest.value(coverId));
        if (IsPictureName(coverId)) add(ResolveHref(path, coverId));
    }
    if (IsPictureName(guideCover))
        add(guideCover);
    else
        package.GuideCoverPage = guideCover;
    return package;
}

} // namespace Summary
