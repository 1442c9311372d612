#include "SummaryCommon.h"

#include "FileNames.h"
#include "JpegReader.h"
#include "PngReader.h"

#include <QStringDecoder>

#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QStringEncoder>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <cstdlib>
#include <cstring>
#include <iterator>

namespace Summary {

namespace {

// Length of the GB18030 character that starts at `p` (1, 2 or 4); `left` bytes are there.
int CharLength(const unsigned char* p, qsizetype left)
{
    if (p[0] < 0x81 || p[0] == 0xFF || left < 2) return 1;
    if (p[1] >= 0x30 && p[1] <= 0x39) return left >= 4 ? 4 : 1;
    return 2;
}

QString Collapse(const QString& text, bool keepLines)
{
    if (!keepLines) return text.simplified();
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString s = line.simplified();
        if (!s.isEmpty()) lines << s;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void PutText(TBookInfo* info, TBookInfoOffset offset, const QString& text, bool keepLines)
{
    const QString clean = Collapse(text, keepLines);
    // Nothing to say keeps what is there: when the default library ran first, its value
    // stays rather than being blanked by a field this book lacks.
    if (clean.isEmpty()) return;
    unsigned char* block = info->Data + offset;
    std::memset(block, 0, BOOKINFO_BLOCK_SIZE);
    // Encoding more than 255 characters is pointless: each takes at least one byte.
    QStringEncoder encoder("GB18030", QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder(clean.left(BOOKINFO_BLOCK_SIZE));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    qsizetype used = 0;
    while (used < bytes.size()) {
        const int length = CharLength(p + used, bytes.size() - used);
        if (used + length > BOOKINFO_BLOCK_SIZE - 1) break;
        used += length;
    }
    block[0] = static_cast<unsigned char>(used);
    std::memcpy(block + 1, bytes.constData(), static_cast<size_t>(used));
}

void PutNumber(TBookInfo* info, TBookInfoOffset offset, qint64 number)
{
    PutText(info, offset, QString::number(number));
}

void PutDate(TBookInfo* info, TBookInfoOffset offset, const QDateTime& date)
{
    if (date.isValid())
        PutText(info, offset, date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QString GetText(const TBookInfo* info, TBookInfoOffset offset)
{
    const unsigned char* block = info->Data + offset;
    QStringDecoder decoder("GB18030");
    return decoder(QByteArrayView(reinterpret_cast<const char*>(block + 1), block[0]));
}

QString JoinAuthors(const QStringList& authors)
{
    QStringList kept;
    for (const QString& a : authors) {
        const QString s = a.simplified();
        if (!s.isEmpty() && !kept.contains(s)) kept << s;
    }
    return kept.join(QStringLiteral(" & "));
}

namespace {

// The HTML 4 character entities. The Latin-1 ones cover U+00A0 to U+00FF in order.
const char* const Latin1Entities[] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

// Greek letters run in order from U+0391 and U+03B1 (U+03A2 is no letter).
const char* const GreekEntities[] = {
    "Alpha", "Beta",   "Gamma",   "Delta", "Epsilon", "Zeta",    "Eta",  "Theta", "Iota",
    "Kappa", "Lambda", "Mu",      "Nu",    "Xi",      "Omicron", "Pi",   "Rho",   nullptr,
    "Sigma", "Tau",    "Upsilon", "Phi",   "Chi",     "Psi",     "Omega"};

const struct
{
    const char* Name;
    char32_t Code;
} OtherEntities[] = {
    {"quot", 0x22},      {"amp", 0x26},      {"apos", 0x27},      {"lt", 0x3C},
    {"gt", 0x3E},        {"OElig", 0x152},   {"oelig", 0x153},    {"Scaron", 0x160},
    {"scaron", 0x161},   {"Yuml", 0x178},    {"fnof", 0x192},     {"circ", 0x2C6},
    {"tilde", 0x2DC},    {"sigmaf", 0x3C2},  {"thetasym", 0x3D1}, {"upsih", 0x3D2},
    {"piv", 0x3D6},      {"ensp", 0x2002},   {"emsp", 0x2003},    {"thinsp", 0x2009},
    {"zwnj", 0x200C},    {"zwj", 0x200D},    {"lrm", 0x200E},     {"rlm", 0x200F},
    {"ndash", 0x2013},   {"mdash", 0x2014},  {"lsquo", 0x2018},   {"rsquo", 0x2019},
    {"sbquo", 0x201A},   {"ldquo", 0x201C},  {"rdquo", 0x201D},   {"bdquo", 0x201E},
    {"dagger", 0x2020},  {"Dagger", 0x2021}, {"bull", 0x2022},    {"hellip", 0x2026},
    {"permil", 0x2030},  {"prime", 0x2032},  {"Prime", 0x2033},   {"lsaquo", 0x2039},
    {"rsaquo", 0x203A},  {"oline", 0x203E},  {"frasl", 0x2044},   {"euro", 0x20AC},
    {"image", 0x2111},   {"weierp", 0x2118}, {"real", 0x211C},    {"trade", 0x2122},
    {"alefsym", 0x2135}, {"larr", 0x2190},   {"uarr", 0x2191},    {"rarr", 0x2192},
    {"darr", 0x2193},    {"harr", 0x2194},   {"crarr", 0x21B5},   {"lArr", 0x21D0},
    {"uArr", 0x21D1},    {"rArr", 0x21D2},   {"dArr", 0x21D3},    {"hArr", 0x21D4},
    {"forall", 0x2200},  {"part", 0x2202},   {"exist", 0x2203},   {"empty", 0x2205},
    {"nabla", 0x2207},   {"isin", 0x2208},   {"notin", 0x2209},   {"ni", 0x220B},
    {"prod", 0x220F},    {"sum", 0x2211},    {"minus", 0x2212},   {"lowast", 0x2217},
    {"radic", 0x221A},   {"prop", 0x221D},   {"infin", 0x221E},   {"ang", 0x2220},
    {"and", 0x2227},     {"or", 0x2228},     {"cap", 0x2229},     {"cup", 0x222A},
    {"int", 0x222B},     {"there4", 0x2234}, {"sim", 0x223C},     {"cong", 0x2245},
    {"asymp", 0x2248},   {"ne", 0x2260},     {"equiv", 0x2261},   {"le", 0x2264},
    {"ge", 0x2265},      {"sub", 0x2282},    {"sup", 0x2283},     {"nsub", 0x2284},
    {"sube", 0x2286},    {"supe", 0x2287},   {"oplus", 0x2295},   {"otimes", 0x2297},
    {"perp", 0x22A5},    {"sdot", 0x22C5},   {"lceil", 0x2308},   {"rceil", 0x2309},
    {"lfloor", 0x230A},  {"rfloor", 0x230B}, {"lang", 0x2329},    {"rang", 0x232A},
    {"loz", 0x25CA},     {"spades", 0x2660}, {"clubs", 0x2663},   {"hearts", 0x2665},
    {"diams", 0x2666}};

const QHash<QByteArray, char32_t>& EntityTable()
{
    static const QHash<QByteArray, char32_t> table = [] {
        QHash<QByteArray, char32_t> t;
        char32_t code = 0xA0;
        for (const char* name : Latin1Entities)
            t.insert(name, code++);
        for (int i = 0; i < int(std::size(GreekEntities)); ++i) {
            if (!GreekEntities[i]) continue;
            t.insert(GreekEntities[i], char32_t(0x391 + i));
            t.insert(QByteArray(GreekEntities[i]).toLower(), char32_t(0x3B1 + i));
        }
        for (const auto& e : OtherEntities)
            t.insert(e.Name, e.Code);
        return t;
    }();
    return table;
}

bool IsNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':';
}

// The length of a well-formed numeric reference body ("#123" or "#x1F") before `;`, 0 if none.
qsizetype NumericReference(QByteArrayView text)
{
    if (text.size() < 2 || text[0] != '#') return 0;
    const bool hex = text[1] == 'x';
    qsizetype i = hex ? 2 : 1;
    const qsizetype start = i;
    while (i < text.size() && i < 12 &&
           ((text[i] >= '0' && text[i] <= '9') ||
            (hex && ((text[i] | 0x20) >= 'a' && (text[i] | 0x20) <= 'f'))))
        ++i;
    return i > start && i < text.size() && text[i] == ';' ? i : 0;
}

} // namespace

char32_t HtmlEntity(QByteArrayView name)
{
    return EntityTable().value(name.toByteArray(), 0);
}

QByteArray ResolveHtmlEntities(const QByteArray& xml)
{
    const qsizetype n = xml.size();
    // UTF-16 and UTF-32 put zero bytes beside the markup; a byte pass would tear them apart.
    if (n >= 2 && (xml[0] == 0 || xml[1] == 0 || uchar(xml[0]) >= 0xFE)) return xml;
    if (!xml.contains('&')) return xml;
    static const QByteArray xmlNames[] = {"amp", "lt", "gt", "quot", "apos"};
    QSet<QByteArray> declared;
    QByteArray out;
    out.reserve(n + n / 32);
    const QByteArrayView in(xml);
    qsizetype i = 0;
    auto copyThrough = [&](QByteArrayView end) {
        const qsizetype at = in.indexOf(end, i);
        const qsizetype stop = at < 0 ? n : at + end.size();
        out += in.sliced(i, stop - i);
        i = stop;
    };
    while (i < n) {
        const char c = in[i];
        if (c == '<') {
            const QByteArrayView rest = in.sliced(i);
            if (rest.startsWith("<!--")) {
                copyThrough("-->");
            } else if (rest.startsWith("<![CDATA[")) {
                copyThrough("]]>");
            } else {
                if (rest.startsWith("<!ENTITY") && declared.size() < 1024) {
                    // The document's own entities keep their meaning.
                    qsizetype k = 8;
                    while (k < rest.size() && (rest[k] == ' ' || rest[k] == '\t' ||
                                               rest[k] == '\r' || rest[k] == '\n'))
                        ++k;
                    const qsizetype start = k;
                    while (k < rest.size() && k - start < 64 && IsNameByte(rest[k]))
                        ++k;
                    if (k > start) declared.insert(rest.sliced(start, k - start).toByteArray());
                }
                out += c;
                ++i;
            }
            continue;
        }
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        const QByteArrayView after = in.sliced(i + 1, qMin<qsizetype>(64, n - i - 1));
        if (const qsizetype length = NumericReference(after)) {
            out += in.sliced(i, length + 2);
            i += length + 2;
            continue;
        }
        qsizetype k = 0;
        while (k < after.size() && IsNameByte(after[k]))
            ++k;
        if (k == 0 || k == after.size() || after[k] != ';') {
            out += "&amp;"; // a bare ampersand is text
            ++i;
            continue;
        }
        const QByteArray name = after.first(k).toByteArray();
        bool keep = declared.contains(name);
        for (const QByteArray& x : xmlNames)
            keep = keep || name == x;
        if (keep) {
            out += '&' + name + ';';
        } else if (const char32_t code = HtmlEntity(name)) {
            out += "&#" + QByteArray::number(uint(code)) + ';';
        } else {
            out += "&amp;" + name + ';';
        }
        i += k + 2;
    }
    return out;
}

QString PlainTextFromHtml(const QString& html)
{
    // Tags go, the ends of blocks become line breaks. Scanned once: a text full of unclosed
    // '<' costs no more than its length.
    static const QString blockEnds[] = {
        QStringLiteral("br"),  QStringLiteral("/p"),  QStringLiteral("/div"), QStringLiteral("/li"),
        QStringLiteral("/h1"), QStringLiteral("/h2"), QStringLiteral("/h3"),  QStringLiteral("/h4"),
        QStringLiteral("/h5"), QStringLiteral("/h6"), QStringLiteral("/tr")};
    QString text;
    text.reserve(html.size());
    const QStringView source(html);
    for (qsizetype i = 0; i < source.size(); ++i) {
        if (source[i] != u'<') {
            text += source[i];
            continue;
        }
        const qsizetype close = source.indexOf(u'>', i + 1);
        if (close < 0) {
            // No tag is closed from here on: the rest is text.
            text += source.mid(i);
            break;
        }
        QStringView tag = source.mid(i + 1, close - i - 1);
        while (!tag.isEmpty() && tag.front().isSpace())
            tag = tag.mid(1);
        for (const QString& end : blockEnds) {
            if (!tag.startsWith(end, Qt::CaseInsensitive)) continue;
            const qsizetype after = end.size();
            if (after == tag.size() || !(tag[after].isLetterOrNumber() || tag[after] == u'_')) {
                text += u'\n';
                break;
            }
        }
        i = close;
    }

    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) {
            out += text[i];
            continue;
        }
        // A reference is short: look no further for its end.
        const qsizetype semi = QStringView(text).mid(i + 1, 10).indexOf(u';');
        if (semi < 0) {
            out += text[i];
            continue;
        }
        const QString name = text.mid(i + 1, semi);
        bool ok = false;
        uint code = 0;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&ok, 10);
        if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
        } else if (const char32_t named = HtmlEntity(name.toLatin1())) {
            out += QString::fromUcs4(&named, 1);
        } else {
            out += text[i];
            continue;
        }
        i += semi + 1;
    }
    return out;
}

QString NormalizeDate(const QString& text)
{
    static const QRegularExpression date(QStringLiteral(
        "^\\s*(\\d{4})(?:-(\\d{1,2})(?:-(\\d{1,2})(?:[T ](\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?)?)?"));
    const QRegularExpressionMatch m = date.match(text);
    if (!m.hasMatch()) return text.simplified();
    QString out = m.captured(1);
    for (int part = 2; part <= 3 && !m.captured(part).isEmpty(); ++part)
        out += QLatin1Char('-') + m.captured(part).rightJustified(2, QLatin1Char('0'));
    if (!m.captured(4).isEmpty()) {
        out += QLatin1Char(' ') + m.captured(4).rightJustified(2, QLatin1Char('0')) +
               QLatin1Char(':') + m.captured(5);
        if (!m.captured(6).isEmpty()) out += QLatin1Char(':') + m.captured(6);
    }
    return out;
}

QSize FitInside(const QSize& size, const QSize& box)
{
    if (size.isEmpty() || box.isEmpty()) return {};
    if (size.width() <= box.width() && size.height() <= box.height()) return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QSize WantedSize(const TThumbnailInfo* thumbnail)
{
    if (thumbnail->Width > 0 && thumbnail->Height > 0 && thumbnail->Width <= 4096 &&
        thumbnail->Height <= 4096)
        return QSize(thumbnail->Width, thumbnail->Height);
    return QSize(90, 112);
}

QImage DecodeScaled(QIODevice* device, const QSize& box)
{
    if (!device) return {};
    const QByteArray head = device->peek(8);
    // Decode at no less than twice the box, so the final smooth scaling still has detail.
    if (IsPng(head)) return ReadPng(device, box * 2);
    // JPEG's own scaling averages whole blocks, so decoding at the box is enough.
    if (IsJpeg(head)) {
        const qint64 start = device->pos();
        QImage image;
        switch (ReadJpeg(device, box, image)) {
        case TJpegRead::Decoded: return image;
        case TJpegRead::Failed: return {};
        case TJpegRead::NotHandled:
            if (!device->seek(start)) return {};
            break;
        }
    }
    QImageReader reader(device);
    reader.setAutoTransform(true);
    // A cover never needs more; a hostile header cannot make us allocate gigabytes.
    reader.setAllocationLimit(128);
    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.width() > 30000 || size.height() > 30000) return {};
        const QSize target = FitInside(size, box * 2);
        if (target.isValid() && target != size) reader.setScaledSize(target);
    }
    return reader.read();
}

