#include "DeviceStream.h"

#include "AtomicFile.h"
#include "Codec936.h"
#include "Folders.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

#include <QBitmap>
#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace {

int RetryWaitMs = 3000;

constexpr int ExtractionAttempts = 4;
constexpr int CopyAttempts = 4;
constexpr qint64 CopyBlockSize = 262144;
constexpr qint64 ExtractChunkSize = 65536;

const QString WorkFileName = QStringLiteral("updatepackage.bin");

// Closes what a file descriptor or archive holder owns on every way out.
struct TFd
{
    int Fd = -1;
    ~TFd()
    {
        if (Fd >= 0) ::close(Fd);
    }
};

struct TArchive
{
    zip_t* Zip = nullptr;
    zip_file_t* Entry = nullptr;
    ~TArchive()
    {
        if (Entry) zip_fclose(Entry);
        if (Zip) zip_discard(Zip);
    }
};

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

// Reads up to count bytes, retrying interrupted and short reads; -1 on an error.
qint64 ReadFull(int fd, char* buffer, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, buffer + done, static_cast<size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

enum class TStep
{
    Done,  // the step succeeded
    Retry, // this attempt failed; another may follow
    Abort, // the whole write ends with failure
};

// One extraction attempt of the ".pkg" entry into the working file.
TStep Extract(TFirmwareHost& host, quint16 readerCode, const QString& packageFile,
              const QString& workFile, int remainingSeconds, qint64& payloadSize)
{
    host.ShowInstallingIcon();
    TArchive archive;
    int error = 0;
    archive.Zip = zip_open(Native(packageFile).constData(), ZIP_RDONLY, &error);
    if (!archive.Zip) return TStep::Abort;

    const QString entryName =
        Folders::ChangeFileExt(QFileInfo(packageFile).fileName(), QStringLiteral(".pkg"));
    zip_int64_t index = zip_name_locate(archive.Zip, entryName.toUtf8().constData(), 0);
    // Archives made without the UTF-8 flag carry their names in code page 936; their stored
    // bytes are compared as they are.
    if (index < 0) {
        const QByteArray wanted = Cp936::FromUnicode(entryName);
        const zip_int64_t count = zip_get_num_entries(archive.Zip, 0);
        for (zip_int64_t i = 0; i < count && index < 0; ++i) {
            const char* raw =
                zip_get_name(archive.Zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (raw && wanted == raw) index = i;
        }
    }
    if (index < 0) return TStep::Abort;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.Zip, static_cast<zip_uint64_t>(index), 0, &stat) != 0)
        return TStep::Abort;
    const qint64 total = (stat.valid & ZIP_STAT_SIZE) ? static_cast<qint64>(stat.size) : qint64(0);

    TDeviceStream stream(workFile);
    if (!stream.IsOpen()) return TStep::Abort;
    stream.SetReaderCode(readerCode);

    archive.Entry = zip_fopen_index(archive.Zip, static_cast<zip_uint64_t>(index), 0);
    if (!archive.Entry) return TStep::Abort;
    std::vector<char> buffer(ExtractChunkSize);
    qint64 read = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(archive.Entry, buffer.data(), buffer.size());
        // A damaged entry (bad data or checksum) is an unreadable archive, not a bad attempt.
        if (n < 0) return TStep::Abort;
        if (n == 0) break;
        stream.Write(buffer.data(), n);
        read += n;
        const double archivePercent = total > 0 ? std::min(100.0, 100.0 * read / total) : 0.0;
        host.ShowProgress(archivePercent * 0.1, remainingSeconds);
        // Without a declared length the image can never pass the size check; inflating the
        // rest of the entry would only fill the disk.
        if (stream.HeaderDone() && stream.PayloadSize <= 0) return TStep::Abort;
        if (stream.PayloadDone()) {
            // The rest is dropped anyway, so it is not inflated. One more read: an entry that
            // ends here has its checksum checked by it.
            if (zip_fread(archive.Entry, buffer.data(), buffer.size()) < 0) return TStep::Abort;
            break;
        }
    }
    payloadSize = stream.PayloadSize;
    const bool closed = stream.Close();
    if (!closed) return TStep::Retry;
    return QFileInfo(workFile).size() == payloadSize ? TStep::Done : TStep::Retry;
}

