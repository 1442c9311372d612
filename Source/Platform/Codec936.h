#pragma once

#include <QByteArray>
#include <QString>

// The system stores and exchanges text in code page 936. On disk we write GB18030: it has the
// same bytes as GBK for every GBK character and can still encode everything else, so no
// character a user types is ever lost. In memory every text is a QString.
namespace Cp936 {

// Encodes to GB18030. Unpaired surrogates become '?'.
QByteArray FromUnicode(const QString& text);

// Decodes GB18030 (and so GBK and ASCII). A byte sequence that is not valid becomes U+FFFD and
// decoding goes on with the next byte.
QString ToUnicode(const char* data, qsizetype size);
inline QString ToUnicode(const QByteArray& bytes)
{
    return ToUnicode(bytes.constData(), bytes.size());
}

} // namespace Cp936

// Decodes `bytes` from any character set iconv knows by `charset`, invalid bytes becoming
// U+FFFD one by one as above. False (and `out` untouched) when iconv does not know the name.
bool DecodeCharset(const char* charset, const QByteArray& bytes, QString& out);
