// AppDelegate: the tray controller. Holds the refresh timer, the menu, the
// flags isBusy / isPaired / firstRefresh and the snapshot last presented; the
// services and the desktop come in through interfaces that the caller owns
// and keeps alive longer than the delegate.
//
// Main thread only. Construction builds the menu and runs no script;
// applicationDidFinishLaunching (once the event loop runs) shows the tray
// item, checks pairing and starts the timer. The rows and their texts are
// complete from the start; their pictures wait for the first idle turn after
// the first report (or after start-up, when no report is asked for), so that
// nothing stands between the launch and the first menu a tray host reads. Every state change is
// written into the menu's actions at once, from one Presentation value: some tray hosts read the
// menu over D-Bus and never say when they show it.
#pragma once

#include "core/Presentation.h"
#include "core/ServiceSnapshot.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

class Alert;
class LoginItem;
class PairingWindowController;
class Preferences;
class QAction;
class QMenu;
class ServiceControl;
class TrayIcon;
class UrlOpener;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Leaves every event loop at once. Unlike QCoreApplication::quit() it asks
    // no window to close, so a pairing window that refuses the user's close
    // while installing cannot keep an invisible process alive.
    static void endEventLoop();

    struct Platform {
        Alert* alert = nullptr;
        LoginItem* loginItem = nullptr;
        Preferences* preferences = nullptr;
        UrlOpener* urlOpener = nullptr;
        TrayIcon* trayIcon = nullptr;
        std::function<void()> terminate = endEventLoop; // ends the application
        std::chrono::milliseconds refreshInterval = std::chrono::seconds(5);
        int errorLogFd = STDERR_FILENO; // where the whole text of each alert goes
    };

    AppDelegate(ServiceControl& services, Platform platform, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // What the quit item, stop-and-quit and a quit signal do: nothing more is
    // asked of the services, and the application ends.
    void quit();

    // Links the desktop asked us to open: the first whose scheme is "korvan"
    // (any case) fills and shows the pairing window; when there is none,
    // nothing happens at all.
    void openURLs(const QList<QUrl>& urls);
    // The pairing window with no link, as the menu item opens it.
    void showPairing();

private:
    // A tick's or the menu's query; pairing's may start beside a run still going.
    void refreshStatus(bool besideARun = false);
    // Starts one "status" run. `done` gets its report, or nothing when a run
    // started later has been presented already.
    void queryStatus(std::function<void(const std::optional<ServiceSnapshot>&)> done);
    void presentReport(const ServiceSnapshot& report);
    void updateMenu(const ServiceSnapshot& snapshot);
    void present(const Presentation& presentation);
    void updateStatusIcon(const QString& symbol, SymbolTint tint);
    void perform(const QString& command, bool quitAfter);
    void followUp(bool quitAfter);
    void showError(const QString& message, std::function<void()> dismissed = {});
    void onPaired();
    void buildMenu();
    void schedulePictures();
    void drawPictures();
    void updateLoginCheckmark();
    void configureLoginItemOnFirstStart();
    void toggleLoginItem();
    PairingWindowController& pairingWindow();

    ServiceControl& services_;
    Platform platform_;
    std::unique_ptr<QMenu> menu_;
    QAction* stateItem_ = nullptr;
    QAction* bridgeItem_ = nullptr;
    QAction* agentItem_ = nullptr;
    QAction* hubItem_ = nullptr;
    QAction* memoryItem_ = nullptr;
    QAction* startItem_ = nullptr;
    QAction* stopItem_ = nullptr;
    QAction* restartItem_ = nullptr;
    QAction* loginItem_ = nullptr;
    QTimer refreshTimer_;
    // The rows that carry a picture, and the symbol of each.
    QList<std::pair<QAction*, QString>> pictures_;
    QTimer picturesTimer_; // zero interval: fires once the loop has nothing else to do
    bool picturesDrawn_ = false;
    // What the tray item shows now, so that an unchanged state leaves it alone.
    QString iconSymbol_;
    SymbolTint iconTint_ = SymbolTint::grey;
    bool isBusy_ = false;
    bool isPaired_ = false;
    bool firstRefresh_ = true;
    bool terminating_ = false;
    // Status runs are numbered by their start; a hung one holds its number
    // until the runner's limit ends it.
    int statusRunsRunning_ = 0;
    quint64 statusRunsStarted_ = 0;
    quint64 lastPresentedRun_ = 0;
    ServiceSnapshot snapshot_;
    std::unique_ptr<PairingWindowController> pairingWindow_;
};
