#include "SummaryCommon.h"

#include "FileNames.h"

#include <QStringDecoder>

#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTimeZone>

#include <cstdlib>
#include <cstring>

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

    static const QHash<QString, QString> named = {{"amp", "&"},
                                                  {"lt", "<"},
                                                  {"gt", ">"},
                                                  {"quot", "\""},
                                                  {"apos", "'"},
                                                  {"nbsp", " "},
                                                  {"mdash", QString(QChar(0x2014))},
                                                  {"ndash", QString(QChar(0x2013))},
                                                  {"hellip", QString(QChar(0x2026))},
                                                  {"ldquo", QString(QChar(0x201C))},
                                                  {"rdquo", QString(QChar(0x201D))},
                                                  {"lsquo", QString(QChar(0x2018))},
                                                  {"rsquo", QString(QChar(0x2019))},
                                                  {"copy", QString(QChar(0xA9))}};
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
        } else if (named.contains(name)) {
            out += named.value(name);
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
    QImageReader reader(device);
    reader.setAutoTransform(true);
    // A cover never needs more; a hostile header cannot make us allocate gigabytes.
    reader.setAllocationLimit(128);
    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.width() > 30000 || size.height() > 30000) return {};
        // Decode at no less than twice the box, so the final smooth scaling still has detail.
        const QSize target = FitInside(size, box * 2);
        if (target.isValid() && target != size) reader.setScaledSize(target);
    }
    return reader.read();
}

QImage DecodeScaled(const QByteArray& bytes, const QSize& box)
{
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

} // namespace Summary
