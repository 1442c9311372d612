// FictionBook 2, plain or zipped: the title-info, publish-info and document-info of the
// description, and the embedded cover.
#include "SummaryCommon.h"
#include "ZipReader.h"

#include <QFile>
#include <QXmlStreamReader>

#include <cstring>

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

// The FB2 document itself: the file, or the first ".fb2" entry of a ZIP archive.
bool ReadDocument(const char* fileName, QByteArray& bytes, TAbortQuery abort)
{
    if (LowerExtension(fileName) != QLatin1String("zip")) {
        QFile file;
        if (!OpenBookFile(file, fileName) || file.size() > MaxPartSize) return false;
        bytes = file.readAll();
        return !bytes.isEmpty();
    }
    const TZipReader zip(fileName);
    for (qsizetype i = 0; i < zip.Names().size(); ++i)
        if (zip.Names()[i].endsWith(QLatin1String(".fb2"), Qt::CaseInsensitive))
            return zip.Read(i, bytes, MaxPartSize, abort);
    return false;
}

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
            if (xml.name() == QLatin1String("description") && !wantCover) return true;
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
                book.Cover = QByteArray::fromBase64(xml.readElementText().toLatin1());
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
    QByteArray bytes;
    TFb2 book;
    if (!ReadDocument(fileName, bytes, abort) || !Parse(bytes, book, false, abort) ||
        Stopped(abort))
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
    QByteArray bytes;
    TFb2 book;
    if (!ReadDocument(fileName, bytes, abort) || !Parse(bytes, book, true, abort) ||
        book.Cover.isEmpty() || Stopped(abort))
        return 0;
    return PutThumbnail(thumbnail, DecodeScaled(book.Cover, WantedSize(thumbnail))) ? 1 : 0;
}
