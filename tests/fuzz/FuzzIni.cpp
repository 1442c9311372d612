// INI files: the settings ("Korvel.ini") and the store's page list ("home.dll") through TIniFile,
// read and then written back, and the book-library map ("fimap.ini") through the manager that
// reads it. Besides crashes, the target checks what the class promises: every section and key
// it lists can be found again, a written value reads back as written, and so does the file
// written to disk.
#include "FileInfo.h"
#include "FuzzCommon.h"
#include "IniFile.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include <sys/stat.h>

namespace {

void Fail(const char* what, const QString& section, const QString& key)
{
    std::fprintf(stderr, "INI invariant broken: %s [%s] %s\n", what, qPrintable(section),
                 qPrintable(key));
    std::abort();
}

// A value that exercises quoting: blanks at either end, quotes, a line break.
QString AwkwardValue(const QString& seed, int i)
{
    switch (i % 4) {
    case 0: return seed;
    case 1: return QStringLiteral(" ") + seed + QStringLiteral(" ");
    case 2: return QStringLiteral("\"") + seed + QStringLiteral("\"");
    default: return seed + QStringLiteral("\r\nx=1");
    }
}

// What WriteString stores for a value: line breaks and NULs become blanks.
QString Stored(QString value)
{
    for (QChar& c : value)
        if (c == u'\r' || c == u'\n' || c == QChar(0)) c = u' ';
    return value;
}

void CheckIni(const QString& path)
{
    TIniFile ini(path);
    const QStringList sections = ini.ReadSections();
    QList<std::pair<QString, QString>> written;
    int count = 0;
    for (const QString& section : sections) {
        if (!ini.SectionExists(section)) Fail("listed section not found", section, {});
        for (const QString& key : ini.ReadSection(section)) {
            if (!ini.ValueExists(section, key)) Fail("listed key not found", section, key);
            const QString value = ini.ReadString(section, key, QString());
            ini.ReadInteger(section, key, -7);
            ini.ReadBool(section, key, true);
            // Names that hold a line break or a NUL cannot be written back under the same name
            // (WriteString turns those into blanks), so only the others are rewritten.
            if (Stored(section) == section && Stored(key) == key && ++count <= 16)
                written.append({section, key});
            (void)value;
        }
    }
    // Overwrite some keys found, add one to each of a few sections and a new section.
    QList<std::pair<std::pair<QString, QString>, QString>> expected;
    int i = 0;
    for (const auto& [section, key] : written) {
        const QString value = AwkwardValue(QString::number(i) + section.left(8), i);
        ini.WriteString(section, key, value);
        expected.append({{section, key}, Stored(value)});
        ++i;
    }
    for (const QString& section : sections.mid(0, 4)) {
        if (Stored(section) != section) continue;
        ini.WriteInteger(section, QStringLiteral("FuzzAdded"), i);
        expected.append({{section, QStringLiteral("FuzzAdded")}, QString::number(i)});
        ++i;
    }
    ini.WriteBool(QStringLiteral("FuzzSection"), QStringLiteral("Flag"), true);
    expected.append({{QStringLiteral("FuzzSection"), QStringLiteral("Flag")}, QStringLiteral("1")});
    for (const auto& [where, value] : expected)
        if (ini.ReadString(where.first, where.second, QStringLiteral("\x01")) != value)
            Fail("written value reads back differently", where.first, where.second);

    if (!ini.UpdateFile()) return;
    const TIniFile again(path);
    for (const auto& [where, value] : expected)
        if (again.ReadString(where.first, where.second, QStringLiteral("\x01")) != value)
            Fail("value differs after the file was written", where.first, where.second);

    // Deleting keys and sections afterwards must leave a readable file.
    TIniFile rest(path);
    if (!written.isEmpty()) rest.DeleteKey(written.front().first, written.front().second);
    if (!sections.isEmpty()) rest.EraseSection(sections.back());
    rest.SetText(rest.Text());
    rest.ReadSections();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    // The map names libraries in its folder; one harmless library lets its lines take effect.
    const std::string ficomp = Fuzz::Folder() + "/ficomp";
    mkdir(ficomp.c_str(), 0700);
    for (const char* z : {"/lib/x86_64-linux-gnu/libz.so.1", "/usr/lib/x86_64-linux-gnu/libz.so.1"})
        if (access(z, R_OK) == 0 && symlink(z, (ficomp + "/libz.so").c_str()) == 0) break;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string settings = Fuzz::Folder() + "/Korvel.ini";
    static const std::string map = Fuzz::Folder() + "/ficomp/fimap.ini";
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (!Fuzz::WriteFile(settings, input) || !Fuzz::WriteFile(map, input)) return 0;
    CheckIni(QString::fromStdString(settings));
    TFileInfoManager manager(QString::fromStdString(Fuzz::Folder() + "/ficomp/"));
    (void)manager.PluginCount();
    return 0;
}
