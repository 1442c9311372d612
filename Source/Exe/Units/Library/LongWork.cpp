#include "LongWork.h"

#include <QCoreApplication>
#include <QEvent>

#include <deque>
#include <utility>

namespace {

struct TQueued
{
    QPointer<QObject> Context;
    bool HadContext = false;
    std::function<void()> Change;
};

int ScopeDepth = 0;
std::deque<TQueued> Queue;
std::uint64_t Changes = 0;
bool Posted = false;

// Receives the one posted "apply" event; lives as long as the application.
class TApplier : public QObject
{
public:
    static QEvent::Type Type()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    bool event(QEvent* event) override
    {
        if (event->type() != Type()) return QObject::event(event);
        Posted = false;
        TLongWork::ApplyPending();
        return true;
    }
};

TApplier* Applier()
{
    static QPointer<TApplier> applier;
    if (!applier && QCoreApplication::instance()) {
        applier = new TApplier;
        applier->moveToThread(QCoreApplication::instance()->thread());
        applier->setParent(QCoreApplication::instance());
    }
    return applier;
}

// The queue is applied from the event loop, never from inside the scope's destructor: the
// code that closed the scope may still be on the stack with its own pointers.
void Schedule()
{
    if (Posted || Queue.empty()) return;
    if (TApplier* applier = Applier()) {
        Posted = true;
        QCoreApplication::postEvent(applier, new QEvent(TApplier::Type()));
    }
}

} // namespace

TLongWork::TLongWork()
{
    ++ScopeDepth;
}

TLongWork::~TLongWork()
{
    if (--ScopeDepth == 0) Schedule();
}

bool TLongWork::Busy()
{
    return ScopeDepth > 0;
}

int TLongWork::Depth()
{
    return ScopeDepth;
}

void TLongWork::Defer(QObject* context, std::function<void()> change)
{
    if (ScopeDepth == 0 && Queue.empty()) {
        change();
        return;
    }
    Queue.push_back(TQueued{context, context != nullptr, std::move(change)});
    if (ScopeDepth == 0) Schedule();
}

void TLongWork::DeleteWhenIdle(QObject* object)
{
    if (!object) return;
    Queue.push_back(TQueued{object, true, [object] { delete object; }});
    if (ScopeDepth == 0) Schedule();
}

void TLongWork::ApplyPending()
{
    // A change may itself open a scope (and queue more); what it queues runs after it, in order.
    while (ScopeDepth == 0 && !Queue.empty()) {
        TQueued next = std::move(Queue.front());
        Queue.pop_front();
        if (next.HadContext && !next.Context) continue;
        next.Change();
    }
}

int TLongWork::PendingCount()
{
    return static_cast<int>(Queue.size());
}

std::uint64_t TLongWork::ChangeCount()
{
    return Changes;
}

void TLongWork::NoteChange()
{
    ++Changes;
}
