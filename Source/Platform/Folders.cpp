#include "Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

QString ExecutablePath()
{
    // /proc/self/exe names the program file even when started through a link or from another
    // current directory, and needs no application object.
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return path;
}

QString CreatedFolder(const QString& folder)
{
    if (!folder.isEmpty()) QDir().mkpath(folder);
    return folder;
}

QString SpecialFolder(QStandardPaths::StandardLocation location)
{
    return Folders::IncludeTrailingSlash(QStandardPaths::writableLocation(location));
}

} // namespace

namespace Folders {

QString IncludeTrailingSlash(const QString& folder)
{
    const QString t = folder.trimmed();
    if (t.isEmpty() || t.endsWith(u'/')) return t;
    return t + u'/';
}

QString ChangeFileExt(const QString& path, const QString& ext)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot > slash) return path.left(dot) + ext;
    return path + ext;
}

QString ProgramFile()
{
    static const QString file = ExecutablePath();
    return file;
}

QString ProgramFolder()
{
    static const QString folder = [] {
        const QString file = ProgramFile();
        return file.isEmpty() ? QString() : IncludeTrailingSlash(QFileInfo(file).absolutePath());
    }();
    return folder;
}

QString SettingsFileName()
{
    static const QString name = [] {
        const QString beside = ChangeFileExt(ProgramFile(), QStringLiteral(".ini"));
        const QString folder = ProgramFolder();
        if (!folder.isEmpty() && access(QFile::encodeName(folder).constData(), W_OK) == 0)
            return beside;
        const QString config =
            SpecialFolder(QStandardPaths::GenericConfigLocation) + QStringLiteral("vAdaziv/");
        CreatedFolder(config);
        return config + QFileInfo(beside).fileName();
    }();
    return name;
}

QString DataFolder()
{
    static const QString folder = CreatedFolder(SpecialFolder(QStandardPaths::DocumentsLocation) +
                                                QStringLiteral("vAdaziv/"));
    return folder;
}

QString UpdateCacheFolder()
{
    static const QString folder =
        CreatedFolder(SpecialFolder(QStandardPaths::GenericCacheLocation) +
                      QStringLiteral("vAdaziv/UpdateCache/"));
    return folder;
}

QString BookCacheFolder()
{
    static const QString folder = CreatedFolder(
        SpecialFolder(QStandardPaths::GenericCacheLocation) + QStringLiteral("vAdaziv/BookInfo/"));
    return folder;
}

QString BrowserDataFolder()
{
    static const QString folder = CreatedFolder(
        SpecialFolder(QStandardPaths::GenericDataLocation) + QStringLiteral("vAdaziv/Browser/"));
    return folder;
}

QString BrowserCacheFolder()
{
    static const QString folder = CreatedFolder(
        SpecialFolder(QStandardPaths::GenericCacheLocation) + QStringLiteral("vAdaziv/Browser/"));
    return folder;
}

} // namespace Folders
