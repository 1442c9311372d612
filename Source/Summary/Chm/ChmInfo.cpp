// Compiled HTML help books (CHM). The "#SYSTEM" file inside names the title and the default
// topic page and gives the locale, whose ANSI code page the texts are written in. The cover
// is a picture named "cover" anywhere in the book, or else the first picture the default topic
// page shows.
#include "SummaryCommon.h"

#include <QHash>
#include <QStringDecoder>
#include <QtEndian>
#include <QUrl>

#include <chm_lib.h>

#include <cstring>
#include <memory>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

constexpr qint64 MaxSystemSize = 1024 * 1024;
constexpr qint64 MaxTopicSize = 4 * 1024 * 1024;
constexpr int MaxEnumerated = 100000;

struct TChmCloser
{
    void operator()(chmFile* file) const { chm_close(file); }
};
using TChmHandle = std::unique_ptr<chmFile, TChmCloser>;

// An object's bytes, or nothing when it is missing, larger than `limit` or damaged.
bool ReadObject(chmFile* file, const QByteArray& path, qint64 limit, QByteArray& bytes)
{
    bytes.clear();
    chmUnitInfo unit{};
    if (path.size() > CHM_MAX_PATHLEN ||
        chm_resolve_object(file, path.constData(), &unit) != CHM_RESOLVE_SUCCESS)
        return false;
    if (unit.length > static_cast<LONGUINT64>(limit)) return false;
    if (unit.length == 0) return true;
    bytes.resize(static_cast<qsizetype>(unit.length));
    const LONGINT64 read =
        chm_retrieve_object(file, &unit, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                            static_cast<LONGINT64>(unit.length));
    // A short read is an object that runs past the end of a damaged file.
    if (read != static_cast<LONGINT64>(unit.length)) {
        bytes.clear();
        return false;
    }
    return true;
}

// The ANSI code page a Windows locale writes in, as a codec name.
const char* CodecOfLocale(quint32 lcid)
{
    switch (lcid & 0xffff) {
    case 0x0804: // Chinese (PRC)
    case 0x1004: // Chinese (Singapore)
        return "GB18030";
    case 0x0404: // Chinese (Taiwan)
    case 0x0c04: // Chinese (Hong Kong)
    case 0x1404: // Chinese (Macao)
        return "Big5";
    default:
        break;
    }
    switch (lcid & 0x3ff) { // the primary language
    case 0x11:
        return "Shift_JIS";
    case 0x12:
        return "windows-949";
    case 0x02:
    case 0x19:
    case 0x22:
    case 0x23:
    case 0x2f:
    case 0x3f:
    case 0x40:
    case 0x44:
    case 0x50:
        return "windows-1251";
    case 0x05:
    case 0x0e:
    case 0x15:
    case 0x18:
    case 0x1b:
    case 0x1c:
    case 0x24:
        return "windows-1250";
    case 0x1a: // Croatian and Serbian (Latin) use 1250, Serbian (Cyrillic) 1251
        return (lcid & 0xffff) == 0x0c1a || (lcid & 0xffff) == 0x1c1a ? "windows-1251"
                                                                      : "windows-1250";
    case 0x08:
        return "windows-1253";
    case 0x1f:
        return "windows-1254";
    case 0x0d:
        return "windows-1255";
    case 0x01:
    case 0x20:
    case 0x29:
        return "windows-1256";
    case 0x25:
    case 0x26:
    case 0x27:
        return "windows-1257";
    case 0x2a:
        return "windows-1258";
    case 0x1e:
        return "windows-874";
    case 0x00:
        return nullptr;
    default:
        return "windows-1252";
    }
}

// The code page a font character set (the third part of the default font) stands for.
const char* CodecOfCharset(int charset)
{
    switch (charset) {
    case 134:
        return "GB18030";
    case 136:
        return "Big5";
    case 128:
        return "Shift_JIS";
    case 129:
        return "windows-949";
    case 204:
        return "windows-1251";
    case 238:
        return "windows-1250";
    case 161:
        return "windows-1253";
    case 162:
        return "windows-1254";
    case 177:
        return "windows-1255";
    case 178:
        return "windows-1256";
    case 186:
        return "windows-1257";
    case 163:
        return "windows-1258";
    case 222:
        return "windows-874";
    case 0:
        return "windows-1252";
    default:
        return nullptr;
    }
}

