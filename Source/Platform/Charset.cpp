#include "Charset.h"

#include "Codec936.h"

#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

QByteArray Normalised(const QByteArray& name)
{
    return name.trimmed().toLower();
}

bool IsGbkFamily(const QByteArray& n)
{
    return n == "gbk" || n == "gb2312" || n == "gb18030" || n == "cp936" || n == "x-gbk" ||
           n == "euc-cn" || n == "windows-936" || n == "ms936" || n == "csgb2312";
}

// Any other set the C library knows. Invalid input bytes become U+FFFD, one per byte.
bool DecodeWithIconv(const QByteArray& bytes, const QByteArray& name, QString& out)
{
    iconv_t cd = iconv_open("UTF-8", name.constData());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    QByteArray utf8;
    utf8.resize(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    size_t used = 0;
    while (inLeft > 0) {
        char* dst = utf8.data() + used;
        size_t dstLeft = static_cast<size_t>(utf8.size()) - used;
        const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        used = static_cast<size_t>(dst - utf8.data());
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            utf8.resize(utf8.size() * 2);
            continue;
        }
        if (static_cast<size_t>(utf8.size()) - used < 8) utf8.resize(utf8.size() * 2);
        memcpy(utf8.data() + used, "\xEF\xBF\xBD", 3);
        used += 3;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    utf8.resize(static_cast<qsizetype>(used));
    out = QString::fromUtf8(utf8);
    return true;
}

} // namespace

namespace Charset {

bool IsKnown(const QByteArray& name)
{
    const QByteArray n = Normalised(name);
    if (n.isEmpty()) return false;
    if (IsGbkFamily(n) || QStringConverter::encodingForName(n.constData())) return true;
    iconv_t cd = iconv_open("UTF-8", n.constData());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

QString Decode(const QByteArray& bytes, const QByteArray& name)
{
    const QByteArray n = Normalised(name);
    if (n.isEmpty() || IsGbkFamily(n)) return Cp936::ToUnicode(bytes);
    if (auto encoding = QStringConverter::encodingForName(n.constData())) {
        QStringDecoder decoder(*encoding);
        return decoder.decode(bytes);
    }
    QString text;
    if (DecodeWithIconv(bytes, n, text)) return text;
    return Cp936::ToUnicode(bytes);
}

} // namespace Charset
