// The skin: the input is the list of entries of "theme.zip" (see FuzzCommon.h), "skin.ini"
// among them, read through the archive library as the program reads its skin, and every key
// of every section is asked for as each kind of value, pictures and streams included.
#include "Codec936.h"
#include "FuzzCommon.h"
#include "Skins.h"
#include "ZipSkinRes.h"

#include <QApplication>
#include <QColor>
#include <QIODevice>
#include <QRegularExpression>
#include <QSet>

namespace {

// Section names as the manager sees them, found the simple way: lines in brackets.
QStringList SectionNames(const Fuzz::TEntries& entries)
{
    QSet<QString> names;
    for (const auto& [name, data] : entries) {
        if (name != "skin.ini") continue;
        const QString text = Cp936::ToUnicode(QByteArray::fromStdString(data));
        for (const QString& raw : text.split(QRegularExpression(QStringLiteral("[\r\n]")))) {
            const QString line = raw.trimmed();
            if (line.startsWith(u'[') && line.endsWith(u']'))
                names.insert(line.mid(1, line.size() - 2).trimmed());
        }
    }
    QStringList list(names.begin(), names.end());
    list.sort();
    return list.mid(0, 32);
}

template <typename F> void Tolerant(F&& f)
{
    try {
        f();
    } catch (const ESkinException&) {
        // a bad value is the skin's error, reported to the caller as designed
    }
}

void AskEverything(TSkinManager& skins, const QString& section)
{
    const QStringList keys = skins.Keys(section).mid(0, 64);
    for (const QString& key : keys) {
        Tolerant([&] { skins.GetInteger(section, key, 0); });
        Tolerant([&] { skins.GetBool(section, key, false); });
        Tolerant([&] { ColorToQColor(skins.GetColor(section, key, clNone)); });
        Tolerant([&] {
            QPoint point;
            skins.GetPoint(section, key, point);
        });
        Tolerant([&] {
            TSkinRect rect;
            skins.GetRect(section, key, rect);
        });
        Tolerant([&] {
            const TSkinFont* font = nullptr;
            skins.GetFont(section, key, font);
        });
        Tolerant([&] {
            const QImage* bitmap = nullptr;
            if (skins.GetBitmap(section, key, bitmap)) MaskedPicture(*bitmap, clFuchsia);
        });
        Tolerant([&] {
            QIODevice* stream = nullptr;
            if (skins.GetStream(section, key, stream) && stream) stream->readAll();
        });
    }
    Tolerant([&] { SkinImageList(skins, section, clFuchsia, 16); });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = Fuzz::Folder() + "/theme.zip";
    const Fuzz::TEntries entries =
        Fuzz::SplitEntries(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!Fuzz::WriteFile(path, Fuzz::MakeZip(entries))) return 0;
    TSkinManager skins;
    try {
        skins.SetResource(std::make_shared<TZipSkinResource>(QString::fromStdString(path), QString()));
    } catch (const std::exception&) {
        return 0; // an archive that cannot be opened: the program shows its plain look
    }
    for (const QString& section : SectionNames(entries))
        AskEverything(skins, section);
    return 0;
}