// A language tag for the properties dialog from the locale, for the common ones.
QString LanguageOfLocale(quint32 lcid)
{
    switch (lcid & 0xffff) {
    case 0x0804:
        return QStringLiteral("zh-CN");
    case 0x1004:
        return QStringLiteral("zh-SG");
    case 0x0404:
        return QStringLiteral("zh-TW");
    case 0x0c04:
        return QStringLiteral("zh-HK");
    case 0x0409:
        return QStringLiteral("en-US");
    case 0x0809:
        return QStringLiteral("en-GB");
    default:
        break;
    }
    static const QHash<int, const char*> primary = {
        {0x01, "ar"}, {0x05, "cs"}, {0x06, "da"}, {0x07, "de"}, {0x08, "el"}, {0x09, "en"},
        {0x0a, "es"}, {0x0b, "fi"}, {0x0c, "fr"}, {0x0d, "he"}, {0x0e, "hu"}, {0x10, "it"},
        {0x11, "ja"}, {0x12, "ko"}, {0x13, "nl"}, {0x14, "no"}, {0x15, "pl"}, {0x16, "pt"},
        {0x19, "ru"}, {0x1d, "sv"}, {0x1e, "th"}, {0x1f, "tr"}, {0x22, "uk"}, {0x2a, "vi"}};
    const char* code = primary.value(static_cast<int>(lcid & 0x3ff), nullptr);
    return code ? QString::fromLatin1(code) : QString();
}

// What "#SYSTEM" says: a version word, then records of a code word, a length word and data.
struct TSystem
{
    QByteArray Title;
    QByteArray DefaultTopic;
    quint32 Locale = 0;
    int FontCharset = -1;
};

QByteArray CString(const QByteArray& data)
{
    const qsizetype end = data.indexOf('\0');
    return (end < 0 ? data : data.left(end)).trimmed();
}

TSystem ReadSystem(chmFile* file)
{
    TSystem system;
    QByteArray bytes;
    if (!ReadObject(file, "/#SYSTEM", MaxSystemSize, bytes)) return system;
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype at = 4; at + 4 <= size;) {
        const quint16 code = qFromLittleEndian<quint16>(p + at);
        const quint16 length = qFromLittleEndian<quint16>(p + at + 2);
        at += 4;
        if (length > size - at) break; // a cut record ends the list
        const QByteArray data = bytes.mid(at, length);
        at += length;
        switch (code) {
        case 2:
            system.DefaultTopic = CString(data);
            break;
        case 3:
            system.Title = CString(data);
            break;
        case 4:
            if (data.size() >= 4) system.Locale = qFromLittleEndian<quint32>(data.constData());
            break;
        case 16: { // "face,size,charset"
            const QList<QByteArray> parts = CString(data).split(',');
            bool ok = false;
            const int charset = parts.size() >= 3 ? parts[2].trimmed().toInt(&ok) : -1;
            if (ok && charset >= 0 && charset <= 255) system.FontCharset = charset;
            break;
        }
        default:
            break;
        }
    }
    return system;
}

