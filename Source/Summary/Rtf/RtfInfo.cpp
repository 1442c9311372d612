// Rich Text Format: the document information group and the first JPEG or PNG picture as the
// cover. One pass over the head of the file with a small stack of group states: no patterns,
// no recursion, and a depth past which nested groups are stepped over unread, so a hostile
// file costs no more than the bytes read.
#include "SummaryCommon.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <optional>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

// The information group sits in the header; a picture worth a cover is near the start too.
constexpr qint64 InfoHead = 4 * 1024 * 1024;
constexpr qint64 PictureHead = 8 * 1024 * 1024;
constexpr qsizetype MaxDepth = 256;
// A block holds 255 bytes; keeping more of a field only costs memory.
constexpr qsizetype MaxFieldLength = 4096;
constexpr qsizetype MaxPictureBytes = 16 * 1024 * 1024;
// Control words are at most 32 letters; parameters are 16- or 32-bit numbers.
constexpr int MaxWordLength = 32;
constexpr int MaxParamDigits = 10;

enum TField
{
    fTitle,
    fSubject,
    fAuthor,
    fOperator,
    fKeywords,
    fComment,
    fCategory,
    fCompany,
    FieldCount
};

enum class TDest : quint8
{
    None, // header tables, document text: read for structure only
    Skip, // an ignorable destination we do not know
    Info,
    Field,   // one of TField, in TGroup::Field
    Created, // \creatim
    Revised, // \revtim
    Picture
};

enum class TBlip : quint8
{
    Unknown,
    Jpeg,
    Png,
    Other // metafiles and device bitmaps, which the image decoders cannot show
};

struct TDate
{
    int Year = 0, Month = 0, Day = 0, Hour = -1, Minute = -1;

    QString Text() const
    {
        if (Year < 1 || Year > 9999) return {};
        QString text = QString::number(Year).rightJustified(4, u'0');
        if (Month < 1 || Month > 12) return text;
        text += QStringLiteral("-%1").arg(Month, 2, 10, QLatin1Char('0'));
        if (Day < 1 || Day > 31) return text;
        text += QStringLiteral("-%1").arg(Day, 2, 10, QLatin1Char('0'));
        if (Hour < 0 || Hour > 23) return text;
        const int minute = Minute >= 0 && Minute <= 59 ? Minute : 0;
        return text + QStringLiteral(" %1:%2")
                          .arg(Hour, 2, 10, QLatin1Char('0'))
                          .arg(minute, 2, 10, QLatin1Char('0'));
    }
};

struct TRtf
{
    QString Fields[FieldCount];
    TDate Created, Revised;
    qint64 Pages = -1, Words = -1, Chars = -1, Version = -1, WriterVersion = -1;
    QByteArray Picture; // the first JPEG or PNG
};

struct TGroup
{
    TDest Dest = TDest::None;
    quint8 Field = 0;
    bool Unicode = false; // inside \ud: the Unicode twin of the \upr text before it
    int SkipCount = 1;    // \ucN
};

// The name Qt (through ICU) knows a Windows code page by; empty for pages it has no name for.
QByteArray CodecName(qint64 codePage)
{
    switch (codePage) {
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 866:
        return "IBM866";
    case 874:
        return "windows-874";
    case 932:
        return "Shift_JIS";
    case 936:
        return "GB18030"; // a superset of GBK with the same bytes
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 10000:
        return "macintosh";
    case 65001:
        return "UTF-8";
    default:
        break;
    }
    if (codePage >= 1250 && codePage <= 1258) return "windows-" + QByteArray::number(codePage);
    return {};
}

