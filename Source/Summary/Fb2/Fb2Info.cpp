// FictionBook 2, plain or zipped: the title-info, publish-info and document-info of the
// description, and the embedded cover. The description opens the document, so only its head is
// read, however large the book; a cover stored after the text is found by a forward scan that
// keeps no more than the picture in memory.
#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QFile>
#include <QXmlStreamReader>

#include <cctype>
#include <cstring>
#include <functional>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

struct TFb2
{
    QString Title;
    QStringList Authors;
    QStringList Genres;
    QStringList Annotation;
    QString Keywords;
    QString Date;
    QString Language;
    QString Publisher;
    QString Isbn;
    QString DocumentId;
    QString Version;
    QString CoverId;
    QByteArray Cover;
};

// The part of a document read for its description: far more than any description needs.
constexpr qint64 HeadSize = 16 * 1024 * 1024;
// The longest start tag the cover scan looks at.
constexpr qsizetype MaxTag = 4096;

using TSink = std::function<bool(QByteArrayView)>;

// Hands the FB2 document (the file, or the first ".fb2" entry of a ZIP archive) to `sink` piece
// by piece until it is satisfied or the document ends.
bool StreamDocument(const char* fileName, const TSink& sink, TAbortQuery abort)
{
    if (LowerExtension(fileName) != QLatin1String("zip")) {
        QFile file;
        if (!OpenBookFile(file, fileName)) return false;
        QByteArray piece(1024 * 1024, Qt::Uninitialized);
        for (;;) {
            if (Stopped(abort)) return false;
            const qint64 got = file.read(piece.data(), piece.size());
            if (got < 0) return false;
            if (got == 0 || !sink(QByteArrayView(piece.constData(), got))) return true;
        }
    }
    const TZipReader zip(fileName);
    for (qsizetype i = 0; i < zip.Names().size(); ++i)
        if (zip.Names()[i].endsWith(QLatin1String(".fb2"), Qt::CaseInsensitive))
            return zip.Stream(i, sink, abort);
    return false;
}

// The first HeadSize bytes of the document; `whole` says whether that is all of it.
bool ReadHead(const char* fileName, QByteArray& head, bool& whole, TAbortQuery abort)
{
    head.clear();
    whole = true;
    const bool read = StreamDocument(
        fileName,
        [&](QByteArrayView piece) {
            const qsizetype room = HeadSize - head.size();
            head += piece.first(qMin(room, piece.size()));
            whole = piece.size() <= room;
            return whole;
        },
        abort);
    return read && !head.isEmpty();
}

// Finds <binary id="..."> with the cover's id in a document handed over piece by piece and
// keeps its text. Every byte is looked at a bounded number of times, and memory holds one start
// tag and the picture, never the document.
class TBinaryScanner
{
public:
    explicit TBinaryScanner(const QString& id) : FId(id.toUtf8()) {}

    // False once the picture is complete (or too large): the rest of the document is not needed.
    bool Feed(QByteArrayView piece)
    {
        if (FInside) return Collect(piece);
        FPending += piece;
        const QByteArrayView text(FPending);
        qsizetype from = 0, keepFrom = text.size(), gt = -1;
        for (;;) {
            const qsizetype lt = text.indexOf('<', from);
            if (lt < 0) break;
            if (gt < lt) gt = text.indexOf('>', lt);
            if (gt < 0) {
                // A tag cut by the end of the piece: keep it for the next one.
                keepFrom = qMax(lt, text.size() - MaxTag);
                break;
            }
            const QByteArrayView tag = text.sliced(lt + 1, gt - lt - 1);
            if (!IsBinary(tag)) {
                from = lt + 1;
                continue;
            }
            if (tag.size() < MaxTag && IdOf(tag) == FId) {
                FInside = true;
                const QByteArray rest = FPending.mid(gt + 1);
                FPending.clear();
                return Collect(rest);
            }
            from = gt + 1;
        }
        FPending.remove(0, keepFrom);
        return true;
    }