QImage DecodeScaled(const QByteArray& bytes, const QSize& box)
{
    if (IsPng(bytes)) return ReadPng(bytes, box * 2);
    if (IsJpeg(bytes)) {
        QImage image;
        const TJpegRead read = ReadJpeg(QByteArrayView(bytes), box, image);
        if (read == TJpegRead::Decoded) return image;
        if (read == TJpegRead::Failed) return {};
    }
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return DecodeScaled(&buffer, box);
}

bool PutThumbnail(TThumbnailInfo* thumbnail, const QImage& image)
{
    if (image.isNull()) return false;
    const QSize target = FitInside(image.size(), WantedSize(thumbnail));
    if (!target.isValid()) return false;
    QImage scaled = image.size() == target
                        ? image
                        : image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled = scaled.convertToFormat(QImage::Format_ARGB32);
    const size_t rowBytes = static_cast<size_t>(scaled.width()) * sizeof(uint32_t);
    auto* pixels =
        static_cast<uint32_t*>(std::malloc(rowBytes * static_cast<size_t>(scaled.height())));
    if (!pixels) return false;
    for (int y = 0; y < scaled.height(); ++y)
        std::memcpy(reinterpret_cast<char*>(pixels) + rowBytes * static_cast<size_t>(y),
                    scaled.constScanLine(y), rowBytes);
    std::free(thumbnail->Pixels);
    thumbnail->Width = scaled.width();
    thumbnail->Height = scaled.height();
    thumbnail->Pixels = pixels;
    return true;
}

