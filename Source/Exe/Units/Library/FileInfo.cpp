#include "FileInfo.h"

#include "Codec936.h"

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

// Until the plug-in map is read, the manager knows no library and answers false.
TFileInfoManager::TFileInfoManager() = default;
TFileInfoManager::~TFileInfoManager() = default;

bool TFileInfoManager::GetFileInfo(const QString&, TBookInfo&, const TAbortHandler&)
{
    return false;
}

bool TFileInfoManager::GetThumbnail(const QString&, TThumbnailInfo&, const TAbortHandler&)
{
    return false;
}

void TFileInfoManager::ShowProperties(QWidget*, const QString&) {}

QString TFileInfoManager::SupportedFilter() const
{
    return {};
}

TFileInfoManager& FileInfoManager()
{
    static TFileInfoManager manager;
    return manager;
}
