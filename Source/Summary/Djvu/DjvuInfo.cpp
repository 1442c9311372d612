// DjVu documents: the page count, the "(metadata ...)" annotation (title, author, publisher,
// year and month, ...) and the first page rendered straight at thumbnail size.
//
// DjVuLibre decodes in threads of its own and reports through a message queue. Every wait
// here drains that queue and polls: it ends when the job is done, failed, when the caller
// stops or when the call has used its time, so a damaged file can never hold a caller.
//
// The book's bytes reach the decoder through its streams, read here with plain reads and
// handed over a block at a time, only while a wait still needs them. Opened by name, the
// library maps the file instead, and a book cut short or a reader unplugged while one of its
// threads reads the mapping brings the whole program down; its threads may also outlive the
// call. This way they only ever see memory, and no file stays open after the call.
#include "SummaryCommon.h"

#include <QElapsedTimer>
#include <QHash>

#include <libdjvu/ddjvuapi.h>
#include <libdjvu/miniexp.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

constexpr qint64 MaxCallMilliseconds = 20000;
// Pages beyond this are not decoded for a thumbnail: a 600 dpi A3 scan has 70 million pixels.
constexpr qint64 MaxPagePixels = 100LL * 1000 * 1000;
// What one wait hands over before it looks at the queue again, and what one call hands over
// in all: the decoder keeps every byte it was given in memory.
constexpr qint64 FeedBlock = 256 * 1024;
constexpr qint64 MaxFedBytes = 256LL * 1024 * 1024;
// How long the decoder may go quiet on the main file before it gets more than was thought
// needed, while it reads the document's structure and while it decodes a page.
constexpr qint64 StructureStallMilliseconds = 20;
constexpr qint64 PageStallMilliseconds = 200;

