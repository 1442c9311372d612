#include "Globals.h"

#include <QByteArray>

TProcessSettings& ProcessSettings()
{
    static TProcessSettings settings;
    return settings;
}

QByteArray UnscrambleServerAddress(const QByteArray& base64)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok) return {};
    const QByteArray& data = decoded.decoded;
    if (data.size() < 2) return {};
    quint16 key =
        static_cast<quint8>(data[0]) | static_cast<quint16>(static_cast<quint8>(data[1]) << 8);
    const QByteArray payload = data.mid(2);
    const qsizetype count = payload.size() % 256;
    QByteArray plain;
    plain.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const quint8 b = static_cast<quint8>(payload[i]);
        plain.append(static_cast<char>(b ^ static_cast<quint8>(key >> 8)));
        key = static_cast<quint16>((key + b) * 0x3B57 + 0x5E29);
    }
    return plain;
}
