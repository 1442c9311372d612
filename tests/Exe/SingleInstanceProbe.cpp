// A small program around the real single-instance guard and a real window, for the tests.
// First instance: shows its window in the state named by the first argument ("minimized",
// "maximized-minimized" or "normal"), prints "ready" and, after every activation, one line with
// the window's state. Later instances: print "another" after sending their request and end.
#include "SingleInstance.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TSingleInstance instance(QStringLiteral("TTESSARO_KORVEL_FOR_XAL"));
    if (instance.AnotherInstance()) {
        const bool sent = instance.ActivateOther();
        std::printf("another %d\n", sent ? 1 : 0);
        return 0;
    }

    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("normal");
    QWidget window;
    window.resize(300, 200);
    if (mode == QLatin1String("maximized-minimized"))
        window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
    else if (mode == QLatin1String("minimized"))
        window.setWindowState(Qt::WindowMinimized);
    window.show();
    instance.SetMainWindow(&window);
    QObject::connect(&instance, &TSingleInstance::Activated, [&window] {
        std::printf("activated minimized=%d maximized=%d visible=%d\n", window.isMinimized() ? 1 : 0,
                    window.isMaximized() ? 1 : 0, window.isVisible() ? 1 : 0);
        std::fflush(stdout);
    });
    QObject::connect(&instance, &TSingleInstance::RescanRequested, [] {
        std::printf("rescan\n");
        std::fflush(stdout);
    });
    // Only a window in the asked-for state makes a meaningful start.
    const bool wantMinimized = mode != QLatin1String("normal");
    if (window.isMinimized() != wantMinimized) {
        std::printf("bad state\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
