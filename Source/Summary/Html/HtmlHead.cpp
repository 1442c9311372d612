#include "HtmlHead.h"

#include "SummaryCommon.h"

#include <QStringDecoder>

#include <optional>

namespace Summary {

namespace {

// A tag's attributes are few; a tag with thousands is hostile and the rest are ignored.
constexpr qsizetype MaxAttributes = 64;
// Longest title kept: the record holds 255 bytes of it.
constexpr qsizetype MaxTitle = 4096;

// White space as HTML knows it: ASCII only. (The scan may run over bytes widened one to one,
// where a byte of a multi-byte character can look like Latin-1's no-break space.)
bool IsHtmlSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n' || u == u'\r' || u == u'\f';
}

bool IsAsciiLetter(QChar c)
{
    const char16_t u = c.unicode() | 0x20;
    return u >= u'a' && u <= u'z';
}

struct TTag
{
    QStringView Name;
    QList<std::pair<QStringView, QStringView>> Attributes;
    qsizetype End = 0; // just after the tag's '>', or the end of the text
    bool SelfClosed = false;
};

// Reads the tag that starts with the '<' at `at`. A quoted value may hold '>'; a quote that
// never closes runs to the end of the text, as it does for a browser.
TTag ReadTag(QStringView s, qsizetype at)
{
    TTag tag;
    const qsizetype n = s.size();
    qsizetype i = at + 1;
    while (i < n && !IsHtmlSpace(s[i]) && s[i] != u'>' && s[i] != u'/')
        ++i;
    tag.Name = s.mid(at + 1, i - at - 1);
    for (;;) {
        while (i < n && (IsHtmlSpace(s[i]) || s[i] == u'/'))
            ++i;
        if (i >= n) break;
        if (s[i] == u'>') {
            tag.SelfClosed = s[i - 1] == u'/';
            ++i;
            break;
        }
        const qsizetype start = i;
        ++i; // a name may begin with '=', and every round moves on
        while (i < n && !IsHtmlSpace(s[i]) && s[i] != u'>' && s[i] != u'/' && s[i] != u'=')
            ++i;
        const QStringView name = s.mid(start, i - start);
        while (i < n && IsHtmlSpace(s[i]))
            ++i;
        QStringView value;
        if (i < n && s[i] == u'=') {
            ++i;
            while (i < n && IsHtmlSpace(s[i]))
                ++i;
            if (i < n && (s[i] == u'"' || s[i] == u'\'')) {
                const qsizetype close = s.indexOf(s[i], i + 1);
                const qsizetype end = close < 0 ? n : close;
                value = s.mid(i + 1, end - i - 1);
                i = close < 0 ? n : close + 1;
            } else {
                const qsizetype v = i;
                while (i < n && !IsHtmlSpace(s[i]) && s[i] != u'>')
                    ++i;
                value = s.mid(v, i - v);
            }
        }
        if (tag.Attributes.size() < MaxAttributes) tag.Attributes.append({name, value});
    }
    tag.End = i;
    return tag;
}

QStringView Attribute(const TTag& tag, QLatin1String name)
{
    for (const auto& [key, value] : tag.Attributes)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return {};
}

bool Has(const TTag& tag, QLatin1String name)
{
    for (const auto& attribute : tag.Attributes)
        if (attribute.first.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// Character references decoded, nothing else: attribute values and titles hold no tags.
QString DecodeText(QStringView text)
{
    QString escaped = text.toString();
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    return PlainTextFromHtml(escaped);
}

// "text/html; charset=gbk" -> "gbk".
QString CharsetOfContentType(QStringView content)
{
    const qsizetype at = content.indexOf(QLatin1String("charset"), 0, Qt::CaseInsensitive);
    if (at < 0) return {};
    qsizetype i = at + 7;
    while (i < content.size() && (IsHtmlSpace(content[i]) || content[i] == u'=' ||
                                  content[i] == u'"' || content[i] == u'\''))
        ++i;
    const qsizetype start = i;
    while (i < content.size() && !IsHtmlSpace(content[i]) && content[i] != u';' &&
           content[i] != u'"' && content[i] != u'\'')
        ++i;
    return content.mid(start, i - start).toString();
}

bool IsRawText(QStringView name)
{
    return name.compare(QLatin1String("script"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("style"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("textarea"), Qt::CaseInsensitive) == 0;
}

// The name an encoder knows a declared charset by, following what browsers make of the usual
// labels; "" for a label that names nothing usable.
QByteArray CanonicalCharset(const QString& label)
{
    const QString name = label.trimmed().toLower();
    if (name.isEmpty() || name.size() > 40) return {};
    for (const QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_' && c != u'.' &&
            c != u':')
            return {};
    static const QStringList gbk = {"gb2312",   "gbk",     "gb_2312-80",  "x-gbk",
                                    "cp936",    "ms936",   "windows-936", "euc-cn",
                                    "csgb2312", "chinese", "iso-ir-58",   "gb18030"};
    static const QStringList western = {"iso-8859-1", "iso8859-1", "latin1", "l1",
                                        "us-ascii",   "ascii",     "cp1252", "windows-1252"};
    if (name == QLatin1String("utf-8") || name == QLatin1String("utf8")) return "UTF-8";
    // A page whose declaration could be read as ASCII is not UTF-16, whatever it says.
    if (name.startsWith(QLatin1String("utf-16")) || name == QLatin1String("unicode"))
        return "UTF-8";
    if (gbk.contains(name)) return "GB18030";
    if (western.contains(name)) return "windows-1252";
    return name.toLatin1();
}

// How the values a scan keeps become text: as they stand, or, when the markup was scanned in
// the page's bytes widened one to one, decoded from those bytes in the page's encoding.
struct TRecode
{
    QByteArray Codec; // empty: the text is decoded already
    // Made once per page (opening a converter by name is not free) and reset for each value.
    mutable std::optional<QStringDecoder> Decoder;

    QString operator()(QStringView value) const
    {
        if (Codec.isEmpty()) return value.toString();
        if (Decoder)
            Decoder->resetState();
        else
            Decoder.emplace(Codec.constData());
        return (*Decoder)(value.toLatin1());
    }
};

THtmlHead Scan(QStringView s, TAbortQuery abort, bool charsetOnly, const TRecode& text)
{
    THtmlHead head;
    const qsizetype n = s.size();
    bool inBody = false;
    bool titleSeen = false;
    int tags = 0;
    qsizetype i = 0;
    while (i < n) {
        const qsizetype lt = s.indexOf(u'<', i);
        if (lt < 0 || lt + 1 >= n) break;
        if ((++tags & 1023) == 0 && Stopped(abort)) break;
        const QStringView rest = s.mid(lt);
        const QChar next = s[lt + 1];
        if (rest.startsWith(QLatin1String("<!--"))) {
            const qsizetype end = s.indexOf(QLatin1String("-->"), lt + 4);
            if (end < 0) break;
            i = end + 3;
            continue;
        }
        if (rest.startsWith(QLatin1String("<![CDATA["))) {
            const qsizetype end = s.indexOf(QLatin1String("]]>"), lt + 9);
            if (end < 0) break;
            i = end + 3;
            continue;
        }
        if (rest.startsWith(QLatin1String("<?xml"), Qt::CaseInsensitive)) {
            const TTag declaration = ReadTag(s, lt);
            if (head.Charset.isEmpty())
                head.Charset = Attribute(declaration, QLatin1String("encoding")).toString();
            i = declaration.End;
            continue;
        }
        if (next == u'!' || next == u'?' || next == u'/') {
            const qsizetype end = s.indexOf(u'>', lt + 2);
            if (end < 0) break;
            i = end + 1;
            continue;
        }
        if (!IsAsciiLetter(next)) {
            i = lt + 1;
            continue;
        }
        const TTag tag = ReadTag(s, lt);
        i = tag.End;
        QStringView name = tag.Name;
        name = name.mid(name.lastIndexOf(u':') + 1); // "html:meta" in some XHTML
        auto is = [&](const char* word) {
            return name.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
        };
        if (is("meta")) {
            if (head.Charset.isEmpty()) {
                if (Has(tag, QLatin1String("charset")))
                    head.Charset = Attribute(tag, QLatin1String("charset")).toString();
                else if (Attribute(tag, QLatin1String("http-equiv"))
                             .compare(QLatin1String("content-type"), Qt::CaseInsensitive) == 0)
                    head.Charset = CharsetOfContentType(Attribute(tag, QLatin1String("content")));
            }
            if (charsetOnly && !head.Charset.isEmpty()) break;
            QStringView key = Attribute(tag, QLatin1String("name"));
            if (key.isEmpty()) key = Attribute(tag, QLatin1String("property"));
            if (!charsetOnly && !key.isEmpty())
                head.Metas.append({text(key).trimmed(),
                                   DecodeText(text(Attribute(tag, QLatin1String("content"))))});
        } else if (is("body")) {
            inBody = true;
            if (charsetOnly) break;
        } else if (charsetOnly) {
            // only the declaration matters
        } else if (is("title") && !titleSeen && !inBody) {
            titleSeen = true;
            if (tag.SelfClosed) continue;
            const qsizetype end = s.indexOf(QLatin1String("</title"), i, Qt::CaseInsensitive);
            const qsizetype stop = end < 0 ? n : end;
            head.Title = DecodeText(text(s.mid(i, qMin(stop - i, MaxTitle))));
            i = stop;
        } else if (is("html")) {
            QStringView language = Attribute(tag, QLatin1String("lang"));
            if (language.isEmpty()) language = Attribute(tag, QLatin1String("xml:lang"));
            head.Language = text(language).trimmed();
        } else if (is("img")) {
            const QString source = text(Attribute(tag, QLatin1String("src"))).trimmed();
            if (!source.isEmpty() && head.Images.size() < MaxHtmlImages)
                head.Images << DecodeText(source);
        }
        if (IsRawText(name) && !tag.SelfClosed) {
            // Script and style text is no markup: a "<title>" inside a script names nothing.
            const QString close = QLatin1String("</") + name.toString();
            const qsizetype end = s.indexOf(close, i, Qt::CaseInsensitive);
            if (end < 0) break;
            i = end;
        }
    }
    return head;
}

// How a page's bytes are to be decoded.
struct TPageEncoding
{
    QByteArray Codec;   // a name QStringDecoder knows
    qsizetype Skip = 0; // a byte order mark
    bool Wide = false;  // UTF-16: the markup itself is no ASCII
};

// Valid UTF-8, allowing a character cut by the end of the bytes read.
bool IsUtf8(QByteArrayView bytes)
{
    const qsizetype n = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= n; ++back) {
        const uchar c = uchar(bytes[n - back]);
        if ((c & 0xC0) != 0x80) {
            const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > back) bytes = bytes.first(n - back);
            break;
        }
    }
    return bytes.isValidUtf8();
}

TPageEncoding EncodingOf(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return {"UTF-8", 3, false};
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return {"UTF-16LE", 2, true};
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return {"UTF-16BE", 2, true};
    // UTF-16 without a mark still begins with markup: '<' and a zero byte.
    if (n >= 2 && p[0] == '<' && p[1] == 0) return {"UTF-16LE", 0, true};
    if (n >= 2 && p[0] == 0 && p[1] == '<') return {"UTF-16BE", 0, true};

    const QString ascii = QString::fromLatin1(bytes.first(qMin<qsizetype>(n, 64 * 1024)));
    const QByteArray declared =
        CanonicalCharset(Scan(ascii, nullptr, true, TRecode()).Charset);
    if (!declared.isEmpty() && declared != "UTF-8" && QStringDecoder(declared.constData()).isValid())
        return {declared, 0, false};
    // Declared UTF-8 or nothing: bytes that are no UTF-8 prove a declaration wrong too (pages
    // saved in GBK by editors that kept a UTF-8 header).
    return {IsUtf8(bytes) ? QByteArray("UTF-8") : QByteArray("GB18030"), 0, false};
}

} // namespace

THtmlHead ScanHtml(QStringView text, TAbortQuery abort, bool charsetOnly)
{
    return Scan(text, abort, charsetOnly, TRecode());
}

QString DecodeHtml(QByteArrayView bytes)
{
    const TPageEncoding encoding = EncodingOf(bytes);
    QStringDecoder decoder(encoding.Codec.constData());
    return decoder(bytes.sliced(encoding.Skip));
}

THtmlHead ReadHtmlHead(QByteArrayView bytes, TAbortQuery abort)
{
    const TPageEncoding encoding = EncodingOf(bytes);
    if (encoding.Wide) return ScanHtml(DecodeHtml(bytes), abort);
    // In every other encoding a page is written in, the markup is ASCII and no byte of a
    // multi-byte character is one of the bytes markup is made of ('<', '>', '=', quotes, white
    // space). So the markup is scanned in the bytes widened one to one, which costs little,
    // and only the values kept are decoded; decoding a whole page cost more than the scan.
    const QString widened = QString::fromLatin1(bytes.sliced(encoding.Skip));
    return Scan(widened, abort, false, TRecode{encoding.Codec});
}

THtmlFacts FactsOf(const THtmlHead& head)
{
    THtmlFacts facts;
    QStringList plainAuthors;
    QString plainDescription, plainSubject;
    auto keep = [](QString& field, const QString& value) {
        if (field.isEmpty()) field = value;
    };
    for (const auto& [rawName, content] : head.Metas) {
        const QString value = content.trimmed();
        if (value.isEmpty()) continue;
        QString key = rawName.toLower();
        // "DC.title", "dc:title", "DCTERMS.modified", "DC.date.modified".
        const qsizetype dot = key.indexOf(u'.'), colon = key.indexOf(u':');
        const qsizetype cut = dot < 0 ? colon : colon < 0 ? dot : qMin(dot, colon);
        const QString scheme = cut > 0 ? key.left(cut) : QString();
        if (scheme.isEmpty()) {
            if (key == QLatin1String("author"))
                plainAuthors << value;
            else if (key == QLatin1String("description"))
                keep(plainDescription, value);
            else if (key == QLatin1String("keywords"))
                keep(facts.Keywords, value);
            else if (key == QLatin1String("subject"))
                keep(plainSubject, value);
            continue;
        }
        if (scheme != QLatin1String("dc") && scheme != QLatin1String("dcterms")) continue;
        const QStringList parts = key.mid(cut + 1).split(QLatin1Char('.'));
        const QString element = parts.value(0), refinement = parts.value(1);
        if (element == QLatin1String("title")) {
            keep(facts.Title, value);
        } else if (element == QLatin1String("creator")) {
            facts.Authors << value;
        } else if (element == QLatin1String("publisher")) {
            keep(facts.Publisher, value);
        } else if (element == QLatin1String("subject")) {
            facts.Subjects << value;
        } else if (element == QLatin1String("description") ||
                   element == QLatin1String("abstract")) {
            keep(facts.Description, value);
        } else if (element == QLatin1String("modified") ||
                   (element == QLatin1String("date") && refinement == QLatin1String("modified"))) {
            keep(facts.Modified, value);
        } else if (element == QLatin1String("date") || element == QLatin1String("created") ||
                   element == QLatin1String("issued")) {
            keep(facts.Created, value);
        } else if (element == QLatin1String("language")) {
            keep(facts.Language, value);
        } else if (element == QLatin1String("identifier")) {
            keep(facts.Identifier, value);
        }
    }
    keep(facts.Title, head.Title.simplified());
    if (facts.Authors.isEmpty()) facts.Authors = plainAuthors;
    keep(facts.Description, plainDescription);
    if (facts.Subjects.isEmpty() && !plainSubject.isEmpty()) facts.Subjects << plainSubject;
    keep(facts.Language, head.Language);
    return facts;
}

QString BookDate(const QString& text)
{
    const QString date = NormalizeDate(text);
    bool isYear = false;
    const int year = date.left(4).toInt(&isYear);
    if (isYear && date.size() >= 4 && year < 1000) return {};
    return date;
}

} // namespace Summary
