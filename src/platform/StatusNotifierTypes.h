// StatusNotifierTypes: the D-Bus structures of the StatusNotifierItem and
// com.canonical.dbusmenu protocols, with their marshalling.
//
// Any thread; plain values. `registerStatusNotifierTypes` must run once before
// an object that uses them is put on a bus (it is idempotent).
#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// One size of an icon: ARGB32 pixels in network byte order, row by row.
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using IconPixmapList = QList<IconPixmap>;

// (sa(iiay)ss): icon name, icon pixmaps, title, body.
struct ToolTip {
    QString iconName;
    IconPixmapList icon;
    QString title;
    QString body;
};

// (ia{sv}av): a menu row, its properties and its children, each child a
// variant holding the same structure.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

// (ia{sv}): the properties of one row.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

// (ias): the names of properties a row no longer has.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// (isvu): one event of EventGroup.
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& value);
const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap& value);
QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& value);
const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip& value);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& value);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& value);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& value);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& value);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& value);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& value);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& value);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& value);

void registerStatusNotifierTypes();

Q_DECLARE_METATYPE(IconPixmap)
Q_DECLARE_METATYPE(ToolTip)
Q_DECLARE_METATYPE(DBusMenuLayoutItem)
Q_DECLARE_METATYPE(DBusMenuItem)
Q_DECLARE_METATYPE(DBusMenuItemKeys)
Q_DECLARE_METATYPE(DBusMenuEvent)