bool OpenBookFile(QFile& file, const char* fileName)
{
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

QString BookBaseName(const char* fileName)
{
    const QString path = FileNames::Decode(fileName);
    QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0) name.truncate(dot);
    if (!FileNames::HasForeignBytes(name)) return name;
    QStringDecoder decoder("GB18030");
    return decoder(FileNames::Encode(name));
}

QString LowerExtension(const char* fileName)
{
    const QString name = FileNames::Decode(fileName);
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? name.mid(dot + 1).toLower() : QString();
}

bool NaturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    const qsizetype na = a.size(), nb = b.size();
    while (i < na && j < nb) {
        if (!a[i].isDigit() || !b[j].isDigit()) {
            const QChar ca = a[i].toCaseFolded(), cb = b[j].toCaseFolded();
            if (ca != cb) return ca < cb;
            ++i;
            ++j;
            continue;
        }
        // Leading zeros do not change a number; the last digit is always kept.
        while (i + 1 < na && a[i] == QLatin1Char('0') && a[i + 1].isDigit())
            ++i;
        while (j + 1 < nb && b[j] == QLatin1Char('0') && b[j + 1].isDigit())
            ++j;
        qsizetype ei = i, ej = j;
        while (ei < na && a[ei].isDigit())
            ++ei;
        while (ej < nb && b[ej].isDigit())
            ++ej;
        if (ei - i != ej - j) return ei - i < ej - j;
        for (; i < ei; ++i, ++j)
            if (a[i] != b[j]) return a[i] < b[j];
        j = ej;
    }
    return na - i < nb - j;
}

