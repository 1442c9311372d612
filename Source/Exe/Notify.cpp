#include "Notify.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

// How long the service shows a notification: its own choice.
constexpr int DefaultTimeout = -1;

std::optional<QDBusConnection>& TestBus()
{
    static std::optional<QDBusConnection> bus;
    return bus;
}

std::function<bool()>& TestBackground()
{
    static std::function<bool()> inBackground;
    return inBackground;
}

} // namespace

namespace Notify {

bool InBackground()
{
    if (TestBackground()) return TestBackground()();
    return QGuiApplication::applicationState() != Qt::ApplicationActive;
}

bool Send(const QString& summary, const QString& body)
{
    const QDBusConnection bus = TestBus() ? *TestBus() : QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(DesktopId));
    call << QStringLiteral("Korvel") << quint32(0) << QString::fromLatin1(DesktopId) << summary
         << body << QStringList() << hints << qint32(DefaultTimeout);
    // The pending answer is dropped: an error (no service, a refused call) changes nothing here.
    bus.asyncCall(call);
    return true;
}

bool SendInBackground(const QString& summary, const QString& body)
{
    return InBackground() && Send(summary, body);
}

QString CopySummary(bool move, bool failed)
{
    if (move) return failed ? QStringLiteral("移动失败") : QStringLiteral("移动完成");
    return failed ? QStringLiteral("复制失败") : QStringLiteral("复制完成");
}

QString CopyBody(int count, bool move)
{
    return (move ? QStringLiteral("已将 %1 本书移动到阅读器。")
                 : QStringLiteral("已将 %1 本书复制到阅读器。"))
        .arg(count);
}

QString UpdateSummary(bool failed)
{
    return failed ? QStringLiteral("升级失败") : QStringLiteral("升级完成");
}

void SetBusForTests(const QDBusConnection& bus)
{
    TestBus() = bus;
}

void SetBackgroundForTests(std::function<bool()> inBackground)
{
    TestBackground() = std::move(inBackground);
}

void ResetForTests()
{
    TestBus().reset();
    TestBackground() = nullptr;
}

} // namespace Notify
