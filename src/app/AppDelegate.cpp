#include "AppDelegate.h"

#include "KorvanConfig.h"
#include "pairing/PairingLink.h"
#include "pairing/PairingWindowController.h"

#include "AppTexts.h"
#include "StatusText.h"
#include "platform/Alert.h"
#include "platform/LoginItem.h"
#include "platform/Preferences.h"
#include "platform/SymbolIcons.h"
#include "platform/UrlOpener.h"
#include "service/TextRules.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QUrl>

namespace {

const QString kDidConfigureLoginItem = QStringLiteral("didConfigureLoginItem");

const QString kPowerSymbol = QStringLiteral("power.circle");
const QString kAntennaSymbol = QStringLiteral("antenna.radiowaves.left.and.right");
const QString kAntennaCircleSymbol =
    QStringLiteral("antenna.radiowaves.left.and.right.circle.fill");
const QString kExclamationSymbol = QStringLiteral("exclamationmark.circle.fill");

QAction* newItem(const QString& title, QMenu* menu) {
    return new QAction(title, menu);
}

} // namespace

AppDelegate::AppDelegate(Platform platform, QObject* parent)
    : QObject(parent), platform_(std::move(platform)), statusItem_(new QSystemTrayIcon(this)),
      menu_(std::make_unique<QMenu>()), titleItem_(newItem(AppTexts::productName, menu_.get())),
      stateItem_(newItem(AppTexts::stateChecking, menu_.get())),
      bridgeItem_(newItem(AppTexts::bridgeChecking, menu_.get())),
      agentItem_(newItem(AppTexts::agentChecking, menu_.get())),
      hubItem_(newItem(AppTexts::hubChecking, menu_.get())),
      memoryItem_(newItem(AppTexts::memoryUnknown, menu_.get())),
      startItem_(newItem(AppTexts::startTitle, menu_.get())),
      stopItem_(newItem(AppTexts::stopTitle, menu_.get())),
      restartItem_(newItem(AppTexts::restartTitle, menu_.get())),
      pairingItem_(newItem(AppTexts::pairingTitle, menu_.get())),
      loginItem_(newItem(AppTexts::loginItemTitle, menu_.get())) {
    if (!platform_.isTrayAvailable)
        platform_.isTrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    refreshTimer_.setInterval(platform_.refreshInterval);
    trayRetryTimer_.setInterval(platform_.trayRetryInterval);
}

AppDelegate::~AppDelegate() {
    // The tray icon must let go of the menu before the menu goes.
    statusItem_->setContextMenu(nullptr);
}

void AppDelegate::applicationDidFinishLaunching() {
    // There is no window, so nothing to keep out of the taskbar here.
    statusItem_->setToolTip(AppTexts::productName);
    updateStatusIcon(RemoteState::switching);
    statusItem_->setContextMenu(menu_.get());
    showStatusItem();
    connect(menu_.get(), &QMenu::aboutToShow, this, &AppDelegate::menuWillOpen);

    assembleMenu();
    updateLoginCheckmark();
    configureLoginItemOnFirstStart();

    isPaired_ = manager_.hasPairing();
    if (!isPaired_) {
        stateItem_->setText(AppTexts::stateWaitingForPairing);
        bridgeItem_->setText(AppTexts::bridgeNotInstalled);
        agentItem_->setText(AppTexts::agentNotInstalled);
        hubItem_->setText(AppTexts::hubNotConnectedLine);
        memoryItem_->setText(AppTexts::memoryZero);
        startItem_->setEnabled(false);
        stopItem_->setEnabled(false);
        restartItem_->setEnabled(false);
        updateStatusIcon(RemoteState::stopped);
        showPairing();
    } else if (!isBusy_) {
        refreshStatus();
    }

    connect(&refreshTimer_, &QTimer::timeout, this, &AppDelegate::refreshTick);
    refreshTimer_.start();
}

