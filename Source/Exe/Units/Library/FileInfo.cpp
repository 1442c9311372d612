#include "FileInfo.h"

#include "FileNames.h"

#include "Codec936.h"
#include "Folders.h"

#include <QFile>
#include <QLibrary>

#include <algorithm>
#include <cstdlib>
#include <cstring>

QString BookInfoText(const TBookInfo& info, TBookInfoOffset offset)
{
    const unsigned char* block = info.Data + offset;
    return Cp936::ToUnicode(reinterpret_cast<const char*>(block + 1), block[0]);
}

void SetBookInfoText(TBookInfo& info, TBookInfoOffset offset, const QString& text)
{
    QByteArray bytes = Cp936::FromUnicode(text);
    // Cut at a character boundary: drop whole characters from the end until it fits.
    QString cut = text;
    while (bytes.size() > BOOKINFO_BLOCK_SIZE - 1 && !cut.isEmpty()) {
        cut.chop(cut.size() > 1 && cut.back().isLowSurrogate() ? 2 : 1);
        bytes = Cp936::FromUnicode(cut);
    }
    unsigned char* block = info.Data + offset;
    std::memset(block, 0, BOOKINFO_BLOCK_SIZE);
    block[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(block + 1, bytes.constData(), static_cast<size_t>(bytes.size()));
}

void ReleaseThumbnail(TThumbnailInfo& thumbnail)
{
    std::free(thumbnail.Pixels);
    thumbnail = TThumbnailInfo{};
}

TPluginRecord::TPluginRecord() = default;
TPluginRecord::TPluginRecord(TPluginRecord&&) noexcept = default;
TPluginRecord::~TPluginRecord()
{
    if (Library) Library->unload();
}

int TDllList::Add(TPluginRecord&& record)
{
    FItems.push_back(std::make_unique<TPluginRecord>(std::move(record)));
    return Count() - 1;
}

void TDllList::Clear()
{
    while (!FItems.empty())
        FItems.pop_back();
}

namespace {

// The handler of the read running on this thread. The libraries get one plain function for
// every caller, and each thread must only be stopped by its own caller.
thread_local const TFileInfoManager::TAbortHandler* CurrentAbort = nullptr;

unsigned char AbortQueryForLibraries()
{
    return TFileInfoManager::QueryAbort() ? 1 : 0;
}

// Installs a handler for the duration of one call and puts back the previous one, so a handler
// that itself reads a book (nested calls) does not lose the outer handler.
class TAbortScope
{
public:
    explicit TAbortScope(const TFileInfoManager::TAbortHandler& handler) : FPrevious(CurrentAbort)
    {
        CurrentAbort = handler ? &handler : nullptr;
    }
    ~TAbortScope() { CurrentAbort = FPrevious; }
    TAbortScope(const TAbortScope&) = delete;
    TAbortScope& operator=(const TAbortScope&) = delete;

private:
    const TFileInfoManager::TAbortHandler* FPrevious;
};

std::unique_ptr<QLibrary> LoadLibrary(const QString& path)
{
    auto library = std::make_unique<QLibrary>(path);
    // Unresolved symbols fail the load now rather than crash a later call.
    library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library->load()) return nullptr;
    return library;
}

template <typename TProc> TProc Resolve(QLibrary& library, const char* name)
{
    return reinterpret_cast<TProc>(library.resolve(name));
}

// The extension without its dot, "*" when there is none.
QString ExtensionKey(const QString& fileName)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash || dot == fileName.size() - 1) return QStringLiteral("*");
    return fileName.mid(dot + 1);
}

// Runs one thumbnail export on a fresh record of the wanted size. Only a picture that is really
// there replaces the one in `thumbnail` (which is then freed); whatever a failing library left
// behind is freed, so no pixels are ever leaked or shown twice.
bool CallThumbnail(TGetThumbnailProc proc, const QByteArray& name, TThumbnailInfo& thumbnail,
                   int32_t wantedWidth, int32_t wantedHeight)
{
    TThumbnailInfo fresh{wantedWidth, wantedHeight, nullptr};
    const bool ok = proc(name.constData(), &fresh, AbortQueryForLibraries) != 0;
    if (!ok || !fresh.Pixels || fresh.Width <= 0 || fresh.Height <= 0) {
        ReleaseThumbnail(fresh);
        return false;
    }
    ReleaseThumbnail(thumbnail);
    thumbnail = fresh;
    return true;
}

} // namespace

TFileInfoManager::TFileInfoManager() : TFileInfoManager(Folders::ProgramFolder() + "ficomp/") {}

TFileInfoManager::TFileInfoManager(const QString& ficompFolder)
{
    LoadSummary(ficompFolder);
    ReadMap(ficompFolder);
}

TFileInfoManager::~TFileInfoManager()
{
    FPlugins.Clear();
    if (FSummary) FSummary->unload();
}

void TFileInfoManager::LoadSummary(const QString& folder)
{
    // Without the default library the program still runs; books just show no information.
    FSummary = LoadLibrary(folder + QStringLiteral("libsummary.so"));
    if (!FSummary) return;
    FSummaryGetFileInfo = Resolve<TGetFileInfoProc>(*FSummary, "GetFileInfo");
    FSummaryGetThumbnail = Resolve<TGetThumbnailProc>(*FSummary, "GetThumbnail");
    FSummaryShowProperties = Resolve<TShowPropertiesProc>(*FSummary, "ShowProperties");
}

