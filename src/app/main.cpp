// korvan-controller: the tray program. One application object, one
// AppDelegate, the event loop; no main window and no taskbar entry.

#include "AppDelegate.h"
#include "AppTexts.h"
#include "platform/Alert.h"
#include "platform/Preferences.h"
#include "platform/UrlOpener.h"
#include "platform/XdgAutostartLoginItem.h"

#include <QApplication>
#include <QMetaObject>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvan"));
    QCoreApplication::setApplicationName(QStringLiteral("korvan-controller"));
    QGuiApplication::setApplicationDisplayName(AppTexts::controllerName);
    QGuiApplication::setDesktopFileName(QStringLiteral("korvan-controller"));
    // The pairing window is the only window; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    MessageBoxAlert alert;
    XdgAutostartLoginItem loginItem(QCoreApplication::applicationFilePath(),
                                    AppTexts::controllerName);
    SettingsPreferences preferences;
    DesktopUrlOpener urlOpener;

    AppDelegate::Platform platform;
    platform.alert = &alert;
    platform.loginItem = &loginItem;
    platform.preferences = &preferences;
    platform.urlOpener = &urlOpener;
    platform.terminate = [] { QCoreApplication::quit(); };

    AppDelegate delegate(platform);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    // Start-up waits for the event loop, as "finished launching" does.
    QMetaObject::invokeMethod(&delegate, &AppDelegate::applicationDidFinishLaunching,
                              Qt::QueuedConnection);
    return app.exec();
}
