#pragma once

#include "BookInfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>

class QIODevice;

// What every book-information library does the same way: put texts into the record's blocks,
// turn a cover into a thumbnail and poll the caller's abort query.
namespace Summary {

// True when the caller asked to stop. A null query never stops.
inline bool Stopped(TAbortQuery abort)
{
    return abort && abort() != 0;
}

// Stores text as code page 936 (GB18030) bytes, cut to 255 bytes at a character boundary.
// Runs of white space become one blank; with `keepLines` line breaks stay (for descriptions).
// Empty text leaves the block as it is.
void PutText(TBookInfo* info, TBookInfoOffset offset, const QString& text, bool keepLines = false);
// Counts and dates are stored as text.
void PutNumber(TBookInfo* info, TBookInfoOffset offset, qint64 number);
void PutDate(TBookInfo* info, TBookInfoOffset offset, const QDateTime& date);
// Reads a block back (for the properties dialog and the tests).
QString GetText(const TBookInfo* info, TBookInfoOffset offset);

// Joins several authors the way the book list shows them.
QString JoinAuthors(const QStringList& authors);

// Plain text from an HTML or XHTML fragment: tags dropped, entities decoded, block ends
// turned into line breaks.
QString PlainTextFromHtml(const QString& html);

// The character an HTML 4 named entity stands for ("nbsp", "mdash", "eacute", ...), 0 when
// the name is none of them.
char32_t HtmlEntity(QByteArrayView name);

// XML as book files really write it, made readable for an XML reader that knows only the five
// XML entities: HTML named entities the document never declares become numeric references,
// other undeclared names and a bare "&" become plain text. References the document declares or
// XML defines, numeric references, comments and CDATA sections stay as they are. One pass, no
// growth beyond a few bytes per reference; text that is not ASCII-compatible (UTF-16) is left
// alone.
QByteArray ResolveHtmlEntities(const QByteArray& xml);

// A date as written in book metadata ("2020", "2020-05", "2020-05-17T10:00:00Z", ...), kept
// as far as it goes; the empty string when it is no date.
QString NormalizeDate(const QString& text);

// The size inside `box` with the aspect ratio of `size` (never larger than `size` itself).
QSize FitInside(const QSize& size, const QSize& box);

// The box a caller asked for: the record's size, or 90 x 112 when it gives none.
QSize WantedSize(const TThumbnailInfo* thumbnail);

// Decodes an image no larger than needed to fill `box`: JPEG is read by libjpeg itself, scaled
// while it is decoded (see JpegReader.h), so a large cover costs little; PNG is read by libpng
// itself, 8 bits a channel also for 16-bit files, and averaged down while it is read (see
// PngReader.h). Images that declare absurd sizes are refused. The result may be in any format;
// PNGs come as ARGB32, JPEGs as RGB32.
QImage DecodeScaled(QIODevice* device, const QSize& box);
QImage DecodeScaled(const QByteArray& bytes, const QSize& box);

// Scales the picture to fit the record's wanted size and stores it as malloc'd ARGB32 pixels.
bool PutThumbnail(TThumbnailInfo* thumbnail, const QImage& image);

// The extension without dot, in lower case.
QString LowerExtension(const char* fileName);

// The libraries receive a book's name as its bytes. These open and name the book by those
// bytes, so that a name that is not UTF-8 (GBK from an archive made on Chinese Windows) works
// like any other: Qt's own file names would lose it.
bool OpenBookFile(QFile& file, const char* fileName);
// The name without folder and last extension, readable: UTF-8, or else GB18030.
QString BookBaseName(const char* fileName);

// Names compared the way a reader orders pages: a run of digits counts by its value ("page2"
// before "page10"), letters ignore case; when all else is equal the shorter name comes first.
// (The system collator ignores numbers in the C locale, so it is not used.)
bool NaturalLess(const QString& a, const QString& b);

// False for pictures Qt has no decoder for (EMF, SVG without its plug-in), judged by the name's
// extension, so they are skipped without reading them; a name without one may be anything.
bool MayDecodePicture(const QString& name);

// The fields of a comic's "ComicInfo.xml": element name to text.
QHash<QString, QString> ParseComicInfo(const QByteArray& bytes);
// Stores them: title (else the file's name), writers, publisher, genre, tags, summary, language
// and the date from the year, month and day as far as they are valid.
void PutComicInfo(TBookInfo* info, const QHash<QString, QString>& fields, const char* fileName);

// Most bytes a library reads of one part of a book (an XML document, a cover, a ZIP entry).
constexpr qint64 MaxPartSize = 64 * 1024 * 1024;

} // namespace Summary
