#include "FileNames.h"

#include "Codec936.h"

#include <QStringList>

namespace FileNames {

QString Display(const QString& path)
{
    if (!HasForeignBytes(path)) return path;
    QString out;
    const QStringList parts = path.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) out += u'/';
        out += HasForeignBytes(parts[i]) ? Cp936::ToUnicode(Encode(parts[i])) : parts[i];
    }
    return out;
}

} // namespace FileNames