// chmlib allocates by the sizes the headers give, unchecked: a file whose headers do not fit
// the file itself is refused before chmlib sees it.
bool PlausibleHeaders(const char* fileName)
{
    QFile file;
    if (!OpenBookFile(file, fileName)) return false;
    const quint64 size = static_cast<quint64>(file.size());
    const QByteArray itsf = file.read(0x60);
    if (itsf.size() < 0x58 || !itsf.startsWith("ITSF")) return false;
    const char* h = itsf.constData();
    const quint32 version = qFromLittleEndian<quint32>(h + 4);
    if (version != 2 && version != 3) return false;
    if (version == 3 && (itsf.size() < 0x60 || qFromLittleEndian<quint64>(h + 0x58) > size))
        return false;
    const quint64 directoryAt = qFromLittleEndian<quint64>(h + 0x48);
    const quint64 directoryLength = qFromLittleEndian<quint64>(h + 0x50);
    if (directoryAt > size || directoryLength > size - directoryAt || directoryLength < 0x54)
        return false;
    if (!file.seek(static_cast<qint64>(directoryAt))) return false;
    const QByteArray itsp = file.read(0x54);
    if (itsp.size() < 0x54 || !itsp.startsWith("ITSP")) return false;
    const char* d = itsp.constData();
    const quint32 chunkSize = qFromLittleEndian<quint32>(d + 0x10);
    const qint32 indexRoot = qFromLittleEndian<qint32>(d + 0x1c);
    const qint32 firstListing = qFromLittleEndian<qint32>(d + 0x20);
    const quint32 chunks = qFromLittleEndian<quint32>(d + 0x2c);
    // Directory chunks are 4 KiB in every book seen; 64 KiB leaves room.
    if (chunkSize < 0x20 || chunkSize > 0x10000 || chunks == 0 ||
        quint64(chunks) * chunkSize > directoryLength - 0x54)
        return false;
    if (indexRoot >= qint64(chunks) || firstListing < 0 || quint32(firstListing) >= chunks)
        return false;
    // chmlib walks the listing chunks by their "next" links until one says -1: a chain that
    // loops or leaves the directory would never end.
    const qint64 chunksAt = static_cast<qint64>(directoryAt) + 0x54;
    qint64 chunk = firstListing;
    for (quint32 step = 0; chunk >= 0; ++step) {
        if (step >= chunks || chunk >= qint64(chunks) ||
            !file.seek(chunksAt + chunk * qint64(chunkSize)))
            return false;
        const QByteArray listing = file.read(0x14);
        if (listing.size() < 0x14 || !listing.startsWith("PMGL") ||
            qFromLittleEndian<quint32>(listing.constData() + 4) > chunkSize - 0x14)
            return false;
        chunk = qFromLittleEndian<qint32>(listing.constData() + 0x10);
    }
    if (chunk != -1) return false;
    // Looking a name up descends from the index root through the index chunks' child links:
    // each must point below its own chunk (as the compilers lay them out), so no descent loops.
    for (quint32 i = 0; indexRoot >= 0 && i < chunks; ++i) {
        if (!file.seek(chunksAt + qint64(i) * chunkSize)) return false;
        const QByteArray index = file.read(chunkSize);
        if (index.size() < qsizetype(chunkSize)) return false;
        if (!index.startsWith("PMGI")) continue;
        const quint32 freeSpace = qFromLittleEndian<quint32>(index.constData() + 4);
        if (freeSpace > chunkSize - 8) return false;
        const auto* p = reinterpret_cast<const uchar*>(index.constData());
        qsizetype at = 8;
        const qsizetype end = qsizetype(chunkSize - freeSpace);
        auto number = [&](quint64& value) {
            value = 0;
            for (int n = 0; n < 9 && at < end; ++n) {
                const uchar byte = p[at++];
                value = (value << 7) | (byte & 0x7f);
                if (!(byte & 0x80)) return true;
            }
            return false;
        };
        while (at < end) {
            quint64 nameLength = 0, child = 0;
            if (!number(nameLength) || nameLength > quint64(end - at)) return false;
            at += qsizetype(nameLength);
            if (!number(child) || child >= i) return false;
        }
    }
    return true;
}

// Opens the book through chmlib when its headers hold.
chmFile* OpenChm(const char* fileName)
{
    return PlausibleHeaders(fileName) ? chm_open(fileName) : nullptr;
}

// The locale the file header names, for books whose "#SYSTEM" gives none.
quint32 HeaderLocale(const char* fileName)
{
    QFile file;
    if (!OpenBookFile(file, fileName)) return 0;
    const QByteArray head = file.read(0x18);
    if (head.size() < 0x18 || !head.startsWith("ITSF")) return 0;
    return qFromLittleEndian<quint32>(head.constData() + 0x14);
}

