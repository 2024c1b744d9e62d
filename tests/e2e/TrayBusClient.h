// What a StatusNotifierItem tray host sees of the controller: the item the
// watcher lists for a process, its icon, and its exported menu read and
// clicked through com.canonical.dbusmenu.
//
// Test thread only; every call is a blocking D-Bus call on `bus`.
#pragma once

#include "DesktopHarness.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace e2e {

struct TrayItem {
    QString service;
    QString path;
    QString menuPath;
};

struct MenuRow {
    int id = 0;
    bool separator = false;
    QString label;
    bool enabled = true;
    bool visible = true;
    int toggleState = -1; // -1: not a checkable item
};

class TrayBusClient {
public:
    explicit TrayBusClient(QDBusConnection bus) : bus_(std::move(bus)) {}

    bool isHostRegistered() const;
    // The item the watcher lists for process `pid`, once it has registered.
    std::optional<TrayItem> findItem(qint64 pid) const;

    // The top-level rows of the item's menu, in order; empty when the call fails.
    QList<MenuRow> menu(const TrayItem& item) const;
    // The id of the row titled `label`, or 0.
    int rowId(const TrayItem& item, const QString& label) const;
    // What a host sends when the user picks a row, and when it opens the menu.
    bool click(const TrayItem& item, int id) const;
    bool aboutToShow(const TrayItem& item) const;

    // The tint of the largest icon pixmap the item offers.
    Tint iconTint(const TrayItem& item) const;

    QDBusConnection& bus() { return bus_; }

private:
    QDBusConnection bus_;
};

// Records what the menu announces about its rows as it changes, the way a
// host keeps its copy current, and how often the item says its icon changed.
class MenuRecorder : public QObject {
    Q_OBJECT
public:
    MenuRecorder(QDBusConnection bus, const TrayItem& item);

    // Every label the row `id` was given, in order.
    QStringList labelsOf(int id) const;
    int newIconCount() const { return newIcons_; }

private Q_SLOTS:
    void itemsPropertiesUpdated(const QDBusMessage& message);
    void newIcon();

private:
    QList<QPair<int, QString>> labels_;
    int newIcons_ = 0;
};

} // namespace e2e
