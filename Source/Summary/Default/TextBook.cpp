#include "TextBook.h"

#include "SummaryCommon.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <vector>

#include <optional>

namespace Summary {

namespace {

// True when `head` is well-formed UTF-8; a sequence cut by the end of a partial read is fine.
bool IsUtf8(QByteArrayView head, bool wholeFile)
{
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    const qsizetype n = head.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        char32_t min;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= n) {
            // Cut by the end of the sample: accept when the bytes so far fit.
            if (wholeFile) return false;
            for (qsizetype k = i + 1; k < n; ++k)
                if ((p[k] & 0xC0) != 0x80) return false;
            return true;
        }
        char32_t code = c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// True when the code unit is likely in Chinese text: ideographs, CJK and full-width
// punctuation, symbols, kana and bopomofo, Latin text and line breaks. Text in a one- or two-byte
// encoding read as UTF-16 lands mostly elsewhere (Hangul, Yi, private use, surrogates, control
// characters).
bool IsPlausibleUnit(char16_t c, bool& ideograph)
{
    ideograph = (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF);
    return ideograph || (c >= 0x20 && c <= 0x7E) || c == 0x0A || c == 0x0D || c == 0x09 ||
           (c >= 0xA0 && c <= 0xFF) || (c >= 0x2000 && c <= 0x2BFF) ||
           (c >= 0x2E80 && c <= 0x33FF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF);
}

// UTF-16 without a byte order mark and with few zero bytes, as Chinese text is: nearly every
// unit plausible and a good share of ideographs read one way, clearly fewer read the other.
// Returns the byte order, or nothing.
std::optional<TTextEncoding> ChineseUtf16(const unsigned char* p, qsizetype n)
{
    const qsizetype units = n / 2;
    if (units < 4) return {};
    qsizetype plausible[2] = {}, ideographs[2] = {};
    for (qsizetype i = 0; i < units; ++i) {
        const unsigned char a = p[2 * i], b = p[2 * i + 1];
        bool ideograph = false;
        // [0]: little-endian, [1]: big-endian
        plausible[0] += IsPlausibleUnit(char16_t(a | b << 8), ideograph);
        ideographs[0] += ideograph;
        plausible[1] += IsPlausibleUnit(char16_t(a << 8 | b), ideograph);
        ideographs[1] += ideograph;
    }
    for (int order : {0, 1}) {
        const int other = 1 - order;
        if (plausible[order] * 100 >= units * 95 && ideographs[order] * 10 >= units * 3 &&
            plausible[other] * 100 < units * 80)
            return order == 0 ? TTextEncoding::Utf16LE : TTextEncoding::Utf16BE;
    }
    return {};
}

// Big5 or GB18030 for text that is not UTF-8. Both write Chinese as two bytes with the high bit
// set in the first, so the pairs are scored by where each encoding keeps its common characters:
// Big5's frequent characters and punctuation have leading bytes A1-C6 and trailing bytes
// 40-7E or A1-FE; GB2312's (inside GB18030) have leading bytes A1-A9 and B0-D7 and trailing
// bytes A1-FE only. Text of either kind read the other way lands half in rare characters.
TTextEncoding Big5OrGb18030(const unsigned char* p, qsizetype n)
{
    qsizetype big5 = 0, gb = 0;
    for (qsizetype i = 0; i + 1 < n;) {
        const unsigned char lead = p[i], trail = p[i + 1];
        if (lead < 0x81) {
            ++i;
            continue;
        }
        if (trail >= 0x30 && trail <= 0x39) {
            // A four-byte GB18030 sequence; Big5 has no such trailing byte.
            gb += 2;
            i += 4;
            continue;
        }
        const bool highTrail = trail >= 0xA1 && trail <= 0xFE;
        const bool lowTrail = trail >= 0x40 && trail <= 0x7E;
        if (lead >= 0xA1 && lead <= 0xC6 && (highTrail || lowTrail)) ++big5;
        if (((lead >= 0xA1 && lead <= 0xA9) || (lead >= 0xB0 && lead <= 0xD7)) && highTrail) ++gb;
        // A pair Big5 cannot hold at all (GBK's extensions) speaks loudly for GB18030.
        if (lead < 0xA1 || lead > 0xF9 || !(highTrail || lowTrail)) gb += 2;
        i += 2;
    }
    return big5 > gb ? TTextEncoding::Big5 : TTextEncoding::Gb18030;
}

bool IsCjk(char32_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3FFFF);
}

// A title or author line near the top of the book: "书名：..." (or "書名：..."), "Title: ...", or
// a first line that is just "《...》".
void FindTitleLines(const QString& top, TTextFacts& facts)
{
    static const QRegularExpression titleLine(
        QStringLiteral("^\\s*(?:[书書]\\s*名|[标標]\\s*[题題]|title)\\s*[:：]\\s*(.+?)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression authorLine(
        QStringLiteral("^\\s*(?:作\\s*者|著\\s*者|author)\\s*[:：]\\s*(.+?)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression bracketed(QStringLiteral("^\\s*《([^《》]{1,100})》\\s*$"));
    int seen = 0;
    for (const QString& raw : top.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) continue;
        if (++seen > 8) break;
        QRegularExpressionMatch m;
        if (facts.Title.isEmpty() && (m = titleLine.match(line)).hasMatch())
            facts.Title = m.captured(1);
        else if (facts.Author.isEmpty() && (m = authorLine.match(line)).hasMatch())
            facts.Author = m.captured(1);
        else if (seen == 1 && facts.Title.isEmpty() && (m = bracketed.match(line)).hasMatch())
            facts.Title = m.captured(1);
    }
}

} // namespace

TTextEncoding DetectTextEncoding(QByteArrayView head, bool wholeFile)
{
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    const qsizetype n = head.size();
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return TTextEncoding::Utf8Bom;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return TTextEncoding::Utf16LE;
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return TTextEncoding::Utf16BE;
    if (n >= 4) {
        qsizetype evenZeros = 0, oddZeros = 0;
        for (qsizetype i = 0; i + 1 < n; i += 2) {
            evenZeros += p[i] == 0;
            oddZeros += p[i + 1] == 0;
        }
        const qsizetype pairs = n / 2;
        if (oddZeros * 10 > pairs * 3 && evenZeros * 20 < pairs) return TTextEncoding::Utf16LE;
        if (evenZeros * 10 > pairs * 3 && oddZeros * 20 < pairs) return TTextEncoding::Utf16BE;
    }
    if (IsUtf8(head, wholeFile)) return TTextEncoding::Utf8;
    if (const std::optional<TTextEncoding> utf16 = ChineseUtf16(p, n)) return *utf16;
    return Big5OrGb18030(p, n);
}

const char* EncodingName(TTextEncoding encoding)
{
    switch (encoding) {
    case TTextEncoding::Utf8:
        return "UTF-8";
    case TTextEncoding::Utf8Bom:
        return "UTF-8 BOM";
    case TTextEncoding::Utf16LE:
        return "UTF-16LE";
    case TTextEncoding::Utf16BE:
        return "UTF-16BE";
    case TTextEncoding::Gb18030:
        return "GB18030";
    case TTextEncoding::Big5:
        return "Big5";
    }
    return "";
}

namespace {

// What a character does to the counts.
enum TCharClass : quint8 {
    ccSeparator, // white space, control characters, the byte order mark: ends a word
    ccOther,     // counted, ends a word (punctuation, symbols)
    ccCjk,       // counted, a word by itself
    ccWord,      // counted, part of a word
};

TCharClass ClassOf(char32_t c)
{
    if (c == 0xFEFF || QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control)
        return ccSeparator;
    if (!QChar::isLetterOrNumber(c)) return ccOther;
    return IsCjk(c) ? ccCjk : ccWord;
}

// The class of every character of the basic plane, made once: a lookup per character instead
// of three walks through the Unicode tables. (Surrogates are taken apart before it is used.)
const TCharClass* BasicPlaneClasses()
{
    static const std::vector<TCharClass> table = [] {
        std::vector<TCharClass> classes(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c)
            classes[c] = ClassOf(c);
        return classes;
    }();
    return table.data();
}

// The counts of one piece, in locals the compiler keeps in registers (members it cannot,
// while it writes through pointers of the text's own type).
struct TTally
{
    const TCharClass* Basic = BasicPlaneClasses();
    qint64 Characters = 0;
    qint64 Words = 0;
    bool InWord = false;

    // Without branches: mixed Chinese and Latin text defeats any prediction of the class.
    void Count(char32_t c)
    {
        const TCharClass k = c < 0x10000 ? Basic[c] : ClassOf(c);
        Characters += k != ccSeparator;
        Words += (k == ccCjk) | ((k == ccWord) & !InWord);
        InWord = k == ccWord;
    }
};

} // namespace

void TTextCounter::Add(const QString& text)
{
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    TTally tally;
    tally.InWord = FInWord;
    char16_t high = FHighSurrogate;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = p[i];
        if (high) {
            if (QChar::isLowSurrogate(c)) c = QChar::surrogateToUcs4(high, c);
            high = 0;
        } else if (QChar::isHighSurrogate(c)) {
            high = static_cast<char16_t>(c);
            continue;
        }
        tally.Count(c);
    }
    FCharacters += tally.Characters;
    FWords += tally.Words;
    FInWord = tally.InWord;
    FHighSurrogate = high;
}

void TTextCounter::AddUtf8(QByteArrayView bytes)
{
    QByteArray joined;
    if (!FPending.isEmpty()) {
        joined = FPending;
        joined.append(bytes.data(), bytes.size());
        FPending.clear();
        bytes = joined;
    }
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    TTally tally;
    tally.InWord = FInWord;
    qsizetype i = 0;
    while (i < n) {
        const uchar lead = p[i];
        char32_t c = lead;
        qsizetype length = 1;
        if (lead >= 0x80) {
            char32_t minimum = 0;
            if (lead >= 0xC2 && lead < 0xE0) {
                length = 2, c = lead & 0x1F, minimum = 0x80;
            } else if (lead >= 0xE0 && lead < 0xF0) {
                length = 3, c = lead & 0x0F, minimum = 0x800;
            } else if (lead >= 0xF0 && lead < 0xF5) {
                length = 4, c = lead & 0x07, minimum = 0x10000;
            } else {
                length = 0;
            }
            if (length > 0 && i + length > n) {
                // Cut by the end of the piece: unless the bytes so far are no start of a
                // character, the next piece completes it.
                bool continues = true;
                for (qsizetype k = i + 1; k < n; ++k)
                    continues = continues && (p[k] & 0xC0) == 0x80;
                if (continues) {
                    FPending = QByteArray(reinterpret_cast<const char*>(p + i), n - i);
                    break;
                }
                length = 0;
            }
            for (qsizetype k = 1; k < length; ++k) {
                if ((p[i + k] & 0xC0) != 0x80) {
                    length = 0;
                    break;
                }
                c = (c << 6) | (p[i + k] & 0x3F);
            }
            if (length == 0 || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                c = 0xFFFD;
                length = 1;
            }
        }
        i += length;
        tally.Count(c);
    }
    FCharacters += tally.Characters;
    FWords += tally.Words;
    FInWord = tally.InWord;
}

void TTextCounter::Finish()
{
    // A character the file never completed: each of its bytes is a replacement character.
    FCharacters += FPending.size();
    if (!FPending.isEmpty()) FInWord = false;
    FPending.clear();
}

bool ReadTextBook(const char* fileName, TTextFacts& facts, TAbortQuery abort)
{
    QFile file;
    if (!OpenBookFile(file, fileName)) return false;
    const qint64 size = file.size();
    constexpr qint64 chunkSize = 1024 * 1024;
    QByteArray chunk = file.read(chunkSize);
    if (chunk.isNull() && size > 0) return false;
    facts.Encoding =
        DetectTextEncoding(QByteArrayView(chunk).first(qMin<qsizetype>(chunk.size(), 64 * 1024)),
                           chunk.size() == size && chunk.size() <= 64 * 1024);
    const bool utf8 =
        facts.Encoding == TTextEncoding::Utf8 || facts.Encoding == TTextEncoding::Utf8Bom;
    const char* codec = utf8 ? "UTF-8" : EncodingName(facts.Encoding);
    QStringDecoder decoder(codec);
    // UTF-8, the usual case, is counted in its bytes; only the top is made text, for the
    // title lines (4096 characters are at most 16 KiB of it).
    QString text = decoder(utf8 ? QByteArrayView(chunk).first(qMin<qsizetype>(chunk.size(), 16384))
                                : QByteArrayView(chunk));
    FindTitleLines(text.left(4096), facts);

    facts.Counted = size <= MaxCountedTextSize;
    if (!facts.Counted) return true;
    TTextCounter counter;
    for (;;) {
        if (utf8)
            counter.AddUtf8(chunk);
        else
            counter.Add(text);
        if (Stopped(abort)) return false;
        chunk = file.read(chunkSize);
        if (chunk.isEmpty()) break;
        if (!utf8) text = decoder(chunk);
    }
    counter.Finish();
    facts.Characters = counter.Characters();
    facts.Words = counter.Words();
    return true;
}

} // namespace Summary