class TTextDecoder
{
public:
    explicit TTextDecoder(const char* codec) : FCodec(codec) {}
    // Texts are in the book's code page. Where that is a double-byte one it is trusted, as
    // short texts in it can pass for UTF-8; otherwise valid UTF-8 (some newer tools write it
    // whatever the locale) stays UTF-8. A book that names no code page is read as GB18030.
    QString operator()(const QByteArray& bytes) const
    {
        if (!IsDoubleByte()) {
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString text = utf8.decode(bytes);
            if (!utf8.hasError()) return text;
        }
        QStringDecoder decoder(FCodec ? FCodec : "GB18030");
        if (!decoder.isValid()) decoder = QStringDecoder("GB18030");
        return decoder.decode(bytes);
    }

private:
    bool IsDoubleByte() const
    {
        if (!FCodec) return false;
        for (const char* name : {"GB18030", "Big5", "Shift_JIS", "windows-949"})
            if (std::strcmp(FCodec, name) == 0) return true;
        return false;
    }

    const char* FCodec;
};

// Paths inside the book start at its root.
QByteArray RootPath(const QByteArray& path)
{
    return path.startsWith('/') ? path : '/' + path;
}

bool IsPicturePath(const QByteArray& path)
{
    const QByteArray lower = path.toLower();
    for (const char* suffix : {".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp"})
        if (lower.endsWith(suffix)) return true;
    return false;
}

// Finds the value of attribute `name` in the tag that starts at `from`; a linear scan.
QByteArray AttributeOf(const QByteArray& html, qsizetype from, qsizetype end, const char* name)
{
    const qsizetype nameLength = static_cast<qsizetype>(std::strlen(name));
    for (qsizetype at = from; at < end; ++at) {
        const char c = html[at];
        if (c == '"' || c == '\'') { // skip quoted values of other attributes
            const qsizetype close = html.indexOf(c, at + 1);
            if (close < 0 || close >= end) return {};
            at = close;
            continue;
        }
        if (at + nameLength >= end || qstrnicmp(html.constData() + at, name, nameLength) != 0 ||
            (at > from && !QChar::isSpace(static_cast<uchar>(html[at - 1]))))
            continue;
        qsizetype p = at + nameLength;
        while (p < end && QChar::isSpace(static_cast<uchar>(html[p])))
            ++p;
        if (p >= end || html[p] != '=') continue;
        ++p;
        while (p < end && QChar::isSpace(static_cast<uchar>(html[p])))
            ++p;
        if (p >= end) return {};
        if (html[p] == '"' || html[p] == '\'') {
            const qsizetype close = html.indexOf(html[p], p + 1);
            return close < 0 || close > end ? QByteArray() : html.mid(p + 1, close - p - 1);
        }
        qsizetype q = p;
        while (q < end && !QChar::isSpace(static_cast<uchar>(html[q])) && html[q] != '>')
            ++q;
        return html.mid(p, q - p);
    }
    return {};
}

// Where the tag that opens at `at` ends: after its '>', quoted values skipped (they may hold
// '<' and '>'); the end of the page when it never closes.
qsizetype TagEnd(const QByteArray& html, qsizetype at)
{
    if (html.mid(at, 4) == "<!--") {
        const qsizetype close = html.indexOf("-->", at + 4);
        return close < 0 ? html.size() : close + 3;
    }
    for (qsizetype p = at + 1; p < html.size(); ++p) {
        const char c = html[p];
        if (c == '>') return p + 1;
        if (c == '"' || c == '\'') {
            const qsizetype close = html.indexOf(c, p + 1);
            if (close < 0) return html.size();
            p = close;
        }
    }
    return html.size();
}

// The source of the first <img> of a page, as written; one pass over the tags.
QByteArray FirstImageSource(const QByteArray& html)
{
    for (qsizetype at = html.indexOf('<'); at >= 0;) {
        const qsizetype end = TagEnd(html, at);
        if (end - at > 5 && qstrnicmp(html.constData() + at + 1, "img", 3) == 0) {
            const char after = html[at + 4];
            if (QChar::isSpace(static_cast<uchar>(after)) || after == '/') {
                const QByteArray source = AttributeOf(html, at + 4, end, "src").trimmed();
                if (!source.isEmpty()) return source;
            }
        }
        at = html.indexOf('<', end);
    }
    return {};
}

// The text of a page's <title>, as bytes.
QByteArray PageTitle(const QByteArray& html)
{
    const QByteArray lower = html.toLower();
    const qsizetype open = lower.indexOf("<title");
    if (open < 0) return {};
    const qsizetype start = lower.indexOf('>', open);
    if (start < 0) return {};
    const qsizetype close = lower.indexOf("</title", start);
    return close < 0 ? QByteArray() : html.mid(start + 1, close - start - 1);
}

