// Draws the default skin's pictures and packs them with its text files into theme.zip. The
// archive is the same byte for byte on every run (fixed order, fixed times), so a rebuild that
// changes nothing leaves the program folder unchanged.

#include "AppIcon.h"
#include "BmpWriter.h"
#include "ThemePictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <zip.h>

#include <cstdio>
#include <map>
#include <string>

namespace {
// 2024-01-01 00:00 UTC: any fixed time will do.
constexpr time_t EntryTime = 1704067200;

// The text files of the skin, taken from the source folder as they are.
const char* const TextFiles[] = {"skin.ini", "style.qss"};

bool ReadFile(const QString& path, QByteArray& out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    out = file.readAll();
    return true;
}

bool WriteZip(const QString& path, const std::map<std::string, QByteArray>& entries)
{
    // libzip writes into a temporary file beside the target and renames it on close, so a
    // failed run never leaves a half-written archive behind.
    QFile::remove(path);
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!zip) {
        std::fprintf(stderr, "ThemeGen: cannot create %s (libzip error %d)\n", qPrintable(path),
                     error);
        return false;
    }
    for (const auto& [name, bytes] : entries) {
        zip_source_t* source =
            zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index =
            source ? zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source) zip_source_free(source);
            std::fprintf(stderr, "ThemeGen: cannot add %s: %s\n", name.c_str(), zip_strerror(zip));
            zip_discard(zip);
            return false;
        }
        zip_file_set_mtime(zip, zip_uint64_t(index), EntryTime, 0);
        zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_DEFLATE, 9);
    }
    if (zip_close(zip) != 0) {
        std::fprintf(stderr, "ThemeGen: cannot write %s: %s\n", qPrintable(path),
                     zip_strerror(zip));
        zip_discard(zip);
        return false;
    }
    return true;
}
} // namespace

// The icon theme's folders under `root`: hicolor/<n>x<n>/apps/<id>.png and the vector file.
int WriteIcons(const QString& root, const QString& id)
{
    const auto save = [](const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).path());
        QSaveFile out(path);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
    };
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        AppIcon::Render(size).save(&buffer, "PNG");
        const QString path =
            QStringLiteral("%1/hicolor/%2x%2/apps/%3.png").arg(root).arg(size).arg(id);
        if (!save(path, png)) {
            std::fprintf(stderr, "ThemeGen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    const QString svg = QStringLiteral("%1/hicolor/scalable/apps/%2.svg").arg(root, id);
    if (!save(svg, AppIcon::Svg())) {
        std::fprintf(stderr, "ThemeGen: cannot write %s\n", qPrintable(svg));
        return 1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--icons") == 0)
        return WriteIcons(QFile::decodeName(argv[2]), QString::fromLatin1(argv[3]));
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: ThemeGen <theme source folder> <theme.zip> [<picture folder>]\n"
                     "       ThemeGen --icons <icon theme folder> <icon name>\n");
        return 2;
    }
    const QString sourceDir = QFile::decodeName(argv[1]);
    const QString zipPath = QFile::decodeName(argv[2]);
    const QString dumpDir = argc > 3 ? QFile::decodeName(argv[3]) : QString();

    std::map<std::string, QByteArray> entries;
    for (const char* name : TextFiles) {
        QByteArray bytes;
        if (!ReadFile(QDir(sourceDir).filePath(QString::fromLatin1(name)), bytes)) {
            std::fprintf(stderr, "ThemeGen: cannot read %s in %s\n", name, qPrintable(sourceDir));
            return 1;
        }
        entries[name] = bytes;
    }

    // Every picture at 100 % as "name.bmp" and at 200 % as "name@2x.bmp".
    for (const TThemePicture& pic : ThemePictures()) {
        for (const int scale : {1, 2}) {
            const QImage image = pic.Render(scale);
            const QByteArray bytes = pic.Kind == TThemePicture::pkAlpha
                                         ? BmpWriter::Encode32(image)
                                         : BmpWriter::Encode24(image);
            const QString name =
                pic.Name + (scale == 2 ? QStringLiteral("@2x.bmp") : QStringLiteral(".bmp"));
            entries[name.toStdString()] = bytes;
            if (!dumpDir.isEmpty()) {
                QDir().mkpath(dumpDir);
                QSaveFile out(QDir(dumpDir).filePath(name));
                if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() ||
                    !out.commit()) {
                    std::fprintf(stderr, "ThemeGen: cannot write %s\n", qPrintable(out.fileName()));
                    return 1;
                }
            }
        }
    }
    return WriteZip(zipPath, entries) ? 0 : 1;
}
