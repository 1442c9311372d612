#include "CoverCache.h"

#include "BookReader.h"
#include "Categories.h"

#include <QPointer>

TCoverCache::TCoverCache(TBookReader* reader, int capacity, QObject* parent)
    : QObject(parent), FReader(reader), FCapacity(std::max(1, capacity))
{
}

QString TCoverCache::KeyOf(TFileItem* item)
{
    return item->GetFullPath() + QLatin1Char('\n') + QString::number(item->Size()) +
           QLatin1Char('\n') + QString::number(item->MTimeNs());
}

QImage TCoverCache::Cover(TFileItem* item, bool* known)
{
    if (known) *known = false;
    // Without its information the book's file time is not known yet, nor whether it is there.
    if (!item || !item->Loaded() || (item->State() & isMissing) || item->MTimeNs() == 0)
        return {};
    const QString key = KeyOf(item);
    auto at = FIndex.find(key);
    if (at != FIndex.end()) {
        FEntries.splice(FEntries.begin(), FEntries, at.value()); // shown again: newest
        if (known) *known = true;
        return FEntries.front().Cover;
    }
    if (!FReader || FPending.contains(key)) return {};
    FPending.insert(key);
    TBookReader::TJob job;
    job.FullPath = item->GetFullPath();
    job.Cover = true;
    QPointer<TCoverCache> self(this);
    job.Done = [self, key](TBookReader::TResult& result) {
        if (!self) return;
        self->FPending.remove(key);
        if (result.Stopped) return; // asked again when painted again
        self->Insert(key, result.Cover);
        emit self->CoverReady();
    };
    FReader->Queue(std::move(job), true);
    return {};
}

void TCoverCache::Insert(const QString& key, const QImage& cover)
{
    auto at = FIndex.find(key);
    if (at != FIndex.end()) {
        FEntries.erase(at.value());
        FIndex.erase(at);
    }
    FEntries.push_front(TEntry{key, cover});
    FIndex.insert(key, FEntries.begin());
    while (int(FEntries.size()) > FCapacity) {
        FIndex.remove(FEntries.back().Key);
        FEntries.pop_back();
    }
}

void TCoverCache::Clear()
{
    FEntries.clear();
    FIndex.clear();
}
