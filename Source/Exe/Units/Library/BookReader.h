#pragma once

#include "Categories.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Reads books for the views on a small pool of threads, so the window never waits on a slow
// file (a reader on a slow USB port, a book of hundreds of megabytes) and never pumps events
// inside a paint.
//
// How it goes: a view asks for the rows and cells it is painting; those requests go before
// everything that waits (the newest first, so the screen the user looks at now wins over the
// one scrolled away from), and the rows next to them follow at the back of the queue. The queue
// is bounded: the oldest requests fall off, and are asked again if they are painted again.
// A thread takes a job, reads the book's information (the cache of earlier reads first, then the
// book libraries) and/or makes its cover (the desktop's thumbnail cache first, then the
// libraries), and posts the result to the main thread, where the job's own completion handler
// runs. The trade-off: threads never touch the model. A job carries only paths, and its handler
// checks (with a TItemRef) that its book is still there before publishing, so a reader that
// leaves, a refresh or a closed shelf can free books at any time without stopping the pool.
class TBookReader : public QObject
{
    Q_OBJECT
public:
    // The box covers are shown in, and the one they are made and shared in (the desktop's
    // "normal" thumbnail size).
    static constexpr int CoverWidth = 90;
    static constexpr int CoverHeight = 112;
    static constexpr int SharedCoverSize = 128;

    struct TResult
    {
        bool Stopped = false;     // the pool was stopped before the job ended
        TBookRead Read;           // the information, when asked for
        QImage Cover;             // the cover fitted into CoverWidth x CoverHeight; null: none
    };
    using TDone = std::function<void(TResult& result)>;

    struct TJob
    {
        QString FullPath;
        QByteArray CacheKeyPath; // for the information
        bool Info = false;
        bool Cover = false;
        TDone Done;              // runs on the main thread; not at all once the pool is gone
    };

    explicit TBookReader(int threads = 2, QObject* parent = nullptr);
    ~TBookReader() override;

    // Queues a job. `urgent` ones (painted now) go first, newest first; others wait behind.
    void Queue(TJob job, bool urgent);
    // Drops every job not started yet (the views show other books now).
    void DropWaiting();
    int Waiting() const;
    // Jobs queued or running whose results have not been handled yet.
    int Outstanding() const { return FOutstanding; }

    // Most jobs kept waiting; older ones fall off.
    static constexpr int MaxWaiting = 512;

    // The cover of a book as the views show it: taken from the desktop's thumbnail cache when a
    // valid one is there, else made by the book libraries (and then shared in that cache).
    // Null when the book has none. Any thread.
    static QImage MakeCover(const QString& fullPath, const std::function<bool()>& abort,
                            bool* stopped = nullptr);
    // Scales a picture down to fit the cover box, in the pixel format the views paint.
    static QImage FitCover(const QImage& picture);

private:
    void Run();
    void Finish(const std::shared_ptr<TJob>& job, TResult result);

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::shared_ptr<TJob>> FUrgent; // front = newest
    std::deque<std::shared_ptr<TJob>> FLater;  // front = oldest
    std::vector<std::thread> FThreads;
    std::atomic<bool> FStop{false};
    int FOutstanding = 0; // main thread
};
