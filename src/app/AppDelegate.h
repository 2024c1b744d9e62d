// AppDelegate: the tray controller. Owns, for the whole run, the one
// ServiceManager, the tray item and its menu, the refresh timer, the flags
// isBusy / isPaired / firstRefresh and the snapshot last presented.
//
// Main thread only. Construction runs no script; applicationDidFinishLaunching
// (once the event loop runs) assembles the menu, checks pairing and starts the
// timer. Every state change is written into the menu's actions at once: some
// tray hosts read the menu over D-Bus and never say when they show it.
//
// The desktop services come in through `Platform`, which the caller owns and
// keeps alive longer than the delegate; tests pass fakes there.
#pragma once

#include "platform/SymbolIcons.h"
#include "service/RemoteState.h"
#include "service/ServiceManager.h"
#include "service/ServiceSnapshot.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class Alert;
class PairingWindowController;
class LoginItem;
class Preferences;
class QAction;
class QMenu;
class QSystemTrayIcon;
class UrlOpener;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Platform {
        Alert* alert = nullptr;
        LoginItem* loginItem = nullptr;
        Preferences* preferences = nullptr;
        UrlOpener* urlOpener = nullptr;
        std::function<void()> terminate;       // ends the application
        std::function<bool()> isTrayAvailable; // a tray host is there to show the item
        std::chrono::milliseconds refreshInterval = std::chrono::seconds(5);
        std::chrono::milliseconds trayRetryInterval = std::chrono::seconds(2);
        int trayRetryLimit = 150; // five minutes at the default interval
    };

    explicit AppDelegate(Platform platform, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    void refreshStatus();
    void updateMenu(const ServiceSnapshot& snapshot);
    void updateStatusIcon(RemoteState state);
    void perform(const QString& command, bool quitAfter);
    void showError(const QString& message);
    // Successful pairing: the pairing window calls this.
    void onPaired();

    // The one pairing window, created on first use and kept to the end.
    PairingWindowController* pairingWindow();
    bool hasPairingWindow() const { return pairingWindow_ != nullptr; }

    // Links the desktop asked us to open: the first whose scheme is "korvan"
    // (any case) fills and shows the pairing window; when there is none,
    // nothing happens at all.
    void openURLs(const QList<QUrl>& urls);

    bool isBusy() const { return isBusy_; }
    bool isPaired() const { return isPaired_; }
    bool firstRefresh() const { return firstRefresh_; }
    const ServiceSnapshot& snapshot() const { return snapshot_; }
    ServiceManager& manager() { return manager_; }

    QSystemTrayIcon* statusItem() const { return statusItem_; }
    QMenu* menu() const { return menu_.get(); }
    QAction* titleItem() const { return titleItem_; }
    QAction* stateItem() const { return stateItem_; }
    QAction* bridgeItem() const { return bridgeItem_; }
    QAction* agentItem() const { return agentItem_; }
    QAction* hubItem() const { return hubItem_; }
    QAction* memoryItem() const { return memoryItem_; }
    QAction* startItem() const { return startItem_; }
    QAction* stopItem() const { return stopItem_; }
    QAction* restartItem() const { return restartItem_; }
    QAction* pairingItem() const { return pairingItem_; }
    QAction* loginItem() const { return loginItem_; }
    const QTimer& refreshTimer() const { return refreshTimer_; }

public Q_SLOTS:
    // One firing of the refresh timer; the work is posted, not done inline.
    void refreshTick();
    void menuWillOpen();
    void startServices();
    void stopServices();
    void restartServices();
    void stopAndQuit();
    void openMobile();
    void openLocal();
    void toggleLoginItem();
    void quitController();
    void showPairing();

Q_SIGNALS:
    // The pairing window was asked to open with no pairing link.
    void pairingRequested();

private:
    void presentReport(const ServiceSnapshot& snapshot);
    void assembleMenu();
    void updateLoginCheckmark();
    void configureLoginItemOnFirstStart();
    void showStatusItem();
    void retryTray();

    Platform platform_;
    ServiceManager manager_;
    QSystemTrayIcon* statusItem_;
    std::unique_ptr<QMenu> menu_;
    QAction* titleItem_;
    QAction* stateItem_;
    QAction* bridgeItem_;
    QAction* agentItem_;
    QAction* hubItem_;
    QAction* memoryItem_;
    QAction* startItem_;
    QAction* stopItem_;
    QAction* restartItem_;
    QAction* pairingItem_;
    QAction* loginItem_;
    QTimer refreshTimer_;
    QTimer trayRetryTimer_;
    int trayRetries_ = 0;
    // What the status item's icon shows now, so that an unchanged state
    // leaves it alone.
    const QString* iconSymbol_ = nullptr;
    SymbolTint iconTint_ = SymbolTint::grey;
    qint64 iconKey_ = 0;
    bool isBusy_ = false;
    bool isPaired_ = false;
    ServiceSnapshot snapshot_;
    bool firstRefresh_ = true;
    std::unique_ptr<PairingWindowController> pairingWindow_;
};
