#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe; the notifier does the rest.
void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(SignalPipe[0], &byte, 1);
}

} // namespace

void WatchTerminationSignals(std::function<void()> handler)
{
    if (SignalPipe[0] >= 0) return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) return;
    fcntl(SignalPipe[0], F_SETFL, O_NONBLOCK);

    auto* notifier =
        new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [handler] {
        char buffer[16];
        while (read(SignalPipe[1], buffer, sizeof buffer) == static_cast<ssize_t>(sizeof buffer)) {
        }
        handler();
    });

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
}