bool MayDecodePicture(const QString& name)
{
    static const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    const qsizetype slash = name.lastIndexOf(u'/');
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= slash) return true;
    return formats.contains(name.mid(dot + 1).toLower().toLatin1());
}

QHash<QString, QString> ParseComicInfo(const QByteArray& bytes)
{
    QHash<QString, QString> fields;
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement()) return fields;
    while (xml.readNextStartElement())
        fields.insert(xml.name().toString(),
                      xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
    return fields;
}

namespace {

// A number in [low, high] or 0.
int InRange(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value >= low && value <= high ? value : 0;
}

// "yyyy", "yyyy-MM" or "yyyy-MM-dd" from the separate fields, as far as they are valid.
QString ComicDate(const QHash<QString, QString>& fields)
{
    const int year = InRange(fields.value(QStringLiteral("Year")), 1, 9999);
    if (!year) return {};
    QString date = QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0'));
    const int month = InRange(fields.value(QStringLiteral("Month")), 1, 12);
    if (!month) return date;
    date += QStringLiteral("-%1").arg(month, 2, 10, QLatin1Char('0'));
    const int day = InRange(fields.value(QStringLiteral("Day")), 1, 31);
    if (day) date += QStringLiteral("-%1").arg(day, 2, 10, QLatin1Char('0'));
    return date;
}

} // namespace

void PutComicInfo(TBookInfo* info, const QHash<QString, QString>& fields, const char* fileName)
{
    QString title = fields.value(QStringLiteral("Title"));
    if (title.isEmpty()) title = BookBaseName(fileName);
    PutText(info, biTitle, title);
    PutText(info, biAuthor,
            JoinAuthors(fields.value(QStringLiteral("Writer")).split(QLatin1Char(','))));
    PutText(info, biPublisher, fields.value(QStringLiteral("Publisher")));
    PutText(info, biCategory, fields.value(QStringLiteral("Genre")));
    PutText(info, biKeywords, fields.value(QStringLiteral("Tags")));
    PutText(info, biComment, fields.value(QStringLiteral("Summary")), true);
    PutText(info, biLanguage, fields.value(QStringLiteral("LanguageISO")));
    PutText(info, biCreationDate, ComicDate(fields));
}

} // namespace Summary