void AppDelegate::assembleMenu() {
    titleItem_->setEnabled(false);
    titleItem_->setIcon(SymbolIcons::menuIcon(kAntennaSymbol));
    for (QAction* line : {stateItem_, bridgeItem_, agentItem_, hubItem_, memoryItem_})
        line->setEnabled(false);

    connect(startItem_, &QAction::triggered, this, &AppDelegate::startServices);
    connect(stopItem_, &QAction::triggered, this, &AppDelegate::stopServices);
    connect(restartItem_, &QAction::triggered, this, &AppDelegate::restartServices);
    connect(pairingItem_, &QAction::triggered, this, &AppDelegate::showPairing);
    connect(loginItem_, &QAction::triggered, this, &AppDelegate::toggleLoginItem);
    startItem_->setIcon(SymbolIcons::menuIcon(QStringLiteral("play.fill")));
    stopItem_->setIcon(SymbolIcons::menuIcon(QStringLiteral("stop.fill")));
    restartItem_->setIcon(SymbolIcons::menuIcon(QStringLiteral("arrow.clockwise")));
    pairingItem_->setIcon(SymbolIcons::menuIcon(QStringLiteral("link")));
    loginItem_->setCheckable(true);

    QMenu* menu = menu_.get();
    auto* openMobileItem = newItem(AppTexts::openMobileTitle, menu);
    openMobileItem->setIcon(SymbolIcons::menuIcon(QStringLiteral("iphone")));
    connect(openMobileItem, &QAction::triggered, this, &AppDelegate::openMobile);
    auto* openLocalItem = newItem(AppTexts::openLocalTitle, menu);
    openLocalItem->setIcon(SymbolIcons::menuIcon(QStringLiteral("macbook")));
    connect(openLocalItem, &QAction::triggered, this, &AppDelegate::openLocal);
    auto* quitItem = newItem(AppTexts::quitTitle, menu);
    // Ctrl+Q here, Command+Q where the toolkit maps Ctrl to Command.
    quitItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Qt never fires the shortcut of an action that sits only in a tray menu
    // (it looks for the menu's own place in a menu bar); the open menu
    // listens for the key itself.
    auto* quitKey = new QShortcut(quitItem->shortcut(), menu);
    connect(quitKey, &QShortcut::activated, quitItem, &QAction::trigger);
    connect(quitItem, &QAction::triggered, this, &AppDelegate::quitController);
    auto* stopAndQuitItem = newItem(AppTexts::stopAndQuitTitle, menu);
    connect(stopAndQuitItem, &QAction::triggered, this, &AppDelegate::stopAndQuit);

    menu->addActions({titleItem_, stateItem_, bridgeItem_, agentItem_, hubItem_, memoryItem_});
    menu->addSeparator();
    menu->addActions({startItem_, stopItem_, restartItem_});
    menu->addSeparator();
    menu->addActions({openMobileItem, openLocalItem, pairingItem_, loginItem_});
    menu->addSeparator();
    menu->addActions({stopAndQuitItem, quitItem});
}

void AppDelegate::updateLoginCheckmark() {
    loginItem_->setChecked(platform_.loginItem->status() == LoginItemStatus::enabled);
}

void AppDelegate::configureLoginItemOnFirstStart() {
    if (platform_.preferences->boolValue(kDidConfigureLoginItem))
        return;
    // A failure here is not the user's concern yet; the next start tries again.
    const bool registered = !platform_.loginItem->registerItem().has_value();
    platform_.preferences->setBoolValue(kDidConfigureLoginItem, registered);
    updateLoginCheckmark();
}

void AppDelegate::showStatusItem() {
    if (platform_.isTrayAvailable()) {
        statusItem_->show();
        return;
    }
    // At login the tray host often starts after us: wait for it, never give up
    // the item and never exit for this.
    trayRetries_ = 0;
    connect(&trayRetryTimer_, &QTimer::timeout, this, &AppDelegate::retryTray,
            Qt::UniqueConnection);
    trayRetryTimer_.start();
}

void AppDelegate::retryTray() {
    ++trayRetries_;
    const bool available = platform_.isTrayAvailable();
    if (!available && trayRetries_ < platform_.trayRetryLimit)
        return;
    trayRetryTimer_.stop();
    // Past the limit the item is shown anyway: the platform may still embed
    // it when a tray turns up later.
    statusItem_->show();
}

void AppDelegate::applicationWillTerminate() {
    refreshTimer_.stop();
    trayRetryTimer_.stop();
}

void AppDelegate::refreshTick() {
    // Posted rather than run inline; dropped with this object if it goes first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isPaired_)
                refreshStatus();
        },
        Qt::QueuedConnection);
}

void AppDelegate::refreshStatus() {
    if (!isPaired_ || isBusy_)
        return;
    // Completions are dropped when manager_ (and so this object) is destroyed,
    // so capturing `this` is safe here and below.
    manager_.status([this](const ServiceSnapshot& report) { presentReport(report); });
}

void AppDelegate::presentReport(const ServiceSnapshot& report) {
    updateMenu(report);
    if (!firstRefresh_)
        return;
    firstRefresh_ = false;
    if (report.desired == u"enabled" && report.state() != RemoteState::linked && !isBusy_)
        perform(QStringLiteral("start"), false);
}

