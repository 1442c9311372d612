#include "PngReader.h"

#include "SummaryCommon.h"

#include <QIODevice>
#include <QtEndian>

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace Summary {

namespace {

// The limits DecodeScaled applies to every picture.
constexpr png_uint_32 MaxSide = 30000;
constexpr qint64 MaxPixelBytes = qint64(128) << 20;
// No chunk the reader keeps (the palette, the transparency) comes near this.
constexpr png_alloc_size_t MaxChunkBytes = 1 << 20;

const unsigned char Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Where the bytes come from: a device, or memory.
struct TSource
{
    QIODevice* Device = nullptr;
    const uchar* Bytes = nullptr;
    size_t Size = 0;
    size_t Position = 0;
};

// libpng's callbacks leave by longjmp to the setjmp of the phase that is running. Only the
// small functions below call setjmp, and nothing between them and libpng owns anything a
// destructor would have to release.
[[noreturn]] void OnError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep out, size_t length)
{
    auto* source = static_cast<TSource*>(png_get_io_ptr(png));
    if (!source->Device) {
        if (source->Size - source->Position < length) png_error(png, "truncated");
        std::memcpy(out, source->Bytes + source->Position, length);
        source->Position += length;
        return;
    }
    while (length > 0) {
        const qint64 got = source->Device->read(reinterpret_cast<char*>(out), qint64(length));
        if (got <= 0) png_error(png, "truncated");
        out += got;
        length -= size_t(got);
    }
}

struct THeader
{
    png_uint_32 Width = 0;
    png_uint_32 Height = 0;
    bool Interlaced = false;
};

// Reads the chunks before the image data and sets up the conversion of every kind of PNG to
// 8-bit ARGB32 rows.
bool SetUp(png_structp png, png_infop info, TSource* source, THeader* header)
{
    png_set_read_fn(png, source, ReadBytes);
    png_set_user_limits(png, MaxSide, MaxSide);
    png_set_chunk_malloc_max(png, MaxChunkBytes);
    // Text, colour profiles and the like are never used for a cover: they are skipped unread,
    // so a compressed text chunk cannot make us inflate megabytes. (Transparency stays.)
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    // Some writers got the deflate window size wrong; Qt's reader accepts their files too.
    png_set_option(png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
    // Every chunk's CRC is checked already; zlib's own checksum of the inflated data costs a
    // tenth of the decoding and finds nothing more.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);

    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &header->Width, &header->Height, &depth, &colour, &interlace, nullptr,
                 nullptr);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    // Palettes, gray below 8 bits and transparency keys become plain channels; 16-bit
    // channels keep their high byte.
    png_set_expand(png);
    png_set_strip_16(png);
    if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    // QImage::Format_ARGB32 is one 32-bit word per pixel: B, G, R, A in memory on a
    // little-endian machine, A, R, G, B on a big-endian one.
    constexpr bool little = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    if (!(colour & PNG_COLOR_MASK_ALPHA) && !transparency)
        png_set_filler(png, 0xFF, little ? PNG_FILLER_AFTER : PNG_FILLER_BEFORE);
    if (little)
        png_set_bgr(png);
    else
        png_set_swap_alpha(png);
    header->Interlaced = png_set_interlace_handling(png) > 1;
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t(header->Width) * 4;
}

// False on any error. (The work is done in a function of its own: locals it changes while
// libpng runs are never read after the jump.)
bool ReadHeader(png_structp png, png_infop info, TSource* source, THeader* header)
{
    if (setjmp(png_jmpbuf(png))) return false;
    return SetUp(png, info, source, header);
}

bool ReadWhole(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

// Division by a fixed divisor up to MaxSide as a multiplication: exact (the same as `/`) for
// every dividend below 2^23, which holds 255 times any side.
struct TDivider
{
    explicit TDivider(quint32 divisor) : Factor(((quint64(1) << 38) + divisor - 1) / divisor) {}
    quint32 operator()(quint32 value) const { return quint32((value * Factor) >> 38); }
    quint64 Factor;
};

// Averages the picture down while its rows are read: each output pixel is the mean of the
// input area it covers, input pixels on a border shared by their overlap. Rows are averaged
// first (to whole values), then columns.
struct TShrink
{
    quint32 InWidth, InHeight, OutWidth, OutHeight;
    uchar* Row;          // the row just read: 4 x InWidth bytes
    quint32* Columns;    // the weighted sums of the rows read for the output row being made
    uchar* Averaged;     // those sums divided: 4 x InWidth bytes
    quint32* Sums;       // 4 x OutWidth weighted sums across
    const quint32* Into; // for each input column, the output column it starts in
    const quint32* Part; // and its weight there (the rest of OutWidth goes to the next column)
    uchar* Out;
    qsizetype OutStride;
};

void EmitRow(const TShrink* s, quint32 outRow)
{
    const quint32 channels = 4 * s->InWidth;
    const TDivider byHeight(s->InHeight), byWidth(s->InWidth);
    const quint32* __restrict columns = s->Columns;
    uchar* __restrict averaged = s->Averaged;
    for (quint32 i = 0; i < channels; ++i)
        averaged[i] = uchar(byHeight(columns[i]));
    quint32* __restrict sums = s->Sums;
    std::memset(sums, 0, 4 * size_t(s->OutWidth) * sizeof(quint32));
    for (quint32 x = 0; x < s->InWidth; ++x) {
        const uchar* in = averaged + 4 * x;
        quint32* sum = sums + 4 * s->Into[x];
        const quint32 part = s->Part[x];
        const quint32 rest = s->OutWidth - part;
        for (int k = 0; k < 4; ++k)
            sum[k] += part * in[k];
        if (rest)
            for (int k = 0; k < 4; ++k)
                sum[4 + k] += rest * in[k];
    }
    uchar* __restrict out = s->Out + s->OutStride * outRow;
    for (quint32 i = 0; i < 4 * s->OutWidth; ++i)
        out[i] = uchar(byWidth(sums[i]));
}

// Adds `weight` times the row to the sums (or sets them).
void Accumulate(quint32* __restrict sums, const uchar* __restrict row, quint32 count,
                quint32 weight, bool add)
{
    if (add)
        for (quint32 i = 0; i < count; ++i)
            sums[i] += weight * row[i];
    else
        for (quint32 i = 0; i < count; ++i)
            sums[i] = weight * row[i];
}

bool Shrink(png_structp png, const TShrink* s)
{
    // In units where an input row is OutHeight high and an output row InHeight: input row y
    // spans [y * OutHeight, (y + 1) * OutHeight). The picture is never enlarged, so a row
    // reaches into two output rows at most.
    const quint32 channels = 4 * s->InWidth;
    quint64 end = 0;
    quint64 boundary = s->InHeight;
    quint32 outRow = 0;
    std::memset(s->Columns, 0, channels * sizeof(quint32));
    for (quint32 y = 0; y < s->InHeight; ++y) {
        png_read_row(png, s->Row, nullptr);
        const quint64 start = end;
        end = start + s->OutHeight;
        if (end < boundary) {
            Accumulate(s->Columns, s->Row, channels, s->OutHeight, true);
            continue;
        }
        Accumulate(s->Columns, s->Row, channels, quint32(boundary - start), true);
        EmitRow(s, outRow++);
        Accumulate(s->Columns, s->Row, channels, quint32(end - boundary), false);
        boundary += s->InHeight;
    }
    return outRow == s->OutHeight;
}

bool ReadShrunk(png_structp png, const TShrink* s)
{
    if (setjmp(png_jmpbuf(png))) return false;
    return Shrink(png, s);
}

// The PNG structures, freed however the reading ends.
struct TPng
{
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPng() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

QImage Read(TSource& source, const QSize& box)
{
    TPng png;
    png.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!png.Png) return {};
    png.Info = png_create_info_struct(png.Png);
    if (!png.Info) return {};
    THeader header;
    if (!ReadHeader(png.Png, png.Info, &source, &header)) return {};

    const QSize size(int(header.Width), int(header.Height));
    QSize target = FitInside(size, box);
    if (!target.isValid()) target = size;

    if (header.Interlaced || target == size) {
        if (qint64(size.width()) * size.height() * 4 > MaxPixelBytes) return {};
        QImage image(size, QImage::Format_ARGB32);
        if (image.isNull()) return {};
        std::vector<png_bytep> rows(header.Height);
        for (int y = 0; y < size.height(); ++y)
            rows[size_t(y)] = image.scanLine(y);
        if (!ReadWhole(png.Png, rows.data())) return {};
        if (target == size) return image;
        return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_ARGB32);
    }

    QImage image(target, QImage::Format_ARGB32);
    if (image.isNull()) return {};
    const size_t inWidth = header.Width;
    const auto outWidth = quint32(target.width());
    std::vector<uchar> row(4 * inWidth), averaged(4 * inWidth);
    std::vector<quint32> columns(4 * inWidth), sums(4 * size_t(outWidth)), into(inWidth),
        part(inWidth);
    // Input column x spans [x * outWidth, (x + 1) * outWidth), output column c spans
    // [c * inWidth, (c + 1) * inWidth).
    for (size_t x = 0; x < inWidth; ++x) {
        const quint64 start = quint64(x) * outWidth;
        const quint64 column = start / inWidth;
        const quint64 boundary = (column + 1) * inWidth;
        into[x] = quint32(column);
        part[x] = quint32(qMin<quint64>(outWidth, boundary - start));
    }
    const TShrink shrink{header.Width, header.Height,  outWidth,        quint32(target.height()),
                         row.data(),   columns.data(), averaged.data(), sums.data(),
                         into.data(),  part.data(),    image.bits(),    image.bytesPerLine()};
    if (!ReadShrunk(png.Png, &shrink)) return {};
    return image;
}

} // namespace

bool IsPng(QByteArrayView head)
{
    return head.size() >= qsizetype(sizeof Signature) &&
           std::memcmp(head.data(), Signature, sizeof Signature) == 0;
}

QImage ReadPng(QIODevice* device, const QSize& box)
{
    if (!device) return {};
    TSource source;
    source.Device = device;
    return Read(source, box);
}

QImage ReadPng(QByteArrayView bytes, const QSize& box)
{
    TSource source;
    source.Bytes = reinterpret_cast<const uchar*>(bytes.data());
    source.Size = size_t(bytes.size());
    return Read(source, box);
}

} // namespace Summary
