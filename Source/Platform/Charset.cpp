#include "Charset.h"

#include "Codec936.h"

#include <QStringDecoder>

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
    if (DecodeCharset(n.constData(), bytes, text)) return text;
    return Cp936::ToUnicode(bytes);
}

} // namespace Charset
