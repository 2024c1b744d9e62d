#include "TrayBusClient.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QDateTime>

namespace e2e {

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

std::optional<QVariant> property(const QDBusConnection& bus, const QString& service,
                                 const QString& path, const QString& interface,
                                 const QString& name) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("Get"));
    call << interface << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
}

// One (ia{sv}av) layout node; only the top level is kept.
MenuRow readRow(const QDBusArgument& argument) {
    MenuRow row;
    QVariantMap properties;
    argument.beginStructure();
    argument >> row.id >> properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
    }
    argument.endArray();
    argument.endStructure();
    row.separator = properties.value(QStringLiteral("type")).toString() == u"separator";
    row.label = properties.value(QStringLiteral("label")).toString();
    row.enabled = properties.value(QStringLiteral("enabled"), true).toBool();
    row.visible = properties.value(QStringLiteral("visible"), true).toBool();
    if (properties.contains(QStringLiteral("toggle-type")))
        row.toggleState = properties.value(QStringLiteral("toggle-state"), 0).toInt();
    return row;
}

} // namespace

bool TrayBusClient::isHostRegistered() const {
    const auto value = property(bus_, kWatcher, kWatcherPath, kWatcher,
                                QStringLiteral("IsStatusNotifierHostRegistered"));
    return value && value->toBool();
}

std::optional<TrayItem> TrayBusClient::findItem(qint64 pid) const {
    const auto items = property(bus_, kWatcher, kWatcherPath, kWatcher,
                                QStringLiteral("RegisteredStatusNotifierItems"));
    if (!items)
        return std::nullopt;
    for (const QString& entry : items->toStringList()) {
        // Watchers list "service", "service/path" or ":unique/path".
        TrayItem item;
        const qsizetype slash = entry.indexOf(u'/');
        item.service = slash < 0 ? entry : entry.left(slash);
        item.path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : entry.mid(slash);
        const auto owner = bus_.interface()->servicePid(item.service);
        if (!owner.isValid() || owner.value() != pid)
            continue;
        const auto menu =
            property(bus_, item.service, item.path, kItemInterface, QStringLiteral("Menu"));
        if (!menu)
            return std::nullopt;
        item.menuPath = qvariant_cast<QDBusObjectPath>(*menu).path();
        return item;
    }
    return std::nullopt;
}

QList<MenuRow> TrayBusClient::menu(const TrayItem& item) const {
    QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.menuPath, kMenuInterface,
                                                       QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = bus_.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return {};
    const QDBusArgument root = qvariant_cast<QDBusArgument>(reply.arguments().at(1));
    QList<MenuRow> rows;
    int rootId = 0;
    QVariantMap rootProperties;
    root.beginStructure();
    root >> rootId >> rootProperties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        rows << readRow(qvariant_cast<QDBusArgument>(child.variant()));
    }
    root.endArray();
    root.endStructure();
    return rows;
}

int TrayBusClient::rowId(const TrayItem& item, const QString& label) const {
    for (const MenuRow& row : menu(item)) {
        if (row.label == label)
            return row.id;
    }
    return 0;
}

bool TrayBusClient::click(const TrayItem& item, int id) const {
    QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.menuPath, kMenuInterface,
                                                       QStringLiteral("Event"));
    call << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0))
         << static_cast<uint>(QDateTime::currentSecsSinceEpoch());
    return bus_.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

bool TrayBusClient::aboutToShow(const TrayItem& item) const {
    QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.menuPath, kMenuInterface,
                                                       QStringLiteral("AboutToShow"));
    call << 0;
    return bus_.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

Tint TrayBusClient::iconTint(const TrayItem& item) const {
    const auto value =
        property(bus_, item.service, item.path, kItemInterface, QStringLiteral("IconPixmap"));
    if (!value)
        return Tint::none;
    // a(iiay): width, height, ARGB32 in network byte order.
    const QDBusArgument pixmaps = qvariant_cast<QDBusArgument>(*value);
    QImage largest;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> bytes;
        pixmaps.endStructure();
        if (width <= largest.width() || bytes.size() != qsizetype(width) * height * 4)
            continue;
        QImage image(width, height, QImage::Format_ARGB32);
        const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uchar* p = data + (qsizetype(y) * width + x) * 4;
                image.setPixel(x, y, qRgba(p[1], p[2], p[3], p[0]));
            }
        }
        largest = image;
    }
    pixmaps.endArray();
    return largest.isNull() ? Tint::none : dominantTint(largest);
}

MenuRecorder::MenuRecorder(QDBusConnection bus, const TrayItem& item) {
    bus.connect(item.service, item.menuPath, kMenuInterface,
                QStringLiteral("ItemsPropertiesUpdated"), this,
                SLOT(itemsPropertiesUpdated(QDBusMessage)));
    bus.connect(item.service, item.path, kItemInterface, QStringLiteral("NewIcon"), this,
                SLOT(newIcon()));
}

QStringList MenuRecorder::labelsOf(int id) const {
    QStringList labels;
    for (const auto& [rowId, label] : labels_) {
        if (rowId == id)
            labels << label;
    }
    return labels;
}

void MenuRecorder::itemsPropertiesUpdated(const QDBusMessage& message) {
    if (message.arguments().isEmpty())
        return;
    // a(ia{sv}): the rows that changed, with their new properties.
    const QDBusArgument updated = qvariant_cast<QDBusArgument>(message.arguments().constFirst());
    updated.beginArray();
    while (!updated.atEnd()) {
        int id = 0;
        QVariantMap properties;
        updated.beginStructure();
        updated >> id >> properties;
        updated.endStructure();
        if (properties.contains(QStringLiteral("label")))
            labels_.append({id, properties.value(QStringLiteral("label")).toString()});
    }
    updated.endArray();
}

void MenuRecorder::newIcon() {
    ++newIcons_;
}

} // namespace e2e
