#include "BookInfoCache.h"
#include "FileInfo.h"
#include "Folders.h"
#include "Globals.h"
#include "ModelGuard.h"
#include "Privileges.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "uMainForm.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPointer>

namespace {

// The window was laid out for Tahoma 8 pt. Where Tahoma is missing, a font with Chinese
// glyphs stands in, so the captions render and keep their size.
void ApplyStandardFont()
{
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setPointSize(8);
    QApplication::setFont(font);
}

} // namespace

int main(int argc, char* argv[])
{
    // The store's browser shares its drawing contexts with the windows; both must be set
    // before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (RunningAsAdministrator() && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication application(argc, argv);
    // Lets the desktop match the window to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.korvel.Korvel"));

    TSingleInstance instance(QStringLiteral("TTESSARO_KORVEL_FOR_XAL"));
    if (instance.AnotherInstance()) {
        instance.ActivateOther();
        return 0;
    }

    // Watched from here on, before the slow part of the start: a kill that arrives while the
    // window is still being built is handled once the program runs, instead of ending it on
    // the spot.
    QPointer<QWidget> mainWindow;
    bool terminationRequested = false;
    WatchTerminationSignals([&] {
        // Ending the session or a plain kill closes the window the normal way, so the
        // settings are saved.
        if (mainWindow) {
            mainWindow->close();
        } else {
            terminationRequested = true;
            // A message shown while the window is built (a missing skin) must not hold the
            // end up: it is dismissed, the build completes and the program ends normally.
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        }
    });

    ModelGuard().SetMainThread();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Varnix"));
    application.setProperty("HelpFile", QString::fromLatin1(ApplicationHelpFile));
    ApplyStandardFont();

    // Reads the plug-in map once, before any window asks for a book's information.
    FileInfoManager();

    {
        TXALVarnixForm mainForm(QString(), nullptr,
                                Folders::ProgramFolder() + QStringLiteral("theme.zip"));
        instance.SetMainWindow(&mainForm);
        mainWindow = &mainForm;
        // A request that arrives after the window closed must not show it again (that would
        // cancel the program's end).
        QObject::connect(&application, &QGuiApplication::lastWindowClosed, &instance,
                         [&instance] { instance.SetMainWindow(nullptr); });
        QObject::connect(&instance, &TSingleInstance::RescanRequested, &mainForm,
                         &TXALVarnixForm::RescanReaders);
        if (!terminationRequested) {
            mainForm.show();
            application.exec();
        }
        instance.SetMainWindow(nullptr);
    }
    // The window took its reading threads and the search with it: what they read is written
    // now, not from a static destructor.
    TBookInfoCache::Shared().Flush();
    return 0;
}
