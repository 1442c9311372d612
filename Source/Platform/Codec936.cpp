#include "Codec936.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

// iconv descriptors keep shift state and are not safe to share between threads, so each thread
// opens its own pair once and keeps it.
class TIconv
{
public:
    TIconv(const char* to, const char* from) : FHandle(iconv_open(to, from)) {}
    ~TIconv()
    {
        if (Valid()) iconv_close(FHandle);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return FHandle; }

private:
    iconv_t FHandle;
};

iconv_t Encoder()
{
    thread_local TIconv cd("GB18030", "UTF-8");
    return cd.Valid() ? cd.Handle() : nullptr;
}

iconv_t Decoder()
{
    thread_local TIconv cd("UTF-8", "GB18030");
    return cd.Valid() ? cd.Handle() : nullptr;
}

// Runs the whole input through cd. On an invalid or truncated sequence `onBad` is appended to
// the output and the offending input byte is skipped.
QByteArray Convert(iconv_t cd, const char* data, size_t size, const QByteArray& onBad,
                   bool replaceEuro)
{
    QByteArray out;
    if (size == 0) return out;
    if (!cd) return QByteArray(data, static_cast<qsizetype>(size));
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.resize(static_cast<qsizetype>(size * 4 + 16));
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    size_t used = 0;
    while (inLeft > 0) {
        char* dst = out.data() + used;
        size_t dstLeft = static_cast<size_t>(out.size()) - used;
        size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        used = static_cast<size_t>(dst - out.data());
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL: replace one byte and resynchronise. Code page 936 as Windows has
        // it puts the euro sign at 0x80, which GB18030 leaves unassigned.
        const QByteArray replacement = (replaceEuro && static_cast<unsigned char>(*in) == 0x80)
                                           ? QByteArray("\xE2\x82\xAC")
                                           : onBad;
        if (static_cast<size_t>(out.size()) - used < static_cast<size_t>(replacement.size()) + 4)
            out.resize(out.size() * 2);
        memcpy(out.data() + used, replacement.constData(), static_cast<size_t>(replacement.size()));
        used += static_cast<size_t>(replacement.size());
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(static_cast<qsizetype>(used));
    return out;
}

} // namespace

namespace Cp936 {

QByteArray FromUnicode(const QString& text)
{
    // QString::toUtf8 already turns lone surrogates into '?', so the encoder only ever sees
    // valid UTF-8, all of which GB18030 can represent.
    const QByteArray utf8 = text.toUtf8();
    return Convert(Encoder(), utf8.constData(), static_cast<size_t>(utf8.size()), "?", false);
}

QString ToUnicode(const char* data, qsizetype size)
{
    if (!data || size <= 0) return {};
    return QString::fromUtf8(
        Convert(Decoder(), data, static_cast<size_t>(size), QByteArray("\xEF\xBF\xBD"), true));
}

} // namespace Cp936

bool DecodeCharset(const char* charset, const QByteArray& bytes, QString& out)
{
    TIconv cd("UTF-8", charset);
    if (!cd.Valid()) return false;
    out =
        QString::fromUtf8(Convert(cd.Handle(), bytes.constData(), static_cast<size_t>(bytes.size()),
                                  QByteArray("\xEF\xBF\xBD"), false));
    return true;
}
