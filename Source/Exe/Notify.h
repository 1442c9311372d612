#pragma once

#include <QString>

#include <functional>

class QDBusConnection;

// Desktop notifications of long work that ends while the user is elsewhere: a copy or move to
// the reader, an update. They go to the desktop's notification service on the session bus; the
// call is sent without waiting for its answer, so a desktop without the service, or a service
// that is slow to answer, costs the program nothing, and nothing is shown instead.
namespace Notify {

// The program's desktop id: the icon name and the desktop entry the service is given.
inline constexpr char DesktopId[] = "org.korvel.Korvel";

// True while no window of the program is active.
bool InBackground();

// Sends a notification now. False when there is no bus to send on (the answer, or that no
// service took the call, is never waited for).
bool Send(const QString& summary, const QString& body);

// Sends only while the program is in the background: the user who watches the window sees the
// result there already. True when a notification was sent.
bool SendInBackground(const QString& summary, const QString& body);

// The texts of a copy or move of books to the reader.
QString CopySummary(bool move, bool failed);
QString CopyBody(int count, bool move);
// The summary of an installed (or failed) update.
QString UpdateSummary(bool failed);

// Tests: the bus to send on instead of the session bus, and what counts as the background
// instead of the application's state; ResetForTests restores both.
void SetBusForTests(const QDBusConnection& bus);
void SetBackgroundForTests(std::function<bool()> inBackground);
void ResetForTests();

} // namespace Notify
