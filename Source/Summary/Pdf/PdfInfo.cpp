// PDF: the document information, the page count, the encryption flag and the first page as
// the thumbnail, through poppler.
#include "SummaryCommon.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace Summary;

namespace {

// poppler reports every damaged object on stderr; a book list full of odd PDFs would flood
// the terminal of whoever started the program.
void Quiet(const std::string&, void*) {}

struct TQuietPoppler
{
    TQuietPoppler() { poppler::set_debug_error_function(Quiet, nullptr); }
} quietPoppler;

QString Text(const poppler::ustring& text)
{
    const poppler::byte_array utf8 = text.to_utf8();
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).trimmed();
}

QDateTime Date(const poppler::document& document, const char* key)
{
    const time_t when = document.info_date_t(key);
    if (when == static_cast<time_t>(-1) || when <= 0) return {};
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(when));
}

std::unique_ptr<poppler::document> Open(const char* fileName)
{
    return std::unique_ptr<poppler::document>(poppler::document::load_from_file(fileName));
}

} // namespace

EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    if (!fileName || !info || Stopped(abort)) return 0;
    const std::unique_ptr<poppler::document> document = Open(fileName);
    if (!document || Stopped(abort)) return 0;
    TBookInfo out = *info;
    // A document that needs a password to open is encrypted even where poppler, not having
    // opened it, does not say so.
    out.Data[biEncrypted] = document->is_encrypted() || document->is_locked() ? 1 : 0;
    // A document locked by a password keeps its information to itself.
    if (!document->is_locked()) {
        PutText(&out, biTitle, Text(document->info_key("Title")));
        PutText(&out, biAuthor, Text(document->info_key("Author")));
        PutText(&out, biSubject, Text(document->info_key("Subject")));
        PutText(&out, biKeywords, Text(document->info_key("Keywords")));
        // The programs that made the file are the nearest a PDF has to a note about it.
        QStringList makers;
        for (const char* key : {"Creator", "Producer"}) {
            const QString maker = Text(document->info_key(key));
            if (!maker.isEmpty() && !makers.contains(maker)) makers << maker;
        }
        PutText(&out, biComment, makers.join(QStringLiteral(" / ")));
        PutNumber(&out, biPageCount, document->pages());
        PutDate(&out, biCreationDate, Date(*document, "CreationDate"));
        PutDate(&out, biModificationDate, Date(*document, "ModDate"));
    }
    std::memcpy(info, &out, sizeof out);
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    if (!fileName || !thumbnail || Stopped(abort)) return 0;
    const std::unique_ptr<poppler::document> document = Open(fileName);
    if (!document || document->is_locked() || document->pages() < 1 || Stopped(abort)) return 0;
    const std::unique_ptr<poppler::page> page(document->create_page(0));
    if (!page) return 0;
    const poppler::rectf box = page->page_rect(poppler::media_box);
    if (box.width() < 1 || box.height() < 1) return 0;
    const QSize wanted = WantedSize(thumbnail);
    // Twice the wanted size, then scaled down smoothly: sharper than rendering at the size.
    const double scale =
        2.0 * std::min(wanted.width() / box.width(), wanted.height() / box.height());
    const double dpi = std::clamp(72.0 * scale, 4.0, 300.0);
    poppler::page_renderer renderer;
    renderer.set_render_hints(poppler::page_renderer::antialiasing |
                              poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_argb32);
    const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
    if (!image.is_valid() || Stopped(abort)) return 0;
    const QImage picture(reinterpret_cast<const uchar*>(image.const_data()), image.width(),
                         image.height(), image.bytes_per_row(), QImage::Format_ARGB32);
    return PutThumbnail(thumbnail, picture) ? 1 : 0;
}