quint32 BigEndian32(const uchar* p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

bool ReadAt(int fd, void* out, size_t length, qint64 offset)
{
    return ::pread(fd, out, length, offset) == ssize_t(length);
}

// How much of the main file a call needs. A bundled document begins with a directory of its
// parts and their places; its information and its first page's picture need the file up to the
// end of the first page and the shared parts (annotations, dictionaries) stored before it or
// right after it. A book on a reader is not read whole for its page count. Anything else is
// needed whole.
qint64 NeededBytes(int fd, qint64 size)
{
    uchar head[24];
    if (!ReadAt(fd, head, sizeof head, 0) || std::memcmp(head, "AT&TFORM", 8) != 0 ||
        std::memcmp(head + 12, "DJVM", 4) != 0 || std::memcmp(head + 16, "DIRM", 4) != 0)
        return size;
    const qint64 directorySize = BigEndian32(head + 20);
    const qint64 directoryEnd = 24 + directorySize;
    uchar top[3];
    if (directorySize < 3 || directoryEnd > size || !ReadAt(fd, top, sizeof top, 24) ||
        !(top[0] & 0x80)) // not bundled: the index names files of their own
        return size;
    const int parts = top[1] << 8 | top[2];
    const int looked = qMin(parts, 1024);
    if (parts == 0 || 3 + 4 * qint64(parts) > directorySize) return size;
    std::vector<uchar> offsets(4 * size_t(looked));
    if (!ReadAt(fd, offsets.data(), offsets.size(), 27)) return size;
    qint64 end = -1;
    for (int i = 0; i < looked; ++i) {
        const qint64 offset = BigEndian32(offsets.data() + 4 * i);
        uchar part[12];
        if (offset < directoryEnd || offset + 12 > size || !ReadAt(fd, part, sizeof part, offset) ||
            std::memcmp(part, "FORM", 4) != 0)
            return size;
        const bool page = std::memcmp(part + 8, "DJVU", 4) == 0;
        // After the first page, the shared parts that follow it belong to what is needed:
        // tools that add annotations to a book put them there.
        if (end >= 0 && (page || std::memcmp(part + 8, "DJVI", 4) != 0)) break;
        if (end >= 0 || page) end = offset + 8 + BigEndian32(part + 4) + 1;
    }
    return end < 0 ? size : qMin(size, end);
}

// One document opened for one call, with its own context so calls on several threads never
// share a message queue.
class TDjvuDocument
{
public:
    TDjvuDocument(const char* fileName, TAbortQuery abort) : FFileName(fileName), FAbort(abort)
    {
        FClock.start();
        FContext = ddjvu_context_create("korvel");
        if (!FContext) return;
        const int fd = OpenRegular(fileName);
        if (fd < 0) return;
        FDocument = ddjvu_document_create(FContext, nullptr, 0);
        if (!FDocument) {
            ::close(fd);
            return;
        }
        // The main file is stream 0, which takes data from the start.
        struct stat st{};
        FMainNeeded = ::fstat(fd, &st) == 0 ? NeededBytes(fd, st.st_size) : 0;
        FStreams.push_back({0, fd});
        FRequested.push_back(0);
        if (!Wait([this] { return ddjvu_document_decoding_done(FDocument); }))
            Close();
        else if (ddjvu_document_decoding_error(FDocument))
            Close();
    }
    ~TDjvuDocument() { Close(); }
    TDjvuDocument(const TDjvuDocument&) = delete;
    TDjvuDocument& operator=(const TDjvuDocument&) = delete;

    bool IsOpen() const { return FDocument != nullptr; }
    bool Aborted() const { return FAborted; }
    ddjvu_document_t* Document() const { return FDocument; }

    // Drains the message queue and feeds the decoder until `ready` holds; false when stopped,
    // out of time, or when the library reported an error and the wait is still not over: data
    // that a damaged file lacks never arrives, and the library would ask for it again and again.
    // What a wait is for: the document's structure and annotations are quick to decode once
    // their bytes are there, so a short pause of the decoder means it lacks data; a page may
    // decode for a long while with all it needs.
    enum class TNeed { Structure, Page };

    template <typename F> bool Wait(F ready, TNeed need = TNeed::Structure)
    {
        FStall = need == TNeed::Page ? PageStallMilliseconds : StructureStallMilliseconds;
        for (;;) {
            const bool failed = Drain();
            if (ready()) return true;
            if (Stopped(FAbort)) {
                FAborted = true;
                return false;
            }
            if (failed || FClock.elapsed() > MaxCallMilliseconds) return false;
            if (!Feed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // The annotation as the library keeps it (released with the document), or nil.
    miniexp_t Annotations(miniexp_t (*fetch)(ddjvu_document_t*, int), int argument)
    {
        miniexp_t anno = miniexp_dummy;
        if (!Wait([&] { return (anno = fetch(FDocument, argument)) != miniexp_dummy; }))
            return miniexp_nil;
        if (miniexp_symbolp(anno)) return miniexp_nil; // "failed" or "stopped"
        return anno;
    }

private:
    struct TStream
    {
        int Id;
        int Fd;
    };

    static int OpenRegular(const char* path)
    {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat st{};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // The files of an indirect document lie beside its index, named by their base names.
    void OpenStream(int id, const char* name)
    {
        for (const int seen : FRequested)
            if (seen == id) return;
        FRequested.push_back(id);
        const std::string base = name ? name : "";
        int fd = -1;
        if (!base.empty() && base != "." && base != ".." && base.find('/') == std::string::npos) {
            const std::string::size_type slash = FFileName.rfind('/');
            const std::string folder =
                slash == std::string::npos ? std::string() : FFileName.substr(0, slash + 1);
            fd = OpenRegular((folder + base).c_str());
        }
        if (fd < 0)
            ddjvu_stream_close(FDocument, id, 1);
        else
            FStreams.push_back({id, fd});
    }

    // Hands the decoder the next block of the first stream that may take one; false when there
    // was nothing to give. A stream that ends or fails to read is closed: the decoder then
    // reports what it lacks instead of waiting for it. The main file goes only as far as the
    // call needs (see NeededBytes), then more each time the decoder has gone quiet for a while:
    // it may need a part stored further down.
    bool Feed()
    {
        for (auto stream = FStreams.begin(); stream != FStreams.end(); ++stream) {
            if (stream->Id == 0 && FMainFed >= FMainNeeded) {
                if (FClock.elapsed() - FLastFeed < FStall) continue;
                // Twice as much each time: annotations a tool appended at the end of a large
                // book are reached in a few steps.
                FGrowth = FGrowth == 0 ? FeedBlock : 2 * FGrowth;
                FMainNeeded += FGrowth;
            }
            FBlock.resize(FeedBlock);
            const size_t wanted = stream->Id == 0
                                      ? size_t(qMin(FeedBlock, FMainNeeded - FMainFed))
                                      : FBlock.size();
            ssize_t got = -1;
            if (FFed < MaxFedBytes) {
                do
                    got = ::read(stream->Fd, FBlock.data(), wanted);
                while (got < 0 && errno == EINTR);
            }
            if (got > 0) {
                ddjvu_stream_write(FDocument, stream->Id, FBlock.data(),
                                   static_cast<unsigned long>(got));
                FFed += got;
                if (stream->Id == 0) FMainFed += got;
            } else {
                ddjvu_stream_close(FDocument, stream->Id, got < 0 ? 1 : 0);
                ::close(stream->Fd);
                FStreams.erase(stream);
            }
            FLastFeed = FClock.elapsed();
            return true;
        }
        return false;
    }

    // Empties the queue; true when it held an error.
    bool Drain()
    {
        bool failed = false;
        while (const ddjvu_message_t* message = ddjvu_message_peek(FContext)) {
            failed = failed || message->m_any.tag == DDJVU_ERROR;
            if (message->m_any.tag == DDJVU_NEWSTREAM && FDocument)
                OpenStream(message->m_newstream.streamid, message->m_newstream.name);
            ddjvu_message_pop(FContext);
        }
        return failed;
    }
    void Close()
    {
        if (FDocument) {
            // Streams left open would keep the decoder's threads waiting for data forever.
            for (const TStream& stream : FStreams) {
                ddjvu_stream_close(FDocument, stream.Id, 1);
                ::close(stream.Fd);
            }
            FStreams.clear();
            ddjvu_job_stop(ddjvu_document_job(FDocument));
            ddjvu_document_release(FDocument);
            FDocument = nullptr;
        }
        if (FContext) {
            Drain();
            ddjvu_context_release(FContext);
            FContext = nullptr;
        }
    }

    std::string FFileName;
    TAbortQuery FAbort;
    QElapsedTimer FClock;
    ddjvu_context_t* FContext = nullptr;
    ddjvu_document_t* FDocument = nullptr;
    std::vector<TStream> FStreams;
    std::vector<int> FRequested;
    std::vector<char> FBlock;
    qint64 FFed = 0;
    qint64 FMainFed = 0;
    qint64 FMainNeeded = 0;
    qint64 FLastFeed = 0;
    qint64 FGrowth = 0;
    qint64 FStall = 0;
    bool FAborted = false;
};

miniexp_t DocumentAnnotations(ddjvu_document_t* document, int compat)
{
    return ddjvu_document_get_anno(document, compat);
}

// The "(metadata ...)" pairs with keys in lower case; the first value of a key wins.
void ReadMetadata(miniexp_t anno, QHash<QString, QString>& fields)
{
    if (anno == miniexp_nil) return;
    miniexp_t* keys = ddjvu_anno_get_metadata_keys(anno);
    if (!keys) return;
    for (miniexp_t* key = keys; *key; ++key) {
        const char* name = miniexp_to_name(*key);
        const char* value = ddjvu_anno_get_metadata(anno, *key);
        if (!name || !value) continue;
        const QString lower = QString::fromUtf8(name).toLower();
        if (!fields.contains(lower)) fields.insert(lower, QString::fromUtf8(value).trimmed());
    }
    std::free(keys);
}

int MonthNumber(const QString& text)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok) return number >= 1 && number <= 12 ? number : 0;
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    const QString lower = text.left(3).toLower();
    for (int i = 0; i < 12; ++i)
        if (lower == QLatin1String(names[i])) return i + 1;
    return 0;
}

// Dates as other tools write them: BibTeX-style year and month, or a PDF-style
// "D:YYYYMMDDHHmmSS" that converters carry over.
QString DateOf(const QHash<QString, QString>& fields, const char* key)
{
    QString text = fields.value(QLatin1String(key));
    if (text.startsWith(QLatin1String("D:"))) {
        text = text.mid(2);
        QString dashed = text.left(4);
        for (int at = 4; at + 2 <= 8 && at + 2 <= text.size() && text[at].isDigit(); at += 2)
            dashed += QLatin1Char('-') + text.mid(at, 2);
        text = dashed;
    }
    return NormalizeDate(text);
}

QString YearMonth(const QHash<QString, QString>& fields)
{
    const QString yearText = fields.value(QStringLiteral("year"));
    bool ok = false;
    const int year = yearText.toInt(&ok);
    if (!ok || year < 1 || year > 9999) return {};
    QString date = QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0'));
    if (const int month = MonthNumber(fields.value(QStringLiteral("month"))))
        date += QStringLiteral("-%1").arg(month, 2, 10, QLatin1Char('0'));
    return date;
}

QString FirstOf(const QHash<QString, QString>& fields, std::initializer_list<const char*> keys)
{
    for (const char* key : keys)
        if (const QString value = fields.value(QLatin1String(key)); !value.isEmpty()) return value;
    return {};
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    TDjvuDocument djvu(fileName, abort);
    if (!djvu.IsOpen()) return 0;
    const int pages = ddjvu_document_get_pagenum(djvu.Document());

    // The document-wide annotation first, then the first page's: single-page files and
    // older tools keep the metadata there.
    QHash<QString, QString> fields;
    ReadMetadata(djvu.Annotations(DocumentAnnotations, 1), fields);
    if (fields.isEmpty() && pages > 0 && !djvu.Aborted())
        ReadMetadata(djvu.Annotations(ddjvu_document_get_pageanno, 0), fields);
    if (djvu.Aborted()) return 0;

    TBookInfo out = *info;
    QString title = fields.value(QStringLiteral("title"));
    if (title.isEmpty()) title = BookBaseName(fileName);
    PutText(&out, biTitle, title);
    const QString authors = fields.value(QStringLiteral("author"));
    PutText(&out, biAuthor, JoinAuthors(authors.split(QLatin1String(" and "))));
    PutText(&out, biPublisher, fields.value(QStringLiteral("publisher")));
    PutText(&out, biSubject, FirstOf(fields, {"subject", "booktitle", "series"}));
    PutText(&out, biKeywords, fields.value(QStringLiteral("keywords")));
    PutText(&out, biComment, FirstOf(fields, {"note", "description", "abstract", "annote"}), true);
    PutText(&out, biIdentifier, FirstOf(fields, {"isbn", "identifier"}));
    PutText(&out, biLanguage, FirstOf(fields, {"language", "lang"}));
    QString created = YearMonth(fields);
    if (created.isEmpty()) created = DateOf(fields, "creationdate");
    PutText(&out, biCreationDate, created);
    PutText(&out, biModificationDate, DateOf(fields, "moddate"));
    if (pages > 0) PutNumber(&out, biPageCount, pages);
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    TDjvuDocument djvu(fileName, abort);
    if (!djvu.IsOpen() || ddjvu_document_get_pagenum(djvu.Document()) < 1) return 0;

    // The page's size comes from its header alone; a page too large to decode is refused
    // before any of its image data is touched.
    ddjvu_pageinfo_t pageInfo{};
    ddjvu_status_t status = DDJVU_JOB_NOTSTARTED;
    if (!djvu.Wait(
            [&] {
                status = ddjvu_document_get_pageinfo(djvu.Document(), 0, &pageInfo);
                return status >= DDJVU_JOB_OK;
            },
            TDjvuDocument::TNeed::Page) ||
        status != DDJVU_JOB_OK)
        return 0;
    if (pageInfo.width <= 0 || pageInfo.height <= 0 ||
        qint64(pageInfo.width) * pageInfo.height > MaxPagePixels)
        return 0;

    ddjvu_page_t* page = ddjvu_page_create_by_pageno(djvu.Document(), 0);
    if (!page) return 0;
    djvu.Wait([&] { return ddjvu_page_decoding_done(page); }, TDjvuDocument::TNeed::Page);
    QImage image;
    // A damaged page still renders what was decoded of it; only a stop gives up at once.
    if (!djvu.Aborted()) {
        const QSize full(ddjvu_page_get_width(page), ddjvu_page_get_height(page));
        const QSize size = FitInside(full, WantedSize(thumbnail));
        if (size.isValid() && !size.isEmpty()) {
            image = QImage(size, QImage::Format_RGB32);
            unsigned int masks[4] = {0x00ff0000u, 0x0000ff00u, 0x000000ffu, 0xff000000u};
            ddjvu_format_t* format = ddjvu_format_create(DDJVU_FORMAT_RGBMASK32, 4, masks);
            ddjvu_format_set_row_order(format, 1);
            ddjvu_format_set_y_direction(format, 1);
            ddjvu_rect_t rect{0, 0, static_cast<unsigned>(size.width()),
                              static_cast<unsigned>(size.height())};
            if (!ddjvu_page_render(page, DDJVU_RENDER_COLOR, &rect, &rect, format,
                                   static_cast<unsigned long>(image.bytesPerLine()),
                                   reinterpret_cast<char*>(image.bits())))
                image = QImage();
            ddjvu_format_release(format);
        }
    }
    ddjvu_job_stop(ddjvu_page_job(page));
    ddjvu_page_release(page);
    if (image.isNull()) return 0;
    return PutThumbnail(thumbnail, image) ? 1 : 0;
}
