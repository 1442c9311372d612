#include "FileNames.h"

#include <QFile>

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace FileNames {

namespace {

// A lone low surrogate from U+DC80 to U+DCFF stands for one byte; the same code unit after a
// high surrogate is half of a real character.
bool IsEscapeAt(const QString& text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

// The length of the valid UTF-8 sequence at `p` (at most `left` bytes), or 0.
int Utf8Length(const unsigned char* p, qsizetype left)
{
    const unsigned char c = p[0];
    int n;
    char32_t min;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < n) return 0;
    char32_t value = c & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are no valid UTF-8.
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return n;
}

} // namespace

QString Decode(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString out;
    out.reserve(size);
    qsizetype i = 0;
    while (i < size) {
        const int n = Utf8Length(p + i, size - i);
        if (n == 0) {
            // Only bytes from 0x80 up can be outside UTF-8: U+DC80 to U+DCFF.
            out += QChar(char16_t(0xDC00 + p[i]));
            ++i;
            continue;
        }
        out += QString::fromUtf8(bytes.constData() + i, n);
        i += n;
    }
    return out;
}

QByteArray Encode(const QString& path)
{
    if (!HasForeignBytes(path)) return path.toUtf8();
    QByteArray out;
    out.reserve(path.size() * 3);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !IsEscapeAt(path, i)) continue;
        out += QStringView(path).mid(start, i - start).toUtf8();
        if (i < path.size()) out += char(path[i].unicode() - 0xDC00);
        start = i + 1;
    }
    return out;
}

bool Exists(const QString& path)
{
    struct stat st;
    return stat(Encode(path).constData(), &st) == 0;
}

qint64 Size(const QString& path)
{
    struct stat st;
    return stat(Encode(path).constData(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
}

QString FromQtPath(const QString& qtPath)
{
    if (Exists(qtPath)) return qtPath;
    const qsizetype slash = qtPath.lastIndexOf(u'/');
    if (slash < 0) return qtPath;
    const QString folder = qtPath.left(slash);
    const QString name = qtPath.mid(slash + 1);
    DIR* dir = opendir(Encode(folder.isEmpty() ? QStringLiteral("/") : folder).constData());
    if (!dir) return qtPath;
    QString found = qtPath;
    while (dirent* entry = readdir(dir)) {
        if (QFile::decodeName(entry->d_name) == name) {
            found = folder + u'/' + Decode(entry->d_name);
            break;
        }
    }
    closedir(dir);
    return found;
}

bool LeadsBackUp(const QByteArray& link)
{
    char resolved[PATH_MAX];
    if (!realpath(link.constData(), resolved)) return false;
    const QByteArray target(resolved);
    const qsizetype slash = link.lastIndexOf('/');
    if (!realpath(slash > 0 ? link.left(slash).constData() : "/", resolved)) return false;
    const QByteArray folder(resolved);
    return target == "/" || folder == target || folder.startsWith(target + '/');
}

bool HasForeignBytes(const QString& path)
{
    for (qsizetype i = 0; i < path.size(); ++i)
        if (IsEscapeAt(path, i)) return true;
    return false;
}

} // namespace FileNames
