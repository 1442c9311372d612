// MOBI, AZW, AZW3 and PRC: the PalmDB record list, the MOBI header of record 0 and its EXTH
// records, the cover image record. Every offset comes from the file, so every one is checked
// against the record it points into before it is used.
#include "SummaryCommon.h"

#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

constexpr qint64 MaxRecordZero = 1024 * 1024;

quint16 U16(const QByteArray& b, qsizetype at)
{
    return at >= 0 && at + 2 <= b.size() ? qFromBigEndian<quint16>(b.constData() + at) : 0;
}

quint32 U32(const QByteArray& b, qsizetype at)
{
    return at >= 0 && at + 4 <= b.size() ? qFromBigEndian<quint32>(b.constData() + at) : 0;
}

struct TMobiBook
{
    QString PalmName;
    QString FullName;
    QMultiMap<quint32, QByteArray> Exth; // type -> data, in file order per type
    quint16 Encryption = 0;
    bool Utf8 = false;
    quint32 FirstImage = 0xFFFFFFFF;
    bool IsMobi = false;
};

// The PalmDB container: where each record starts and ends.
class TPalmFile
{
public:
    explicit TPalmFile(const char* fileName) : FFileName(fileName) {}

    bool Open()
    {
        if (!OpenBookFile(FFile, FFileName)) return false;
        FHeader = FFile.read(78);
        if (FHeader.size() < 78) return false;
        const quint16 count = U16(FHeader, 76);
        const QByteArray list = FFile.read(qint64(count) * 8);
        if (count == 0 || list.size() < qsizetype(count) * 8) return false;
        const qint64 size = FFile.size();
        for (quint16 i = 0; i < count; ++i) {
            const qint64 offset = U32(list, i * 8);
            // Records lie in file order inside the file; a list that says otherwise ends here.
            if (offset > size || (!FOffsets.isEmpty() && offset < FOffsets.last())) break;
            FOffsets << offset;
        }
        FOffsets << size;
        return FOffsets.size() >= 2;
    }

    const QByteArray& Header() const { return FHeader; }
    int Count() const { return int(FOffsets.size()) - 1; }

    // A record's bytes; empty when it does not exist or is larger than `limit`.
    QByteArray Record(qint64 index, qint64 limit)
    {
        if (index < 0 || index >= Count()) return {};
        const qint64 begin = FOffsets[index], end = FOffsets[index + 1];
        if (end - begin > limit || !FFile.seek(begin)) return {};
        return FFile.read(end - begin);
    }

private:
    const char* FFileName;
    QFile FFile;
    QByteArray FHeader;
    QList<qint64> FOffsets;
};

bool Read(TPalmFile& palm, TMobiBook& book)
{
    if (!palm.Open()) return false;
    const QByteArray& header = palm.Header();
    const QByteArray kind = header.mid(60, 8);
    if (kind != "BOOKMOBI" && kind != "TEXtREAd") return false;
    book.PalmName = QString::fromLatin1(header.left(32).constData()).trimmed();

    const QByteArray zero = palm.Record(0, MaxRecordZero);
    if (zero.size() < 16) return false;
    // A plain PalmDoc keeps the reader's position at offset 12, not an encryption type.
    if (zero.size() < 32 || zero.mid(16, 4) != "MOBI") return true;
    book.IsMobi = true;
    book.Encryption = U16(zero, 12);
    const quint32 headerLength = U32(zero, 20);
    book.Utf8 = U32(zero, 28) == 65001;
    const quint32 nameOffset = U32(zero, 84), nameLength = U32(zero, 88);
    if (nameLength > 0 && nameOffset < quint32(zero.size()) &&
        nameLength <= quint32(zero.size()) - nameOffset)
        book.FullName = QString::fromLatin1(zero.mid(nameOffset, nameLength)); // decoded below
    if (headerLength >= 0x60) book.FirstImage = U32(zero, 16 + 0x5C);
    const bool hasExth = headerLength >= 0x74 && (U32(zero, 16 + 0x70) & 0x40) != 0;
    const qint64 exth = 16 + qint64(headerLength);
    if (hasExth && exth + 12 <= zero.size() && zero.mid(exth, 4) == "EXTH") {
        const qint64 end = std::min<qint64>(zero.size(), exth + U32(zero, exth + 4));
        const quint32 count = U32(zero, exth + 8);
        qint64 at = exth + 12;
        for (quint32 i = 0; i < count && at + 8 <= end; ++i) {
            const quint32 type = U32(zero, at), length = U32(zero, at + 4);
            if (length < 8 || length > end - at) break;
            book.Exth.insert(type, zero.mid(at + 8, length - 8));
            at += length;
        }
    }
    if (!book.FullName.isEmpty())
        book.FullName = book.Utf8 ? QString::fromUtf8(book.FullName.toLatin1())
                                  : QStringDecoder("windows-1252")(book.FullName.toLatin1());
    return true;
}

QString Text(const TMobiBook& book, const QByteArray& bytes)
{
    if (book.Utf8) return QString::fromUtf8(bytes).trimmed();
    QStringDecoder decoder("windows-1252");
    return QString(decoder(bytes)).trimmed();
}

QStringList Texts(const TMobiBook& book, quint32 type)
{
    QList<QByteArray> values = book.Exth.values(type);
    std::reverse(values.begin(), values.end()); // QMultiMap gives the last inserted first
    QStringList texts;
    for (const QByteArray& v : values)
        texts << Text(book, v);
    return texts;
}

QString First(const TMobiBook& book, quint32 type)
{
    return Texts(book, type).value(0);
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    TPalmFile palm(fileName);
    TMobiBook book;
    if (!Read(palm, book)) return 0;
    TBookInfo out = *info;
    QString title = First(book, 503);
    if (title.isEmpty()) title = book.FullName;
    if (title.isEmpty()) title = book.PalmName;
    PutText(&out, biTitle, title);
    PutText(&out, biAuthor, JoinAuthors(Texts(book, 100)));
    PutText(&out, biPublisher, First(book, 101));
    PutText(&out, biComment, PlainTextFromHtml(First(book, 103)), true);
    PutText(&out, biSubject, Texts(book, 105).join(QStringLiteral("; ")));
    PutText(&out, biCreationDate, NormalizeDate(First(book, 106)));
    QString identifier = First(book, 104);
    if (identifier.isEmpty()) identifier = First(book, 113);
    PutText(&out, biIdentifier, identifier);
    PutText(&out, biLanguage, First(book, 524));
    out.Data[biEncrypted] = book.Encryption != 0 ? 1 : 0;
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    TPalmFile palm(fileName);
    TMobiBook book;
    if (!Read(palm, book) || !book.IsMobi || book.FirstImage == 0xFFFFFFFF) return 0;
    QList<qint64> candidates;
    for (quint32 type : {201u, 202u}) {
        const QByteArray offset = book.Exth.value(type);
        if (offset.size() == 4 && U32(offset, 0) != 0xFFFFFFFF)
            candidates << qint64(book.FirstImage) + U32(offset, 0);
    }
    candidates << qint64(book.FirstImage);
    for (qint64 index : candidates) {
        if (Stopped(abort)) return 0;
        const QImage image = DecodeScaled(palm.Record(index, MaxPartSize), WantedSize(thumbnail));
        if (!image.isNull()) return PutThumbnail(thumbnail, image) ? 1 : 0;
    }
    return 0;
}
