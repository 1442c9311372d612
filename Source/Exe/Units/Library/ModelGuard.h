#pragma once

#include <atomic>
#include <functional>
#include <mutex>

// Keeps the library model safe while the search worker walks it from its own thread.
//
// The trade-off: a lock around every change of the model's lists and every publication of what a
// load found, plus stopping the worker before anything is freed or rebuilt. Both threads may load
// categories and books. A category is listed under the lock (a folder listing is quick); a book is
// read without it and only what the read found is published under it, so neither thread ever
// waits for the other's reading (a book of hundreds of megabytes takes seconds), and the first of
// two reads of one book to finish wins. Freeing or rebuilding objects the worker may hold pointers
// to (deleting from a list, clearing or reloading a category, renaming, releasing a thumbnail) is
// rare and user-driven, so instead of making every pointer safe against it, the main thread first
// asks the walk's owner to stop the worker and deliver what it found (BeforeChange). A search
// interrupted by such a command ends early with the hits found so far; nothing is ever freed under
// the worker. The worker only waits for the lock in short slices and gives up when asked to stop,
// and a book it is reading stops at the library's next poll, so the main thread can wait for it.
//
// How pointers stay valid on the main thread itself, across event pumps, is LongWork.h's rule.
class TModelGuard
{
public:
    using TLock = std::recursive_mutex;

    TLock& Lock() { return FLock; }

    // Installed by the owner of the worker (the main window): stops the worker, waits for it
    // to end and delivers its pending results. Called on the main thread only.
    void SetStopWalkers(std::function<void()> handler) { FStopWalkers = std::move(handler); }

    // Marks the start and end of a walk on another thread.
    void WalkStarted() { ++FWalkers; }
    void WalkEnded() { --FWalkers; }
    bool Walking() const { return FWalkers.load() > 0; }

    // Called by the model before it frees or rebuilds objects. On the main thread, with a walk
    // running, it stops the walk first; on the walking thread itself it does nothing (the worker
    // only changes objects it is loading for the first time).
    void BeforeChange();

    // Takes the lock for one step of a walk; false (without the lock) once `stop` is set.
    bool LockForStep(const std::atomic<bool>& stop);

    // The thread that owns the model and its views.
    void SetMainThread();
    bool OnMainThread() const;

private:
    TLock FLock;
    std::atomic<int> FWalkers{0};
    std::function<void()> FStopWalkers;
    std::atomic<const void*> FMainThread{nullptr};
};

TModelGuard& ModelGuard();
