#include "DesktopTrayIcon.h"

#include "TrayTexts.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMenu>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;
const QString kWatcherPath = u"/StatusNotifierWatcher"_s;

} // namespace

DesktopTrayIcon::DesktopTrayIcon(QDBusConnection bus, Options options)
    : bus_(std::move(bus)), options_(std::move(options)),
      item_(bus_, options_.id, options_.title, options_.registration) {
    if (!options_.makeFallback)
        options_.makeFallback = [] { return std::make_unique<SystemTrayIcon>(); };
    if (!options_.writeError)
        options_.writeError = [](const QString& line) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(line));
        };
    noTrayTimer_.setSingleShot(true);
    noTrayTimer_.setInterval(options_.noTrayDelay);
    connect(&noTrayTimer_, &QTimer::timeout, this, &DesktopTrayIcon::tellNoTray);
    xembedTimer_.setInterval(options_.xembedPollInterval);
    connect(&xembedTimer_, &QTimer::timeout, this, &DesktopTrayIcon::tryXEmbed);
}

DesktopTrayIcon::~DesktopTrayIcon() = default;

void DesktopTrayIcon::setSymbol(const QString& symbol, SymbolTint tint) {
    symbol_ = symbol;
    tint_ = tint;
    item_.setSymbol(symbol, tint);
    if (fallback_)
        fallback_->setSymbol(symbol, tint);
}

void DesktopTrayIcon::setMenu(QMenu* menu) {
    menu_ = menu;
    item_.setMenu(menu);
    if (fallback_)
        fallback_->setMenu(menu);
}

void DesktopTrayIcon::setToolTip(const QString& text) {
    toolTip_ = text;
    item_.setToolTip(text);
    if (fallback_)
        fallback_->setToolTip(text);
}

void DesktopTrayIcon::show() {
    if (std::exchange(shown_, true))
        return;
    auto* watcher =
        new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty())
                    hostIs(false);
                else
                    queryHost();
            });
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus_.connect(kWatcher, kWatcherPath, kWatcher, QString::fromLatin1(signal), this,
                     SLOT(queryHost()));
    noTrayTimer_.start();
    queryHost();
}

void DesktopTrayIcon::queryHost() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    call << kWatcher << u"IsStatusNotifierHostRegistered"_s;
    const int query = ++hostQueries_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, query](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (query != hostQueries_)
                    return;
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                hostIs(reply.isValid() && reply.value().variant().toBool());
            });
}

void DesktopTrayIcon::hostIs(bool registered) {
    if (registered && choice_ != Choice::statusNotifierItem) {
        xembedTimer_.stop();
        fallback_.reset();
        choice_ = Choice::statusNotifierItem;
        item_.show();
    } else if (!registered && (choice_ == Choice::undecided || choice_ == Choice::none)) {
        tryXEmbed();
    }
}

void DesktopTrayIcon::tryXEmbed() {
    if (choice_ == Choice::statusNotifierItem || choice_ == Choice::xembed)
        return;
    if (!options_.hasXEmbedTray()) {
        // A tray may start later; the StatusNotifierItem watcher says when
        // it does, an XEmbed tray only when asked.
        choice_ = Choice::none;
        if (!xembedTimer_.isActive())
            xembedTimer_.start();
        return;
    }
    xembedTimer_.stop();
    choice_ = Choice::xembed;
    fallback_ = options_.makeFallback();
    fallback_->setToolTip(toolTip_);
    if (!symbol_.isEmpty())
        fallback_->setSymbol(symbol_, tint_);
    fallback_->setMenu(menu_);
    fallback_->show();
}

void DesktopTrayIcon::tellNoTray() {
    if (choice_ != Choice::undecided && choice_ != Choice::none)
        return;
    options_.writeError(TrayTexts::noTrayLine);
    QDBusMessage notify = QDBusMessage::createMethodCall(
        u"org.freedesktop.Notifications"_s, u"/org/freedesktop/Notifications"_s,
        u"org.freedesktop.Notifications"_s, u"Notify"_s);
    notify << options_.title << 0u << options_.id << options_.title
           << TrayTexts::noTrayNotificationBody << QStringList() << QVariantMap() << -1;
    // Nothing waits for the answer: without a notification service the line
    // above is all there is.
    bus_.asyncCall(notify);
}
