#include "ZipReader.h"

#include "SummaryCommon.h"

#include <QRegularExpression>
#include <QUrl>

#include <zip.h>

namespace Summary {

TZipReader::TZipReader(const char* fileName)
{
    int error = 0;
    FZip = zip_open(fileName, ZIP_RDONLY, &error);
    if (!FZip) return;
    const zip_int64_t count = zip_get_num_entries(FZip, 0);
    for (zip_int64_t i = 0; i < count && i < MaxEntries; ++i) {
        const char* name = zip_get_name(FZip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        FNames << (name ? QString::fromUtf8(name) : QString());
    }
}

TZipReader::~TZipReader()
{
    if (FZip) zip_discard(FZip);
}

qsizetype TZipReader::IndexOf(const QString& name, Qt::CaseSensitivity cs) const
{
    for (qsizetype i = 0; i < FNames.size(); ++i)
        if (FNames[i].compare(name, cs) == 0) return i;
    return -1;
}

bool TZipReader::Read(qsizetype index, QByteArray& bytes, qint64 limit, TAbortQuery abort) const
{
    bytes.clear();
    if (!FZip || index < 0 || index >= FNames.size()) return false;
    zip_file_t* file = zip_fopen_index(FZip, static_cast<zip_uint64_t>(index), 0);
    if (!file) return false;
    constexpr qint64 chunk = 256 * 1024;
    bool ok = true;
    for (;;) {
        if (Stopped(abort) || bytes.size() > limit) {
            ok = false;
            break;
        }
        const qsizetype used = bytes.size();
        bytes.resize(used + chunk);
        const zip_int64_t got = zip_fread(file, bytes.data() + used, chunk);
        if (got < 0) {
            ok = false;
            break;
        }
        bytes.resize(used + got);
        if (got == 0) break;
    }
    zip_fclose(file);
    if (!ok || bytes.size() > limit) {
        bytes.clear();
        return false;
    }
    return true;
}

bool TZipReader::Read(const QString& name, QByteArray& bytes, qint64 limit, TAbortQuery abort) const
{
    return Read(IndexOf(name), bytes, limit, abort);
}

bool TZipReader::Stream(qsizetype index, const std::function<bool(QByteArrayView)>& sink,
                        TAbortQuery abort) const
{
    if (!FZip || index < 0 || index >= FNames.size()) return false;
    zip_file_t* file = zip_fopen_index(FZip, static_cast<zip_uint64_t>(index), 0);
    if (!file) return false;
    QByteArray chunk(256 * 1024, Qt::Uninitialized);
    bool ok = false;
    for (;;) {
        if (Stopped(abort)) break;
        const zip_int64_t got =
            zip_fread(file, chunk.data(), static_cast<zip_uint64_t>(chunk.size()));
        if (got < 0) break;
        if (got == 0 || !sink(QByteArrayView(chunk.constData(), got))) {
            ok = true;
            break;
        }
    }
    zip_fclose(file);
    return ok;
}

QString ResolveHref(const QString& base, const QString& href)
{
    QString path = href;
    const qsizetype cut = path.indexOf(QRegularExpression(QStringLiteral("[#?]")));
    if (cut >= 0) path.truncate(cut);
    path = QUrl::fromPercentEncoding(path.toUtf8());
    if (path.isEmpty()) return {};
    QStringList parts;
    if (!path.startsWith(QLatin1Char('/'))) {
        parts = base.split(QLatin1Char('/'));
        parts.removeLast(); // the base entry's own name
    }
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".")) continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty()) parts.removeLast();
        } else {
            parts << part;
        }
    }
    return parts.join(QLatin1Char('/'));
}

qsizetype TZipReader::Find(const QString& name) const
{
    if (name.isEmpty()) return -1;
    const qsizetype exact = IndexOf(name);
    return exact >= 0 ? exact : IndexOf(name, Qt::CaseInsensitive);
}

TZipCoverPicker::TZipCoverPicker(const TZipReader& zip, TThumbnailInfo* thumbnail,
                                 TAbortQuery abort)
    : FZip(zip), FThumbnail(thumbnail), FAbort(abort)
{
}

bool TZipCoverPicker::Try(const QString& name)
{
    if (FTries >= MaxTries || FTried.contains(name) || !MayDecodePicture(name)) return false;
    FTried.insert(name);
    const qsizetype index = FZip.Find(name);
    if (index < 0 || Stopped(FAbort)) return false;
    ++FTries;
    QByteArray bytes;
    return FZip.Read(index, bytes, MaxPartSize, FAbort) &&
           PutThumbnail(FThumbnail, DecodeScaled(bytes, WantedSize(FThumbnail)));
}

} // namespace Summary
