// korvan-controller: the tray program. One application object, one
// AppDelegate, the event loop; no main window and no taskbar entry.

#include "AppDelegate.h"
#include "AppTexts.h"
#include "ControllerCommandLine.h"
#include "PlatformStartGuard.h"
#include "platform/Alert.h"
#include "platform/DesktopTrayIcon.h"
#include "platform/Preferences.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "platform/SymbolIcons.h"
#include "platform/Translations.h"
#include "platform/UrlOpener.h"
#include "platform/XdgAutostartLoginItem.h"
#include "service/ServiceManager.h"

#include <QApplication>
#include <QDBusConnection>
#include <QMetaObject>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

QList<QUrl> urlsOf(const QStringList& arguments) {
    QList<QUrl> urls;
    for (const QString& argument : arguments)
        urls << QUrl(argument);
    return urls;
}

} // namespace

int main(int argc, char** argv) {
    const ControllerCommandLine::Reading words = ControllerCommandLine::read(argc, argv);
    // Our own copy of the links first, then they are blanked where every
    // local user can read them, before anything else runs.
    std::vector<const char*> linkArgv{argv[0]};
    for (const int i : words.links)
        linkArgv.push_back(argv[i]);
    const QStringList arguments =
        SingleInstance::argumentsOf(int(linkArgv.size()), linkArgv.data());
    ControllerCommandLine::hideLinks(argv, words.links);
    if (words.exitStatus)
        return ControllerCommandLine::answer(words);

    // Qt gets its own options and nothing else; it keeps the array and may edit it.
    std::vector<char*> qtArgv{argv[0]};
    for (const int i : words.qtArguments)
        qtArgv.push_back(argv[i]);
    qtArgv.push_back(nullptr);
    int qtArgc = int(qtArgv.size()) - 1;
    std::optional<PlatformStartGuard> startGuard(std::in_place);
    QApplication app(qtArgc, qtArgv.data());
    startGuard.reset();
    // Before the single-instance channel, whose failures quote Qt's texts.
    Translations::installQtTranslations();

    // One controller per user: a later launch (the desktop opening a
    // korvan:// link) hands its arguments to the running one and leaves.
    SingleInstance instance(QStringLiteral("korvan-controller"));
    SingleInstance::Role role = SingleInstance::Role::unavailable;
    for (int round = 0; round < 3; ++round) {
        role = instance.acquire();
        if (role != SingleInstance::Role::secondary)
            break;
        if (instance.forward(arguments))
            return 0;
        // The running one quit in between; try to take its place.
    }
    // Never a second primary beside a running one, nor a link left with a
    // stranger: without a private channel this launch ends here.
    if (role != SingleInstance::Role::primary) {
        std::fprintf(stderr, "korvan-controller: %s\n", qPrintable(instance.errorString()));
        return 1;
    }

    QCoreApplication::setOrganizationName(QStringLiteral("Korvan"));
    QCoreApplication::setApplicationName(QStringLiteral("korvan-controller"));
    QGuiApplication::setApplicationDisplayName(AppTexts::controllerName);
    QGuiApplication::setDesktopFileName(QStringLiteral("korvan-controller"));
    // The pairing window is the only window; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // The theme is asked for it when a window first shows, not at launch.
    QApplication::setWindowIcon(SymbolIcons::themedOrBundled(
        QStringLiteral("korvan-controller"), QStringLiteral(":/korvan-controller.svg")));

    // A standard error whose reader has gone fails a write instead of ending
    // the program; children get the default action back from the runner.
    std::signal(SIGPIPE, SIG_IGN);
    // Caught from here on, and until the manager below is gone.
    QuitSignals quitSignals;
    MessageBoxAlert alert;
    XdgAutostartLoginItem loginItem(QCoreApplication::applicationFilePath(),
                                    AppTexts::controllerName);
    SettingsPreferences preferences;
    DesktopUrlOpener urlOpener;
    DesktopTrayIcon::Options trayOptions;
    trayOptions.id = QStringLiteral("korvan-controller");
    trayOptions.title = AppTexts::productName;
    DesktopTrayIcon trayIcon(QDBusConnection::sessionBus(), std::move(trayOptions));
    // The one service manager; it outlives the delegate, whose pending
    // completions it may still hold.
    ServiceManager manager;

    AppDelegate::Platform platform;
    platform.alert = &alert;
    platform.loginItem = &loginItem;
    platform.preferences = &preferences;
    platform.urlOpener = &urlOpener;
    platform.trayIcon = &trayIcon;

    AppDelegate delegate(manager, platform);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    // A logout's SIGTERM, Ctrl+C and a closed terminal quit as the menu does:
    // exec() returns, the delegate goes, then the manager, whose runs remove
    // the installer files this process wrote and leave the scripts running.
    QObject::connect(&quitSignals, &QuitSignals::received, &delegate, &AppDelegate::quit);
    // Start-up waits for the event loop, as "finished launching" does; links
    // this process was started with are handled once, after it.
    QMetaObject::invokeMethod(&delegate, &AppDelegate::applicationDidFinishLaunching,
                              Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        &delegate, [&delegate, arguments] { delegate.openURLs(urlsOf(arguments)); },
        Qt::QueuedConnection);
    QObject::connect(
        &instance, &SingleInstance::argumentsReceived, &delegate,
        [&delegate](const QStringList& received) { delegate.openURLs(urlsOf(received)); });
    return QApplication::exec();
}
