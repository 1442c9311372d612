#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>

// The lifetime rule of the program: what keeps a pointer valid across an event pump.
// =====================================================================================
//
// Korvel's model objects (categories, books, the rows that show them) and its windows are freed
// in reaction to events: a reader that leaves empties its slot and reloads its branch, a rescan
// request attaches readers, a command frees the books it deleted, the update window deletes
// itself when the user leaves it. At the same time every dialog, question, progress step, wait,
// menu, drag and book read pumps events, and the code that called it still holds pointers it
// fetched before. One rule keeps those pointers valid:
//
// 1. Every event pump runs inside a TLongWork scope. The primitives that pump open one
//    themselves (the message box, the input dialog, the progress dialog, the book-reading
//    progress handler, the update window's waits and questions, menus and drags run with exec);
//    a command that fetches model objects and then pumps opens one around its whole body, so
//    what it fetched stays valid until it returns.
//
// 2. While any scope is open nothing is freed that a scope's owner may hold:
//    - changes that come from outside (a reader arriving or leaving, a rescan request) are not
//      applied; they are queued with Defer and applied in order, from the event loop, once the
//      outermost scope has ended (Busy() is false again);
//    - windows are deleted with DeleteWhenIdle, which waits in the same queue, so a window's code
//      is never on the stack when it goes;
//    - a user command that arrives while a scope is open (possible only where a pump lets input
//      through, such as the update window's waits) is queued the same way and runs, after its
//      enabling rule is checked again, once the scope has ended.
//    The one exception is a reader's identity: a reader that leaves takes its identifier away at
//    once (nothing holds a pointer to those bytes), so no page or update step acts on a reader
//    that is gone.
//
// 3. Work that outlives a pump without a scope, or a step posted to run later (a drop decided in
//    a drag handler), holds a TItemRef (Categories.h), which reads null once its object is freed,
//    and checks it before every use.
//
// 4. Because a queued change only applies later, the file system can change under an open scope
//    (the reader is unplugged while its books are copied). File operations therefore check their
//    target before they write: a missing or root folder, or a reader whose volume is gone, is
//    refused with -ENOENT or -ENODEV and nothing is written anywhere; the command says so once
//    and ends its loop.
//
// 5. A question's answer only holds for the state it was asked in: a command that asked checks
//    after the answer that its target is still alive and still allowed, and does nothing when an
//    outside change arrived while the question was open (ChangeCount moved).
//
// The trade-off: outside changes wait for the user to finish a dialog, so the window may show a
// reader for a few seconds after it left, but no object is ever freed under code that uses it,
// and the rule is checked in one place rather than guarded call by call.
//
// Other threads. The search worker walks the model: it frees nothing, and the main thread stops
// it before it frees anything the worker may hold (ModelGuard.h). The reading pool
// (BookReader.h, two threads) reads books and makes covers for the rows and cells on screen: it
// never touches the model at all, only paths; its results come back as posted events, and the
// handler of each checks its book with a TItemRef before publishing, as rule 3 says. Neither
// kind of thread ever pumps the main thread's events or shows anything. The download thread of
// the update window is the third kind (uUpDateComm.h).
class TLongWork
{
public:
    TLongWork();
    ~TLongWork();
    TLongWork(const TLongWork&) = delete;
    TLongWork& operator=(const TLongWork&) = delete;

    // True while a scope is open anywhere on the main thread's stack.
    static bool Busy();
    static int Depth();

    // Runs `change` now when no scope is open and nothing is queued; otherwise queues it to run
    // from the event loop once the outermost scope has ended. A change whose `context` has been
    // deleted meanwhile is dropped. Main thread only.
    static void Defer(QObject* context, std::function<void()> change);
    // Deletes `object` from the event loop once no scope is open: never while its code may be on
    // the stack.
    static void DeleteWhenIdle(QObject* object);
    // Applies what is queued now, when no scope is open (a window that goes away after the event
    // loop has ended).
    static void ApplyPending();
    static int PendingCount();

    // Counts the outside changes noticed so far (applied or queued).
    static std::uint64_t ChangeCount();
    static void NoteChange();
};