// A link of a page made into a path inside the book: relative to the page's folder, with
// "..", "." and percent escapes resolved. Links out of the book give nothing.
QByteArray ResolveLink(const QByteArray& page, QByteArray link)
{
    for (const char cut : {'#', '?'})
        if (const qsizetype at = link.indexOf(cut); at >= 0) link.truncate(at);
    link = QByteArray::fromPercentEncoding(link.replace('\\', '/'));
    if (link.isEmpty() || link.contains("://") || link.startsWith("mk:") ||
        link.startsWith("ms-its:"))
        return {};
    QList<QByteArray> parts;
    if (!link.startsWith('/')) {
        parts = page.split('/');
        parts.removeLast();
    }
    for (const QByteArray& part : link.split('/')) {
        if (part.isEmpty() || part == ".") continue;
        if (part == "..") {
            if (!parts.isEmpty()) parts.removeLast();
            continue;
        }
        parts << part;
    }
    QByteArray path;
    for (const QByteArray& part : parts)
        if (!part.isEmpty()) path += '/' + part;
    return path;
}

struct TCoverSearch
{
    TAbortQuery Abort = nullptr;
    int Seen = 0;
    QByteArray Best;
    int BestDepth = 0;
};

int FindNamedCover(chmFile*, chmUnitInfo* unit, void* context)
{
    auto* search = static_cast<TCoverSearch*>(context);
    if (++search->Seen > MaxEnumerated || Stopped(search->Abort)) return CHM_ENUMERATOR_SUCCESS;
    const QByteArray path(unit->path,
                          static_cast<qsizetype>(qstrnlen(unit->path, CHM_MAX_PATHLEN)));
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray base = path.mid(slash + 1).toLower();
    if (!base.startsWith("cover") || !IsPicturePath(base)) return CHM_ENUMERATOR_CONTINUE;
    const int depth = static_cast<int>(path.count('/'));
    if (search->Best.isEmpty() || depth < search->BestDepth) {
        search->Best = path;
        search->BestDepth = depth;
    }
    return CHM_ENUMERATOR_CONTINUE;
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    const TChmHandle file(OpenChm(fileName));
    if (!file) return 0;
    const TSystem system = ReadSystem(file.get());
    const quint32 locale = system.Locale ? system.Locale : HeaderLocale(fileName);
    const char* codec = CodecOfLocale(locale);
    if (!codec && system.FontCharset >= 0) codec = CodecOfCharset(system.FontCharset);
    const TTextDecoder decode(codec);

    QString title = decode(system.Title).simplified();
    if (title.isEmpty() && !system.DefaultTopic.isEmpty() && !Stopped(abort)) {
        QByteArray page;
        if (ReadObject(file.get(), RootPath(system.DefaultTopic), MaxTopicSize, page))
            title = PlainTextFromHtml(decode(PageTitle(page))).simplified();
    }
    if (Stopped(abort)) return 0;
    if (title.isEmpty()) title = BookBaseName(fileName);

    TBookInfo out = *info;
    PutText(&out, biTitle, title);
    PutText(&out, biLanguage, LanguageOfLocale(locale));
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    const TChmHandle file(OpenChm(fileName));
    if (!file) return 0;

    TCoverSearch search;
    search.Abort = abort;
    chm_enumerate(file.get(), CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, FindNamedCover, &search);
    if (Stopped(abort)) return 0;
    QByteArray coverPath = search.Best;
    if (coverPath.isEmpty()) {
        const QByteArray topic = RootPath(ReadSystem(file.get()).DefaultTopic);
        QByteArray page;
        if (topic.size() > 1 && ReadObject(file.get(), topic, MaxTopicSize, page))
            coverPath = ResolveLink(topic, FirstImageSource(page));
    }
    QByteArray bytes;
    if (coverPath.isEmpty() || Stopped(abort) ||
        !ReadObject(file.get(), coverPath, MaxPartSize, bytes))
        return 0;
    return PutThumbnail(thumbnail, DecodeScaled(bytes, WantedSize(thumbnail))) ? 1 : 0;
}