    QByteArray Cover() const { return FDone ? QByteArray::fromBase64(FText) : QByteArray(); }

private:
    static bool IsBinary(QByteArrayView tag)
    {
        qsizetype end = 0;
        while (end < tag.size() && end < 64 &&
               (std::isalnum(uchar(tag[end])) || tag[end] == ':' || tag[end] == '_' ||
                tag[end] == '-' || tag[end] == '.'))
            ++end;
        QByteArrayView name = tag.first(end);
        const qsizetype colon = name.lastIndexOf(':');
        if (colon >= 0) name = name.sliced(colon + 1);
        return name == "binary" &&
               (end == tag.size() || std::isspace(uchar(tag[end])) || tag[end] == '/');
    }

    // The value of the tag's id attribute.
    static QByteArrayView IdOf(QByteArrayView tag)
    {
        for (qsizetype i = 1; i + 2 < tag.size(); ++i) {
            if (!std::isspace(uchar(tag[i - 1])) || tag[i] != 'i' || tag[i + 1] != 'd') continue;
            qsizetype k = i + 2;
            while (k < tag.size() && std::isspace(uchar(tag[k])))
                ++k;
            if (k >= tag.size() || tag[k] != '=') continue;
            ++k;
            while (k < tag.size() && std::isspace(uchar(tag[k])))
                ++k;
            if (k >= tag.size() || (tag[k] != '"' && tag[k] != '\'')) continue;
            const qsizetype close = tag.indexOf(tag[k], k + 1);
            if (close < 0) return {};
            return tag.sliced(k + 1, close - k - 1);
        }
        return {};
    }

    bool Collect(QByteArrayView piece)
    {
        const qsizetype end = piece.indexOf('<');
        const QByteArrayView part = end < 0 ? piece : piece.first(end);
        if (FText.size() + part.size() > MaxPartSize) {
            FText.clear(); // no cover is that large: give up rather than hold it
            return false;
        }
        FText += part;
        FDone = end >= 0;
        return !FDone;
    }

    QByteArray FId;
    QByteArray FPending; // unexamined bytes: at most a start tag cut by a piece's end
    QByteArray FText;
    bool FInside = false;
    bool FDone = false;
};

QString AuthorName(QXmlStreamReader& xml)
{
    QStringList parts;
    QString nickname;
    while (xml.readNextStartElement()) {
        const QString text =
            xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
        if (xml.name() == QLatin1String("first-name") ||
            xml.name() == QLatin1String("middle-name") ||
            xml.name() == QLatin1String("last-name")) {
            if (!text.isEmpty()) parts << text;
        } else if (xml.name() == QLatin1String("nickname")) {
            nickname = text;
        }
    }
    return parts.isEmpty() ? nickname : parts.join(QLatin1Char(' '));
}

QString HrefOf(const QXmlStreamReader& xml)
{
    for (const QXmlStreamAttribute& a : xml.attributes())
        if (a.name() == QLatin1String("href")) return a.value().toString();
    return {};
}

