#include "AppDelegate.h"

#include "AppTexts.h"
#include "KorvanConfig.h"
#include "core/PairingLink.h"
#include "core/TextRules.h"
#include "pairing/PairingWindowController.h"
#include "platform/Alert.h"
#include "platform/DBusMenuExporter.h"
#include "platform/ErrorLog.h"
#include "platform/LoginItem.h"
#include "platform/Preferences.h"
#include "platform/SymbolIcons.h"
#include "platform/TrayIcon.h"
#include "platform/UrlOpener.h"
#include "service/ServiceControl.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPointer>
#include <QShortcut>

using namespace Qt::StringLiterals;

namespace {

const QString kDidConfigureLoginItem = QStringLiteral("didConfigureLoginItem");

} // namespace

AppDelegate::AppDelegate(ServiceControl& services, Platform platform, QObject* parent)
    : QObject(parent), services_(services), platform_(std::move(platform)),
      menu_(std::make_unique<QMenu>()) {
    // Children of the delegate, so that whoever drives it (a test, a debugger)
    // finds them among its children.
    refreshTimer_.setParent(this);
    refreshTimer_.setInterval(platform_.refreshInterval);
    picturesTimer_.setParent(this);
    picturesTimer_.setSingleShot(true);
    picturesTimer_.setInterval(0);
    connect(&picturesTimer_, &QTimer::timeout, this, &AppDelegate::drawPictures);
    buildMenu();
    present(Presentation::checking());
}

AppDelegate::~AppDelegate() {
    // The tray item must let go of the menu before the menu goes.
    platform_.trayIcon->setMenu(nullptr);
}

void AppDelegate::buildMenu() {
    QMenu* menu = menu_.get();
    const auto item = [this, menu](const QString& title, const QString& symbol,
                                   std::function<void()> handler) {
        auto* action = new QAction(title, menu);
        if (!symbol.isEmpty()) {
            pictures_.append({action, symbol});
            DBusMenuExporter::setAccessibleDescription(action,
                                                       AppTexts::pictureDescriptions.value(symbol));
        }
        if (handler)
            connect(action, &QAction::triggered, this, std::move(handler));
        return action;
    };
    const auto line = [menu] {
        auto* action = new QAction(menu);
        action->setEnabled(false);
        return action;
    };
    const auto command = [this](const QString& word, bool quitAfter) {
        return [this, word, quitAfter] { perform(word, quitAfter); };
    };
    QAction* title = item(AppTexts::productName, u"antenna.radiowaves.left.and.right"_s, {});
    title->setEnabled(false);
    stateItem_ = line();
    bridgeItem_ = line();
    agentItem_ = line();
    hubItem_ = line();
    memoryItem_ = line();
    startItem_ = item(AppTexts::startTitle, u"play.fill"_s, command(u"start"_s, false));
    stopItem_ = item(AppTexts::stopTitle, u"stop.fill"_s, command(u"stop"_s, false));
    restartItem_ = item(AppTexts::restartTitle, u"arrow.clockwise"_s, command(u"restart"_s, false));

    QAction* openMobile = item(AppTexts::openMobileTitle, u"iphone"_s,
                               [this] { platform_.urlOpener->open(QUrl(korvan::defaultHubURL)); });
    QAction* openLocal = item(AppTexts::openLocalTitle, u"macbook"_s, [this] {
        platform_.urlOpener->open(QUrl(AppTexts::localConsoleURL));
    });
    QAction* pairing = item(AppTexts::pairingTitle, u"link"_s, [this] { showPairing(); });
    loginItem_ = item(AppTexts::loginItemTitle, {}, [this] { toggleLoginItem(); });
    loginItem_->setCheckable(true);

    QAction* stopAndQuit = item(AppTexts::stopAndQuitTitle, {}, command(u"stop"_s, true));
    QAction* quit = item(AppTexts::quitTitle, {}, [this] { this->quit(); });
    // Ctrl+Q here, Command+Q where the toolkit maps Ctrl to Command.
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Qt never fires the shortcut of an action that sits only in a tray menu
    // (it looks for the menu's own place in a menu bar); the open menu
    // listens for the key itself.
    auto* quitKey = new QShortcut(quit->shortcut(), menu);
    connect(quitKey, &QShortcut::activated, quit, &QAction::trigger);

    menu->addActions({title, stateItem_, bridgeItem_, agentItem_, hubItem_, memoryItem_});
    menu->addSeparator();
    menu->addActions({startItem_, stopItem_, restartItem_});
    menu->addSeparator();
    menu->addActions({openMobile, openLocal, pairing, loginItem_});
    menu->addSeparator();
    menu->addActions({stopAndQuit, quit});
    connect(menu, &QMenu::aboutToShow, this, [this] {
        refreshStatus();
        updateLoginCheckmark();
    });
}

void AppDelegate::applicationDidFinishLaunching() {
    // There is no window, so nothing to keep out of the taskbar here.
    TrayIcon& tray = *platform_.trayIcon;
    tray.setToolTip(AppTexts::productName);
    tray.setMenu(menu_.get());
    tray.show();

    updateLoginCheckmark();
    configureLoginItemOnFirstStart();

    isPaired_ = services_.hasPairing();
    if (!isPaired_) {
        present(Presentation::unpaired());
        showPairing();
        schedulePictures();
    } else if (!isBusy_) {
        refreshStatus();
    }

    connect(&refreshTimer_, &QTimer::timeout, this, [this] {
        // Posted rather than run inline; dropped with this object if it goes first.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isPaired_)
                    refreshStatus();
            },
            Qt::QueuedConnection);
    });
    refreshTimer_.start();
}

