// PDF: the document information dictionary and, for what it lacks, the XMP metadata packet;
// the page count, whether a password is needed to open the book, and the first page as the
// thumbnail, through poppler.
#include "SummaryCommon.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <QDateTime>
#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

// poppler reports every damaged object on stderr; a book list full of odd PDFs would flood
// the terminal of whoever started the program.
void Quiet(const std::string&, void*) {}

struct TQuietPoppler
{
    TQuietPoppler() { poppler::set_debug_error_function(Quiet, nullptr); }
} quietPoppler;

QString Text(const poppler::ustring& text)
{
    const poppler::byte_array utf8 = text.to_utf8();
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).trimmed();
}

QDateTime Date(const poppler::document& document, const char* key)
{
    const time_t when = document.info_date_t(key);
    if (when == static_cast<time_t>(-1) || when <= 0) return {};
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(when));
}

// What the XMP packet says, in the fields the book list shows.
struct TXmp
{
    QString Title;
    QStringList Creators;
    QString Description;
    QStringList Subjects; // dc:subject, a bag of keywords
    QString Keywords;     // pdf:Keywords
    QString CreateDate;
    QString ModifyDate;
};

const QLatin1String RdfNs("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
const QLatin1String DcNs("http://purl.org/dc/elements/1.1/");
const QLatin1String PdfNs("http://ns.adobe.com/pdf/1.3/");
const QLatin1String XmpNs("http://ns.adobe.com/xap/1.0/");
const QLatin1String XmlNs("http://www.w3.org/XML/1998/namespace");

// The values of the property whose start tag was just read: the items of an rdf:Alt, rdf:Seq
// or rdf:Bag (an Alt's "x-default" first), or its plain text. Ends at the property's end tag.
QStringList PropertyValues(QXmlStreamReader& xml)
{
    QStringList items;
    QString text;
    bool sawDefault = false;
    // Nesting is counted, not recursed into: a deep packet costs no stack.
    for (int depth = 1; depth > 0 && !xml.atEnd();) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.namespaceUri() == RdfNs && xml.name() == QLatin1String("li")) {
                const bool isDefault = xml.attributes().value(XmlNs, QLatin1String("lang")) ==
                                       QLatin1String("x-default");
                const QString value =
                    xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                if (value.isEmpty()) continue;
                if (isDefault && !sawDefault) {
                    items.prepend(value);
                    sawDefault = true;
                } else {
                    items << value;
                }
                continue;
            }
            ++depth;
        } else if (xml.isEndElement()) {
            --depth;
        } else if (xml.isCharacters()) {
            text += xml.text();
        }
    }
    if (items.isEmpty() && !text.trimmed().isEmpty()) items << text.trimmed();
    return items;
}

void TakeProperty(TXmp& xmp, QStringView ns, QStringView name, const QStringList& values)
{
    if (values.isEmpty()) return;
    if (ns == DcNs) {
        if (name == QLatin1String("title") && xmp.Title.isEmpty())
            xmp.Title = values.first();
        else if (name == QLatin1String("creator") && xmp.Creators.isEmpty())
            xmp.Creators = values;
        else if (name == QLatin1String("description") && xmp.Description.isEmpty())
            xmp.Description = values.first();
        else if (name == QLatin1String("subject") && xmp.Subjects.isEmpty())
            xmp.Subjects = values;
    } else if (ns == PdfNs) {
        if (name == QLatin1String("Keywords") && xmp.Keywords.isEmpty())
            xmp.Keywords = values.first();
    } else if (ns == XmpNs) {
        if (name == QLatin1String("CreateDate") && xmp.CreateDate.isEmpty())
            xmp.CreateDate = values.first();
        else if (name == QLatin1String("ModifyDate") && xmp.ModifyDate.isEmpty())
            xmp.ModifyDate = values.first();
    }
}

TXmp ReadXmp(const poppler::document& document)
{
    TXmp xmp;
    const poppler::byte_array utf8 = document.metadata().to_utf8();
    if (utf8.empty() || qint64(utf8.size()) > MaxPartSize) return xmp;
    QXmlStreamReader xml(QByteArray(utf8.data(), static_cast<qsizetype>(utf8.size())));
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        const QString ns = xml.namespaceUri().toString();
        const QString name = xml.name().toString();
        if (ns == RdfNs) {
            // Simple properties may be written as attributes of a description.
            if (name == QLatin1String("Description"))
                for (const QXmlStreamAttribute& a : xml.attributes())
                    TakeProperty(xmp, a.namespaceUri(), a.name(), {a.value().trimmed().toString()});
            continue;
        }
        if (ns == DcNs || ns == PdfNs || ns == XmpNs)
            TakeProperty(xmp, ns, name, PropertyValues(xml));
    }
    return xmp;
}

