#include "BookMaker.h"

#include <QBuffer>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>

#include <zip.h>

#include <algorithm>

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

namespace {

QByteArray CodecName(int codePage)
{
    if (codePage == 936) return "GB18030";
    if (codePage == 950) return "Big5";
    return "windows-" + QByteArray::number(codePage);
}

// Text as RTF writes it: ASCII as it is with the three special characters escaped, line breaks
// as \par, the rest as code page bytes (\'xx) or as \uN with those bytes (or "?") to fall back on.
QByteArray RtfText(const QString& text, int codePage, bool unicodeEscapes)
{
    const QByteArray codec = CodecName(codePage);
    QStringEncoder encoder(codec.constData());
    QStringDecoder decoder(codec.constData());
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\n') {
            out += "\\par ";
            continue;
        }
        if (c.unicode() < 0x80) {
            if (c == u'\\' || c == u'{' || c == u'}') out += '\\';
            out += static_cast<char>(c.unicode());
            continue;
        }
        const qsizetype length = c.isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        i += length - 1;
        encoder.resetState();
        decoder.resetState();
        const QByteArray bytes = encoder(character);
        const bool fits = !bytes.isEmpty() && QString(decoder(bytes)) == character;
        QByteArray fallback = fits ? QByteArray() : QByteArray("?");
        if (fits)
            for (const char b : bytes)
                fallback += "\\'" + QByteArray::number(uchar(b), 16).rightJustified(2, '0');
        if (fits && !unicodeEscapes) {
            out += fallback;
            continue;
        }
        for (qsizetype k = 0; k < character.size(); ++k) {
            // The fallback follows the last unit of the character only.
            const bool last = k + 1 == character.size();
            out += "\\uc" + QByteArray::number(last ? (fits ? bytes.size() : 1) : 0);
            out += "\\u" + QByteArray::number(static_cast<qint16>(character[k].unicode()));
            out += last ? fallback : QByteArray(" ");
        }
    }
    return out;
}

QByteArray RtfDate(const char* word, const QDateTime& date)
{
    if (!date.isValid()) return {};
    return QStringLiteral("{\\%1\\yr%2\\mo%3\\dy%4\\hr%5\\min%6}")
        .arg(QLatin1String(word))
        .arg(date.date().year())
        .arg(date.date().month())
        .arg(date.date().day())
        .arg(date.time().hour())
        .arg(date.time().minute())
        .toLatin1();
}