// Reads the description; with `wantCover` goes on to the binary that holds the cover.
bool Parse(const QByteArray& bytes, TFb2& book, bool wantCover, TAbortQuery abort)
{
    QXmlStreamReader xml(bytes);
    QStringList path;
    bool sawDescription = false;
    int elements = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement()) {
            if (!path.isEmpty()) path.removeLast();
            if (xml.name() != QLatin1String("description")) continue;
            if (!wantCover) return true;
            // The body and the pictures follow: the cover's binary is found by a plain scan of
            // the bytes, many times faster than reading the body as XML. Where the scan finds
            // nothing (a document in UTF-16, a picture cut by the end of the head) the reading
            // goes on as before.
            if (!book.CoverId.isEmpty()) {
                TBinaryScanner scanner(book.CoverId);
                scanner.Feed(bytes);
                book.Cover = scanner.Cover();
                if (!book.Cover.isEmpty()) return true;
            }
            continue;
        }
        if (!xml.isStartElement()) continue;
        if ((++elements & 1023) == 0 && Stopped(abort)) return false;
        const QString name = xml.name().toString();
        const QString parent = path.isEmpty() ? QString() : path.last();
        const bool inTitleInfo = parent == QLatin1String("title-info");
        if (name == QLatin1String("description")) sawDescription = true;

        if (inTitleInfo && name == QLatin1String("author")) {
            book.Authors << AuthorName(xml);
            continue; // the reader is at the author's end tag
        }
        if (inTitleInfo && name == QLatin1String("annotation")) {
            while (xml.readNextStartElement())
                book.Annotation << xml.readElementText(QXmlStreamReader::IncludeChildElements);
            continue;
        }
        if (name == QLatin1String("image") && parent == QLatin1String("coverpage") &&
            book.CoverId.isEmpty()) {
            book.CoverId = HrefOf(xml).mid(1); // "#id"
        } else if (inTitleInfo && name == QLatin1String("date")) {
            const QString value = xml.attributes().value(QLatin1String("value")).toString();
            const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            book.Date = value.isEmpty() ? text.trimmed() : value;
            continue;
        } else if (name == QLatin1String("coverpage")) {
            // holds the cover's image element, read above
        } else if (inTitleInfo || parent == QLatin1String("publish-info") ||
                   parent == QLatin1String("document-info")) {
            const QString text =
                xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
            if (inTitleInfo) {
                if (name == QLatin1String("book-title"))
                    book.Title = text;
                else if (name == QLatin1String("genre"))
                    book.Genres << text;
                else if (name == QLatin1String("keywords"))
                    book.Keywords = text;
                else if (name == QLatin1String("lang"))
                    book.Language = text;
            } else if (parent == QLatin1String("publish-info")) {
                if (name == QLatin1String("publisher"))
                    book.Publisher = text;
                else if (name == QLatin1String("isbn"))
                    book.Isbn = text;
            } else {
                if (name == QLatin1String("id"))
                    book.DocumentId = text;
                else if (name == QLatin1String("version"))
                    book.Version = text;
            }
            continue; // readElementText consumed the end tag
        } else if (name == QLatin1String("binary")) {
            if (wantCover && !book.CoverId.isEmpty() &&
                xml.attributes().value(QLatin1String("id")) == book.CoverId) {
                const QString text = xml.readElementText();
                // A picture cut by the end of the head is left to the scan.
                if (!xml.hasError()) book.Cover = QByteArray::fromBase64(text.toLatin1());
                return true;
            }
            xml.skipCurrentElement();
            continue;
        }
        path << name;
    }
    return sawDescription && !xml.hasError() ? true : !book.Title.isEmpty();
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info) return 0;
    QByteArray head;
    bool whole = true;
    TFb2 book;
    // Undeclared HTML entities (&nbsp;) would stop the reader in the middle of the description.
    if (!ReadHead(fileName, head, whole, abort) ||
        !Parse(ResolveHtmlEntities(head), book, false, abort) || Stopped(abort))
        return 0;
    TBookInfo out = *info;
    PutText(&out, biTitle, book.Title);
    PutText(&out, biAuthor, JoinAuthors(book.Authors));
    PutText(&out, biCategory, book.Genres.join(QStringLiteral(", ")));
    PutText(&out, biKeywords, book.Keywords);
    PutText(&out, biComment, book.Annotation.join(QLatin1Char('\n')), true);
    PutText(&out, biCreationDate, NormalizeDate(book.Date));
    PutText(&out, biPublisher, book.Publisher);
    PutText(&out, biRevision, book.Version);
    PutText(&out, biIdentifier, book.Isbn.isEmpty() ? book.DocumentId : book.Isbn);
    PutText(&out, biLanguage, book.Language);
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail) return 0;
    QByteArray head;
    bool whole = true;
    TFb2 book;
    if (!ReadHead(fileName, head, whole, abort) ||
        !Parse(ResolveHtmlEntities(head), book, true, abort) || Stopped(abort))
        return 0;
    head.clear();
    if (book.Cover.isEmpty() && !whole && !book.CoverId.isEmpty()) {
        TBinaryScanner scanner(book.CoverId);
        StreamDocument(
            fileName, [&](QByteArrayView piece) { return scanner.Feed(piece); }, abort);
        book.Cover = scanner.Cover();
    }
    if (book.Cover.isEmpty() || Stopped(abort)) return 0;
    return PutThumbnail(thumbnail, DecodeScaled(book.Cover, WantedSize(thumbnail))) ? 1 : 0;
}