void TFileInfoManager::ReadMap(const QString& folder)
{
    // A missing or unreadable map is an empty map.
    QFile file(folder + QStringLiteral("fimap.ini"));
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    const QString text = Cp936::ToUnicode(bytes);

    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) continue;
        const QString names = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (names.isEmpty() || value.isEmpty()) continue;

        std::unique_ptr<QLibrary> library = LoadLibrary(folder + value);
        if (!library) continue;
        TPluginRecord record;
        record.GetFileInfo = Resolve<TGetFileInfoProc>(*library, "GetFileInfo");
        record.GetThumbnail = Resolve<TGetThumbnailProc>(*library, "GetThumbnail");
        record.NeedDefaultSummaryInfo =
            Resolve<TNeedDefaultSummaryInfoProc>(*library, "NeedDefaultSummaryInfo");
        record.Library = std::move(library);
        const int index = FPlugins.Add(std::move(record));

        for (const QString& piece : names.split(QLatin1Char(','))) {
            const QString extension = piece.trimmed();
            if (!extension.isEmpty()) AddExtension(extension, index);
        }
    }
    FLoaded = true;
}

void TFileInfoManager::AddExtension(const QString& name, int plugin)
{
    auto less = [](const TExtension& a, const QString& b) {
        return QString::compare(a.Name, b, Qt::CaseInsensitive) < 0;
    };
    auto at = std::lower_bound(FExtensions.begin(), FExtensions.end(), name, less);
    if (at != FExtensions.end() && QString::compare(at->Name, name, Qt::CaseInsensitive) == 0)
        return; // the first line naming an extension wins
    FExtensions.insert(at, TExtension{name, plugin});
}

const TFileInfoManager::TExtension* TFileInfoManager::FindExtension(const QString& name) const
{
    auto less = [](const TExtension& a, const QString& b) {
        return QString::compare(a.Name, b, Qt::CaseInsensitive) < 0;
    };
    auto at = std::lower_bound(FExtensions.begin(), FExtensions.end(), name, less);
    if (at != FExtensions.end() && QString::compare(at->Name, name, Qt::CaseInsensitive) == 0)
        return &*at;
    return nullptr;
}

int TFileInfoManager::PluginIndexFor(const QString& fileName) const
{
    const TExtension* entry = FindExtension(ExtensionKey(fileName));
    if (!entry) entry = FindExtension(QStringLiteral("*"));
    return entry ? entry->Plugin : -1;
}

const TPluginRecord* TFileInfoManager::PluginFor(const QString& fileName, const QByteArray& name,
                                                 bool& needDefault) const
{
    const int index = PluginIndexFor(fileName);
    const TPluginRecord* plugin = index >= 0 ? &FPlugins[index] : nullptr;
    needDefault = plugin && plugin->NeedDefaultSummaryInfo &&
                  plugin->NeedDefaultSummaryInfo(name.constData()) != 0;
    return plugin;
}

bool TFileInfoManager::QueryAbort()
{
    return CurrentAbort && (*CurrentAbort)();
}

bool TFileInfoManager::GetFileInfo(const QString& fileName, TBookInfo& info,
                                   const TAbortHandler& abort)
{
    if (fileName.isEmpty()) return false;
    const TAbortScope scope(abort);
    const QByteArray name = FileNames::Encode(fileName);
    bool needDefault = false;
    const TPluginRecord* plugin = PluginFor(fileName, name, needDefault);

    if (QueryAbort()) return false;
    bool result = false;
    // The default runs first so that the plug-in's values are the ones kept.
    if (needDefault && FSummaryGetFileInfo)
        result = FSummaryGetFileInfo(name.constData(), &info, AbortQueryForLibraries) != 0;
    if (QueryAbort()) return result;
    if (plugin && plugin->GetFileInfo)
        result = plugin->GetFileInfo(name.constData(), &info, AbortQueryForLibraries) != 0;
    return result;
}

bool TFileInfoManager::GetThumbnail(const QString& fileName, TThumbnailInfo& thumbnail,
                                    const TAbortHandler& abort)
{
    if (fileName.isEmpty()) return false;
    const TAbortScope scope(abort);
    const QByteArray name = FileNames::Encode(fileName);
    bool needDefault = false;
    const TPluginRecord* plugin = PluginFor(fileName, name, needDefault);
    const int32_t wantedWidth = thumbnail.Width;
    const int32_t wantedHeight = thumbnail.Height;

    if (QueryAbort()) return false;
    bool result = false;
    // The plug-in runs first so that the default's picture is the one kept when both run.
    if (plugin) {
        if (plugin->GetThumbnail)
            result =
                CallThumbnail(plugin->GetThumbnail, name, thumbnail, wantedWidth, wantedHeight);
        if (!needDefault) return result;
    }
    if (QueryAbort()) return result;
    // A default that finds no picture keeps the plug-in's and its success.
    if (needDefault && FSummaryGetThumbnail &&
        CallThumbnail(FSummaryGetThumbnail, name, thumbnail, wantedWidth, wantedHeight))
        result = true;
    return result;
}

void TFileInfoManager::ShowProperties(QWidget* window, const QString& fileName)
{
    if (!FSummaryShowProperties || fileName.isEmpty()) return;
    const QByteArray name = FileNames::Encode(fileName);
    FSummaryShowProperties(window, name.constData());
}

QString TFileInfoManager::SupportedFilter() const
{
    QString filter;
    for (const TExtension& extension : FExtensions) {
        if (extension.Name == QLatin1String("*")) continue;
        filter += QStringLiteral(";*.") + extension.Name;
    }
    return filter.mid(1);
}

namespace {
QString FileInfoFolderOverride;
}

void SetFileInfoFolder(const QString& ficompFolder)
{
    FileInfoFolderOverride = ficompFolder;
}

TFileInfoManager& FileInfoManager()
{
    static TFileInfoManager manager(FileInfoFolderOverride.isEmpty()
                                        ? Folders::ProgramFolder() + QStringLiteral("ficomp/")
                                        : FileInfoFolderOverride);
    return manager;
}