QByteArray Le16(quint16 v)
{
    QByteArray b(2, 0);
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray Le32(quint32 v)
{
    QByteArray b(4, 0);
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray Utf16Le(const QString& text)
{
    QByteArray bytes;
    for (const QChar c : text)
        bytes += Le16(c.unicode());
    return bytes;
}

} // namespace

QByteArray Rtf(const TRtf& book)
{
    auto text = [&](const QString& s) { return RtfText(s, book.CodePage, book.UnicodeEscapes); };
    QByteArray out = "{\\rtf1\\ansi\\ansicpg" + QByteArray::number(book.CodePage) +
                     "\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}}\r\n"
                     "{\\colortbl;\\red0\\green0\\blue0;}\r\n{\\info";
    const std::pair<const char*, const QString*> fields[] = {
        {"title", &book.Title},       {"subject", &book.Subject},   {"author", &book.Author},
        {"operator", &book.Operator}, {"keywords", &book.Keywords}, {"doccomm", &book.Comment},
        {"category", &book.Category}, {"*\\company", &book.Company}};
    for (const auto& [word, value] : fields)
        if (!value->isEmpty()) out += "\r\n{\\" + QByteArray(word) + ' ' + text(*value) + '}';
    out += RtfDate("creatim", book.Created) + RtfDate("revtim", book.Revised);
    const std::pair<const char*, int> numbers[] = {{"version", book.Version},
                                                   {"nofpages", book.Pages},
                                                   {"nofwords", book.Words},
                                                   {"nofchars", book.Chars}};
    for (const auto& [word, value] : numbers)
        if (value >= 0) out += "\\" + QByteArray(word) + QByteArray::number(value);
    out += "}\r\n";
    if (!book.Cover.isEmpty()) {
        out += "{\\*\\shppict{\\pict{\\*\\picprop\\shplid1025{\\sp{\\sn wzName}{\\sv Cover}}}"
               "\\picw100\\pich100\\" +
               book.CoverBlip + "\\bliptag1{\\*\\blipuid 0123456789abcdef0123456789abcdef}\r\n";
        const QByteArray hex = book.Cover.toHex();
        for (qsizetype i = 0; i < hex.size(); i += 128)
            out += hex.mid(i, 128) + "\r\n";
        out += "}}";
    }
    out += "\\pard\\plain\\f0 " + text(book.Body) + "\\par\r\n}\r\n";
    return out;
}

QByteArray Umd(const TUmd& book)
{
    QByteArray out = "\x89\x9B\x9A\xDE";
    auto attribute = [&](quint16 id, char flag, const QByteArray& content) {
        out += '#' + Le16(id) + flag + static_cast<char>(5 + content.size()) + content;
    };
    auto data = [&](quint32 check, const QByteArray& content) {
        out += '$' + Le32(check) + Le32(static_cast<quint32>(9 + content.size())) + content;
    };
    attribute(0x01, 0, QByteArray("\x01\x34\x12", 3)); // a text book, two random bytes
    const QString* texts[] = {&book.Title, &book.Author, &book.Year,      &book.Month,
                              &book.Day,   &book.Type,   &book.Publisher, &book.Vendor};
    for (quint16 id = 0x02; id <= 0x09; ++id)
        if (!texts[id - 2]->isEmpty()) attribute(id, 0, Utf16Le(texts[id - 2]->left(120)));
    QString body = book.Text;
    body.replace(u'\n', QChar(0x2029)); // the format's paragraph break
    const QByteArray text = Utf16Le(body);
    attribute(0x0B, 0, Le32(static_cast<quint32>(text.size())));
    attribute(0x83, 1, Le32(0x3001));
    data(0x3001, Le32(0)); // one chapter, at the start
    const QByteArray chapter = Utf16Le(book.Title.left(60));
    attribute(0x84, 1, Le32(0x4001));
    data(0x4001, static_cast<char>(chapter.size()) + chapter);
    QByteArray checks;
    for (qsizetype at = 0, n = 0; at < text.size(); at += 0x8000, ++n) {
        const quint32 check = 0x2001 + static_cast<quint32>(n);
        data(check, qCompress(text.mid(at, 0x8000)).mid(4)); // a bare zlib stream
        checks += Le32(check);
    }
    attribute(0x81, 1, Le32(0x2000));
    data(0x2000, checks);
    if (!book.Cover.isEmpty()) {
        attribute(0x82, 1, '\x01' + Le32(0x1001)); // a JPEG
        data(0x1001, book.Cover);
    }
    attribute(0x0C, 1, Le32(static_cast<quint32>(out.size() + 9)));
    return out;
}

QList<TZipEntry> DocxEntries(const TDocx& book)
{
    auto element = [](const char* name, const QString& text, const char* attributes = "") {
        return text.isEmpty() ? QString()
                              : QStringLiteral("<%1%2>%3</%1>").arg(name, attributes, Escape(text));
    };
    auto count = [](const char* name, int value) {
        return value < 0 ? QString() : QStringLiteral("<%1>%2</%1>").arg(name).arg(value);
    };
    const char* w3cdtf = " xsi:type=\"dcterms:W3CDTF\"";
    const QString core =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<cp:coreProperties "
        "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">" +
        element("dc:title", book.Title) + element("dc:subject", book.Subject) +
        element("dc:creator", book.Creator) + element("cp:keywords", book.Keywords) +
        element("dc:description", book.Description) + element("cp:revision", book.Revision) +
        element("dcterms:created", book.Created, w3cdtf) +
        element("dcterms:modified", book.Modified, w3cdtf) + element("cp:category", book.Category) +
        element("dc:language", book.Language) + element("dc:identifier", book.Identifier) +
        "</cp:coreProperties>";
    const QString app =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Properties "
        "xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
        "<Application>Writer</Application>" +
        count("Pages", book.Pages) + count("Words", book.Words) +
        count("Characters", book.Characters) + element("Company", book.Company) + "</Properties>";

    const QString relationships =
        "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const QString package = "http://schemas.openxmlformats.org/package/2006/relationships";
    QString rels = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                   "<Relationships xmlns=\"" +
                   package + "\"><Relationship Id=\"rId1\" Type=\"" + relationships +
                   "/officeDocument\" Target=\"word/document.xml\"/>";
    if (book.Properties)
        rels += "<Relationship Id=\"rId2\" Type=\"" + package +
                "/metadata/core-properties\" Target=\"docProps/core.xml\"/>"
                "<Relationship Id=\"rId3\" Type=\"" +
                relationships + "/extended-properties\" Target=\"docProps/app.xml\"/>";
    const QString thumbnail = "docProps/thumbnail." + book.ThumbnailFormat;
    if (!book.Thumbnail.isEmpty())
        rels += "<Relationship Id=\"rId4\" Type=\"" + package + "/metadata/thumbnail\" Target=\"" +
                thumbnail + "\"/>";
    rels += "</Relationships>";

    QString documentRels = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                           "<Relationships xmlns=\"" +
                           package + "\">";
    for (int i = 0; i < book.Media.size(); ++i)
        documentRels += QStringLiteral("<Relationship Id=\"rIdImg%1\" Type=\"%2/image\" "
                                       "Target=\"media/%3\"/>")
                            .arg(i)
                            .arg(relationships, book.Media[i].Name);
    documentRels += "</Relationships>";
    QString body;
    for (const QString& line : book.Text.split('\n'))
        body += "<w:p><w:r><w:t>" + Escape(line) + "</w:t></w:r></w:p>";
    for (const QString& shown : book.Shown) {
        qsizetype index = -1;
        for (qsizetype i = 0; i < book.Media.size(); ++i)
            if (book.Media[i].Name == shown) index = i;
        body +=
            QStringLiteral("<w:p><w:r><w:drawing><wp:inline><a:graphic><a:graphicData><pic:pic>"
                           "<pic:blipFill><a:blip r:embed=\"rIdImg%1\"/></pic:blipFill></pic:pic>"
                           "</a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>")
                .arg(index);
    }
    const QString document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
        "xmlns:r=\"" +
        relationships +
        "\" "
        "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
        "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><w:body>" +
        body + "</w:body></w:document>";
    const QString types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>";

    QList<TZipEntry> entries = {{"[Content_Types].xml", types.toUtf8()},
                                {"_rels/.rels", rels.toUtf8()},
                                {"word/document.xml", document.toUtf8()},
                                {"word/_rels/document.xml.rels", documentRels.toUtf8()}};
    if (book.Properties) {
        entries.append({"docProps/core.xml", core.toUtf8()});
        entries.append({"docProps/app.xml", app.toUtf8()});
    }
    if (!book.Thumbnail.isEmpty()) entries.append({thumbnail, book.Thumbnail});
    for (const TZipEntry& media : book.Media)
        entries.append({"word/media/" + media.Name, media.Bytes});
    return entries;
}

bool WriteDocx(const QString& path, const TDocx& book)
{
    return WriteZip(path, DocxEntries(book));
}

QList<TZipEntry> HtmlzEntries(const THtmlz& book)
{
    QString metadata = "<dc:title>" + Escape(book.Title) + "</dc:title>\n";
    for (const QString& author : book.Authors)
        metadata += "<dc:creator opf:role=\"aut\">" + Escape(author) + "</dc:creator>\n";
    for (const QString& subject : book.Subjects)
        metadata += "<dc:subject>" + Escape(subject) + "</dc:subject>\n";
    auto add = [&](const char* name, const QString& value) {
        if (!value.isEmpty())
            metadata += QStringLiteral("<dc:%1>%2</dc:%1>\n").arg(name, Escape(value));
    };
    add("publisher", book.Publisher);
    add("description", book.Description);
    add("date", book.Date);
    add("language", book.Language);
    if (!book.Identifier.isEmpty())
        metadata += "<dc:identifier id=\"uid\">" + Escape(book.Identifier) + "</dc:identifier>\n";
    QString manifest;
    if (!book.Cover.isEmpty()) {
        metadata += "<meta name=\"cover\" content=\"cover\"/>\n";
        manifest = "<manifest><item id=\"cover\" href=\"cover.jpg\" "
                   "media-type=\"image/jpeg\"/></manifest>\n";
    }
    const QString opf = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\" "
                        "unique-identifier=\"uid\">\n"
                        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                        "xmlns:opf=\"http://www.idpf.org/2007/opf\">\n" +
                        metadata + "</metadata>\n" + manifest + "</package>\n";
    const QString page = !book.Page.isEmpty()
                             ? book.Page
                             : "<html><head><meta charset=\"utf-8\"><title>" + Escape(book.Title) +
                                   "</title></head><body><p>Text of the book.</p></body></html>";
    QList<TZipEntry> entries = {{"index.html", page.toUtf8()}, {"metadata.opf", opf.toUtf8()}};
    if (!book.Cover.isEmpty()) entries.append({"cover.jpg", book.Cover});
    return entries;
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

namespace {

QByteArray U16le(quint16 v)
{
    QByteArray out(2, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

QByteArray U32le(quint32 v)
{
    QByteArray out(4, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

quint32 Crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= static_cast<uchar>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray U64le(quint64 v)
{
    return U32le(static_cast<quint32>(v)) + U32le(static_cast<quint32>(v >> 32));
}

// The variable-length numbers of a CHM directory: 7 bits a byte, most significant first.
QByteArray EncInt(quint64 v)
{
    QByteArray out(1, static_cast<char>(v & 0x7f));
    while (v >>= 7)
        out.prepend(static_cast<char>(0x80 | (v & 0x7f)));
    return out;
}

QByteArray Guid(quint32 a, quint16 b, quint16 c, const char* rest)
{
    return U32le(a) + U16le(b) + U16le(c) + QByteArray(rest, 8);
}

} // namespace

QByteArray Tar(const QList<TZipEntry>& entries)
{
    QByteArray out;
    for (const TZipEntry& entry : entries) {
        QByteArray header(512, '\0');
        const QByteArray name = entry.Name.toUtf8().left(99);
        header.replace(0, name.size(), name);
        auto octal = [&](int at, int width, qint64 value) {
            const QByteArray digits = QByteArray::number(value, 8).rightJustified(width - 1, '0');
            header.replace(at, digits.size(), digits);
        };
        octal(100, 8, 0644);
        octal(108, 8, 0);
        octal(116, 8, 0);
        octal(124, 12, entry.Bytes.size());
        octal(136, 12, 1600000000);
        header[156] = '0';
        header.replace(257, 8,
                       QByteArray("ustar\0"
                                  "00",
                                  8));
        header.replace(148, 8, QByteArray(8, ' '));
        int sum = 0;
        for (const char c : header)
            sum += static_cast<uchar>(c);
        const QByteArray checksum = QByteArray::number(sum, 8).rightJustified(6, '0') + '\0';
        header.replace(148, checksum.size(), checksum);
        out += header + entry.Bytes;
        out += QByteArray((512 - entry.Bytes.size() % 512) % 512, '\0');
    }
    return out + QByteArray(1024, '\0');
}

QByteArray StoredRar(const QList<TZipEntry>& entries)
{
    // Each block: CRC16 (the low half of the CRC-32 of the rest), type, flags, size.
    auto block = [](quint8 type, quint16 flags, const QByteArray& rest) {
        const QByteArray body = QByteArray(1, static_cast<char>(type)) + U16le(flags) +
                                U16le(static_cast<quint16>(7 + rest.size())) + rest;
        return U16le(static_cast<quint16>(Crc32(body))) + body;
    };
    QByteArray out("Rar!\x1a\x07\x00", 7);
    out += block(0x73, 0, QByteArray(6, '\0'));
    for (const TZipEntry& entry : entries) {
        const QByteArray name = entry.Name.toUtf8().replace('/', '\\');
        const QByteArray fields = U32le(static_cast<quint32>(entry.Bytes.size())) + // packed
                                  U32le(static_cast<quint32>(entry.Bytes.size())) + // unpacked
                                  QByteArray(1, '\0') +                             // host: DOS
                                  U32le(Crc32(entry.Bytes)) + U32le(0x5a210000u) +  // CRC, time
                                  QByteArray(1, 20) + QByteArray(1, 0x30) +         // 2.0, store
                                  U16le(static_cast<quint16>(name.size())) + U32le(0x20) + name;
        out += block(0x74, 0x8000, fields) + entry.Bytes;
    }
    return out + block(0x7b, 0x4000, {});
}

QByteArray ChmSystem(quint32 locale, const QByteArray& title, const QByteArray& defaultTopic)
{
    auto record = [](quint16 code, const QByteArray& data) {
        return U16le(code) + U16le(static_cast<quint16>(data.size())) + data;
    };
    QByteArray out = U32le(3);
    if (!defaultTopic.isEmpty()) out += record(2, defaultTopic + '\0');
    if (!title.isEmpty()) out += record(3, title + '\0');
    out += record(4, U32le(locale) + QByteArray(28, '\0'));
    return out;
}

QByteArray Chm(const QList<TZipEntry>& objects, quint32 locale)
{
    constexpr quint32 chunkSize = 0x1000;
    // One directory chunk: every object in content section 0, one after another.
    QByteArray entries, content;
    QList<TZipEntry> sorted = objects;
    std::sort(sorted.begin(), sorted.end(), [](const TZipEntry& a, const TZipEntry& b) {
        return a.Name.toUtf8().toLower() < b.Name.toUtf8().toLower();
    });
    for (const TZipEntry& object : sorted) {
        QByteArray name = object.Name.toUtf8();
        if (!name.startsWith('/') && !name.startsWith(':')) name.prepend('/');
        entries += EncInt(static_cast<quint64>(name.size())) + name + EncInt(0) +
                   EncInt(static_cast<quint64>(content.size())) +
                   EncInt(static_cast<quint64>(object.Bytes.size()));
        content += object.Bytes;
    }
    if (entries.size() > static_cast<qsizetype>(chunkSize) - 0x14 - 2) return {};
    QByteArray chunk = "PMGL" + U32le(static_cast<quint32>(chunkSize - 0x14 - entries.size())) +
                       U32le(0) + U32le(0xffffffffu) + U32le(0xffffffffu) + entries;
    chunk += QByteArray(static_cast<qsizetype>(chunkSize) - chunk.size() - 2, '\0');
    chunk += U16le(static_cast<quint16>(sorted.size()));

    const QByteArray directory =
        "ITSP" + U32le(1) + U32le(0x54) + U32le(0x0a) + U32le(chunkSize) + U32le(2) + U32le(1) +
        U32le(0xffffffffu) + U32le(0) + U32le(0) + U32le(0xffffffffu) + U32le(1) + U32le(locale) +
        Guid(0x5d02926a, 0x212e, 0x11d0, "\x9d\xf9\x00\xa0\xc9\x22\xe6\xec") + U32le(0x54) +
        U32le(0xffffffffu) + U32le(0xffffffffu) + U32le(0xffffffffu) + chunk;
    constexpr quint64 headerSize = 0x60, section0Size = 0x18;
    const quint64 directoryAt = headerSize + section0Size;
    const quint64 contentAt = directoryAt + static_cast<quint64>(directory.size());
    const quint64 fileSize = contentAt + static_cast<quint64>(content.size());
    const QByteArray header = "ITSF" + U32le(3) + U32le(headerSize) + U32le(1) + U32le(0) +
                              U32le(locale) +
                              Guid(0x7c01fd10, 0x7baa, 0x11d0, "\x9e\x0c\x00\xa0\xc9\x22\xe6\xec") +
                              Guid(0x7c01fd11, 0x7baa, 0x11d0, "\x9e\x0c\x00\xa0\xc9\x22\xe6\xec") +
                              U64le(headerSize) + U64le(section0Size) + U64le(directoryAt) +
                              U64le(static_cast<quint64>(directory.size())) + U64le(contentAt);
    const QByteArray section0 = U32le(0x01fe) + U32le(0) + U64le(fileSize) + U32le(0) + U32le(0);
    return header + section0 + directory + content;
}

} // namespace BookMaker