void AppDelegate::schedulePictures() {
    if (!picturesDrawn_ && !picturesTimer_.isActive())
        picturesTimer_.start();
}

void AppDelegate::drawPictures() {
    picturesDrawn_ = true;
    // All at once, so that tray hosts hear of them in one announcement; the
    // exporter draws them for it, and only then is the theme asked.
    for (const auto& [action, symbol] : std::as_const(pictures_))
        action->setIcon(SymbolIcons::menuIcon(symbol));
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

void AppDelegate::applicationWillTerminate() {
    terminating_ = true;
    refreshTimer_.stop();
}

void AppDelegate::endEventLoop() {
    QCoreApplication::exit(0);
}

void AppDelegate::quit() {
    applicationWillTerminate();
    platform_.terminate();
}

void AppDelegate::refreshStatus(bool besideARun) {
    if (!isPaired_ || isBusy_)
        return;
    // A script that hangs keeps its run until the runner's limit; a copy
    // started beside it every tick would hang too.
    if (statusRunsRunning_ > 0 && !besideARun)
        return;
    queryStatus([this](const std::optional<ServiceSnapshot>& report) {
        if (report)
            presentReport(*report);
    });
}

void AppDelegate::queryStatus(std::function<void(const std::optional<ServiceSnapshot>&)> done) {
    const quint64 run = ++statusRunsStarted_;
    ++statusRunsRunning_;
    services_.status([self = QPointer<AppDelegate>(this), run,
                      done = std::move(done)](const ServiceSnapshot& report) {
        if (!self)
            return;
        --self->statusRunsRunning_;
        self->schedulePictures();
        // A late report of a run that started before the one shown is older
        // news than the menu already has.
        if (run < self->lastPresentedRun_)
            return done(std::nullopt);
        self->lastPresentedRun_ = run;
        done(report);
    });
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
    present(Presentation::of(snapshot_, isBusy_));
}

// The one place that writes the menu and the tray icon.
void AppDelegate::present(const Presentation& p) {
    stateItem_->setText(p.stateLine);
    bridgeItem_->setText(p.bridgeLine);
    agentItem_->setText(p.agentLine);
    hubItem_->setText(p.hubLine);
    memoryItem_->setText(p.memoryLine);
    startItem_->setEnabled(p.canStart);
    stopItem_->setEnabled(p.canStop);
    restartItem_->setEnabled(p.canRestart);
    updateStatusIcon(p.symbol, p.tint);
}

void AppDelegate::updateStatusIcon(const QString& symbol, SymbolTint tint) {
    // Most refreshes repeat the last state; a tray host that is sent a new
    // icon redraws it, every five seconds for as long as the program runs.
    if (symbol == iconSymbol_ && tint == iconTint_)
        return;
    iconSymbol_ = symbol;
    iconTint_ = tint;
    platform_.trayIcon->setSymbol(symbol, tint);
}

void AppDelegate::perform(const QString& command, bool quitAfter) {
    if (isBusy_)
        return;
    isBusy_ = true;
    updateMenu(snapshot_);
    QPointer<AppDelegate> self(this);
    services_.run(command, [self, quitAfter](const CommandResult& result) {
        if (!self)
            return;
        self->isBusy_ = false;
        if (result.status == 0)
            return self->followUp(quitAfter);
        const Utf8Text& text = result.error.isEmpty() ? result.output : result.error;
        self->showError(text.toString(), [self, quitAfter] {
            // After a quit while the alert was up nothing more is asked of
            // the script.
            if (self && !self->terminating_)
                self->followUp(quitAfter);
        });
    });
}

void AppDelegate::followUp(bool quitAfter) {
    // Made whether or not the machine is paired or busy, and beside a tick's
    // run that hangs; stop-and-quit ends with it even when its report is stale.
    queryStatus([this, quitAfter](const std::optional<ServiceSnapshot>& report) {
        if (report)
            updateMenu(*report);
        if (quitAfter)
            quit();
    });
}

void AppDelegate::showError(const QString& message, std::function<void()> dismissed) {
    const QString whole = text::trimmed(message);
    if (!whole.isEmpty())
        ErrorLog::write(whole, platform_.errorLogFd);
    platform_.alert->showWarning(AppTexts::errorMessage, text::alertExcerpt(whole),
                                 AppTexts::errorButton, std::move(dismissed));
}

void AppDelegate::onPaired() {
    isPaired_ = true;
    firstRefresh_ = false;
    refreshStatus(true);
}

void AppDelegate::toggleLoginItem() {
    LoginItem& item = *platform_.loginItem;
    const auto failure =
        item.status() == LoginItemStatus::enabled ? item.unregisterItem() : item.registerItem();
    if (failure)
        showError(*failure);
    updateLoginCheckmark();
}

void AppDelegate::showPairing() {
    pairingWindow().show(std::nullopt);
}

PairingWindowController& AppDelegate::pairingWindow() {
    if (!pairingWindow_) {
        // The window must not keep the delegate alive, nor call into a dead one.
        pairingWindow_ = std::make_unique<PairingWindowController>(
            services_, [self = QPointer<AppDelegate>(this)] {
                if (self)
                    self->onPaired();
            });
    }
    return *pairingWindow_;
}

void AppDelegate::openURLs(const QList<QUrl>& urls) {
    if (const auto link = PairingLink::firstKorvanLink(urls))
        pairingWindow().show(*link);
}
