#include "ZipLoader.h"

#include "Codec936.h"
#include "zelk.h"

#include <QFile>
#include <QIODevice>

TZipLoader::TZipLoader(const QString& path, const QString& password)
{
    const QByteArray nativePath = QFile::encodeName(path);
    const QByteArray secret = Cp936::FromUnicode(password);
    FHandle = Open(nativePath.constData(), secret.constData());
    if (!FHandle)
        throw EArchiveError(QStringLiteral("Load archive \"%1\" failed").arg(path).toStdString());
}

TZipLoader::~TZipLoader()
{
    Close(FHandle);
}

bool TZipLoader::Exists(const QString& name) const
{
    return ::Exists(FHandle, name.toUtf8().constData()) != 0;
}

namespace {

struct TSink
{
    QIODevice* Device;
    qint64 Written = 0;
};

size_t WriteToDevice(void* context, const void* data, size_t size)
{
    auto* sink = static_cast<TSink*>(context);
    if (sink->Written + static_cast<qint64>(size) > TZipLoader::MaxEntrySize) return 0;
    const qint64 n = sink->Device->write(static_cast<const char*>(data), static_cast<qint64>(size));
    if (n < 0) return 0;
    sink->Written += n;
    return static_cast<size_t>(n);
}

} // namespace

bool TZipLoader::Extract(const QString& name, QIODevice& stream) const
{
    TSink sink{&stream};
    ZelkStream zelkStream{&sink, &WriteToDevice};
    return (::Extract(FHandle, name.toUtf8().constData(), &zelkStream) & 0xFF) != 0;
}
