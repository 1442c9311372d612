#include "BookMaker.h"

#include <QBuffer>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QtEndian>

#include <zip.h>

namespace BookMaker {

bool WriteZip(const QString& path, const QList<TZipEntry>& entries)
{
    int error = 0;
    zip_t* archive = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) return false;
    for (const TZipEntry& entry : entries) {
        zip_source_t* source = zip_source_buffer(archive, entry.Bytes.constData(),
                                                 static_cast<zip_uint64_t>(entry.Bytes.size()), 0);
        const zip_int64_t index =
            zip_file_add(archive, entry.Name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        if (entry.Stored)
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    return zip_close(archive) == 0;
}

namespace {

QString Escape(const QString& text)
{
    return text.toHtmlEscaped();
}

} // namespace

QList<TZipEntry> EpubEntries(const TEpub& book)
{
    const QString folder = book.OpfFolder.isEmpty() ? QString() : book.OpfFolder + "/";
    QString metadata = "<dc:title>" + Escape(book.Title) + "</dc:title>\n";
    int n = 0;
    for (const auto& [name, role] : book.Creators) {
        const QString id = QStringLiteral("c%1").arg(++n);
        if (book.Version == 2)
            metadata +=
                QStringLiteral("<dc:creator%1>%2</dc:creator>\n")
                    .arg(role.isEmpty() ? QString() : " opf:role=\"" + role + "\"", Escape(name));
        else {
            metadata +=
                QStringLiteral("<dc:creator id=\"%1\">%2</dc:creator>\n").arg(id, Escape(name));
            if (!role.isEmpty())
                metadata += QStringLiteral("<meta refines=\"#%1\" property=\"role\" "
                                           "scheme=\"marc:relators\">%2</meta>\n")
                                .arg(id, role);
        }
    }
    for (const QString& s : book.Subjects)
        metadata += "<dc:subject>" + Escape(s) + "</dc:subject>\n";
    if (!book.Publisher.isEmpty())
        metadata += "<dc:publisher>" + Escape(book.Publisher) + "</dc:publisher>\n";
    if (!book.Description.isEmpty())
        metadata += "<dc:description>" + Escape(book.Description) + "</dc:description>\n";
    if (!book.Date.isEmpty()) metadata += "<dc:date>" + book.Date + "</dc:date>\n";
    if (!book.Modified.isEmpty())
        metadata += book.Version == 3
                        ? "<meta property=\"dcterms:modified\">" + book.Modified + "</meta>\n"
                        : "<dc:date opf:event=\"modification\">" + book.Modified + "</dc:date>\n";
    metadata += "<dc:identifier id=\"other\">urn:other:1</dc:identifier>\n";
    metadata += "<dc:identifier id=\"uid\">" + Escape(book.Identifier) + "</dc:identifier>\n";
    if (!book.Language.isEmpty()) metadata += "<dc:language>" + book.Language + "</dc:language>\n";

    QString manifest =
        "<item id=\"p1\" href=\"text/page1.xhtml\" media-type=\"application/xhtml+xml\"/>\n";
    QString guide;
    QList<TZipEntry> entries;
    QString firstPage =
        "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>Hello</p></body></html>";
    if (book.Cover != TCoverStyle::None) {
        const QString props =
            book.Cover == TCoverStyle::Properties ? " properties=\"cover-image\"" : "";
        // A decoy picture first, so a reader that takes any picture is caught.
        manifest += "<item id=\"decoy\" href=\"images/decoy.png\" media-type=\"image/png\"/>\n";
        manifest +=
            "<item id=\"cover-img\" href=\"images/cover%20art.jpg\" media-type=\"image/jpeg\"" +
            props + "/>\n";
        if (book.Cover == TCoverStyle::MetaCover)
            metadata += "<meta name=\"cover\" content=\"cover-img\"/>\n";
        if (book.Cover == TCoverStyle::GuidePage) {
            manifest += "<item id=\"cp\" href=\"text/cover.xhtml\" "
                        "media-type=\"application/xhtml+xml\"/>\n";
            guide = "<guide><reference type=\"cover\" title=\"Cover\" "
                    "href=\"text/cover.xhtml\"/></guide>";
            entries.append({folder + "text/cover.xhtml",
                            "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><div><img alt=\"\" "
                            "src=\"../images/cover%20art.jpg\"/></div></body></html>"});
        }
        if (book.Cover == TCoverStyle::FirstPage)
            firstPage =
                "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><svg "
                "xmlns=\"http://www.w3.org/2000/svg\" "
                "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><image width=\"1\" height=\"1\" "
                "xlink:href=\"../images/cover%20art.jpg\"/></svg></body></html>";
        QImage decoy(10, 10, QImage::Format_RGB32);
        decoy.fill(Qt::blue);
        QByteArray decoyBytes;
        QBuffer buffer(&decoyBytes);
        buffer.open(QIODevice::WriteOnly);
        decoy.save(&buffer, "PNG");
        entries.append({folder + "images/decoy.png", decoyBytes});
        entries.append({folder + "images/cover art.jpg", book.CoverBytes});
    }
    const QString opf =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"%1\" "
            "unique-identifier=\"uid\">\n"
            "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
            "xmlns:opf=\"http://www.idpf.org/2007/opf\">\n%2</metadata>\n"
            "<manifest>\n%3</manifest>\n<spine><itemref idref=\"p1\"/></spine>\n%4</package>\n")
            .arg(book.Version == 3 ? "3.0" : "2.0", metadata, manifest, guide);
    const QString container =
        "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
        "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
        "<rootfiles><rootfile full-path=\"" +
        folder +
        "content.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
    entries.prepend({"META-INF/container.xml", container.toUtf8()});
    entries.prepend({"mimetype", "application/epub+zip", true});
    entries.append({folder + "content.opf", opf.toUtf8()});
    entries.append({folder + "text/page1.xhtml", firstPage.toUtf8()});
    if (!book.EncryptionXml.isEmpty())
        entries.append({"META-INF/encryption.xml", book.EncryptionXml});
    return entries;
}

bool WriteEpub(const QString& path, const TEpub& book)
{
    return WriteZip(path, EpubEntries(book));
}

QByteArray Fb2(const QString& title, const QStringList& authors, const QByteArray& coverBytes,
               const QString& extraTitleInfo, const QString& publisher)
{
    QString authorXml;
    for (const QString& a : authors) {
        const QStringList parts = a.split(' ');
        authorXml += "<author><first-name>" + Escape(parts.value(0)) + "</first-name><last-name>" +
                     Escape(parts.mid(1).join(' ')) + "</last-name></author>";
    }
    QString text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                   "xmlns:l=\"http://www.w3.org/1999/xlink\">\n"
                   "<description><title-info>" +
                   authorXml + "<book-title>" + Escape(title) + "</book-title>" + extraTitleInfo;
    if (!coverBytes.isEmpty()) text += "<coverpage><image l:href=\"#cover.jpg\"/></coverpage>";
    text += "</title-info>";
    if (!publisher.isEmpty())
        text += "<publish-info><publisher>" + Escape(publisher) + "</publisher></publish-info>";
    text += "</description>\n<body><section><p>Text of the book.</p></section></body>\n";
    if (!coverBytes.isEmpty())
        text += "<binary id=\"other.png\" content-type=\"image/png\">AAAA</binary>\n"
                "<binary id=\"cover.jpg\" content-type=\"image/jpeg\">" +
                QString::fromLatin1(coverBytes.toBase64(QByteArray::Base64Encoding)) +
                "</binary>\n";
    text += "</FictionBook>\n";
    return text.toUtf8();
}

bool WritePdf(const QString& path, int pages, const QString& title, const QString& author)
{
    QPdfWriter writer(path);
    writer.setTitle(title);
    writer.setCreator(author); // Qt writes the creator as the document's author
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setResolution(72);
    QPainter painter(&writer);
    if (!painter.isActive()) return false;
    for (int page = 0; page < pages; ++page) {
        if (page > 0) writer.newPage();
        painter.fillRect(QRect(0, 0, 420, 100), page == 0 ? Qt::red : Qt::gray);
        painter.drawText(QPoint(40, 200), QStringLiteral("Page %1").arg(page + 1));
    }
    return painter.end();
}

namespace {

void PutU16(QByteArray& b, int at, quint16 v)
{
    qToBigEndian(v, b.data() + at);
}
void PutU32(QByteArray& b, int at, quint32 v)
{
    qToBigEndian(v, b.data() + at);
}

QByteArray ExthRecord(quint32 type, const QByteArray& data)
{
    QByteArray r(8, 0);
    PutU32(r, 0, type);
    PutU32(r, 4, static_cast<quint32>(8 + data.size()));
    return r + data;
}

} // namespace

QByteArray Mobi(const TMobi& book)
{
    auto text = [&](const QString& s) { return book.Utf8 ? s.toUtf8() : s.toLatin1(); };
    QByteArray exth;
    int count = 0;
    auto add = [&](quint32 type, const QByteArray& data) {
        if (data.isEmpty()) return;
        exth += ExthRecord(type, data);
        ++count;
    };
    add(100, text(book.Author));
    add(101, text(book.Publisher));
    add(103, text(book.Description));
    add(105, text(book.Subject));
    add(106, text(book.Date));
    add(503, text(book.UpdatedTitle));
    if (!book.Cover.isEmpty()) {
        QByteArray offset(4, 0);
        PutU32(offset, 0, 0);
        add(201, offset);
    }
    QByteArray exthHeader(12, 0);
    memcpy(exthHeader.data(), "EXTH", 4);
    PutU32(exthHeader, 4, static_cast<quint32>(12 + exth.size()));
    PutU32(exthHeader, 8, static_cast<quint32>(count));
    exth = exthHeader + exth;
    while (exth.size() % 4)
        exth += '\0';

    const int mobiHeaderLength = 232;
    QByteArray record0(16 + mobiHeaderLength, 0);
    PutU16(record0, 0, 1); // no compression
    PutU32(record0, 4, 5); // text length
    PutU16(record0, 8, 1); // text records
    PutU16(record0, 10, 4096);
    PutU16(record0, 12, static_cast<quint16>(book.Encryption));
    memcpy(record0.data() + 16, "MOBI", 4);
    PutU32(record0, 20, mobiHeaderLength);
    PutU32(record0, 24, 2);
    PutU32(record0, 28, book.Utf8 ? 65001 : 1252);
    const QByteArray fullName = text(book.Title);
    PutU32(record0, 84, static_cast<quint32>(record0.size() + exth.size()));
    PutU32(record0, 88, static_cast<quint32>(fullName.size()));
    PutU32(record0, 108, 2);    // first image record
    PutU32(record0, 128, 0x40); // EXTH present
    record0 += exth + fullName + QByteArray(4, 0);

    QList<QByteArray> records = {record0, QByteArray("Hello")};
    if (!book.Cover.isEmpty()) records << book.Cover;
    QByteArray file(78 + 8 * records.size() + 2, 0);
    const QByteArray palmName = fullName.left(31);
    memcpy(file.data(), palmName.constData(), static_cast<size_t>(palmName.size()));
    memcpy(file.data() + 60, "BOOKMOBI", 8);
    PutU16(file, 76, static_cast<quint16>(records.size()));
    quint32 offset = static_cast<quint32>(file.size());
    for (int i = 0; i < records.size(); ++i) {
        PutU32(file, 78 + 8 * i, offset);
        PutU32(file, 78 + 8 * i + 4, static_cast<quint32>(i * 2));
        offset += static_cast<quint32>(records[i].size());
    }
    for (const QByteArray& r : records)
        file += r;
    return file;
}

QByteArray LargeCover()
{
    QImage image(1200, 1600, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 30));
    QPainter painter(&image);
    for (int i = 0; i < 40; ++i)
        painter.fillRect(QRect(i * 30, (i * 37) % 1500, 25, 100), QColor(20 * (i % 12), 120, 60));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

} // namespace BookMaker
