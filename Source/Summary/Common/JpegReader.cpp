#include "JpegReader.h"

#include "SummaryCommon.h"

#include <QIODevice>
#include <QTransform>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace Summary {

namespace {

// The limits DecodeScaled applies to every picture.
constexpr JDIMENSION MaxSide = 30000;
constexpr long MaxDecoderMemory = 128L << 20;
constexpr qint64 MaxPixelBytes = qint64(128) << 20;
constexpr qint64 DeviceBlock = 64 * 1024;

// libjpeg's fatal errors leave by longjmp to the setjmp of the phase that is running. Only the
// small functions below call setjmp, and nothing between them and libjpeg owns anything a
// destructor would have to release.
struct TError
{
    jpeg_error_mgr Manager;
    jmp_buf Jump;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    longjmp(reinterpret_cast<TError*>(info->err)->Jump, 1);
}

// Warnings (corrupt data the decoder skips, a stream cut short) are not fatal and not shown.
void OnMessage(j_common_ptr, int) {}

// A device read a block at a time.
struct TDeviceSource
{
    jpeg_source_mgr Manager;
    QIODevice* Device;
    std::vector<JOCTET> Block;
};

const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<TDeviceSource*>(info->src);
    const qint64 got =
        source->Device->read(reinterpret_cast<char*>(source->Block.data()), DeviceBlock);
    if (got <= 0) {
        // The stream ends early: an end marker lets the decoder finish with what it has.
        WARNMS(info, JWRN_JPEG_EOF);
        source->Manager.next_input_byte = EndOfImage;
        source->Manager.bytes_in_buffer = sizeof EndOfImage;
        return TRUE;
    }
    source->Manager.next_input_byte = source->Block.data();
    source->Manager.bytes_in_buffer = size_t(got);
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count)
{
    if (count <= 0) return;
    jpeg_source_mgr* source = info->src;
    while (size_t(count) > source->bytes_in_buffer) {
        count -= long(source->bytes_in_buffer);
        FillInput(info);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

// The decoder's structures, freed however the reading ends.
struct TJpeg
{
    jpeg_decompress_struct Info{};
    TError Error{};
    bool Created = false;
    ~TJpeg()
    {
        if (Created) jpeg_destroy_decompress(&Info);
    }
};

bool ReadHeader(TJpeg* jpeg)
{
    if (setjmp(jpeg->Error.Jump)) return false;
    // Only the EXIF block is kept, for the orientation.
    jpeg_save_markers(&jpeg->Info, JPEG_APP0 + 1, 0xFFFF);
    return jpeg_read_header(&jpeg->Info, TRUE) == JPEG_HEADER_OK;
}

// Chooses the smallest scale whose output covers `target` (as decoded, before turning) and
// starts decoding to 32-bit pixels.
bool Start(TJpeg* jpeg, int targetWidth, int targetHeight)
{
    if (setjmp(jpeg->Error.Jump)) return false;
    jpeg_decompress_struct& info = jpeg->Info;
    info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRA : JCS_EXT_ARGB;
    // The fast integer transform and plain chroma upsampling: the picture is shrunk further
    // to a thumbnail, where neither difference shows.
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.scale_denom = 8;
    for (const unsigned int num : {1u, 2u, 4u, 8u}) {
        info.scale_num = num;
        jpeg_calc_output_dimensions(&info);
        if (int(info.output_width) >= targetWidth && int(info.output_height) >= targetHeight)
            break;
    }
    return jpeg_start_decompress(&info) != 0;
}

bool ReadRows(TJpeg* jpeg, uchar* bits, qsizetype stride)
{
    if (setjmp(jpeg->Error.Jump)) return false;
    jpeg_decompress_struct& info = jpeg->Info;
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[4];
        const JDIMENSION first = info.output_scanline;
        const JDIMENSION count = qMin<JDIMENSION>(4, info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + stride * qsizetype(first + i);
        if (jpeg_read_scanlines(&info, rows, count) == 0) return false;
    }
    return true;
}

quint32 Read16(const JOCTET* at, bool big)
{
    return big ? quint32(at[0] << 8 | at[1]) : quint32(at[1] << 8 | at[0]);
}

quint32 Read32(const JOCTET* at, bool big)
{
    return big ? Read16(at, true) << 16 | Read16(at + 2, true)
               : Read16(at + 2, false) << 16 | Read16(at, false);
}

// The EXIF orientation (1 to 8) of the first IFD, 1 when there is none.
int Orientation(const jpeg_decompress_struct& info)
{
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1 || marker->data_length < 14 ||
            std::memcmp(marker->data, "Exif\0\0", 6) != 0)
            continue;
        const JOCTET* tiff = marker->data + 6;
        const quint32 size = marker->data_length - 6;
        bool big;
        if (tiff[0] == 'M' && tiff[1] == 'M')
            big = true;
        else if (tiff[0] == 'I' && tiff[1] == 'I')
            big = false;
        else
            continue;
        if (Read16(tiff + 2, big) != 42) continue;
        const quint32 ifd = Read32(tiff + 4, big);
        if (ifd > size - 2) continue;
        const quint32 entries = Read16(tiff + ifd, big);
        for (quint32 i = 0; i < entries; ++i) {
            const quint32 at = ifd + 2 + 12 * i;
            if (size < 12 || at > size - 12) break;
            // Tag 0x0112, a SHORT.
            if (Read16(tiff + at, big) != 0x0112 || Read16(tiff + at + 2, big) != 3) continue;
            const quint32 value = Read16(tiff + at + 8, big);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

// Turns the decoded picture upright, as Qt's reader does: mirror or flip, then a quarter turn.
QImage Oriented(QImage image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

TJpegRead Read(TJpeg& jpeg, const QSize& box, QImage& image)
{
    image = QImage();
    if (!ReadHeader(&jpeg)) return TJpegRead::Failed;
    jpeg_decompress_struct& info = jpeg.Info;
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB: break;
    default: return TJpegRead::NotHandled;
    }
    if (info.image_width == 0 || info.image_height == 0 || info.image_width > MaxSide ||
        info.image_height > MaxSide)
        return TJpegRead::Failed;

    const int orientation = Orientation(info);
    const bool turned = orientation >= 5;
    const QSize stored(int(info.image_width), int(info.image_height));
    const QSize upright = turned ? stored.transposed() : stored;
    QSize target = FitInside(upright, box);
    if (!target.isValid()) target = upright;
    if (turned) target.transpose();
    if (!Start(&jpeg, target.width(), target.height())) return TJpegRead::Failed;

    const QSize decoded(int(info.output_width), int(info.output_height));
    if (qint64(decoded.width()) * decoded.height() * 4 > MaxPixelBytes) return TJpegRead::Failed;
    QImage pixels(decoded, QImage::Format_RGB32);
    if (pixels.isNull()) return TJpegRead::Failed;
    if (!ReadRows(&jpeg, pixels.bits(), pixels.bytesPerLine())) return TJpegRead::Failed;
    image = Oriented(std::move(pixels), orientation);
    return TJpegRead::Decoded;
}

void SetUp(TJpeg& jpeg)
{
    jpeg.Info.err = jpeg_std_error(&jpeg.Error.Manager);
    jpeg.Error.Manager.error_exit = OnError;
    jpeg.Error.Manager.emit_message = OnMessage;
}

// Creating the decoder can fail too (out of memory): it gets a phase of its own.
bool Create(TJpeg* jpeg)
{
    if (setjmp(jpeg->Error.Jump)) return false;
    jpeg_create_decompress(&jpeg->Info);
    jpeg->Created = true;
    // Progressive pictures keep every coefficient while they are read: a hostile size ends
    // in an error instead of gigabytes.
    jpeg->Info.mem->max_memory_to_use = MaxDecoderMemory;
    return true;
}

} // namespace

bool IsJpeg(QByteArrayView head)
{
    return head.size() >= 3 && uchar(head[0]) == 0xFF && uchar(head[1]) == 0xD8 &&
           uchar(head[2]) == 0xFF;
}

TJpegRead ReadJpeg(QIODevice* device, const QSize& box, QImage& image)
{
    image = QImage();
    if (!device) return TJpegRead::Failed;
    TJpeg jpeg;
    SetUp(jpeg);
    if (!Create(&jpeg)) return TJpegRead::Failed;
    TDeviceSource source{};
    source.Device = device;
    source.Block.resize(DeviceBlock);
    source.Manager.init_source = InitSource;
    source.Manager.fill_input_buffer = FillInput;
    source.Manager.skip_input_data = SkipInput;
    source.Manager.resync_to_restart = jpeg_resync_to_restart;
    source.Manager.term_source = TermSource;
    jpeg.Info.src = &source.Manager;
    return Read(jpeg, box, image);
}

TJpegRead ReadJpeg(QByteArrayView bytes, const QSize& box, QImage& image)
{
    image = QImage();
    if (bytes.isEmpty()) return TJpegRead::Failed;
    TJpeg jpeg;
    SetUp(jpeg);
    if (!Create(&jpeg)) return TJpegRead::Failed;
    // The memory source ends a stream cut short with an end marker of its own.
    jpeg_mem_src(&jpeg.Info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    return Read(jpeg, box, image);
}

} // namespace Summary
