#include "StatusNotifierItem.h"

#include "SymbolIcons.h"

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;
const QString kItemPath = u"/StatusNotifierItem"_s;
const QString kMenuPath = u"/MenuBar"_s;
// A watcher that takes longer than this to answer is asked again.
constexpr int kCallTimeoutMs = 5000;
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64};

constexpr QDBusConnection::RegisterOptions kExported =
    QDBusConnection::ExportScriptableContents | QDBusConnection::ExportAllProperties;

} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QString id, QString title,
                                       Timing timing)
    : bus_(std::move(bus)), id_(std::move(id)), title_(std::move(title)), timing_(timing) {
    registerStatusNotifierTypes();
    retryTimer_.setSingleShot(true);
    retryTimer_.setInterval(timing_.retryInterval);
    connect(&retryTimer_, &QTimer::timeout, this, &StatusNotifierItem::registerWithWatcher);
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!shown_)
        return;
    bus_.unregisterObject(kItemPath);
    bus_.unregisterObject(kMenuPath);
    if (serviceName_ != bus_.baseService())
        bus_.unregisterService(serviceName_);
}

QString StatusNotifierItem::status() const {
    return needsAttention_ ? u"NeedsAttention"_s : u"Active"_s;
}

QDBusObjectPath StatusNotifierItem::menuPath() const {
    return QDBusObjectPath(kMenuPath);
}

IconPixmapList StatusNotifierItem::pixmapsOf(const QString& symbol, SymbolTint tint) {
    const QString key = symbol + u'/' + QString::number(static_cast<int>(tint));
    auto found = drawn_.constFind(key);
    if (found != drawn_.cend())
        return *found;
    const QIcon icon = SymbolIcons::tinted(symbol, SymbolIcons::tintColor(tint));
    IconPixmapList pixmaps;
    for (int side : kSizes) {
        QImage image = icon.pixmap(QSize(side, side), 1.0).toImage();
        if (image.isNull())
            continue;
        image = image.convertToFormat(QImage::Format_ARGB32);
        // QImage keeps each 0xAARRGGBB pixel in host order; hosts read A, R,
        // G, B byte by byte.
        QByteArray bytes(qsizetype(image.width()) * image.height() * 4, Qt::Uninitialized);
        auto* out = reinterpret_cast<uchar*>(bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4)
                qToBigEndian(line[x], out);
        }
        pixmaps << IconPixmap{image.width(), image.height(), bytes};
    }
    return *drawn_.insert(key, pixmaps);
}

IconPixmapList StatusNotifierItem::attentionIconPixmap() {
    return pixmapsOf(StatusSymbol::failed, SymbolTint::red);
}

void StatusNotifierItem::setSymbol(const QString& symbol, SymbolTint tint) {
    icon_ = pixmapsOf(symbol, tint);
    Q_EMIT NewIcon();
    const bool failed = symbol == StatusSymbol::failed;
    if (std::exchange(needsAttention_, failed) != failed)
        Q_EMIT NewStatus(status());
}

void StatusNotifierItem::setMenu(QMenu* menu) {
    menu_ = menu;
    menuExporter_.setMenu(menu);
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (std::exchange(toolTip_, text) != text)
        Q_EMIT NewToolTip();
}

void StatusNotifierItem::show() {
    if (std::exchange(shown_, true))
        return;
    bus_.registerObject(kItemPath, this, kExported);
    bus_.registerObject(kMenuPath, &menuExporter_, kExported);
    // Without the conventional name (taken, or a bus that refuses it) the
    // watcher still finds the item under the connection's own name.
    serviceName_ = u"org.kde.StatusNotifierItem-%1-1"_s.arg(QCoreApplication::applicationPid());
    if (!bus_.registerService(serviceName_))
        serviceName_ = bus_.baseService();
    watcher_ =
        new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty())
                    return;
                retries_ = 0;
                registerWithWatcher();
            });
    registerWithWatcher();
}

void StatusNotifierItem::registerWithWatcher() {
    retryTimer_.stop();
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, u"/StatusNotifierWatcher"_s,
                                                       kWatcher, u"RegisterStatusNotifierItem"_s);
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (!finished->isError())
                    retries_ = 0;
                else if (++retries_ < timing_.retryLimit)
                    retryTimer_.start();
            });
}

void StatusNotifierItem::popUpMenu(int x, int y) {
    // Only X11 lets a program place a popup; elsewhere the host opens the
    // exported menu itself, since the item says it is a menu.
    if (!menu_ || QGuiApplication::platformName() != u"xcb")
        return;
    // Hosts send physical pixels. Qt keeps each screen's top-left corner the
    // same in both coordinate systems and scales from there.
    const QPoint native(x, y);
    QPoint logical = native;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        if (QRect(geometry.topLeft(), geometry.size() * ratio).contains(native)) {
            logical = geometry.topLeft() + (native - geometry.topLeft()) / ratio;
            break;
        }
    }
    menu_->popup(logical);
}

void StatusNotifierItem::Activate(int x, int y) {
    popUpMenu(x, y);
}

void StatusNotifierItem::ContextMenu(int x, int y) {
    popUpMenu(x, y);
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}
