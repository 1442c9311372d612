// UMD, the book format of Chinese feature phones: a chain of chunks after a four-byte magic.
// A '#' chunk is an attribute: a 16-bit id, a flag byte and a one-byte length that counts the
// chunk's own five header bytes; the book's title, author, date, type and publisher are such
// chunks, in UTF-16LE. A '$' chunk carries data: a 32-bit check value and a 32-bit length that
// counts its nine header bytes; the text blocks, the chapter tables and the cover picture (the
// data chunk after the cover attribute, id 0x82) are such chunks. The reader walks the chain,
// seeking over data it does not need, and stops at the first byte that starts no chunk.
#include "SummaryCommon.h"

#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

const char Magic[] = "\x89\x9B\x9A\xDE";
constexpr qint64 MaxCoverSize = 16 * 1024 * 1024;

enum TChunkId : quint16
{
    idTitle = 0x02,
    idAuthor = 0x03,
    idYear = 0x04,
    idMonth = 0x05,
    idDay = 0x06,
    idType = 0x07,
    idPublisher = 0x08,
    idCover = 0x82
};

struct TUmdBook
{
    QString Title, Author, Year, Month, Day, Type, Publisher;
    QByteArray Cover;
};

QString Utf16Text(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    // Writers that pad with NULs leave them at the end.
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0) text.truncate(nul);
    return text.trimmed();
}

// "2010", "8", "22" as "2010-08-22", kept as far as the parts are numbers in range.
QString DateText(const TUmdBook& book)
{
    bool ok = false;
    const int year = book.Year.toInt(&ok);
    if (!ok || year < 1 || year > 9999) return {};
    QString text = QString::number(year).rightJustified(4, u'0');
    const int month = book.Month.toInt(&ok);
    if (!ok || month < 1 || month > 12) return text;
    text += QStringLiteral("-%1").arg(month, 2, 10, QLatin1Char('0'));
    const int day = book.Day.toInt(&ok);
    if (!ok || day < 1 || day > 31) return text;
    return text + QStringLiteral("-%1").arg(day, 2, 10, QLatin1Char('0'));
}

// Walks the chunks. The attributes come first, so the information stops at the first data
// chunk; the cover sits near the end and needs the whole walk (over headers only).
bool Read(const char* fileName, TUmdBook& book, bool wantCover, TAbortQuery abort)
{
    QFile file;
    if (!OpenBookFile(file, fileName) || file.read(4) != QByteArray(Magic, 4)) return false;
    const qint64 size = file.size();
    bool coverNext = false;
    for (quint32 chunks = 1;; ++chunks) {
        if ((chunks & 63) == 0 && Stopped(abort)) return false;
        char separator = 0;
        if (!file.getChar(&separator)) break;
        if (separator == '#') {
            const QByteArray head = file.read(4);
            if (head.size() < 4) break;
            const quint16 id = qFromLittleEndian<quint16>(head.constData());
            const int length = static_cast<unsigned char>(head[3]);
            if (length < 5) break;
            const QByteArray content = file.read(length - 5);
            if (content.size() < length - 5) break;
            coverNext = id == idCover;
            switch (id) {
            case idTitle:
                book.Title = Utf16Text(content);
                break;
            case idAuthor:
                book.Author = Utf16Text(content);
                break;
            case idYear:
                book.Year = Utf16Text(content);
                break;
            case idMonth:
                book.Month = Utf16Text(content);
                break;
            case idDay:
                book.Day = Utf16Text(content);
                break;
            case idType:
                book.Type = Utf16Text(content);
                break;
            case idPublisher:
                book.Publisher = Utf16Text(content);
                break;
            default:
                break;
            }
        } else if (separator == '$') {
            if (!wantCover) break;
            const QByteArray head = file.read(8);
            if (head.size() < 8) break;
            const quint32 length = qFromLittleEndian<quint32>(head.constData() + 4);
            if (length < 9) break;
            const qint64 dataLength = qint64(length) - 9;
            if (dataLength > size - file.pos()) break; // cut short
            if (coverNext) {
                if (dataLength > MaxCoverSize) return true;
                book.Cover = file.read(dataLength);
                return true;
            }
            if (!file.seek(file.pos() + dataLength)) break;
        } else {
            break;
        }
    }
    return true;
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    TUmdBook book;
    if (!Read(fileName, book, false, abort)) return 0;
    TBookInfo out = *info;
    PutText(&out, biTitle, book.Title.isEmpty() ? BookBaseName(fileName) : book.Title);
    PutText(&out, biAuthor, JoinAuthors({book.Author}));
    PutText(&out, biPublisher, book.Publisher);
    PutText(&out, biCategory, book.Type);
    PutText(&out, biCreationDate, DateText(book));
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    TUmdBook book;
    if (!Read(fileName, book, true, abort) || book.Cover.isEmpty()) return 0;
    return PutThumbnail(thumbnail, DecodeScaled(book.Cover, WantedSize(thumbnail))) ? 1 : 0;
}
