#include "ModelGuard.h"

#include <chrono>
#include <thread>

namespace {

// A per-thread address is enough to tell threads apart and needs no platform call.
const void* ThisThread()
{
    thread_local char marker;
    return &marker;
}

} // namespace

TModelGuard& ModelGuard()
{
    static TModelGuard guard;
    return guard;
}

void TModelGuard::SetMainThread()
{
    FMainThread = ThisThread();
}

bool TModelGuard::OnMainThread() const
{
    const void* main = FMainThread.load();
    return main == nullptr || main == ThisThread();
}

void TModelGuard::BeforeChange()
{
    if (Walking() && OnMainThread() && FStopWalkers) FStopWalkers();
}

bool TModelGuard::LockForStep(const std::atomic<bool>& stop)
{
    // Polling rather than a timed wait: the main thread only holds the lock briefly, and the
    // stop request must be seen while it does.
    while (!stop.load()) {
        if (FLock.try_lock()) {
            if (!stop.load()) return true;
            FLock.unlock();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}