QStringDecoder DecoderFor(qint64 codePage)
{
    const QByteArray name = CodecName(codePage);
    if (!name.isEmpty()) {
        QStringDecoder decoder(name.constData(), QStringConverter::Flag::Stateless);
        if (decoder.isValid()) return decoder;
    }
    return QStringDecoder("windows-1252", QStringConverter::Flag::Stateless);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Unpaired halves of surrogate pairs (a \u whose partner was lost) become replacement marks.
QString RepairSurrogates(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

class TScanner
{
public:
    enum class TMode
    {
        Info,   // stops when the information group closes
        Picture // stops at the end of the first JPEG or PNG picture
    };

    TScanner(const QByteArray& bytes, TMode mode, TRtf& out, TAbortQuery abort)
        : FBytes(bytes), FMode(mode), FOut(out), FAbort(abort), FDecoder(DecoderFor(1252))
    {
        FStack.reserve(MaxDepth);
    }

    // False when the caller asked to stop.
    bool Run()
    {
        const qsizetype end = FBytes.size();
        quint32 steps = 0;
        while (FPos < end && !FDone) {
            if ((++steps & 0xFFFF) == 0 && Stopped(FAbort)) return false;
            const char c = FBytes[FPos];
            switch (c) {
            case '{':
                ++FPos;
                OpenGroup();
                break;
            case '}':
                ++FPos;
                CloseGroup();
                break;
            case '\\':
                ControlWord();
                break;
            case '\r':
            case '\n':
                ++FPos; // line breaks in the file are not text
                break;
            default:
                if (FOverflow == 0 && FSkip == 0 && Dest() == TDest::Picture) {
                    // A picture's hex digits, most of a document with a cover: one tight loop
                    // up to the next control word or group.
                    FGroupStart = false;
                    const char* bytes = FBytes.constData();
                    qsizetype stop = FPos;
                    while (stop < end && bytes[stop] != '{' && bytes[stop] != '}' &&
                           bytes[stop] != '\\')
                        ++stop;
                    PictureDigits(QByteArrayView(bytes + FPos, stop - FPos));
                    FPos = stop;
                    if (Stopped(FAbort)) return false;
                    break;
                }
                ++FPos;
                FGroupStart = false;
                if (FOverflow > 0) break;
                if (FSkip > 0) {
                    --FSkip;
                    break;
                }
                Byte(c);
                break;
            }
        }
        Flush();
        return true;
    }

private:
    TGroup* Top() { return FStack.isEmpty() ? nullptr : &FStack.last(); }
    TDest Dest() const { return FStack.isEmpty() ? TDest::None : FStack.last().Dest; }

    void OpenGroup()
    {
        Flush();
        FSkip = 0; // the fallback text of a \u ends with its group
        if (FOverflow > 0 || FStack.size() >= MaxDepth) {
            ++FOverflow;
            return;
        }
        TGroup group = FStack.isEmpty() ? TGroup() : FStack.last();
        // Groups inside a picture are its properties (\blipuid holds hex digits too).
        if (group.Dest == TDest::Picture) group.Dest = TDest::Skip;
        FStack.append(group);
        FGroupStart = true;
    }

    void CloseGroup()
    {
        Flush();
        FSkip = 0;
        if (FOverflow > 0) {
            --FOverflow;
            return;
        }
        if (FStack.isEmpty()) return;
        const TGroup closed = FStack.takeLast();
        if (FStack.isEmpty()) FDone = true; // the document's own group
        if (closed.Dest == TDest::Picture) EndPicture();
        if (closed.Dest == TDest::Info && FMode == TMode::Info) FDone = true;
    }

    void EndPicture()
    {
        FInPicture = false;
        if ((FBlip == TBlip::Jpeg || FBlip == TBlip::Png) && !FPictureBytes.isEmpty() &&
            FOut.Picture.isEmpty()) {
            FOut.Picture = FPictureBytes;
            if (FMode == TMode::Picture) FDone = true;
        }
        FPictureBytes.clear();
    }

    // Text bytes of the document's code page; \'xx and plain bytes alike, so that the two bytes
    // of a double-byte character meet in one decode.
    void Byte(char c)
    {
        switch (Dest()) {
        case TDest::Field:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') FPending += c;
            break;
        case TDest::Picture:
            PictureNibble(c);
            break;
        default:
            break;
        }
    }

    void Char(char16_t c)
    {
        Flush();
        if (Dest() != TDest::Field) return;
        QString& field = FOut.Fields[FStack.last().Field];
        if (field.size() < MaxFieldLength) field += QChar(c);
    }

    void Flush()
    {
        if (FPending.isEmpty()) return;
        if (Dest() == TDest::Field) {
            QString& field = FOut.Fields[FStack.last().Field];
            if (field.size() < MaxFieldLength) field += FDecoder(FPending);
            if (field.size() > MaxFieldLength) field.truncate(MaxFieldLength);
        }
        FPending.clear();
    }

    // A run of the picture's digits (white space between them ignored), as PictureNibble
    // takes them one by one.
    void PictureDigits(QByteArrayView run)
    {
        if (FBlip == TBlip::Other || FPictureTooLarge) return;
        QByteArray decoded(run.size() / 2 + 1, Qt::Uninitialized);
        char* out = decoded.data();
        qsizetype count = 0;
        int half = FHalf;
        for (const char c : run) {
            const int value = HexValue(c);
            if (value < 0) continue;
            if (half < 0) {
                half = value;
                continue;
            }
            out[count++] = static_cast<char>(half << 4 | value);
            half = -1;
        }
        FHalf = half;
        if (FPictureBytes.size() + count > MaxPictureBytes) {
            FPictureTooLarge = true;
            FPictureBytes.clear();
            return;
        }
        FPictureBytes.append(out, count);
    }

    void PictureNibble(char c)
    {
        if (FBlip == TBlip::Other || FPictureTooLarge) return;
        const int value = HexValue(c);
        if (value < 0) return; // white space between the digits
        if (FHalf < 0) {
            FHalf = value;
            return;
        }
        if (FPictureBytes.size() >= MaxPictureBytes) {
            FPictureTooLarge = true;
            FPictureBytes.clear();
            return;
        }
        FPictureBytes += static_cast<char>(FHalf << 4 | value);
        FHalf = -1;
    }

    void ControlWord()
    {
        const qsizetype end = FBytes.size();
        if (FPos + 1 >= end) {
            FPos = end;
            return;
        }
        const char next = FBytes[FPos + 1];
        if (!IsLetter(next)) {
            ControlSymbol(next);
            return;
        }
        qsizetype at = FPos + 1;
        const qsizetype nameStart = at;
        while (at < end && IsLetter(FBytes[at]))
            ++at;
        const QByteArrayView name(FBytes.constData() + nameStart,
                                  std::min<qsizetype>(at - nameStart, MaxWordLength + 1));
        std::optional<qint64> param;
        const bool negative = at < end && FBytes[at] == '-';
        qsizetype digitsStart = negative ? at + 1 : at;
        if (digitsStart < end && FBytes[digitsStart] >= '0' && FBytes[digitsStart] <= '9') {
            qint64 value = 0;
            int digits = 0;
            at = digitsStart;
            while (at < end && FBytes[at] >= '0' && FBytes[at] <= '9') {
                if (digits++ < MaxParamDigits) value = value * 10 + (FBytes[at] - '0');
                ++at;
            }
            param = negative ? -value : value;
        }
        if (at < end && FBytes[at] == ' ') ++at; // the delimiter belongs to the word
        FPos = at;

        const bool groupStart = FGroupStart;
        const bool ignorable = FIgnorable;
        FGroupStart = false;
        FIgnorable = false;
        if (name == "bin") {
            // Raw bytes follow; they may hold braces and backslashes of no meaning.
            const qint64 length = std::clamp<qint64>(param.value_or(0), 0, end - FPos);
            if (FOverflow == 0 && FSkip == 0 && Dest() == TDest::Picture && !FPictureTooLarge &&
                FBlip != TBlip::Other) {
                if (FPictureBytes.size() + length > MaxPictureBytes) {
                    FPictureTooLarge = true;
                    FPictureBytes.clear();
                } else {
                    FPictureBytes.append(FBytes.constData() + FPos, length);
                }
            }
            FPos += length;
            if (FSkip > 0) --FSkip;
            return;
        }
        if (FOverflow > 0) return;
        if (FSkip > 0) {
            --FSkip;
            return;
        }
        Word(name, param, groupStart, ignorable);
    }

    void ControlSymbol(char symbol)
    {
        FPos += 2;
        if (symbol == '\'') {
            // \'hh: one byte of the code page.
            const qsizetype end = FBytes.size();
            if (FPos + 2 > end) {
                FPos = end; // cut off inside the byte
                return;
            }
            FGroupStart = false;
            const int high = HexValue(FBytes[FPos]), low = HexValue(FBytes[FPos + 1]);
            if (high < 0 || low < 0) return;
            FPos += 2;
            if (FOverflow > 0) return;
            if (FSkip > 0) {
                --FSkip;
                return;
            }
            if (Dest() == TDest::Field) FPending += static_cast<char>(high << 4 | low);
            return;
        }
        if (FOverflow > 0) return;
        if (FSkip > 0) {
            --FSkip;
            return;
        }
        switch (symbol) {
        case '\\':
        case '{':
        case '}':
            Byte(symbol);
            break;
        case '~':
            Char(0x00A0);
            break;
        case '_':
            Char(0x2011);
            break;
        case '\r':
        case '\n':
            Char(u'\n');
            break;
        case '*':
            FIgnorable = true;
            FGroupStart = true; // the destination word comes next
            return;
        default:
            break; // \- (optional hyphen), \| and \: show nothing
        }
        FGroupStart = false;
    }

    void Destination(TDest dest, quint8 field = 0)
    {
        Flush();
        TGroup& group = FStack.last();
        if (dest == TDest::Field) {
            QString& text = FOut.Fields[field];
            if (group.Unicode) {
                text.clear(); // the Unicode twin replaces the code page text
            } else if (!text.isEmpty()) {
                dest = TDest::Skip; // the first one of a repeated field is kept
            }
        }
        group.Dest = dest;
        group.Field = field;
    }

    void Word(QByteArrayView name, std::optional<qint64> param, bool groupStart, bool ignorable)
    {
        TGroup* group = Top();
        if (!group) return;
        static const struct
        {
            const char* Name;
            TField Field;
        } fields[] = {{"title", fTitle},       {"subject", fSubject},   {"author", fAuthor},
                      {"operator", fOperator}, {"keywords", fKeywords}, {"doccomm", fComment},
                      {"category", fCategory}, {"company", fCompany}};
        const bool canOpen =
            groupStart && group->Dest != TDest::Skip && group->Dest != TDest::Picture;
        if (canOpen && FMode == TMode::Info) {
            for (const auto& f : fields)
                if (name == f.Name) {
                    Destination(TDest::Field, static_cast<quint8>(f.Field));
                    return;
                }
            if (name == "info") {
                Destination(TDest::Info);
                return;
            }
            if (name == "creatim" || name == "revtim") {
                Destination(name == "creatim" ? TDest::Created : TDest::Revised);
                return;
            }
        }
        if (canOpen && (name == "upr" || name == "ud")) {
            // \upr holds a field twice: in the code page, then in \ud as Unicode.
            if (name == "ud") group->Unicode = true;
            return;
        }
        if (groupStart && name == "pict") {
            if (FMode != TMode::Picture || FInPicture || !FOut.Picture.isEmpty()) {
                Destination(TDest::Skip);
                return;
            }
            Destination(TDest::Picture);
            FInPicture = true;
            FBlip = TBlip::Unknown;
            FPictureBytes.clear();
            FPictureTooLarge = false;
            FHalf = -1;
            return;
        }
        if (group->Dest == TDest::Picture) {
            if (name == "jpegblip")
                FBlip = TBlip::Jpeg;
            else if (name == "pngblip")
                FBlip = TBlip::Png;
            else if (name == "emfblip" || name == "wmetafile" || name == "macpict" ||
                     name == "pmmetafile" || name == "dibitmap" || name == "wbitmap")
                FBlip = TBlip::Other;
            return;
        }
        if (ignorable && groupStart) {
            Destination(TDest::Skip);
            return;
        }
        if (group->Dest == TDest::Created || group->Dest == TDest::Revised) {
            TDate& date = group->Dest == TDest::Created ? FOut.Created : FOut.Revised;
            const int value = static_cast<int>(std::clamp<qint64>(param.value_or(-1), -1, 99999));
            if (name == "yr")
                date.Year = value;
            else if (name == "mo")
                date.Month = value;
            else if (name == "dy")
                date.Day = value;
            else if (name == "hr")
                date.Hour = value;
            else if (name == "min")
                date.Minute = value;
            return;
        }
        const qint64 number = param && *param >= 0 && *param <= 0x7FFFFFFF ? *param : -1;
        if (name == "u") {
            if (!param) return;
            qint64 code = *param;
            if (code < 0) code += 65536; // written as a signed 16-bit number
            if (code > 0 && code <= 0xFFFF) Char(static_cast<char16_t>(code));
            FSkip = group->SkipCount;
        } else if (name == "uc") {
            group->SkipCount = static_cast<int>(std::clamp<qint64>(param.value_or(1), 0, 255));
        } else if (name == "ansicpg") {
            Flush();
            if (param) FDecoder = DecoderFor(*param);
        } else if (name == "mac" || name == "pc" || name == "pca") {
            Flush();
            FDecoder = DecoderFor(name == "mac" ? 10000 : name == "pc" ? 437 : 850);
        } else if (name == "nofpages") {
            FOut.Pages = number;
        } else if (name == "nofwords") {
            FOut.Words = number;
        } else if (name == "nofchars") {
            FOut.Chars = number;
        } else if (name == "version") {
            FOut.Version = number;
        } else if (name == "vern") {
            FOut.WriterVersion = number;
        } else if (name == "par" || name == "line") {
            Char(u'\n');
        } else if (name == "tab") {
            Char(u'\t');
        } else {
            static const struct
            {
                const char* Name;
                char16_t Char;
            } symbols[] = {{"emdash", 0x2014},    {"endash", 0x2013},  {"emspace", 0x2003},
                           {"enspace", 0x2002},   {"qmspace", 0x2005}, {"bullet", 0x2022},
                           {"lquote", 0x2018},    {"rquote", 0x2019},  {"ldblquote", 0x201C},
                           {"rdblquote", 0x201D}, {"zwj", 0x200D},     {"zwnj", 0x200C},
                           {"zwbo", 0x200B},      {"zwnbo", 0xFEFF}};
            for (const auto& s : symbols)
                if (name == s.Name) {
                    Char(s.Char);
                    return;
                }
        }
    }

    const QByteArray& FBytes;
    const TMode FMode;
    TRtf& FOut;
    const TAbortQuery FAbort;
    QStringDecoder FDecoder;
    QList<TGroup> FStack;
    qsizetype FPos = 0;
    qint64 FOverflow = 0; // open groups beyond MaxDepth, stepped over
    int FSkip = 0;        // fallback characters of the last \u still to drop
    bool FGroupStart = false;
    bool FIgnorable = false;
    bool FDone = false;
    QByteArray FPending;
    bool FInPicture = false;
    TBlip FBlip = TBlip::Unknown;
    QByteArray FPictureBytes;
    bool FPictureTooLarge = false;
    int FHalf = -1;
};

// The head of the file when it is RTF at all.
bool ReadHead(const char* fileName, qint64 limit, QByteArray& bytes)
{
    QFile file;
    if (!OpenBookFile(file, fileName)) return false;
    // Asking for the whole limit would allocate it, however small the file.
    bytes = file.read(std::min(limit, file.size()));
    qsizetype start = 0;
    if (bytes.startsWith("\xEF\xBB\xBF")) start = 3;
    while (start < bytes.size() && start < 64 && QChar::isSpace(uchar(bytes[start])))
        ++start;
    if (bytes.mid(start, 5) != "{\\rtf") return false;
    bytes.remove(0, start);
    return true;
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    QByteArray bytes;
    if (!ReadHead(fileName, InfoHead, bytes)) return 0;
    TRtf rtf;
    if (!TScanner(bytes, TScanner::TMode::Info, rtf, abort).Run()) return 0;
    TBookInfo out = *info;
    QString title = RepairSurrogates(rtf.Fields[fTitle]).simplified();
    if (title.isEmpty()) title = BookBaseName(fileName);
    PutText(&out, biTitle, title);
    PutText(&out, biSubject, RepairSurrogates(rtf.Fields[fSubject]));
    // The operator is whoever last saved the file, not who wrote the book: never the author.
    PutText(&out, biAuthor, JoinAuthors({RepairSurrogates(rtf.Fields[fAuthor])}));
    PutText(&out, biKeywords, RepairSurrogates(rtf.Fields[fKeywords]));
    PutText(&out, biComment, RepairSurrogates(rtf.Fields[fComment]), true);
    PutText(&out, biCategory, RepairSurrogates(rtf.Fields[fCategory]));
    PutText(&out, biPublisher, RepairSurrogates(rtf.Fields[fCompany]));
    PutText(&out, biCreationDate, rtf.Created.Text());
    PutText(&out, biModificationDate, rtf.Revised.Text());
    if (rtf.Pages > 0) PutNumber(&out, biPageCount, rtf.Pages);
    if (rtf.Words >= 0) PutNumber(&out, biWordCount, rtf.Words);
    if (rtf.Chars >= 0) PutNumber(&out, biCharCount, rtf.Chars);
    const qint64 revision = rtf.Version >= 0 ? rtf.Version : rtf.WriterVersion;
    if (revision >= 0) PutNumber(&out, biRevision, revision);
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    QByteArray bytes;
    if (!ReadHead(fileName, PictureHead, bytes)) return 0;
    TRtf rtf;
    if (!TScanner(bytes, TScanner::TMode::Picture, rtf, abort).Run() || rtf.Picture.isEmpty())
        return 0;
    return PutThumbnail(thumbnail, DecodeScaled(rtf.Picture, WantedSize(thumbnail))) ? 1 : 0;
}