// The remaining-time estimate of the copy, sampled about once a second.
struct TRemaining
{
    int Seconds = 600;
    QElapsedTimer Clock;
    qint64 LastSampleMs = -1; // no sample yet: the first block takes one
    qint64 LastSampleBytes = 0;
};

// One copy attempt of the working file to `partFile`, which is flushed to the device.
TStep Copy(TFirmwareHost& host, const QString& workFile, const QString& partFile,
           TRemaining& remaining)
{
    struct TLabel
    {
        TFirmwareHost& Host;
        explicit TLabel(TFirmwareHost& host) : Host(host) { Host.ShowRemainingTime(true); }
        ~TLabel() { Host.ShowRemainingTime(false); }
    } label(host);

    TFd source;
    source.Fd = ::open(Native(workFile).constData(), O_RDONLY | O_CLOEXEC);
    if (source.Fd < 0) return TStep::Abort;
    TFd target;
    target.Fd =
        ::open(Native(partFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (target.Fd < 0) return TStep::Abort;
    struct stat info;
    if (::fstat(source.Fd, &info) != 0) return TStep::Retry;
    const qint64 size = info.st_size;
    if (size == 0) return TStep::Done;

    // A new attempt starts counting from nothing; the clock keeps running across attempts.
    remaining.LastSampleBytes = 0;
    std::vector<char> block(CopyBlockSize);
    qint64 copied = 0;
    for (;;) {
        const qint64 n = ReadFull(source.Fd, block.data(), CopyBlockSize);
        if (n < 0) return TStep::Retry;
        if (n == 0) break;
        copied += n;
        const qint64 now = remaining.Clock.elapsed();
        if (remaining.LastSampleMs < 0 || now - remaining.LastSampleMs > 1000) {
            const qint64 d = copied - remaining.LastSampleBytes;
            if (d != 0) remaining.Seconds = static_cast<int>((size - copied) / d);
            remaining.LastSampleMs = now;
            remaining.LastSampleBytes = copied;
        }
        host.ShowProgress(10.0 + 90.0 * static_cast<double>(copied) / size, remaining.Seconds);
        if (!WriteAll(target.Fd, block.data(), static_cast<size_t>(n))) return TStep::Retry;
    }
    if (copied != size) return TStep::Retry;
    // The image must be on the device, not in the page cache, before it is checked.
    if (::fsync(target.Fd) != 0) return TStep::Retry;
    return TStep::Done;
}

// True when `copy`, read back from the device, holds exactly the bytes of `original`.
bool SameBytes(const QString& original, const QString& copy)
{
    TFd a, b;
    a.Fd = ::open(Native(original).constData(), O_RDONLY | O_CLOEXEC);
    b.Fd = ::open(Native(copy).constData(), O_RDONLY | O_CLOEXEC);
    if (a.Fd < 0 || b.Fd < 0) return false;
    // Drop the cached pages so the comparison reads what the device holds.
    ::posix_fadvise(b.Fd, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> x(CopyBlockSize), y(CopyBlockSize);
    for (;;) {
        const qint64 n = ReadFull(a.Fd, x.data(), CopyBlockSize);
        const qint64 m = ReadFull(b.Fd, y.data(), CopyBlockSize);
        if (n < 0 || m < 0 || n != m) return false;
        if (n == 0) return true;
        if (std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0) return false;
    }
}

// Makes the rename of the finished image durable as well.
void SyncFolder(const QString& folder)
{
    TFd dir;
    dir.Fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.Fd >= 0) ::fsync(dir.Fd);
}

} // namespace

TDeviceStream::TDeviceStream(const QString& fileName) : FFile(fileName)
{
    FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

TDeviceStream::~TDeviceStream()
{
    FFile.close();
}

bool TDeviceStream::IsOpen() const
{
    return FFile.isOpen();
}

void TDeviceStream::SetReaderCode(quint16 readerCode)
{
    switch (readerCode) {
    case 1:
    case 0x5600:
    case 0x5602:
        Skip = 0;
        break;
    case 2:
        Skip = 16;
        break;
    default:
        // Every other code also uses 16, which Skip holds from the start.
        break;
    }
}

qint64 TDeviceStream::Write(const char* data, qint64 count)
{
    if (count <= 0) return std::max<qint64>(count, 0);
    const char* bytes = data;
    qint64 left = count;
    if (!FHeaderDone) {
        const qint64 headerSize = qint64(Skip) + 24;
        const qint64 take = std::min(left, headerSize - FHeader.size());
        FHeader.append(bytes, take);
        bytes += take;
        left -= take;
        if (FHeader.size() < headerSize) return count;
        const auto* length = reinterpret_cast<const uchar*>(FHeader.constData()) + Skip + 20;
        const quint32 raw = quint32(length[0]) | quint32(length[1]) << 8 |
                            quint32(length[2]) << 16 | quint32(length[3]) << 24;
        PayloadSize = static_cast<qint32>(raw);
        FHeaderDone = true;
        FHeader.clear();
    }
    if (PayloadSize > 0) left = std::min(left, std::max<qint64>(PayloadSize - Written, 0));
    if (left > 0 && !FFailed) {
        const qint64 n = FFile.write(bytes, left);
        if (n != left) FFailed = true;
        if (n > 0) Written += n;
    }
    return count;
}

bool TDeviceStream::Close()
{
    if (!FFile.isOpen()) return false;
    const bool flushed = FFile.flush();
    FFile.close();
    return flushed && !FFailed && FFile.error() == QFileDevice::NoError;
}

quint16 FirmwareReaderCode(const QString& packageFile, quint16 readerCode)
{
    if (QFileInfo(packageFile).fileName().toLower().contains(QLatin1String("zt330"))) return 1;
    return readerCode;
}

QString FirmwareFolderName(quint16 readerCode, int versionNumber)
{
    if ((readerCode == 0x5600 && versionNumber < 136) ||
        (readerCode == 0x5602 && versionNumber < 219))
        return QStringLiteral("xal");
    return QStringLiteral("_sys_");
}

QString FirmwareTargetFile(const QString& readerRoot, quint16 readerCode, int versionNumber)
{
    return Folders::IncludeTrailingSlash(readerRoot) +
           FirmwareFolderName(readerCode, versionNumber) +
           QStringLiteral("/update/updatepackage.bin");
}

void SetFirmwareRetryWait(int ms)
{
    RetryWaitMs = std::max(ms, 0);
}

QString FirmwareWorkFolder()
{
    // The system's temporary folder is shared by every user, so a fixed file name in it could
    // be a link planted by someone else; the working file lives in a folder of our own.
    // (Read directly: QDir::tempPath() is empty while the folder does not exist.)
    QString temp = QDir::cleanPath(qEnvironmentVariable("TMPDIR"));
    if (temp.isEmpty() || temp == QLatin1String(".")) temp = QStringLiteral("/tmp");
    if (!QDir().mkpath(temp)) return QString();
    const QString folder = temp + QStringLiteral("/korvel-") + QString::number(::getuid());
    const QByteArray native = Native(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return QString();
    struct stat info;
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        return QString();
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0) return QString();
    return folder + QLatin1Char('/');
}

bool WriteImage(TFirmwareHost& host, quint16 readerCode, const QString& packageFile,
                const QString& targetFile)
{
    const QString workFolder = FirmwareWorkFolder();
    if (workFolder.isEmpty()) return false;
    const QString workFile = workFolder + WorkFileName;
    // The working file never outlives this call, whatever the outcome.
    struct TCleanup
    {
        QString File;
        ~TCleanup() { QFile::remove(File); }
    } cleanup{workFile};

    qint64 payloadSize = 0;
    bool extracted = false;
    for (int attempt = 1; attempt <= ExtractionAttempts; ++attempt) {
        const TStep step = Extract(host, readerCode, packageFile, workFile, 600, payloadSize);
        if (step == TStep::Abort) return false;
        if (step == TStep::Done) {
            extracted = true;
            break;
        }
        if (attempt < ExtractionAttempts) host.Wait(RetryWaitMs);
    }
    if (!extracted) return false;

    // The image is written beside its final name and renamed only once it is verified, so the
    // reader never finds a partial or damaged image under the name it applies at restart.
    const QFileInfo target(targetFile);
    if (!QDir().mkpath(target.absolutePath())) return false;
    const QString partFile =
        target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".part");
    struct TPartCleanup
    {
        QString File;
        bool Keep = false;
        ~TPartCleanup()
        {
            if (!Keep) QFile::remove(File);
        }
    } partCleanup{partFile};

    TRemaining remaining;
    remaining.Clock.start();
    bool copied = false;
    for (int attempt = 1; attempt <= CopyAttempts; ++attempt) {
        const TStep step = Copy(host, workFile, partFile, remaining);
        if (step == TStep::Abort) return false;
        if (step == TStep::Done) {
            copied = true;
            break;
        }
        if (attempt < CopyAttempts) host.Wait(RetryWaitMs);
    }
    if (!copied) return false;

    const qint64 size = QFileInfo(partFile).size();
    if (size <= 0 || size != payloadSize || !SameBytes(workFile, partFile)) return false;
    if (std::rename(Native(partFile).constData(), Native(targetFile).constData()) != 0)
        return false;
    partCleanup.Keep = true;
    SyncFolder(target.absolutePath());
    return true;
}

QFont FirmwareProgressFont(const QString& text, const QSize& box)
{
    // Whatever face stands in for the one asked for (and how wide it is) decides the size: the
    // largest one whose drawn text fits, so the text is never cut at the icon's edges.
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setStyleStrategy(QFont::NoAntialias);
    constexpr int SmallestPixels = 4;
    for (int pixels = std::max(box.height(), SmallestPixels); pixels >= SmallestPixels; --pixels) {
        font.setPixelSize(pixels);
        const QRect ink = QFontMetrics(font).tightBoundingRect(text);
        if (ink.width() <= box.width() && ink.height() <= box.height()) break;
    }
    return font;
}

QIcon FirmwareProgressIcon(double percent, const QSize& size)
{
    const double p = std::clamp(percent, 0.0, 100.0);
    const QColor key(255, 0, 255);
    QImage image(size, QImage::Format_RGB32);
    image.fill(key);
    {
        QPainter painter(&image);
        // Hard edges only: a blended edge would keep a magenta tint once the key is removed.
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        const int w = size.width();
        const int h = size.height();
        const int half = h / 2;

        // The text's ink, not its line box, is centred in the upper half: a line box is taller
        // than the few pixels there.
        const QString text = QString::number(qRound(p)) + QLatin1Char('%');
        const QRect area(0, 0, w, half);
        const QFont font = FirmwareProgressFont(text, area.size());
        const QRect ink = QFontMetrics(font).tightBoundingRect(text);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.setClipRect(area);
        painter.drawText(
            QPoint((w - ink.width()) / 2 - ink.left(), (half - ink.height()) / 2 - ink.top()),
            text);
        painter.setClipping(false);

        const QRect box(0, half, w, h - half);
        painter.fillRect(box, Qt::white);
        const QRect inner = box.adjusted(1, 1, -1, -1);
        const int fill = static_cast<int>(inner.width() * p / 100.0 + 0.5);
        if (fill > 0 && inner.height() > 0)
            painter.fillRect(QRect(inner.left(), inner.top(), fill, inner.height()),
                             QColor(0, 128, 0));
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(key.rgb(), Qt::MaskInColor)));
    return QIcon(pixmap);
}