// An XMP date ("2020-05-17T10:30:00+08:00", or only "2020-05") the way the information
// dictionary's dates are shown.
void PutXmpDate(TBookInfo* info, TBookInfoOffset offset, const QString& text)
{
    if (text.contains(QLatin1Char('T'))) {
        const QDateTime date = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
        if (date.isValid()) {
            PutDate(info, offset, date);
            return;
        }
    }
    PutText(info, offset, NormalizeDate(text));
}

// The smallest well-formed PDF: a catalog, an empty page tree, and their cross-references.
std::string EmptyPdf()
{
    std::string pdf = "%PDF-1.4\n";
    const size_t catalog = pdf.size();
    pdf += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    const size_t pages = pdf.size();
    pdf += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
    const size_t xref = pdf.size();
    char entries[128];
    std::snprintf(entries, sizeof entries,
                  "xref\n0 3\n0000000000 65535 f \n%010zu 00000 n \n%010zu 00000 n \n", catalog,
                  pages);
    pdf += entries;
    pdf += "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
           "\n%%EOF\n";
    return pdf;
}

std::unique_ptr<poppler::document> Open(const char* fileName)
{
    // poppler sets up its global parameters (fonts, configuration) when its first document
    // opens and tears them down when its last one closes: more than half of what reading a
    // small PDF cost, twice per book. One empty document, open for the life of the process,
    // keeps them set up.
    static const poppler::document* const keepReady = [] {
        static const std::string pdf = EmptyPdf(); // read in place: it lives as long
        return poppler::document::load_from_raw_data(pdf.data(), int(pdf.size()));
    }();
    (void)keepReady;
    return std::unique_ptr<poppler::document>(poppler::document::load_from_file(fileName));
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    const std::unique_ptr<poppler::document> document = Open(fileName);
    if (!document || Stopped(abort)) return 0;
    TBookInfo out = *info;
    // "Encrypted" tells the user a password is needed to open the book. A file that only
    // restricts printing or copying (an owner password) opens freely and is not.
    out.Data[biEncrypted] = document->is_locked() ? 1 : 0;
    // A document locked by a password keeps its information to itself.
    if (!document->is_locked()) {
        const TXmp xmp = ReadXmp(*document);
        // The information dictionary first; the packet fills what it lacks.
        auto field = [&](const char* key, const QString& fallback) {
            const QString value = Text(document->info_key(key));
            return value.isEmpty() ? fallback : value;
        };
        PutText(&out, biTitle, field("Title", xmp.Title));
        PutText(&out, biAuthor, field("Author", JoinAuthors(xmp.Creators)));
        PutText(&out, biSubject, field("Subject", xmp.Subjects.join(QStringLiteral("; "))));
        PutText(&out, biKeywords,
                field("Keywords", !xmp.Keywords.isEmpty()
                                      ? xmp.Keywords
                                      : xmp.Subjects.join(QStringLiteral(", "))));
        // Only a description is a note about the book; the programs that made the file are not.
        PutText(&out, biComment, xmp.Description, true);
        PutNumber(&out, biPageCount, document->pages());
        const QDateTime created = Date(*document, "CreationDate");
        const QDateTime modified = Date(*document, "ModDate");
        if (created.isValid())
            PutDate(&out, biCreationDate, created);
        else
            PutXmpDate(&out, biCreationDate, xmp.CreateDate);
        if (modified.isValid())
            PutDate(&out, biModificationDate, modified);
        else
            PutXmpDate(&out, biModificationDate, xmp.ModifyDate);
    }
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    const std::unique_ptr<poppler::document> document = Open(fileName);
    if (!document || document->is_locked() || document->pages() < 1 || Stopped(abort)) return 0;
    const std::unique_ptr<poppler::page> page(document->create_page(0));
    if (!page) return 0;
    const poppler::rectf box = page->page_rect(poppler::media_box);
    if (box.width() < 1 || box.height() < 1) return 0;
    const QSize wanted = WantedSize(thumbnail);
    // Twice the wanted size, then scaled down smoothly: sharper than rendering at the size.
    const double scale =
        2.0 * std::min(wanted.width() / box.width(), wanted.height() / box.height());
    const double dpi = std::clamp(72.0 * scale, 4.0, 300.0);
    poppler::page_renderer renderer;
    renderer.set_render_hints(poppler::page_renderer::antialiasing |
                              poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_argb32);
    const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
    if (!image.is_valid() || Stopped(abort)) return 0;
    const QImage picture(reinterpret_cast<const uchar*>(image.const_data()), image.width(),
                         image.height(), image.bytes_per_row(), QImage::Format_ARGB32);
    return PutThumbnail(thumbnail, picture) ? 1 : 0;
}
