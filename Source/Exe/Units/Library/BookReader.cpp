#include "BookReader.h"

#include "FileInfo.h"
#include "FileNames.h"
#include "ThumbnailStore.h"

#include <QMetaObject>
#include <QPointer>

#include <sys/stat.h>

TBookReader::TBookReader(int threads, QObject* parent) : QObject(parent)
{
    for (int i = 0; i < std::max(1, threads); ++i)
        FThreads.emplace_back([this] { Run(); });
}

TBookReader::~TBookReader()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStop = true;
        FUrgent.clear();
        FLater.clear();
    }
    FWake.notify_all();
    // A book being read stops at its library's next poll.
    for (std::thread& thread : FThreads)
        thread.join();
}

void TBookReader::Queue(TJob job, bool urgent)
{
    auto shared = std::make_shared<TJob>(std::move(job));
    std::vector<std::shared_ptr<TJob>> dropped;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (urgent)
            FUrgent.push_front(shared);
        else
            FLater.push_back(shared);
        // The oldest wishes go first: waiting later ones, then urgent ones asked long ago.
        while (int(FUrgent.size() + FLater.size()) > MaxWaiting) {
            if (!FLater.empty()) {
                dropped.push_back(FLater.front());
                FLater.pop_front();
            } else {
                dropped.push_back(FUrgent.back());
                FUrgent.pop_back();
            }
        }
    }
    ++FOutstanding;
    FWake.notify_one();
    for (const auto& job : dropped) {
        TResult result;
        result.Stopped = true;
        Finish(job, std::move(result));
    }
}

void TBookReader::DropWaiting()
{
    std::vector<std::shared_ptr<TJob>> dropped;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        dropped.assign(FUrgent.begin(), FUrgent.end());
        dropped.insert(dropped.end(), FLater.begin(), FLater.end());
        FUrgent.clear();
        FLater.clear();
    }
    for (const auto& job : dropped) {
        TResult result;
        result.Stopped = true;
        Finish(job, std::move(result));
    }
}

int TBookReader::Waiting() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return int(FUrgent.size() + FLater.size());
}

void TBookReader::Finish(const std::shared_ptr<TJob>& job, TResult result)
{
    // Handled from the event loop, even for a job dropped on the main thread: its owner may be
    // in the middle of queueing.
    auto moved = std::make_shared<TResult>(std::move(result));
    QMetaObject::invokeMethod(
        this,
        [this, job, moved] {
            --FOutstanding;
            if (job->Done) job->Done(*moved);
        },
        Qt::QueuedConnection);
}

void TBookReader::Run()
{
    const auto abort = [this] { return FStop.load(); };
    for (;;) {
        std::shared_ptr<TJob> job;
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FWake.wait(lock, [this] { return FStop || !FUrgent.empty() || !FLater.empty(); });
            if (FStop) return;
            if (!FUrgent.empty()) {
                job = FUrgent.front();
                FUrgent.pop_front();
            } else {
                job = FLater.front();
                FLater.pop_front();
            }
        }
        TResult result;
        if (job->Info && !TFileItem::ReadBook(job->FullPath, job->CacheKeyPath, abort, result.Read))
            result.Stopped = true;
        if (job->Cover && !result.Stopped)
            result.Cover = MakeCover(job->FullPath, abort, &result.Stopped);
        if (FStop) return; // nobody is left to take it
        Finish(job, std::move(result));
    }
}

QImage TBookReader::FitCover(const QImage& picture)
{
    if (picture.isNull()) return {};
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const QSize box(CoverWidth, CoverHeight);
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_ARGB32);
    return image;
}

QImage TBookReader::MakeCover(const QString& fullPath, const std::function<bool()>& abort,
                              bool* stopped)
{
    struct stat st;
    if (stat(FileNames::Encode(fullPath).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    const qint64 mtime = st.st_mtim.tv_sec;

    QImage shared;
    switch (ThumbnailStore::Find(fullPath, mtime, shared)) {
    case ThumbnailStore::TFound::Picture:
        return FitCover(shared);
    case ThumbnailStore::TFound::KnownFailure:
        return {};
    case ThumbnailStore::TFound::Miss:
        break;
    }

    bool wasStopped = false;
    const auto query = [&abort, &wasStopped] {
        if (!wasStopped && abort && abort()) wasStopped = true;
        return wasStopped;
    };
    TThumbnailInfo thumbnail{SharedCoverSize, SharedCoverSize, nullptr};
    const bool made = FileInfoManager().GetThumbnail(fullPath, thumbnail, query);
    QImage picture;
    if (made && thumbnail.Pixels)
        picture = QImage(reinterpret_cast<const uchar*>(thumbnail.Pixels), thumbnail.Width,
                         thumbnail.Height, thumbnail.Width * 4, QImage::Format_ARGB32)
                      .copy();
    ReleaseThumbnail(thumbnail);
    if (wasStopped) {
        if (stopped) *stopped = true;
        return {};
    }
    if (SettledFile(st)) {
        if (picture.isNull())
            ThumbnailStore::StoreFailure(fullPath, mtime, st.st_size);
        else
            ThumbnailStore::Store(fullPath, mtime, st.st_size, picture);
    }
    return FitCover(picture);
}