void AppDelegate::updateMenu(const ServiceSnapshot& snapshot) {
    snapshot_ = snapshot;
    const RemoteState state = isBusy_ ? RemoteState::switching : snapshot_.state();
    stateItem_->setText(StatusText::stateLine(state));
    bridgeItem_->setText(StatusText::bridgeLine(snapshot_));
    agentItem_->setText(StatusText::agentLine(snapshot_));
    hubItem_->setText(StatusText::hubLine(snapshot_));
    memoryItem_->setText(StatusText::memoryLine(snapshot_));

    const bool anythingToStop = snapshot_.bridge == u"online" || snapshot_.agent == u"online" ||
                                snapshot_.desired != u"disabled";
    startItem_->setEnabled(!isBusy_ && snapshot_.state() != RemoteState::linked);
    stopItem_->setEnabled(!isBusy_ && anythingToStop);
    restartItem_->setEnabled(!isBusy_);
    updateStatusIcon(state);
}

void AppDelegate::updateStatusIcon(RemoteState state) {
    const QString* symbol = &kAntennaCircleSymbol;
    SymbolTint tint = SymbolTint::yellow;
    switch (state) {
    case RemoteState::stopped:
        symbol = &kPowerSymbol;
        tint = SymbolTint::grey;
        break;
    case RemoteState::switching:
    case RemoteState::connecting:
        break;
    case RemoteState::linked:
        tint = SymbolTint::green;
        break;
    case RemoteState::failed:
        symbol = &kExclamationSymbol;
        tint = SymbolTint::red;
        break;
    }
    // Most refreshes repeat the last state. A new icon would be parsed and
    // drawn again, and a tray host that takes pixmaps would be sent every
    // size of it anew, every five seconds for as long as the program runs.
    if (statusItem_->icon().cacheKey() == iconKey_ && symbol == iconSymbol_ && tint == iconTint_)
        return;
    statusItem_->setIcon(SymbolIcons::tinted(*symbol, SymbolIcons::tintColor(tint)));
    iconSymbol_ = symbol;
    iconTint_ = tint;
    iconKey_ = statusItem_->icon().cacheKey();
}

void AppDelegate::perform(const QString& command, bool quitAfter) {
    if (isBusy_)
        return;
    isBusy_ = true;
    updateMenu(snapshot_);
    manager_.run(command, [this, quitAfter](const CommandResult& result) {
        isBusy_ = false;
        if (result.status != 0) {
            QPointer<AppDelegate> self(this);
            showError(result.error.isEmpty() ? result.output : result.error);
            if (!self)
                return;
        }
        // The follow-up runs whether or not the machine is paired or busy.
        manager_.status([this, quitAfter](const ServiceSnapshot& report) {
            updateMenu(report);
            if (quitAfter)
                platform_.terminate();
        });
    });
}

void AppDelegate::showError(const QString& message) {
    platform_.alert->showWarning(AppTexts::errorMessage, text::trimmed(message),
                                 AppTexts::errorButton);
}

void AppDelegate::onPaired() {
    isPaired_ = true;
    firstRefresh_ = false;
    refreshStatus();
}

void AppDelegate::menuWillOpen() {
    refreshStatus();
    updateLoginCheckmark();
}

void AppDelegate::startServices() {
    perform(QStringLiteral("start"), false);
}

void AppDelegate::stopServices() {
    perform(QStringLiteral("stop"), false);
}

void AppDelegate::restartServices() {
    perform(QStringLiteral("restart"), false);
}

void AppDelegate::stopAndQuit() {
    perform(QStringLiteral("stop"), true);
}

void AppDelegate::openMobile() {
    platform_.urlOpener->open(QUrl(korvan::defaultHubURL));
}

void AppDelegate::openLocal() {
    platform_.urlOpener->open(QUrl(AppTexts::localConsoleURL));
}

void AppDelegate::toggleLoginItem() {
    LoginItem& item = *platform_.loginItem;
    const auto failure =
        item.status() == LoginItemStatus::enabled ? item.unregisterItem() : item.registerItem();
    if (failure)
        showError(*failure);
    updateLoginCheckmark();
}

void AppDelegate::quitController() {
    platform_.terminate();
}

void AppDelegate::showPairing() {
    pairingWindow()->show(std::nullopt);
    Q_EMIT pairingRequested();
}

PairingWindowController* AppDelegate::pairingWindow() {
    if (!pairingWindow_) {
        // The window must not keep the delegate alive, nor call into a dead one.
        pairingWindow_ = std::make_unique<PairingWindowController>(
            manager_, [self = QPointer<AppDelegate>(this)] {
                if (self)
                    self->onPaired();
            });
    }
    return pairingWindow_.get();
}

void AppDelegate::openURLs(const QList<QUrl>& urls) {
    if (const auto link = PairingLink::firstKorvanLink(urls))
        pairingWindow()->show(*link);
}
